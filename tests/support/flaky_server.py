#!/usr/bin/env python3
"""A loopback HTTP server that misbehaves on request, for the download tests.

Listens on 127.0.0.1 only, on a free port that it writes to --port-file once
it accepts connections. It ends on GET /quit, after --idle-seconds without a
request, or after --max-requests requests, so a crashed test leaves nothing
running for long. Every request but /control and /quit is logged to --log as
one JSON line: path, the Range and If-Range it carried, the status answered
and the body bytes sent (written when the answer ends, cut or not).

What it serves:
  /pattern/SIZE        SIZE bytes of the test pattern (byte i is (i * 7 + i // 65536) % 251)
  /silent              reads the request and never answers (until the server ends)
  /trickle-headers     sends its status line and headers one byte per --trickle-seconds
  /trickle-body/SIZE   announces SIZE, then one byte per --trickle-seconds
  anything else        the file of that path under --root (a release folder), or 404
Files and patterns carry an ETag and a Last-Modified date and honour
"Range: bytes=N-" (206 with Content-Range; 416 past the end), guarded by
If-Range: a validator that is not the current one gets the whole file (200).

GET /control?KEY=VALUE&... changes how the next answers go (the state is the
server's, for every path):
  etag=TEXT            the validator from now on (say "v2" after "v1": the file changed)
  range=ignore|honour  whether Range requests are honoured (honoured at the start)
  cut=BYTES            the next answers stop after that many bytes of their body and
  cuts=N               close the connection (N of them, 1 when not given); reset=1
                       resets it instead
  fail=STATUS          the next N (fails=N, 1 when not given) answers are STATUS,
  fails=N              with Retry-After when retry_after=SECONDS is given
  retry_after=SECONDS
  only=TEXT            cuts and failures apply only to paths that contain TEXT
  pace=BYTES           bodies are sent at about that many bytes a second
Every value is cleared by /control?clear=1.

    flaky_server.py --port-file FILE --log FILE [--root DIR] [--idle-seconds S]
                    [--max-requests N] [--trickle-seconds S]
    flaky_server.py --never-accept --port-file FILE [--idle-seconds S]
        a listening port whose backlog is full, so that connections to it are
        never accepted: a server that does not answer the connect
"""
import argparse
import json
import os
import socket
import struct
import sys
import threading
import time
import urllib.parse
from email.utils import formatdate
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

