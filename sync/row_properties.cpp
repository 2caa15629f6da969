#include "sync/row_properties.h"

#include "engine/row_sort.h"
#include "view/result_model.h"

#include <QObject>

#include <array>
#include <utility>

namespace sorvane::sync {

QString MarkMeaning(ComparisonMark mark) {
    switch (mark) {
    case ComparisonMark::NewerSource:
        return QObject::tr("the source is newer");
    case ComparisonMark::NewerTarget:
        return QObject::tr("the target is newer");
    case ComparisonMark::UnequalLanguage:
        return QObject::tr("the languages differ");
    case ComparisonMark::DifferentSize:
        return QObject::tr("equal versions, different sizes");
    case ComparisonMark::Incomparable:
        return QObject::tr("the versions cannot be compared");
    case ComparisonMark::Orphan:
        return QObject::tr("no versioned target file");
    case ComparisonMark::Equal:
        return QObject::tr("equal");
    case ComparisonMark::Copied:
        return QObject::tr("copied in this run");
    case ComparisonMark::None:
        break;
    }
    return {};
}

platform::PropertySection GridRowSection(const ComparisonRow& row) {
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
    platform::PropertySection section{QObject::tr(kGridRowSectionTitle), {}};
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
