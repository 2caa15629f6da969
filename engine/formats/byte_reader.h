#pragma once
// Checked reading of binary structures from a borrowed buffer. Every read
// checks its bounds and fails with an empty optional instead of reading past
// the end; the position only moves on success.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>

namespace sorvane {

enum class Endian { Little, Big };

class ByteReader {
public:
    ByteReader(std::span<const std::byte> data, Endian endian) : data_(data), endian_(endian) {}

    std::size_t size() const { return data_.size(); }
    std::size_t offset() const { return offset_; }
    std::size_t remaining() const { return data_.size() - offset_; }
    std::span<const std::byte> data() const { return data_; }

    /// Moves to an absolute offset; false (and no move) past the end.
    bool seek(std::size_t offset);
    /// Skips `n` bytes; false (and no move) past the end.
    bool skip(std::size_t n);
    /// Moves to the next multiple of `alignment` (counted from the buffer's
    /// start); false when that is past the end.
    bool alignTo(std::size_t alignment);

    std::optional<std::uint8_t> u8();
    std::optional<std::uint16_t> u16() {
        const auto v = u16At(offset_);
        if (v)
            offset_ += 2;
        return v;
    }
    std::optional<std::uint32_t> u32() {
        const auto v = u32At(offset_);
        if (v)
            offset_ += 4;
        return v;
    }
    std::optional<std::uint64_t> u64();
    std::optional<std::int16_t> i16();
    std::optional<std::int32_t> i32();
    /// The next `n` bytes.
    std::optional<std::span<const std::byte>> bytes(std::size_t n);

    /// UTF-16 text up to a NUL unit (consumed) or the end of the buffer,
    /// reading at most `maxUnits` units; converted to UTF-8.
    std::string utf16z(std::size_t maxUnits);
    /// 8-bit text up to a NUL byte (consumed) or the end, at most `maxBytes`.
    std::string bytesz(std::size_t maxBytes);

    /// Reads at an absolute offset without moving.
    // Inline: parsers call these for every field of every table. Each value
    // is one bounds check and one load, turned round when the buffer's byte
    // order is not the machine's.
    std::optional<std::uint16_t> u16At(std::size_t offset) const {
        if (!contains(offset, 2))
            return std::nullopt;
        return LoadAt<std::uint16_t>(offset);
    }
    std::optional<std::uint32_t> u32At(std::size_t offset) const {
        if (!contains(offset, 4))
            return std::nullopt;
        return LoadAt<std::uint32_t>(offset);
    }
    std::optional<std::uint64_t> u64At(std::size_t offset) const {
        if (!contains(offset, 8))
            return std::nullopt;
        return LoadAt<std::uint64_t>(offset);
    }

    /// A reader over [offset, offset + length) of this buffer, same endianness.
    std::optional<ByteReader> sub(std::size_t offset, std::size_t length) const;

    /// True when [offset, offset + length) lies inside the buffer; cannot overflow.
    bool contains(std::size_t offset, std::size_t length) const {
        return offset <= data_.size() && length <= data_.size() - offset;
    }

private:
    // The unsigned value of sizeof(T) bytes at `offset`, which the caller
    // has checked to lie inside.
    template <typename T> T LoadAt(std::size_t offset) const {
        static_assert(std::endian::native == std::endian::little ||
                          std::endian::native == std::endian::big,
                      "a machine of mixed byte order");
        T value;
        std::memcpy(&value, data_.data() + offset, sizeof value);
        constexpr Endian kNative =
            std::endian::native == std::endian::little ? Endian::Little : Endian::Big;
        return endian_ == kNative ? value : std::byteswap(value);
    }

    std::span<const std::byte> data_;
    Endian endian_;
    std::size_t offset_ = 0;
};

/// The bytes as they are, in a string (8-bit text of a file).
std::string BytesToString(std::span<const std::byte> bytes);

/// UTF-16LE or UTF-16BE bytes to UTF-8; an odd last byte is dropped and lone
/// surrogates become U+FFFD.
std::string Utf16ToUtf8(std::span<const std::byte> bytes, Endian endian);

} // namespace sorvane
