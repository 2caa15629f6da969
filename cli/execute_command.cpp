// execute: sends one command to the running window and prints its reply.

#include "command_parser.h"
#include "commands.h"

#include "engine/channel/command_channel.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <optional>
#include <ostream>

namespace sorvane::cli {

int RunExecute(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CommandParser parser("execute");
    std::vector<std::string> commands;
    std::string timeoutText = "10";
    std::optional<std::string> socket;
    parser.Argument("COMMAND", commands);
    parser.Option("--timeout", timeoutText);
    parser.Option("--socket", socket);
    if (const auto status = parser.Parse(args, out, err))
        return *status;
    if (commands.size() != 1)
        return parser.Fail(err, commands.empty() ? "needs a command"
                                                 : "takes one command (quote it if it has spaces)");
    double seconds = 0;
    const char* end = timeoutText.data() + timeoutText.size();
    const auto [stop, error] = std::from_chars(timeoutText.data(), end, seconds);
    if (error != std::errc() || stop != end || !std::isfinite(seconds) || seconds <= 0 ||
        seconds > 86400)
        return parser.Fail(err, "--timeout takes a number of seconds above 0 and at most 86400, "
                                "not '" + timeoutText + "'");
    if (const auto sendable = CheckCommandText(commands.front()); !sendable)
        return parser.Fail(err, sendable.error().Message());

    const std::string path = socket && !socket->empty() ? *socket : CommandChannelPath();
    const auto timeout = std::chrono::milliseconds(std::llround(seconds * 1000));
    const SendResult result = SendCommand(path, commands.front(), timeout);
    switch (result.status) {
    case SendResult::Status::Accepted:
        out << kAcceptedReply << "\n";
        return 0;
    case SendResult::Status::NotAccepted:
        out << kNotAcceptedReply << "\n";
        return 1;
    case SendResult::Status::NoWindow:
    case SendResult::Status::Refused:
    case SendResult::Status::Unreachable:
        break;
    }
    err << "sorvane-cli execute: " << result.Message() << "\n";
    return 2;
}

} // namespace sorvane::cli
