// The page: device choice, the live device view and its input, the buttons of the
// device's family, the display and stream panels, and every failure in view.
import { ControlClient } from './control_client.js';
import { buttonsFor, kTouchDown, macKeyCode, modifierFlags, TouchThinner } from './input_map.js';
import { ScreenStream } from './screen_stream.js';
import { StreamView } from './stream_view.js';
import { TouchTimer } from './touch_timing.js';

const $ = (id) => document.getElementById(id);
// Figures change the page (its layout and painting) only when they change.
const setText = (id, text) => {
  if ($(id).textContent !== String(text)) $(id).textContent = text;
};
const kTouchSamples = 20;

let devices = [];
let current = null; // the device chosen last: {udid, name, family, width, height}
let state = null; // the server's last state
let openError = null; // why the chosen device could not be captured
let autoOpened = false;
const touchPictureMs = []; // the last kTouchSamples touch-to-picture times
const touchArrivalMs = []; // and the times to the arrival of those pictures' bytes
const touchStages = []; // and the stages of those touches (touch_timing.js)

const touchTimer = new TouchTimer({
  onTimed: (stages) => {
    if (stages === null) {
      $('touch-picture').textContent = 'no change seen';
      return;
    }
    const ms = stages.drawn - stages.click;
    for (const [list, value] of [[touchPictureMs, ms], [touchArrivalMs, stages.unitAtPage - stages.click], [touchStages, stages]]) {
      list.push(value);
      if (list.length > kTouchSamples) list.shift();
    }
    $('touch-picture').textContent = `${Math.round(ms)} ms (median ${Math.round(median(touchPictureMs))} ms of ${touchPictureMs.length})`;
  },
});
const screen = new StreamView({
  canvas: $('screen'),
  note: $('screen-note'),
  path: '/stream/remote',
  maxSize: () => ({ width: Math.min(innerWidth * 0.9, 900), height: innerHeight * 0.78 }),
  onFps: (fps) => {
    const { width, height } = screen.pictureSize;
    setText('screen-fps', fps);
    setText('stream-size', screenStream.shown && width ? `${screenStream.shown} stream ${width} × ${height}` : '');
  },
  onDrawn: (picture, width, height, unit) => touchTimer.drawn(picture, width, height, unit),
});
const screenStream = new ScreenStream({
  view: screen,
  command: (request) => command(request),
  settings: () => ({
    bitrate: Number.parseInt($('remote-bitrate').value, 10) || 2000000,
    fps: Number.parseInt($('remote-fps').value, 10) || 30,
  }),
  refresh: () => showStream(),
});
// For scripted checks of the page (the tests read it).
window.viewer = { screen, screenStream, touchTimer, touchPictureMs, touchArrivalMs, touchStages };

const control = new ControlClient({ onState, onConnection });

// --- failures -----------------------------------------------------------------------

function showError(message) {
  const list = $('errors');
  const first = list.firstElementChild;
  if (first && first.dataset.message === message) {
    first.dataset.count = Number(first.dataset.count) + 1;
    first.querySelector('.count').textContent = `×${first.dataset.count}`;
    return;
  }
  const item = document.createElement('div');
  item.className = 'error';
  item.dataset.message = message;
  item.dataset.count = 1;
  const text = document.createElement('span');
  text.className = 'message';
  text.textContent = message;
  const count = document.createElement('span');
  count.className = 'count';
  const dismiss = document.createElement('button');
  dismiss.type = 'button';
  dismiss.textContent = 'Dismiss';
  dismiss.onclick = () => item.remove();
  item.append(text, count, dismiss);
  list.prepend(item);
  while (list.children.length > 5) list.lastElementChild.remove();
}

// Sends a command; a failure response shows as an error. Resolves with the response.
async function command(request, stamps) {
  const response = await control.command(request, stamps);
  if (!response.ok) showError(response.error ?? `${request.cmd}: failed ${JSON.stringify(response)}`);
  return response;
}

