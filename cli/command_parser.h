#pragma once
// The argument parser of one command: CLI11 set up the way every command of
// sorvane-cli shares it.

#include <CLI/CLI.hpp>
#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sorvane::cli {

class CommandParser {
public:
    /// A parser for `command` ("compare", ...) with -h/--help. When an option
    /// is given twice the last value counts.
    explicit CommandParser(std::string command);

    CLI::App* operator->() { return &app_; }

    /// An option that takes one of `choices` (text, value) and stores the
    /// value in `target`. Another text is a usage error that lists the texts.
    template <class T>
    CLI::Option* AddChoice(const std::string& name, T& target,
                           std::vector<std::pair<std::string, T>> choices) {
        std::vector<std::string> texts;
        for (const auto& choice : choices)
            texts.push_back(choice.first);
        return app_
            .add_option_function<std::string>(
                name,
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
    /// `out` (-h, --help: 0) or a usage error to `err` (2).
    std::optional<int> Parse(const std::vector<std::string>& args, std::ostream& out,
                             std::ostream& err);

    /// Writes a usage error of this command to `err`; returns 2.
    int Fail(std::ostream& err, const std::string& message) const;

private:
    static CLI::Validator OneOf(std::vector<std::string> texts);

    std::string command_;
    CLI::App app_;
};

} // namespace sorvane::cli
