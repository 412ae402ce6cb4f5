#!/usr/bin/env python3
"""Benchmark (not a test): time from starting ProjectTelvar.exe to its first frame.

What it measures: the wall time from just before the process is spawned
(`wine ProjectTelvar.exe`, Wine's own start included) to the moment the X
server holds the launcher's painted frame: the window titled "Project Telvar"
exists and a pixel of its sidebar has the sidebar's colour. The pixel is read
from the X server with XGetImage through libX11 (ctypes), polled every
0.5 ms, so the figure is the first frame as a screen would show it, not a time
the program reports about itself. The first moment the window exists is
printed too.

Runs alternate, paired in the same session, between
  64 discs   a launcher folder whose telvar.ini lists 64 disc images, each
             with a boot file of --boot-kib KiB (identified at start-up), and
  empty      the same launcher with an empty library (the reference: what the
             program and Wine cost before any disc),
each in a fresh launcher folder (a copy of the built ProjectTelvar.exe and
its telvar.ini), then the process is ended. Prints each pair and the medians.

With --compare OTHER.exe, each run also starts OTHER.exe (another build of
the launcher, say the one before a change) with both libraries, in the same
alternation, so that the two builds are measured under the same load.

Usage: bench/startup_bench.py [--runs N] [--boot-kib K] [--work DIR] [--exe EXE] [--compare OTHER.exe]
Needs a built ProjectTelvar.exe ($TELVAR_OUT/bin), xorriso, and an X display
with a Wine prefix whose server started after the display; run it as
  bash -c 'source scripts/lib.sh; ensure_display; start_wine; python3 bench/startup_bench.py; stop_wine'
"""
import argparse
import ctypes
import os
import shutil
import statistics
import subprocess
import sys
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.environ.get("TELVAR_OUT", os.path.join(TOP, "out"))
WINE = os.environ.get("TELVAR_WINE", "wine")
TITLE = b"Project Telvar"
SIDEBAR = (15, 20, 36)  # the sidebar's colour, COLOR_SIDEBAR
DISCS = 64


class X:
    """The few Xlib calls the poll needs, through ctypes."""

    def __init__(self, display):
        self.lib = ctypes.cdll.LoadLibrary("libX11.so.6")
        lib = self.lib
        lib.XOpenDisplay.restype = ctypes.c_void_p
        lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        lib.XDefaultRootWindow.restype = ctypes.c_ulong
        lib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        lib.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                                   ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                                   ctypes.POINTER(ctypes.c_uint)]
        lib.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_char_p)]
        lib.XGetImage.restype = ctypes.c_void_p
        lib.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                  ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        lib.XGetPixel.restype = ctypes.c_ulong
        lib.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
        lib.XDestroyImage.argtypes = [ctypes.c_void_p]
        lib.XFree.argtypes = [ctypes.c_void_p]
        lib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        lib.XGetGeometry.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong)] + \
            [ctypes.POINTER(ctypes.c_int)] * 2 + [ctypes.POINTER(ctypes.c_uint)] * 4
        # A window that goes away between the query and the read raises an X
        # error; the poll only wants to know that there is nothing to read.
        self.handler = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(lambda d, e: 0)
        lib.XSetErrorHandler(self.handler)
        self.d = lib.XOpenDisplay(display.encode())
        if not self.d:
            sys.exit(f"cannot open display {display}")
        self.root = lib.XDefaultRootWindow(self.d)

    def children(self, window):
        root, parent = ctypes.c_ulong(), ctypes.c_ulong()
        kids, n = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        if not self.lib.XQueryTree(self.d, window, ctypes.byref(root), ctypes.byref(parent), ctypes.byref(kids),
                                   ctypes.byref(n)):
            return []
        out = [kids[i] for i in range(n.value)]
        if kids:
            self.lib.XFree(kids)
        return out

    def find(self, title, window=None, depth=0):
        window = self.root if window is None else window
        for child in self.children(window):
            name = ctypes.c_char_p()
            if self.lib.XFetchName(self.d, child, ctypes.byref(name)) and name.value:
                found = name.value == title
                self.lib.XFree(name)
                if found:
                    return child
            if depth < 2:
                inner = self.find(title, child, depth + 1)
                if inner:
                    return inner
        return 0

    def size(self, window):
        root = ctypes.c_ulong()
        x, y = ctypes.c_int(), ctypes.c_int()
        w, h, b, d = ctypes.c_uint(), ctypes.c_uint(), ctypes.c_uint(), ctypes.c_uint()
        if not self.lib.XGetGeometry(self.d, window, ctypes.byref(root), ctypes.byref(x), ctypes.byref(y),
                                     ctypes.byref(w), ctypes.byref(h), ctypes.byref(b), ctypes.byref(d)):
            return 0, 0
        return w.value, h.value

    def pixel(self, window, x, y):
        image = self.lib.XGetImage(self.d, window, x, y, 1, 1, 0xFFFFFFFF, 2)  # ZPixmap
        if not image:
            return None
        value = self.lib.XGetPixel(image, 0, 0)
        self.lib.XDestroyImage(image)
        return (value >> 16) & 255, (value >> 8) & 255, value & 255


