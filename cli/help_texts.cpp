#include "help_texts.h"

#include "command_table.h"

#include "engine/text/text_utils.h"

#include <algorithm>

namespace sorvane::cli {
namespace {

constexpr std::size_t kWidth = 79;
// Where an option's description starts in a command's help.
constexpr std::size_t kOptionColumn = 28;

// "-r, --subfolders" and its value: "--filter PATTERNS".
std::string OptionTag(const OptionSpec& option) {
    std::string tag;
    for (const auto name : OptionNames(option))
        tag.append(tag.empty() ? "" : ", ").append(name);
    if (!option.value.empty())
        tag.append(" ").append(option.value);
    return tag;
}

// "  TAG      text...", the text from `column` on, on the next line when the
// tag reaches it.
std::string Item(std::size_t indent, std::string_view tag, std::string_view text,
                 std::size_t column) {
    std::string line = std::string(indent, ' ') + std::string(tag);
    if (text.empty())
        return line + "\n";
    if (line.size() + 2 > column)
        line.append(1, '\n').append(column, ' ');
    else
        line.append(column - line.size(), ' ');
    return line + Wrap(text, column, kWidth) + "\n";
}

// Each line of `text` indented by `indent` spaces.
std::string Indented(std::string_view text, std::size_t indent) {
    std::string out;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        if (!line.empty())
            out.append(indent, ' ');
        out.append(line).append("\n");
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return out;
}

// The options of a command with -h/--help, each line starting at `indent`.
std::string OptionList(const CommandSpec& command, std::size_t indent, std::size_t column) {
    std::string out;
    for (const auto& option : command.options)
        out += Item(indent, OptionTag(option), option.help, column);
    out += Item(indent, "-h, --help", kHelpFlagHelp, column);
    return out;
}

std::size_t NameWidth() {
    std::size_t width = 0;
    for (const auto& command : CommandTable())
        width = std::max(width, command.name.size());
    return width;
}

// The start of the help and of the manual: the name line, the usage and
// the heading of the commands.
constexpr std::string_view kHeading = R"(sorvane-cli - compare the versions of files in two folders

Usage:
  sorvane-cli COMMAND [ARGUMENTS]
  sorvane-cli COMMAND --help    show the help of one command

Commands:
)";

struct Setting {
    std::string_view name;
    std::string_view text;
};

// What the program reads from its environment and which files it uses.
const std::vector<Setting> kEnvironment = {
    {"SORVANE_SETTINGS", "the settings file, when no --settings is given"},
    {"XDG_CONFIG_HOME",
     "the folder of the settings folder Sorvane (default: ~/.config)"},
    {"XDG_RUNTIME_DIR", "the folder of the window's command socket Sorvane.Main"},
    {"TMPDIR",
     "where the socket's folder Sorvane-UID is made when XDG_RUNTIME_DIR is not usable "
     "(default: /tmp)"},
    {"WINEPREFIX",
     "the Wine prefix whose Windows folder copy refuses as a system folder (default: "
     "~/.wine)"},
    {"HOME", "the home folder, where the default settings folder and Wine prefix are"},
};
const std::vector<Setting> kFiles = {
    {"~/.config/Sorvane/Sorvane.dat",
     "the settings file of the window, unless --settings, SORVANE_SETTINGS, "
     "XDG_CONFIG_HOME or a writable Sorvane.dat beside the program names another "
     "(settings-file prints which)"},
    {"$XDG_RUNTIME_DIR/Sorvane.Main",
     "the socket of the running window execute sends to (else "
     "/tmp/Sorvane-UID/Sorvane.Main)"},
    {"TARGET/_Backup",
     "where copy saves each target file before replacing it, unless --backup-dir names "
     "another folder"},
};

} // namespace

std::string Wrap(std::string_view text, std::size_t indent, std::size_t width) {
    std::string out;
    std::size_t used = indent;
    bool first = true;
    while (!text.empty()) {
        const auto end = text.find(' ');
        const std::string_view word = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (word.empty())
            continue;
        const std::size_t length = Utf8Length(word);
        if (!first && used + 1 + length > width) {
            out += '\n';
            out.append(indent, ' ');
            used = indent;
            first = true;
        }
        if (!first) {
            out += ' ';
            ++used;
        }
        out += word;
        used += length;
        first = false;
    }
    return out;
}

std::vector<std::string_view> CommandNames() {
    std::vector<std::string_view> names;
    for (const auto& command : CommandTable())
        names.push_back(command.name);
    return names;
}

std::string ProgramHelp() {
    const std::size_t column = 2 + NameWidth() + 2;
    std::string help(kHeading);
    for (const auto& command : CommandTable())
        help += Item(2, command.name, command.summary, column);
    help += "\nOptions:\n";
    help += Item(2, "-h, --help", kHelpFlagHelp, 17);
    help += Item(2, "-V, --version", "show the program version", 17);
    help += "\nExit status (0 success, 2 trouble or a usage error; 1 as each command says):\n";
    for (const auto& command : CommandTable())
        help += Item(2, command.name, command.exitBrief, column);
    help += "\nEach command's options: sorvane-cli COMMAND --help. Everything: man sorvane-cli.\n";
    return help;
}

std::string CommandHelp(std::string_view name) {
    const CommandSpec* command = FindCommand(name);
    if (command == nullptr)
        return {};
    std::string help = "Usage: sorvane-cli ";
    help.append(command->usage).append("\n\n").append(command->text).append("\n\nOptions:\n");
    help += OptionList(*command, 2, kOptionColumn);
    if (!command->notes.empty())
        help.append("\n").append(command->notes).append("\n");
    help.append("\n").append(command->exitText).append("\n");
    if (!command->examples.empty()) {
        help += "\nExamples:\n";
        for (const auto example : command->examples)
            help.append("  ").append(example).append("\n");
    }
    return help;
}

std::string ManualText() {
    // Commands are sub-sections: their text indented by eight, their options
    // by eight with the description deeper.
    std::string text(kHeading);
    for (const auto& command : CommandTable()) {
        text += "  " + std::string(command.usage) + "\n";
        text += Indented(command.text, 8);
        text += OptionList(command, 8, kOptionColumn);
        if (!command.notes.empty())
            text += Indented(command.notes, 8);
        text += Indented(command.exitText, 8);
    }
    text += "\nOptions:\n";
    text += Item(2, "-h, --help", kHelpFlagHelp, 17);
    text += Item(2, "-V, --version", "show the program version", 17);
    text += "\nEnvironment:\n";
    for (const auto& [name, about] : kEnvironment)
        text += Item(2, name, about, 22);
    text += "\nFiles:\n";
    for (const auto& [name, about] : kFiles)
        text += Item(2, name, about, 34);
    text += "\nExit status: 0 on success, 2 on trouble or a usage error; what 1 means is "
            "given with each command.\n";
    text += "\nExamples:\n";
    for (const auto& command : CommandTable())
        for (const auto example : command.examples)
            text.append("  ").append(example).append("\n");
    text += "\nSee also: sorvane(1), the window program.\n";
    return text;
}

} // namespace sorvane::cli
