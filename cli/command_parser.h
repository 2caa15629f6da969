#pragma once
// The argument parser of one command: CLI11 set up the way every command of
// sorvane-cli shares it.

#include "command_table.h"

#include <CLI/CLI.hpp>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sorvane::cli {

class CommandParser {
public:
    /// A parser for `command` ("compare", ...) with -h/--help and the options
    /// of its entry in the command table. When an option is given twice the
    /// last value counts. Throws std::logic_error for an unknown command.
    explicit CommandParser(std::string command);

    CLI::App* operator->() { return &app_; }

    /// The positional argument `name` of the table (SOURCE, FILE, ...).
    template <class T>
    CLI::Option* Argument(std::string_view name, T& target) {
        return app_.add_option(std::string(Spec(name).name), target);
    }

    /// The flag whose name is `name`, with the flag of the table that
    /// negates it ("--no-backup" for "--backup") if there is one.
    CLI::Option* Flag(std::string_view name, bool& target);

    /// The option whose name is `name`, taking a value.
    template <class T>
    CLI::Option* Option(std::string_view name, T& target) {
        return app_.add_option(Names(name), target);
    }

    /// The option whose name is `name`: it takes one of the table's choices,
    /// the n-th of them storing the n-th of `values` in `target`. Another
    /// text is a usage error that lists the choices.
    template <class T>
    CLI::Option* Choice(std::string_view name, T& target, std::vector<T> values) {
        const OptionSpec& option = *FindOrThrow(name);
        CheckChoiceCount(option, values.size());
        std::vector<std::pair<std::string, T>> choices;
        for (std::size_t i = 0; i < values.size(); ++i)
            choices.emplace_back(std::string(option.choices[i]), std::move(values[i]));
        std::vector<std::string> texts;
        for (const auto& choice : choices)
            texts.push_back(choice.first);
        return app_
            .add_option_function<std::string>(
                Names(name),
                [&target, choices](const std::string& text) {
                    for (const auto& [choiceText, value] : choices)
                        if (choiceText == text)
                            target = value;
                },
                "")
            ->check(OneOf(std::move(texts)));
    }

    /// Parses the arguments that follow the command's name. Nothing when the
    /// command should run; otherwise its exit status, after writing its help to
    /// `out` (-h, --help: 0) or a usage error to `err` (2). Throws
    /// std::logic_error when an option of the table was not registered.
    std::optional<int> Parse(const std::vector<std::string>& args, std::ostream& out,
                             std::ostream& err);

    /// Writes a usage error of this command to `err`; returns 2.
    int Fail(std::ostream& err, const std::string& message) const;

private:
    static CLI::Validator OneOf(std::vector<std::string> texts);
    const OptionSpec* FindOrThrow(std::string_view name) const;
    const ArgumentSpec& Spec(std::string_view argument) const;
    std::string Names(std::string_view name);
    static void CheckChoiceCount(const OptionSpec& option, std::size_t count);

    std::string command_;
    const CommandSpec* spec_;
    std::vector<const OptionSpec*> registered_;
    CLI::App app_;
};

} // namespace sorvane::cli
