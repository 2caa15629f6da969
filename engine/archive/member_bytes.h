#pragma once
// The bytes of the member an archive reader (libarchive) is at, unpacked
// forward only as far as they are read. What was unpacked stays, so reads
// may go back: in memory up to UnpackBudget::heldInMemory, beyond that in an
// unnamed temporary file. Shared by the archives and the installers' cabinets.

#include "engine/failure.h"
#include "engine/formats/byte_source.h"

#include "engine/archive/library_calls.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace sorvane {

/// What the members of one archive may unpack to. A member past its budget is
/// unreadable (OverBudget) and its reads fail from there on; an archive past
/// its total ends the walk with OverBudget.
struct UnpackBudget {
    /// Bytes of one member held in memory; the rest go to a temporary file.
    std::uint64_t heldInMemory = 8ull << 20;
    /// Most bytes one member may unpack to.
    std::uint64_t memberBytes = 2ull << 30;
    /// Most bytes a member may unpack to per byte of the archive read for it,
    /// once it has unpacked `ratioFrom` bytes: real files seldom pack
    /// tighter than 20 to 1, a bomb of zeros packs 1,000 to 1 and more.
    std::uint64_t ratio = 200;
    std::uint64_t ratioFrom = 16ull << 20;
    /// The whole archive may unpack to this many bytes plus `ratio` times its
    /// own size, counting what the members' readers unpack and what skipping
    /// members unpacks where skipping means decompressing (a compressed tar,
    /// 7-Zip, CAB).
    std::uint64_t archiveBytes = 1ull << 30;
    /// Most members an archive may hold.
    std::uint64_t members = 4'000'000;
    /// Where the temporary files go; empty for $TMPDIR, else /tmp.
    std::string spillFolder;
};

struct ArchiveFree {
    void operator()(archive* a) const { Libarchive().archive_read_free(a); }
};
/// A libarchive reader, freed with it.
using ArchivePtr = std::unique_ptr<archive, ArchiveFree>;

/// Why libarchive gave up on `a`: the system's error where it has one, else
/// `otherwise`, with libarchive's words as the detail.
Failure ArchiveFailure(archive* a, Reason otherwise, const std::string& path);

/// An unnamed file in `chosen` (empty: $TMPDIR, else /tmp), gone once
/// closed; -1 with errno set when none can be made.
int OpenSpillFile(const std::string& chosen);

/// pwrite(2) and pread(2) of all `length` bytes at `offset`.
bool WriteAll(int fd, const std::byte* data, std::size_t length, std::uint64_t offset);
bool ReadAll(int fd, std::byte* data, std::size_t length, std::uint64_t offset);

/// What the members of one walk have unpacked, against the archive's total.
struct WalkTally {
    std::uint64_t unpacked = 0;
    std::uint64_t limit = 0;
    bool over = false;
    /// libarchive cannot read on: the walk ends after this member.
    std::optional<Failure> fatal;

    bool Take(std::uint64_t bytes) {
        if (bytes > limit || unpacked > limit - bytes) {
            over = true;
            return false;
        }
        unpacked += bytes;
        return true;
    }
};

// The bytes of the member libarchive is at, unpacked forward as far as they
// are read. What was unpacked stays: reads behind it are served from memory
// or from the temporary file.
class MemberBytes final : public ByteSource {
public:
    MemberBytes(archive* a, std::optional<std::uint64_t> declared, const UnpackBudget& budget,
                WalkTally& tally, Bytes& memory)
        : a_(a), declared_(declared), budget_(budget), tally_(tally), memory_(memory),
          packedAtStart_(Libarchive().archive_filter_bytes(a, -1)) {
        memory_.clear();
    }
    ~MemberBytes() override {
        if (spill_ >= 0)
            ::close(spill_);
    }
    MemberBytes(const MemberBytes&) = delete;
    MemberBytes& operator=(const MemberBytes&) = delete;

    std::uint64_t size() const override {
        if (declared_)
            return *declared_;
        // No size in the header: the member is unpacked to its end to learn it.
        FillTo(budget_.memberBytes + 1);
        return held_;
    }

    const std::optional<Failure>& failure() const { return failure_; }
    std::uint64_t held() const { return held_; }
    bool ended() const { return ended_; }

protected:
    bool ReadInto(std::uint64_t offset, std::span<std::byte> out) const override {
        const std::uint64_t end = offset + out.size();
        if (!FillTo(end))
            return false;
        const std::uint64_t inMemory = memory_.size();
        if (offset < inMemory) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(inMemory - offset, out.size()));
            std::memcpy(out.data(), memory_.data() + offset, n);
            out = out.subspan(n);
            offset += n;
        }
        return out.empty() ||
               ReadAll(spill_, out.data(), out.size(), offset - budget_.heldInMemory);
    }

