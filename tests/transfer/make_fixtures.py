#!/usr/bin/env python3
"""Writes the transfer tests' fixtures into the folder given as argument.

- inflate_cases.bin: raw deflate streams (wbits -15 and smaller windows) that
  Python's zlib writes for a set of inputs at every level and strategy, with
  flushes that leave empty stored and fixed blocks mid-stream. Layout, all
  integers little-endian u32: input count, then per input its length and
  bytes; stream count, then per stream a name (length, bytes), the index of
  its input, and the stream (length, bytes).
- trees/basic: a small folder tree with text, binary, empty and UTF-8 named
  files and an empty folder, and archives of it made by Python's zipfile and
  by Info-ZIP zip (also streamed to a pipe, which makes data descriptors).
  Beside each archive NAME.zip, NAME.zip.times lists each file entry's DOS
  stamp as "Y M D h m s<TAB>name".
- unsafe.zip: entries that reach outside the destination or name devices,
  mixed with safe ones; unsafe.zip.safe lists the names that must appear.
Standard library only; the output is the same on every run.
"""
import os
import random
import shutil
import struct
import subprocess
import sys
import zipfile
import zlib

OUT = sys.argv[1]
RNG = random.Random(1951)
WORDS = ("the disc image build kit toolchain archive entry folder progress stage zip inflate "
         "window launcher game level stored deflated huffman table length distance literal").split()


def text_bytes(n):
    parts, size = [], 0
    while size < n:
        line = " ".join(RNG.choice(WORDS) for _ in range(RNG.randint(3, 14))) + "\n"
        parts.append(line)
        size += len(line)
    return "".join(parts).encode()[:n]


def structured_bytes(n):
    out = bytearray()
    i = 0
    while len(out) < n:
        out += struct.pack("<IfH", i * 7, i * 0.25, i & 0xFFFF)
        if i % 97 == 0:
            out += text_bytes(RNG.randint(10, 300))
        i += 1
    return bytes(out[:n])


def inputs():
    block = bytes(RNG.getrandbits(8) for _ in range(32768))
    return [
        ("empty", b""),
        ("one", b"a"),
        ("text", text_bytes(100_000)),
        ("random", bytes(RNG.getrandbits(8) for _ in range(48_000))),
        ("structured", structured_bytes(150_000)),
        ("runs", b"".join(bytes([RNG.getrandbits(8)]) * RNG.randint(1, 600) for _ in range(400))),
        ("zeros", bytes(100_000)),
        ("far", block + b"xyz" + block[:20000] + block),  # matches at the largest distances
    ]


STRATEGIES = [("default", zlib.Z_DEFAULT_STRATEGY), ("filtered", zlib.Z_FILTERED),
              ("huffman", zlib.Z_HUFFMAN_ONLY), ("rle", zlib.Z_RLE), ("fixed", zlib.Z_FIXED)]


