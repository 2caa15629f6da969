#!/usr/bin/env python3
"""Writes hostile files for the readers into a folder: tables whose counts,
offsets and lengths make a careless reader read, decode or print far more
than the file holds.

Usage: make_attack_files.py FOLDER [FONT]

FONT is the real font the damaged fonts are made from (default DejaVu Sans,
/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf, package fonts-dejavu-core);
without it those files are left out, with a note. Prints one line per file
written. bench/attack_bench.sh runs sorvane-cli over the files.

Fonts (.ttf):
  name-shared-string     5,455 name records (as many as a 16-bit storage
                         offset leaves room for), all pointing at one
                         65,535-byte UTF-16 string of CJK characters
  name-65535-records     65,535 records (names 1 and 5), all pointing at the
                         same 65,535 bytes of the storage, which overlaps
                         the records
  name-mac-script        5,455 Macintosh Japanese records over one string that
                         is ASCII up to its last byte, the Windows record last
  dejavu-name-in-glyf    DejaVu Sans with the "name" table offset moved to
                         the start of its "glyf" table
  dejavu-name-worst      DejaVu Sans with the "name" offset moved to the place
                         inside the file that makes a reader decoding every
                         record decode the most string bytes
Version resources (.dll, PE32+):
  version-many-tables    a 64 KB version block of about 1,600 string tables
  version-many-strings   one string table of about 8,000 empty strings
  version-long-value     a FileDescription of 32,000 characters
Resource directories:
  resource-many-names.tlb  a TYPELIB type found after 4,095 named entries,
                           whose name directory holds 4,096 entries all
                           named with one 512-character name; every count
                           claims 65,535 entries
  resource-deep.dll        ten levels of directories, each with 4,096
                           entries pointing at the next level
Type libraries (.tlb):
  typelib-huge-count     MSFT claiming 2^31 - 1 type infos
  typelib-long-strings   MSFT with a 32,767-byte help string and help file
  typelib-sltg-chain     SLTG with 65,535 blocks chained end to end
"""

import os
import struct
import sys

DEJAVU = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"


def write(folder, name, data):
    path = os.path.join(folder, name)
    with open(path, "wb") as f:
        f.write(data)
    print("%-32s %9d bytes" % (name, len(data)))


# ---------------------------------------------------------------------------
# Fonts


def font_with_name_table(table):
    """An offset table whose only directory entry is "name", then the table."""
    header = struct.pack(">IHHHH", 0x00010000, 1, 16, 0, 0)
    record = struct.pack(">4sIII", b"name", 0, 12 + 16, len(table))
    return header + record + table


def name_records(records):
    return b"".join(struct.pack(">HHHHHH", *r) for r in records)


