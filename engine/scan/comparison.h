#pragma once
// The comparison result model: one side of a pair, the result row, the marks
// with their categories and counters, and the version comparison.

#include "engine/files/content_hash.h"
#include "engine/files/file_stamp.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sorvane {

/// How a pair compares; the enumerator's value is the character shown.
enum class ComparisonMark : char {
    None = '\0',           ///< source-only scans
    Orphan = '-',          ///< the target has no version data
    UnequalLanguage = '!', ///< languages differ
    NewerSource = '>',
    NewerTarget = '<',
    DifferentSize = '~', ///< equal versions, different sizes
    Equal = '=',
    Copied = '+',       ///< set by the copy commands, never by a scan
    Incomparable = '?', ///< only with the strict version test
};

/// The mark as the one-character text of the grid ("" for None).
std::string_view MarkText(ComparisonMark mark);

/// The mark whose text is `text`; None for empty or unknown text.
ComparisonMark MarkFromText(std::string_view text);

/// Categories in the order shared by counters, special lists and colours.
enum Category : int {
    kNewerSourceCategory = 0,
    kNewerTargetCategory = 1,
    kUnequalLanguageCategory = 2,
    kDifferentSizeCategory = 3,
    kIncomparableCategory = 4,
    kOrphansCategory = 5,
    kCategoryCount = 6,
};

/// The counter index of a mark; none for "=", "+" and the empty mark.
std::optional<int> CategoryIndex(ComparisonMark mark);

/// One side of a pair, filled while a file is compared.
struct FileSide {
    std::string Path;     ///< full path
    std::string Version;  ///< empty: no usable version data or no file
    std::string Language; ///< may be empty
    /// Size in bytes. Held in 64 bits so files of 2 GiB and more neither wrap
    /// nor compare equal by accident.
    std::int64_t Size = 0;
};

/// One result row, in grid column order.
struct ComparisonRow {
    std::string Name; ///< relative path, "/" between folders
    std::string Ext;  ///< ".dll"; empty without a dot
    std::string SourceLanguage;
    std::string SourceVersion;
    ComparisonMark Mark = ComparisonMark::None;
    std::string TargetVersion;
    std::string TargetLanguage;
    bool Busy = false; ///< shown as "*"
    std::string Description;
    std::string Copyright;
    std::int64_t SourceSize = 0; ///< shown as plain decimal digits
    /// The two files as the scan read them; not shown.
    FileStamp SourceStamp;
    FileStamp TargetStamp;
    /// The AssemblyVersion of each side that is a .NET assembly ("4.0.0.0");
    /// empty for any other file. Not shown in the grid.
    std::string SourceAssemblyVersion;
    std::string TargetAssemblyVersion;
    /// The hash of the source file's bytes, when the scan took it (contents
    /// compared) or the Source Map entry held it; a map saved from the row
    /// keeps it. Not shown.
    std::optional<ContentHash> SourceHash;
};

/// True when both sides are .NET assemblies and the source's AssemblyVersion
/// is the lower one.
bool AssemblyVersionWentDown(const ComparisonRow& row);

/// Six counts, one per category, raised for each row added to the grid.
struct CategoryCounters {
    std::array<std::int32_t, kCategoryCount> counts{};

    void Reset() { counts.fill(0); }
    /// Raises the count of the mark's category, if it has one.
    void Count(ComparisonMark mark);
    std::int32_t operator[](int category) const { return counts.at(category); }
    bool operator==(const CategoryCounters&) const = default;
};

/// Result of CompareVersions when the strict test finds the pair incomparable.
inline constexpr int kVersionsIncomparable = 2;

/// 1 when `source` is the newer version, -1 when `target` is, 0 when equal.
/// Parts separated by "." compare as numbers; a text with no parts (empty,
/// or beginning with ".") counts as having no version. With `strict`, two
/// parts whose texts differ in length while both are non-zero give
/// kVersionsIncomparable.
int CompareVersions(std::string_view source, std::string_view target, bool strict = false);

/// The mark of a compare scan's pair, by the precedence: no target version,
/// unequal language, newer source, newer target, incomparable, equal size.
ComparisonMark DecideMark(const FileSide& source, const FileSide& target, bool strict = false);

/// True when the file could not be written (permissions, a read-only file
/// system, an immutable file) or is missing. The file is not opened.
bool IsBusy(const std::string& path);

} // namespace sorvane
