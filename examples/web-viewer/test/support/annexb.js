// Small H.264 access units in the bridge's layout (4-byte start codes, parameter sets in
// front of keyframes), for tests of the code that splits and relays them. A slice's byte
// after its header is 0x80 or above when first_mb_in_slice is 0 (it starts a picture).
export const start = [0, 0, 0, 1];
export const sps = [...start, 0x67, 0x4d, 0x40, 0x28, 0xab];
export const pps = [...start, 0x68, 0xee, 0x3c];
export const idr = (fill) => [...start, 0x65, 0x88, fill, fill, 0x00, 0x00, 0x03, 0x01];
export const pSlice = (fill) => [...start, 0x41, 0x9a, fill, fill];
export const secondSlice = (fill) => [...start, 0x41, 0x40, fill]; // first_mb_in_slice > 0
export const keyframe = (fill) => [...sps, ...pps, ...idr(fill)];
