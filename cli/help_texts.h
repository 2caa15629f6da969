#pragma once
// The help texts of sorvane-cli, made from the command table: the short
// list of commands, each command's own help and the whole text the manual
// page is made from.

#include <string>
#include <string_view>
#include <vector>

namespace sorvane::cli {

/// The names of the commands, in the order the help lists them.
std::vector<std::string_view> CommandNames();

/// The program's help (sorvane-cli --help): one line a command, the global
/// options, the exit status of each command and where to read more.
std::string ProgramHelp();

/// The help of one command (sorvane-cli COMMAND --help): its usage line,
/// what it does, its options, its exit status and its examples. Empty for
/// an unknown command.
std::string CommandHelp(std::string_view command);

/// Everything the manual page says, in the layout ManualPage() reads: every
/// command with its whole text, the environment and the files.
std::string ManualText();

/// `text` broken into lines of at most `width` characters (counted as
/// UTF-8 characters), each but the first indented by `indent` spaces; the
/// first line is indented by the caller. A word longer than a line stays whole.
std::string Wrap(std::string_view text, std::size_t indent, std::size_t width);

} // namespace sorvane::cli
