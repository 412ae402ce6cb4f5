#!/usr/bin/env python3
"""Benchmark (not a test): telvar-cli fetch against curl -s -o.

Makes a 200 MB file of random bytes, serves it from a loopback HTTP server
(127.0.0.1, a free port; the body goes out with sendfile, so the server is
not what is measured), then times whole processes, alternating:
`wine telvar-cli.exe fetch URL DEST` and `curl -s -o DEST URL`, each into a
fresh file whose SHA-256 is checked against the source. Reports every run, the
median times and the median of the per-pair ratios against the limit 2.0.

With --floor it first runs transport_floor.exe once against the same server:
plain Winsock receives of 8 KiB, 64 KiB and 1 MiB and a bare WinHTTP read
loop, which shows what this Wine allows before telvar-cli is timed.

Usage: bench/fetch_bench.py [--runs N] [--megabytes M] [--work DIR] [--floor]
Needs a built telvar-cli.exe ($TELVAR_OUT/bin) and a Wine prefix; run it as
  bash -c 'export TELVAR_OUT=...; source scripts/lib.sh; start_wine; python3 bench/fetch_bench.py; stop_wine'
"""
import argparse
import hashlib
import os
import shutil
import statistics
import subprocess
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.environ.get("TELVAR_OUT", os.path.join(TOP, "out"))
LIMIT = 2.0


def make_source(path, megabytes):
    size = megabytes * 1_000_000
    if os.path.exists(path) and os.path.getsize(path) == size:
        return
    with open(path, "wb") as f:
        left = size
        while left:
            n = min(left, 1 << 20)
            f.write(os.urandom(n))
            left -= n


def sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        while chunk := f.read(1 << 20):
            h.update(chunk)
    return h.hexdigest()


def serve(path):
    size = os.path.getsize(path)

    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(size))
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.flush()
            with open(path, "rb") as f:
                self.connection.sendfile(f)
            self.close_connection = True

    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def timed(command, errors, env=None):
    # Standard error goes to a file, not a pipe: a Wine service started by the
    # first Windows process could inherit a pipe and hold it open for good.
    with open(errors, "wb") as err:
        start = time.perf_counter()
        result = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err, env=env)
        took = time.perf_counter() - start
    if result.returncode != 0:
        with open(errors, "rb") as err:
            sys.exit(f"{command[0]} failed ({result.returncode}): {err.read().decode(errors='replace')}")
    return took


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--megabytes", type=int, default=200)
    parser.add_argument("--work", default=os.path.join(OUT, "bench", "fetch"))
    parser.add_argument("--floor", action="store_true", help="also time plain Winsock and bare WinHTTP reads")
    args = parser.parse_args()

    cli = os.path.join(OUT, "bin", "telvar-cli.exe")
    wine_run = os.path.join(TOP, "cmake", "wine-run")
    if not os.path.exists(cli):
        sys.exit(f"no {cli}: build first")
    if not shutil.which("curl"):
        sys.exit("curl is not installed")
    os.makedirs(args.work, exist_ok=True)
    source = os.path.join(args.work, "source.bin")
    make_source(source, args.megabytes)
    expected = sha256(source)
    server = serve(source)
    url = f"http://127.0.0.1:{server.server_address[1]}/source.bin"
    ours_dest = os.path.join(args.work, "telvar.bin")
    curl_dest = os.path.join(args.work, "curl.bin")
    errors = os.path.join(args.work, "stderr.txt")
    env = dict(os.environ, WINEPREFIX=os.environ.get("WINEPREFIX", os.path.join(OUT, "wine")))

    if args.floor:
        floor = os.path.join(OUT, "build", "bench", "transport_floor.exe")
        if not os.path.exists(floor):
            sys.exit(f"no {floor}: build first")
        print("what this Wine allows, one transfer each:")
        # Into a file, not a pipe, for the same reason as in timed().
        with open(errors, "w+b") as lines:
            result = subprocess.run([wine_run, floor, str(server.server_address[1]), "/source.bin"],
                                    stdin=subprocess.DEVNULL, stdout=lines, stderr=lines, env=env)
            lines.seek(0)
            print(lines.read().decode(errors="replace"), end="")
        if result.returncode != 0:
            sys.exit("transport_floor failed")
    print(f"{args.megabytes} MB from {url}, {args.runs} alternating pairs")
    ours, theirs, ratios = [], [], []
    for run in range(args.runs):
        for dest in (ours_dest, curl_dest):
            if os.path.exists(dest):
                os.remove(dest)
        # Alternate which one goes first, so that neither always meets a warm or cold cache.
        steps = [("telvar", ours_dest), ("curl", curl_dest)]
        if run % 2:
            steps.reverse()
        times = {}
        for name, dest in steps:
            if name == "telvar":
                times[name] = timed([wine_run, cli, "fetch", url, "Z:" + dest.replace("/", "\\")], errors, env)
            else:
                times[name] = timed(["curl", "-s", "-o", dest, url], errors)
            if sha256(dest) != expected:
                sys.exit(f"{name} wrote a different file")
        ours.append(times["telvar"])
        theirs.append(times["curl"])
        ratios.append(times["telvar"] / times["curl"])
        print(f"run {run + 1}: telvar-cli fetch {times['telvar']:.3f} s, curl {times['curl']:.3f} s, "
              f"ratio {ratios[-1]:.2f}")
    server.shutdown()
    for dest in (ours_dest, curl_dest):
        if os.path.exists(dest):
            os.remove(dest)

    ratio = statistics.median(ratios)
    print(f"median: telvar-cli fetch {statistics.median(ours):.3f} s, curl {statistics.median(theirs):.3f} s")
    print(f"median ratio {ratio:.2f} (limit {LIMIT:.1f}): {'PASS' if ratio <= LIMIT else 'FAIL'}")
    return 0 if ratio <= LIMIT else 1


if __name__ == "__main__":
    sys.exit(main())
