// Splits a raw H.264 Annex B byte stream, as read from a stream server in pieces of any
// size, into whole access units. A unit ends where the next one begins: at an access
// unit delimiter, a parameter set or SEI that follows the unit's picture, or the first
// slice of the next picture. So a unit leaves here when the next one starts arriving
// (one frame interval later), or when flush() is called.
import { NAL_AUD, NAL_PPS, NAL_SEI, NAL_SPS, findStartCode, isVcl, startCodeBegin, startsPicture } from '../public/h264.js';

// NAL unit types that may only stand before a picture of their access unit.
function opensUnit(type) {
  return type === NAL_AUD || type === NAL_SPS || type === NAL_PPS || type === NAL_SEI || (type >= 14 && type <= 18);
}

export class AccessUnitSplitter {
  #buffer = Buffer.alloc(0); // starts at the current unit's first start code
  #scanned = 0; // offset in #buffer from which start codes are still to be examined
  #hasPicture = false; // the current unit holds a slice
  #synced = false; // #buffer begins at a start code

  // Adds bytes; returns the access units they completed, in order.
  push(chunk) {
    let buffer = this.#buffer.length ? Buffer.concat([this.#buffer, chunk]) : Buffer.from(chunk);
    if (!this.#synced) {
      // Bytes before the first start code belong to no unit we can use.
      const code = findStartCode(buffer, 0);
      if (code < 0) {
        this.#buffer = buffer.subarray(Math.max(0, buffer.length - 3));
        return [];
      }
      buffer = buffer.subarray(startCodeBegin(buffer, code));
      this.#synced = true;
      this.#scanned = 0;
      this.#hasPicture = false;
    }
    const units = [];
    let unitStart = 0;
    let code = findStartCode(buffer, this.#scanned);
    while (code >= 0) {
      const header = code + 3;
      // The decision needs the NAL header and, for a slice, the byte after it.
      if (header + 1 >= buffer.length) break;
      const type = buffer[header] & 0x1f;
      const vcl = isVcl(type);
      if (this.#hasPicture && (opensUnit(type) || (vcl && startsPicture(buffer, header)))) {
        const next = startCodeBegin(buffer, code, unitStart);
        units.push(buffer.subarray(unitStart, next));
        unitStart = next;
        this.#hasPicture = false;
      }
      if (vcl) this.#hasPicture = true;
      code = findStartCode(buffer, header);
    }
    // Resume scanning where an unfinished start code or header may sit.
    const resume = code >= 0 ? code : Math.max(unitStart, buffer.length - 3);
    this.#buffer = buffer.subarray(unitStart);
    this.#scanned = resume - unitStart;
    return units.map((unit) => Buffer.from(unit));
  }

  // Hands out the unit in progress when it holds a picture (the stream paused or ended
  // after it), or null. Bytes that arrive next without a start code in front are
  // dropped up to the next start code.
  flush() {
    if (!this.#hasPicture) return null;
    const unit = Buffer.from(this.#buffer);
    this.#buffer = Buffer.alloc(0);
    this.#scanned = 0;
    this.#hasPicture = false;
    this.#synced = false;
    return unit;
  }

  // Whether bytes of a unit are waiting for the next unit to begin.
  get pending() {
    return this.#hasPicture;
  }
}
