// The web viewer's server: starts corvane-sim-bridge, serves the page and relays the
// page's commands and the bridge's streams. Listens on 127.0.0.1 only.
//
//   node server.js [--port N] [--bridge PATH] [--device UDID]
import http from 'node:http';
import { fileURLToPath } from 'node:url';
import { parseArgs } from 'node:util';
import { WebSocketServer } from 'ws';
import { handleControl } from './lib/control.js';
import { listDevices } from './lib/devices.js';
import { relayStream } from './lib/relay.js';
import { Session } from './lib/session.js';
import { staticFiles } from './lib/static_files.js';
import { kCloseNoStream, kCloseStreamEnded } from './public/stream_close_codes.js';

export const defaultBridgePath = fileURLToPath(new URL('../../build/bridge/corvane-sim-bridge', import.meta.url));
const publicDir = fileURLToPath(new URL('./public', import.meta.url));

// Starts the bridge and the server. Resolves with {url, session, close()} once the
// server listens; close() ends the bridge and the server.
export async function startViewer({ port = 0, bridgePath = defaultBridgePath, responseTimeoutMs, quiet = false } = {}) {
  const session = new Session({ bridgePath, responseTimeoutMs, quiet });
  const serveFile = staticFiles(publicDir);

  // Only pages of this server may talk to it: other sites open in the same browser
  // could otherwise reach a loopback address (and WebSockets carry no CORS checks), and
  // a foreign host name pointed at 127.0.0.1 is refused as well.
  let hosts = new Set();
  const trusted = (request) => {
    const host = request.headers.host ?? '';
    const from = request.headers.origin;
    return hosts.has(host) && (from === undefined || from === `http://${host}`);
  };

  const server = http.createServer(async (request, response) => {
    if (!trusted(request)) {
      response.writeHead(403).end('forbidden');
      return;
    }
    const pathname = pathOf(request.url);
    if (pathname === '/api/devices') {
      try {
        const devices = await listDevices();
        response.writeHead(200, { 'Content-Type': 'application/json' });
        response.end(JSON.stringify({ platform: process.platform, devices }));
      } catch (error) {
        response.writeHead(500, { 'Content-Type': 'application/json' });
        response.end(JSON.stringify({ error: `cannot list devices: ${error.message}` }));
      }
      return;
    }
    await serveFile(request, response, pathname);
  });

  const sockets = new WebSocketServer({ noServer: true });
  const relays = { local: new Set(), remote: new Set() };
  session.on('streams', (kind) => {
    for (const relay of relays[kind]) relay.close(kCloseStreamEnded, 'stream moved');
  });
  server.on('upgrade', (request, socket, head) => {
    const pathname = pathOf(request.url);
    const kind = { '/stream/local': 'local', '/stream/remote': 'remote' }[pathname];
    if (!trusted(request) || (pathname !== '/control' && !kind)) {
      socket.end('HTTP/1.1 403 Forbidden\r\n\r\n');
      return;
    }
    sockets.handleUpgrade(request, socket, head, (ws) => {
      if (!kind) {
        handleControl(ws, session);
        return;
      }
      const port = kind === 'local' ? session.localPort : session.remotePort;
      if (port === null) {
        ws.close(kCloseNoStream, `no ${kind} stream`);
        return;
      }
      const relay = relayStream(ws, port);
      relays[kind].add(relay);
      ws.on('close', () => relays[kind].delete(relay));
    });
  });

  await new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, '127.0.0.1', resolve);
  });
  const listening = server.address().port;
  hosts = new Set([`127.0.0.1:${listening}`, `localhost:${listening}`]);
  session.start();

  return {
    url: `http://127.0.0.1:${listening}/`,
    session,
    async close() {
      for (const ws of sockets.clients) ws.terminate();
      await session.stop();
      await new Promise((resolve) => server.close(resolve));
    },
  };
}

function pathOf(url) {
  try {
    return new URL(url, 'http://viewer').pathname;
  } catch {
    return '/';
  }
}

async function main() {
  const { values } = parseArgs({
    options: {
      port: { type: 'string', default: '8421' },
      bridge: { type: 'string', default: defaultBridgePath },
      device: { type: 'string' },
    },
  });
  let viewer;
  try {
    viewer = await startViewer({ port: Number(values.port), bridgePath: values.bridge });
  } catch (error) {
    const hint = error.code === 'EADDRINUSE' ? ' (choose another with --port N, or --port 0 for any)' : '';
    console.error(`web-viewer: cannot listen on 127.0.0.1:${values.port}: ${error.message}${hint}`);
    process.exit(1);
  }
  if (values.device) {
    const response = await viewer.session.open(values.device);
    if (!response.ok) console.error(`web-viewer: cannot open ${values.device}: ${response.error}`);
  }
  console.log(`Web viewer: ${viewer.url}`);
  const stop = async () => {
    await viewer.close();
    process.exit(0);
  };
  process.on('SIGINT', stop);
  process.on('SIGTERM', stop);
}

if (process.argv[1] === fileURLToPath(import.meta.url)) await main();