def make_discs(folder, boot_kib):
    """One small PAL disc image made by xorriso, linked under 64 names."""
    os.makedirs(folder, exist_ok=True)
    first = os.path.join(folder, "disc00.iso")
    if not os.path.exists(first) or os.path.getsize(first) < boot_kib * 1024:
        tree = os.path.join(folder, "tree")
        os.makedirs(tree, exist_ok=True)
        with open(os.path.join(tree, "SXPE_100.01"), "wb") as f:
            f.write(os.urandom(boot_kib * 1024))
        with open(os.path.join(tree, "SYSTEM.CNF"), "wb") as f:
            f.write(b"BOOT2 = cdrom0:\\SXPE_100.01;1\r\nVER = 1.00\r\nVMODE = PAL\r\n")
        if os.path.exists(first):
            os.remove(first)
        subprocess.run(["xorriso", "-as", "mkisofs", "-quiet", "-o", first, tree], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    paths = [first]
    for i in range(1, DISCS):
        path = os.path.join(folder, f"disc{i:02d}.iso")
        if os.path.exists(path):
            os.remove(path)
        os.link(first, path)
        paths.append(path)
    for path in paths:  # warm in the page cache, as on a second start
        with open(path, "rb") as f:
            while f.read(1 << 20):
                pass
    return paths


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def launcher_folder(work, name, discs, exe):
    folder = os.path.join(work, name)
    if os.path.exists(folder):
        shutil.rmtree(folder)
    os.makedirs(folder)
    shutil.copy(exe, os.path.join(folder, "ProjectTelvar.exe"))
    lines = ["[library]", f"count={len(discs)}", "selected=0" if discs else "selected=-1"]
    lines += [f"disc{i}={windows_path(p)}" for i, p in enumerate(discs)]
    lines += ["[window]", "x=0", "y=0", "width=1100", "height=860", "maximized=0"]
    with open(os.path.join(folder, "telvar.ini"), "w", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")
    return folder


def first_frame(x, folder, env, timeout=30.0):
    """Seconds to the window and to its first frame; the process is ended."""
    t0 = time.perf_counter()
    process = subprocess.Popen([WINE, os.path.join(folder, "ProjectTelvar.exe")], env=env, cwd=folder,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    window_at = frame_at = None
    try:
        window = 0
        while time.perf_counter() - t0 < timeout:
            if not window:
                window = x.find(TITLE)
                if window:
                    window_at = time.perf_counter() - t0
            if window:
                w, h = x.size(window)
                # A column inside the sidebar's left edge, below the wordmark:
                # nothing but the sidebar is drawn there.
                if w > 40 and h > 200 and x.pixel(window, 10, h // 2) == SIDEBAR:
                    frame_at = time.perf_counter() - t0
                    break
            time.sleep(0.0005)
    finally:
        process.kill()
        process.wait()
    if frame_at is None:
        sys.exit(f"no frame within {timeout} s in {folder}")
    return window_at, frame_at


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--runs", type=int, default=9)
    ap.add_argument("--boot-kib", type=int, default=2048, help="size of each disc's boot file (hashed at start-up)")
    ap.add_argument("--work", default=os.path.join(OUT, "bench", "startup"))
    ap.add_argument("--exe", default=os.path.join(OUT, "bin", "ProjectTelvar.exe"))
    ap.add_argument("--compare", help="another ProjectTelvar.exe measured in the same runs")
    args = ap.parse_args()
    builds = [("", args.exe)] + ([("other ", args.compare)] if args.compare else [])
    for _, exe in builds:
        if not os.path.exists(exe):
            sys.exit(f"missing {exe}: build first")
    display = os.environ.get("DISPLAY")
    if not display:
        sys.exit("no DISPLAY: start an Xvfb first (scripts/lib.sh ensure_display)")
    env = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    env.setdefault("WINEPREFIX", os.path.join(OUT, "wine"))
    x = X(display)
    if x.find(TITLE):
        sys.exit("a window titled Project Telvar is already open on this display")
    discs = make_discs(os.path.join(args.work, "discs"), args.boot_kib)
    with open("/proc/loadavg") as f:
        load_before = f.read().split()[:3]

    # One start of each first (Wine's DLLs into the page cache), not counted.
    for _, exe in builds:
        first_frame(x, launcher_folder(args.work, "warm", [], exe), env)
    kinds = [prefix + kind for prefix, _ in builds for kind in ("64 discs", "empty")]
    times = {kind: [] for kind in kinds}
    windows = {kind: [] for kind in kinds}
    for run in range(args.runs):
        parts = []
        for prefix, exe in builds:
            for kind, library in (("64 discs", discs), ("empty", [])):
                folder = launcher_folder(args.work, "launcher", library, exe)
                window_at, frame_at = first_frame(x, folder, env)
                times[prefix + kind].append(frame_at)
                windows[prefix + kind].append(window_at)
                parts.append(f"{prefix}{kind}: window {window_at * 1000:.0f} ms, first frame {frame_at * 1000:.0f} ms")
        print(f"  run {run + 1}: " + "   ".join(parts))
    with open("/proc/loadavg") as f:
        load_after = f.read().split()[:3]
    for prefix, exe in builds:
        if args.compare:
            print(f"{prefix or 'this '}build: {exe}")
        for kind in ("64 discs", "empty"):
            key = prefix + kind
            print(f"median {key}: window {statistics.median(windows[key]) * 1000:.0f} ms, first frame "
                  f"{statistics.median(times[key]) * 1000:.0f} ms (limit 300 ms for 64 discs)")
    print(f"boot files of {args.boot_kib} KiB; load average before {' '.join(load_before)}, "
          f"after {' '.join(load_after)}")


main()
