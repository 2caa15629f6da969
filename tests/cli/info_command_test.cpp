#include "cli/commands.h"

#include "support/byte_builder.h"
#include "support/pe_builder.h"
#include "support/scan_files.h"
#include "support/temp_dir.h"
#include "support/ttf_builder.h"
#include "support/typelib_builder.h"
#include "support/version_block_builder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

namespace sorvane::cli {
namespace {

TEST(InfoCommand, JsonGivesTheScanTextsOfEachKind) {
    test::TempDir dir;
    const std::string dll =
        dir.write("lib.DLL", test::VersionedPe({{5, 0, 2134, 1}, 0x0407, "Bibliothek", "© X"}));
    test::MsftBuilder lib;
    lib.major = 1;
    lib.minor = 12;
    lib.helpString = "Help";
    const std::string tlb = dir.write("x.olb", lib.Build());
    std::ostringstream out, err;
    EXPECT_EQ(RunInfo({"--json", dll, tlb}, out, err), 0);
    EXPECT_EQ(out.str(), "[\n"
                         "  {\n"
                         "    \"path\": \"" + dll + "\",\n"
                         "    \"kind\": \"version-resource\",\n"
                         "    \"version\": \"5.00.2134.01\",\n"
                         "    \"language\": \"German\",\n"
                         "    \"description\": \"Bibliothek\",\n"
                         "    \"copyright\": \"© X\"\n"
                         "  },\n"
                         "  {\n"
                         "    \"path\": \"" + tlb + "\",\n"
                         "    \"kind\": \"typelib\",\n"
                         "    \"version\": \"1.12\",\n"
                         "    \"language\": \"[Neutral]\",\n"
                         "    \"description\": \"Help\",\n"
                         "    \"copyright\": \"\"\n"
                         "  }\n"
                         "]\n");
    EXPECT_EQ(err.str(), "");
}

TEST(InfoCommand, AllAddsWhatTheParserFound) {
    test::TempDir dir;
    const std::string dll = dir.write("a.dll", test::VersionedPe({{1, 2, 3, 4}, 0x0409, "D"}));
    std::ostringstream out, err;
    EXPECT_EQ(RunInfo({"--all", dll}, out, err), 0);
    const std::string text = out.str();
    EXPECT_NE(text.find("file version    1.2.3.4"), std::string::npos);
    EXPECT_NE(text.find("translation     040904B0 English (United States), code page 1200"),
              std::string::npos);
    EXPECT_NE(text.find("string table 040904B0\n    FileDescription D\n"), std::string::npos);
}

TEST(InfoCommand, TextShowsControlsAsEscapesAndKeepsLineBreaksJsonKeepsThemExact) {
    test::TempDir dir;
    const std::string description = "\x1b]52;c;cm0gLXJm\x07" "clip";
    const std::string copyright = "line one\r\nline \x1b[2Jtwo";
    const std::string dll = dir.write("\x1b[31mred.dll",
                                      test::VersionedPe({{1, 0, 0, 0}, 0x0409, description, copyright}));
    for (const std::vector<std::string>& options : {std::vector<std::string>{},
                                                     std::vector<std::string>{"--all"}}) {
        std::vector<std::string> args = options;
        args.push_back(dll);
        std::ostringstream out, err;
        EXPECT_EQ(RunInfo(args, out, err), 0);
        const std::string text = out.str();
        SCOPED_TRACE(text);
        EXPECT_EQ(text.find('\x1b'), std::string::npos);
        EXPECT_EQ(text.find('\x07'), std::string::npos);
        EXPECT_NE(text.find("\\x1b[31mred.dll\n"), std::string::npos);
        EXPECT_NE(text.find("description     \\x1b]52;c;cm0gLXJm\\x07clip\n"), std::string::npos);
        EXPECT_NE(text.find("copyright       line one\n                  line \\x1b[2Jtwo\n"),
                  std::string::npos);
    }
    std::ostringstream json, err;
    EXPECT_EQ(RunInfo({"--json", dll}, json, err), 0);
    const auto parsed = nlohmann::json::parse(json.str());
    EXPECT_EQ(parsed.at(0).at("description"), description);
    EXPECT_EQ(parsed.at(0).at("copyright"), copyright);
}

// Hostile files: --all lists the first 100 entries of each list and the
// first 1,000 characters of each text, and says what it left out; the four
// scan texts stay whole.
TEST(InfoCommand, AllBoundsWhatItListsOfHostileFiles) {
    test::TempDir dir;
    // 5,400 Japanese records of names 0, 1, 5 and 2 sharing one string of
    // 32,757 characters, then the English (United States) ones.
    const std::string storage =
        test::Utf16Be(u"\u00A9Family1.0") + test::Utf16Be(std::u16string(32757, u'\u7206'));
    std::vector<test::TtfRecord> records;
    for (std::uint16_t i = 0; i < 5400; ++i)
        records.push_back(
            {3, 1, 0x411, std::array<std::uint16_t, 4>{0, 1, 5, 2}[i % 4], 65514, 20});
    records.push_back({3, 1, 0x409, 0, 2, 0});
    records.push_back({3, 1, 0x409, 1, 12, 2});
    records.push_back({3, 1, 0x409, 5, 6, 14});
    const std::string font = dir.write("shared.ttf", test::SharedStorageFont(records, storage));

    const auto versionDll = [&](const std::string& name, std::vector<test::VersionNode> tables) {
        const std::string block = test::Serialize32(test::RootNode(
            test::FixedInfoBytes(0x00010000, 0, 0, 0),
            {test::Container("VarFileInfo", {test::TranslationNode({{0x0409, 0x04B0}})}),
             test::Container("StringFileInfo", std::move(tables))}));
        return dir.write(name,
                         test::BuildPe({{ResourceId::Number(kResourceTypeVersion),
                                         ResourceId::Number(kVersionResourceName), 0x0409, block}})
                             .bytes);
    };
    std::vector<test::VersionNode> tables{
        test::Container("040904B0", {test::StringNode("FileDescription", "Tables")})};
    for (int i = 0; i < 1500; ++i)
        tables.push_back(
            test::Container(std::to_string(10000000 + i), {test::StringNode("A", "1")}));
    std::vector<test::VersionNode> strings{test::StringNode("FileDescription", "Strings")};
    for (int i = 0; i < 7000; ++i)
        strings.push_back(test::Container("", {}));
    std::string longText;
    for (int i = 0; i < 32000; ++i)
        longText += "\u00E9";

    struct Case {
        std::string file;
        std::string description;
        std::string list; ///< path to the list that is cut, as JSON pointer
        std::string more; ///< JSON pointer to the count of entries left out
        std::size_t left;
        std::string cutText; ///< JSON pointer to a text that is cut, or empty
        std::string cutEnd;
    };
    const Case cases[] = {
        {font, "Family", "/0/names", "/0/moreNames", 5303, "/0/names/0/text",
         "\u2026 [31757 more characters]"},
        {versionDll("tables.dll", tables), "Tables", "/0/stringTables", "/0/moreStringTables", 1401,
         "", ""},
        {versionDll("strings.dll", {test::Container("040904B0", strings)}), "Strings",
         "/0/stringTables/0/strings", "/0/stringTables/0/moreStrings", 6901, "", ""},
        {versionDll("long.dll",
                    {test::Container("040904B0", {test::StringNode("FileDescription", longText)})}),
         longText, "", "", 0, "/0/stringTables/0/strings/0/value",
         "\u2026 [31000 more characters]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::ostringstream out, err;
        ASSERT_EQ(RunInfo({"--all", "--json", c.file}, out, err), 0);
        EXPECT_LT(out.str().size(), 512u * 1024);
        nlohmann::json json;
        ASSERT_NO_THROW(json = nlohmann::json::parse(out.str()));
        EXPECT_EQ(json[0]["description"], c.description);
        if (!c.list.empty()) {
            EXPECT_EQ(json.at(nlohmann::json::json_pointer(c.list)).size(), 100u);
            EXPECT_EQ(json.at(nlohmann::json::json_pointer(c.more)), c.left);
        }
        if (!c.cutText.empty()) {
            const std::string text = json.at(nlohmann::json::json_pointer(c.cutText));
            EXPECT_TRUE(text.ends_with(c.cutEnd)) << text.substr(text.size() - 40);
        }
    }

    std::ostringstream out, err;
    ASSERT_EQ(RunInfo({"--all", font}, out, err), 0);
    EXPECT_LT(out.str().size(), 512u * 1024);
    EXPECT_NE(out.str().find("\n  ... 5303 more name records\n"), std::string::npos);
    EXPECT_NE(out.str().find("\n  name 0 (3,1,0x0411) \u7206\u7206"), std::string::npos);
}

TEST(InfoCommand, AFileThatCannotBeReadGetsItsReasonAndStatus2) {
    test::TempDir dir;
    const std::string font = dir.write("f.ttf", "not a font");
    const std::string locked = dir.write("locked.dll", "MZ");
    ::chmod(locked.c_str(), 0);
    const bool lockedIsUnreadable = ::access(locked.c_str(), R_OK) != 0; // not as root
    const std::string fifo = dir.file("pipe.dll");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string file;
        std::string error; ///< empty: read, no "error" field
    };
    std::vector<Case> cases = {
        {dir.file("gone.dll"), "No such file or directory"},
        {dir.path().string(), "is a folder"},
        {fifo, "not a regular file"},
        {font, ""}, // read, although it holds no font: no version data is no error
    };
    if (lockedIsUnreadable)
        cases.push_back({locked, "Permission denied"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const int expected = c.error.empty() ? 0 : 2;
        std::ostringstream json, jsonErr;
        EXPECT_EQ(RunInfo({"--json", c.file}, json, jsonErr), expected);
        nlohmann::json parsed;
        ASSERT_NO_THROW(parsed = nlohmann::json::parse(json.str()));
        ASSERT_EQ(parsed.size(), 1u);
        EXPECT_EQ(parsed[0]["path"], c.file);
        EXPECT_EQ(parsed[0].contains("error"), !c.error.empty());
        if (!c.error.empty()) {
            EXPECT_EQ(parsed[0]["error"], c.error);
        }
        EXPECT_EQ(jsonErr.str(), c.error.empty() ? "" : "sorvane-cli: " + c.file + ": " + c.error + "\n");
        std::ostringstream text, textErr;
        EXPECT_EQ(RunInfo({c.file}, text, textErr), expected);
        EXPECT_EQ(text.str().find("\n  error           " + c.error + "\n") != std::string::npos,
                  !c.error.empty())
            << text.str();
    }
    // The files that can be read are still shown; the status is the worst.
    std::ostringstream out, err;
    EXPECT_EQ(RunInfo({"--json", dir.file("gone.dll"), font}, out, err), 2);
    EXPECT_NE(out.str().find("\"kind\": \"truetype\""), std::string::npos);
    EXPECT_EQ(RunInfo({}, out, err), 2);
    EXPECT_EQ(RunInfo({"--jsn", font}, out, err), 2);
}

// Every file that gives no data says why in --json: the code, the step that
// failed and the message; a file that was read says nothing more. Only a
// file that could not be read is an error (status 2, "error" and standard
// error as before).
TEST(InfoCommand, JsonGivesTheReasonAFileGaveNoData) {
    test::TempDir dir;
    const std::string good = test::VersionedPe({{1, 2, 3, 4}, 0x0409, "D"});
    const test::PeLayout bare = test::BuildPe({});
    std::string badSignature = bare.bytes;
    badSignature[bare.lfanew] = 'X'; // "XE\0\0" for "PE\0\0"
    const std::string badBlock =
        test::BuildPe({{ResourceId::Number(kResourceTypeVersion),
                        ResourceId::Number(kVersionResourceName), 0x0409, std::string(8, '\xff')}})
            .bytes;
    const std::string locked = dir.write("locked.dll", good);
    ::chmod(locked.c_str(), 0);
    struct Row {
        std::string file;
        std::string code; ///< empty: read, no "failure"
        std::string step;
        std::string message;
        bool error; ///< not read at all: "error", status 2
    };
    std::vector<Row> rows = {
        {dir.write("good.dll", good), "", "", "", false},
        {dir.write("cut.dll", good.substr(0, bare.lfanew + 10)), "truncated",
         "read executable header", "truncated", false},
        {dir.write("mz.dll", "MZ"), "truncated", "read executable header", "truncated", false},
        {dir.write("text.dll", "plain text, no executable"), "not-versioned",
         "read executable header", "not a versioned file", false},
        {dir.write("bare.dll", bare.bytes), "not-versioned", "find version resource",
         "not a versioned file", false},
        {dir.write("sig.dll", badSignature), "bad-format", "read executable header", "bad format",
         false},
        {dir.write("block.dll", badBlock), "bad-format", "parse version block", "bad format",
         false},
        {dir.write("cut.ttf", "0123"), "truncated", "read font names", "truncated", false},
        {dir.file("gone.dll"), "ENOENT", "open", "No such file or directory", true},
        {dir.path().string(), "not-regular-file", "open", "is a folder", true},
    };
    if (::access(locked.c_str(), R_OK) != 0) // not as root
        rows.push_back({locked, "EACCES", "open", "Permission denied", true});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        std::ostringstream out, err;
        EXPECT_EQ(RunInfo({"--json", row.file}, out, err), row.error ? 2 : 0);
        nlohmann::json parsed;
        ASSERT_NO_THROW(parsed = nlohmann::json::parse(out.str()));
        const nlohmann::json& entry = parsed.at(0);
        EXPECT_EQ(entry.contains("error"), row.error);
        ASSERT_EQ(entry.contains("failure"), !row.code.empty());
        if (row.code.empty())
            continue;
        EXPECT_EQ(entry["failure"], (nlohmann::json{{"code", row.code},
                                                    {"step", row.step},
                                                    {"message", row.message}}));
        if (row.error) {
            EXPECT_EQ(entry["error"], row.message);
        }
    }
}

} // namespace
} // namespace sorvane::cli
