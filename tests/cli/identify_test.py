#!/usr/bin/env python3
"""End-to-end test of `telvar-cli identify` under Wine.

Images come from two writers: our own (make_test_images, run as a ctest
fixture) and a real mastering tool, xorriso, with and without Joliet and Rock
Ridge and with a root directory of several sectors. Every MD5 is checked
against md5sum of the same boot file.
"""
import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import unittest

ARGS = None
OK, OTHER, UNSUPPORTED, UNKNOWN, NOT_PS2, NOT_FOUND = (
    "DISC_OK", "DISC_OTHER_REVISION", "DISC_UNSUPPORTED", "DISC_UNKNOWN", "DISC_NOT_PS2", "DISC_NOT_FOUND")
SERIALS = ["SXPE_100.01", "SXUS_100.02", "SXPJ_100.03", "SXPE_200.01", "SXUS_200.02",
           "SXPE_300.01", "SXUS_300.02", "SXPE_400.01", "SXUS_400.02"]


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def md5sum(path):
    out = subprocess.run(["md5sum", path], check=True, capture_output=True, text=True).stdout
    return out.split()[0]


def reference_boot(serial):
    return ("Project Telvar stand-in boot executable for %s\n" % serial * 1000).encode()


def identify(*paths, cli=None):
    """Runs identify over the paths; returns (exit code, rows, stderr)."""
    cmd = [ARGS.wine, cli or ARGS.cli, "identify"] + [windows_path(p) for p in paths]
    run = subprocess.run(cmd, capture_output=True, timeout=300)
    rows = [line.split("\t") for line in run.stdout.decode("utf-8").split("\n") if line]
    return run.returncode, rows, run.stderr.decode("utf-8", "replace")


def xorriso_image(folder, image, *options):
    subprocess.run(["xorriso", "-as", "mkisofs", "-quiet", *options, "-o", image, folder],
                   check=True, capture_output=True)


