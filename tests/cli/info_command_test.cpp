#include "cli/commands.h"

#include "support/scan_files.h"
#include "support/temp_dir.h"
#include "support/typelib_builder.h"

#include <gtest/gtest.h>

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

TEST(InfoCommand, MissingFilesGiveEmptyFieldsAndStatus1) {
    test::TempDir dir;
    const std::string font = dir.write("f.ttf", "not a font");
    std::ostringstream out, err;
    EXPECT_EQ(RunInfo({"--json", dir.file("gone.dll"), font}, out, err), 1);
    EXPECT_NE(out.str().find("\"kind\": \"truetype\""), std::string::npos);
    EXPECT_NE(err.str().find("gone.dll: No such file or directory"), std::string::npos);
    EXPECT_EQ(RunInfo({dir.path().string()}, out, err), 1);
    EXPECT_NE(err.str().find("is a folder"), std::string::npos);
    EXPECT_EQ(RunInfo({}, out, err), 2);
    EXPECT_EQ(RunInfo({"--jsn", font}, out, err), 2);
}

} // namespace
} // namespace sorvane::cli
