#include "engine/formats/clr_metadata.h"

#include "engine/formats/byte_reader.h"

#include <nettle/sha1.h>

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <initializer_list>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace sorvane {
namespace {

constexpr std::uint32_t kMetadataSignature = 0x424A5342; // "BSJB"
constexpr std::uint32_t kMaxVersionLength = 255;
constexpr int kMaxStreams = 16;
constexpr int kTableCount = 64;
constexpr int kAssemblyTable = 0x20;
// The metadata's first bytes read at once: the root, the stream headers and
// most often the table header and row counts.
constexpr std::size_t kHeadBytes = 256;
// A blob's first read: the longest length prefix and a public key of up to
// 2048 bits as .NET stores it (12 bytes of algorithms and length, a 20-byte
// key header, then the 256-byte modulus).
constexpr std::size_t kBlobFirstRead = 4 + 288;

Failure Bad(Reason reason) { return {reason, Step::ReadAssemblyIdentity}; }

// A little-endian index of 2 or 4 bytes at `at`; the caller checked the range.
std::uint32_t Le(std::span<const std::byte> bytes, std::size_t at, std::size_t width) {
    const ByteReader reader(bytes, Endian::Little);
    return width == 2 ? *reader.u16At(at) : *reader.u32At(at);
}
// The tables whose indexes the rows before the Assembly table hold.
enum Table : int {
    kModule = 0x00, kTypeRef = 0x01, kTypeDef = 0x02, kField = 0x04, kMethodDef = 0x06,
    kParam = 0x08, kInterfaceImpl = 0x09, kMemberRef = 0x0A, kDeclSecurity = 0x0E,
    kStandAloneSig = 0x11, kEvent = 0x14, kProperty = 0x17, kModuleRef = 0x1A, kTypeSpec = 0x1B,
    kAssembly = 0x20, kAssemblyRef = 0x23, kFile = 0x26, kExportedType = 0x27,
    kManifestResource = 0x28, kGenericParam = 0x2A, kMethodSpec = 0x2B,
    kGenericParamConstraint = 0x2C, kUnused = -1,
};

// The coded indexes (II.24.2.6) of the columns before the Assembly table:
// each may name a row of one of several tables, and its width depends on
// the largest of them.
enum Coded : std::uint8_t {
    kTypeDefOrRef, kHasConstant, kHasCustomAttribute, kHasFieldMarshal, kHasDeclSecurity,
    kMemberRefParent, kHasSemantics, kMethodDefOrRef, kMemberForwarded, kCustomAttributeType,
    kResolutionScope, kCodedCount,
};
constexpr int kTypeDefOrRefTables[] = {kTypeDef, kTypeRef, kTypeSpec};
constexpr int kHasConstantTables[] = {kField, kParam, kProperty};
constexpr int kHasCustomAttributeTables[] = {
    kMethodDef, kField, kTypeRef, kTypeDef, kParam, kInterfaceImpl, kMemberRef, kModule,
    kDeclSecurity, kProperty, kEvent, kStandAloneSig, kModuleRef, kTypeSpec, kAssembly,
    kAssemblyRef, kFile, kExportedType, kManifestResource, kGenericParam,
    kGenericParamConstraint, kMethodSpec};
constexpr int kHasFieldMarshalTables[] = {kField, kParam};
constexpr int kHasDeclSecurityTables[] = {kTypeDef, kMethodDef, kAssembly};
constexpr int kMemberRefParentTables[] = {kTypeDef, kTypeRef, kModuleRef, kMethodDef, kTypeSpec};
constexpr int kHasSemanticsTables[] = {kEvent, kProperty};
constexpr int kMethodDefOrRefTables[] = {kMethodDef, kMemberRef};
constexpr int kMemberForwardedTables[] = {kField, kMethodDef};
constexpr int kCustomAttributeTypeTables[] = {kUnused, kUnused, kMethodDef, kMemberRef, kUnused};
constexpr int kResolutionScopeTables[] = {kModule, kModuleRef, kAssemblyRef, kTypeRef};
constexpr std::array<std::span<const int>, kCodedCount> kCodedTables = {{
        kTypeDefOrRefTables, kHasConstantTables, kHasCustomAttributeTables,
        kHasFieldMarshalTables, kHasDeclSecurityTables, kMemberRefParentTables,
        kHasSemanticsTables, kMethodDefOrRefTables, kMemberForwardedTables,
        kCustomAttributeTypeTables, kResolutionScopeTables,
}};

// A column: a fixed width, a heap index, an index into one table, or a
// coded index over several.
struct Column {
    enum Kind : std::uint8_t { Fixed, String, Guid, Blob, Index, Coded } kind;
    int value = 0; ///< Fixed: bytes; Index: the table; Coded: which coded index
};

constexpr Column F(int bytes) { return {Column::Fixed, bytes}; }
constexpr Column S{Column::String};
constexpr Column G{Column::Guid};
constexpr Column B{Column::Blob};
constexpr Column I(int table) { return {Column::Index, table}; }
constexpr Column C(Coded coded) { return {Column::Coded, coded}; }

// A table's columns, at most six.
struct Schema {
    std::array<Column, 6> columns{};
    std::size_t count = 0;
    constexpr Schema(std::initializer_list<Column> list) {
        for (const Column& column : list)
            columns[count++] = column;
    }
};

// The columns of the tables 0x00 to 0x1F, which come before the Assembly
// table in the stream (ECMA-335, II.22): fixed arrays, not lists on the
// heap, as the widths are worked out for every assembly read.
constexpr std::array<Schema, kAssemblyTable> kSchemas = {{
        {F(2), S, G, G, G},                                 // 0x00 Module
        {C(kResolutionScope), S, S},                        // 0x01 TypeRef
        {F(4), S, S, C(kTypeDefOrRef), I(kField), I(kMethodDef)}, // 0x02 TypeDef
        {I(kField)},                                        // 0x03 FieldPtr
        {F(2), S, B},                                       // 0x04 Field
        {I(kMethodDef)},                                    // 0x05 MethodPtr
        {F(4), F(2), F(2), S, B, I(kParam)},                // 0x06 MethodDef
        {I(kParam)},                                        // 0x07 ParamPtr
        {F(2), F(2), S},                                    // 0x08 Param
        {I(kTypeDef), C(kTypeDefOrRef)},                    // 0x09 InterfaceImpl
        {C(kMemberRefParent), S, B},                        // 0x0A MemberRef
        {F(2), C(kHasConstant), B},                         // 0x0B Constant
        {C(kHasCustomAttribute), C(kCustomAttributeType), B}, // 0x0C CustomAttribute
        {C(kHasFieldMarshal), B},                           // 0x0D FieldMarshal
        {F(2), C(kHasDeclSecurity), B},                     // 0x0E DeclSecurity
        {F(2), F(4), I(kTypeDef)},                          // 0x0F ClassLayout
        {F(4), I(kField)},                                  // 0x10 FieldLayout
        {B},                                                // 0x11 StandAloneSig
        {I(kTypeDef), I(kEvent)},                           // 0x12 EventMap
        {I(kEvent)},                                        // 0x13 EventPtr
        {F(2), S, C(kTypeDefOrRef)},                        // 0x14 Event
        {I(kTypeDef), I(kProperty)},                        // 0x15 PropertyMap
        {I(kProperty)},                                     // 0x16 PropertyPtr
        {F(2), S, B},                                       // 0x17 Property
        {F(2), I(kMethodDef), C(kHasSemantics)},            // 0x18 MethodSemantics
        {I(kTypeDef), C(kMethodDefOrRef), C(kMethodDefOrRef)}, // 0x19 MethodImpl
        {S},                                                // 0x1A ModuleRef
        {B},                                                // 0x1B TypeSpec
        {F(2), C(kMemberForwarded), S, I(kModuleRef)},      // 0x1C ImplMap
        {F(4), I(kField)},                                  // 0x1D FieldRVA
        {F(4), F(4)},                                       // 0x1E EncLog
        {F(4)},                                             // 0x1F EncMap
}};

struct Stream {
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
    bool found = false;
};

class Reader {
public:
    explicit Reader(const ByteSource& source) : source_(source), size_(source.size()) {}

    Result<AssemblyIdentity> Run() {
        // The root, the stream headers and, in most assemblies, the header
        // and row counts of the tables lie in the first few hundred bytes:
        // they are read at once, and every field there is taken from them.
        head_ = AtMost(0, headBuffer_);
        if (auto streams = ReadStreams(); !streams)
            return Fail(streams.error());
        if (!tables_.found || !strings_.found)
            return Fail(Bad(Reason::BadFormat));
        return ReadTables();
    }

private:
    // Fixed-size fields are read into buffers on the stack: an identity is
    // read from every assembly of a scan, and a heap block per field would
    // cost more than the reading.
    template <std::size_t N> using Field = std::array<std::byte, N>;
    bool At(std::uint64_t offset, std::span<std::byte> out) const {
        if (offset <= head_.size() && out.size() <= head_.size() - offset) {
            std::copy_n(head_.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
            return true;
        }
        return source_.ReadExactly(offset, out);
    }
    // Up to out.size() bytes at `offset`: fewer where the source ends.
    std::span<const std::byte> AtMost(std::uint64_t offset, std::span<std::byte> out) const {
        if (offset >= size_)
            return {};
        out = out.first(static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), size_ - offset)));
        if (!At(offset, out))
            return {};
        return out;
    }

    Result<void> ReadStreams() {
        Field<16> head;
        if (!At(0, head))
            return Fail(Bad(size_ < 16 ? Reason::Truncated : Reason::BadFormat));
        if (Le(head, 0, 4) != kMetadataSignature)
            return Fail(Bad(Reason::BadFormat));
        const std::uint32_t versionLength = Le(head, 12, 4);
        if (versionLength > kMaxVersionLength || versionLength % 4 != 0)
            return Fail(Bad(Reason::BadFormat));
        std::uint64_t at = 16 + versionLength;
        Field<4> counts;
        if (!At(at, counts))
            return Fail(Bad(Reason::Truncated));
        const int streams = static_cast<int>(Le(counts, 2, 2));
        if (streams > kMaxStreams)
            return Fail(Bad(Reason::BadFormat));
        at += 4;
        for (int i = 0; i < streams; ++i) {
            // Offset, size, and a NUL-ended name padded to four bytes.
            Field<8 + 32> buffer;
            const auto header = AtMost(at, buffer);
            if (header.size() < 12)
                return Fail(Bad(Reason::Truncated));
            const auto name = header.subspan(8);
            const auto end = std::find(name.begin(), name.end(), std::byte{0});
            if (end == name.end())
                return Fail(Bad(Reason::BadFormat));
            const std::string_view text(reinterpret_cast<const char*>(name.data()),
                                        static_cast<std::size_t>(end - name.begin()));
            const Stream stream{Le(header, 0, 4), Le(header, 4, 4), true};
            if (stream.offset > size_ || stream.size > size_ - stream.offset)
                return Fail(Bad(Reason::Truncated));
            if (text == "#~" || text == "#-")
                tables_ = stream;
            else if (text == "#Strings")
                strings_ = stream;
            else if (text == "#Blob")
                blobs_ = stream;
            else if (text == "#GUID")
                guids_ = stream;
            at += 8 + ((text.size() + 4) & ~std::size_t{3});
        }
        return {};
    }

    Result<AssemblyIdentity> ReadTables() {
        Field<24> head;
        if (tables_.size < 24 || !At(tables_.offset, head))
            return Fail(Bad(Reason::Truncated));
        const auto heapSizes = static_cast<std::uint8_t>(head[6]);
        const std::uint64_t valid = *ByteReader(head, Endian::Little).u64At(8);
        if ((valid & (std::uint64_t{1} << kAssemblyTable)) == 0)
            return Fail(Bad(Reason::NotVersioned)); // a module, no assembly
        const int present = std::popcount(valid);
        Field<kTableCount * 4> countBuffer;
        const auto counts = std::span(countBuffer).first(static_cast<std::size_t>(present) * 4);
        if (!At(tables_.offset + 24, counts))
            return Fail(Bad(Reason::Truncated));
        std::array<std::uint32_t, kTableCount> rows{};
        std::size_t n = 0;
        for (std::uint64_t left = valid; left != 0; left &= left - 1, n += 4)
            rows[static_cast<std::size_t>(std::countr_zero(left))] = Le(counts, n, 4);
        stringWidth_ = (heapSizes & 0x01) ? 4 : 2;
        guidWidth_ = (heapSizes & 0x02) ? 4 : 2;
        blobWidth_ = (heapSizes & 0x04) ? 4 : 2;

        const auto indexWidth = [&rows](int table) -> std::uint64_t {
            return table >= 0 && rows[static_cast<std::size_t>(table)] > 0xFFFF ? 4 : 2;
        };
        // Each coded index's width once, not once for every column it is in.
        std::array<std::uint64_t, kCodedCount> codedWidths{};
        for (std::size_t coded = 0; coded < kCodedCount; ++coded) {
            const std::span<const int> tables = kCodedTables[coded];
            const int tagBits = std::bit_width(tables.size() - 1);
            std::uint32_t most = 0;
            for (const int table : tables)
                if (table >= 0)
                    most = std::max(most, rows[static_cast<std::size_t>(table)]);
            codedWidths[coded] = most < (std::uint32_t{1} << (16 - tagBits)) ? 2 : 4;
        }
        // The tables before the Assembly table, row by row width, skipped.
        std::uint64_t at = tables_.offset + 24 + static_cast<std::uint64_t>(present) * 4;
        if ((heapSizes & 0x40) != 0)
            at += 4; // an uncompressed stream's extra word
        // Only the tables present before it: most are empty.
        for (std::uint64_t before = valid & ((std::uint64_t{1} << kAssemblyTable) - 1); before != 0;
             before &= before - 1) {
            const auto table = static_cast<std::size_t>(std::countr_zero(before));
            std::uint64_t width = 0;
            const Schema& schema = kSchemas[table];
            for (const Column& column : std::span(schema.columns).first(schema.count)) {
                switch (column.kind) {
                case Column::Fixed: width += static_cast<std::uint64_t>(column.value); break;
                case Column::String: width += stringWidth_; break;
                case Column::Guid: width += guidWidth_; break;
                case Column::Blob: width += blobWidth_; break;
                case Column::Index: width += indexWidth(column.value); break;
                case Column::Coded: width += codedWidths[static_cast<std::size_t>(column.value)]; break;
                }
            }
            at += width * rows[table];
        }
        if (rows[kAssemblyTable] == 0)
            return Fail(Bad(Reason::NotVersioned));
        // HashAlgId, four version parts, Flags, PublicKey, Name, Culture.
        const std::size_t rowSize = 4 + 8 + 4 + blobWidth_ + 2 * stringWidth_;
        if (at + rowSize > std::uint64_t{tables_.offset} + tables_.size)
            return Fail(Bad(Reason::Truncated));
        Field<4 + 8 + 4 + 4 + 2 * 4> rowBuffer;
        const auto row = std::span(rowBuffer).first(rowSize);
        if (!At(at, row))
            return Fail(Bad(Reason::Truncated));
        AssemblyIdentity identity;
        // Four parts of at most five digits each, made without a heap block.
        std::array<char, 4 * 6> version;
        char* end = version.data();
        for (std::size_t part = 0; part < 4; ++part) {
            if (part > 0)
                *end++ = '.';
            end = std::to_chars(end, version.data() + version.size(), Le(row, 4 + 2 * part, 2)).ptr;
        }
        identity.version.assign(version.data(), end);
        std::size_t column = 16;
        const std::uint32_t keyIndex = Le(row, column, blobWidth_);
        column += blobWidth_;
        const std::uint32_t nameIndex = Le(row, column, stringWidth_);
        column += stringWidth_;
        const std::uint32_t cultureIndex = Le(row, column, stringWidth_);
        auto name = String(nameIndex);
        auto culture = String(cultureIndex);
        if (!name || !culture)
            return Fail(Bad(Reason::BadFormat));
        identity.name = std::move(*name);
        identity.culture = std::move(*culture);
        // The definition holds the whole key whatever its flags say (the
        // public key flag tells references' keys from their tokens).
        if (keyIndex != 0) {
            Field<kMaxPublicKeyBytes + 4> keyBuffer;
            const auto key = Blob(keyIndex, keyBuffer);
            if (!key)
                return Fail(Bad(Reason::BadFormat));
            if (!key->empty())
                identity.publicKeyToken = PublicKeyToken(*key);
        }
        return identity;
    }

    // A NUL-ended string of the strings heap.
    // Read a piece at a time: names are short, the cap is not.
    std::optional<std::string> String(std::uint32_t index) const {
        // Index 0 is the empty string (a neutral culture): nothing to read.
        if (index == 0 && strings_.size > 0)
            return std::string();
        if (index >= strings_.size)
            return std::nullopt;
        const std::uint64_t start = std::uint64_t{strings_.offset} + index;
        const std::size_t most = std::min<std::size_t>(kMaxIdentityText + 1, strings_.size - index);
        std::string text;
        Field<64> buffer;
        while (text.size() < most) {
            const auto piece = AtMost(start + text.size(),
                                      std::span(buffer).first(std::min(buffer.size(), most - text.size())));
            if (piece.empty())
                return std::nullopt;
            const auto end = std::find(piece.begin(), piece.end(), std::byte{0});
            text.append(reinterpret_cast<const char*>(piece.data()),
                        static_cast<std::size_t>(end - piece.begin()));
            if (end != piece.end())
                return text;
        }
        return std::nullopt;
    }

    // A blob: its length in one, two or four bytes (II.24.2.4), then its
    // bytes, which are read into `out`.
    std::optional<std::span<const std::byte>> Blob(std::uint32_t index,
                                                   std::span<std::byte, kMaxPublicKeyBytes + 4> out) const {
        if (!blobs_.found || index >= blobs_.size)
            return std::nullopt;
        const std::uint64_t start = std::uint64_t{blobs_.offset} + index;
        // The length and, for keys of the usual sizes, the key: one read.
        const std::size_t available = blobs_.size - index;
        const auto head = AtMost(start, out.first(std::min(kBlobFirstRead, available)));
        if (head.empty())
            return std::nullopt;
        const auto b = [&head](std::size_t i) { return static_cast<std::uint32_t>(head[i]); };
        std::uint32_t length = 0;
        std::size_t prefix = 0;
        if ((b(0) & 0x80) == 0) {
            length = b(0), prefix = 1;
        } else if ((b(0) & 0xC0) == 0x80 && head.size() >= 2) {
            length = ((b(0) & 0x3F) << 8) | b(1), prefix = 2;
        } else if ((b(0) & 0xE0) == 0xC0 && head.size() >= 4) {
            length = ((b(0) & 0x1F) << 24) | (b(1) << 16) | (b(2) << 8) | b(3), prefix = 4;
        } else {
            return std::nullopt;
        }
        if (length > kMaxPublicKeyBytes || prefix + length > available)
            return std::nullopt;
        // A longer key: the rest of it.
        if (const std::size_t have = head.size(); prefix + length > have &&
                                                  !At(start + have, out.subspan(have, prefix + length - have)))
            return std::nullopt;
        return std::span<const std::byte>(out).subspan(prefix, length);
    }

    const ByteSource& source_;
    std::uint64_t size_;
    Field<kHeadBytes> headBuffer_;
    std::span<const std::byte> head_; ///< the first bytes, as far as they could be read
    Stream tables_, strings_, blobs_, guids_;
    std::size_t stringWidth_ = 2, guidWidth_ = 2, blobWidth_ = 2;
};

} // namespace

Result<AssemblyIdentity> ReadAssemblyIdentity(const ByteSource& metadata) {
    return Reader(metadata).Run();
}

std::string PublicKeyToken(std::span<const std::byte> publicKey) {
    sha1_ctx context;
    sha1_init(&context);
    sha1_update(&context, publicKey.size(), reinterpret_cast<const std::uint8_t*>(publicKey.data()));
    std::array<std::uint8_t, SHA1_DIGEST_SIZE> digest{};
    sha1_digest(&context, digest.size(), digest.data());
    static constexpr char kHex[] = "0123456789abcdef";
    std::string token(16, '0');
    for (std::size_t i = 0; i < 8; ++i) {
        const std::uint8_t byte = digest[digest.size() - 1 - i];
        token[2 * i] = kHex[byte >> 4];
        token[2 * i + 1] = kHex[byte & 0x0F];
    }
    return token;
}

} // namespace sorvane
