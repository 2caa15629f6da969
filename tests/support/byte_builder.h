#pragma once
// Builds binary fixtures field by field, in either byte order.

#include "engine/formats/byte_reader.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sorvane::test {

class ByteBuilder {
public:
    explicit ByteBuilder(Endian endian) : endian_(endian) {}

    ByteBuilder& u8(std::uint8_t value);
    ByteBuilder& u16(std::uint16_t value);
    ByteBuilder& u32(std::uint32_t value);
    ByteBuilder& i32(std::int32_t value) { return u32(static_cast<std::uint32_t>(value)); }
    /// Appends raw bytes.
    ByteBuilder& raw(std::string_view bytes);
    /// Appends `count` bytes of `value`.
    ByteBuilder& fill(std::size_t count, std::uint8_t value = 0);
    /// Appends `value` bytes until the size is a multiple of `alignment`.
    ByteBuilder& alignTo(std::size_t alignment, std::uint8_t value = 0);

    std::size_t size() const { return bytes_.size(); }
    const std::string& bytes() const { return bytes_; }

private:
    Endian endian_;
    std::string bytes_;
};

/// Overwrites a field of an existing fixture (to damage it).
void PutU16(std::string& data, std::size_t at, std::uint16_t value, Endian endian);
void PutU32(std::string& data, std::size_t at, std::uint32_t value, Endian endian);

/// UTF-16BE bytes of an ASCII or BMP text given as UTF-16 code units.
std::string Utf16Be(std::u16string_view text);

} // namespace sorvane::test
