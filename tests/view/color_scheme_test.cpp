#include "qt_printers.h"
#include "view/color_scheme.h"

#include <algorithm>
#include <cmath>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <map>
#include <string>

namespace sorvane::view {
namespace {

QPalette PaletteOf(QColor base, QColor text, QColor window) {
    QPalette palette;
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::ButtonText, text);
    return palette;
}

struct NamedPalette {
    const char* name;
    QPalette palette;
    bool dark;
};

// Light and dark palettes as desktops ship them.
std::vector<NamedPalette> Palettes() {
    return {
        {"white", PaletteOf(Qt::white, Qt::black, QColor(239, 239, 239)), false},
        {"Adwaita", PaletteOf(QColor(255, 255, 255), QColor(46, 52, 54), QColor(246, 245, 244)), false},
        {"warm light", PaletteOf(QColor(252, 248, 236), QColor(40, 40, 40), QColor(235, 230, 220)), false},
        {"Adwaita dark", PaletteOf(QColor(36, 36, 36), QColor(255, 255, 255), QColor(53, 53, 53)), true},
        {"Breeze dark", PaletteOf(QColor(35, 38, 41), QColor(252, 252, 252), QColor(49, 54, 59)), true},
        {"dark blue", PaletteOf(QColor(30, 30, 46), QColor(205, 214, 244), QColor(24, 24, 37)), true},
        {"black", PaletteOf(Qt::black, Qt::white, Qt::black), true},
    };
}

TEST(Contrast, FollowsTheRelativeLuminanceFormula) {
    struct Case {
        QColor a, b;
        double ratio;
    };
    for (const Case& c : {Case{Qt::black, Qt::white, 21.0}, Case{Qt::white, Qt::black, 21.0},
                          Case{QColor(0, 0, 255), Qt::white, 8.59},
                          Case{QColor(255, 0, 0), Qt::white, 4.00},
                          Case{QColor(128, 0, 128), Qt::white, 9.42},
                          Case{QColor(0, 128, 0), Qt::white, 5.14},
                          Case{QColor(119, 119, 119), Qt::white, 4.48},
                          Case{QColor(0, 0, 255), QColor(36, 36, 36), 1.81},
                          Case{QColor(128, 0, 128), QColor(36, 36, 36), 1.65},
                          Case{QColor(90, 90, 90), QColor(90, 90, 90), 1.0}}) {
        EXPECT_NEAR(ContrastRatio(c.a, c.b), c.ratio, 0.01) << c.a.name().toStdString() << " on " << c.b.name().toStdString();
    }
    EXPECT_NEAR(RelativeLuminance(Qt::white), 1.0, 1e-9);
    EXPECT_NEAR(RelativeLuminance(Qt::black), 0.0, 1e-9);
}

// Every default category colour reads at 4.5:1 or better on a dark base (at
// 3:1 on a light one, where the classic colours stay), keeps its hue, and is
// moved only as far as needed: lighter on a dark base, darker on a light
// one, unchanged where the classic colour reads.
TEST(ColorDefaults, AreReadableOnLightAndDarkPalettesAndKeepTheirHue) {
    for (const NamedPalette& p : Palettes()) {
        EXPECT_EQ(IsDarkPalette(p.palette), p.dark) << p.name;
        const ColorSet set = ColorSet::Defaults(p.palette);
        const QColor base = p.palette.color(QPalette::Base);
        EXPECT_EQ(set.color(kBackgroundColor), base) << p.name;
        EXPECT_EQ(set.color(kRegularTextColor), p.palette.color(QPalette::Text)) << p.name;
        EXPECT_EQ(set.colors[kOrphansColor], set.colors[kRegularTextColor]) << p.name;
        for (int i = kNewerSourceColor; i <= kCopiedFileColor; ++i) {
            const QColor classic = FromColorRef(ClassicColor(i, p.palette));
            const QColor chosen = set.color(i);
            const double contrast = ContrastRatio(chosen, base);
            const double wanted = p.dark ? kReadableContrast : kLowContrast;
            EXPECT_EQ(DefaultContrast(base), wanted) << p.name;
            EXPECT_GE(contrast, wanted) << p.name << " " << kColorKeys[i];
            EXPECT_NEAR(chosen.hslHueF(), classic.hslHueF(), 0.01) << p.name << " " << i;
            if (ContrastRatio(classic, base) >= wanted) {
                EXPECT_EQ(chosen, classic) << p.name << " " << i;
            } else if (p.dark) {
                EXPECT_GT(chosen.lightnessF(), classic.lightnessF()) << p.name << " " << i;
                // Just far enough: one step less would not read.
                const QColor less = QColor::fromHslF(chosen.hslHueF(), chosen.hslSaturationF(),
                                                     chosen.lightnessF() - 0.01);
                EXPECT_LT(ContrastRatio(less, base), kReadableContrast) << p.name << " " << i;
            } else {
                EXPECT_LT(chosen.lightnessF(), classic.lightnessF()) << p.name << " " << i;
            }
            EXPECT_FALSE(set.userSet[static_cast<std::size_t>(i)]);
        }
    }
}

// A background the user chooses moves the default category colours with it;
// colours the user chose stay as they are.
TEST(ColorDefaults, FollowAUserBackgroundAndLeaveUserColoursAlone) {
    const QPalette light = Palettes()[0].palette;
    ColorSet set = ColorSet::Defaults(light);
    set.Set(kNewerTargetColor, 0x000000FFu); // the user's own red, on purpose
    set.Set(kBackgroundColor, ToColorRef(QColor(20, 20, 20)));
    EXPECT_EQ(set.colors[kNewerTargetColor], 0x000000FFu);
    for (const int i : {kNewerSourceColor, kUnequalLanguageColor, kDifferentSizeColor,
                        kIncomparableColor, kCopiedFileColor})
        EXPECT_GE(ContrastRatio(set.color(i), QColor(20, 20, 20)), kReadableContrast) << i;
    set.Set(kBackgroundColor, ToColorRef(Qt::white));
    EXPECT_EQ(set.colors[kNewerSourceColor], 0x00FF0000u);
    EXPECT_EQ(set.colors[kCopiedFileColor], 0x00008000u);
}

using Stored = std::map<std::string, double>;

ColorSet Restore(const QPalette& palette, const Stored& file) {
    return RestoreColors(palette, [&](const char* key, double fallback) {
        const auto it = file.find(key);
        return it == file.end() ? fallback : it->second;
    });
}

Stored Store(const ColorSet& set, const QPalette& palette) {
    Stored file;
    for (const auto& [key, value] : StoredColors(set, palette))
        file[key] = value;
    return file;
}

// The settings file keeps what the user chose and marks the rest as
// defaults, which then follow the palette of each run. Files of older
// versions (no list of defaults) count the classic values as defaults.
TEST(ColorSettings, KeepUserColoursExactlyAndDefaultsFollowThePalette) {
    const QPalette light = Palettes()[0].palette;
    const QPalette dark = Palettes()[3].palette;
    struct Case {
        const char* name;
        QPalette palette;
        Stored file;
        std::vector<int> user; ///< colours that come back as the user's
        std::map<int, ColorRef> values; ///< colours that must come back exactly
    };
    const std::vector<Case> cases{
        {"no file, dark", dark, {}, {}, {}},
        {"old file of classic values, dark", dark,
         {{"Background", 0xFFFFFF}, {"Regular Text", 0}, {"Newer Source", 16711680},
          {"Newer Target", 255}, {"Unequal Language", 8388736}, {"Different Size", 8388736},
          {"Incomparable", 8388736}, {"Copied File", 32768}, {"Orphans", 0}},
         {kBackgroundColor, kRegularTextColor},
         {{kBackgroundColor, 0xFFFFFF}, {kRegularTextColor, 0}}},
        {"old file with a colour of the user's", dark,
         {{"Background", 0x242424}, {"Regular Text", 0xFFFFFF}, {"Newer Source", 0x123456}},
         {kNewerSourceColor},
         {{kNewerSourceColor, 0x123456}}},
        {"new file: listed defaults follow the palette", dark,
         {{"Background", 0xFFFFFF}, {"Regular Text", 0}, {"Newer Source", 16711680},
          {"Newer Target", 0x0000EE}, {"Defaults", 0b111110111}},
         {kNewerTargetColor},
         {{kNewerTargetColor, 0x0000EE}}},
        {"new file: a user colour equal to the classic value stays", dark,
         {{"Newer Source", 16711680}, {"Defaults", 0b111111011}},
         {kNewerSourceColor},
         {{kNewerSourceColor, 16711680}}},
        {"user regular text carries the orphans along", light,
         {{"Regular Text", 0x404040}, {"Orphans", 0x404040}, {"Defaults", 0b111111101}},
         {kRegularTextColor},
         {{kRegularTextColor, 0x404040}, {kOrphansColor, 0x404040}}},
        {"out of range values are ignored", light,
         {{"Newer Source", -5}, {"Copied File", 0x1000000}}, {}, {}},
    };
    for (const Case& c : cases) {
        const ColorSet set = Restore(c.palette, c.file);
        const ColorSet defaults = ColorSet::Defaults(c.palette);
        for (int i = 0; i < kColorCount; ++i) {
            const auto slot = static_cast<std::size_t>(i);
            const bool user = std::find(c.user.begin(), c.user.end(), i) != c.user.end();
            EXPECT_EQ(set.userSet[slot], user) << c.name << " " << kColorKeys[slot];
            if (const auto it = c.values.find(i); it != c.values.end()) {
                EXPECT_EQ(set.colors[slot], it->second) << c.name << " " << kColorKeys[slot];
            } else if (!user && i != kOrphansColor && !set.userSet[kBackgroundColor]) {
                EXPECT_EQ(set.colors[slot], defaults.colors[slot]) << c.name << " " << kColorKeys[slot];
            }
            if (!user && i >= kNewerSourceColor && i <= kCopiedFileColor) {
                EXPECT_GE(ContrastRatio(set.color(i), set.color(kBackgroundColor)),
                          DefaultContrast(set.color(kBackgroundColor)))
                    << c.name << " " << kColorKeys[slot];
            }
        }
        // Written and read again, on either palette, the user's colours are
        // the same and the defaults are the palette's.
        for (const QPalette& next : {light, dark}) {
            const Stored written = Store(set, c.palette);
            const ColorSet again = Restore(next, written);
            const ColorSet nextDefaults = ColorSet::Defaults(next);
            for (int i = 0; i < kColorCount; ++i) {
                const auto slot = static_cast<std::size_t>(i);
                EXPECT_EQ(again.userSet[slot], set.userSet[slot]) << c.name << " " << i;
                if (set.userSet[slot]) {
                    EXPECT_EQ(again.colors[slot], set.colors[slot]) << c.name << " " << i;
                } else if (i != kOrphansColor && !set.userSet[kBackgroundColor]) {
                    EXPECT_EQ(again.colors[slot], nextDefaults.colors[slot]) << c.name << " " << i;
                }
                // A default is written as its classic value, never as the
                // variant worked out for this palette.
                if (!set.userSet[slot] && i >= kNewerSourceColor && i <= kCopiedFileColor) {
                    EXPECT_EQ(written.at(kColorKeys[slot]), ClassicColor(i, c.palette)) << c.name;
                }
            }
        }
    }
}

TEST(ColorSettings, ALowContrastUserColourIsFoundOnce) {
    const QPalette dark = Palettes()[3].palette;
    struct Case {
        const char* name;
        std::vector<std::pair<int, ColorRef>> chosen;
        int found; ///< -1 for none
    };
    const std::vector<Case> cases{
        {"defaults only", {}, -1},
        {"readable user colour", {{kNewerSourceColor, 0x00FFC080}}, -1},
        {"dark blue on dark", {{kNewerSourceColor, 0x00800000}}, kNewerSourceColor},
        {"first of two", {{kCopiedFileColor, 0x00202020}, {kNewerTargetColor, 0x00000040}},
         kNewerTargetColor},
        {"a background like the text", {{kBackgroundColor, 0x00F0F0F0}}, kRegularTextColor},
    };
    for (const Case& c : cases) {
        ColorSet set = ColorSet::Defaults(dark);
        for (const auto& [index, value] : c.chosen)
            set.Set(index, value);
        const auto low = LowContrastColor(set);
        EXPECT_EQ(low ? low->first : -1, c.found) << c.name;
        if (low) {
            EXPECT_LT(low->second, kLowContrast) << c.name;
            EXPECT_NEAR(low->second, ContrastRatio(set.color(low->first), set.color(kBackgroundColor)),
                        1e-9);
        }
    }
}

// On a dark palette the icons' dark strokes and fills are drawn lighter, in
// their own hue; light ones and every colour on a light palette are kept.
TEST(ToolbarIcons, DarkStrokesAreLightenedOnADarkPalette) {
    const QByteArray svg =
        R"(<svg><circle fill="#eaf2fc" stroke="#1f3b66" stroke-width="2"/>)"
        R"(<line stroke="#1F3B66"/><rect fill="#d23c3c" stroke="#555"/><path fill="none"/></svg>)";
    for (const NamedPalette& p : Palettes()) {
        const QByteArray drawn = ReadableSvg(svg, p.palette);
        if (!p.dark) {
            EXPECT_EQ(drawn, svg) << p.name;
            continue;
        }
        const QColor window = p.palette.color(QPalette::Window);
        const QString text = QString::fromUtf8(drawn);
        EXPECT_TRUE(text.contains(QStringLiteral(R"(fill="#eaf2fc")"))) << p.name;
        EXPECT_TRUE(text.contains(QStringLiteral(R"(fill="none")"))) << p.name;
        EXPECT_FALSE(text.contains(QStringLiteral("#1f3b66"), Qt::CaseInsensitive)) << p.name;
        // Every colour left in the icon can be seen on the window.
        static const QRegularExpression kColor(QStringLiteral("#[0-9A-Fa-f]{3,6}"));
        int colours = 0;
        for (auto it = kColor.globalMatch(text); it.hasNext(); ++colours) {
            const QColor color = QColor::fromString(it.next().captured());
            EXPECT_GE(ContrastRatio(color, window), kLowContrast) << p.name << " " << color.name().toStdString();
        }
        EXPECT_EQ(colours, 5) << p.name;
        const QColor stroke = QColor::fromString(
            text.mid(text.indexOf(QStringLiteral("stroke=\"")) + 8, 7));
        EXPECT_NEAR(stroke.hslHueF(), QColor(0x1f, 0x3b, 0x66).hslHueF(), 0.01) << p.name;
    }
}

} // namespace
} // namespace sorvane::view
