#include "support/html_report.h"

#include <cstdio>
#include <sys/wait.h>

namespace sorvane::test {
namespace {

// Single quotes around a path for sh.
std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

} // namespace

HtmlReportReading ReadHtmlReport(const std::string& file) {
    HtmlReportReading reading;
    const std::string python = SORVANE_PYTHON3;
    if (python.empty())
        return reading;
    reading.available = true;
    const std::string command =
        Quoted(python) + " " + Quoted(SORVANE_HTML_REPORT_SCRIPT) + " " + Quoted(file) + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        reading.output = "python could not be started";
        return reading;
    }
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
        reading.output.append(chunk, n);
    const int status = ::pclose(pipe);
    reading.wellFormed = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return reading;
}

} // namespace sorvane::test
