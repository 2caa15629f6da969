#pragma once
// The columns of the result grid as text, and the grid's row order.

#include "engine/scan/comparison.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sorvane {

class RowStore;

/// Columns of the result grid.
enum GridColumn : int {
    kRootColumn = 0, ///< "." for a file directly in the source folder
    kNameColumn = 1,
    kExtColumn = 2,
    kSourceLanguageColumn = 3,
    kSourceVersionColumn = 4,
    kMarkColumn = 5,
    kTargetVersionColumn = 6,
    kTargetLanguageColumn = 7,
    kBusyColumn = 8,
    kDescriptionColumn = 9,
    kCopyrightColumn = 10,
    kSizeColumn = 11,
    kFillerColumn = 12,
    kGridColumnCount = 13,
};

/// The text a row shows in `column` (empty for the filler and unknown columns).
std::string ColumnText(const ComparisonRow& row, int column);
/// The same text without a copy; the size column's digits are written into
/// `scratch`, which must outlive the view.
std::string_view ColumnView(const ComparisonRow& row, int column, std::string& scratch);

/// The caption of `column` in the grid's header, and in tables and reports
/// (empty for the filler and unknown columns).
std::string_view ColumnCaption(int column);

/// The sort key "none": rows keep their order.
inline constexpr int kNoSortKey = 0;

/// Three-way comparison of two rows for an ascending sort by `sortKey`
/// (1 to 11): the key column decides, then each column to its right up to
/// the filler, all as text without regard to case; for the Name key the root
/// marker comes first, so files in sub-folders precede files in the root.
int CompareRowsForSort(const ComparisonRow& a, const ComparisonRow& b, int sortKey);

/// The order SortRows(rows, sortKey, ascending) leaves `rows` in, as positions
/// into `rows`: element i is the index of the row that comes i-th. Each
/// compared column is folded to lower case once per sort rather than in every
/// comparison, so 100,000 rows sort in a fraction of a second. Rows equal in
/// every compared column keep their order; a key outside 1 to 11 gives the
/// present order.
std::vector<std::uint32_t> SortedRowOrder(const std::vector<ComparisonRow>& rows, int sortKey,
                                          bool ascending);

/// Sorts rows by `sortKey`, ascending or descending; rows equal in every
/// compared column keep their order. A key of 0 or outside 1..11 leaves the
/// rows as they are.
void SortRows(std::vector<ComparisonRow>& rows, int sortKey, bool ascending);

/// The order SortedRowOrder gives, for rows held in a RowStore: `order` is
/// the present order, the ids of `store` (empty: the order the rows were
/// added in), and the result the same ids in the sorted order. Rows equal in every
/// compared column keep their present order. Only ids move: each compared
/// column is ranked once (a pooled column by its distinct texts) and the ids
/// are sorted by the ranks.
std::vector<std::uint32_t> SortedRowOrder(const RowStore& store, std::vector<std::uint32_t> order,
                                          int sortKey, bool ascending);

/// The place of each of `texts` among the distinct texts in the order of
/// CompareIgnoreCase, from 0: texts equal without regard to case share a
/// rank. `distinct`, when given, gets the number of distinct ranks.
std::vector<std::uint32_t> FoldedTextRanks(std::span<const std::string_view> texts,
                                           std::uint32_t* distinct = nullptr);
/// The same for `count` texts, text i given by `textAt(i)`, asked for once
/// each, which must stay valid until the ranks are there.
std::vector<std::uint32_t>
FoldedTextRanks(std::size_t count, const std::function<std::string_view(std::size_t)>& textAt,
                std::uint32_t* distinct = nullptr);

/// The ranks of `count` names, name i given by `nameAt(i)`, in the order of
/// CompareRowsForSort's first two columns for the Name key: names in
/// sub-folders (no root marker) before names in the root, each group
/// without regard to case.
std::vector<std::uint32_t>
NameSortRanks(std::size_t count, const std::function<std::string_view(std::size_t)>& nameAt);

} // namespace sorvane
