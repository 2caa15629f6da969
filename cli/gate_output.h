#pragma once
// compare as a release gate: the categories a build fails on, and the rows
// written for CI systems to read (JUnit XML, GitHub workflow commands).

#include "row_output.h"

#include "engine/scan/comparison.h"

#include <expected>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace sorvane::cli {

/// The names --fail-on takes, each with the mark of its rows.
struct GateCategory {
    std::string_view name; ///< "newer-target"
    ComparisonMark mark;
};
const std::vector<GateCategory>& GateCategories();

/// The marks of a comma-separated list of category names ("newer-target,orphans");
/// else what is wrong with it.
std::expected<std::vector<ComparisonMark>, std::string> ParseFailOn(std::string_view text);

/// The name of a mark's category ("newer-target"); "equal" for "=", empty for none.
std::string_view GateCategoryName(ComparisonMark mark);

/// Text for XML 1.0 content and attribute values: the five special
/// characters as entities, tab and line breaks as character references, other
/// control characters (which XML 1.0 cannot hold at all) as visible "\x1b".
std::string XmlText(std::string_view utf8);

/// A GitHub workflow command's message ("%", CR and LF escaped) and a
/// property value (also ":" and ",").
std::string GithubData(std::string_view text);
std::string GithubProperty(std::string_view text);

/// One JUnit test case per row, a failure for each row of a `failOn`
/// category and an error for each entry that could not be read; written
/// whole at the end, where the counts are known.
std::unique_ptr<RowOutput> MakeJUnitOutput(std::ostream& out, std::vector<ComparisonMark> failOn);
/// One workflow command per row: "::error" for a row of a `failOn`
/// category, "::warning" for the others; "=" rows are not listed.
std::unique_ptr<RowOutput> MakeGithubOutput(std::ostream& out, std::vector<ComparisonMark> failOn);

} // namespace sorvane::cli
