#!/usr/bin/env python3
"""Writes seed inputs for one fuzz target into a corpus folder, made from the
test files of the build (tests/fixtures) and a few installed real files.

Usage: seed_corpus.py TARGET CORPUS-FOLDER FILE...

What a target gets depends on its name:
  *version*           the bytes of every version resource of the executables
  *truetype*, *font*  each font cut down to its offset table and naming table
  *typelib*, *tlb*    type library images: the .tlb files, and the TYPELIB
                      resources of executables
  *clr*, *metadata*   the .NET metadata of the assemblies (from "BSJB" on)
  *map*               Source Maps written here (the files are not used)
  *settings*          settings files written here, UTF-8 and UTF-16 (the
                      files are not used)
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


MAP_SEEDS = {
    "release": b"/data/Product/Release\r\n"
               b"setup.exe|.exe|2.01.00.05|English (British)|73728\r\n"
               b"bin\\tools\\conv.exe|.exe|1.00.00.12|[Neutral]|40960\r\n"
               b"fonts/dejavu.ttf|.ttf|2.37||757076\r\n",
    "odd-lines": b"\xef\xbb\xbf\"C:/Old/\"\nx.dll|.dll|1|Fran\xe7ais|3\r\ry.dll|.dll|2\n\n"
                 b"../up.dll|.dll|1||1\r\n/abs.dll|.dll|1||1\r\na|b|c|d|5|extra\r\n",
}

SETTINGS_TEXT = ("; kept by hand\r\n[General]\r\nSource=/data/src\r\nTarget=\"/data/dst\"\r\n"
                 "Different=1\r\nColumns=1111111111\r\n\r\n[Position]\r\nState=0\r\n"
                 "Width=853\r\n\r\n[Source]\r\n0=/data/src\r\n1=/data/\u00e9t\u00e9\r\n\r\n"
                 "[CoolBar]\r\n1_Name=pbToolbar\r\n1_Width=264\r\n")


def text_seeds(target):
    """Seeds of the targets that read text files rather than binaries."""
    if "map" in target:
        return MAP_SEEDS
    if "settings" in target:
        return {
            "utf8": SETTINGS_TEXT.encode("utf-8"),
            "utf16le": b"\xff\xfe" + SETTINGS_TEXT.encode("utf-16-le"),
            "utf16be": b"\xfe\xff" + SETTINGS_TEXT.encode("utf-16-be"),
            "cr-only": SETTINGS_TEXT.replace("\r\n", "\r").encode("cp1252"),
        }
    return None


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    target, folder, files = argv[1].lower(), argv[2], argv[3:]
    os.makedirs(folder, exist_ok=True)
    seeds = text_seeds(target)
    if seeds is not None:
        for name, data in seeds.items():
            write_seed(folder, name, data)
        print("%s: %d seeds in %s" % (target, len(seeds), folder))
        return 0
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
        elif "clr" in target or "metadata" in target:
            seeds = clr_metadata(path)
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


def clr_metadata(path):
    """The metadata a .NET assembly's CLI header names, or nothing."""
    if pefile is None:
        return []
    try:
        pe = pefile.PE(path, fast_load=True)
        directories = pe.OPTIONAL_HEADER.DATA_DIRECTORY
        if len(directories) <= 14 or directories[14].VirtualAddress == 0:
            return []
        header = pe.get_data(directories[14].VirtualAddress, 16)
        rva, size = struct.unpack_from("<II", header, 8)
        return [pe.get_data(rva, size)] if rva and size else []
    except (pefile.PEFormatError, struct.error):
        return []


if __name__ == "__main__":
    sys.exit(main(sys.argv))
