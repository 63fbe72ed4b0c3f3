// The viewer end to end: the real bridge on the virtual devices, the server, and the
// page in headless Chromium.
import assert from 'node:assert/strict';
import { mkdir } from 'node:fs/promises';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { startViewer } from '../server.js';
import { launchBrowser, waitInPage } from './support/browser.js';

const kTV = '7E57DE71-CE00-4000-8000-000000000003';
const kHeadless = '7E57DE71-CE00-4000-8000-000000000006';
const outputDir = fileURLToPath(new URL('../test-output/', import.meta.url));

// --- what the page shows, read from its canvases (installed in the page) ------------

// Whether the device picture is magenta at (x, y), as fractions of its size.
function magentaAt(x, y) {
  const canvas = document.getElementById('screen');
  const [r, g, b] = canvas.getContext('2d').getImageData(Math.round(x * canvas.width), Math.round(y * canvas.height), 1, 1).data;
  return r > 200 && g < 80 && b > 200;
}

// The number of dark (typed-text) pixels in the home screen's text line.
function textLineInk() {
  const canvas = document.getElementById('screen');
  const [x, y, w, h] = [0.08, 0.79, 0.84, 0.03].map((f, i) => Math.round(f * (i % 2 ? canvas.height : canvas.width)));
  const data = canvas.getContext('2d').getImageData(x, y, w, h).data;
  let ink = 0;
  for (let i = 0; i < data.length; i += 4) if (data[i] < 90 && data[i + 1] < 90 && data[i + 2] < 90) ink++;
  return ink;
}

// The TV tile whose focus ring (a light frame around the tile) is drawn, or -1.
function focusedTile() {
  const canvas = document.getElementById('screen');
  const W = canvas.width;
  const H = canvas.height;
  const context = canvas.getContext('2d');
  const gap = 0.03 * W;
  const tileWidth = (W - 2 * 0.08 * W - 4 * gap) / 5;
  const tileHeight = (0.78 * H - 0.16 * H - 2 * gap) / 3;
  for (let tile = 0; tile < 15; tile++) {
    const x = 0.08 * W + (tile % 5) * (tileWidth + gap) + tileWidth / 2;
    // Halfway through the ring's band above the tile.
    const y = 0.16 * H + Math.floor(tile / 5) * (tileHeight + gap) - gap / 8 - gap / 12;
    const [r, g, b] = context.getImageData(Math.round(x), Math.round(y), 1, 1).data;
    if (r > 220 && g > 220 && b > 220) return tile;
  }
  return -1;
}

// Installed before the page's scripts: keeps, for every unit message of a stream socket,
// when its first bytes reached the server (wall clock, from the message's header).
function recordUnits() {
  window.unitsSeen = [];
  const NativeWebSocket = WebSocket;
  window.WebSocket = class extends NativeWebSocket {
    constructor(...args) {
      super(...args);
      this.addEventListener('message', (event) => {
        if (event.data instanceof ArrayBuffer) window.unitsSeen.push({ arrivedAt: new DataView(event.data).getFloat64(8, true) });
      });
    }
  };
}

