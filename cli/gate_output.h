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

/// The name of the condition that fails a pair whose assembly version went
/// down, whatever its mark.
inline constexpr std::string_view kAssemblyVersionDown = "assembly-version-down";

/// What fails a build: rows of some categories, and pairs whose .NET
/// assembly version went down (the source's lower than the target's).
struct GateConditions {
    std::vector<ComparisonMark> marks;
    bool assemblyVersionDown = false;

    bool Fails(const ComparisonRow& row) const;
    bool operator==(const GateConditions&) const = default;
};

/// The conditions of a comma-separated list of category names and
/// assembly-version-down ("newer-target,orphans"); else what is wrong with it.
std::expected<GateConditions, std::string> ParseFailOn(std::string_view text);

/// The name of a mark's category ("newer-target"); "equal" for "=", empty for none.
std::string_view GateCategoryName(ComparisonMark mark);

/// Text for XML 1.0 content and attribute values: control characters (which
/// XML 1.0 cannot hold) and direction marks as the grid shows them ("\x1b",
/// "\u202E"), then the five special characters as entities.
std::string XmlText(std::string_view utf8);

/// A GitHub workflow command's message ("%", CR and LF escaped) and a
/// property value (also ":" and ",").
std::string GithubData(std::string_view text);
std::string GithubProperty(std::string_view text);

/// What a report says of a row: its category, both versions and its mark,
/// then the assembly versions when a side has one (the target's alone for a
/// Source Map row, whose source was not read).
std::string GateRowMessage(const ComparisonRow& row);

/// One JUnit test case per row, a failure for each row `failOn` fails and
/// an error for each entry that could not be read; written whole at the
/// end, where the counts are known.
std::unique_ptr<RowOutput> MakeJUnitOutput(std::ostream& out, GateConditions failOn);
/// One workflow command per row: "::error" for a row `failOn` fails,
/// "::warning" for the other differing rows; "=" rows that pass are not
/// listed.
std::unique_ptr<RowOutput> MakeGithubOutput(std::ostream& out, GateConditions failOn);

} // namespace sorvane::cli
