#include "platform/help_keys.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>

namespace sorvane::platform {

MenuHelpKeys::MenuHelpKeys(std::function<void(int)> showTopic, QObject* parent)
    : QObject(parent), showTopic_(std::move(showTopic)) {}

bool MenuHelpKeys::eventFilter(QObject* watched, QEvent* event) {
    auto* menu = qobject_cast<QMenu*>(watched);
    if (menu == nullptr || event->type() != QEvent::KeyPress ||
        static_cast<QKeyEvent*>(event)->key() != Qt::Key_F1)
        return QObject::eventFilter(watched, event);
    const QAction* item = menu->activeAction();
    const int context = item != nullptr ? item->property(kHelpContextProperty).toInt() : 0;
    // The help window must not open under a menu that still holds the keyboard.
    QWidget* last = nullptr;
    while (QWidget* popup = QApplication::activePopupWidget()) {
        if (popup == last)
            break;
        last = popup;
        popup->close();
    }
    showTopic_(context);
    return true;
}

} // namespace sorvane::platform
