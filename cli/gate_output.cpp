#include "gate_output.h"

#include "engine/scan/scan_driver.h"
#include "engine/scan/source_map.h"
#include "engine/text/text_utils.h"

#include <algorithm>

namespace sorvane::cli {

const std::vector<GateCategory>& GateCategories() {
    static const std::vector<GateCategory> categories = {
        {"newer-source", ComparisonMark::NewerSource},
        {"newer-target", ComparisonMark::NewerTarget},
        {"unequal-language", ComparisonMark::UnequalLanguage},
        {"different-size", ComparisonMark::DifferentSize},
        {"incomparable", ComparisonMark::Incomparable},
        {"orphans", ComparisonMark::Orphan},
    };
    return categories;
}

bool GateConditions::Fails(const ComparisonRow& row) const {
    return std::ranges::find(marks, row.Mark) != marks.end() ||
           (assemblyVersionDown && AssemblyVersionWentDown(row));
}

std::expected<GateConditions, std::string> ParseFailOn(std::string_view text) {
    GateConditions gate;
    std::size_t at = 0;
    for (;;) {
        const std::size_t comma = text.find(',', at);
        const std::string_view name =
            TrimBlanks(text.substr(at, comma == std::string_view::npos ? comma : comma - at));
        const auto known = std::ranges::find(GateCategories(), name, &GateCategory::name);
        if (name == kAssemblyVersionDown) {
            gate.assemblyVersionDown = true;
        } else if (known == GateCategories().end()) {
            std::string why = "'";
            why.append(name);
            why += "' is no category; the categories: ";
            for (const GateCategory& category : GateCategories()) {
                if (category.mark != GateCategories().front().mark)
                    why += ", ";
                why += category.name;
            }
            why += ", and ";
            why += kAssemblyVersionDown;
            return std::unexpected(std::move(why));
        } else if (std::ranges::find(gate.marks, known->mark) == gate.marks.end()) {
            gate.marks.push_back(known->mark);
        }
        if (comma == std::string_view::npos)
            return gate;
        at = comma + 1;
    }
}

std::string_view GateCategoryName(ComparisonMark mark) {
    if (mark == ComparisonMark::Equal)
        return "equal";
    if (mark == ComparisonMark::Copied)
        return "copied";
    const auto known = std::ranges::find(GateCategories(), mark, &GateCategory::mark);
    return known == GateCategories().end() ? std::string_view() : known->name;
}

std::string XmlText(std::string_view utf8) {
    // Controls (which XML 1.0 cannot hold) and direction marks as the grid
    // shows them, then the characters markup gives a meaning to.
    const std::string shown = NeedsEscapes(utf8) ? EscapeControls(utf8) : std::string(utf8);
    std::string out;
    out.reserve(shown.size());
    for (const char c : shown) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += c;
        }
    }
    return out;
}

namespace {

std::string GithubEscape(std::string_view text, bool property) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '%': out += "%25"; break;
        case '\r': out += "%0D"; break;
        case '\n': out += "%0A"; break;
        case ':': out += property ? "%3A" : ":"; break;
        case ',': out += property ? "%2C" : ","; break;
        default: out += c;
        }
    }
    return out;
}

// "1.02.0003 (English (United States))", or "no version".
std::string Side(const std::string& version, const std::string& language) {
    if (version.empty())
        return "no version";
    return language.empty() ? version : version + " (" + language + ")";
}

} // namespace

std::string GateRowMessage(const ComparisonRow& row) {
    std::string category(GateCategoryName(row.Mark));
    std::replace(category.begin(), category.end(), '-', ' ');
    std::string message = category + ": source " + Side(row.SourceVersion, row.SourceLanguage) +
                          ", target " + Side(row.TargetVersion, row.TargetLanguage) + ", mark " +
                          std::string(MarkText(row.Mark));
    if (!row.SourceAssemblyVersion.empty() || !row.TargetAssemblyVersion.empty()) {
        const auto side = [](const std::string& version) {
            return version.empty() ? std::string("none") : version;
        };
        message += "; assembly version: ";
        // The source of a Source Map row was never read: a map holds no
        // assembly version, so there is none to name.
        if (row.SourceStamp.state != FileStamp::State::Unknown)
            message += "source " + side(row.SourceAssemblyVersion) + ", ";
        message += "target " + side(row.TargetAssemblyVersion);
        if (AssemblyVersionWentDown(row))
            message += " (went down)";
    }
    return DecodeText(message);
}

