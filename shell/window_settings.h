#pragma once
// The window's settings: read once at start-up (place and size, paths and
// their lists, toggles, columns, sort, colours, font, find box) and written
// once when it closes; the band layout and the tool bar's buttons, applied
// when the window is first shown.

#include "engine/settings/settings_store.h"

#include <QObject>
#include <QString>

namespace sorvane::shell {

struct WindowContext;
class HelpMenu;
class ToolsCommands;
class ViewCommands;

class WindowSettings : public QObject {
    Q_OBJECT
public:
    WindowSettings(WindowContext& window, ViewCommands& view, ToolsCommands& tools,
                   HelpMenu& help, QObject* parent);

    /// Reads the settings file; `commandLineSource`, when given, is the Source.
    void LoadSettings(const QString& commandLineSource);
    /// The window is shown for the first time: the bands are placed as
    /// saved, and the window gets the room they need, on the screen.
    void FirstActivation();
    /// Reads the file again and writes the window's state into it.
    void SaveSettings();

private:
    void LoadBandLayout();
    void SaveBandLayout();
    void SetMinimumWindowSize(int bandRowWidth, int bandRows);

    WindowContext& window_;
    ViewCommands& view_;
    ToolsCommands& tools_;
    HelpMenu& help_;
    /// The settings file as read at start-up (the band layout of the first
    /// activation comes from it too) and again at shut-down.
    SettingsDocument settings_;
    bool firstStart_ = false; ///< no window position was saved
};

} // namespace sorvane::shell
