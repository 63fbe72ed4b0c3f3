// Relays one stream server of the bridge to one page WebSocket, one binary message per
// whole access unit, starting at a keyframe. Each WebSocket gets its own TCP
// connection, and the bridge sends a keyframe to every new connection: a page that
// lost its picture asks for a keyframe by connecting again.
//
// Drop rule: units are never dropped one by one (the next ones could not be decoded).
// A page that falls more than kMaxBuffered bytes behind is disconnected with
// kCloseTooSlow and starts over from a keyframe when it reconnects.
import net from 'node:net';
import { isKeyframe } from '../public/h264.js';
import { kCloseResync, kCloseStreamEnded, kCloseTooSlow } from '../public/stream_close_codes.js';
import { AccessUnitSplitter } from './access_units.js';

const kMaxBuffered = 8 * 1024 * 1024;
// A unit is complete when the next one begins; when nothing more arrives for this long,
// it is handed out as it is (the stream paused, or runs at a low frame rate).
const kIdleFlushMs = 50;

export function relayStream(ws, port) {
  const splitter = new AccessUnitSplitter();
  const socket = net.connect({ host: '127.0.0.1', port });
  socket.setNoDelay(true);
  let started = false; // a keyframe has been sent
  let flushed = false; // the last unit went out by the idle flush
  let idle = null;

  const close = (code, reason) => {
    clearTimeout(idle);
    socket.destroy();
    if (ws.readyState === ws.OPEN || ws.readyState === ws.CONNECTING) ws.close(code, reason);
  };
  const send = (unit) => {
    if (!started && !isKeyframe(unit)) return;
    started = true;
    if (ws.bufferedAmount > kMaxBuffered) {
      close(kCloseTooSlow, 'page too slow; reconnect for a keyframe');
      return;
    }
    ws.send(unit, { binary: true });
  };

  socket.on('data', (chunk) => {
    clearTimeout(idle);
    // After an idle flush the next bytes must open a new unit; if they continue the
    // flushed one, it went out cut short and the page needs a keyframe.
    if (flushed && !(chunk.length >= 3 && chunk[0] === 0 && chunk[1] === 0 && (chunk[2] === 1 || chunk[2] === 0))) {
      close(kCloseResync, 'stream framing lost; reconnect for a keyframe');
      return;
    }
    flushed = false;
    for (const unit of splitter.push(chunk)) send(unit);
    if (splitter.pending) {
      idle = setTimeout(() => {
        const unit = splitter.flush();
        if (unit) {
          flushed = true;
          send(unit);
        }
      }, kIdleFlushMs);
    }
  });
  socket.on('error', () => close(kCloseStreamEnded, 'stream connection failed'));
  socket.on('close', () => close(kCloseStreamEnded, 'stream ended'));
  ws.on('close', () => {
    clearTimeout(idle);
    socket.destroy();
  });
  ws.on('error', () => socket.destroy());
  return { close };
}
