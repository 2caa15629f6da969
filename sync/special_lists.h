#pragma once
// The special lists: the full paths of the files of one comparison category,
// as the text put on the clipboard and into list files, and when each list
// is offered.

#include "engine/comparison.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace sorvane::sync {

/// The captions of the six lists in the Copy Special menu, in category order
/// (the Save Special items add "...").
extern const std::array<const char*, kCategoryCount> kSpecialListCaptions;

/// The mark of the rows list `category` holds: ">", "<", "!", "~", "?", "-".
/// None for a category out of range.
ComparisonMark SpecialListMark(int category);

/// True when list `category` can be copied or saved: the last scan counted
/// at least one row of it, and the Source is a folder, not a Source Map (a
/// map's rows have no folder on this machine to stand under).
bool SpecialListAvailable(int category, const CategoryCounters& counters, bool sourceIsMap);

/// The folder the names of list `category` stand under: the Target for the
/// Newer Target list and whenever the Source text is empty, else the Source.
/// Quotes and a trailing "/" are dropped as in the path boxes.
std::string SpecialListFolder(int category, std::string_view source, std::string_view target);

/// The full path of every row of the category's mark, top to bottom. A row
/// marked copied ("+") belongs to no list. Names are kept byte for byte.
std::vector<std::string> SpecialListPaths(int category, const std::vector<ComparisonRow>& rows,
                                          std::string_view source, std::string_view target);

/// The list as text: each path followed by LF, the last one too, as xargs and
/// shell loops read it. Empty when no row belongs to the list.
std::string SpecialListText(int category, const std::vector<ComparisonRow>& rows,
                            std::string_view source, std::string_view target);

} // namespace sorvane::sync
