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
PRIMARY_BUTTON = (409, 222)  # "Build" of a disc whose game is not built yet


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


def stacking_order():
    """X window ids (as numbers) of the root's children, bottom to top."""
    out = subprocess.run(["xwininfo", "-root", "-children"], capture_output=True, text=True, timeout=30).stdout
    ids = []
    for line in out.splitlines():
        word = line.strip().split(" ", 1)[0]
        if word.startswith("0x"):
            ids.append(int(word, 16))
    return ids[::-1]  # xwininfo lists the topmost first


def top_level_of(window):
    """The root's child that holds the window (the window itself without a frame)."""
    window = int(window)
    children = stacking_order()
    while window not in children:
        out = subprocess.run(["xwininfo", "-id", str(window), "-tree"], capture_output=True, text=True,
                             timeout=30).stdout
        parent = [line for line in out.splitlines() if "Parent window id:" in line]
        if not parent:
            return window
        window = int(parent[0].split("Parent window id:")[1].split()[0], 16)
    return window


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


class OneLauncherPerFolderTest(unittest.TestCase):
    """Two programs of one launcher folder never work on it at once: a second
    launcher started there brings the first one's window forward and ends, and
    a build of telvar-cli and one of the launcher refuse each other."""

    def setUp(self):
        self.work = os.path.join(ARGS.work, self.id().split(".")[-1])
        shutil.rmtree(self.work, ignore_errors=True)
        self.folder = os.path.join(self.work, "launcher")
        os.makedirs(self.folder)
        shutil.copy(ARGS.launcher, self.folder)
        shutil.copy(ARGS.cli, self.folder)
        self.disc = os.path.join(self.work, "discs", "Tarsel and Quib (PAL).iso")
        os.makedirs(os.path.dirname(self.disc))
        subprocess.run([sys.executable, os.path.join(ARGS.source, "tools", "make-disc"), "--serial", PAL_SERIAL,
                        "--out", self.disc], check=True, capture_output=True)
        release = os.path.join(self.work, "release")
        subprocess.run([sys.executable, os.path.join(ARGS.source, "tools", "make-demo-release"), "--interpreter",
                        ARGS.standin_python, "--out", release], check=True, capture_output=True)
        with open(os.path.join(self.folder, "telvar.ini"), "w", newline="") as f:
            f.write("[library]\r\ncount=1\r\ndisc0=%s\r\nselected=0\r\n[build]\r\nrelease_url=%s\r\n"
                    % (windows_path(self.disc), windows_path(release)))
        self.kit = os.path.join(self.folder, "games", "mox1")
        self.script_record = os.path.join(self.kit, "standin_run.txt")
        # The build script waits until it is killed.
        self.env = dict(os.environ, TELVAR_STANDIN_SCENARIO="hang", TELVAR_STANDIN_DELAY_MS="0")

    def cli_build(self, **popen):
        return subprocess.Popen([ARGS.wine, os.path.join(self.folder, "telvar-cli.exe"), "build",
                                 windows_path(self.disc)], cwd=self.folder, env=self.env, **popen)

    def test_a_second_launcher_brings_the_first_forward_and_ends(self):
        first = Launcher(self.folder)
        # A launcher of another folder comes up over the first one.
        other_folder = os.path.join(self.work, "other")
        os.makedirs(other_folder)
        shutil.copy(ARGS.launcher, other_folder)
        other = Launcher(other_folder)
        try:
            order = stacking_order()
            self.assertLess(order.index(top_level_of(first.window)), order.index(top_level_of(other.window)))
            windows = launcher_windows()
            second = subprocess.Popen([ARGS.wine, os.path.join(self.folder, "ProjectTelvar.exe")], cwd=self.folder,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                code = second.wait(timeout=60)
            except subprocess.TimeoutExpired:
                second.kill()
                second.wait()
                self.fail("the second launcher of the folder kept running")
            self.assertEqual(code, 0)
            self.assertEqual(launcher_windows(), windows, "the second launcher showed a window")
            self.assertIsNone(first.process.poll(), "the first launcher ended")
            order = stacking_order()
            self.assertGreater(order.index(top_level_of(first.window)), order.index(top_level_of(other.window)),
                               "the first launcher's window was not brought forward")
        finally:
            # Keys go to the window that has the focus: the one in front first.
            first.close()
            other.click((700, 120))  # a click on empty space gives the other one the focus
            other.close()

    def test_telvar_cli_refuses_to_build_while_the_launcher_builds(self):
        launcher = Launcher(self.folder, self.env)
        try:
            launcher.click(PRIMARY_BUTTON)
            self.assertTrue(wait_for(lambda: os.path.exists(self.script_record), 30),
                            "the launcher's build did not start")
            with open(self.script_record, "rb") as f:
                record = f.read()
            run = self.cli_build(stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            try:
                out, err = run.communicate(timeout=60)
            except subprocess.TimeoutExpired:
                run.kill()
                run.communicate()
                self.fail("telvar-cli built while the launcher was building")
            err = err.decode("utf-8", "replace").strip().splitlines()
            self.assertEqual(run.returncode, 1)
            self.assertEqual(err[-1], "telvar-cli: Another build is running in this folder (ProjectTelvar.exe). "
                                      "Wait until it has finished, then try again.")
            # Nothing of the running build was touched.
            with open(self.script_record, "rb") as f:
                self.assertEqual(f.read(), record)
        finally:
            launcher.close(confirm=True)

    def test_the_launcher_does_not_build_while_telvar_cli_builds(self):
        cli = self.cli_build(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            self.assertTrue(wait_for(lambda: os.path.exists(self.script_record), 60),
                            "telvar-cli's build did not start")
            # A build would clear the kit folder first.
            marker = os.path.join(self.kit, "marker.txt")
            with open(marker, "w") as f:
                f.write("telvar-cli's build\n")
            launcher = Launcher(self.folder, self.env)
            try:
                launcher.click(PRIMARY_BUTTON)
                time.sleep(3)
                self.assertTrue(os.path.exists(marker), "the launcher built over telvar-cli's build")
                self.assertIsNone(cli.poll(), "telvar-cli's build ended")
            finally:
                launcher.close(confirm=True)
        finally:
            cli.kill()
            cli.wait()


class LongPathTest(unittest.TestCase):
    """A launcher whose own path is too long to hold whole would take a parent
    folder for its own (its settings, downloads and the deletions of its
    builds would land there): it refuses to start, and says why."""

    def test_a_launcher_path_too_long_to_hold_refuses_to_start(self):
        # The executable's own path cut at 260 units, and a shorter one whose
        # settings path (the folder and "\\telvar.ini") would be cut instead.
        cases = [("ProjectTelvar.exe", 270), ("t.exe", 258)]
        for name, length in cases:
            with self.subTest(executable=name):
                self.refuses_to_start(name, length)

    def refuses_to_start(self, name, length):
        work = os.path.join(ARGS.work, "long_path")
        shutil.rmtree(work, ignore_errors=True)
        deep = work
        step = "a-folder-with-a-rather-long-name-to-make-the-path-deep"
        while len(windows_path(os.path.join(deep, step, name))) < length:
            deep = os.path.join(deep, step)
        pad = length - len(windows_path(os.path.join(deep, "x", name))) + 1
        deep = os.path.join(deep, "x" * max(pad, 1))
        self.assertEqual(len(windows_path(os.path.join(deep, name))), length)
        os.makedirs(deep)
        shutil.copy(ARGS.launcher, os.path.join(deep, name))
        shutil.copy(ARGS.cli, deep)

        before = launcher_windows()
        process = subprocess.Popen([ARGS.wine, os.path.join(deep, name)], cwd=deep,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            self.assertTrue(wait_for(lambda: launcher_windows() - before, 60), "nothing was shown")
            box = next(iter(launcher_windows() - before))
            time.sleep(1)
            self.assertIsNone(process.poll())
            # The box says why; a click on it gives it the focus, and Enter answers it.
            xdotool("mousemove", "--window", box, "10", "10", "click", "1")
            time.sleep(0.5)
            xdotool("key", "Return")
            self.assertEqual(process.wait(timeout=30), 1, "the launcher started from a path it cannot hold")
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()

        if name == "ProjectTelvar.exe":
            run = subprocess.run([ARGS.wine, os.path.join(deep, "telvar-cli.exe"), "build", "Z:\\nothing.iso"],
                                 cwd=deep, capture_output=True, timeout=120)
            self.assertEqual(run.returncode, 1)
            self.assertIn("too long", run.stderr.decode("utf-8", "replace").strip().splitlines()[-1])
        # Nothing was written anywhere in the folders above.
        written = [os.path.join(d, f) for d, _, files in os.walk(work) for f in files
                   if f not in (name, "telvar-cli.exe")]
        self.assertEqual(written, [])


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--wine", required=True)
    parser.add_argument("--standin-python", required=True)
    parser.add_argument("--standin-game", required=True)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--work", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
