#pragma once
// The shell completions of sorvane-cli, made from the command table at build
// time so that they offer exactly the commands and options the parser takes.

#include <optional>
#include <string>
#include <string_view>

namespace sorvane::cli {

enum class Shell { Bash, Zsh, Fish };

/// "bash", "zsh" or "fish"; nothing for another name.
std::optional<Shell> ShellNamed(std::string_view name);

/// The completion script for `shell`: for bash a file to source that
/// registers the function _sorvane_cli, for zsh an autoloaded #compdef file
/// (_sorvane-cli), for fish a file of `complete` commands.
std::string Completion(Shell shell);

} // namespace sorvane::cli
