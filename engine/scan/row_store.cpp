#include "engine/scan/row_store.h"

#include "engine/text/text_utils.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <functional>

namespace sorvane {

namespace {

// Short texts share blocks, the first of a few KiB, each next one twice as
// large up to the largest size; a text of more than a quarter of that gets a
// block of its own.
constexpr std::size_t kFirstBlockBytes = std::size_t{1} << 12;
constexpr std::size_t kBlockBytes = std::size_t{1} << 18;

std::size_t LengthBytes(std::size_t length) {
    std::size_t bytes = 1;
    for (; length >= 0x80; length >>= 7)
        ++bytes;
    return bytes;
}

char* PutLength(char* at, std::size_t length) {
    for (; length >= 0x80; length >>= 7)
        *at++ = static_cast<char>((length & 0x7Fu) | 0x80u);
    *at++ = static_cast<char>(length);
    return at;
}

std::uint32_t HashTop(std::string_view text) {
    return static_cast<std::uint32_t>(std::hash<std::string_view>{}(text) >> 32);
}

// How many ids ahead the loops over ids in any order ask for what they read.
constexpr std::size_t kAhead = 16;

// Sizes from 0 to 10^17 - 1 compare as their decimal digits do when the
// digits, padded with zeros to 17, come first and their count second.
constexpr std::int64_t kSizeKeyLimit = 100'000'000'000'000'000;

std::uint64_t SizeTextKey(std::int64_t size) {
    auto value = static_cast<std::uint64_t>(size);
    int digits = 1;
    for (std::uint64_t rest = value; rest >= 10; rest /= 10)
        ++digits;
    for (int pad = digits; pad < 17; ++pad)
        value *= 10;
    return value << 5 | static_cast<std::uint64_t>(digits);
}

} // namespace

TextArena::Place TextArena::Add(std::string_view text) {
    const std::size_t needed = LengthBytes(text.size()) + text.size();
    std::size_t block;
    std::size_t offset;
    if (needed > kBlockBytes / 4) {
        block = blocks_.size();
        offset = 0;
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(needed));
    } else {
        if (room_ == 0 || used_ + needed > room_) {
            const std::size_t room =
                std::max(needed, room_ == 0 ? kFirstBlockBytes : std::min(room_ * 2, kBlockBytes));
            blocks_.push_back(std::make_unique_for_overwrite<char[]>(room));
            filling_ = blocks_.size() - 1;
            used_ = 0;
            room_ = room;
        }
        block = filling_;
        offset = used_;
        used_ += needed;
    }
    char* at = PutLength(blocks_[block].get() + offset, text.size());
    if (!text.empty())
        std::memcpy(at, text.data(), text.size());
    return static_cast<Place>(block) << 32 | static_cast<Place>(offset);
}

void TextArena::Clear() {
    blocks_.clear();
    blocks_.shrink_to_fit();
    filling_ = used_ = room_ = 0;
}

TextPool::TextPool() {
    Clear();
}

void TextPool::Clear() {
    arena_.Clear();
    places_.clear();
    places_.shrink_to_fit();
    for (Part& part : parts_)
        part = {};
    places_.push_back(arena_.Add({}));
    Insert(parts_[HashTop({}) >> (32 - kPartBits)],
           static_cast<std::uint64_t>(HashTop({})) << 32 | 1u);
}

std::uint32_t TextPool::Intern(std::string_view text) {
    const std::uint32_t top = HashTop(text);
    Part& part = parts_[top >> (32 - kPartBits)];
    if (!part.cells.empty()) {
        const std::size_t mask = part.cells.size() - 1;
        for (std::size_t at = static_cast<std::uint32_t>(top << kPartBits) >> (32 - part.bits);;
             at = (at + 1) & mask) {
            const std::uint64_t cell = part.cells[at];
            if (cell == 0)
                break;
            if (static_cast<std::uint32_t>(cell >> 32) == top) {
                const auto id = static_cast<std::uint32_t>(cell) - 1;
                if (Text(id) == text)
                    return id;
            }
        }
    }
    const auto id = static_cast<std::uint32_t>(places_.size());
    places_.push_back(arena_.Add(text));
    Insert(part, static_cast<std::uint64_t>(top) << 32 | (id + 1u));
    return id;
}

