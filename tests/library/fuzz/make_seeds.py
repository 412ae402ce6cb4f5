#!/usr/bin/env python3
"""Seed corpus for the ISO record fuzzer, written at configure time: images
from their sector 16 on (the fuzzer's input), laid out record by record here
and, when xorriso is installed, written by it, so that the fuzzer starts from
what a real mastering tool writes. Standard library only; the hand-laid seeds
are the same bytes on every run.

    make_seeds.py OUT_DIR
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

SECTOR = 2048


def both32(n):
    return struct.pack('<I', n) + struct.pack('>I', n)


def record(identifier, extent, size, flags=0):
    body = bytes([0]) + both32(extent) + both32(size) + bytes(7) + bytes([flags, 0, 0]) + \
        struct.pack('<H', 1) + struct.pack('>H', 1) + bytes([len(identifier)]) + identifier
    if len(body) % 2 == 0:  # the record's length is even: a pad byte after an even-length identifier
        body += b'\0'
    return bytes([len(body) + 1]) + body


def image(files, pad_root_at=None):
    """Sector 16 onward: the descriptor, a terminator, the root at 18, then the files."""
    root_extent = 18
    root_sectors = 1 if pad_root_at is None else 2
    extent = root_extent + root_sectors
    placed = []
    for name, data in files:
        placed.append((name, extent, data))
        extent += max(1, (len(data) + SECTOR - 1) // SECTOR)
    root = record(b'\0', root_extent, root_sectors * SECTOR, 2) + record(b'\1', root_extent, root_sectors * SECTOR, 2)
    for i, (name, at, data) in enumerate(placed):
        if pad_root_at == i:  # records never cross a sector: zero bytes pad to the next one
            root += bytes(SECTOR - len(root) % SECTOR)
        root += record(name, at, len(data))
    root += bytes(-len(root) % SECTOR)
    descriptor = bytearray(SECTOR)
    descriptor[0:7] = b'\x01CD001\x01'
    descriptor[156:156 + 34] = record(b'\0', root_extent, len(root), 2)
    terminator = b'\xffCD001\x01' + bytes(SECTOR - 7)
    out = bytes(descriptor) + terminator + root
    for _, at, data in placed:
        out += bytes((at - 16) * SECTOR - len(out)) + data
    return out + bytes(-len(out) % SECTOR)


def write(folder, name, data):
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    boot = b'\x7fELF' + bytes(100)
    cnf = b'BOOT2 = cdrom0:\\SLES_123.45;1\r\nVER = 1.00\r\nVMODE = PAL\r\n'
    write(out, 'plain', image([(b'SYSTEM.CNF;1', cnf), (b'SLES_123.45;1', boot)]))
    write(out, 'padded', image([(b'README.TXT;1', b'x' * 10), (b'SYSTEM.CNF;1', cnf), (b'SLES_123.45;1', boot)],
                               pad_root_at=1))
    write(out, 'lower_case', image([(b'system.cnf', cnf.replace(b'SLES', b'slus')), (b'slus_123.45', boot)]))
    write(out, 'no_boot2', image([(b'SYSTEM.CNF;1', b'VMODE = NTSC\n')]))
    write(out, 'no_cnf', image([(b'OTHER.BIN;1', boot)]))

    xorriso = shutil.which('xorriso')
    if not xorriso:
        return
    with tempfile.TemporaryDirectory() as work:
        tree = os.path.join(work, 'tree')
        os.makedirs(tree)
        with open(os.path.join(tree, 'SYSTEM.CNF'), 'wb') as f:
            f.write(cnf.replace(b'SLES_123.45', b'SLUS_200.62'))
        with open(os.path.join(tree, 'SLUS_200.62'), 'wb') as f:
            f.write(boot)
        iso = os.path.join(work, 'disc.iso')
        env = dict(os.environ, SOURCE_DATE_EPOCH='0')
        result = subprocess.run([xorriso, '-as', 'mkisofs', '-quiet', '-o', iso, tree], env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if result.returncode != 0:
            return
        with open(iso, 'rb') as f:
            data = f.read()[16 * SECTOR:]
        # The tool pads the image to 300 KiB and more; the fuzzer needs only what the records name.
        write(out, 'xorriso', data.rstrip(b'\0') + bytes(-len(data.rstrip(b'\0')) % SECTOR))


if __name__ == '__main__':
    main()
