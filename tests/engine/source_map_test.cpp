#include "engine/scan/source_map.h"

#include "support/temp_dir.h"

#include "engine/text/number_utils.h"
#include "engine/text/tokenizer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace sorvane {
namespace {

ComparisonRow MapRow(std::string name, std::string ext, std::string version, std::string language,
                     std::int64_t size) {
    ComparisonRow r;
    r.Name = std::move(name);
    r.Ext = std::move(ext);
    r.SourceVersion = std::move(version);
    r.SourceLanguage = std::move(language);
    r.SourceSize = size;
    r.Mark = ComparisonMark::NewerSource; // not written
    r.TargetVersion = "9.9";
    return r;
}

TEST(SourceMap, WritesHeaderAndEntriesWithCrLf) {
    test::TempDir dir;
    const std::string file = dir.file("out.map");
    const std::vector<ComparisonRow> rows{
        MapRow("setup.exe", ".exe", "2.01.00.05", "English (British)", 73728),
        MapRow("bin/tools/conv.exe", ".exe", "1.00.00.12", "[Neutral]", 40960),
        MapRow("README", "", "1.0", "", 5000000000)};
    ASSERT_TRUE(WriteSourceMap(file, "/data/Product/Release", rows).has_value());
    EXPECT_EQ(dir.read("out.map"),
              "/data/Product/Release\r\n"
              "setup.exe|.exe|2.01.00.05|English (British)|73728\r\n"
              "bin\\tools\\conv.exe|.exe|1.00.00.12|[Neutral]|40960\r\n"
              "README||1.0||5000000000\r\n");
}

TEST(SourceMap, RoundTripsThroughTheReader) {
    test::TempDir dir;
    const std::string file = dir.file("round.map");
    const std::vector<ComparisonRow> rows{MapRow("a/b/Ü.dll", ".dll", "1.0", "German", 12),
                                          MapRow("c.ttf", ".ttf", "2.37", "", 0)};
    ASSERT_TRUE(WriteSourceMap(file, "/src/", rows).has_value());
    auto reader = SourceMapReader::Open(file);
    ASSERT_TRUE(reader.has_value());
    EXPECT_EQ(reader->Header(), "/src"); // normalised: trailing separator removed
    EXPECT_EQ(reader->Next(), (SourceMapEntry{"a/b/Ü.dll", ".dll", "1.0", "German", 12}));
    EXPECT_EQ(reader->Next(), (SourceMapEntry{"c.ttf", ".ttf", "2.37", "", 0}));
    EXPECT_EQ(reader->Next(), std::nullopt);
}

TEST(SourceMap, ParsesMalformedLinesTolerantly) {
    // Fewer than five fields: the first missing one is empty, then the line repeats.
    EXPECT_EQ(ParseSourceMapLine("p.dll|.dll|1.0"),
              (SourceMapEntry{"p.dll", ".dll", "1.0", "", 0}));
    EXPECT_EQ(ParseSourceMapLine("12x.dll|.dll|1.0"),
              (SourceMapEntry{"12x.dll", ".dll", "1.0", "", 12}));
    EXPECT_EQ(ParseSourceMapLine("only"), (SourceMapEntry{"only", "", "only", "", 0}));
    EXPECT_EQ(ParseSourceMapLine("a|b|c|d|5|extra|more"), (SourceMapEntry{"a", "b", "c", "d", 5}));
    EXPECT_EQ(ParseSourceMapLine(""), (SourceMapEntry{}));
    EXPECT_EQ(ParseSourceMapLine("a|b|c|d|77abc"), (SourceMapEntry{"a", "b", "c", "d", 77}));
    EXPECT_EQ(ParseSourceMapLine("a|b|c|d|size"), (SourceMapEntry{"a", "b", "c", "d", 0}));
    EXPECT_EQ(ParseSourceMapLine("x\\y/z.dll|.dll|1|L|1"), (SourceMapEntry{"x/y/z.dll", ".dll", "1", "L", 1}));
    EXPECT_EQ(ParseSourceMapLine("a||c|d|1"), (SourceMapEntry{"a", "", "c", "d", 1}));
}

// The entry reader as it was before maps held hashes, five fields and no
// more, step for step: what older versions of the program read from a map.
SourceMapEntry ReadFiveFields(std::string_view line) {
    const auto separators = [](std::string text, char from, char to) {
        std::replace(text.begin(), text.end(), from, to);
        return text;
    };
    Tokenizer fields;
    SourceMapEntry entry;
    entry.Name = separators(fields.FirstToken(line, "|"), '\\', '/');
    entry.Ext = fields.NextToken(line);
    entry.Version = fields.NextToken(line);
    entry.Language = fields.NextToken(line);
    const double size = NumericValue(fields.NextToken(line));
    entry.Size = static_cast<std::int64_t>(std::nearbyint(size));
    return entry;
}

// Readers of five fields stop at the fifth: a line that carries the hash (and
// anything after it) reads as the same entry without them. This reader takes
// the hash from the sixth field and ignores what follows it.
TEST(SourceMap, ALineWithAHashReadsAsTheSameEntryToReadersOfFiveFields) {
    const std::string hex = "0123456789abcdef0123456789ABCDEF";
    const auto hash = ContentHash::FromHex(hex);
    ASSERT_TRUE(hash);
    for (const std::string line :
         {"setup.exe|.exe|2.1.0.5|English (British)|73728", "bin\\conv.exe|.exe|1.0|[Neutral]|0",
          "a||c||12abc", "a|b|c|d|", "||||", "x.dll|.dll|1.0|L|5000000000"}) {
        SCOPED_TRACE(line);
        const SourceMapEntry plain = ReadFiveFields(line);
        for (const std::string& more : {"|" + hex, "|" + hex + "|later|fields", "|" + hex + "|"}) {
            EXPECT_EQ(ReadFiveFields(line + more), plain) << more;
            SourceMapEntry withHash = plain;
            withHash.Hash = hash;
            EXPECT_EQ(ParseSourceMapLine(line + more), withHash) << more;
        }
        EXPECT_EQ(ParseSourceMapLine(line), plain);
    }
}

// A sixth field that is not a hash gives an entry without one, whatever else
// the line holds; a line of fewer fields never takes its own first field
// (which the reader hands out again after the last) for a hash.
TEST(SourceMap, ASixthFieldThatIsNoHashGivesNone) {
    const std::string hex = "00112233445566778899aabbccddeeff";
    for (const std::string& line : std::vector<std::string>{
             "a|b|c|d|1|", "a|b|c|d|1|" + hex.substr(1), "a|b|c|d|1|" + hex + "0",
          "a|b|c|d|1|" + hex.substr(0, 31) + "g", "a|b|c|d|1| " + hex, "a|b|c|d|1|0x" + hex,
          hex + "|.dll|1.0|L", hex + "|.dll|1.0", hex + "|.dll|1.0|L|"}) {
        SCOPED_TRACE(line);
        const SourceMapEntry entry = ParseSourceMapLine(line);
        EXPECT_FALSE(entry.Hash.has_value());
        EXPECT_EQ(entry, ReadFiveFields(line));
    }
    EXPECT_EQ(ParseSourceMapLine("a|b|c|d|1|" + hex).Hash, ContentHash::FromHex(hex));
}

// A row with the hash of its file's bytes gets it as a sixth field; one
// without keeps five. The reader gives both back, and a map counts as one
// with hashes by its first entry.
TEST(SourceMap, WritesTheHashOfEachRowThatHasOneAndReadsItBack) {
    test::TempDir dir;
    ComparisonRow hashed = MapRow("bin/a.dll", ".dll", "1.0", "German", 12);
    hashed.SourceHash = HashBytes("the bytes of a.dll");
    const ComparisonRow plain = MapRow("b.dll", ".dll", "2.0", "", 7);
    struct Case {
        std::vector<ComparisonRow> rows;
        bool holdsHashes;
    };
    for (const Case& c : {Case{{hashed, plain}, true}, Case{{plain, hashed}, false},
                          Case{{}, false}}) {
        const std::string file = dir.file("hashes.map");
        ASSERT_TRUE(WriteSourceMap(file, "/src", c.rows).has_value());
        std::string expected = "/src\r\n";
        for (const ComparisonRow& row : c.rows)
            expected += row.SourceHash ? "bin\\a.dll|.dll|1.0|German|12|" + hashed.SourceHash->Hex() + "\r\n"
                                       : std::string("b.dll|.dll|2.0||7\r\n");
        EXPECT_EQ(dir.read("hashes.map"), expected);
        EXPECT_EQ(SourceMapHoldsHashes(file), c.holdsHashes);
        auto reader = SourceMapReader::Open(file);
        ASSERT_TRUE(reader);
        for (const ComparisonRow& row : c.rows) {
            const auto entry = reader->Next();
            ASSERT_TRUE(entry);
            EXPECT_EQ(entry->Name, row.Name);
            EXPECT_EQ(entry->Hash, row.SourceHash);
        }
        EXPECT_FALSE(reader->Next());
    }
    EXPECT_FALSE(SourceMapHoldsHashes(dir.file("no such.map")));
}

TEST(SourceMap, ReaderAcceptsEveryLineEndAndWindows1252) {
    test::TempDir dir;
    const std::string file =
        dir.write("old.map", "\"C:/Old/\"\nx.dll|.dll|1|Fran\xE7""ais|3\r\ry.dll|.dll|2|L|4");
    auto reader = SourceMapReader::Open(file);
    ASSERT_TRUE(reader.has_value());
    EXPECT_EQ(reader->Header(), "C:/Old");
    EXPECT_EQ(reader->Next(), (SourceMapEntry{"x.dll", ".dll", "1", "Français", 3}));
    EXPECT_EQ(reader->Next(), (SourceMapEntry{})); // the empty line between CR and CR
    EXPECT_EQ(reader->Next(), (SourceMapEntry{"y.dll", ".dll", "2", "L", 4}));
    EXPECT_EQ(reader->Next(), std::nullopt);
}

TEST(SourceMap, UnopenableMapsAndFailedWrites) {
    test::TempDir dir;
    EXPECT_FALSE(SourceMapReader::Open(dir.file("missing.map")).has_value());
    EXPECT_FALSE(SourceMapReader::Open(dir.path().string()).has_value());
    // A failed write leaves the good map in place and says why.
    const std::string good = dir.write("good.map", "/keep\r\n");
    std::filesystem::create_directory(dir.file("taken.map"));
    const auto result = WriteSourceMap(dir.file("taken.map"), "/x", {});
    ASSERT_FALSE(result.has_value());
    EXPECT_FALSE(result.error().Message().empty());
    EXPECT_FALSE(WriteSourceMap(dir.file("no/such/folder.map"), "/x", {}).has_value());
    EXPECT_EQ(dir.read("good.map"), "/keep\r\n");
}

TEST(SourceMap, RecognisesMapPathsAndDialogFolders) {
    EXPECT_TRUE(IsSourceMapPath("/x/files.map"));
    EXPECT_TRUE(IsSourceMapPath("/x/FILES.MAP"));
    EXPECT_TRUE(IsSourceMapPath("\"/x/files.map\""));
    EXPECT_TRUE(IsSourceMapPath("/x/files.map/"));
    EXPECT_FALSE(IsSourceMapPath("/x/files.map.bak"));
    EXPECT_FALSE(IsSourceMapPath("/x/map"));

    test::TempDir dir;
    const std::string folder = dir.path().string() + "/";
    EXPECT_EQ(FolderForDialog(folder + "some.map", "/"), folder);
    EXPECT_EQ(FolderForDialog(folder, "/"), folder);
    EXPECT_EQ(FolderForDialog("relative.map", folder), folder); // no folder part
    EXPECT_EQ(FolderForDialog("/bad|name/x.map", folder), folder); // rejected characters
    const char* home = std::getenv("HOME");
    const std::string expectedHome = (home && *home) ? home : "/";
    EXPECT_EQ(FolderForDialog(folder + "gone/x.map", "/"), expectedHome);
}

TEST(SourceMap, KeepsEveryNameItCanHoldAndLeavesOutTheRest) {
    struct Case {
        std::string name;
        bool held;
    };
    const std::vector<Case> cases{
        {"plain.dll", true},
        {"dir with blanks/Ünïcødé 日本.dll", true},
        {"quote\"s'and;semi,comma.dll", true},
        {"tab\there.dll", true},
        {"lead/ trailing .dll", true},
        {"percent%20and#hash.dll", true},
        {"pipe|name.dll", false},
        {"back\\slash.dll", false},
        {"line\nbreak.dll", false},
        {"carriage\rreturn.dll", false},
        {"latin1-\xE9.dll", false}, // not UTF-8
        {"cut-\xE6\x97.dll", false},
    };
    std::vector<ComparisonRow> rows;
    for (const auto& c : cases)
        rows.push_back(MapRow(c.name, ".dll", "1.0", "German", 7));
    test::TempDir dir;
    const std::string file = dir.file("awkward.map");
    const auto saved = WriteSourceMap(file, "/src", rows);
    ASSERT_TRUE(saved.has_value());

    auto reader = SourceMapReader::Open(file);
    ASSERT_TRUE(reader.has_value());
    std::vector<std::string> expectedSkipped;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(MapCanHoldName(c.name), c.held);
        if (!c.held) {
            expectedSkipped.push_back(c.name);
            continue;
        }
        EXPECT_EQ(reader->Next(), (SourceMapEntry{c.name, ".dll", "1.0", "German", 7}));
    }
    EXPECT_EQ(reader->Next(), std::nullopt); // nothing read back as another file
    EXPECT_EQ(saved->skippedNames, expectedSkipped);
    EXPECT_EQ(saved->written, cases.size() - expectedSkipped.size());

