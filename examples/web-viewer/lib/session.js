// The viewer's one session with a bridge: which device is captured, the ports of the
// local and remote streams, and the bridge's life (running, exited, restarted). The
// page drives it through the control socket; the stream relays ask it for ports.
import { EventEmitter } from 'node:events';
import { BridgeClient } from './bridge_client.js';

// Commands the page may send as they are; capture is started through open().
const kPageCommands = new Set([
  'display_info',
  'refresh_display',
  'touch',
  'keyboard',
  'button',
  'hw_button',
  'start_remote_stream',
  'set_stream_params',
  'stop_remote_stream',
]);

// Events: 'change' (state) whenever state() would answer differently; 'streams'
// (kind: 'local' or 'remote') when the stream of that kind moved to a new port or
// ended, so that its relays start over.
export class Session extends EventEmitter {
  #bridge = null;
  #exit = null; // {code, signal, message} of the last bridge, while none runs
  #udid = null; // device opened last, reopened after a restart
  #localPort = null; // null while no local stream runs
  #remotePort = null; // null while no remote stream runs
  #quiet;

  constructor({ bridgePath, responseTimeoutMs, quiet = false }) {
    super();
    this.bridgePath = bridgePath;
    this.responseTimeoutMs = responseTimeoutMs;
    this.#quiet = quiet;
  }

  start() {
    const bridge = new BridgeClient({ path: this.bridgePath, responseTimeoutMs: this.responseTimeoutMs });
    this.#bridge = bridge;
    this.#exit = null;
    bridge.on('log', (line) => {
      if (!this.#quiet) process.stderr.write(`[bridge] ${line}\n`);
      this.#changed(); // the page shows the log's last lines
    });
    bridge.on('exit', (exit) => {
      if (this.#bridge !== bridge) return;
      this.#exit = exit;
      this.#forgetStreams();
      this.#changed();
    });
    bridge.start();
    this.#changed();
  }

  // Ends the running bridge (if any), starts a new one and opens the device that was
  // open before. Resolves with the response of that open, or null.
  async restart() {
    const old = this.#bridge;
    this.#bridge = null;
    this.#forgetStreams();
    await old?.stop();
    this.start();
    return this.#udid ? this.open(this.#udid) : null;
  }

  async stop() {
    const bridge = this.#bridge;
    this.#bridge = null;
    await bridge?.stop();
  }

  get bridgePid() {
    return this.#bridge?.pid;
  }

  get localPort() {
    return this.#localPort;
  }

  get remotePort() {
    return this.#remotePort;
  }

  // Starts capture of a device. Resolves with the bridge's response.
  async open(udid) {
    this.#udid = udid;
    const response = await this.#request({ cmd: 'start_capture', udid });
    // A failed start leaves the earlier capture stopped; either way the local stream
    // now starts over, and the remote stream's encoder is off until the next
    // start_remote_stream (its server stays).
    this.#localPort = response.ok ? response.port : null;
    this.#remotePort = null;
    this.emit('streams', 'local');
    this.emit('streams', 'remote');
    this.#changed();
    return response;
  }

  // Passes one page command to the bridge. Resolves with the bridge's response.
  async command(request) {
    if (typeof request?.cmd !== 'string' || !kPageCommands.has(request.cmd)) {
      return { ok: false, error: `the viewer does not send '${String(request?.cmd)}'` };
    }
    const response = await this.#request(request);
    if (response.ok && request.cmd === 'start_remote_stream') {
      this.#remotePort = response.port;
      this.#changed();
    } else if (response.ok && request.cmd === 'stop_remote_stream') {
      this.#remotePort = null;
      this.emit('streams', 'remote');
      this.#changed();
    }
    return response;
  }

  state() {
    const bridge = this.#bridge;
    return {
      bridge: {
        running: Boolean(bridge?.running),
        exit: this.#exit,
        log: bridge ? bridge.log.slice(-12) : [],
      },
      udid: this.#udid,
      local: this.#localPort !== null,
      remote: this.#remotePort !== null,
    };
  }

  // Bridge failures (gone, not answering) become failure responses like the bridge's.
  async #request(request) {
    if (!this.#bridge) return { ok: false, error: 'the bridge is restarting' };
    try {
      return await this.#bridge.request(request);
    } catch (error) {
      return { ok: false, error: error.message };
    }
  }

  // The streams of a bridge that is gone: their ports mean nothing any more.
  #forgetStreams() {
    this.#localPort = null;
    this.#remotePort = null;
    this.emit('streams', 'local');
    this.emit('streams', 'remote');
  }

  #changed() {
    this.emit('change', this.state());
  }
}
