// The relay between a stream server and a page socket, against a stand-in stream server
// and a stand-in page.
import assert from 'node:assert/strict';
import { EventEmitter } from 'node:events';
import net from 'node:net';
import { after, before, test } from 'node:test';
import { relayStream } from '../lib/relay.js';
import { unpackUnit } from '../public/stream_messages.js';
import { keyframe, pSlice } from './support/annexb.js';
import { until } from './support/wait.js';

// The page's end of the socket: keeps the units sent to it, and says what it is done with.
class FakePage extends EventEmitter {
  OPEN = 1;
  CONNECTING = 0;
  readyState = 1;
  units = [];
  send(data) {
    this.units.push(unpackUnit(data.buffer));
  }
  close() {
    this.readyState = 3;
    this.emit('close');
  }
  tell(message) {
    this.emit('message', Buffer.from(JSON.stringify(message)), false);
  }
}

let server;
const connections = []; // the relay's connections to the stream server, oldest first
before(async () => {
  server = net.createServer((socket) => connections.push(socket));
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
});
after(() => server.close());

// Starts a relay and waits for its connection.
async function relay() {
  const page = new FakePage();
  const known = connections.length;
  const { close, counts } = relayStream(page, server.address().port);
  await until(() => connections.length > known);
  return { page, close, counts };
}

// Writes a unit on the newest connection (the bridge writes each unit at once).
const write = (unit) => connections.at(-1).write(Buffer.from(unit));
const received = (page) => page.units.map((unit) => [...unit.bytes]);

test('a unit leaves as soon as its bytes stop, numbered and stamped, from the first keyframe on', async () => {
  const { page, close } = await relay();
  write(pSlice(1)); // joined between keyframes: undecodable
  write(keyframe(2));
  // Whole without the next unit behind it.
  await until(() => page.units.length === 1);
  write(pSlice(3));
  await until(() => page.units.length === 2);
  assert.deepEqual(page.units.map((u) => [u.seq, u.keyframe]), [[1, true], [2, false]]);
  assert.deepEqual(received(page), [keyframe(2), pSlice(3)]);
  for (const unit of page.units) assert.ok(unit.arrivedAt <= unit.sentAt && unit.sentAt <= performance.timeOrigin + performance.now());
  close();
});

test('a page that falls behind skips to a fresh keyframe, which the relay asks for', async () => {
  const { page, close, counts } = await relay();
  write(keyframe(1));
  for (const fill of [2, 3, 4, 5, 6]) write(pSlice(fill));
  // Four units at the page and none done: the fifth, and what follows it, is dropped.
  await until(() => counts.skips === 1);
  const known = connections.length;
  write(pSlice(7));
  page.tell({ done: 4 });
  await until(() => connections.length > known); // a new connection brings a keyframe
  write(pSlice(8));
  write(keyframe(9));
  await until(() => page.units.length === 5);
  assert.deepEqual(received(page), [keyframe(1), pSlice(2), pSlice(3), pSlice(4), keyframe(9)]);
  assert.deepEqual(page.units.map((u) => u.seq), [1, 2, 3, 4, 5]);
  close();
});

test('the page asking for a keyframe, or a unit cut short, skips to a fresh keyframe', async () => {
  const { page, close } = await relay();
  write(keyframe(1));
  await until(() => page.units.length === 1);
  let known = connections.length;
  page.tell({ done: 1, keyframe: true });
  await until(() => connections.length > known);
  write(pSlice(2));
  write(keyframe(3));
  await until(() => page.units.length === 2);
  // A unit whose bytes paused long enough for it to leave as whole, and then went on.
  const cut = keyframe(4);
  write(cut.slice(0, -4));
  await until(() => page.units.length === 3);
  known = connections.length;
  write(cut.slice(-4));
  await until(() => connections.length > known);
  write(pSlice(5));
  write(keyframe(6));
  await until(() => page.units.length === 4);
  assert.deepEqual(received(page), [keyframe(1), keyframe(3), cut.slice(0, -4), keyframe(6)]);
  close();
});
