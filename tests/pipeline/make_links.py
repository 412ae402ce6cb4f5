#!/usr/bin/env python3
"""Host symbolic links for the deletion tests. The tests run under Wine,
which cannot make links itself but shows the host's: a link to a folder as a
folder link, a link to a file as a plain file. Everything under "outside" must
survive every deletion the tests make under "tree" and of the "top_" links.

    make_links.py --out DIR
"""
import argparse
import os
import shutil


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--out', required=True)
    out = parser.parse_args().out
    if os.path.lexists(out):
        shutil.rmtree(out)
    outside = os.path.join(out, 'outside')
    for folder in ('inner', 'empty', 'empty_read_only', 'empty_top'):
        os.makedirs(os.path.join(outside, folder))
    for name, text in (('precious.txt', 'keep'), ('read_only.txt', 'keep'), ('top.txt', 'keep'),
                       ('inner/also.txt', 'keep')):
        with open(os.path.join(outside, name), 'w') as f:
            f.write(text)
    # Read-only in Wine's eyes: the deletion clears that attribute first.
    os.chmod(os.path.join(outside, 'read_only.txt'), 0o444)
    os.chmod(os.path.join(outside, 'empty_read_only'), 0o555)

    tree = os.path.join(out, 'tree')
    os.makedirs(os.path.join(tree, 'sub'))
    with open(os.path.join(tree, 'sub', 'plain.txt'), 'w') as f:
        f.write('goes')
    links = {
        'tree/file_link.txt': 'outside/precious.txt',
        'tree/sub/read_only_link.txt': 'outside/read_only.txt',
        'tree/folder_link': 'outside',
        'tree/empty_link': 'outside/empty',
        'tree/sub/empty_read_only_link': 'outside/empty_read_only',
        'top_file_link.txt': 'outside/top.txt',
        'top_folder_link': 'outside/empty_top',
    }
    for link, target in links.items():
        os.symlink(os.path.join(out, target), os.path.join(out, link))


if __name__ == '__main__':
    main()
