#include "row_sort.h"

#include "text_utils.h"

#include <algorithm>
#include <numeric>

namespace sorvane {
namespace {

std::string_view ColumnView(const ComparisonRow& row, int column, std::string& scratch) {
    switch (column) {
    case kRootColumn:
        return row.Name.find('/') == std::string::npos ? "." : "";
    case kNameColumn:
        return row.Name;
    case kExtColumn:
        return row.Ext;
    case kSourceLanguageColumn:
        return row.SourceLanguage;
    case kSourceVersionColumn:
        return row.SourceVersion;
    case kMarkColumn:
        return MarkText(row.Mark);
    case kTargetVersionColumn:
        return row.TargetVersion;
    case kTargetLanguageColumn:
        return row.TargetLanguage;
    case kBusyColumn:
        return row.Busy ? "*" : "";
    case kDescriptionColumn:
        return row.Description;
    case kCopyrightColumn:
        return row.Copyright;
    case kSizeColumn:
        scratch = std::to_string(row.SourceSize);
        return scratch;
    default:
        return "";
    }
}

} // namespace

std::string ColumnText(const ComparisonRow& row, int column) {
    std::string scratch;
    return std::string(ColumnView(row, column, scratch));
}

int CompareRowsForSort(const ComparisonRow& a, const ComparisonRow& b, int sortKey) {
    const int first = sortKey == kNameColumn ? kRootColumn : sortKey;
    std::string scratchA, scratchB;
    // The filler column is always empty and never breaks a tie.
    for (int column = first; column < kFillerColumn; ++column) {
        const int c = CompareIgnoreCase(ColumnView(a, column, scratchA),
                                        ColumnView(b, column, scratchB));
        if (c != 0)
            return c;
    }
    return 0;
}

void SortRows(std::vector<ComparisonRow>& rows, int sortKey, bool ascending) {
    if (sortKey < kNameColumn || sortKey > kSizeColumn)
        return;
    std::stable_sort(rows.begin(), rows.end(), [&](const ComparisonRow& a, const ComparisonRow& b) {
        const int c = CompareRowsForSort(a, b, sortKey);
        return ascending ? c < 0 : c > 0;
    });
}

} // namespace sorvane
