#include "engine/scan/source_map.h"

#include "engine/files/atomic_file.h"
#include "engine/scan/scan_driver.h"
#include "engine/text/number_utils.h"
#include "engine/text/path_utils.h"
#include "engine/text/text_utils.h"
#include "engine/text/tokenizer.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace sorvane {
namespace {

constexpr std::size_t kMaxLineBytes = 64 * 1024;

std::string WithSeparator(std::string_view text, char from, char to) {
    std::string out(text);
    for (char& c : out)
        if (c == from)
            c = to;
    return out;
}

std::int64_t WholeNumber(double value) {
    if (std::isnan(value))
        return 0;
    if (value >= 9.2e18)
        return INT64_MAX;
    if (value <= -9.2e18)
        return INT64_MIN;
    return static_cast<std::int64_t>(std::nearbyint(value));
}

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    return (home != nullptr && *home != '\0') ? std::string(home) : std::string("/");
}


} // namespace

std::string SourceMapLine(const ComparisonRow& row) {
    std::string line = WithSeparator(row.Name, '/', '\\');
    line.append("|").append(OneLine(row.Ext));
    line.append("|").append(OneLine(row.SourceVersion));
    line.append("|").append(OneLine(row.SourceLanguage));
    line.append("|").append(std::to_string(row.SourceSize));
    if (row.SourceHash)
        line.append("|").append(row.SourceHash->Hex());
    return line;
}

bool MapCanHoldName(std::string_view name) {
    // "\\" reads back as a folder separator, "|" splits the fields, a line
    // break splits the entry, and bytes that are not UTF-8 would be read back
    // as Windows-1252 text: another name each time.
    return !name.empty() && name.find_first_of("|\\") == std::string_view::npos &&
           IsOneLineUtf8(name);
}

SourceMapEntry ParseSourceMapLine(std::string_view line) {
    // One tokenizer per line: after the last field it starts again at the
    // line's beginning, which is what fills the missing fields.
    Tokenizer fields;
    SourceMapEntry entry;
    entry.Name = WithSeparator(fields.FirstToken(line, "|"), '\\', '/');
    entry.Ext = fields.NextToken(line);
    entry.Version = fields.NextToken(line);
    entry.Language = fields.NextToken(line);
    entry.Size = WholeNumber(NumericValue(fields.NextToken(line)));
    // The hash only from a sixth field of its own: on a shorter line the
    // tokenizer would start over and hand out field 1 again. A field that is
    // not a hash (damaged, or cut short) leaves the entry without one: its
    // bytes are then not compared, which is what a map without hashes gives.
    if (std::count(line.begin(), line.end(), '|') >= 5)
        entry.Hash = ContentHash::FromHex(fields.NextToken(line));
    return entry;
}

Result<SourceMapWriteResult> WriteSourceMap(const std::string& path, std::string_view header,
                                            RowRange rows) {
    SourceMapWriteResult result;
    std::string text = OneLine(header);
    text.append("\r\n");
    ComparisonRow scratch;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ComparisonRow& row = rows.At(i, scratch);
        if (!MapCanHoldName(row.Name)) {
            result.skippedNames.push_back(row.Name);
            continue;
        }
        text.append(SourceMapLine(row)).append("\r\n");
        ++result.written;
    }
    if (auto written = WriteFileAtomically(path, text); !written)
        return Fail(std::move(written.error()));
    return result;
}

std::string SourceMapHeader(std::string_view sourceText, std::string_view targetText,
                            bool sourceIsMap) {
    const std::string source = NormalizeFolderPath(sourceText, false);
    if (sourceIsMap && !source.empty()) {
        if (auto map = SourceMapReader::Open(source); map && !map->Header().empty())
            return map->Header();
    }
    const std::string folder = source.empty() ? NormalizeFolderPath(targetText, false) : source;
    if (folder.empty())
        return folder;
    std::error_code error;
    const auto absolute = std::filesystem::absolute(folder, error);
    if (error)
        return folder;
    return NormalizeFolderPath(absolute.lexically_normal().string(), false);
}

std::optional<std::string> SourceMapArchive(const std::string& path) {
    auto map = SourceMapReader::Open(path);
    if (!map || map->Header().empty() || !IsArchiveSide(map->Header()))
        return std::nullopt;
    return map->Header();
}

std::string SkippedNamesReport(const std::vector<std::string>& names, std::size_t shown) {
    std::string report;
    for (std::size_t i = 0; i < names.size() && i < shown; ++i) {
        // Shown as the grid shows names: line breaks and direction marks as
        // escapes, the bytes that are not UTF-8 as replacement marks.
        report.append(EscapeControls(names[i])).append("\n");
    }
    if (names.size() > shown)
        report.append("and ").append(std::to_string(names.size() - shown)).append(" more\n");
    return report;
}

std::optional<SourceMapReader> SourceMapReader::Open(const std::string& path) {
    struct stat st {};
    // Only regular files: a FIFO or a device named as a map must not block the scan.
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    SourceMapReader reader;
    reader.in_.open(path, std::ios::binary);
    if (!reader.in_)
        return std::nullopt;
    // A byte-order mark, as some editors write, is not part of the folder.
    char mark[3] = {};
    if (reader.in_.read(mark, 3).gcount() != 3 || std::string_view(mark, 3) != "\xEF\xBB\xBF") {
        reader.in_.clear();
        reader.in_.seekg(0);
    }
    reader.header_ = NormalizeFolderPath(reader.NextLine().value_or(std::string{}), false);
    return reader;
}

std::optional<std::string> SourceMapReader::NextLine() {
    std::string line;
    bool any = false;
    std::streambuf* buffer = in_.rdbuf();
    for (;;) {
        const int c = buffer->sbumpc();
        if (c == std::char_traits<char>::eof())
            break;
        any = true;
        if (c == '\n')
            break;
        if (c == '\r') {
            if (buffer->sgetc() == '\n')
                buffer->sbumpc();
            break;
        }
        if (line.size() < kMaxLineBytes)
            line.push_back(static_cast<char>(c));
    }
    if (!any)
        return std::nullopt;
    return DecodeText(line);
}

std::optional<SourceMapEntry> SourceMapReader::Next() {
    const auto line = NextLine();
    if (!line)
        return std::nullopt;
    return ParseSourceMapLine(*line);
}

bool SourceMapHoldsHashes(const std::string& path) {
    auto map = SourceMapReader::Open(path);
    if (!map)
        return false;
    const auto first = map->Next();
    return first && first->Hash.has_value();
}

bool IsSourceMapPath(std::string_view sourceText) {
    return EndsWithIgnoreCase(NormalizeFolderPath(sourceText, false), ".map");
}

std::string FolderForDialog(std::string_view path, std::string_view fallback) {
    std::string text(path);
    if (text.ends_with('/'))
        text += "-.-";
    std::string drive;
    std::string folder;
    std::string result;
    if (!ParsePath(text, {.drive = &drive, .folder = &folder}, kLongNames).empty())
        result = drive + folder;
    if (result.empty())
        result = fallback;
    if (!FolderExists(result))
        return HomeFolder();
    return result;
}

} // namespace sorvane
