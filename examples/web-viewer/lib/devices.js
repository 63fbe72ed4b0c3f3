// The devices the viewer offers: on a Mac the booted simulators, elsewhere the virtual
// devices of the bridge's own catalog (the file its build is made from).
import { execFile } from 'node:child_process';
import { readFile } from 'node:fs/promises';
import { fileURLToPath } from 'node:url';
import { promisify } from 'node:util';

export const catalogPath = fileURLToPath(new URL('../../../bridge/platform/virtual_simulator/catalog.json', import.meta.url));

// Each device: {udid, name, family (1 phone, 2 tablet, 3 TV, 4 watch), width, height}
// (width and height 0 when not known before capture).
export async function listDevices(platform = process.platform) {
  return platform === 'darwin' ? bootedSimulators() : virtualDevices();
}

export async function virtualDevices(path = catalogPath) {
  const catalog = JSON.parse(await readFile(path, 'utf8'));
  return catalog.devices.map((d) => ({
    udid: d.udid,
    name: d.name,
    family: d.productFamily,
    width: d.displayWidth,
    height: d.displayHeight,
  }));
}

async function bootedSimulators() {
  const { stdout } = await promisify(execFile)('xcrun', ['simctl', 'list', 'devices', 'booted', '-j']);
  return simulatorsFromList(JSON.parse(stdout));
}

// The output of `simctl list devices -j`: {devices: {runtime id: [device, ...]}}.
export function simulatorsFromList(list) {
  const devices = [];
  for (const [runtime, entries] of Object.entries(list.devices ?? {})) {
    for (const d of entries) {
      if (d.state !== 'Booted') continue;
      devices.push({ udid: d.udid, name: d.name, family: familyOf(runtime, d.deviceTypeIdentifier ?? ''), width: 0, height: 0 });
    }
  }
  return devices;
}

function familyOf(runtime, deviceType) {
  if (/tvOS/i.test(runtime) || /Apple-TV/i.test(deviceType)) return 3;
  if (/watchOS/i.test(runtime)) return 4;
  if (/iPad/i.test(deviceType)) return 2;
  return 1;
}
