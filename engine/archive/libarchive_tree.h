#pragma once
// The tree of an archive that libarchive reads: ZIP and the formats built on
// it (.nupkg, .jar, .vsix, .appx), 7-Zip, tar (plain, gzip, bzip2, xz or
// zstd), CAB and ISO 9660.
//
// A member's bytes are unpacked only as far as its reader asks. They are held
// in memory up to UnpackBudget::heldInMemory and beyond that in an unnamed
// temporary file, so what one member costs in memory is bounded whatever it
// unpacks to; the budgets below bound what it may unpack to at all.

#include "engine/archive/member_bytes.h"
#include "engine/archive/packed_tree.h"

#include <cstdint>
#include <memory>
#include <string>

namespace sorvane {

/// Opens the archive at `path` and reads its first header. Fails with
/// NotAnArchive when it is in none of the formats above, with the system's
/// error when it cannot be opened, and with NotRegularFile for anything but a
/// regular file (which is never opened, so nothing blocks).
Result<std::unique_ptr<PackedTree>> OpenLibarchiveTree(const std::string& path,
                                                       const UnpackBudget& budget = {});

} // namespace sorvane
