// Times Export Report over a grid as large as a big scan makes it: the rows
// are put into the grid's model, then the report is written as an HTML page
// and as a CSV file, each RUNS times; it prints the median and the fastest
// time and the size of each file.
//
//   report_bench [ROWS] [RUNS]     defaults: 100000 rows, 7 runs
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM names another. The
// files go to a temporary folder that is removed at the end.

#include "sync/report_export.h"
#include "view/result_model.h"
#include "view/result_view.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

using namespace sorvane;

namespace {

// Rows shaped like those of a product tree: most in sub-folders, a few
// extensions and languages, shared descriptions, some names with characters
// the page must escape, and every mark.
std::vector<ComparisonRow> MakeRows(std::size_t count) {
    std::mt19937 random(7);
    const char* extensions[] = {".dll", ".exe", ".ocx", ".ttf", ".tlb"};
    const char* languages[] = {"English (United States)", "German (Germany)", "[Neutral]"};
    const ComparisonMark marks[] = {ComparisonMark::NewerSource, ComparisonMark::NewerTarget,
                                    ComparisonMark::Equal, ComparisonMark::Orphan,
                                    ComparisonMark::UnequalLanguage, ComparisonMark::DifferentSize};
    std::vector<ComparisonRow> rows;
    rows.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        ComparisonRow row;
        const char* ext = extensions[random() % 5];
        row.Name = "product/module" + std::to_string(i % 300) + "/file" + std::to_string(i) +
                   (i % 50 == 0 ? " <R&D>, \"beta\"" : "") + ext;
        row.Ext = ext;
        row.SourceLanguage = languages[random() % 3];
        row.SourceVersion = std::to_string(random() % 10) + "." + std::to_string(random() % 100) +
                            "." + std::to_string(random() % 10000);
        row.Mark = marks[random() % 6];
        if (row.Mark != ComparisonMark::Orphan) {
            row.TargetVersion = std::to_string(random() % 10) + ".00.0000";
            row.TargetLanguage = languages[random() % 3];
        }
        row.Description = "Component " + std::to_string(i % 40) + " of the product";
        row.Copyright = "Copyright (C) 1998-2024 Example & Sons";
        row.SourceSize = static_cast<std::int64_t>(random() % 5000000);
        rows.push_back(std::move(row));
    }
    return rows;
}

} // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const std::size_t rowCount = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;

    view::ResultModel model;
    view::ResultView grid(&model);
    model.ClearResults();
    model.AppendRows(MakeRows(rowCount));

    char folderTemplate[] = "/tmp/report-bench-XXXXXX";
    if (::mkdtemp(folderTemplate) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path folder = folderTemplate;
    const sync::ReportContext context{"Sorvane Report", "/src", "/dst", 0, false};

    std::printf("%zu rows, %d runs each\n", rowCount, runs);
    int status = 0;
    for (const auto& [format, name] :
         {std::pair{ReportFormat::Html, "report.html"}, std::pair{ReportFormat::Csv, "report.csv"}}) {
        const std::string path = (folder / name).string();
        std::vector<double> times;
        for (int run = 0; run < runs; ++run) {
            const auto start = std::chrono::steady_clock::now();
            const WriteOutcome written = sync::ReportExport::Write(path, format, grid, context);
            const std::chrono::duration<double, std::milli> took =
                std::chrono::steady_clock::now() - start;
            if (!written) {
                std::fprintf(stderr, "%s: %s\n", name, written.error().Message().c_str());
                status = 1;
                break;
            }
            times.push_back(took.count());
        }
        if (times.empty())
            continue;
        std::sort(times.begin(), times.end());
        std::printf("%-12s median %8.1f ms   fastest %8.1f ms   %10ju bytes\n", name,
                    times[times.size() / 2], times.front(),
                    static_cast<std::uintmax_t>(std::filesystem::file_size(path)));
    }
    std::filesystem::remove_all(folder);
    return status;
}