private:
    // Unpacks until `end` bytes are held or the member ends; false when it
    // ended before, could not be unpacked, or went over its budget. Once
    // every byte the header declares is held, the member is read to its
    // end, where the format checks what it unpacked (a ZIP member's CRC): a
    // reader that reads the last byte learns of a member that is not whole.
    bool FillTo(std::uint64_t end) const {
        const auto going = [&] {
            return (held_ < end || (declared_ && held_ >= *declared_)) && !ended_ && !failure_;
        };
        while (going()) {
            const void* block = nullptr;
            std::size_t length = 0;
            la_int64_t offset = 0;
            const int status = Libarchive().archive_read_data_block(a_, &block, &length, &offset);
            if (status == ARCHIVE_EOF) {
                ended_ = true;
                // A sparse member may end in a hole.
                if (declared_ && held_ < *declared_)
                    Append(nullptr, *declared_ - held_);
                break;
            }
            if (status != ARCHIVE_OK) {
                Fail(Failure(Reason::NotDecompressed, Step::Read));
                if (const char* words = Libarchive().archive_error_string(a_))
                    failure_->detail = words;
                if (status == ARCHIVE_FATAL)
                    tally_.fatal = ArchiveFailure(a_, Reason::BadFormat, {});
                break;
            }
            if (offset < 0 || static_cast<std::uint64_t>(offset) < held_) {
                Fail(Failure(Reason::NotDecompressed, Step::Read));
                break;
            }
            // A hole of a sparse member reads as zeros.
            if (static_cast<std::uint64_t>(offset) > held_ &&
                !Append(nullptr, static_cast<std::uint64_t>(offset) - held_))
                break;
            Append(static_cast<const std::byte*>(block), length);
        }
        // Bytes held before a failure are still served, but not the last
        // declared ones: a reader that reads to the end learns that the
        // member is not whole.
        return held_ >= end && !(failure_ && declared_ && end >= *declared_);
    }

    // Takes `length` more bytes (zeros when `data` is null) as far as the
    // budgets allow; false when they did not allow all of them.
    bool Append(const std::byte* data, std::uint64_t length) const {
        // Not more than the header declared (it would lie), nor more than a
        // member may have.
        std::uint64_t room = budget_.memberBytes > held_ ? budget_.memberBytes - held_ : 0;
        if (declared_)
            room = std::min(room, *declared_ > held_ ? *declared_ - held_ : 0);
        const std::uint64_t take = std::min(length, room);
        // Nor packed tighter than real files are.
        const std::uint64_t after = held_ + take;
        const auto packed = static_cast<std::uint64_t>(
            std::max<la_int64_t>(Libarchive().archive_filter_bytes(a_, -1) - packedAtStart_, 0));
        if (after >= budget_.ratioFrom && after / std::max<std::uint64_t>(packed, 1) >= budget_.ratio) {
            Fail(Failure(Reason::OverBudget, Step::Read));
            return false;
        }
        if (!tally_.Take(take)) {
            Fail(Failure(Reason::OverBudget, Step::Read));
            return false;
        }
        std::uint64_t done = 0;
        if (held_ < budget_.heldInMemory) {
            const auto n = static_cast<std::size_t>(std::min(take, budget_.heldInMemory - held_));
            if (data != nullptr)
                memory_.insert(memory_.end(), data, data + n);
            else
                memory_.resize(memory_.size() + n);
            done = n;
        }
        if (done < take) {
            if (spill_ < 0) {
                spill_ = OpenSpillFile(budget_.spillFolder);
                if (spill_ < 0) {
                    Fail(Failure::System(errno, Step::Create));
                    return false;
                }
            }
            const std::uint64_t at = held_ + done - budget_.heldInMemory;
            const bool written =
                data != nullptr
                    ? WriteAll(spill_, data + done, static_cast<std::size_t>(take - done), at)
                    : ::ftruncate(spill_, static_cast<off_t>(at + (take - done))) == 0;
            if (!written) {
                Fail(Failure::System(errno != 0 ? errno : EIO, Step::Write));
                return false;
            }
        }
        held_ = after;
        if (take < length) {
            Fail(Failure(Reason::OverBudget, Step::Read));
            return false;
        }
        return true;
    }

    void Fail(Failure failure) const {
        if (!failure_)
            failure_ = std::move(failure);
    }

    archive* a_;
    std::optional<std::uint64_t> declared_;
    const UnpackBudget& budget_;
    WalkTally& tally_;
    Bytes& memory_;
    la_int64_t packedAtStart_;
    mutable int spill_ = -1;
    mutable std::uint64_t held_ = 0;
    mutable bool ended_ = false;
    mutable std::optional<Failure> failure_;
};

} // namespace sorvane
