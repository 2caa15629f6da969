#include "sync/row_properties.h"

#include "engine/scan/row_sort.h"
#include "view/result_model.h"

#include <QObject>

#include <array>
#include <utility>

namespace sorvane::sync {

QString MarkMeaning(ComparisonMark mark) {
    static const std::array<std::pair<ComparisonMark, const char*>, 8> kMeanings = {{
        {ComparisonMark::NewerSource, "the source is newer"},
        {ComparisonMark::NewerTarget, "the target is newer"},
        {ComparisonMark::UnequalLanguage, "the languages differ"},
        {ComparisonMark::DifferentSize, "equal versions, different sizes"},
        {ComparisonMark::Incomparable, "the versions cannot be compared"},
        {ComparisonMark::Orphan, "no versioned target file"},
        {ComparisonMark::Equal, "equal"},
        {ComparisonMark::Copied, "copied in this run"},
    }};
    for (const auto& [known, meaning] : kMeanings)
        if (known == mark)
            return QObject::tr(meaning);
    return {};
}

windows::PropertySection GridRowSection(const ComparisonRow& row) {
    // The grid's columns, labelled so that the two language columns differ.
    static const std::array<std::pair<const char*, int>, 11> kShown = {{
        {"Name", kNameColumn},
        {"Extension", kExtColumn},
        {"Source version", kSourceVersionColumn},
        {"Source language", kSourceLanguageColumn},
        {"Mark", kMarkColumn},
        {"Target version", kTargetVersionColumn},
        {"Target language", kTargetLanguageColumn},
        {"Busy", kBusyColumn},
        {"Description", kDescriptionColumn},
        {"Copyright", kCopyrightColumn},
        {"Source size", kSizeColumn},
    }};
    windows::PropertySection section{QObject::tr(kGridRowSectionTitle), {}};
    for (const auto& [label, column] : kShown) {
        std::string scratch;
        QString value = view::ShownText(ColumnView(row, column, scratch));
        if (column == kMarkColumn && !MarkMeaning(row.Mark).isEmpty())
            value += QStringLiteral(" (%1)").arg(MarkMeaning(row.Mark));
        section.rows.push_back({QObject::tr(label), value});
    }
    return section;
}

} // namespace sorvane::sync
