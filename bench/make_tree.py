#!/usr/bin/env python3
"""Write a folder tree for the drop benchmark: FILES empty files spread over FOLDERS folders,
two levels deep (a tenth of the folders directly under the root, the rest below them).

Usage: make_tree.py ROOT [FILES] [FOLDERS]
"""
import os
import sys


def main():
    root = sys.argv[1]
    files = int(sys.argv[2]) if len(sys.argv) > 2 else 100_000
    folders = int(sys.argv[3]) if len(sys.argv) > 3 else 1_000
    top = max(1, folders // 10)
    paths = []
    for i in range(top):
        paths.append(os.path.join(root, f"group{i:03d}"))
    for i in range(folders - top):
        paths.append(os.path.join(paths[i % top], f"set{i:04d}"))
    for p in paths:
        os.makedirs(p, exist_ok=True)
    for i in range(files):
        folder = paths[i % len(paths)]
        open(os.path.join(folder, f"item{i:06d}.txt"), "w").close()


if __name__ == "__main__":
    main()
