#pragma once
// The tree of an archive that libarchive reads: ZIP and the formats built on
// it (.nupkg, .jar, .vsix, .appx), 7-Zip, tar (plain, gzip, bzip2, xz or
// zstd), CAB and ISO 9660.
//
// A member's bytes are unpacked only as far as its reader asks. They are held
// in memory up to UnpackBudget::heldInMemory and beyond that in an unnamed
// temporary file, so what one member costs in memory is bounded whatever it
// unpacks to; the budgets below bound what it may unpack to at all.

#include "engine/archive/packed_tree.h"

#include <cstdint>
#include <memory>
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

/// Opens the archive at `path` and reads its first header. Fails with
/// NotAnArchive when it is in none of the formats above, with the system's
/// error when it cannot be opened, and with NotRegularFile for anything but a
/// regular file (which is never opened, so nothing blocks).
Result<std::unique_ptr<PackedTree>> OpenLibarchiveTree(const std::string& path,
                                                       const UnpackBudget& budget = {});

} // namespace sorvane
