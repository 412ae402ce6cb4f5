#!/usr/bin/env python3
"""Loopback HTTP server for the download tests.

Started by the test program itself (under Wine a Linux program can be started
with CreateProcess), it listens on 127.0.0.1 on a free port, writes that port
to --port-file once it accepts connections, and serves until GET /quit or
until it has been idle for --idle-seconds (so a crashed test leaves nothing
running for long). It lets go of every inherited descriptor first, so that
whoever runs the test (ctest) never waits on its pipes.

Paths (SIZE, ANNOUNCED, SENT, CODE are decimal numbers):
  /data/SIZE            200, Content-Length, SIZE bytes of the test pattern
  /close/SIZE           200, no Content-Length, body ends when the connection closes
  /chunked/SIZE         200, Transfer-Encoding: chunked, no Content-Length
  /status/CODE          that status with a short body (none for 204 and 304)
  /short/ANNOUNCED/SENT Content-Length ANNOUNCED, only SENT bytes, then the connection closes
  /trickle/SIZE         Content-Length SIZE, 1024 bytes every 50 ms
  /reset/ANNOUNCED/SENT Content-Length ANNOUNCED (none when 0), SENT bytes, then the connection is reset
  /long/ANNOUNCED/SENT  Content-Length ANNOUNCED, then SENT bytes (more than announced), then the connection closes
  /length/TEXT/SENT     200, the header "Content-Length: TEXT" as it stands (say -1 or abc),
                        then SENT bytes, then the connection closes
  /silent/SECONDS       reads the request and answers nothing for SECONDS, then closes the connection
  /stall/ANNOUNCED/SENT/SECONDS
                        Content-Length ANNOUNCED, SENT bytes, then nothing for SECONDS, then the connection closes
  /count                the number of requests served so far, not counting /count and /quit
  /quit                 stops the server
The pattern byte at offset i is (i * 7 + i // 65536) % 251, so that chunks at
different offsets differ and a lost, repeated or reordered chunk shows.
"""
import argparse
import os
import socket
import struct
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


def pattern(offset, length):
    return bytes((i * 7 + i // 65536) % 251 for i in range(offset, offset + length))


PATTERN_BLOCK = 1 << 20
_blocks = {}


def pattern_block(index):
    # Whole mebibytes are cached: a 200 MB body is not rebuilt byte by byte.
    if index not in _blocks:
        _blocks[index] = pattern(index * PATTERN_BLOCK, PATTERN_BLOCK)
    return _blocks[index]


def pattern_slice(offset, length):
    out = bytearray()
    while length > 0:
        index, start = divmod(offset, PATTERN_BLOCK)
        take = min(length, PATTERN_BLOCK - start)
        out += pattern_block(index)[start:start + take]
        offset += take
        length -= take
    return bytes(out)


class State:
    count = 0
    last_request = time.monotonic()
    lock = threading.Lock()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def head(self, code, length=None, extra=()):
        self.send_response(code)
        if length is not None:
            self.send_header("Content-Length", str(length))
        for name, value in extra:
            self.send_header(name, value)
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True

    def body(self, size, pace=None):
        offset = 0
        step = pace[0] if pace else 65536
        while offset < size:
            n = min(step, size - offset)
            self.wfile.write(pattern_slice(offset, n))
            offset += n
            if pace:
                self.wfile.flush()
                time.sleep(pace[1])

    def do_GET(self):
        parts = self.path.strip("/").split("/")
        kind, numbers = parts[0], parts[1:]
        with State.lock:
            State.last_request = time.monotonic()
            if kind not in ("count", "quit"):
                State.count += 1
        try:
            values = [int(n) for n in numbers]
        except ValueError:
            values = None
        try:
            if kind == "count":
                text = str(State.count).encode()
                self.head(200, len(text))
                self.wfile.write(text)
            elif kind == "quit":
                self.head(200, 0)
                threading.Thread(target=self.server.shutdown).start()
            elif kind == "data" and values and len(values) == 1:
                self.head(200, values[0])
                self.body(values[0])
            elif kind == "close" and values and len(values) == 1:
                self.head(200)
                self.body(values[0])
            elif kind == "chunked" and values and len(values) == 1:
                self.head(200, None, [("Transfer-Encoding", "chunked")])
                size, offset = values[0], 0
                while offset < size:
                    n = min(50000, size - offset)
                    self.wfile.write(b"%x\r\n" % n + pattern_slice(offset, n) + b"\r\n")
                    offset += n
                self.wfile.write(b"0\r\n\r\n")
            elif kind == "status" and values and len(values) == 1:
                code = values[0]
                if code in (204, 304):
                    self.head(code)
                else:
                    text = b"status body"
                    self.head(code, len(text))
                    self.wfile.write(text)
            elif kind == "short" and values and len(values) == 2:
                self.head(200, values[0])
                self.body(values[1])
            elif kind == "long" and values and len(values) == 2:
                # Head and body in one write, so that the extra bytes arrive
                # together with the headers, as they would from a fast server.
                head = b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n" % values[0]
                self.wfile.write(head + pattern_slice(0, values[1]))
                self.close_connection = True
            elif kind == "reset" and values and len(values) == 2:
                self.head(200, values[0] or None)
                self.body(values[1])
                self.wfile.flush()
                time.sleep(0.2)
                # Linger 0: the close sends a reset instead of an orderly end.
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                self.wfile.close()
                self.rfile.close()
                self.connection.close()
            elif kind == "length" and len(numbers) == 2 and numbers[1].isdigit():
                head = b"HTTP/1.1 200 OK\r\nContent-Length: %s\r\nConnection: close\r\n\r\n" % numbers[0].encode()
                self.wfile.write(head + pattern_slice(0, int(numbers[1])))
                self.close_connection = True
            elif kind == "silent" and values and len(values) == 1:
                self.close_connection = True
                time.sleep(values[0])
            elif kind == "stall" and values and len(values) == 3:
                self.head(200, values[0])
                self.body(values[1])
                self.wfile.flush()
                time.sleep(values[2])
            elif kind == "trickle" and values and len(values) == 1:
                self.head(200, values[0])
                self.body(values[0], pace=(1024, 0.05))
            else:
                self.head(400, 0)
        except (BrokenPipeError, ConnectionResetError):
            pass  # the client stopped reading: a cancelled download


def let_go_of_inherited_descriptors():
    null = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(null, fd)
    os.closerange(3, 4096)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--idle-seconds", type=float, default=300)
    args = parser.parse_args()
    let_go_of_inherited_descriptors()

    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True

    def stop_when_idle():
        while True:
            time.sleep(1)
            if time.monotonic() - State.last_request > args.idle_seconds:
                server.shutdown()
                return

    threading.Thread(target=stop_when_idle, daemon=True).start()
    # Written whole under another name, then renamed: a reader never sees half a number.
    temporary = args.port_file + ".tmp"
    with open(temporary, "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(temporary, args.port_file)
    server.serve_forever()
    try:
        os.remove(args.port_file)
    except OSError:
        pass


if __name__ == "__main__":
    sys.exit(main())
