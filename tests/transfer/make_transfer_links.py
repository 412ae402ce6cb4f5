#!/usr/bin/env python3
"""Host symbolic links in the places the downloader and the extractor write.
The tests run under Wine, which cannot make links itself but shows the
host's: a link to a file as a plain file, a link to a folder as a folder.
Nothing under "outside" may change, whatever the tests write under the links.

    make_transfer_links.py --out DIR
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
    for folder in ('tools', 'sub'):
        os.makedirs(os.path.join(outside, folder))
    for name, text in (('precious.zip', 'keep zip'), ('readme.txt', 'keep readme'),
                       ('tools/keep.txt', 'keep tools'), ('sub/keep.txt', 'keep sub')):
        with open(os.path.join(outside, name), 'w') as f:
            f.write(text)
    for folder in ('downloads', 'kit'):
        os.makedirs(os.path.join(out, folder))
    links = {
        'downloads/kit.zip': 'outside/precious.zip',     # a file link where an archive is downloaded
        'downloads/dangling.zip': 'outside/never.zip',   # a link to nothing: nothing may be made there
        'kit/readme.txt': 'outside/readme.txt',          # a file link where an entry is unpacked
        'kit/sub': 'outside/sub',                        # a folder link the extractor would enter
        'toolchain': 'outside/tools',                    # a destination folder that is a link
    }
    for link, target in links.items():
        os.symlink(os.path.join(out, target), os.path.join(out, link))


if __name__ == '__main__':
    main()
