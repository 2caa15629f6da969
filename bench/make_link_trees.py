#!/usr/bin/env python3
"""Makes two large folder trees of hard links to the files of smaller ones.

    bench/make_link_trees.py BASEDIR OUTDIR --files N

BASEDIR holds source/ and target/ as bench/make_trees.py makes them. OUTDIR
gets source/ and target/ with N files each (fewer on the target side, where
the base has orphans): file i is a hard link to the i-th file of the base
source tree (counted round), and its target, when the base has one, a hard
link to the base's target file of the same name. So the big trees hold the
same mix of newer, older, equal, orphaned and unversioned pairs as the base,
in 100 files a folder, without using more disk than the folders themselves.
Both trees must be on the file system of BASEDIR.
"""
import argparse
import os
import sys
import time


def base_files(root):
    files = []
    for folder, dirs, names in os.walk(root):
        dirs.sort()
        for name in sorted(names):
            files.append(os.path.relpath(os.path.join(folder, name), root))
    return files


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("basedir")
    parser.add_argument("outdir")
    parser.add_argument("--files", type=int, required=True)
    args = parser.parse_args()
    base_source = os.path.join(args.basedir, "source")
    base_target = os.path.join(args.basedir, "target")
    files = base_files(base_source)
    if not files:
        sys.exit("no files under " + base_source)
    start = time.monotonic()
    made = {"source": 0, "target": 0}
    folders = set()
    for i in range(args.files):
        folder = os.path.join("d%03d" % (i // 10000), "s%02d" % (i // 100 % 100))
        relative = files[i % len(files)]
        name = os.path.join(folder, "file%07d%s" % (i, os.path.splitext(relative)[1]))
        for side, base in (("source", base_source), ("target", base_target)):
            original = os.path.join(base, relative)
            if side == "target" and not os.path.exists(original):
                continue
            link = os.path.join(args.outdir, side, name)
            if (side, folder) not in folders:
                os.makedirs(os.path.dirname(link), exist_ok=True)
                folders.add((side, folder))
            os.link(original, link)
            made[side] += 1
    print("linked %d source and %d target files in %s in %.1f s" %
          (made["source"], made["target"], args.outdir, time.monotonic() - start))


if __name__ == "__main__":
    main()
