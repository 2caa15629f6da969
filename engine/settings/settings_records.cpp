#include "engine/settings/settings_records.h"

#include "engine/text/number_utils.h"

#include <cmath>

namespace sorvane {
namespace {

std::string Key(std::string_view prefix, std::string_view name) {
    std::string key(prefix);
    key.append(name);
    return key;
}

std::string BandKey(int n, std::string_view name) {
    std::string key = std::to_string(n);
    key.append("_").append(name);
    return key;
}

} // namespace

std::vector<std::string> LoadListSection(const SettingsDocument& settings,
                                         std::string_view section) {
    std::vector<std::string> items;
    for (const auto& line : ReadSection(settings, section)) {
        const auto eq = line.find('=');
        std::string item = eq == std::string::npos ? line : line.substr(eq + 1);
        if (!item.empty())
            items.push_back(std::move(item));
    }
    return items;
}

std::vector<std::string> LoadListSection(const std::string& file, std::string_view section) {
    return LoadListSection(SettingsDocument::Load(file), section);
}

void SaveListSection(SettingsDocument& settings, std::string_view section,
                     const std::vector<std::string>& items) {
    // Every line gets its number, even for an item holding "=": a filter
    // such as a=b must read back as a=b, not as b.
    std::vector<std::string> lines;
    lines.reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i)
        lines.push_back(std::to_string(i) + "=" + items[i]);
    WriteSection(settings, section, lines);
}

bool SaveListSection(const std::string& file, std::string_view section,
                     const std::vector<std::string>& items) {
    auto settings = SettingsDocument::Load(file);
    SaveListSection(settings, section, items);
    return settings.Save();
}

FontRecord LoadFontRecord(const SettingsDocument& settings, std::string_view section,
                          std::string_view prefix, const FontRecord& current) {
    FontRecord font;
    font.name = ReadSetting(settings, section, Key(prefix, "Name"), current.name);
    font.size = ReadNumberSetting(settings, section, Key(prefix, "Size"), current.size);
    font.weight =
        ToInt32(ReadNumberSetting(settings, section, Key(prefix, "Weight"), current.weight));
    font.charset =
        ToInt32(ReadNumberSetting(settings, section, Key(prefix, "Charset"), current.charset));
    const auto flag = [&](std::string_view name, bool fallback) {
        return ReadNumberSetting(settings, section, Key(prefix, name), fallback ? 1 : 0) != 0;
    };
    font.bold = flag("Bold", current.bold);
    font.italic = flag("Italic", current.italic);
    font.underline = flag("Under", current.underline);
    font.strikeout = flag("Strike", current.strikeout);
    return font;
}

FontRecord LoadFontRecord(const std::string& file, std::string_view section,
                          std::string_view prefix, const FontRecord& current) {
    return LoadFontRecord(SettingsDocument::Load(file), section, prefix, current);
}

void SaveFontRecord(SettingsDocument& settings, std::string_view section, std::string_view prefix,
                    const FontRecord& font) {
    WriteSetting(settings, section, Key(prefix, "Name"), font.name);
    WriteNumberSetting(settings, section, Key(prefix, "Size"), std::round(font.size));
    WriteNumberSetting(settings, section, Key(prefix, "Charset"), font.charset);
    WriteNumberSetting(settings, section, Key(prefix, "Bold"), font.bold ? 1 : 0);
    WriteNumberSetting(settings, section, Key(prefix, "Weight"), font.weight);
    WriteNumberSetting(settings, section, Key(prefix, "Italic"), font.italic ? 1 : 0);
    WriteNumberSetting(settings, section, Key(prefix, "Under"), font.underline ? 1 : 0);
    WriteNumberSetting(settings, section, Key(prefix, "Strike"), font.strikeout ? 1 : 0);
}

void SaveFontRecord(const std::string& file, std::string_view section, std::string_view prefix,
                    const FontRecord& font) {
    auto settings = SettingsDocument::Load(file);
    SaveFontRecord(settings, section, prefix, font);
    settings.Save();
}

BandRecord LoadBandRecord(const SettingsDocument& settings, std::string_view section, int n,
                          const BandRecord& current) {
    BandRecord band = current;
    if (n > 1)
        band.newRow =
            ReadNumberSetting(settings, section, BandKey(n, "NewRow"), current.newRow ? 1 : 0) == 1;
    band.visible =
        ReadNumberSetting(settings, section, BandKey(n, "Visible"), current.visible ? 1 : 0) == 1;
    band.width =
        ReadNumberSetting(settings, section, BandKey(n, "Width"), std::round(current.width));
    band.name = ReadSetting(settings, section, BandKey(n, "Name"));
    if (!band.name.empty()) {
        band.index = ToInt32(ReadNumberSetting(settings, section, BandKey(n, "Index"), 0));
        band.buttons = ReadSetting(settings, section, BandKey(n, "Buttons"), current.buttons);
    } else {
        band.name = current.name;
        band.index = current.index;
    }
    return band;
}

BandRecord LoadBandRecord(const std::string& file, std::string_view section, int n,
                          const BandRecord& current) {
    return LoadBandRecord(SettingsDocument::Load(file), section, n, current);
}

void SaveBandRecord(SettingsDocument& settings, std::string_view section, int n,
                    const BandRecord& band) {
    WriteNumberSetting(settings, section, BandKey(n, "NewRow"), band.newRow ? 1 : 0);
    WriteNumberSetting(settings, section, BandKey(n, "Visible"), band.visible ? 1 : 0);
    WriteNumberSetting(settings, section, BandKey(n, "Width"), band.width);
    WriteSetting(settings, section, BandKey(n, "Name"), band.name);
    WriteNumberSetting(settings, section, BandKey(n, "Index"), band.name.empty() ? -1 : band.index);
    if (!band.buttons.empty())
        WriteSetting(settings, section, BandKey(n, "Buttons"), band.buttons);
}

void SaveBandRecord(const std::string& file, std::string_view section, int n,
                    const BandRecord& band) {
    auto settings = SettingsDocument::Load(file);
    SaveBandRecord(settings, section, n, band);
    settings.Save();
}

} // namespace sorvane
