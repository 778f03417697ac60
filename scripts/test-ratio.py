#!/usr/bin/env python3
"""Prints how large the tests are beside the code they test.

Tests: every tracked text file under tests/. Code: the tracked .cpp and .h files outside
tests/ and bench/. Both counted in non-blank lines. Run from anywhere inside the repository.
"""
import subprocess
import sys


def non_blank(path):
    with open(path, "rb") as f:
        data = f.read()
    if b"\0" in data:
        return 0  # a binary seed or corpus file is data, not test code
    return sum(1 for line in data.decode("utf-8", "replace").splitlines() if line.strip())


def main():
    top = subprocess.run(["git", "rev-parse", "--show-toplevel"], capture_output=True, text=True, check=True).stdout.strip()
    files = subprocess.run(["git", "-C", top, "ls-files", "-z"], capture_output=True, text=True, check=True).stdout.split("\0")
    tests = code = 0
    for name in filter(None, files):
        path = top + "/" + name
        if name.startswith("tests/"):
            tests += non_blank(path)
        elif name.endswith((".cpp", ".h")) and not name.startswith("bench/"):
            code += non_blank(path)
    if code == 0:
        sys.exit("no code found")
    print(f"tests {tests} lines, code {code} lines, ratio {tests / code:.2f}")


if __name__ == "__main__":
    main()