// --- server state -------------------------------------------------------------------

function onConnection(connected) {
  if (!connected) setStatus('exited', 'Viewer server unreachable; retrying…');
}

function onState(next) {
  const wasRunning = state?.bridge.running;
  state = next;
  const { bridge } = next;
  if (bridge.running) {
    setStatus('running', 'Bridge running');
  } else {
    setStatus('exited', bridge.exit ? `Bridge stopped: ${bridge.exit.message}` : 'Bridge starting…');
    if (wasRunning !== false && bridge.exit) showError(bridge.exit.message);
  }
  $('restart').hidden = bridge.running;
  $('log').textContent = bridge.log.join('\n');

  if (next.udid && next.udid !== current?.udid) choose(next.udid);
  if (!next.udid && !autoOpened && devices.length > 0 && bridge.running) {
    autoOpened = true;
    openDevice(devices[0].udid);
  }

  showStream();
}

function showStream() {
  const running = state.bridge.running;
  const waiting = !running ? 'The bridge is not running' : openError ? `Cannot capture: ${openError}` : state.udid ? 'Starting capture…' : 'Choose a device';
  screenStream.update(state, current ?? {}, waiting);
  $('full-resolution').checked = screenStream.fullResolution;
}

function setStatus(kind, text) {
  const status = $('bridge-status');
  status.className = `status ${kind}`;
  status.textContent = text;
}

// --- devices ------------------------------------------------------------------------

async function loadDevices() {
  const select = $('device');
  try {
    const response = await fetch('/api/devices');
    const body = await response.json();
    if (!response.ok) throw new Error(body.error);
    devices = body.devices;
  } catch (error) {
    showError(`Cannot list devices: ${error.message}`);
  }
  select.replaceChildren(
    ...devices.map((d) => new Option(`${d.name}${d.family === 3 ? ' (TV)' : ''}`, d.udid)),
  );
  if (devices.length === 0) select.append(new Option('No devices', ''));
}

// Shows a device as the chosen one, without starting capture.
function choose(udid) {
  current = devices.find((d) => d.udid === udid) ?? { udid, name: udid, family: 1, width: 0, height: 0 };
  $('device').value = udid;
  renderButtons(current.family);
  screen.setPlaceholder(current.width, current.height, true);
  showDisplayInfo(null);
}

async function openDevice(udid) {
  choose(udid);
  openError = null;
  const response = await control.request({ op: 'open', udid });
  if (!response.ok) {
    openError = response.error;
    showError(response.error);
    screen.stop(`Cannot capture: ${response.error}`);
    return;
  }
  loadDisplayInfo();
}

function renderButtons(family) {
  const box = $('buttons');
  box.className = family === 3 ? 'buttons remote' : 'buttons';
  box.replaceChildren(
    ...buttonsFor(family).map(({ label, name, title }) => {
      const button = document.createElement('button');
      button.type = 'button';
      button.textContent = label;
      button.title = title ?? label;
      button.dataset.button = name;
      button.onclick = () => current && command({ cmd: 'button', udid: current.udid, button: name });
      return button;
    }),
  );
}

// --- display panel ------------------------------------------------------------------

function showDisplayInfo(info) {
  $('display-width').textContent = info?.width ?? '–';
  $('display-height').textContent = info?.height ?? '–';
  $('display-orientation').textContent = info?.uiOrientation ?? '–';
  $('display-screen').textContent = info?.screenID ?? '–';
}

// A device that is still booting has no display yet: ask again for a few seconds.
async function loadDisplayInfo(attempt = 0) {
  const response = await control.command({ cmd: 'display_info' });
  if (response.ok) {
    showDisplayInfo(response);
    screen.setPlaceholder(response.width, response.height);
    if (current) Object.assign(current, { width: response.width, height: response.height });
    screenStream.resized();
  } else if (attempt < 8 && /no display/.test(response.error ?? '')) {
    setTimeout(() => loadDisplayInfo(attempt + 1), 500);
  } else {
    showDisplayInfo(null);
    showError(response.error);
  }
}

