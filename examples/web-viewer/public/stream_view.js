// One live view: a WebSocket of whole access units from the server
// (stream_messages.js), decoded with WebCodecs and drawn into a canvas sized to the
// pictures. It starts at a keyframe, tells the server which units it is done with (the
// server sends only a few ahead, and skips to a fresh keyframe when the page falls
// behind: see lib/relay.js), asks for a keyframe when its decoder fails, reconnects when
// the socket drops (a new connection brings a keyframe), keeps the last picture on
// screen with a note over it while it has none, and counts frames per second.
import { codecString, nalUnits, NAL_SPS } from './h264.js';
import { kCloseNoStream } from './stream_close_codes.js';
import { unpackUnit } from './stream_messages.js';

const kFirstRetryMs = 200; // after a drop, doubled on each further failure
const kMaxRetryMs = 2000;
const kStallMs = 2000; // no picture for this long while connected shows a note

export class StreamView {
  #ws = null;
  #decoder = null;
  #parameterSets = null; // the SPS the decoder is configured for, as text
  #needKeyframe = true; // units are dropped until a keyframe comes
  #lastSeq = 0; // number of the last unit received on this socket
  #units = new Map(); // unit number -> stamps, for the units the decoder holds
  #running = false;
  #retryMs = kFirstRetryMs;
  #retryTimer = null;
  #connectedAt = 0;
  #lastFrameAt = 0;
  #frameTimes = []; // output times within the last second
  #latest = null; // {frame, unit}: the newest decoded picture not yet drawn; older ones are dropped
  #picture = { width: 0, height: 0 }; // size of the pictures shown (or of the placeholder)

  framesDecoded = 0;
  fullSize = false; // the canvas takes the pictures' own size (see layout)
  // Since the page opened: units received, pictures decoded and drawn, pictures
  // replaced by a newer one before they were drawn, keyframes asked for, the most units
  // the decoder held at once, and the longest time from a unit's arrival at the server
  // to its picture in the canvas.
  stats = { received: 0, decoded: 0, drawn: 0, replaced: 0, keyframeAsks: 0, maxDecodeQueue: 0, maxLagMs: 0 };

