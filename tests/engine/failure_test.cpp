#include "engine/failure.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <sys/stat.h>

namespace sorvane {
namespace {

// Each row: code, step, path and file type in; the line the program shows
// and the code's name out.
TEST(Failure, MessageAndCodeNameOfEachStep) {
    struct Row {
        Failure failure;
        std::string message;
        std::string code;
    };
    const FileType fifo = FileType::Fifo;
    const Row rows[] = {
        {Failure::System(EACCES, Step::Open, "/a/b"), "Permission denied", "EACCES"},
        {Failure::System(ENOENT, Step::Open), "No such file or directory", "ENOENT"},
        {Failure::System(EIO, Step::ReadSource, "/s/a"),
         "the source file could not be read: Input/output error", "EIO"},
        {Failure::System(ENOSPC, Step::WriteInFolder, "/t/sub"),
         "cannot write in the folder /t/sub: No space left on device", "ENOSPC"},
        {Failure::System(EACCES, Step::MakeFolder, "/t/sub"),
         "cannot make the folder /t/sub: Permission denied", "EACCES"},
        {{Reason::NameTaken, Step::MakeFolder, "/t/_Backup"},
         "cannot make the folder /t/_Backup: a file has that name", "name-taken"},
        {Failure::System(EACCES, Step::OpenFolder, "/t/x"),
         "cannot open the folder /t/x: Permission denied", "EACCES"},
        {Failure::System(EACCES, Step::OpenTargetFolder, "/t"), "the target folder /t is not there",
         "EACCES"},
        {Failure::System(ENOENT, Step::OpenBackupFolder, "/b"),
         "the backup folder /b cannot be opened: No such file or directory", "ENOENT"},
        {Failure::System(EPERM, Step::CheckPath, "/run/s"), "/run/s: Operation not permitted",
         "EPERM"},
        {Failure::System(EROFS, Step::MakeSocketFolder, "/tmp/S-1"),
         "cannot make /tmp/S-1: Read-only file system", "EROFS"},
        {Failure::System(EXDEV, Step::Rename, "/t/a"), "Invalid cross-device link", "EXDEV"},
        // Reasons that name their path make the whole message, whatever the step.
        {{Reason::SymbolicLink, Step::OpenFolder, "/t/sub"},
         "/t/sub is a symbolic link; Sorvane does not copy through links", "symbolic-link"},
        {{Reason::FolderMissing, Step::OpenFolder, "/t/a"}, "the folder /t/a is not there",
         "folder-missing"},
        {{Reason::BackupIsTarget, Step::OpenBackupFolder, "/t"},
         "the backup folder /t is the target folder", "backup-is-target"},
        {{Reason::SocketPathTooLong, Step::CheckPath, "/x"},
         "the path /x is too long for a local socket", "socket-path-too-long"},
        {{Reason::NoFolder, Step::CheckPath, "s"}, "the path s has no folder", "no-folder"},
        {{Reason::NotAFolder, Step::CheckPath, "/r"}, "/r is not a folder", "not-a-folder"},
        {{Reason::OtherUser, Step::CheckPath, "/r/s"}, "/r/s belongs to another user",
         "other-user"},
        {{Reason::OpenToOthers, Step::CheckPath, "/r"}, "/r can be written by other users",
         "open-to-others"},
        {{Reason::NotASocket, Step::CheckPath, "/r/s"}, "/r/s is not a socket", "not-a-socket"},
        // What has the name, in the words of the step.
        {{Reason::NotRegularFile, Step::Replace, "/t/a", fifo},
         "a FIFO has that name; only regular files are replaced", "not-regular-file"},
        {{Reason::LinkToNotRegular, Step::Replace, "/t/a", FileType::Socket},
         "a link to a socket has that name; only regular files are replaced",
         "link-to-not-regular-file"},
        {{Reason::NotRegularFile, Step::OpenSource, "/s/a", FileType::Folder},
         "a folder has that name; only regular files are copied", "not-regular-file"},
        {{Reason::NotRegularFile, Step::WriteInFolder, "/t", FileType::CharacterDevice},
         "cannot write in the folder /t: a character device has that name; only regular files "
         "are replaced",
         "not-regular-file"},
        {{Reason::NotRegularFile, Step::Open, "/d", FileType::Folder}, "is a folder",
         "not-regular-file"},
        {{Reason::NotRegularFile, Step::Open, "/p", fifo}, "not a regular file",
         "not-regular-file"},
        {{Reason::NotOpened, Step::Open, "/f"}, "cannot be opened for reading", "not-opened"},
        // The program's own reasons without a path.
        {{Reason::Changed, Step::CompareWithScan, "/t/a"}, "changed since the scan; scan again",
         "changed"},
        {{Reason::ChangedWhileCopied, Step::Copy}, "the source file changed while it was copied",
         "changed-while-copied"},
        {{Reason::TooManyWrites, Step::Create}, "too many unfinished writes of this file",
         "too-many-writes"},
        {{Reason::NoFileName, Step::Replace}, "no file name", "no-file-name"},
        {{Reason::NoFolderName, Step::None}, "no folder name", "no-folder-name"},
        {{Reason::LinkNotReplaceable, Step::FollowLink, "/proc/1/fd/3"},
         "the link does not lead to a file that can be replaced", "link-not-replaceable"},
        {{Reason::OutsideFolder, Step::None, "/s/../x"},
         "the name does not lead to a file inside the folder", "outside-folder"},
        {{Reason::OutputNotWritten, Step::Write}, "the output could not be written",
         "output-not-written"},
        {{Reason::CommandTooLong, Step::CheckCommand}, "the command is longer than 4096 bytes",
         "command-too-long"},
        {{Reason::CommandLineEnd, Step::CheckCommand},
         "the command holds a line end or a NUL character", "command-line-end"},
        {{Reason::NotVersioned, Step::FindVersionResource, "/a.dll"}, "not a versioned file",
         "not-versioned"},
        {{Reason::Truncated, Step::ReadExecutableHeader, "/a.dll"}, "truncated", "truncated"},
        {{Reason::BadFormat, Step::ParseVersionBlock, "/a.dll"}, "bad format", "bad-format"},
        // The command channel: the client's steps, and the window's serving.
        {{Reason::NoWindowFolder, Step::CheckPath, "/r/Sorvane.Main"},
         "no Sorvane window is running (nothing at /r/Sorvane.Main)", "no-window"},
        {{Reason::NobodyListens, Step::Connect, "/r/Sorvane.Main"},
         "no Sorvane window is running (nobody listens on /r/Sorvane.Main)", "nobody-listens"},
        {Failure::System(EMFILE, Step::MakeSocket), "cannot make a socket: Too many open files",
         "EMFILE"},
        {Failure::System(EACCES, Step::Connect, "/r/s"), "cannot connect to /r/s: Permission denied",
         "EACCES"},
        {{Reason::ConnectionNotTaken, Step::Connect, "/r/s"},
         "the window did not take the connection in time", "connection-not-taken"},
        {{Reason::CommandNotTaken, Step::SendCommand, "/r/s"},
         "the window did not take the command in time", "command-not-taken"},
        {Failure::System(EPIPE, Step::SendCommand, "/r/s"), "cannot send the command: Broken pipe",
         "EPIPE"},
        {{Reason::NoReplyInTime, Step::ReadReply, "/r/s"},
         "no reply from the window within the time limit", "no-reply-in-time"},
        {Failure::System(ECONNRESET, Step::ReadReply, "/r/s"),
         "cannot read the reply: Connection reset by peer", "ECONNRESET"},
        {{Reason::NoReply, Step::ReadReply, "/r/s"},
         "the window closed the connection without a reply", "no-reply"},
        {{Reason::ReplyNotUnderstood, Step::ReadReply, "/r/s"}, "the reply was not understood",
         "reply-not-understood"},
        {{Reason::ChannelTaken, Step::Listen, "/r/s"}, "another window serves commands on /r/s",
         "channel-taken"},
        {{Reason::OldSocketStays, Step::Listen, "/r/s"}, "cannot remove the old socket /r/s",
         "old-socket-stays"},
        {[] {
             Failure why(Reason::NotServed, Step::Listen, "/r/s");
             why.detail = "QLocalServer::listen: Address in use";
             return why;
         }(),
         "cannot serve on /r/s: QLocalServer::listen: Address in use", "not-served"},
        // What a library said follows the reason.
        {[] {
             Failure why(Reason::NotDecompressed, Step::Read, "/p/product.msi");
             why.detail = "Invalid CAB header";
             return why;
         }(),
         "the member cannot be decompressed: Invalid CAB header", "not-decompressed"},
        // No code, no failure: nothing to say.
        {{std::error_code(), Step::Write, "/a"}, "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message);
        EXPECT_EQ(row.failure.Message(), row.message);
        EXPECT_EQ(row.failure.CodeName(), row.code);
    }
}

TEST(Failure, StepNamesAreDistinctAndCodesCompare) {
    std::set<std::string_view> names;
    for (int s = 0; s <= static_cast<int>(Step::ReadTypeLibrary); ++s)
        EXPECT_TRUE(names.insert(StepName(static_cast<Step>(s))).second) << s;
    EXPECT_EQ(StepName(Step::ParseVersionBlock), "parse version block");
    EXPECT_EQ(StepName(Step::None), "");

    const Failure truncated(Reason::Truncated, Step::ReadVersionResource);
    EXPECT_TRUE(truncated.Is(Reason::Truncated));
    EXPECT_FALSE(truncated.Is(Reason::BadFormat));
    // A system error compares with its portable condition.
    EXPECT_EQ(Failure::System(ENOENT, Step::Open).code, std::errc::no_such_file_or_directory);
    EXPECT_NE(truncated.code, std::errc::no_such_file_or_directory);
    EXPECT_EQ(FileTypeOf(S_IFIFO | 0600), FileType::Fifo);
    EXPECT_EQ(FileTypeOf(S_IFLNK | 0777), FileType::Link);
    EXPECT_EQ(FileTypeOf(S_IFDIR | 0755), FileType::Folder);
}

} // namespace
} // namespace sorvane
