#pragma once
// Export Report: the rows of the result grid as the user sees them (visible
// columns in their order, the current arrangement, the grid's colours) saved
// as a CSV file or as one HTML page.

#include "engine/files/atomic_file.h"
#include "engine/scan/report_writer.h"

#include <QString>

#include <string>

class QWidget;

namespace sorvane::platform {
class DialogService;
}
namespace sorvane::view {
class ResultView;
}

namespace sorvane::sync {

/// What the page's heading says besides the rows.
struct ReportContext {
    std::string title;  ///< "Sorvane Report"
    std::string source; ///< the paths the rows were scanned from
    std::string target;
    int displayMode = 1; ///< the mode the rows were let through with
    bool sourceOnly = false;
};

class ReportExport {
public:
    /// `settingsFile` keeps the folder of the last saved file ("LastSave");
    /// `messageTitle` titles the message box of a failed write.
    ReportExport(QWidget* parent, platform::DialogService& dialogs, std::string settingsFile,
                 QString messageTitle);

    /// CSV for a name ending in ".csv" (any case), HTML for every other name.
    static ReportFormat FormatOfFile(const QString& path);

    /// Writes the report of `grid` to `path` in place of the file there; on
    /// failure the old file is left as it was and the error text returned.
    /// A CSV file starts with a byte order mark, so spreadsheets read it as UTF-8.
    static WriteOutcome Write(const std::string& path, ReportFormat format,
                              const view::ResultView& grid, const ReportContext& context);

    /// The command: asks for the file name (HTML or CSV), writes the report,
    /// and shows a message box when it could not be written. Returns true when
    /// a file was written.
    bool Run(const view::ResultView& grid, const ReportContext& context);

private:
    QWidget* parent_;
    platform::DialogService& dialogs_;
    std::string settingsFile_;
    QString messageTitle_;
};

} // namespace sorvane::sync
