#include "engine/settings/settings_store.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace sorvane {
namespace {

class SettingsStore : public ::testing::Test {
protected:
    test::TempDir dir;
    std::string file = dir.file("Sorvane.dat");
};

TEST_F(SettingsStore, MissingFileAndKeysReadAsDefaults) {
    EXPECT_EQ(ReadSetting(file, "General", "Source", "dflt"), "dflt");
    EXPECT_EQ(ReadNumberSetting(file, "General", "Different", 1), 1);
    EXPECT_FALSE(std::filesystem::exists(file)); // reading never creates the file
    WriteSetting(file, "General", "Source", "/data");
    EXPECT_EQ(ReadSetting(file, "General", "Target", "t"), "t");
    EXPECT_EQ(ReadSetting(file, "Other", "Source", "s"), "s");
    EXPECT_EQ(ReadNumberSetting(file, "General", "Width", -4), -4);
    EXPECT_EQ(ReadNumberSetting("", "General", "Source", 7), 7);
    EXPECT_EQ(ReadNumberSetting(file, "", "Source", 7), 7);
    EXPECT_EQ(ReadNumberSetting(file, "General", "", 7), 7);
}

TEST_F(SettingsStore, FirstWriteCreatesTheFileWithCrLfLines) {
    WriteSetting(file, "General", "Source", "/src");
    WriteNumberSetting(file, "General", "Different", 1);
    WriteNumberSetting(file, "Colors", "Color0", 16711680);
    EXPECT_EQ(dir.read("Sorvane.dat"),
              "[General]\r\nSource=/src\r\nDifferent=1\r\n\r\n[Colors]\r\nColor0=16711680\r\n");
}

TEST_F(SettingsStore, TextRoundTrips) {
    WriteSetting(file, "General", "Filter", "a=b");
    EXPECT_EQ(ReadSetting(file, "General", "Filter"), "a=b"); // only the first "=" separates
    WriteSetting(file, "General", "Source", "  /padded  ");
    EXPECT_EQ(ReadSetting(file, "General", "Source"), "/padded");
    WriteSetting(file, "General", "Name", "Grüße ✓");
    EXPECT_EQ(ReadSetting(file, "General", "Name"), "Grüße ✓");
}

TEST_F(SettingsStore, EmptyTextIsStoredAsALoneBlankAndReadsAsTheDefault) {
    WriteSetting(file, "General", "Target", "");
    EXPECT_NE(dir.read("Sorvane.dat").find("Target= \r\n"), std::string::npos);
    EXPECT_EQ(ReadSetting(file, "General", "Target", "dflt"), "dflt");
    EXPECT_EQ(ReadSetting(file, "General", "Target"), "");
}

TEST_F(SettingsStore, LongValuesAreCutAt254Characters) {
    const std::string value(300, 'v');
    WriteSetting(file, "General", "Long", value);
    EXPECT_EQ(ReadSetting(file, "General", "Long"), value.substr(0, 254));
    // Characters, not bytes: a value of two-byte letters is cut at the same count.
    std::string umlauts;
    for (int i = 0; i < 300; ++i)
        umlauts += "ä";
    WriteSetting(file, "General", "Umlauts", umlauts);
    EXPECT_EQ(ReadSetting(file, "General", "Umlauts").size(), 254u * 2);
}

TEST_F(SettingsStore, NamesMatchWithoutRegardToCase) {
    WriteSetting(file, "General", "Source", "one");
    EXPECT_EQ(ReadSetting(file, "general", "SOURCE"), "one");
    WriteSetting(file, "GENERAL", "source", "two");
    EXPECT_EQ(ReadSetting(file, "General", "Source"), "two");
    // Replaced in place: still one section with one key in its first spelling.
    EXPECT_EQ(dir.read("Sorvane.dat"), "[General]\r\nSource=two\r\n");
}

TEST_F(SettingsStore, NumbersReadTheirLeadingNumericPart) {
    dir.write("Sorvane.dat",
              "[General]\nEmpty=\nWord=abc\nMixed=12abc\nNeg= -4 \nFrac=9.75\nFine=1.23456\n"
              "Hex=&H10\nPoint=.5\n");
    EXPECT_EQ(ReadNumberSetting(file, "General", "Empty", 5), 0);
    EXPECT_EQ(ReadNumberSetting(file, "General", "Word", 5), 0);
    EXPECT_EQ(ReadNumberSetting(file, "General", "Mixed", 5), 12);
    EXPECT_EQ(ReadNumberSetting(file, "General", "Neg", 5), -4);
    EXPECT_EQ(ReadNumberSetting(file, "General", "Frac", 5), 9.75);
    EXPECT_EQ(ReadNumberSetting(file, "General", "Fine", 5), 1.2346); // four decimals
    EXPECT_EQ(ReadNumberSetting(file, "General", "Hex", 5), 16);
    EXPECT_EQ(ReadNumberSetting(file, "General", "Point", 5), 0.5);
    EXPECT_EQ(ReadNumberSetting(file, "General", "Missing", 5), 5);
}

TEST_F(SettingsStore, NumbersAreWrittenInTheirShortestDecimalText) {
    WriteNumberSetting(file, "N", "Blue", 16711680);
    WriteNumberSetting(file, "N", "Minus", -1);
    WriteNumberSetting(file, "N", "Zero", -0.0);
    WriteNumberSetting(file, "N", "Frac", 9.75);
    WriteNumberSetting(file, "N", "Big", 1e20);
    EXPECT_EQ(dir.read("Sorvane.dat"), "[N]\r\nBlue=16711680\r\nMinus=-1\r\nZero=0\r\nFrac=9.75\r\n"
                                       "Big=100000000000000000000\r\n");
}

TEST_F(SettingsStore, WritesKeepTheRestOfTheFile) {
    dir.write("Sorvane.dat", "; my notes\n[General]\nSource = /a\n; a comment\nTarget=/b\n\n"
                             "[Colors]\nColor0=255\n");
    WriteSetting(file, "General", "Target", "/c");
    WriteSetting(file, "General", "Filter", "*.dll");
    WriteSetting(file, "Colors", "Color1", "0");
    WriteSetting(file, "New", "Key", "v");
    EXPECT_EQ(dir.read("Sorvane.dat"),
              "; my notes\r\n[General]\r\nSource = /a\r\n; a comment\r\nTarget=/c\r\n"
              "Filter=*.dll\r\n\r\n[Colors]\r\nColor0=255\r\nColor1=0\r\n\r\n[New]\r\nKey=v\r\n");
    EXPECT_EQ(ReadSetting(file, "General", "Source"), "/a");
}

TEST_F(SettingsStore, LineBreaksInAValueCannotAddKeysOrSections) {
    WriteSetting(file, "General", "Source", "/x\r\n[General]\nDifferent=0");
    EXPECT_EQ(ReadNumberSetting(file, "General", "Different", 1), 1);
    EXPECT_EQ(ReadSetting(file, "General", "Source"), "/x  [General] Different=0");
}

TEST_F(SettingsStore, FirstSectionAndFirstKeyWin) {
    dir.write("Sorvane.dat", "[A]\nk=1\nk=2\n[A]\nk=3\nj=4\n");
    EXPECT_EQ(ReadSetting(file, "A", "k"), "1");
    EXPECT_EQ(ReadSetting(file, "A", "j", "none"), "none");
}

TEST_F(SettingsStore, ReadsWindows1252AndUtf8WithBom) {
    dir.write("Sorvane.dat", "\xEF\xBB\xBF[General]\r\nSource=/Gr\xC3\xBC\xC3\x9F"
                             "e\r\n");
    EXPECT_EQ(ReadSetting(file, "General", "Source"), "/Grüße");
    dir.write("Sorvane.dat", "[General]\r\nSource=/Gr\xFC\xDF"
                             "e\r\n");
    EXPECT_EQ(ReadSetting(file, "General", "Source"), "/Grüße");
}

// UTF-16 text of an ASCII/Latin-1 string, with its byte-order mark.
std::string Utf16(std::string_view latin1, bool little) {
    std::string out(little ? "\xFF\xFE" : "\xFE\xFF");
    for (const char c : latin1) {
        const char units[2] = {c, '\0'};
        out.push_back(little ? units[0] : units[1]);
        out.push_back(little ? units[1] : units[0]);
    }
    return out;
}

TEST_F(SettingsStore, Utf16FilesAreReadAndWrittenBackInTheirEncodingAndAnyLineEndIsOne) {
    struct Case {
        const char* what;
        std::string stored;
        std::string savedAfterAWrite; // empty: UTF-8 with CR LF
    };
    const std::string lines = "; by a Windows tool\r\n[General]\r\nSource=/data/\xE9t\xE9\r\n";
    const std::string after = lines + "Target=/t\r\n";
    const std::vector<Case> cases{
        {"UTF-16 little-endian", Utf16(lines, true), Utf16(after, true)},
        {"UTF-16 big-endian", Utf16(lines, false), Utf16(after, false)},
        {"lone CR line ends", "; by a Windows tool\r[General]\rSource=/data/\xC3\xA9t\xC3\xA9\r", ""},
        {"LF line ends", "; by a Windows tool\n[General]\nSource=/data/\xC3\xA9t\xC3\xA9\n", ""},
        {"mixed line ends", "; by a Windows tool\r\n[General]\rSource=/data/\xC3\xA9t\xC3\xA9\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        dir.write("Sorvane.dat", c.stored);
        EXPECT_EQ(ReadSetting(file, "General", "Source"), "/data/\xC3\xA9t\xC3\xA9");
        WriteSetting(file, "General", "Target", "/t");
        EXPECT_EQ(ReadSetting(file, "General", "Target"), "/t");
        const std::string expected =
            !c.savedAfterAWrite.empty()
                ? c.savedAfterAWrite
                : "; by a Windows tool\r\n[General]\r\nSource=/data/\xC3\xA9t\xC3\xA9\r\nTarget=/t\r\n";
        EXPECT_EQ(dir.read("Sorvane.dat"), expected);
    }
    // A cut last unit and a character beyond the first plane.
    const std::string grinning("\x3D\xD8\x00\xDE", 4); // U+1F600 as a surrogate pair
    dir.write("Sorvane.dat", Utf16("[A]\r\nK=v", true) + grinning + "x");
    EXPECT_EQ(ReadSetting(file, "A", "K"), "v\xF0\x9F\x98\x80");
    WriteSetting(file, "A", "L", "w");
    EXPECT_EQ(dir.read("Sorvane.dat"),
              Utf16("[A]\r\nK=v", true) + grinning + Utf16("\r\nL=w\r\n", true).substr(2));
}

TEST_F(SettingsStore, GarbageFoldersAndUnreadableFilesYieldDefaults) {
    std::string garbage;
    for (int i = 0; i < 5000; ++i)
        garbage.push_back(static_cast<char>((i * 7919) % 256));
    dir.write("Sorvane.dat", garbage);
    EXPECT_EQ(ReadSetting(file, "General", "Source", "d"), "d");
    EXPECT_EQ(ReadNumberSetting(file, "General", "Different", 1), 1);
    EXPECT_TRUE(ReadSection(file, "Source").empty());

    const std::string folder = dir.file("folder.dat");
    std::filesystem::create_directory(folder);
    EXPECT_EQ(ReadSetting(folder, "General", "Source", "d"), "d");
    WriteSetting(folder, "General", "Source", "x"); // silently fails
    EXPECT_TRUE(std::filesystem::is_directory(folder));

    const std::string fifo = dir.file("fifo.dat");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ReadSetting(fifo, "General", "Source", "d"), "d"); // must not hang

    WriteSetting("", "General", "Source", "x"); // no file name: nothing happens
}

TEST_F(SettingsStore, AFileTooLargeToBeOursIsNeitherReadNorReplaced) {
    const std::string big = "[General]\nSource=/x\n" + std::string(17 * 1024 * 1024, ';');
    dir.write("Sorvane.dat", big);
    EXPECT_EQ(ReadSetting(file, "General", "Source", "d"), "d");
    WriteSetting(file, "General", "Source", "/y");
    EXPECT_EQ(dir.read("Sorvane.dat").size(), big.size());
}

TEST_F(SettingsStore, WritesReplaceTheFileWithoutLeavingTemporaryFiles) {
    WriteSetting(file, "General", "Source", "/a");
    std::filesystem::permissions(file, std::filesystem::perms(0640));
    WriteSetting(file, "General", "Source", "/b");
    EXPECT_EQ(std::filesystem::status(file).permissions(), std::filesystem::perms(0640));
    int entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 1);
}

