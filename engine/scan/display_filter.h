#pragma once
// Which rows a compare scan keeps in each display mode.

#include "engine/scan/comparison.h"

namespace sorvane {

/// The "Show Files" modes; the value is what the settings file stores.
enum class DisplayMode : int {
    AllVersioned = 0,
    DifferentOnly = 1,
    NewerOnly = 2,
};

/// True when a row with `mark` is shown in `mode`. Orphans and equal rows are
/// shown only with AllVersioned; newer-target rows are dropped by NewerOnly.
/// A mode value outside 0..2 filters like DifferentOnly.
bool ShouldShowRow(ComparisonMark mark, int mode);

inline bool ShouldShowRow(ComparisonMark mark, DisplayMode mode) {
    return ShouldShowRow(mark, static_cast<int>(mode));
}

} // namespace sorvane
