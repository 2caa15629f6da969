#pragma once
// Little-endian shorthands for tests that build binary files field by field;
// ByteBuilder (byte_builder.h) is the general form with either byte order.

#include "support/byte_builder.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace sorvane::test {

inline void AppendU8(std::string& out, std::uint8_t v) {
    out.push_back(static_cast<char>(v));
}

inline void AppendU16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

inline void AppendU32(std::string& out, std::uint32_t v) {
    AppendU16(out, static_cast<std::uint16_t>(v & 0xFFFF));
    AppendU16(out, static_cast<std::uint16_t>(v >> 16));
}

inline void AppendU64(std::string& out, std::uint64_t v) {
    AppendU32(out, static_cast<std::uint32_t>(v & 0xFFFFFFFF));
    AppendU32(out, static_cast<std::uint32_t>(v >> 32));
}

/// Overwrites two bytes at `at` (which must be inside `out`).
inline void PutU16(std::string& out, std::size_t at, std::uint16_t v) {
    out.at(at) = static_cast<char>(v & 0xFF);
    out.at(at + 1) = static_cast<char>(v >> 8);
}

/// Overwrites four bytes at `at` (which must be inside `out`).
inline void PutU32(std::string& out, std::size_t at, std::uint32_t v) {
    PutU16(out, at, static_cast<std::uint16_t>(v & 0xFFFF));
    PutU16(out, at + 2, static_cast<std::uint16_t>(v >> 16));
}

/// Pads with zero bytes to a multiple of `alignment`.
inline void PadTo(std::string& out, std::size_t alignment) {
    while (out.size() % alignment != 0)
        out.push_back('\0');
}

/// UTF-8 text as UTF-16LE, without a terminator.
std::string Utf16Le(std::string_view utf8);

/// A byte string as a span, for the parsers.
inline std::span<const std::byte> ByteSpan(const std::string& bytes) {
    return std::as_bytes(std::span<const char>(bytes.data(), bytes.size()));
}

} // namespace sorvane::test
