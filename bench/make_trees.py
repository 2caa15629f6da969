#!/usr/bin/env python3
"""Makes two folder trees for benchmarking `sorvane-cli compare`.

    bench/make_trees.py OUTDIR [--files N] [--seed S]

OUTDIR/source and OUTDIR/target each get about N files (default 20,000) in
nested folders: PE files with version resources (most of them), files without
version data, and pairs that are newer on either side, equal, equal in
version but different in size, different in language, or missing on the
target side. The PE files are small but real: DOS and PE headers, one
resource section, RT_VERSION with fixed info, a translation and a string
table.
"""
import argparse
import os
import random
import struct


def align4(n):
    return (n + 3) & ~3


def node(key, value=b"", children=(), text=False):
    """One VS_VERSIONINFO node (32-bit layout)."""
    key_bytes = (key + "\0").encode("utf-16-le")
    head = 6 + len(key_bytes)
    body = bytearray(b"\0" * (align4(head) - head))
    body += value
    if children:
        body += b"\0" * (align4(len(body) + head) - (len(body) + head))
        for child in children:
            pad = align4(head + len(body)) - (head + len(body))
            body += b"\0" * pad + child
    if text:
        value_length = len(value) // 2
    else:
        value_length = len(value)
    length = head + len(body)
    return struct.pack("<HHH", length, value_length, 1 if text else 0) + key_bytes + bytes(body)


def string_node(name, value):
    return node(name, (value + "\0").encode("utf-16-le"), text=True)


def version_block(version, language, description, copyright):
    ms = (version[0] << 16) | version[1]
    ls = (version[2] << 16) | version[3]
    fixed = struct.pack("<13I", 0xFEEF04BD, 0x00010000, ms, ls, ms, ls, 0x3F, 0, 0x40004, 2, 0, 0, 0)
    table_key = "%04X04B0" % language
    strings = node(table_key, children=[
        string_node("CompanyName", "Bench Makers"),
        string_node("FileDescription", description),
        string_node("FileVersion", "%d.%d.%d.%d" % version),
        string_node("LegalCopyright", copyright),
    ], text=True)
    string_info = node("StringFileInfo", children=[strings], text=True)
    translation = node("Translation", struct.pack("<HH", language, 0x04B0))
    var_info = node("VarFileInfo", children=[translation], text=True)
    return node("VS_VERSION_INFO", fixed, children=[string_info, var_info])


def pe_file(block, language, padding):
    """A PE32 image whose only section holds the resource tree."""
    section_rva = 0x1000
    file_align = 0x200
    # Resource tree: type 16 -> name 1 -> language -> data entry -> block.
    root = struct.pack("<IIHHHH", 0, 0, 0, 0, 0, 1) + struct.pack("<II", 16, 0x80000000 | 0x18)
    names = struct.pack("<IIHHHH", 0, 0, 0, 0, 0, 1) + struct.pack("<II", 1, 0x80000000 | 0x30)
    langs = struct.pack("<IIHHHH", 0, 0, 0, 0, 0, 1) + struct.pack("<II", language, 0x48)
    data_offset = 0x58
    entry = struct.pack("<IIII", section_rva + data_offset, len(block), 0, 0)
    tree = root + names + langs + entry
    assert len(tree) == data_offset
    rsrc = tree + block
    raw_size = (len(rsrc) + file_align - 1) // file_align * file_align
    rsrc += b"\0" * (raw_size - len(rsrc))

    dos = bytearray(64)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, 0x40)
    coff = struct.pack("<HHIIIHH", 0x14C, 1, 0, 0, 0, 0xE0, 0x2102)
    optional = bytearray(0xE0)
    struct.pack_into("<H", optional, 0, 0x10B)
    struct.pack_into("<I", optional, 28, 0x10000000)        # ImageBase
    struct.pack_into("<II", optional, 32, 0x1000, file_align)
    struct.pack_into("<I", optional, 56, section_rva + raw_size)  # SizeOfImage
    struct.pack_into("<I", optional, 60, 0x200)             # SizeOfHeaders
    struct.pack_into("<I", optional, 92, 16)                # NumberOfRvaAndSizes
    struct.pack_into("<II", optional, 112, section_rva, len(tree) + len(block))
    section = bytearray(40)
    section[0:8] = b".rsrc\0\0\0"
    struct.pack_into("<IIII", section, 8, raw_size, section_rva, raw_size, 0x200)
    struct.pack_into("<I", section, 36, 0x40000040)
    header = bytes(dos) + b"PE\0\0" + coff + bytes(optional) + bytes(section)
    header += b"\0" * (0x200 - len(header))
    return header + rsrc + b"\0" * padding


LANGUAGES = [0x0409, 0x0407, 0x040C, 0x0000]


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("outdir")
    parser.add_argument("--files", type=int, default=20000)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    source = os.path.join(args.outdir, "source")
    target = os.path.join(args.outdir, "target")
    kinds = {"newer": 0, "older": 0, "equal": 0, "size": 0, "language": 0, "orphan": 0,
             "unversioned": 0}
    per_folder = 40
    for i in range(args.files):
        depth_path = os.path.join("d%02d" % (i // (per_folder * 25) % 100),
                                  "s%02d" % (i // per_folder % 25))
        if i % 3 == 0:
            depth_path = os.path.join(depth_path, "deep")
        name = os.path.join(depth_path, "file%06d.dll" % i)
        roll = rng.random()
        language = LANGUAGES[i % len(LANGUAGES)]
        version = (1 + i % 7, i % 13, i % 3000, i % 97)
        block = version_block(version, language, "Component %d" % i, "(c) Bench %d" % (i % 50))
        pad = 64 * (i % 50)
        if roll < 0.08:
            kinds["unversioned"] += 1
            data = b"not a PE file " * (10 + i % 40)
            write(os.path.join(source, name), data)
            write(os.path.join(target, name), data)
            continue
        write(os.path.join(source, name), pe_file(block, language, pad))
        if roll < 0.20:
            kinds["newer"] += 1
            older = (version[0], version[1], version[2], max(0, version[3] - 1)) if version[3] else \
                (version[0] - 1 if version[0] else 0, version[1], version[2], 5)
            other = version_block(older, language, "Component %d" % i, "(c) Bench")
            write(os.path.join(target, name), pe_file(other, language, pad))
        elif roll < 0.30:
            kinds["older"] += 1
            newer = (version[0] + 1, version[1], version[2], version[3])
            other = version_block(newer, language, "Component %d" % i, "(c) Bench")
            write(os.path.join(target, name), pe_file(other, language, pad))
        elif roll < 0.36:
            kinds["size"] += 1
            write(os.path.join(target, name), pe_file(block, language, pad + 512))
        elif roll < 0.40:
            kinds["language"] += 1
            other_lang = LANGUAGES[(i + 1) % len(LANGUAGES)]
            other = version_block(version, other_lang, "Component %d" % i, "(c) Bench")
            write(os.path.join(target, name), pe_file(other, other_lang, pad))
        elif roll < 0.46:
            kinds["orphan"] += 1
        else:
            kinds["equal"] += 1
            write(os.path.join(target, name), pe_file(block, language, pad))
    print("made", args.files, "files a side in", args.outdir, kinds)


if __name__ == "__main__":
    main()
