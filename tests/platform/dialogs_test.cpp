#include "platform/customize_dialog.h"
#include "platform/dialogs.h"
#include "platform/filter_dialog.h"
#include "platform/find_dialog.h"
#include "support/modal_dialog.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <gtest/gtest.h>
#include <QCheckBox>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

namespace sorvane::platform {
namespace {

using test::OnNextModal;

// The child `name` of `parent`; fails the test when it is missing.
template <typename T> T* Child(QWidget* parent, const char* name) {
    T* child = parent->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

void Click(QAbstractButton* button) {
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(button->isEnabled()) << button->text().toStdString();
    QTest::mouseClick(button, Qt::LeftButton);
}

QPushButton* BoxButton(QWidget* dialog, QDialogButtonBox::StandardButton which) {
    auto* box = dialog->findChild<QDialogButtonBox*>();
    return box != nullptr ? box->button(which) : nullptr;
}

// ---------------------------------------------------------------- find box

TEST(FindBox, ShowsTheStateAndReturnsTheTextAndOptionsEntered) {
    QtDialogService service;
    FindState state;
    state.text = QStringLiteral("old");
    state.options = FindState::kMatchCase;
    OnNextModal([](QWidget* modal) {
        ASSERT_NE(qobject_cast<FindDialog*>(modal), nullptr);
        auto* text = Child<QLineEdit>(modal, "findText");
        auto* matchCase = Child<QCheckBox>(modal, "matchCase");
        auto* wholeWord = Child<QCheckBox>(modal, "wholeWord");
        ASSERT_TRUE(text && matchCase && wholeWord);
        EXPECT_EQ(text->text(), "old");
        EXPECT_EQ(text->selectedText(), "old"); // typing replaces the last search
        EXPECT_TRUE(matchCase->isChecked());
        EXPECT_FALSE(wholeWord->isChecked());
        EXPECT_TRUE(Child<QRadioButton>(modal, "searchDown")->isChecked());

        QTest::keyClicks(text, "kernel32");
        wholeWord->click();
        matchCase->click();
        Child<QRadioButton>(modal, "searchUp")->click();
        Click(Child<QPushButton>(modal, "findNext"));
    });
    EXPECT_TRUE(service.ShowFindBox(nullptr, state));
    EXPECT_EQ(state.text, "kernel32");
    EXPECT_EQ(state.options, FindState::kWholeWord | FindState::kSearchUp);
}

TEST(FindBox, CancelLeavesTheStateAndOptionBitsNotShownAreKept) {
    QtDialogService service;
    FindState state;
    state.text = QStringLiteral("1.0");
    state.options = FindState::kSearchUp | 16;
    OnNextModal([](QWidget* modal) {
        EXPECT_TRUE(Child<QRadioButton>(modal, "searchUp")->isChecked());
        QTest::keyClicks(Child<QLineEdit>(modal, "findText"), "typed");
        Click(Child<QPushButton>(modal, "cancel"));
    });
    EXPECT_FALSE(service.ShowFindBox(nullptr, state));
    EXPECT_EQ(state.text, "1.0");

    OnNextModal([](QWidget* modal) { Click(Child<QPushButton>(modal, "findNext")); });
    EXPECT_TRUE(service.ShowFindBox(nullptr, state));
    EXPECT_EQ(state.text, "1.0");
    EXPECT_EQ(state.options, FindState::kSearchUp | 16);
}

TEST(FindBox, FindNextNeedsAText) {
    FindDialog dialog(FindState{});
    auto* findNext = Child<QPushButton>(&dialog, "findNext");
    auto* text = Child<QLineEdit>(&dialog, "findText");
    ASSERT_TRUE(findNext && text);
    EXPECT_FALSE(findNext->isEnabled());
    QTest::keyClicks(text, "a");
    EXPECT_TRUE(findNext->isEnabled());
    QTest::keyClick(text, Qt::Key_Backspace);
    EXPECT_FALSE(findNext->isEnabled());
}

// ----------------------------------------------------------- filter editor

TEST(FilterEditor, ListsCountsAndReturnsThePatternsJoined) {
    QtDialogService service;
    OnNextModal([](QWidget* modal) {
        auto* patterns = Child<QPlainTextEdit>(modal, "patterns");
        auto* count = Child<QLabel>(modal, "patternCount");
        ASSERT_TRUE(patterns && count);
        EXPECT_EQ(patterns->toPlainText(), "*.dll\n*.exe\n*.ocx");
        EXPECT_EQ(count->text(), "3 patterns");

        patterns->setPlainText(QStringLiteral("*.dll\n*.EXE\n*.DLL\n\n  *.tlb  "));
        EXPECT_EQ(count->text(), "3 patterns"); // the repeated *.DLL counts once
        Click(BoxButton(modal, QDialogButtonBox::Ok));
    });
    EXPECT_EQ(service.EditFilter(nullptr, QStringLiteral("*.dll; *.exe  *.ocx;;")),
              QStringLiteral("*.dll;*.EXE;*.tlb"));

    OnNextModal([](QWidget* modal) {
        Child<QPlainTextEdit>(modal, "patterns")->clear();
        EXPECT_EQ(Child<QLabel>(modal, "patternCount")->text(),
                  "No pattern: every file is scanned.");
        Click(BoxButton(modal, QDialogButtonBox::Ok));
    });
    EXPECT_EQ(service.EditFilter(nullptr, QStringLiteral("*.dll")), QString());

    OnNextModal([](QWidget* modal) {
        Child<QPlainTextEdit>(modal, "patterns")->setPlainText(QStringLiteral("*.sys"));
        Click(BoxButton(modal, QDialogButtonBox::Cancel));
    });
    EXPECT_EQ(service.EditFilter(nullptr, QStringLiteral("*.dll")), std::nullopt);
}

TEST(FilterEditor, RefusesPatternsWithAFolder) {
    QtDialogService service;
    OnNextModal([](QWidget* modal) {
        auto* patterns = Child<QPlainTextEdit>(modal, "patterns");
        auto* problem = Child<QLabel>(modal, "problem");
        QPushButton* ok = BoxButton(modal, QDialogButtonBox::Ok);
        ASSERT_TRUE(patterns && problem && ok);
        EXPECT_FALSE(problem->isVisible());

        patterns->setPlainText(QStringLiteral("*.dll\nsystem32/*.exe"));
        EXPECT_FALSE(ok->isEnabled());
        EXPECT_TRUE(problem->isVisible());
        EXPECT_TRUE(problem->text().contains("system32/*.exe"));
        QTest::mouseClick(ok, Qt::LeftButton);
        EXPECT_TRUE(modal->isVisible()); // still open

        patterns->setPlainText(QStringLiteral("*.dll\n*.exe"));
        EXPECT_FALSE(problem->isVisible());
        Click(ok);
    });
    EXPECT_EQ(service.EditFilter(nullptr, QStringLiteral("*.dll")), QStringLiteral("*.dll;*.exe"));
}

TEST(FilterEditor, TriesANameAgainstThePatterns) {
    FilterDialog dialog(QStringLiteral("*.dll;msvc??.*"));
    auto* sample = Child<QLineEdit>(&dialog, "sampleName");
    auto* result = Child<QLabel>(&dialog, "sampleResult");
    ASSERT_TRUE(sample && result);
    EXPECT_EQ(result->text(), "");
    sample->setText(QStringLiteral("KERNEL32.DLL"));
    EXPECT_EQ(result->text(), "is scanned");
    sample->setText(QStringLiteral("msvcrt.lib"));
    EXPECT_EQ(result->text(), "is scanned");
    sample->setText(QStringLiteral("msvcrt40.lib"));
    EXPECT_EQ(result->text(), "is left out");
    EXPECT_EQ(dialog.Patterns(), QStringList({"*.dll", "msvc??.*"}));
    EXPECT_EQ(dialog.InvalidPattern(), "");
}

// --------------------------------------------------------- customise dialog

std::vector<ToolbarButtonState> SomeButtons() {
    return {{"Scan", "Scan", true},
            {"Stop", "Stop Scanning", true},
            {"Save", "Save Source Map", false},
            {"Find", "Find", true}};
}

std::vector<std::pair<QString, bool>> Layout(const std::vector<ToolbarButtonState>& buttons) {
    std::vector<std::pair<QString, bool>> layout;
    for (const ToolbarButtonState& button : buttons)
        layout.emplace_back(button.key, button.visible);
    return layout;
}

TEST(CustomizeToolbar, ReordersAndHidesButtons) {
    QtDialogService service;
    OnNextModal([](QWidget* modal) {
        auto* list = Child<QListWidget>(modal, "buttons");
        auto* up = Child<QPushButton>(modal, "moveUp");
        auto* down = Child<QPushButton>(modal, "moveDown");
        ASSERT_TRUE(list && up && down);
        ASSERT_EQ(list->count(), 4);
        EXPECT_EQ(list->item(1)->text(), "Stop Scanning");
        EXPECT_EQ(list->item(2)->checkState(), Qt::Unchecked);
        EXPECT_FALSE(up->isEnabled()); // the first row is current

        list->setCurrentRow(2); // Save
        Click(up);
        EXPECT_EQ(list->currentRow(), 1);
        list->setCurrentRow(0); // Scan
        Click(down);
        Click(down);
        EXPECT_EQ(list->currentRow(), 2);
        Click(down);
        EXPECT_FALSE(down->isEnabled());             // now the last row
        list->item(1)->setCheckState(Qt::Unchecked); // Stop
        list->item(0)->setCheckState(Qt::Checked);   // Save
        Click(BoxButton(modal, QDialogButtonBox::Ok));
    });
    const auto result = service.CustomizeToolbar(nullptr, SomeButtons());
    ASSERT_TRUE(result);
    EXPECT_EQ(Layout(*result),
              (std::vector<std::pair<QString, bool>>{
                  {"Save", true}, {"Stop", false}, {"Find", true}, {"Scan", true}}));
    EXPECT_EQ((*result)[0].description, "Save Source Map");
}

TEST(CustomizeToolbar, ResetBringsBackTheOpeningLayoutAndCancelGivesNothing) {
    QtDialogService service;
    OnNextModal([](QWidget* modal) {
        auto* list = Child<QListWidget>(modal, "buttons");
        ASSERT_NE(list, nullptr);
        list->setCurrentRow(3);
        Click(Child<QPushButton>(modal, "moveUp"));
        list->item(0)->setCheckState(Qt::Unchecked);
        Click(BoxButton(modal, QDialogButtonBox::Reset));
        Click(BoxButton(modal, QDialogButtonBox::Ok));
    });
    const auto result = service.CustomizeToolbar(nullptr, SomeButtons());
    ASSERT_TRUE(result);
    EXPECT_EQ(Layout(*result), Layout(SomeButtons()));

    OnNextModal([](QWidget* modal) {
        Child<QListWidget>(modal, "buttons")->item(0)->setCheckState(Qt::Unchecked);
        Click(BoxButton(modal, QDialogButtonBox::Cancel));
    });
    EXPECT_EQ(service.CustomizeToolbar(nullptr, SomeButtons()), std::nullopt);
}

// ------------------------------------------------------------ message boxes

TEST(MessageBox, ShowsTitleTextIconAndTheProgramIcon) {
    QPixmap picture(16, 16);
    picture.fill(Qt::darkGreen);
    QApplication::setWindowIcon(QIcon(picture));
    QtDialogService service;
    OnNextModal([](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->windowTitle(), "Copy");
        EXPECT_EQ(box->text(), "Replace the target file?");
        EXPECT_EQ(box->icon(), QMessageBox::Warning);
        EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        EXPECT_EQ(box->windowIcon().cacheKey(), QApplication::windowIcon().cacheKey());
        Click(box->button(QMessageBox::No));
    });
    EXPECT_EQ(service.ShowMessage(nullptr, "Copy", "Replace the target file?", MessageIcon::Warning,
                                  MessageButtons::YesNoCancel),
              MessageResult::No);
}

// Help opens the help and leaves the box up for its answer; a box asked
// without help, or a service with nothing to show, has no Help button.
TEST(MessageBox, HelpButtonOpensTheHelpAndKeepsTheBoxOpen) {
    struct Case {
        MessageHelp help;
        bool handler;
        bool hasButton;
    };
    for (const Case& c : {Case{MessageHelp::Button, true, true}, Case{MessageHelp::None, true, false},
                          Case{MessageHelp::Button, false, false}}) {
        QtDialogService service;
        int helpShown = 0;
        if (c.handler)
            service.SetHelp([&helpShown] { ++helpShown; });
        OnNextModal([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            QAbstractButton* help = box->button(QMessageBox::Help);
            EXPECT_EQ(help != nullptr, c.hasButton);
            if (help != nullptr) {
                Click(help);
                Click(help);
                EXPECT_TRUE(box->isVisible());
            }
            Click(box->button(QMessageBox::Cancel));
        });
        EXPECT_EQ(service.ShowMessage(nullptr, "Sorvane Message", "Sure?", MessageIcon::Warning,
                                      MessageButtons::OkCancel, MessageResult::Cancel, c.help),
                  MessageResult::Cancel);
        EXPECT_EQ(helpShown, c.hasButton ? 2 : 0);
    }
}

TEST(MessageBox, ReturnsTheButtonPressedOrTheCautiousOneWhenClosed) {
    QtDialogService service;
    const auto answer = [&](MessageButtons buttons, auto press) {
        OnNextModal([press](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            press(box);
        });
        return service.ShowMessage(nullptr, "Sorvane", "Text", MessageIcon::Question, buttons);
    };
    const auto button = [](QMessageBox::StandardButton which) {
        return [which](QMessageBox* box) { Click(box->button(which)); };
    };
    const auto escape = [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); };
    // Closed by the program rather than by a button.
    const auto dismiss = [](QMessageBox* box) { box->reject(); };

