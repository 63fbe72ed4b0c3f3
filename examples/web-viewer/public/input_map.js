// What the page's input becomes in the bridge's commands: keys (KeyboardEvent.code) to
// Mac virtual key codes and NSEvent modifier flags, the buttons of each device family,
// and pointer strokes to touches with their moves thinned to the frame rate.

// Mac virtual key codes of the ANSI keyboard, by KeyboardEvent.code.
const kMacKeyCodes = {
  KeyA: 0x00, KeyS: 0x01, KeyD: 0x02, KeyF: 0x03, KeyH: 0x04, KeyG: 0x05, KeyZ: 0x06, KeyX: 0x07,
  KeyC: 0x08, KeyV: 0x09, IntlBackslash: 0x0a, KeyB: 0x0b, KeyQ: 0x0c, KeyW: 0x0d, KeyE: 0x0e, KeyR: 0x0f,
  KeyY: 0x10, KeyT: 0x11, Digit1: 0x12, Digit2: 0x13, Digit3: 0x14, Digit4: 0x15, Digit6: 0x16, Digit5: 0x17,
  Equal: 0x18, Digit9: 0x19, Digit7: 0x1a, Minus: 0x1b, Digit8: 0x1c, Digit0: 0x1d, BracketRight: 0x1e, KeyO: 0x1f,
  KeyU: 0x20, BracketLeft: 0x21, KeyI: 0x22, KeyP: 0x23, Enter: 0x24, KeyL: 0x25, KeyJ: 0x26, Quote: 0x27,
  KeyK: 0x28, Semicolon: 0x29, Backslash: 0x2a, Comma: 0x2b, Slash: 0x2c, KeyN: 0x2d, KeyM: 0x2e, Period: 0x2f,
  Tab: 0x30, Space: 0x31, Backquote: 0x32, Backspace: 0x33, Escape: 0x35,
  NumpadDecimal: 0x41, NumpadMultiply: 0x43, NumpadAdd: 0x45, NumLock: 0x47, NumpadDivide: 0x4b,
  NumpadEnter: 0x4c, NumpadSubtract: 0x4e, NumpadEqual: 0x51, Numpad0: 0x52, Numpad1: 0x53, Numpad2: 0x54,
  Numpad3: 0x55, Numpad4: 0x56, Numpad5: 0x57, Numpad6: 0x58, Numpad7: 0x59, Numpad8: 0x5b, Numpad9: 0x5c,
  F5: 0x60, F6: 0x61, F7: 0x62, F3: 0x63, F8: 0x64, F9: 0x65, F11: 0x67, F10: 0x6d, F12: 0x6f,
  Insert: 0x72, Home: 0x73, PageUp: 0x74, Delete: 0x75, F4: 0x76, End: 0x77, F2: 0x78, PageDown: 0x79, F1: 0x7a,
  ArrowLeft: 0x7b, ArrowRight: 0x7c, ArrowDown: 0x7d, ArrowUp: 0x7e,
};

// NSEvent modifier flags.
export const kCapsLockFlag = 1 << 16;
export const kShiftFlag = 1 << 17;
export const kControlFlag = 1 << 18;
export const kOptionFlag = 1 << 19;
export const kCommandFlag = 1 << 20;

// The Mac key code of a key, or undefined for keys the viewer does not send: unknown
// ones, and the modifier keys themselves, whose state travels in the flags of the
// other keys.
export function macKeyCode(code) {
  return Object.hasOwn(kMacKeyCodes, code) ? kMacKeyCodes[code] : undefined;
}

// The NSEvent modifier flags of a KeyboardEvent (or anything with its fields).
export function modifierFlags(event) {
  let flags = 0;
  if (event.getModifierState?.('CapsLock')) flags |= kCapsLockFlag;
  if (event.shiftKey) flags |= kShiftFlag;
  if (event.ctrlKey) flags |= kControlFlag;
  if (event.altKey) flags |= kOptionFlag;
  if (event.metaKey) flags |= kCommandFlag;
  return flags;
}

// The "button" names offered for a product family: the TV remote for family 3, the
// hardware home button for the others.
export function buttonsFor(family) {
  if (family === 3) {
    return [
      { label: 'Menu', name: 'menu' },
      { label: '▲', name: 'up', title: 'Up' },
      { label: 'Home', name: 'home' },
      { label: '◀', name: 'left', title: 'Left' },
      { label: 'Select', name: 'select' },
      { label: '▶', name: 'right', title: 'Right' },
      { label: '⏯', name: 'playpause', title: 'Play/Pause' },
      { label: '▼', name: 'down', title: 'Down' },
    ];
  }
  return [{ label: 'Home', name: 'ios_home' }];
}

export const kTouchDown = 0;
export const kTouchDrag = 1;
export const kTouchUp = 2;

// Turns one pointer stroke at a time into touch commands. Down and up go out at once;
// moves go out at most once per frame interval and never while an earlier move is
// still unanswered, always with the newest position (older ones are dropped).
//
// send(type, x, y) returns a promise settled when the bridge has answered.
// intervalMs() is the current frame interval; now() and the timer calls are seams for
// tests.
export class TouchThinner {
  #pending = null; // newest move not yet sent: {x, y}
  #inFlight = false;
  #lastMove = -Infinity;
  #timer = null;

  constructor(send, { intervalMs = () => 1000 / 30, now = () => performance.now(), setTimer = (fn, ms) => setTimeout(fn, ms), clearTimer = (id) => clearTimeout(id) } = {}) {
    this.send = send;
    this.intervalMs = intervalMs;
    this.now = now;
    this.setTimer = setTimer;
    this.clearTimer = clearTimer;
  }

  down(x, y) {
    this.#cancel();
    this.send(kTouchDown, x, y);
  }

  move(x, y) {
    this.#pending = { x, y };
    this.#schedule();
  }

  up(x, y) {
    this.#cancel();
    this.send(kTouchUp, x, y);
  }

  #cancel() {
    this.#pending = null;
    this.clearTimer(this.#timer);
    this.#timer = null;
  }

  #schedule() {
    if (this.#timer !== null || this.#inFlight || this.#pending === null) return;
    const wait = this.#lastMove + this.intervalMs() - this.now();
    if (wait > 0) {
      this.#timer = this.setTimer(() => {
        this.#timer = null;
        this.#schedule();
      }, wait);
      return;
    }
    const { x, y } = this.#pending;
    this.#pending = null;
    this.#inFlight = true;
    this.#lastMove = this.now();
    Promise.resolve(this.send(kTouchDrag, x, y)).finally(() => {
      this.#inFlight = false;
      this.#schedule();
    });
  }
}
