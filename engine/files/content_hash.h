#pragma once
// The hash of a file's whole content (XXH3, 128 bits): equal versions and
// sizes with different hashes mean different files.

#include "engine/failure.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sorvane {

struct ContentHash {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    bool operator==(const ContentHash&) const = default;
    /// 32 lower-case hex digits, the high half first (as xxhsum -H2 prints it).
    std::string Hex() const;
    /// The hash of 32 hex digits (either case); nothing for any other text.
    static std::optional<ContentHash> FromHex(std::string_view text);
};

/// The hash of the bytes `size` bytes of text hold.
ContentHash HashBytes(std::string_view bytes);

/// Reads the file open on `fd` from its start to its end, once, and gives
/// the hash of its bytes; fails (step Read) when a read fails.
Result<ContentHash> HashDescriptor(int fd);

class ByteSource;
/// The hash of all the bytes of `bytes`, read once from its start (an
/// archive's member, unpacked as it is read); fails (step Read) when a read
/// fails.
Result<ContentHash> HashSource(const ByteSource& bytes);

} // namespace sorvane
