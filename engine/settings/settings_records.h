#pragma once
// Compound records kept in the settings file: numbered list sections (the
// path boxes' histories), the font record and the tool bar band record. Each
// comes for a loaded settings document and, as a one-off, for a file name
// (which reads the file, and for a save writes it once).

#include "engine/settings/settings_store.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sorvane {

/// The items of a list section in file order: the text after the first "="
/// of each line (a line without "=" counts whole); the numbers before "="
/// are not interpreted. Empty items are skipped. A missing file, a folder or
/// a missing section gives an empty list.
std::vector<std::string> LoadListSection(const SettingsDocument& settings,
                                         std::string_view section);
std::vector<std::string> LoadListSection(const std::string& file, std::string_view section);

/// Replaces the section with one line per item, "0=first", "1=second", ...,
/// so an item holding "=" reads back unchanged. Returns false when the file
/// could not be written.
void SaveListSection(SettingsDocument& settings, std::string_view section,
                     const std::vector<std::string>& items);
bool SaveListSection(const std::string& file, std::string_view section,
                     const std::vector<std::string>& items);

/// A font as the settings file keeps it.
struct FontRecord {
    std::string name = "MS Sans Serif";
    double size = 8;
    int charset = 0;
    bool bold = false;
    int weight = 400;
    bool italic = false;
    bool underline = false;
    bool strikeout = false;
    bool operator==(const FontRecord&) const = default;
};

/// Reads the keys prefix + "Name", "Size", "Weight", "Charset", "Bold",
/// "Italic", "Under", "Strike" of `section`, each defaulting to `current`.
FontRecord LoadFontRecord(const SettingsDocument& settings, std::string_view section,
                          std::string_view prefix, const FontRecord& current);
FontRecord LoadFontRecord(const std::string& file, std::string_view section,
                          std::string_view prefix, const FontRecord& current);

/// Writes the keys in the order Name, Size (rounded to a whole number),
/// Charset, Bold, Weight, Italic, Under, Strike.
void SaveFontRecord(SettingsDocument& settings, std::string_view section, std::string_view prefix,
                    const FontRecord& font);
void SaveFontRecord(const std::string& file, std::string_view section, std::string_view prefix,
                    const FontRecord& font);

/// One band of the tool bar area.
struct BandRecord {
    bool newRow = false;
    bool visible = true;
    double width = 0;
    std::string name;    ///< the control the band holds; empty for none
    int index = -1;      ///< its control-array index, -1 for none
    std::string buttons; ///< tool bars only: one "1"/"0" per button
    bool operator==(const BandRecord&) const = default;
};

/// Reads band `n` (keys n_NewRow, n_Visible, n_Width, n_Name, n_Index,
/// n_Buttons), each defaulting to `current`. Flags count as on only when
/// exactly 1; the new-row flag is not read for band 1.
BandRecord LoadBandRecord(const SettingsDocument& settings, std::string_view section, int n,
                          const BandRecord& current);
BandRecord LoadBandRecord(const std::string& file, std::string_view section, int n,
                          const BandRecord& current);

/// Writes band `n`; n_Buttons only when `band.buttons` is not empty.
void SaveBandRecord(SettingsDocument& settings, std::string_view section, int n,
                    const BandRecord& band);
void SaveBandRecord(const std::string& file, std::string_view section, int n,
                    const BandRecord& band);

} // namespace sorvane
