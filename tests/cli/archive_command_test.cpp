// compare, info and copy with archives as SOURCE, TARGET or FILE.

#include "cli/commands.h"

#include "support/archive_maker.h"
#include "support/scan_files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace sorvane::cli {
namespace {

using test::ArchiveFormat;
using test::VersionedFile;
using test::VersionedPe;

struct Ran {
    int status = -1;
    std::string out;
    std::string err;
};

class ArchiveCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto both = [this](const std::string& name, const std::string& bytes) {
            dir.write("tree/" + name, bytes);
            dir.write("changed/" + name, bytes);
        };
        both("same.dll", VersionedPe(VersionedFile{{1, 0, 0, 0}, 0x0409, "Same", "(c) S"}));
        both("sub/deep.dll", VersionedPe(VersionedFile{{2, 0, 0, 0}}));
        both("notes.txt", "no version");
        dir.write("tree/newer.dll", VersionedPe(VersionedFile{{3, 1, 0, 0}}));
        dir.write("changed/newer.dll", VersionedPe(VersionedFile{{3, 0, 0, 0}}));
        dir.write("tree/gone.exe", VersionedPe(VersionedFile{{1, 0, 0, 0}}));
        dir.write("tree/older.dll", VersionedPe(VersionedFile{{1, 0, 0, 0}}));
        dir.write("changed/older.dll", VersionedPe(VersionedFile{{2, 0, 0, 0}}));
        dir.write("changed/only.dll", VersionedPe(VersionedFile{{1, 0, 0, 0}}));
        for (const auto& [tree, format] :
             {std::pair{"tree", ArchiveFormat::Zip}, std::pair{"tree", ArchiveFormat::TarGz},
              std::pair{"changed", ArchiveFormat::SevenZip}}) {
            const std::string archive = dir.file(tree + std::string(test::ArchiveExtension(format)));
            if (const auto made = test::MakeArchive(format, dir.file(tree), archive))
                GTEST_SKIP() << *made;
        }
    }

    Ran Compare(std::vector<std::string> args) {
        std::ostringstream out, err;
        const int status = RunCompare(args, out, err);
        return {status, out.str(), err.str()};
    }

    test::TempDir dir;
};

TEST_F(ArchiveCommandTest, AnArchivePrintsWhatItsFolderPrints) {
    const std::string tree = dir.file("tree");
    const std::string changed = dir.file("changed");
    const struct {
        std::vector<std::string> archives;
        std::vector<std::string> folders;
    } cases[] = {
        {{"tree.zip", "changed"}, {"tree", "changed"}},
        {{"tree.tar.gz", "changed"}, {"tree", "changed"}},
        {{"changed", "tree.zip"}, {"changed", "tree"}},
        {{"tree.tar.gz", "changed.7z"}, {"tree", "changed"}},
        {{"tree.zip"}, {"tree"}},
    };
    for (const auto& c : cases) {
        for (const std::vector<std::string>& options :
             {std::vector<std::string>{"-r", "--show", "all"}, {"-r", "--format", "csv"},
              {"--filter", "*.dll"}, {"-r", "--sort", "target-version", "--descending"}}) {
            std::vector<std::string> archiveArgs, folderArgs;
            for (const auto& a : c.archives)
                archiveArgs.push_back(dir.file(a));
            for (const auto& f : c.folders)
                folderArgs.push_back(dir.file(f));
            archiveArgs.insert(archiveArgs.end(), options.begin(), options.end());
            folderArgs.insert(folderArgs.end(), options.begin(), options.end());
            const Ran archive = Compare(archiveArgs);
            const Ran folder = Compare(folderArgs);
            SCOPED_TRACE(c.archives[0] + " " + options[0] + " " + options.back());
            EXPECT_EQ(archive.status, folder.status);
            EXPECT_EQ(archive.out, folder.out);
            EXPECT_EQ(archive.err, folder.err);
        }
    }
    // Every row of an archive against its own folder is "=".
    const Ran same = Compare({dir.file("tree.zip"), tree, "-r", "--show", "all", "--format", "json"});
    EXPECT_EQ(same.status, 1);
    const auto json = nlohmann::json::parse(same.out);
    ASSERT_EQ(json["rows"].size(), 5u);
    for (const auto& row : json["rows"])
        EXPECT_EQ(row["mark"], "=") << row["name"];
    EXPECT_EQ(json["source"], dir.file("tree.zip"));
}

