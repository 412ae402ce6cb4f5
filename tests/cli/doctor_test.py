#!/usr/bin/env python3
"""End-to-end test of `telvar-cli doctor` and `telvar-cli --version` under Wine.

A healthy demo folder (the stand-in release, a disc built by `telvar-cli
build`) must report every section and exit 0; a broken one (a release address
that names nothing, the interpreter gone, the folder mounted read-only) must
exit 1 with its blocking findings last. The version resource of both programs
must carry the numbers of src/version.h.
"""
import argparse
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import unittest

ARGS = None


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def version_numbers():
    with open(os.path.join(ARGS.source, "src", "core/version.h")) as f:
        text = f.read()
    numbers = [int(re.search(r"#define TELVAR_VERSION_%s (\d+)" % part, text).group(1))
               for part in ("MAJOR", "MINOR", "PATCH")]
    return numbers, re.search(r'#define TELVAR_VERSION_TEXT "([^"]*)"', text).group(1)


class DoctorTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # One stand-in release for every case.
        cls.release = os.path.join(ARGS.work, "release")
        shutil.rmtree(cls.release, ignore_errors=True)
        subprocess.run([sys.executable, os.path.join(ARGS.source, "tools", "make-demo-release"),
                        "--interpreter", ARGS.interpreter, "--out", cls.release,
                        "--work", os.path.join(ARGS.work, "release-work")],
                       check=True, capture_output=True)

    def folder(self, name):
        work = os.path.join(ARGS.work, name)
        if os.path.ismount(work):
            subprocess.run(["umount", work], check=False)
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        shutil.copy(ARGS.cli, os.path.join(work, "telvar-cli.exe"))
        discs = os.path.join(work, "discs")
        os.makedirs(discs)
        good = os.path.join(discs, "good.iso")
        other = os.path.join(discs, "other revision.iso")
        subprocess.run([sys.executable, os.path.join(ARGS.source, "tools", "make-disc"),
                        "--serial", "SXPE_100.01", "--out", good], check=True)
        patched = os.path.join(work, "patched.bin")
        with open(patched, "wb") as f:
            f.write(b"a patched boot file")
        subprocess.run([sys.executable, os.path.join(ARGS.source, "tools", "make-disc"),
                        "--serial", "SXUS_100.02", "--boot-file", patched, "--out", other], check=True)
        discs_listed = [good, other]
        self.other = other
        lines = ["[library]", "count=%d" % len(discs_listed)]
        lines += ["disc%d=%s" % (i, windows_path(p)) for i, p in enumerate(discs_listed)]
        lines += ["[build]", "release_url=%s" % windows_path(self.release)]
        with open(os.path.join(work, "telvar.ini"), "w", encoding="utf-8", newline="") as f:
            f.write("\r\n".join(lines) + "\r\n")
        return work, good

    def run_cli(self, work, *args, env=None):
        env = dict(os.environ, TELVAR_STANDIN_DELAY_MS="0", **(env or {}))
        run = subprocess.run([ARGS.wine, os.path.join(work, "telvar-cli.exe"), *args],
                             capture_output=True, timeout=300, env=env)
        return run.returncode, run.stdout.decode("utf-8"), run.stderr.decode("utf-8", "replace")

    def test_a_healthy_folder_reports_every_section_and_exits_0(self):
        work, good = self.folder("healthy")
        code, _, err = self.run_cli(work, "build", windows_path(good))
        self.assertEqual(code, 0, err)
        code, out, err = self.run_cli(work, "doctor")
        print("\n--- telvar-cli doctor, healthy folder (exit %d) ---\n%s" % (code, out))
        self.assertEqual(code, 0, out + err)
        _, version = version_numbers()
        for expected in [
                "Launcher: Project Telvar %s (telvar-cli)" % version,
                "Launcher folder: %s" % windows_path(work),
                "  writable: yes (a test file was created and deleted)",
                "Release: %s" % windows_path(self.release),
                "  read: yes; version demo-1, build tools standin-tools-1",
                "  stamp (version.txt): standin-tools-1",
                "  python\\python.exe: present",
                "  zig: present",
                "  stamp: demo-1",
                "  PAL: built demo-1; game files present in %s" % windows_path(
                    os.path.join(work, "games", "mox1", "build", "windows")),
                "  NTSC-U: built never; game files missing",
                "  0: supported disc (Tarsel & Quib, PAL): %s" % windows_path(good),
                "  1: different disc revision (Tarsel & Quib, NTSC-U): %s" % windows_path(self.other),
                "     boot file SXUS_100.02 has MD5 %s; the supported revision's is "
                "55ca922993aff426916b4722f34fdc96" % hashlib.md5(b"a patched boot file").hexdigest(),
                "Build log: last lines of %s" % windows_path(os.path.join(work, "games", "mox1", "build_log.txt")),
        ]:
            self.assertIn(expected, out.split("\n"), expected)
        self.assertRegex(out, r"\nWindows: \d+\.\d+ build \d+")
        self.assertRegex(out, r"\n  fetched: yes, \d+ bytes\n")
        self.assertRegex(out, r"\n  free space: [\d.]+ (GB|MB)\n")
        self.assertRegex(out, r"\n  \| .+")  # the log's last lines
        self.assertEqual(out.rstrip("\n").split("\n")[-1], "Nothing blocks a build.")
        self.assertEqual(err, "")
        # The write test leaves nothing behind.
        self.assertEqual([n for n in os.listdir(work) if n.endswith(".tmp")], [])

    def test_a_broken_folder_exits_1_with_the_blocking_findings_last(self):
        work, good = self.folder("broken")
        code, _, err = self.run_cli(work, "build", windows_path(good))
        self.assertEqual(code, 0, err)
        # A release address that names nothing, and the interpreter gone.
        ini = os.path.join(work, "telvar.ini")
        with open(ini, "rb") as f:
            data = f.read()
        text = data.decode("utf-16") if data.startswith(b"\xff\xfe") else data.decode("utf-8")
        text = text.replace(windows_path(self.release), windows_path(os.path.join(ARGS.work, "no such release")))
        with open(ini, "w", encoding="utf-16", newline="") as f:
            f.write(text)
        os.remove(os.path.join(work, "toolchain", "python", "python.exe"))
        # And the whole folder read-only, as a read-only bind mount of itself.
        mounted = subprocess.run(["mount", "--bind", work, work], capture_output=True).returncode == 0
        if mounted:
            mounted = subprocess.run(["mount", "-o", "remount,bind,ro", work], capture_output=True).returncode == 0
            if not mounted:
                subprocess.run(["umount", work])
        try:
            code, out, err = self.run_cli(work, "doctor")
        finally:
            if mounted:
                subprocess.run(["umount", work], check=True)
        print("\n--- telvar-cli doctor, broken folder (exit %d) ---\n%s" % (code, out))
        self.assertEqual(code, 1, out + err)
        lines = out.rstrip("\n").split("\n")
        findings = lines[lines.index(next(l for l in lines if l.startswith("Findings: "))) + 1:]
        kinds = [l.split(":")[0] for l in findings]
        # Warnings first, then everything that blocks a build.
        self.assertEqual(kinds, sorted(kinds, key=lambda k: k == "  blocks a build"))
        blocking = [l for l in findings if l.startswith("  blocks a build: ")]
        self.assertTrue(any("The release's build description cannot be fetched: " in l and "is not there." in l
                            for l in blocking), blocking)
        self.assertIn("  python\\python.exe: missing", lines)
        self.assertTrue(any("The build tools (standin-tools-1) are incomplete" in l for l in findings), findings)
        if mounted:
            self.assertIn("  writable: no", lines)
            self.assertTrue(any(l.startswith("  blocks a build: The launcher's folder cannot be written (Windows error ") and
                                l.endswith(" The folder is %s." % windows_path(work)) for l in blocking), blocking)
        else:
            print("(no read-only mount on this machine: the read-only part was not checked)")
        self.assertNotIn("Nothing blocks a build.", out)

    def test_version_option_and_version_resources(self):
        numbers, version = version_numbers()
        code, out, err = self.run_cli(os.path.dirname(ARGS.cli), "--version")
        self.assertEqual((code, out, err), (0, "telvar-cli %s\n" % version, ""))
        code, _, err = self.run_cli(os.path.dirname(ARGS.cli), "--version", "extra")
        self.assertEqual(code, 2)
        for program, description in [(ARGS.cli, "Project Telvar console companion"),
                                     (ARGS.launcher, "Project Telvar launcher")]:
            with self.subTest(program=os.path.basename(program)):
                with open(program, "rb") as f:
                    data = f.read()
                # VS_FIXEDFILEINFO: signature, structure version, then the
                # file and product versions as two pairs of 16-bit halves.
                at = data.find(struct.pack("<I", 0xFEEF04BD))
                self.assertGreater(at, 0)
                fms, fls, pms, pls = struct.unpack_from("<4I", data, at + 8)
                expected_ms = (numbers[0] << 16) | numbers[1]
                expected_ls = numbers[2] << 16
                self.assertEqual((fms, fls, pms, pls), (expected_ms, expected_ls, expected_ms, expected_ls))
                for key, value in [("FileVersion", version), ("ProductVersion", version),
                                   ("FileDescription", description), ("ProductName", "Project Telvar")]:
                    self.assertIn((key + "\0").encode("utf-16-le"), data)
                    self.assertIn((value + "\0").encode("utf-16-le"), data)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--wine", required=True)
    parser.add_argument("--interpreter", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--work", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
