#!/usr/bin/env python3
"""Writes seed inputs for one fuzz target into a corpus folder, made from the
test files of the build (tests/fixtures) and a few installed real files.

Usage: seed_corpus.py TARGET CORPUS-FOLDER FILE...

What a target gets depends on its name:
  *version*           the bytes of every version resource of the executables
  *truetype*, *font*  each font cut down to its offset table and naming table
  *typelib*, *tlb*    type library images: the .tlb files, and the TYPELIB
                      resources of executables
  *pe*, *image*, and anything else
                      the files as they are

Seeds are named seed-<file>[-<n>] so that seeding again replaces them. Needs
pefile to take resources out of executables; without it those seeds are left
out (with a note).
"""

import os
import struct
import sys

try:
    import pefile
except ImportError:
    pefile = None


def write_seed(folder, name, data):
    with open(os.path.join(folder, "seed-" + name), "wb") as f:
        f.write(data)


def resources(path, wanted):
    """Bytes of every resource of type `wanted` (an id or a name) in `path`."""
    if pefile is None:
        return []
    try:
        pe = pefile.PE(path, fast_load=True)
        pe.parse_data_directories(
            directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    except (pefile.PEFormatError, OSError):
        return []
    found = []
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for type_entry in root.entries if root is not None else []:
        if isinstance(wanted, int):
            matches = type_entry.id == wanted
        else:
            matches = type_entry.name is not None and str(type_entry.name) == wanted
        if not matches or not hasattr(type_entry, "directory"):
            continue
        for name_entry in type_entry.directory.entries:
            if not hasattr(name_entry, "directory"):
                continue
            for lang_entry in name_entry.directory.entries:
                data = lang_entry.data.struct
                found.append(pe.get_data(data.OffsetToData, data.Size))
    return found


def naming_table_font(data):
    """The font reduced to an offset table with one directory entry, "name",
    and the naming table itself; None when it has none."""
    if len(data) < 12:
        return None
    count = struct.unpack_from(">H", data, 4)[0]
    for i in range(count):
        at = 12 + 16 * i
        if at + 16 > len(data):
            return None
        tag, checksum, offset, length = struct.unpack_from(">4sIII", data, at)
        if tag == b"name":
            table = data[offset:offset + length]
            header = data[0:4] + struct.pack(">HHHH", 1, 16, 0, 0)
            record = struct.pack(">4sIII", b"name", checksum, 12 + 16, len(table))
            return header + record + table
    return None


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    target, folder, files = argv[1].lower(), argv[2], argv[3:]
    os.makedirs(folder, exist_ok=True)
    if pefile is None:
        print("seed_corpus.py: no pefile; seeds taken out of executables are left out",
              file=sys.stderr)
    written = 0
    for path in files:
        base = os.path.basename(path)
        try:
            with open(path, "rb") as f:
                data = f.read()
        except OSError:
            continue
        if "version" in target:
            seeds = resources(path, 16)
        elif "truetype" in target or "font" in target:
            reduced = naming_table_font(data) if base.lower().endswith(".ttf") else None
            seeds = [reduced] if reduced else []
        elif "typelib" in target or "tlb" in target:
            seeds = [data] if data[:4] in (b"MSFT", b"SLTG") else resources(path, "TYPELIB")
            if data[:2] == b"MZ" and base.lower().endswith((".tlb", ".olb")):
                seeds.append(data)
        else:
            seeds = [data] if not base.lower().endswith(".ttf") else []
        for n, seed in enumerate(seeds):
            write_seed(folder, base if n == 0 else "%s-%d" % (base, n), seed)
            written += 1
    print("%s: %d seeds in %s" % (target, written, folder))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
