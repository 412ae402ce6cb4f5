#!/usr/bin/env python3
"""End-to-end test of `telvar-cli build IMAGE` under Wine: a launcher folder
holding telvar-cli.exe and its telvar.ini, a disc image written by
tools/make-disc, and the release fixtures of make_build_fixtures.py served
from disk and by release_server.py on 127.0.0.1.
"""
import argparse
import hashlib
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import unittest

ARGS = None


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def processes_running(program):
    """Processes whose command line names program (Wine shows the Windows path)."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                if program.encode() in f.read():
                    found.append(pid)
        except OSError:
            pass
    return found


def http_base(name):
    with open(os.path.join(ARGS.server, "port")) as f:
        return "http://127.0.0.1:%s/%s/" % (f.read().strip(), name)


class CliBuildTest(unittest.TestCase):
    def launcher(self, release_base, serial="SXPE_100.01"):
        self.work = os.path.join(ARGS.work, self.id().split(".")[-1])
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        shutil.copy(ARGS.cli, os.path.join(self.work, "telvar-cli.exe"))
        with open(os.path.join(self.work, "telvar.ini"), "w", encoding="utf-8", newline="") as f:
            f.write("[build]\r\nrelease_url=%s\r\n" % release_base)
        self.disc = os.path.join(self.work, "my disc.iso")
        subprocess.run([sys.executable, os.path.join(ARGS.source, "tools", "make-disc"), "--serial", serial,
                        "--out", self.disc], check=True)
        self.kit = os.path.join(self.work, "games", "mox1")

    def build(self, scenario="success", args=None):
        env = dict(os.environ, TELVAR_STANDIN_SCENARIO=scenario, TELVAR_STANDIN_DELAY_MS="0")
        command = [ARGS.wine, os.path.join(self.work, "telvar-cli.exe"), "build"]
        command += [windows_path(self.disc)] if args is None else args
        run = subprocess.run(command, capture_output=True, timeout=300, env=env)
        return run.returncode, run.stdout.decode("utf-8"), run.stderr.decode("utf-8", "replace")

    def ini(self):
        data = read(os.path.join(self.work, "telvar.ini"))
        return data.decode("utf-16") if data.startswith(b"\xff\xfe") else data.decode("latin-1")

    def expect_built(self, code, out, err, output_folder, stamp_key):
        self.assertEqual(code, 0, err)
        lines = out.split("\n")
        self.assertEqual(lines[-1], "")
        self.assertEqual(lines[-2], "Built")
        self.assertEqual(lines[0], "  0% Starting")
        for expected in ["  0% Checking for the latest build files", " 20% Checking the build tools",
                         " 32% Starting the build", " 37% Translating the levels (1 of 19)",
                         " 63% Compiling (6 of 24 files)", " 99% Cleaning up", "100% Built"]:
            self.assertIn(expected, lines)
        # Each stage text is printed once, when it changes.
        stages = [line[5:] for line in lines[:-2]]
        self.assertEqual(len(stages), len(set(stages)))
        for line in lines[:-2]:
            self.assertRegex(line, r"^( {2}\d| \d\d|100)% \S")

        self.assertEqual(read(os.path.join(self.work, "toolchain", "version.txt")), b"t1")
        self.assertTrue(os.path.isfile(os.path.join(self.work, "toolchain", "python", "python.exe")))
        self.assertTrue(os.path.isfile(os.path.join(self.kit, "build.py")))
        out_dir = os.path.join(self.kit, output_folder)
        self.assertEqual(sorted(os.listdir(out_dir)), ["mox1_game.dll", "mox1_wrapper.exe", "telvar_build_files.txt"])
        self.assertEqual(sorted(os.listdir(os.path.join(self.kit, "build"))), [os.path.basename(output_folder)])
        self.assertFalse(os.path.exists(os.path.join(self.kit, "zig-cache")))
        self.assertEqual(read(os.path.join(self.kit, "build_log.txt")),
                         read(os.path.join(self.kit, "standin_output.bin")))
        # Only verified archives stay, each named by the SHA-256 of its bytes.
        for name in os.listdir(os.path.join(self.work, "downloads")):
            digest = hashlib.sha256(read(os.path.join(self.work, "downloads", name))).hexdigest()
            self.assertTrue(name.startswith(digest + "-"), name)
        ini = self.ini()
        self.assertRegex(ini, r"\[mox1\]")
        self.assertIn("kit_version=v1", ini)
        self.assertIn("%s=v1" % stamp_key, ini)

    def test_build_from_a_local_release(self):
        self.launcher(windows_path(os.path.join(ARGS.releases, "good")))
        self.expect_built(*self.build(), "build/windows", "built_version")
        self.assertNotIn("built_version_us", self.ini())

    def test_build_over_http(self):
        self.launcher(http_base("good"), serial="SXUS_100.02")
        self.expect_built(*self.build(), "build/windows_us", "built_version_us")

    def test_a_hand_written_utf8_file_names_a_release_of_any_characters(self):
        # What a text editor saves: UTF-8 without a mark. Read in the 8-bit
        # code page, the address would name a folder that is not there.
        release = os.path.join(ARGS.work, "Releases \u00dcn\u00efcode \u6e38\u620f")
        shutil.rmtree(release, ignore_errors=True)
        shutil.copytree(os.path.join(ARGS.releases, "good"), release)
        self.launcher(windows_path(release))
        self.expect_built(*self.build(), "build/windows", "built_version")
        self.assertIn("release_url=%s\r\n" % windows_path(release), self.ini())

    def test_second_build_skips_the_tools(self):
        self.launcher(windows_path(os.path.join(ARGS.releases, "good")))
        self.assertEqual(self.build()[0], 0)
        code, out, err = self.build()
        self.assertEqual(code, 0, err)
        self.assertNotIn("Downloading the build tools", out)
        # The kit is unpacked again, from the archive the first build verified and kept.
        self.assertNotIn("Downloading the game's build kit", out)
        self.assertIn("Checking the build kit", out)
        self.assertIn("Unpacking the build kit", out)

    def test_a_read_only_folder_is_refused_before_anything_is_fetched(self):
        self.launcher(http_base("good"))
        # A kit installed by an earlier build, which a build would clear.
        os.makedirs(self.kit)
        with open(os.path.join(self.kit, "marker.txt"), "wb") as f:
            f.write(b"an earlier kit")
        # The folder read-only, as a read-only bind mount of itself (root can
        # write through file modes).
        if subprocess.run(["mount", "--bind", self.work, self.work], capture_output=True).returncode != 0:
            self.skipTest("no bind mount on this machine")
        try:
            if subprocess.run(["mount", "-o", "remount,bind,ro", self.work], capture_output=True).returncode != 0:
                self.skipTest("no read-only remount on this machine")
            code, out, err = self.build()
        finally:
            subprocess.run(["umount", self.work], check=True)
        self.assertEqual(code, 1, out + err)
        self.assertEqual(out, "", "no stage was started")
        self.assertRegex(err.rstrip("\n").split("\n")[-1],
                         "^" + re.escape("The launcher's folder cannot be written (Windows error ") +
                         r"\d+" + re.escape("). Move the launcher to a folder of your own, such as "
                                            "C:\\Games\\Telvar. The folder is %s." % windows_path(self.work)) + "$")
        self.assertFalse(os.path.exists(os.path.join(self.work, "downloads")))
        self.assertFalse(os.path.exists(os.path.join(self.work, "toolchain")))
        self.assertEqual(os.listdir(self.kit), ["marker.txt"])
        self.assertEqual(read(os.path.join(self.kit, "marker.txt")), b"an earlier kit")
        # Writable again, the same folder builds.
        self.expect_built(*self.build(), "build/windows", "built_version")

    def test_a_read_only_folder_inside_the_launchers_is_named_with_what_to_do(self):
        # The launcher's folder takes files, so the build starts; the folder
        # the build writes into next does not, and the text must say which
        # one and what to do, not only which file could not be written.
        cases = [
            ("downloads", "downloads", "downloads\\"),
            ("toolchain", "toolchain", "toolchain\\"),
            ("games/mox1", "games\\mox1", "games\\mox1\\"),
        ]
        for folder, shown, written in cases:
            with self.subTest(folder=folder):
                self.launcher(windows_path(os.path.join(ARGS.releases, "good")))
                if folder != "toolchain":
                    # The tools installed, so that the build reaches the kit.
                    self.assertEqual(self.build()[0], 0)
                place = os.path.join(self.work, folder)
                if folder == "downloads":
                    # The verified archives of the last build would be taken
                    # from the folder without a write: without them the kit
                    # must be fetched into it again.
                    shutil.rmtree(place, ignore_errors=True)
                os.makedirs(place, exist_ok=True)
                before = sorted(os.listdir(place))
                if subprocess.run(["mount", "--bind", place, place], capture_output=True).returncode != 0:
                    self.skipTest("no bind mount on this machine")
                try:
                    if subprocess.run(["mount", "-o", "remount,bind,ro", place], capture_output=True).returncode != 0:
                        self.skipTest("no read-only remount on this machine")
                    code, out, err = self.build()
                    self.assertEqual(sorted(os.listdir(place)), before, "nothing in the folder was touched")
                finally:
                    subprocess.run(["umount", place], check=True)
                self.assertEqual(code, 1, out + err)
                self.assertRegex(err.rstrip("\n").split("\n")[-1],
                                 "^" + re.escape("The launcher's %s folder is read-only: make it writable, or move "
                                                 "the launcher to a folder you can write to, such as "
                                                 "C:\\Games\\Telvar or one in your Documents. Could not write "
                                                 "%s\\%s" % (shown, windows_path(self.work), written)) +
                                 r".+\.$")

    def test_failures_print_the_job_text_last_on_stderr(self):
        cases = [
            ("good", "fail",
             "The build script ended with exit code 2: error: src/mox1_game.c:12: the stand-in was asked to fail"),
            ("invalid", "success", "The build description from the release is not valid."),
            ("badtools", "success", "The downloaded build tools are damaged (checksum). Try again."),
            ("missing", "success", None),
        ]
        for release, scenario, text in cases:
            with self.subTest(release=release):
                self.launcher(windows_path(os.path.join(ARGS.releases, release)))
                code, out, err = self.build(scenario)
                self.assertEqual(code, 1)
                self.assertNotIn("Built\n", out)
                last = err.rstrip("\n").split("\n")[-1]
                if text is None:
                    # The download's own text names the missing description.
                    self.assertRegex(last, r"mox1\.json is not there\.$")
                else:
                    self.assertEqual(last, text)
                self.assertNotIn("built_version", self.ini())

    def test_ctrl_c_cancels_and_ends_the_script(self):
        self.launcher(windows_path(os.path.join(ARGS.releases, "good")))
        env = dict(os.environ, TELVAR_STANDIN_SCENARIO="hang", TELVAR_STANDIN_DELAY_MS="0")
        run = subprocess.Popen([ARGS.wine, os.path.join(self.work, "telvar-cli.exe"), "build",
                                windows_path(self.disc)], stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        seen = []
        for line in iter(run.stdout.readline, b""):
            seen.append(line.decode("utf-8"))
            if "Translating the game's executable" in seen[-1]:
                break
        self.assertIn("Translating the game's executable", seen[-1], seen)
        time.sleep(0.5)
        script = windows_path(os.path.join(self.work, "toolchain", "python", "python.exe"))
        self.assertTrue(processes_running(script), "the stand-in runs before the cancel")
        run.send_signal(signal.SIGINT)  # Wine turns it into Ctrl+C for the console program
        out, err = run.communicate(timeout=60)
        self.assertEqual(run.returncode, 1)
        self.assertEqual(err.decode("utf-8").rstrip("\n").split("\n")[-1], "Build cancelled.")
        self.assertNotIn("built_version", self.ini())
        deadline = time.time() + 10
        while processes_running(script) and time.time() < deadline:
            time.sleep(0.2)
        self.assertFalse(processes_running(script), "the stand-in and its child ended")

    def test_a_disc_in_the_launchers_folders_is_refused_and_kept(self):
        # The disc named directly, through a file link and through a folder
        # link: each is the same image in the kit folder, which a build clears.
        self.launcher(windows_path(os.path.join(ARGS.releases, "good")))
        kit_disc = os.path.join(self.kit, "my-disc.iso")
        os.makedirs(self.kit)
        shutil.move(self.disc, kit_disc)
        with open(os.path.join(self.kit, "from an earlier kit.txt"), "w") as f:
            f.write("earlier")
        os.symlink(os.path.abspath(kit_disc), os.path.join(self.work, "linked disc.iso"))
        os.symlink(os.path.abspath(self.kit), os.path.join(self.work, "discs"))
        image = read(kit_disc)
        for given in (kit_disc, os.path.join(self.work, "linked disc.iso"),
                      os.path.join(self.work, "discs", "my-disc.iso")):
            with self.subTest(given=given):
                code, out, err = self.build(args=[windows_path(given)])
                self.assertEqual(code, 1, err)
                self.assertEqual(err.rstrip("\n").split("\n")[-1],
                                 "A disc image is in the launcher's games folder, whose files builds replace and "
                                 "delete. Move it to a folder of your own and add it from there. The image is %s."
                                 % windows_path(given))
                self.assertNotIn("Built\n", out)
                self.assertEqual(read(kit_disc), image)
                self.assertTrue(os.path.isfile(os.path.join(self.kit, "from an earlier kit.txt")))
                self.assertFalse(os.path.exists(os.path.join(self.work, "toolchain")))
                self.assertFalse(os.path.exists(os.path.join(self.work, "downloads")))
                self.assertNotIn("kit_version", self.ini())

    def test_refusals(self):
        self.launcher(windows_path(os.path.join(ARGS.releases, "good")), serial="SXPJ_100.03")
        code, out, err = self.build()
        self.assertEqual(code, 1)
        self.assertIn("cannot be built (DISC_UNSUPPORTED)", err)
        self.assertFalse(os.path.exists(os.path.join(self.work, "downloads")))
        code, out, err = self.build(args=[])
        self.assertEqual(code, 2)
        self.assertIn("usage: telvar-cli build IMAGE", err)
        code, out, err = self.build(args=[windows_path(os.path.join(self.work, "absent.iso"))])
        self.assertEqual(code, 1)
        self.assertIn("DISC_NOT_FOUND", err)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for name in ("cli", "wine", "releases", "server", "source", "work"):
        parser.add_argument("--" + name, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
