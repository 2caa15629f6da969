#pragma once
// Reads CSV text back as a spreadsheet does, for tests of what the program writes.

#include <string>
#include <string_view>
#include <vector>

namespace sorvane::test {

/// The records of a CSV text: fields quoted with doubled quotes inside; an
/// unquoted CR LF, CR or LF ends a record.
inline std::vector<std::vector<std::string>> ReadCsv(std::string_view text) {
    std::vector<std::vector<std::string>> records(1, std::vector<std::string>(1));
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"')
            records.back().back() += text[++i];
        else if (c == '"')
            quoted = !quoted;
        else if (!quoted && c == ',')
            records.back().emplace_back();
        else if (!quoted && (c == '\r' || c == '\n'))
            records.emplace_back(1), i += text.substr(i, 2) == "\r\n";
        else
            records.back().back() += c;
    }
    records.pop_back(); // after the last line break
    return records;
}

} // namespace sorvane::test
