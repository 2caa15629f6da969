#include "completion.h"

#include "command_table.h"
#include "help_texts.h"

namespace sorvane::cli {
namespace {

constexpr std::string_view kHeader =
    " completion for sorvane-cli. Made from the program's command table when\n"
    "# it is built; change that table, not this file.\n";

std::string Joined(const std::vector<std::string_view>& words, std::string_view between = " ") {
    std::string out;
    for (const auto word : words)
        out.append(out.empty() ? "" : between).append(word);
    return out;
}

// The command names, then "help".
std::vector<std::string_view> Commands() {
    auto names = CommandNames();
    names.push_back("help");
    return names;
}

std::vector<std::string_view> AllNames(const CommandSpec& command) {
    std::vector<std::string_view> names;
    for (const auto& option : command.options)
        for (const auto name : OptionNames(option))
            names.push_back(name);
    names.insert(names.end(), {"-h", "--help"});
    return names;
}

// The positional argument at `position` (from 0): the last one again when
// the usage repeats it ("FILE...").
const ArgumentSpec* ArgumentAt(const CommandSpec& command, std::size_t position) {
    if (position < command.arguments.size())
        return &command.arguments[position];
    if (command.arguments.empty())
        return nullptr;
    const ArgumentSpec& last = command.arguments.back();
    return command.usage.find(std::string(last.name) + "...") != std::string_view::npos ? &last
                                                                                          : nullptr;
}

bool Repeated(const CommandSpec& command) {
    return !command.arguments.empty() &&
           ArgumentAt(command, command.arguments.size()) != nullptr;
}

// Text in single quotes for a POSIX shell (bash, zsh): ' as '\''.
std::string Quoted(std::string_view text) {
    std::string out = "'";
    for (const char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// How each shell completes a value of a kind other than a choice.
struct Actions {
    std::string_view bash; ///< the words of the case branch
    std::string_view zsh;  ///< the action of an _arguments spec
    std::string_view fish; ///< the options of `complete`
};

constexpr std::string_view kFishFolders = " -x -a '(__fish_complete_directories (commandline -ct))'";

Actions ActionsFor(ValueKind kind) {
    switch (kind) {
    case ValueKind::File:
    case ValueKind::Path:
        return {"_sorvane_cli_paths -f", "_files", " -r -F"};
    case ValueKind::Folder:
        return {"_sorvane_cli_paths -d", "_files -/", kFishFolders};
    case ValueKind::Text:
        return {":", " ", " -x"};
    case ValueKind::Choice:
    case ValueKind::None:
        break;
    }
    return {":", " ", ""};
}

// ---- bash ------------------------------------------------------------------

// The bash words that complete a value of `kind`.
std::string BashValue(ValueKind kind, const std::vector<std::string_view>& choices) {
    if (kind == ValueKind::Choice)
        return "_sorvane_cli_words " + Quoted(Joined(choices));
    return std::string(ActionsFor(kind).bash);
}

std::string Bash() {
    std::string out = "# bash" + std::string(kHeader);
    out += R"(
_sorvane_cli_words() {
    mapfile -t COMPREPLY < <(compgen -W "$1" -- "$cur")
}

_sorvane_cli_paths() {
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen "$1" -- "$cur")
}

_sorvane_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    # "--format=" comes as "--format" "=" (COMP_WORDBREAKS holds "=").
    [[ $prev == = ]] && ((COMP_CWORD > 1)) && prev=${COMP_WORDS[COMP_CWORD - 2]}
    COMPREPLY=()
    local command= i=1
    while ((i < COMP_CWORD)); do
        case ${COMP_WORDS[i]} in
        -*) ;;
        *) command=${COMP_WORDS[i]}; break ;;
        esac
        ((i++))
    done
    if [[ -z $command ]]; then
)";
    out += "        _sorvane_cli_words " + Quoted(Joined(Commands()) + " -h --help -V --version") +
           "\n        return 0\n    fi\n";
    // Which options take a value, to count the arguments before the cursor.
    out += "    local takes=\n    case $command in\n";
    for (const auto& command : CommandTable()) {
        std::vector<std::string_view> takes;
        for (const auto& option : command.options)
            if (!option.value.empty())
                for (const auto name : OptionNames(option))
                    takes.push_back(name);
        if (!takes.empty())
            out += "    " + std::string(command.name) + ") takes=" + Quoted(" " + Joined(takes) + " ") +
                   " ;;\n";
    }
    out += R"(    esac
    local position=0 j
    for ((j = i + 1; j < COMP_CWORD; j++)); do
        case ${COMP_WORDS[j]} in
        --) ;;
        -*=*) ;;
        -*)
            if [[ $takes == *" ${COMP_WORDS[j]} "* ]]; then
                ((j++))
                [[ ${COMP_WORDS[j]} == = ]] && ((j++))
            fi ;;
        *) ((position++)) ;;
        esac
    done
    case $command in
)";
    for (const auto& command : CommandTable()) {
        out += "    " + std::string(command.name) + ")\n";
        std::string values;
        for (const auto& option : command.options)
            if (!option.value.empty())
                values += "        " + Joined(OptionNames(option), "|") + ") " +
                          BashValue(option.kind, option.choices) + "; return 0 ;;\n";
        if (!values.empty())
            out += "        case $prev in\n" + values + "        esac\n";
        out += "        if [[ $cur == -* ]]; then\n            _sorvane_cli_words " +
               Quoted(Joined(AllNames(command))) + "\n            return 0\n        fi\n";
        if (!command.arguments.empty()) {
            out += "        case $position in\n";
            for (std::size_t n = 0; n < command.arguments.size(); ++n) {
                const bool last = n + 1 == command.arguments.size() && Repeated(command);
                const ArgumentSpec& argument = command.arguments[n];
                out += "        " + (last ? std::string("*") : std::to_string(n)) + ") " +
                       BashValue(argument.kind, argument.choices) + " ;;\n";
            }
            out += "        esac\n";
        }
        out += "        ;;\n";
    }
    out += "    help) ((position == 0)) && _sorvane_cli_words " +
           Quoted(Joined(CommandNames())) + " ;;\n";
    out += R"(    esac
    return 0
}

