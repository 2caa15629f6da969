#include "engine/failure.h"

#include <string.h>
#include <sys/stat.h>

namespace sorvane {
namespace {

// How a reason reads: its stable name, its words, and whether those words
// already name the path and make the whole message (no step adds to them).
struct ReasonWords {
    std::string_view name;
    std::string_view text; ///< "{}" stands for the path
    bool whole = false;
};

ReasonWords WordsOf(Reason reason) {
    switch (reason) {
    case Reason::NotVersioned:
        return {"not-versioned", "not a versioned file"};
    case Reason::Truncated:
        return {"truncated", "truncated"};
    case Reason::BadFormat:
        return {"bad-format", "bad format"};
    case Reason::Changed:
        return {"changed", "changed since the scan; scan again"};
    case Reason::ChangedWhileCopied:
        return {"changed-while-copied", "the source file changed while it was copied"};
    case Reason::SymbolicLink:
        return {"symbolic-link", "{} is a symbolic link; Sorvane does not copy through links",
                true};
    case Reason::NotRegularFile:
        return {"not-regular-file", "not a regular file"};
    case Reason::LinkToNotRegular:
        return {"link-to-not-regular-file", "a link to something other than a file"};
    case Reason::NotOpened:
        return {"not-opened", "cannot be opened for reading"};
    case Reason::NameTaken:
        return {"name-taken", "a file has that name"};
    case Reason::FolderMissing:
        return {"folder-missing", "the folder {} is not there", true};
    case Reason::NoFileName:
        return {"no-file-name", "no file name"};
    case Reason::NoFolderName:
        return {"no-folder-name", "no folder name"};
    case Reason::TooManyWrites:
        return {"too-many-writes", "too many unfinished writes of this file"};
    case Reason::LinkNotReplaceable:
        return {"link-not-replaceable", "the link does not lead to a file that can be replaced"};
    case Reason::OutsideFolder:
        return {"outside-folder", "the name does not lead to a file inside the folder"};
    case Reason::BackupIsTarget:
        return {"backup-is-target", "the backup folder {} is the target folder", true};
    case Reason::OutputNotWritten:
        return {"output-not-written", "the output could not be written"};
    case Reason::SocketPathTooLong:
        return {"socket-path-too-long", "the path {} is too long for a local socket", true};
    case Reason::NoFolder:
        return {"no-folder", "the path {} has no folder", true};
    case Reason::NotAFolder:
        return {"not-a-folder", "{} is not a folder", true};
    case Reason::OtherUser:
        return {"other-user", "{} belongs to another user", true};
    case Reason::OpenToOthers:
        return {"open-to-others", "{} can be written by other users", true};
    case Reason::NotASocket:
        return {"not-a-socket", "{} is not a socket", true};
    case Reason::CommandTooLong:
        return {"command-too-long", "the command is longer than 4096 bytes"};
    case Reason::CommandLineEnd:
        return {"command-line-end", "the command holds a line end or a NUL character"};
    case Reason::NoWindowFolder:
        return {"no-window", "no Sorvane window is running (nothing at {})", true};
    case Reason::NobodyListens:
        return {"nobody-listens", "no Sorvane window is running (nobody listens on {})", true};
    case Reason::ConnectionNotTaken:
        return {"connection-not-taken", "the window did not take the connection in time", true};
    case Reason::CommandNotTaken:
        return {"command-not-taken", "the window did not take the command in time", true};
    case Reason::NoReplyInTime:
        return {"no-reply-in-time", "no reply from the window within the time limit", true};
    case Reason::NoReply:
        return {"no-reply", "the window closed the connection without a reply", true};
    case Reason::ReplyNotUnderstood:
        return {"reply-not-understood", "the reply was not understood", true};
    case Reason::ChannelTaken:
        return {"channel-taken", "another window serves commands on {}", true};
    case Reason::OldSocketStays:
        return {"old-socket-stays", "cannot remove the old socket {}", true};
    case Reason::NotServed:
        return {"not-served", "cannot serve on {}", true};
    case Reason::Internal:
        return {"internal", "an internal error of the program"};
    case Reason::MemberNameUnsafe:
        return {"member-name-unsafe", "the member's name leads outside the archive's tree"};
    case Reason::DuplicateMember:
        return {"duplicate-member", "another member has the same name"};
    case Reason::LinkMember:
        return {"link-member", "the member is a link"};
    case Reason::EncryptedMember:
        return {"encrypted-member", "the member is encrypted"};
    case Reason::NotDecompressed:
        return {"not-decompressed", "the member cannot be decompressed"};
    case Reason::OverBudget:
        return {"over-budget", "unpacks to more bytes than allowed"};
    case Reason::NotAnArchive:
        return {"not-an-archive", "not an archive or installer this program reads"};
    case Reason::CabinetMissing:
        return {"cabinet-missing", "the installer's cabinet is not there"};
    case Reason::LibraryMissing:
        return {"library-missing", "the library that reads it cannot be loaded"};
    }
    return {"unknown", "unknown reason"};
}

class ReasonCategoryImpl final : public std::error_category {
public:
    const char* name() const noexcept override { return "sorvane"; }
    std::string message(int value) const override {
        return std::string(WordsOf(static_cast<Reason>(value)).text);
    }
};

// `text` with "{}" replaced by `path`.
std::string WithPath(std::string_view text, const std::string& path) {
    std::string out(text);
    if (const auto at = out.find("{}"); at != std::string::npos)
        out.replace(at, 2, path);
    return out;
}

std::string_view TypeWords(FileType type) {
    switch (type) {
    case FileType::Folder:
        return "a folder";
    case FileType::Fifo:
        return "a FIFO";
    case FileType::CharacterDevice:
        return "a character device";
    case FileType::BlockDevice:
        return "a block device";
    case FileType::Socket:
        return "a socket";
    case FileType::Link:
        return "a link";
    case FileType::Unknown:
    case FileType::Other:
        break;
    }
    return "something other than a file";
}

// What has the name, and what the step does only with regular files.
std::string NotRegularText(const Failure& failure, bool throughLink) {
    if (!throughLink && failure.step == Step::Open)
        return failure.type == FileType::Folder ? "is a folder" : "not a regular file";
    std::string text(throughLink ? "a link to " : "");
    text.append(TypeWords(failure.type)).append(" has that name; only regular files are ");
    text.append(failure.step == Step::OpenSource ? "copied" : "replaced");
    return text;
}

} // namespace

const std::error_category& ReasonCategory() {
    static const ReasonCategoryImpl category;
    return category;
}

std::error_code make_error_code(Reason reason) {
    return {static_cast<int>(reason), ReasonCategory()};
}

std::string_view StepName(Step step) {
    switch (step) {
    case Step::None: return "";
    case Step::Open: return "open";
    case Step::Read: return "read";
    case Step::ReadSource: return "read source";
    case Step::Write: return "write";
    case Step::WriteInFolder: return "write in folder";
    case Step::Create: return "create";
    case Step::Status: return "status";
    case Step::CheckPath: return "check path";
    case Step::MakeFolder: return "make folder";
    case Step::MakeSocketFolder: return "make socket folder";
    case Step::OpenFolder: return "open folder";
    case Step::OpenTargetFolder: return "open target folder";
    case Step::OpenBackupFolder: return "open backup folder";
    case Step::OpenSource: return "open source";
    case Step::FollowLink: return "follow link";
    case Step::SetOwner: return "set owner";
    case Step::SetPermissions: return "set permissions";
    case Step::SetTime: return "set time";
    case Step::Sync: return "sync";
    case Step::Rename: return "rename";
    case Step::Copy: return "copy";
    case Step::CompareWithScan: return "compare with scan";
    case Step::Replace: return "replace";
    case Step::CheckCommand: return "check command";
    case Step::MakeSocket: return "make socket";
    case Step::Connect: return "connect";
    case Step::SendCommand: return "send command";
    case Step::ReadReply: return "read reply";
    case Step::Listen: return "listen";
    case Step::ReadExecutableHeader: return "read executable header";
    case Step::FindVersionResource: return "find version resource";
    case Step::ReadVersionResource: return "read version resource";
    case Step::ParseVersionBlock: return "parse version block";
    case Step::ReadFontNames: return "read font names";
    case Step::ReadTypeLibrary: return "read type library";
    case Step::ReadAssemblyIdentity: return "read assembly identity";
    }
    return "";
}

FileType FileTypeOf(mode_t mode) {
    return S_ISDIR(mode)    ? FileType::Folder
           : S_ISFIFO(mode) ? FileType::Fifo
           : S_ISCHR(mode)  ? FileType::CharacterDevice
           : S_ISBLK(mode)  ? FileType::BlockDevice
           : S_ISSOCK(mode) ? FileType::Socket
           : S_ISLNK(mode)  ? FileType::Link
                            : FileType::Other;
}

std::string Failure::Message() const {
    if (!code)
        return {};
    std::string reason;
    if (code.category() == ReasonCategory()) {
        const auto own = static_cast<Reason>(code.value());
        const ReasonWords words = WordsOf(own);
        if (words.whole)
            return detail.empty() ? WithPath(words.text, path)
                                  : WithPath(words.text, path) + ": " + detail;
        reason = own == Reason::NotRegularFile     ? NotRegularText(*this, false)
                 : own == Reason::LinkToNotRegular ? NotRegularText(*this, true)
                                                   : std::string(words.text);
    } else {
        reason = code.message();
    }
    switch (step) {
    case Step::ReadSource:
        return "the source file could not be read: " + reason;
    case Step::WriteInFolder:
        return "cannot write in the folder " + path + ": " + reason;
    case Step::CheckPath:
        return path + ": " + reason;
    case Step::MakeFolder:
        return "cannot make the folder " + path + ": " + reason;
    case Step::MakeSocketFolder:
        return "cannot make " + path + ": " + reason;
    case Step::OpenFolder:
        return "cannot open the folder " + path + ": " + reason;
    case Step::OpenTargetFolder:
        return "the target folder " + path + " is not there";
    case Step::OpenBackupFolder:
        return "the backup folder " + path + " cannot be opened: " + reason;
    case Step::MakeSocket:
        return "cannot make a socket: " + reason;
    case Step::Connect:
        return "cannot connect to " + path + ": " + reason;
    case Step::SendCommand:
        return "cannot send the command: " + reason;
    case Step::ReadReply:
        return "cannot read the reply: " + reason;
    default:
        // What a library added to one of the program's own reasons.
        return detail.empty() ? reason : reason + ": " + detail;
    }
}

std::string Failure::CodeName() const {
    if (!code)
        return {};
    if (code.category() == ReasonCategory())
        return std::string(WordsOf(static_cast<Reason>(code.value())).name);
    if (code.category() == std::generic_category() || code.category() == std::system_category())
        if (const char* name = ::strerrorname_np(code.value()))
            return name;
    return std::string(code.category().name()) + ":" + std::to_string(code.value());
}

} // namespace sorvane
