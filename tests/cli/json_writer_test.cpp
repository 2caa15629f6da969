#include "cli/json_writer.h"

#include <gtest/gtest.h>

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
