// The program's own arguments: the command, --help and --version.

#include "commands.h"
#include "help_texts.h"

#include <map>
#include <ostream>

namespace sorvane::cli {

int UsageError(std::ostream& err, const std::string& message, std::string_view command) {
    const std::string name =
        command.empty() ? std::string("sorvane-cli") : "sorvane-cli " + std::string(command);
    err << name << ": " << message << "\n"
        << "Try '" << name << " --help' for more information.\n";
    return kUsageError;
}

int RunProgram(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    using Runner = int (*)(const std::vector<std::string>&, std::ostream&, std::ostream&);
    static const std::map<std::string, Runner, std::less<>> runners = {
        {"compare", RunCompare},
        {"copy", RunCopy},
        {"info", RunInfo},
        {"order", RunOrder},
        {"language", RunLanguage},
        {"settings-file", RunSettingsFile},
        {"execute", RunExecute},
    };
    if (args.empty())
        return UsageError(err, "no command given");
    const std::string& command = args.front();
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "-h" || command == "--help") {
        out << ProgramHelp();
        return 0;
    }
    if (command == "help") {
        if (rest.empty()) {
            out << ProgramHelp();
            return 0;
        }
        const std::string help = CommandHelp(rest.front());
        if (help.empty())
            return UsageError(err, "help: unknown command '" + rest.front() + "'");
        out << help;
        return 0;
    }
    if (command == "-V" || command == "--version") {
        out << "sorvane-cli 1.00\n";
        return 0;
    }
    if (const auto it = runners.find(command); it != runners.end())
        return it->second(rest, out, err);
    if (command.size() > 1 && command.starts_with('-'))
        return UsageError(err, "unknown option '" + command + "' (a command comes first)");
    return UsageError(err, "unknown command '" + command + "'");
}

} // namespace sorvane::cli