    // The report shows the first few as text and counts the rest.
    EXPECT_EQ(SkippedNamesReport(saved->skippedNames, 2),
              "pipe|name.dll\nback\\slash.dll\nand 4 more\n");
    EXPECT_EQ(SkippedNamesReport({"a\nb", "c\xE9", "d\u202Ee"}, 5),
              "a\\x0ab\nc\xEF\xBF\xBD\nd\\u202Ee\n");
    EXPECT_EQ(SkippedNamesReport({}, 5), "");
}

TEST(SourceMap, ByteOrderMarkAndHeaders) {
    test::TempDir dir;
    const std::string bom = dir.write("bom.map", "\xEF\xBB\xBF/data/Release/\r\nx.dll|.dll|1|L|3\r\n");
    auto reader = SourceMapReader::Open(bom);
    ASSERT_TRUE(reader.has_value());
    EXPECT_EQ(reader->Header(), "/data/Release");
    EXPECT_EQ(reader->Next(), (SourceMapEntry{"x.dll", ".dll", "1", "L", 3}));
    const std::string tiny = dir.write("tiny.map", "\xEF\xBB"); // shorter than a mark
    ASSERT_TRUE(SourceMapReader::Open(tiny).has_value());
    EXPECT_EQ(SourceMapReader::Open(tiny)->Header(), "\xC3\xAF\xC2\xBB"); // Windows-1252

    const std::string cwd = std::filesystem::current_path().string();
    struct Case {
        std::string source;
        std::string target;
        bool sourceIsMap;
        std::string header;
    };
    const std::vector<Case> cases{
        {"/abs/folder/", "", false, "/abs/folder"},
        {"\"/quoted/folder\"", "/t", false, "/quoted/folder"},
        {"rel/sub", "", false, cwd + "/rel/sub"},
        {"./rel/../other", "", false, cwd + "/other"},
        {"", "/only/target/", false, "/only/target"},
        {"/", "", false, "/"},
        {bom, "", true, "/data/Release"}, // a map's own folder, not the map
        {dir.file("missing.map"), "", true, dir.file("missing.map")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        EXPECT_EQ(SourceMapHeader(c.source, c.target, c.sourceIsMap), c.header);
    }
}

TEST(SourceMap, NeverSavedOverWhatIsNotARegularFile) {
    const std::vector<ComparisonRow> rows{MapRow("a.dll", ".dll", "1.0", "L", 1)};
    // node made, whether the map's name is a link to it, what the error calls it
    const std::vector<std::tuple<mode_t, bool, const char*>> cases = {
        {S_IFIFO, false, "a FIFO"},
        {S_IFCHR, false, "a character device"},
        {S_IFSOCK, false, "a socket"},
        {S_IFCHR, true, "a link to a character device"},
        {S_IFDIR, true, "a link to a folder"},
    };
    for (const auto& [type, linked, kind] : cases) {
        SCOPED_TRACE(kind);
        test::TempDir dir;
        const std::string map = dir.file("x.map");
        const std::string node = linked ? dir.file("node") : map;
        if (type == S_IFDIR ? ::mkdir(node.c_str(), 0755) != 0
                            : ::mknod(node.c_str(), type | 0644, ::makedev(1, 3)) != 0)
            continue; // device nodes need CAP_MKNOD
        if (linked)
            std::filesystem::create_symlink(node, map);
        const auto saved = WriteSourceMap(map, "/src", rows);
        ASSERT_FALSE(saved.has_value());
        EXPECT_EQ(saved.error().Message(),
                  std::string(kind) + " has that name; only regular files are replaced");
        EXPECT_EQ(std::filesystem::status(map).type(), std::filesystem::status(node).type());
        EXPECT_EQ(std::filesystem::status(node).type(),
                  type == S_IFIFO   ? std::filesystem::file_type::fifo
                  : type == S_IFCHR ? std::filesystem::file_type::character
                  : type == S_IFDIR ? std::filesystem::file_type::directory
                                    : std::filesystem::file_type::socket);
    }
}

} // namespace
} // namespace sorvane
