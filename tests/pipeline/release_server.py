#!/usr/bin/env python3
"""A release server for the build tests, on 127.0.0.1 only.

Serves the files under --root as they are. A path that begins with /slow/
serves the same file (the rest of the path) slowly: its Content-Length at
once, then 4 KiB every 200 ms, so that a test can cancel a download halfway.

    release_server.py --root DIR --state DIR start   binds a free port, writes
        DIR/port and DIR/pid, and returns once the server answers (it keeps
        running in the background)
    release_server.py --state DIR stop               ends the server of DIR/pid

A server left behind by an interrupted test run ends by itself after ten
minutes without a request, and a new start ends the old server of DIR first.
"""
import argparse
import http.server
import os
import signal
import socket
import sys
import threading
import time

SLOW_PREFIX = '/slow/'
IDLE_SECONDS = 600
last_request = time.time()


class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        global last_request
        last_request = time.time()
        if not self.path.startswith(SLOW_PREFIX):
            return super().do_GET()
        path = self.translate_path('/' + self.path[len(SLOW_PREFIX):])
        if not os.path.isfile(path):
            self.send_error(404)
            return
        with open(path, 'rb') as f:
            data = f.read()
        self.send_response(200)
        self.send_header('Content-Type', 'application/octet-stream')
        self.send_header('Content-Length', str(len(data)))
        self.end_headers()
        try:
            for at in range(0, len(data), 4096):
                self.wfile.write(data[at:at + 4096])
                self.wfile.flush()
                time.sleep(0.2)
        except (BrokenPipeError, ConnectionResetError):
            pass


def start(root, state):
    stop(state)
    os.makedirs(state, exist_ok=True)
    handler = lambda *a, **k: Handler(*a, directory=root, **k)
    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), handler)
    server.daemon_threads = True
    port = server.server_address[1]
    if os.fork():
        # Parent: wait until the child serves, then return.
        for _ in range(100):
            try:
                socket.create_connection(('127.0.0.1', port), timeout=0.5).close()
                return 0
            except OSError:
                time.sleep(0.05)
        return 1
    os.setsid()
    with open(os.path.join(state, 'pid'), 'w') as f:
        f.write(str(os.getpid()))
    with open(os.path.join(state, 'port'), 'w') as f:
        f.write(str(port))
    devnull = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(devnull, fd)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    while time.time() - last_request < IDLE_SECONDS:
        time.sleep(5)
    server.shutdown()
    return 0


def stop(state):
    try:
        with open(os.path.join(state, 'pid')) as f:
            pid = int(f.read())
        # Only our own server: a pid file can outlive its process, and the
        # number may belong to another program by now.
        with open('/proc/%d/cmdline' % pid, 'rb') as f:
            command = f.read()
        if b'release_server.py' not in command or os.path.basename(os.path.abspath(state)).encode() not in command:
            return 0
        os.kill(pid, signal.SIGTERM)
        for _ in range(100):  # until it is gone, at most 5 s
            os.kill(pid, 0)
            time.sleep(0.05)
    except (OSError, ValueError):
        pass
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--root')
    parser.add_argument('--state', required=True)
    parser.add_argument('action', choices=['start', 'stop'])
    args = parser.parse_args()
    if args.action == 'start':
        return start(os.path.abspath(args.root), args.state)
    return stop(args.state)


if __name__ == '__main__':
    sys.exit(main())
