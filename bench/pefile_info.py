#!/usr/bin/env python3
"""Reads the version resource of Windows executables with pefile, a reader
independent of ours, and prints for all files given one JSON array with the
keys of `sorvane-cli info --json`:

  path         the path as given
  kind         "version-resource"
  version      the fixed file version: "5.00.2134.01" for 5.0.2134.1,
               "2.03.0000" when the low double word is 0
  language     the name of the first translation's language ("[Neutral]" when
               the language list has no name for it); names come from
               engine/text/language_list.inc (first entry of an identifier wins).
               Without that file the text is "lang:<decimal id>", and the
               comparison in info_bench.sh does not compare languages.
  description  FileDescription of the string table of the first translation
  copyright    LegalCopyright of that table

Of several version resources the one an English (United States) Windows takes
is used: language 0x0000, else 0x0409, else 0x0009, else the first in the
resource directory. A file that is not an executable or has no version
resource gives empty texts. Fonts (.ttf) and type libraries (.tlb, .olb) are
other readers' business: they are left out, with a note on standard error.

Needs python3-pefile (Debian installs it for /usr/bin/python3).
"""

import json
import os
import re
import sys

try:
    import pefile
except ImportError:  # pragma: no cover - depends on the machine
    sys.exit("pefile_info.py: the Python module pefile is missing "
             "(apt-get install python3-pefile; it belongs to /usr/bin/python3)")

RT_VERSION = 16
VS_VERSION_INFO = 1
FIXED_SIGNATURE = 0xFEEF04BD
FIXED_SIZE = 52
PREFERRED_LANGUAGES = (0x0000, 0x0409, 0x0009)
OTHER_READERS = {".ttf", ".tlb", ".olb"}

DEFAULT_LANGUAGE_LIST = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                     "..", "engine", "text", "language_list.inc")


def load_language_names(path):
    """Identifier -> name from the language list; None when it cannot be read."""
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except OSError:
        return None
    names = {}
    for name, ident in re.findall(r'^\{"([^"]*)",\s*"\s*(\d+)"\},?\s*$', text, re.M):
        names.setdefault(int(ident), name.strip())
    return names


def language_text(lang_id, names):
    if names is None:
        return "lang:%d" % lang_id
    name = names.get(lang_id, "") if lang_id != 0 else ""
    return name or "[Neutral]"


def file_version_text(ms, ls):
    """The fixed file version as the grid shows it."""
    text = "%d.%02d" % (ms >> 16, ms & 0xFFFF)
    if ls == 0:
        return text + ".0000"
    return text + ".%02d.%02d" % (ls >> 16, ls & 0xFFFF)


def choose_language_entry(entries):
    by_language = {}
    for entry in entries:
        by_language.setdefault(entry.id, entry)
    for wanted in PREFERRED_LANGUAGES:
        if wanted in by_language:
            return by_language[wanted]
    return entries[0] if entries else None


def version_entry(pe):
    """The resource data entry of the version resource to read, or None."""
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    if root is None:
        return None
    for type_entry in root.entries:
        if type_entry.id != RT_VERSION or not hasattr(type_entry, "directory"):
            continue
        for name_entry in type_entry.directory.entries:
            if name_entry.id == VS_VERSION_INFO and hasattr(name_entry, "directory"):
                chosen = choose_language_entry(name_entry.directory.entries)
                return chosen.data.struct if chosen is not None else None
    return None


def first_translation(pe, data_struct):
    """(language, code page) of the first Translation entry, or None.

    pefile keeps only the last pair of a Translation value, so the first pair
    is read from the bytes at the place pefile's own walk puts the value."""
    start = pe.get_offset_from_rva(data_struct.OffsetToData)
    raw = pe.__data__[start:start + data_struct.Size]
    for var_file_info in pe.FileInfo[0]:
        if getattr(var_file_info, "Key", None) != b"VarFileInfo":
            continue
        for var in getattr(var_file_info, "Var", []):
            if b"Translation" not in getattr(var, "entry", {}):
                continue
            var_offset = var.get_file_offset() - start
            value_offset = pe.dword_align(
                2 * (len("Translation") + 1) + var_offset + var.sizeof(),
                data_struct.OffsetToData)
            pair = raw[value_offset:value_offset + 4]
            if var.ValueLength < 4 or len(pair) < 4:
                return None
            return (int.from_bytes(pair[0:2], "little"), int.from_bytes(pair[2:4], "little"))
    return None


def string_value(pe, table_key, name):
    key = table_key.upper()
    for string_file_info in pe.FileInfo[0]:
        if getattr(string_file_info, "Key", None) != b"StringFileInfo":
            continue
        for table in getattr(string_file_info, "StringTable", []):
            if table.LangID.decode("ascii", "replace").upper() != key:
                continue
            for entry_name, value in table.entries.items():
                if entry_name.decode("utf-8", "replace").lower() == name.lower():
                    return value.decode("utf-8", "replace").split("\0", 1)[0]
            return ""
    return ""


def version_texts(path, names):
    texts = {"path": path, "kind": "version-resource", "version": "", "language": "",
             "description": "", "copyright": ""}
    try:
        pe = pefile.PE(path, fast_load=True)
        pe.parse_data_directories(
            directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    except (pefile.PEFormatError, OSError, ValueError):
        return texts
    data_struct = version_entry(pe)
    if data_struct is None:
        return texts
    # pefile parsed the version resources of all languages; parse just the
    # chosen one again so that its lists hold that one only.
    for attribute in ("VS_VERSIONINFO", "VS_FIXEDFILEINFO", "FileInfo"):
        if hasattr(pe, attribute):
            delattr(pe, attribute)
    pe.parse_version_information(data_struct)
    if not getattr(pe, "VS_VERSIONINFO", None):
        return texts
    fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
    if (fixed and pe.VS_VERSIONINFO[0].ValueLength >= FIXED_SIZE
            and fixed[0].Signature == FIXED_SIGNATURE):
        texts["version"] = file_version_text(fixed[0].FileVersionMS, fixed[0].FileVersionLS)
    if not getattr(pe, "FileInfo", None):
        return texts
    translation = first_translation(pe, data_struct)
    if translation is None:
        return texts
    texts["language"] = language_text(translation[0], names)
    table_key = "%04X%04X" % translation
    texts["description"] = string_value(pe, table_key, "FileDescription")
    texts["copyright"] = string_value(pe, table_key, "LegalCopyright")
    return texts


def main(argv):
    args = argv[1:]
    list_path = DEFAULT_LANGUAGE_LIST
    if len(args) >= 2 and args[0] == "--language-list":
        list_path, args = args[1], args[2:]
    if not args or args[0] in ("-h", "--help"):
        print("usage: pefile_info.py [--language-list FILE] FILE...", file=sys.stderr)
        return 2
    names = load_language_names(list_path)
    if names is None:
        print("pefile_info.py: no language list at %s; languages are given as lang:<id>"
              % list_path, file=sys.stderr)
    results = []
    for path in args:
        if os.path.splitext(path)[1].lower() in OTHER_READERS:
            print("pefile_info.py: %s is not read as a version resource; left out" % path,
                  file=sys.stderr)
            continue
        results.append(version_texts(path, names))
    out = open(sys.stdout.fileno(), "w", encoding="utf-8", closefd=False)
    out.write("[\n" + ",\n".join(json.dumps(r, ensure_ascii=False) for r in results) + "\n]\n")
    out.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
