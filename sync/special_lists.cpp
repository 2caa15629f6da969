#include "sync/special_lists.h"

#include "engine/path_utils.h"

namespace sorvane::sync {

const std::array<const char*, kCategoryCount> kSpecialListCaptions = {
    "List of Newer &Source Files",          "List of Newer &Target Files",
    "List of Files with &Unequal Language", "List of Files with &Different Size",
    "List of &Incomparable Files",          "List of &Orphans"};

namespace {

constexpr std::array<ComparisonMark, kCategoryCount> kListMarks = {
    ComparisonMark::NewerSource,   ComparisonMark::NewerTarget,  ComparisonMark::UnequalLanguage,
    ComparisonMark::DifferentSize, ComparisonMark::Incomparable, ComparisonMark::Orphan};

bool InRange(int category) {
    return category >= 0 && category < kCategoryCount;
}

} // namespace

ComparisonMark SpecialListMark(int category) {
    return InRange(category) ? kListMarks[static_cast<std::size_t>(category)]
                             : ComparisonMark::None;
}

bool SpecialListAvailable(int category, const CategoryCounters& counters, bool sourceIsMap) {
    return InRange(category) && !sourceIsMap && counters[category] >= 1;
}

std::string SpecialListFolder(int category, std::string_view source, std::string_view target) {
    const bool underTarget = source.empty() || category == kNewerTargetCategory;
    return NormalizeFolderPath(underTarget ? target : source, false);
}

std::vector<std::string> SpecialListPaths(int category, const std::vector<ComparisonRow>& rows,
                                          std::string_view source, std::string_view target) {
    std::vector<std::string> paths;
    const ComparisonMark mark = SpecialListMark(category);
    if (mark == ComparisonMark::None)
        return paths;
    // The root is the only folder text that already ends with "/".
    std::string folder = SpecialListFolder(category, source, target);
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    for (const ComparisonRow& row : rows)
        if (row.Mark == mark)
            paths.push_back(folder + row.Name);
    return paths;
}

std::string SpecialListText(int category, const std::vector<ComparisonRow>& rows,
                            std::string_view source, std::string_view target) {
    std::string text;
    for (const std::string& path : SpecialListPaths(category, rows, source, target)) {
        text += path;
        text += '\n';
    }
    return text;
}

} // namespace sorvane::sync
