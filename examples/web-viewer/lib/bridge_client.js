// The bridge process and its JSON-lines protocol: starts corvane-sim-bridge, writes each
// request line as soon as it is made (the bridge answers lines in order, one response
// each, so a request never waits here for the answers to earlier ones: a touch reaches
// the bridge at once), keeps the last lines of its log, and reports its exit. One
// BridgeClient runs one bridge process; start a new client to restart.
import { spawn } from 'node:child_process';
import { EventEmitter } from 'node:events';
import { createInterface } from 'node:readline';

const kLogLines = 40;

export class BridgeError extends Error {}

// Events: 'log' (line) for each line on the bridge's standard error; 'exit'
// ({code, signal, message}) once, when the process has ended or could not start.
export class BridgeClient extends EventEmitter {
  #child;
  #queue = []; // {request, resolve, reject}, written and not yet answered, oldest first
  #timer = null; // the oldest request's time-out
  #exited = null;
  #killedBecause = null; // why this client killed the bridge, reported as its exit
  #responseTimeoutMs;
  log = [];

  constructor({ path, responseTimeoutMs = 15000 }) {
    super();
    this.path = path;
    this.#responseTimeoutMs = responseTimeoutMs;
  }

  start() {
    this.#child = spawn(this.path, [], { stdio: ['pipe', 'pipe', 'pipe'] });
    this.#child.on('error', (error) => this.#ended({ code: null, signal: null, message: `cannot start ${this.path}: ${error.message}` }));
    this.#child.on('exit', (code, signal) => this.#ended({ code, signal, message: this.#killedBecause ?? describeExit(code, signal) }));
    // A closed pipe shows up as the exit above; writing to it must not end the server.
    this.#child.stdin.on('error', () => {});
    createInterface({ input: this.#child.stdout }).on('line', (line) => this.#response(line));
    createInterface({ input: this.#child.stderr }).on('line', (line) => {
      this.log.push(line);
      if (this.log.length > kLogLines) this.log.shift();
      this.emit('log', line);
    });
  }

  get pid() {
    return this.#child?.pid;
  }

  get running() {
    return this.#child !== undefined && this.#exited === null;
  }

  // Sends one request object; resolves with the parsed response object (whatever its
  // "ok"), rejects with a BridgeError when the bridge is gone or did not answer in time.
  request(request) {
    if (!this.running) return Promise.reject(new BridgeError(this.#exited?.message ?? 'the bridge is not running'));
    return new Promise((resolve, reject) => {
      this.#queue.push({ request, resolve, reject });
      this.#child.stdin.write(`${JSON.stringify(request)}\n`);
      if (this.#queue.length === 1) this.#awaitOldest();
    });
  }

  // Ends the bridge's input (it exits with status 0), and kills it if it has not
  // exited after `graceMs`. Resolves once it has exited.
  stop(graceMs = 2000) {
    if (!this.running) return Promise.resolve();
    return new Promise((resolve) => {
      const kill = setTimeout(() => this.#child.kill('SIGKILL'), graceMs);
      this.once('exit', () => {
        clearTimeout(kill);
        resolve();
      });
      this.#child.stdin.end();
    });
  }

  // The oldest request's answer is due within the time-out: from when it was written,
  // or from the answer before it (the bridge takes one line at a time).
  #awaitOldest() {
    const next = this.#queue[0];
    if (!next) return;
    this.#timer = setTimeout(() => {
      // A bridge that stops answering would hold every later request; end it so that
      // the page can report it and start a new one.
      this.#killedBecause = `the bridge did not answer "${next.request.cmd}" within ${this.#responseTimeoutMs / 1000} s`;
      this.#child.kill('SIGKILL');
      this.#fail(new BridgeError(this.#killedBecause));
    }, this.#responseTimeoutMs);
  }

  #response(line) {
    const waiting = this.#queue.shift();
    if (!waiting) {
      this.emit('log', `unexpected response line: ${line}`);
      return;
    }
    clearTimeout(this.#timer);
    let response;
    try {
      response = JSON.parse(line);
    } catch {
      response = { ok: false, error: `unreadable response: ${line}` };
    }
    waiting.resolve(response);
    this.#awaitOldest();
  }

  #fail(error) {
    clearTimeout(this.#timer);
    for (const waiting of this.#queue.splice(0)) waiting.reject(error);
  }

  #ended(exit) {
    if (this.#exited) return;
    this.#exited = exit;
    this.#fail(new BridgeError(exit.message));
    this.emit('exit', exit);
  }
}

function describeExit(code, signal) {
  if (signal) return `the bridge was ended by ${signal}`;
  return `the bridge exited with status ${code}`;
}
