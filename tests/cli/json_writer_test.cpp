#include "cli/json_writer.h"

#include "engine/text/text_utils.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace sorvane::cli {
namespace {

TEST(JsonWriter, WritesNestedValuesWithCommasAndEscapes) {
    std::ostringstream out;
    JsonWriter json(out, false);
    json.BeginObject();
    json.Field("name", "a\"b\\c\n\x01");
    json.Field("size", std::int64_t{-5});
    json.Key("list");
    json.BeginArray();
    json.Number(1);
    json.BeginObject();
    json.EndObject();
    json.BeginArray();
    json.EndArray();
    json.Bool(false);
    json.EndArray();
    json.BoolField("ok", true);
    json.EndObject();
    EXPECT_EQ(out.str(),
              R"({"name":"a\"b\\c\n\u0001","size":-5,"list":[1,{},[],false],"ok":true})");
}

TEST(JsonWriter, KeepsUtf8AndReplacesInvalidBytes) {
    EXPECT_EQ(JsonWriter::Quote("Grüße"), "\"Grüße\"");
    EXPECT_EQ(JsonWriter::Quote("a\xFF" "b"), "\"a\uFFFDb\"");
}

TEST(JsonWriter, EveryTextOfOneOrTwoBytesQuotesToAJsonString) {
    // Read back by an independent, strict parser: valid UTF-8 comes back as
    // it was, anything else with U+FFFD in place of the stray bytes.
    for (int first = 0; first < 256; ++first) {
        for (int second = -1; second < 256; ++second) {
            std::string text(1, static_cast<char>(first));
            if (second >= 0)
                text += static_cast<char>(second);
            std::string back;
            try {
                back = nlohmann::json::parse(JsonWriter::Quote(text)).get<std::string>();
            } catch (const nlohmann::json::exception& e) {
                ADD_FAILURE() << first << " " << second << ": " << e.what();
                continue;
            }
            if (IsValidUtf8(text))
                EXPECT_EQ(back, text) << first << " " << second;
            else
                EXPECT_NE(back.find("\uFFFD"), std::string::npos) << first << " " << second;
        }
    }
}

TEST(JsonWriter, LongTextsAreEscapedWhereverTheSpecialBytesStand) {
    // Long texts are scanned many bytes at a time: each sequence is put at
    // every place in and around those steps, between plain letters, and the
    // text read back by an independent parser. Valid UTF-8 must also be
    // told as valid, and comes back unchanged; anything else comes back with
    // U+FFFD in its place.
    struct Case {
        std::string bytes;
        bool valid;
    };
    const Case cases[] = {
        {"\x01", true},         {std::string(1, '\0'), true}, {"\x1F", true},
        {"\"", true},           {"\\", true},                {"\x7F", true},
        {"\xC3\xA9", true},     {"\xE2\x82\xAC", true},       {"\xF0\x9F\x98\x80", true},
        {"\x80", false},        {"\xC3", false},              {"\xFF", false},
        {"\xED\xA0\x80", false}, {"\xC0\xAF", false},
    };
    for (const Case& c : cases) {
        for (std::size_t at = 0; at <= 40; ++at) {
            const std::string text = std::string(at, 'a') + c.bytes + std::string(40 - at, 'b');
            EXPECT_EQ(IsValidUtf8(text), c.valid) << at << " " << testing::PrintToString(c.bytes);
            std::string back;
            try {
                back = nlohmann::json::parse(JsonWriter::Quote(text)).get<std::string>();
            } catch (const nlohmann::json::exception& e) {
                ADD_FAILURE() << at << " " << testing::PrintToString(c.bytes) << ": " << e.what();
                continue;
            }
            if (c.valid)
                EXPECT_EQ(back, text) << at << " " << testing::PrintToString(c.bytes);
            else
                EXPECT_TRUE(back.starts_with(std::string(at, 'a') + "\uFFFD") &&
                            back.ends_with(std::string(40 - at, 'b')))
                    << at << " " << testing::PrintToString(c.bytes) << ": " << back;
        }
    }
}

TEST(JsonWriter, PrettyOutputIndentsAndEndsWithANewline) {
    std::ostringstream out;
    JsonWriter json(out);
    json.BeginArray();
    json.BeginObject();
    json.Field("k", "v");
    json.EndObject();
    json.EndArray();
    EXPECT_EQ(out.str(), "[\n  {\n    \"k\": \"v\"\n  }\n]\n");
}

TEST(JsonWriter, AValueTakenBackLeavesTheTextAsIfNeverBegun) {
    // Each case writes `before`, holds, writes a value it then takes back,
    // and writes `after`; the text must equal `before` then `after` alone.
    const std::string large(100 * 1024, 'x'); // past the size that is passed on
    struct Case {
        const char* what;
        bool pretty;
        std::function<void(JsonWriter&)> before;
        std::function<void(JsonWriter&)> dropped;
        std::function<void(JsonWriter&)> after;
    };
    const auto openArray = [](JsonWriter& j) {
        j.BeginObject();
        j.Key("rows");
        j.BeginArray();
    };
    const auto row = [](JsonWriter& j) {
        j.BeginObject();
        j.Field("name", "a.dll");
        j.EndObject();
    };
    const auto closeArray = [](JsonWriter& j) {
        j.EndArray();
        j.Field("n", std::int64_t{1});
        j.EndObject();
    };
    const std::vector<Case> cases{
        {"first item, pretty", true, openArray, row,
         [&](JsonWriter& j) { row(j), closeArray(j); }},
        {"first item, compact", false, openArray, row,
         [&](JsonWriter& j) { row(j), closeArray(j); }},
        {"after an item", true, [&](JsonWriter& j) { openArray(j), row(j); }, row,
         [&](JsonWriter& j) { row(j), closeArray(j); }},
        {"the last item", true, [&](JsonWriter& j) { openArray(j), row(j); }, row, closeArray},
        {"half an object", true, openArray,
         [](JsonWriter& j) {
             j.BeginObject();
             j.Key("name");
         },
         [&](JsonWriter& j) { row(j), closeArray(j); }},
        {"larger than the buffer", true, openArray,
         [&](JsonWriter& j) {
             j.BeginObject();
             j.Field("big", large);
             j.Field("more", large);
         },
         [&](JsonWriter& j) { row(j), closeArray(j); }},
        {"a value after its key", false,
         [](JsonWriter& j) {
             j.BeginObject();
             j.Key("k");
         },
         [&](JsonWriter& j) { j.String(large); },
         [](JsonWriter& j) {
             j.Number(7);
             j.EndObject();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::ostringstream expected;
        {
            JsonWriter json(expected, c.pretty);
            c.before(json);
            c.after(json);
        }
        std::ostringstream out;
        {
            JsonWriter json(out, c.pretty);
            c.before(json);
            const std::size_t passedOn = out.str().size();
            const JsonWriter::Mark mark = json.Hold();
            c.dropped(json);
            EXPECT_EQ(out.str().size(), passedOn); // nothing left the buffer while held
            json.Restore(mark);
            c.after(json);
        }
        EXPECT_EQ(out.str(), expected.str());
        EXPECT_TRUE(nlohmann::json::accept(out.str()));
    }
}

} // namespace
} // namespace sorvane::cli
