#include "command_parser.h"

#include "commands.h"
#include "help_texts.h"

#include <algorithm>
#include <ostream>
#include <stdexcept>

namespace sorvane::cli {
namespace {

// Two CLI11 messages said plainly; any other is kept as it is.
std::string Reworded(const CLI::ParseError& error) {
    const std::string text = error.what();
    // "--format: 1 required TEXT missing": every option takes one value, so
    // this is an option given last without it.
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr && text.ends_with(" missing"))
        if (const auto colon = text.find(": "); colon != std::string::npos)
            return text.substr(0, colon) + " needs a value";
    // "Could not convert: --json = maybe": the options that take a value
    // check it themselves, so this is a flag given a value.
    constexpr std::string_view kConvert = "Could not convert: ";
    if (dynamic_cast<const CLI::ConversionError*>(&error) != nullptr && text.starts_with(kConvert))
        if (const auto equals = text.find(" = "); equals != std::string::npos)
            return text.substr(kConvert.size(), equals - kConvert.size()) +
                   " takes no value (or true or false), not '" + text.substr(equals + 3) + "'";
    return text;
}

} // namespace

CommandParser::CommandParser(std::string command)
    : command_(std::move(command)), spec_(FindCommand(command_)) {
    if (spec_ == nullptr)
        throw std::logic_error("no command '" + command_ + "' in the command table");
    app_.name(command_);
    app_.set_help_flag("-h,--help");
    // Unknown arguments are collected rather than thrown, so that Parse can
    // name the first one in a plain message.
    app_.allow_extras();
    app_.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

const OptionSpec* CommandParser::FindOrThrow(std::string_view name) const {
    const OptionSpec* option = FindOption(*spec_, name);
    if (option == nullptr)
        throw std::logic_error(command_ + ": no option " + std::string(name) + " in the table");
    return option;
}

const ArgumentSpec& CommandParser::Spec(std::string_view argument) const {
    const auto it = std::ranges::find(spec_->arguments, argument, &ArgumentSpec::name);
    if (it == spec_->arguments.end())
        throw std::logic_error(command_ + ": no argument " + std::string(argument) +
                               " in the table");
    return *it;
}

std::string CommandParser::Names(std::string_view name) {
    const OptionSpec* option = FindOrThrow(name);
    registered_.push_back(option);
    return std::string(option->names);
}

void CommandParser::CheckChoiceCount(const OptionSpec& option, std::size_t count) {
    if (option.choices.size() != count)
        throw std::logic_error(std::string(option.names) + ": the table has " +
                               std::to_string(option.choices.size()) + " choices, not " +
                               std::to_string(count));
}

CLI::Option* CommandParser::Flag(std::string_view name, bool& target) {
    std::string names = Names(name);
    for (const auto& option : spec_->options)
        if (!option.negates.empty() && FindOption(*spec_, option.negates) == FindOrThrow(name)) {
            registered_.push_back(&option);
            for (const auto negated : OptionNames(option))
                names.append(",!").append(negated);
        }
    return app_.add_flag(names, target);
}

std::optional<int> CommandParser::Parse(const std::vector<std::string>& args, std::ostream& out,
                                        std::ostream& err) {
    for (const auto& option : spec_->options)
        if (std::ranges::find(registered_, &option) == registered_.end())
            throw std::logic_error(command_ + ": option " + std::string(option.names) +
                                   " of the table is not read");
    // CLI11 reads "--filter=" as "--filter" and takes the next argument as
    // its value; the empty value meant is passed on as an argument of its own.
    std::vector<std::string> split;
    for (auto arg = args.begin(); arg != args.end(); ++arg) {
        if (*arg == "--") {
            split.insert(split.end(), arg, args.end());
            break;
        }
        const bool emptyValue = arg->size() > 3 && arg->starts_with("--") && arg->ends_with('=');
        const std::string name = emptyValue ? arg->substr(0, arg->size() - 1) : std::string();
        const CLI::Option* option = emptyValue ? app_.get_option_no_throw(name) : nullptr;
        if (option != nullptr && option->get_items_expected_min() > 0)
            split.insert(split.end(), {name, ""});
        else
            split.push_back(*arg);
    }
    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(split.rbegin(), split.rend());
    try {
        app_.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        out << CommandHelp(command_);
        return 0;
    } catch (const CLI::ParseError& error) {
        return Fail(err, Reworded(error));
    }
    for (const auto& arg : app_.remaining()) {
        if (arg == "--") // kept among the extras although it only ends the options
            continue;
        if (arg.size() > 1 && arg.starts_with('-'))
            return Fail(err, "unknown option '" + arg + "'");
        return Fail(err, "unexpected argument '" + arg + "'");
    }
    return std::nullopt;
}

int CommandParser::Fail(std::ostream& err, const std::string& message) const {
    return UsageError(err, message, command_);
}

CLI::Validator CommandParser::OneOf(std::vector<std::string> texts) {
    std::string list;
    for (std::size_t i = 0; i < texts.size(); ++i)
        list.append(i == 0 ? "" : i + 1 == texts.size() ? " or " : ", ").append(texts[i]);
    return CLI::Validator(
        [texts = std::move(texts), list](std::string& value) -> std::string {
            if (std::ranges::find(texts, value) != texts.end())
                return {};
            return "takes " + list + ", not '" + value + "'";
        },
        "");
}

} // namespace sorvane::cli
