#pragma once
// Archives for tests, made at test time from a folder with the tools users
// make them with (zip, 7z, bsdtar, gcab, genisoimage), and hostile ones made
// by Python scripts with zipfile and tarfile.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sorvane::test {

enum class ArchiveFormat {
    Zip,
    Nupkg,
    Jar,
    Vsix,
    Appx,
    SevenZip,
    Tar,
    TarGz,
    TarBz2,
    TarXz,
    TarZst,
    Cab,
    Iso,
};

/// Every format above.
const std::vector<ArchiveFormat>& AllArchiveFormats();

/// ".zip", ".tar.gz", ...
std::string_view ArchiveExtension(ArchiveFormat format);

/// Packs every file below the folder `tree` (a name relative to it keeps its
/// sub-folders) into `archive`. Nothing when it worked; otherwise why not:
/// "no TOOL" when the tool is not installed (the test skips), else the
/// failed command.
std::optional<std::string> MakeArchive(ArchiveFormat format, const std::string& tree,
                                       const std::string& archive);

/// The Python the scripts are run with, or empty when there is none.
std::string PythonProgram();

/// Runs `script` (Python source) with the arguments; gives the exit status
/// (-1 when it could not be run).
int RunPython(const std::string& script, const std::vector<std::string>& arguments);

/// A shell command's exit status.
int RunCommand(const std::string& command);

/// `text` quoted for the shell.
std::string ShellQuoted(std::string_view text);

} // namespace sorvane::test
