#!/usr/bin/env python3
"""Benchmark (not a test): telvar-cli unzip against Info-ZIP unzip -q.

Makes about 100 MB of mixed text and binary files (deterministic), packs them
with Info-ZIP `zip -6`, then times whole processes, alternating:
`wine telvar-cli.exe unzip ARCHIVE DEST` and `unzip -q ARCHIVE -d DEST`, each
into a fresh folder. Reports the median times, the median of the per-pair
ratios, and the peak resident memory of the telvar-cli process (ru_maxrss of
the wine process, which execs into the Windows program; measured with
/usr/bin/time -v) against the limit: Wine's own baseline (the same program
printing its usage) + archive size + largest entry + 8 MiB. The machine's
load average is printed before and after the timed runs.

Usage: bench/unzip_bench.py [--runs N] [--work DIR]
Needs a built telvar-cli.exe ($TELVAR_OUT/bin) and a Wine prefix; run it as
  bash -c 'export TELVAR_OUT=...; source scripts/lib.sh; start_wine; python3 bench/unzip_bench.py; stop_wine'
"""
import argparse
import filecmp
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import time
import zipfile

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.environ.get("TELVAR_OUT", os.path.join(TOP, "out"))
# scripts/lib.sh names the Wine loader that runs this machine's build (wine64
# where the machine runs no 32-bit code).
WINE = os.environ.get("TELVAR_WINE", "wine")
WORDS = ("build kit toolchain archive entry folder progress stage level texture model sound script "
         "vertex index buffer matrix camera player enemy door key switch timer frame render shader "
         "the of and to in is for on with as by at from").split()


def text(rng, n):
    out, size = [], 0
    while size < n:
        line = " ".join(rng.choices(WORDS, k=rng.randint(4, 16))) + f" {rng.randint(0, 99999)}\n"
        out.append(line)
        size += len(line)
    return "".join(out).encode()[:n]


def structured(rng, n):
    # Tables of little-endian records with slowly changing fields, like game data.
    rows, base = [], rng.randint(0, 1000)
    for i in range(n // 16 + 1):
        rows.append((base + i * 3).to_bytes(4, "little") + (i % 251).to_bytes(2, "little") +
                    rng.randbytes(2) + bytes(4) + (i * 7 & 0xFFFFFFFF).to_bytes(4, "little"))
    return b"".join(rows)[:n]


def make_data(root):
    rng = random.Random(20261210)
    if os.path.isdir(root):
        shutil.rmtree(root)
    sizes = 0
    plan = [("logs/big.log", text, 20_000_000), ("media/blob.bin", lambda r, n: r.randbytes(n), 10_000_000)]
    for i in range(400):
        plan.append((f"src/mod{i // 40}/file{i}.txt", text, rng.randint(20_000, 180_000)))
    for i in range(120):
        plan.append((f"data/table{i}.bin", structured, rng.randint(50_000, 350_000)))
    for i in range(60):
        plan.append((f"media/noise{i}.bin", lambda r, n: r.randbytes(n), rng.randint(30_000, 250_000)))
    for i in range(200):
        plan.append((f"small/s{i}.cfg", text, rng.randint(10, 3000)))
    for name, make, n in plan:
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(make(rng, n))
        sizes += n
    return sizes


def timed(cmd, env=None):
    start = time.perf_counter()
    r = subprocess.run(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if r.returncode != 0:
        sys.exit(f"failed: {' '.join(cmd)}\n{r.stderr.decode(errors='replace')}")
    return elapsed


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runs", type=int, default=7)
    ap.add_argument("--work", default=os.path.join(OUT, "bench", "unzip"))
    ap.add_argument("--make-only", action="store_true")
    ap.add_argument("--cli", help="another telvar-cli.exe to time (default: this build's)")
    args = ap.parse_args()

    os.makedirs(args.work, exist_ok=True)
    data = os.path.join(args.work, "data")
    archive = os.path.join(args.work, "bench.zip")
    if not os.path.exists(archive):
        total = make_data(data)
        subprocess.run(["zip", "-q", "-r", "-6", archive, "."], cwd=data, check=True)
        print(f"made {total / 1e6:.1f} MB of files")
    if args.make_only:
        print(archive)
        return

    cli = args.cli or os.path.join(OUT, "bin", "telvar-cli.exe")
    if not os.path.exists(cli):
        sys.exit(f"missing {cli}: build first")
    env = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    env.setdefault("WINEPREFIX", os.path.join(OUT, "wine"))
    archive_size = os.path.getsize(archive)
    with zipfile.ZipFile(archive) as z:
        infos = z.infolist()
        largest = max(i.file_size for i in infos)
        total = sum(i.file_size for i in infos)
    print(f"archive: {archive_size} bytes, {len(infos)} entries, {total} bytes unpacked, largest entry {largest}")

    dest_t = os.path.join(args.work, "out_telvar")
    dest_u = os.path.join(args.work, "out_unzip")
    telvar_cmd = [WINE, cli, "unzip", archive, dest_t]
    unzip_cmd = ["unzip", "-q", archive, "-d", dest_u]

    def fresh(d):
        if os.path.exists(d):
            shutil.rmtree(d)

    # Warm-up (page cache, Wine's DLLs), and a check that both give the same tree.
    for d in (dest_t, dest_u):
        fresh(d)
    timed(telvar_cmd, env)
    timed(unzip_cmd)
    cmp = filecmp.dircmp(dest_t, dest_u)
    def same(c):
        return not (c.left_only or c.right_only or c.diff_files or c.funny_files) and all(
            same(s) for s in c.subdirs.values())
    if not same(cmp):
        sys.exit("telvar-cli and unzip gave different trees")
    for root, _, files in os.walk(dest_u):
        for f in files:
            a = os.path.join(root, f)
            b = os.path.join(dest_t, os.path.relpath(a, dest_u))
            if not filecmp.cmp(a, b, shallow=False):
                sys.exit(f"content differs: {b}")
    print("trees equal byte for byte")

    def load():
        with open("/proc/loadavg") as f:
            return " ".join(f.read().split()[:3])

    print(f"load average before: {load()}")
    t_times, u_times, ratios = [], [], []
    for _ in range(args.runs):
        fresh(dest_t)
        fresh(dest_u)
        t = timed(telvar_cmd, env)
        u = timed(unzip_cmd)
        t_times.append(t)
        u_times.append(u)
        ratios.append(t / u)
        print(f"  telvar-cli {t:.3f} s   unzip -q {u:.3f} s   ratio {t / u:.2f}")
    print(f"median telvar-cli {statistics.median(t_times):.3f} s, unzip -q {statistics.median(u_times):.3f} s, "
          f"median ratio {statistics.median(ratios):.2f} (limit 1.00); load average after: {load()}")

    def peak_bytes(cmd):
        r = subprocess.run(["/usr/bin/time", "-v"] + cmd, env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE, text=True)
        return int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", r.stderr).group(1)) * 1024

    # Wine's own share: the same program started with no command (it prints
    # its usage and exits), so only what unpacking adds is held to the limit.
    baseline = peak_bytes([WINE, cli])
    fresh(dest_t)
    peak = peak_bytes(telvar_cmd)
    limit = baseline + archive_size + largest + 8 * 1024 * 1024
    print(f"peak resident memory of the telvar-cli process: {peak} bytes ({peak / 1048576:.1f} MiB), "
          f"Wine's baseline {baseline / 1048576:.1f} MiB; limit baseline + archive + largest entry + 8 MiB = "
          f"{limit / 1048576:.1f} MiB: {'within' if peak <= limit else 'OVER'}")


main()
