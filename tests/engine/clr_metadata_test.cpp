// The identity of a .NET assembly from metadata built here, table by table.

#include "engine/formats/clr_metadata.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace sorvane {
namespace {

// Metadata with the tables given (each as rows of zero bytes of the given
// width, the width worked out by hand from the index sizes) and an Assembly row.
struct TableRows {
    int table;
    std::uint32_t rows;
    std::uint32_t rowBytes;
};

struct AssemblyRow {
    std::uint16_t version[4] = {1, 2, 3, 4};
    std::uint32_t flags = 0;
    std::string name = "Tiny";
    std::string culture;
    std::vector<std::uint8_t> key;
};

class MetadataBuilder {
public:
    std::vector<TableRows> tables = {{0x00, 1, 10}};
    std::uint8_t heapSizes = 0;
    bool assembly = true;
    AssemblyRow row;
    std::uint32_t versionLength = 12;
    std::uint32_t assemblyRowsClaimed = 1;
    std::size_t cutAtEnd = 0; ///< bytes taken off the tables stream's end

    std::vector<std::byte> Build() const {
        // Heaps: strings (NUL first), blob (empty blob first).
        std::string strings(1, '\0');
        const std::uint32_t name = Append(strings, row.name);
        const std::uint32_t culture = row.culture.empty() ? 0 : Append(strings, row.culture);
        std::vector<std::uint8_t> blob{0};
        std::uint32_t key = 0;
        if (!row.key.empty()) {
            key = static_cast<std::uint32_t>(blob.size());
            const std::size_t n = row.key.size();
            if (n < 0x80) {
                blob.push_back(static_cast<std::uint8_t>(n));
            } else {
                blob.push_back(static_cast<std::uint8_t>(0x80 | (n >> 8)));
                blob.push_back(static_cast<std::uint8_t>(n));
            }
            blob.insert(blob.end(), row.key.begin(), row.key.end());
        }
        while (strings.size() % 4)
            strings.push_back('\0');
        while (blob.size() % 4)
            blob.push_back(0);

        std::vector<std::uint8_t> tilde(4, 0);
        tilde.push_back(2), tilde.push_back(0), tilde.push_back(heapSizes), tilde.push_back(1);
        std::uint64_t valid = assembly ? std::uint64_t{1} << 0x20 : 0;
        for (const TableRows& t : tables)
            valid |= std::uint64_t{1} << t.table;
        Put(tilde, static_cast<std::uint32_t>(valid), 4);
        Put(tilde, static_cast<std::uint32_t>(valid >> 32), 4);
        Put(tilde, 0, 4), Put(tilde, 0, 4); // sorted
        for (const TableRows& t : tables)
            Put(tilde, t.rows, 4);
        if (assembly)
            Put(tilde, assemblyRowsClaimed, 4);
        // A count past any real table claims more than is written.
        for (const TableRows& t : tables)
            tilde.resize(tilde.size() + std::size_t{std::min(t.rows, 100000u)} * t.rowBytes, 0);
        if (assembly) {
            const int stringWidth = (heapSizes & 1) ? 4 : 2;
            const int blobWidth = (heapSizes & 4) ? 4 : 2;
            Put(tilde, 0x8004, 4);
            for (const std::uint16_t part : row.version)
                Put(tilde, part, 2);
            Put(tilde, row.flags, 4);
            Put(tilde, key, blobWidth);
            Put(tilde, name, stringWidth);
            Put(tilde, culture, stringWidth);
        }
        tilde.resize(tilde.size() - cutAtEnd);
        while (tilde.size() % 4)
            tilde.push_back(0);

        // Root, three stream headers, then the streams.
        std::vector<std::uint8_t> out;
        Put(out, 0x424A5342, 4);
        Put(out, 1, 2), Put(out, 1, 2), Put(out, 0, 4);
        Put(out, versionLength, 4);
        std::string version = "v4.0.30319";
        version.resize(versionLength, '\0');
        out.insert(out.end(), version.begin(), version.end());
        Put(out, 0, 2), Put(out, 3, 2);
        const std::uint32_t headers = static_cast<std::uint32_t>(out.size()) + 12 + 20 + 16;
        const std::uint32_t tildeAt = headers;
        const std::uint32_t stringsAt = tildeAt + static_cast<std::uint32_t>(tilde.size());
        const std::uint32_t blobAt = stringsAt + static_cast<std::uint32_t>(strings.size());
        Stream(out, tildeAt, tilde.size(), "#~");
        Stream(out, stringsAt, strings.size(), "#Strings");
        Stream(out, blobAt, blob.size(), "#Blob");
        out.insert(out.end(), tilde.begin(), tilde.end());
        out.insert(out.end(), strings.begin(), strings.end());
        out.insert(out.end(), blob.begin(), blob.end());
        const auto* bytes = reinterpret_cast<const std::byte*>(out.data());
        return std::vector<std::byte>(bytes, bytes + out.size());
    }

private:
    static std::uint32_t Append(std::string& heap, const std::string& text) {
        const auto at = static_cast<std::uint32_t>(heap.size());
        heap += text;
        heap += '\0';
        return at;
    }
    static void Put(std::vector<std::uint8_t>& out, std::uint32_t value, int width) {
        for (int i = 0; i < width; ++i)
            out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
    static void Stream(std::vector<std::uint8_t>& out, std::uint32_t at, std::size_t size,
                       const std::string& name) {
        Put(out, at, 4);
        Put(out, static_cast<std::uint32_t>(size), 4);
        std::string padded = name;
        padded.resize((name.size() + 4) & ~std::size_t{3}, '\0');
        out.insert(out.end(), padded.begin(), padded.end());
    }
};

Result<AssemblyIdentity> Read(const MetadataBuilder& builder) {
    const std::vector<std::byte> bytes = builder.Build();
    return ReadAssemblyIdentity(MemorySource(bytes));
}

// The ECMA standard's "neutral" key, whose token every .NET developer knows.
const std::vector<std::uint8_t> kEcmaKey = {0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0};

TEST(AssemblyIdentity, FindsTheAssemblyRowWhateverTheTablesBeforeItAndTheIndexWidths) {
    std::vector<std::uint8_t> longKey(130);
    for (std::size_t i = 0; i < longKey.size(); ++i)
        longKey[i] = static_cast<std::uint8_t>(i);
    // Longer than the first read of a blob takes (a 4096-bit key is 532 bytes).
    std::vector<std::uint8_t> largeKey(600);
    for (std::size_t i = 0; i < largeKey.size(); ++i)
        largeKey[i] = static_cast<std::uint8_t>(i);
    struct Row {
        const char* what;
        MetadataBuilder metadata;
        AssemblyIdentity expected;
    };
    std::vector<Row> rows;
    rows.push_back({"a module row and the assembly", {}, {"Tiny", "1.2.3.4", "", ""}});
    {
        MetadataBuilder m;
        m.row = {{4, 0, 0, 0}, 1, "mscorlib", "", kEcmaKey};
        rows.push_back({"the ECMA key", m, {"mscorlib", "4.0.0.0", "", "b77a5c561934e089"}});
    }
    {
        // Wide string and blob heaps: the module row is 2 + 4 + 2 + 2 + 2.
        MetadataBuilder m;
        m.heapSizes = 0x05;
        m.tables = {{0x00, 1, 12}};
        m.row = {{65535, 0, 12, 7}, 1, "Wide.Heaps", "de-DE", longKey};
        rows.push_back({"wide heaps, a culture and a key of two length bytes", m,
                        {"Wide.Heaps", "65535.0.12.7", "de-DE", "461b1fe1434b87d1"}});
    }
    {
        MetadataBuilder m;
        m.row = {{2, 0, 0, 0}, 1, "Large.Key", "", largeKey};
        rows.push_back({"a key longer than the blob's first read",
                        m, {"Large.Key", "2.0.0.0", "", "406c76729f565189"}});
    }
    {
        // 16,384 TypeRefs: the ResolutionScope index (2 tag bits) takes 4 bytes.
        MetadataBuilder m;
        m.tables = {{0x00, 1, 10}, {0x01, 16384, 8}};
        rows.push_back({"a coded index of four bytes", m, {"Tiny", "1.2.3.4", "", ""}});
    }
    {
        // 16,383 TypeRefs still fit two bytes.
        MetadataBuilder m;
        m.tables = {{0x00, 1, 10}, {0x01, 16383, 6}};
        rows.push_back({"a coded index of two bytes", m, {"Tiny", "1.2.3.4", "", ""}});
    }
    {
        // 65,536 MethodDefs: TypeDef's MethodList index takes 4 bytes
        // (4 + 2 + 2 + 2 + 2 + 4), MethodDef rows 4 + 2 + 2 + 2 + 2 + 2.
        MetadataBuilder m;
        m.tables = {{0x00, 1, 10}, {0x02, 3, 16}, {0x06, 65536, 14}};
        rows.push_back({"a table index of four bytes", m, {"Tiny", "1.2.3.4", "", ""}});
    }
    {
        // A definition's key is whole, flag or not.
        MetadataBuilder m;
        m.row.key = kEcmaKey;
        m.row.flags = 0;
        rows.push_back({"a key without the public key flag", m,
                        {"Tiny", "1.2.3.4", "", "b77a5c561934e089"}});
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const auto identity = Read(row.metadata);
        ASSERT_TRUE(identity) << identity.error().Message();
        EXPECT_EQ(*identity, row.expected);
    }
}

TEST(AssemblyIdentity, DamagedOrHostileMetadataGivesAReasonAndNoIdentity) {
    struct Row {
        const char* what;
        MetadataBuilder metadata;
        Reason reason;
        std::vector<std::byte> (*spoil)(std::vector<std::byte>) = nullptr;
    };
    std::vector<Row> rows;
    {
        MetadataBuilder m;
        m.assembly = false;
        rows.push_back({"a module without an assembly", m, Reason::NotVersioned});
    }
    {
        MetadataBuilder m;
        m.versionLength = 10;
        rows.push_back({"a version text not padded to four bytes", m, Reason::BadFormat});
    }
    {
        MetadataBuilder m;
        m.tables = {{0x00, 1, 10}, {0x02, 0xFFFFFFFF, 16}};
        rows.push_back({"four billion TypeDefs", m, Reason::Truncated});
    }
    {
        MetadataBuilder m;
        m.cutAtEnd = 5;
        rows.push_back({"the assembly row cut short", m, Reason::Truncated});
    }
    {
        MetadataBuilder m;
        m.assemblyRowsClaimed = 0;
        rows.push_back({"an empty assembly table", m, Reason::NotVersioned});
    }
    {
        MetadataBuilder m;
        m.row.name = std::string(2000, 'n');
        rows.push_back({"a name longer than any read", m, Reason::BadFormat});
    }
    rows.push_back({"no signature", {}, Reason::BadFormat,
                    [](std::vector<std::byte> b) { b[0] = std::byte{'X'}; return b; }});
    rows.push_back({"cut inside the root", {}, Reason::Truncated,
                    [](std::vector<std::byte> b) { b.resize(12); return b; }});
    rows.push_back({"a stream past the end", {}, Reason::Truncated, [](std::vector<std::byte> b) {
                        b[32 + 3] = std::byte{0x7F}; // the #~ stream's offset
                        return b;
                    }});
    rows.push_back({"a thousand streams", {}, Reason::BadFormat, [](std::vector<std::byte> b) {
                        b[30] = std::byte{0xE8}, b[31] = std::byte{0x03};
                        return b;
                    }});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<std::byte> bytes = row.metadata.Build();
        if (row.spoil != nullptr)
            bytes = row.spoil(std::move(bytes));
        const auto identity = ReadAssemblyIdentity(MemorySource(bytes));
        ASSERT_FALSE(identity);
        EXPECT_TRUE(identity.error().Is(row.reason)) << identity.error().Message();
        EXPECT_EQ(identity.error().step, Step::ReadAssemblyIdentity);
    }
}

} // namespace
} // namespace sorvane