void TextPool::Insert(Part& part, std::uint64_t cell) {
    if ((part.taken + 1) * 2 > part.cells.size())
        Grow(part);
    const std::size_t mask = part.cells.size() - 1;
    const auto top = static_cast<std::uint32_t>(cell >> 32);
    std::size_t at = static_cast<std::uint32_t>(top << kPartBits) >> (32 - part.bits);
    while (part.cells[at] != 0)
        at = (at + 1) & mask;
    part.cells[at] = cell;
    ++part.taken;
}

void TextPool::Grow(Part& part) {
    Part larger;
    larger.bits = part.bits == 0 ? 2 : part.bits + 1;
    larger.cells.assign(std::size_t{1} << larger.bits, 0);
    for (const std::uint64_t cell : part.cells)
        if (cell != 0)
            Insert(larger, cell);
    part = std::move(larger);
}

RowStore::RowStore() : devices_{0} {}

bool RowStore::IsPooled(int column) {
    return column >= 0 && column < kGridColumnCount &&
           kSlotOfColumn[static_cast<std::size_t>(column)] >= 0;
}

void RowStore::Clear() {
    rows_.clear();
    rows_.shrink_to_fit();
    names_.Clear();
    for (TextPool& pool : pools_)
        pool.Clear();
    stampNumbers_.clear();
    stampNumbers_.shrink_to_fit();
    assemblyVersions_.clear();
    assemblyVersions_.shrink_to_fit();
    sourceHashes_.clear();
    sourceHashes_.shrink_to_fit();
    hasSourceHash_.clear();
    hasSourceHash_.shrink_to_fit();
    devices_.assign(1, 0); // rows without numbers stand on device 0
    nameRanks_.clear();
    nameRanks_.shrink_to_fit();
    for (auto& ranks : poolRanks_) {
        ranks.clear();
        ranks.shrink_to_fit();
    }
    lastText_.fill(0);
}

void RowStore::Reserve(std::size_t count) {
    rows_.reserve(count);
    if (!stampNumbers_.empty())
        stampNumbers_.reserve(count);
    if (!assemblyVersions_.empty())
        assemblyVersions_.reserve(count);
    if (!sourceHashes_.empty()) {
        sourceHashes_.reserve(count);
        hasSourceHash_.reserve(count);
    }
}

std::uint32_t RowStore::Append(const ComparisonRow& row) {
    Packed packed;
    packed.name = names_.Add(row.Name);
    packed.size = row.SourceSize;
    packed.mark = row.Mark;
    packed.busy = row.Busy;
    const std::array<const std::string*, kSlots> texts = {
        &row.Ext,           &row.SourceLanguage, &row.SourceVersion,
        &row.TargetVersion, &row.TargetLanguage, &row.Description,
        &row.Copyright};
    static constexpr std::array<int, kSlots> kPoolOfSlot = {0, 1, 2, 2, 1, 3, 4};
    for (std::size_t slot = 0; slot < kSlots; ++slot) {
        TextPool& pool = pools_[static_cast<std::size_t>(kPoolOfSlot[slot])];
        std::uint32_t& last = lastText_[slot];
        if (pool.Text(last) != *texts[slot])
            last = pool.Intern(*texts[slot]);
        packed.text[slot] = last;
    }
    const auto id = static_cast<std::uint32_t>(rows_.size());
    rows_.push_back(packed);
    if (!stampNumbers_.empty())
        stampNumbers_.emplace_back();
    SetStamp(id, 0, row.SourceStamp);
    SetStamp(id, 1, row.TargetStamp);
    // The side tables start at the first row that has what they hold, and
    // then keep a place for every row.
    if (!assemblyVersions_.empty() || !row.SourceAssemblyVersion.empty() ||
        !row.TargetAssemblyVersion.empty()) {
        if (assemblyVersions_.empty())
            assemblyVersions_.reserve(rows_.capacity());
        assemblyVersions_.resize(rows_.size());
        assemblyVersions_[id] = {pools_[2].Intern(row.SourceAssemblyVersion),
                                 pools_[2].Intern(row.TargetAssemblyVersion)};
    }
    if (!sourceHashes_.empty() || row.SourceHash) {
        if (sourceHashes_.empty()) {
            sourceHashes_.reserve(rows_.capacity());
            hasSourceHash_.reserve(rows_.capacity());
        }
        sourceHashes_.resize(rows_.size());
        hasSourceHash_.resize(rows_.size());
        sourceHashes_[id] = row.SourceHash.value_or(ContentHash{});
        hasSourceHash_[id] = row.SourceHash.has_value();
    }
    return id;
}

