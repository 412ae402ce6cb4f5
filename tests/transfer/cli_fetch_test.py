#!/usr/bin/env python3
"""telvar-cli fetch and sha256 as whole processes under Wine: exit codes 0, 1
and 2, stage texts on standard output, the error text as the last line of
standard error, no file left behind by a failed fetch, and digests equal to
Python's hashlib. The HTTP side is http_fixture.py on 127.0.0.1.

Usage: cli_fetch_test.py WINE_RUN TELVAR_CLI WORK"""
import hashlib
import os
import shutil
import subprocess
import sys
import time

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

if failures:
    print(f"{len(failures)} check(s) failed")
    sys.exit(1)
print("telvar-cli fetch and sha256: all checks passed")
