#include "engine/text/path_utils.h"

#include "engine/text/text_utils.h"

#include <array>
#include <cstdio>
#include <memory>
#include <sys/stat.h>

namespace sorvane {
namespace {

bool StatPath(std::string_view path, struct stat& st) {
    if (path.empty())
        return false;
    const std::string p(path);
    return ::stat(p.c_str(), &st) == 0;
}

bool HasForbiddenCharacter(std::string_view rest, int mode) {
    std::string forbidden = "\"|:<>";
    if (mode < kWildcards)
        forbidden += "*?";
    if (mode == kShortNames)
        forbidden += " [],;=+";
    return rest.find_first_of(forbidden) != std::string_view::npos;
}

} // namespace

std::string NormalizeFolderPath(std::string_view path, bool addSeparator) {
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"')
        path = path.substr(1, path.size() - 2);
    else if (path == "\"")
        return {};
    if (path.empty() || path == "/")
        return std::string(path);
    std::string result(path);
    if (!addSeparator && result.back() == '/')
        result.pop_back();
    else if (addSeparator && result.back() != '/')
        result.push_back('/');
    return result;
}

bool FolderExists(std::string_view path) {
    struct stat st {};
    return StatPath(path, st) && S_ISDIR(st.st_mode);
}

bool SameFolder(std::string_view first, std::string_view second) {
    struct stat a {};
    struct stat b {};
    return StatPath(first, a) && StatPath(second, b) && S_ISDIR(a.st_mode) && S_ISDIR(b.st_mode) &&
           a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool FileExists(std::string_view path) {
    struct stat st {};
    return StatPath(path, st) && !S_ISDIR(st.st_mode);
}

std::int64_t CountFileLines(std::string_view path) {
    struct stat st {};
    // Only regular files: counting the lines of a FIFO or a device could block forever.
    if (!StatPath(path, st) || !S_ISREG(st.st_mode))
        return 0;
    const std::string p(path);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(p.c_str(), "rb"), &std::fclose);
    if (!file)
        return 0;
    std::array<char, 65536> buffer{};
    std::int64_t lines = 0;
    bool inLine = false;  // characters seen since the last line end
    bool afterCr = false; // the previous byte was a CR, so an LF now ends nothing
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0) {
        for (std::size_t i = 0; i < n; ++i) {
            const char c = buffer[i];
            if (c == '\n' && afterCr) {
                afterCr = false;
                continue;
            }
            afterCr = c == '\r';
            if (c == '\r' || c == '\n') {
                ++lines;
                inLine = false;
            } else {
                inLine = true;
            }
        }
    }
    return inLine ? lines + 1 : lines;
}

std::string ParsePath(std::string_view path, const PathOutputs& outputs, int mode) {
    if (path.empty())
        return {};
    std::string_view drive;
    std::string_view rest = path;
    if (path.front() == '/') {
        drive = path.substr(0, 1);
        rest = path.substr(1);
    }
    if (HasForbiddenCharacter(rest, mode))
        return {};

    std::string folder;
    std::string_view last;
    while (!rest.empty()) {
        const auto slash = rest.find('/');
        if (slash == std::string_view::npos || slash == 0) {
            last = rest;
            rest = {};
        } else {
            last = rest.substr(0, slash);
            folder.append(last).push_back('/');
            rest = rest.substr(slash + 1);
        }
        if (mode == kShortNames) {
            const std::size_t length = Utf8Length(last);
            const auto dot = last.rfind('.');
            const std::size_t d =
                dot == std::string_view::npos ? 0 : Utf8Length(last.substr(0, dot)) + 1;
            if (d == 1 || d > 9 || d == length || (d > 0 && length > 12) || (d == 0 && length > 8))
                return {};
        }
    }

    std::string name(last);
    std::string extension;
    if (const auto dot = last.rfind('.'); dot != std::string_view::npos) {
        std::string_view ext = last.substr(dot);
        while (!ext.empty() && ext.back() == ' ')
            ext.remove_suffix(1);
        extension = ext;
        if (mode != kLongNames)
            name = last.substr(0, dot);
    }

    int passed = 0;
    std::string single;
    const auto store = [&](std::string* out, const std::string& value) {
        if (out == nullptr)
            return;
        *out = value;
        single = value;
        ++passed;
    };
    store(outputs.drive, std::string(drive));
    store(outputs.folder, folder);
    store(outputs.name, name);
    store(outputs.extension, extension);
    return passed == 1 ? single : std::string(path);
}

std::string ExtensionOf(std::string_view path) {
    const auto slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return {};
    std::string_view ext = name.substr(dot);
    while (!ext.empty() && ext.back() == ' ')
        ext.remove_suffix(1);
    return std::string(ext);
}

std::string JoinPath(std::string_view folder, std::string_view relative) {
    std::string path(folder);
    if (!path.empty() && path.back() != '/')
        path.push_back('/');
    path.append(relative);
    return path;
}

} // namespace sorvane
