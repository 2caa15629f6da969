#include "engine/channel/command_channel.h"

#include "engine/settings/settings_location.h"
#include "engine/files/unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace sorvane {
namespace {

constexpr const char* kSocketName = "Sorvane.Main";
// A reply is one short line; anything longer is not from the window.
constexpr std::size_t kMaxReplyBytes = 64;

bool UsableFolder(const std::optional<std::string>& folder) {
    return folder && !folder->empty() && folder->front() == '/';
}


bool FillAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, at least 0, for poll().
int MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : left > 1'000'000'000 ? 1'000'000'000 : static_cast<int>(left);
}

// Waits for `events` on `fd` until the deadline; false when time ran out or
// poll failed.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, MillisecondsLeft(deadline));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

SendResult Failed(SendResult::Status status, Failure failure) {
    return {status, std::move(failure)};
}

// Nothing at `path` at all (an empty path is not "nothing there").
bool Missing(const std::string& path) {
    struct stat info{};
    return !path.empty() && ::lstat(path.c_str(), &info) != 0 && errno == ENOENT;
}

} // namespace

std::string CommandChannelPath(const ChannelLocationInputs& inputs) {
    namespace fs = std::filesystem;
    if (UsableFolder(inputs.runtimeFolder))
        return (fs::path(*inputs.runtimeFolder) / kSocketName).string();
    const fs::path temp = UsableFolder(inputs.tempFolder) ? fs::path(*inputs.tempFolder) : "/tmp";
    return (temp / ("Sorvane-" + std::to_string(inputs.userId)) / kSocketName).string();
}

std::string CommandChannelPath() {
    ChannelLocationInputs inputs;
    inputs.runtimeFolder = EnvironmentValue("XDG_RUNTIME_DIR");
    inputs.tempFolder = EnvironmentValue("TMPDIR");
    inputs.userId = ::getuid();
    return CommandChannelPath(inputs);
}

Result<void> CheckChannelPath(const std::string& path, bool makeFolder) {
    sockaddr_un address;
    if (!FillAddress(path, address))
        return Fail({Reason::SocketPathTooLong, Step::CheckPath, path});
    const std::string folder = std::filesystem::path(path).parent_path().string();
    if (folder.empty())
        return Fail({Reason::NoFolder, Step::CheckPath, path});
    const uid_t user = ::getuid();
    struct stat info{};
    if (::lstat(folder.c_str(), &info) != 0) {
        if (errno != ENOENT || !makeFolder)
            return Fail(Failure::System(errno, Step::CheckPath, folder));
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
            return Fail(Failure::System(errno, Step::MakeSocketFolder, folder));
        if (::lstat(folder.c_str(), &info) != 0)
            return Fail(Failure::System(errno, Step::CheckPath, folder));
    }
    // A folder someone else owns or may write to could hold their socket
    // under our name, or get ours replaced.
    if (!S_ISDIR(info.st_mode))
        return Fail({Reason::NotAFolder, Step::CheckPath, folder});
    if (info.st_uid != user)
        return Fail({Reason::OtherUser, Step::CheckPath, folder});
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return Fail({Reason::OpenToOthers, Step::CheckPath, folder});
    if (::lstat(path.c_str(), &info) != 0) {
        if (errno == ENOENT)
            return {};
        return Fail(Failure::System(errno, Step::CheckPath, path));
    }
    if (!S_ISSOCK(info.st_mode))
        return Fail({Reason::NotASocket, Step::CheckPath, path});
    if (info.st_uid != user)
        return Fail({Reason::OtherUser, Step::CheckPath, path});
    return {};
}

bool ChannelIsLive(const std::string& path) {
    sockaddr_un address;
    if (!FillAddress(path, address))
        return false;
    const UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (socket.get() < 0)
        return false;
    // A listening socket takes the connection at once (into its backlog),
    // whether or not the window has looked at it yet; a full backlog says
    // EAGAIN, and someone listens then too.
    int result;
    do
        result = ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address),
                           sizeof(address));
    while (result != 0 && errno == EINTR);
    return result == 0 || errno == EAGAIN;
}

