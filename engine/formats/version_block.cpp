#include "engine/formats/version_block.h"

#include "engine/formats/byte_reader.h"
#include "engine/text/text_utils.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

namespace sorvane {
namespace {

constexpr std::size_t kMaxNodes = 10000;
constexpr std::size_t kFixedInfoSize = 52;
constexpr std::uint32_t kFixedSignature = 0xFEEF04BD;
constexpr std::size_t kHeader32 = 6; // wLength, wValueLength, wType
constexpr std::size_t kHeader16 = 4; // wLength, wValueLength
// A 32-bit block has wType (0 or 1) at offset 4; a 16-bit block has the
// first character of its key there.
constexpr std::uint8_t kFirstKeyCharacter = 0x20;

std::size_t Align4(std::size_t offset) {
    const std::size_t rest = offset % 4;
    if (rest == 0)
        return offset;
    return offset > std::numeric_limits<std::size_t>::max() - 4 ? offset : offset + (4 - rest);
}

/// Text at the start of some bytes: characters of one byte (the 16-bit
/// layout) or two (UTF-16LE), up to the first NUL character.
struct TextRun {
    std::size_t bytes = 0; ///< without the NUL
    bool nul = false;      ///< a NUL ends it; else the bytes ran out
    bool ascii = true;     ///< every character below 0x80
};

TextRun ScanText(std::span<const std::byte> bytes, std::size_t unit) {
    // Every character is or-ed into `seen`: below 0x80 means plain ASCII.
    unsigned seen = 0;
    std::size_t pos = 0;
    bool nul = false;
    const std::byte* p = bytes.data();
    if (unit == 1) {
        for (; pos < bytes.size(); ++pos) {
            const auto c = std::to_integer<unsigned>(p[pos]);
            if (c == 0) {
                nul = true;
                break;
            }
            seen |= c;
        }
    } else {
        if constexpr (std::endian::native == std::endian::little) {
            // Four characters a load while none of them is NUL; the loop
            // below finds the NUL in the four that hold one, and reads what
            // is left after the last whole four.
            constexpr std::uint64_t kOnes = 0x0001000100010001u;
            constexpr std::uint64_t kTops = 0x8000800080008000u;
            std::uint64_t wide = 0;
            for (; bytes.size() - pos >= 8; pos += 8) {
                std::uint64_t four;
                std::memcpy(&four, p + pos, sizeof four);
                if (((four - kOnes) & ~four & kTops) != 0)
                    break;
                wide |= four;
            }
            if ((wide & 0xFF80FF80FF80FF80u) != 0)
                seen |= 0x80;
        }
        for (; bytes.size() - pos >= 2; pos += 2) {
            const unsigned c =
                std::to_integer<unsigned>(p[pos]) | std::to_integer<unsigned>(p[pos + 1]) << 8;
            if (c == 0) {
                nul = true;
                break;
            }
            seen |= c;
        }
    }
    return {pos, nul, seen < 0x80};
}

// Text found by ScanText as UTF-8 into `out` (whose memory is reused): 8-bit
// text is Windows-1252. Plain ASCII (keys and most values) is copied a
// character at a time. (No resize_and_overwrite: the C++ library of g++ 12
// hands its callback the capacity instead of the size asked for.)
void DecodeInto(std::span<const std::byte> text, std::size_t unit, bool ascii, std::string& out) {
    if (!ascii) {
        out =
            unit == 1 ? Windows1252ToUtf8(BytesToString(text)) : Utf16ToUtf8(text, Endian::Little);
        return;
    }
    out.resize(text.size() / unit);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char>(text[i * unit]);
}

std::string Decode(std::span<const std::byte> text, std::size_t unit, bool ascii) {
    std::string out;
    DecodeInto(text, unit, ascii, out);
    return out;
}

/// One node of the tree, clamped to its parent. Its key stays in the block
/// until it is asked for: most keys are only compared, and most strings of
/// a scan are not kept.
struct Node {
    std::size_t start = 0;
    std::size_t end = 0;      ///< start + wLength, clamped to the parent's end
    std::uint16_t length = 0; ///< wLength as stored
    std::uint16_t valueLength = 0;
    std::size_t keyStart = 0;
    std::size_t keyBytes = 0; ///< without the NUL
    bool keyAscii = true;     ///< every character below 0x80
    std::size_t valueStart = 0;    ///< clamped to `end`
    std::size_t childrenStart = 0; ///< clamped to `end`
};

class BlockParser {
public:
    BlockParser(std::span<const std::byte> block, bool sixteenBit, std::size_t budgetBytes)
        : block_(block), reader_(block, Endian::Little), sixteenBit_(sixteenBit),
          budget_(budgetBytes), budgetAmple_(AmpleFor(block.size(), budgetBytes)) {}

