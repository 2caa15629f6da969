#include "engine/settings/settings_location.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace sorvane {
namespace {

TEST(LocateSettingsFile, FollowsTheOrderOfPlaces) {
    test::TempDir dir;
    SettingsLocationInputs in;
    in.executableFolder = dir.file("bin");
    in.home = "/home/user";

    // Nothing given: the XDG folder, else ~/.config.
    EXPECT_EQ(LocateSettingsFile(in), "/home/user/.config/Sorvane/Sorvane.dat");
    in.xdgConfigHome = "/xdg";
    EXPECT_EQ(LocateSettingsFile(in), "/xdg/Sorvane/Sorvane.dat");
    in.xdgConfigHome = "relative/xdg"; // not absolute: ignored, as the XDG rules say
    EXPECT_EQ(LocateSettingsFile(in), "/home/user/.config/Sorvane/Sorvane.dat");

    // A writable Sorvane.dat beside the program makes it portable.
    const std::string beside = dir.write("bin/Sorvane.dat", "");
    EXPECT_EQ(LocateSettingsFile(in), beside);

    in.environment = "/env/s.dat";
    EXPECT_EQ(LocateSettingsFile(in), "/env/s.dat");
    in.commandLine = "/cli/s.dat";
    EXPECT_EQ(LocateSettingsFile(in), "/cli/s.dat");
    in.commandLine = ""; // empty values count as missing
    EXPECT_EQ(LocateSettingsFile(in), "/env/s.dat");
    in.commandLine = "rel.dat";
    EXPECT_EQ(LocateSettingsFile(in), (std::filesystem::current_path() / "rel.dat").string());
}

TEST(LocateSettingsFile, WithoutHomeTheAccountsHomeAndNeverASharedFolder) {
    struct Case {
        std::optional<std::string> home;
        std::optional<std::string> accountHome;
        std::string expected;
    };
    const std::vector<Case> cases{
        {"/home/user", "/home/account", "/home/user/.config/Sorvane/Sorvane.dat"},
        {std::nullopt, "/home/account", "/home/account/.config/Sorvane/Sorvane.dat"},
        {"", "/root", "/root/.config/Sorvane/Sorvane.dat"},
        {std::nullopt, std::nullopt, ""},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        SettingsLocationInputs in;
        in.home = c.home;
        in.accountHome = c.accountHome;
        EXPECT_EQ(LocateSettingsFile(in), c.expected);
    }
    // This process's account has a home folder, and it is not a temporary one.
    const std::string account = AccountHomeFolder();
    EXPECT_FALSE(account.empty());
    EXPECT_FALSE(account.starts_with(std::filesystem::temp_directory_path().string()));
}

TEST(LocateSettingsFile, SkipsAFileBesideTheProgramThatCannotBeWritten) {
    test::TempDir dir;
    std::filesystem::create_directories(dir.file("bin/Sorvane.dat")); // a folder, not a file
    SettingsLocationInputs in;
    in.executableFolder = dir.file("bin");
    in.xdgConfigHome = "/xdg";
    EXPECT_EQ(LocateSettingsFile(in), "/xdg/Sorvane/Sorvane.dat");
}

TEST(ExecutableFolder, IsTheFolderOfThisTestProgram) {
    EXPECT_TRUE(
        std::filesystem::exists(std::filesystem::path(ExecutableFolder()) / "engine_tests"));
}

} // namespace
} // namespace sorvane
