#!/usr/bin/env node
// The web viewer's touch-to-picture time against the bridge's own input-to-photon time,
// both measured in this one run, in turns, on the Virtual Phone and the Virtual Animated
// Phone; and, with --soak, minutes of streaming with the page open.
//
// The viewer's time runs from the pointerdown event of a mouse press on the page's
// picture to the end of the drawImage call that first puts the touch disc (magenta)
// into the picture's canvas at that place. The bridge's own time is
// build/bench/input_latency_bench (touch command written to the bridge until the
// decoded picture shows the disc, read over TCP with libavcodec), local stream only.
// Turns: a round of viewer touches (its own server and bridge), then a round of the
// bridge's benchmark with the viewer closed, and so on; the samples of all rounds are
// pooled. The machine's speed (build/bench/host_speed_bench) is printed at the start
// and the end.
//
//   node bench/touch_latency_bench.js [--touches N] [--rounds R] [--devices phone,animated]
//                                      [--soak SECONDS] [--full-resolution] [--viewer DIR]
//
// --touches: touches per device for each side (default 40), spread over --rounds turns
// (default 4). --soak: after the turns, stream each device this long with the page
// open, one timed touch every few seconds (default 0: no soak). --full-resolution: the
// page shows the local stream (its full-resolution switch). --viewer: the viewer folder
// to measure (default this one), for a before/after with an older checkout.
// Prints per-stage times where the page reports them, then RESULT lines
//   RESULT<TAB>name<TAB>samples<TAB>value or p50<TAB>p99 or -<TAB>unit<TAB>what
// as the bridge's benchmarks do.
import { execFile, spawn } from 'node:child_process';
import { createInterface } from 'node:readline';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { parseArgs, promisify } from 'node:util';
import { launchBrowser, waitInPage } from '../test/support/browser.js';

const root = fileURLToPath(new URL('../../../', import.meta.url));
const buildDir = path.join(root, 'build');
const kDevices = {
  phone: { udid: '7E57DE71-CE00-4000-8000-000000000001', name: 'Virtual Phone', bridgeKey: 'input_latency_local' },
  animated: { udid: '7E57DE71-CE00-4000-8000-000000000008', name: 'Virtual Animated Phone', bridgeKey: 'input_latency_animated_local' },
};
const kWarmupTouches = 3;
const kSoakTouchEveryMs = 5000;
const kSoakWindowMs = 10000;

const { values: options } = parseArgs({
  options: {
    touches: { type: 'string', default: '40' },
    rounds: { type: 'string', default: '4' },
    devices: { type: 'string', default: 'phone,animated' },
    soak: { type: 'string', default: '0' },
    viewer: { type: 'string', default: fileURLToPath(new URL('..', import.meta.url)) },
    'full-resolution': { type: 'boolean', default: false },
  },
});
const touches = Math.max(1, Number(options.touches));
const rounds = Math.max(1, Math.min(touches, Number(options.rounds)));
const soakMs = Math.max(0, Number(options.soak)) * 1000;
const devices = options.devices.split(',').map((key) => ({ key, ...kDevices[key] }));
const viewerDir = path.resolve(options.viewer);
const bridgePath = path.join(buildDir, 'bridge', 'corvane-sim-bridge');

// --- figures --------------------------------------------------------------------------

// Nearest-rank percentile, as the bridge's benchmarks take it.
function percentile(values, percent) {
  if (values.length === 0) return NaN;
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.min(sorted.length - 1, Math.round((percent / 100) * (sorted.length - 1)))];
}

const fixed = (value, digits = 1) => (Number.isFinite(value) ? value.toFixed(digits) : '-');

function result(name, samples, value, p99, unit, what) {
  const digits = { x: 2, count: 0 }[unit] ?? 1;
  console.log(['RESULT', name, samples, fixed(value, digits), p99 === null ? '-' : fixed(p99), unit, what].join('\t'));
}

// --- the bridge's own benchmark and the machine's speed ---------------------------------

async function run(program, args) {
  const { stdout } = await promisify(execFile)(path.join(buildDir, 'bench', program), args, { maxBuffer: 1 << 20 });
  return stdout;
}

async function bridgeRound(device, count) {
  const output = await run('input_latency_bench', [String(count), device.key]);
  const line = output.split('\n').find((l) => l.startsWith(`SAMPLES\t${device.bridgeKey}\t`));
  if (!line) throw new Error(`input_latency_bench printed no samples for ${device.name}:\n${output}`);
  return line.split('\t').slice(2).map(Number);
}

async function hostSpeed(tag) {
  const output = await run('host_speed_bench', tag ? [tag] : []);
  for (const line of output.trim().split('\n')) console.log(line);
}

// --- the viewer -------------------------------------------------------------------------

