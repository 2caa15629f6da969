#pragma once
// Copying members of an archive or installer onto the files of a Target
// folder: one walk of the archive serves a whole batch of rows, each member
// written through RowCopyBatch as a copied file is (temporary file, flush,
// rename, backups as usual).

#include "engine/archive/packed_tree.h"
#include "engine/files/file_copy.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace sorvane {

/// One row to copy: the member's path below the archive's root (the row's
/// name) and what the scan saw of it.
struct ArchiveCopyRow {
    std::string name;
    ScannedPair scanned;
};

/// Copies the members `rows` name out of `tree`, the archive at
/// `archivePath`, through `batch` (made with `archivePath` as its source
/// folder), in ONE walk of the archive: the set of names is what the walk
/// wants, so nothing else is decompressed, and rows end in the order the
/// archive stores their members. Each new file gets the member's permission
/// bits and modification time where the format keeps them, else 0644 and
/// the archive file's own time.
///
/// `reached(i)` when the walk comes to the member of rows[i]; `done(i,
/// result)` for each row that ended, in the order of `rows` (a later row may
/// be reached first). A member that cannot be read (not decompressed, over
/// its budget, encrypted, a link, its bytes missing) fails its row with the
/// reason, and its target stays as it was; a name the archive does not hold
/// fails with "No such file or directory"; when the archive itself cannot be
/// read (on), the rows not copied by then fail with why. `stop` (looked at
/// after each member) and a backup that fails (the batch stops) end the
/// walk: the rows not reached then are not copied and not told.
void CopyArchiveRows(PackedTree& tree, const std::string& archivePath, RowCopyBatch& batch,
                     const std::vector<ArchiveCopyRow>& rows, const std::atomic<bool>& stop,
                     const std::function<void(std::size_t)>& reached,
                     const std::function<void(std::size_t, RowCopyResult)>& done);

/// The same, opening the archive at `archivePath` first; when it cannot be
/// opened every row fails with why.
void CopyArchiveRows(const std::string& archivePath, RowCopyBatch& batch,
                     const std::vector<ArchiveCopyRow>& rows, const std::atomic<bool>& stop,
                     const std::function<void(std::size_t)>& reached,
                     const std::function<void(std::size_t, RowCopyResult)>& done);

} // namespace sorvane
