// The extension's background, run in node with a stand-in for the browser's
// runtime API: what reaches the host comes from the browser's sender, long
// messages cross in order-checked chunks, and a host that goes away is reported.
// Usage: node background_bridge.test.mjs PATH_TO_background.js
import { readFileSync } from 'node:fs';
import vm from 'node:vm';
import test from 'node:test';
import assert from 'node:assert/strict';

class FakePort {
  constructor(name, sender) {
    this.name = name;
    this.sender = sender;
    this.sent = [];
    this.disconnected = false;
    this.listeners = { message: [], disconnect: [] };
    this.onMessage = { addListener: (f) => this.listeners.message.push(f) };
    this.onDisconnect = { addListener: (f) => this.listeners.disconnect.push(f) };
  }
  postMessage(message) { this.sent.push(JSON.parse(JSON.stringify(message))); }
  disconnect() { this.disconnected = true; }
  deliver(message) { for (const f of this.listeners.message) f(message); }
  drop() { for (const f of this.listeners.disconnect) f(this); }
}

function loadBackground() {
  const natives = [];
  let onConnect = null;
  const runtime = {
    onConnect: { addListener: (f) => { onConnect = f; } },
    connectNative: (name) => { const port = new FakePort(name); natives.push(port); return port; },
    lastError: undefined,
  };
  const context = vm.createContext({ chrome: { runtime }, TextEncoder, TextDecoder, URL, atob, btoa });
  vm.runInContext(readFileSync(process.argv[2], 'utf8'), context);
  const connect = (sender) => {
    const page = new FakePort('tessal-sign', sender);
    onConnect(page);
    return { page, host: natives[natives.length - 1] };
  };
  return { connect, context };
}

const SENDER = { url: 'https://www.nk.example/app/page.html', origin: 'https://www.nk.example' };
const ready = { type: 'ready', members: ['signXml'] };

test('the host hears the browser\'s sender first and page calls only after ready', () => {
  const { connect } = loadBackground();
  const { page, host } = connect(SENDER);
  assert.equal(host.name, 'tessal.sign');
  page.deliver({ type: 'hello', url: 'https://evil.example/', origin: 'https://evil.example' });
  page.deliver({ type: 'chunk', message: 1, index: 0, count: 1, data: '' });
  page.deliver({ type: 'invoke', id: 1, member: 'reset', args: [], origin: 'https://evil.example' });
  assert.deepEqual(host.sent, [{ type: 'hello', url: SENDER.url, origin: SENDER.origin }]);
  host.deliver(ready);
  assert.deepEqual(host.sent.slice(1), [{ type: 'invoke', id: 1, member: 'reset', args: [] }]);
  assert.deepEqual(page.sent, [ready]);
});

test('a sender without an origin is named by its address\'s origin', () => {
  const { connect } = loadBackground();
  const { host } = connect({ url: 'http://pki.nk.example:8080/a?b' });
  assert.equal(host.sent[0].origin, 'http://pki.nk.example:8080');
});

test('long messages cross as chunks both ways, whole characters and all', () => {
  const { connect, context } = loadBackground();
  const { page, host } = connect(SENDER);
  host.deliver(ready);
  const text = 'Ąžuolynas '.repeat(120000);  // about 1.3 MB of UTF-8, two-byte letters across part ends
  page.deliver({ type: 'invoke', id: 2, member: 'verifyXmlSign', args: [text] });
  const chunks = host.sent.filter((m) => m.type === 'chunk');
  assert.ok(chunks.length >= 3);
  for (const [i, chunk] of chunks.entries()) {
    assert.equal(chunk.index, i);
    assert.ok(Buffer.from(chunk.data, 'base64').length <= 512 * 1024);
  }
  const whole = JSON.parse(Buffer.concat(chunks.map((c) => Buffer.from(c.data, 'base64'))).toString('utf8'));
  assert.deepEqual(whole, { type: 'invoke', id: 2, member: 'verifyXmlSign', args: [text] });

  // The host's long answer, cut the same way, reaches the page whole.
  const answer = { type: 'result', id: 2, ok: true, value: text };
  for (const part of context.encodeForHost(answer, () => 7)) host.deliver(part);
  assert.deepEqual(page.sent.at(-1), answer);
});

test('broken chunk sequences end the connection and tell the page', () => {
  const part = (message, index, count, bytes = 10) =>
    ({ type: 'chunk', message, index, count, data: Buffer.alloc(bytes, 0x20).toString('base64') });
  const sequences = {
    'a part out of order': [part(1, 0, 3), part(1, 2, 3)],
    'a part of another message': [part(1, 0, 2), part(2, 1, 2)],
    'a new message inside another': [part(1, 0, 2), part(2, 0, 2)],
    'a part with no start': [part(1, 1, 2)],
    'a part over 512 KiB': [part(1, 0, 2, 512 * 1024 + 1)],
    'more than 64 MiB announced': [part(1, 0, 129)],
    'a whole that is not UTF-8 JSON': [{ type: 'chunk', message: 1, index: 0, count: 1, data: Buffer.from([0xff, 0x7b]).toString('base64') }],
  };
  for (const [name, chunks] of Object.entries(sequences)) {
    const { connect } = loadBackground();
    const { page, host } = connect(SENDER);
    host.deliver(ready);
    for (const chunk of chunks) host.deliver(chunk);
    assert.ok(host.disconnected, name);
    assert.equal(page.sent.at(-1).type, 'disconnected', name);
    assert.ok(page.disconnected, name);
  }
});

test('a host that goes away is reported to the page, and a page that goes away ends the host', () => {
  const { connect } = loadBackground();
  const first = connect(SENDER);
  first.host.error = { message: 'Native host has exited.' };
  first.host.drop();
  assert.deepEqual(first.page.sent.at(-1), { type: 'disconnected', reason: 'Native host has exited.' });
  assert.ok(first.page.disconnected);

  const second = connect(SENDER);
  second.page.drop();
  assert.ok(second.host.disconnected);
});
