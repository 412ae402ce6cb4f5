#!/usr/bin/env python3
"""Reads the includes of src/ and fails on any edge the floors do not allow.

The program is built in floors, and a file may include files of its own floor
or below, never above:

  1. byte-level files (no Windows header; they build natively too)
  2. core/                  text and path helpers, the shared record, settings
  3. library/ transfer/ pipeline/ launch/   platform subsystems, no drawing
  4. ui/ app/               the window; cli/ sits beside it on floors 1 to 3

The table below lists every folder-to-folder edge that is allowed; an include
of a folder not listed for its file's folder is an error. Byte-level files are
checked file by file: they include no Windows header and no other project file
that is not byte-level.

  check_includes.py SRC_DIR
"""
import os
import re
import sys

ALLOWED = {
    "core": set(),
    "library": {"core"},
    "transfer": {"core"},
    "pipeline": {"core", "library", "transfer"},
    "launch": {"core", "library", "pipeline"},  # no game starts while a build makes its files
    "ui": {"core", "library", "pipeline", "launch"},
    "app": {"core", "library", "transfer", "pipeline", "launch", "ui"},
    "cli": {"core", "library", "transfer", "pipeline", "launch"},
}

# The byte-level modules: memory in, memory out.
BYTE_LEVEL = {
    "core/failure_words", "core/version",
    "library/md5", "library/iso_records",
    "transfer/inflate", "transfer/zip_records", "transfer/resume_record", "transfer/retry_pace",
    "pipeline/release_description", "pipeline/progress_line",
}

WINDOWS_HEADERS = re.compile(r"^(windows|winhttp|bcrypt|shlobj|shellapi|commdlg|wincodec|objbase|tlhelp32|"
                             r"dwmapi|winternl|psapi|ole2|oleacc|uxtheme|commctrl)\.h$", re.IGNORECASE)
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.MULTILINE)


def check(src):
    errors = []
    for folder in sorted(os.listdir(src)):
        path = os.path.join(src, folder)
        if not os.path.isdir(path):
            continue
        if folder not in ALLOWED:
            errors.append(f"{folder}/: a folder of src/ that the floors table does not know")
            continue
        for name in sorted(os.listdir(path)):
            if not name.endswith((".cpp", ".h")):
                continue
            module = f"{folder}/{os.path.splitext(name)[0]}"
            text = open(os.path.join(path, name), encoding="utf-8").read()
            for kind, target in INCLUDE.findall(text):
                where = f"{folder}/{name} includes {target}"
                if kind == "<":
                    if module in BYTE_LEVEL and WINDOWS_HEADERS.match(target):
                        errors.append(f"{where}: a byte-level file includes a Windows header")
                    continue
                if "/" not in target:
                    errors.append(f"{where}: project includes name their folder")
                    continue
                to = target.split("/")[0]
                if module in BYTE_LEVEL and os.path.splitext(target)[0] not in BYTE_LEVEL:
                    errors.append(f"{where}: a byte-level file includes a file that is not")
                elif to != folder and to not in ALLOWED[folder]:
                    errors.append(f"{where}: {folder} -> {to} is not an allowed edge")
    return errors


def main():
    errors = check(sys.argv[1])
    for e in errors:
        print(e)
    print(f"{len(errors)} include edges against the floors")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
