#include "shell/window_settings.h"

#include "engine/settings/settings_records.h"
#include "engine/text/language_table.h"
#include "engine/text/number_utils.h"
#include "engine/text/path_utils.h"
#include "platform/update_check.h"
#include "shell/action_table.h"
#include "shell/app_info.h"
#include "shell/help_menu.h"
#include "shell/program_record.h"
#include "shell/tools_commands.h"
#include "shell/view_commands.h"
#include "shell/window_context.h"
#include "view/color_scheme.h"
#include "view/path_box.h"
#include "view/result_model.h"
#include "view/result_view.h"
#include "view/status_panels.h"
#include "view/window_layout.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QToolBar>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace sorvane::shell {

namespace {
constexpr int kDesignedWidth = 652;
constexpr int kDesignedHeight = 354;
constexpr int kSmallestWidth = 200;
constexpr int kSmallestHeight = 150;

std::string Utf8(const QString& text) { return text.toStdString(); }
QString Qt8(const std::string& text) { return QString::fromStdString(text); }

FontRecord ToRecord(const QFont& font) {
    FontRecord record;
    record.name = Utf8(font.family());
    record.size = font.pointSizeF() > 0 ? font.pointSizeF() : 8;
    record.bold = font.bold();
    record.weight = font.bold() ? 700 : 400;
    record.italic = font.italic();
    record.underline = font.underline();
    record.strikeout = font.strikeOut();
    return record;
}

QFont FromRecord(const FontRecord& record) {
    QFont font(Qt8(record.name));
    font.setPointSizeF(record.size > 0 ? record.size : 8);
    // The weight comes first; the bold flag then decides between normal and bold.
    font.setWeight(record.weight >= 600 ? QFont::Bold : QFont::Normal);
    font.setBold(record.bold);
    font.setItalic(record.italic);
    font.setUnderline(record.underline);
    font.setStrikeOut(record.strikeout);
    return font;
}
} // namespace

WindowSettings::WindowSettings(WindowContext& window, ViewCommands& view, ToolsCommands& tools,
                               HelpMenu& help, QObject* parent)
    : QObject(parent), window_(window), view_(view), tools_(tools), help_(help) {}

