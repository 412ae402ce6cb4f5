#!/usr/bin/env python3
"""Host symbolic links where the build runner writes its log. Wine cannot make
links itself but shows the host's, a link to a file as a plain file that
writes go through. Everything under "outside" must stay as it is made here.

    make_runner_links.py --out DIR
"""
import argparse
import os
import shutil


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--out', required=True)
    out = os.path.abspath(parser.parse_args().out)
    if os.path.lexists(out):
        shutil.rmtree(out)
    outside = os.path.join(out, 'outside')
    os.makedirs(outside)
    with open(os.path.join(outside, 'precious.txt'), 'w') as f:
        f.write('keep')
    # A link to a file, and one to a file that does not exist (a write
    # through it would create the file outside).
    for kit, target in (('kit_file_link', 'precious.txt'), ('kit_dangling_link', 'not_there.txt')):
        os.makedirs(os.path.join(out, kit))
        os.symlink(os.path.join(outside, target), os.path.join(out, kit, 'build_log.txt'))


if __name__ == '__main__':
    main()
