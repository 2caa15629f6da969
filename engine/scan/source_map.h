#pragma once
// Source Maps: a text file recording, for one source folder, the source side
// of each row of a result: relative path, extension, version, language, size.
// Line 1 is the folder; each further line is one entry of five fields joined
// by "|". Lines end with CR LF; text is UTF-8 (read back as UTF-8 when valid,
// else Windows-1252).
//
// How the format grows: new fields only ever go after the fifth. A reader
// takes field 5 up to the next "|" and never looks past it, so every reader
// of five fields (this program's older versions among them) reads a longer
// line as the same entry and ignores the rest. A map saved with the contents
// compared has a sixth field: the XXH3-128 hash of the source file's bytes,
// 32 hex digits, as xxhsum -H2 prints it. An entry without one (an older map,
// or a row whose bytes were not read) simply has five fields.

#include "engine/failure.h"
#include "engine/scan/comparison.h"
#include "engine/scan/row_range.h"

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
    /// The hash of the file's bytes (field 6); nothing when the line has no
    /// sixth field or one that is not 32 hex digits.
    std::optional<ContentHash> Hash = {};
    bool operator==(const SourceMapEntry&) const = default;
};

/// The entry line of a row: Name (folders joined by "\"), Ext, version,
/// language, size, and the hash of the source's bytes when the row has one.
std::string SourceMapLine(const ComparisonRow& row);

/// Parses one entry line. With fewer than five fields, the first missing
/// field is empty and the following ones repeat the line's fields from the
/// first on. The size is the leading number of field 5, 0 when there is none.
/// Field 6 is the hash; fields after it are ignored. "\" and "/" both
/// separate folders.
SourceMapEntry ParseSourceMapLine(std::string_view line);

/// True when the first entry of the map at `path` holds a hash: a map saved
/// with the contents compared. False for a map that cannot be read.
bool SourceMapHoldsHashes(const std::string& path);

/// True when a map line can hold `name` so that it reads back as the same
/// file: valid UTF-8 without "|", "\\" or a line break.
bool MapCanHoldName(std::string_view name);

/// What a map save did.
struct SourceMapWriteResult {
    std::size_t written = 0;
    /// Names left out because a map line cannot hold them, in row order.
    std::vector<std::string> skippedNames;
};

/// Writes a map: `header`, then one line per row in the given order. Rows
/// whose name the format cannot hold are left out (a line break in another
/// field becomes a blank). The file is written beside its final name and
/// renamed over it, so a failed write never replaces a good map. A failure
/// is the write's.
Result<SourceMapWriteResult> WriteSourceMap(const std::string& path, std::string_view header,
                                            RowRange rows);

/// The header of a map saved from these box texts: the Source folder, or the
/// Target when the Source is empty, normalised and made absolute (against the
/// working folder). When the Source is itself a map, the folder that map was
/// saved from (its own header), or the map's path when it cannot be read.
std::string SourceMapHeader(std::string_view sourceText, std::string_view targetText,
                            bool sourceIsMap);

/// The archive (or installer) the map at `path` was saved from: its header
/// when that names no folder but an archive. Whatever goes back to where a
/// map's rows came from (the files a row stands for, what a copy would read)
/// reads the members of this archive. Nothing for a map of a folder and for
/// a map that cannot be read.
std::optional<std::string> SourceMapArchive(const std::string& path);

/// A short report of names left out of a map or a list: up to `shown` of
/// them, one per line, shown as EscapeControls shows them (invalid bytes as
/// U+FFFD, a line break as \x0a), then how many more. Empty when there are
/// none.
std::string SkippedNamesReport(const std::vector<std::string>& names, std::size_t shown);

/// Reads a map line by line without loading it whole.
class SourceMapReader {
public:
    /// Opens the map and reads its header (normalised as a folder path:
    /// quotes and a trailing "/" removed; a leading UTF-8 byte-order mark
    /// skipped). Nothing when the file cannot be opened as a regular file.
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
