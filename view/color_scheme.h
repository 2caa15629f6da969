#pragma once
// Colours that stay readable on the palette in use: contrast as the WCAG
// defines it, the default colour set worked out for the palette, which
// colours were set by the user, how the set is kept in the settings file,
// and tool bar icons redrawn for a dark palette.

#include "view/result_model.h"

#include <functional>
#include <optional>
#include <QByteArray>
#include <QColor>
#include <QPalette>
#include <utility>
#include <vector>

namespace sorvane::view {

/// Contrast that keeps text readable; the defaults are chosen to reach it.
inline constexpr double kReadableContrast = 4.5;
/// Below this a colour the user chose is pointed out as hard to read.
inline constexpr double kLowContrast = 3.0;

/// The relative luminance of an sRGB colour, 0 (black) to 1 (white).
double RelativeLuminance(const QColor& color);
/// (lighter + 0.05) / (darker + 0.05): 1 for equal colours, 21 for black on white.
double ContrastRatio(const QColor& a, const QColor& b);
/// The contrast the default category colours keep against `background`:
/// kReadableContrast on a dark background, where they are lightened as far as
/// needed; kLowContrast on a light one, where the classic colours stay as
/// they have always looked unless the background makes one hard to read.
double DefaultContrast(const QColor& background);
/// True when the palette draws light text on a dark base.
bool IsDarkPalette(const QPalette& palette);
/// `color` itself when it has at least `minimum` contrast against
/// `background`; otherwise the variant of the same hue and saturation that is
/// just light enough (on a dark background) or dark enough (on a light one).
QColor ReadableVariant(const QColor& color, const QColor& background, double minimum);

/// The value colour `index` has when the user never chose one: for the
/// category colours 2 to 7 the classic value (blue, red, purple, purple,
/// purple, dark green), for background, regular text and orphans the
/// palette's. This is what the settings file holds for a default.
ColorRef ClassicColor(int index, const QPalette& palette);

/// The settings key that lists, as bits by colour index, the colours left at
/// their defaults when the file was written.
inline constexpr const char* kDefaultColorsKey = "Defaults";

/// Reads a number from the settings section "Color": the key and the value
/// to give when the key is missing.
using ColorReader = std::function<double(const char* key, double fallback)>;

/// The colour set as the settings file keeps it, on `palette`: colours the
/// user set come back exactly, defaults are the palette's. A file without
/// the list of defaults (written by an older version) counts a colour as a
/// default when it holds the value ClassicColor gives.
ColorSet RestoreColors(const QPalette& palette, const ColorReader& read);
/// The keys and values to write into the section "Color": the user's colours
/// as they are, defaults as ClassicColor gives them (so a file written on a
/// dark palette reads the same on a light one), and the list of defaults.
std::vector<std::pair<const char*, ColorRef>> StoredColors(const ColorSet& colors,
                                                           const QPalette& palette);

/// The first colour the user set (among the text colours, or the background)
/// that reads at less than kLowContrast against the background, with its
/// contrast; nothing when all read well.
std::optional<std::pair<int, double>> LowContrastColor(const ColorSet& colors);

/// An SVG icon redrawn for `palette`: on a dark palette each stroke or fill
/// colour with less than 3:1 against the window colour becomes a lighter
/// variant of its hue. On a light palette the icon is returned unchanged.
QByteArray ReadableSvg(const QByteArray& svg, const QPalette& palette);

} // namespace sorvane::view
