// H.264 Annex B helpers shared by the server (splitting the stream into access units)
// and the page (keyframes, decoder configuration). Plain functions over Uint8Array
// (Node's Buffer is one); no state.

export const NAL_IDR = 5;
export const NAL_SEI = 6;
export const NAL_SPS = 7;
export const NAL_PPS = 8;
export const NAL_AUD = 9;

// Offset of the next 00 00 01 at or after `from`, or -1.
export function findStartCode(bytes, from = 0) {
  for (let i = Math.max(0, from); i + 2 < bytes.length; i++) {
    if (bytes[i + 2] > 1) {
      i += 2; // no start code can end at i + 2 or begin before i + 3
    } else if (bytes[i] === 0 && bytes[i + 1] === 0 && bytes[i + 2] === 1) {
      return i;
    }
  }
  return -1;
}

// Where the start code at `code` begins: one byte earlier for the 4-byte form
// (00 00 00 01), whose leading zero is taken only when it lies after `floor`.
export function startCodeBegin(bytes, code, floor = 0) {
  return code > floor && bytes[code - 1] === 0 ? code - 1 : code;
}

// The NAL units of a run of Annex B bytes: [{type, offset, end}], offset being the first
// byte after the start code (the NAL header) and end one past the unit's last byte.
export function nalUnits(bytes) {
  const units = [];
  let code = findStartCode(bytes, 0);
  while (code >= 0) {
    const offset = code + 3;
    const next = findStartCode(bytes, offset);
    const end = next < 0 ? bytes.length : startCodeBegin(bytes, next, offset);
    if (offset < bytes.length) units.push({ type: bytes[offset] & 0x1f, offset, end });
    code = next;
  }
  return units;
}

export function isVcl(type) {
  return type >= 1 && type <= 5;
}

// Whether a slice NAL unit (header at `offset`) starts a picture: first_mb_in_slice is 0,
// whose Exp-Golomb code is the single bit 1.
export function startsPicture(bytes, offset) {
  return offset + 1 < bytes.length && (bytes[offset + 1] & 0x80) !== 0;
}

export function isKeyframe(accessUnit) {
  return nalUnits(accessUnit).some((nal) => nal.type === NAL_IDR);
}

// The WebCodecs codec string ("avc1.PPCCLL") of the first sequence parameter set in an
// access unit, or null when it carries none. Profile, constraint flags and level are the
// three bytes after the NAL header; no emulation prevention can fall among them.
export function codecString(accessUnit) {
  const sps = nalUnits(accessUnit).find((nal) => nal.type === NAL_SPS && nal.end - nal.offset >= 4);
  if (!sps) return null;
  const hex = (b) => b.toString(16).padStart(2, '0');
  const at = sps.offset;
  return `avc1.${hex(accessUnit[at + 1])}${hex(accessUnit[at + 2])}${hex(accessUnit[at + 3])}`;
}
