#!/usr/bin/env python3
"""Seed corpora for the fuzzers, written at configure time: raw deflate
streams of each block type with their capacity prefix, and small archives
from zipfile (stored, deflated, with comments and folders). The differential
decoder fuzzer gets longer streams as well, whose dynamic codes run past the
lookup tables' width and whose matches reach far back. Standard library
only; the same bytes on every run."""
import io
import os
import struct
import sys
import zipfile
import zlib

out = sys.argv[1]
inflate_dir = os.path.join(out, "inflate")
zip_dir = os.path.join(out, "zip_records")
os.makedirs(inflate_dir, exist_ok=True)
os.makedirs(zip_dir, exist_ok=True)

samples = [b"", b"a", b"hello hello hello hello", bytes(range(256)) * 3, b"abc" * 300,
           b"The quick brown fox jumps over the lazy dog. " * 20]
n = 0
for data in samples:
    for level, strategy in ((0, 0), (1, 0), (6, 0), (9, zlib.Z_FILTERED), (6, zlib.Z_FIXED),
                            (6, zlib.Z_HUFFMAN_ONLY), (6, zlib.Z_RLE)):
        c = zlib.compressobj(level, zlib.DEFLATED, -15, 8, strategy)
        raw = c.compress(data) + c.flush()
        prefix = struct.pack("<I", len(data))[:3] + b"\x00"
        with open(os.path.join(inflate_dir, f"seed{n:03d}"), "wb") as f:
            f.write(prefix + raw)
        n += 1

# Longer streams for the differential fuzzer: the fast path only runs while
# enough input remains, so short seeds would hardly reach it.
import random
differential_dir = os.path.join(out, "inflate_differential")
os.makedirs(differential_dir, exist_ok=True)
rng = random.Random(15)
words = b"alpha beta gamma delta archive entry folder level texture model sound".split()
long_samples = [
    b" ".join(rng.choice(words) for _ in range(1500)),
    bytes(rng.randrange(256) for _ in range(6000)),
    # Skewed byte frequencies: rare symbols get codes longer than 10 bits.
    bytes(min(255, int(rng.expovariate(0.08))) for _ in range(12000)),
    b"".join(struct.pack("<IH", i * 3, i % 251) for i in range(1500)),
    b"x" * 5000 + bytes(range(256)) + b"y" * 3000,
]
m = 0
for data in long_samples:
    for level, strategy in ((1, 0), (6, 0), (9, 0), (6, zlib.Z_FIXED), (6, zlib.Z_HUFFMAN_ONLY), (6, zlib.Z_RLE)):
        c = zlib.compressobj(level, zlib.DEFLATED, -15, 8, strategy)
        raw = c.compress(data) + c.flush()
        prefix = struct.pack("<I", len(data))[:3] + b"\x00"
        with open(os.path.join(differential_dir, f"seed{m:03d}"), "wb") as f:
            f.write(prefix + raw)
        m += 1
for name in sorted(os.listdir(inflate_dir)):
    with open(os.path.join(inflate_dir, name), "rb") as f, open(os.path.join(differential_dir, "short_" + name), "wb") as g:
        g.write(f.read())

archives = []
for method in (zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED):
    for comment in (b"", b"a comment"):
        buf = io.BytesIO()
        with zipfile.ZipFile(buf, "w", method) as z:
            z.writestr("dir/", b"")
            z.writestr("dir/a.txt", b"hello hello hello\n" * 5)
            z.writestr("b.bin", bytes(range(200)))
            z.writestr("caf\u00e9.txt", b"x")
            z.writestr("../up.txt", b"no")
            z.comment = comment
        archives.append(buf.getvalue())
for i, a in enumerate(archives):
    with open(os.path.join(zip_dir, f"seed{i:03d}"), "wb") as f:
        f.write(a)

# Resume records as the downloader writes them, and Content-Range values.
resume_dir = os.path.join(out, "resume_record")
os.makedirs(resume_dir, exist_ok=True)
resume_seeds = [
    b'telvar partial download 1\naddress http://127.0.0.1:8080/mox1/mox1-kit-v1.zip\nlength 52428800\n'
    b'etag "v1"\n',
    b'telvar partial download 1\naddress https://example.invalid/a.zip\nlength 7\n'
    b'last-modified Tue, 01 Dec 2026 10:00:00 GMT\n',
    b'telvar partial download 1\naddress http://h/a.zip\nlength 10\netag "x"\nlast-modified Tue\n',
    b"bytes 100-999/1000",
    b"bytes 0-0/1",
]
for i, seed in enumerate(resume_seeds):
    with open(os.path.join(resume_dir, f"seed{i:03d}"), "wb") as f:
        f.write(seed)
