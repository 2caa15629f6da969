#pragma once
// F1 on a highlighted menu item opens that item's help topic.

#include <QObject>

class QMenu;
class QStyle;

#include <functional>

namespace sorvane::platform {

/// The property of a QAction that holds its help context number.
inline constexpr const char* kHelpContextProperty = "helpContext";

/// Installed on menus: F1 closes the open menus and asks for the topic of the
/// highlighted item's help context (0 when nothing is highlighted or the item
/// has no number).
class MenuHelpKeys : public QObject {
    Q_OBJECT
public:
    MenuHelpKeys(std::function<void(int)> showTopic, QObject* parent);

    /// Watches `menu` for F1 and lets the keys and the pointer highlight its
    /// greyed items too, so that F1 explains why an item is off.
    void Watch(QMenu* menu);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void(int)> showTopic_;
    QStyle* menuStyle_ = nullptr;
};

} // namespace sorvane::platform