// Run in the page. The page's view of the device picture (named `local` in older pages).
function pictureView() {
  return window.viewer?.screen ?? window.viewer?.local;
}

// Run in the page. Whether RGBA pixels, averaged, are the touch disc's magenta (the
// bridge's benchmark's test).
function isDisc(rgba) {
  let r = 0, g = 0, b = 0;
  for (let i = 0; i < rgba.length; i += 4) [r, g, b] = [r + rgba[i], g + rgba[i + 1], b + rgba[i + 2]];
  const n = rgba.length / 4;
  return r / n > 200 && g / n < 60 && b / n > 200;
}

// Installed in the page before its own scripts: stamps the pointerdown that starts a
// touch and the control message that sends it, after every drawImage into the picture's
// canvas checks the touch's place for the disc (a 16-pixel square of the full picture,
// averaged, as the bridge's benchmark does), and tells when the next picture's bytes
// reach the page.
function benchHooks() {
  const bench = { probe: null, unitArrived: null };
  window.touchBench = bench;
  bench.nextUnit = () => new Promise((resolve) => (bench.unitArrived = resolve));
  const NativeWebSocket = WebSocket;
  window.WebSocket = class extends NativeWebSocket {
    constructor(...args) {
      super(...args);
      this.addEventListener('message', (event) => {
        if (!(event.data instanceof ArrayBuffer)) return;
        bench.unitArrived?.();
        bench.unitArrived = null;
      });
    }
    send(data) {
      super.send(data);
      const probe = bench.probe;
      if (probe?.disc && probe.sent === null && /"cmd":"touch".*"type":0/.test(data)) probe.sent = performance.now();
    }
  };
  addEventListener('pointerdown', (event) => {
    if (bench.probe && bench.probe.t0 === null) bench.probe.t0 = event.timeStamp;
  }, true);
  const discAt = (context, x, y) => {
    const { width, height } = context.canvas;
    const side = Math.max(3, Math.round((16 / 884) * width));
    return isDisc(context.getImageData(Math.round(x * width - side / 2), Math.round(y * height - side / 2), side, side).data);
  };
  const drawImage = CanvasRenderingContext2D.prototype.drawImage;
  CanvasRenderingContext2D.prototype.drawImage = function (...args) {
    drawImage.apply(this, args);
    const probe = bench.probe;
    if (!probe || probe.shownAt !== null || !['screen', 'local'].includes(this.canvas.id) || (probe.disc && probe.t0 === null)) return;
    if (discAt(this, probe.x, probe.y) !== probe.disc) return;
    probe.shownAt = performance.now();
    probe.picture = args[0].timestamp; // older pages: when the picture's bytes reached the page (µs)
  };
}

// The page's own record of the touch that began at t0 (stage times in its clock), if
// the page keeps one.
function pageStages(t0) {
  return window.viewer.touchStages?.find((stages) => Math.abs(stages.click - t0) < 0.5) ?? null;
}

// The viewer's server in a process of its own, as a user runs it, with the device open.
async function startServer(device) {
  const server = spawn(process.execPath, [path.join(viewerDir, 'server.js'), '--port', '0', '--bridge', bridgePath, '--device', device.udid], { stdio: ['ignore', 'pipe', 'ignore'] });
  const exited = new Promise((resolve) => server.once('exit', resolve));
  const url = await new Promise((resolve, reject) => {
    createInterface({ input: server.stdout }).on('line', (line) => {
      const found = /^Web viewer: (\S+)/.exec(line);
      if (found) resolve(found[1]);
    });
    exited.then((code) => reject(new Error(`the viewer's server exited with status ${code}`)));
  });
  return {
    url,
    async close() {
      server.kill('SIGTERM');
      await exited;
    },
  };
}

async function openViewer(browser, device) {
  const viewer = await startServer(device);
  const page = await browser.newPage();
  // At full resolution the picture takes its own size (1920 pixels high): the window
  // holds it whole, so that every touch lands on it.
  await page.setViewport({ width: 1280, height: options['full-resolution'] ? 2100 : 1000 });
  await page.evaluateOnNewDocument(`window.pictureView = ${pictureView}; window.isDisc = ${isDisc};`);
  await page.evaluateOnNewDocument(benchHooks);
  await page.goto(viewer.url);
  await waitInPage(page, () => pictureView()?.framesDecoded >= 10);
  if (options['full-resolution']) {
    await page.click('#full-resolution');
    await waitInPage(page, () => window.viewer.screenStream.shown === 'local' && window.viewer.screen.pictureSize.width > 800);
  }
  // A page that times touches itself waits for the disc too, so that its stages are
  // those of the same picture.
  await page.evaluate(() => {
    if (window.viewer.touchTimer) window.viewer.touchTimer.matches = isDisc;
  });
  return {
    page,
    async close() {
      await page.close();
      await viewer.close();
    },
  };
}

