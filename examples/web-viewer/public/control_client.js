// The page's side of the control socket (see lib/control.js on the server): requests
// answered by id, state pushed by the server, and reconnection when the socket drops.

const kFirstRetryMs = 250; // after a drop, doubled on each further failure
const kMaxRetryMs = 4000;

export class ControlClient {
  #ws = null;
  #nextId = 1;
  #waiting = new Map(); // id -> resolve
  #retryMs = kFirstRetryMs;

  // onState(state) for every state the server pushes; onConnection(connected) when the
  // socket opens or drops.
  constructor({ onState, onConnection }) {
    this.onState = onState;
    this.onConnection = onConnection;
  }

  connect() {
    const ws = new WebSocket(`ws://${location.host}/control`);
    this.#ws = ws;
    ws.onopen = () => {
      this.#retryMs = kFirstRetryMs;
      this.onConnection(true);
    };
    ws.onmessage = (event) => {
      const message = JSON.parse(event.data);
      if (message.event === 'state') {
        this.onState(message.state);
      } else {
        this.#waiting.get(message.id)?.(message.response, message.timing);
        this.#waiting.delete(message.id);
      }
    };
    ws.onclose = () => {
      // Requests of a dropped socket get no answer: fail them in the response shape.
      for (const resolve of this.#waiting.values()) resolve({ ok: false, error: 'lost the connection to the viewer server' });
      this.#waiting.clear();
      this.onConnection(false);
      setTimeout(() => this.connect(), this.#retryMs);
      this.#retryMs = Math.min(this.#retryMs * 2, kMaxRetryMs);
    };
  }

  // Resolves with the response: the bridge's, or one in its shape ({ok: false, error}).
  // `stamps`, when given, gets when the request was sent and answered (page clock) and
  // the server's timing (see lib/control.js).
  request(message, stamps = null) {
    if (this.#ws?.readyState !== WebSocket.OPEN) {
      return Promise.resolve({ ok: false, error: 'not connected to the viewer server' });
    }
    const id = this.#nextId++;
    return new Promise((resolve) => {
      this.#waiting.set(id, (response, timing) => {
        if (stamps) Object.assign(stamps, { answered: performance.now(), timing });
        resolve(response);
      });
      this.#ws.send(JSON.stringify({ ...message, id }));
      if (stamps) stamps.sent = performance.now();
    });
  }

  command(request, stamps = null) {
    return this.request({ op: 'command', request }, stamps);
  }
}
