// Relays one stream server of the bridge to one page WebSocket: one binary message per
// whole access unit (public/stream_messages.js), starting at a keyframe. Each WebSocket
// gets its own TCP connection, and the bridge starts every new connection with a
// keyframe: the relay asks for one by connecting again.
//
// A unit leaves as soon as it is whole: when the next one begins, or when its bytes have
// stopped coming for a moment (kQuietMs). The bridge writes each unit at once, so its
// bytes arrive together; waiting for the next unit instead would hold every picture for
// a frame interval. Should more bytes of a unit come after it left (it went out cut
// short: the bridge's writing thread was held up mid-unit on a busy machine), the relay
// skips to the next keyframe and waits twice as long from then on, up to kMaxQuietMs.
//
// Drop rule: at most kMaxUnitsAtPage units are at the page at a time (sent, and not yet
// reported done: decoded or dropped). A unit that would exceed that is dropped, and so
// is every unit after it up to the next keyframe (they cannot be decoded without it),
// for which the relay asks at once. The page asks for a keyframe itself when it cannot
// go on. So no backlog builds up between the bridge and the page's decoder, in the
// sockets or in the browser: a page that falls behind skips ahead to a fresh picture.
import net from 'node:net';
import { NAL_IDR, isVcl, nalUnits, startsPicture } from '../public/h264.js';
import { kCloseStreamEnded } from '../public/stream_close_codes.js';
import { packUnit, wallClockMs } from '../public/stream_messages.js';
import { AccessUnitSplitter } from './access_units.js';

const kQuietMs = 1;
const kMaxQuietMs = 16;
const kMaxUnitsAtPage = 4;
// Keyframes are large and slow to encode: for a page that stays behind the relay asks
// for one at most this often, and otherwise waits for the stream's own (one a second).
const kKeyframeGapMs = 500;

export function relayStream(ws, port) {
  let socket = null;
  let splitter = null;
  let started = false; // a keyframe has been sent since the last skip
  let flushed = false; // the last unit left by the quiet rule
  let quiet = null;
  let firstBytesAt = null; // when the bytes of the unit in progress began to arrive
  let quietMs = kQuietMs;
  let sent = 0; // number of the last unit sent
  let done = 0; // the page has decoded or dropped every unit up to this number
  let lastAsk = -Infinity;
  let askTimer = null;
  const counts = { sent: 0, skips: 0, keyframeAsks: 0, cut: 0 };

  const close = (code, reason) => {
    clearTimeout(quiet);
    clearTimeout(askTimer);
    socket?.destroy();
    if (ws.readyState === ws.OPEN || ws.readyState === ws.CONNECTING) ws.close(code, reason);
  };

  // A fresh connection brings a keyframe: connecting is how the relay asks for one.
  const connect = () => {
    lastAsk = performance.now();
    if (socket) {
      socket.removeAllListeners();
      socket.on('error', () => {});
      socket.destroy();
    }
    clearTimeout(quiet);
    splitter = new AccessUnitSplitter();
    flushed = false;
    firstBytesAt = null;
    socket = net.connect({ host: '127.0.0.1', port });
    socket.on('data', receive);
    socket.on('error', () => close(kCloseStreamEnded, 'stream connection failed'));
    socket.on('close', () => close(kCloseStreamEnded, 'stream ended'));
  };

  const roomAtPage = () => sent - done < kMaxUnitsAtPage;

  // Asks for a keyframe once there is room for it at the page (one asked for while the
  // page is still full would be dropped as well).
  const askForKeyframe = () => {
    if (askTimer !== null || !roomAtPage()) return;
    askTimer = setTimeout(() => {
      askTimer = null;
      counts.keyframeAsks++;
      connect();
    }, Math.max(0, lastAsk + kKeyframeGapMs - performance.now()));
  };

  const cutShort = () => {
    counts.cut++;
    quietMs = Math.min(2 * quietMs, kMaxQuietMs);
    skipToKeyframe();
  };

  const skipToKeyframe = () => {
    if (started) counts.skips++;
    started = false;
    askForKeyframe();
  };

  const send = (unit, arrivedAt) => {
    const nals = nalUnits(unit);
    const keyframe = nals.some((nal) => nal.type === NAL_IDR);
    const firstSlice = nals.find((nal) => isVcl(nal.type));
    if (!firstSlice || !startsPicture(unit, firstSlice.offset)) {
      cutShort(); // the rest of a picture
      return;
    }
    if (!roomAtPage()) {
      skipToKeyframe();
      return;
    }
    if (!started && !keyframe) {
      askForKeyframe();
      return;
    }
    started = true;
    clearTimeout(askTimer);
    askTimer = null;
    sent++;
    counts.sent++;
    ws.send(packUnit(unit, { seq: sent, keyframe, arrivedAt, sentAt: wallClockMs() }), { binary: true });
  };

  function receive(chunk) {
    const now = wallClockMs();
    clearTimeout(quiet);
    // After a unit left by the quiet rule the next bytes must open a new unit; if they
    // continue it, it went out cut short.
    if (flushed && !(chunk.length >= 3 && chunk[0] === 0 && chunk[1] === 0 && (chunk[2] === 1 || chunk[2] === 0))) cutShort();
    flushed = false;
    firstBytesAt ??= now;
    for (const unit of splitter.push(chunk)) {
      send(unit, firstBytesAt);
      firstBytesAt = now; // the next unit began in this chunk
    }
    if (!splitter.pending) return;
    quiet = setTimeout(() => {
      const unit = splitter.flush();
      if (!unit) return;
      flushed = true;
      send(unit, firstBytesAt);
      firstBytesAt = null;
    }, quietMs);
  }

  ws.on('message', (data, isBinary) => {
    let message = null;
    try {
      message = isBinary ? null : JSON.parse(data.toString());
    } catch {}
    if (Number.isInteger(message?.done)) {
      done = Math.max(done, Math.min(message.done, sent));
      if (!started) askForKeyframe();
    }
    if (message?.keyframe === true) skipToKeyframe();
  });
  ws.on('close', () => {
    clearTimeout(quiet);
    clearTimeout(askTimer);
    socket.destroy();
  });
  ws.on('error', () => socket.destroy());
  connect();
  return { close, counts };
}
