// Small commands: version order, language names, the settings file's place.

#include "command_parser.h"
#include "commands.h"

#include "engine/scan/comparison.h"
#include "engine/text/language_table.h"
#include "engine/settings/settings_location.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string_view>

namespace sorvane::cli {
namespace {

std::optional<std::int32_t> ParseIdentifier(const std::string& text) {
    try {
        std::size_t used = 0;
        const int base = (text.starts_with("0x") || text.starts_with("0X")) ? 16 : 10;
        const long long value = std::stoll(text, &used, base);
        if (used != text.size() || value < INT32_MIN || value > INT32_MAX)
            return std::nullopt;
        return static_cast<std::int32_t>(value);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace

int RunOrder(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CommandParser parser("order");
    std::vector<std::string> versions;
    bool strict = false;
    // Both versions are read as one list, so that a missing or extra one is
    // named plainly.
    parser->add_option("VERSION", versions);
    parser.Flag("--strict", strict);
    if (const auto status = parser.Parse(args, out, err))
        return *status;
    if (versions.size() != 2)
        return parser.Fail(err, "needs exactly two version texts");
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
    CommandParser parser("language");
    std::vector<std::string> ids;
    parser.Argument("LCID", ids)
        ->required()
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                return ParseIdentifier(text) ? "" : "'" + text + "' is not a number";
            },
            ""));
    if (const auto status = parser.Parse(args, out, err))
        return *status;
    for (const auto& id : ids) {
        const auto name = LanguageName(*ParseIdentifier(id));
        out << id << "\t" << (name.empty() ? std::string_view("[Neutral]") : name) << "\n";
    }
    return 0;
}

int RunSettingsFile(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CommandParser parser("settings-file");
    std::optional<std::string> file;
    parser.Option("--settings", file);
    if (const auto status = parser.Parse(args, out, err))
        return *status;
    const std::string located = LocateSettingsFile(file);
    if (located.empty()) {
        err << "sorvane-cli: no settings file: neither HOME nor the account's home folder is "
               "known\n";
        return 1;
    }
    out << located << "\n";
    return 0;
}

} // namespace sorvane::cli