def shared_string_font():
    # storageOffset is 16-bit: the storage can start no later than 65,535
    # bytes into the table, so 5,455 records fit before it.
    count = (0xFFFF - 6) // 12
    storage_offset = 6 + 12 * count
    text = ("\u7206" * (0xFFFF // 2)).encode("utf-16-be") + b"\x00"
    ids = [0, 1, 5, 2, 3, 4]
    records = [(3, 1, 0x409, ids[i % len(ids)], len(text), 0) for i in range(count)]
    table = struct.pack(">HHH", 0, count, storage_offset) + name_records(records) + text
    return font_with_name_table(table)


def overlapping_records_font():
    # The storage starts right after the header, inside the records; every
    # record's string is the same 65,535 bytes of the record array.
    # No field of a record is 0, so the text has no NUL to end it early.
    count = 0xFFFF
    records = [(3, 1, 0x409, (1, 5)[i % 2], 0xFFFF, 0x100) for i in range(count)]
    table = struct.pack(">HHH", 0, count, 6) + name_records(records)
    return font_with_name_table(table)


def mac_script_font():
    # Macintosh Japanese strings count only when all ASCII: a reader that
    # checks each record's bytes anew walks 65,535 bytes per record.
    count = (0xFFFF - 6) // 12
    storage_offset = 6 + 12 * count
    text = b"A" * 0xFFFE + b"\x93"
    records = [(1, 1, 11, (0, 1, 5)[i % 3], len(text), 0) for i in range(count - 3)]
    windows = "Windows name".encode("utf-16-be")
    records += [(3, 1, 0x409, i, len(windows), len(text)) for i in (0, 1, 5)]
    table = (struct.pack(">HHH", 0, count, storage_offset) + name_records(records) + text +
             windows)
    return font_with_name_table(table)


def table_directory(font):
    count = struct.unpack_from(">H", font, 4)[0]
    tables = {}
    for i in range(count):
        tag, _, offset, length = struct.unpack_from(">4sIII", font, 12 + 16 * i)
        tables[tag] = (12 + 16 * i, offset, length)
    return tables


def with_name_offset(font, offset):
    record_at = table_directory(font)[b"name"][0]
    out = bytearray(font)
    struct.pack_into(">I", out, record_at + 8, offset)
    return bytes(out)


def decoded_bytes(font, offset):
    """How many string bytes a reader that decodes every record would decode
    for a naming table at `offset`: the records the file holds whose string
    lies inside the file, on platforms 0 to 3."""
    size = len(font)
    count, storage_offset = struct.unpack_from(">HH", font, offset + 2)
    present = min(count, (size - offset - 6) // 12)
    if count < 6:
        return 0
    records = [struct.unpack_from(">HHHHHH", font, offset + 6 + 12 * i) for i in range(present)]
    storage = max(0, size - offset - storage_offset)
    return sum(r[4] for r in records if r[0] <= 3 and r[4] > 0 and r[5] + r[4] <= storage)


def worst_name_offset(font, candidates=64):
    """The offset inside `font` whose would-be naming table makes a reader
    decode the most string bytes. Every offset is ranked by the lengths
    its records on platforms 0 to 3 claim; the best `candidates` are then
    counted exactly."""
    size = len(font)
    # Sums of the 16-bit words at every 12th position whose word 8 bytes
    # earlier (the platform, for a length) is at most 3, per residue, so that
    # the lengths of any run of records add up in one subtraction.
    prefix = []
    for residue in range(12):
        sums = [0]
        for at in range(residue, size - 1, 12):
            platform = (font[at - 8] << 8 | font[at - 7]) if at >= 8 else 0xFFFF
            length = font[at] << 8 | font[at + 1]
            sums.append(sums[-1] + (length if platform <= 3 else 0))
        prefix.append(sums)
    claimed = []
    for offset in range(0, size - 6):
        count = font[offset + 2] << 8 | font[offset + 3]
        present = min(count, (size - offset - 6) // 12)
        if count < 6 or present == 0:
            continue
        first = offset + 6 + 8  # the length field of the first record
        residue = first % 12
        start = (first - residue) // 12
        claimed.append((prefix[residue][start + present] - prefix[residue][start], offset))
    claimed.sort(reverse=True)
    return max((decoded_bytes(font, offset), offset) for _, offset in claimed[:candidates])[1]


# ---------------------------------------------------------------------------
# Executables


def utf16z(text):
    return text.encode("utf-16-le") + b"\x00\x00"


def pad4(data):
    return data + b"\x00" * (-len(data) % 4)


def node(key, value=b"", value_length=0, value_type=1, children=()):
    """A 32-bit version-block node; `children` are already serialized."""
    head = pad4(struct.pack("<HHH", 0, value_length, value_type) + utf16z(key))
    body = pad4(head + value)
    for child in children:
        body = pad4(body) + child
    return struct.pack("<H", len(body)) + body[2:]


def string_node(key, text):
    value = utf16z(text)
    return node(key, value, len(value) // 2)


def fixed_info():
    return struct.pack("<13I", 0xFEEF04BD, 0x10000, 0x10002, 0x30004, 0x10002, 0x30004, 0x3F, 0,
                       0x40004, 2, 0, 0, 0)


def version_block(tables, limit=0xFFFF):
    """VS_VERSION_INFO with a Translation 0409/04B0 and as many of `tables`
    (serialized string tables) as fit in `limit` bytes."""
    var = node("VarFileInfo", children=[node("Translation", struct.pack("<HH", 0x409, 0x4B0), 4, 0)])

    def block(kept):
        return node("VS_VERSION_INFO", fixed_info(), 52, 0,
                    [var, node("StringFileInfo", children=kept)])

    room = limit - len(block([])) - 4  # the last child's padding
    kept = []
    for table in tables:
        if len(pad4(table)) > room:
            break
        kept.append(table)
        room -= len(pad4(table))
    return block(kept)


def fill_strings(first, make, limit=0xFFFF):
    """One table "040904B0" holding `first` and then make(i) for i = 0, 1, ...
    as long as the block stays within `limit` bytes."""
    room = limit - len(version_block([node("040904B0", children=first)])) - 4
    strings = list(first)
    i = 0
    while len(pad4(make(i))) <= room:
        strings.append(make(i))
        room -= len(pad4(make(i)))
        i += 1
    return version_block([node("040904B0", children=strings)])


def pe_image(resource_section, section_rva=0x1000):
    """A PE32+ image with one section, .rsrc, holding `resource_section`
    (built for `section_rva`), which data directory 2 points at."""
    file_align = 0x200
    optional_size = 240
    lfanew = 0x40
    headers_end = lfanew + 24 + optional_size + 40
    raw_at = -(-headers_end // file_align) * file_align
    raw_size = -(-len(resource_section) // file_align) * file_align

    dos = bytearray(64)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, lfanew)
    coff = b"PE\x00\x00" + struct.pack("<HHIIIHH", 0x8664, 1, 0, 0, 0, optional_size, 0x2022)
    optional = bytearray(optional_size)
    struct.pack_into("<H", optional, 0, 0x20B)
    struct.pack_into("<I", optional, 32, 0x1000)   # section alignment
    struct.pack_into("<I", optional, 36, file_align)
    struct.pack_into("<I", optional, 56, section_rva + raw_size)  # size of image
    struct.pack_into("<I", optional, 60, raw_at)   # size of headers
    struct.pack_into("<I", optional, 108, 16)      # data directories
    struct.pack_into("<II", optional, 112 + 2 * 8, section_rva, len(resource_section))
    section = struct.pack("<8sIIIIIIHHI", b".rsrc", len(resource_section), section_rva, raw_size,
                          raw_at, 0, 0, 0, 0, 0x40000040)
    head = bytes(dos) + coff + bytes(optional) + section
    head += b"\x00" * (raw_at - len(head))
    return head + resource_section + b"\x00" * (raw_size - len(resource_section))


def directory(named, ids, entries):
    """A resource directory header claiming `named` and `ids` entries, then
    `entries` as (name field, target field) pairs."""
    out = struct.pack("<IIHHHH", 0, 0, 0, 0, named, ids)
    return out + b"".join(struct.pack("<II", n, t) for n, t in entries)


HIGH = 0x80000000


def version_resource_pe(block, section_rva=0x1000):
    # root -> 16 -> 1 -> 0x409 -> data entry -> block
    root = 0
    names = root + 16 + 8
    langs = names + 16 + 8
    entry = langs + 16 + 8
    data = entry + 16
    section = (directory(0, 1, [(16, HIGH | names)]) + directory(0, 1, [(1, HIGH | langs)]) +
               directory(0, 1, [(0x409, entry)]) +
               struct.pack("<IIII", section_rva + data, len(block), 0, 0) + block)
    return pe_image(section, section_rva)


def many_names_pe():
    # Root: 4,095 named entries that are not TYPELIB, then TYPELIB; all point
    # at the name directory, which holds 4,096 entries named with one
    # 512-character name, all pointing at one language directory.
    entries = 4096
    root_size = 16 + 8 * entries
    name_dir = root_size
    lang_dir = name_dir + root_size
    data_entry = lang_dir + 16 + 8
    long_name = data_entry + 16
    typelib_name = long_name + 2 + 2 * 512
    data = typelib_name + 2 + 2 * 7
    payload = b"SLTG" + b"\x00" * 60
    section = directory(0xFFFF, 0xFFFF, [(HIGH | long_name, HIGH | name_dir)] * (entries - 1) +
                        [(HIGH | typelib_name, HIGH | name_dir)])
    section += directory(0xFFFF, 0xFFFF, [(HIGH | long_name, HIGH | lang_dir)] * entries)
    section += directory(0, 1, [(0x409, data_entry)])
    section += struct.pack("<IIII", 0x1000 + data, len(payload), 0, 0)
    section += struct.pack("<H", 512) + ("\u00E9" * 512).encode("utf-16-le")
    section += struct.pack("<H", 7) + "TYPELIB".encode("utf-16-le")
    section += payload
    return pe_image(section)


def deep_pe():
    levels = 10
    entries = 4096
    size = 16 + 8 * entries
    section = b""
    for level in range(levels):
        target = (level + 1) * size if level + 1 < levels else 0
        ids = [16, 1] if level < 2 else [0x409, 0]
        section += directory(0xFFFF, 0xFFFF,
                             [(ids[i % 2], HIGH | target) for i in range(entries)])
    return pe_image(section)


# ---------------------------------------------------------------------------
# Type libraries


def msft(type_info_count, help_string=b"", help_file=b"", entries_in_file=0):
    """An MSFT header, `entries_in_file` type-info offsets, the segment
    directory and a string table holding the help string and help file."""
    segments_at = 0x54 + 4 * entries_in_file
    strings_at = segments_at + 15 * 16
    strings = struct.pack("<h", len(help_string)) + help_string
    help_file_offset = len(strings)
    strings += struct.pack("<h", len(help_file)) + help_file
    header = bytearray(0x54)
    struct.pack_into("<I", header, 0, 0x5446534D)
    struct.pack_into("<I", header, 4, 0x00010002)
    struct.pack_into("<i", header, 8, -1)          # no GUID
    struct.pack_into("<I", header, 0x0C, 0x409)
    struct.pack_into("<I", header, 0x14, 1)        # Win32
    struct.pack_into("<I", header, 0x18, 0x00020001)
    struct.pack_into("<i", header, 0x20, type_info_count)
    struct.pack_into("<i", header, 0x24, 0)        # help string
    struct.pack_into("<i", header, 0x38, -1)       # name
    struct.pack_into("<i", header, 0x3C, help_file_offset)
    directory_bytes = b""
    for i in range(15):
        offset, length = (strings_at, len(strings)) if i == 8 else (-1, 0)
        directory_bytes += struct.pack("<iiii", offset, length, -1, 0x0F)
    return bytes(header) + b"\x00" * (4 * entries_in_file) + directory_bytes + strings


def sltg_chain():
    blocks = 0xFFFF            # the header counts one more than there are
    entry_count = blocks - 1
    type_infos = blocks - 2
    header = bytearray(0x24)
    struct.pack_into("<I", header, 0, 0x47544C53)
    struct.pack_into("<H", header, 4, blocks)
    struct.pack_into("<H", header, 0x0A, 1)
    # Every block is empty and names the next: the library block is last.
    entries = b"".join(struct.pack("<IHH", 0, 0, i + 2 if i + 1 < entry_count else 0)
                       for i in range(entry_count))
    magic = b"\x01CompObj\x00dir\x00"
    index = b"\x00" * (11 * type_infos) + b"\x00" * 9
    library = struct.pack("<HHHH", 0x51CC, 0, 0, 0xFFFF)
    library += struct.pack("<H", 4) + b"Help" + struct.pack("<H", 0xFFFF)
    library += struct.pack("<IHHIHHH", 0, 1, 0, 0, 0, 1, 0) + b"\x11" * 16
    return bytes(header) + entries + magic + index + library


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    folder = sys.argv[1]
    font_path = sys.argv[2] if len(sys.argv) == 3 else DEJAVU
    os.makedirs(folder, exist_ok=True)

    write(folder, "name-shared-string.ttf", shared_string_font())
    write(folder, "name-65535-records.ttf", overlapping_records_font())
    write(folder, "name-mac-script.ttf", mac_script_font())
    if os.path.isfile(font_path):
        with open(font_path, "rb") as f:
            font = f.read()
        tables = table_directory(font)
        if b"name" in tables and b"glyf" in tables:
            write(folder, "dejavu-name-in-glyf.ttf", with_name_offset(font, tables[b"glyf"][1]))
            write(folder, "dejavu-name-worst.ttf", with_name_offset(font, worst_name_offset(font)))
    else:
        print("%s is missing: no damaged real fonts (package fonts-dejavu-core)" % font_path)

    described = [string_node("FileDescription", "Many tables"),
                 string_node("LegalCopyright", "(c) Attack")]
    tables = [node("040904B0", children=described)]
    tables += [node("%08X" % i, children=[string_node("A", "1")]) for i in range(10000)]
    write(folder, "version-many-tables.dll", version_resource_pe(version_block(tables)))
    write(folder, "version-many-strings.dll", version_resource_pe(
        fill_strings([string_node("FileDescription", "Many strings")], lambda i: node(""))))
    write(folder, "version-long-value.dll", version_resource_pe(version_block(
        [node("040904B0", children=[string_node("FileDescription", "\u00E9" * 32000)])])))

    write(folder, "resource-many-names.tlb", many_names_pe())
    write(folder, "resource-deep.dll", deep_pe())

    write(folder, "typelib-huge-count.tlb", msft(0x7FFFFFFF))
    write(folder, "typelib-long-strings.tlb", msft(0, b"h" * 0x7FFF, b"f" * 0x7FFF))
    write(folder, "typelib-sltg-chain.tlb", sltg_chain())


if __name__ == "__main__":
    main()
