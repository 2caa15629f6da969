#pragma once
// The command channel of a running window: a local socket private to the
// user, where another program sends one command a connection and reads
// whether the window accepted it. The window serves it (with Qt); this part
// is shared with sorvane-cli, which sends commands without Qt.
//
// On the wire a request is the command in UTF-8 ended by "\n" (a "\r" before
// it is dropped), at most kMaxCommandBytes bytes before the line end; the
// reply is one line, "accepted" or "not accepted", after which the window
// closes the connection.

#include "engine/failure.h"
#include "engine/files/unique_fd.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace sorvane {

/// The longest command, in bytes, without its line end.
inline constexpr std::size_t kMaxCommandBytes = 4096;

inline constexpr std::string_view kAcceptedReply = "accepted";
inline constexpr std::string_view kNotAcceptedReply = "not accepted";

/// What decides where the channel's socket is.
struct ChannelLocationInputs {
    std::optional<std::string> runtimeFolder; ///< XDG_RUNTIME_DIR
    std::optional<std::string> tempFolder;    ///< TMPDIR
    unsigned userId = 0;
};

/// The socket path: "Sorvane.Main" in the runtime folder when it is an
/// absolute path, else in the folder "Sorvane-UID" (the user's id) of the
/// temporary folder (TMPDIR when absolute, else /tmp), which the window makes
/// private to the user.
std::string CommandChannelPath(const ChannelLocationInputs& inputs);

/// The same for this process's environment and user.
std::string CommandChannelPath();

/// Checks that `path` can be a channel no other user can reach or replace:
/// it fits a socket address, its folder belongs to the user and nobody else
/// can write to it, and whatever is at `path` is a socket of the user. With
/// `makeFolder`, a missing folder is made (readable by the user only).
/// Nothing when it is fine; the failure says why the path must not be used.
Result<void> CheckChannelPath(const std::string& path, bool makeFolder);

/// Whether a server listens on `path` (a connection is made and closed).
bool ChannelIsLive(const std::string& path);

/// Makes this process the one window that may serve on `path`: an
/// exclusive lock on the file `path` + ".lock" beside the socket, held while
/// the returned descriptor is open and let go when the process ends however
/// it ends. Only the holder may remove a socket left at `path` and listen
/// there, so two windows never both decide the socket is stale. An invalid
/// descriptor (get() < 0) while another holds the lock, or when the lock file
/// cannot be opened or is not a plain file of the user. Call it only on a
/// path CheckChannelPath accepts.
UniqueFd TryLockChannel(const std::string& path);

/// Collects the bytes of one request as they arrive.
class CommandRequestReader {
public:
    enum class State { Incomplete, Complete, TooLong };

    /// Takes more bytes; bytes after the line end are ignored.
    State Add(std::string_view bytes);
    State Current() const { return state_; }
    /// The command without its line end, once Complete.
    const std::string& Command() const { return text_; }

private:
    std::string text_;
    State state_ = State::Incomplete;
};

/// Nothing when `command` can be sent; else why not (CommandLineEnd for a
/// line end or NUL byte in it, CommandTooLong for more than
/// kMaxCommandBytes bytes).
Result<void> CheckCommandText(std::string_view command);

/// How a command sent by SendCommand fared.
struct SendResult {
    enum class Status {
        Accepted,
        NotAccepted,
        NoWindow,    ///< no socket (or no folder for it), or nothing listens on it
        Refused,     ///< the folder or the socket may not be used (another user's, open to others)
        Unreachable, ///< failed connection, garbled or late reply
    };
    Status status = Status::Unreachable;
    Failure failure; ///< what went wrong, for the last three

    /// What went wrong in words; empty for Accepted and NotAccepted.
    std::string Message() const;
};

/// Sends `command` to the window serving on `path` and waits at most
/// `timeout` in all for the reply. A command CheckCommandText refuses is not
/// sent (Unreachable, with its reason).
SendResult SendCommand(const std::string& path, std::string_view command,
                       std::chrono::milliseconds timeout);

} // namespace sorvane
