#pragma once
// The settings file: an initialisation file with sections of key=value lines.
// Names compare without regard to case, values are blank-stripped, a key is
// replaced in place or appended to its section, a missing section is
// appended, and the file is created on first write. There is no cache: each
// read goes to the file and each write replaces the file at once.

#include <string>
#include <string_view>
#include <vector>

namespace sorvane {

/// Longest value a read returns, in characters; longer values are cut.
inline constexpr std::size_t kMaxSettingLength = 254;
/// Longest whole-section read, in characters (each line counts with one more
/// for its terminator).
inline constexpr std::size_t kMaxSectionLength = 32767;

/// The raw value of `key` in `section`, or `fallback` when the key is missing
/// (both cut to 254 characters); an unreadable file reads as empty.
std::string GetProfileString(const std::string& file, std::string_view section,
                             std::string_view key, std::string_view fallback);

/// A text setting: blanks stripped; `fallback` when the key is missing, empty
/// or a lone blank. At most 254 characters.
std::string ReadSetting(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view fallback = "");

/// A number setting: the value of the leading numeric part of the stored text
/// (up to four decimals). A missing key gives `fallback`, a key that is present
/// but empty or not numeric gives 0. Empty file, section or key names give
/// `fallback` without reading.
double ReadNumberSetting(const std::string& file, std::string_view section, std::string_view key,
                         double fallback = 0);

/// Writes a text setting; an empty text is stored as a single blank. Line
/// breaks in the text are stored as blanks so the file keeps its structure.
/// Does nothing when `file` is empty; a failed write is silent.
void WriteSetting(const std::string& file, std::string_view section, std::string_view key,
                  std::string_view text);

/// Writes a number in its shortest decimal text ("16711680", "-1", "9.75").
void WriteNumberSetting(const std::string& file, std::string_view section, std::string_view key,
                        double number);

/// The lines of a whole section ("key=value", or the bare text of a line
/// without "="), in file order, without comments and empty lines, cut at 32767
/// characters. Empty for a missing section or file.
std::vector<std::string> ReadSection(const std::string& file, std::string_view section);

/// Replaces the whole content of a section with `lines` (the section is
/// appended when missing). Returns false when the file could not be written.
bool WriteSection(const std::string& file, std::string_view section,
                  const std::vector<std::string>& lines);

/// Shortest decimal text of a number, as the settings file stores it.
std::string NumberText(double number);

} // namespace sorvane
