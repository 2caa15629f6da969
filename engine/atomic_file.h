#pragma once
// Whole-file reads with a size cap, and writes that never leave a half-written
// file in place of a good one.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace sorvane {

/// The bytes of a regular file of at most `maxBytes` bytes. Nothing for a
/// missing, unreadable, larger or non-regular file (folders, FIFOs, devices
/// are never opened for reading).
std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t maxBytes);

/// Replaces the file at `path` with `contents`: the bytes go to a temporary
/// file in the same folder, which is flushed and renamed over the old one, so
/// a crash leaves either the old or the new file. A link is followed and its
/// target replaced; an existing file keeps its permission bits. Missing parent
/// folders are created when `createFolders` is set. Returns false, leaving the
/// old file untouched, when anything fails.
bool WriteFileAtomically(const std::string& path, std::string_view contents,
                         bool createFolders = false);

} // namespace sorvane
