#include "engine/scan/row_sort.h"

#include "engine/scan/row_store.h"
#include "engine/text/text_utils.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <functional>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace sorvane {

std::string_view ColumnView(const ComparisonRow& row, int column, std::string& scratch) {
    switch (column) {
    case kRootColumn:
        return row.Name.find('/') == std::string::npos ? "." : "";
    case kNameColumn:
        return row.Name;
    case kExtColumn:
        return row.Ext;
    case kSourceLanguageColumn:
        return row.SourceLanguage;
    case kSourceVersionColumn:
        return row.SourceVersion;
    case kMarkColumn:
        return MarkText(row.Mark);
    case kTargetVersionColumn:
        return row.TargetVersion;
    case kTargetLanguageColumn:
        return row.TargetLanguage;
    case kBusyColumn:
        return row.Busy ? "*" : "";
    case kDescriptionColumn:
        return row.Description;
    case kCopyrightColumn:
        return row.Copyright;
    case kSizeColumn:
        scratch = std::to_string(row.SourceSize);
        return scratch;
    default:
        return "";
    }
}

std::string_view ColumnCaption(int column) {
    switch (column) {
    case kNameColumn:
        return "Name";
    case kExtColumn:
        return "Ext";
    case kSourceLanguageColumn:
    case kTargetLanguageColumn:
        return "Language";
    case kSourceVersionColumn:
        return "Source Version";
    case kMarkColumn:
        return "=";
    case kTargetVersionColumn:
        return "Target Version";
    case kBusyColumn:
        return "Busy";
    case kDescriptionColumn:
        return "Description";
    case kCopyrightColumn:
        return "Copyright";
    default:
        return {};
    }
}

namespace {

// Columns with more different texts than this are sorted by their texts.
constexpr std::size_t kMaxRanked = 4096;

// The folded texts of one column, end to end, with the offset of each row's
// text. Byte order of folded UTF-8 is code point order, which is the order
// CompareIgnoreCase gives, so the comparison needs no decoding.
class FoldedColumn {
public:
    FoldedColumn(const std::vector<ComparisonRow>& rows, int column) {
        offsets_.reserve(rows.size() + 1);
        offsets_.push_back(0);
        std::string scratch;
        for (const ComparisonRow& row : rows) {
            AppendFolded(ColumnView(row, column, scratch));
            offsets_.push_back(static_cast<std::uint32_t>(bytes_.size()));
        }
    }

    std::string_view Text(std::uint32_t row) const {
        return std::string_view(bytes_).substr(offsets_[row], offsets_[row + 1] - offsets_[row]);
    }

    /// When the column holds at most `limit` different texts, gives each row
    /// the place of its text among them (equal texts, equal places), so rows
    /// compare as numbers; otherwise nothing. Extensions, languages, marks and
    /// most descriptions have a few texts each over thousands of rows.
    std::optional<std::vector<std::uint32_t>> Ranks(std::size_t limit) const {
        const std::size_t rows = offsets_.size() - 1;
        std::unordered_map<std::string_view, std::uint32_t> ids;
        std::vector<std::uint32_t> idOfRow(rows);
        for (std::size_t row = 0; row < rows; ++row) {
            const auto [at, added] =
                ids.try_emplace(Text(static_cast<std::uint32_t>(row)),
                                static_cast<std::uint32_t>(ids.size()));
            if (added && ids.size() > limit)
                return std::nullopt;
            idOfRow[row] = at->second;
        }
        std::vector<std::pair<std::string_view, std::uint32_t>> distinct(ids.begin(), ids.end());
        std::sort(distinct.begin(), distinct.end());
        std::vector<std::uint32_t> rankOfId(distinct.size());
        for (std::size_t rank = 0; rank < distinct.size(); ++rank)
            rankOfId[distinct[rank].second] = static_cast<std::uint32_t>(rank);
        for (std::uint32_t& id : idOfRow)
            id = rankOfId[id];
        return idOfRow;
    }

private:
    void AppendFolded(std::string_view text) {
        const bool ascii = std::all_of(text.begin(), text.end(),
                                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        if (!ascii) {
            bytes_ += FoldCase(std::string(text));
            return;
        }
        for (const char c : text)
            bytes_.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c);
    }

    std::string bytes_;
    std::vector<std::uint32_t> offsets_;
};

} // namespace

std::string ColumnText(const ComparisonRow& row, int column) {
    std::string scratch;
    return std::string(ColumnView(row, column, scratch));
}

