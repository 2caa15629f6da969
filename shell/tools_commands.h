#pragma once
// The Tools menu's commands: swap, filter, backups, copying the current row
// or every newer one, and the properties windows of the current row's files.

#include "sync/row_properties.h"
#include "windows/file_properties.h"

#include <QObject>

#include <optional>

namespace sorvane::shell {

struct WindowContext;

class ToolsCommands : public QObject {
    Q_OBJECT
public:
    /// Follows the copy controller's work in the grid and the status bar; a
    /// double-click or Alt+Enter on the grid opens the properties windows.
    ToolsCommands(WindowContext& window, QObject* parent);

    /// The Tools menu opens (or the grid's right-click menu): what it offers
    /// follows the current row.
    void mTools_Click();
    /// The Target is read-only (an archive), as mTools_Click last found.
    bool TargetReadOnly() const { return targetReadOnly_; }
    void mToolsSwap_Click();
    void mToolsSetFilter_Click();
    /// Toggles the backup before a replacement; `itemToggled` when the menu
    /// item already changed its own check mark.
    void mToolsBackup_Click(bool itemToggled = false);
    void mToolsBackupFolder_Click();
    void mToolsCopySource_Click();
    void mToolsCopyBatch_Click();
    /// "File Properties...": the window of the current row's source file,
    /// then that of its target file, each when its command is enabled.
    void mToolsSourceProperties_Click();
    /// "Target File Properties...": the window of the current row's target file.
    void mToolsTargetProperties_Click();

private:
    void OnCopyingChanged(bool copying);
    void OnBatchFinished(bool interrupted);
    /// The file of the current row's `side` for its properties window.
    std::optional<sync::SideFile> CurrentSideFile(sync::RowSide side, bool readArchive) const;
    /// Opens the properties window of that file, with what is known of it.
    void ShowSideProperties(sync::RowSide side);

    WindowContext& window_;
    bool targetReadOnly_ = false;
};

} // namespace sorvane::shell
