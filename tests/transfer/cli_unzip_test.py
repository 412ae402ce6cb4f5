#!/usr/bin/env python3
"""telvar-cli unzip as a whole process under Wine: exit codes 0, 1 and 2,
stage texts on standard output, the error text as the last line of standard
error, relative paths, and the unpacked tree equal to its source.

Usage: cli_unzip_test.py WINE_RUN TELVAR_CLI FIXTURES WORK"""
import filecmp
import os
import shutil
import subprocess
import sys

wine_run, cli, fixtures, work = sys.argv[1:5]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what)


def run(*args, cwd=None):
    r = subprocess.run([wine_run, cli, "unzip", *args], cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return r.returncode, r.stdout.decode("utf-8"), r.stderr.decode("utf-8")


def same_tree(a, b):
    c = filecmp.dircmp(a, b)
    if c.left_only or c.right_only or c.funny_files:
        return False
    _, mismatch, errors = filecmp.cmpfiles(a, b, c.common_files, shallow=False)
    return not mismatch and not errors and all(same_tree(os.path.join(a, d), os.path.join(b, d)) for d in c.common_dirs)


shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)

# Wrong arguments: exit 2 with the usage line.
for args in ([], ["only-one.zip"], ["a.zip", "dest", "extra"]):
    code, out, err = run(*args)
    check(code == 2, f"usage exit code for {args}: {code}")
    check("usage: telvar-cli unzip ARCHIVE DEST" in err, f"usage line for {args}: {err!r}")

# Relative paths from the working folder; stage texts as they change.
shutil.copy(os.path.join(fixtures, "infozip.zip"), os.path.join(work, "kit.zip"))
code, out, err = run("kit.zip", "unpacked", cwd=work)
check(code == 0, f"unzip exit code {code}, stderr {err!r}")
check(out.splitlines() == ["Unpacking the archive (1 of 14 files)"], f"stage texts {out!r}")
check(same_tree(os.path.join(work, "unpacked"), os.path.join(fixtures, "trees", "basic")), "unpacked tree differs")

# Unsafe names: nothing beside the destination.
unsafe_dir = os.path.join(work, "unsafe")
os.makedirs(unsafe_dir)
code, out, err = run(os.path.join(fixtures, "unsafe.zip"), os.path.join(unsafe_dir, "dest"))
check(code == 0, f"unsafe archive exit code {code}")
check(os.listdir(unsafe_dir) == ["dest"], f"written beside the destination: {os.listdir(unsafe_dir)}")

# Failures: exit 1, the error text as the last line of standard error.
with open(os.path.join(work, "notes.txt"), "w") as f:
    f.write("not an archive\n")
code, out, err = run("notes.txt", "x", cwd=work)
check(code == 1, f"non-zip exit code {code}")
check(err.splitlines()[-1:] == ["the archive is not a zip file."], f"non-zip text {err!r}")
code, out, err = run("missing.zip", "x", cwd=work)
last = err.splitlines()[-1] if err else ""
check(code == 1 and last.startswith("Could not open ") and last.endswith("\\missing.zip."), f"missing: {code} {err!r}")

if failures:
    sys.exit(f"{len(failures)} check(s) failed")
print("all checks passed")
