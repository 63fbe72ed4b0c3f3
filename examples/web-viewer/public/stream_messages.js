// The messages of a stream WebSocket, shared by the server's relay that sends the units
// and the page that shows them.
//
// Server to page, binary: one whole access unit behind a header of kUnitHeaderBytes,
// little-endian: the unit's number (uint32, from 1 on each socket, one up per unit
// sent), flags (uint32; bit 0: keyframe), and the server's wall-clock times (float64,
// ms since the Unix epoch) when the unit's first bytes came from the bridge and when it
// was sent to the page.
// Page to server, text: {"done": n} once every unit up to number n has been decoded or
// dropped, and {"keyframe": true} when the page cannot go on without a keyframe.
export const kUnitHeaderBytes = 24;
const kKeyframeFlag = 1;

// Milliseconds since the Unix epoch with the monotonic clock's resolution: the server
// and the page, on one machine, stamp on the same scale.
export function wallClockMs() {
  return performance.timeOrigin + performance.now();
}

export function packUnit(unit, { seq, keyframe, arrivedAt, sentAt }) {
  const message = new Uint8Array(kUnitHeaderBytes + unit.length);
  const header = new DataView(message.buffer, 0, kUnitHeaderBytes);
  header.setUint32(0, seq, true);
  header.setUint32(4, keyframe ? kKeyframeFlag : 0, true);
  header.setFloat64(8, arrivedAt, true);
  header.setFloat64(16, sentAt, true);
  message.set(unit, kUnitHeaderBytes);
  return message;
}

// The fields of a unit message (an ArrayBuffer), its access unit as a view into it; null
// when it is too short to hold a header.
export function unpackUnit(buffer) {
  if (buffer.byteLength < kUnitHeaderBytes) return null;
  const header = new DataView(buffer, 0, kUnitHeaderBytes);
  return {
    seq: header.getUint32(0, true),
    keyframe: (header.getUint32(4, true) & kKeyframeFlag) !== 0,
    arrivedAt: header.getFloat64(8, true),
    sentAt: header.getFloat64(16, true),
    bytes: new Uint8Array(buffer, kUnitHeaderBytes),
  };
}