int CompareRowsForSort(const ComparisonRow& a, const ComparisonRow& b, int sortKey) {
    const int first = sortKey == kNameColumn ? kRootColumn : sortKey;
    std::string scratchA, scratchB;
    // The filler column is always empty and never breaks a tie.
    for (int column = first; column < kFillerColumn; ++column) {
        const int c =
            CompareIgnoreCase(ColumnView(a, column, scratchA), ColumnView(b, column, scratchB));
        if (c != 0)
            return c;
    }
    return 0;
}

std::vector<std::uint32_t> SortedRowOrder(const std::vector<ComparisonRow>& rows, int sortKey,
                                          bool ascending) {
    std::vector<std::uint32_t> order(rows.size());
    std::iota(order.begin(), order.end(), 0u);
    if (sortKey < kNameColumn || sortKey > kSizeColumn || rows.size() < 2)
        return order;

    // The same column sequence as CompareRowsForSort: a Name sort starts at
    // the root marker; the filler is always empty and never breaks a tie.
    // The rows are sorted by the first column, then each run of rows equal so
    // far by the next one. Each sort is stable, so rows equal in every column
    // keep their order, and a column is folded only when some rows tie on all
    // the columns before it: a sort by Name needs the root marker and the
    // names only.
    const int first = sortKey == kNameColumn ? kRootColumn : sortKey;
    const auto levels = static_cast<std::size_t>(kFillerColumn - first);
    struct Column {
        std::optional<FoldedColumn> texts;
        std::optional<std::vector<std::uint32_t>> ranks;
    };
    std::vector<Column> columns(levels);
    struct Run {
        std::size_t begin, end, level;
    };
    std::vector<Run> runs{{0, order.size(), 0}};
    while (!runs.empty()) {
        const Run run = runs.back();
        runs.pop_back();
        Column& column = columns[run.level];
        if (!column.texts) {
            column.texts.emplace(rows, first + static_cast<int>(run.level));
            column.ranks = column.texts->Ranks(kMaxRanked);
        }
        const auto begin = order.begin() + static_cast<std::ptrdiff_t>(run.begin);
        const auto end = order.begin() + static_cast<std::ptrdiff_t>(run.end);
        // Whether rows a and b have the same text; only for the run just sorted.
        std::function<bool(std::uint32_t, std::uint32_t)> same;
        if (column.ranks) {
            const std::vector<std::uint32_t>& rank = *column.ranks;
            std::stable_sort(begin, end, [&](std::uint32_t a, std::uint32_t b) {
                return ascending ? rank[a] < rank[b] : rank[a] > rank[b];
            });
            same = [&](std::uint32_t a, std::uint32_t b) { return rank[a] == rank[b]; };
        } else {
            const FoldedColumn& texts = *column.texts;
            std::stable_sort(begin, end, [&](std::uint32_t a, std::uint32_t b) {
                const int c = texts.Text(a).compare(texts.Text(b));
                return ascending ? c < 0 : c > 0;
            });
            same = [&](std::uint32_t a, std::uint32_t b) { return texts.Text(a) == texts.Text(b); };
        }
        if (run.level + 1 == levels)
            continue;
        for (std::size_t i = run.begin; i < run.end;) {
            std::size_t j = i + 1;
            while (j < run.end && same(order[j], order[i]))
                ++j;
            if (j - i > 1)
                runs.push_back({i, j, run.level + 1});
            i = j;
        }
    }
    return order;
}

void SortRows(std::vector<ComparisonRow>& rows, int sortKey, bool ascending) {
    if (sortKey < kNameColumn || sortKey > kSizeColumn)
        return;
    // The rows are moved round the cycles of the order in place: a second
    // vector of a million rows would double the memory the rows take.
    std::vector<std::uint32_t> order = SortedRowOrder(rows, sortKey, ascending);
    for (std::uint32_t start = 0; start < order.size(); ++start) {
        if (order[start] == start)
            continue; // in place, or moved already
        ComparisonRow first = std::move(rows[start]);
        std::uint32_t at = start;
        for (;;) {
            const std::uint32_t from = order[at];
            order[at] = at;
            if (from == start) {
                rows[at] = std::move(first);
                break;
            }
            rows[at] = std::move(rows[from]);
            at = from;
        }
    }
}

