#include "sync/row_properties.h"

#include "engine/scan/row_sort.h"
#include "engine/text/path_utils.h"
#include "view/result_model.h"

#include <QDateTime>
#include <QLocale>
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

namespace {

QString Bytes(std::int64_t size) {
    const QLocale english(QLocale::English);
    return english.toString(static_cast<qlonglong>(size)) +
           (size == 1 ? QStringLiteral(" byte") : QStringLiteral(" bytes"));
}

} // namespace

windows::PropertySection MemberSection(const MemberFacts& member, std::string_view ownVersion) {
    windows::PropertySection section{QObject::tr(kMemberSectionTitle), {}};
    auto& rows = section.rows;
    rows.push_back({QObject::tr("Archive"), view::ShownText(member.archive)});
    rows.push_back({QObject::tr("Member"), view::ShownText(member.name)});
    rows.push_back({QObject::tr("Size"), Bytes(member.size)});
    rows.push_back({QObject::tr("Stored size"),
                    member.stored ? Bytes(*member.stored) : QObject::tr("not known")});
    rows.push_back({QObject::tr("Modified"),
                    member.modified ? QDateTime::fromSecsSinceEpoch(*member.modified, Qt::UTC)
                                          .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"))
                                    : QObject::tr("not kept")});
    if (!member.declaredVersion.empty()) {
        QString version = view::ShownText(member.declaredVersion);
        if (!member.bytesMissing && DeclaredVersionDiffers(member.declaredVersion, ownVersion))
            version += QLatin1Char(' ') + QObject::tr(kDeclaredVersionDiffersText);
        rows.push_back({QObject::tr("File table version"), version});
    }
    if (!member.declaredLanguage.empty())
        rows.push_back({QObject::tr("File table language"),
                        view::ShownText(DeclaredLanguageText(member.declaredLanguage))});
    if (member.bytesMissing)
        rows.push_back({QObject::tr("Note"), QObject::tr(kVersionFromFileTableNote)});
    return section;
}

std::optional<SideFile> FindSideFile(RowSide side, const ScanOutcome& scan, std::string_view folder,
                                     bool sourceIsMap, std::string_view name, bool readArchive) {
    if (folder.empty() || name.empty())
        return std::nullopt;
    const bool source = side == RowSide::Source;
    const std::string scanned = source ? scan.source : scan.target;
    if (source && sourceIsMap) {
        // The map's rows stand for the members of the archive it was saved
        // from; a map of a folder has none.
        if (scan.mapArchive.empty() || scanned != folder || !FileExists(scan.mapArchive))
            return std::nullopt;
        if (!readArchive)
            return SideFile{scan.mapArchive, std::nullopt};
        auto member = ReadMemberFacts(scan.mapArchive, std::string(name));
        if (!member)
            return std::nullopt;
        return SideFile{scan.mapArchive, *std::move(member)};
    }
    if (std::string path = JoinPath(folder, name); FileExists(path))
        return SideFile{std::move(path), std::nullopt};
    const std::shared_ptr<const MemberTable>& members = source ? scan.sourceMembers : scan.targetMembers;
    // Only the archive the rows were read from: the box may name another now.
    if (members == nullptr || members->Archive() != folder || !FileExists(members->Archive()))
        return std::nullopt;
    if (const MemberFacts* member = members->Find(name))
        return SideFile{member->archive, *member};
    return std::nullopt;
}

std::vector<windows::PropertySection> SideSections(const SideFile& file, RowSide side,
                                                   const std::optional<ComparisonRow>& row) {
    std::vector<windows::PropertySection> sections;
    if (file.member) {
        const std::string own =
            !row ? std::string() : side == RowSide::Source ? row->SourceVersion : row->TargetVersion;
        sections.push_back(MemberSection(*file.member, own));
    }
    if (row)
        sections.push_back(GridRowSection(*row));
    return sections;
}

} // namespace sorvane::sync