namespace {

class JUnitOutput : public RowOutput {
public:
    JUnitOutput(std::ostream& out, GateConditions failOn)
        : out_(out), failOn_(std::move(failOn)) {}

    void Begin(const ScanHeading& heading) override {
        suite_ = DecodeText(heading.source) +
                 (heading.target.empty() ? "" : " -> " + DecodeText(heading.target));
    }

    void Row(const ComparisonRow& row) override {
        std::string test = "    <testcase classname=\"sorvane.compare\" name=\"" +
                           XmlText(DecodeText(row.Name)) + "\" time=\"0\"";
        if (failOn_.Fails(row)) {
            const std::string message = XmlText(GateRowMessage(row));
            // Named after the row's category when that is listed, else
            // after the assembly's version.
            const bool listed = std::ranges::find(failOn_.marks, row.Mark) != failOn_.marks.end();
            test += ">\n      <failure type=\"" +
                    std::string(listed ? GateCategoryName(row.Mark) : kAssemblyVersionDown) +
                    "\" message=\"" + message + "\">" + message + "</failure>\n    </testcase>\n";
            ++failures_;
        } else {
            test += "/>\n";
        }
        cases_ += test;
        ++written_;
    }

    void End(const ScanOutcome& outcome) override {
        std::string errors;
        for (const auto& entry : outcome.unreadable) {
            const std::string message = XmlText(entry.error.message());
            errors += "    <testcase classname=\"sorvane.compare\" name=\"" +
                      XmlText(DecodeText(entry.path)) + "\" time=\"0\">\n      <error type=\"" +
                      "unreadable\" message=\"" + message + "\">" + message +
                      "</error>\n    </testcase>\n";
        }
        const std::size_t tests = written_ + outcome.unreadable.size();
        const std::string counts = " tests=\"" + std::to_string(tests) + "\" failures=\"" +
                                   std::to_string(failures_) + "\" errors=\"" +
                                   std::to_string(outcome.unreadable.size()) + "\"";
        out_ << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
             << "<testsuites name=\"sorvane-cli compare\"" << counts << ">\n"
             << "  <testsuite name=\"" << XmlText(suite_) << "\"" << counts
             << " skipped=\"0\" time=\"0\">\n"
             << cases_ << errors << "  </testsuite>\n</testsuites>\n";
    }

private:
    std::ostream& out_;
    GateConditions failOn_;
    std::string suite_;
    std::string cases_;
    std::size_t failures_ = 0;
};

class GithubOutput : public RowOutput {
public:
    GithubOutput(std::ostream& out, GateConditions failOn)
        : out_(out), failOn_(std::move(failOn)) {}

    void Begin(const ScanHeading& heading) override {
        // The source's files are named; a map has no folder of files, so its
        // target's are.
        folder_ = IsSourceMapPath(heading.source) || heading.source.empty() ? heading.target
                                                                            : heading.source;
    }

    void Row(const ComparisonRow& row) override {
        const bool fails = failOn_.Fails(row);
        if (!fails && (row.Mark == ComparisonMark::Equal || row.Mark == ComparisonMark::None))
            return;
        const std::string name = DecodeText(row.Name);
        line_ = fails ? "::error" : "::warning";
        line_ += " file=" + GithubProperty(DecodeText(JoinPath(folder_, row.Name))) +
                 ",title=" + GithubProperty("Sorvane: " + name) +
                 "::" + GithubData(name + ": " + GateRowMessage(row)) + "\n";
        out_ << line_;
        ++written_;
    }

    void End(const ScanOutcome& outcome) override {
        for (const auto& entry : outcome.unreadable)
            out_ << "::error file=" << GithubProperty(DecodeText(entry.path))
                 << ",title=" << GithubProperty("Sorvane: not read") << "::"
                 << GithubData(DecodeText(entry.path) + ": " + entry.error.message()) << "\n";
    }

private:
    std::ostream& out_;
    GateConditions failOn_;
    std::string folder_;
    std::string line_;
};

} // namespace

std::string GithubData(std::string_view text) { return GithubEscape(text, false); }
std::string GithubProperty(std::string_view text) { return GithubEscape(text, true); }

std::unique_ptr<RowOutput> MakeJUnitOutput(std::ostream& out, GateConditions failOn) {
    return std::make_unique<JUnitOutput>(out, std::move(failOn));
}

std::unique_ptr<RowOutput> MakeGithubOutput(std::ostream& out, GateConditions failOn) {
    return std::make_unique<GithubOutput>(out, std::move(failOn));
}

} // namespace sorvane::cli
