#include "engine/text/text_utils.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace sorvane {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

struct CasePair {
    std::uint32_t from;
    std::uint32_t to;
};

constexpr CasePair kCaseTable[] = {
#include "engine/text/case_table.inc"
};

// Bytes 0x80..0x9F of Windows-1252; the rest of the upper half equals Latin-1.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Bytes 0x80..0xFF of Mac OS Roman.
constexpr std::array<char16_t, 128> kMacRomanHigh = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3,
    0x00E5, 0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020, 0x00B0, 0x00A2, 0x00A3,
    0x00A7, 0x2022, 0x00B6, 0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8,
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA,
    0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB,
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D,
    0x2018, 0x2019, 0x00F7, 0x25CA, 0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02,
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1, 0x00CB, 0x00C8, 0x00CD, 0x00CE,
    0x00CF, 0x00CC, 0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7};

char32_t Windows1252Char(unsigned char byte) {
    if (byte >= 0x80 && byte < 0xA0)
        return kCp1252High[byte - 0x80];
    return byte;
}

// Length of the well-formed UTF-8 sequence at `i`, or 0 when there is none.
std::size_t ValidSequenceLength(std::string_view s, std::size_t i, char32_t* out) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b0 = byte(i);
    if (b0 < 0x80) {
        *out = b0;
        return 1;
    }
    std::size_t len;
    char32_t cp;
    char32_t minimum;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2, cp = b0 & 0x1F, minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, cp = b0 & 0x0F, minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, cp = b0 & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (s.size() - i < len)
        return 0;
    for (std::size_t k = 1; k < len; ++k) {
        const unsigned char b = byte(i + k);
        if ((b & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    *out = cp;
    return len;
}

} // namespace

char32_t NextCodePoint(std::string_view text, std::size_t& i) {
    char32_t cp = 0;
    const std::size_t len = ValidSequenceLength(text, i, &cp);
    if (len == 0) {
        ++i;
        return kReplacement;
    }
    i += len;
    return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = kReplacement;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string OneLine(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c == '\r' || c == '\n')
            c = ' ';
    return out;
}

bool IsOneLineUtf8(std::string_view text) {
    return text.find_first_of("\r\n") == std::string_view::npos && IsValidUtf8(text);
}

namespace {

// Characters that are not drawn but act on the text around them: C1
// controls, the direction marks and the line and paragraph separators. The
// C0 controls and DEL are tested apart.
bool HiddenAbove7F(char32_t cp) {
    return (cp >= 0x80 && cp <= 0x9F) || cp == 0x061C || cp == 0x200E || cp == 0x200F ||
           cp == 0x2028 || cp == 0x2029 || (cp >= 0x202A && cp <= 0x202E) ||
           (cp >= 0x2066 && cp <= 0x2069);
}

bool IsC0OrDel(char32_t cp) { return cp < 0x20 || cp == 0x7F; }

} // namespace

bool NeedsEscapes(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            if (IsC0OrDel(byte))
                return true;
            ++i;
            continue;
        }
        char32_t cp = 0;
        const std::size_t len = ValidSequenceLength(text, i, &cp);
        if (len == 0 || HiddenAbove7F(cp))
            return true;
        i += len;
    }
    return false;
}

std::string EscapeControls(std::string_view text, bool keepLineBreaks) {
    if (keepLineBreaks)
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.remove_suffix(1);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char32_t cp = NextCodePoint(text, i);
        char escape[12];
        if (keepLineBreaks && (cp == '\n' || cp == '\r')) {
            if (cp == '\r' && i < text.size() && text[i] == '\n')
                ++i;
            out += '\n';
        } else if (IsC0OrDel(cp)) {
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(cp));
            out += escape;
        } else if (HiddenAbove7F(cp)) {
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(cp));
            out += escape;
        } else {
            AppendUtf8(out, cp);
        }
    }
    return out;
}

