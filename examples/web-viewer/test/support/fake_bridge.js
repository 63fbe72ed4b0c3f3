#!/usr/bin/env node
// A stand-in for corvane-sim-bridge that answers each line after a pause, saying how
// many lines were waiting meanwhile. {"cmd":"exit"} ends it with status 3;
// {"cmd":"hang"} is never answered.
import { createInterface } from 'node:readline';

let waiting = 0;
createInterface({ input: process.stdin }).on('line', (line) => {
  const request = JSON.parse(line);
  waiting++;
  if (request.cmd === 'exit') {
    process.stderr.write('fake bridge: exiting\n');
    process.exit(3);
  }
  if (request.cmd === 'hang') return;
  setTimeout(() => {
    process.stdout.write(`${JSON.stringify({ ok: true, cmd: request.cmd, alsoWaiting: waiting - 1 })}\n`);
    waiting--;
  }, 20);
});
