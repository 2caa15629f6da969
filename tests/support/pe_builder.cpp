#include "support/pe_builder.h"

#include "support/byte_writer.h"

#include <algorithm>
#include <stdexcept>

namespace sorvane::test {
namespace {

// The two passes must agree; checked in every build type.
void Check(bool layoutAgrees) {
    if (!layoutAgrees)
        throw std::logic_error("test image layout is inconsistent");
}

struct LanguageNode {
    std::uint16_t language = 0;
    std::size_t resource = 0; // index into the caller's list
};

struct NameNode {
    ResourceId name;
    std::vector<LanguageNode> languages;
};

struct TypeNode {
    ResourceId type;
    std::vector<NameNode> names;
};

template <typename Node, typename Key>
Node& FindOrAdd(std::vector<Node>& nodes, const Key& key, Key Node::*member) {
    for (Node& n : nodes) {
        if (n.*member == key)
            return n;
    }
    nodes.push_back(Node{});
    nodes.back().*member = key;
    return nodes.back();
}

template <typename Node> void NamedFirst(std::vector<Node>& nodes, ResourceId Node::*member) {
    std::stable_partition(nodes.begin(), nodes.end(),
                          [&](const Node& n) { return !(n.*member).id.has_value(); });
}

std::vector<TypeNode> Tree(const std::vector<TestResource>& resources) {
    std::vector<TypeNode> types;
    for (std::size_t i = 0; i < resources.size(); ++i) {
        TypeNode& t = FindOrAdd(types, resources[i].type, &TypeNode::type);
        NameNode& n = FindOrAdd(t.names, resources[i].name, &NameNode::name);
        n.languages.push_back({resources[i].language, i});
    }
    NamedFirst(types, &TypeNode::type);
    for (TypeNode& t : types)
        NamedFirst(t.names, &NameNode::name);
    return types;
}

std::size_t NamedCount(const auto& nodes, auto member) {
    return static_cast<std::size_t>(std::count_if(
        nodes.begin(), nodes.end(), [&](const auto& n) { return !(n.*member).id.has_value(); }));
}

std::string ResourceSection(const std::vector<TestResource>& resources, std::uint32_t rva,
                            std::vector<std::size_t>& directories,
                            std::vector<std::size_t>& dataEntries, std::vector<std::size_t>& data) {
    const std::vector<TypeNode> types = Tree(resources);

    // First pass: where everything goes, relative to the section start.
    // Directories (root, type, language), then the names, then the data
    // entries, then the data, as resource compilers lay them out.
    std::size_t at = 16 + 8 * types.size();
    std::vector<std::size_t> typeDirs;
    for (const TypeNode& t : types) {
        typeDirs.push_back(at);
        at += 16 + 8 * t.names.size();
    }
    std::vector<std::vector<std::size_t>> languageDirs(types.size());
    for (std::size_t ti = 0; ti < types.size(); ++ti) {
        for (const NameNode& n : types[ti].names) {
            languageDirs[ti].push_back(at);
            at += 16 + 8 * n.languages.size();
        }
    }
    std::vector<std::size_t> typeNames(types.size());
    std::vector<std::vector<std::size_t>> nameNames(types.size());
    for (std::size_t ti = 0; ti < types.size(); ++ti) {
        if (!types[ti].type.id) {
            typeNames[ti] = at;
            at += 2 + Utf16Le(types[ti].type.name).size();
        }
        for (const NameNode& n : types[ti].names) {
            nameNames[ti].push_back(at);
            if (!n.name.id)
                at += 2 + Utf16Le(n.name.name).size();
        }
    }
    at = (at + 3) / 4 * 4;
    std::vector<std::size_t> entryAt(resources.size());
    std::vector<std::size_t> dataAt(resources.size());
    for (const TypeNode& t : types)
        for (const NameNode& n : t.names)
            for (const LanguageNode& l : n.languages) {
                entryAt[l.resource] = at;
                at += 16;
            }
    for (const TypeNode& t : types)
        for (const NameNode& n : t.names)
            for (const LanguageNode& l : n.languages) {
                at = (at + 7) / 8 * 8;
                dataAt[l.resource] = at;
                at += resources[l.resource].data.size();
            }

    // Second pass: the bytes.
    std::string out;
    const auto directoryHeader = [&](std::size_t named, std::size_t ids) {
        directories.push_back(out.size());
        AppendU32(out, 0);                                 // Characteristics
        AppendU32(out, 0);                                 // TimeDateStamp
        AppendU16(out, 0);                                 // MajorVersion
        AppendU16(out, 0);                                 // MinorVersion
        AppendU16(out, static_cast<std::uint16_t>(named)); // NumberOfNamedEntries
        AppendU16(out, static_cast<std::uint16_t>(ids));   // NumberOfIdEntries
    };
    const auto nameField = [](const ResourceId& id, std::size_t stringAt) {
        // Bit 31: offset of a counted name; otherwise the integer ID.
        return id.id ? std::uint32_t{*id.id} : static_cast<std::uint32_t>(0x80000000u | stringAt);
    };

    directoryHeader(NamedCount(types, &TypeNode::type),
                    types.size() - NamedCount(types, &TypeNode::type));
    for (std::size_t ti = 0; ti < types.size(); ++ti) {
        AppendU32(out, nameField(types[ti].type, typeNames[ti]));               // Name
        AppendU32(out, static_cast<std::uint32_t>(0x80000000u | typeDirs[ti])); // sub-directory
    }
    for (std::size_t ti = 0; ti < types.size(); ++ti) {
        const auto& names = types[ti].names;
        Check(out.size() == typeDirs[ti]);
        directoryHeader(NamedCount(names, &NameNode::name),
                        names.size() - NamedCount(names, &NameNode::name));
        for (std::size_t ni = 0; ni < names.size(); ++ni) {
            AppendU32(out, nameField(names[ni].name, nameNames[ti][ni])); // Name
            AppendU32(out, static_cast<std::uint32_t>(0x80000000u | languageDirs[ti][ni]));
        }
    }
    for (std::size_t ti = 0; ti < types.size(); ++ti) {
        for (std::size_t ni = 0; ni < types[ti].names.size(); ++ni) {
            const auto& languages = types[ti].names[ni].languages;
            Check(out.size() == languageDirs[ti][ni]);
            directoryHeader(0, languages.size());
            for (const LanguageNode& l : languages) {
                AppendU32(out, l.language);                                      // LANGID
                AppendU32(out, static_cast<std::uint32_t>(entryAt[l.resource])); // data entry
            }
        }
    }
    const auto countedName = [&](const std::string& name) {
        const std::string units = Utf16Le(name);
        AppendU16(out, static_cast<std::uint16_t>(units.size() / 2)); // length in characters
        out += units;                                                 // no terminator
    };
    for (std::size_t ti = 0; ti < types.size(); ++ti) {
        if (!types[ti].type.id)
            countedName(types[ti].type.name);
        for (const NameNode& n : types[ti].names)
            if (!n.name.id)
                countedName(n.name.name);
    }
    PadTo(out, 4);
    for (const TypeNode& t : types)
        for (const NameNode& n : t.names)
            for (const LanguageNode& l : n.languages) {
                Check(out.size() == entryAt[l.resource]);
                AppendU32(out, static_cast<std::uint32_t>(rva + dataAt[l.resource])); // data RVA
                AppendU32(out,
                          static_cast<std::uint32_t>(resources[l.resource].data.size())); // Size
                AppendU32(out, 0); // CodePage
                AppendU32(out, 0); // Reserved
            }
    for (const TypeNode& t : types)
        for (const NameNode& n : t.names)
            for (const LanguageNode& l : n.languages) {
                PadTo(out, 8);
                Check(out.size() == dataAt[l.resource]);
                out += resources[l.resource].data;
            }
    dataEntries = entryAt;
    data = dataAt;
    return out;
}

constexpr std::uint32_t kFileAlignment = 0x200;
constexpr std::uint32_t kSectionAlignment = 0x1000;
constexpr std::uint32_t kCodeRva = kPeCodeRva;
constexpr std::uint32_t kResourceRva = kPeResourceRva;
constexpr std::uint32_t kCodeFileOffset = 0x200;
constexpr std::uint32_t kResourceFileOffset = 0x400;

/// The image around a resource section's content; the offsets are those of
/// its parts inside the content.
PeLayout ImageAround(const std::string& content, const std::vector<std::size_t>& directories,
                     const std::vector<std::size_t>& entries, const std::vector<std::size_t>& data,
                     const PeOptions& options) {
    const bool plus = options.pe32Plus;
    PeLayout layout;
    layout.resourceRva = kResourceRva;
    layout.resourceContentSize = static_cast<std::uint32_t>(content.size());
    const std::uint32_t rawSize = options.resourceRawSize.value_or(static_cast<std::uint32_t>(
        (content.size() + kFileAlignment - 1) / kFileAlignment * kFileAlignment));

    std::string& out = layout.bytes;
    // DOS header (64 bytes); a PE loader only looks at e_magic and e_lfanew.
    AppendU16(out, 0x5A4D); // e_magic "MZ"
    out.resize(0x3C, '\0'); // e_cblp .. e_res2: unused here
    AppendU32(out, 0x80);   // e_lfanew
    out.resize(0x80, '\0'); // where a DOS stub program would be
    layout.lfanew = out.size();

    out += std::string("PE\0\0", 4);        // signature
    AppendU16(out, plus ? 0x8664 : 0x014C); // Machine: x86-64 or i386
    AppendU16(out, 2);                      // NumberOfSections
    AppendU32(out, 0);                      // TimeDateStamp
    AppendU32(out, 0);                      // PointerToSymbolTable
    AppendU32(out, 0);                      // NumberOfSymbols
    AppendU16(out, plus ? 0xF0 : 0xE0);     // SizeOfOptionalHeader
    AppendU16(out, plus ? 0x2022 : 0x2102); // Characteristics: DLL, executable

    layout.optionalHeader = out.size();
    AppendU16(out, plus ? 0x20B : 0x10B); // Magic
    AppendU8(out, 2);                     // MajorLinkerVersion
    AppendU8(out, 38);                    // MinorLinkerVersion
    AppendU32(out, kFileAlignment);       // SizeOfCode
    AppendU32(out, rawSize);              // SizeOfInitializedData
    AppendU32(out, 0);                    // SizeOfUninitializedData
    AppendU32(out, kCodeRva);             // AddressOfEntryPoint
    AppendU32(out, kCodeRva);             // BaseOfCode
    if (plus) {
        AppendU64(out, 0x180000000); // ImageBase
    } else {
        AppendU32(out, kResourceRva); // BaseOfData
        AppendU32(out, 0x10000000);   // ImageBase
    }
    AppendU32(out, kSectionAlignment); // SectionAlignment
    AppendU32(out, kFileAlignment);    // FileAlignment
    AppendU16(out, 4);                 // MajorOperatingSystemVersion
    AppendU16(out, 0);                 // MinorOperatingSystemVersion
    AppendU16(out, 0);                 // MajorImageVersion
    AppendU16(out, 0);                 // MinorImageVersion
    AppendU16(out, 4);                 // MajorSubsystemVersion
    AppendU16(out, 0);                 // MinorSubsystemVersion
    AppendU32(out, 0);                 // Win32VersionValue
    const std::uint32_t virtualEnd =
        kResourceRva + (layout.resourceContentSize + kSectionAlignment - 1) / kSectionAlignment *
                           kSectionAlignment;
    AppendU32(out, virtualEnd);      // SizeOfImage
    AppendU32(out, kCodeFileOffset); // SizeOfHeaders
    AppendU32(out, 0);               // CheckSum
    AppendU16(out, 2);               // Subsystem: Windows GUI
    AppendU16(out, 0);               // DllCharacteristics
    for (int i = 0; i < 4; ++i) {    // stack and heap reserve and commit
        if (plus)
            AppendU64(out, 0x100000);
        else
            AppendU32(out, 0x100000);
    }
    AppendU32(out, 0);                     // LoaderFlags
    AppendU32(out, 16);                    // NumberOfRvaAndSizes
    for (std::size_t i = 0; i < 16; ++i) { // DataDirectory
        if (i == 2)
            layout.resourceEntry = out.size();
        const bool clr = i == 14;
        AppendU32(out, i == 2 ? kResourceRva : clr ? options.clrRva : 0);                  // VirtualAddress
        AppendU32(out, i == 2 ? layout.resourceContentSize : clr ? options.clrSize : 0); // Size
    }
    Check(out.size() == layout.optionalHeader + (plus ? 0xF0 : 0xE0));

    layout.sectionTable = out.size();
    const auto section = [&](const char(&name)[9], std::uint32_t virtualSize, std::uint32_t rva,
                             std::uint32_t raw, std::uint32_t fileOffset,
                             std::uint32_t characteristics) {
        out.append(name, 8);             // Name, NUL-padded
        AppendU32(out, virtualSize);     // VirtualSize
        AppendU32(out, rva);             // VirtualAddress
        AppendU32(out, raw);             // SizeOfRawData
        AppendU32(out, fileOffset);      // PointerToRawData
        AppendU32(out, 0);               // PointerToRelocations
        AppendU32(out, 0);               // PointerToLinenumbers
        AppendU16(out, 0);               // NumberOfRelocations
        AppendU16(out, 0);               // NumberOfLinenumbers
        AppendU32(out, characteristics); // Characteristics
    };
    Check(options.code.size() <= kPeCodeBytes);
    const std::string code = options.code.empty() ? std::string(1, '\xC3') : options.code; // "ret"
    section(".text\0\0\0", std::max<std::uint32_t>(0x10, static_cast<std::uint32_t>(code.size())),
            kCodeRva, kFileAlignment, kCodeFileOffset, 0x60000020);
    section(".rsrc\0\0\0", layout.resourceContentSize, kResourceRva, rawSize, kResourceFileOffset,
            0x40000040);

    out.resize(kCodeFileOffset, '\0'); // headers end at SizeOfHeaders
    out += code;
    out.resize(kResourceFileOffset, '\0');
    layout.resourceSection = out.size();
    out += content.substr(0, rawSize);
    out.resize(kResourceFileOffset + rawSize, '\0');

    for (std::size_t d : directories)
        layout.directories.push_back(kResourceFileOffset + d);
    for (std::size_t e : entries)
        layout.dataEntries.push_back(kResourceFileOffset + e);
    for (std::size_t d : data)
        layout.data.push_back(kResourceFileOffset + d);
    return layout;
}

} // namespace

PeLayout BuildPe(const std::vector<TestResource>& resources, const PeOptions& options) {
    std::vector<std::size_t> directories, entries, data;
    const std::string content =
        ResourceSection(resources, kResourceRva, directories, entries, data);
    return ImageAround(content, directories, entries, data, options);
}

PeLayout BuildPeAround(const std::string& resourceContent, const PeOptions& options) {
    return ImageAround(resourceContent, {}, {}, {}, options);
}

NeLayout BuildNe(const std::vector<TestResource>& resources, std::uint16_t alignShift) {
    constexpr std::size_t kLfanew = 0x40;
    constexpr std::size_t kNeHeaderSize = 0x40;
    const std::size_t unit = std::size_t{1} << alignShift;

    // Group by type, keeping the order of first appearance.
    std::vector<std::pair<ResourceId, std::vector<std::size_t>>> types;
    for (std::size_t i = 0; i < resources.size(); ++i) {
        auto it = std::find_if(types.begin(), types.end(),
                               [&](const auto& t) { return t.first == resources[i].type; });
        if (it == types.end()) {
            types.push_back({resources[i].type, {}});
            it = types.end() - 1;
        }
        it->second.push_back(i);
    }

    // First pass: the table holds the shift, the TYPEINFO and NAMEINFO
    // records, a zero type, then the names; all offsets are from its start.
    std::size_t at = 2;
    for (const auto& t : types)
        at += 8 + 12 * t.second.size();
    at += 2;
    std::vector<std::size_t> typeNameAt(types.size());
    std::vector<std::size_t> nameAt(resources.size());
    for (std::size_t ti = 0; ti < types.size(); ++ti) {
        if (!types[ti].first.id) {
            typeNameAt[ti] = at;
            at += 1 + types[ti].first.name.size();
        }
        for (std::size_t r : types[ti].second) {
            if (!resources[r].name.id) {
                nameAt[r] = at;
                at += 1 + resources[r].name.name.size();
            }
        }
    }
    at += 1; // the zero length that ends the names
    const std::size_t tableSize = at;
    const std::size_t tableStart = kLfanew + kNeHeaderSize;
    const std::size_t residentNames = tableStart + tableSize;
    // Data follows the (empty) resident-name table, aligned to the shift unit.
    std::vector<std::size_t> dataAt(resources.size());
    std::size_t fileAt = residentNames + 1;
    for (const auto& t : types)
        for (std::size_t r : t.second) {
            fileAt = (fileAt + unit - 1) / unit * unit;
            dataAt[r] = fileAt;
            fileAt += resources[r].data.size();
        }

    NeLayout layout;
    layout.lfanew = kLfanew;
    layout.resourceTable = tableStart;
    layout.resourceTableSize = tableSize;
    layout.nameInfos.resize(resources.size());
    layout.data = dataAt;
    std::string& out = layout.bytes;
    AppendU16(out, 0x5A4D);  // e_magic "MZ"
    out.resize(0x3C, '\0');  // e_cblp .. e_res2: unused here
    AppendU32(out, kLfanew); // e_lfanew

    const auto relative = [&](std::size_t fileOffset) {
        return static_cast<std::uint16_t>(fileOffset - kLfanew);
    };
    out += "NE";                                 // ne_magic
    AppendU8(out, 5);                            // ne_ver
    AppendU8(out, 10);                           // ne_rev
    AppendU16(out, relative(residentNames + 1)); // ne_enttab
    AppendU16(out, 0);                           // ne_cbenttab
    AppendU32(out, 0);                           // ne_crc
    AppendU16(out, 0x8000);                      // ne_flags: library module
    AppendU16(out, 0);                           // ne_autodata
    AppendU16(out, 0);                           // ne_heap
    AppendU16(out, 0);                           // ne_stack
    AppendU32(out, 0);                           // ne_csip
    AppendU32(out, 0);                           // ne_sssp
    AppendU16(out, 0);                           // ne_cseg
    AppendU16(out, 0);                           // ne_cmod
    AppendU16(out, 0);                           // ne_cbnrestab
    AppendU16(out, relative(tableStart));        // ne_segtab (no segments)
    AppendU16(out, relative(tableStart));        // ne_rsrctab
    AppendU16(out, relative(residentNames));     // ne_restab
    AppendU16(out, relative(residentNames + 1)); // ne_modtab
    AppendU16(out, relative(residentNames + 1)); // ne_imptab
    AppendU32(out, 0);                           // ne_nrestab
    AppendU16(out, 0);                           // ne_cmovent
    AppendU16(out, alignShift);                  // ne_align (segments)
    AppendU16(out, 0);                           // ne_cres
    AppendU8(out, 2);                            // ne_exetyp: Windows
    AppendU8(out, 0);                            // ne_flagsothers
    AppendU16(out, 0);                           // ne_pretthunks
    AppendU16(out, 0);                           // ne_psegrefbytes
    AppendU16(out, 0);                           // ne_swaparea
    AppendU16(out, 0x030A);                      // ne_expver: Windows 3.10
    Check(out.size() == tableStart);

    const auto idField = [](const ResourceId& id, std::size_t nameOffset) {
        // Bit 15: an integer; otherwise the offset of a name in the table.
        return id.id ? static_cast<std::uint16_t>(0x8000 | *id.id)
                     : static_cast<std::uint16_t>(nameOffset);
    };
    AppendU16(out, alignShift); // rscAlignShift
    for (std::size_t ti = 0; ti < types.size(); ++ti) {
        AppendU16(out, idField(types[ti].first, typeNameAt[ti]));            // typeID
        AppendU16(out, static_cast<std::uint16_t>(types[ti].second.size())); // count
        AppendU32(out, 0);                                                   // reserved
        for (std::size_t r : types[ti].second) {
            layout.nameInfos[r] = out.size();
            const std::size_t units = (resources[r].data.size() + unit - 1) / unit;
            AppendU16(out, static_cast<std::uint16_t>(dataAt[r] >> alignShift)); // offset
            AppendU16(out, static_cast<std::uint16_t>(units));                   // length
            AppendU16(out, 0x0030);                                // flags: moveable, pure
            AppendU16(out, idField(resources[r].name, nameAt[r])); // id
            AppendU16(out, 0);                                     // handle
            AppendU16(out, 0);                                     // usage
        }
    }
    AppendU16(out, 0); // typeID 0: end of types
    const auto pascal = [&](const std::string& name) {
        AppendU8(out, static_cast<std::uint8_t>(name.size())); // length
        out += name;                                           // 8-bit characters
    };
    for (std::size_t ti = 0; ti < types.size(); ++ti) {
        if (!types[ti].first.id)
            pascal(types[ti].first.name);
        for (std::size_t r : types[ti].second)
            if (!resources[r].name.id)
                pascal(resources[r].name.name);
    }
    AppendU8(out, 0); // end of names
    Check(out.size() == residentNames);
    AppendU8(out, 0); // resident-name table: empty
    for (const auto& t : types)
        for (std::size_t r : t.second) {
            out.resize(dataAt[r], '\0');
            out += resources[r].data;
        }
    // The last resource fills whole shift units, as the length field claims.
    out.resize((out.size() + unit - 1) / unit * unit, '\0');
    return layout;
}

} // namespace sorvane::test
