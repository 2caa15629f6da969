#pragma once
// The help texts of sorvane-cli: the whole help and each command's part of it.

#include <string>
#include <string_view>
#include <vector>

namespace sorvane::cli {

/// The names of the commands, in the order the help lists them.
std::vector<std::string_view> CommandNames();

/// The whole help (sorvane-cli --help): every command with its options.
std::string ProgramHelp();

/// The help of one command (sorvane-cli COMMAND --help): its usage line, its
/// part of the whole help and its examples. Empty for an unknown command.
std::string CommandHelp(std::string_view command);

} // namespace sorvane::cli