void RowStore::SetStamp(std::uint32_t id, int side, const FileStamp& stamp) {
    const auto at = static_cast<std::size_t>(side);
    rows_[id].stampStates[at] = stamp.state;
    const bool numbers =
        stamp.device != 0 || stamp.inode != 0 || stamp.size != 0 || stamp.modifiedNs != 0;
    if (!numbers && stampNumbers_.empty())
        return;
    if (stampNumbers_.empty()) {
        stampNumbers_.reserve(rows_.capacity());
        stampNumbers_.resize(rows_.size());
    }
    StampNumbers& held = stampNumbers_[id];
    held.inode[at] = stamp.inode;
    held.size[at] = stamp.size;
    held.modifiedNs[at] = stamp.modifiedNs;
    // A scan meets few devices: the last one, mostly.
    auto device = std::find(devices_.rbegin(), devices_.rend(), stamp.device);
    if (device == devices_.rend()) {
        devices_.push_back(stamp.device);
        device = devices_.rbegin();
    }
    held.device[at] = static_cast<std::uint32_t>(devices_.rend() - device - 1);
}

void RowStore::Read(std::uint32_t id, ComparisonRow& row) const {
    const Packed& packed = rows_[id];
    row.Name.assign(names_.Text(packed.name));
    row.Ext.assign(pools_[0].Text(packed.text[0]));
    row.SourceLanguage.assign(pools_[1].Text(packed.text[1]));
    row.SourceVersion.assign(pools_[2].Text(packed.text[2]));
    row.Mark = packed.mark;
    row.TargetVersion.assign(pools_[2].Text(packed.text[3]));
    row.TargetLanguage.assign(pools_[1].Text(packed.text[4]));
    row.Busy = packed.busy;
    row.Description.assign(pools_[3].Text(packed.text[5]));
    row.Copyright.assign(pools_[4].Text(packed.text[6]));
    row.SourceSize = packed.size;
    std::array<FileStamp*, 2> stamps = {&row.SourceStamp, &row.TargetStamp};
    for (std::size_t side = 0; side < 2; ++side) {
        FileStamp& stamp = *stamps[side];
        stamp = {};
        stamp.state = packed.stampStates[side];
        if (id < stampNumbers_.size()) {
            const StampNumbers& held = stampNumbers_[id];
            stamp.device = devices_[held.device[side]];
            stamp.inode = held.inode[side];
            stamp.size = held.size[side];
            stamp.modifiedNs = held.modifiedNs[side];
        }
    }
    if (id < assemblyVersions_.size()) {
        row.SourceAssemblyVersion.assign(pools_[2].Text(assemblyVersions_[id][0]));
        row.TargetAssemblyVersion.assign(pools_[2].Text(assemblyVersions_[id][1]));
    } else {
        row.SourceAssemblyVersion.clear();
        row.TargetAssemblyVersion.clear();
    }
    if (id < sourceHashes_.size() && hasSourceHash_[id])
        row.SourceHash = sourceHashes_[id];
    else
        row.SourceHash.reset();
}

