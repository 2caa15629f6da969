#pragma once
// Source Maps: a text file recording, for one source folder, the source side
// of each row of a result: relative path, extension, version, language, size.
// Line 1 is the folder; each further line is one entry of five fields joined
// by "|". Lines end with CR LF; text is UTF-8 (read back as UTF-8 when valid,
// else Windows-1252).

#include "comparison.h"

#include <cstdint>
#include <expected>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sorvane {

/// One entry of a map.
struct SourceMapEntry {
    std::string Name;     ///< relative path, "/" between folders
    std::string Ext;
    std::string Version;
    std::string Language;
    std::int64_t Size = 0;
    bool operator==(const SourceMapEntry&) const = default;
};

/// The entry line of a row: Name (folders joined by "\"), Ext, version,
/// language, size.
std::string SourceMapLine(const ComparisonRow& row);

/// Parses one entry line. Fields after the fifth are ignored; with fewer
/// than five, the first missing field is empty and the following ones repeat
/// the line's fields from the first on. The size is the leading number of
/// field 5, 0 when there is none. "\" and "/" both separate folders.
SourceMapEntry ParseSourceMapLine(std::string_view line);

/// Writes a map: `header`, then one line per row in the given order. The
/// file is written beside its final name and renamed over it, so a failed
/// write never replaces a good map. The error text says what went wrong.
std::expected<void, std::string> WriteSourceMap(const std::string& path, std::string_view header,
                                                const std::vector<ComparisonRow>& rows);

/// Reads a map line by line without loading it whole.
class SourceMapReader {
public:
    /// Opens the map and reads its header (normalised as a folder path:
    /// quotes and a trailing "/" removed). Nothing when the file cannot be
    /// opened as a regular file.
    static std::optional<SourceMapReader> Open(const std::string& path);

    const std::string& Header() const { return header_; }

    /// The next entry; nothing at the end of the file.
    std::optional<SourceMapEntry> Next();

private:
    SourceMapReader() = default;
    /// The next line without its end (CR LF, LF or a lone CR), decoded;
    /// nothing at the end. Overlong lines are cut at 64 KiB.
    std::optional<std::string> NextLine();

    std::ifstream in_;
    std::string header_;
};

/// True when a Source text names a map: after normalisation it ends with
/// ".map" in any letter case.
bool IsSourceMapPath(std::string_view sourceText);

/// The folder a file dialog starts in for `path`: its folder part when that
/// folder exists; `fallback` when `path` has no usable folder part; the home
/// folder when the folder found does not exist.
std::string FolderForDialog(std::string_view path, std::string_view fallback);

} // namespace sorvane
