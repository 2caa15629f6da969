#include "engine/files/content_hash.h"

#include <fcntl.h>
#include <unistd.h>
#include <xxhash.h>
#if defined(__x86_64__) || defined(__i386__)
// The library's XXH3 itself is built for the baseline processor; these
// entry points pick the widest vector unit this processor has (AVX2,
// AVX-512) when first called, as xxhsum does: several times the speed.
#include <xxh_x86dispatch.h>
#endif

#include <cerrno>
#include <memory>

namespace sorvane {
namespace {

// Small enough that each chunk is still in the processor's cache when it is
// hashed after the copy out of the page cache: 64 KiB reads hash a file in
// the cached case about a fifth faster than 256 KiB ones.
constexpr std::size_t kChunkBytes = 64 * 1024;

ContentHash FromXxh(XXH128_hash_t hash) { return {hash.high64, hash.low64}; }

} // namespace

std::string ContentHash::Hex() const {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text(32, '0');
    for (int i = 0; i < 16; ++i) {
        text[static_cast<std::size_t>(15 - i)] = kDigits[(high >> (4 * i)) & 0xF];
        text[static_cast<std::size_t>(31 - i)] = kDigits[(low >> (4 * i)) & 0xF];
    }
    return text;
}

std::optional<ContentHash> ContentHash::FromHex(std::string_view text) {
    if (text.size() != 32)
        return std::nullopt;
    ContentHash hash;
    for (std::size_t i = 0; i < 32; ++i) {
        const char c = text[i];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0)
            return std::nullopt;
        std::uint64_t& half = i < 16 ? hash.high : hash.low;
        half = (half << 4) | static_cast<std::uint64_t>(digit);
    }
    return hash;
}

ContentHash HashBytes(std::string_view bytes) {
    return FromXxh(XXH3_128bits(bytes.data(), bytes.size()));
}

Result<ContentHash> HashDescriptor(int fd) {
    // One buffer a thread: the reading threads hash pair after pair.
    thread_local std::unique_ptr<char[]> buffer(new char[kChunkBytes]);
    std::unique_ptr<XXH3_state_t, decltype(&XXH3_freeState)> state(XXH3_createState(),
                                                                    XXH3_freeState);
    if (!state || XXH3_128bits_reset(state.get()) != XXH_OK)
        return Fail(Failure::System(ENOMEM, Step::Read));
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    for (off_t at = 0;;) {
        const ssize_t got = ::pread(fd, buffer.get(), kChunkBytes, at);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return Fail(Failure::System(errno, Step::Read));
        }
        if (got == 0)
            break;
        XXH3_128bits_update(state.get(), buffer.get(), static_cast<std::size_t>(got));
        at += got;
    }
    return FromXxh(XXH3_128bits_digest(state.get()));
}

} // namespace sorvane
