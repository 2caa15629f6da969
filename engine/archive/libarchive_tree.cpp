#include "engine/archive/libarchive_tree.h"

#include "engine/archive/member_bytes.h"
#include "engine/archive/member_name.h"
#include "engine/archive/zip_directory.h"
#include "engine/files/opened_file.h"
#include "engine/files/unique_fd.h"

#include "engine/archive/library_calls.h"

#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_set>

namespace sorvane {
namespace {

// Bytes libarchive reads from the archive file at a time.
constexpr std::size_t kBlockBytes = 128 * 1024;

// libarchive gives names in the character set of the thread's locale. Read
// as UTF-8 whatever locale the program runs in: in the "C" locale every name
// that is not ASCII would be lost, while bytes that are not UTF-8 (names of
// old tar files) are given as they are either way.
locale_t Utf8Locale() {
    static const locale_t locale = [] {
        for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"})
            if (const locale_t found = ::newlocale(LC_CTYPE_MASK, name, locale_t{}))
                return found;
        return locale_t{};
    }();
    return locale;
}

class Utf8Names {
public:
    Utf8Names() : previous_(Utf8Locale() ? ::uselocale(Utf8Locale()) : locale_t{}) {}
    ~Utf8Names() {
        if (previous_)
            ::uselocale(previous_);
    }
    Utf8Names(const Utf8Names&) = delete;
    Utf8Names& operator=(const Utf8Names&) = delete;

private:
    locale_t previous_;
};

class LibarchiveTree final : public PackedTree {
public:
    LibarchiveTree(ArchivePtr a, UniqueFd fd, std::string path, const UnpackBudget& budget,
                   std::uint64_t archiveSize)
        : a_(std::move(a)), fd_(std::move(fd)), path_(std::move(path)), budget_(budget),
          archiveSize_(archiveSize) {}

    /// Reads the first header, which tells the format.
    Result<void> Start() {
        Utf8Names names;
        first_ = Libarchive().archive_read_next_header(a_.get(), &entry_);
        // The format that took it could not read even its first header.
        if (first_ == ARCHIVE_FATAL)
            return Fail(ArchiveFailure(a_.get(), Reason::BadFormat, path_));
        return {};
    }

    int PercentWalked() const override {
        if (archiveSize_ == 0)
            return 0;
        const la_int64_t read = Libarchive().archive_filter_bytes(a_.get(), -1);
        if (read <= 0)
            return 0;
        return static_cast<int>(
            std::min<std::uint64_t>(100, static_cast<std::uint64_t>(read) * 100 / archiveSize_));
    }

