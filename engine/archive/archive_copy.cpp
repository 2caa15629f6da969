#include "engine/archive/archive_copy.h"

#include "engine/text/path_utils.h"

#include <sys/stat.h>

#include <cerrno>
#include <ctime>
#include <optional>
#include <unordered_map>
#include <utility>

namespace sorvane {
namespace {

RowCopyResult FailedRow(Failure failure) {
    RowCopyResult result;
    result.status = RowCopyStatus::CopyFailed;
    result.failedPath = failure.path;
    result.failure = std::move(failure);
    return result;
}

RowCopyResult RefusedRow(Failure failure) {
    RowCopyResult result = FailedRow(std::move(failure));
    result.status = RowCopyStatus::Refused;
    return result;
}

// The rows of one copy, ended as the walk goes and told in their order.
class RowsOfWalk {
public:
    RowsOfWalk(const std::vector<ArchiveCopyRow>& rows,
               const std::function<void(std::size_t, RowCopyResult)>& done)
        : results_(rows.size()), done_(done) {}

    void End(std::size_t index, RowCopyResult result) { results_[index] = std::move(result); }
    std::optional<RowCopyResult>& Of(std::size_t index) { return results_[index]; }

    // Tells the rows that ended, in order, up to the first still open; at
    // the end, every row that ended.
    void Tell(bool all) {
        for (; next_ < results_.size(); ++next_) {
            if (!results_[next_]) {
                if (!all)
                    return;
                continue;
            }
            done_(next_, std::move(*results_[next_]));
            results_[next_].reset();
        }
    }

private:
    std::vector<std::optional<RowCopyResult>> results_;
    const std::function<void(std::size_t, RowCopyResult)>& done_;
    std::size_t next_ = 0;
};

} // namespace

void CopyArchiveRows(PackedTree& tree, const std::string& archivePath, RowCopyBatch& batch,
                     const std::vector<ArchiveCopyRow>& rows, const std::atomic<bool>& stop,
                     const std::function<void(std::size_t)>& reached,
                     const std::function<void(std::size_t, RowCopyResult)>& done) {
    RowsOfWalk told(rows, done);
    // The rows still to copy by member name; a name asked for twice is copied once.
    std::unordered_map<std::string, std::size_t> open;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (!open.emplace(rows[i].name, i).second)
            told.End(i, FailedRow(Failure(Reason::DuplicateMember, Step::OpenSource,
                                          JoinPath(archivePath, rows[i].name))));
    // Rows scanned from another archive than the one there now are not
    // copied: what they showed is not what it holds.
    struct stat now {};
    const bool there = ::stat(archivePath.c_str(), &now) == 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const FileStamp& scanned = rows[i].scanned.source;
        if (scanned.state == FileStamp::State::Unknown || (there && scanned == StampOf(now)))
            continue;
        if (const auto it = open.find(rows[i].name); it != open.end() && it->second == i) {
            open.erase(it);
            told.End(i, RefusedRow(Failure(Reason::Changed, Step::CompareWithScan, archivePath)));
        }
    }
    // The time a member gets where the format keeps none: the archive's own.
    struct timespec archiveTime = now.st_mtim;
    if (!there)
        ::clock_gettime(CLOCK_REALTIME, &archiveTime);
    // Rows handed to the batch, by the batch's count of them.
    std::vector<std::size_t> ofBatchRow;
    const auto take = [&](std::vector<RowCopyBatch::Finished> finished) {
        for (auto& row : finished)
            told.End(ofBatchRow[row.row], std::move(row.result));
    };
    // The row of the member visited last: its bytes' failure, reported right
    // after the visit, says why the row failed.
    std::optional<std::size_t> lastVisited;
    bool stopped = false;

    const auto wanted = [&](const PackedMember& member) { return open.contains(member.name); };
    const auto visit = [&](const PackedMember& member, const ByteSource* bytes) {
        told.Tell(false);
        lastVisited.reset();
        const auto it = open.find(member.name);
        if (it == open.end())
            return true;
        const std::size_t index = it->second;
        open.erase(it);
        reached(index);
        const std::string path = JoinPath(archivePath, member.name);
        if (bytes == nullptr) {
            // The package tells of the member, but its bytes are not there.
            told.End(index, FailedRow(Failure(Reason::CabinetMissing, Step::ReadSource, path)));
        } else {
            SourceBytes source;
            source.bytes = bytes;
            source.permissions = member.mode.value_or(0644) & 0777;
            source.modified = member.modified ? timespec{*member.modified, 0} : archiveTime;
            ofBatchRow.push_back(index);
            take(batch.Add(member.name, rows[index].scanned, source));
            lastVisited = index;
        }
        stopped = stop.load() || batch.Stopped();
        // Once every row is reached, the rest of the archive is not read.
        return !stopped && !open.empty();
    };
    const auto unreadable = [&](const std::string& name, const Failure& failure) {
        Failure why = failure;
        if (lastVisited && rows[*lastVisited].name == name) {
            // The bytes failed while they were copied: the row failed, and
            // this is why.
            std::optional<RowCopyResult>& result = told.Of(*lastVisited);
            lastVisited.reset();
            if (result && result->status == RowCopyStatus::CopyFailed) {
                why.path = result->failedPath;
                result->failure = std::move(why);
            }
            return;
        }
        lastVisited.reset();
        const auto it = open.find(name);
        if (it == open.end())
            return;
        const std::size_t index = it->second;
        open.erase(it);
        reached(index);
        why.path = JoinPath(archivePath, name);
        if (why.step == Step::Read)
            why.step = Step::ReadSource;
        told.End(index, FailedRow(std::move(why)));
    };

    const Result<void> walked = tree.Walk(wanted, visit, unreadable);
    take(batch.Finish());
    if (!stopped && !batch.Stopped() && !stop.load()) {
        // The members the walk did not come to.
        for (const auto& [name, index] : open) {
            Failure why = walked ? Failure::System(ENOENT, Step::OpenSource) : walked.error();
            why.path = walked ? JoinPath(archivePath, name) : archivePath;
            told.End(index, FailedRow(std::move(why)));
        }
    }
    told.Tell(true);
}

void CopyArchiveRows(const std::string& archivePath, RowCopyBatch& batch,
                     const std::vector<ArchiveCopyRow>& rows, const std::atomic<bool>& stop,
                     const std::function<void(std::size_t)>& reached,
                     const std::function<void(std::size_t, RowCopyResult)>& done) {
    auto tree = OpenPackedTree(archivePath);
    if (!tree) {
        for (std::size_t i = 0; i < rows.size(); ++i)
            done(i, FailedRow(tree.error()));
        return;
    }
    CopyArchiveRows(**tree, archivePath, batch, rows, stop, reached, done);
}

} // namespace sorvane
