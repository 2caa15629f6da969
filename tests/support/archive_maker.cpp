#include "support/archive_maker.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace sorvane::test {
namespace {

bool Installed(const std::string& tool) {
    return RunCommand("command -v " + tool + " >/dev/null 2>&1") == 0;
}

// Every file below `tree`, relative to it, sorted.
std::vector<std::string> FilesBelow(const std::string& tree) {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(tree))
        if (entry.is_regular_file())
            files.push_back(std::filesystem::relative(entry.path(), tree).string());
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

const std::vector<ArchiveFormat>& AllArchiveFormats() {
    static const std::vector<ArchiveFormat> formats = {
        ArchiveFormat::Zip,    ArchiveFormat::Nupkg,  ArchiveFormat::Jar,    ArchiveFormat::Vsix,
        ArchiveFormat::Appx,   ArchiveFormat::SevenZip, ArchiveFormat::Tar,  ArchiveFormat::TarGz,
        ArchiveFormat::TarBz2, ArchiveFormat::TarXz,  ArchiveFormat::TarZst, ArchiveFormat::Cab,
        ArchiveFormat::Iso};
    return formats;
}

std::string_view ArchiveExtension(ArchiveFormat format) {
    switch (format) {
    case ArchiveFormat::Zip: return ".zip";
    case ArchiveFormat::Nupkg: return ".nupkg";
    case ArchiveFormat::Jar: return ".jar";
    case ArchiveFormat::Vsix: return ".vsix";
    case ArchiveFormat::Appx: return ".appx";
    case ArchiveFormat::SevenZip: return ".7z";
    case ArchiveFormat::Tar: return ".tar";
    case ArchiveFormat::TarGz: return ".tar.gz";
    case ArchiveFormat::TarBz2: return ".tar.bz2";
    case ArchiveFormat::TarXz: return ".tar.xz";
    case ArchiveFormat::TarZst: return ".tar.zst";
    case ArchiveFormat::Cab: return ".cab";
    case ArchiveFormat::Iso: return ".iso";
    }
    return "";
}

std::string ShellQuoted(std::string_view text) {
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

int RunCommand(const std::string& command) {
    const int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

std::optional<std::string> MakeArchive(ArchiveFormat format, const std::string& tree,
                                       const std::string& archive) {
    const std::string in = "cd " + ShellQuoted(tree) + " && ";
    const std::string out = ShellQuoted(archive);
    std::string tool;
    std::string command;
    switch (format) {
    case ArchiveFormat::Zip:
    case ArchiveFormat::Nupkg:
    case ArchiveFormat::Jar:
    case ArchiveFormat::Vsix:
    case ArchiveFormat::Appx:
        tool = "zip";
        command = in + "zip -q -r -X " + out + " .";
        break;
    case ArchiveFormat::SevenZip:
        tool = "7z";
        command = in + "7z a -bd -bso0 -bsp0 " + out + " . >/dev/null";
        break;
    case ArchiveFormat::Tar:
    case ArchiveFormat::TarGz:
    case ArchiveFormat::TarBz2:
    case ArchiveFormat::TarXz:
    case ArchiveFormat::TarZst: {
        tool = "bsdtar";
        const std::string_view filter = format == ArchiveFormat::TarGz    ? " -z"
                                        : format == ArchiveFormat::TarBz2 ? " -j"
                                        : format == ArchiveFormat::TarXz  ? " -J"
                                        : format == ArchiveFormat::TarZst ? " --zstd"
                                                                          : "";
        command = "bsdtar" + std::string(filter) + " -C " + ShellQuoted(tree) + " -cf " + out + " .";
        break;
    }
    case ArchiveFormat::Cab: {
        tool = "gcab";
        command = in + "gcab -c -z " + out;
        for (const std::string& file : FilesBelow(tree))
            command += " " + ShellQuoted(file);
        break;
    }
    case ArchiveFormat::Iso:
        tool = "genisoimage";
        command = "genisoimage -quiet -R -J -input-charset utf-8 -o " + out + " " + ShellQuoted(tree) +
                  " 2>/dev/null";
        break;
    }
    if (!Installed(tool))
        return "no " + tool;
    if (RunCommand(command) != 0)
        return "failed: " + command;
    return std::nullopt;
}

std::string PythonProgram() {
    for (const char* candidate : {"/usr/bin/python3", "/usr/local/bin/python3"})
        if (::access(candidate, X_OK) == 0)
            return candidate;
    return {};
}

int RunPython(const std::string& script, const std::vector<std::string>& arguments) {
    const std::string python = PythonProgram();
    if (python.empty())
        return -1;
    char name[] = "/tmp/sorvane-script-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd < 0)
        return -1;
    ::close(fd);
    {
        std::ofstream file(name, std::ios::binary | std::ios::trunc);
        file << script;
    }
    std::string command = ShellQuoted(python) + " " + ShellQuoted(name);
    for (const std::string& argument : arguments)
        command += " " + ShellQuoted(argument);
    const int status = RunCommand(command);
    ::unlink(name);
    return status;
}

std::optional<std::string> MakeMsi(const std::string& msi, const std::vector<MsiFile>& files,
                                   bool embedCabinet, const std::vector<std::string>& queries) {
    for (const char* tool : {"wixl", "msibuild"})
        if (!Installed(tool))
            return std::string("no ") + tool;
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(msi).parent_path() / (fs::path(msi).filename().string() + ".files");
    fs::create_directories(folder);
    std::string components;
    for (const MsiFile& file : files) {
        std::ofstream(folder / file.key, std::ios::binary) << file.bytes;
        if (file.modified)
            fs::last_write_time(folder / file.key,
                                fs::file_time_type::clock::from_sys(
                                    std::chrono::sys_seconds(std::chrono::seconds(*file.modified))));
        components += "<File Id=\"" + file.key + "\" Name=\"" + file.name + "\" Source=\"" +
                      file.key + "\"/>";
    }
    const std::string wxs =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">"
        "<Product Id=\"*\" Name=\"Example\" Language=\"1033\" Version=\"1.0.0\" "
        "Manufacturer=\"Example\" UpgradeCode=\"12345678-1234-1234-1234-123456789012\">"
        "<Package InstallerVersion=\"200\" Compressed=\"yes\"/>"
        "<Media Id=\"1\" Cabinet=\"product.cab\" EmbedCab=\"" +
        std::string(embedCabinet ? "yes" : "no") +
        "\"/><Directory Id=\"TARGETDIR\" Name=\"SourceDir\">"
        "<Directory Id=\"ProgramFilesFolder\"><Directory Id=\"Company\" Name=\"Example\">"
        "<Directory Id=\"INSTALLDIR\" Name=\"Product\">"
        "<Component Id=\"Main\" Guid=\"11111111-2222-3333-4444-000000000001\">" +
        components +
        "</Component></Directory></Directory></Directory></Directory>"
        "<Feature Id=\"All\" Level=\"1\"><ComponentRef Id=\"Main\"/></Feature>"
        "</Product></Wix>\n";
    std::ofstream(folder / "product.wxs") << wxs;
    const std::string made = fs::absolute(msi).string();
    const std::string build = "cd " + ShellQuoted(folder.string()) + " && wixl -o " +
                              ShellQuoted(made) + " product.wxs >/dev/null 2>&1";
    if (RunCommand(build) != 0)
        return build;
    for (const std::string& query : queries) {
        const std::string edit =
            "msibuild " + ShellQuoted(made) + " -q " + ShellQuoted(query) + " >/dev/null 2>&1";
        if (RunCommand(edit) != 0)
            return edit;
    }
    // Only the package and what it names beside it stay.
    fs::remove_all(folder);
    return std::nullopt;
}

} // namespace sorvane::test