    EXPECT_EQ(answer(MessageButtons::Ok, button(QMessageBox::Ok)), MessageResult::Ok);
    EXPECT_EQ(answer(MessageButtons::OkCancel, button(QMessageBox::Ok)), MessageResult::Ok);
    EXPECT_EQ(answer(MessageButtons::OkCancel, button(QMessageBox::Cancel)), MessageResult::Cancel);
    EXPECT_EQ(answer(MessageButtons::YesNo, button(QMessageBox::Yes)), MessageResult::Yes);
    EXPECT_EQ(answer(MessageButtons::YesNoCancel, button(QMessageBox::Cancel)),
              MessageResult::Cancel);
    EXPECT_EQ(answer(MessageButtons::Ok, escape), MessageResult::Ok);
    EXPECT_EQ(answer(MessageButtons::OkCancel, escape), MessageResult::Cancel);
    EXPECT_EQ(answer(MessageButtons::YesNo, escape), MessageResult::No);
    EXPECT_EQ(answer(MessageButtons::YesNo, dismiss), MessageResult::No);
    EXPECT_EQ(answer(MessageButtons::YesNoCancel, dismiss), MessageResult::Cancel);
    EXPECT_EQ(answer(MessageButtons::Ok, dismiss), MessageResult::Ok);
}

// Esc answers every box, Help or not, as closing it would; after Help the
// default button still has the focus, so Enter answers rather than asking
// for the help again.
TEST(MessageBox, EscAnswersAndHelpLeavesTheDefaultButtonInPlace) {
    struct Case {
        MessageButtons buttons;
        std::optional<MessageResult> defaultButton;
        MessageResult escape;          ///< what Esc answers
        MessageResult enterAfterHelp;  ///< what Enter answers after Help
    };
    const Case cases[] = {
        {MessageButtons::Ok, {}, MessageResult::Ok, MessageResult::Ok},
        {MessageButtons::OkCancel, {}, MessageResult::Cancel, MessageResult::Ok},
        {MessageButtons::OkCancel, MessageResult::Cancel, MessageResult::Cancel, MessageResult::Cancel},
        {MessageButtons::YesNo, {}, MessageResult::No, MessageResult::Yes},
        {MessageButtons::YesNo, MessageResult::No, MessageResult::No, MessageResult::No},
        {MessageButtons::YesNoCancel, {}, MessageResult::Cancel, MessageResult::Yes},
        {MessageButtons::YesNoCancel, MessageResult::No, MessageResult::Cancel, MessageResult::No},
    };
    for (const Case& c : cases) {
        const auto caseName = static_cast<int>(&c - cases);
        for (const bool withHelp : {false, true}) {
            QtDialogService service;
            int helpShown = 0;
            service.SetHelp([&helpShown] { ++helpShown; });
            const MessageHelp help = withHelp ? MessageHelp::Button : MessageHelp::None;
            OnNextModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
            EXPECT_EQ(service.ShowMessage(nullptr, "Sorvane", "Text", MessageIcon::Question,
                                          c.buttons, c.defaultButton, help),
                      c.escape)
                << caseName << " help " << withHelp;
            if (!withHelp)
                continue;
            OnNextModal([&](QWidget* modal) {
                auto* box = qobject_cast<QMessageBox*>(modal);
                ASSERT_NE(box, nullptr);
                Click(box->button(QMessageBox::Help));
                EXPECT_EQ(box->focusWidget(), box->defaultButton()) << caseName;
                QTest::keyClick(box->focusWidget(), Qt::Key_Return);
            });
            EXPECT_EQ(service.ShowMessage(nullptr, "Sorvane", "Text", MessageIcon::Question,
                                          c.buttons, c.defaultButton, help),
                      c.enterAfterHelp)
                << caseName;
            EXPECT_EQ(helpShown, 1) << caseName;
        }
    }
}

// ------------------------------------------------- folder and file dialogs

bool SameFolder(const QString& a, const QString& b) {
    return QDir(a).canonicalPath() == QDir(b).canonicalPath();
}

// Selects `path` in `dialog` and waits until the dialog has taken it: a
// path in another folder is taken once that folder is read, which a loaded
// machine may not have done by the time the dialog is accepted.
void Select(QFileDialog* dialog, const QString& path) {
    dialog->selectFile(path);
    const QString wanted = QFileInfo(path).absoluteFilePath();
    // A save dialog adds its default suffix to a name without one.
    const QString suffixed = wanted + "." + dialog->defaultSuffix();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const QStringList selected = dialog->selectedFiles();
            if (selected.isEmpty())
                return false;
            const QString taken = QFileInfo(selected.front()).absoluteFilePath();
            return taken == wanted || taken == suffixed;
        },
        5000))
        << path.toStdString();
}

