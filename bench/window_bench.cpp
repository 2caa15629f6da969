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
// gap timer runs during the scrolling as well. Beside each wait it prints the
// processor time the window's thread used in it ("work"): on a machine busy
// with other programs the waits grow, the work stays about what a quiet
// machine would wait. After the last scan it prints what a row costs: the
// growth of the allocated and of the resident memory since before the first
// scan, divided by the rows shown.
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM names another. The
// settings file (with the installation record) and the store earlier versions
// kept the tool bar layout in are in a temporary folder.

#include "paint_counter.h"
#include "platform/dialogs.h"
#include "shell/main_window.h"
#include "shell/scan_runner.h"
#include "shell/scan_session.h"
#include "shell/view_commands.h"
#include "view/path_box.h"
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
#include <malloc.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

using namespace sorvane;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

namespace {

// Every dialog answers as if cancelled; messages are printed, so a scan that
// asks for something shows in the output instead of blocking.
class NoDialogs final : public platform::DialogService {
public:
    platform::MessageResult ShowMessage(QWidget*, const QString& title, const QString& text,
                                        platform::MessageIcon, platform::MessageButtons buttons,
                                        std::optional<platform::MessageResult>,
                                        platform::MessageHelp) override {
        std::fprintf(stderr, "message %s: %s\n", qPrintable(title), qPrintable(text));
        return platform::ClosedMessageResult(buttons);
    }
    std::optional<QString> BrowseForFolder(QWidget*, const QString&, const QString&) override {
        return {};
    }
    std::optional<QString> BrowseForFolderOrArchive(QWidget*, const QString&,
                                                    const QString&) override {
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

// The processor time this thread has used. On a busy machine a wait on the
// wall clock also holds the time other programs ran; this does not.
Clock::duration ThreadCpu() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// The ticks of a 10 ms timer on this thread: the longest wait between two of
// them is the longest time the window could not have answered input. Each
// tick also notes the thread's processor time, so the gap a quiet machine
// would show (the work done between two ticks) can be told from the time the
// thread waited for a processor.
class GapMeter {
public:
    struct Gap {
        double wallMs = 0;
        double cpuMs = 0;  ///< the most work done between two ticks
        double atMs = 0;   ///< where the longest wall-clock gap began, from the start
    };

    GapMeter() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout,
                         [this] { ticks_.push_back({Clock::now(), ThreadCpu()}); });
    }
    void Start() {
        ticks_.clear();
        ticks_.push_back({Clock::now(), ThreadCpu()});
        timer_.start();
    }
    void Stop() {
        ticks_.push_back({Clock::now(), ThreadCpu()});
        timer_.stop();
    }
    // The longest gap between `from` and `to`; a gap that spans either end
    // counts only its part inside (and its work not at all).
    Gap Longest(Clock::time_point from = Clock::time_point::min(),
                Clock::time_point to = Clock::time_point::max()) const {
        Gap gap;
        for (std::size_t i = 1; i < ticks_.size(); ++i) {
            const auto begin = std::max(ticks_[i - 1].wall, from);
            const auto end = std::min(ticks_[i].wall, to);
            if (end <= begin)
                continue;
            if (Ms(end - begin) > gap.wallMs) {
                gap.wallMs = Ms(end - begin);
                gap.atMs = Ms(begin - ticks_.front().wall);
            }
            if (ticks_[i - 1].wall >= from && ticks_[i].wall <= to)
                gap.cpuMs = std::max(gap.cpuMs, Ms(ticks_[i].cpu - ticks_[i - 1].cpu));
        }
        return gap;
    }
    // The thread's processor time from the last tick at or before `at`.
    Clock::duration CpuSince(Clock::time_point at) const {
        Clock::duration cpu = ticks_.front().cpu;
        for (const Tick& tick : ticks_)
            if (tick.wall <= at)
                cpu = tick.cpu;
        return ThreadCpu() - cpu;
    }

private:
    struct Tick {
        Clock::time_point wall;
        Clock::duration cpu;
    };
    QTimer timer_;
    std::vector<Tick> ticks_;
};

// What the program holds from the allocator, in all its arenas.
double AllocatedMiB() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
}

double ResidentMiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) /
           (1024.0 * 1024.0);
}

// Runs `action` from inside the event loop, as a menu command runs.
void RunInLoop(const std::function<void()>& action) {
    bool ran = false;
    QTimer::singleShot(0, [&] {
        action();
        ran = true;
    });
    WaitUntil([&] { return ran; });
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
        line = std::string("d") + std::to_string(i / 1000 % 100) + "\\s" + std::to_string(i / 40 % 25) +
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
    RunInLoop([] {});
    auto* runner = window.findChild<shell::ScanRunner*>();
    view::ResultView* grid = window.grid();
    PaintCounter painted;
    grid->viewport()->installEventFilter(&painted);

    window.viewCommands().mViewShowFiles_Click(options.show);
    if (options.sortKey > 0)
        window.viewCommands().mViewArrange_Click(options.sortKey);
    else
        window.viewCommands().mViewArrangeNone_Click();
    window.sourceBox()->SetText(source);
    window.targetBox()->SetText(target);
    if (options.rows == 0 && !window.action("mViewSubfolders")->isChecked())
        window.viewCommands().mViewSubfolders_Click();

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
    // What the window holds before its first scan: the growth beyond it,
    // divided by the rows, is what a row costs.
    const double rssBefore = ResidentMiB();
    const double allocatedBefore = AllocatedMiB();
    double rssAfter10 = 0;
    double allocatedAfter10 = 0;
    struct {
        double endToShown = 0, endCpu = 0, gap = 0, gapCpu = 0;
    } worst;
    for (int scan = 1; scan <= options.scans; ++scan) {
        finished = false;
        const auto started = Clock::now();
        gaps.Start();
        RunInLoop([&] { window.scan().mFileScan_Click(); });
        WaitUntil([&] { return finished; });
        if (!finished) {
            std::fprintf(stderr, "the scan did not end within 10 minutes\n");
            return 1;
        }
        WaitForPaint(painted, paintsAtFinish);
        const auto shown = Clock::now();
        const double endCpu = Ms(gaps.CpuSince(runner->WorkerEnded()));
        gaps.Stop();
        // Up to the worker's end the gaps are the scan's; after it the window
        // sorts and shows the result, which the end-to-shown time counts.
        const GapMeter::Gap scanGap = gaps.Longest(started, runner->WorkerEnded());
        const double endToShown = Ms(shown - runner->WorkerEnded());
        worst.endToShown = std::max(worst.endToShown, endToShown);
        worst.endCpu = std::max(worst.endCpu, endCpu);
        worst.gap = std::max(worst.gap, scanGap.wallMs);
        worst.gapCpu = std::max(worst.gapCpu, scanGap.cpuMs);
        if (scan == 10) {
            rssAfter10 = ResidentMiB();
            allocatedAfter10 = AllocatedMiB();
        }
        if (scan <= 3 || scan % 50 == 0 || scan == options.scans)
            std::printf("scan %d: %lld rows of %s files, scan %.0f ms; longest timer gap %.0f ms "
                        "(at +%.0f ms), most work between ticks %.0f ms; end to shown %.0f ms, "
                        "work in it %.0f ms; resident %.1f MiB, allocated %.1f MiB\n",
                        scan, static_cast<long long>(window.model()->Rows().size()),
                        qPrintable(window.PanelText(1)), Ms(runner->WorkerEnded() - started),
                        scanGap.wallMs, scanGap.atMs, scanGap.cpuMs, endToShown, endCpu,
                        ResidentMiB(), AllocatedMiB());
    }
    if (const auto rows = static_cast<double>(window.model()->Rows().size()); rows > 0) {
        constexpr double kMiB = 1024.0 * 1024.0;
        std::printf("memory a row: %.0f bytes allocated, %.0f bytes resident growth (before the "
                    "first scan: allocated %.1f MiB, resident %.1f MiB)\n",
                    (AllocatedMiB() - allocatedBefore) * kMiB / rows,
                    (ResidentMiB() - rssBefore) * kMiB / rows, allocatedBefore, rssBefore);
    }
    // The widths Resize Columns would give, to compare one build with another.
    std::printf("widest texts (pixels):");
    for (int column = kNameColumn; column <= kCopyrightColumn; ++column)
        std::printf(" %d", window.model()->WidestText(column));
    std::printf("\n");
    if (options.scans > 1)
        std::printf("over %d scans: worst end to shown %.0f ms (work %.0f ms), worst timer gap "
                    "%.0f ms (work %.0f ms)\n",
                    options.scans, worst.endToShown, worst.endCpu, worst.gap, worst.gapCpu);
    if (options.scans >= 10) {
        const double rss = ResidentMiB();
        const double allocated = AllocatedMiB();
        std::printf("soak: resident after scan 10 %.1f MiB, after scan %d %.1f MiB (%+.1f %%); "
                    "allocated %.1f MiB and %.1f MiB (%+.1f %%)\n",
                    rssAfter10, options.scans, rss, 100.0 * (rss - rssAfter10) / rssAfter10,
                    allocatedAfter10, allocated,
                    100.0 * (allocated - allocatedAfter10) / allocatedAfter10);
    }

    if (options.sorts) {
        std::printf("sort until painted   ascending   descending   (work on the window's thread)\n");
        double slowest = 0, slowestCpu = 0;
        for (int key = kNameColumn; key <= kCopyrightColumn; ++key) {
            double ms[2] = {}, cpu[2] = {};
            for (int pass = 0; pass < 2; ++pass) {
                const int before = painted.count;
                const auto at = Clock::now();
                const auto cpuAt = ThreadCpu();
                // A header click sorts ascending by a new column and turns
                // the order round on the current one.
                RunInLoop([&] {
                    window.viewCommands().SortByHeader(key);
                    if (pass == 0 && !window.Ascending())
                        window.viewCommands().SortByHeader(key);
                });
                WaitForPaint(painted, before);
                ms[pass] = Ms(Clock::now() - at);
                cpu[pass] = Ms(ThreadCpu() - cpuAt);
                slowest = std::max(slowest, ms[pass]);
                slowestCpu = std::max(slowestCpu, cpu[pass]);
            }
            std::printf("%2d %-16s %7.0f ms %9.0f ms   (%.0f ms, %.0f ms)\n", key,
                        qPrintable(view::ResultModel::Caption(key)), ms[0], ms[1], cpu[0], cpu[1]);
        }
        std::printf("slowest sort: %.0f ms (work %.0f ms)\n", slowest, slowestCpu);
    }

    if (options.scrollSeconds > 0) {
        RunInLoop([&] {
            grid->setFocus();
            grid->SelectRow(0);
        });
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
        const auto scrollStart = Clock::now();
        gaps.Start();
        presser.start(0);
        const auto until = Clock::now() + std::chrono::duration<double>(options.scrollSeconds);
        WaitUntil([&] { return Clock::now() >= until; });
        presser.stop();
        gaps.Stop();
        const GapMeter::Gap gap = gaps.Longest(scrollStart);
        std::printf("scroll %.1f s: %ld pages down, %d times back to the top, %d paints, "
                    "longest timer gap %.0f ms (most work between ticks %.0f ms), "
                    "last row reached %d\n",
                    options.scrollSeconds, pages, wraps, painted.count - paintsBefore,
                    gap.wallMs, gap.cpuMs, grid->CurrentRow());
    }
    // The scans run their threads at a lower priority; the window's own
    // thread must keep its priority.
    std::printf("resident at the end %.1f MiB; the window's thread runs at nice %d\n",
                ResidentMiB(), getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())));
    return 0;
}
