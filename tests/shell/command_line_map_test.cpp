// A Source Map named on the command line, as a file manager or the desktop
// entry passes it, is opened as the Source.

#include "window_fixture.h"

namespace sorvane::shell::test_window {
namespace {

TEST_F(MainWindowTest, AMapNamedOnTheCommandLineIsTheSource) {
    MakeTrees();
    // Saved from src (the name's letter case does not matter): its rows are
    // compared against dst; src itself is not walked, so sub/lone.dll is not
    // listed.
    const std::string map = dir.file("release.MAP");
    dir.write("release.MAP", dir.file("src") + "\r\n"
                                 "newer.dll|.dll|2.00.0000|English (United States)|0\r\n"
                                 "older.dll|.dll|1.00.0000|English (United States)|0\r\n");
    auto w = Open(Q(map));
    EXPECT_TRUE(w->SourceIsMap());
    EXPECT_EQ(w->sourceBox()->Text(), Q(map));
    w->targetBox()->SetText(Q(dir.file("dst")));
    w->viewCommands().mViewShowFiles_Click(0);
    Scan(*w);
    EXPECT_EQ(Names(*w), (std::vector<std::string>{"newer.dll", "older.dll"}));
    EXPECT_EQ(w->Counters()[0], 1); // newer source
    EXPECT_EQ(w->Counters()[1], 1); // newer target
}

} // namespace
} // namespace sorvane::shell::test_window