void WindowSettings::LoadSettings(const QString& commandLineSource) {
    QMainWindow& main = *window_.window;
    // One read of the file; every setting below comes from this copy.
    settings_ = SettingsDocument::Load(window_.datFile);
    const SettingsDocument& file = settings_;
    // The update check asks the maker's site unless the settings name another
    // (a server of one's own network, or a test's).
    help_.SetUpdateAddress(platform::UpdateAddress(
        Qt8(ReadSetting(file, "Update", "Address", kWebAddress)), QString::fromLatin1(kProgramTitle)));
    main.setWindowTitle(BaseCaption());

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
    main.move(frame.topLeft());
    main.resize(frame.size());
    if (state == 2)
        main.setWindowState(Qt::WindowMaximized);
    else if (state == 1)
        main.setWindowState(Qt::WindowMinimized);

    window_.model->SetColorSet(
        view::RestoreColors(QApplication::palette(), [&](const char* key, double fallback) {
            return ReadNumberSetting(file, "Color", key, fallback);
        }));
    view_.ApplyColors();
    view_.NoteLowContrast();

    const auto history = [&](view::PathBox* box, const char* section) {
        QStringList items;
        for (const auto& item : LoadListSection(file, section))
            items << Qt8(item);
        box->SetHistory(items);
    };
    history(window_.source, "Source");
    history(window_.target, "Target");
    history(window_.filter, "Filter");
    window_.source->FindListItem(Qt8(ReadSetting(file, "General", "Source")), true);
    if (!commandLineSource.isEmpty()) {
        // Asked for by name: it is the Source, listed before or not.
        window_.source->SetText(Qt8(NormalizeFolderPath(Utf8(commandLineSource), false)));
        window_.source->AddToHistory();
    }
    window_.target->FindListItem(Qt8(ReadSetting(file, "General", "Target")), true);
    window_.filter->FindListItem(Qt8(ReadSetting(file, "General", "Filter")), true);

    view_.mViewShowFiles_Click(ToInt32(ReadNumberSetting(file, "General", "Different", 1)));

    // The toggles are set to the opposite and then toggled once, so the check
    // mark, the button and the state all end up agreeing.
    window_.action("mViewSubfolders")
        ->setChecked(ReadNumberSetting(file, "General", "Subfolders", 0) == 0);
    view_.mViewSubfolders_Click();
    window_.state.backupFolder = ReadSetting(file, "General", "BackupDir");
    window_.action("mToolsBackup")->setChecked(ReadNumberSetting(file, "General", "Backup", 1) == 0);
    tools_.mToolsBackup_Click();
    window_.state.compareContents = ReadNumberSetting(file, "General", "Content", 0) == 1;
    window_.action("mViewContents")->setChecked(window_.state.compareContents);
    const bool statusShown = ReadNumberSetting(file, "General", "StatusBar", 1) == 1;
    window_.action("mViewStatus")->setChecked(statusShown);
    window_.panels->bar().setVisible(statusShown);

    view::ResultView& grid = *window_.grid;
    const QFont gridFont = FromRecord(LoadFontRecord(file, "Font", "", ToRecord(grid.font())));
    grid.setFont(gridFont);
    window_.panels->searchBox()->setFont(view::SearchBoxFont(gridFont));

    const std::string columns = ReadSetting(file, "General", "Columns", std::string(kDataColumns, '1'));
    // Files without the list of user-set widths count a width other than the
    // default as the user's.
    const std::string sized = ReadSetting(file, "Grid", "Sized");
    for (int i = 1; i <= kDataColumns; ++i) {
        const bool shown = static_cast<std::size_t>(i) <= columns.size() &&
                           NumericValue(columns.substr(static_cast<std::size_t>(i - 1), 1)) != 0;
        window_.action(QStringLiteral("mViewColumns%1").arg(i))->setChecked(shown);
        const int stored = ToInt32(ReadNumberSetting(file, "Grid", "Col" + std::to_string(i),
                                                     view::ResultView::DefaultWidth(i)));
        grid.SetColumnWidthPx(i, shown ? stored : 0);
        grid.SetColumnUserSized(i, sized.size() == kDataColumns
                                       ? sized[static_cast<std::size_t>(i - 1)] == '1'
                                       : shown && stored != view::ResultView::DefaultWidth(i));
    }

    int sortKey = ToInt32(ReadNumberSetting(file, "Grid", "SortKey", 0));
    if (sortKey < 0 || sortKey > kGridColumnCount - 2)
        sortKey = 0;
    if (sortKey != 0)
        view_.mViewArrange_Click(sortKey);
    else
        view_.mViewArrangeNone_Click();
    grid.SelectRow(0);
    view_.mViewOrder_Click(ReadNumberSetting(file, "Grid", "Ascend", 1) == 1 ? 0 : 1);

    window_.state.findState.Load(file, "FindBox");
    LanguageName(0); // builds the language table now rather than in the first scan
}

void WindowSettings::FirstActivation() {
    QMainWindow& main = *window_.window;
    LoadBandLayout();
    // The bands now know how much room they need: the window gets at least
    // that, and stays on the screen.
    if (main.windowState() == Qt::WindowNoState && main.screen() != nullptr) {
        const QRect available = main.screen()->availableGeometry();
        // Frame and client area differ by the title bar and the borders.
        const QRect outer = main.frameGeometry();
        const QRect inner = main.geometry();
        const QMargins border(inner.left() - outer.left(), inner.top() - outer.top(),
                              outer.right() - inner.right(), outer.bottom() - inner.bottom());
        const QRect frame =
            firstStart_ ? view::FirstWindowGeometry(available, main.minimumSize().grownBy(border))
                        : view::FitOnScreen(outer, available);
        main.move(frame.topLeft());
        main.resize(frame.size().shrunkBy(border));
    }
    window_.commands->RestoreToolbarLayout(*window_.bands[kButtonsBand],
                                           LoadToolbarLayout(settings_));
    view_.mView_Click(); // the band check marks follow the restored layout
    window_.UpdateCommandState();
    // Work starts with the first path still to give.
    (window_.source->Text().isEmpty() ? window_.source : window_.target)->setFocus();
}