$('refresh-display').onclick = async () => {
  const response = await command({ cmd: 'refresh_display' });
  if (response.ok) loadDisplayInfo(8);
};

// --- stream panel -------------------------------------------------------------------

$('full-resolution').onchange = (event) => {
  screenStream.fullResolution = event.target.checked;
  if (state) showStream();
};
$('stream-form').onsubmit = (event) => {
  event.preventDefault();
  screenStream.apply();
};
let resizing = null;
addEventListener('resize', () => {
  clearTimeout(resizing);
  resizing = setTimeout(() => screenStream.resized(), 250);
});

// --- input --------------------------------------------------------------------------

const canvas = $('screen');
let timedTouch = null; // the stages of the touch-down being sent, while it is timed
const touches = new TouchThinner(
  async (type, x, y) => {
    if (!current) return;
    const stages = type === kTouchDown ? timedTouch : null;
    const stamps = {};
    await command({ cmd: 'touch', udid: current.udid, x, y, type }, stamps);
    if (stages) touchTimer.commandStamps(stages, stamps);
  },
  { intervalMs: () => 1000 / Math.min(60, Math.max(10, screen.fps || 30)) },
);
let stroke = null; // the pointer id of the stroke in progress

function position(event) {
  const box = canvas.getBoundingClientRect();
  const clamp = (v) => Math.min(1, Math.max(0, v));
  return [clamp((event.clientX - box.left) / box.width), clamp((event.clientY - box.top) / box.height)];
}

canvas.addEventListener('pointerdown', (event) => {
  if (!current || stroke !== null || event.button !== 0) return;
  canvas.focus();
  canvas.setPointerCapture(event.pointerId);
  stroke = event.pointerId;
  const [x, y] = position(event);
  // The touch goes out first; the picture cannot show it before the bridge has it.
  const stages = {};
  timedTouch = stages;
  touches.down(x, y);
  timedTouch = null;
  if (screen.framesDecoded > 0) touchTimer.start(x, y, event.timeStamp, canvas, canvas.width, canvas.height, stages);
});
canvas.addEventListener('pointermove', (event) => {
  if (event.pointerId === stroke) touches.move(...position(event));
});
for (const type of ['pointerup', 'pointercancel']) {
  canvas.addEventListener(type, (event) => {
    if (event.pointerId !== stroke) return;
    stroke = null;
    touches.up(...position(event));
  });
}

const heldKeys = new Map(); // KeyboardEvent.code -> Mac key code, while down
function sendKey(keyCode, flags, isDown) {
  if (current) command({ cmd: 'keyboard', udid: current.udid, keyCode, modifierFlags: flags, isDown });
}
canvas.addEventListener('keydown', (event) => {
  const keyCode = macKeyCode(event.code);
  if (keyCode === undefined || !current) return;
  event.preventDefault();
  heldKeys.set(event.code, keyCode);
  sendKey(keyCode, modifierFlags(event), true);
});
canvas.addEventListener('keyup', (event) => {
  const keyCode = heldKeys.get(event.code);
  if (keyCode === undefined) return;
  event.preventDefault();
  heldKeys.delete(event.code);
  sendKey(keyCode, modifierFlags(event), false);
});
// Keys still down when the picture loses focus would stay pressed on the device.
canvas.addEventListener('blur', () => {
  for (const keyCode of heldKeys.values()) sendKey(keyCode, 0, false);
  heldKeys.clear();
});

// --- start --------------------------------------------------------------------------

$('device').onchange = (event) => event.target.value && openDevice(event.target.value);
$('restart').onclick = async () => {
  $('restart').disabled = true;
  const response = await control.request({ op: 'restart' });
  $('restart').disabled = false;
  if (!response.ok) showError(response.error);
  else if (current) loadDisplayInfo();
};

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  const middle = sorted.length >> 1;
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
}

await loadDevices();
control.connect();
