#pragma once
// A small streaming JSON writer: objects, arrays, strings and numbers, with
// commas and escaping handled. Text is expected as UTF-8; invalid bytes are
// written as U+FFFD so the output is always valid JSON.

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace sorvane::cli {

class JsonWriter {
public:
    explicit JsonWriter(std::ostream& out, bool pretty = true) : out_(out), pretty_(pretty) {}

    void BeginObject();
    void EndObject();
    void BeginArray();
    void EndArray();
    /// The key of the next value inside an object.
    void Key(std::string_view key);
    void String(std::string_view value);
    void Number(std::int64_t value);
    void Bool(bool value);

    /// Key and value in one call.
    void Field(std::string_view key, std::string_view value) { Key(key), String(value); }
    void Field(std::string_view key, std::int64_t value) { Key(key), Number(value); }
    void BoolField(std::string_view key, bool value) { Key(key), Bool(value); }

    /// The text as a JSON string literal, quotes included.
    static std::string Quote(std::string_view text);

private:
    void BeforeValue();
    void Newline();

    std::ostream& out_;
    bool pretty_;
    std::vector<bool> hasItems_; // one per open container
    bool afterKey_ = false;
};

} // namespace sorvane::cli
