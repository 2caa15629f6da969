#pragma once
// The manual page of sorvane-cli, made from its --help text so that the two
// never tell different stories.

#include <string>
#include <string_view>

namespace sorvane::cli {

/// What the page's title line carries besides the help.
struct ManualPageInfo {
    std::string_view version; ///< "1.00"
    std::string_view date;    ///< "2026-12-07"
};

/// The whole text of the program (the layout ManualText() writes) as
/// a man(7) page of section 1. The first line becomes NAME; an unindented
/// "Heading:" line starts a section of that name ("Usage" is SYNOPSIS), and
/// text after the colon is its first paragraph. Under Usage a line indented
/// by two is a synopsis line; under Examples each such line is kept as it
/// is; under any other heading it is a sub-section title when it has no
/// description after two blanks and lines indented by eight follow, else an
/// option (or a name; under Environment a variable, in bold) followed by its
/// description. In an
/// eight-space body a line starting with "-" is an option when its
/// description follows after two blanks or on deeper lines below it; other
/// lines are running text.
/// Backslashes, hyphens, leading dots and non-ASCII characters are escaped.
std::string ManualPage(std::string_view help, const ManualPageInfo& info);

} // namespace sorvane::cli
