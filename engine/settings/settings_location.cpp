#include "engine/settings/settings_location.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <unistd.h>
#include <pwd.h>

#include <cerrno>
#include <vector>

namespace sorvane {
namespace {

std::optional<std::string> NonEmpty(const std::optional<std::string>& value) {
    if (value && !value->empty())
        return value;
    return std::nullopt;
}

std::string Absolute(const std::string& path) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.lexically_normal().string();
}

} // namespace

std::optional<std::string> EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr)
        return std::nullopt;
    return std::string(value);
}

std::string LocateSettingsFile(const SettingsLocationInputs& inputs) {
    if (const auto given = NonEmpty(inputs.commandLine))
        return Absolute(*given);
    if (const auto given = NonEmpty(inputs.environment))
        return Absolute(*given);
    if (!inputs.executableFolder.empty()) {
        const std::string beside =
            (std::filesystem::path(inputs.executableFolder) / kSettingsFileName).string();
        std::error_code ec;
        if (std::filesystem::is_regular_file(beside, ec) && ::access(beside.c_str(), W_OK) == 0)
            return beside;
    }
    std::filesystem::path config;
    if (const auto xdg = NonEmpty(inputs.xdgConfigHome);
        xdg && std::filesystem::path(*xdg).is_absolute())
        config = *xdg;
    else if (const auto home = NonEmpty(inputs.home))
        config = std::filesystem::path(*home) / ".config";
    else if (const auto account = NonEmpty(inputs.accountHome))
        config = std::filesystem::path(*account) / ".config";
    else
        return {};
    return (config / "Sorvane" / kSettingsFileName).string();
}

std::string LocateSettingsFile(const std::optional<std::string>& commandLine) {
    SettingsLocationInputs inputs;
    inputs.commandLine = commandLine;
    inputs.environment = EnvironmentValue("SORVANE_SETTINGS");
    inputs.executableFolder = ExecutableFolder();
    inputs.xdgConfigHome = EnvironmentValue("XDG_CONFIG_HOME");
    inputs.home = EnvironmentValue("HOME");
    inputs.accountHome = AccountHomeFolder();
    return LocateSettingsFile(inputs);
}

std::string AccountHomeFolder() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (found == nullptr || found->pw_dir == nullptr)
        return {};
    return found->pw_dir;
}

std::string ExecutableFolder() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

} // namespace sorvane
