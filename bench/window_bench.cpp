// Times the real main window through whole scans, as a user meets them.
//
//   window_bench --rows N [options]    a Source Map of N entries against an
//                                      empty target folder: N orphan rows,
//                                      without N files on disk
//   window_bench --tree DIR [options]  DIR/source against DIR/target, as made
//                                      by bench/make_trees.py DIR --files N
//
// Options:
//   --sort KEY       sort column during the scans, 0 to 10 (default 1, Name)
//   --show MODE      all, different or newer (default all: every row)
//   --scans K        scans in a row in one window (default 1); with K >= 10
//                    the resident memory after the 10th and the K-th scan is
//                    printed (the soak)
//   --sorts          after the last scan, sort by each column both ways
//   --scroll SEC     after the last scan, press Page Down in the grid for SEC
//                    seconds (wrapping to the top at the end)
//
// Each scan prints: the files and rows, the scan's wall time, the longest gap
// between ticks of a 10 ms timer on the window's thread while the scan ran
// (how long the window could not answer input), and the time from the end of
// the scan's worker thread until the grid has painted the sorted rows. The
// gap timer runs during the scrolling as well.
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM names another. The
// settings and the installation record go to a temporary folder.

#include "platform/dialogs.h"
#include "shell/main_window.h"
#include "shell/scan_runner.h"
#include "sync/path_box.h"
#include "view/result_model.h"
#include "view/result_view.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>

using namespace sorvane;
using Clock = std::chrono::steady_clock;

namespace {

// Every dialog answers as if cancelled; messages are printed, so a scan that
// asks for something shows in the output instead of blocking.
class NoDialogs final : public platform::DialogService {
public:
    platform::MessageResult ShowMessage(QWidget*, const QString& title, const QString& text,
                                        platform::MessageIcon, platform::MessageButtons buttons,
                                        std::optional<platform::MessageResult>) override {
        std::fprintf(stderr, "message %s: %s\n", qPrintable(title), qPrintable(text));
        return platform::ClosedMessageResult(buttons);
    }
    std::optional<QString> BrowseForFolder(QWidget*, const QString&, const QString&) override {
        return {};
    }
    std::optional<QString> OpenFileName(QWidget*, const platform::FileDialogOptions&) override {
        return {};
    }
    std::optional<QString> SaveFileName(QWidget*, const platform::FileDialogOptions&) override {
        return {};
    }
    std::optional<QString> EditFilter(QWidget*, const QString&) override { return {}; }
    bool ShowFindBox(QWidget*, platform::FindState&) override { return false; }
    std::optional<QFont> ChooseFont(QWidget*, const QFont&, const QColor&) override { return {}; }
    std::optional<QColor> ChooseColor(QWidget*, const QColor&, const QString&) override {
        return {};
    }
    std::optional<std::vector<platform::ToolbarButtonState>>
    CustomizeToolbar(QWidget*, const std::vector<platform::ToolbarButtonState>&) override {
        return {};
    }
};

// Counts the paint events of a widget.
class PaintCounter : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++count;
        return QObject::eventFilter(watched, event);
    }
};

// The ticks of a 10 ms timer on this thread: the longest wait between two of
// them is the longest time the window could not have answered input.
class GapMeter {
public:
    GapMeter() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { ticks_.push_back(Clock::now()); });
    }
    void Start() {
        ticks_.clear();
        ticks_.push_back(Clock::now());
        timer_.start();
    }
    void Stop() {
        ticks_.push_back(Clock::now());
        timer_.stop();
    }
    // The longest gap between `from` and `to`; a gap that spans either end
    // counts only its part inside.
    double LongestMs(Clock::time_point from = Clock::time_point::min(),
                     Clock::time_point to = Clock::time_point::max()) const {
        std::vector<Clock::time_point> ticks = ticks_;
        if (timer_.isActive())
            ticks.push_back(Clock::now());
        Clock::duration longest{};
        for (std::size_t i = 1; i < ticks.size(); ++i) {
            const auto begin = std::max(ticks[i - 1], from);
            const auto end = std::min(ticks[i], to);
            if (end > begin && end - begin > longest) {
                longest = end - begin;
                longestAt_ = begin - ticks.front();
            }
        }
        return std::chrono::duration<double, std::milli>(longest).count();
    }

    // Where the gap LongestMs found last began, from the start.
    double LongestAtMs() const {
        return std::chrono::duration<double, std::milli>(longestAt_).count();
    }

private:
    QTimer timer_;
    std::vector<Clock::time_point> ticks_;
    mutable Clock::duration longestAt_{};
};

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double ResidentMiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) /
           (1024.0 * 1024.0);
}