TEST_F(SettingsStore, WholeSectionsReadAndReplace) {
    dir.write("Sorvane.dat",
              "[Source]\n5=/five\n2 = /two \n; note\n\n9=/nine=9\nbare line\n[Target]\n0=/t\n");
    EXPECT_EQ(ReadSection(file, "source"),
              (std::vector<std::string>{"5=/five", "2=/two", "9=/nine=9", "bare line"}));
    EXPECT_TRUE(WriteSection(file, "Source", {"0=/new", "1=a=b", "", "2=/x\ny"}));
    EXPECT_EQ(ReadSection(file, "Source"), (std::vector<std::string>{"0=/new", "1=a=b", "2=/x y"}));
    EXPECT_EQ(ReadSection(file, "Target"), (std::vector<std::string>{"0=/t"}));
    EXPECT_TRUE(WriteSection(file, "Filter", {"0=*.dll"}));
    EXPECT_EQ(ReadSetting(file, "Filter", "0"), "*.dll");
    EXPECT_TRUE(WriteSection(file, "Source", {}));
    EXPECT_TRUE(ReadSection(file, "Source").empty());
    EXPECT_EQ(ReadSection(file, "Target"), (std::vector<std::string>{"0=/t"}));
}

TEST_F(SettingsStore, SectionReadsAreCutAt32767Characters) {
    std::vector<std::string> lines;
    for (int i = 0; i < 200; ++i)
        lines.push_back(std::to_string(i) + "=" + std::string(250, 'p'));
    ASSERT_TRUE(WriteSection(file, "Big", lines));
    const auto read = ReadSection(file, "Big");
    std::size_t total = 0;
    for (const auto& line : read)
        total += line.size() + 1;
    EXPECT_LT(read.size(), lines.size());
    EXPECT_EQ(total, 32766u); // the last line is cut to fill the buffer
    EXPECT_EQ(read.front(), lines.front());
}

