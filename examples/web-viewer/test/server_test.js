// The server on its own, with a stand-in bridge: what it serves, and to whom.
import assert from 'node:assert/strict';
import { readFile } from 'node:fs/promises';
import http from 'node:http';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import WebSocket from 'ws';
import { catalogPath, simulatorsFromList } from '../lib/devices.js';
import { startViewer } from '../server.js';

const fakeBridge = fileURLToPath(new URL('./support/fake_bridge.js', import.meta.url));

function get(url, headers = {}) {
  return new Promise((resolve, reject) => {
    http.get(url, { headers }, (response) => {
      let body = '';
      response.on('data', (chunk) => (body += chunk));
      response.on('end', () => resolve({ status: response.statusCode, body }));
    }).on('error', reject);
  });
}

// Resolves with the first message of a WebSocket, or the reason it failed to open.
function firstMessage(url, options) {
  return new Promise((resolve) => {
    const ws = new WebSocket(url, options);
    ws.on('message', (data) => {
      resolve(JSON.parse(data.toString()));
      ws.close();
    });
    ws.on('error', (error) => resolve({ refused: error.message }));
  });
}

describe('web viewer server', () => {
  let viewer;
  before(async () => {
    viewer = await startViewer({ bridgePath: fakeBridge, quiet: true });
  });
  after(() => viewer.close());

  test('serves the page, and lists the devices of the bridge catalog file', async () => {
    const page = await get(viewer.url);
    assert.equal(page.status, 200);
    assert.match(page.body, /<canvas id="screen"/);
    const { devices } = JSON.parse((await get(`${viewer.url}api/devices`)).body);
    const catalog = JSON.parse(await readFile(catalogPath, 'utf8')).devices;
    assert.deepEqual(devices.map((d) => [d.udid, d.name, d.family]), catalog.map((d) => [d.udid, d.name, d.productFamily]));
    assert.equal((await get(`${viewer.url}../package.json`)).status, 404);
    assert.equal((await get(`${viewer.url}%2e%2e/server.js`)).status, 404);
  });

  test('refuses requests and sockets from other hosts and origins', async () => {
    const ws = viewer.url.replace('http', 'ws');
    assert.equal((await get(viewer.url, { Host: 'attacker.example' })).status, 403);
    assert.match((await firstMessage(`${ws}control`, { origin: 'http://attacker.example' })).refused, /403/);
    assert.equal((await firstMessage(`${ws}control`, { origin: viewer.url.slice(0, -1) })).event, 'state');
  });

  test('passes only the page commands to the bridge', async () => {
    assert.deepEqual(await viewer.session.command({ cmd: 'stop_capture' }), { ok: false, error: "the viewer does not send 'stop_capture'" });
    assert.equal((await viewer.session.command({ cmd: 'display_info' })).ok, true);
  });
});

test('on a Mac, lists the booted simulators with their families', () => {
  const list = {
    devices: {
      'com.apple.CoreSimulator.SimRuntime.iOS-17-0': [
        { udid: 'A', name: 'iPhone 15', state: 'Booted', deviceTypeIdentifier: 'com.apple.CoreSimulator.SimDeviceType.iPhone-15' },
        { udid: 'B', name: 'iPad Air', state: 'Booted', deviceTypeIdentifier: 'com.apple.CoreSimulator.SimDeviceType.iPad-Air-5th-generation' },
        { udid: 'C', name: 'iPhone SE', state: 'Shutdown', deviceTypeIdentifier: 'com.apple.CoreSimulator.SimDeviceType.iPhone-SE' },
      ],
      'com.apple.CoreSimulator.SimRuntime.tvOS-17-0': [
        { udid: 'D', name: 'Apple TV', state: 'Booted', deviceTypeIdentifier: 'com.apple.CoreSimulator.SimDeviceType.Apple-TV-1080p' },
      ],
    },
  };
  assert.deepEqual(simulatorsFromList(list).map((d) => [d.udid, d.family]), [['A', 1], ['B', 2], ['D', 3]]);
});