complete -F _sorvane_cli sorvane-cli
)";
    return out;
}

// ---- zsh -------------------------------------------------------------------

// A description for _arguments' brackets: "[" "]" and "\" escaped.
std::string ZshDescription(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '[' || c == ']' || c == '\\' || c == ':')
            out += '\\';
        out += c;
    }
    return out;
}

std::string ZshAction(ValueKind kind, const std::vector<std::string_view>& choices) {
    if (kind == ValueKind::Choice)
        return std::string("(").append(Joined(choices)).append(")");
    return std::string(ActionsFor(kind).zsh);
}

// The _arguments spec of one option, quoted for the shell.
std::string ZshOption(const OptionSpec& option) {
    const auto names = OptionNames(option);
    const std::string description =
        std::string("[").append(ZshDescription(ShortHelp(option.help))).append("]");
    std::string value;
    if (!option.value.empty())
        value = ":" + ZshDescription(option.value) + ":" + ZshAction(option.kind, option.choices);
    if (names.size() == 1) {
        const bool takes = !option.value.empty();
        return Quoted(std::string(names.front()) + (takes ? "=" : "") + description + value);
    }
    // "(-r --subfolders)"{-r,--subfolders}"[...]": either name, once.
    std::string out = Quoted("(" + Joined(names) + ")") + "{" + Joined(names, ",") + "}";
    std::string rest = description + value;
    if (!option.value.empty())
        rest = "=" + rest;
    return out + Quoted(rest);
}