TEST(FolderBrowser, ReturnsTheFolderChosenAndAllowsNewFolders) {
    test::TempDir dir;
    std::filesystem::create_directory(dir.path() / "picked");
    const QString start = QString::fromStdString(dir.path().string());
    const QString picked = start + "/picked";
    QtDialogService service;
    OnNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), "Select the Source Path");
        EXPECT_EQ(dialog->labelText(QFileDialog::FileName), "Select the Source &Path:");
        EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
        EXPECT_FALSE(dialog->testOption(QFileDialog::ReadOnly));
        EXPECT_TRUE(SameFolder(dialog->directory().path(), start));
        Select(dialog, picked);
        static_cast<QDialog*>(dialog)->accept();
    });
    const auto result = service.BrowseForFolder(nullptr, "Select the Source &Path:", start);
    ASSERT_TRUE(result);
    EXPECT_TRUE(SameFolder(*result, picked));

    OnNextModal([](QWidget* modal) {
        EXPECT_EQ(modal->windowTitle(), "Select the Backup Folder, or");
        qobject_cast<QDialog*>(modal)->reject();
    });
    EXPECT_EQ(
        service.BrowseForFolder(
            nullptr, "Select the &Backup Folder, or\r\nPress 'Ins' to create a new Folder", start),
        std::nullopt);
}

