#pragma once
// Result rows held compactly, as a grid of a million rows needs them: the
// texts that repeat (extensions, languages, versions, descriptions,
// copyrights) once per column in a pool, each row holding a 32-bit id of
// its text; the names end to end in blocks that never move; marks, Busy and
// sizes beside the ids. Rows keep the place they were added in; an order of
// them is a list of ids.

#include "engine/scan/comparison.h"
#include "engine/scan/row_sort.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sorvane {

/// Texts end to end in blocks that never move: each text is found again by
/// the place Add gave it. Nothing is ever removed but all at once.
class TextArena {
public:
    using Place = std::uint64_t;

    Place Add(std::string_view text);
    std::string_view Text(Place place) const {
        const char* at = blocks_[static_cast<std::size_t>(place >> 32)].get() +
                         static_cast<std::size_t>(place & 0xFFFFFFFFu);
        // The length comes first, seven bits a byte, lowest first.
        std::size_t length = 0;
        for (int shift = 0;; shift += 7) {
            const auto byte = static_cast<unsigned char>(*at++);
            length |= static_cast<std::size_t>(byte & 0x7Fu) << shift;
            if ((byte & 0x80u) == 0)
                break;
        }
        return {at, length};
    }
    void Clear();

private:
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::size_t filling_ = 0; ///< the block short texts go to
    std::size_t used_ = 0;    ///< bytes used of that block
    std::size_t room_ = 0;    ///< its size; 0 before the first
};

/// Distinct texts, each held once under a 32-bit id given in the order the
/// texts came in. The empty text is always id 0.
class TextPool {
public:
    TextPool();

    /// The id of `text`, added when the pool does not hold it yet (texts
    /// are told apart byte for byte).
    std::uint32_t Intern(std::string_view text);
    std::string_view Text(std::uint32_t id) const { return arena_.Text(places_[id]); }
    std::uint32_t size() const { return static_cast<std::uint32_t>(places_.size()); }
    /// Only the empty text stays.
    void Clear();

private:
    // The texts' table is cut into parts by the top bits of their hashes, so
    // that a part that fills up is moved to a larger one alone: growing
    // never holds up the window for long, however many texts there are.
    static constexpr int kPartBits = 6;
    // Open addressing: the top 32 bits of a text's hash, then its id + 1;
    // 0 is a free cell. At most half the cells of a part are taken.
    struct Part {
        std::vector<std::uint64_t> cells;
        int bits = 0;
        std::size_t taken = 0;
    };
    static void Insert(Part& part, std::uint64_t cell);
    static void Grow(Part& part);

    TextArena arena_;
    std::vector<TextArena::Place> places_;
    std::array<Part, std::size_t{1} << kPartBits> parts_;
};

/// Rows held compactly, by id: the place each row was added in.
class RowStore {
public:
    RowStore();

    std::size_t size() const { return rows_.size(); }
    bool empty() const { return rows_.empty(); }
    /// Removes every row and gives back the memory.
    void Clear();
    /// Room for `count` rows in all, so that appending up to that many never
    /// moves the rows held. Throws as std::vector::reserve does.
    void Reserve(std::size_t count);
    /// Where the rows are held: the same address as long as they are not moved.
    const void* Storage() const { return rows_.data(); }

    /// Appends `row` and returns its id.
    std::uint32_t Append(const ComparisonRow& row);
    /// Writes row `id` into `row`, reusing the storage its texts hold.
    void Read(std::uint32_t id, ComparisonRow& row) const;
    ComparisonRow Row(std::uint32_t id) const;

    std::string_view Name(std::uint32_t id) const { return names_.Text(rows_[id].name); }
    ComparisonMark Mark(std::uint32_t id) const { return rows_[id].mark; }
    bool Busy(std::uint32_t id) const { return rows_[id].busy; }
    /// The text row `id` shows in `column`, as ColumnView gives it; the size
    /// column's digits are written into `scratch`.
    std::string_view Text(std::uint32_t id, int column, std::string& scratch) const;

