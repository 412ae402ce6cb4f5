#!/usr/bin/env python3
"""telvar-cli fetch and sha256 as whole processes under Wine: exit codes 0, 1
and 2, stage texts on standard output, the error text as the last line of
standard error, no file left behind by a failed fetch, and digests equal to
Python's hashlib. The HTTP side is http_fixture.py on 127.0.0.1; resuming and
retrying, with their real pauses, go against flaky_server.py.

Usage: cli_fetch_test.py WINE_RUN TELVAR_CLI WORK"""
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import time
import urllib.request

wine_run, cli, work = sys.argv[1:4]
here = os.path.dirname(os.path.abspath(__file__))
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what)


def run(*args):
    # Output through files, not pipes: a Wine service started along the way
    # could inherit a pipe and keep it open.
    with open(os.path.join(work, "out.txt"), "wb") as out, open(os.path.join(work, "err.txt"), "wb") as err:
        code = subprocess.run([wine_run, cli, *args], cwd=work, stdin=subprocess.DEVNULL, stdout=out,
                              stderr=err, timeout=120).returncode
    with open(os.path.join(work, "out.txt"), "rb") as out, open(os.path.join(work, "err.txt"), "rb") as err:
        return code, out.read().decode("utf-8"), err.read().decode("utf-8")


