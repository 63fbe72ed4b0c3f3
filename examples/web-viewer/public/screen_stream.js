// Which of the bridge's streams the device picture shows. By default the remote stream,
// sized by the bridge to the picture's pixels on screen (its canvas) at the frame rate
// and bitrate asked for, so that the page decodes and draws no more pixels than it
// shows; the page starts it once capture runs and retunes it when the window changes
// size. With "full resolution", the local stream at its own size; the remote stream is
// then stopped, to spare the bridge its encoding.
export class ScreenStream {
  #device = null; // {width, height} of the device's display (0 when not known yet)
  #shown = null; // the stream the view is connected to: 'local', 'remote' or null
  #maxDim = 0; // the size limit the remote stream was started or retuned with
  #asking = false; // a start or stop of the remote stream is unanswered

  fullResolution = false;

  // view: the StreamView of the device picture. command(request) sends a bridge command
  // and resolves with its response (failures shown by the caller). settings() gives the
  // remote stream's {bitrate, fps}. refresh() calls update() again, with what the page
  // shows of fullResolution, once the remote stream failed and the local one is to show.
  constructor({ view, command, settings, refresh }) {
    this.view = view;
    this.command = command;
    this.settings = settings;
    this.refresh = refresh;
  }

  get shown() {
    return this.#shown;
  }

  // Follows the server's state; `waiting` is the note shown while the chosen stream
  // does not run. device: the display's {width, height}.
  update(state, device, waiting) {
    this.#device = device;
    const running = state.bridge.running;
    if (!this.#asking && !this.fullResolution && running && state.local && !state.remote) this.#ask({ cmd: 'start_remote_stream', ...this.#params() });
    if (!this.#asking && this.fullResolution && running && state.remote) this.#ask({ cmd: 'stop_remote_stream' });

    const kind = this.fullResolution ? 'local' : 'remote';
    this.view.fullSize = this.fullResolution;
    if (running && state[kind]) {
      if (this.#shown === kind && this.view.running) return;
      this.#shown = kind;
      this.view.path = `/stream/${kind}`;
      this.view.start();
    } else {
      this.#shown = null;
      this.view.stop(running && state.local && !this.fullResolution ? 'Starting the remote stream…' : waiting);
    }
  }

  // Retunes the remote stream's bitrate and frame rate, and its size to the picture's.
  apply() {
    if (this.#shown === 'remote') this.#retune();
  }

  // The window changed size: the remote stream follows the picture's new size.
  resized() {
    if (this.#shown === 'remote' && this.#sizeLimit() !== this.#maxDim) this.#retune();
  }

  #retune() {
    this.command({ cmd: 'set_stream_params', ...this.#params() });
  }

  // One start or stop at a time; the state the server pushes after it decides what next.
  async #ask(request) {
    this.#asking = true;
    const response = await this.command(request);
    this.#asking = false;
    // A remote stream the bridge cannot run leaves the local one to show.
    if (!response.ok && request.cmd === 'start_remote_stream') {
      this.fullResolution = true;
      this.refresh();
    }
  }

  #params() {
    const { bitrate, fps } = this.settings();
    this.#maxDim = this.#sizeLimit();
    return { bitrate, maxDim: this.#maxDim, fps };
  }

  // The longer side of the canvas for the device's pictures; before the display's size is
  // known, the longer side of the space the picture may take.
  #sizeLimit() {
    const { width, height } = this.#device ?? {};
    if (width && height) {
      const fitted = this.view.layout(width, height, false);
      return Math.max(fitted.width, fitted.height);
    }
    const box = this.view.maxSize();
    return Math.round(Math.max(box.width, box.height) * devicePixelRatio);
  }
}