namespace {

// Items are sorted by their 64-bit keys with a radix sort (stable, a byte a
// pass, bytes that are the same in every key skipped); few items by
// insertion or by comparison.
constexpr std::size_t kInsertionItems = 32;
constexpr std::size_t kComparisonItems = 256;

// Room for items that are written before they are read: a million of them
// are not cleared first.
template <class Item> class Scratch {
public:
    Item* Room(std::size_t count) {
        if (size_ < count) {
            items_ = std::make_unique_for_overwrite<Item[]>(count);
            size_ = count;
        }
        return items_.get();
    }

private:
    std::unique_ptr<Item[]> items_;
    std::size_t size_ = 0;
};

// Returns true when the sorted items are left in `buffer` rather than
// copied back (only where `copyBack` is false).
template <class Item>
bool RadixSortByKey(std::span<Item> items, Scratch<Item>& buffer, bool copyBack = true) {
    const std::size_t count = items.size();
    if (count < 2)
        return false;
    std::array<std::array<std::uint32_t, 256>, 8> counts{};
    for (const Item& item : items)
        for (std::size_t byte = 0; byte < 8; ++byte)
            ++counts[byte][(item.key >> (8 * byte)) & 0xFFu];
    Item* from = items.data();
    Item* to = buffer.Room(count);
    for (std::size_t byte = 0; byte < 8; ++byte) {
        std::array<std::uint32_t, 256>& at = counts[byte];
        if (at[(from[0].key >> (8 * byte)) & 0xFFu] == count)
            continue; // the same in every key
        std::uint32_t sum = 0;
        for (std::uint32_t& n : at) {
            const std::uint32_t here = n;
            n = sum;
            sum += here;
        }
        for (std::size_t i = 0; i < count; ++i)
            to[at[(from[i].key >> (8 * byte)) & 0xFFu]++] = from[i];
        std::swap(from, to);
    }
    if (from == items.data())
        return false;
    if (!copyBack)
        return true;
    std::copy(from, from + count, items.data());
    return false;
}

template <class Item> void StableSortByKey(std::span<Item> items, Scratch<Item>& buffer) {
    if (items.size() <= kInsertionItems) {
        for (std::size_t i = 1; i < items.size(); ++i) {
            const Item item = items[i];
            std::size_t at = i;
            for (; at > 0 && items[at - 1].key > item.key; --at)
                items[at] = items[at - 1];
            items[at] = item;
        }
    } else if (items.size() <= kComparisonItems) {
        std::stable_sort(items.begin(), items.end(),
                         [](const Item& a, const Item& b) { return a.key < b.key; });
    } else {
        RadixSortByKey(items, buffer);
    }
}

// A text to rank: its key at the depth being sorted, and the text (folded
// when it holds more than ASCII).
struct TextItem {
    std::uint64_t key;
    const char* text;
    std::uint32_t length;
    std::uint32_t index;
};

// Lower-cases the ASCII letters among eight bytes; other bytes stay.
std::uint64_t LowerAscii(std::uint64_t bytes) {
    constexpr std::uint64_t kHigh = 0x8080808080808080u;
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    const std::uint64_t low = bytes & ~kHigh;
    const std::uint64_t atLeastA = (low + kOnes * (0x80 - 'A')) & kHigh;
    const std::uint64_t pastZ = (low + kOnes * (0x80 - 'Z' - 1)) & kHigh;
    return bytes | ((atLeastA & ~pastZ & ~bytes) >> 2);
}

// The key of a text at `offset`: its next seven bytes, lower-cased, in the
// top seven bytes (missing ones as zeros), and how many bytes are left from
// `offset` (at most 8) in the lowest. Keys compare as the texts do as far as
// they reach; equal keys with fewer than 8 left mean equal texts, equal keys
// with 8 left are told apart at the next offset.
std::uint64_t ChunkKey(const char* text, std::size_t length, std::size_t offset) {
    const std::size_t left = length - offset;
    std::uint64_t bytes = 0;
    if (left >= 8) {
        std::memcpy(&bytes, text + offset, 8);
        if constexpr (std::endian::native == std::endian::little)
            bytes = std::byteswap(bytes);
        bytes &= ~std::uint64_t{0xFF};
    } else {
        for (std::size_t i = 0; i < left; ++i)
            bytes |= std::uint64_t{static_cast<unsigned char>(text[offset + i])} << (56 - 8 * i);
    }
    return LowerAscii(bytes) | std::min<std::size_t>(left, 8);
}

constexpr std::size_t kChunkBytes = 7;
constexpr std::uint64_t kTextGoesOn = 8;
constexpr std::uint64_t kLeftBits = 0x7F;

// The first key of a text in group 0 or 1: the group first, then the bytes
// and what is left of ChunkKey, one bit lower.
std::uint64_t FirstKey(const char* text, std::size_t length, int group) {
    const std::uint64_t key = ChunkKey(text, length, 0);
    return static_cast<std::uint64_t>(group) << 63 | (key & ~std::uint64_t{0xFF}) >> 1 |
           (key & kLeftBits);
}

bool IsAscii(std::string_view text) {
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t bytes;
        std::memcpy(&bytes, text.data() + i, 8);
        if ((bytes & 0x8080808080808080u) != 0)
            return false;
    }
    for (; i < text.size(); ++i)
        if (static_cast<unsigned char>(text[i]) >= 0x80)
            return false;
    return true;
}

} // namespace

