#!/usr/bin/env python3
"""tools/make-release and tools/make-disc: what they write, and what they
refuse before writing anything."""
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools")


def run_tool(name, *args):
    return subprocess.run([sys.executable, os.path.join(TOOLS, name), *args], capture_output=True, text=True)


def write(path, data=b"x"):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


class MakeReleaseTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="telvar-make-release-")
        self.toolchain = os.path.join(self.work, "toolchain")
        self.kit = os.path.join(self.work, "kit")
        self.out = os.path.join(self.work, "release")
        write(os.path.join(self.toolchain, "python", "python.exe"), b"MZ interpreter")
        write(os.path.join(self.toolchain, "zig", "lib", "std.zig"), b"const std = 1;\n" * 100)
        os.makedirs(os.path.join(self.toolchain, "empty"))
        write(os.path.join(self.kit, "build.py"), b"print('build')\n")
        write(os.path.join(self.kit, "data", "l\u00e9vel.txt"), b"level\n")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def make(self, *extra):
        return run_tool("make-release", "--toolchain", self.toolchain, "--kit", self.kit, "--out", self.out,
                        "--version", "2026.12", "--toolchain-version", "t7", *extra)

    def test_writes_the_description_and_both_archives(self):
        run = self.make("--levels", "0,1,2")
        self.assertEqual(run.returncode, 0, run.stderr)
        folder = os.path.join(self.out, "mox1")
        self.assertEqual(sorted(os.listdir(folder)), ["mox1-kit-2026.12.zip", "mox1.json", "toolchain-t7.zip"])
        with open(os.path.join(folder, "mox1.json"), encoding="utf-8") as f:
            text = f.read()
        description = json.loads(text)
        self.assertEqual(description["version"], "2026.12")
        self.assertEqual(description["toolchain_version"], "t7")
        self.assertEqual(description["levels"], "0,1,2")
        # One member a line: the launcher's text search needs nothing nested.
        self.assertEqual(text.count("\n"), len(description) + 2)
        for kind in ("toolchain", "kit"):
            path = os.path.join(folder, description[kind + "_file"])
            with open(path, "rb") as f:
                self.assertEqual(description[kind + "_sha256"], hashlib.sha256(f.read()).hexdigest())
        with zipfile.ZipFile(os.path.join(folder, "toolchain-t7.zip")) as z:
            self.assertEqual(sorted(z.namelist()), ["empty/", "python/python.exe", "zig/lib/std.zig"])
            self.assertEqual(z.read("python/python.exe"), b"MZ interpreter")
            self.assertEqual(z.getinfo("zig/lib/std.zig").compress_type, zipfile.ZIP_DEFLATED)
        with zipfile.ZipFile(os.path.join(folder, "mox1-kit-2026.12.zip")) as z:
            self.assertEqual(sorted(z.namelist()), ["build.py", "data/l\u00e9vel.txt"])

        # Again with other names: the new files replace nothing they should not,
        # and no temporary file is left.
        run = self.make("--toolchain-file", "tools.zip", "--kit-file", "kit.zip")
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertFalse([n for n in os.listdir(folder) if n.startswith(".")])
        with open(os.path.join(folder, "mox1.json")) as f:
            self.assertEqual(json.load(f)["kit_file"], "kit.zip")

    def test_refuses_what_the_launcher_could_not_use(self):
        cases = [
            ("unsafe kit name", ["--kit-file", "../kit.zip"], None, "plain file name"),
            ("kit name with a folder", ["--kit-file", "sub/kit.zip"], None, "plain file name"),
            ("same names", ["--kit-file", "a.zip", "--toolchain-file", "a.zip"], None, "different names"),
            ("bad levels", ["--levels", "1;2"], None, "--levels"),
            ("version with a quote", ["--version", 'v"1'], None, "the version"),
            ("version too long", ["--version", "v" * 64], None, "longer than 63"),
            ("no interpreter", [], "toolchain/python/python.exe", "python/python.exe"),
            ("no build script", [], "kit/build.py", "build.py"),
            ("a name the launcher skips", [], "+kit/data/notes..txt", "would skip"),
        ]
        for name, extra, change, message in cases:
            with self.subTest(name):
                self.setUp()
                if change and change.startswith("+"):
                    write(os.path.join(self.work, change[1:]))
                elif change:
                    os.unlink(os.path.join(self.work, change))
                run = self.make(*extra)
                self.assertNotEqual(run.returncode, 0)
                self.assertIn(message, run.stderr)
                self.assertFalse(os.path.exists(os.path.join(self.out, "mox1", "mox1.json")))
                self.tearDown()


class MakeDiscTest(unittest.TestCase):
    def test_writes_an_image_that_a_real_iso_tool_reads(self):
        work = tempfile.mkdtemp(prefix="telvar-make-disc-")
        try:
            image = os.path.join(work, "disc.iso")
            run = run_tool("make-disc", "--serial", "SXUS_100.02", "--out", image)
            self.assertEqual(run.returncode, 0, run.stderr)
            boot = os.path.join(work, "boot")
            subprocess.run(["osirrox", "-indev", image, "-extract", "/SXUS_100.02", boot], check=True,
                           capture_output=True)
            with open(boot, "rb") as f:
                # The MD5 the catalogue knows for the NTSC-U row.
                self.assertEqual(hashlib.md5(f.read()).hexdigest(), "55ca922993aff426916b4722f34fdc96")
            cnf = os.path.join(work, "cnf")
            subprocess.run(["osirrox", "-indev", image, "-extract", "/SYSTEM.CNF", cnf], check=True,
                           capture_output=True)
            with open(cnf, "rb") as f:
                self.assertTrue(f.read().startswith(b"BOOT2 = cdrom0:\\SXUS_100.02;1\r\n"))
            run = run_tool("make-disc", "--serial", "bad serial", "--out", os.path.join(work, "x.iso"))
            self.assertNotEqual(run.returncode, 0)
            self.assertFalse(os.path.exists(os.path.join(work, "x.iso")))
        finally:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    unittest.main(verbosity=2)
