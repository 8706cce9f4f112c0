#!/usr/bin/env python3
"""Checks every #include of the product's sources against the layer table.

Usage: check_includes.py [SOURCE_ROOT]   (default: the folder above this script)
       check_includes.py --folders        prints the product folders, one a line

Every library includes from one root, the source tree's top folder, so the
compiler no longer stops an include that points up the stack: this check does.
A project include is written "folder/File.h", names a file that exists, and
its folder is the including file's own or one that folder may use. tests/,
bench/ and contrib/ may include anything and are not read. Prints one line per
fault and exits 1 when there is any.
"""

import os
import re
import sys

# The one table of what each folder may use, bottom layer first. A folder may
# include its own headers, those of the folders it names, and whatever those
# may include in turn; a folder names only folders above it in this table, so
# no include can point up or form a cycle.
LAYERS = [
    ("platform", []),
    ("core", ["platform"]),
    ("flight", ["core"]),
    ("media", ["flight"]),
    ("persist", ["media"]),
    ("script", ["persist"]),
    ("render", ["script"]),
    ("control", ["render"]),
    ("resources", []),  # fixed texts, identifiers, default shaders and script
    ("ui", ["control", "resources"]),
    ("app", ["ui"]),
]

# Top-level folders that are not product code.
NOT_PRODUCT = {"tests", "bench", "contrib", "scripts"}

SOURCE_SUFFIXES = (".h", ".hpp", ".c", ".cc", ".cpp")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]*)[>"]')


def allowed_layers():
    """Each folder with the set of folders it may include, itself among them."""
    allowed = {}
    for folder, uses in LAYERS:
        reach = {folder}
        for lower in uses:
            if lower not in allowed:
                raise SystemExit(f"layer table: {folder} uses {lower}, which is not below it")
            reach |= allowed[lower]
        allowed[folder] = reach
    return allowed


def source_files(folder_path):
    for dirpath, dirnames, filenames in os.walk(folder_path):
        dirnames.sort()
        for name in sorted(filenames):
            if name.endswith(SOURCE_SUFFIXES):
                yield os.path.join(dirpath, name)


def check_file(root, folder, path, allowed, faults):
    rel = os.path.relpath(path, root)
    with open(path, encoding="utf-8", errors="replace") as f:
        lines = f.readlines()
    for number, line in enumerate(lines, 1):
        match = INCLUDE.match(line)
        if not match:
            continue
        quoted, name = match.group(1) == '"', match.group(2)
        where = f"{rel}:{number}: {line.strip()}"
        parts = name.split("/")
        if ".." in parts or "." in parts or name.startswith("/"):
            faults.append(f"{where}: climbs or leaves the include root; write \"folder/File.h\"")
            continue
        target = parts[0] if len(parts) > 1 else None
        if not quoted and target not in allowed:
            continue  # a system or library header
        if target not in allowed:
            faults.append(f"{where}: names no layer folder; write \"folder/File.h\"")
            continue
        if not os.path.isfile(os.path.join(root, name)):
            faults.append(f"{where}: no such file in {target}/")
            continue
        if target not in allowed[folder]:
            uses = ", ".join(sorted(allowed[folder] - {folder})) or "nothing"
            faults.append(f"{where}: {folder}/ may not include {target}/ (it may use: {uses})")


def main():
    if sys.argv[1:] == ["--folders"]:
        print("\n".join(folder for folder, _ in LAYERS))
        return 0
    here = os.path.dirname(os.path.abspath(__file__))
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, ".."))
    allowed = allowed_layers()
    faults = []
    checked = 0
    for entry in sorted(os.listdir(root)):
        path = os.path.join(root, entry)
        if not os.path.isdir(path) or entry.startswith("."):
            continue
        if os.path.exists(os.path.join(path, "CMakeCache.txt")):
            continue  # a build folder
        if entry in NOT_PRODUCT:
            continue
        files = list(source_files(path))
        if not files:
            continue
        if entry not in allowed:
            faults.append(f"{entry}/: a folder of sources missing from the layer table")
            continue
        for file in files:
            check_file(root, entry, file, allowed, faults)
            checked += 1
    for fault in faults:
        print(fault)
    if checked == 0:
        print(f"no product sources under {root}: the check would prove nothing")
        return 1
    if faults:
        print(f"{len(faults)} include fault(s) in {checked} files")
        return 1
    print(f"includes of {checked} files keep to the layers")
    return 0


if __name__ == "__main__":
    sys.exit(main())