TEST_F(SettingsStore, ValuesInMatchingQuotesReadWithoutThem) {
    struct Row {
        const char* line;   // as written by hand
        const char* stored; // what GetProfileString gives
        const char* text;   // what ReadSetting gives, "dflt" for the default
    };
    const std::vector<Row> rows = {
        {"SortKey=\"3\"", "3", "3"},
        {"Source='/a b'", "/a b", "/a b"},
        {"Padded=\" x \"", " x ", "x"},
        {"Around=  'y'  ", "y", "y"},
        {"Empty=\"\"", "", "dflt"},
        {"Blank=\" \"", " ", "dflt"},
        {"Twice=\"\"z\"\"", "\"z\"", "\"z\""},
        {"Lone=\"", "\"", "\""},
        {"LoneSingle='", "'", "'"},
        {"Unmatched=\"a'", "\"a'", "\"a'"},
        {"Open=\"abc", "\"abc", "\"abc"},
        {"Close=abc'", "abc'", "abc'"},
        {"Inside=a \"b\" c", "a \"b\" c", "a \"b\" c"},
    };
    std::string text = "[Q]\n";
    for (const Row& row : rows)
        text.append(row.line).append("\n");
    text += "Long=\"" + std::string(300, 'q') + "\"\n";
    dir.write("Sorvane.dat", text);
    const auto settings = SettingsDocument::Load(file);
    for (const Row& row : rows) {
        const std::string line = row.line;
        const std::string key = line.substr(0, line.find('='));
        EXPECT_EQ(GetProfileString(settings, "Q", key, "dflt"), row.stored) << row.line;
        EXPECT_EQ(ReadSetting(settings, "Q", key, "dflt"), row.text) << row.line;
    }
    EXPECT_EQ(ReadNumberSetting(file, "Q", "SortKey", 0), 3);
    EXPECT_EQ(ReadSetting(file, "Q", "Long"), std::string(254, 'q')); // quotes off, then cut
    // Whole sections come as they stand.
    EXPECT_EQ(ReadSection(settings, "Q").front(), "SortKey=\"3\"");
}

