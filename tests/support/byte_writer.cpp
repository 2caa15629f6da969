#include "support/byte_writer.h"

#include "engine/text/text_utils.h"

namespace sorvane::test {

std::string Utf16Le(std::string_view utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const char32_t cp = NextCodePoint(utf8, i);
        if (cp >= 0x10000) {
            const char32_t v = cp - 0x10000;
            AppendU16(out, static_cast<std::uint16_t>(0xD800 + (v >> 10)));
            AppendU16(out, static_cast<std::uint16_t>(0xDC00 + (v & 0x3FF)));
        } else {
            AppendU16(out, static_cast<std::uint16_t>(cp));
        }
    }
    return out;
}

} // namespace sorvane::test