TEST_F(ArchiveCommandTest, WhatArchivesCannotDoYetIsRefused) {
    const struct {
        std::vector<std::string> args;
        std::string says;
        bool copy = false;
    } cases[] = {
        {{"tree.zip", "changed", "--list", "newer-source"}, "the members of an archive have none"},
        {{"changed", "tree.zip", "--list", "newer-target"}, "the members of an archive have none"},
        {{"changed", "tree.zip"}, "nothing is copied into an archive", true},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args;
        for (const auto& a : c.args)
            args.push_back(a.ends_with(".zip") || a == "changed" ? dir.file(a) : a);
        std::ostringstream out, err;
        const int status = c.copy ? RunCopy(args, out, err) : RunCompare(args, out, err);
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        EXPECT_EQ(status, kUsageError);
        EXPECT_NE(err.str().find(c.says), std::string::npos) << err.str();
        EXPECT_EQ(out.str(), "");
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.map")));
    EXPECT_EQ(dir.read("changed/newer.dll"), VersionedPe(VersionedFile{{3, 0, 0, 0}}));
    // The paths of the folder's side are listed.
    const Ran orphans = Compare({dir.file("changed"), dir.file("tree.zip"), "--list", "orphans"});
    EXPECT_EQ(orphans.status, 1);
    EXPECT_EQ(orphans.out, dir.file("changed") + "/only.dll\n");
    const Ran newer = Compare({dir.file("tree.zip"), dir.file("changed"), "--list", "newer-target"});
    EXPECT_EQ(newer.status, 1);
    EXPECT_EQ(newer.out, dir.file("changed") + "/older.dll\n");
}

// Every file below `folder` with its bytes, by relative path.
std::map<std::string, std::string> Contents(const std::filesystem::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        files[std::filesystem::relative(entry.path(), folder).string()] =
            std::string(std::istreambuf_iterator<char>(in), {});
    }
    return files;
}