// One press and release at (x, y), fractions of the picture. Resolves with the time to
// the disc and the page's stages, or null when the disc did not show. The press comes
// right after a picture's bytes reached the page, as the bridge's benchmark sends its
// touch right after a picture arrived: both touches then reach the bridge early in a
// capture interval, with most of it to wait for the next capture (a touch made at a
// random moment waits half an interval, on average).
async function touchOnce(page, x, y) {
  const box = await (await page.$('#screen, #local')).boundingBox();
  const at = { x: box.x + x * box.width, y: box.y + y * box.height };
  await page.evaluate((x, y) => (window.touchBench.probe = { x, y, disc: true, t0: null, sent: null, shownAt: null }), x, y);
  await page.mouse.move(at.x, at.y);
  await page.evaluate(() => window.touchBench.nextUnit());
  await page.mouse.down();
  const shown = await waitInPage(page, () => window.touchBench.probe.shownAt !== null).catch(() => false);
  const { t0, sent, shownAt, picture } = await page.evaluate(() => window.touchBench.probe);
  await page.evaluate((x, y) => (window.touchBench.probe = { x, y, disc: false, t0: 0, shownAt: null }), x, y);
  await page.mouse.up();
  await waitInPage(page, () => window.touchBench.probe.shownAt !== null).catch(() => {});
  if (!shown) return null;
  const keepsStages = await page.evaluate(() => Array.isArray(window.viewer.touchStages));
  // A page that does not time touches itself: the stages seen from outside it.
  const stages = keepsStages ? await waitInPage(page, pageStages, [t0]).catch(() => null) : { click: t0, sent, unitAtPage: picture / 1000, drawn: shownAt };
  return { ms: shownAt - t0, stages: stages && stageTimes(stages) };
}

// Stage stamps (page clock) as times after the click, in the order of the stamps.
function stageTimes(stages) {
  const times = {};
  for (const [stage, at] of Object.entries(stages)) if (stage !== 'click' && Number.isFinite(at)) times[stage] = at - stages.click;
  return times;
}

// Touch i of a run, at places spread over the screen as the bridge's benchmark spreads
// them.
const place = (i) => [0.15 + (0.7 * ((i * 7) % 10)) / 9, 0.15 + (0.7 * ((i * 3) % 10)) / 9];

async function viewerRound(browser, device, count, first) {
  const viewer = await openViewer(browser, device);
  try {
    for (let i = 0; i < kWarmupTouches; i++) await touchOnce(viewer.page, ...place(i));
    const samples = [];
    let missed = 0;
    for (let i = 0; i < count; i++) {
      const sample = await touchOnce(viewer.page, ...place(first + i));
      if (sample) samples.push(sample);
      else missed++;
    }
    return { samples, missed };
  } finally {
    await viewer.close();
  }
}

function reportTurns(device, viewerSamples, missed, bridgeSamples) {
  const times = viewerSamples.map((s) => s.ms);
  const [v50, v90, v99] = [50, 90, 99].map((p) => percentile(times, p));
  const [b50, b90, b99] = [50, 90, 99].map((p) => percentile(bridgeSamples, p));
  console.log(`\n${device.name}: viewer touch to picture n=${times.length} p50 ${fixed(v50)} ms p90 ${fixed(v90)} ms` +
    ` max ${fixed(Math.max(...times))} ms${missed ? `, ${missed} not shown` : ''};` +
    ` bridge n=${bridgeSamples.length} p50 ${fixed(b50)} ms p90 ${fixed(b90)} ms; ratio p50 ${fixed(v50 / b50, 2)} p90 ${fixed(v90 / b90, 2)}`);
  const stages = {};
  for (const sample of viewerSamples) for (const [stage, ms] of Object.entries(sample.stages ?? {})) (stages[stage] ??= []).push(ms);
  if (Object.keys(stages).length > 0) {
    console.log('  stage (time after the click)             p50 ms   p90 ms');
    for (const [stage, values] of Object.entries(stages)) console.log(`  ${stage.padEnd(40)} ${fixed(percentile(values, 50)).padStart(6)} ${fixed(percentile(values, 90)).padStart(8)}`);
  }
  const key = device.key;
  result(`viewer_touch_${key}`, times.length, v50, v99, 'ms', `web viewer: click to touch picture in the canvas, ${device.name}`);
  result(`viewer_touch_${key}_p90`, times.length, v90, null, 'ms', `web viewer: click to touch picture, p90, ${device.name}`);
  result(`bridge_touch_${key}`, bridgeSamples.length, b50, b99, 'ms', `bridge's own input-to-photon, same run, ${device.name}`);
  result(`bridge_touch_${key}_p90`, bridgeSamples.length, b90, null, 'ms', `bridge's own input-to-photon, p90, ${device.name}`);
  result(`viewer_ratio_${key}_p50`, times.length, v50 / b50, null, 'x', `viewer / bridge, p50 (aim <= 1.5), ${device.name}`);
  result(`viewer_ratio_${key}_p90`, times.length, v90 / b90, null, 'x', `viewer / bridge, p90 (aim <= 2), ${device.name}`);
  for (const [stage, values] of Object.entries(stages)) {
    result(`viewer_stage_${key}_${stage}`, values.length, percentile(values, 50), percentile(values, 99), 'ms', `web viewer stage after the click: ${stage}, ${device.name}`);
  }
}

