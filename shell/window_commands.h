#pragma once
// Every command of the window in one list: the menus with their items'
// captions, keys, help contexts and handlers, and the main tool bar's buttons
// with their keys, icons and tips. It also says which commands are enabled.

#include <QObject>

namespace sorvane::shell {

struct WindowContext;
class ActionTable;
class EditCommands;
class FileCommands;
class HelpMenu;
class ScanSession;
class ToolsCommands;
class ViewCommands;

/// The rooms whose handlers the commands run.
struct CommandRooms {
    FileCommands& files;
    EditCommands& edit;
    ViewCommands& view;
    ToolsCommands& tools;
    ScanSession& scan;
    HelpMenu& help;
};

class WindowCommands : public QObject {
    Q_OBJECT
public:
    WindowCommands(WindowContext& window, CommandRooms rooms, QObject* parent);

    /// Builds the menus and the main tool bar's buttons into `table`.
    void Build(ActionTable& table);
    /// Recomputes what is enabled: while a scan or a copy runs only Stop
    /// (and Exit); otherwise each command as its menu would on opening.
    void UpdateCommandState();

private:
    WindowContext& window_;
    CommandRooms rooms_;
};

} // namespace sorvane::shell