TEST(FolderBrowser, PicksAFolderOrAnArchive) {
    test::TempDir dir;
    std::filesystem::create_directory(dir.path() / "picked");
    const QString folder = QString::fromStdString(dir.path().string());
    const QString archive = QString::fromStdString(dir.write("release.zip", "PK"));
    struct Row {
        const char* name;
        QString start; // the path box's text
        QString pick;  // selected, or typed, before Open (else what it starts with)
        std::optional<QString> picked;
    };
    const QString inside = folder + "/picked";
    const Row rows[] = {
        {"another folder selected", inside, folder + "/picked", folder + "/picked"},
        {"an archive", inside, archive, archive},
        {"starting at an archive: Open keeps it", archive, {}, archive},
        {"starting at a folder: Open keeps it", inside, {}, inside},
        {"cancelled", inside, {}, std::nullopt},
    };
    QtDialogService service;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        OnNextModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(dialog->labelText(QFileDialog::FileName), "Select the &Target Path:");
            EXPECT_EQ(dialog->nameFilters(),
                      QStringList({kArchiveFilter, kAllFilesFilter}));
            EXPECT_TRUE(SameFolder(dialog->directory().path(), folder));
            if (!row.pick.isEmpty())
                Select(dialog, row.pick);
            if (row.picked)
                static_cast<QDialog*>(dialog)->accept(); // Open
            else
                dialog->reject();
        });
        const auto result =
            service.BrowseForFolderOrArchive(nullptr, "Select the &Target Path:", row.start);
        ASSERT_EQ(result.has_value(), row.picked.has_value());
        if (row.picked)
            EXPECT_EQ(QFileInfo(*result).canonicalFilePath(),
                      QFileInfo(*row.picked).canonicalFilePath());
    }
}