// --- streaming for minutes ----------------------------------------------------------------

// The page's figures now: frames decoded so far, and its own stream statistics if it
// keeps them. With `restart`, its longest lag starts over.
function pageFigures(restart) {
  const view = pictureView();
  const figures = { frames: view.framesDecoded, stats: view.stats ? { ...view.stats } : null };
  if (restart && view.stats) view.stats.maxLagMs = 0;
  return figures;
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function soak(browser, device) {
  const viewer = await openViewer(browser, device);
  const spans = []; // one per kSoakWindowMs: {fps, maxLagMs, touches: [ms], stats}
  const started = Date.now();
  try {
    let touch = 0;
    while (Date.now() - started < soakMs) {
      const span = { touches: [] };
      const from = await viewer.page.evaluate(pageFigures, true);
      const fromAt = Date.now();
      while (Date.now() - fromAt < kSoakWindowMs) {
        const sample = await touchOnce(viewer.page, ...place(touch++));
        if (sample) span.touches.push(sample.ms);
        await sleep(kSoakTouchEveryMs - ((Date.now() - fromAt) % kSoakTouchEveryMs));
      }
      const to = await viewer.page.evaluate(pageFigures, false);
      Object.assign(span, { fps: ((to.frames - from.frames) * 1000) / (Date.now() - fromAt), maxLagMs: to.stats?.maxLagMs ?? NaN, stats: to.stats });
      spans.push(span);
      console.log(`  ${device.name} at ${Math.round((Date.now() - started) / 1000)} s: ${fixed(span.fps)} fps, longest lag ${fixed(span.maxLagMs)} ms, touches ${span.touches.map((ms) => fixed(ms, 0)).join(' ')} ms`);
    }
  } finally {
    await viewer.close();
  }
  const key = device.key;
  const seconds = Math.round(soakMs / 1000);
  const what = (text) => `web viewer, ${seconds} s streaming, ${text}, ${device.name}`;
  const fps = spans.map((span) => span.fps);
  result(`viewer_soak_fps_${key}`, fps.length, percentile(fps, 50), null, 'fps', what(`frames decoded per second (median of ${kSoakWindowMs / 1000} s spans)`));
  result(`viewer_soak_fps_min_${key}`, fps.length, Math.min(...fps), null, 'fps', what('the slowest span'));
  const minute = Math.max(1, Math.round(60000 / kSoakWindowMs));
  for (const [part, range] of [['first', spans.slice(0, minute)], ['last', spans.slice(-minute)]]) {
    const touches = range.flatMap((span) => span.touches);
    result(`viewer_soak_touch_${part}_${key}`, touches.length, percentile(touches, 50), percentile(touches, 99), 'ms', what(`touch to picture in the ${part} minute`));
    result(`viewer_soak_lag_${part}_${key}`, range.length, Math.max(...range.map((span) => span.maxLagMs)), null, 'ms', what(`longest time from a unit's arrival at the server to its picture in the canvas, ${part} minute`));
  }
  for (const [name, value] of Object.entries(spans.at(-1)?.stats ?? {})) {
    if (name !== 'maxLagMs') result(`viewer_soak_${name}_${key}`, 1, value, null, 'count', what(`the page's ${name} at the end`));
  }
}

// --- the run --------------------------------------------------------------------------------

console.log(`web viewer benchmark: ${options.viewer}, ${touches} touches per device and side in ${rounds} turns`);
await hostSpeed();
const chromium = await launchBrowser();
try {
  for (const device of devices) {
    const viewerSamples = [];
    const bridgeSamples = [];
    let missed = 0;
    for (let round = 0; round < rounds; round++) {
      const count = Math.round(((round + 1) * touches) / rounds) - Math.round((round * touches) / rounds);
      const turn = await viewerRound(chromium.browser, device, count, viewerSamples.length + missed);
      viewerSamples.push(...turn.samples);
      missed += turn.missed;
      bridgeSamples.push(...(await bridgeRound(device, count)));
    }
    reportTurns(device, viewerSamples, missed, bridgeSamples);
  }
  if (soakMs > 0) for (const device of devices) await soak(chromium.browser, device);
} finally {
  await chromium.close();
}
await hostSpeed('end');
