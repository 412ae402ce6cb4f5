#!/usr/bin/env python3
"""Runs the settings tests that need a full disk on a real small file system.

    small_disk_test.py --wine cmake/wine-run --test test_core.exe --mount DIR

As root, mounts a 256 KiB tmpfs at DIR, runs test_core.exe's SettingsSmallDisk
tests with TELVAR_SMALL_DISK naming it (as a Windows path), and unmounts it.
Without root (mounting needs it) the test is skipped, with exit code 77.
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
        env = dict(os.environ, TELVAR_SMALL_DISK="Z:" + os.path.abspath(args.mount).replace("/", "\\"))
        run = subprocess.run([args.wine, args.test, "--gtest_filter=SettingsSmallDisk.*"], env=env,
                             capture_output=True, text=True, timeout=240)
        sys.stdout.write(run.stdout)
        sys.stderr.write(run.stderr)
        if run.returncode != 0:
            return 1
        if "[  PASSED  ] 1 test" not in run.stdout or "SKIPPED" in run.stdout:
            print("FAILED: the small-disk test did not run")
            return 1
        return 0
    finally:
        subprocess.run(["umount", args.mount], check=False)


if __name__ == "__main__":
    sys.exit(main())
