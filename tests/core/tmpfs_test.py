#!/usr/bin/env python3
"""Runs settings tests that need a real small file system of their own.

    tmpfs_test.py --wine cmake/wine-run --test test_core.exe --mount DIR
                  --filter 'SettingsSmallDisk.*' --variable TELVAR_SMALL_DISK [--read-only]

As root, mounts a 256 KiB tmpfs at DIR, runs the test program's tests that
--filter names with --variable naming DIR (as a Windows path), and unmounts
it. With --read-only a telvar.ini is put in first and the tmpfs is remounted
read-only (root writes through file modes, so a mode would not do). Without
root (mounting needs it) the test is skipped, with exit code 77.
"""
import argparse
import os
import subprocess
import sys

SKIP = 77


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", required=True)
    parser.add_argument("--test", required=True)
    parser.add_argument("--mount", required=True)
    parser.add_argument("--filter", required=True)
    parser.add_argument("--variable", required=True)
    parser.add_argument("--read-only", action="store_true")
    args = parser.parse_args()

    if os.geteuid() != 0:
        print("SKIPPED: mounting a small file system (tmpfs) needs root; run the tests as root to include this one")
        return SKIP
    os.makedirs(args.mount, exist_ok=True)
    if os.path.ismount(args.mount):
        subprocess.run(["umount", args.mount], check=False)
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", args.mount],
                             capture_output=True, text=True)
    if mounted.returncode != 0:
        print("SKIPPED: could not mount a tmpfs at %s: %s" % (args.mount, mounted.stderr.strip()))
        return SKIP
    try:
        if args.read_only:
            with open(os.path.join(args.mount, "telvar.ini"), "wb") as f:
                f.write(b"[build]\r\nrelease_url=D:\\releases\r\n[settings]\r\nvsync=0\r\n")
            remount = subprocess.run(["mount", "-o", "remount,ro", args.mount], capture_output=True, text=True)
            if remount.returncode != 0:
                print("SKIPPED: could not make the tmpfs read-only: %s" % remount.stderr.strip())
                return SKIP
        env = dict(os.environ, **{args.variable: "Z:" + os.path.abspath(args.mount).replace("/", "\\")})
        run = subprocess.run([args.wine, args.test, "--gtest_filter=" + args.filter], env=env,
                             capture_output=True, text=True, timeout=240)
        sys.stdout.write(run.stdout)
        sys.stderr.write(run.stderr)
        if run.returncode != 0:
            return 1
        if "[  PASSED  ] 1 test" not in run.stdout or "SKIPPED" in run.stdout:
            print("FAILED: %s did not run" % args.filter)
            return 1
        return 0
    finally:
        subprocess.run(["umount", args.mount], check=False)


if __name__ == "__main__":
    sys.exit(main())
