#!/usr/bin/env python3
"""Makes two folder trees of Wine's own PE files and fonts for benchmarking
`sorvane-cli compare` against bench/floor_scan.c.

    bench/make_wine_trees.py OUTDIR [--files N] [--seed S] [--wine DIR] [--fonts DIR]
                             [--equal] [--whole] [--max-bytes B]

OUTDIR/source and OUTDIR/target each get N files (default 20,000) in nested
folders, as bench/make_trees.py lays them out. The files are the PE files of
Debian's Wine (package libwine: DIR defaults to
/usr/lib/x86_64-linux-gnu/wine/x86_64-windows) and its TrueType fonts
(package fonts-wine, /usr/share/wine/fonts), both installed by
scripts/bootstrap. Of every 20 source files 13 are PE files with a version
resource, 6 PE files without one (most of Wine's are so) and 1 a font, each
kind taken in turn from the installed files under its own name. Type
libraries and Wine's import libraries (*.a) are left out.

The target side holds, under the same names: the same file (about half),
the file with its fixed file version one lower or one higher, the file
4 KiB longer, the file with its first translation and string table in
another language, another Wine file of the same kind, or nothing (orphans).

The files are real Wine files, but stored sparse: of a PE file only the
headers (at least the first 4 KiB) and the resource section are written, of
any other file the whole; the rest of each file is a hole of its full size.
A version reader reads nothing else, and the 40,000 files take about 2 GB
instead of 29. Do not warm the trees with `cat`: that would fill the page
cache with the holes' zeros. bench/floor_bench.sh warms them by reading them
with the floor program once.

For benchmarks that read whole files (compare --content, bench/content_bench.sh):
--equal makes every target the same file as its source (no orphans, no
other versions), --whole writes each file whole, without holes, and
--max-bytes B takes only Wine's files of at most B bytes, so that both trees
fit in the page cache.
"""
import argparse
import os
import random
import struct
import sys

VERSION_KEY = "VS_VERSION_INFO".encode("utf-16-le")
TRANSLATION_KEY = "Translation\0".encode("utf-16-le")
FIXED_SIGNATURE = struct.pack("<I", 0xFEEF04BD)


def pe_layout(data):
    """(header bytes, (resource offset, resource size)) of a PE file, or None."""
    if len(data) < 64 or data[:2] != b"MZ":
        return None
    lfanew = struct.unpack_from("<I", data, 0x3C)[0]
    if lfanew + 24 > len(data) or data[lfanew:lfanew + 4] != b"PE\0\0":
        return None
    sections, optional_size = struct.unpack_from("<H", data, lfanew + 6)[0], \
        struct.unpack_from("<H", data, lfanew + 20)[0]
    optional = lfanew + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    if magic not in (0x10B, 0x20B):
        return None
    headers = struct.unpack_from("<I", data, optional + 60)[0]
    directory = optional + (96 if magic == 0x10B else 112) + 2 * 8
    resource_rva = struct.unpack_from("<I", data, directory)[0] if directory + 8 <= optional + optional_size else 0
    table = optional + optional_size
    resource = None
    for i in range(sections):
        at = table + 40 * i
        if at + 40 > len(data):
            break
        virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<IIII", data, at + 8)
        if resource_rva and rva <= resource_rva < rva + max(virtual_size, raw_size):
            resource = (raw_offset, raw_size)
    header_end = max(4096, headers, table + 40 * sections)
    return header_end, resource


def kept_ranges(data):
    """The byte ranges of a file a version reader may read, and whether it is
    a PE file."""
    layout = pe_layout(data)
    if layout is None:
        return [(0, len(data))], False
    header_end, resource = layout
    ranges = [(0, min(header_end, len(data)))]
    if resource:
        ranges.append((resource[0], min(resource[0] + resource[1], len(data))))
    return ranges, True


def version_block_at(data):
    """Offset of VS_VERSION_INFO's node in the file, or None."""
    key = data.find(VERSION_KEY)
    return key - 6 if key >= 6 else None


def fixed_info_at(data):
    block = version_block_at(data)
    if block is None:
        return None
    at = data.find(FIXED_SIGNATURE, block, block + 128)
    return at if at >= 0 else None


def with_version_step(data, step):
    """The file with its fixed file version moved by `step` (its last part
    counting); None when it has no fixed version."""
    at = fixed_info_at(data)
    if at is None:
        return None
    ms, ls = struct.unpack_from("<II", data, at + 8)
    version = ((ms << 32) | ls) + step
    if version < 0 or version >= 1 << 64:
        return None
    out = bytearray(data)
    struct.pack_into("<II", out, at + 8, version >> 32, version & 0xFFFFFFFF)
    return bytes(out)


def with_other_language(data):
    """The file with its first translation and the string table of that
    translation in German (or English, when it is German); None when the
    block is not laid out as expected."""
    block = version_block_at(data)
    if block is None:
        return None
    length = struct.unpack_from("<H", data, block)[0]
    end = block + length
    key = data.find(TRANSLATION_KEY, block, end)
    if key < 0:
        return None
    value = (key + len(TRANSLATION_KEY) + 3) & ~3
    language, code_page = struct.unpack_from("<HH", data, value)
    other = 0x0407 if language != 0x0407 else 0x0409
    out = bytearray(data)
    struct.pack_into("<H", out, value, other)
    for text in ("%04X%04X" % (language, code_page), "%04x%04x" % (language, code_page)):
        table = data.find(text.encode("utf-16-le"), block, end)
        if table >= 0:
            new = ("%04X%04X" % (other, code_page) if text.isupper() or text.isdigit()
                   else "%04x%04x" % (other, code_page))
            out[table:table + 16] = new.encode("utf-16-le")
            return bytes(out)
    return None


