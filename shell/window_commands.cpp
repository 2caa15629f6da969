#include "shell/window_commands.h"

#include "engine/text/path_utils.h"
#include "shell/action_table.h"
#include "shell/edit_commands.h"
#include "shell/file_commands.h"
#include "shell/help_menu.h"
#include "shell/scan_session.h"
#include "shell/tools_commands.h"
#include "shell/view_commands.h"
#include "shell/window_context.h"
#include "sync/special_lists.h"
#include "view/color_scheme.h"
#include "view/path_box.h"
#include "view/result_model.h"
#include "view/result_view.h"

#include <QAction>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QToolBar>

#include <array>

namespace sorvane::shell {

namespace {
using Flag = CommandSpec::Flag;
constexpr unsigned kCheck = Flag::kCheckable;
constexpr unsigned kHidden = Flag::kHidden;

const CommandSpec kSeparator{};

constexpr std::array<const char*, kDataColumns> kColumnCaptions = {
    "Na&me",          "&Extension",      "Source &Language", "&Source Version", "&Comparison",
    "Target &Version", "&Target Language", "&Busy",           "&Description",    "Copy&right"};

constexpr std::array<const char*, view::kColorCount> kColorCaptions = {
    "&Background...", "&Regular Text...", "Newer &Source...", "Newer &Target...",
    "&Unequal Language...", "&Different Size...", "&Incomparable...", "&Copied File...",
    "&Orphans..."};

QString Numbered(const char* name, int number) {
    return QString::fromLatin1(name) + QString::number(number);
}
} // namespace

WindowCommands::WindowCommands(WindowContext& window, CommandRooms rooms, QObject* parent)
    : QObject(parent), window_(window), rooms_(rooms) {}

void WindowCommands::Build(ActionTable& table) {
    FileCommands& files = rooms_.files;
    EditCommands& edit = rooms_.edit;
    ViewCommands& view = rooms_.view;
    ToolsCommands& tools = rooms_.tools;
    ScanSession& scan = rooms_.scan;
    HelpMenu& help = rooms_.help;
    const auto key = [](QKeyCombination k) { return QKeySequence(k); };

    // Numbered families: one item per category, band, column, colour.
    std::vector<CommandSpec> copyLists, saveLists, bands, columns, arrange, colors;
    for (int i = 0; i < kCategoryCount; ++i) {
        const QString caption = tr(sync::kSpecialListCaptions[static_cast<std::size_t>(i)]);
        copyLists.push_back({Numbered("mEditCopySpecialList", i), caption, {}, 302,
                             [&edit, i] { edit.mEditCopySpecialList_Click(i); }});
        saveLists.push_back({Numbered("mEditSaveSpecialList", i), caption + QStringLiteral("..."),
                             {}, 304, [&edit, i] { edit.mEditSaveSpecialList_Click(i); }});
    }
    const std::array<const char*, kBandTotal> bandCaptions = {"&Buttons", "&Source Bar",
                                                              "&Target Bar", "Filte&r Bar"};
    for (int i = 1; i <= kBandTotal; ++i)
        bands.push_back({Numbered("mViewToolbar", i), tr(bandCaptions[i - 1]), {}, 400 + i,
                         [&view, i] { view.mViewToolbar_Click(i); }, kCheck});
    arrange.push_back({"mViewArrangeNone", tr("&None"), {}, 405,
                       [&view] { view.mViewArrangeNone_Click(); }, kCheck, {}, "arrange"});
    arrange.push_back(kSeparator);
    for (int i = 1; i <= static_cast<int>(kColumnCaptions.size()); ++i) {
        columns.push_back({Numbered("mViewColumns", i), tr(kColumnCaptions[i - 1]), {}, 405,
                           [&view, i] { view.mViewColumns_Click(i); }, kCheck});
        arrange.push_back({Numbered("mViewArrange", i), tr(kColumnCaptions[i - 1]), {}, 405,
                           [&view, i] { view.mViewArrange_Click(i); }, kCheck, {}, "arrange"});
    }
    for (int i = 0; i < view::kColorCount; ++i)
        colors.push_back({Numbered("mViewColor", i), tr(kColorCaptions[i]), {}, 407,
                          [&view, i] { view.mViewColor_Click(i); }});

    table.AddMenus({
        {"mFile", tr("&File"), {}, 0, {}, 0, {}, {}, {
             {"mFileOpenSourcePath", tr("Open Source &Path..."), {}, 211,
              [&files] { files.mFileOpenSourcePath_Click(); }},
             {"mFileOpenSourceMap", tr("Open Source &Map..."), key(Qt::CTRL | Qt::Key_O), 212,
              [&files] { files.mFileOpenSourceMap_Click(); }},
             {"mFileOpenTargetPath", tr("Open &Target Path..."), {}, 213,
              [&files] { files.mFileOpenTargetPath_Click(); }},
             kSeparator,
             {"mFileScan", tr("Sca&n"), key(Qt::Key_F5), 201, [&scan] { scan.mFileScan_Click(); }},
             {"mFileSaveSourceMap", tr("&Save Source Map..."), key(Qt::CTRL | Qt::Key_S), 203,
              [&files] { files.mFileSaveSourceMap_Click(); }},
             {"mFileExportReport", tr("Export &Report..."), {}, 217,
              [&files] { files.mFileExportReport_Click(); }},
             kSeparator,
             {"mFileExit", tr("E&xit"), {}, 216, [this] { window_.window->close(); }, 0,
              QStringLiteral("Alt+F4")},
         }, [&files] { files.mFile_Click(); }},
        {"mEdit", tr("&Edit"), {}, 0, {}, 0, {}, {}, {
             {"mEditUndo", tr("&Undo"), key(Qt::ALT | Qt::Key_Backspace), 301,
              [&edit] { edit.EditText(&QLineEdit::undo); }},
             kSeparator,
             {"mEditCut", tr("Cu&t"), key(Qt::SHIFT | Qt::Key_Delete), 301,
              [&edit] { edit.EditText(&QLineEdit::cut); }},
             {"mEditCopy", tr("&Copy"), key(Qt::CTRL | Qt::Key_Insert), 301,
              [&edit] { edit.mEditCopy_Click(); }},
             {"mEditPaste", tr("&Paste"), key(Qt::SHIFT | Qt::Key_Insert), 301,
              [&edit] { edit.EditText(&QLineEdit::paste); }},
             {"mEditDelete", tr("&Delete"), {}, 301, [&edit] { edit.EditText(&QLineEdit::del); },
              0, QStringLiteral("Del")},
             kSeparator,
             {"mEditCopySpecial", tr("Copy &Special"), {}, 302, {}, 0, {}, {}, copyLists},
             {"mEditSaveSpecial", tr("Sa&ve Special"), {}, 304, {}, 0, {}, {}, saveLists},
             kSeparator,
             {"mEditFind", tr("&Find..."), key(Qt::CTRL | Qt::Key_F), 208,
              [&edit] { edit.mEditFind_Click(); }},
             {"mEditFindNext", tr("Find &Next"), key(Qt::Key_F3), 303,
              [&edit] { edit.mEditFindNext_Click(); }},
         }, [&edit] { edit.mEdit_Click(); }},
        {"mView", tr("&View"), {}, 0, {}, 0, {}, {}, {
             {"mViewToolbars", tr("&Toolbars"), {}, 401, {}, 0, {}, {}, bands},
             {"mViewStatus", tr("Status &Bar"), {}, 215, [&view] { view.mViewStatus_Click(); },
              kCheck},
             kSeparator,
             {"mViewResizeColumns", tr("&Resize Columns"), key(Qt::Key_F6), 207,
              [&view] { view.mViewResizeColumns_Click(); }},
             {"mViewVisibleColumns", tr("Visible Col&umns"), {}, 405, {}, 0, {}, {}, columns},
             {"mViewArrangeBy", tr("Arran&ge by"), {}, 405, {}, 0, {}, {}, arrange,
              [&view] { view.mViewArrangeBy_Click(); }},
             // The item checks itself before its handler runs.
             {"mViewSubfolders", tr("&Include Sub-folders"), {}, 204,
              [&view] { view.mViewSubfolders_Click(true); }, kCheck},
             {"mViewContents", tr("Co&mpare Contents"), {}, 218,
              [&view] { view.mViewContents_Click(); }, kCheck},
             kSeparator,
             {"mViewOrder0", tr("&Ascending"), {}, 406, [&view] { view.mViewOrder_Click(0); },
              kCheck, {}, "order"},
             {"mViewOrder1", tr("&Descending"), {}, 406, [&view] { view.mViewOrder_Click(1); },
              kCheck, {}, "order"},
             kSeparator,
             {"mViewShowFiles0", tr("Show All &Versioned Files"), {}, 305,
              [&view] { view.mViewShowFiles_Click(0); }, kCheck, {}, "show"},
             {"mViewShowFiles1", tr("Show Different Files &Only"), {}, 205,
              [&view] { view.mViewShowFiles_Click(1); }, kCheck, {}, "show"},
             {"mViewShowFiles2", tr("Show &Newer Files Only"), {}, 306,
              [&view] { view.mViewShowFiles_Click(2); }, kCheck, {}, "show"},
             kSeparator,
             {"mViewSetColor", tr("Set &Color of"), {}, 407, {}, 0, {}, {}, colors},
             {"mViewSetFont", tr("Set &Font..."), {}, 408, [&view] { view.mViewSetFont_Click(); }},
             {"mViewCustomize", tr("Customi&ze..."), {}, 409,
              [&view] { view.mViewCustomize_Click(); }},
         }, [&view] { view.mView_Click(); }},
        {"mTools", tr("&Tools"), {}, 0, {}, 0, {}, {}, {
             {"mToolsSwap", tr("S&wap Source/Target"), {}, 214, [&tools] { tools.mToolsSwap_Click(); }},
             // The menu item and F9 copy only a row the state allows, asked
             // again at the press; the Synchr button goes to the handler directly.
             {"mToolsCopySource", tr("&Copy from Source to Target"), key(Qt::Key_F9), 209,
              [this, &tools] {
                  tools.mTools_Click();
                  if (window_.action("mToolsCopySource")->isEnabled())
                      tools.mToolsCopySource_Click();
              }},
             {"mToolsCopyBatch", tr("Batch Copy from &Source to Target"),
              key(Qt::CTRL | Qt::Key_F9), 503, [&tools] { tools.mToolsCopyBatch_Click(); }},
             kSeparator,
             {"mToolsBackup", tr("Backup before &Replacement"), {}, 206,
              [&tools] { tools.mToolsBackup_Click(true); }, kCheck},
             {"mToolsBackupFolder", tr("Set &Backup Folder..."), key(Qt::CTRL | Qt::Key_B), 501,
              [&tools] { tools.mToolsBackupFolder_Click(); }, kHidden},
             kSeparator,
             {"mToolsSetFilter", tr("Set &Filter..."), {}, 210,
              [&tools] { tools.mToolsSetFilter_Click(); }},
             {"mToolsSourceProperties", tr("File &Properties..."), {}, 502,
              [&tools] { tools.mToolsSourceProperties_Click(); }, 0, QStringLiteral("Alt+Enter")},
             {"mToolsTargetProperties", tr("&Target File Properties..."), {}, 504,
              [&tools] { tools.mToolsTargetProperties_Click(); }, kHidden},
         }, [&tools] { tools.mTools_Click(); }},
        {"mHelp", tr("&Help"), {}, 0, {}, 0, {}, {}, {
             {"mHelpTopics", tr("&Help Topics..."), {}, 601, [&help] { help.mHelpTopics_Click(); },
              0, QStringLiteral("F1")},
             {"mHelpWhatsThis", tr("What is &This?"), {}, 602,
              [&help] { help.mHelpWhatsThis_Click(); }, kHidden},
             kSeparator,
             {"mHelpUpdate", tr("Check for &Update..."), {}, 606, [&help] { help.mHelpUpdate_Click(); }},
             {"mHelpWeb", tr("Visit the Web&page..."), {}, 603, [&help] { help.mHelpWeb_Click(); }},
             {"mHelpMail", tr("Feed&back..."), {}, 604, [&help] { help.mHelpMail_Click(); }},
             kSeparator,
             {"mHelpAbout", tr("&About..."), {}, 605, [&help] { help.mHelpAbout_Click(); }},
         }},
    });

    table.AddButtons({
        {"Scan", tr("Scan"), tr("Scan (F5)"), "scan", false, [&scan] { scan.mFileScan_Click(); }},
        {"Stop", tr("Stop Scanning"), tr("Stop Scanning (Esc)"), "stop", false,
         [&scan] { scan.RequestStop(); }},
        {"Save", tr("Save Source Map"), tr("Save Source Map (Ctrl+S)"), "save", false,
         [&files] { files.mFileSaveSourceMap_Click(); }},
        {"Recur", tr("Include Sub-folders"), tr("Include Sub-folders"), "recur", true,
         [&view] { view.mViewSubfolders_Click(); }},
        {"Backup", tr("Backup before Replacement"), tr("Backup before Replacement"), "backup", true,
         [&tools] { tools.mToolsBackup_Click(); }},
        {"Resize", tr("Resize Columns"), tr("Resize Columns (F6)"), "resize", false,
         [&view] { view.mViewResizeColumns_Click(); }},
        {"Find", tr("Find"), tr("Find... (Ctrl+F)"), "find", false, [&edit] { edit.mEditFind_Click(); }},
        {"Synchr", tr("Copy Source on Target"), tr("Copy Source on Target (F9)"), "synchr", false,
         [&tools] { tools.mToolsCopySource_Click(); }},
    });
}

void WindowCommands::UpdateCommandState() {
    ActionTable& table = *window_.commands;
    const bool busy = window_.Busy();
    for (QWidget* w : std::initializer_list<QWidget*>{window_.bands[kSourceBand],
                                                      window_.bands[kTargetBand],
                                                      window_.bands[kFilterBand], window_.grid})
        w->setEnabled(!busy);
    for (const char* name : {"mFile", "mEdit", "mView", "mTools", "mHelp"})
        table.menu(QLatin1String(name))->menuAction()->setEnabled(!busy);
    // The shortcuts of the menu items must not work while the menus are off.
    for (const auto& [name, a] : table.actions())
        if (name != QStringLiteral("mFileExit"))
            a->setEnabled(!busy);
    const auto button = [&table](const char* key) { return table.button(QLatin1String(key)); };
    button("Stop")->setEnabled(busy);
    if (busy) {
        for (const QString& key : table.ButtonOrder())
            if (key != QStringLiteral("Stop"))
                table.button(key)->setEnabled(false);
        return;
    }
    rooms_.files.mFile_Click();
    const bool results = window_.model->HasResults();
    const bool sourceIsMap = window_.state.sourceIsMap;
    button("Scan")->setEnabled(window_.action("mFileScan")->isEnabled());
    button("Save")->setEnabled(window_.action("mFileSaveSourceMap")->isEnabled());
    button("Find")->setEnabled(results);
    rooms_.edit.UpdateFindItems();
    button("Recur")->setEnabled(!sourceIsMap);
    button("Resize")->setEnabled(results);
    rooms_.tools.mTools_Click();
    // Synchr copies the current row, but is offered as File Properties is:
    // through it an equal or busy row can be copied too.
    // A member of an archive Source has no file of its own: the copy
    // command tells for it.
    button("Synchr")->setEnabled((window_.action("mToolsSourceProperties")->isEnabled() ||
                                  window_.action("mToolsCopySource")->isEnabled()) &&
                                 !rooms_.tools.TargetReadOnly());
    const bool anyPath = !window_.Folder(window_.source).empty() ||
                         !window_.Folder(window_.target).empty();
    button("TargetSwap")->setEnabled(!sourceIsMap && anyPath);
    button("Backup")->setEnabled(window_.action("mToolsBackup")->isEnabled());
}

} // namespace sorvane::shell
