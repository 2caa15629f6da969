#pragma once
// What the rooms of the main window share: its widgets, the services it was
// started with and the working state the commands read and change. The main
// window fills it in as it builds itself; each room keeps a reference.

#include "engine/scan/comparison.h"
#include "platform/dialogs.h"

#include <QString>

#include <array>
#include <functional>
#include <string>
#include <vector>

class QAction;
class QMainWindow;
class QToolBar;

namespace sorvane::view {
class PathBox;
class ResultModel;
class ResultView;
class StatusPanels;
}
namespace sorvane::sync {
class CopyController;
enum class LeftOutOf;
}

namespace sorvane::shell {

class ActionTable;
class ScanRunner;

/// What the window is showing and how.
struct WindowState {
    bool sourceIsMap = false;
    int displayMode = 1;
    int sortKey = 0;
    bool ascending = true;
    CategoryCounters counters;
    /// True while the window restores its settings: handlers then change
    /// state without re-sorting or recomputing what is enabled.
    bool settingUp = true;
    std::string backupFolder;
    /// Pairs of equal version and size are also compared byte for byte.
    bool compareContents = false;
    /// The enabled state of "Target File Properties...", kept here because
    /// Qt disables every hidden action.
    bool targetPropertiesEnabled = false;
    platform::FindState findState;
};

/// The grid's data columns (Name to Copyright), numbered from 1 in the menus.
inline constexpr int kDataColumns = 10;

/// The tool bar bands by their designed place.
enum Band { kButtonsBand, kSourceBand, kTargetBand, kFilterBand, kBandTotal };

struct WindowContext {
    QMainWindow* window = nullptr;
    platform::DialogService* dialogs = nullptr;
    std::string datFile;
    view::ResultModel* model = nullptr;
    view::ResultView* grid = nullptr;
    ScanRunner* runner = nullptr;
    sync::CopyController* copier = nullptr;
    ActionTable* commands = nullptr;
    view::StatusPanels* panels = nullptr;
    view::PathBox* source = nullptr;
    view::PathBox* target = nullptr;
    view::PathBox* filter = nullptr;
    std::array<QToolBar*, kBandTotal> bands{};
    WindowState state;
    /// Recomputes what is enabled (set by the command list).
    std::function<void()> updateCommandState;

    platform::DialogService& Dialogs() const { return *dialogs; }
    /// The action of a menu item by its name ("mFileScan", "mViewColumns3").
    QAction* action(const QString& name) const;
    bool Scanning() const;
    /// A scan or a copy runs: everything but Stop is off.
    bool Busy() const;
    void UpdateCommandState() const;
    /// Marks shown results as out of date.
    void NoteSettingsChanged();
    void SetPanel(int panel, const QString& text) const;
    QString PanelText(int panel) const;
    /// The folder a path box names, tidied as a scan tidies it.
    std::string Folder(const view::PathBox* box) const;
    /// The path of the current row's file below the folder of `box`; empty
    /// when the row has no name or the box no text.
    std::string CurrentRowPath(const view::PathBox* box) const;
    /// A warning box with the program's title and an OK button.
    void Warn(const QString& text) const;
    /// Tells the user which files a save or copy left out, and why.
    void ShowLeftOut(sync::LeftOutOf where, const std::vector<std::string>& names) const;
};

} // namespace sorvane::shell
