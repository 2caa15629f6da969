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

/// The text goes to the stream in large pieces: whenever a top-level value
/// is complete, and when the writer is destroyed.
class JsonWriter {
public:
    explicit JsonWriter(std::ostream& out, bool pretty = true);
    ~JsonWriter() { Flush(); }
    JsonWriter(const JsonWriter&) = delete;
    JsonWriter& operator=(const JsonWriter&) = delete;

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
    void Field(std::string_view key, std::string_view value);
    void Field(std::string_view key, std::int64_t value) { Key(key), Number(value); }
    void BoolField(std::string_view key, bool value) { Key(key), Bool(value); }

    /// The text as a JSON string literal, quotes included.
    static std::string Quote(std::string_view text);

    /// Writes what is buffered to the stream.
    void Flush();

    /// A point in the text to go back to.
    struct Mark {
        std::size_t bytes = 0;
        std::size_t depth = 0;
        bool hadItems = false;
        bool afterKey = false;
    };
    /// From here until Release or Restore nothing leaves the buffer, so a
    /// value that cannot be finished (memory running out) can be taken back.
    Mark Hold();
    /// Ends the hold; a large buffer goes to the stream.
    void Release();
    /// Drops everything written since `mark` and ends the hold. Never
    /// allocates.
    void Restore(const Mark& mark);

private:
    static void AppendQuoted(std::string& out, std::string_view text);
    void BeforeValue();
    void Newline();
    /// After a value: passes a large buffer, or a finished document, on.
    void AfterValue();

    std::ostream& out_;
    std::string buffer_;
    bool pretty_;
    std::vector<bool> hasItems_; // one per open container
    bool afterKey_ = false;
    bool held_ = false;
};

} // namespace sorvane::cli
