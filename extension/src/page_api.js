// The page's view of the signing component: window.TessalSign.
// Runs in the page's own script world. It talks only to the extension's relay
// script in the same document, through DOM events whose detail is JSON text
// (plain strings cross between the page's world and the extension's world in
// every browser). The extension, not this file, tells the component which page
// is calling, so nothing a page does here can change its own origin.
(() => {
  'use strict';
  if (window.TessalSign) return;

  const TO_EXTENSION = 'tessal-sign:to-extension';
  const FROM_EXTENSION = 'tessal-sign:from-extension';
  const SOURCE = 'Tessal.Sign.1';
  const PUBLISHED_MEMBERS = [
    'syncTime', 'readNextFileXml', 'getProcessedFileName', 'moveProcessedFile', 'saveFileXml',
    'signXml', 'verifyXmlSign', 'reset', 'readFile', 'info', 'writeLog', 'writeEventLog',
    'convert', 'compress', 'getFileTime',
  ];
  const PROPERTY_PUTS = ['onCardRemoved', 'KeyContainer', 'PkiDomain'];
  // Long enough for a host that starts under load, short enough that a broken
  // installation does not leave the page waiting for ever.
  const READY_TIMEOUT_MS = 60000;

  const connections = new Map();
  let nextConnection = 1;

  const toExtension = (note) =>
    document.dispatchEvent(new CustomEvent(TO_EXTENSION, { detail: JSON.stringify(note) }));

  document.addEventListener(FROM_EXTENSION, (event) => {
    if (typeof event.detail !== 'string') return;
    let note;
    try { note = JSON.parse(event.detail); } catch { return; }
    const sign = note && connections.get(note.conn);
    if (sign) sign._receive(note);
  });

  const BASE64_SLICE = 0x8000;
  function bytesToBase64(bytes) {
    let text = '';
    for (let i = 0; i < bytes.length; i += BASE64_SLICE)
      text += String.fromCharCode.apply(null, bytes.subarray(i, i + BASE64_SLICE));
    return btoa(text);
  }
  function base64ToBytes(base64) {
    const text = atob(base64);
    const bytes = new Uint8Array(text.length);
    for (let i = 0; i < text.length; i++) bytes[i] = text.charCodeAt(i);
    return bytes;
  }

  function componentError(result) {
    const error = new Error(result.description);
    error.name = 'TessalSignError';
    error.hresult = result.hresult;
    error.description = result.description;
    error.source = result.source || SOURCE;
    return error;
  }
  function channelError(text) {
    const error = new Error(text);
    error.name = 'TessalSignError';
    error.description = text;
    error.source = SOURCE;
    return error;
  }

  // OLE colours are 0x00BBGGRR.
  function cssColour(ole) {
    return `rgb(${ole & 0xff}, ${(ole >>> 8) & 0xff}, ${(ole >>> 16) & 0xff})`;
  }

  class Face {
    constructor(sign, element) {
      this.sign = sign;
      this.element = element;
      this.requests = 0;
      this.canvas = element instanceof HTMLCanvasElement ? element : document.createElement('canvas');
      if (this.canvas !== element) {
        this.canvas.style.display = 'block';
        this.canvas.style.width = '100%';
        this.canvas.style.height = '100%';
        element.appendChild(this.canvas);
      }
      this.onClick = () => { sign.info().catch(() => {}); };
      this.canvas.addEventListener('click', this.onClick);
      this.resizeObserver = typeof ResizeObserver === 'function' ? new ResizeObserver(() => this.paint().catch(() => {})) : null;
      if (this.resizeObserver) this.resizeObserver.observe(this.canvas);
    }

    async paint() {
      const width = Math.max(0, Math.round(this.canvas.clientWidth || this.element.clientWidth));
      const height = Math.max(0, Math.round(this.canvas.clientHeight || this.element.clientHeight));
      const request = ++this.requests;
      const face = await this.sign._request({ type: 'face', width, height });
      // Repaints can overlap; an older answer must not cover a newer one.
      if (request !== this.requests) return face;
      this.canvas.width = width;
      this.canvas.height = height;
      const context = this.canvas.getContext('2d');
      context.clearRect(0, 0, width, height);
      const drawn = face && Array.isArray(face.rectangles) && face.rectangles.length > 0;
      if (drawn) {
        context.fillStyle = cssColour(face.colour >>> 0);
        for (const [left, top, right, bottom] of face.rectangles)
          context.fillRect(left, top, right - left, bottom - top);
      }
      // A hand over the face while it shows a pattern: a click opens the summary.
      this.canvas.style.cursor = drawn ? 'pointer' : '';
      return face;
    }

    detach() {
      this.canvas.removeEventListener('click', this.onClick);
      if (this.resizeObserver) this.resizeObserver.disconnect();
      if (this.canvas !== this.element) this.canvas.remove();
    }
  }

  class Sign {
    static create() {
      return new Promise((resolve, reject) => {
        const sign = new Sign(nextConnection++);
        const timer = setTimeout(() => sign._abandon(channelError('The signing component did not answer')), READY_TIMEOUT_MS);
        sign._opened = { resolve: (value) => { clearTimeout(timer); resolve(value); },
                         reject: (error) => { clearTimeout(timer); reject(error); } };
        connections.set(sign._connection, sign);
        toExtension({ op: 'open', conn: sign._connection });
      });
    }

    constructor(connection) {
      this._connection = connection;
      this._nextCall = 1;
      this._pending = new Map();
      this._callbacks = new Map();
      this._nextCallback = 1;
      this._faces = new Set();
      this._closed = null;
      this.members = [];
    }

    invoke(member, ...args) {
      try {
        return this._request({ type: 'invoke', member: String(member), args: args.map((arg) => this._argument(arg)) })
          .then((value) => this._value(value));
      } catch (error) {
        return Promise.reject(error);
      }
    }

    // A property put: KeyContainer, PkiDomain, or onCardRemoved with a function
    // (null clears it).
    async put(name, value) {
      const answer = await this.invoke(name, value);
      // The host keeps one card-removal callback: forget the functions it replaced.
      if (String(name).toLowerCase() === 'oncardremoved') {
        const newest = this._nextCallback - 1;
        for (const key of this._callbacks.keys()) if (key !== newest || typeof value !== 'function') this._callbacks.delete(key);
      }
      return answer;
    }

    async attachFace(element) {
      if (!(element instanceof HTMLElement)) throw new TypeError('attachFace needs an element');
      const face = new Face(this, element);
      this._faces.add(face);
      await face.paint();
      return face;
    }

    release() {
      if (this._closed) return;
      toExtension({ op: 'send', conn: this._connection, message: { type: 'release' } });
      this._abandon(channelError('The signing object was released'));
    }

    // Ends the connection from this side: the host process goes with it.
    _abandon(error) {
      toExtension({ op: 'close', conn: this._connection });
      this._close(error);
    }

    _argument(arg) {
      if (arg === undefined || arg === null) return null;
      switch (typeof arg) {
        case 'string': case 'boolean': return arg;
        case 'number':
          if (!Number.isFinite(arg)) throw new TypeError('A number argument must be finite');
          return arg;
        case 'function': {
          const key = this._nextCallback++;
          this._callbacks.set(key, arg);
          return { callback: key };
        }
      }
      if (arg instanceof ArrayBuffer) return { bytes: bytesToBase64(new Uint8Array(arg)) };
      if (ArrayBuffer.isView(arg))
        return { bytes: bytesToBase64(new Uint8Array(arg.buffer, arg.byteOffset, arg.byteLength)) };
      throw new TypeError('Arguments are strings, numbers, booleans, byte arrays or functions');
    }

    _value(value) {
      if (value && typeof value === 'object' && typeof value.bytes === 'string') return base64ToBytes(value.bytes);
      return value === undefined ? null : value;
    }

    _request(message) {
      if (this._closed) return Promise.reject(this._closed);
      const id = this._nextCall++;
      return new Promise((resolve, reject) => {
        this._pending.set(id, { resolve, reject });
        toExtension({ op: 'send', conn: this._connection, message: { ...message, id } });
      });
    }

    _receive(note) {
      if (note.disconnected) {
        const reason = note.reason ? `: ${note.reason}` : '';
        this._close(channelError(`The signing component stopped${reason}`));
        return;
      }
      const message = note.message;
      if (!message || typeof message !== 'object') return;
      if (message.type === 'ready') {
        this.members = Array.isArray(message.members) ? message.members.filter((m) => typeof m === 'string') : [];
        this._defineMembers();
        if (this._opened) { this._opened.resolve(this); this._opened = null; }
      } else if (message.type === 'result') {
        const call = this._pending.get(message.id);
        if (!call) return;
        this._pending.delete(message.id);
        if (message.ok) call.resolve(message.value === undefined ? null : message.value);
        else call.reject(componentError(message));
      } else if (message.type === 'event') {
        this._event(message);
      }
    }

    _event(message) {
      if (message.name === 'repaint') {
        for (const face of this._faces) face.paint().catch(() => {});
      } else if (message.name === 'cardRemoved') {
        const callback = this._callbacks.get(message.callback);
        if (callback) setTimeout(() => callback(), 0);
      }
    }

    _defineMembers() {
      const names = new Set(PUBLISHED_MEMBERS);
      for (const name of this.members)
        if (/^[A-Za-z][A-Za-z0-9]*$/.test(name)) names.add(name);
      for (const name of names) {
        if (PROPERTY_PUTS.some((put) => put.toLowerCase() === name.toLowerCase())) continue;
        if (name in this) continue;
        Object.defineProperty(this, name, { value: (...args) => this.invoke(name, ...args) });
      }
    }

    _close(error) {
      if (this._closed) return;
      this._closed = error;
      connections.delete(this._connection);
      if (this._opened) { this._opened.reject(error); this._opened = null; }
      for (const call of this._pending.values()) call.reject(error);
      this._pending.clear();
      this._callbacks.clear();
      for (const face of this._faces) face.detach();
      this._faces.clear();
    }
  }

  Object.defineProperty(window, 'TessalSign', {
    value: Object.freeze({ create: () => Sign.create() }),
    enumerable: false, configurable: false, writable: false,
  });
})();
