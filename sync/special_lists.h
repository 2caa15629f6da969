#pragma once
// The special lists: the full paths of the files of one comparison category,
// as the text put on the clipboard and into list files, and when each list
// is offered.

#include "engine/scan/comparison.h"
#include "engine/scan/row_range.h"

#include <array>
#include <QString>
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

/// True when a line of a list can hold `path` so that whoever reads the
/// list gets the same file back: valid UTF-8 without CR or LF. A name with a
/// line break would put a line naming another file into the list, and one
/// that is not UTF-8 would be read back as other characters.
bool ListCanHoldPath(std::string_view path);

/// A special list: the full paths of the rows of one category.
struct SpecialList {
    std::vector<std::string> paths;   ///< top to bottom
    std::vector<std::string> leftOut; ///< full paths a list line cannot hold
    /// Each path followed by LF, the last one too, as xargs and shell loops
    /// read it. Empty when no path is listed.
    std::string Text() const;
};

/// The list of `category`: the full path of every row of its mark, top to
/// bottom, under SpecialListFolder. A row marked copied ("+") belongs to no
/// list. Names are kept byte for byte; those a list line cannot hold are
/// left out and named in `leftOut`.
SpecialList MakeSpecialList(int category, RowRange rows, std::string_view source,
                            std::string_view target);

/// MakeSpecialList(...).paths.
std::vector<std::string> SpecialListPaths(int category, RowRange rows, std::string_view source,
                                          std::string_view target);

/// MakeSpecialList(...).Text().
std::string SpecialListText(int category, RowRange rows, std::string_view source,
                            std::string_view target);

/// What files were left out of.
enum class LeftOutOf { SourceMap, List };

/// The message of a save or copy that left files out: how many, why, and the
/// first few of them as the grid shows names.
QString LeftOutMessage(LeftOutOf where, const std::vector<std::string>& names);

} // namespace sorvane::sync
