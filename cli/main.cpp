// sorvane-cli: the command-line face of the comparison engine.

#include "engine/comparison.h"
#include "engine/language_table.h"
#include "engine/number_utils.h"
#include "engine/settings_location.h"

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kUsageError = 2;

constexpr std::string_view kHelp = R"(sorvane-cli - compare the versions of files in two folders

Usage:
  sorvane-cli COMMAND [ARGUMENTS]

Commands:
  order VERSION1 VERSION2 [--strict]
        Compare two version texts part by part, as numbers (2.10 is newer
        than 2.9, 5.00.2134.01 equals 5.0.2134.1). Prints ">" when VERSION1
        is newer, "<" when VERSION2 is newer, "=" when they are equal, and
        with --strict "?" when parts of different lengths make the pair
        incomparable.
  language LCID...
        Print the name of each Windows language identifier (decimal, or
        hexadecimal with 0x), "[Neutral]" for identifiers without a name.
  settings-file [--settings FILE]
        Print where the settings file is (or would be created): FILE, else
        $SORVANE_SETTINGS, else Sorvane.dat beside the program when it exists
        and is writable, else ~/.config/Sorvane/Sorvane.dat.

Options:
  -h, --help     show this help
  --version      show the program version

Exit status: 0 on success, 2 on a usage error.
)";

int UsageError(const std::string& message) {
    std::cerr << "sorvane-cli: " << message << "\n"
              << "Try 'sorvane-cli --help' for more information.\n";
    return kUsageError;
}

int RunOrder(const std::vector<std::string>& args) {
    std::vector<std::string> versions;
    bool strict = false;
    for (const auto& arg : args) {
        if (arg == "--strict")
            strict = true;
        else if (arg.starts_with("--") && arg.size() > 2)
            return UsageError("order: unknown option '" + arg + "'");
        else
            versions.push_back(arg);
    }
    if (versions.size() != 2)
        return UsageError("order needs exactly two version texts");
    switch (sorvane::CompareVersions(versions[0], versions[1], strict)) {
    case 1:
        std::cout << ">\n";
        break;
    case -1:
        std::cout << "<\n";
        break;
    case sorvane::kVersionsIncomparable:
        std::cout << "?\n";
        break;
    default:
        std::cout << "=\n";
        break;
    }
    return 0;
}

std::optional<long long> ParseIdentifier(const std::string& text) {
    try {
        std::size_t used = 0;
        const int base = (text.starts_with("0x") || text.starts_with("0X")) ? 16 : 10;
        const long long value = std::stoll(text, &used, base);
        if (used != text.size())
            return std::nullopt;
        return value;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

int RunLanguage(const std::vector<std::string>& args) {
    if (args.empty())
        return UsageError("language needs at least one identifier");
    for (const auto& arg : args) {
        const auto id = ParseIdentifier(arg);
        if (!id || *id < INT32_MIN || *id > INT32_MAX)
            return UsageError("language: '" + arg + "' is not a number");
        const auto name = sorvane::LanguageName(static_cast<std::int32_t>(*id));
        std::cout << arg << "\t" << (name.empty() ? std::string_view("[Neutral]") : name) << "\n";
    }
    return 0;
}

int RunSettingsFile(const std::vector<std::string>& args) {
    std::optional<std::string> file;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--settings" && i + 1 < args.size())
            file = args[++i];
        else if (args[i].starts_with("--settings="))
            file = args[i].substr(11);
        else
            return UsageError("settings-file: unexpected argument '" + args[i] + "'");
    }
    std::cout << sorvane::LocateSettingsFile(file) << "\n";
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return UsageError("no command given");
    const std::string command = args.front();
    args.erase(args.begin());
    if (command == "-h" || command == "--help" || command == "help") {
        std::cout << kHelp;
        return 0;
    }
    if (command == "--version") {
        std::cout << "sorvane-cli 1.00\n";
        return 0;
    }
    if (command == "order")
        return RunOrder(args);
    if (command == "language")
        return RunLanguage(args);
    if (command == "settings-file")
        return RunSettingsFile(args);
    return UsageError("unknown command '" + command + "'");
}
