#include "engine/settings/settings_store.h"
#include "platform/dialogs.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace sorvane::platform {
namespace {

class FindStateFile : public ::testing::Test {
protected:
    test::TempDir dir;
    std::string file = dir.file("Sorvane.dat");
};

TEST_F(FindStateFile, RoundTripKeepsTextWithBlanksAndOptions) {
    FindState saved;
    saved.text = QStringLiteral(" kernel32 ");
    saved.options = FindState::kWholeWord | FindState::kSearchUp;
    saved.Save(file, "FindBox");

    FindState loaded;
    loaded.Load(file, "FindBox");
    EXPECT_EQ(loaded.text, saved.text);
    EXPECT_EQ(loaded.options, 9);

    // Another section is another state.
    FindState other;
    other.text = QStringLiteral("kept");
    other.Load(file, "Elsewhere");
    EXPECT_EQ(other.text, "kept");
    EXPECT_EQ(other.options, 0);
}

TEST_F(FindStateFile, EmptyTextAndNonAsciiTextRoundTrip) {
    FindState saved;
    saved.options = FindState::kMatchCase;
    saved.Save(file, "FindBox");
    FindState loaded;
    loaded.text = QStringLiteral("before");
    loaded.Load(file, "FindBox");
    EXPECT_EQ(loaded.text, ""); // a saved empty text is not a missing key
    EXPECT_EQ(loaded.options, FindState::kMatchCase);

    saved.text = QString::fromUtf8("Größe \"1.0\"");
    saved.Save(file, "FindBox");
    loaded.Load(file, "FindBox");
    EXPECT_EQ(loaded.text, saved.text);
}

TEST_F(FindStateFile, MissingKeysKeepDefaultsAndUnknownBitsAreDropped) {
    FindState state;
    state.text = QStringLiteral("abc");
    state.options = FindState::kMatchCase;
    state.Load(file, "FindBox"); // no file at all
    EXPECT_EQ(state.text, "abc");
    EXPECT_EQ(state.options, FindState::kMatchCase);

    WriteNumberSetting(file, "FindBox", "Options", 255);
    state.Load(file, "FindBox");
    EXPECT_EQ(state.text, "abc");
    EXPECT_EQ(state.options, FindState::kWholeWord | FindState::kMatchCase | FindState::kSearchUp);

    // A text written by hand without quotes is taken as it stands.
    WriteSetting(file, "FindBox", "Text", "msvcrt");
    state.Load(file, "FindBox");
    EXPECT_EQ(state.text, "msvcrt");
}

} // namespace
} // namespace sorvane::platform