UniqueFd TryLockChannel(const std::string& path) {
    UniqueFd lock(::open((path + ".lock").c_str(),
                         O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
    struct stat info{};
    if (lock.get() < 0 || ::fstat(lock.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_uid != ::getuid())
        return UniqueFd();
    // flock, not fcntl: its lock belongs to the open file, so two windows of
    // one process (as in the tests) shut each other out too.
    int result;
    do
        result = ::flock(lock.get(), LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    return result == 0 ? std::move(lock) : UniqueFd();
}

CommandRequestReader::State CommandRequestReader::Add(std::string_view bytes) {
    if (state_ != State::Incomplete)
        return state_;
    const std::size_t end = bytes.find('\n');
    text_.append(bytes.substr(0, end));
    if (end == std::string_view::npos) {
        // One byte more than the limit may still be the "\r" of a "\r\n".
        if (text_.size() > kMaxCommandBytes + 1)
            state_ = State::TooLong;
        return state_;
    }
    if (text_.ends_with('\r'))
        text_.pop_back();
    state_ = text_.size() > kMaxCommandBytes ? State::TooLong : State::Complete;
    return state_;
}

Result<void> CheckCommandText(std::string_view command) {
    // The words of CommandTooLong give the limit.
    static_assert(kMaxCommandBytes == 4096);
    if (command.size() > kMaxCommandBytes)
        return Fail({Reason::CommandTooLong, Step::CheckCommand});
    if (command.find_first_of(std::string_view("\n\r\0", 3)) != std::string_view::npos)
        return Fail({Reason::CommandLineEnd, Step::CheckCommand});
    return {};
}

std::string SendResult::Message() const {
    // A folder or socket that may not be used is said as it is, with what
    // was not done because of it.
    if (status == Status::Refused)
        return failure.Message() + "; the command was not sent";
    return failure.Message();
}

SendResult SendCommand(const std::string& path, std::string_view command,
                       std::chrono::milliseconds timeout) {
    using Status = SendResult::Status;
    const auto deadline = Clock::now() + timeout;
    if (const auto sendable = CheckCommandText(command); !sendable)
        return Failed(Status::Unreachable, sendable.error());
    // A window makes its folder when it starts: without the folder, or
    // without a socket in a folder fit for one, no window runs. A folder of
    // another user, or one others can write to, is said as it is: a window
    // may well run, but commands are not sent where others could listen.
    const Failure noWindow(Reason::NoWindowFolder, Step::CheckPath, path);
    if (const auto usable = CheckChannelPath(path, false); !usable) {
        if (Missing(std::filesystem::path(path).parent_path().string()))
            return Failed(Status::NoWindow, noWindow);
        return Failed(Status::Refused, usable.error());
    }
    if (Missing(path))
        return Failed(Status::NoWindow, noWindow);
    sockaddr_un address;
    FillAddress(path, address);
    const UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (socket.get() < 0)
        return Failed(Status::Unreachable, Failure::System(errno, Step::MakeSocket));
    while (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) !=
           0) {
        const int error = errno;
        if (error == ECONNREFUSED || error == ENOENT)
            return Failed(Status::NoWindow, {Reason::NobodyListens, Step::Connect, path});
        if (error == EINTR)
            continue;
        if (error != EAGAIN)
            return Failed(Status::Unreachable, Failure::System(error, Step::Connect, path));
        // A full backlog: the window is busy with other clients; try again
        // shortly, within the time limit.
        if (MillisecondsLeft(deadline) == 0)
            return Failed(Status::Unreachable, {Reason::ConnectionNotTaken, Step::Connect, path});
        ::poll(nullptr, 0, std::min(10, MillisecondsLeft(deadline)));
    }

    std::string request(command);
    request += '\n';
    std::size_t sent = 0;
    while (sent < request.size()) {
        if (!WaitFor(socket.get(), POLLOUT, deadline))
            return Failed(Status::Unreachable, {Reason::CommandNotTaken, Step::SendCommand, path});
        const ssize_t written =
            ::send(socket.get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (written < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return Failed(Status::Unreachable, Failure::System(errno, Step::SendCommand, path));
        }
        sent += static_cast<std::size_t>(written);
    }

    std::string reply;
    for (;;) {
        if (!WaitFor(socket.get(), POLLIN, deadline))
            return Failed(Status::Unreachable, {Reason::NoReplyInTime, Step::ReadReply, path});
        char buffer[kMaxReplyBytes];
        const ssize_t got = ::recv(socket.get(), buffer, sizeof(buffer), 0);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return Failed(Status::Unreachable, Failure::System(errno, Step::ReadReply, path));
        }
        if (got == 0)
            return Failed(Status::Unreachable, {Reason::NoReply, Step::ReadReply, path});
        reply.append(buffer, static_cast<std::size_t>(got));
        if (const auto end = reply.find('\n'); end != std::string::npos) {
            reply.resize(end);
            break;
        }
        if (reply.size() > kMaxReplyBytes)
            break;
    }
    if (reply == kAcceptedReply)
        return {Status::Accepted, {}};
    if (reply == kNotAcceptedReply)
        return {Status::NotAccepted, {}};
    return Failed(Status::Unreachable, {Reason::ReplyNotUnderstood, Step::ReadReply, path});
}

} // namespace sorvane
