#pragma once
// The result grid's row in the File Properties window: what the grid shows
// for it (the scan's reading, or the copy's "+" and the source's version),
// beside what the window reads from the file now.

#include "engine/scan/comparison.h"
#include "windows/file_properties.h"

namespace sorvane::sync {

/// The caption of the grid row's section.
inline constexpr const char* kGridRowSectionTitle = "In the result grid";

/// What a mark says, in a few words: "+" gives "copied in this run". Empty
/// for the empty mark of a source-only scan.
QString MarkMeaning(ComparisonMark mark);

/// The section "In the result grid" for `row`, its texts as the grid shows
/// them (control characters escaped): name, extension, both versions and
/// languages, the mark with its meaning, busy, description, copyright, size.
windows::PropertySection GridRowSection(const ComparisonRow& row);

} // namespace sorvane::sync