// The same changes made to one loaded document or key by key to the file
// give the same bytes; the document reads once and writes once.
TEST_F(SettingsStore, ADocumentSavesWhatOneOffWritesWouldHaveWritten) {
    const std::string original = "; notes by hand\n[General]\nSource = /a\n; comment\nTarget=/b\n\n"
                                 "[Unknown]\nMine=kept\n\n[Source]\n0=/old\n1=/older\n";
    struct Change {
        const char* section;
        const char* key; // nullptr: replace the whole section with `value` (lines split at ',')
        const char* value;
    };
    const std::vector<Change> changes = {
        {"General", "Target", "/c"},         // replaced in place
        {"general", "FILTER", "*.dll"},      // appended to the section
        {"Position", "Left", "12"},          // new section at the end
        {"General", "BackupDir", ""},        // stored as a lone blank
        {"Source", nullptr, "0=/new,1=a=b"}, // section replaced, blank line after it kept
        {"Filter", nullptr, "0=x"},          // new list section
        {"Position", "left", "13\r\n[X]"},   // line break stored as blanks
        {"General", "Source", "'/q r'"},     // quotes stored as they are
    };
    // `target` is a document or a file name: the same calls serve both.
    const auto apply = [&](auto& target) {
        for (const Change& change : changes) {
            if (change.key != nullptr) {
                WriteSetting(target, change.section, change.key, change.value);
                continue;
            }
            std::vector<std::string> lines;
            std::string_view rest = change.value;
            for (auto comma = rest.find(','); !rest.empty(); comma = rest.find(',')) {
                lines.emplace_back(rest.substr(0, comma));
                rest = comma == std::string_view::npos ? "" : rest.substr(comma + 1);
            }
            WriteSection(target, change.section, lines);
        }
    };
    dir.write("Sorvane.dat", original);
    const auto before = SettingsFileActivity();
    auto settings = SettingsDocument::Load(file);
    apply(settings);
    EXPECT_EQ(dir.read("Sorvane.dat"), original); // nothing written before Save
    EXPECT_EQ(ReadSetting(settings, "General", "Target"), "/c");
    ASSERT_TRUE(settings.Save());
    const auto after = SettingsFileActivity();
    EXPECT_EQ(after.reads - before.reads, 1u);
    EXPECT_EQ(after.writes - before.writes, 1u);

    std::string copy = dir.write("copy.dat", original);
    apply(copy);
    EXPECT_EQ(SettingsFileActivity().writes - after.writes, changes.size());
    EXPECT_EQ(dir.read("Sorvane.dat"), dir.read("copy.dat"));
    EXPECT_EQ(dir.read("Sorvane.dat"),
              "; notes by hand\r\n[General]\r\nSource='/q r'\r\n; comment\r\nTarget=/c\r\n"
              "FILTER=*.dll\r\nBackupDir= \r\n\r\n[Unknown]\r\nMine=kept\r\n\r\n[Source]\r\n"
              "0=/new\r\n1=a=b\r\n\r\n[Position]\r\nLeft=13  [X]\r\n\r\n[Filter]\r\n0=x\r\n");
}