std::string Replaced(std::string text, const std::string& what, const std::string& with) {
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

TEST_F(ArchiveCommandTest, CopyFromAnArchiveDoesWhatCopyFromItsFolderDoes) {
    namespace fs = std::filesystem;
    const struct {
        const char* archive;
        std::vector<std::string> options;
        bool backups;
    } cases[] = {
        {"tree.zip", {"-r"}, true},
        {"tree.tar.gz", {"-r"}, true},
        {"tree.zip", {"-r", "--no-backup"}, false},
        {"tree.tar.gz", {"--filter", "new*"}, true},
        {"tree.zip", {"-r", "--dry-run"}, false},
        {"tree.zip", {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.archive) + " " + (c.options.empty() ? "" : c.options.back()));
        for (const char* work : {"by-archive", "by-folder"}) {
            fs::remove_all(dir.file(work));
            fs::copy(dir.file("changed"), dir.file(work), fs::copy_options::recursive);
        }
        const auto run = [&](const std::string& source, const std::string& target) {
            std::vector<std::string> args{dir.file(source), dir.file(target)};
            args.insert(args.end(), c.options.begin(), c.options.end());
            std::ostringstream out, err;
            const int status = RunCopy(args, out, err);
            return Ran{status, Replaced(out.str(), dir.file(target), "TARGET"),
                       Replaced(Replaced(err.str(), dir.file(target), "TARGET"), dir.file(source),
                                "SOURCE")};
        };
        const Ran archive = run(c.archive, "by-archive");
        const Ran folder = run("tree", "by-folder");
        EXPECT_EQ(archive.status, folder.status);
        EXPECT_EQ(archive.out, folder.out);
        EXPECT_EQ(archive.err, folder.err);
        EXPECT_NE(archive.out.find("newer.dll (3.01.0000 over 3.00.0000)"), std::string::npos)
            << archive.out;
        const auto copied = Contents(dir.file("by-archive"));
        EXPECT_EQ(copied, Contents(dir.file("by-folder")));
        const bool dryRun = std::ranges::find(c.options, "--dry-run") != c.options.end();
        EXPECT_EQ(copied.at("newer.dll"), dir.read(dryRun ? "changed/newer.dll" : "tree/newer.dll"));
        EXPECT_EQ(copied.contains("_Backup/newer.dll"), c.backups);
        if (c.backups)
            EXPECT_EQ(copied.at("_Backup/newer.dll"), dir.read("changed/newer.dll"));
    }
    // What copy would copy is what compare marks ">".
    const Ran compared = Compare(
        {dir.file("tree.zip"), dir.file("changed"), "-r", "--show", "all", "--format", "json"});
    std::ostringstream out, err;
    EXPECT_EQ(RunCopy({dir.file("tree.zip"), dir.file("changed"), "-r", "--dry-run"}, out, err), 0);
    std::string newer;
    const auto json = nlohmann::json::parse(compared.out);
    for (const auto& row : json["rows"])
        if (row["mark"] == ">")
            newer += "would copy " + row["name"].get<std::string>() + " (";
    std::string wouldCopy;
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with("would copy "))
            wouldCopy += line.substr(0, line.find('(') + 1);
    EXPECT_EQ(wouldCopy, newer);
    EXPECT_NE(newer, "");
}

TEST_F(ArchiveCommandTest, InfoListsAnArchivesVersionedMembers) {
    const std::string zip = dir.file("tree.zip");
    std::ostringstream out, err;
    ASSERT_EQ(RunInfo({"-r", zip}, out, err), 0) << err.str();
    // The listing compare gives without a target, under the archive's name.
    const Ran compared = Compare({zip, "-r"});
    std::string indented;
    std::istringstream lines(compared.out);
    for (std::string line; std::getline(lines, line);)
        indented += (line.empty() ? "" : "  ") + line + "\n";
    EXPECT_EQ(out.str(), zip + "\n" + indented);

    out.str("");
    ASSERT_EQ(RunInfo({"--json", "--filter", "*.dll", zip, dir.file("tree/same.dll")}, out, err), 0);
    const auto json = nlohmann::json::parse(out.str());
    ASSERT_EQ(json.size(), 4u); // the three DLLs at the root, then the file
    EXPECT_EQ(json[0]["path"], zip + "/newer.dll");
    EXPECT_EQ(json[0]["archive"], zip);
    EXPECT_EQ(json[0]["member"], "newer.dll");
    EXPECT_EQ(json[0]["version"], "3.01.0000");
    EXPECT_EQ(json[1]["member"], "older.dll");
    EXPECT_EQ(json[2]["member"], "same.dll");
    EXPECT_EQ(json[2]["description"], "Same");
    EXPECT_EQ(json[2]["size"], VersionedPe(VersionedFile{{1, 0, 0, 0}, 0x0409, "Same", "(c) S"}).size());
    EXPECT_EQ(json[3]["path"], dir.file("tree/same.dll"));
    EXPECT_FALSE(json[3].contains("archive"));
}

