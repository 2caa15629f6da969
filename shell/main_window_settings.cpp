// The main window's start and shut-down: its settings read once at start-up
// and written once when it closes, the band layout and the tool bar's buttons.

#include "shell/main_window.h"
#include "shell/main_window_parts.h"

#include "engine/text/language_table.h"
#include "engine/text/number_utils.h"
#include "engine/text/path_utils.h"
#include "engine/settings/settings_records.h"
#include "engine/settings/settings_store.h"
#include "platform/update_check.h"
#include "shell/app_info.h"
#include "shell/program_record.h"
#include "view/path_box.h"
#include "view/color_scheme.h"
#include "view/grid_search.h"
#include "view/result_view.h"
#include "view/window_layout.h"

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenuBar>
#include <QScrollBar>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>

#include <algorithm>
#include <string>
#include <vector>

namespace sorvane::shell {

using namespace window_parts;

void MainWindow::LoadSettings() {
    // One read of the file; every setting below comes from this copy.
    settings_ = SettingsDocument::Load(datFile_);
    const SettingsDocument& file = settings_;
    // The update check asks the maker's site unless the settings name another
    // (a server of one's own network, or a test's).
    updateAddress_ = platform::UpdateAddress(
        Qt8(ReadSetting(file, "Update", "Address", kWebAddress)), QString::fromLatin1(kProgramTitle));
    SetMenuKeyText(actions_.at(QStringLiteral("mFileExit")), QStringLiteral("Alt+F4"));
    SetMenuKeyText(actions_.at(QStringLiteral("mEditDelete")), QStringLiteral("Del"));
    SetMenuKeyText(actions_.at(QStringLiteral("mToolsSourceProperties")), QStringLiteral("Alt+Enter"));
    SetMenuKeyText(actions_.at(QStringLiteral("mHelpTopics")), QStringLiteral("F1"));
    baseCaption_ = BaseCaption();
    setWindowTitle(baseCaption_);

    // Position and state, in pixels: the position is the frame's, the size
    // the client area's. The first start opens on two thirds of the screen;
    // a saved place is fitted to the screen as it is now.
    const int state = ToInt32(ReadNumberSetting(file, "Position", "State", 0));
    const int width = ToInt32(ReadNumberSetting(file, "Position", "Width", 0));
    const int height = ToInt32(ReadNumberSetting(file, "Position", "Height", 0));
    const QPoint savedAt(ToInt32(ReadNumberSetting(file, "Position", "Left", 0)),
                         ToInt32(ReadNumberSetting(file, "Position", "Top", 0)));
    QScreen* screen = QGuiApplication::screenAt(savedAt);
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    const QRect available = screen != nullptr ? screen->availableGeometry()
                                              : QRect(0, 0, kDesignedWidth, kDesignedHeight);
    firstStart_ = width <= 0 || height <= 0;
    const QRect frame =
        !firstStart_
            ? view::FitOnScreen(QRect(savedAt, QSize(std::max(width, kSmallestWidth),
                                                     std::max(height, kSmallestHeight))),
                                available)
            : view::FirstWindowGeometry(available);
    move(frame.topLeft());
    resize(frame.size());
    if (state == 2)
        setWindowState(Qt::WindowMaximized);
    else if (state == 1)
        setWindowState(Qt::WindowMinimized);

    model_->SetColorSet(view::RestoreColors(QApplication::palette(), [&](const char* key, double fallback) {
        return ReadNumberSetting(file, "Color", key, fallback);
    }));
    ApplyColors();
    DrawColorSwatches();
    NoteLowContrast();

    const auto history = [&](view::PathBox* box, const char* section) {
        QStringList items;
        for (const auto& item : LoadListSection(file, section))
            items << Qt8(item);
        box->SetHistory(items);
    };
    history(cbSource_, "Source");
    history(cbTarget_, "Target");
    history(cbFilter_, "Filter");
    cbSource_->FindListItem(Qt8(ReadSetting(file, "General", "Source")), true);
    if (!options_.commandLineSource.isEmpty()) {
        // Asked for by name: it is the Source, listed before or not.
        cbSource_->SetText(Qt8(NormalizeFolderPath(Utf8(options_.commandLineSource), false)));
        cbSource_->AddToHistory();
    }
    cbTarget_->FindListItem(Qt8(ReadSetting(file, "General", "Target")), true);
    cbFilter_->FindListItem(Qt8(ReadSetting(file, "General", "Filter")), true);

    mViewShowFiles_Click(ToInt32(ReadNumberSetting(file, "General", "Different", 1)));

    // The toggles are set to the opposite and then toggled once, so the check
    // mark, the button and the state all end up agreeing.
    actions_.at(QStringLiteral("mViewSubfolders"))
        ->setChecked(ReadNumberSetting(file, "General", "Subfolders", 0) == 0);
    mViewSubfolders_Click();
    backupFolder_ = ReadSetting(file, "General", "BackupDir");
    actions_.at(QStringLiteral("mToolsBackup"))
        ->setChecked(ReadNumberSetting(file, "General", "Backup", 1) == 0);
    mToolsBackup_Click();
    const bool statusShown = ReadNumberSetting(file, "General", "StatusBar", 1) == 1;
    actions_.at(QStringLiteral("mViewStatus"))->setChecked(statusShown);
    statusBar()->setVisible(statusShown);

    const QFont gridFont = FromRecord(LoadFontRecord(file, "Font", "", ToRecord(grid_->font())));
    grid_->setFont(gridFont);
    tbSearch_->setFont(view::SearchBoxFont(gridFont));

    const std::string columns = ReadSetting(file, "General", "Columns", std::string(kDataColumns, '1'));
    // Files without the list of user-set widths count a width other than the
    // default as the user's.
    const std::string sized = ReadSetting(file, "Grid", "Sized");
    for (int i = 1; i <= kDataColumns; ++i) {
        const bool shown = static_cast<std::size_t>(i) <= columns.size() &&
                           NumericValue(columns.substr(static_cast<std::size_t>(i - 1), 1)) != 0;
        actions_.at(QStringLiteral("mViewColumns%1").arg(i))->setChecked(shown);
        const int stored = ToInt32(ReadNumberSetting(file, "Grid", "Col" + std::to_string(i),
                                                     view::ResultView::DefaultWidth(i)));
        grid_->SetColumnWidthPx(i, shown ? stored : 0);
        grid_->SetColumnUserSized(i, sized.size() == kDataColumns
                                         ? sized[static_cast<std::size_t>(i - 1)] == '1'
                                         : shown && stored != view::ResultView::DefaultWidth(i));
    }

    int sortKey = ToInt32(ReadNumberSetting(file, "Grid", "SortKey", 0));
    if (sortKey < 0 || sortKey > kGridColumnCount - 2)
        sortKey = 0;
    if (sortKey != 0)
        mViewArrange_Click(sortKey);
    else
        mViewArrangeNone_Click();
    grid_->SelectRow(0);
    mViewOrder_Click(ReadNumberSetting(file, "Grid", "Ascend", 1) == 1 ? 0 : 1);

    findState_.Load(file, "FindBox");
    LanguageName(0); // builds the language table now rather than in the first scan
}

void MainWindow::SaveSettings() {
    // Read again, so that keys written since start-up (by another copy of
    // the program, or the last save folder) are kept; then written once.
    settings_ = SettingsDocument::Load(datFile_);
    SettingsDocument& file = settings_;
    WriteSetting(file, "General", "Source", Utf8(cbSource_->Text()));
    WriteSetting(file, "General", "Target", Utf8(cbTarget_->Text()));
    WriteSetting(file, "General", "Filter", Utf8(cbFilter_->Text()));
    WriteNumberSetting(file, "General", "Different", displayMode_);
    WriteNumberSetting(file, "General", "Subfolders",
                       actions_.at(QStringLiteral("mViewSubfolders"))->isChecked() ? 1 : 0);
    WriteSetting(file, "General", "BackupDir", backupFolder_);
    WriteNumberSetting(file, "General", "Backup",
                       actions_.at(QStringLiteral("mToolsBackup"))->isChecked() ? 1 : 0);
    WriteNumberSetting(file, "General", "StatusBar",
                       actions_.at(QStringLiteral("mViewStatus"))->isChecked() ? 1 : 0);
    std::string columns;
    for (int i = 1; i <= kDataColumns; ++i)
        columns += actions_.at(QStringLiteral("mViewColumns%1").arg(i))->isChecked() ? '1' : '0';
    WriteSetting(file, "General", "Columns", columns);

    const Qt::WindowStates states = windowState();
    const int state = (states & Qt::WindowMinimized) ? 1 : (states & Qt::WindowMaximized) ? 2 : 0;
    // Maximised or minimised, the bounds to keep are the normal ones.
    const QPoint frameOffset = geometry().topLeft() - pos();
    const QRect bounds =
        state == 0 ? QRect(pos(), size()) : normalGeometry().translated(-frameOffset);
    WriteNumberSetting(file, "Position", "State", state);
    WriteNumberSetting(file, "Position", "Left", bounds.left());
    WriteNumberSetting(file, "Position", "Top", bounds.top());
    WriteNumberSetting(file, "Position", "Width", bounds.width());
    WriteNumberSetting(file, "Position", "Height", bounds.height());

    SaveBandLayout();
    SaveToolbarLayout(file, ToolbarLayout());
    // Where the program is and which version it is, kept with the rest.
    WriteInstallRecord(file, QCoreApplication::applicationDirPath(), VersionText());

    WriteNumberSetting(file, "Grid", "SortKey", sortKey_);
    WriteNumberSetting(file, "Grid", "Ascend", ascending_ ? 1 : 0);
    for (int i = 1; i <= kDataColumns; ++i)
        WriteNumberSetting(file, "Grid", "Col" + std::to_string(i),
                           grid_->IsColumnVisible(i) ? grid_->ColumnWidthPx(i) : 0);
    WriteSetting(file, "Grid", "Sized", grid_->UserSizedText());
    SaveFontRecord(file, "Font", "", ToRecord(grid_->font()));
    for (const auto& [key, value] : view::StoredColors(model_->Colors(), QApplication::palette()))
        WriteNumberSetting(file, "Color", key, value);
    findState_.Save(file, "FindBox");
    const auto history = [&](view::PathBox* box, const char* section) {
        std::vector<std::string> items;
        for (const QString& item : box->History())
            items.push_back(Utf8(item));
        SaveListSection(file, section, items);
    };
    history(cbSource_, "Source");
    history(cbTarget_, "Target");
    history(cbFilter_, "Filter");
    // Nobody is left to tell in a window that is closing: the reason goes
    // to the terminal the program was started from, if any.
    if (const std::string why = file.SaveOrSayWhy(); !why.empty() && !datFile_.empty())
        std::fprintf(stderr, "sorvane: the settings could not be saved to %s: %s\n",
                     datFile_.c_str(), why.c_str());
}

// Bands keep their order, row breaks and visibility in the "CoolBar" record;
// the first band is the one shown first.
void MainWindow::LoadBandLayout() {
    // Without a saved layout the buttons share the first row with the short
    // filter, and each path gets a row of its own, so both can be read and
    // typed in whole.
    std::vector<QToolBar*> order{pbToolbar_, pbFilter_, pbSource_, pbTarget_};
    std::vector<BandRecord> records;
    for (int n = 1; n <= kBandCount; ++n) {
        QToolBar* current = order[static_cast<std::size_t>(n - 1)];
        BandRecord defaults;
        defaults.newRow = current == pbSource_ || current == pbTarget_;
        defaults.visible = true;
        defaults.width = 0; // no width of its own: the rows share out the room
        defaults.name = Utf8(current->objectName());
        const BandRecord record = LoadBandRecord(settings_, "CoolBar", n, defaults);
        records.push_back(record);
    }
    std::vector<view::BandPlacement> placements;
    for (const BandRecord& record : records)
        placements.push_back({record.name, record.newRow, record.visible, ToInt32(record.width)});
    std::vector<view::Band> bands;
    for (QToolBar* bar : order)
        bands.push_back({bar, BoxOfBand(bar)});
    const view::BandRows rows =
        view::ArrangeBands(*this, bands, placements, [](QWidget* box, int width) {
            static_cast<view::PathBox*>(box)->SetPreferredWidth(width);
        });
    // The buttons band also keeps which of its buttons are shown.
    for (const BandRecord& record : records) {
        if (Qt8(record.name) != pbToolbar_->objectName() || record.buttons.empty())
            continue;
        for (std::size_t b = 0; b < buttonOrder_.size(); ++b)
            buttons_.at(buttonOrder_[b])
                ->setVisible(b >= record.buttons.size() || record.buttons[b] > '0');
    }
    SetMinimumWindowSize(rows.widestRow, std::max(rows.shownRows, 1));
    // Tab goes through the boxes as they are placed, then to the grid.
    QWidget* previous = nullptr;
    for (QWidget* next : rows.boxes) {
        if (previous != nullptr)
            setTabOrder(previous, next);
        previous = next;
    }
    if (previous != nullptr)
        setTabOrder(previous, grid_);
}

view::PathBox* MainWindow::BoxOfBand(const QToolBar* bar) const {
    if (bar == pbSource_)
        return cbSource_;
    if (bar == pbTarget_)
        return cbTarget_;
    if (bar == pbFilter_)
        return cbFilter_;
    return nullptr;
}

// Small enough for a small screen, large enough that bands, boxes and status
// panels never overlap and a few rows of the grid stay in sight.
void MainWindow::SetMinimumWindowSize(int bandRowWidth, int bandRows) {
    constexpr int kGridRowsInSight = 4;
    const int width = std::max({bandRowWidth, statusBar()->minimumSizeHint().width() + 24,
                                kSmallestWidth});
    const int height = menuBar()->sizeHint().height() +
                       bandRows * pbToolbar_->sizeHint().height() +
                       grid_->horizontalHeader()->sizeHint().height() +
                       kGridRowsInSight * grid_->verticalHeader()->defaultSectionSize() +
                       grid_->horizontalScrollBar()->sizeHint().height() +
                       statusBar()->sizeHint().height();
    QSize smallest(width, std::max(height, kSmallestHeight));
    if (screen() != nullptr)
        smallest = smallest.boundedTo(screen()->availableGeometry().size());
    setMinimumSize(smallest);
}

void MainWindow::SaveBandLayout() {
    std::vector<QToolBar*> bars{pbToolbar_, pbSource_, pbTarget_, pbFilter_};
    // Display order: row by row, left to right (with breaks between rows).
    std::stable_sort(bars.begin(), bars.end(), [](QToolBar* a, QToolBar* b) {
        return a->y() != b->y() ? a->y() < b->y() : a->x() < b->x();
    });
    for (std::size_t i = 0; i < bars.size(); ++i) {
        QToolBar* bar = bars[i];
        BandRecord record;
        record.newRow = i > 0 && bar->y() != bars[i - 1]->y();
        record.visible = !bar->isHidden();
        record.width = bar->width();
        record.name = Utf8(bar->objectName());
        record.index = -1;
        if (bar == pbToolbar_) {
            for (const QString& key : buttonOrder_)
                record.buttons += buttons_.at(key)->isVisible() ? '1' : '0';
        }
        SaveBandRecord(settings_, "CoolBar", static_cast<int>(i) + 1, record);
    }
}

std::vector<platform::ToolbarButtonState> MainWindow::ToolbarButtons() const {
    std::vector<platform::ToolbarButtonState> states;
    for (QAction* action : pbToolbar_->actions()) {
        for (const QString& key : buttonOrder_) {
            if (buttons_.at(key) == action)
                states.push_back({key, action->text(), action->isVisible()});
        }
    }
    return states;
}

void MainWindow::ApplyToolbarButtons(const std::vector<platform::ToolbarButtonState>& buttons) {
    std::vector<QString> seen;
    for (QAction* action : pbToolbar_->actions())
        pbToolbar_->removeAction(action);
    for (const auto& state : buttons) {
        const auto it = buttons_.find(state.key);
        if (it == buttons_.end() ||
            std::find(buttonOrder_.begin(), buttonOrder_.end(), state.key) == buttonOrder_.end() ||
            std::find(seen.begin(), seen.end(), state.key) != seen.end())
            continue;
        seen.push_back(state.key);
        pbToolbar_->addAction(it->second);
        it->second->setVisible(state.visible);
    }
    // Buttons the saved layout does not know go at the end, shown.
    for (const QString& key : buttonOrder_) {
        if (std::find(seen.begin(), seen.end(), key) == seen.end()) {
            pbToolbar_->addAction(buttons_.at(key));
            buttons_.at(key)->setVisible(true);
        }
    }
}

// The main tool bar's buttons, in order, a "-" before a hidden one.
void MainWindow::RestoreToolbarButtons() {
    const QStringList saved = LoadToolbarLayout(settings_);
    if (saved.isEmpty())
        return;
    std::vector<platform::ToolbarButtonState> states;
    for (const QString& entry : saved) {
        const bool hidden = entry.startsWith(QLatin1Char('-'));
        states.push_back({hidden ? entry.mid(1) : entry, {}, !hidden});
    }
    ApplyToolbarButtons(states);
}

QStringList MainWindow::ToolbarLayout() const {
    QStringList entries;
    for (const auto& state : ToolbarButtons())
        entries << (state.visible ? state.key : QStringLiteral("-") + state.key);
    return entries;
}

} // namespace sorvane::shell