  // canvas and note are elements; path the WebSocket path ('/stream/local'; a new one
  // takes effect at the next start()); maxSize() the largest box, in CSS pixels, the
  // picture may take on the page; onFps(fps) about every frame; onDrawn(picture, width,
  // height, unit) after each picture drawn, with its unit's stamps: {unitAtServer,
  // unitSent} (wall clock), {unitAtPage, decoded, drawStart, drawn} (page clock).
  constructor({ canvas, note, path, maxSize, onFps = () => {}, onDrawn = () => {} }) {
    this.canvas = canvas;
    this.maxSize = maxSize;
    this.note = note;
    this.path = path;
    this.onFps = onFps;
    this.onDrawn = onDrawn;
    this.context = canvas.getContext('2d');
    setInterval(() => this.#watch(), 500);
    addEventListener('resize', () => this.#fit(this.#picture.width, this.#picture.height, true));
  }

  get running() {
    return this.#running;
  }

  get fps() {
    return this.#frameTimes.length;
  }

  // Shows a blank picture of the given size (the device's), unless a picture was shown
  // already and `replace` is false.
  setPlaceholder(width, height, replace = false) {
    if (!width || !height || (this.framesDecoded > 0 && !replace)) return;
    this.framesDecoded = 0;
    this.#fit(width, height);
    this.context.fillStyle = '#111';
    this.context.fillRect(0, 0, this.canvas.width, this.canvas.height);
  }

  // Connects (again, when connected: a fresh connection starts from a keyframe).
  start() {
    this.#running = true;
    this.#retryMs = kFirstRetryMs;
    this.#connect();
  }

  // Disconnects and keeps the last picture under `message`.
  stop(message) {
    this.#running = false;
    clearTimeout(this.#retryTimer);
    this.#close();
    this.#setNote(message);
  }

  // The size of the pictures shown, in their own pixels.
  get pictureSize() {
    return { ...this.#picture };
  }

  #connect() {
    clearTimeout(this.#retryTimer);
    this.#close();
    this.#setNote('Connecting…');
    const ws = new WebSocket(`ws://${location.host}${this.path}`);
    ws.binaryType = 'arraybuffer';
    this.#ws = ws;
    ws.onopen = () => {
      this.#connectedAt = performance.now();
      this.#setNote('Waiting for a keyframe…');
    };
    ws.onmessage = (event) => this.#unit(event.data);
    ws.onclose = (event) => {
      if (this.#ws !== ws) return;
      this.#close();
      if (!this.#running) return;
      this.#setNote(event.code === kCloseNoStream ? 'Waiting for the stream…' : `Stream interrupted (${event.reason || event.code}); reconnecting…`);
      this.#retryLater();
    };
  }

  #retryLater() {
    clearTimeout(this.#retryTimer);
    this.#retryTimer = setTimeout(() => this.#connect(), this.#retryMs);
    this.#retryMs = Math.min(this.#retryMs * 2, kMaxRetryMs);
  }

  #close() {
    const ws = this.#ws;
    this.#ws = null;
    if (ws && ws.readyState <= WebSocket.OPEN) ws.close();
    this.#resetDecoder();
    this.#lastSeq = 0;
  }

  #resetDecoder() {
    if (this.#decoder && this.#decoder.state !== 'closed') this.#decoder.close();
    this.#decoder = null;
    this.#parameterSets = null;
    this.#needKeyframe = true;
    this.#units.clear();
    this.#latest?.frame.close();
    this.#latest = null;
  }

  #send(message) {
    if (this.#ws?.readyState === WebSocket.OPEN) this.#ws.send(JSON.stringify(message));
  }

  // Drops what the decoder holds and goes on from the next keyframe, asking for one.
  #restartDecoding(reason) {
    this.#resetDecoder();
    this.#send({ done: this.#lastSeq });
    this.#send({ keyframe: true });
    this.stats.keyframeAsks++;
    this.#setNote(`${reason}; waiting for a keyframe…`);
  }

  #unit(data) {
    const unit = unpackUnit(data);
    if (!unit) return;
    const arrived = performance.now();
    this.stats.received++;
    this.#lastSeq = unit.seq;
    if (unit.keyframe) {
      const sps = nalUnits(unit.bytes).find((nal) => nal.type === NAL_SPS);
      const sets = sps ? Array.from(unit.bytes.subarray(sps.offset, sps.end)).join(',') : null;
      if (sets !== null && sets !== this.#parameterSets) this.#configure(codecString(unit.bytes), sets);
      this.#needKeyframe = false;
    }
    const decoder = this.#decoder;
    if (this.#needKeyframe || !decoder || decoder.state !== 'configured') {
      this.#send({ done: unit.seq });
      return;
    }
    this.#units.set(unit.seq, { unitAtServer: unit.arrivedAt, unitSent: unit.sentAt, unitAtPage: arrived, decoded: null, drawn: null });
    decoder.decode(new EncodedVideoChunk({ type: unit.keyframe ? 'key' : 'delta', timestamp: unit.seq, data: unit.bytes }));
    this.stats.maxDecodeQueue = Math.max(this.stats.maxDecodeQueue, decoder.decodeQueueSize);
  }

  #configure(codec, sets) {
    if (!this.#decoder) {
      const decoder = new VideoDecoder({
        output: (frame) => this.#decoded(frame),
        error: (error) => {
          if (this.#decoder === decoder) this.#restartDecoding(`Decoder error: ${error.message}`);
        },
      });
      this.#decoder = decoder;
    }
    // Annex B input: no description; parameter sets travel in the keyframes.
    this.#decoder.configure({ codec, optimizeForLatency: true });
    this.#parameterSets = sets;
  }

  // Pictures are drawn at the display's pace, the newest one each time: a page that
  // cannot draw every frame skips some instead of falling behind.
  #decoded(frame) {
    const now = performance.now();
    const seq = frame.timestamp;
    const unit = this.#units.get(seq) ?? { unitAtServer: NaN, unitSent: NaN, unitAtPage: NaN, drawn: null };
    // Units before this one that gave no picture are done as well.
    for (const held of this.#units.keys()) {
      if (held > seq) break;
      this.#units.delete(held);
    }
    unit.decoded = now;
    this.#send({ done: seq });
    this.stats.decoded++;
    if (this.#latest) {
      this.#latest.frame.close();
      this.stats.replaced++;
    } else {
      requestAnimationFrame(() => this.#draw());
    }
    this.#latest = { frame, unit };

    this.framesDecoded++;
    this.#lastFrameAt = now;
    this.#retryMs = kFirstRetryMs;
    this.#frameTimes.push(now);
    this.#forgetOldFrames(now);
    this.onFps(this.fps);
  }

  #draw() {
    const latest = this.#latest;
    this.#latest = null;
    if (!latest) return;
    const { frame, unit } = latest;
    const width = frame.displayWidth;
    const height = frame.displayHeight;
    this.#fit(width, height);
    unit.drawStart = performance.now();
    this.context.drawImage(frame, 0, 0, this.canvas.width, this.canvas.height);
    unit.drawn = performance.now();
    this.stats.drawn++;
    this.stats.maxLagMs = Math.max(this.stats.maxLagMs, unit.drawn + performance.timeOrigin - unit.unitAtServer || 0);
    this.onDrawn(frame, width, height, unit);
    frame.close();
    this.#setNote('');
  }

  // The canvas for pictures of width x height: its size on the page (cssWidth,
  // cssHeight) and in its own pixels (width, height). Fitted, it is as large as
  // maxSize() allows at the pictures' aspect ratio, with no more pixels than the screen
  // shows or the picture has: drawing (the scaling and colour conversion) is the page's
  // largest cost, so it is done once, at the size seen. At full size, each pixel of the
  // picture is a pixel of the screen.
  layout(width, height, fullSize = this.fullSize) {
    const box = this.maxSize();
    const scale = fullSize ? 1 / devicePixelRatio : Math.min(box.width / width, box.height / height);
    const pixels = Math.min(1, scale * devicePixelRatio);
    return {
      cssWidth: Math.max(1, Math.floor(width * scale)),
      cssHeight: Math.max(1, Math.floor(height * scale)),
      width: Math.max(1, Math.round(width * pixels)),
      height: Math.max(1, Math.round(height * pixels)),
    };
  }

  #fit(width, height, force = false) {
    if (!width || !height || (!force && width === this.#picture.width && height === this.#picture.height)) return;
    this.#picture = { width, height };
    const fitted = this.layout(width, height);
    this.canvas.style.width = `${fitted.cssWidth}px`;
    this.canvas.style.height = `${fitted.cssHeight}px`;
    if (this.canvas.width !== fitted.width || this.canvas.height !== fitted.height) {
      this.canvas.width = fitted.width;
      this.canvas.height = fitted.height;
    }
  }

  #watch() {
    const now = performance.now();
    this.#forgetOldFrames(now);
    if (!this.#running || !this.#ws || this.#ws.readyState !== WebSocket.OPEN) return;
    this.onFps(this.fps);
    const since = Math.max(this.#lastFrameAt, this.#connectedAt);
    if (now - since > kStallMs) this.#setNote(`No picture for ${Math.round((now - since) / 1000)} s`);
  }

  // Keeps the output times of the last second only: their count is the frame rate.
  #forgetOldFrames(now) {
    while (this.#frameTimes[0] < now - 1000) this.#frameTimes.shift();
  }

  #setNote(text) {
    if (this.note.textContent !== text) this.note.textContent = text;
    this.note.hidden = text === '';
  }
}
