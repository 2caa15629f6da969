#include "platform/help_keys.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOption>

namespace sorvane::platform {

namespace {

class GreyedItemsStyle final : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returned) const override {
        if (hint == QStyle::SH_Menu_AllowActiveAndDisabled)
            return 1;
        return QProxyStyle::styleHint(hint, option, widget, returned);
    }

    // Styles draw no highlight under a greyed item; a faint one shows where
    // the keys are.
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        if (element == CE_MenuItem && (option->state & State_Selected) &&
            !(option->state & State_Enabled)) {
            QColor shade = option->palette.color(QPalette::Active, QPalette::Highlight);
            shade.setAlpha(60);
            painter->fillRect(option->rect, shade);
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }
};

} // namespace

MenuHelpKeys::MenuHelpKeys(std::function<void(int)> showTopic, QObject* parent)
    : QObject(parent), showTopic_(std::move(showTopic)) {
    menuStyle_ = new GreyedItemsStyle;
    menuStyle_->setParent(this);
}

void MenuHelpKeys::Watch(QMenu* menu) {
    menu->installEventFilter(this);
    menu->setStyle(menuStyle_);
}

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