PATTERN_BLOCK = 1 << 20
SEGMENT = 65536
# Byte i is (i * 7 + i // 65536) % 251: within one 64 KiB segment the second
# term is a constant, and i * 7 % 251 repeats every 251 bytes, so a segment is
# a slice of a repeated cycle shifted by a translation table (fast enough for
# the 50 MiB test, where a loop per byte took seconds).
CYCLE = bytes(k * 7 % 251 for k in range(251)) * (SEGMENT // 251 + 2)
SHIFTS = [bytes((v + c) % 251 for v in range(256)) for c in range(251)]
_blocks = {}


def pattern_segment(index):
    start = index * SEGMENT
    return CYCLE[start % 251:start % 251 + SEGMENT].translate(SHIFTS[index % 251])


def pattern_block(index):
    if index not in _blocks:
        first = index * PATTERN_BLOCK // SEGMENT
        _blocks[index] = b"".join(pattern_segment(first + k) for k in range(PATTERN_BLOCK // SEGMENT))
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
    lock = threading.Lock()
    last_request = time.monotonic()
    requests = 0
    etag = "v1"
    honour_range = True
    cut = None
    cuts = 0
    reset = False
    fail = None
    fails = 0
    retry_after = None
    only = ""
    pace = 0
    modified = formatdate(time.time() - 3600, usegmt=True)

    @classmethod
    def clear(cls):
        cls.etag, cls.honour_range, cls.cut, cls.cuts, cls.reset = "v1", True, None, 0, False
        cls.fail, cls.fails, cls.retry_after, cls.only = None, 0, None, ""
        cls.pace = 0


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    args = None

    def log_message(self, *args):
        pass

    def log_line(self, entry):
        with State.lock, open(self.args.log, "a") as log:
            log.write(json.dumps(entry) + "\n")

    def answer(self, code, length=None, extra=()):
        self.send_response(code)
        if length is not None:
            self.send_header("Content-Length", str(length))
        for name, value in extra:
            self.send_header(name, value)
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True

    def do_GET(self):
        with State.lock:
            State.last_request = time.monotonic()
        url = urllib.parse.urlsplit(self.path)
        if url.path == "/control":
            self.control(urllib.parse.parse_qs(url.query))
            return
        if url.path == "/quit":
            self.answer(200, 0)
            threading.Thread(target=self.server.shutdown).start()
            return
        with State.lock:
            State.requests += 1
            number = State.requests
            if State.requests >= self.args.max_requests:
                threading.Thread(target=self.server.shutdown).start()
        self.log_line({"request": number, "path": self.path, "range": self.headers.get("Range"),
                       "if_range": self.headers.get("If-Range")})
        status, sent = 0, 0
        try:
            status, sent = self.serve(url.path)
        except (BrokenPipeError, ConnectionResetError):
            pass  # the client went away: a cancelled download
        finally:
            self.log_line({"answer": number, "status": status, "sent": sent})

    def control(self, query):
        with State.lock:
            if "clear" in query:
                State.clear()
            if "etag" in query:
                State.etag = query["etag"][0]
            if "range" in query:
                State.honour_range = query["range"][0] != "ignore"
            if "cut" in query:
                State.cut = int(query["cut"][0])
                State.cuts = int(query.get("cuts", ["1"])[0])
                State.reset = query.get("reset", ["0"])[0] == "1"
            if "only" in query:
                State.only = query["only"][0]
            if "pace" in query:
                State.pace = int(query["pace"][0])
            if "fail" in query:
                State.fail = int(query["fail"][0])
                State.fails = int(query.get("fails", ["1"])[0])
                State.retry_after = query.get("retry_after", [None])[0]
        self.answer(200, 2)
        self.wfile.write(b"ok")

    def serve(self, path):
        if path == "/silent":
            self.close_connection = True
            while time.monotonic() - State.last_request < self.args.idle_seconds:
                time.sleep(0.5)
            return 0, 0
        if path == "/trickle-headers":
            head = b"HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\n"
            for i in range(len(head)):
                self.wfile.write(head[i:i + 1])
                self.wfile.flush()
                time.sleep(self.args.trickle_seconds)
            self.wfile.write(b"ok")
            self.close_connection = True
            return 200, 2
        parts = path.strip("/").split("/")
        if parts[0] == "trickle-body" and len(parts) == 2 and parts[1].isdigit():
            size = int(parts[1])
            self.answer(200, size)
            for i in range(size):
                self.wfile.write(pattern_slice(i, 1))
                self.wfile.flush()
                time.sleep(self.args.trickle_seconds)
            return 200, size
        if parts[0] == "pattern" and len(parts) == 2 and parts[1].isdigit():
            size = int(parts[1])
            read = lambda offset, length: pattern_slice(offset, length)
        else:
            file = os.path.realpath(os.path.join(self.args.root or "/nonexistent", path.lstrip("/")))
            root = os.path.realpath(self.args.root or "/nonexistent")
            if not file.startswith(root + os.sep) or not os.path.isfile(file):
                self.answer(404, 0)
                return 404, 0
            size = os.path.getsize(file)

            def read(offset, length, file=file):
                with open(file, "rb") as f:
                    f.seek(offset)
                    return f.read(length)
        return self.send_body(path, size, read)

    def send_body(self, path, size, read):
        with State.lock:
            steered = State.only in path
            fail = State.fail if State.fails > 0 and steered else None
            if fail:
                State.fails -= 1
            retry_after = State.retry_after
            etag = '"%s"' % State.etag
            honour = State.honour_range
            cut = State.cut if State.cuts > 0 and steered else None
            reset = State.reset
            pace = State.pace
        if fail:
            self.answer(fail, 4, [("Retry-After", retry_after)] if retry_after else [])
            self.wfile.write(b"busy")
            return fail, 0
        validators = [("ETag", etag), ("Last-Modified", State.modified)]
        start = 0
        wanted = self.headers.get("Range")
        guard = self.headers.get("If-Range")
        if wanted and honour and (guard is None or guard in (etag, State.modified)):
            asked = wanted.strip()
            if asked.startswith("bytes=") and asked[6:].endswith("-") and asked[6:-1].isdigit():
                start = int(asked[6:-1])
                if start >= size:
                    self.answer(416, 0, [("Content-Range", "bytes */%d" % size)] + validators)
                    return 416, 0
        status = 206 if start else 200
        extra = validators + ([("Content-Range", "bytes %d-%d/%d" % (start, size - 1, size))] if start else [])
        self.answer(status, size - start, extra)
        end = size
        if cut is not None and cut < size - start:
            end = start + cut
            with State.lock:
                State.cuts -= 1
        offset = start
        began = time.monotonic()
        while offset < end:
            # A paced body goes in tenths of a second's worth, each sent no
            # earlier than the pace allows.
            n = min(max(pace // 10, 1) if pace else 1 << 20, end - offset)
            if pace:
                due = began + (offset - start) / pace
                if due > time.monotonic():
                    time.sleep(due - time.monotonic())
            self.wfile.write(read(offset, n))
            offset += n
        if end < size:
            self.wfile.flush()
            if reset:
                # Linger 0: the close sends a reset instead of an orderly end.
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.shutdown(socket.SHUT_RDWR) if not reset else None
            self.connection.close()
        return status, offset - start


def let_go_of_inherited_descriptors():
    # Whoever runs the test (ctest) must not wait on pipes this server inherited.
    null = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(null, fd)
    os.closerange(3, 4096)


def write_port(port_file, port):
    # Written whole under another name, then renamed: a reader never sees half a number.
    with open(port_file + ".tmp", "w") as f:
        f.write(str(port))
    os.replace(port_file + ".tmp", port_file)


def never_accept(args):
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(0)
    port = listener.getsockname()[1]
    # Fill the backlog with our own connections; with it full, the kernel
    # drops further SYNs and a client's connect waits.
    fillers = []
    for _ in range(4):
        s = socket.socket()
        s.setblocking(False)
        try:
            s.connect(("127.0.0.1", port))
        except BlockingIOError:
            pass
        fillers.append(s)
    time.sleep(0.2)
    write_port(args.port_file, port)
    time.sleep(args.idle_seconds)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--log")
    parser.add_argument("--root")
    parser.add_argument("--idle-seconds", type=float, default=120)
    parser.add_argument("--max-requests", type=int, default=500)
    parser.add_argument("--trickle-seconds", type=float, default=1.0)
    parser.add_argument("--never-accept", action="store_true")
    parser.add_argument("--keep-descriptors", action="store_true")
    args = parser.parse_args()
    if not args.keep_descriptors:
        let_go_of_inherited_descriptors()
    if args.never_accept:
        never_accept(args)
        return 0
    if not args.log:
        parser.error("--log is needed")
    Handler.args = args
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True

    def stop_when_idle():
        while True:
            time.sleep(0.5)
            if time.monotonic() - State.last_request > args.idle_seconds:
                server.shutdown()
                return

    threading.Thread(target=stop_when_idle, daemon=True).start()
    write_port(args.port_file, server.server_address[1])
    server.serve_forever()
    return 0


if __name__ == "__main__":
    sys.exit(main())
