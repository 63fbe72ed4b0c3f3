import assert from 'node:assert/strict';
import { test } from 'node:test';
import { codecString, isKeyframe } from '../public/h264.js';
import { AccessUnitSplitter } from '../lib/access_units.js';
import { keyframe, pSlice, secondSlice, start } from './support/annexb.js';

// The stream the bridge sends: each unit starts with a 4-byte start code; keyframes
// carry their parameter sets.
const units = [
  keyframe(1),
  [...pSlice(2), ...secondSlice(3)],
  [...start, 0x09, 0x10, ...pSlice(4)], // with an access unit delimiter
  [...start, 0x06, 0x05, 0x01, ...pSlice(5)], // with SEI
  keyframe(6),
];
const stream = Buffer.from(units.flat());

function split(chunkSize) {
  const splitter = new AccessUnitSplitter();
  const out = [];
  for (let at = 0; at < stream.length; at += chunkSize) out.push(...splitter.push(stream.subarray(at, at + chunkSize)));
  const last = splitter.flush();
  if (last) out.push(last);
  return out.map((unit) => [...unit]);
}

test('splits the stream at access-unit boundaries, whatever the read sizes', () => {
  for (const size of [1, 2, 3, 5, 7, 13, stream.length]) assert.deepEqual(split(size), units, `chunks of ${size}`);
});

test('a unit leaves only when the next begins, or on flush', () => {
  const splitter = new AccessUnitSplitter();
  assert.deepEqual(splitter.push(Buffer.from(units[0])), []);
  assert.equal(splitter.pending, true);
  assert.deepEqual([...splitter.push(Buffer.from(units[1]))[0]], units[0]);
  assert.deepEqual([...splitter.flush()], units[1]);
  assert.equal(splitter.flush(), null);
});

test('drops bytes before the first start code, and after a flush until the next one', () => {
  const splitter = new AccessUnitSplitter();
  assert.deepEqual(splitter.push(Buffer.from([7, 7, ...units[0].slice(0, 6)])), []);
  splitter.push(Buffer.from(units[0].slice(6)));
  assert.deepEqual([...splitter.flush()], units[0]);
  // The rest of a unit cut short by the flush is not mistaken for a unit.
  assert.deepEqual(splitter.push(Buffer.from([0x55, 0x66, ...units[1]])), []);
  assert.deepEqual([...splitter.flush()], units[1]);
});

test('keyframes and their codec string', () => {
  assert.equal(isKeyframe(Buffer.from(units[0])), true);
  assert.equal(isKeyframe(Buffer.from(units[1])), false);
  assert.equal(codecString(Buffer.from(units[0])), 'avc1.4d4028');
  assert.equal(codecString(Buffer.from(units[1])), null);
});
