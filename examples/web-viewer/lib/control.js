// The page's control socket: requests from the page, each answered with its id, and
// the session's state pushed whenever it changes.
//
// Page to server: {id, op: 'open', udid} | {id, op: 'command', request} |
//                 {id, op: 'restart'}
// Server to page: {id, response, timing} with the bridge's response (or one in its
//                 shape) and when the server received the request, wrote it to the
//                 bridge and had the answer (wall-clock ms, see stream_messages.js), and
//                 {event: 'state', state} with Session.state().
import { wallClockMs } from '../public/stream_messages.js';

export function handleControl(ws, session) {
  const sendState = (state) => ws.send(JSON.stringify({ event: 'state', state }));
  session.on('change', sendState);
  ws.on('close', () => session.off('change', sendState));
  sendState(session.state());

  ws.on('message', async (data, isBinary) => {
    let message;
    try {
      message = isBinary ? null : JSON.parse(data.toString());
    } catch {
      message = null;
    }
    if (message === null || typeof message !== 'object') return;
    const received = wallClockMs();
    const answer = perform(session, message); // a bridge command is written before this returns
    const written = wallClockMs();
    const response = await answer;
    const timing = { received, written, answered: wallClockMs() };
    if (ws.readyState === ws.OPEN) ws.send(JSON.stringify({ id: message.id, response, timing }));
  });
}

async function perform(session, message) {
  switch (message.op) {
    case 'open':
      if (typeof message.udid !== 'string') return { ok: false, error: 'open: missing udid' };
      return session.open(message.udid);
    case 'command':
      return session.command(message.request);
    case 'restart':
      return (await session.restart()) ?? { ok: true };
    default:
      return { ok: false, error: `unknown operation '${String(message.op)}'` };
  }
}
