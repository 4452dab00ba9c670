// Connects each page port to a native host process of its own.
// The host learns the calling frame's address from what the browser says of
// the port's sender, never from the page: the page's own messages may only
// call members, ask for the face and release the object.
'use strict';
const api = globalThis.browser ?? globalThis.chrome;
const NATIVE_HOST = 'tessal.sign';

// What a page may ask, rebuilt from the known fields only: anything else the
// page puts in its message never reaches the host.
function pageRequest(message) {
  if (!message || typeof message !== 'object') return null;
  switch (message.type) {
    case 'invoke':
      if (typeof message.member !== 'string' || !Array.isArray(message.args)) return null;
      return { type: 'invoke', id: message.id, member: message.member, args: message.args };
    case 'face':
      return { type: 'face', id: message.id, width: message.width, height: message.height };
    case 'release':
      return { type: 'release' };
    default:
      return null;
  }
}

// A message whose JSON is longer than this goes as chunks; no chunk carries
// more, and a chunked message may not exceed the total below.
const CHUNK_BYTES = 512 * 1024;
const MAX_MESSAGE_BYTES = 64 * 1024 * 1024;

function bytesToBase64(bytes) {
  let text = '';
  for (let i = 0; i < bytes.length; i += 0x8000)
    text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
  return btoa(text);
}

function base64ToBytes(base64) {
  const text = atob(base64);
  const bytes = new Uint8Array(text.length);
  for (let i = 0; i < text.length; i++) bytes[i] = text.charCodeAt(i);
  return bytes;
}

// Splits one message into chunk messages when its JSON is too long to go whole.
function* encodeForHost(message, numberLongMessage) {
  const json = new TextEncoder().encode(JSON.stringify(message));
  if (json.length <= CHUNK_BYTES) {
    yield message;
    return;
  }
  const count = Math.ceil(json.length / CHUNK_BYTES);
  const messageNumber = numberLongMessage();
  for (let index = 0; index < count; index++) {
    const part = json.subarray(index * CHUNK_BYTES, (index + 1) * CHUNK_BYTES);
    yield { type: 'chunk', message: messageNumber, index, count, data: bytesToBase64(part) };
  }
}

// Puts the host's chunk messages back together; refuses parts out of order,
// oversized parts and a whole beyond the limit.
class ChunkAssembler {
  constructor() { this.current = null; }

  // Answers the whole message when the last part arrives, else null; throws on a fault.
  add(chunk) {
    const { message, index, count, data } = chunk;
    if (!Number.isSafeInteger(index) || !Number.isSafeInteger(count) || count < 1 || index < 0 ||
        index >= count || typeof data !== 'string')
      throw new Error('malformed chunk');
    if (index === 0) {
      if (this.current) throw new Error('a long message started inside another');
      if (count > Math.ceil(MAX_MESSAGE_BYTES / CHUNK_BYTES)) throw new Error('message too long');
      this.current = { message, count, next: 0, parts: [], total: 0 };
    }
    const current = this.current;
    if (!current || current.message !== message || current.count !== count || current.next !== index)
      throw new Error('chunks out of order');
    const part = base64ToBytes(data);
    if (part.length > CHUNK_BYTES) throw new Error('chunk too long');
    current.total += part.length;
    if (current.total > MAX_MESSAGE_BYTES) throw new Error('message too long');
    current.parts.push(part);
    current.next++;
    if (current.next < count) return null;
    this.current = null;
    const whole = new Uint8Array(current.total);
    let offset = 0;
    for (const p of current.parts) { whole.set(p, offset); offset += p.length; }
    return JSON.parse(new TextDecoder('utf-8', { fatal: true }).decode(whole));
  }
}

function senderOrigin(sender) {
  if (sender.origin) return sender.origin;
  try { return new URL(sender.url).origin; } catch { return 'null'; }
}

function bridge(page) {
  const sender = page.sender || {};
  const url = sender.url || '';
  let native;
  try {
    native = api.runtime.connectNative(NATIVE_HOST);
  } catch (error) {
    page.postMessage({ type: 'disconnected', reason: String(error && error.message || error) });
    page.disconnect();
    return;
  }
  const waiting = [];
  const assembler = new ChunkAssembler();
  let ready = false;
  let ended = false;
  let longMessages = 0;

  const end = (reason) => {
    if (ended) return;
    ended = true;
    try { native.disconnect(); } catch { /* already gone */ }
    try {
      page.postMessage({ type: 'disconnected', reason });
      page.disconnect();
    } catch { /* the page has gone */ }
  };
  const toHost = (message) => {
    for (const part of encodeForHost(message, () => ++longMessages)) native.postMessage(part);
  };

  native.onMessage.addListener((incoming) => {
    let message = incoming;
    if (incoming && incoming.type === 'chunk') {
      try {
        message = assembler.add(incoming);
      } catch (error) {
        end(`the component sent a broken long message (${error.message})`);
        return;
      }
      if (!message) return;
    }
    if (!message || typeof message !== 'object') return;
    if (message.type === 'ready' && !ready) {
      ready = true;
      page.postMessage(message);
      while (waiting.length) toHost(waiting.shift());
      return;
    }
    page.postMessage(message);
  });
  native.onDisconnect.addListener((port) => {
    const error = (port && port.error) || api.runtime.lastError;
    end(error && error.message ? error.message : 'the component ended');
  });
  page.onMessage.addListener((message) => {
    const request = pageRequest(message);
    if (ended || !request) return;
    if (ready) toHost(request);
    else waiting.push(request);
  });
  page.onDisconnect.addListener(() => {
    ended = true;
    try { native.disconnect(); } catch { /* already gone */ }
  });

  native.postMessage({ type: 'hello', url, origin: senderOrigin(sender) });
}

api.runtime.onConnect.addListener((page) => {
  if (page.name === 'tessal-sign') bridge(page);
});