std::string Zsh() {
    std::string out = "#compdef sorvane-cli\n# zsh" + std::string(kHeader);
    out += R"(
local curcontext=$curcontext state state_descr line ret=1
typeset -A opt_args

_arguments -C \
  '(- :)'{-h,--help}'[show this help]' \
  '(- :)'{-V,--version}'[show the program version]' \
  '1: :->command' \
  '*:: :->argument' && ret=0

case $state in
(command)
  local -a commands
  commands=(
)";
    for (const auto& command : CommandTable())
        out += "    " + Quoted(std::string(command.name) + ":" + std::string(command.summary)) + "\n";
    out += "    'help:show the help of a command'\n  )\n";
    out += R"(  _describe -t commands command commands && ret=0
  ;;
(argument)
  curcontext=${curcontext%:*:*}:sorvane-cli-$words[1]:
  case $words[1] in
)";
    for (const auto& command : CommandTable()) {
        out += "  (" + std::string(command.name) + ")\n    _arguments -s \\\n";
        for (const auto& option : command.options)
            out += "      " + ZshOption(option) + " \\\n";
        out += "      '(- :)'{-h,--help}'[show this help]' \\\n";
        for (std::size_t n = 0; n < command.arguments.size(); ++n) {
            const ArgumentSpec& argument = command.arguments[n];
            const bool last = n + 1 == command.arguments.size() && Repeated(command);
            out += "      " +
                   Quoted((last ? "*:" : ":") + ZshDescription(argument.name) + ":" +
                          ZshAction(argument.kind, argument.choices)) +
                   " \\\n";
        }
        out += "      && ret=0\n    ;;\n";
    }
    out += "  (help)\n    _arguments " + Quoted(":command:(" + Joined(CommandNames()) + ")") +
           " && ret=0\n    ;;\n";
    out += "  esac\n  ;;\nesac\n\nreturn ret\n";
    return out;
}

// ---- fish ------------------------------------------------------------------

// Text in single quotes for fish: ' and \ escaped.
std::string FishQuoted(std::string_view text) {
    std::string out = "'";
    for (const char c : text) {
        if (c == '\'' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "'";
}

std::string FishValue(ValueKind kind, const std::vector<std::string_view>& choices) {
    if (kind == ValueKind::Choice)
        return " -x -a " + FishQuoted(Joined(choices));
    return std::string(ActionsFor(kind).fish);
}

std::string FishNames(const OptionSpec& option) {
    std::string out;
    for (const auto name : OptionNames(option))
        out += name.starts_with("--") ? " -l " + std::string(name.substr(2))
                                      : " -s " + std::string(name.substr(1));
    return out;
}

std::string Fish() {
    std::string out = "# fish" + std::string(kHeader) + "\n";
    const std::string c = "complete -c sorvane-cli";
    out += c + " -f\n";
    out += c + " -n __fish_use_subcommand -s h -l help -d 'show this help'\n";
    out += c + " -n __fish_use_subcommand -s V -l version -d 'show the program version'\n";
    for (const auto& command : CommandTable())
        out += c + " -n __fish_use_subcommand -a " + std::string(command.name) + " -d " +
               FishQuoted(command.summary) + "\n";
    out += c + " -n __fish_use_subcommand -a help -d 'show the help of a command'\n";
    out += c + " -n '__fish_seen_subcommand_from help' -a " + FishQuoted(Joined(CommandNames())) +
           "\n";
    for (const auto& command : CommandTable()) {
        const std::string when =
            c + " -n '__fish_seen_subcommand_from " + std::string(command.name) + "'";
        out += "\n";
        for (const auto& option : command.options)
            out += when + FishNames(option) + FishValue(option.kind, option.choices) + " -d " +
                   FishQuoted(ShortHelp(option.help)) + "\n";
        out += when + " -s h -l help -d 'show this help'\n";
        // The arguments: files, folders or words, whichever the first takes.
        if (!command.arguments.empty()) {
            const ArgumentSpec& argument = command.arguments.front();
            if (argument.kind != ValueKind::Text && argument.kind != ValueKind::None)
                out += when + FishValue(argument.kind, argument.choices) + "\n";
        }
    }
    return out;
}

} // namespace

std::optional<Shell> ShellNamed(std::string_view name) {
    if (name == "bash")
        return Shell::Bash;
    if (name == "zsh")
        return Shell::Zsh;
    if (name == "fish")
        return Shell::Fish;
    return std::nullopt;
}

std::string Completion(Shell shell) {
    switch (shell) {
    case Shell::Bash:
        return Bash();
    case Shell::Zsh:
        return Zsh();
    case Shell::Fish:
        break;
    }
    return Fish();
}

} // namespace sorvane::cli
