#include "byte_reader.h"

#include "text_utils.h"

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

std::optional<std::uint64_t> ByteReader::unsignedAt(std::size_t offset, std::size_t width) const {
    if (!contains(offset, width))
        return std::nullopt;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        const std::size_t k = endian_ == Endian::Little ? width - 1 - i : i;
        value = (value << 8) | std::to_integer<std::uint8_t>(data_[offset + k]);
    }
    return value;
}

std::optional<std::uint8_t> ByteReader::u8() {
    const auto v = unsignedAt(offset_, 1);
    if (v)
        offset_ += 1;
    return v ? std::optional<std::uint8_t>(static_cast<std::uint8_t>(*v)) : std::nullopt;
}

std::optional<std::uint16_t> ByteReader::u16() {
    const auto v = unsignedAt(offset_, 2);
    if (v)
        offset_ += 2;
    return v ? std::optional<std::uint16_t>(static_cast<std::uint16_t>(*v)) : std::nullopt;
}

std::optional<std::uint32_t> ByteReader::u32() {
    const auto v = unsignedAt(offset_, 4);
    if (v)
        offset_ += 4;
    return v ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(*v)) : std::nullopt;
}

std::optional<std::uint64_t> ByteReader::u64() {
    const auto v = unsignedAt(offset_, 8);
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
    std::size_t units = 0;
    while (units < maxUnits && remaining() >= 2) {
        const auto unit = unsignedAt(offset_, 2);
        offset_ += 2;
        if (*unit == 0)
            return Utf16ToUtf8(data_.subspan(start, units * 2), endian_);
        ++units;
    }
    return Utf16ToUtf8(data_.subspan(start, units * 2), endian_);
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

std::optional<std::uint16_t> ByteReader::u16At(std::size_t offset) const {
    const auto v = unsignedAt(offset, 2);
    return v ? std::optional<std::uint16_t>(static_cast<std::uint16_t>(*v)) : std::nullopt;
}

std::optional<std::uint32_t> ByteReader::u32At(std::size_t offset) const {
    const auto v = unsignedAt(offset, 4);
    return v ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(*v)) : std::nullopt;
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
    std::string out;
    out.reserve(bytes.size() / 2);
    const auto unitAt = [&](std::size_t i) -> char32_t {
        const auto a = std::to_integer<unsigned>(bytes[i]);
        const auto b = std::to_integer<unsigned>(bytes[i + 1]);
        return endian == Endian::Little ? (b << 8) | a : (a << 8) | b;
    };
    const std::size_t n = bytes.size() / 2 * 2;
    for (std::size_t i = 0; i < n; i += 2) {
        char32_t unit = unitAt(i);
        if (unit < 0x80) { // most names and values are plain ASCII
            out.push_back(static_cast<char>(unit));
            continue;
        }
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
