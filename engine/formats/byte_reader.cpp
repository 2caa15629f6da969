#include "engine/formats/byte_reader.h"

#include "engine/text/text_utils.h"

#include <algorithm>

namespace sorvane {

bool ByteReader::seek(std::size_t offset) {
    if (offset > data_.size())
        return false;
    offset_ = offset;
    return true;
}

bool ByteReader::skip(std::size_t n) {
    if (n > remaining())
        return false;
    offset_ += n;
    return true;
}

bool ByteReader::alignTo(std::size_t alignment) {
    if (alignment == 0)
        return true;
    const std::size_t rest = offset_ % alignment;
    return rest == 0 || skip(alignment - rest);
}

std::optional<std::uint8_t> ByteReader::u8() {
    if (remaining() < 1)
        return std::nullopt;
    return std::to_integer<std::uint8_t>(data_[offset_++]);
}

std::optional<std::uint64_t> ByteReader::u64() {
    const auto v = u64At(offset_);
    if (v)
        offset_ += 8;
    return v;
}

std::optional<std::int16_t> ByteReader::i16() {
    const auto v = u16();
    return v ? std::optional<std::int16_t>(static_cast<std::int16_t>(*v)) : std::nullopt;
}

std::optional<std::int32_t> ByteReader::i32() {
    const auto v = u32();
    return v ? std::optional<std::int32_t>(static_cast<std::int32_t>(*v)) : std::nullopt;
}

std::optional<std::span<const std::byte>> ByteReader::bytes(std::size_t n) {
    if (n > remaining())
        return std::nullopt;
    const auto out = data_.subspan(offset_, n);
    offset_ += n;
    return out;
}

std::string ByteReader::utf16z(std::size_t maxUnits) {
    const std::size_t start = offset_;
    const std::size_t limit = std::min(maxUnits, remaining() / 2);
    const std::byte* units = data_.data() + start;
    std::size_t n = 0;
    while (n < limit && (units[2 * n] != std::byte{0} || units[2 * n + 1] != std::byte{0}))
        ++n;
    offset_ = start + 2 * n + (n < limit ? 2 : 0); // past the NUL when there is one
    return Utf16ToUtf8(data_.subspan(start, n * 2), endian_);
}

std::string ByteReader::bytesz(std::size_t maxBytes) {
    std::string out;
    while (out.size() < maxBytes && remaining() >= 1) {
        const auto c = std::to_integer<char>(data_[offset_++]);
        if (c == '\0')
            break;
        out.push_back(c);
    }
    return out;
}

std::optional<ByteReader> ByteReader::sub(std::size_t offset, std::size_t length) const {
    if (!contains(offset, length))
        return std::nullopt;
    return ByteReader(data_.subspan(offset, length), endian_);
}

std::string BytesToString(std::span<const std::byte> bytes) {
    std::string out(bytes.size(), '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        out[i] = std::to_integer<char>(bytes[i]);
    return out;
}

std::string Utf16ToUtf8(std::span<const std::byte> bytes, Endian endian) {
    const std::size_t count = bytes.size() / 2;
    // Keys and most values are plain ASCII: checked first, then copied in
    // one pass.
    const std::size_t low = endian == Endian::Little ? 0 : 1;
    bool ascii = true;
    for (std::size_t i = 0; i < count && ascii; ++i)
        ascii = bytes[2 * i + 1 - low] == std::byte{0} && bytes[2 * i + low] < std::byte{0x80};
    if (ascii) {
        std::string out(count, '\0');
        for (std::size_t i = 0; i < count; ++i)
            out[i] = static_cast<char>(bytes[2 * i + low]);
        return out;
    }
    std::string out;
    out.reserve(count);
    const auto unitAt = [&](std::size_t i) -> char32_t {
        const auto a = std::to_integer<unsigned>(bytes[i]);
        const auto b = std::to_integer<unsigned>(bytes[i + 1]);
        return endian == Endian::Little ? (b << 8) | a : (a << 8) | b;
    };
    const std::size_t n = bytes.size() / 2 * 2;
    for (std::size_t i = 0; i < n; i += 2) {
        char32_t unit = unitAt(i);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 2 < n) {
            const char32_t low = unitAt(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        AppendUtf8(out, unit); // lone surrogates turn into U+FFFD here
    }
    return out;
}

} // namespace sorvane
