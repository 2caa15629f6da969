#pragma once
// The window test fixture: a window on a settings file of the test's own,
// fake dialogs, and two small trees to compare.

#include "shell/main_window.h"

#include "shell/channel_dispatch.h"
#include "shell/edit_commands.h"
#include "shell/file_commands.h"
#include "shell/help_menu.h"
#include "shell/scan_session.h"
#include "shell/tools_commands.h"
#include "shell/view_commands.h"

#include "engine/settings/settings_records.h"
#include "support/fake_dialogs.h"
#include "support/scan_files.h"
#include "support/temp_dir.h"
#include "view/path_box.h"
#include "view/result_model.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QSignalSpy>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace sorvane::shell::test_window {

using test::FakeDialogs;
using test::VersionedPe;

inline QString Q(const std::string& text) { return QString::fromStdString(text); }

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Earlier versions kept the tool bar layout in a QSettings store,
        // which a window reads when its settings file has none: the tests'
        // store is a folder of their own, never the user's.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Q(dir.file("qsettings")));
        settingsFile = dir.file("Sorvane.dat");
    }

    std::unique_ptr<MainWindow> Open(const QString& commandLine = {},
                                     platform::ClipboardService* clipboard = nullptr) {
        StartOptions options;
        options.commandLineSource = commandLine;
        options.clipboard = clipboard;
        return Open(std::move(options));
    }

    /// A window with `options`; the test's settings file and dialogs unless
    /// they name others.
    std::unique_ptr<MainWindow> Open(StartOptions options) {
        if (options.settingsFile.empty())
            options.settingsFile = settingsFile;
        if (options.dialogs == nullptr)
            options.dialogs = &dialogs;
        auto window = std::make_unique<MainWindow>(options);
        window->show();
        return window;
    }

    // Runs a scan to its end.
    static void Scan(MainWindow& window) {
        QSignalSpy finished(&window, &MainWindow::ScanFinished);
        window.scan().mFileScan_Click();
        if (window.Scanning()) {
            ASSERT_TRUE(finished.wait(20000));
        }
    }

    void MakeTrees() {
        dir.write("src/newer.dll", VersionedPe({{2, 0, 0, 0}, 0x0409, "Newer"}));
        dir.write("dst/newer.dll", VersionedPe({{1, 0, 0, 0}}));
        dir.write("src/older.dll", VersionedPe({{1, 0, 0, 0}}));
        dir.write("dst/older.dll", VersionedPe({{1, 5, 0, 0}, 0x0409, "Older"}));
        dir.write("src/equal.dll", VersionedPe({{3, 0, 0, 0}}));
        dir.write("dst/equal.dll", VersionedPe({{3, 0, 0, 0}}));
        dir.write("src/sub/lone.dll", VersionedPe({{1, 0, 0, 0}}));
    }

    // kLongScanFiles versioned files and an empty target: a scan long enough
    // to be stopped while it runs, even on a busy machine where the test's
    // thread may wait some milliseconds between starting it and stopping it.
    static constexpr int kLongScanFiles = 2000;
    void MakeLongScanTrees() {
        for (int i = 0; i < kLongScanFiles; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "src/f%04d.dll", i);
            dir.write(name, VersionedPe({{1, 0, 0, static_cast<std::uint16_t>(i)}}));
        }
        std::filesystem::create_directory(dir.file("dst"));
    }

    // The trees of MakeTrees compared, every row shown.
    std::unique_ptr<MainWindow> OpenAndCompareTrees() {
        MakeTrees();
        auto w = Open();
        w->viewCommands().mViewShowFiles_Click(0);
        w->sourceBox()->SetText(Q(dir.file("src")));
        w->targetBox()->SetText(Q(dir.file("dst")));
        Scan(*w);
        return w;
    }

    // The model row of the row named `name`; -1 when there is none.
    static int RowOf(const MainWindow& window, const std::string& name) {
        const auto& rows = window.model()->Rows();
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (rows[i].Name == name)
                return static_cast<int>(i);
        return -1;
    }

    // Compares the test's src and dst trees in `window`, every row shown,
    // sub-folders included.
    void CompareAllWithSubfolders(MainWindow& window) {
        window.viewCommands().mViewShowFiles_Click(0);
        window.viewCommands().mViewSubfolders_Click();
        window.sourceBox()->SetText(Q(dir.file("src")));
        window.targetBox()->SetText(Q(dir.file("dst")));
        Scan(window);
    }

    static std::vector<std::string> Names(const MainWindow& window) {
        std::vector<std::string> names;
        for (const auto& row : window.model()->Rows())
            names.push_back(row.Name);
        return names;
    }

    void SaveListSectionFor(const char* section, const std::vector<std::string>& items) {
        SaveListSection(settingsFile, section, items);
    }

    test::TempDir dir;
    std::string settingsFile;
    FakeDialogs dialogs;
};

} // namespace sorvane::shell::test_window