TEST_F(ArchiveCommandTest, InfoAllShowsEveryMemberWithItsSizeAndTime) {
    std::ostringstream out, err;
    ASSERT_EQ(RunInfo({"--all", "--json", "-r", dir.file("tree.tar.gz")}, out, err), 0) << err.str();
    const auto json = nlohmann::json::parse(out.str());
    std::map<std::string, nlohmann::json> byMember;
    for (const auto& member : json)
        byMember[member["member"]] = member;
    ASSERT_EQ(byMember.size(), 6u);
    EXPECT_EQ(byMember["notes.txt"]["version"], "");
    EXPECT_EQ(byMember["notes.txt"]["size"], 10);
    EXPECT_EQ(byMember["sub/deep.dll"]["fixed"]["fileVersion"], "2.0.0.0");
    EXPECT_GT(byMember["sub/deep.dll"]["modified"].get<std::int64_t>(), 1'000'000'000);
    EXPECT_EQ(byMember["gone.exe"]["path"], dir.file("tree.tar.gz") + "/gone.exe");

    // Text: one block a member, as for a file.
    out.str("");
    ASSERT_EQ(RunInfo({"--all", dir.file("tree.zip")}, out, err), 0);
    const std::string text = out.str();
    EXPECT_NE(text.find(dir.file("tree.zip") + "/same.dll\n  kind            version-resource\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("  file version    1.0.0.0\n"), std::string::npos);
    EXPECT_NE(text.find("  modified        "), std::string::npos);
    EXPECT_EQ(text.find("sub/deep.dll"), std::string::npos); // not without -r
}

TEST_F(ArchiveCommandTest, AMapSavedFromAnArchiveComparesAsTheArchive) {
    for (const char* archive : {"tree.zip", "tree.tar.gz", "changed.7z"}) {
        SCOPED_TRACE(archive);
        const std::string map = dir.file(std::string(archive) + ".map");
        const std::string other = dir.file(archive == std::string("changed.7z") ? "tree" : "changed");
        for (const std::vector<std::string>& options :
             {std::vector<std::string>{"-r", "--show", "all", "--format", "csv"},
              {"--filter", "*.dll", "--format", "json"}}) {
            std::vector<std::string> saving = {dir.file(archive), other, "--save-map", map};
            saving.insert(saving.end(), options.begin(), options.end());
            const Ran direct = Compare(saving);
            ASSERT_NE(direct.status, kUsageError) << direct.err;
            EXPECT_EQ(dir.read(std::string(archive) + ".map").rfind(dir.file(archive) + "\r\n", 0), 0u);
            std::vector<std::string> reading = {map, other};
            for (const std::string& option : options)
                if (option != "-r")
                    reading.push_back(option);
            const Ran viaMap = Compare(reading);
            EXPECT_EQ(viaMap.status, direct.status);
            EXPECT_EQ(viaMap.err, direct.err);
            // The same rows; JSON names the map as the source.
            std::string expected = direct.out;
            if (options.back() == "json") {
                auto json = nlohmann::json::parse(direct.out);
                auto got = nlohmann::json::parse(viaMap.out);
                EXPECT_EQ(got["rows"], json["rows"]);
                EXPECT_EQ(got["source"], map);
            } else {
                EXPECT_EQ(viaMap.out, direct.out);
            }
        }
    }
}

TEST_F(ArchiveCommandTest, InfoAllShowsAnInstallersFileTableVersion) {
    const std::string app = VersionedPe(VersionedFile{{5, 0, 2134, 1}, 0x0409, "App"});
    const std::string lib = VersionedPe(VersionedFile{{2, 3, 0, 0}, 0x0407, "Lib"});
    const std::vector<std::string> queries = {
        "UPDATE `File` SET `Version` = '9.9.9.9', `Language` = '1033' WHERE `File` = 'app'",
        "UPDATE `File` SET `Version` = '2.3.0.0', `Language` = '1031' WHERE `File` = 'lib'"};
    const struct {
        const char* label;
        bool embedded;
        const char* member;
        std::string version, tableLine;
        bool differs;
        bool note;
    } cases[] = {
        {"differs", true, "app.exe", "5.00.2134.01",
         "  File table ver. 9.9.9.9 (differs from the file's own version)\n", true, false},
        {"agrees", true, "lib.dll", "2.03.0000", "  File table ver. 2.3.0.0\n", false, false},
        {"cabinet missing", false, "app.exe", "9.9.9.9", "  File table ver. 9.9.9.9\n", false,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string msi = dir.file(c.embedded ? "embedded.msi" : "external.msi");
        if (!std::filesystem::exists(msi))
            if (const auto made =
                    test::MakeMsi(msi, {{"app", "app.exe", app}, {"lib", "lib.dll", lib}},
                                  c.embedded, queries))
                GTEST_SKIP() << *made;
        std::ostringstream out, err;
        ASSERT_EQ(RunInfo({"--all", "--json", msi}, out, err), 0) << err.str();
        nlohmann::json member;
        for (const auto& m : nlohmann::json::parse(out.str()))
            if (m["member"] == c.member)
                member = m;
        ASSERT_FALSE(member.is_null()) << out.str();
        EXPECT_EQ(member["version"], c.version);
        EXPECT_EQ(member["declaredVersionDiffers"], c.differs);
        EXPECT_EQ(member.contains("note"), c.note);

        out.str("");
        ASSERT_EQ(RunInfo({"--all", msi}, out, err), 0) << err.str();
        const std::string text = out.str();
        const auto block = text.find(msi + "/" + c.member + "\n");
        ASSERT_NE(block, std::string::npos) << text;
        const auto next = text.find("\n/", block);
        const std::string shown =
            text.substr(block, next == std::string::npos ? std::string::npos : next + 1 - block);
        EXPECT_NE(shown.find("  version         " + c.version + "\n"), std::string::npos) << shown;
        EXPECT_NE(shown.find(c.tableLine), std::string::npos) << shown;
        EXPECT_EQ(shown.find("  note            Version from the File table: the file's cabinet "
                             "is missing.\n") != std::string::npos,
                  c.note)
            << shown;
    }
}

constexpr const char* kHostileZip = R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    z.writestr('ok.dll', open(sys.argv[2], 'rb').read())
    z.writestr('../\x1b[31mevil.dll', b'MZ')
)PY";

TEST_F(ArchiveCommandTest, HostileMembersAreNamedAndTheStatusIsTwo) {
    if (test::PythonProgram().empty())
        GTEST_SKIP() << "no Python";
    const std::string zip = dir.file("hostile.zip");
    ASSERT_EQ(test::RunPython(kHostileZip, {zip, dir.file("tree/same.dll")}), 0);
    const std::string named =
        "sorvane-cli: " + zip + "/../\\x1b[31mevil.dll: the member's name leads outside the "
                                "archive's tree\n";
    const Ran compared = Compare({zip, "--show", "all"});
    EXPECT_EQ(compared.status, kUsageError);
    EXPECT_NE(compared.out.find("ok.dll"), std::string::npos);
    EXPECT_EQ(compared.err, named + "1 entry could not be read.\n");
    for (const bool all : {false, true}) {
        std::ostringstream out, err;
        std::vector<std::string> args = {zip};
        if (all)
            args.insert(args.begin(), "--all");
        EXPECT_EQ(RunInfo(args, out, err), kUsageError);
        EXPECT_EQ(err.str(), named);
        EXPECT_NE(out.str().find("ok.dll"), std::string::npos);
    }
}

TEST_F(ArchiveCommandTest, AFileThatOnlyLooksLikeAnArchiveIsShownAsAFile) {
    std::string compound = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
    compound.append(600, '\0');
    const std::string doc = dir.write("letter.doc", compound);
    std::ostringstream out, err;
    EXPECT_EQ(RunInfo({doc}, out, err), 0);
    EXPECT_EQ(out.str().rfind(doc + "\n  kind            version-resource\n", 0), 0u) << out.str();
    EXPECT_EQ(err.str(), "");
}

} // namespace
} // namespace sorvane::cli