def pattern(n):
    return bytes((i * 7 + i // 65536) % 251 for i in range(n))


shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
port_file = os.path.join(work, "port")
server = subprocess.Popen([sys.executable, os.path.join(here, "http_fixture.py"), "--port-file", port_file,
                           "--idle-seconds", "120"])
try:
    for _ in range(100):
        if os.path.exists(port_file):
            break
        time.sleep(0.05)
    port = int(open(port_file).read())
    base = f"http://127.0.0.1:{port}"

    # Wrong arguments: exit 2 with the usage line.
    for args in (["fetch"], ["fetch", "only-source"], ["fetch", "a", "b", "c"], ["sha256"], ["sha256", "a", "b"]):
        code, out, err = run(*args)
        check(code == 2, f"usage exit code for {args}: {code}")
        check(f"usage: telvar-cli {args[0]}" in err, f"usage line for {args}: {err!r}")

    # A whole download: each new stage text once, the file as served, and
    # sha256 agreeing with hashlib.
    size = 3_000_000
    code, out, err = run("fetch", f"{base}/data/{size}", "kit.zip")
    check(code == 0, f"fetch exit code {code}, stderr {err!r}")
    lines = out.splitlines()
    check(lines and lines[-1] == "the file (3 of 3 MB)", f"last stage text {lines[-1:]!r}")
    check(len(lines) == len(set(lines)), f"a stage text printed twice: {lines!r}")
    fetched = os.path.join(work, "kit.zip")
    check(os.path.exists(fetched) and open(fetched, "rb").read() == pattern(size), "fetched file differs")
    code, out, err = run("sha256", "kit.zip")
    check(code == 0, f"sha256 exit code {code}, stderr {err!r}")
    check(out == hashlib.sha256(pattern(size)).hexdigest() + "\n", f"sha256 output {out!r}")

    # A local copy through the same command.
    code, out, err = run("fetch", "kit.zip", "copy.zip")
    check(code == 0, f"local fetch exit code {code}, stderr {err!r}")
    check(open(os.path.join(work, "copy.zip"), "rb").read() == pattern(size), "copied file differs")

    # Failures: exit 1, the error text as the last line of standard error, no file.
    failures_table = [
        ([f"{base}/status/404", "refused.zip"], "Could not download the file (the server answered 404).",
         "refused.zip"),
        ([f"{base}/short/5000/100", "short.zip"], "The download of the file ended early.", "short.zip"),
        (["absent.zip", "copy2.zip"], "absent.zip is not there.", "copy2.zip"),
        (["httpfoo", "bad.zip"], "Bad address: httpfoo", "bad.zip"),
        ([f"{base}/data/10", "no such folder\\kit.zip"], "Could not write no such folder\\kit.zip.", None),
    ]
    for args, text, leftover in failures_table:
        code, out, err = run("fetch", *args)
        check(code == 1, f"exit code for {args}: {code}")
        err_lines = err.splitlines()
        check(err_lines and err_lines[-1] == text, f"last stderr line for {args}: {err_lines[-1:]!r}")
        if leftover:
            check(not os.path.exists(os.path.join(work, leftover)), f"{leftover} left behind")

    code, out, err = run("sha256", "absent.zip")
    check(code == 1 and out == "", f"sha256 of a missing file: exit {code}, stdout {out!r}")
    check("absent.zip" in err, f"sha256 error names the file: {err!r}")
finally:
    server.terminate()
    server.wait()


def read_log(log):
    # The request lines of flaky_server.py's log, with their answers' statuses.
    time.sleep(0.3)
    requests, answers = [], {}
    if os.path.exists(log):
        for line in open(log):
            entry = json.loads(line)
            if "request" in entry:
                requests.append(entry)
            else:
                answers[entry["answer"]] = entry["status"]
    for entry in requests:
        entry["status"] = answers.get(entry["request"], 0)
    return requests


port_file = os.path.join(work, "flaky_port")
log = os.path.join(work, "flaky_log")
flaky = subprocess.Popen([sys.executable, os.path.join(here, "..", "support", "flaky_server.py"), "--port-file",
                          port_file, "--log", log, "--idle-seconds", "120"])
try:
    for _ in range(100):
        if os.path.exists(port_file):
            break
        time.sleep(0.05)
    base = f"http://127.0.0.1:{int(open(port_file).read())}"
    control = lambda query: urllib.request.urlopen(f"{base}/control?{query}", timeout=10).read()
    size = 5 << 20
    retry_line = "Connection lost; trying again (1 of 3)\u2026"

    # Cut at 60 %: resumed after a 1 s pause with one Range request, whole.
    control("clear=1&cut=%d" % (size * 6 // 10))
    code, out, err = run("fetch", f"{base}/pattern/{size}", "resumed.zip")
    check(code == 0, f"resumed fetch exit code {code}, stderr {err!r}")
    check(retry_line in out.splitlines(), f"no retry line in {out.splitlines()!r}")
    check(open(os.path.join(work, "resumed.zip"), "rb").read() == pattern(size), "resumed file differs")
    ranges = [r["range"] for r in read_log(log)]
    check(ranges == [None, "bytes=%d-" % (size * 6 // 10)], f"requests of the resumed fetch: {ranges!r}")
    check(not os.path.exists(os.path.join(work, "resumed.zip.partial")), "partial left after success")

    # Out of retries: exit 1, no DEST, the partial and its record kept; the
    # next fetch of the same address asks only for the rest.
    os.remove(log)
    control("clear=1&cut=1000000&cuts=4")
    code, out, err = run("fetch", f"{base}/pattern/{size}", "later.zip")
    check(code == 1, f"cut fetch exit code {code}")
    check(err.splitlines()[-1:] == ["The download of the file ended early."], f"cut fetch error {err!r}")
    check(not os.path.exists(os.path.join(work, "later.zip")), "DEST left after a failed fetch")
    partial = os.path.join(work, "later.zip.partial")
    check(os.path.exists(partial) and os.path.getsize(partial) == 4000000, "partial not kept whole")
    check(os.path.exists(os.path.join(work, "later.zip.partial.txt")), "record not kept")
    control("clear=1")
    os.remove(log)
    code, out, err = run("fetch", f"{base}/pattern/{size}", "later.zip")
    check(code == 0, f"later fetch exit code {code}, stderr {err!r}")
    check(open(os.path.join(work, "later.zip"), "rb").read() == pattern(size), "later file differs")
    requests = read_log(log)
    check([(r["range"], r["status"]) for r in requests] == [("bytes=4000000-", 206)],
          f"requests of the later fetch: {requests!r}")
    check(not os.path.exists(partial), "partial left after the later fetch")

    # A body the drive cannot hold is refused when its length is announced,
    # before it is written, with what it needs and what is free: on a 20 MiB
    # file system of its own (mounting needs root; skipped without).
    small = os.path.join(work, "small")
    os.makedirs(small, exist_ok=True)
    if os.geteuid() == 0 and subprocess.run(["mount", "-t", "tmpfs", "-o", "size=20m", "tmpfs", small]).returncode == 0:
        try:
            os.remove(log)
            control("clear=1")
            code, out, err = run("fetch", f"{base}/pattern/{30 << 20}", "small\\big.zip")
            check(code == 1, f"fetch onto a small drive: exit code {code}")
            last = err.splitlines()[-1:]
            check(last and re.fullmatch(r"Not enough free space to download the file: it needs 30 MB and the drive "
                                        r"has (19|20) MB free\.", last[0]), f"small drive error {last!r}")
            check(os.listdir(small) == [], f"left on the small drive: {os.listdir(small)!r}")
            check(len(read_log(log)) == 1, "the refusal was retried")
        finally:
            subprocess.run(["umount", small])
    else:
        print("SKIPPED: the small-drive check needs root to mount a tmpfs")

    # A 503 is retried, a 404 is not.
    for query, expected_code, expected_requests in (("fail=503", 0, 2), ("fail=404", 1, 1)):
        os.remove(log)
        control("clear=1&" + query)
        code, out, err = run("fetch", f"{base}/pattern/1000", "status.zip")
        check(code == expected_code, f"{query}: exit code {code}")
        check(len(read_log(log)) == expected_requests, f"{query}: {len(read_log(log))} requests")
finally:
    flaky.terminate()
    flaky.wait()

if failures:
    print(f"{len(failures)} check(s) failed")
    sys.exit(1)
print("telvar-cli fetch and sha256: all checks passed")
