#pragma once
// The commands of sorvane-cli and their options, written down once: the
// parser registers the options from here, and the help, the manual page and
// the shell completions are all made from the same entries.

#include <string_view>
#include <vector>

namespace sorvane::cli {

/// What an option or argument takes, as the completions offer it.
enum class ValueKind {
    None,   ///< a flag: no value
    Text,   ///< anything: nothing to offer
    File,   ///< a file name
    Folder, ///< a folder name
    Path,   ///< a folder or a file (a Source Map)
    Choice, ///< one of `choices`
};

struct OptionSpec {
    std::string_view names;       ///< "-r,--subfolders", as CLI11 takes them
    std::string_view value;       ///< "PATTERNS"; empty for a flag
    ValueKind kind = ValueKind::None;
    std::vector<std::string_view> choices;
    std::string_view help;        ///< one paragraph; its first clause is the short form
    std::string_view negates = {}; ///< "--backup" for "--no-backup": the flag it turns off
};

struct ArgumentSpec {
    std::string_view name; ///< "SOURCE"
    ValueKind kind = ValueKind::Text;
    std::vector<std::string_view> choices = {};
};

struct CommandSpec {
    std::string_view name;     ///< "compare"
    std::string_view usage;    ///< after "sorvane-cli ": "compare SOURCE [TARGET] [OPTIONS]"
    std::string_view summary;  ///< one line for the list of commands
    std::string_view text;     ///< what it does: lines of up to 72 characters
    std::vector<ArgumentSpec> arguments;
    std::vector<OptionSpec> options;
    std::string_view notes;    ///< more after the options (may be empty)
    std::string_view exitBrief; ///< "0 no row listed, 1 rows listed, 2 trouble"
    std::string_view exitText; ///< the whole exit status, lines of up to 72 characters
    std::vector<std::string_view> examples;
};

/// Every command, in the order the help lists them.
const std::vector<CommandSpec>& CommandTable();

/// The command of that name, or null.
const CommandSpec* FindCommand(std::string_view name);

/// The option of `command` one of whose names is `name` ("--filter", "-r"),
/// or null.
const OptionSpec* FindOption(const CommandSpec& command, std::string_view name);

/// Each name of an option ("-r", "--subfolders"), without CLI11's marks.
std::vector<std::string_view> OptionNames(const OptionSpec& option);

/// The short form of an option's help: up to the first ". ", "; ", " (" or ":".
std::string_view ShortHelp(std::string_view help);

/// The help flags every command has, and the program's own options.
inline constexpr std::string_view kHelpFlagHelp = "show this help";

} // namespace sorvane::cli