class IdentifyTest(unittest.TestCase):
    def setUp(self):
        self.work = os.path.join(ARGS.work, self.id().split(".")[-1])
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)

    def check(self, rows, expected):
        self.assertEqual(len(rows), len(expected))
        for row, (path, status, catalog_row, serial, md5) in zip(rows, expected):
            with self.subTest(image=os.path.basename(path)):
                self.assertEqual(row, [status, str(catalog_row), serial, md5, windows_path(path)])

    def test_our_images(self):
        img = lambda name: os.path.join(ARGS.images, name)
        expected = []
        for row, serial in enumerate(SERIALS):
            md5 = hashlib.md5(reference_boot(serial)).hexdigest()
            expected.append((img("row%d.iso" % row), OK if row < 2 else UNSUPPORTED, row, serial, md5))
        expected += [
            (img("row0_other_revision.iso"), OTHER, 0, "SXPE_100.01",
             hashlib.md5(b"a patched boot file").hexdigest()),
            (img("row1_no_boot_file.iso"), OTHER, 1, "SXUS_100.02", ""),
            (img("unknown_serial.iso"), UNKNOWN, -1, "SLUS_209.99", ""),
            (img("ps1.iso"), UNKNOWN, -1, "", ""),
            # A tab and a non-text byte in the serial are shown as "?".
            (img("odd_serial.iso"), UNKNOWN, -1, "SX?P?E_1", ""),
            # Lower-case names, padding and an empty sector before SYSTEM.CNF.
            (img("odd_layout.iso"), OK, 1, "sxus_100.02",
             hashlib.md5(reference_boot("SXUS_100.02")).hexdigest()),
            (img("not_an_image.iso"), NOT_PS2, -1, "", ""),
            (img("too_short.iso"), NOT_PS2, -1, "", ""),
            (img("no_such_file.iso"), NOT_FOUND, -1, "", ""),
            (ARGS.images, NOT_FOUND, -1, "", ""),  # a folder cannot be opened as an image
        ]
        code, rows, _ = identify(*[e[0] for e in expected])
        self.assertEqual(code, 0)
        self.check(rows, expected)

    def test_md5_matches_md5sum_at_every_size(self):
        sizes = [0, 55, 56, 64, 5 * 1048576 + 3, 67108863]
        images = [os.path.join(ARGS.images, "boot_%d.iso" % n) for n in sizes]
        code, rows, _ = identify(*images)
        self.assertEqual(code, 0)
        for n, row in zip(sizes, rows):
            with self.subTest(size=n):
                self.assertEqual(row[3], md5sum(os.path.join(ARGS.images, "boot_%d.bin" % n)))
                self.assertEqual(row[0], OTHER)
        # One byte over the limit is not hashed at all.
        code, rows, _ = identify(os.path.join(ARGS.images, "boot_67108864.iso"))
        self.assertEqual(rows[0][:4], [OTHER, "0", "SXPE_100.01", ""])

    def test_xorriso_images(self):
        cases = []
        for row in (0, 1, 4):
            serial = SERIALS[row]
            tree = os.path.join(self.work, "tree%d" % row)
            os.makedirs(tree)
            with open(os.path.join(tree, "SYSTEM.CNF"), "w", newline="") as f:
                f.write("BOOT2 = cdrom0:\\%s;1\r\nVER = 1.00\r\nVMODE = NTSC\r\n" % serial)
            with open(os.path.join(tree, serial), "wb") as f:
                f.write(reference_boot(serial))
            status = OK if row < 2 else UNSUPPORTED
            md5 = md5sum(os.path.join(tree, serial))
            variants = {"plain": [], "joliet": ["-J"], "rockridge": ["-R"], "both": ["-J", "-R"]}
            for name, options in variants.items():
                image = os.path.join(self.work, "row%d_%s.iso" % (row, name))
                xorriso_image(tree, image, *options)
                cases.append((image, status, row, serial, md5))

        # A root directory of several sectors, with the two files late in it.
        big = os.path.join(self.work, "bigroot")
        os.makedirs(big)
        for i in range(400):
            with open(os.path.join(big, "F%05d.DAT" % i), "w") as f:
                f.write("x")
        shutil.copy(os.path.join(self.work, "tree1", "SYSTEM.CNF"), big)
        shutil.copy(os.path.join(self.work, "tree1", SERIALS[1]), big)
        image = os.path.join(self.work, "bigroot.iso")
        xorriso_image(big, image, "-R", "-J")
        cases.append((image, OK, 1, SERIALS[1], md5sum(os.path.join(big, SERIALS[1]))))

        code, rows, _ = identify(*[c[0] for c in cases])
        self.assertEqual(code, 0)
        self.check(rows, cases)

    def test_non_ascii_path_and_no_settings_file(self):
        # A copy of the program in a folder of its own: identify must neither
        # read nor write a telvar.ini beside it.
        cli = os.path.join(self.work, "telvar-cli.exe")
        shutil.copy(ARGS.cli, cli)
        image = os.path.join(self.work, "Ünïcode диск 游戏.iso")
        shutil.copy(os.path.join(ARGS.images, "row0.iso"), image)
        code, rows, _ = identify(image, cli=cli)
        self.assertEqual(code, 0)
        self.assertEqual(rows[0][0], OK)
        self.assertEqual(rows[0][4], windows_path(image))
        self.assertFalse(os.path.exists(os.path.join(self.work, "telvar.ini")))

    def test_a_different_revision_is_explained_on_standard_error(self):
        # Standard output keeps its five columns for scripts; the supported
        # revision (region, boot file, MD5) is said beside what was found on
        # standard error, one line per such image, and nothing for the rest.
        img = lambda name: os.path.join(ARGS.images, name)
        patched = hashlib.md5(b"a patched boot file").hexdigest()
        code, rows, err = identify(img("row0.iso"), img("row0_other_revision.iso"), img("row1_no_boot_file.iso"),
                                   img("row4.iso"))
        self.assertEqual(code, 0)
        self.assertEqual([len(r) for r in rows], [5, 5, 5, 5])
        self.assertEqual(err.split("\n"), [
            "telvar-cli: %s: a different revision of Tarsel & Quib (PAL): its boot file SXPE_100.01 has MD5 %s; "
            "the supported revision's has MD5 13f8f1eea32364baadfdd38715f5be80"
            % (windows_path(img("row0_other_revision.iso")), patched),
            "telvar-cli: %s: a different revision of Tarsel & Quib (NTSC-U): its boot file SXUS_100.02 was not "
            "found or could not be read; the supported revision's has MD5 55ca922993aff426916b4722f34fdc96"
            % windows_path(img("row1_no_boot_file.iso")),
            ""])

    def test_usage(self):
        run = subprocess.run([ARGS.wine, ARGS.cli, "identify"], capture_output=True, timeout=60)
        self.assertEqual(run.returncode, 2)
        self.assertIn(b"usage", run.stderr)
        self.assertEqual(run.stdout, b"")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--wine", required=True)
    parser.add_argument("--images", required=True)
    parser.add_argument("--work", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
