#pragma once
// The File menu's commands: the Source and Target paths and their browse
// dialogs, Source Maps opened and saved, the report exported.

#include <QObject>

namespace sorvane::shell {

struct WindowContext;

class FileCommands : public QObject {
    Q_OBJECT
public:
    FileCommands(WindowContext& window, QObject* parent);

    /// The File menu opens: Scan, Save Source Map and Export follow the paths and results.
    void mFile_Click();
    void mFileOpenSourcePath_Click();
    void mFileOpenTargetPath_Click();
    void mFileOpenSourceMap_Click();
    void mFileSaveSourceMap_Click();
    /// Saves the shown rows as an HTML page or a CSV file; a failed write
    /// leaves the old file as it was and a message says why.
    void mFileExportReport_Click();

    /// The Source box's text changed: a map or a folder.
    void OnSourceChanged();
    void OnTargetChanged();

private:
    /// A map already carries the sub-folder paths of its entries.
    void ReleaseSubfolders();

    WindowContext& window_;
};

} // namespace sorvane::shell
