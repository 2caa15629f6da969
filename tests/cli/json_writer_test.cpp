#include "cli/json_writer.h"

#include "engine/text_utils.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

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

} // namespace
} // namespace sorvane::cli
