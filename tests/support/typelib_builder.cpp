#include "support/typelib_builder.h"

#include "support/byte_builder.h"

#include <algorithm>
#include <numeric>
#include <stdexcept>

namespace sorvane::test {
namespace {

constexpr std::uint8_t kPadding = 0x57; // widl pads its tables with 'W'

/// Appends a string-table entry (i16 length, bytes, padded to a multiple of
/// four and at least 8 bytes) and returns its offset.
std::int32_t AddString(ByteBuilder& table, const std::optional<std::string>& text) {
    if (!text)
        return -1;
    const auto at = static_cast<std::int32_t>(table.size());
    table.u16(static_cast<std::uint16_t>(text->size())); // length
    table.raw(*text);                                    // bytes, no NUL
    table.alignTo(4, kPadding);
    while (table.size() - static_cast<std::size_t>(at) < 8)
        table.u8(kPadding);
    return at;
}

/// A counted string of the SLTG format: u16 length (0xFFFF absent), bytes.
void AddCounted(ByteBuilder& out, const std::optional<std::string>& text) {
    if (!text) {
        out.u16(0xFFFF);
        return;
    }
    out.u16(static_cast<std::uint16_t>(text->size()));
    out.raw(*text);
}

std::string IndexName(std::size_t i) {
    std::string name = "0000000000";
    name.back() = static_cast<char>('1' + i);
    return name;
}

} // namespace

std::string SampleGuidBytes() {
    return std::string("\x78\x56\x34\x12\xBC\x9A\xF0\xDE\x11\x22\x33\x44\x55\x66\x77\x88", 16);
}

std::string MsftBuilder::Build(MsftLayout* layout) const {
    ByteBuilder guids(Endian::Little);
    if (guid) {
        guids.raw(*guid); // GUID
        guids.i32(-1);    // hreftype
        guids.i32(-1);    // next in hash chain
    }
    ByteBuilder names(Endian::Little);
    names.i32(-1);                                                    // hreftype
    names.i32(-1);                                                    // next in hash chain
    names.u32(0x61250000u | static_cast<std::uint32_t>(name.size())); // hash << 16 | length
    names.raw(name);
    names.alignTo(4, kPadding);
    ByteBuilder strings(Endian::Little);
    const std::int32_t helpStringAt = AddString(strings, helpString);
    const std::int32_t helpFileAt = AddString(strings, helpFile);
    const std::int32_t helpDllAt = AddString(strings, helpDll);

    std::uint32_t varflags = sysKind | 0x40;
    if (helpFile)
        varflags |= 0x10;
    if (helpDll)
        varflags |= 0x100;

    ByteBuilder out(Endian::Little);
    out.raw("MSFT");                                          // 0x00 magic
    out.u32(0x00010002);                                      // 0x04 format version
    out.i32(guid ? 0 : -1);                                   // 0x08 GUID offset
    out.u32(defaultLcid);                                     // 0x0C compiler locale
    out.u32(declaredLcid);                                    // 0x10 declared locale
    out.u32(varflags);                                        // 0x14 syskind and flags
    out.u32(static_cast<std::uint32_t>(minor) << 16 | major); // 0x18 version
    out.u32(flags);                                           // 0x1C LIBFLAGS
    out.i32(typeInfoCount);                                   // 0x20 type infos
    out.i32(helpStringAt);                                    // 0x24 help string
    out.i32(0);                                               // 0x28 help string context
    out.u32(helpContext);                                     // 0x2C help context
    out.i32(1);                                               // 0x30 names in the name table
    out.i32(static_cast<std::int32_t>(name.size()));          // 0x34 characters in it
    out.i32(0);                                               // 0x38 library name offset
    out.i32(helpFileAt);                                      // 0x3C help file
    out.i32(-1);                                              // 0x40 custom data
    out.i32(0x20);                                            // 0x44 reserved
    out.i32(0x80);                                            // 0x48 reserved
    out.i32(-1);                                              // 0x4C IDispatch position
    out.i32(0);                                               // 0x50 imported libraries
    if (helpDll)
        out.i32(helpDllAt); // help-string DLL
    if (typeInfoCount < 0 || typeInfoCount > 64)
        throw std::logic_error("patch a damaged type-info count into the built image");
    for (std::int32_t i = 0; i < typeInfoCount; ++i)
        out.i32(0x64 * i); // type-info offsets

    const std::size_t directoryAt = out.size();
    const std::size_t guidsAt = directoryAt + 15 * 16;
    const std::size_t namesAt = guidsAt + guids.size();
    const std::size_t stringsAt = namesAt + names.size();
    for (std::size_t i = 0; i < 15; ++i) {
        std::int32_t offset = -1;
        std::size_t length = 0;
        if (i == 5) {
            offset = static_cast<std::int32_t>(guidsAt);
            length = guids.size();
        } else if (i == 7) {
            offset = static_cast<std::int32_t>(namesAt);
            length = names.size();
        } else if (i == 8) {
            offset = static_cast<std::int32_t>(stringsAt);
            length = strings.size();
        }
        out.i32(offset);                            // segment offset
        out.i32(static_cast<std::int32_t>(length)); // segment length
        out.i32(-1);                                // reserved
        out.i32(0x0F);                              // reserved, always 0x0F
    }
    out.raw(guids.bytes()).raw(names.bytes()).raw(strings.bytes());

    if (layout) {
        layout->directoryAt = directoryAt;
        layout->stringTableAt = stringsAt;
        layout->helpStringOffset = helpStringAt;
        layout->helpFileOffset = helpFileAt;
    }
    return out.bytes();
}

std::string SltgBuilder::Build(SltgLayout* layout) const {
    const std::size_t entryCount = typeInfos.size() + 1;
    std::vector<std::uint16_t> order = chain;
    if (order.empty()) {
        order.resize(entryCount);
        std::iota(order.begin(), order.end(), std::uint16_t{1});
    }
    if (order.size() != entryCount)
        throw std::logic_error("the chain must name every entry once");

    // The library block with everything a reader finds behind it.
    ByteBuilder library(Endian::Little);
    library.u16(0x51CC);    // magic
    library.u16(3);         // reserved
    library.u16(0);         // library name: first entry of the name table
    library.u16(skipBytes); // 0xFFFF, or bytes to skip
    if (skipBytes != 0xFFFF)
        library.fill(skipBytes, 0xEE);
    const std::size_t helpStringAt = library.size();
    AddCounted(library, helpString); // help string
    AddCounted(library, helpFile);   // help file
    library.u32(helpContext);        // help context
    library.u16(sysKind);            // syskind
    library.u16(lcid);               // locale
    library.u32(0);                  // reserved
    library.u16(flags);              // LIBFLAGS
    library.u16(major);              // major version
    library.u16(minor);              // minor version
    library.raw(guid);               // GUID
    library.fill(0x40, 0xFF);        // per-type-info words
    for (std::size_t i = 0; i < typeInfos.size(); ++i) {
        library.u16(static_cast<std::uint16_t>(i)); // small number
        AddCounted(library, IndexName(i));          // index name
        AddCounted(library, IndexName(i + 5));      // other name
        library.u16(0xFFFF);                        // reserved
        library.u16(0x20);                          // name offset
        library.u16(typeInfos[i].extraBytes);       // extra bytes
        library.fill(typeInfos[i].extraBytes, 0xDD);
        library.u16(0xFFFF); // reserved
        library.u32(0);      // help context
        library.u16(0xFFFF); // reserved
        library.fill(16);    // GUID
    }
    library.u16(3); // type kind of the last summary
    const std::size_t tableOffsetAt = library.size();
    library.u32(0);  // name table offset from the library block, patched below
    library.fill(6); // help strings
    const std::size_t tableAt = library.size();
    if (nameTableExtraHeader)
        library.u16(0x0200).fill(0x1E);
    library.u16(0xFFFF).u16(1).u16(2).u16(0xFF00).u16(0xFFFF).u16(0xFFFF); // table intro
    library.fill(0x200, 0xFF);                                             // hash
    library.u32(static_cast<std::uint32_t>(8 + name.size() + 1));          // table size
    library.fill(8, 0xFF);                                                 // entry prefix
    library.raw(name).u8(0);                                               // library name
    std::string libraryBytes = library.bytes();
    PutU32(libraryBytes, tableOffsetAt, static_cast<std::uint32_t>(tableAt), Endian::Little);

    // Block lengths by entry number.
    std::vector<std::uint32_t> lengths(entryCount + 1);
    std::vector<std::uint16_t> nexts(entryCount + 1);
    std::vector<std::uint16_t> indexStrings(entryCount + 1);
    for (std::size_t k = 0; k < entryCount; ++k) {
        const std::uint16_t entry = order[k];
        const bool isLibrary = k + 1 == entryCount;
        lengths.at(entry) =
            isLibrary ? static_cast<std::uint32_t>(libraryBytes.size()) : typeInfos[k].blockLength;
        nexts.at(entry) = isLibrary ? 0 : order[k + 1];
        indexStrings.at(entry) = static_cast<std::uint16_t>(isLibrary ? 9 : 13 + 11 * k);
    }

    ByteBuilder out(Endian::Little);
    out.raw("SLTG");                                                 // magic
    out.u16(static_cast<std::uint16_t>(entryCount + 1));             // file blocks
    out.u16(9);                                                      // reserved
    out.u16(static_cast<std::uint16_t>(13 + 11 * typeInfos.size())); // index size
    out.u16(order.front());                                          // first block's entry
    out.raw(std::string("\xFF\x04\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46",
                        16)); // format GUID
    out.u32(0x44);            // reserved
    out.u32(0xFFFF0000);      // reserved
    const std::size_t entriesAt = out.size();
    for (std::size_t entry = 1; entry <= entryCount; ++entry) {
        out.u32(lengths[entry]);      // block length
        out.u16(indexStrings[entry]); // index string offset
        out.u16(nexts[entry]);        // next entry in the chain
    }
    const std::size_t magicAt = out.size();
    out.raw(std::string("\x01"
                        "CompObj\0"
                        "dir\0",
                        13)); // magic record
    for (std::size_t i = 0; i < typeInfos.size(); ++i)
        out.raw(IndexName(i)).u8(0); // index strings
    out.fill(9);                     // padding
    for (std::size_t k = 0; k + 1 < entryCount; ++k)
        out.u16(0x0501).fill(typeInfos[k].blockLength - 2); // type-info block
    const std::size_t libraryAt = out.size();
    out.raw(libraryBytes);

    if (layout) {
        layout->entriesAt = entriesAt;
        layout->magicAt = magicAt;
        layout->libraryBlockAt = libraryAt;
        layout->helpStringAt = libraryAt + helpStringAt;
        layout->nameTableOffsetAt = libraryAt + tableOffsetAt;
    }
    return out.bytes();
}

} // namespace sorvane::test