// Each wait in the page has its own deadline; the whole run is bounded as well.
describe('web viewer', { timeout: 10 * 60 * 1000 }, () => {
  let viewer;
  let chromium;
  let page;

  before(async () => {
    viewer = await startViewer({ quiet: true });
    chromium = await launchBrowser();
    page = await chromium.browser.newPage();
    await page.setViewport({ width: 1280, height: 1000 });
    await page.evaluateOnNewDocument(recordUnits);
    await page.goto(viewer.url);
    // The readers above, as window.check.* in the page.
    await page.evaluate(`window.check = { magentaAt: ${magentaAt}, textLineInk: ${textLineInk}, focusedTile: ${focusedTile} }`);
  });

  after(async () => {
    await chromium?.close();
    await viewer?.close();
  });

  // The page coordinates of (x, y), as fractions of the device picture's size.
  const pagePointAt = async (x, y) => {
    const box = await (await page.$('#screen')).boundingBox();
    return { x: box.x + x * box.width, y: box.y + y * box.height };
  };

  test('shows the Virtual Phone decoded at its aspect ratio', async () => {
    await waitInPage(page, () => window.viewer.screen.framesDecoded >= 10 && document.getElementById('screen-note').hidden);
    const view = await page.evaluate(() => {
      const canvas = document.getElementById('screen');
      return {
        ratio: canvas.width / canvas.height,
        device: document.getElementById('device').selectedOptions[0].textContent,
        width: document.getElementById('display-width').textContent,
        buttons: [...document.querySelectorAll('#buttons button')].map((b) => b.dataset.button),
      };
    });
    assert.equal(view.device, 'Virtual Phone');
    assert.ok(Math.abs(view.ratio - 1179 / 2556) < 0.01, `aspect ratio ${view.ratio}`);
    assert.deepEqual(view.buttons, ['ios_home']);
    await waitInPage(page, () => document.getElementById('display-width').textContent === '1179');
  });

  test('a touch shows the magenta disc where the picture was clicked, and is timed', async (t) => {
    // Touches on the empty band below the tiles, each held until its disc shows. The page
    // times each to the picture that shows the disc, not to any change under the finger
    // (the disc of the touch before may still be fading there).
    await page.evaluate(() => {
      window.viewer.touchTimer.matches = (patch) => {
        let [r, g, b] = [0, 0, 0];
        for (let i = 0; i < patch.length; i += 4) [r, g, b] = [r + patch[i], g + patch[i + 1], b + patch[i + 2]];
        const n = patch.length / 4;
        return r / n > 200 && g / n < 80 && b / n > 200;
      };
    });
    const samples = 20;
    for (let i = 0; i < samples; i++) {
      const [x, y] = [0.2 + 0.03 * i, 0.72];
      const before = await page.evaluate(() => window.viewer.touchPictureMs.length);
      const point = await pagePointAt(x, y);
      await page.mouse.move(point.x, point.y);
      await page.mouse.down();
      await waitInPage(page, (x, y) => check.magentaAt(x, y), [x, y]);
      await page.mouse.up();
      await waitInPage(page, (x, y) => !check.magentaAt(x, y), [x, y]);
      await waitInPage(page, (n) => window.viewer.touchPictureMs.length > n || /no change/.test(document.getElementById('touch-picture').textContent), [before]);
    }
    const { times, arrivals } = await page.evaluate(() => ({ times: [...window.viewer.touchPictureMs], arrivals: [...window.viewer.touchArrivalMs] }));
    assert.ok(times.length > 0);
    assert.match(await page.$eval('#touch-picture', (e) => e.textContent), /^\d+ ms \(median \d+ ms of \d+\)$/);
    // Every stage of the last touch, in the order of its way (the server's stamps come
    // from another process's clock: a few milliseconds of disagreement are allowed).
    const stages = await page.evaluate(() => window.viewer.touchStages.at(-1));
    const way = ['click', 'sent', 'atServer', 'toBridge', 'unitAtServer', 'unitSent', 'unitAtPage', 'decoded', 'drawStart', 'drawn'];
    for (let i = 1; i < way.length; i++) assert.ok(stages[way[i]] >= stages[way[i - 1]] - 5, `${way[i]} after ${way[i - 1]}: ${JSON.stringify(stages)}`);
    const median = (values) => Math.round(values.sort((a, b) => a - b)[values.length >> 1]);
    t.diagnostic(`touch to picture over ${times.length} touches: median ${median(times)} ms (its bytes reached the page after ${median(arrivals)} ms), min ${Math.round(times[0])} ms, max ${Math.round(times.at(-1))} ms`);
  });

  test('typing changes the text line', async () => {
    const before = await page.evaluate(() => check.textLineInk());
    await page.focus('#screen');
    await page.keyboard.type('hi5');
    const after = await waitInPage(page, (n) => check.textLineInk() > n + 20 && check.textLineInk(), [before]);
    assert.ok(after > before);
  });

  test('shows the remote stream at the size of the picture, follows the window, retunes it, and shows the local stream at full resolution', async () => {
    // [picture width, height, canvas width, height] once the pictures are those of
    // `stream` (the local stream's are 884 x 1920) and drawn one to one.
    const shown = (stream) => {
      const { width, height } = window.viewer.screen.pictureSize;
      const canvas = document.getElementById('screen');
      const oneToOne = Math.abs(canvas.width - width) <= 2 && Math.abs(canvas.height - height) <= 2;
      return window.viewer.screenStream.shown === stream && oneToOne && (height === 1920) === (stream === 'local') && [width, height, canvas.width, canvas.height];
    };
    let size = await waitInPage(page, shown, ['remote']);
    assert.ok(Math.abs(size[0] / size[1] - 1179 / 2556) < 0.02, `remote picture ${size}`);

    await mkdir(outputDir, { recursive: true });
    const panels = await (await page.$('aside')).boundingBox();
    await page.screenshot({ path: `${outputDir}viewer.png`, clip: { x: 0, y: 0, width: Math.ceil(panels.x + panels.width + 12), height: 1000 } });

    // A smaller window: the bridge sends smaller pictures.
    await page.setViewport({ width: 1280, height: 700 });
    const smaller = await waitInPage(page, (height) => window.viewer.screen.pictureSize.height < height - 100 && window.viewer.screen.pictureSize.height, [size[1]]);
    assert.ok(Math.abs(smaller - (await page.$eval('#screen', (c) => c.height))) <= 2);
    await page.setViewport({ width: 1280, height: 1000 });
    size = await waitInPage(page, shown, ['remote']);

    await page.$eval('#remote-fps', (input) => (input.value = 15));
    await page.click('#stream-apply');
    await waitInPage(page, () => /remote: retarget 2000 kbps, max \d+ px, 15 fps/.test(document.getElementById('log').textContent));

    // Full resolution: the local stream, whose encoder alone then runs.
    await page.click('#full-resolution');
    size = await waitInPage(page, shown, ['local']);
    assert.deepEqual(size, [884, 1920, 884, 1920]);
    assert.equal(viewer.session.state().remote, false);
    await page.click('#full-resolution');
    await waitInPage(page, shown, ['remote']);
  });

  test('a page that falls behind skips to fresh pictures instead of working through a backlog', async () => {
    // The page does nothing for three seconds (90 frames of the stream), as a busy tab would.
    const stall = await page.evaluate(() => {
      const end = performance.now() + 3000;
      while (performance.now() < end);
      return { seen: window.unitsSeen.length, endedAt: performance.timeOrigin + performance.now() };
    });
    await waitInPage(page, (at) => window.unitsSeen.some((unit) => unit.arrivedAt > at), [stall.endedAt]);
    const { stale, maxDecodeQueue } = await page.evaluate((stall) => ({
      stale: window.unitsSeen.slice(stall.seen).filter((unit) => unit.arrivedAt < stall.endedAt).length,
      maxDecodeQueue: window.viewer.screen.stats.maxDecodeQueue,
    }), stall);
    // The few units the server had let ahead before the page stopped, and nothing more.
    assert.ok(stale <= 4, `${stale} units from before the end of the stall reached the page after it`);
    assert.ok(maxDecodeQueue <= 4, `the decoder held ${maxDecodeQueue} units`);
    const frames = await page.evaluate(() => window.viewer.screen.framesDecoded);
    await waitInPage(page, (n) => window.viewer.screen.framesDecoded > n + 10, [frames]);
  });

  test('switches to the Virtual TV and moves its focus with the remote buttons', async () => {
    await page.select('#device', kTV);
    await waitInPage(page, () => {
      const { width, height } = window.viewer.screen.pictureSize;
      return window.viewer.screen.framesDecoded >= 5 && Math.abs(width / height - 1920 / 1080) < 0.01;
    });
    const buttons = await page.$$eval('#buttons button', (all) => all.map((b) => b.dataset.button));
    assert.deepEqual(buttons.sort(), ['down', 'home', 'left', 'menu', 'playpause', 'right', 'select', 'up']);
    await waitInPage(page, () => check.focusedTile() >= 0);
    assert.equal(await page.evaluate(() => check.focusedTile()), 0);
    await page.click('#buttons [data-button="right"]');
    await waitInPage(page, () => check.focusedTile() === 1);
    await page.click('#buttons [data-button="down"]');
    await waitInPage(page, () => check.focusedTile() === 6);
  });

  test('reports a bridge that exits, and restarts it from the page', async () => {
    const frames = await page.evaluate(() => window.viewer.screen.framesDecoded);
    process.kill(viewer.session.bridgePid, 'SIGKILL');
    await waitInPage(page, () => /SIGKILL/.test(document.getElementById('bridge-status').textContent) && !document.getElementById('restart').hidden);
    assert.match(await page.$eval('#errors', (e) => e.textContent), /ended by SIGKILL/);
    assert.match(await page.$eval('#screen-note', (e) => e.textContent), /not running/);

    await page.click('#restart');
    await waitInPage(page, () => document.getElementById('bridge-status').textContent === 'Bridge running');
    // The stream reconnects by itself to the restarted bridge's new port.
    await waitInPage(page, (n) => window.viewer.screen.framesDecoded > n + 5, [frames]);
  });

  test('shows an error from the bridge in the page', async () => {
    await page.select('#device', kHeadless);
    const message = await waitInPage(page, () => document.getElementById('errors').textContent.match(/start_capture: cs_start_framebuffer returned -?\d+/)?.[0]);
    assert.ok(message);
    assert.match(await page.$eval('#screen-note', (e) => (e.hidden ? '' : e.textContent)), /Cannot capture: start_capture/);
  });
});