namespace {

// `groupAt(i)` (0 or 1) puts text i among the texts of its group, all of
// group 0 first.
template <class TextAt, class GroupAt>
std::vector<std::uint32_t> RankTexts(std::size_t count, const TextAt& textAt,
                                     const GroupAt& groupAt, std::uint32_t* distinct) {
    std::vector<std::uint32_t> ranks(count);
    if (distinct != nullptr)
        *distinct = 0;
    if (count == 0)
        return ranks;

    // Plain ASCII texts are folded as their keys are taken; the others are
    // folded first, as folding may change their length. Byte order of folded
    // UTF-8 is code point order, the order CompareIgnoreCase gives.
    Scratch<TextItem> itemRoom;
    Scratch<TextItem> buffer;
    std::span<TextItem> items(itemRoom.Room(count), count);
    std::string folded;
    struct Folded {
        std::uint32_t item;
        int group;
        std::size_t start;
    };
    std::vector<Folded> foldedAt;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view text = textAt(i);
        TextItem& item = items[i];
        item.index = static_cast<std::uint32_t>(i);
        if (IsAscii(text)) {
            item.text = text.data();
            item.length = static_cast<std::uint32_t>(text.size());
            item.key = FirstKey(item.text, item.length, groupAt(i, text));
        } else {
            foldedAt.push_back({static_cast<std::uint32_t>(i), groupAt(i, text), folded.size()});
            folded += FoldCase(text);
            item.length = static_cast<std::uint32_t>(folded.size() - foldedAt.back().start);
        }
    }
    for (const Folded& at : foldedAt) {
        TextItem& item = items[at.item];
        item.text = folded.data() + at.start;
        item.key = FirstKey(item.text, item.length, at.group);
    }

    const bool inBuffer = RadixSortByKey(items, buffer, false);
    if (inBuffer)
        items = std::span(buffer.Room(count), count);

    // Where a new text begins in the sorted items, and the runs of items
    // whose keys tie so far while their texts go on.
    std::vector<std::uint8_t> starts(count, 0);
    starts[0] = 1;
    struct Run {
        std::size_t begin, end, depth;
    };
    std::vector<Run> runs;
    auto split = [&](std::size_t begin, std::size_t end, std::size_t depth) {
        for (std::size_t i = begin; i < end;) {
            std::size_t j = i + 1;
            while (j < end && items[j].key == items[i].key)
                ++j;
            if (i != begin)
                starts[i] = 1;
            if (j - i > 1 && (items[i].key & kLeftBits) == kTextGoesOn)
                runs.push_back({i, j, depth + 1});
            i = j;
        }
    };
    split(0, count, 0);
    // The runs are sorted through the room the items do not lie in.
    Scratch<TextItem>& other = inBuffer ? itemRoom : buffer;
    while (!runs.empty()) {
        const Run run = runs.back();
        runs.pop_back();
        const std::size_t offset = run.depth * kChunkBytes;
        for (std::size_t i = run.begin; i < run.end; ++i) {
            // The texts lie anywhere: ask for the ones a few items on early.
            if (i + 8 < run.end)
                __builtin_prefetch(items[i + 8].text + offset);
            items[i].key = ChunkKey(items[i].text, items[i].length, offset);
        }
        const std::span<TextItem> part = items.subspan(run.begin, run.end - run.begin);
        if (part.size() <= kComparisonItems)
            std::sort(part.begin(), part.end(),
                      [](const TextItem& a, const TextItem& b) { return a.key < b.key; });
        else
            RadixSortByKey(part, other);
        split(run.begin, run.end, run.depth);
    }

