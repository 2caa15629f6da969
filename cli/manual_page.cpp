#include "manual_page.h"

#include "engine/text/text_utils.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace sorvane::cli {
namespace {

struct Line {
    std::size_t indent = 0;
    std::string_view text; ///< without the indent
};

std::vector<Line> SplitLines(std::string_view help) {
    std::vector<Line> lines;
    while (!help.empty()) {
        const auto end = help.find('\n');
        std::string_view line = help.substr(0, end);
        help = end == std::string_view::npos ? std::string_view() : help.substr(end + 1);
        const auto first = line.find_first_not_of(' ');
        if (first == std::string_view::npos)
            lines.push_back({0, {}});
        else
            lines.push_back({first, line.substr(first)});
    }
    return lines;
}

std::string_view TrimLeft(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

// Text as roff reads it literally: "\" and "-" (a minus, so that options can
// be copied from the page) escaped, anything beyond ASCII by its code point.
std::string Escape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (static_cast<unsigned char>(c) >= 0x80) {
            char name[16];
            std::snprintf(name, sizeof name, "\\[u%04X]",
                          static_cast<unsigned>(sorvane::NextCodePoint(text, i)));
            out += name;
            continue;
        }
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
        ++i;
    }
    return out;
}

// One line of running text; a leading dot or quote would be read as a request.
void AddText(std::string& out, std::string_view roff) {
    if (roff.starts_with('.') || roff.starts_with('\''))
        out += "\\&";
    out.append(roff).append("\n");
}

// An option or a command line: options in bold, placeholders (words with a
// capital letter) in italics, literal words as they are.
std::string FormatWords(std::string_view words, bool firstBold) {
    std::string out;
    bool first = true;
    while (!words.empty()) {
        const auto end = words.find(' ');
        const std::string_view word = words.substr(0, end);
        words = end == std::string_view::npos ? std::string_view() : words.substr(end + 1);
        if (!out.empty())
            out += ' ';
        const bool hasCapital = word.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") != word.npos;
        const std::string_view core = word.ends_with(',') ? word.substr(0, word.size() - 1) : word;
        if ((first && firstBold) || word.starts_with('-'))
            out += "\\fB" + Escape(core) + "\\fR";
        else if (hasCapital)
            out += "\\fI" + Escape(core) + "\\fR";
        else
            out += Escape(core);
        if (core.size() != word.size())
            out += ',';
        first = false;
    }
    return out;
}

// "TAG  description": the tag up to the first two blanks, and the rest.
std::pair<std::string_view, std::string_view> SplitItem(std::string_view text) {
    const auto gap = text.find("  ");
    if (gap == std::string_view::npos)
        return {text, {}};
    return {text.substr(0, gap), TrimLeft(text.substr(gap))};
}

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

} // namespace

std::string ManualPage(std::string_view help, const ManualPageInfo& info) {
    const std::vector<Line> lines = SplitLines(help);
    std::string body;
    std::string name;
    std::string section;
    enum class Mode { None, Prose, Option, Block } mode = Mode::None;
    const auto endBlock = [&] {
        if (mode == Mode::Block)
            body += ".fi\n.RE\n";
        mode = Mode::None;
    };
    // An option: its name (and arguments) as the tag, its description below.
    const auto addOption = [&](std::string_view text) {
        endBlock();
        const auto [tag, description] = SplitItem(text);
        body += ".TP\n";
        // Variables in bold, as man pages show them; files and values
        // (words with a capital) in italics.
        AddText(body, FormatWords(tag, section == "Environment"));
        if (!description.empty())
            AddText(body, Escape(description));
        mode = Mode::Option;
    };
    const auto nextIndent = [&](std::size_t i) -> std::size_t {
        for (std::size_t k = i + 1; k < lines.size(); ++k)
            if (!lines[k].text.empty())
                return lines[k].indent;
        return 0;
    };
    bool first = true;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        if (line.text.empty())
            continue;
        if (first) {
            first = false;
            name = std::string(line.text.substr(0, line.text.find(' ')));
            body += ".SH NAME\n";
            AddText(body, Escape(line.text));
            continue;
        }
        if (line.indent == 0) {
            endBlock();
            const auto colon = line.text.find(':');
            section = std::string(line.text.substr(0, colon));
            body += ".SH \"" + (section == "Usage" ? "SYNOPSIS" : Escape(Upper(section))) + "\"\n";
            if (colon != std::string_view::npos && !TrimLeft(line.text.substr(colon + 1)).empty()) {
                body += ".PP\n";
                AddText(body, Escape(TrimLeft(line.text.substr(colon + 1))));
                mode = Mode::Prose;
            }
            continue;
        }
        if (line.indent < 8) {
            if (section == "Usage" || section == "Examples") {
                if (mode != Mode::Block)
                    body += ".PP\n.RS 4\n.nf\n";
                mode = Mode::Block;
                const auto [command, note] = SplitItem(line.text);
                std::string text = section == "Usage" ? FormatWords(command, true) : Escape(command);
                if (!note.empty())
                    text += Escape(line.text.substr(command.size(), line.text.size() -
                                                                        command.size() - note.size())) +
                            Escape(note);
                AddText(body, text);
            } else if (nextIndent(i) >= 8 && SplitItem(line.text).second.empty()) {
                endBlock();
                body += ".SS \"" + Escape(line.text) + "\"\n";
            } else {
                addOption(line.text);
            }
            continue;
        }
        // Running text may begin with an option's name too; an option line
        // has its description after a gap or on the deeper lines below.
        if (line.indent == 8 && line.text.starts_with('-') &&
            (line.text.find("  ") != std::string_view::npos || nextIndent(i) > 8)) {
            addOption(line.text);
            continue;
        }
        if (mode == Mode::Block)
            endBlock();
        if (!(mode == Mode::Option && line.indent > 8) && mode != Mode::Prose) {
            body += ".PP\n";
            mode = Mode::Prose;
        }
        AddText(body, Escape(line.text));
    }
    endBlock();

    std::string page = ".\\\" Made from the text of " + name +
                       " --help; change that text, not this file.\n";
    page += ".TH \"" + Escape(Upper(name)) + "\" 1 \"" + Escape(info.date) + "\" \"Sorvane " +
            Escape(info.version) + "\" \"User Commands\"\n";
    return page + body;
}

} // namespace sorvane::cli
