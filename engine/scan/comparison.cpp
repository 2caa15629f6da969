#include "engine/scan/comparison.h"

#include "engine/text/number_utils.h"
#include "engine/files/opened_file.h"
#include "engine/text/text_utils.h"
#include "engine/text/tokenizer.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace sorvane {

std::string_view MarkText(ComparisonMark mark) {
    switch (mark) {
    case ComparisonMark::None:
        return "";
    case ComparisonMark::Orphan:
        return "-";
    case ComparisonMark::UnequalLanguage:
        return "!";
    case ComparisonMark::NewerSource:
        return ">";
    case ComparisonMark::NewerTarget:
        return "<";
    case ComparisonMark::DifferentSize:
        return "~";
    case ComparisonMark::Equal:
        return "=";
    case ComparisonMark::Copied:
        return "+";
    case ComparisonMark::Incomparable:
        return "?";
    }
    return "";
}

ComparisonMark MarkFromText(std::string_view text) {
    if (text.size() != 1)
        return ComparisonMark::None;
    const auto mark = static_cast<ComparisonMark>(text[0]);
    return MarkText(mark) == text ? mark : ComparisonMark::None;
}

std::optional<int> CategoryIndex(ComparisonMark mark) {
    switch (mark) {
    case ComparisonMark::NewerSource:
        return kNewerSourceCategory;
    case ComparisonMark::NewerTarget:
        return kNewerTargetCategory;
    case ComparisonMark::UnequalLanguage:
        return kUnequalLanguageCategory;
    case ComparisonMark::DifferentSize:
        return kDifferentSizeCategory;
    case ComparisonMark::Incomparable:
        return kIncomparableCategory;
    case ComparisonMark::Orphan:
        return kOrphansCategory;
    default:
        return std::nullopt;
    }
}

void CategoryCounters::Count(ComparisonMark mark) {
    if (const auto index = CategoryIndex(mark))
        ++counts[static_cast<std::size_t>(*index)];
}

int CompareVersions(std::string_view source, std::string_view target, bool strict) {
    // Most pairs of a scan carry the same version; the same text compares
    // equal whatever its parts are.
    if (source == target)
        return 0;
    const std::vector<std::string> s = SplitText(source, ".").value_or(std::vector<std::string>{});
    const std::vector<std::string> t = SplitText(target, ".").value_or(std::vector<std::string>{});
    if (s.empty() || t.empty())
        return s.empty() == t.empty() ? 0 : (t.empty() ? 1 : -1);
    for (std::size_t i = 0;; ++i) {
        if (i >= s.size())
            return t.size() > s.size() ? -1 : 0;
        if (i >= t.size())
            return 1;
        const double sv = NumericValue(s[i]);
        const double tv = NumericValue(t[i]);
        if (strict && s[i].size() != t[i].size() && sv != 0 && tv != 0)
            return kVersionsIncomparable;
        if (tv < sv)
            return 1;
        if (tv > sv)
            return -1;
    }
}

ComparisonMark DecideMark(const FileSide& source, const FileSide& target, bool strict) {
    if (target.Version.empty())
        return ComparisonMark::Orphan;
    if (!source.Language.empty() && !EqualsIgnoreCase(source.Language, target.Language))
        return ComparisonMark::UnequalLanguage;
    switch (CompareVersions(source.Version, target.Version, strict)) {
    case 1:
        return ComparisonMark::NewerSource;
    case -1:
        return ComparisonMark::NewerTarget;
    case kVersionsIncomparable:
        return ComparisonMark::Incomparable;
    default:
        return source.Size == target.Size ? ComparisonMark::Equal : ComparisonMark::DifferentSize;
    }
}

bool AssemblyVersionWentDown(const ComparisonRow& row) {
    return !row.SourceAssemblyVersion.empty() && !row.TargetAssemblyVersion.empty() &&
           CompareVersions(row.SourceAssemblyVersion, row.TargetAssemblyVersion) == -1;
}

bool IsBusy(const std::string& path) {
    // Asked, never tried: opening every target for writing would tell file
    // watchers and sync clients that each one was written. AT_EACCESS checks
    // with the rights the program runs with, as an open would.
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0)
        return false;
    if (errno != ENAMETOOLONG)
        return true;
    // Deep in a tree: asked of the name within its folder, reached a stretch
    // at a time.
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return true;
    const int folder = OpenLongPath(slash == 0 ? std::string("/") : path.substr(0, slash),
                                    O_PATH | O_DIRECTORY);
    if (folder < 0)
        return true;
    const bool busy = ::faccessat(folder, path.c_str() + slash + 1, W_OK, AT_EACCESS) != 0;
    ::close(folder);
    return busy;
}

} // namespace sorvane
