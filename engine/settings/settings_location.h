#pragma once
// Where the settings file lives.

#include <optional>
#include <string>

namespace sorvane {

/// File name of the settings file.
inline constexpr const char* kSettingsFileName = "Sorvane.dat";

/// What decides the settings file's place.
struct SettingsLocationInputs {
    std::optional<std::string> commandLine;   ///< value of --settings FILE
    std::optional<std::string> environment;   ///< SORVANE_SETTINGS
    std::string executableFolder;             ///< folder of the running program
    std::optional<std::string> xdgConfigHome; ///< XDG_CONFIG_HOME
    std::optional<std::string> home;          ///< HOME
    std::optional<std::string> accountHome;   ///< the home folder of the user's account
};

/// The value of the environment variable `name`; nothing when it is not set.
std::optional<std::string> EnvironmentValue(const char* name);

/// The settings file path, first of: the --settings file; SORVANE_SETTINGS;
/// Sorvane.dat beside the program when that file exists and is writable
/// (portable use); Sorvane/Sorvane.dat in the XDG configuration folder
/// ($XDG_CONFIG_HOME, else ~/.config, where ~ is $HOME or, without it, the
/// account's home folder). Empty values count as missing; relative names are
/// made absolute against the current folder. Empty when no home folder is
/// known: the settings are then neither read nor written, never put into a
/// folder that other users can write to.
std::string LocateSettingsFile(const SettingsLocationInputs& inputs);

/// The same, with the environment and the executable's folder of this process.
std::string LocateSettingsFile(const std::optional<std::string>& commandLine);

/// The home folder of the account running this process, from the password
/// database; empty when it has none.
std::string AccountHomeFolder();

/// Folder of the running executable; empty when it cannot be found.
std::string ExecutableFolder();

} // namespace sorvane
