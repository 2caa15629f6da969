#pragma once
// The grid's row order for a sort key, computed for many rows at once: each
// compared column is folded to lower case once per sort instead of in every
// comparison, so 100,000 rows sort in a fraction of a second.

#include "engine/comparison.h"

#include <cstdint>
#include <vector>

namespace sorvane::view {

/// The order SortRows(rows, sortKey, ascending) would leave `rows` in, as
/// positions into `rows`: element i is the index of the row that comes i-th.
/// Rows equal in every compared column keep their order. A key outside 1 to
/// 11 gives the rows' present order.
std::vector<std::uint32_t> SortedRowOrder(const std::vector<ComparisonRow>& rows, int sortKey,
                                          bool ascending);

} // namespace sorvane::view
