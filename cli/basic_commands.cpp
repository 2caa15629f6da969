// Small commands: version order, language names, the settings file's place.

#include "commands.h"

#include "engine/comparison.h"
#include "engine/language_table.h"
#include "engine/settings_location.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string_view>

namespace sorvane::cli {
namespace {

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

} // namespace

int UsageError(std::ostream& err, const std::string& message) {
    err << "sorvane-cli: " << message << "\n"
        << "Try 'sorvane-cli --help' for more information.\n";
    return kUsageError;
}

int RunOrder(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::vector<std::string> versions;
    bool strict = false;
    for (const auto& arg : args) {
        if (arg == "--strict")
            strict = true;
        else if (arg.starts_with("--") && arg.size() > 2)
            return UsageError(err, "order: unknown option '" + arg + "'");
        else
            versions.push_back(arg);
    }
    if (versions.size() != 2)
        return UsageError(err, "order needs exactly two version texts");
    switch (CompareVersions(versions[0], versions[1], strict)) {
    case 1:
        out << ">\n";
        break;
    case -1:
        out << "<\n";
        break;
    case kVersionsIncomparable:
        out << "?\n";
        break;
    default:
        out << "=\n";
        break;
    }
    return 0;
}

int RunLanguage(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty())
        return UsageError(err, "language needs at least one identifier");
    for (const auto& arg : args) {
        const auto id = ParseIdentifier(arg);
        if (!id || *id < INT32_MIN || *id > INT32_MAX)
            return UsageError(err, "language: '" + arg + "' is not a number");
        const auto name = LanguageName(static_cast<std::int32_t>(*id));
        out << arg << "\t" << (name.empty() ? std::string_view("[Neutral]") : name) << "\n";
    }
    return 0;
}

int RunSettingsFile(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::optional<std::string> file;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--settings" && i + 1 < args.size())
            file = args[++i];
        else if (args[i].starts_with("--settings="))
            file = args[i].substr(11);
        else
            return UsageError(err, "settings-file: unexpected argument '" + args[i] + "'");
    }
    out << LocateSettingsFile(file) << "\n";
    return 0;
}

} // namespace sorvane::cli