TEST(FileDialogs, OpenAndSaveApplyTheOptions) {
    test::TempDir dir;
    const QString map = QString::fromStdString(dir.write("old.map", "x"));
    const QString folder = QString::fromStdString(dir.path().string());
    FileDialogOptions options{"Open Source Map", "Map Files (*.map);;All files (*)", "map", folder};
    QtDialogService service;

    OnNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), "Open Source Map");
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
        EXPECT_EQ(dialog->nameFilters(), QStringList({"Map Files (*.map)", "All files (*)"}));
        EXPECT_TRUE(SameFolder(dialog->directory().path(), folder));
        Select(dialog, map);
        static_cast<QDialog*>(dialog)->accept();
    });
    EXPECT_EQ(service.OpenFileName(nullptr, options), map);

    options.title = "Save Source Map";
    options.confirmOverwrite = false;
    OnNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(dialog->defaultSuffix(), "map");
        EXPECT_TRUE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
        Select(dialog, folder + "/new");
        static_cast<QDialog*>(dialog)->accept();
    });
    EXPECT_EQ(service.SaveFileName(nullptr, options), folder + "/new.map");

    OnNextModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    EXPECT_EQ(service.SaveFileName(nullptr, options), std::nullopt);
}

// ------------------------------------------------------- colour and font

