#pragma once
// What the program reads from one file: the version resource of executables
// and every other file, the names of TrueType fonts, the attributes of type
// libraries. A file is parsed once; the reader functions below are views of
// that one parse and give the texts the result grid shows.

#include "engine/failure.h"
#include "engine/formats/byte_source.h"
#include "engine/formats/pe_image.h"
#include "engine/formats/truetype_reader.h"
#include "engine/formats/typelib_reader.h"
#include "engine/formats/version_block.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace sorvane {

/// Which reader a file gets, decided by its extension.
enum class FileKind { VersionResource, TrueType, TypeLibrary };

/// ".TTF" (any case) is a font, ".TLB" and ".OLB" type libraries, anything
/// else a file with a version resource.
FileKind FileKindOf(std::string_view extension);

/// Everything one parse of a file gives.
struct FileVersionData {
    FileKind kind = FileKind::VersionResource;
    /// The file could be opened for reading (a regular, readable file).
    bool opened = false;
    /// Its size in bytes when opened.
    std::int64_t size = 0;
    /// Version resources: the parsed block, and the language of the resource
    /// entry it came from.
    std::optional<VersionInfo> version;
    std::uint16_t resourceLanguage = 0;
    /// Every language the version resource is stored in, in directory order
    /// (`resourceLanguage` is the one read); empty for NE files.
    std::vector<std::uint16_t> resourceLanguages;
    /// The kind of executable the version resource or type library was
    /// looked for in; nothing when the file is not an executable.
    std::optional<ExecutableFormat> executable;
    /// Fonts: the naming table.
    std::optional<TrueTypeNames> font;
    /// Type libraries: the library attributes (nothing when it cannot be loaded).
    std::optional<TypeLibraryInfo> typeLibrary;
    /// .NET assemblies: the identity of the Assembly table, or why the
    /// metadata gave none. Both empty for a file without a CLI header.
    std::optional<AssemblyIdentity> assembly;
    std::optional<Failure> assemblyFailure;
    /// Why the file could not be read when it is there but opening or reading
    /// it failed (permissions, too many open files, an I/O error); the data
    /// above is then incomplete. Clear for a missing path and for anything
    /// that is not a regular file.
    std::error_code error;
    /// Why the file gave no data, or incomplete data: opening it failed (the
    /// system's error, or NotRegularFile, step Open), a read failed (step
    /// Read), or its reader found nothing it could use (NotVersioned,
    /// Truncated or BadFormat, with the reader's step). Nothing when the
    /// reader got its data. Its path is set by the reader of a path only.
    std::optional<Failure> failure;
};

/// How much of a version resource a read keeps.
enum class ReadDepth {
    Everything,
    /// Only what ScanTexts takes from it: the other strings of the string
    /// tables and the list of the resource's languages are left out, which
    /// saves most of the work on a scan.
    RowTexts,
};

/// Parses the file at `path` with the reader for `kind`. Missing files,
/// folders, FIFOs, devices and unreadable files give `opened` false and no
/// data; they are never opened for reading, so nothing can block. A file
/// that is there but cannot be read also sets `error`. A file that gives no
/// data always has a `failure`, which names `path`. Paths longer than
/// PATH_MAX are read too.
FileVersionData ReadFileVersionData(const std::string& path, FileKind kind);

class OpenedFile;

/// The same for a file opened by the caller, who keeps it open: `file` is
/// null when opening failed, with `openError` saying why (clear when the path
/// names nothing or no regular file: then there is no `failure` either, the
/// caller knowing best what the path names).
FileVersionData ReadFileVersionData(const OpenedFile* file, std::error_code openError,
                                    FileKind kind, ReadDepth depth = ReadDepth::Everything);

/// The same over any byte source (tests and fuzzers).
FileVersionData ReadFileVersionData(const ByteSource& source, FileKind kind,
                                    ReadDepth depth = ReadDepth::Everything);

/// The four texts of one side of a row.
struct VersionTexts {
    std::string version;
    std::string language;
    std::string description;
    std::string copyright;
    bool operator==(const VersionTexts&) const = default;
};

/// The texts the scan shows for a file: version, language, description and
/// copyright, each empty when the file has none.
VersionTexts ScanTexts(const FileVersionData& data);

/// What a scan takes of one file.
struct ScanFileTexts {
    VersionTexts texts;
    std::int64_t size = 0;
    /// Why the file could not be read (as FileVersionData::error).
    std::error_code error;
    /// A type library was loaded.
    bool typeLibrary = false;
    /// The AssemblyVersion of a .NET assembly; empty for any other file.
    std::string assemblyVersion;
};

/// ScanTexts of ReadFileVersionData(file, openError, kind, ReadDepth::RowTexts),
/// with the rest of that data a scan needs. A version block is parsed into
/// lists and texts the calling thread keeps for its next file, so reading
/// file after file takes new memory only for the texts handed out.
ScanFileTexts ReadScanTexts(const OpenedFile* file, std::error_code openError, FileKind kind);

/// "5.00.2134.01" from version 5.0.2134.1; "2.03.0000" when the low double
/// word is 0.
std::string FixedFileVersionText(const FixedFileInfo& fixed);

/// The language name of an identifier, "[Neutral]" when the table has none.
std::string LanguageText(std::uint32_t lcid);

/// The eight upper-case hex digits of a translation: language, code page.
std::string TranslationCode(const Translation& translation);

// The reader functions, each parsing the file it is given.

/// The file version from the fixed part; empty without one.
std::string ReadFixedFileVersion(const std::string& path);

/// The "FileDescription" of the first translation. When `language` is given
/// and the file has a translation table, it receives the language name of the
/// first translation ("[Neutral]" when unnamed); otherwise it is left alone.
std::string ReadFileDescription(const std::string& path, std::string* language = nullptr);

/// The string `valueName` of the first translation; empty when missing.
std::string ReadVersionString(const std::string& path, std::string_view valueName);

/// Name requests of ReadTrueTypeName.
inline constexpr int kTrueTypeCopyright = 0;
inline constexpr int kTrueTypeFamily = 1;
/// Name 5, the version string, with a leading "Version " removed.
inline constexpr int kTrueTypeVersion = 15;

/// A name of a TrueType font: 0 copyright, 1 family, 15 version.
std::string ReadTrueTypeName(const std::string& path, int wanted);

/// What the type library reader gives.
struct TypeLibraryTexts {
    std::string version;  ///< "major.minor"; empty when not loaded
    std::string language; ///< language name, "[Neutral]" when unnamed
    std::string helpString;
    bool loaded = false;
};

TypeLibraryTexts ReadTypeLibraryInfo(const std::string& path);

constexpr std::uint16_t HiWord(std::uint32_t x) {
    return static_cast<std::uint16_t>(x >> 16);
}
constexpr std::uint16_t LoWord(std::uint32_t x) {
    return static_cast<std::uint16_t>(x & 0xFFFF);
}

/// The value of a 16-bit number read little-endian whose bytes were really
/// big-endian.
constexpr std::uint16_t SwapWordBytes(std::uint16_t v) {
    return static_cast<std::uint16_t>((v << 8) | (v >> 8));
}

/// The number a text of hexadecimal digits denotes ("040c" gives 1036); a
/// character that is not a hex digit counts as its decimal digit value, or 0.
double HexToNumber(std::string_view text);

} // namespace sorvane
