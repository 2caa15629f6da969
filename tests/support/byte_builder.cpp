#include "support/byte_builder.h"

namespace sorvane::test {
namespace {

void Put(std::string& data, std::size_t at, std::uint32_t value, std::size_t width, Endian endian) {
    for (std::size_t i = 0; i < width; ++i) {
        const std::size_t shift = endian == Endian::Little ? 8 * i : 8 * (width - 1 - i);
        data.at(at + i) = static_cast<char>((value >> shift) & 0xFF);
    }
}

} // namespace

ByteBuilder& ByteBuilder::u8(std::uint8_t value) {
    bytes_.push_back(static_cast<char>(value));
    return *this;
}

ByteBuilder& ByteBuilder::u16(std::uint16_t value) {
    bytes_.append(2, '\0');
    Put(bytes_, bytes_.size() - 2, value, 2, endian_);
    return *this;
}

ByteBuilder& ByteBuilder::u32(std::uint32_t value) {
    bytes_.append(4, '\0');
    Put(bytes_, bytes_.size() - 4, value, 4, endian_);
    return *this;
}

ByteBuilder& ByteBuilder::raw(std::string_view bytes) {
    bytes_.append(bytes);
    return *this;
}

ByteBuilder& ByteBuilder::fill(std::size_t count, std::uint8_t value) {
    bytes_.append(count, static_cast<char>(value));
    return *this;
}

ByteBuilder& ByteBuilder::alignTo(std::size_t alignment, std::uint8_t value) {
    while (bytes_.size() % alignment != 0)
        u8(value);
    return *this;
}

void PutU16(std::string& data, std::size_t at, std::uint16_t value, Endian endian) {
    Put(data, at, value, 2, endian);
}

void PutU32(std::string& data, std::size_t at, std::uint32_t value, Endian endian) {
    Put(data, at, value, 4, endian);
}

std::string Utf16Be(std::u16string_view text) {
    ByteBuilder out(Endian::Big);
    for (const char16_t unit : text)
        out.u16(unit);
    return out.bytes();
}

} // namespace sorvane::test
