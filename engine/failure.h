#pragma once
// One way to fail, from the engine up: an error code (the system's errno
// value where a system call failed, or one of the program's own reasons) and
// where it happened (the path and the step). The window and the command-line
// tool turn it into their words with Message().

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <system_error>

namespace sorvane {

/// The program's own reasons, error codes of a category of their own.
enum class Reason : int {
    NotVersioned = 1,   ///< no version data in the file
    Truncated,          ///< the file ends inside what its headers declare
    BadFormat,          ///< a header or table the reader cannot use
    Changed,            ///< the file is no longer the one the scan read
    ChangedWhileCopied, ///< the source file changed while it was copied
    SymbolicLink,       ///< a symbolic link where none is followed
    NotRegularFile,     ///< something other than a regular file has the name
    LinkToNotRegular,   ///< a link to something other than a regular file
    NotOpened,          ///< a regular file that gave no descriptor all the same
    NameTaken,          ///< a file has the name a folder should get
    FolderMissing,      ///< a folder on the way is not there
    NoFileName,
    NoFolderName,
    TooManyWrites,      ///< every temporary name of the file is in use
    LinkNotReplaceable, ///< a link that leads to no file that can be replaced
    OutsideFolder,      ///< a name that leads out of its folder
    BackupIsTarget,     ///< the backup folder is the Target folder
    OutputNotWritten,   ///< a stream refused the bytes
    SocketPathTooLong,
    NoFolder,           ///< a path without a folder part
    NotAFolder,
    OtherUser,          ///< belongs to another user
    OpenToOthers,       ///< other users can write to it
    NotASocket,
    CommandTooLong,
    CommandLineEnd,     ///< a line end or NUL byte in a command
    NoWindowFolder,     ///< no socket (or no folder for it): no window runs
    NobodyListens,      ///< a socket nobody accepts connections on
    ConnectionNotTaken, ///< the window's backlog stayed full until the time limit
    CommandNotTaken,    ///< the command could not be sent before the time limit
    NoReplyInTime,
    NoReply,            ///< the window closed the connection without a reply
    ReplyNotUnderstood,
    ChannelTaken,       ///< another window serves the channel
    OldSocketStays,     ///< a socket left behind could not be removed
    NotServed,          ///< the socket could not be served on
    Internal,           ///< the program met an error of its own making
    // Members of archives and installers.
    MemberNameUnsafe,   ///< an absolute name, "..", a backslash or an empty part
    DuplicateMember,    ///< a second member of the same name
    LinkMember,         ///< a symbolic or hard link member
    EncryptedMember,
    NotDecompressed,    ///< the member's bytes could not be decompressed
    OverBudget,         ///< more unpacked bytes than the member's or archive's budget
    NotAnArchive,       ///< a file in no archive or installer format read here
    CabinetMissing,     ///< an installer's external cabinet is not there
    LibraryMissing,     ///< a library that reads the format cannot be loaded
};

const std::error_category& ReasonCategory();
std::error_code make_error_code(Reason reason);

/// The system's error `error` (an errno value).
inline std::error_code SystemError(int error) {
    return {error, std::generic_category()};
}

/// What a step was doing when it failed. Each step has a name (for
/// machine-readable output) and decides how its message is worded.
enum class Step : std::uint8_t {
    None,
    Open,
    Read,
    ReadSource,       ///< reading the source file of a copy
    Write,
    WriteInFolder,    ///< writing a new file in the folder `path`
    Create,           ///< making the temporary file of a write
    Status,           ///< stat(2) and its kin
    CheckPath,        ///< looking at the channel's folder or socket
    MakeFolder,
    MakeSocketFolder, ///< making the channel's folder
    OpenFolder,
    OpenTargetFolder,
    OpenBackupFolder,
    OpenSource,       ///< opening the source file of a copy
    FollowLink,
    SetOwner,
    SetPermissions,
    SetTime,
    Sync,
    Rename,
    Copy,
    CompareWithScan,
    Replace,
    CheckCommand,
    MakeSocket,
    Connect,          ///< connecting to the channel's socket `path`
    SendCommand,
    ReadReply,
    Listen,           ///< serving the channel's socket `path`
    ReadExecutableHeader,
    FindVersionResource,
    ReadVersionResource,
    ParseVersionBlock,
    ReadFontNames,
    ReadTypeLibrary,
    ReadAssemblyIdentity,
};

/// The step's name: "open", "parse version block", ...; empty for None.
std::string_view StepName(Step step);

/// What is found at a path that is not a regular file.
enum class FileType : std::uint8_t {
    Unknown,
    Folder,
    Fifo,
    CharacterDevice,
    BlockDevice,
    Socket,
    Link,
    Other,
};

/// The type of the file of mode `mode` (Other for a regular file).
FileType FileTypeOf(mode_t mode);

/// Why something failed, and where.
struct Failure {
    std::error_code code;
    Step step = Step::None;
    /// The file or folder the message names (may be empty).
    std::string path;
    /// For NotRegularFile and LinkToNotRegular: what has the name.
    FileType type = FileType::Unknown;
    /// What a library that gives no error code said, added to the message.
    std::string detail;

    Failure() = default;
    Failure(std::error_code code, Step step, std::string path = {},
            FileType type = FileType::Unknown)
        : code(code), step(step), path(std::move(path)), type(type) {}
    Failure(Reason reason, Step step, std::string path = {},
            FileType type = FileType::Unknown)
        : Failure(make_error_code(reason), step, std::move(path), type) {}

    /// The failure of a system call that set errno to `error`.
    static Failure System(int error, Step step, std::string path = {}) {
        return {SystemError(error), step, std::move(path)};
    }

    /// The line the program shows for it: "Permission denied", "cannot make
    /// the folder /t/sub: a file has that name", "/t/sub is a symbolic link;
    /// Sorvane does not copy through links", ...; empty when the code is
    /// clear (no failure).
    std::string Message() const;

    /// A short, stable name of the code: the errno name for the system's
    /// errors ("ENOENT"), else the reason's ("truncated", "not-versioned");
    /// empty when the code is clear.
    std::string CodeName() const;

    /// True when the code is the program's `reason`.
    bool Is(Reason reason) const { return code == make_error_code(reason); }

    bool operator==(const Failure&) const = default;
};

/// A value, or why there is none.
template <class T>
using Result = std::expected<T, Failure>;

/// Shorthand for returning a failure.
inline std::unexpected<Failure> Fail(Failure failure) {
    return std::unexpected(std::move(failure));
}

} // namespace sorvane

template <>
struct std::is_error_code_enum<sorvane::Reason> : std::true_type {};