TEST(ColorDialog, StartsFromTheCurrentColourAndReturnsTheChoice) {
    QtDialogService service;
    OnNextModal([](QWidget* modal) {
        auto* dialog = qobject_cast<QColorDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->currentColor(), QColor(0, 0, 255));
        dialog->setCurrentColor(QColor(128, 0, 128));
        dialog->accept();
    });
    EXPECT_EQ(service.ChooseColor(nullptr, QColor(0, 0, 255)), QColor(128, 0, 128));

    OnNextModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    EXPECT_EQ(service.ChooseColor(nullptr, QColor(0, 0, 255)), std::nullopt);
}

TEST(FontDialog, ShowsTheSampleInTheTextColourAndReturnsTheChoice) {
    QtDialogService service;
    QFont current = QApplication::font();
    current.setPointSize(9);
    OnNextModal([](QWidget* modal) {
        auto* dialog = qobject_cast<QFontDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->currentFont().pointSize(), 9);
        int tinted = 0;
        for (const QGroupBox* group : dialog->findChildren<QGroupBox*>()) {
            for (const QLineEdit* sample : group->findChildren<QLineEdit*>()) {
                EXPECT_EQ(sample->palette().color(QPalette::Text), QColor(Qt::red));
                ++tinted;
            }
        }
        EXPECT_EQ(tinted, 1);
        QFont chosen = dialog->currentFont();
        chosen.setPointSize(17);
        dialog->setCurrentFont(chosen);
        dialog->accept();
    });
    const auto result = service.ChooseFont(nullptr, current, Qt::red);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->pointSize(), 17);

    OnNextModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    EXPECT_EQ(service.ChooseFont(nullptr, current, Qt::red), std::nullopt);
}