ComparisonRow RowStore::Row(std::uint32_t id) const {
    ComparisonRow row;
    Read(id, row);
    return row;
}

std::string_view RowStore::Text(std::uint32_t id, int column, std::string& scratch) const {
    const Packed& packed = rows_[id];
    switch (column) {
    case kRootColumn:
        return names_.Text(packed.name).find('/') == std::string_view::npos ? "." : "";
    case kNameColumn:
        return names_.Text(packed.name);
    case kMarkColumn:
        return MarkText(packed.mark);
    case kBusyColumn:
        return packed.busy ? "*" : "";
    case kSizeColumn: {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, packed.size).ptr;
        scratch.assign(digits, end);
        return scratch;
    }
    default:
        if (!IsPooled(column))
            return {};
        return PoolOf(column).Text(TextId(id, column));
    }
}

void RowStore::UpdateTarget(std::uint32_t id, ComparisonMark mark, std::string_view targetVersion,
                            std::string_view targetLanguage, const FileStamp& targetStamp) {
    Packed& packed = rows_[id];
    packed.mark = mark;
    packed.text[static_cast<std::size_t>(kSlotOfColumn[kTargetVersionColumn])] =
        pools_[static_cast<std::size_t>(kPoolOfColumn[kTargetVersionColumn])].Intern(targetVersion);
    packed.text[static_cast<std::size_t>(kSlotOfColumn[kTargetLanguageColumn])] =
        pools_[static_cast<std::size_t>(kPoolOfColumn[kTargetLanguageColumn])].Intern(
            targetLanguage);
    SetStamp(id, 1, targetStamp);
    if (id < assemblyVersions_.size())
        assemblyVersions_[id][1] = assemblyVersions_[id][0];
}

