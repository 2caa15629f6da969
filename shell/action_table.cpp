#include "shell/action_table.h"

#include "platform/help_keys.h"
#include "view/color_scheme.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QFile>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <QToolBar>

#include <algorithm>

namespace sorvane::shell {

QIcon ToolbarIcon(const char* name) {
    const QString path = QStringLiteral(":/icons/%1.svg").arg(QLatin1String(name));
    QFile file(path);
    if (!view::IsDarkPalette(QApplication::palette()) || !file.open(QIODevice::ReadOnly))
        return QIcon(path);
    QSvgRenderer renderer(view::ReadableSvg(file.readAll(), QApplication::palette()));
    QIcon icon;
    for (const int size : {16, 20, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

ActionTable::ActionTable(QMainWindow& window) : QObject(&window), window_(window) {}

void ActionTable::AddMenus(const std::vector<CommandSpec>& menus) {
    for (const CommandSpec& spec : menus) {
        QMenu* menu = window_.menuBar()->addMenu(spec.caption);
        menu->setObjectName(spec.name);
        menus_[spec.name] = menu;
        Fill(*menu, spec.items);
        if (spec.opening)
            connect(menu, &QMenu::aboutToShow, this, spec.opening);
    }
}

void ActionTable::Fill(QMenu& menu, const std::vector<CommandSpec>& items) {
    for (const CommandSpec& spec : items) {
        if (spec.name.isEmpty()) {
            menu.addSeparator();
        } else if (!spec.items.empty()) {
            QMenu* sub = menu.addMenu(spec.caption);
            sub->setObjectName(spec.name);
            menus_[spec.name] = sub;
            if (spec.help != 0)
                sub->menuAction()->setProperty(platform::kHelpContextProperty, spec.help);
            Fill(*sub, spec.items);
            if (spec.opening)
                connect(sub, &QMenu::aboutToShow, this, spec.opening);
        } else {
            Add(spec, menu);
        }
    }
}

QAction* ActionTable::Add(const CommandSpec& spec, QMenu& menu) {
    auto* item = new QAction(spec.caption, &window_);
    item->setObjectName(spec.name);
    if (!spec.key.isEmpty()) {
        item->setShortcut(spec.key);
        item->setShortcutContext(Qt::WindowShortcut);
    }
    if (!spec.keyText.isEmpty())
        item->setText(spec.caption + QLatin1Char('\t') + spec.keyText);
    item->setCheckable((spec.flags & CommandSpec::kCheckable) != 0);
    if (!spec.group.isEmpty()) {
        QActionGroup*& group = groups_[spec.group];
        if (group == nullptr)
            group = new QActionGroup(this);
        group->addAction(item);
    }
    if (spec.help != 0)
        item->setProperty(platform::kHelpContextProperty, spec.help);
    window_.addAction(item); // shortcuts work while the menu bar is closed
    menu.addAction(item);
    if ((spec.flags & CommandSpec::kHidden) != 0)
        item->setVisible(false);
    if (spec.run)
        connect(item, &QAction::triggered, this, spec.run);
    actions_[spec.name] = item;
    return item;
}

void ActionTable::AddButtons(const std::vector<ButtonSpec>& buttons) {
    for (const ButtonSpec& spec : buttons) {
        auto* button = new QAction(ToolbarIcon(spec.icon), spec.description, &window_);
        button->setObjectName(QStringLiteral("button") + spec.key);
        button->setToolTip(spec.tip);
        button->setWhatsThis(spec.tip);
        button->setCheckable(spec.checkable);
        const QString key = spec.key;
        connect(button, &QAction::triggered, this, [this, key] { pbToolbar_ButtonClick(key); });
        buttons_[spec.key] = button;
        clicks_[spec.key] = spec.run;
        buttonOrder_.push_back(spec.key);
    }
}

void ActionTable::PlaceButtons(QToolBar& band) {
    for (const QString& key : buttonOrder_)
        band.addAction(buttons_.at(key));
}

void ActionTable::AddBandButton(const QString& key, QAction* button) { buttons_[key] = button; }

QAction* ActionTable::action(const QString& name) const {
    const auto it = actions_.find(name);
    return it == actions_.end() ? nullptr : it->second;
}

QAction* ActionTable::button(const QString& key) const {
    const auto it = buttons_.find(key);
    return it == buttons_.end() ? nullptr : it->second;
}

QMenu* ActionTable::menu(const QString& name) const {
    const auto it = menus_.find(name);
    return it == menus_.end() ? nullptr : it->second;
}

QString ActionTable::ButtonKey(const QString& command) const {
    const auto key = std::ranges::find_if(buttonOrder_, [&](const QString& k) {
        return k.compare(command, Qt::CaseInsensitive) == 0;
    });
    return key == buttonOrder_.end() ? QString() : *key;
}

void ActionTable::pbToolbar_ButtonClick(const QString& key) {
    const QString known = ButtonKey(key);
    if (known.isEmpty())
        return;
    if (const auto& click = clicks_.at(known))
        click();
}

std::vector<platform::ToolbarButtonState> ActionTable::ToolbarButtons(const QToolBar& band) const {
    std::vector<platform::ToolbarButtonState> states;
    for (QAction* shown : band.actions()) {
        for (const QString& key : buttonOrder_) {
            if (buttons_.at(key) == shown)
                states.push_back({key, shown->text(), shown->isVisible()});
        }
    }
    return states;
}

void ActionTable::ApplyToolbarButtons(QToolBar& band,
                                      const std::vector<platform::ToolbarButtonState>& buttons) {
    std::vector<QString> seen;
    for (QAction* shown : band.actions())
        band.removeAction(shown);
    for (const auto& state : buttons) {
        const auto it = buttons_.find(state.key);
        if (it == buttons_.end() ||
            std::find(buttonOrder_.begin(), buttonOrder_.end(), state.key) == buttonOrder_.end() ||
            std::find(seen.begin(), seen.end(), state.key) != seen.end())
            continue;
        seen.push_back(state.key);
        band.addAction(it->second);
        it->second->setVisible(state.visible);
    }
    // Buttons the saved layout does not know go at the end, shown.
    for (const QString& key : buttonOrder_) {
        if (std::find(seen.begin(), seen.end(), key) == seen.end()) {
            band.addAction(buttons_.at(key));
            buttons_.at(key)->setVisible(true);
        }
    }
}

QStringList ActionTable::ToolbarLayout(const QToolBar& band) const {
    QStringList entries;
    for (const auto& state : ToolbarButtons(band))
        entries << (state.visible ? state.key : QStringLiteral("-") + state.key);
    return entries;
}

void ActionTable::RestoreToolbarLayout(QToolBar& band, const QStringList& saved) {
    if (saved.isEmpty())
        return;
    std::vector<platform::ToolbarButtonState> states;
    for (const QString& entry : saved) {
        const bool hidden = entry.startsWith(QLatin1Char('-'));
        states.push_back({hidden ? entry.mid(1) : entry, {}, !hidden});
    }
    ApplyToolbarButtons(band, states);
}

} // namespace sorvane::shell
