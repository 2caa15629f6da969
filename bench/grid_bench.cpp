// Times the result grid with as many rows as a large scan gives: the rows
// arrive in batches as the scan delivers them, the grid follows the newest
// row and the window processes its events between batches; then the grid is
// sorted by each data column, ascending and descending; then Find looks for
// a text no row holds (anywhere, and as a whole word), and one category is
// recoloured (until painted, and in the model alone). Each time runs until
// the grid has painted the result. At the end it prints the peak memory of
// the process.
//
//   grid_bench [ROWS] [BATCH]     defaults: 100000 rows, 500 per batch
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM names another.

#include "paint_counter.h"
#include "engine/scan/row_sort.h"
#include "view/grid_find.h"
#include "view/result_model.h"
#include "view/result_view.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <random>
#include <string>
#include <sys/resource.h>
#include <vector>

using namespace sorvane;
using namespace sorvane::view;

namespace {

// Rows shaped like those of a scan of a large product tree: most files in
// sub-folders, a handful of extensions and languages, descriptions and
// copyrights shared by many files, versions and sizes all over the place.
// Made batch by batch, so the grid's copy is the only one held.
class RowMaker {
public:
    std::vector<ComparisonRow> Next(std::size_t count) {
        std::vector<ComparisonRow> rows;
        rows.reserve(count);
        for (std::size_t i = 0; i < count; ++i)
            rows.push_back(Make());
        return rows;
    }

private:
    std::size_t Pick(std::size_t n) { return static_cast<std::size_t>(random_() % n); }

    std::string Version() {
        return std::to_string(Pick(12)) + "." + std::to_string(Pick(100)) + "." +
               std::to_string(Pick(10000)) + "." + std::to_string(Pick(1000));
    }

    ComparisonRow Make() {
        static constexpr std::array<const char*, 8> kExts = {".dll", ".exe", ".ocx", ".DLL",
                                                             ".sys", ".tlb", ".ttf", ".drv"};
        static constexpr std::array<const char*, 6> kLanguages = {
            "English (United States)", "German (Germany)", "Language Neutral",
            "French (France)",         "Japanese",         ""};
        static constexpr std::array<ComparisonMark, 7> kMarks = {
            ComparisonMark::NewerSource, ComparisonMark::NewerTarget,
            ComparisonMark::Equal,       ComparisonMark::UnequalLanguage,
            ComparisonMark::Orphan,      ComparisonMark::DifferentSize,
            ComparisonMark::Equal};
        ComparisonRow row;
        const char* ext = kExts[Pick(kExts.size())];
        const std::string file =
            "File" + std::to_string(Pick(1000000)) + "_" + std::to_string(made_++) + ext;
        row.Name = Pick(10) == 0 ? file
                                 : "Component" + std::to_string(Pick(300)) + "/Module" +
                                       std::to_string(Pick(40)) + "/" + file;
        row.Ext = ext;
        row.SourceLanguage = kLanguages[Pick(kLanguages.size())];
        row.SourceVersion = Version();
        row.Mark = kMarks[Pick(kMarks.size())];
        if (row.Mark != ComparisonMark::Orphan) {
            row.TargetVersion = row.Mark == ComparisonMark::Equal ? row.SourceVersion : Version();
            row.TargetLanguage = row.Mark == ComparisonMark::UnequalLanguage
                                     ? kLanguages[Pick(kLanguages.size())]
                                     : row.SourceLanguage;
        }
        row.Busy = Pick(50) == 0;
        row.Description = "Brannock component library number " + std::to_string(Pick(500));
        row.Copyright = "Copyright (C) Brannock Ltd " + std::to_string(1990 + Pick(35)) +
                        ". All rights reserved.";
        row.SourceSize = static_cast<std::int64_t>(Pick(50000000));
        return row;
    }