std::vector<std::uint32_t> RowStore::SameNames(std::uint32_t id) const {
    std::vector<std::uint32_t> same;
    if (nameRanks_.size() == rows_.size()) {
        const std::uint32_t rank = nameRanks_[id];
        for (std::uint32_t other = 0; other < rows_.size(); ++other)
            if (nameRanks_[other] == rank)
                same.push_back(other);
        return same;
    }
    const std::string_view name = Name(id);
    // A name of plain ASCII folds to as many characters; a name equal to it
    // has at least as many bytes, and exactly as many unless it holds more
    // than ASCII.
    const bool ascii = std::all_of(name.begin(), name.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    for (std::uint32_t other = 0; other < rows_.size(); ++other) {
        const std::string_view candidate = Name(other);
        if (ascii && candidate.size() < name.size())
            continue;
        if (EqualsIgnoreCase(candidate, name))
            same.push_back(other);
    }
    return same;
}

const std::vector<std::uint32_t>& RowStore::NameRanks() const {
    if (nameRanks_.size() != rows_.size())
        nameRanks_ = NameSortRanks(
            rows_.size(), [&](std::size_t id) { return Name(static_cast<std::uint32_t>(id)); });
    return nameRanks_;
}

const std::vector<std::uint32_t>& RowStore::PoolRanks(int pool) const {
    const TextPool& texts = pools_[static_cast<std::size_t>(pool)];
    std::vector<std::uint32_t>& ranks = poolRanks_[static_cast<std::size_t>(pool)];
    if (ranks.size() != texts.size())
        ranks = FoldedTextRanks(texts.size(), [&](std::size_t id) {
            return texts.Text(static_cast<std::uint32_t>(id));
        });
    return ranks;
}

template <class IdAt>
void RowStore::FillSortKeys(int column, std::size_t count, const IdAt& ids,
                            std::span<std::uint64_t> keys) const {
    switch (column) {
    case kRootColumn:
        for (std::size_t i = 0; i < count; ++i)
            keys[i] = Name(ids[i]).find('/') == std::string_view::npos ? 1 : 0;
        return;
    case kNameColumn: {
        const std::vector<std::uint32_t>& ranks = NameRanks();
        for (std::size_t i = 0; i < count; ++i) {
            if (i + kAhead < count)
                __builtin_prefetch(&ranks[ids[i + kAhead]]);
            keys[i] = ranks[ids[i]];
        }
        return;
    }
    case kMarkColumn: {
        // The marks' texts are a character each, none of them a letter.
        std::array<std::uint64_t, 256> keyOfMark{};
        for (int mark = 0; mark < 256; ++mark) {
            const std::string_view text = MarkText(static_cast<ComparisonMark>(mark));
            keyOfMark[static_cast<std::size_t>(mark)] =
                text.empty() ? 0 : 1u + static_cast<unsigned char>(text[0]);
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (i + kAhead < count)
                __builtin_prefetch(&rows_[ids[i + kAhead]]);
            keys[i] = keyOfMark[static_cast<unsigned char>(rows_[ids[i]].mark)];
        }
        return;
    }
    case kBusyColumn:
        for (std::size_t i = 0; i < count; ++i) {
            if (i + kAhead < count)
                __builtin_prefetch(&rows_[ids[i + kAhead]]);
            keys[i] = rows_[ids[i]].busy ? 1 : 0;
        }
        return;
    case kSizeColumn: {
        bool plain = true;
        for (std::size_t i = 0; i < count && plain; ++i)
            plain = rows_[ids[i]].size >= 0 && rows_[ids[i]].size < kSizeKeyLimit;
        if (plain) {
            for (std::size_t i = 0; i < count; ++i) {
                if (i + kAhead < count)
                    __builtin_prefetch(&rows_[ids[i + kAhead]]);
                keys[i] = SizeTextKey(rows_[ids[i]].size);
            }
            return;
        }
        // A negative size (only a Source Map can hold one) or one of 18 or
        // more digits: ranked by the texts themselves.
        std::string digits;
        std::vector<std::size_t> ends;
        ends.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            char buffer[24];
            const auto end = std::to_chars(buffer, buffer + sizeof buffer, rows_[ids[i]].size).ptr;
            digits.append(buffer, end);
            ends.push_back(digits.size());
        }
        std::vector<std::string_view> texts(count);
        for (std::size_t i = 0, begin = 0; i < count; begin = ends[i++])
            texts[i] = std::string_view(digits).substr(begin, ends[i] - begin);
        const std::vector<std::uint32_t> ranks = FoldedTextRanks(texts);
        std::copy(ranks.begin(), ranks.end(), keys.begin());
        return;
    }
    default:
        break;
    }
    if (!IsPooled(column)) {
        std::fill(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(count), 0);
        return;
    }
    const std::vector<std::uint32_t>& ranks =
        PoolRanks(kPoolOfColumn[static_cast<std::size_t>(column)]);
    const std::size_t slot =
        static_cast<std::size_t>(kSlotOfColumn[static_cast<std::size_t>(column)]);
    for (std::size_t i = 0; i < count; ++i) {
        // Two steps: the row, then the rank of its text.
        if (i + 2 * kAhead < count)
            __builtin_prefetch(&rows_[ids[i + 2 * kAhead]]);
        if (i + kAhead < count)
            __builtin_prefetch(&ranks[rows_[ids[i + kAhead]].text[slot]]);
        keys[i] = ranks[rows_[ids[i]].text[slot]];
    }
}

void RowStore::SortKeys(int column, std::span<const std::uint32_t> ids,
                        std::span<std::uint64_t> keys) const {
    FillSortKeys(column, std::min(ids.size(), keys.size()), ids, keys);
}

void RowStore::SortKeys(int column, std::span<std::uint64_t> keys) const {
    // Read front to back: nothing to ask for ahead of time.
    struct EveryId {
        std::uint32_t operator[](std::size_t i) const { return static_cast<std::uint32_t>(i); }
    };
    FillSortKeys(column, std::min(keys.size(), rows_.size()), EveryId{}, keys);
}

} // namespace sorvane
