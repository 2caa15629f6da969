#pragma once
// The central directory at the end of a ZIP file: what it says of each
// member's compressed size, which a stream of local headers does not always
// tell (libarchive reads them one after the other and gives no such size).

#include <cstdint>
#include <string>
#include <unordered_map>

namespace sorvane {

/// The compressed size of each member, by its name as stored, from the
/// central directory of the ZIP file open at `fd` (of `fileSize` bytes);
/// ZIP64 sizes and directories too. Empty when the file has no directory
/// that can be read, or one larger than 64 MiB. A name stored twice keeps
/// its first size.
std::unordered_map<std::string, std::uint64_t> ZipStoredSizes(int fd, std::uint64_t fileSize);

} // namespace sorvane
