#pragma once
// A Windows Installer package read as the folder tree it installs. The File,
// Component, Directory and Media tables give each file's installed path and
// the cabinet that holds its bytes; the cabinets are read member by member,
// each member only as far as its readers ask.

#include "engine/archive/packed_tree.h"
#include "engine/failure.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sorvane {

/// What one walk of a package may unpack.
struct MsiLimits {
    /// Unpacked bytes one member may have (its cabinet's word for its size).
    /// A larger member is an OverBudget entry, and nothing of it is unpacked.
    std::uint64_t memberBytes = std::uint64_t{1} << 30;
    /// Unpacked bytes of all the members one walk passes, wanted or not (a
    /// cabinet compresses its files as one stream, so passing a member can
    /// mean unpacking it). The members past the budget are OverBudget entries.
    std::uint64_t packageBytes = std::uint64_t{16} << 30;
    /// Bytes of one member held in memory; a reader that asks for more of
    /// the member has the rest kept in an unnamed temporary file.
    std::size_t memoryBytes = std::size_t{8} << 20;
    /// Rows read of each table; more make the package unreadable (OverBudget).
    std::size_t tableRows = std::size_t{1} << 20;
};

/// Opens the installer at `path`: reads its tables and works out every
/// file's installed path; the cabinets are opened only when walked.
///
/// The tree is rooted at the deepest folder that holds every file. A path
/// starts at the standard folder it is installed in, named by its property
/// ("ProgramFilesFolder", "SystemFolder", ...), or at the root folder, named
/// by its key ("TARGETDIR"); below it come the long names of the Directory
/// table's target folders and the File table's long name.
///
/// Each member's size is the File table's FileSize, its declared version and
/// language the File table's Version and Language texts as they stand (the
/// language a list of decimal language identifiers, "1033,1031"); a Version
/// that names another file of the table is left empty. Members come in the
/// order of their cabinets; a member of a cabinet that is not there, or an
/// uncompressed file the package's folder lacks, is visited without bytes.
///
/// Fails with the system's error (step Open) when the file cannot be opened,
/// NotAnArchive when it is no installer database, BadFormat (step Read, with
/// the library's words as detail) when its tables cannot be read, and
/// OverBudget when a table has more than `limits.tableRows` rows.
Result<std::unique_ptr<PackedTree>> OpenMsiPackage(const std::string& path);
Result<std::unique_ptr<PackedTree>> OpenMsiPackage(const std::string& path,
                                                   const MsiLimits& limits);

} // namespace sorvane
