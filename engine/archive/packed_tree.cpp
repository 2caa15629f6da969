#include "engine/archive/packed_tree.h"

#include "engine/archive/libarchive_tree.h"
#include "engine/archive/member_bytes.h"
#include "engine/archive/msi_package.h"
#include "engine/files/opened_file.h"
#include "engine/files/unique_fd.h"
#include "engine/text/text_utils.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace sorvane {
namespace {

// The first bytes of the formats read as trees.
enum class Signature { None, Libarchive, CompressedStream, CompoundFile };

constexpr std::size_t kHeadBytes = 512;
// ISO 9660: "CD001" in the first volume descriptor, sector 16.
constexpr std::uint64_t kIsoMarkOffset = 16 * 2048 + 1;

bool StartsWith(std::span<const char> head, std::string_view magic) {
    return head.size() >= magic.size() && std::memcmp(head.data(), magic.data(), magic.size()) == 0;
}

Signature SignatureOf(const std::string& path) {
    // Only regular files are opened: a FIFO or a device could block.
    UniqueFd fd(OpenLongPath(path, O_RDONLY | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return Signature::None;
    const auto size = static_cast<std::uint64_t>(st.st_size);
    std::array<char, kHeadBytes> buffer{};
    const std::span<const char> head(buffer.data(), std::min<std::uint64_t>(size, kHeadBytes));
    if (!ReadAll(fd.get(), reinterpret_cast<std::byte*>(buffer.data()), head.size(), 0))
        return Signature::None;
    using namespace std::string_view_literals;
    if (StartsWith(head, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv))
        return Signature::CompoundFile;
    for (const std::string_view magic :
         {"PK\x03\x04"sv, "PK\x05\x06"sv,         // ZIP, and an empty one
          "7z\xBC\xAF\x27\x1C"sv, "MSCF\0\0\0\0"sv}) // 7-Zip, CAB
        if (StartsWith(head, magic))
            return Signature::Libarchive;
    // gzip, bzip2, xz, zstd: a tar inside, or a single compressed file.
    for (const std::string_view magic :
         {"\x1F\x8B"sv, "BZh"sv, "\xFD" "7zXZ\0"sv, "\x28\xB5\x2F\xFD"sv})
        if (StartsWith(head, magic))
            return Signature::CompressedStream;
    // tar: "ustar" after the first header's name, mode, owner, size and link fields.
    if (head.size() >= 262 && std::memcmp(head.data() + 257, "ustar", 5) == 0)
        return Signature::Libarchive;
    std::array<char, 5> mark{};
    if (size >= kIsoMarkOffset + mark.size() &&
        ReadAll(fd.get(), reinterpret_cast<std::byte*>(mark.data()), mark.size(), kIsoMarkOffset) &&
        std::memcmp(mark.data(), "CD001", 5) == 0)
        return Signature::Libarchive;
    // Old tar files have no mark of their own: their name says what they are.
    if (EndsWithIgnoreCase(path, ".tar"))
        return Signature::Libarchive;
    return Signature::None;
}

} // namespace

bool IsPackedTree(const std::string& path) {
    switch (SignatureOf(path)) {
    case Signature::None:
        return false;
    case Signature::CompressedStream: {
        // Only a compressed archive is a tree: the start of the stream is
        // unpacked to see what it holds.
        const auto tree = OpenLibarchiveTree(path);
        return tree || !tree.error().Is(Reason::NotAnArchive);
    }
    case Signature::CompoundFile: {
        // Word documents and other compound files are no installers; one
        // named as an installer is, and is reported when it cannot be read.
        if (EndsWithIgnoreCase(path, ".msi"))
            return true;
        const auto package = OpenMsiPackage(path);
        return package || !package.error().Is(Reason::NotAnArchive);
    }
    case Signature::Libarchive:
        break;
    }
    return true;
}

Result<std::unique_ptr<PackedTree>> OpenPackedTree(const std::string& path) {
    switch (SignatureOf(path)) {
    case Signature::CompoundFile:
        // An installer (an OLE compound file), laid out as it installs.
        return OpenMsiPackage(path);
    case Signature::Libarchive:
    case Signature::CompressedStream:
    case Signature::None:
        break;
    }
    return OpenLibarchiveTree(path);
}

} // namespace sorvane