    std::uint32_t rank = 0;
    for (std::size_t i = 0; i < count; ++i) {
        rank += starts[i];
        ranks[items[i].index] = rank - 1;
    }
    if (distinct != nullptr)
        *distinct = rank;
    return ranks;
}

} // namespace

constexpr auto kOneGroup = [](std::size_t, std::string_view) { return 0; };

std::vector<std::uint32_t> FoldedTextRanks(std::span<const std::string_view> texts,
                                           std::uint32_t* distinct) {
    return RankTexts(
        texts.size(), [&](std::size_t i) { return texts[i]; }, kOneGroup, distinct);
}

std::vector<std::uint32_t>
FoldedTextRanks(std::size_t count, const std::function<std::string_view(std::size_t)>& textAt,
                std::uint32_t* distinct) {
    return RankTexts(count, textAt, kOneGroup, distinct);
}

std::vector<std::uint32_t>
NameSortRanks(std::size_t count, const std::function<std::string_view(std::size_t)>& nameAt) {
    // Files in sub-folders have no root marker, which sorts first.
    return RankTexts(
        count, nameAt,
        [](std::size_t, std::string_view name) {
            return name.find('/') == std::string_view::npos ? 1 : 0;
        },
        nullptr);
}

std::vector<std::uint32_t> SortedRowOrder(const RowStore& store, std::vector<std::uint32_t> order,
                                          int sortKey, bool ascending) {
    if (order.empty()) {
        order.resize(store.size());
        std::iota(order.begin(), order.end(), 0u);
    }
    if (sortKey < kNameColumn || sortKey > kSizeColumn || order.size() < 2)
        return order;

    // The columns of CompareRowsForSort: the key, then each one to its right
    // up to the filler, which never breaks a tie. For the Name key the store
    // ranks the root marker and the name together. The ids are sorted by the
    // first column, then each run of ids equal so far by the next one; each
    // sort is stable, so rows equal in every column keep their order.
    const int levels = kFillerColumn - sortKey;
    struct KeyedId {
        std::uint64_t key;
        std::uint32_t id;
    };
    Scratch<std::uint64_t> keyRoom;
    Scratch<KeyedId> itemRoom;
    Scratch<KeyedId> buffer;
    struct Run {
        std::size_t begin, end;
        int level;
    };
    std::vector<Run> runs{{0, order.size(), 0}};
    while (!runs.empty()) {
        const Run run = runs.back();
        runs.pop_back();
        const std::size_t count = run.end - run.begin;
        const std::span<std::uint32_t> ids(order.data() + run.begin, count);
        const std::span<KeyedId> items(itemRoom.Room(count), count);
        const std::uint64_t flip = ascending ? 0 : ~std::uint64_t{0};
        if (count == store.size()) {
            // Every row: their keys are taken in the order the rows are held,
            // which reads the store from front to back, and then picked.
            const std::span<std::uint64_t> keyOfId(keyRoom.Room(count), count);
            store.SortKeys(sortKey + run.level, keyOfId);
            for (std::size_t i = 0; i < count; ++i) {
                if (i + 16 < count)
                    __builtin_prefetch(&keyOfId[ids[i + 16]]);
                items[i] = {keyOfId[ids[i]] ^ flip, ids[i]};
            }
        } else {
            const std::span<std::uint64_t> keys(keyRoom.Room(count), count);
            store.SortKeys(sortKey + run.level, ids, keys);
            for (std::size_t i = 0; i < count; ++i)
                items[i] = {keys[i] ^ flip, ids[i]};
        }
        if (std::all_of(items.begin(), items.end(),
                        [&](const KeyedId& item) { return item.key == items[0].key; })) {
            // All alike in this column: the next one decides.
            if (run.level + 1 < levels)
                runs.push_back({run.begin, run.end, run.level + 1});
            continue;
        }
        StableSortByKey(items, buffer);
        for (std::size_t i = 0; i < count; ++i)
            ids[i] = items[i].id;
        if (run.level + 1 == levels)
            continue;
        for (std::size_t i = 0; i < count;) {
            std::size_t j = i + 1;
            while (j < count && items[j].key == items[i].key)
                ++j;
            if (j - i > 1)
                runs.push_back({run.begin + i, run.begin + j, run.level + 1});
            i = j;
        }
    }
    return order;
}

} // namespace sorvane