TEST_F(SettingsStore, DocumentsOfPathsThatAreNotSettingsFilesAreNeverSaved) {
    struct Row {
        const char* name;
        bool writable;
    };
    const std::string folder = dir.file("folder.dat");
    std::filesystem::create_directory(folder);
    const std::string fifo = dir.file("fifo.dat");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::vector<Row> rows = {
        {"missing/new.dat", true},
        {"folder.dat", false},
        {"fifo.dat", false},
        {"", false},
    };
    for (const Row& row : rows) {
        const std::string path = *row.name ? dir.file(row.name) : std::string();
        const auto before = SettingsFileActivity();
        auto settings = SettingsDocument::Load(path);
        EXPECT_EQ(ReadSetting(settings, "General", "Source", "d"), "d") << row.name;
        WriteSetting(settings, "General", "Source", "/y");
        EXPECT_EQ(settings.Writable(), row.writable) << row.name;
        EXPECT_EQ(settings.Save(), row.writable) << row.name;
        EXPECT_EQ(SettingsFileActivity().writes - before.writes, row.writable ? 1u : 0u)
            << row.name;
    }
    EXPECT_EQ(ReadSetting(dir.file("missing/new.dat"), "General", "Source"), "/y");
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
}

} // namespace
} // namespace sorvane