void WindowSettings::SaveSettings() {
    QMainWindow& main = *window_.window;
    // Read again, so that keys written since start-up (by another copy of
    // the program, or the last save folder) are kept; then written once.
    settings_ = SettingsDocument::Load(window_.datFile);
    SettingsDocument& file = settings_;
    const auto checked = [this](const char* name) { return window_.action(name)->isChecked() ? 1 : 0; };
    WriteSetting(file, "General", "Source", Utf8(window_.source->Text()));
    WriteSetting(file, "General", "Target", Utf8(window_.target->Text()));
    WriteSetting(file, "General", "Filter", Utf8(window_.filter->Text()));
    WriteNumberSetting(file, "General", "Different", window_.state.displayMode);
    WriteNumberSetting(file, "General", "Subfolders", checked("mViewSubfolders"));
    WriteSetting(file, "General", "BackupDir", window_.state.backupFolder);
    WriteNumberSetting(file, "General", "Backup", checked("mToolsBackup"));
    WriteNumberSetting(file, "General", "StatusBar", checked("mViewStatus"));
    WriteNumberSetting(file, "General", "Content", checked("mViewContents"));
    std::string columns;
    for (int i = 1; i <= kDataColumns; ++i)
        columns += window_.action(QStringLiteral("mViewColumns%1").arg(i))->isChecked() ? '1' : '0';
    WriteSetting(file, "General", "Columns", columns);

    const Qt::WindowStates states = main.windowState();
    const int state = (states & Qt::WindowMinimized) ? 1 : (states & Qt::WindowMaximized) ? 2 : 0;
    // Maximised or minimised, the bounds to keep are the normal ones.
    const QPoint frameOffset = main.geometry().topLeft() - main.pos();
    const QRect bounds =
        state == 0 ? QRect(main.pos(), main.size()) : main.normalGeometry().translated(-frameOffset);
    WriteNumberSetting(file, "Position", "State", state);
    WriteNumberSetting(file, "Position", "Left", bounds.left());
    WriteNumberSetting(file, "Position", "Top", bounds.top());
    WriteNumberSetting(file, "Position", "Width", bounds.width());
    WriteNumberSetting(file, "Position", "Height", bounds.height());

    SaveBandLayout();
    SaveToolbarLayout(file, window_.commands->ToolbarLayout(*window_.bands[kButtonsBand]));
    // Where the program is and which version it is, kept with the rest.
    WriteInstallRecord(file, QCoreApplication::applicationDirPath(), VersionText());

    const view::ResultView& grid = *window_.grid;
    WriteNumberSetting(file, "Grid", "SortKey", window_.state.sortKey);
    WriteNumberSetting(file, "Grid", "Ascend", window_.state.ascending ? 1 : 0);
    for (int i = 1; i <= kDataColumns; ++i)
        WriteNumberSetting(file, "Grid", "Col" + std::to_string(i),
                           grid.IsColumnVisible(i) ? grid.ColumnWidthPx(i) : 0);
    WriteSetting(file, "Grid", "Sized", grid.UserSizedText());
    SaveFontRecord(file, "Font", "", ToRecord(grid.font()));
    for (const auto& [key, value] :
         view::StoredColors(window_.model->Colors(), QApplication::palette()))
        WriteNumberSetting(file, "Color", key, value);
    window_.state.findState.Save(file, "FindBox");
    const auto history = [&](view::PathBox* box, const char* section) {
        std::vector<std::string> items;
        for (const QString& item : box->History())
            items.push_back(Utf8(item));
        SaveListSection(file, section, items);
    };
    history(window_.source, "Source");
    history(window_.target, "Target");
    history(window_.filter, "Filter");
    // Nobody is left to tell in a window that is closing: the reason goes
    // to the terminal the program was started from, if any.
    if (const std::string why = file.SaveOrSayWhy(); !why.empty() && !window_.datFile.empty())
        std::fprintf(stderr, "sorvane: the settings could not be saved to %s: %s\n",
                     window_.datFile.c_str(), why.c_str());
}

