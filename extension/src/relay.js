// Relays between the page's TessalSign objects and the extension's background.
// Runs in the extension's isolated world of every frame. Each signing object of
// the page gets a port of its own, so the background can start one host
// process per object; the browser stamps each port with the frame's address.
(() => {
  'use strict';
  const api = globalThis.browser ?? globalThis.chrome;
  const TO_EXTENSION = 'tessal-sign:to-extension';
  const FROM_EXTENSION = 'tessal-sign:from-extension';
  const PAGE_MESSAGE_TYPES = new Set(['invoke', 'face', 'release']);
  // Each open port starts a host process; a frame gets no more than this at once.
  const MAX_PORTS = 16;
  const ports = new Map();

  const toPage = (note) =>
    document.dispatchEvent(new CustomEvent(FROM_EXTENSION, { detail: JSON.stringify(note) }));

  function open(conn) {
    if (ports.has(conn)) return;
    if (ports.size >= MAX_PORTS) {
      toPage({ conn, disconnected: true, reason: 'too many signing objects in this page' });
      return;
    }
    const port = api.runtime.connect({ name: 'tessal-sign' });
    ports.set(conn, port);
    port.onMessage.addListener((message) => {
      if (message && message.type === 'disconnected') {
        ports.delete(conn);
        toPage({ conn, disconnected: true, reason: message.reason || '' });
      } else {
        toPage({ conn, message });
      }
    });
    port.onDisconnect.addListener(() => {
      if (!ports.has(conn)) return;
      ports.delete(conn);
      toPage({ conn, disconnected: true, reason: '' });
    });
  }

  document.addEventListener(TO_EXTENSION, (event) => {
    if (typeof event.detail !== 'string') return;
    let note;
    try { note = JSON.parse(event.detail); } catch { return; }
    if (!note || !Number.isSafeInteger(note.conn)) return;
    if (note.op === 'open') {
      open(note.conn);
      return;
    }
    const port = ports.get(note.conn);
    if (!port) return;
    if (note.op === 'send' && note.message && PAGE_MESSAGE_TYPES.has(note.message.type)) {
      port.postMessage(note.message);
    } else if (note.op === 'close') {
      ports.delete(note.conn);
      port.disconnect();
    }
  });
})();
