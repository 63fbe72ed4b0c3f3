import assert from 'node:assert/strict';
import { fileURLToPath } from 'node:url';
import { test } from 'node:test';
import { BridgeClient } from '../lib/bridge_client.js';

const fakeBridge = fileURLToPath(new URL('./support/fake_bridge.js', import.meta.url));

function started(options = {}) {
  const bridge = new BridgeClient({ path: fakeBridge, ...options });
  bridge.start();
  return bridge;
}

test('writes each request at once, without waiting for earlier answers, and answers each in order', async () => {
  const bridge = started();
  const responses = await Promise.all(['a', 'b', 'c', 'd'].map((cmd) => bridge.request({ cmd })));
  assert.deepEqual(responses.map((r) => r.cmd), ['a', 'b', 'c', 'd']);
  // The stand-in had later lines in hand while it had not yet answered the first.
  assert.ok(responses[0].alsoWaiting > 0, `first answered with ${responses[0].alsoWaiting} more waiting`);
  await bridge.stop();
  assert.equal(bridge.running, false);
});

test('an exit fails the waiting requests and is reported once, with the log', async () => {
  const bridge = started();
  const exits = [];
  bridge.on('exit', (exit) => exits.push(exit));
  const results = await Promise.allSettled([bridge.request({ cmd: 'exit' }), bridge.request({ cmd: 'later' })]);
  assert.deepEqual(results.map((r) => r.reason?.message), ['the bridge exited with status 3', 'the bridge exited with status 3']);
  assert.equal(exits.length, 1);
  assert.equal(exits[0].code, 3);
  await assert.rejects(bridge.request({ cmd: 'after' }), /exited with status 3/);
  assert.deepEqual(bridge.log, ['fake bridge: exiting']);
});

test('a bridge that stops answering is ended and reported', async () => {
  const bridge = started({ responseTimeoutMs: 300 });
  const exited = new Promise((resolve) => bridge.once('exit', resolve));
  await assert.rejects(bridge.request({ cmd: 'hang' }), /did not answer "hang" within 0.3 s/);
  assert.match((await exited).message, /did not answer "hang"/);
});

test('a bridge that cannot start is reported as an exit', async () => {
  const bridge = new BridgeClient({ path: '/nonexistent/corvane-sim-bridge' });
  const exited = new Promise((resolve) => bridge.once('exit', resolve));
  bridge.start();
  assert.match((await exited).message, /cannot start \/nonexistent\/corvane-sim-bridge: .*ENOENT/);
});