def write_sparse(path, chunks, size):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        for start, data in chunks:
            f.seek(start)
            f.write(data)
        f.truncate(size)


def patched(chunks, patch):
    """The chunks with `patch` applied to the first one it can change; None
    when none."""
    for i, (start, data) in enumerate(chunks):
        changed = patch(data)
        if changed is not None:
            return chunks[:i] + [(start, changed)] + chunks[i + 1:]
    return None


class Pool:
    """Files of one kind, handed out in turn; of each only the bytes a
    version reader may read are kept, as (offset, bytes) chunks."""

    def __init__(self, paths, whole=False):
        self.paths = paths
        self.next = 0
        self.cache = {}
        self.whole = whole

    def take(self):
        path = self.paths[self.next % len(self.paths)]
        self.next += 1
        return path

    def other(self, path, rng):
        while True:
            choice = rng.choice(self.paths)
            if choice != path or len(self.paths) == 1:
                return choice

    def load(self, path):
        if path not in self.cache:
            with open(path, "rb") as f:
                data = f.read()
            ranges, _ = kept_ranges(data)
            if self.whole:
                ranges = [(0, len(data))]
            self.cache[path] = ([(start, data[start:end]) for start, end in ranges], len(data))
        return self.cache[path]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("outdir")
    parser.add_argument("--files", type=int, default=20000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--wine", default="/usr/lib/x86_64-linux-gnu/wine/x86_64-windows")
    parser.add_argument("--fonts", default="/usr/share/wine/fonts")
    parser.add_argument("--equal", action="store_true",
                        help="every target the same file as its source")
    parser.add_argument("--whole", action="store_true", help="files written whole, no holes")
    parser.add_argument("--max-bytes", type=int, default=0,
                        help="only Wine files of at most this many bytes")
    args = parser.parse_args()

    versioned, plain, fonts = [], [], []
    for name in sorted(os.listdir(args.wine)):
        path = os.path.join(args.wine, name)
        if not os.path.isfile(path) or name.lower().endswith((".tlb", ".olb", ".ttf")):
            continue
        if args.max_bytes and os.path.getsize(path) > args.max_bytes:
            continue
        with open(path, "rb") as f:
            data = f.read()
        ranges, pe = kept_ranges(data)
        if not pe:
            continue
        (versioned if fixed_info_at(data) is not None else plain).append(path)
    if os.path.isdir(args.fonts):
        fonts = [os.path.join(args.fonts, n) for n in sorted(os.listdir(args.fonts))
                 if n.lower().endswith(".ttf")]
    if len(versioned) < 40 or len(plain) < 40 or not fonts:
        sys.exit("make_wine_trees: needs Wine's PE files in %s (package libwine) and its fonts "
                 "in %s (package fonts-wine)" % (args.wine, args.fonts))
    pools = {"versioned": Pool(versioned, args.whole), "plain": Pool(plain, args.whole),
             "font": Pool(fonts, args.whole)}
    # Of every 20 files: 13 versioned, 6 without a version, 1 font.
    pattern = ["versioned"] * 13 + ["plain"] * 6 + ["font"]

    rng = random.Random(args.seed)
    source = os.path.join(args.outdir, "source")
    target = os.path.join(args.outdir, "target")
    kinds = {}
    stored = 0
    per_folder = 40
    seen = set()
    for i in range(args.files):
        folder = os.path.join("d%02d" % (i // (per_folder * 25) % 100), "s%02d" % (i // per_folder % 25))
        if i % 3 == 0:
            folder = os.path.join(folder, "deep")
        kind = pattern[i % len(pattern)]
        pool = pools[kind]
        original = pool.take()
        name = os.path.join(folder, os.path.basename(original))
        if name in seen:
            sys.exit("make_wine_trees: %s twice; too few files of a kind" % name)
        seen.add(name)
        chunks, size = pool.load(original)
        write_sparse(os.path.join(source, name), chunks, size)
        stored += sum(len(data) for _, data in chunks)

        roll = 1.0 if args.equal else rng.random()
        other, other_size, what = None, size, "equal"
        if roll < 0.06:
            what = "orphan"
        elif roll < 0.18 and kind == "versioned":
            other, what = patched(chunks, lambda d: with_version_step(d, -1)), "newer source"
        elif roll < 0.28 and kind == "versioned":
            other, what = patched(chunks, lambda d: with_version_step(d, +1)), "newer target"
        elif roll < 0.34:
            other, other_size, what = chunks, size + 4096, "size"
        elif roll < 0.38 and kind == "versioned":
            other, what = patched(chunks, with_other_language), "language"
        elif roll < 0.46:
            other, other_size = pool.load(pool.other(original, rng))
            what = "other file"
        if what == "orphan":
            kinds[what] = kinds.get(what, 0) + 1
            continue
        if other is None:
            other, other_size, what = chunks, size, "equal"
        write_sparse(os.path.join(target, name), other, other_size)
        stored += sum(len(data) for _, data in other)
        kinds[what] = kinds.get(what, 0) + 1
    print("made %d files a side in %s (%d versioned, %d unversioned PE files, %d fonts to pick "
          "from; %.0f MB stored): %s" % (args.files, args.outdir, len(versioned), len(plain),
                                         len(fonts), stored / 1e6, kinds))


if __name__ == "__main__":
    main()