    /// True when the budget cannot run out on this block, whatever it holds:
    /// every payment then succeeds, and one left out changes nothing.
    bool budgetAmple() const { return budgetAmple_; }

    /// The node at `start`, which must end by `limit`; nothing when its header
    /// does not fit or its length cannot hold a header.
    std::optional<Node> ReadNode(std::size_t start, std::size_t limit) const;
    /// ReadNode's first half: the node's place and lengths, its key unread.
    std::optional<Node> ReadHeader(std::size_t start, std::size_t limit) const;
    /// ReadNode's second half: where the key, the value and the children are.
    void ScanKey(Node& node) const;
    /// The size of the node's key as UTF-8.
    std::size_t KeySize(const Node& node) const {
        return node.keyAscii ? node.keyBytes / Unit() : Key(node).size();
    }

    /// Whether the key of the node at `start`, which ends at `end`, may be
    /// one of `names` (plain ASCII) without regard to case; false only when
    /// it surely is none of them, told from its first character alone.
    bool MayBeOneOf(std::size_t start, std::size_t end, std::span<const std::string_view> names) const;

    /// Calls `visit` for each child of `parent` in order, until the children
    /// run out, one is unusable, or the node count or the budget is spent.
    /// Each child's place in a list and its key are paid for before the visit.
    template <typename Visit> void ForEachChild(const Node& parent, Visit&& visit) {
        ForEachChild(parent, {}, visit);
    }
    /// The same, passing over (counted, but neither read nor visited) the
    /// children whose key cannot be one of `wanted` while the budget is ample.
    template <typename Visit>
    void ForEachChild(const Node& parent, std::span<const std::string_view> wanted, Visit&& visit);

    /// The node's key as UTF-8.
    std::string Key(const Node& node) const;
    void KeyInto(const Node& node, std::string& out) const;
    /// Whether the key is `wanted` (plain ASCII), without regard to case.
    bool KeyIs(const Node& node, std::string_view wanted) const;

    /// Pays for `bytes` kept; false (and the walk stops) when the budget
    /// cannot.
    bool Pay(std::size_t bytes) { return budget_.Take(bytes); }
    bool budgetSpent() const { return budget_.spent(); }

    /// The text value of a string node, up to its first NUL.
    std::string Text(const Node& node) const;
    void TextInto(const Node& node, std::string& out) const;
    /// The size of Text(node), mostly without making it.
    std::size_t TextSize(const Node& node) const;

    std::optional<FixedFileInfo> Fixed(const Node& root) const;
    /// Pays for the translations of `var` and puts them into `out`; false,
    /// leaving `out` alone, when the budget cannot pay.
    bool TranslationsInto(const Node& var, std::vector<Translation>& out);

private:
    // Bytes per character.
    std::size_t Unit() const { return sixteenBit_ ? 1 : 2; }
    // The text value, up to its first NUL.
    TextRun TextOf(const Node& node) const;

    std::span<const std::byte> block_;
    ByteReader reader_;
    bool sixteenBit_;
    // The most a walk can pay: a string's worth for each node it may visit,
    // and every byte of the block decoded (three bytes of UTF-8 at most for
    // one of text) and taken as translations.
    static bool AmpleFor(std::size_t blockBytes, std::size_t budgetBytes) {
        constexpr std::size_t kNodesWorth = kMaxNodes * sizeof(VersionString);
        return budgetBytes >= kNodesWorth && (budgetBytes - kNodesWorth) / 4 >= blockBytes;
    }

