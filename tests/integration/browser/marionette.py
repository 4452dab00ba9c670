#!/usr/bin/env python3
"""Installs a temporary add-on in a running Firefox and opens a page, over
Marionette (waits at most 60 s for the browser's port).

Usage: marionette.py PORT ADDON_DIR URL
"""
import json
import socket
import sys
import time

port, addon, url = int(sys.argv[1]), sys.argv[2], sys.argv[3]


def connect():
    deadline = time.monotonic() + 60
    while True:
        try:
            return socket.create_connection(("127.0.0.1", port), timeout=60)
        except OSError:
            if time.monotonic() > deadline:
                raise
            time.sleep(0.2)


def receive(stream):
    length = b""
    while not length.endswith(b":"):
        byte = stream.recv(1)
        if not byte:
            raise EOFError("marionette closed the connection")
        length += byte
    size = int(length[:-1])
    if size > 16 * 1024 * 1024:
        raise ValueError("marionette answer too long")
    data = b""
    while len(data) < size:
        part = stream.recv(size - len(data))
        if not part:
            raise EOFError("marionette closed the connection")
        data += part
    return json.loads(data)


stream = connect()
receive(stream)  # the server's greeting
for number, (command, parameters) in enumerate([
        ("WebDriver:NewSession", {}),
        ("Addon:Install", {"path": addon, "temporary": True}),
        ("WebDriver:Navigate", {"url": url})]):
    body = json.dumps([0, number, command, parameters]).encode()
    stream.sendall(str(len(body)).encode() + b":" + body)
    answer = receive(stream)
    if answer[2] is not None:
        sys.exit(f"{command}: {answer[2]}")