    /// Replaces the mark and the target's version, language and stamp of
    /// row `id` (after a copy). The target is the source's file then, so its
    /// assembly version becomes the source's.
    void UpdateTarget(std::uint32_t id, ComparisonMark mark, std::string_view targetVersion,
                      std::string_view targetLanguage, const FileStamp& targetStamp);

    /// The ids, in rising order, of the rows whose names equal row `id`'s
    /// without regard to case (row `id` among them).
    std::vector<std::uint32_t> SameNames(std::uint32_t id) const;

    /// Whether `column` (1 to 10) is held as ids into a pool, and which.
    static bool IsPooled(int column);
    const TextPool& PoolOf(int column) const { return pools_[kPoolOfColumn[column]]; }
    /// The id of the text row `id` holds in pooled `column`.
    std::uint32_t TextId(std::uint32_t id, int column) const {
        return rows_[id].text[kSlotOfColumn[column]];
    }

    /// For a sort by `column` (0 to 11; 1 stands for the root marker and the
    /// name together): a key for each row of `ids` such that keys compare as
    /// the rows' texts in the column do, without regard to case; equal keys
    /// for texts equal without regard to case. The ranks it needs are worked
    /// out once and kept until rows or texts are added.
    void SortKeys(int column, std::span<const std::uint32_t> ids,
                  std::span<std::uint64_t> keys) const;
    /// The same for every row, key i for id i (`keys` holds size() keys).
    void SortKeys(int column, std::span<std::uint64_t> keys) const;

private:
    // The pooled columns: Ext, the languages, the versions, Description and
    // Copyright. Source and target share the pools of languages and versions.
    static constexpr int kSlots = 7;
    static constexpr int kPools = 5;
    static constexpr std::array<int, kGridColumnCount> kSlotOfColumn = {-1, -1, 0, 1, 2,  -1, 3,
                                                                        4,  -1, 5, 6, -1, -1};
    static constexpr std::array<int, kGridColumnCount> kPoolOfColumn = {-1, -1, 0, 1, 2,  -1, 2,
                                                                        1,  -1, 3, 4, -1, -1};

    struct Packed {
        TextArena::Place name = 0;
        std::int64_t size = 0;
        std::array<std::uint32_t, kSlots> text{};
        ComparisonMark mark = ComparisonMark::None;
        bool busy = false;
        std::array<FileStamp::State, 2> stampStates{}; ///< source, target
    };
    // What a stamp holds besides its state, the device as a place in devices_.
    struct StampNumbers {
        std::array<std::uint64_t, 2> inode{};
        std::array<std::int64_t, 2> size{};
        std::array<std::int64_t, 2> modifiedNs{};
        std::array<std::uint32_t, 2> device{};
    };

    void SetStamp(std::uint32_t id, int side, const FileStamp& stamp);

    template <class IdAt>
    void FillSortKeys(int column, std::size_t count, const IdAt& idAt,
                      std::span<std::uint64_t> keys) const;
    const std::vector<std::uint32_t>& NameRanks() const;
    const std::vector<std::uint32_t>& PoolRanks(int pool) const;

    std::vector<Packed> rows_;
    TextArena names_;
    std::array<TextPool, kPools> pools_;
    // The text each column was given last: rows in a row often share it.
    std::array<std::uint32_t, kSlots> lastText_{};
    // The numbers of the stamps the scan took, by id; empty while no row has
    // any (rows of a Source Map against no target file: the states say all).
    std::vector<StampNumbers> stampNumbers_;
    std::vector<std::uint64_t> devices_;
    // What only some scans give, each by id and empty while no row has it:
    // the assembly versions of both sides (ids into the versions' pool), and
    // the hashes of the source files with a flag for the rows that have one.
    // A scan without .NET assemblies or without contents compared pays nothing.
    std::vector<std::array<std::uint32_t, 2>> assemblyVersions_;
    std::vector<ContentHash> sourceHashes_;
    std::vector<bool> hasSourceHash_;

    // Ranks for sorting, each valid while the rows or the pool it was worked
    // out for have not grown.
    mutable std::vector<std::uint32_t> nameRanks_;
    mutable std::array<std::vector<std::uint32_t>, kPools> poolRanks_;
};

} // namespace sorvane