    std::size_t nodesLeft_ = kMaxNodes;
    ReadBudget budget_;
    bool budgetAmple_;
};

std::optional<Node> BlockParser::ReadHeader(std::size_t start, std::size_t limit) const {
    const std::size_t header = sixteenBit_ ? kHeader16 : kHeader32;
    limit = std::min(limit, block_.size());
    if (start > limit || limit - start < header)
        return std::nullopt;
    Node n;
    n.start = start;
    n.length = *reader_.u16At(start);
    n.valueLength = *reader_.u16At(start + 2);
    if (n.length < header)
        return std::nullopt;
    n.end = start + std::min<std::size_t>(n.length, limit - start);
    return n;
}

void BlockParser::ScanKey(Node& n) const {
    // The key runs to its NUL or, when that is missing, to the node's end.
    std::size_t pos = n.start + (sixteenBit_ ? kHeader16 : kHeader32);
    std::size_t valueBytes = n.valueLength;
    n.keyStart = pos;
    const TextRun key = ScanText(block_.subspan(pos, n.end - pos), Unit());
    n.keyBytes = key.bytes;
    n.keyAscii = key.ascii;
    pos += key.bytes + (key.nul ? Unit() : 0);
    if (!sixteenBit_) {
        // Text values count UTF-16 units, binary ones bytes (wType 1 and 0).
        // Windows finds the children this way, so a wrong count moves them.
        if (*reader_.u16At(n.start + 4) != 0)
            valueBytes *= 2;
    }
    // Padding is measured from the block's start, as Windows does; a writer
    // that left it out gets its value read from the aligned offset.
    n.valueStart = std::min(Align4(pos), n.end);
    n.childrenStart = std::min(Align4(n.valueStart + valueBytes), n.end);
}

std::optional<Node> BlockParser::ReadNode(std::size_t start, std::size_t limit) const {
    auto n = ReadHeader(start, limit);
    if (n)
        ScanKey(*n);
    return n;
}

bool BlockParser::MayBeOneOf(std::size_t start, std::size_t end,
                             std::span<const std::string_view> names) const {
    // An empty name is matched by an empty key only: no shortcut for it.
    if (std::any_of(names.begin(), names.end(), [](std::string_view name) { return name.empty(); }))
        return true;
    const std::size_t unit = Unit();
    const std::size_t at = start + (sixteenBit_ ? kHeader16 : kHeader32);
    if (end < at || end - at < unit)
        return false; // an empty key
    const unsigned first = unit == 1 ? std::to_integer<unsigned>(block_[at]) : *reader_.u16At(at);
    if (first == 0)
        return false;
    // A character from 0x80 up may fold to a letter of plain ASCII (the
    // Kelvin sign to "k"): such a key is read whole.
    if (first >= 0x80)
        return true;
    const auto fold = [](unsigned c) { return c - 'A' < 26u ? c + 32u : c; };
    return std::any_of(names.begin(), names.end(), [&](std::string_view name) {
        return fold(static_cast<unsigned char>(name.front())) == fold(first);
    });
}

template <typename Visit>
void BlockParser::ForEachChild(const Node& parent, std::span<const std::string_view> wanted,
                               Visit&& visit) {
    std::size_t pos = parent.childrenStart;
    while (nodesLeft_ > 0 && !budget_.spent()) {
        std::optional<Node> child;
        if (!wanted.empty() && budgetAmple_) {
            // Its header alone tells whether it is usable and where the next
            // one starts; its key is scanned only when it may be wanted.
            child = ReadHeader(pos, parent.end);
            if (!child)
                return;
            --nodesLeft_;
            if (MayBeOneOf(pos, child->end, wanted)) {
                ScanKey(*child);
                visit(*child);
            }
        } else {
            child = ReadNode(pos, parent.end);
            if (!child)
                return;
            --nodesLeft_;
            if (!budget_.Take(sizeof(VersionString) + KeySize(*child)))
                return;
            visit(*child);
        }
        // Siblings follow the stored length, not the clamped one: a child
        // that overflows its parent is the parent's last.
        const std::size_t next = Align4(pos + child->length);
        if (next <= pos || next >= parent.end)
            return;
        pos = next;
    }
}

std::string BlockParser::Key(const Node& node) const {
    return Decode(block_.subspan(node.keyStart, node.keyBytes), Unit(), node.keyAscii);
}

void BlockParser::KeyInto(const Node& node, std::string& out) const {
    DecodeInto(block_.subspan(node.keyStart, node.keyBytes), Unit(), node.keyAscii, out);
}

bool BlockParser::KeyIs(const Node& node, std::string_view wanted) const {
    if (!node.keyAscii)
        return EqualsIgnoreCase(Key(node), wanted);
    const std::size_t unit = Unit();
    if (node.keyBytes != wanted.size() * unit)
        return false;
    const auto fold = [](unsigned char c) {
        return static_cast<unsigned>(c - 'A') < 26u ? c + 32u : unsigned{c};
    };
    for (std::size_t i = 0; i < wanted.size(); ++i)
        if (fold(std::to_integer<unsigned char>(block_[node.keyStart + i * unit])) !=
            fold(static_cast<unsigned char>(wanted[i])))
            return false;
    return true;
}

TextRun BlockParser::TextOf(const Node& node) const {
    // The value runs to the node's end; its stored length is not trusted to
    // cut the text, as writers disagree on its unit and some store too little.
    return ScanText(block_.subspan(node.valueStart, node.end - node.valueStart), Unit());
}

std::string BlockParser::Text(const Node& node) const {
    const TextRun text = TextOf(node);
    return Decode(block_.subspan(node.valueStart, text.bytes), Unit(), text.ascii);
}

void BlockParser::TextInto(const Node& node, std::string& out) const {
    const TextRun text = TextOf(node);
    DecodeInto(block_.subspan(node.valueStart, text.bytes), Unit(), text.ascii, out);
}

std::size_t BlockParser::TextSize(const Node& node) const {
    const TextRun text = TextOf(node);
    return text.ascii ? text.bytes / Unit() : Text(node).size();
}

std::optional<FixedFileInfo> BlockParser::Fixed(const Node& root) const {
    if (root.valueLength < kFixedInfoSize)
        return std::nullopt;
    auto r = reader_.sub(root.valueStart, std::min(kFixedInfoSize, root.end - root.valueStart));
    if (!r || r->size() < kFixedInfoSize)
        return std::nullopt;
    FixedFileInfo f;
    f.signature = *r->u32();
    if (f.signature != kFixedSignature)
        return std::nullopt;
    f.structVersion = *r->u32();
    f.fileVersionMS = *r->u32();
    f.fileVersionLS = *r->u32();
    f.productVersionMS = *r->u32();
    f.productVersionLS = *r->u32();
    f.fileFlagsMask = *r->u32();
    f.fileFlags = *r->u32();
    f.fileOS = *r->u32();
    f.fileType = *r->u32();
    f.fileSubtype = *r->u32();
    f.fileDateMS = *r->u32();
    f.fileDateLS = *r->u32();
    return f;
}

bool BlockParser::TranslationsInto(const Node& var, std::vector<Translation>& out) {
    // The length of this value is in bytes in both layouts.
    const std::size_t bytes = std::min<std::size_t>(var.valueLength, var.end - var.valueStart);
    const std::size_t count = bytes / 4;
    if (!Pay(count * sizeof(Translation)))
        return false;
    const ByteReader r(block_.subspan(var.valueStart, bytes), Endian::Little);
    out.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = {*r.u16At(4 * i), *r.u16At(4 * i + 2)};
    return true;
}

/// The next item of `items`, of which `used` are filled so far: one left
/// from an earlier parse when there is one (its memory is reused), else a
/// new one.
template <typename T> T& NextItem(std::vector<T>& items, std::size_t used) {
    if (used < items.size())
        return items[used];
    return items.emplace_back();
}

} // namespace

std::optional<VersionInfo> ParseVersionBlock(std::span<const std::byte> block,
                                             std::size_t budgetBytes,
                                             std::span<const std::string_view> onlyStrings) {
    VersionInfo info;
    if (!ParseVersionBlockInto(block, info, budgetBytes, onlyStrings))
        return std::nullopt;
    return info;
}

bool ParseVersionBlockInto(std::span<const std::byte> block, VersionInfo& info,
                           std::size_t budgetBytes, std::span<const std::string_view> onlyStrings) {
    if (block.size() <= 4)
        return false;
    info.sixteenBit = std::to_integer<std::uint8_t>(block[4]) >= kFirstKeyCharacter;
    info.fixed.reset();
    info.translations.clear();
    info.budgetSpent = false;
    BlockParser parser(block, info.sixteenBit, budgetBytes);

    const auto root = parser.ReadNode(0, block.size());
    if (!root || !parser.KeyIs(*root, "VS_VERSION_INFO")) {
        info.stringTables.clear();
        return false;
    }
    info.fixed = parser.Fixed(*root);

    const auto kept = [&](const Node& stringNode) {
        return onlyStrings.empty() ||
               std::any_of(onlyStrings.begin(), onlyStrings.end(),
                           [&](std::string_view name) { return parser.KeyIs(stringNode, name); });
    };
    // Tables and strings left from an earlier parse are filled again, so a
    // block like the one before takes no new memory; what is left over is
    // dropped at the end.
    std::size_t tables = 0;
    // The Windows query walks one path and takes the first child with each
    // key: a second StringFileInfo or VarFileInfo block is never searched.
    // Its tables are still kept (marked with their block) for listing.
    std::size_t stringBlocks = 0;
    bool varBlockSeen = false;
    // The walk goes exactly four levels deep (root, container, table, string)
    // and shares one node budget. Containers are recognised by key: some
    // resource compilers write wType 0 on them, others 1.
    parser.ForEachChild(*root, [&](const Node& child) {
        if (parser.KeyIs(child, "StringFileInfo")) {
            const std::size_t block = stringBlocks++;
            parser.ForEachChild(child, [&](const Node& tableNode) {
                StringTable& table = NextItem(info.stringTables, tables++);
                parser.KeyInto(tableNode, table.key);
                table.block = block;
                std::size_t strings = 0;
                parser.ForEachChild(tableNode, onlyStrings, [&](const Node& stringNode) {
                    // A string left out is paid for all the same, so that
                    // what is kept does not depend on what was asked for
                    // (nothing to pay where the budget cannot run out).
                    if (!kept(stringNode)) {
                        if (!parser.budgetAmple())
                            parser.Pay(parser.TextSize(stringNode));
                        return;
                    }
                    VersionString& string = NextItem(table.strings, strings);
                    parser.TextInto(stringNode, string.value);
                    if (!parser.Pay(string.value.size()))
                        return;
                    parser.KeyInto(stringNode, string.name);
                    string.valueLength = stringNode.valueLength;
                    ++strings;
                });
                table.strings.resize(strings);
            });
        } else if (parser.KeyIs(child, "VarFileInfo") && !varBlockSeen) {
            varBlockSeen = true;
            bool translationSeen = false;
            parser.ForEachChild(child, [&](const Node& var) {
                if (!translationSeen && parser.KeyIs(var, "Translation")) {
                    translationSeen = true;
                    parser.TranslationsInto(var, info.translations);
                }
            });
        }
    });
    info.stringTables.resize(tables);
    info.budgetSpent = parser.budgetSpent();
    return true;
}

std::optional<std::string> VersionInfo::QueryString(std::string_view tableKey,
                                                    std::string_view name) const {
    // As Windows answers: the first table with the key in the first
    // StringFileInfo block, then the first string with the name in that
    // table only.
    const auto table =
        std::find_if(stringTables.begin(), stringTables.end(), [&](const StringTable& t) {
            return t.block == 0 && EqualsIgnoreCase(t.key, tableKey);
        });
    if (table == stringTables.end())
        return std::nullopt;
    const auto it =
        std::find_if(table->strings.begin(), table->strings.end(),
                     [&](const VersionString& s) { return EqualsIgnoreCase(s.name, name); });
    if (it == table->strings.end() || it->valueLength == 0)
        return std::nullopt;
    return it->value;
}

} // namespace sorvane