    Result<void> Walk(const Wanted& wanted, const Visit& visit,
                      const Unreadable& unreadable) override {
        if (walked_)
            return Fail(Failure(Reason::Internal, Step::Read, path_));
        walked_ = true;
        Utf8Names names;
        archive* a = a_.get();
        WalkTally tally;
        tally.limit = ArchiveLimit();
        std::unordered_set<std::string> given;
        // A ZIP tells the compressed sizes in its central directory only.
        const bool zip = (Libarchive().archive_format(a) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_ZIP;
        const auto storedSizes = zip ? ZipStoredSizes(fd_.get(), archiveSize_)
                                     : std::unordered_map<std::string, std::uint64_t>{};
        std::uint64_t members = 0;
        for (int status = first_;; status = Libarchive().archive_read_next_header(a, &entry_)) {
            if (status == ARCHIVE_EOF)
                return {};
            if (status == ARCHIVE_RETRY)
                continue;
            if (status == ARCHIVE_FATAL)
                return Fail(ArchiveFailure(a, Reason::BadFormat, path_));
            if (++members > budget_.members)
                return Fail(Failure(Reason::OverBudget, Step::Read, path_));
            const char* raw = Libarchive().archive_entry_pathname(entry_);
            const std::string stored = raw != nullptr ? raw : "";
            // A header libarchive could not make sense of leaves nothing to
            // skip: the next header is looked for at once.
            const bool headerFailed = status == ARCHIVE_FAILED;
            const auto pass = [&]() -> Result<void> {
                return headerFailed ? Result<void>() : Skip(tally);
            };
            auto name = NormalizeMemberName(stored);
            const mode_t type = Libarchive().archive_entry_filetype(entry_);
            const char* hardlink = Libarchive().archive_entry_hardlink(entry_);
            if (raw == nullptr || !name || (name->empty() && type != AE_IFDIR)) {
                unreadable(stored, Failure(Reason::MemberNameUnsafe, Step::Read));
                if (auto skipped = pass(); !skipped)
                    return skipped;
                continue;
            }
            if (type == AE_IFDIR && !headerFailed) {
                if (auto skipped = pass(); !skipped)
                    return skipped;
                continue; // folders give no entry
            }
            PackedMember member;
            member.name = std::move(*name);
            const bool sized = Libarchive().archive_entry_size_is_set(entry_) != 0;
            if (sized)
                member.size = static_cast<std::uint64_t>(
                    std::max<la_int64_t>(Libarchive().archive_entry_size(entry_), 0));
            // CAB and ISO 9660 without Rock Ridge keep no permission bits:
            // what libarchive gives for them is made up.
            if (KeepsModes())
                member.mode = Libarchive().archive_entry_perm(entry_);
            if (const auto it = storedSizes.find(stored); it != storedSizes.end())
                member.stored = it->second;
            if (Libarchive().archive_entry_mtime_is_set(entry_) != 0)
                member.modified = Libarchive().archive_entry_mtime(entry_);
            if (!wanted(member)) {
                if (auto skipped = pass(); !skipped)
                    return skipped;
                continue;
            }
            Failure refused;
            if (headerFailed) {
                refused = Failure(Reason::NotDecompressed, Step::Read);
                if (const char* words = Libarchive().archive_error_string(a))
                    refused.detail = words;
            } else if (hardlink != nullptr || type == AE_IFLNK) {
                refused = Failure(Reason::LinkMember, Step::Read);
            } else if (type != AE_IFREG) {
                refused = Failure(Reason::NotRegularFile, Step::Read, {}, FileTypeOf(type));
            } else if (Libarchive().archive_entry_is_encrypted(entry_) != 0) {
                refused = Failure(Reason::EncryptedMember, Step::Read);
            } else if (given.contains(member.name)) {
                refused = Failure(Reason::DuplicateMember, Step::Read);
            }
            if (refused.code) {
                unreadable(member.name, refused);
                if (auto skipped = pass(); !skipped)
                    return skipped;
                continue;
            }
            given.insert(member.name);

            bool going = true;
            std::optional<std::uint64_t> held; // nothing once the member has ended
            {
                MemberBytes bytes(a, sized ? std::optional(member.size) : std::nullopt, budget_,
                                  tally, memory_);
                going = visit(member, &bytes);
                if (bytes.failure())
                    unreadable(member.name, *bytes.failure());
                if (tally.fatal) {
                    Failure failure = *tally.fatal;
                    failure.path = path_;
                    return Fail(std::move(failure));
                }
                if (tally.over)
                    return Fail(Failure(Reason::OverBudget, Step::Read, path_));
                if (!bytes.ended())
                    held = bytes.held();
            }
            if (!going)
                return {};
            // What the reader left of a member is skipped like a member not
            // wanted, a member that went over its budget too.
            if (held)
                if (auto skipped = Skip(tally, *held); !skipped)
                    return skipped;
        }
    }

private:
    std::uint64_t ArchiveLimit() const {
        const std::uint64_t ratio = std::max<std::uint64_t>(budget_.ratio, 1);
        const std::uint64_t room = UINT64_MAX - budget_.archiveBytes;
        return budget_.archiveBytes + (archiveSize_ > room / ratio ? room : archiveSize_ * ratio);
    }

    // Passes over the rest of the member, first paying from the archive's
    // total what that unpacks where skipping means decompressing.
    Result<void> Skip(WalkTally& tally, std::uint64_t held = 0) {
        archive* a = a_.get();
        if (SkipDecompresses() && Libarchive().archive_entry_size_is_set(entry_) != 0) {
            const auto size = static_cast<std::uint64_t>(std::max<la_int64_t>(Libarchive().archive_entry_size(entry_), 0));
            if (size > held && !tally.Take(size - held))
                return Fail(Failure(Reason::OverBudget, Step::Read, path_));
        }
        if (Libarchive().archive_read_data_skip(a) == ARCHIVE_FATAL)
            return Fail(ArchiveFailure(a, Reason::BadFormat, path_));
        return {};
    }

    bool KeepsModes() {
        const int format = Libarchive().archive_format(a_.get());
        return (format & ARCHIVE_FORMAT_BASE_MASK) != ARCHIVE_FORMAT_CAB &&
               format != ARCHIVE_FORMAT_ISO9660;
    }

    // A compressed stream, or a format whose members share compressed blocks,
    // is decompressed to skip a member; elsewhere skipping is a seek.
    bool SkipDecompresses() {
        archive* a = a_.get();
        const int format = Libarchive().archive_format(a) & ARCHIVE_FORMAT_BASE_MASK;
        return Libarchive().archive_filter_count(a) > 1 || format == ARCHIVE_FORMAT_7ZIP ||
               format == ARCHIVE_FORMAT_CAB;
    }

    ArchivePtr a_;
    UniqueFd fd_;
    std::string path_;
    UnpackBudget budget_;
    std::uint64_t archiveSize_;
    archive_entry* entry_ = nullptr;
    int first_ = ARCHIVE_EOF;
    bool walked_ = false;
    Bytes memory_;
};

} // namespace

Result<std::unique_ptr<PackedTree>> OpenLibarchiveTree(const std::string& path,
                                                       const UnpackBudget& budget) {
    UniqueFd fd(OpenLongPath(path, O_RDONLY | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0)
        return Fail(Failure::System(errno, Step::Open, path));
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return Fail(Failure::System(errno, Step::Status, path));
    if (!S_ISREG(st.st_mode))
        return Fail(Failure(Reason::NotRegularFile, Step::Open, path, FileTypeOf(st.st_mode)));
    if (std::string why; !LoadLibarchive(&why)) {
        Failure failure(Reason::LibraryMissing, Step::Open, path);
        failure.detail = std::move(why);
        return Fail(std::move(failure));
    }
    ArchivePtr a(Libarchive().archive_read_new());
    if (!a)
        throw std::bad_alloc();
    // Only the filters libarchive has built in: none that starts a program.
    Libarchive().archive_read_support_filter_gzip(a.get());
    Libarchive().archive_read_support_filter_bzip2(a.get());
    Libarchive().archive_read_support_filter_xz(a.get());
    Libarchive().archive_read_support_filter_zstd(a.get());
    Libarchive().archive_read_support_format_zip_seekable(a.get());
    Libarchive().archive_read_support_format_7zip(a.get());
    Libarchive().archive_read_support_format_tar(a.get());
    Libarchive().archive_read_support_format_cab(a.get());
    Libarchive().archive_read_support_format_iso9660(a.get());
    if (Libarchive().archive_read_open_fd(a.get(), fd.get(), kBlockBytes) != ARCHIVE_OK)
        return Fail(ArchiveFailure(a.get(), Reason::NotAnArchive, path));
    auto tree = std::make_unique<LibarchiveTree>(std::move(a), std::move(fd), path, budget,
                                                 static_cast<std::uint64_t>(st.st_size));
    if (auto started = tree->Start(); !started)
        return Fail(started.error());
    return tree;
}

} // namespace sorvane
