// Times a touch from end to end: from the pointerdown to the first picture drawn that
// shows a change under the finger, with the time of every stage on the way (page clock,
// performance.now() ms; the server's stamps are turned from wall-clock time):
//   click           the pointerdown event
//   sent            the touch command left on the control socket
//   atServer        the server received it
//   toBridge        the server wrote it to the bridge
//   bridgeAnswered  the server had the bridge's answer
//   answerAtPage    the answer reached the page
//   unitAtServer    the first bytes of the access unit with the changed picture reached
//                   the server
//   unitSent        the server sent that unit to the page
//   unitAtPage      the unit reached the page
//   decoded         the decoder put out its picture
//   drawStart       drawing began (pictures are drawn at the next display frame)
//   drawn           the picture was drawn into the canvas
const kTimeoutMs = 3000;
const kPatch = 5; // the probe compares a kPatch x kPatch patch ...
const kPatchShare = 0.02; // ... taken from a square of this share of the picture's width
const kThreshold = 48; // mean difference per colour channel that counts as a change

const fromWallClock = (ms) => ms - performance.timeOrigin;

export class TouchTimer {
  #probe = null; // {x, y, baseline, stages, timer}
  #context;

  // matches(patch, baseline) tells whether a picture shows the touch, from RGBA patches
  // of it and of the picture before the touch; by default any clear change does.
  matches = (patch, baseline) => difference(patch, baseline) > kThreshold;

  // onTimed(stages) for each touch timed, or onTimed(null) when no picture changed
  // within kTimeoutMs.
  constructor({ onTimed }) {
    this.onTimed = onTimed;
    const canvas = document.createElement('canvas');
    canvas.width = canvas.height = kPatch;
    this.#context = canvas.getContext('2d', { willReadFrequently: true });
  }

  // Starts timing a touch at (x, y), fractions of the picture, against the picture in
  // `source` now. `stages` becomes the touch's record; commandStamps fills in its control
  // stages once the command is answered.
  start(x, y, clickAt, source, width, height, stages) {
    clearTimeout(this.#probe?.timer);
    stages.click = clickAt;
    for (const stage of ['sent', 'atServer', 'toBridge', 'bridgeAnswered', 'answerAtPage', 'unitAtServer', 'unitSent', 'unitAtPage', 'decoded', 'drawStart', 'drawn']) stages[stage] = null;
    const probe = { x, y, stages, baseline: this.#sample(source, width, height, x, y) };
    probe.timer = setTimeout(() => {
      if (this.#probe !== probe) return;
      this.#probe = null;
      this.onTimed(null);
    }, kTimeoutMs);
    this.#probe = probe;
  }

  // Fills in the control stages from the control client's stamps.
  commandStamps(stages, { sent, answered, timing }) {
    Object.assign(stages, { sent, answerAtPage: answered });
    if (timing) {
      Object.assign(stages, {
        atServer: fromWallClock(timing.received),
        toBridge: fromWallClock(timing.written),
        bridgeAnswered: fromWallClock(timing.answered),
      });
    }
  }

  // A picture was drawn: `source` (width x height) with its unit's stamps
  // {unitAtServer, unitSent (wall clock), unitAtPage, decoded, drawn (page clock)}.
  drawn(source, width, height, unit) {
    const probe = this.#probe;
    if (!probe || unit.unitAtPage < probe.stages.click) return;
    if (!this.matches(this.#sample(source, width, height, probe.x, probe.y), probe.baseline)) return;
    clearTimeout(probe.timer);
    this.#probe = null;
    Object.assign(probe.stages, {
      unitAtServer: fromWallClock(unit.unitAtServer),
      unitSent: fromWallClock(unit.unitSent),
      unitAtPage: unit.unitAtPage,
      decoded: unit.decoded,
      drawStart: unit.drawStart,
      drawn: unit.drawn,
    });
    this.onTimed(probe.stages);
  }

  #sample(source, width, height, x, y) {
    const side = Math.max(kPatch, Math.round(kPatchShare * width));
    const left = Math.min(Math.max(Math.round(x * width - side / 2), 0), width - side);
    const top = Math.min(Math.max(Math.round(y * height - side / 2), 0), height - side);
    this.#context.drawImage(source, left, top, side, side, 0, 0, kPatch, kPatch);
    return this.#context.getImageData(0, 0, kPatch, kPatch).data;
  }
}

// Mean absolute difference per colour channel of two RGBA patches.
function difference(a, b) {
  let sum = 0;
  for (let i = 0; i < a.length; i += 4) sum += Math.abs(a[i] - b[i]) + Math.abs(a[i + 1] - b[i + 1]) + Math.abs(a[i + 2] - b[i + 2]);
  return sum / ((a.length / 4) * 3);
}