void WaitUntil(const std::function<bool()>& done, int limitMs = 600000) {
    QElapsedTimer limit;
    limit.start();
    while (!done() && limit.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

// Processes events until `counter` has counted more paints than `before`.
void WaitForPaint(const PaintCounter& counter, int before) {
    WaitUntil([&] { return counter.count > before; }, 20000);
    if (counter.count <= before)
        std::fprintf(stderr, "warning: the grid did not paint within 20 s\n");
}

// A map of `rows` entries in the folder tree a large product has.
bool WriteMap(const QString& path, long rows) {
    std::ofstream map(path.toStdString(), std::ios::binary);
    map << "/nonexistent/product\r\n";
    static const char* const kExts[] = {".dll", ".exe", ".ocx", ".sys"};
    static const char* const kLanguages[] = {"English (United States)", "German (Germany)",
                                             "[Neutral]", "French (France)"};
    std::string line;
    for (long i = 0; i < rows; ++i) {
        const char* ext = kExts[i % 4];
        line = "d" + std::to_string(i / 1000 % 100) + "\\s" + std::to_string(i / 40 % 25) +
               "\\file" + std::to_string(i) + ext + "|" + ext + "|" + std::to_string(1 + i % 7) +
               "." + std::to_string(i % 13) + "." + std::to_string(i % 3000) + "." +
               std::to_string(i % 97) + "|" + kLanguages[i % 4] + "|" +
               std::to_string(4096 + (i * 7919) % 900000) + "\r\n";
        map << line;
    }
    return static_cast<bool>(map);
}

struct Options {
    long rows = 0;
    QString tree;
    int sortKey = 1;
    int show = 0;
    int scans = 1;
    bool sorts = false;
    double scrollSeconds = 0;
};

int Usage() {
    std::fprintf(stderr, "usage: window_bench (--rows N | --tree DIR) [--sort KEY] "
                         "[--show all|different|newer] [--scans K] [--sorts] [--scroll SEC]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--rows" && hasValue)
            options.rows = std::strtol(argv[++i], nullptr, 10);
        else if (arg == "--tree" && hasValue)
            options.tree = QString::fromLocal8Bit(argv[++i]);
        else if (arg == "--sort" && hasValue)
            options.sortKey = std::atoi(argv[++i]);
        else if (arg == "--show" && hasValue) {
            const std::string mode = argv[++i];
            options.show = mode == "all" ? 0 : mode == "different" ? 1 : mode == "newer" ? 2 : -1;
        } else if (arg == "--scans" && hasValue)
            options.scans = std::atoi(argv[++i]);
        else if (arg == "--sorts")
            options.sorts = true;
        else if (arg == "--scroll" && hasValue)
            options.scrollSeconds = std::atof(argv[++i]);
        else
            return Usage();
    }
    if ((options.rows <= 0) == options.tree.isEmpty() || options.show < 0 || options.scans < 1 ||
        options.sortKey < 0 || options.sortKey > 10)
        return Usage();

    QApplication app(argc, argv);
    QTemporaryDir temp;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, temp.filePath("qsettings"));

    QString source, target;
    if (options.rows > 0) {
        source = temp.filePath("bench.map");
        target = temp.filePath("empty");
        QDir().mkpath(target);
        if (!WriteMap(source, options.rows)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(source));
            return 1;
        }
    } else {
        source = QDir(options.tree).filePath("source");
        target = QDir(options.tree).filePath("target");
    }

    NoDialogs dialogs;
    shell::StartOptions start;
    start.settingsFile = temp.filePath("Sorvane.dat").toStdString();
    start.dialogs = &dialogs;
    shell::MainWindow window(start);
    window.resize(1000, 700);
    window.show();
    QCoreApplication::processEvents();
    auto* runner = window.findChild<shell::ScanRunner*>();
    view::ResultView* grid = window.grid();
    PaintCounter painted;
    grid->viewport()->installEventFilter(&painted);

    window.mViewShowFiles_Click(options.show);
    if (options.sortKey > 0)
        window.mViewArrange_Click(options.sortKey);
    else
        window.mViewArrangeNone_Click();
    window.sourceBox()->SetText(source);
    window.targetBox()->SetText(target);
    if (options.rows == 0 && !window.action("mViewSubfolders")->isChecked())
        window.mViewSubfolders_Click();

    std::printf("window_bench: %s, sort key %d, show mode %d, platform %s\n",
                options.rows > 0 ? qPrintable(QStringLiteral("map of %1 entries").arg(options.rows))
                                 : qPrintable(options.tree),
                options.sortKey, options.show, qPrintable(QApplication::platformName()));

    bool finished = false;
    int paintsAtFinish = 0;
    QObject::connect(&window, &shell::MainWindow::ScanFinished, [&] {
        finished = true;
        paintsAtFinish = painted.count;
    });

    GapMeter gaps;
    double rssAfter10 = 0;
    double worstEndToShown = 0;
    double worstGap = 0;
    for (int scan = 1; scan <= options.scans; ++scan) {
        finished = false;
        gaps.Start();
        const auto started = Clock::now();
        window.mFileScan_Click();
        WaitUntil([&] { return finished; });
        if (!finished) {
            std::fprintf(stderr, "the scan did not end within 10 minutes\n");
            return 1;
        }
        WaitForPaint(painted, paintsAtFinish);
        const auto shown = Clock::now();
        gaps.Stop();
        // Up to the worker's end the gaps are the scan's; after it the window
        // sorts and shows the result, which the end-to-shown time counts.
        const double scanGap = gaps.LongestMs(started, runner->WorkerEnded());
        const double scanGapAt = gaps.LongestAtMs();
        const double endGap = gaps.LongestMs(runner->WorkerEnded());
        const double endToShown = Ms(shown - runner->WorkerEnded());
        worstEndToShown = std::max(worstEndToShown, endToShown);
        worstGap = std::max(worstGap, scanGap);
        if (scan == 10)
            rssAfter10 = ResidentMiB();
        if (scan <= 3 || scan % 50 == 0 || scan == options.scans)
            std::printf("scan %d: %lld rows of %s files, scan %.0f ms, longest timer gap %.0f ms at +%.0f ms, "
                        "end to shown %.0f ms (longest gap in it %.0f ms), resident %.1f MiB\n",
                        scan, static_cast<long long>(window.model()->Rows().size()),
                        qPrintable(window.PanelText(1)), Ms(runner->WorkerEnded() - started),
                        scanGap, scanGapAt, endToShown, endGap, ResidentMiB());
    }
    if (options.scans > 1)
        std::printf("over %d scans: worst end to shown %.0f ms, worst timer gap %.0f ms\n",
                    options.scans, worstEndToShown, worstGap);
    if (options.scans >= 10) {
        const double rss = ResidentMiB();
        std::printf("soak: resident after scan 10 %.1f MiB, after scan %d %.1f MiB (%+.1f %%)\n",
                    rssAfter10, options.scans, rss, 100.0 * (rss - rssAfter10) / rssAfter10);
    }

    if (options.sorts) {
        std::printf("sort until painted   ascending   descending\n");
        double slowest = 0;
        for (int key = kNameColumn; key <= kCopyrightColumn; ++key) {
            double ms[2] = {};
            for (int pass = 0; pass < 2; ++pass) {
                const int before = painted.count;
                const auto at = Clock::now();
                // A header click sorts ascending by a new column and turns
                // the order round on the current one.
                window.SortByHeader(key);
                if (pass == 0 && !window.Ascending())
                    window.SortByHeader(key);
                WaitForPaint(painted, before);
                ms[pass] = Ms(Clock::now() - at);
                slowest = std::max(slowest, ms[pass]);
            }
            std::printf("%2d %-16s %7.0f ms %9.0f ms\n", key,
                        qPrintable(view::ResultModel::Caption(key)), ms[0], ms[1]);
        }
        std::printf("slowest sort: %.0f ms\n", slowest);
    }

    if (options.scrollSeconds > 0) {
        grid->setFocus();
        grid->SelectRow(0);
        QCoreApplication::processEvents();
        long pages = 0;
        int wraps = 0;
        QTimer presser;
        QObject::connect(&presser, &QTimer::timeout, [&] {
            const int last = window.model()->rowCount() - 1;
            const bool atEnd = grid->CurrentRow() >= last;
            QKeyEvent press(QEvent::KeyPress, atEnd ? Qt::Key_Home : Qt::Key_PageDown,
                            atEnd ? Qt::ControlModifier : Qt::NoModifier);
            QApplication::sendEvent(grid, &press);
            if (atEnd)
                ++wraps;
            else
                ++pages;
        });
        const int paintsBefore = painted.count;
        gaps.Start();
        const auto scrollStart = Clock::now();
        presser.start(0);
        const auto until = Clock::now() + std::chrono::duration<double>(options.scrollSeconds);
        WaitUntil([&] { return Clock::now() >= until; });
        presser.stop();
        gaps.Stop();
        std::printf("scroll %.1f s: %ld pages down, %d times back to the top, %d paints, "
                    "longest timer gap %.0f ms, last row reached %d\n",
                    options.scrollSeconds, pages, wraps, painted.count - paintsBefore,
                    gaps.LongestMs(scrollStart), grid->CurrentRow());
    }
    std::printf("resident at the end %.1f MiB\n", ResidentMiB());
    return 0;
}
