// One live view: a WebSocket of whole access units from the server, decoded with
// WebCodecs into a canvas sized to the pictures. It starts at a keyframe, reconnects
// when the socket drops or the decoder fails (a new connection brings a keyframe),
// keeps the last picture on screen with a note over it while it has none, and counts
// frames per second. It also times a touch to the first picture that changes under it.
import { codecString, isKeyframe, nalUnits, NAL_SPS } from './h264.js';
import { kCloseNoStream } from './stream_close_codes.js';

const kFirstRetryMs = 200; // after a drop, doubled on each further failure
const kMaxRetryMs = 2000;
const kStallMs = 2000; // no picture for this long while connected shows a note
const kMaxDecodeQueue = 30; // a decoder this far behind (1 s at 30 fps) starts over from a keyframe
const kProbeTimeoutMs = 3000;
const kProbeRadius = 2; // the touch probe compares a 5 x 5 patch
const kProbeThreshold = 48; // mean difference per colour channel that counts as a change

export class StreamView {
  #ws = null;
  #decoder = null;
  #parameterSets = null; // the SPS the decoder is configured for, as text
  #running = false;
  #retryMs = kFirstRetryMs;
  #retryTimer = null;
  #connectedAt = 0;
  #lastFrameAt = 0;
  #frameTimes = []; // output times within the last second
  #probe = null; // {x, y, t0, baseline, timer}
  #latest = null; // the newest decoded frame not yet drawn; older ones are dropped
  #patch;
  #picture = { width: 0, height: 0 }; // size of the pictures shown (or of the placeholder)

  framesDecoded = 0;

