#include "engine/archive/zip_directory.h"

#include "engine/archive/member_bytes.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace sorvane {
namespace {

constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kEntrySignature = 0x02014b50;
constexpr std::size_t kEndBytes = 22;
constexpr std::size_t kLongestComment = 0xFFFF;
constexpr std::uint64_t kLargestDirectory = std::uint64_t{64} << 20;

// The bytes at `offset`, all of them, read as the members' spill file is.
bool ReadAt(int fd, std::uint64_t offset, std::vector<unsigned char>& out) {
    return ReadAll(fd, reinterpret_cast<std::byte*>(out.data()), out.size(), offset);
}

std::uint64_t Little(const unsigned char* at, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | at[i];
    return value;
}

} // namespace

std::unordered_map<std::string, std::uint64_t> ZipStoredSizes(int fd, std::uint64_t fileSize) {
    std::unordered_map<std::string, std::uint64_t> sizes;
    if (fileSize < kEndBytes)
        return sizes;
    // The end record is the last one with its signature: a comment follows it.
    const std::uint64_t tailBytes = std::min<std::uint64_t>(fileSize, kEndBytes + kLongestComment);
    std::vector<unsigned char> tail(static_cast<std::size_t>(tailBytes));
    const std::uint64_t tailStart = fileSize - tailBytes;
    if (!ReadAt(fd, tailStart, tail))
        return sizes;
    std::size_t end = tail.size() - kEndBytes + 1;
    bool found = false;
    while (end-- > 0)
        if (Little(&tail[end], 4) == kEndSignature) {
            found = true;
            break;
        }
    if (!found)
        return sizes;
    std::uint64_t directorySize = Little(&tail[end + 12], 4);
    std::uint64_t directoryStart = Little(&tail[end + 16], 4);
    if (directoryStart == 0xFFFFFFFF || directorySize == 0xFFFFFFFF) {
        // ZIP64: a locator right before the end record names the ZIP64 end record.
        const std::uint64_t endAt = tailStart + end;
        if (endAt < 20)
            return sizes;
        std::vector<unsigned char> locator(20);
        if (!ReadAt(fd, endAt - 20, locator) || Little(locator.data(), 4) != kZip64LocatorSignature)
            return sizes;
        std::vector<unsigned char> record(56);
        if (!ReadAt(fd, Little(&locator[8], 8), record) ||
            Little(record.data(), 4) != kZip64EndSignature)
            return sizes;
        directorySize = Little(&record[40], 8);
        directoryStart = Little(&record[48], 8);
    }
    if (directorySize > kLargestDirectory || directoryStart > fileSize ||
        directorySize > fileSize - directoryStart)
        return sizes;
    std::vector<unsigned char> directory(static_cast<std::size_t>(directorySize));
    if (!ReadAt(fd, directoryStart, directory))
        return sizes;
    std::size_t at = 0;
    while (directory.size() - at >= 46 && Little(&directory[at], 4) == kEntrySignature) {
        const unsigned char* entry = &directory[at];
        std::uint64_t compressed = Little(entry + 20, 4);
        const std::uint64_t uncompressed = Little(entry + 24, 4);
        const std::size_t nameBytes = Little(entry + 28, 2);
        const std::size_t extraBytes = Little(entry + 30, 2);
        const std::size_t commentBytes = Little(entry + 32, 2);
        if (directory.size() - at < 46 + nameBytes + extraBytes + commentBytes)
            break;
        std::string name(reinterpret_cast<const char*>(entry + 46), nameBytes);
        if (compressed == 0xFFFFFFFF) {
            // The ZIP64 extra field holds the sizes that did not fit, in order.
            const unsigned char* extra = entry + 46 + nameBytes;
            std::size_t e = 0;
            bool known = false;
            while (extraBytes - e >= 4) {
                const std::uint64_t id = Little(extra + e, 2);
                const std::size_t length = Little(extra + e + 2, 2);
                if (extraBytes - e - 4 < length)
                    break;
                if (id == 0x0001) {
                    const std::size_t skip = uncompressed == 0xFFFFFFFF ? 8 : 0;
                    if (length >= skip + 8) {
                        compressed = Little(extra + e + 4 + skip, 8);
                        known = true;
                    }
                    break;
                }
                e += 4 + length;
            }
            if (!known) {
                at += 46 + nameBytes + extraBytes + commentBytes;
                continue;
            }
        }
        sizes.emplace(std::move(name), compressed);
        at += 46 + nameBytes + extraBytes + commentBytes;
    }
    return sizes;
}

} // namespace sorvane
