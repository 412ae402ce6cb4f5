#!/usr/bin/env python3
"""End-to-end tests of ProjectTelvar.exe as a user meets it: the real program
under Wine on an X display, in a launcher folder of its own, driven with
xdotool keys and clicks, and judged by the files it leaves.

    launcher_e2e_test.py --launcher ProjectTelvar.exe --wine cmake/wine-run
        --standin-python standin_python.exe --standin-game standin_game.exe
        --source SOURCE_DIR --work DIR

Clicks go to the layout's client coordinates at scale 1.0 (a 96-DPI display),
as docs/screenshots/take.sh does.
"""
import argparse
import os
import shutil
import subprocess
import sys
import time
import unittest

ARGS = None
TITLE = "^Project Telvar$"
PAL_SERIAL = "SXPE_100.01"
# Client coordinates at scale 1.0: the selected disc's "Settings" button and
# the settings panel's "Rebuild" button.
SETTINGS_BUTTON = (570, 222)
REBUILD_BUTTON = (967, 657)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def xdotool(*args):
    return subprocess.run(["xdotool", *args], capture_output=True, text=True, timeout=30).stdout


def launcher_windows():
    return set(xdotool("search", "--name", TITLE).split())


def wait_for(condition, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(0.1)
    return condition()


def decoded_texts(data):
    """The file's bytes read in every encoding a settings file may be in."""
    texts = []
    for codec in ("utf-16", "utf-16-le", "utf-16-be", "utf-8"):
        try:
            texts.append(data.decode(codec))
        except UnicodeDecodeError:
            pass
    return texts


class Launcher:
    """One ProjectTelvar.exe process in its folder, and its window."""

    def __init__(self, folder, env=None):
        before = launcher_windows()
        self.process = subprocess.Popen([ARGS.wine, os.path.join(folder, "ProjectTelvar.exe")], cwd=folder,
                                        env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.window = None

        def shown():
            new = launcher_windows() - before
            self.window = next(iter(new), None)
            return self.window is not None

        if not wait_for(shown, 60):
            self.process.kill()
            raise AssertionError("the launcher window did not appear")
        time.sleep(1.5)  # start-up paints; the regions exist after the first paint

    def click(self, point):
        xdotool("mousemove", "--window", self.window, str(point[0]), str(point[1]), "click", "1")
        time.sleep(0.6)

    def key(self, name):
        xdotool("key", "--window", self.window, name)

    def close(self, confirm=False):
        """Alt+F4, and Enter on the question a running build asks (Yes is its default)."""
        if self.process.poll() is None:
            self.key("alt+F4")
            if confirm:
                time.sleep(1.5)
                xdotool("key", "Return")
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise AssertionError("the launcher did not end after its window was closed")


class LauncherTest(unittest.TestCase):
    def setUp(self):
        self.work = os.path.join(ARGS.work, self.id().split(".")[-1])
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.folder = os.path.join(self.work, "launcher")
        os.makedirs(self.folder)
        shutil.copy(ARGS.launcher, self.folder)
        self.disc = os.path.join(self.work, "discs", "Tarsel and Quib (PAL).iso")
        os.makedirs(os.path.dirname(self.disc))
        subprocess.run([sys.executable, os.path.join(ARGS.source, "tools", "make-disc"), "--serial", PAL_SERIAL,
                        "--out", self.disc], check=True, capture_output=True)

    def settings_text(self, release):
        return ("[library]\r\ncount=1\r\ndisc0=%s\r\nselected=0\r\n[build]\r\nrelease_url=%s\r\n"
                % (windows_path(self.disc), release))

    # A settings file in UTF-16 without a byte-order mark (what some editors and
    # scripts write) is no 8-bit text. Whatever the launcher makes of it, the
    # user's library and release address must survive a start and a close:
    # saving over a file it could not read threw both away.
    def test_settings_in_utf16_without_mark_keep_library_and_release(self):
        release = windows_path(os.path.join(self.work, "release"))
        for codec in ("utf-16-le", "utf-16-be"):
            with self.subTest(encoding=codec):
                path = os.path.join(self.folder, "telvar.ini")
                with open(path, "wb") as f:
                    f.write(self.settings_text(release).encode(codec))
                Launcher(self.folder).close()
                with open(path, "rb") as f:
                    texts = decoded_texts(f.read())
                self.assertTrue(any(windows_path(self.disc) in t for t in texts),
                                "the disc path is gone from telvar.ini")
                self.assertTrue(any("release_url=" + release in t for t in texts),
                                "the release address is gone from telvar.ini")

    # While a build of a game runs, its files are being replaced: Enter and a
    # double click on the row must not start the old build of that game (the
    # button row, with Play, is not even shown then), wherever it lies.
    def test_no_game_starts_while_its_build_runs(self):
        release = os.path.join(self.work, "release")
        subprocess.run([sys.executable, os.path.join(ARGS.source, "tools", "make-demo-release"), "--interpreter",
                        ARGS.standin_python, "--out", release], check=True, capture_output=True)
        game = os.path.join(self.folder, "games", "mox1", "build", "windows")
        os.makedirs(game)
        shutil.copy(ARGS.standin_game, os.path.join(game, "mox1_wrapper.exe"))
        with open(os.path.join(game, "mox1_game.dll"), "w") as f:
            f.write("stand-in\n")
        # The kit stamp of the release's version: the rebuild keeps the earlier output.
        with open(os.path.join(self.folder, "telvar.ini"), "w", newline="") as f:
            f.write(self.settings_text(windows_path(release)) + "[mox1]\r\nkit_version=demo-1\r\n")

        env = dict(os.environ, TELVAR_STANDIN_SCENARIO="hang", TELVAR_STANDIN_DELAY_MS="0",
                   TELVAR_STANDIN_EXIT="0")
        launcher = Launcher(self.folder, env)
        try:
            launcher.click(SETTINGS_BUTTON)
            launcher.click(REBUILD_BUTTON)
            script_record = os.path.join(self.folder, "games", "mox1", "standin_run.txt")
            self.assertTrue(wait_for(lambda: os.path.exists(script_record), 30), "the build script did not start")
            # The game is set aside while the script runs, so that a failed
            # or cancelled build can put it back as it was.
            previous = game + ".previous"
            self.assertTrue(os.path.exists(os.path.join(previous, "mox1_wrapper.exe")), "the rebuild removed the game")

            records = [os.path.join(folder, "game_record.txt") for folder in (game, previous)]
            launcher.key("Return")
            time.sleep(2)
            self.assertFalse(any(map(os.path.exists, records)), "Enter started the game while it was being built")
            xdotool("mousemove", "--window", launcher.window, "150", "130", "click", "--repeat", "2", "--delay",
                    "80", "1")
            time.sleep(2)
            self.assertFalse(any(map(os.path.exists, records)),
                             "a double click started the game while it was being built")
        finally:
            launcher.close(confirm=True)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--wine", required=True)
    parser.add_argument("--standin-python", required=True)
    parser.add_argument("--standin-game", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--work", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
