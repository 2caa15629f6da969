// Times the shut-down write of the settings file on a realistic file: the
// histories of the three path boxes hold 20 entries each and every key the
// window keeps is present. Three ways, each the median of several runs:
//   - the main window closing, which saves every setting (one read of the
//     file, one replacement of it, which holds the tool bar layout and the
//     installation record too);
//   - the same content put into one settings document and saved once;
//   - the same content written key by key with the one-off writes, each of
//     which reads the file and replaces it (about 70 replacements).
// Every replacement flushes the file to the disk, so run it on the disk that
// matters.
//
//   settings_bench [FOLDER] [RUNS]   defaults: a new folder in the temporary
//                                    folder (removed at the end), 15 runs
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM names another.

#include "engine/settings/settings_records.h"
#include "engine/settings/settings_store.h"
#include "shell/main_window.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <QApplication>
#include <QSettings>
#include <string>
#include <unistd.h>
#include <vector>

using namespace sorvane;

namespace {

// The sections the window writes key by key at shut-down, and its lists.
constexpr const char* kKeySections[] = {"General", "Position", "CoolBar", "Grid",
                                        "Font",    "Color",    "FindBox"};
constexpr const char* kListSections[] = {"Source", "Target", "Filter"};

struct Entry {
    std::string section;
    std::string key;
    std::string value;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Timing {
    std::vector<double> ms;
    SettingsFileCounts perRun;
    bool sameBytes = true;
};

void Print(const char* label, const Timing& result) {
    std::printf("%-32s median %8.2f ms   min %8.2f   max %8.2f   %llu read(s), %llu write(s) "
                "per run%s\n",
                label, Median(result.ms), *std::min_element(result.ms.begin(), result.ms.end()),
                *std::max_element(result.ms.begin(), result.ms.end()),
                static_cast<unsigned long long>(result.perRun.reads),
                static_cast<unsigned long long>(result.perRun.writes),
                result.sameBytes ? "" : "   (the file differs from the one it started with)");
}

// Runs `step` `runs` times, each time on a fresh copy of `start` and after
// `prepare`; only `step` is timed. Each way writes the content it started
// with, so the file must come out byte for byte as it went in.
Timing Measure(int runs, const std::string& file, const std::string& start,
               const std::function<void()>& prepare, const std::function<void()>& step) {
    Timing result;
    for (int run = 0; run < runs; ++run) {
        WriteAll(file, start);
        if (prepare)
            prepare();
        const SettingsFileCounts before = SettingsFileActivity();
        const auto t0 = std::chrono::steady_clock::now();
        step();
        const auto t1 = std::chrono::steady_clock::now();
        const SettingsFileCounts after = SettingsFileActivity();
        result.ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        result.perRun = {after.reads - before.reads, after.writes - before.writes};
        result.sameBytes = result.sameBytes && ReadAll(file) == start;
    }
    return result;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    namespace fs = std::filesystem;
    fs::path folder;
    bool ownFolder = false;
    if (argc > 1 && *argv[1] != '\0') {
        folder = argv[1];
    } else {
        folder = fs::temp_directory_path() / ("settings_bench." + std::to_string(::getpid()));
        ownFolder = true;
    }
    const int runs = argc > 2 ? std::atoi(argv[2]) : 15;
    if (runs <= 0) {
        std::fprintf(stderr, "usage: settings_bench [FOLDER] [RUNS]\n");
        return 2;
    }
    fs::create_directories(folder);
    const std::string file = (folder / "Sorvane.dat").string();

    QApplication app(argc, argv);
    // The store where earlier versions kept the tool bar layout (read when a
    // settings file has none) is the bench's folder, never the user's.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString((folder / "qsettings").string()));

    // The realistic file: full histories, then every key the window writes.
    // The band widths settle over the first starts, so the window runs a few
    // times before the file is taken as it stands.
    {
        SettingsDocument settings = SettingsDocument::Load(file);
        for (const char* section : kListSections) {
            std::vector<std::string> items;
            for (int i = 0; i < 20; ++i)
                items.push_back(std::string(section) == "Filter"
                                    ? "*.dll;*.exe;*.ocx;project" + std::to_string(i) + "*"
                                    : "/srv/builds/release-" + std::to_string(2024 + i / 12) + "." +
                                          std::to_string(i % 12 + 1) + "/" + section +
                                          "/Program Files/Brannock/Sorvane");
            SaveListSection(settings, section, items);
            WriteSetting(settings, "General", section, items.front());
        }
        WriteSetting(settings, "General", "LastSave", "/home/user/maps/");
        settings.Save();
    }
    shell::StartOptions options;
    options.settingsFile = file;
    for (int warmUp = 0; warmUp < 3; ++warmUp) {
        shell::MainWindow window(options);
        window.show();
        QApplication::processEvents();
        window.close();
    }
    const std::string start = ReadAll(file);

    std::vector<Entry> entries;
    std::vector<std::pair<std::string, std::vector<std::string>>> lists;
    {
        const SettingsDocument settings = SettingsDocument::Load(file);
        for (const char* section : kKeySections) {
            for (const std::string& line : ReadSection(settings, section)) {
                const auto eq = line.find('=');
                if (eq != std::string::npos && line.substr(0, eq) != "LastSave")
                    entries.push_back({section, line.substr(0, eq), line.substr(eq + 1)});
            }
        }
        for (const char* section : kListSections)
            lists.emplace_back(section, ReadSection(settings, section));
    }
    std::size_t lines = 0;
    for (const char c : start)
        lines += c == '\n' ? 1 : 0;
    std::printf("settings_bench: %s, %zu bytes, %zu lines, %zu keys and %zu lists written at "
                "shut-down, %d runs, platform %s\n",
                file.c_str(), start.size(), lines, entries.size(), lists.size(), runs,
                qPrintable(QApplication::platformName()));

    // The window: a new one for each run (its start-up is not timed), then
    // the close.
    std::unique_ptr<shell::MainWindow> window;
    const Timing closing = Measure(
        runs, file, start,
        [&] {
            window = std::make_unique<shell::MainWindow>(options);
            window->show();
            QApplication::processEvents();
        },
        [&] { window->close(); });
    window.reset();

    const Timing document = Measure(runs, file, start, {}, [&] {
        SettingsDocument settings = SettingsDocument::Load(file);
        for (const Entry& e : entries)
            WriteSetting(settings, e.section, e.key, e.value);
        for (const auto& [section, items] : lists)
            WriteSection(settings, section, items);
        settings.Save();
    });

    const Timing keyByKey = Measure(runs, file, start, {}, [&] {
        for (const Entry& e : entries)
            WriteSetting(file, e.section, e.key, e.value);
        for (const auto& [section, items] : lists)
            WriteSection(file, section, items);
    });

    Print("window close (SaveSettings)", closing);
    Print("one document, one save", document);
    Print("key by key, one-off writes", keyByKey);
    std::printf("key by key / window close: %.0f times slower\n",
                Median(keyByKey.ms) / Median(closing.ms));

    if (ownFolder) {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    return 0;
}