  // canvas and note are elements; path the WebSocket path ('/stream/local'); maxSize()
  // the largest box, in CSS pixels, the picture may take on the page; onFps(fps) about
  // every frame; onTouchPicture(ms, arrivedMs) for each timed touch: the time to the
  // picture drawn and to the arrival of its bytes, or null when nothing changed.
  constructor({ canvas, note, path, maxSize, onFps = () => {}, onTouchPicture = () => {} }) {
    this.canvas = canvas;
    this.maxSize = maxSize;
    this.note = note;
    this.path = path;
    this.onFps = onFps;
    this.onTouchPicture = onTouchPicture;
    this.context = canvas.getContext('2d');
    const patch = document.createElement('canvas');
    patch.width = patch.height = 2 * kProbeRadius + 1;
    this.#patch = patch.getContext('2d', { willReadFrequently: true });
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

  // Times the next picture that differs from the current one at (x, y), both 0 to 1.
  probeTouch(x, y) {
    if (this.framesDecoded === 0) return;
    clearTimeout(this.#probe?.timer);
    const probe = { x, y, t0: performance.now() };
    probe.baseline = this.#sample(this.canvas, this.canvas.width, this.canvas.height, x, y);
    probe.timer = setTimeout(() => {
      if (this.#probe !== probe) return;
      this.#probe = null;
      this.onTouchPicture(null);
    }, kProbeTimeoutMs);
    this.#probe = probe;
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
    ws.onmessage = (event) => this.#unit(new Uint8Array(event.data));
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
    if (this.#decoder && this.#decoder.state !== 'closed') this.#decoder.close();
    this.#decoder = null;
    this.#latest?.close();
    this.#latest = null;
    this.#parameterSets = null;
  }

  // Starts over with a new connection, which brings a keyframe.
  #resync(reason) {
    if (!this.#running) return;
    this.#close();
    this.#setNote(`${reason}; reconnecting…`);
    this.#retryLater();
  }

  #unit(bytes) {
    const key = isKeyframe(bytes);
    if (key) {
      const sps = nalUnits(bytes).find((nal) => nal.type === NAL_SPS);
      const sets = sps ? Array.from(bytes.subarray(sps.offset, sps.end)).join(',') : null;
      if (sets !== null && sets !== this.#parameterSets) this.#configure(codecString(bytes), sets);
    }
    const decoder = this.#decoder;
    if (!decoder || decoder.state !== 'configured') return; // no keyframe yet
    if (decoder.decodeQueueSize > kMaxDecodeQueue) {
      this.#resync('The decoder fell behind');
      return;
    }
    decoder.decode(new EncodedVideoChunk({ type: key ? 'key' : 'delta', timestamp: Math.round(performance.now() * 1000), data: bytes }));
  }

  #configure(codec, sets) {
    if (!this.#decoder) {
      const decoder = new VideoDecoder({
        output: (frame) => this.#decoded(frame),
        error: (error) => {
          if (this.#decoder === decoder) this.#resync(`Decoder error: ${error.message}`);
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
    if (this.#latest) this.#latest.close();
    else requestAnimationFrame(() => this.#draw());
    this.#latest = frame;

    const now = performance.now();
    this.framesDecoded++;
    this.#lastFrameAt = now;
    this.#retryMs = kFirstRetryMs;
    this.#frameTimes.push(now);
    this.#forgetOldFrames(now);
    this.onFps(this.fps);
  }

  #draw() {
    const frame = this.#latest;
    this.#latest = null;
    if (!frame) return;
    const width = frame.displayWidth;
    const height = frame.displayHeight;
    this.#fit(width, height);
    this.context.drawImage(frame, 0, 0, this.canvas.width, this.canvas.height);
    const probe = this.#probe;
    if (probe) {
      const now = this.#sample(frame, width, height, probe.x, probe.y);
      if (difference(probe.baseline, now) > kProbeThreshold) {
        clearTimeout(probe.timer);
        this.#probe = null;
        // The chunk's timestamp is the time its bytes reached the page.
        this.onTouchPicture(performance.now() - probe.t0, frame.timestamp / 1000 - probe.t0);
      }
    }
    frame.close();
    this.#setNote('');
  }

  // The size of the pictures shown, in their own pixels.
  get pictureSize() {
    return { ...this.#picture };
  }

  // Sizes the canvas for pictures of width x height: as large as maxSize() allows at
  // their aspect ratio, and with no more pixels than the screen shows or the picture
  // has. Drawing (the scaling and colour conversion) is the page's largest cost, so
  // it is done once, at the size seen.
  #fit(width, height, force = false) {
    if (!width || !height || (!force && width === this.#picture.width && height === this.#picture.height)) return;
    this.#picture = { width, height };
    const box = this.maxSize();
    const scale = Math.min(box.width / width, box.height / height);
    const cssWidth = Math.max(1, Math.floor(width * scale));
    const cssHeight = Math.max(1, Math.floor(height * scale));
    this.canvas.style.width = `${cssWidth}px`;
    this.canvas.style.height = `${cssHeight}px`;
    const pixels = Math.min(1, scale * devicePixelRatio);
    const backingWidth = Math.max(1, Math.round(width * pixels));
    const backingHeight = Math.max(1, Math.round(height * pixels));
    if (this.canvas.width !== backingWidth || this.canvas.height !== backingHeight) {
      this.canvas.width = backingWidth;
      this.canvas.height = backingHeight;
    }
  }

  #sample(source, width, height, x, y) {
    const r = kProbeRadius;
    const px = Math.min(Math.max(Math.round(x * width), r), width - r - 1);
    const py = Math.min(Math.max(Math.round(y * height), r), height - r - 1);
    this.#patch.drawImage(source, px - r, py - r, 2 * r + 1, 2 * r + 1, 0, 0, 2 * r + 1, 2 * r + 1);
    return this.#patch.getImageData(0, 0, 2 * r + 1, 2 * r + 1).data;
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

// Mean absolute difference per colour channel of two RGBA patches.
function difference(a, b) {
  let sum = 0;
  for (let i = 0; i < a.length; i += 4) sum += Math.abs(a[i] - b[i]) + Math.abs(a[i + 1] - b[i + 1]) + Math.abs(a[i + 2] - b[i + 2]);
  return sum / ((a.length / 4) * 3);
}