// Bands keep their order, row breaks and visibility in the "CoolBar" record;
// the first band is the one shown first.
void WindowSettings::LoadBandLayout() {
    const auto& bars = window_.bands;
    const std::array<view::PathBox*, kBandTotal> boxes = {nullptr, window_.source, window_.target,
                                                          window_.filter};
    // Without a saved layout the buttons share the first row with the short
    // filter, and each path gets a row of its own, so both can be read and
    // typed in whole.
    const std::array<Band, kBandTotal> order = {kButtonsBand, kFilterBand, kSourceBand, kTargetBand};
    std::vector<BandRecord> records;
    for (int n = 1; n <= kBandTotal; ++n) {
        const Band band = order[static_cast<std::size_t>(n - 1)];
        BandRecord defaults;
        defaults.newRow = band == kSourceBand || band == kTargetBand;
        defaults.visible = true;
        defaults.width = 0; // no width of its own: the rows share out the room
        defaults.name = Utf8(bars[band]->objectName());
        records.push_back(LoadBandRecord(settings_, "CoolBar", n, defaults));
    }
    std::vector<view::BandPlacement> placements;
    for (const BandRecord& record : records)
        placements.push_back({record.name, record.newRow, record.visible, ToInt32(record.width)});
    std::vector<view::Band> bands;
    for (const Band band : order)
        bands.push_back({bars[band], boxes[band]});
    const view::BandRows rows =
        view::ArrangeBands(*window_.window, bands, placements, [](QWidget* box, int width) {
            static_cast<view::PathBox*>(box)->SetPreferredWidth(width);
        });
    // The buttons band also keeps which of its buttons are shown.
    const std::vector<QString>& keys = window_.commands->ButtonOrder();
    for (const BandRecord& record : records) {
        if (Qt8(record.name) != bars[kButtonsBand]->objectName() || record.buttons.empty())
            continue;
        for (std::size_t b = 0; b < keys.size(); ++b)
            window_.commands->button(keys[b])
                ->setVisible(b >= record.buttons.size() || record.buttons[b] > '0');
    }
    SetMinimumWindowSize(rows.widestRow, std::max(rows.shownRows, 1));
    // Tab goes through the boxes as they are placed, then to the grid.
    QWidget* previous = nullptr;
    for (QWidget* next : rows.boxes) {
        if (previous != nullptr)
            QWidget::setTabOrder(previous, next);
        previous = next;
    }
    if (previous != nullptr)
        QWidget::setTabOrder(previous, window_.grid);
}

// Small enough for a small screen, large enough that bands, boxes and status
// panels never overlap and a few rows of the grid stay in sight.
void WindowSettings::SetMinimumWindowSize(int bandRowWidth, int bandRows) {
    constexpr int kGridRowsInSight = 4;
    QMainWindow& main = *window_.window;
    const view::ResultView& grid = *window_.grid;
    QStatusBar& status = window_.panels->bar();
    const int width =
        std::max({bandRowWidth, status.minimumSizeHint().width() + 24, kSmallestWidth});
    const int height = main.menuBar()->sizeHint().height() +
                       bandRows * window_.bands[kButtonsBand]->sizeHint().height() +
                       grid.horizontalHeader()->sizeHint().height() +
                       kGridRowsInSight * grid.verticalHeader()->defaultSectionSize() +
                       grid.horizontalScrollBar()->sizeHint().height() +
                       status.sizeHint().height();
    QSize smallest(width, std::max(height, kSmallestHeight));
    if (main.screen() != nullptr)
        smallest = smallest.boundedTo(main.screen()->availableGeometry().size());
    main.setMinimumSize(smallest);
}

void WindowSettings::SaveBandLayout() {
    std::vector<QToolBar*> bars(window_.bands.begin(), window_.bands.end());
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
        if (bar == window_.bands[kButtonsBand]) {
            for (const QString& key : window_.commands->ButtonOrder())
                record.buttons += window_.commands->button(key)->isVisible() ? '1' : '0';
        }
        SaveBandRecord(settings_, "CoolBar", static_cast<int>(i) + 1, record);
    }
}

} // namespace sorvane::shell
