#include "sync/special_lists.h"

#include "engine/text/path_utils.h"
#include "engine/scan/source_map.h"
#include "engine/text/text_utils.h"

#include <QObject>

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

bool ListCanHoldPath(std::string_view path) {
    return IsOneLineUtf8(path);
}

std::string SpecialList::Text() const {
    std::string text;
    for (const std::string& path : paths) {
        text += path;
        text += '\n';
    }
    return text;
}

SpecialList MakeSpecialList(int category, RowRange rows, std::string_view source,
                            std::string_view target) {
    SpecialList list;
    const ComparisonMark mark = SpecialListMark(category);
    if (mark == ComparisonMark::None)
        return list;
    // The root is the only folder text that already ends with "/".
    std::string folder = SpecialListFolder(category, source, target);
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    ComparisonRow scratch;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ComparisonRow& row = rows.At(i, scratch);
        if (row.Mark != mark)
            continue;
        std::string path = folder + row.Name;
        (ListCanHoldPath(path) ? list.paths : list.leftOut).push_back(std::move(path));
    }
    return list;
}

std::vector<std::string> SpecialListPaths(int category, RowRange rows, std::string_view source,
                                          std::string_view target) {
    return MakeSpecialList(category, rows, source, target).paths;
}

std::string SpecialListText(int category, RowRange rows, std::string_view source,
                            std::string_view target) {
    return MakeSpecialList(category, rows, source, target).Text();
}

QString LeftOutMessage(LeftOutOf where, const std::vector<std::string>& names) {
    constexpr std::size_t kShown = 5;
    const int count = static_cast<int>(names.size());
    const QString text =
        where == LeftOutOf::SourceMap
            ? QObject::tr("%n file(s) were left out of the Source Map: a map line cannot hold "
                          "their names (\"|\", \"\\\", a line break, or bytes that are not "
                          "UTF-8).\n\n%1",
                          nullptr, count)
            : QObject::tr("%n file(s) were left out of the list: a list line cannot hold their "
                          "names (a line break, or bytes that are not UTF-8).\n\n%1",
                          nullptr, count);
    return text.arg(QString::fromStdString(SkippedNamesReport(names, kShown)).trimmed());
}

} // namespace sorvane::sync
