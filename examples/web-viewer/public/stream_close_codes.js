// The codes with which the server closes a stream WebSocket, shared by the relay that
// closes it and the page that reconnects.

export const kCloseStreamEnded = 4001; // the bridge closed the stream, or moved it
export const kCloseNoStream = 4004; // no stream of that kind is running
