#include "sync/report_export.h"

#include "engine/scan/row_sort.h"
#include "engine/settings/settings_store.h"
#include "engine/scan/source_map.h"
#include "platform/dialogs.h"
#include "view/result_view.h"

#include <QApplication>
#include <QDir>
#include <QHeaderView>

#include <ctime>
#include <map>
#include <utility>
#include <vector>

namespace sorvane::sync {
namespace {

std::uint32_t Rgb(const QColor& color) {
    const QColor rgb = color.toRgb();
    return static_cast<std::uint32_t>(rgb.red()) << 16 |
           static_cast<std::uint32_t>(rgb.green()) << 8 | static_cast<std::uint32_t>(rgb.blue());
}

// The data columns the grid shows, left to right.
std::vector<int> ShownColumns(const view::ResultView& grid) {
    std::vector<int> columns;
    const QHeaderView* header = grid.horizontalHeader();
    for (int visual = 0; visual < header->count(); ++visual) {
        const int column = header->logicalIndex(visual);
        if (column >= kNameColumn && column <= kCopyrightColumn && grid.IsColumnVisible(column))
            columns.push_back(column);
    }
    return columns;
}

} // namespace

ReportExport::ReportExport(QWidget* parent, platform::DialogService& dialogs,
                           std::string settingsFile, QString messageTitle)
    : parent_(parent), dialogs_(dialogs), settingsFile_(std::move(settingsFile)),
      messageTitle_(std::move(messageTitle)) {}

ReportFormat ReportExport::FormatOfFile(const QString& path) {
    return path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive) ? ReportFormat::Csv
                                                                       : ReportFormat::Html;
}

WriteOutcome ReportExport::Write(const std::string& path, ReportFormat format,
                                 const view::ResultView& grid, const ReportContext& context) {
    const view::ResultModel& model = *grid.resultModel();
    const RowRange rows = model.Rows();
    const std::vector<int> shown = ShownColumns(grid);

    std::vector<ReportColumn> columns;
    for (const int column : shown)
        columns.push_back(ReportColumnOf(column));

    // A row keeps the colour it was given when it was added or copied, so
    // rows of one mark can differ (Regular Text or Copied File changed
    // since); each colour a mark's rows show gets a class of its own.
    ReportColors colors;
    colors.background = Rgb(model.Colors().color(view::kBackgroundColor));
    colors.text = Rgb(model.Colors().color(view::kRegularTextColor));
    std::map<std::pair<ComparisonMark, std::uint32_t>, int> styleOf;
    std::map<ComparisonMark, int> classesOfMark;
    std::vector<int> rowStyles(rows.size(), -1);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const QVariant color =
            model.data(model.index(static_cast<int>(r), kNameColumn), Qt::ForegroundRole);
        const ComparisonMark mark = model.MarkAt(static_cast<int>(r));
        const std::string_view name = ReportClassOfMark(mark);
        if (!color.isValid() || name.empty())
            continue;
        const auto key = std::make_pair(mark, Rgb(color.value<QColor>()));
        auto found = styleOf.find(key);
        if (found == styleOf.end()) {
            std::string className(name);
            if (const int n = ++classesOfMark[mark]; n > 1) {
                className += '-';
                className += std::to_string(n);
            }
            found = styleOf.emplace(key, static_cast<int>(colors.styles.size())).first;
            colors.styles.push_back({std::move(className), key.second});
        }
        rowStyles[r] = found->second;
    }

    ReportHeading heading;
    heading.title = context.title;
    heading.source = context.source;
    heading.target = context.target;
    heading.date = ReportDateText(std::time(nullptr));
    heading.displayMode = DisplayModeCaption(context.displayMode, context.sourceOnly);
    heading.counters = ReportCounters(rows);

    return ReplaceFileAtomically(path, [&](int fd) {
        ReportWriter writer(format, FileSink(fd), format == ReportFormat::Csv);
        writer.Begin(heading, columns, colors);
        ComparisonRow row;
        for (std::size_t r = 0; r < rows.size(); ++r)
            writer.Row(rows.At(r, row), shown, rowStyles[r]);
        return writer.Finish();
    });
}

bool ReportExport::Run(const view::ResultView& grid, const ReportContext& context) {
    platform::FileDialogOptions options;
    options.title = QObject::tr("Export Report");
    options.filter = QObject::tr("HTML Files (*.html *.htm);;CSV Files (*.csv);;All files (*)");
    options.defaultSuffix = QStringLiteral("html");
    const std::string home = QDir::homePath().toStdString();
    options.startFolder =
        QString::fromStdString(ReadSetting(settingsFile_, "General", "LastSave", home));
    const auto chosen = dialogs_.SaveFileName(parent_, options);
    if (!chosen || chosen->isEmpty())
        return false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const WriteOutcome written = Write(chosen->toStdString(), FormatOfFile(*chosen), grid, context);
    QApplication::restoreOverrideCursor();
    if (!written) {
        dialogs_.ShowMessage(parent_, messageTitle_,
                             QObject::tr("The report could not be saved as\n%1\n\n%2")
                                 .arg(*chosen, QString::fromStdString(written.error().Message())),
                             platform::MessageIcon::Warning, platform::MessageButtons::Ok);
        return false;
    }
    WriteSetting(settingsFile_, "General", "LastSave", FolderForDialog(chosen->toStdString(), home));
    return true;
}

} // namespace sorvane::sync