// ------------------------------------------------------ waiting for the user

// Every dialog of the service, any other modal window and an open menu count
// as the user being asked; nothing does once they are closed.
TEST(WaitsForUser, WhileAnyDialogOrMenuIsOpen) {
    QtDialogService service;
    FindState find;
    struct Row {
        const char* name;
        std::function<void()> open;
        bool ownDialog; ///< one of the service's
    };
    const Row rows[] = {
        {"message", [&] { service.ShowMessage(nullptr, "T", "x", MessageIcon::Information,
                                              MessageButtons::Ok); }, true},
        {"folder", [&] { service.BrowseForFolder(nullptr, "Pick", QDir::tempPath()); }, true},
        {"folder or archive",
         [&] { service.BrowseForFolderOrArchive(nullptr, "Pick", QDir::tempPath()); }, true},
        {"open file", [&] { service.OpenFileName(nullptr, {}); }, true},
        {"save file", [&] { service.SaveFileName(nullptr, {}); }, true},
        {"filter", [&] { service.EditFilter(nullptr, "*.dll"); }, true},
        {"find", [&] { service.ShowFindBox(nullptr, find); }, true},
        {"font", [&] { service.ChooseFont(nullptr, QApplication::font(), {}); }, true},
        {"colour", [&] { service.ChooseColor(nullptr, Qt::red); }, true},
        {"toolbar", [&] { service.CustomizeToolbar(nullptr, SomeButtons()); }, true},
        {"another modal dialog", [] { QDialog dialog; dialog.exec(); }, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_FALSE(WaitsForUser(service));
        bool sawModal = false;
        OnNextModal([&](QWidget*) {
            sawModal = true;
            EXPECT_EQ(service.IsShowing(), row.ownDialog);
            EXPECT_TRUE(WaitsForUser(service));
        });
        row.open();
        EXPECT_TRUE(sawModal);
        EXPECT_FALSE(service.IsShowing());
        EXPECT_FALSE(WaitsForUser(service));
    }
    QMenu menu;
    menu.addAction(QStringLiteral("Item"));
    menu.popup(QPoint(10, 10));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    EXPECT_TRUE(WaitsForUser(service));
    menu.close();
    EXPECT_FALSE(WaitsForUser(service));
}

} // namespace
} // namespace sorvane::platform
