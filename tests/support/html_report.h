#pragma once
// Reads a report page with an HTML parser that is not the code that wrote it
// (Python's html.parser, through tests/support/html_report.py).

#include <string>

namespace sorvane::test {

struct HtmlReportReading {
    /// False when no Python was found at configure time; the test skips.
    bool available = false;
    /// The page was read and is well formed.
    bool wellFormed = false;
    /// JSON with "title", "heading", "counters", "captions" and "rows"
    /// ({"class", "cells"}) when well formed, else what was wrong.
    std::string output;
};

HtmlReportReading ReadHtmlReport(const std::string& file);

} // namespace sorvane::test