def deflate(data, level, strategy, wbits=-15, mem_level=8, flush=None):
    c = zlib.compressobj(level, zlib.DEFLATED, wbits, mem_level, strategy)
    if flush is None:
        return c.compress(data) + c.flush(zlib.Z_FINISH)
    out, step = b"", max(1, len(data) // 5)
    for i in range(0, len(data), step):
        out += c.compress(data[i:i + step]) + c.flush(flush)
    return out + c.flush(zlib.Z_FINISH)


def write_inflate_cases(path):
    ins = inputs()
    streams = []
    for index, (name, data) in enumerate(ins):
        for sname, strategy in STRATEGIES:
            for level in range(10):
                streams.append((f"{name}/level{level}/{sname}", index, deflate(data, level, strategy)))
        for wbits in (-9, -12):
            streams.append((f"{name}/wbits{wbits}", index, deflate(data, 6, zlib.Z_DEFAULT_STRATEGY, wbits)))
        streams.append((f"{name}/memlevel1", index, deflate(data, 9, zlib.Z_DEFAULT_STRATEGY, mem_level=1)))
        for fname, flush in (("sync", zlib.Z_SYNC_FLUSH), ("full", zlib.Z_FULL_FLUSH),
                             ("partial", getattr(zlib, "Z_PARTIAL_FLUSH", 1)), ("block", zlib.Z_BLOCK)):
            streams.append((f"{name}/flush-{fname}", index, deflate(data, 6, zlib.Z_DEFAULT_STRATEGY, flush=flush)))
    for name, index, raw in streams:  # the generator checks its own work
        assert zlib.decompress(raw, -15) == ins[index][1], name
    with open(path, "wb") as f:
        f.write(struct.pack("<I", len(ins)))
        for _, data in ins:
            f.write(struct.pack("<I", len(data)) + data)
        f.write(struct.pack("<I", len(streams)))
        for name, index, raw in streams:
            n = name.encode()
            f.write(struct.pack("<I", len(n)) + n + struct.pack("<II", index, len(raw)) + raw)


# Files of the basic tree with their modification times (even seconds, as DOS
# stamps keep them).
TREE = [
    ("readme.txt", lambda: text_bytes(3000)),
    ("empty.bin", lambda: b""),
    ("data/table.bin", lambda: structured_bytes(70_000)),
    ("data/noise.bin", lambda: bytes(RNG.getrandbits(8) for _ in range(20_000))),
    ("docs/guide/intro.txt", lambda: text_bytes(12_000)),
    ("docs/guide/zeros.dat", lambda: bytes(100_000)),
    ("données/naïve café.txt", lambda: "Unicode name, UTF-8 in the archive.\n".encode()),
    ("日本語/テスト.txt", lambda: text_bytes(500)),
]
EMPTY_DIRS = ["empty_dir"]


def make_tree(root):
    shutil.rmtree(root, ignore_errors=True)
    for i, (name, make) in enumerate(TREE):
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(make())
        stamp = 1_600_000_000 + i * 86_400 * 37 + i * 3_602  # spread over dates and times
        os.utime(path, (stamp, stamp))
    for d in EMPTY_DIRS:
        os.makedirs(os.path.join(root, d), exist_ok=True)


def tree_members(root):
    members = []
    for folder, dirs, files in os.walk(root):
        dirs.sort()
        rel = os.path.relpath(folder, root)
        if rel != ".":
            members.append(rel.replace(os.sep, "/") + "/")
        for f in sorted(files):
            members.append(os.path.relpath(os.path.join(folder, f), root).replace(os.sep, "/"))
    return members


def python_zip(root, path, method, comment=b"", level=None):
    with zipfile.ZipFile(path, "w", method, compresslevel=level) as z:
        for member in tree_members(root):
            z.write(os.path.join(root, member), member)
        z.comment = comment


def write_times(path):
    with zipfile.ZipFile(path) as z, open(path + ".times", "w", encoding="utf-8") as f:
        for info in z.infolist():
            name = info.filename
            if not info.flag_bits & 0x800:  # Info-ZIP stores the bytes as they are: UTF-8 here
                name = name.encode("cp437").decode("utf-8")
            if not name.endswith("/"):
                f.write(" ".join(str(v) for v in info.date_time) + "\t" + name + "\n")


def info_zip(root, path, *options, streamed=False):
    if os.path.exists(path):
        os.remove(path)
    env = dict(os.environ, LC_ALL="C.UTF-8")
    if streamed:
        # Writing to a pipe: zip cannot seek back, so every entry gets a data
        # descriptor after its data.
        z = subprocess.run(["zip", "-q", "-r", *options, "-", "."], cwd=root, env=env, check=True,
                           stdout=subprocess.PIPE).stdout
        with open(path, "wb") as f:
            f.write(z)
        with zipfile.ZipFile(path) as zf:
            assert all(i.flag_bits & 8 for i in zf.infolist() if not i.filename.endswith("/")), path
    else:
        subprocess.run(["zip", "-q", "-r", *options, os.path.abspath(path), "."], cwd=root, env=env, check=True)


def write_unsafe(path):
    unsafe = ["../evil.txt", "a/../../evil2.txt", "notes..txt", "/abs.txt", "\\back.txt", "C:/drive.txt",
              "c:drive2.txt", "file.txt:stream", "NUL.txt", "sub/CON", "sub/aux.c", "com1.log", "LPT9",
              "nul/inner.txt", "Con .log", "conout$", "COM\u00b9.txt"]
    safe = ["safe/ok.txt", "ok2.txt", "COM10.txt", "console.txt", "sub/nullable.txt", "LPT0.txt", "a.b/c.d"]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for i, name in enumerate(unsafe + safe):
            info = zipfile.ZipInfo(name, (2020, 1, 2, 3, 4, 6))
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, f"entry {i}: {name}\n")
    with open(path + ".safe", "w", encoding="utf-8") as f:
        f.write("".join(n + "\n" for n in safe))


def main():
    os.makedirs(OUT, exist_ok=True)
    write_inflate_cases(os.path.join(OUT, "inflate_cases.bin"))
    root = os.path.join(OUT, "trees", "basic")
    make_tree(root)
    zips = {
        "py_stored.zip": lambda p: python_zip(root, p, zipfile.ZIP_STORED, b"stored, with a comment"),
        "py_deflated.zip": lambda p: python_zip(root, p, zipfile.ZIP_DEFLATED, b"c" * 65535, 9),
        "infozip.zip": lambda p: info_zip(root, p, "-6"),
        "infozip_stored.zip": lambda p: info_zip(root, p, "-0"),
        "infozip_stream.zip": lambda p: info_zip(root, p, "-6", streamed=True),
    }
    for name, make in zips.items():
        path = os.path.join(OUT, name)
        make(path)
        write_times(path)
    write_unsafe(os.path.join(OUT, "unsafe.zip"))
    with open(os.path.join(OUT, "stamp"), "w") as f:
        f.write("ok\n")


main()
