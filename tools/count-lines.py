#!/usr/bin/env python3
"""Counts non-blank, non-comment lines of the code and of the tests, and
prints their ratio: code is source/, iges/, view/, tools/ and fuzz/, tests
are tests/ (C++ sources and headers, scripts, CMake files).

    tools/count-lines.py [--files]     # --files: every file, largest first
"""
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CODE = ["source", "iges", "view", "tools", "fuzz"]
EXTENSIONS = (".cpp", ".h", ".hpp", ".c", ".py", ".sh", ".cmake")


def count(path):
    hash_comments = path.endswith((".sh", ".py", ".cmake", "CMakeLists.txt"))
    lines, in_block = 0, False
    for raw in open(path, encoding="utf-8", errors="replace"):
        s = raw.strip()
        if in_block:
            if "*/" not in s:
                continue
            in_block, s = False, s.split("*/", 1)[1].strip()
        if not s or s.startswith("//") or s.startswith("#!") or (hash_comments and s.startswith("#")):
            continue
        if s.startswith("/*"):
            in_block = "*/" not in s
            continue
        lines += 1
    return lines


def tree(folder):
    per = {}
    for base, _, files in os.walk(os.path.join(ROOT, folder)):
        for f in files:
            if f.endswith(EXTENSIONS) or f == "CMakeLists.txt":
                path = os.path.join(base, f)
                per[os.path.relpath(path, ROOT)] = count(path)
    return per


code = {folder: tree(folder) for folder in CODE}
tests = tree("tests")
code_total = sum(sum(per.values()) for per in code.values())
test_total = sum(tests.values())
for folder in CODE:
    print("%-8s %6d" % (folder, sum(code[folder].values())))
print("code     %6d\ntests    %6d\ntests are %.1f%% of the code" % (code_total, test_total, 100.0 * test_total / code_total))
if "--files" in sys.argv[1:]:
    every = dict(tests)
    for per in code.values():
        every.update(per)
    for path, n in sorted(every.items(), key=lambda item: -item[1]):
        print("%6d %s" % (n, path))
