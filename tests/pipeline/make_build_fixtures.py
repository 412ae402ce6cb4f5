#!/usr/bin/env python3
"""Release fixtures for the build tests, one release base per case, made with
tools/make-demo-release and then changed where a case needs a fault:

    good        version v1, tools t1, every checksum
    v2          version v2, the same tools version t1
    upper       checksums in upper case
    nosum       no checksums at all
    badtools    a wrong toolchain checksum
    badkit      a wrong kit checksum
    notzip      a kit archive that is not a zip file, no kit checksum
    invalid     a description without "version"
    unsafe      a kit file name that climbs out of the downloads folder
    linebreak   a version with a raw line break and a section header in it
    longname    a kit file name of 120 bytes
    levels      the description names the levels 0,1,2

    make_build_fixtures.py --tools TOOLS_BUILD_DIR --source SOURCE_DIR --out DIR
"""
import argparse
import json
import os
import shutil
import subprocess
import sys


def make(source, tools, out, name, version, toolchain_version='t1', levels=None):
    command = [sys.executable, os.path.join(source, 'tools', 'make-demo-release'),
               '--interpreter', os.path.join(tools, 'standin_python', 'standin_python.exe'),
               '--game-exe', os.path.join(tools, 'standin_game', 'standin_game.exe'),
               '--out', os.path.join(out, name), '--version', version, '--toolchain-version', toolchain_version]
    if levels:
        command += ['--levels', levels]
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    return os.path.join(out, name, 'mox1', 'mox1.json')


def rewrite(path, change):
    with open(path) as f:
        description = json.load(f)
    change(description)
    with open(path, 'w') as f:
        json.dump(description, f, indent=2)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--tools', required=True)
    parser.add_argument('--source', required=True)
    parser.add_argument('--out', required=True)
    args = parser.parse_args()
    if os.path.exists(args.out):
        shutil.rmtree(args.out)
    os.makedirs(args.out)
    make_one = lambda name, version='v1', **k: make(args.source, args.tools, args.out, name, version, **k)

    make_one('good')
    make_one('v2', 'v2')
    rewrite(make_one('upper'), lambda d: d.update(toolchain_sha256=d['toolchain_sha256'].upper(),
                                                  kit_sha256=d['kit_sha256'].upper()))
    rewrite(make_one('nosum'), lambda d: (d.pop('toolchain_sha256'), d.pop('kit_sha256')))
    rewrite(make_one('badtools'), lambda d: d.update(toolchain_sha256='0' * 64))
    rewrite(make_one('badkit'), lambda d: d.update(kit_sha256='0' * 64))
    notzip = make_one('notzip')
    with open(notzip) as f:
        kit = json.load(f)['kit_file']
    with open(os.path.join(os.path.dirname(notzip), kit), 'wb') as f:
        f.write(b'this is not a zip archive\n' * 10)
    rewrite(notzip, lambda d: d.pop('kit_sha256'))
    rewrite(make_one('invalid'), lambda d: d.pop('version'))
    rewrite(make_one('unsafe'), lambda d: d.update(kit_file='../' + d['kit_file']))
    make_one('levels', levels='0,1,2')
    subprocess.run([sys.executable, os.path.join(args.source, 'tools', 'make-demo-release'),
                    '--interpreter', os.path.join(args.tools, 'standin_python', 'standin_python.exe'),
                    '--out', os.path.join(args.out, 'longname'), '--version', 'v1', '--toolchain-version', 't1',
                    '--kit-file', 'k' * 116 + '.zip'], check=True, stdout=subprocess.DEVNULL)
    # Raw bytes: json.dump would escape the line break.
    linebreak = make_one('linebreak')
    with open(linebreak, 'rb') as f:
        text = f.read()
    with open(linebreak, 'wb') as f:
        f.write(text.replace(b'"version": "v1"', b'"version": "v1\r\n[library]\r\ncount=0"'))


if __name__ == '__main__':
    main()
