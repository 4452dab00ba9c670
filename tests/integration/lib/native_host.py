#!/usr/bin/env python3
"""Drives tessal-host as a browser would, for the integration checks.

usage: native_host.py HOST SCRIPT.json TRANSCRIPT.json

SCRIPT is a JSON array of messages sent in order; a message with an "id" is
answered before the next one goes. Placeholders inside a message:
  {"bytesFile": PATH}  becomes {"bytes": BASE64 of the file}
  {"resultOf": ID}     becomes the value of the earlier answer to ID
  {"raw": HEX}         (a whole message) sends those bytes as they are
A message whose JSON is longer than 512 KiB is sent as chunks. TRANSCRIPT
gets {"messages": [...], "exit": STATUS, "bad": [...], "fds": {...}} where bad
lists every breach of the framing seen on the host's standard output (a
frame over 1 MiB, bytes that are not a frame, chunks out of order) and fds
describes the host's descriptors once it is ready: what 0, 1 and 2 are, and
each descriptor on the channel pipes with whether it closes on exec.
"""
import base64
import json
import os
import struct
import subprocess
import sys

CHUNK = 512 * 1024
FRAME_LIMIT = 1024 * 1024
TIMEOUT = 300


class Host:
    def __init__(self, path):
        self.proc = subprocess.Popen([path], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.messages = []
        self.bad = []
        self.long = None
        self.next_long = 1

    def send_frame(self, data):
        try:
            self.proc.stdin.write(struct.pack('=I', len(data)) + data)
            self.proc.stdin.flush()
        except BrokenPipeError:
            pass

    def send(self, message):
        text = json.dumps(message, ensure_ascii=False).encode()
        if len(text) <= CHUNK:
            self.send_frame(text)
            return
        parts = [text[i:i + CHUNK] for i in range(0, len(text), CHUNK)]
        for index, part in enumerate(parts):
            self.send_frame(json.dumps({'type': 'chunk', 'message': self.next_long, 'index': index,
                                        'count': len(parts), 'data': base64.b64encode(part).decode()}).encode())
        self.next_long += 1

    def read_frame(self):
        head = self.proc.stdout.read(4)
        if len(head) == 0:
            return None
        if len(head) < 4:
            self.bad.append('a partial length')
            return None
        (length,) = struct.unpack('=I', head)
        if length > FRAME_LIMIT:
            self.bad.append('a frame of %d bytes' % length)
            return None
        data = self.proc.stdout.read(length)
        if len(data) < length:
            self.bad.append('a short frame')
            return None
        try:
            return json.loads(data.decode('utf-8'))
        except ValueError:
            self.bad.append('a frame that is not JSON: %r' % data[:80])
            return None

    def receive(self):
        """The next whole message, chunks joined; None at the end."""
        while True:
            message = self.read_frame()
            if message is None:
                return None
            if message.get('type') != 'chunk':
                if self.long is not None:
                    self.bad.append('a message inside a chunked one')
                return message
            if self.long is None:
                self.long = (message['message'], message['count'], [])
            number, count, parts = self.long
            if message['message'] != number or message['index'] != len(parts) or message['count'] != count:
                self.bad.append('chunks out of order')
            parts.append(base64.b64decode(message['data']))
            if len(parts) == count:
                self.long = None
                return json.loads(b''.join(parts).decode('utf-8'))

    def answer(self, id_):
        while True:
            message = self.receive()
            if message is None:
                return None
            self.messages.append(message)
            if message.get('type') == 'result' and message.get('id') == id_:
                return message


def describe_descriptors(pid, ours):
    """The host's standard descriptors and those that reach our pipes."""
    folder = '/proc/%d/fd' % pid
    found = {'channel': []}
    for name in os.listdir(folder):
        try:
            target = os.readlink(os.path.join(folder, name))
        except OSError:
            continue
        if name in ('0', '1', '2'):
            found[name] = target
        if target in ours:
            with open('/proc/%d/fdinfo/%s' % (pid, name)) as f:
                flags = int(next(line for line in f if line.startswith('flags:')).split()[1], 8)
            found['channel'].append({'fd': int(name), 'cloexec': bool(flags & 0o2000000)})
    found['ours'] = sorted(ours)
    return found


def expand(value, results):
    if isinstance(value, list):
        return [expand(v, results) for v in value]
    if isinstance(value, dict):
        if set(value) == {'bytesFile'}:
            with open(value['bytesFile'], 'rb') as f:
                return {'bytes': base64.b64encode(f.read()).decode()}
        if set(value) == {'resultOf'}:
            return results.get(value['resultOf'])
        return {k: expand(v, results) for k, v in value.items()}
    return value


def main():
    host = Host(sys.argv[1])
    with open(sys.argv[2]) as f:
        script = json.load(f)
    results = {}
    fds = {}
    for message in script:
        if 'raw' in message:
            try:
                host.proc.stdin.write(bytes.fromhex(message['raw']))
                host.proc.stdin.flush()
            except BrokenPipeError:
                pass
            continue
        message = expand(message, results)
        host.send(message)
        if 'id' in message:
            answer = host.answer(message['id'])
            if answer is None:
                break
            results[message['id']] = answer.get('value')
        elif message.get('type') == 'hello':
            ready = host.receive()
            if ready is None:
                break
            host.messages.append(ready)
            ours = {os.readlink('/proc/self/fd/%d' % host.proc.stdin.fileno()),
                    os.readlink('/proc/self/fd/%d' % host.proc.stdout.fileno())}
            fds = describe_descriptors(host.proc.pid, ours)
    try:
        host.proc.stdin.close()
    except BrokenPipeError:
        pass
    while True:
        message = host.receive()
        if message is None:
            break
        host.messages.append(message)
    status = host.proc.wait(timeout=TIMEOUT)
    with open(sys.argv[3], 'w') as f:
        json.dump({'messages': host.messages, 'exit': status, 'bad': host.bad, 'fds': fds}, f)


if __name__ == '__main__':
    main()
