#include "shell/view_commands.h"

#include "engine/scan/row_sort.h"
#include "engine/scan/source_map.h"
#include "engine/text/path_utils.h"
#include "shell/program_record.h"
#include "shell/action_table.h"
#include "shell/window_context.h"
#include "view/color_scheme.h"
#include "view/path_box.h"
#include "view/result_model.h"
#include "view/result_view.h"
#include "view/status_panels.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QStatusBar>
#include <QToolBar>

#include <algorithm>
#include <array>

namespace sorvane::shell {

ViewCommands::ViewCommands(WindowContext& window, QObject* parent)
    : QObject(parent), window_(window) {
    connect(window_.grid, &view::ResultView::HeaderClicked, this, [this](int column) {
        if (column >= kNameColumn && column <= kCopyrightColumn)
            SortByHeader(column);
    });
    QStatusBar* bar = &window_.panels->bar();
    bar->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(bar, &QWidget::customContextMenuRequested, this,
            [this, bar](const QPoint& at) { ShowViewMenuAt(bar->mapToGlobal(at)); });
}

void ViewCommands::WatchBand(QToolBar& band, bool customizeOnDoubleClick) {
    band.setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&band, &QWidget::customContextMenuRequested, this,
            [this, &band](const QPoint& at) { ShowViewMenuAt(band.mapToGlobal(at)); });
    if (customizeOnDoubleClick)
        band.installEventFilter(this);
}

