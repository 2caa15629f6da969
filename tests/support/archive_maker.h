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

/// One file of an installer made by MakeMsi.
struct MsiFile {
    std::string key;  ///< its File table key: letters and digits
    std::string name; ///< its long name in the install folder
    std::string bytes;
    /// Its modification time (seconds since 1970), which the cabinet keeps;
    /// the time it is written when not given.
    std::optional<std::int64_t> modified = std::nullopt;
};

/// Makes the installer `msi` with wixl (msitools): every file in one
/// component of the install folder ProgramFilesFolder/Example/Product, all in
/// the cabinet product.cab, embedded in the package or, without
/// `embedCabinet`, left out (wixl writes no external cabinet, so it is
/// missing); then runs each of `queries` on the package with msibuild.
/// Nothing when it worked; otherwise why not, as MakeArchive says it.
std::optional<std::string> MakeMsi(const std::string& msi, const std::vector<MsiFile>& files,
                                   bool embedCabinet, const std::vector<std::string>& queries = {});

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
