#include "json_writer.h"

#include "engine/text_utils.h"

#include <cstdio>

namespace sorvane::cli {

std::string JsonWriter::Quote(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
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
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(cp));
                out += buffer;
            } else {
                AppendUtf8(out, cp);
            }
        }
    }
    out += '"';
    return out;
}

void JsonWriter::Newline() {
    if (!pretty_)
        return;
    out_ << '\n' << std::string(hasItems_.size() * 2, ' ');
}

void JsonWriter::BeforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!hasItems_.empty()) {
        if (hasItems_.back())
            out_ << ',';
        hasItems_.back() = true;
        Newline();
    }
}

void JsonWriter::BeginObject() {
    BeforeValue();
    out_ << '{';
    hasItems_.push_back(false);
}

void JsonWriter::EndObject() {
    const bool items = hasItems_.back();
    hasItems_.pop_back();
    if (items)
        Newline();
    out_ << '}';
    if (hasItems_.empty() && pretty_)
        out_ << '\n';
}

void JsonWriter::BeginArray() {
    BeforeValue();
    out_ << '[';
    hasItems_.push_back(false);
}

void JsonWriter::EndArray() {
    const bool items = hasItems_.back();
    hasItems_.pop_back();
    if (items)
        Newline();
    out_ << ']';
    if (hasItems_.empty() && pretty_)
        out_ << '\n';
}

void JsonWriter::Key(std::string_view key) {
    BeforeValue();
    out_ << Quote(key) << (pretty_ ? ": " : ":");
    afterKey_ = true;
}

void JsonWriter::String(std::string_view value) {
    BeforeValue();
    out_ << Quote(value);
}

void JsonWriter::Number(std::int64_t value) {
    BeforeValue();
    out_ << value;
}

void JsonWriter::Bool(bool value) {
    BeforeValue();
    out_ << (value ? "true" : "false");
}

} // namespace sorvane::cli