bool ViewCommands::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick && qobject_cast<QToolBar*>(watched)) {
        mViewCustomize_Click();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void ViewCommands::ShowViewMenuAt(const QPoint& globalPos) {
    QMenu* menu = window_.commands->menu(QStringLiteral("mView"));
    mView_Click();
    menu->setDefaultAction(window_.action("mViewCustomize"));
    menu->exec(globalPos);
    menu->setDefaultAction(nullptr);
}

void ViewCommands::mView_Click() {
    window_.action("mViewResizeColumns")->setEnabled(window_.model->HasResults());
    window_.action("mViewSubfolders")->setEnabled(!window_.state.sourceIsMap);
    // A map holds no bytes to compare, only their hashes when it was saved
    // with this on; its first entry tells.
    window_.action("mViewContents")
        ->setEnabled(!window_.state.sourceIsMap ||
                     SourceMapHoldsHashes(NormalizeFolderPath(Utf8(window_.source->Text()), false)));
    for (int i = 1; i <= kBandTotal; ++i)
        window_.action(QStringLiteral("mViewToolbar%1").arg(i))
            ->setChecked(!window_.bands[static_cast<std::size_t>(i - 1)]->isHidden());
}

void ViewCommands::mViewArrangeBy_Click() {
    for (int i = 1; i <= kDataColumns; ++i)
        window_.action(QStringLiteral("mViewArrange%1").arg(i))
            ->setEnabled(window_.grid->ColumnWidthPx(i) > 1);
    window_.action("mViewArrangeNone")->setEnabled(true);
}

void ViewCommands::mViewToolbar_Click(int index) {
    if (index < 1 || index > kBandTotal)
        return;
    window_.bands[static_cast<std::size_t>(index - 1)]->setVisible(
        window_.action(QStringLiteral("mViewToolbar%1").arg(index))->isChecked());
}

void ViewCommands::mViewStatus_Click() {
    window_.panels->bar().setVisible(window_.action("mViewStatus")->isChecked());
}

void ViewCommands::mViewResizeColumns_Click() { window_.grid->ResizeColumns(); }

void ViewCommands::mViewColumns_Click(int index) {
    window_.grid->SetColumnVisible(
        index, window_.action(QStringLiteral("mViewColumns%1").arg(index))->isChecked());
}

void ViewCommands::SortGrid() {
    if (window_.state.sortKey == 0)
        return;
    const int row = window_.model->Sort(window_.state.sortKey, window_.state.ascending,
                                        window_.grid->CurrentRow());
    window_.grid->SelectRow(row);
}

void ViewCommands::mViewArrange_Click(int index) {
    window_.action(QStringLiteral("mViewArrange%1").arg(std::clamp(index, 1, kDataColumns)))
        ->setChecked(index >= 1 && index <= kDataColumns);
    if (index == window_.state.sortKey)
        return;
    window_.state.sortKey = index;
    window_.model->SetSortColumn(index);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    SortGrid();
    QApplication::restoreOverrideCursor();
}

void ViewCommands::mViewArrangeNone_Click() {
    window_.action("mViewArrangeNone")->setChecked(true);
    if (window_.state.sortKey == 0)
        return;
    window_.state.sortKey = 0;
    window_.model->SetSortColumn(0);
}

void ViewCommands::mViewOrder_Click(int index) {
    window_.action(QStringLiteral("mViewOrder%1").arg(index == 0 ? 0 : 1))->setChecked(true);
    window_.state.ascending = index == 0;
    if (window_.state.settingUp)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    SortGrid();
    QApplication::restoreOverrideCursor();
}

void ViewCommands::SortByHeader(int column) {
    if (column == window_.state.sortKey) {
        mViewOrder_Click(window_.state.ascending ? 1 : 0);
        return;
    }
    window_.action("mViewOrder0")->setChecked(true);
    window_.state.ascending = true;
    mViewArrange_Click(column);
}

void ViewCommands::mViewSubfolders_Click(bool itemToggled) {
    QAction* item = window_.action("mViewSubfolders");
    if (!itemToggled) // the menu item toggles itself; everything else inverts it here
        item->setChecked(!item->isChecked());
    window_.commands->button(QStringLiteral("Recur"))->setChecked(item->isChecked());
    window_.NoteSettingsChanged();
}

void ViewCommands::mViewContents_Click() {
    window_.state.compareContents = window_.action("mViewContents")->isChecked();
    window_.NoteSettingsChanged();
}

void ViewCommands::mViewShowFiles_Click(int index) {
    for (int i = 0; i < 3; ++i)
        window_.action(QStringLiteral("mViewShowFiles%1").arg(i))->setChecked(i == index);
    window_.state.displayMode = index;
    window_.NoteSettingsChanged();
}

void ViewCommands::mViewColor_Click(int index) {
    if (window_.Busy() || index < 0 || index >= view::kColorCount)
        return;
    view::ResultModel& model = *window_.model;
    const auto chosen = window_.Dialogs().ChooseColor(window_.window, model.Colors().color(index),
                                                      tr("Color of %1").arg(ColorName(index)));
    if (!chosen)
        return;
    view::ColorSet colors = model.Colors();
    colors.Set(index, view::ToColorRef(*chosen));
    const int current = window_.grid->CurrentRow();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    model.SetColorSet(colors); // rows of categories 2 to 6 take their new colour
    QApplication::restoreOverrideCursor();
    ApplyColors();
    window_.grid->SelectRow(current);
    NoteLowContrast();
}

// A colour's category name: its item's caption without "&" and the closing "...".
QString ViewCommands::ColorName(int index) const {
    QString category = window_.action(QStringLiteral("mViewColor%1").arg(index))->text();
    category.remove(QLatin1Char('&'));
    category.chop(3);
    return category;
}

void ViewCommands::NoteLowContrast() {
    const auto low = view::LowContrastColor(window_.model->Colors());
    if (!low)
        return;
    window_.SetPanel(2, tr("The color of %1 is hard to read on the background (contrast %2:1).")
                            .arg(ColorName(low->first))
                            .arg(low->second, 0, 'f', 1));
}

void ViewCommands::ApplyColors() {
    const view::ColorSet& colors = window_.model->Colors();
    QPalette palette = window_.grid->palette();
    palette.setColor(QPalette::Base, colors.color(view::kBackgroundColor));
    palette.setColor(QPalette::Text, colors.color(view::kRegularTextColor));
    window_.grid->setPalette(palette);
    // Each colour item shows a 10 x 10 swatch of its colour in a black frame.
    for (int i = 0; i < view::kColorCount; ++i)
        window_.action(QStringLiteral("mViewColor%1").arg(i))
            ->setIcon(view::ColorSwatch(colors.color(i)));
}

void ViewCommands::mViewSetFont_Click() {
    if (window_.Busy())
        return;
    const auto chosen = window_.Dialogs().ChooseFont(
        window_.window, window_.grid->font(),
        window_.model->Colors().color(view::kRegularTextColor));
    if (!chosen)
        return;
    window_.grid->SetFontKeepingWidths(*chosen);
    window_.panels->searchBox()->setFont(view::SearchBoxFont(*chosen));
}

void ViewCommands::mViewCustomize_Click() {
    QToolBar& band = *window_.bands[kButtonsBand];
    const auto chosen =
        window_.Dialogs().CustomizeToolbar(window_.window, window_.commands->ToolbarButtons(band));
    if (!chosen)
        return;
    window_.commands->ApplyToolbarButtons(band, *chosen);
    // Kept at once, not only when the window closes.
    SaveToolbarLayout(window_.datFile, window_.commands->ToolbarLayout(band));
}

} // namespace sorvane::shell
