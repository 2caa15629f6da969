#pragma once
// Path tests, folder-path normalisation, the path splitter and the line
// counter. Paths use "/" between folders; the root "/" is never stripped.

#include <cstdint>
#include <string>
#include <string_view>

namespace sorvane {

/// Removes one pair of enclosing double quotes; then, unless the path is the
/// root "/", removes one trailing "/" (`addSeparator` false) or makes sure the
/// path ends with one (`addSeparator` true). A lone double quote and an empty
/// path give empty text.
std::string NormalizeFolderPath(std::string_view path, bool addSeparator);

/// Joins a folder and a relative path with one "/" (a member of an archive:
/// ARCHIVE/member).
std::string JoinPath(std::string_view folder, std::string_view relative);

/// True when `path` names an existing folder (links followed). False for an
/// empty path or one whose attributes cannot be read.
bool FolderExists(std::string_view path);

/// True when both paths name one existing folder: the same device and inode,
/// whatever the spelling (another letter case is another folder; a symbolic
/// link or a "./" leads to the same one).
bool SameFolder(std::string_view first, std::string_view second);

/// True when `path` names an existing file system object that is not a folder.
bool FileExists(std::string_view path);

/// Number of text lines in the file: lines end with LF, CR LF or a lone CR,
/// and a last line without an end counts too. 0 when `FileExists` is false or
/// the file cannot be read.
std::int64_t CountFileLines(std::string_view path);

/// Outputs of `ParsePath`; each one left null is not wanted.
struct PathOutputs {
    std::string* drive = nullptr;     ///< "/" for an absolute path, else empty
    std::string* folder = nullptr;    ///< each folder followed by "/", no leading "/"
    std::string* name = nullptr;      ///< last component (mode 1) or its part before the dot
    std::string* extension = nullptr; ///< from the last "." on, trailing blanks removed
};

/// Naming modes of `ParsePath`.
enum PathNamingMode : int {
    kShortNames = 0, ///< 8.3 names; " [],;=+" are forbidden as well
    kLongNames = 1,  ///< long names; "*?" are forbidden as well
    kWildcards = 2,  ///< long names where "*" and "?" are allowed
};

/// Splits `path` into the outputs the caller passes. A path holding a
/// forbidden character, or a component that breaks the 8.3 rules in mode 0,
/// gives empty text and leaves every output unchanged. Otherwise the result is
/// the single output's value when exactly one output was passed, else the
/// path itself. An empty path gives empty text.
std::string ParsePath(std::string_view path, const PathOutputs& outputs = {},
                      int mode = kShortNames);

/// The extension of the last component of `path`: from its last "." on, dot
/// included, trailing blanks removed; empty when the component has no dot.
/// Unlike ParsePath, characters that Windows forbids in names do not empty it:
/// they are ordinary characters in names here.
std::string ExtensionOf(std::string_view path);

} // namespace sorvane
