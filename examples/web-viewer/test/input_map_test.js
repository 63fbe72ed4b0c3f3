import assert from 'node:assert/strict';
import { test } from 'node:test';
import {
  buttonsFor,
  kCapsLockFlag,
  kCommandFlag,
  kShiftFlag,
  kTouchDown,
  kTouchDrag,
  kTouchUp,
  macKeyCode,
  modifierFlags,
  TouchThinner,
} from '../public/input_map.js';

test('keys become Mac virtual key codes; modifier keys themselves are not sent', () => {
  const codes = { KeyA: 0, KeyH: 4, KeyE: 14, KeyL: 37, KeyO: 31, Digit5: 23, Enter: 36, Backspace: 51, Space: 49, Escape: 53, ArrowUp: 126, Home: 115 };
  for (const [code, keyCode] of Object.entries(codes)) assert.equal(macKeyCode(code), keyCode, code);
  for (const code of ['ShiftLeft', 'MetaRight', 'Unidentified', 'toString']) assert.equal(macKeyCode(code), undefined, code);
  assert.equal(modifierFlags({ shiftKey: true, metaKey: true }), kShiftFlag | kCommandFlag);
  assert.equal(modifierFlags({ getModifierState: (k) => k === 'CapsLock' }), kCapsLockFlag);
  assert.equal(modifierFlags({}), 0);
});

test('buttons: the remote on a TV, the hardware home button elsewhere', () => {
  assert.deepEqual(buttonsFor(3).map((b) => b.name).sort(), ['down', 'home', 'left', 'menu', 'playpause', 'right', 'select', 'up']);
  assert.deepEqual(buttonsFor(1).map((b) => b.name), ['ios_home']);
  assert.deepEqual(buttonsFor(2).map((b) => b.name), ['ios_home']);
});

// A thinner on a hand-driven clock; each send stays unanswered until answer().
function thinner() {
  const clock = { now: 0, timers: [] };
  const sent = [];
  const answers = [];
  const t = new TouchThinner(
    (type, x, y) => {
      sent.push([type, x, y]);
      return new Promise((resolve) => answers.push(resolve));
    },
    {
      intervalMs: () => 30,
      now: () => clock.now,
      setTimer: (fn, ms) => clock.timers.push({ fn, at: clock.now + ms }) && clock.timers.at(-1),
      clearTimer: (timer) => (clock.timers = clock.timers.filter((x) => x !== timer)),
    },
  );
  const advance = async (ms) => {
    clock.now += ms;
    for (const timer of clock.timers.filter((x) => x.at <= clock.now)) {
      clock.timers = clock.timers.filter((x) => x !== timer);
      timer.fn();
    }
    await new Promise((resolve) => setImmediate(resolve));
  };
  const answer = async () => {
    answers.shift()?.();
    await new Promise((resolve) => setImmediate(resolve));
  };
  return { t, sent, advance, answer };
}

test('moves go out at most once per frame interval, newest position, one at a time', async () => {
  const { t, sent, advance, answer } = thinner();
  t.down(0.1, 0.1);
  t.move(0.2, 0.2); // the first move goes at once
  t.move(0.3, 0.3);
  t.move(0.4, 0.4);
  assert.deepEqual(sent, [[kTouchDown, 0.1, 0.1], [kTouchDrag, 0.2, 0.2]]);
  await answer();
  await answer();
  await advance(10);
  assert.equal(sent.length, 2, 'not before the interval');
  await advance(20);
  assert.deepEqual(sent.at(-1), [kTouchDrag, 0.4, 0.4]);

  // An unanswered move holds the next one back past its interval.
  t.move(0.5, 0.5);
  await advance(100);
  assert.equal(sent.length, 3);
  await answer();
  assert.deepEqual(sent.at(-1), [kTouchDrag, 0.5, 0.5]);

  // Up goes at once and drops a move still waiting.
  await answer();
  t.move(0.6, 0.6);
  t.up(0.7, 0.7);
  await advance(100);
  assert.deepEqual(sent.at(-1), [kTouchUp, 0.7, 0.7]);
  assert.equal(sent.filter(([type]) => type === kTouchDrag).length, 3);
});
