#pragma once
// The window's commands as one table: each menu item's name, caption, key,
// help context and handler, each tool bar button's key, icon, tip and
// handler. It builds the menus, the main tool bar's buttons and the help
// contexts F1 opens, and finds an action by its name afterwards.

#include "platform/dialogs.h"

#include <QKeySequence>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <vector>

class QAction;
class QActionGroup;
class QIcon;
class QMainWindow;
class QMenu;
class QToolBar;

namespace sorvane::shell {

/// A tool bar icon of the program's own, by its name ("scan"); on a dark
/// palette its dark strokes are drawn lighter.
QIcon ToolbarIcon(const char* name);

/// A menu item, a sub-menu (with items) or a separator (no name).
struct CommandSpec {
    enum Flag : unsigned { kCheckable = 1, kHidden = 2 };
    QString name;            ///< object name: "mFileScan", "mViewToolbars"
    QString caption;
    QKeySequence key = {};
    int help = 0;            ///< the help context F1 opens on the item
    std::function<void()> run = {};
    unsigned flags = 0;
    /// The key shown beside the caption when no shortcut shows it ("Alt+F4").
    QString keyText = {};
    /// Checkable items of one group exclude each other.
    QString group = {};
    std::vector<CommandSpec> items = {};
    /// Runs each time the sub-menu opens.
    std::function<void()> opening = {};
};

/// A button of the main tool bar.
struct ButtonSpec {
    QString key;             ///< "Scan", the name other programs click it by
    QString description;     ///< the button's text, and its line in the customise dialog
    QString tip;
    const char* icon;
    bool checkable;
    std::function<void()> run;
};

class ActionTable : public QObject {
    Q_OBJECT
public:
    explicit ActionTable(QMainWindow& window);

    /// Builds the menu bar's menus from `menus`, in order.
    void AddMenus(const std::vector<CommandSpec>& menus);
    /// Makes the main tool bar's buttons, in order: actions of their own, so
    /// hiding a button never hides a menu item.
    void AddButtons(const std::vector<ButtonSpec>& buttons);
    /// Puts the main buttons on `band` in their designed order.
    void PlaceButtons(QToolBar& band);
    /// A button of a path band, found by `key` like the main ones.
    void AddBandButton(const QString& key, QAction* button);

    QAction* action(const QString& name) const;
    QAction* button(const QString& key) const;
    QMenu* menu(const QString& name) const;
    const std::map<QString, QAction*>& actions() const { return actions_; }
    /// The main tool bar's keys, as designed.
    const std::vector<QString>& ButtonOrder() const { return buttonOrder_; }
    /// The key of `command` among the main buttons, in any letter case; empty if none.
    QString ButtonKey(const QString& command) const;

    /// A click of the main tool bar's button `key` (any letter case); an
    /// unknown key does nothing.
    void pbToolbar_ButtonClick(const QString& key);

    /// The main tool bar's buttons in their order on `band`, shown or not.
    std::vector<platform::ToolbarButtonState> ToolbarButtons(const QToolBar& band) const;
    /// Puts the buttons on `band` in the order given, each shown or hidden;
    /// unknown and repeated keys are dropped, buttons not named go at the end, shown.
    void ApplyToolbarButtons(QToolBar& band, const std::vector<platform::ToolbarButtonState>& buttons);
    /// The buttons as the settings keep them: keys in order, a "-" before a hidden one.
    QStringList ToolbarLayout(const QToolBar& band) const;
    void RestoreToolbarLayout(QToolBar& band, const QStringList& saved);

private:
    QAction* Add(const CommandSpec& spec, QMenu& menu);
    void Fill(QMenu& menu, const std::vector<CommandSpec>& items);

    QMainWindow& window_;
    std::map<QString, QAction*> actions_;
    std::map<QString, QMenu*> menus_;
    std::map<QString, QActionGroup*> groups_;
    std::map<QString, QAction*> buttons_;
    std::map<QString, std::function<void()>> clicks_;
    std::vector<QString> buttonOrder_;
};

} // namespace sorvane::shell
