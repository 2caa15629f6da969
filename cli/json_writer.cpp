#include "json_writer.h"

#include "engine/text/text_utils.h"

#include <bit>
#include <charconv>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace sorvane::cli {

namespace {

// Large enough that writing is a small part of the work, small enough to
// stay in the cache.
constexpr std::size_t kFlushBytes = 64 * 1024;

bool PlainJsonByte(unsigned char c) {
    return c >= 0x20 && c < 0x80 && c != '"' && c != '\\';
}

// Where the run of bytes that need no escape, starting at `from`, ends.
std::size_t PlainRunEnd(std::string_view text, std::size_t from) {
    std::size_t i = from;
#if defined(__SSE2__)
    // Sixteen bytes a step: a byte below 0x20 or from 0x80 up is below 0x20
    // as a signed byte.
    const __m128i space = _mm_set1_epi8(0x20);
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    for (; text.size() - i >= 16; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
        const __m128i special = _mm_or_si128(
            _mm_cmplt_epi8(bytes, space),
            _mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)));
        if (const int mask = _mm_movemask_epi8(special); mask != 0)
            return i + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(mask)));
    }
#endif
    while (i < text.size() && PlainJsonByte(static_cast<unsigned char>(text[i])))
        ++i;
    return i;
}

} // namespace

JsonWriter::JsonWriter(std::ostream& out, bool pretty) : out_(out), pretty_(pretty) {
    buffer_.reserve(kFlushBytes + 4096);
}

std::string JsonWriter::Quote(std::string_view text) {
    std::string out;
    AppendQuoted(out, text);
    return out;
}

void JsonWriter::AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        // Runs of plain ASCII are copied as they are.
        const std::size_t end = PlainRunEnd(text, i);
        out.append(text.substr(i, end - i));
        i = end;
        if (i >= text.size())
            break;
        const char32_t cp = NextCodePoint(text, i);
        switch (cp) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (cp < 0x20) {
                static constexpr char kHex[] = "0123456789abcdef";
                out += "\\u00";
                out += kHex[cp >> 4];
                out += kHex[cp & 0xF];
            } else {
                AppendUtf8(out, cp);
            }
        }
    }
    out += '"';
}

void JsonWriter::Flush() {
    if (buffer_.empty())
        return;
    out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    buffer_.clear();
}

void JsonWriter::AfterValue() {
    if (!held_ && (hasItems_.empty() || buffer_.size() >= kFlushBytes))
        Flush();
}

JsonWriter::Mark JsonWriter::Hold() {
    held_ = true;
    return {buffer_.size(), hasItems_.size(), !hasItems_.empty() && hasItems_.back(), afterKey_};
}

void JsonWriter::Release() {
    held_ = false;
    AfterValue();
}

void JsonWriter::Restore(const Mark& mark) {
    held_ = false;
    buffer_.resize(mark.bytes);
    hasItems_.resize(mark.depth);
    if (!hasItems_.empty())
        hasItems_.back() = mark.hadItems;
    afterKey_ = mark.afterKey;
}

void JsonWriter::Newline() {
    if (!pretty_)
        return;
    static constexpr std::string_view kIndent = "\n                                ";
    const std::size_t width = hasItems_.size() * 2;
    if (width < kIndent.size()) {
        buffer_.append(kIndent.substr(0, width + 1));
    } else {
        buffer_ += '\n';
        buffer_.append(width, ' ');
    }
}

void JsonWriter::BeforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!hasItems_.empty()) {
        if (hasItems_.back())
            buffer_ += ',';
        hasItems_.back() = true;
        Newline();
    }
}

void JsonWriter::BeginObject() {
    BeforeValue();
    buffer_ += '{';
    hasItems_.push_back(false);
}

void JsonWriter::EndObject() {
    const bool items = hasItems_.back();
    hasItems_.pop_back();
    if (items)
        Newline();
    buffer_ += '}';
    if (hasItems_.empty() && pretty_)
        buffer_ += '\n';
    AfterValue();
}

void JsonWriter::BeginArray() {
    BeforeValue();
    buffer_ += '[';
    hasItems_.push_back(false);
}

void JsonWriter::EndArray() {
    const bool items = hasItems_.back();
    hasItems_.pop_back();
    if (items)
        Newline();
    buffer_ += ']';
    if (hasItems_.empty() && pretty_)
        buffer_ += '\n';
    AfterValue();
}

void JsonWriter::Key(std::string_view key) {
    BeforeValue();
    AppendQuoted(buffer_, key);
    buffer_ += pretty_ ? ": " : ":";
    afterKey_ = true;
}

void JsonWriter::Field(std::string_view key, std::string_view value) {
    BeforeValue();
    AppendQuoted(buffer_, key);
    buffer_.append(pretty_ ? ": " : ":");
    AppendQuoted(buffer_, value);
    AfterValue();
}

void JsonWriter::String(std::string_view value) {
    BeforeValue();
    AppendQuoted(buffer_, value);
    AfterValue();
}

void JsonWriter::Number(std::int64_t value) {
    BeforeValue();
    char digits[24];
    buffer_.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
    AfterValue();
}

void JsonWriter::Bool(bool value) {
    BeforeValue();
    buffer_ += value ? "true" : "false";
    AfterValue();
}

} // namespace sorvane::cli