bool IsValidUtf8(std::string_view bytes) {
    char32_t cp;
    for (std::size_t i = 0; i < bytes.size();) {
        // Eight bytes a load while they are plain ASCII, as most names and
        // versions are; a sequence is checked where one starts.
        std::uint64_t eight;
        if (bytes.size() - i >= sizeof eight) {
            std::memcpy(&eight, bytes.data() + i, sizeof eight);
            if ((eight & 0x8080808080808080u) == 0) {
                i += sizeof eight;
                continue;
            }
        }
        const std::size_t len = ValidSequenceLength(bytes, i, &cp);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

std::size_t Utf8Length(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++count)
        NextCodePoint(text, i);
    return count;
}

std::string_view Utf8Prefix(std::string_view text, std::size_t count) {
    std::size_t i = 0;
    for (std::size_t n = 0; n < count && i < text.size(); ++n)
        NextCodePoint(text, i);
    return text.substr(0, i);
}

std::string Windows1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes)
        AppendUtf8(out, Windows1252Char(static_cast<unsigned char>(c)));
    return out;
}

std::string MacRomanToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        AppendUtf8(out, b < 0x80 ? char32_t{b} : char32_t{kMacRomanHigh[b - 0x80]});
    }
    return out;
}

std::string_view DecodeTextView(std::string_view bytes, std::string& scratch) {
    if (IsValidUtf8(bytes))
        return bytes;
    scratch = DecodeText(bytes);
    return scratch;
}

std::string DecodeText(std::string_view bytes) {
    if (std::all_of(bytes.begin(), bytes.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::string(bytes); // plain ASCII is valid as it is
    std::string out;
    out.reserve(bytes.size());
    char32_t cp;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t len = ValidSequenceLength(bytes, i, &cp);
        if (len == 0) {
            AppendUtf8(out, Windows1252Char(static_cast<unsigned char>(bytes[i])));
            ++i;
        } else {
            out.append(bytes.substr(i, len));
            i += len;
        }
    }
    return out;
}

char32_t FoldCaseChar(char32_t cp) {
    if (cp < 0x80)
        return (cp >= 'A' && cp <= 'Z') ? cp + 32 : cp;
    const auto* end = std::end(kCaseTable);
    const auto* it = std::lower_bound(std::begin(kCaseTable), end, cp,
                                      [](const CasePair& p, char32_t v) { return p.from < v; });
    return (it != end && it->from == cp) ? static_cast<char32_t>(it->to) : cp;
}

std::string FoldCase(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();)
        AppendUtf8(out, FoldCaseChar(NextCodePoint(text, i)));
    return out;
}

int CompareIgnoreCase(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[j]);
        char32_t x;
        char32_t y;
        if ((ca | cb) < 0x80) { // fast path for plain ASCII, folded here
            ++i, ++j;
            if (ca == cb)
                continue;
            x = static_cast<unsigned>(ca - 'A') < 26u ? ca + 32u : ca;
            y = static_cast<unsigned>(cb - 'A') < 26u ? cb + 32u : cb;
        } else {
            x = FoldCaseChar(NextCodePoint(a, i));
            y = FoldCaseChar(NextCodePoint(b, j));
        }
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

bool EndsWithIgnoreCase(std::string_view text, std::string_view suffix) {
    const std::size_t n = Utf8Length(suffix);
    const std::size_t total = Utf8Length(text);
    if (n > total)
        return false;
    std::size_t i = 0;
    for (std::size_t k = 0; k < total - n; ++k)
        NextCodePoint(text, i);
    return EqualsIgnoreCase(text.substr(i), suffix);
}

std::string_view TrimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

void AppendCsvField(std::string& out, std::string_view text, CsvCells cells) {
    // What a spreadsheet would take as a formula; one of these characters
    // alone is none.
    const bool guarded = cells == CsvCells::ForSpreadsheets && text.size() > 1 &&
                         std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        if (guarded)
            out += '\'';
        out += text;
        return;
    }
    out += '"';
    if (guarded)
        out += '\'';
    for (const char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

} // namespace sorvane
