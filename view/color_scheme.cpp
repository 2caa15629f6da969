#include "view/color_scheme.h"

#include <algorithm>
#include <cmath>
#include <QRegularExpression>

namespace sorvane::view {
namespace {

// The category colours' classic values, indexed like the colour set.
constexpr std::array<ColorRef, kColorCount> kClassic = {
    0,           0,           0x00FF0000u, // blue
    0x000000FFu,                           // red
    0x00800080u,                           // purple
    0x00800080u, 0x00800080u, 0x00008000u, // dark green
    0,
};

double Linear(double channel) {
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

// Steps of lightness tried when a colour is moved away from the background.
constexpr int kLightnessSteps = 200;

} // namespace

double RelativeLuminance(const QColor& color) {
    const QColor rgb = color.toRgb();
    return 0.2126 * Linear(rgb.redF()) + 0.7152 * Linear(rgb.greenF()) +
           0.0722 * Linear(rgb.blueF());
}

double ContrastRatio(const QColor& a, const QColor& b) {
    const double la = RelativeLuminance(a);
    const double lb = RelativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

bool IsDarkPalette(const QPalette& palette) {
    return RelativeLuminance(palette.color(QPalette::Base)) <
           RelativeLuminance(palette.color(QPalette::Text));
}

QColor ReadableVariant(const QColor& color, const QColor& background, double minimum) {
    if (ContrastRatio(color, background) >= minimum)
        return color.toRgb();
    const bool lighter = ContrastRatio(Qt::white, background) >= ContrastRatio(Qt::black, background);
    const QColor hsl = color.toHsl();
    const double hue = std::max(0.0, static_cast<double>(hsl.hslHueF())); // -1 for greys
    const double saturation = hsl.hslSaturationF();
    const double start = hsl.lightnessF();
    const double end = lighter ? 1.0 : 0.0;
    for (int step = 1; step <= kLightnessSteps; ++step) {
        const double lightness = start + (end - start) * step / kLightnessSteps;
        // Rounded to whole channels, as the colour is stored.
        const QColor candidate = QColor::fromHslF(hue, saturation, lightness).toRgb();
        const QColor stored(candidate.red(), candidate.green(), candidate.blue());
        if (ContrastRatio(stored, background) >= minimum)
            return stored;
    }
    return lighter ? QColor(Qt::white) : QColor(Qt::black);
}

ColorRef ClassicColor(int index, const QPalette& palette) {
    switch (index) {
    case kBackgroundColor:
        return ToColorRef(palette.color(QPalette::Base));
    case kRegularTextColor:
    case kOrphansColor:
        return ToColorRef(palette.color(QPalette::Text));
    default:
        return kClassic.at(static_cast<std::size_t>(index));
    }
}

double DefaultContrast(const QColor& background) {
    const bool dark = ContrastRatio(background, Qt::white) > ContrastRatio(background, Qt::black);
    return dark ? kReadableContrast : kLowContrast;
}

ColorSet ColorSet::Defaults(const QPalette& palette) {
    ColorSet set;
    for (int i = 0; i < kColorCount; ++i)
        set.colors[static_cast<std::size_t>(i)] = ClassicColor(i, palette);
    set.AdaptDefaults();
    return set;
}

void ColorSet::AdaptDefaults() {
    const QColor background = color(kBackgroundColor);
    const double wanted = DefaultContrast(background);
    for (int i = kNewerSourceColor; i <= kCopiedFileColor; ++i) {
        const auto slot = static_cast<std::size_t>(i);
        if (!userSet[slot])
            colors[slot] =
                ToColorRef(ReadableVariant(FromColorRef(kClassic[slot]), background, wanted));
    }
}

void ColorSet::Set(int index, ColorRef color) {
    auto& slot = colors.at(static_cast<std::size_t>(index));
    if (index == kRegularTextColor && (!userSet[kOrphansColor] || colors[kOrphansColor] == slot))
        colors[kOrphansColor] = color;
    slot = color;
    userSet[static_cast<std::size_t>(index)] = true;
    if (index == kBackgroundColor)
        AdaptDefaults();
}

ColorSet RestoreColors(const QPalette& palette, const ColorReader& read) {
    ColorSet set = ColorSet::Defaults(palette);
    const double listed = read(kDefaultColorsKey, -1);
    const bool hasList = listed >= 0 && listed < (1 << kColorCount);
    const auto defaults = hasList ? static_cast<unsigned>(listed) : 0u;
    for (int i = 0; i < kColorCount; ++i) {
        const auto slot = static_cast<std::size_t>(i);
        const ColorRef classic = i == kOrphansColor && set.userSet[kRegularTextColor]
                                     ? set.colors[kRegularTextColor]
                                     : ClassicColor(i, palette);
        const double stored = read(kColorKeys[slot], classic);
        const auto value = static_cast<ColorRef>(stored);
        const bool isDefault = hasList ? (defaults >> i & 1u) != 0 : value == classic;
        if (isDefault || stored < 0 || stored > 0x00FFFFFF)
            continue;
        // Set keeps orphans with regular text and defaults with the background.
        set.Set(i, value);
    }
    return set;
}

std::vector<std::pair<const char*, ColorRef>> StoredColors(const ColorSet& colors,
                                                           const QPalette& palette) {
    std::vector<std::pair<const char*, ColorRef>> stored;
    unsigned defaults = 0;
    for (int i = 0; i < kColorCount; ++i) {
        const auto slot = static_cast<std::size_t>(i);
        ColorRef value = colors.colors[slot];
        if (!colors.userSet[slot]) {
            defaults |= 1u << i;
            // Orphans left alone look like regular text, whoever set it.
            if (i != kOrphansColor || !colors.userSet[kRegularTextColor])
                value = ClassicColor(i, palette);
        }
        stored.emplace_back(kColorKeys[slot], value);
    }
    stored.emplace_back(kDefaultColorsKey, defaults);
    return stored;
}

std::optional<std::pair<int, double>> LowContrastColor(const ColorSet& colors) {
    const QColor background = colors.color(kBackgroundColor);
    for (int i = kRegularTextColor; i < kColorCount; ++i) {
        // A colour left at its default is the palette's business, or made readable.
        if (!colors.userSet[static_cast<std::size_t>(i)] && !colors.userSet[kBackgroundColor])
            continue;
        const double contrast = ContrastRatio(colors.color(i), background);
        if (contrast < kLowContrast)
            return std::pair{i, contrast};
    }
    return std::nullopt;
}

QByteArray ReadableSvg(const QByteArray& svg, const QPalette& palette) {
    if (!IsDarkPalette(palette))
        return svg;
    const QColor window = palette.color(QPalette::Window);
    static const QRegularExpression kPaint(
        QStringLiteral(R"(((?:stroke|fill)=")(#[0-9A-Fa-f]{6}|#[0-9A-Fa-f]{3})("))"));
    const QString text = QString::fromUtf8(svg);
    QString result;
    qsizetype last = 0;
    for (auto it = kPaint.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const QColor color = QColor::fromString(match.captured(2));
        result += text.mid(last, match.capturedStart() - last);
        result += match.captured(1);
        result += ContrastRatio(color, window) < kLowContrast
                      ? ReadableVariant(color, window, kLowContrast).name()
                      : match.captured(2);
        result += match.captured(3);
        last = match.capturedEnd();
    }
    result += text.mid(last);
    return result.toUtf8();
}

} // namespace sorvane::view