    std::mt19937 random_{20261207};
    std::size_t made_ = 0;
};

double PeakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

double Ms(const QElapsedTimer& timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::size_t rowCount = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
    const std::size_t batch = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 500;
    if (rowCount == 0 || batch == 0) {
        std::fprintf(stderr, "usage: grid_bench [ROWS] [BATCH]\n");
        return 2;
    }
    QApplication app(argc, argv);

    ResultModel model;
    ResultView view(&model);
    view.resize(1000, 700);
    view.show();
    PaintCounter painted;
    view.viewport()->installEventFilter(&painted);
    QApplication::processEvents();

    RowMaker maker;
    std::printf("grid_bench: %zu rows in batches of %zu, platform %s, style %s\n", rowCount, batch,
                qPrintable(QApplication::platformName()),
                qPrintable(QApplication::style()->name()));

    // Loading, as a scan does it. Making the rows stands for the scan and is
    // not counted.
    double loading = 0;
    double appending = 0;
    QElapsedTimer step;
    step.start();
    model.ClearResults();
    loading += Ms(step);
    for (std::size_t first = 0; first < rowCount; first += batch) {
        const std::vector<ComparisonRow> chunk = maker.Next(std::min(batch, rowCount - first));
        const int before = painted.count;
        step.start();
        model.AppendRows(chunk);
        appending += Ms(step);
        view.SelectRow(model.rowCount() - 1);
        if (first + batch >= rowCount)
            WaitForPaint(painted, before);
        else
            QApplication::processEvents();
        loading += Ms(step);
    }
    std::printf("load until painted: %.0f ms, of which AppendRows (with measuring): %.0f ms\n",
                loading, appending);
    std::printf("peak memory after loading (max RSS): %.1f MiB\n", PeakMiB());

    // Sorting, as the menu or a header click does it.
    std::printf("sort until painted   ascending   descending\n");
    std::array<std::array<double, 2>, kGridColumnCount> sortMs{};
    double slowest = 0;
    for (int key = kNameColumn; key <= kCopyrightColumn; ++key) {
        for (const bool ascending : {true, false}) {
            const int before = painted.count;
            step.start();
            model.SetSortColumn(key);
            const int row = model.Sort(key, ascending, view.CurrentRow());
            view.SelectRow(row);
            WaitForPaint(painted, before);
            const double ms = Ms(step);
            sortMs[static_cast<std::size_t>(key)][ascending ? 0 : 1] = ms;
            slowest = std::max(slowest, ms);
        }
        std::printf("%2d %-16s %7.0f ms %9.0f ms\n", key, qPrintable(ResultModel::Caption(key)),
                    sortMs[static_cast<std::size_t>(key)][0],
                    sortMs[static_cast<std::size_t>(key)][1]);
    }
    std::printf("slowest sort: %.0f ms\n", slowest);

    std::printf("peak memory after sorting (max RSS): %.1f MiB\n", PeakMiB());

    // Find, worst case: nothing matches, so every cell of every row is read.
    for (const bool wholeWord : {false, true}) {
        FindOptions options;
        options.wholeWord = wholeWord;
        step.start();
        const int found = FindInGrid(model, -1, QStringLiteral("no such text anywhere"), options);
        std::printf("find with no match%s: %.0f ms (%d)\n", wholeWord ? ", whole word" : "",
                    Ms(step), found);
    }

    // Recolouring one category until painted, and on 50,000 rows of it.
    {
        ColorSet colors = model.Colors();
        colors.colors[kNewerSourceColor] = 0x00123456u;
        const auto shown = std::count_if(model.Rows().begin(), model.Rows().end(), [](const auto& r) {
            return r.Mark == ComparisonMark::NewerSource;
        });
        const int before = painted.count;
        step.start();
        model.SetColorSet(colors);
        WaitForPaint(painted, before);
        std::printf("recolour Newer Source (%td rows of %zu) until painted: %.0f ms\n", shown,
                    model.Rows().size(), Ms(step));

        ResultModel many;
        std::vector<ComparisonRow> rows = maker.Next(50000);
        for (auto& r : rows)
            r.Mark = ComparisonMark::NewerSource;
        many.AppendRows(rows);
        step.start();
        many.SetColorSet(colors);
        std::printf("recolour 50,000 Newer Source rows (model only): %.0f ms\n", Ms(step));
    }

    // The engine's own sort of the same rows, for comparison (after the peak
    // memory above, as it needs a copy of the rows).
    std::printf("engine SortRows, ascending, without the grid:\n");
    for (int key = kNameColumn; key <= kCopyrightColumn; ++key) {
        std::vector<ComparisonRow> copy = model.Rows().ToVector();
        step.start();
        SortRows(copy, key, true);
        std::printf("%2d %-16s %7.0f ms\n", key, qPrintable(ResultModel::Caption(key)), Ms(step));
    }
    return 0;
}
