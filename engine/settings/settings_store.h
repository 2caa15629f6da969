#pragma once
// The settings file: an initialisation file with sections of key=value lines.
// Names compare without regard to case, values are blank-stripped and a value
// in matching quotes reads without them, a key is replaced in place or
// appended to its section, a missing section is appended, and the file is
// created on first write.
//
// A SettingsDocument is the file read once into memory: any number of reads
// and writes work on that copy, and Save writes the file back with one atomic
// replacement. The functions that take a file name are for one-off uses:
// each of them reads the file, and each write replaces the file at once.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sorvane {

/// Longest value a read returns, in characters; longer values are cut.
inline constexpr std::size_t kMaxSettingLength = 254;
/// Longest whole-section read, in characters (each line counts with one more
/// for its terminator).
inline constexpr std::size_t kMaxSectionLength = 32767;

/// The lines of one settings file, in memory. Sections and keys keep their
/// order, and everything the program does not know (other sections and keys,
/// comments, blank lines) is written back as it was read.
class SettingsDocument {
public:
    /// A document of no file: empty, and Save writes nothing.
    SettingsDocument() = default;

    /// Reads `file` once. A missing file gives an empty document that Save
    /// creates. A path that holds something other than a settings file (a
    /// folder, a FIFO, an unreadable file, a file over 16 MiB) gives an empty
    /// document that Save never writes over. An empty name reads nothing.
    static SettingsDocument Load(const std::string& file);

    const std::string& File() const { return file_; }

    /// Whether Save may write the file: it has a name and the name did not
    /// hold something else when the document was loaded.
    bool Writable() const { return !file_.empty() && !foreign_; }

    /// The value of `key` in `section`: blanks around it stripped, one pair
    /// of matching double or single quotes around it removed ("3" and '3'
    /// read as 3; a lone or unmatched quote stays), cut to 254 characters.
    /// A key line without "=" has an empty value. Nothing when the key is
    /// missing. The first section and the first key of a name count.
    std::optional<std::string> Value(std::string_view section, std::string_view key) const;

    /// Stores `value` for `key`: replaced in place (the key keeping its
    /// spelling in the file) or appended after the last entry of its
    /// section; a missing section is appended at the end. Line breaks in the
    /// value are stored as blanks, so a value cannot add lines.
    void SetValue(std::string_view section, std::string_view key, std::string_view value);

    /// The entries of a section as they stand ("key=value" with the blanks
    /// around key and value stripped, quotes kept, or the bare text of a line
    /// without "="), in file order, without comments and empty lines, cut at
    /// 32767 characters. Empty for a missing section.
    std::vector<std::string> Section(std::string_view section) const;

    /// Replaces the entries of a section with `lines` (blank-stripped, line
    /// breaks stored as blanks, empty lines left out); the blank lines after
    /// the section stay. A missing section is appended.
    void SetSection(std::string_view section, const std::vector<std::string>& lines);

    /// The file as Save writes it, with CR LF line ends: UTF-8 without BOM,
    /// or UTF-16 with its byte-order mark when the file was read as such
    /// (some Windows tools write settings files that way).
    std::string Text() const;

    /// Writes the document to its file with one atomic replacement (a
    /// temporary file in the same folder, flushed and renamed over the old
    /// one); missing folders are created. Returns false, leaving the file as
    /// it was, when the document is not `Writable` or the write fails.
    bool Save() const { return SaveOrSayWhy().empty(); }
    /// The same; empty text when the file was written, else what went wrong.
    std::string SaveOrSayWhy() const;

private:
    bool FindSection(std::string_view name, std::size_t& begin, std::size_t& end) const;
    std::optional<std::size_t> FindKey(std::size_t begin, std::size_t end,
                                       std::string_view key) const;
    std::size_t InsertionPoint(std::size_t begin, std::size_t end) const;
    std::size_t AppendSection(std::string_view name);

    std::string file_;
    bool foreign_ = false;
    /// How the file was stored: 0 UTF-8, or the byte-order mark it began with.
    enum class Encoding { Utf8, Utf16LittleEndian, Utf16BigEndian } encoding_ = Encoding::Utf8;
    std::vector<std::string> lines_;
};

/// How many settings files this process has read (`SettingsDocument::Load`
/// of a named file) and written (`Save` attempts on a writable document).
/// The counts only grow; compare them before and after an operation.
struct SettingsFileCounts {
    std::uint64_t reads = 0;
    std::uint64_t writes = 0;
};
SettingsFileCounts SettingsFileActivity();

// Typed reads and writes. Each comes for a loaded document and, as a one-off,
// for a file name.

/// The value of `key` as `SettingsDocument::Value` gives it, or `fallback`
/// (cut to 254 characters) when the key is missing; an unreadable file reads
/// as empty.
std::string GetProfileString(const SettingsDocument& settings, std::string_view section,
                             std::string_view key, std::string_view fallback);
std::string GetProfileString(const std::string& file, std::string_view section,
                             std::string_view key, std::string_view fallback);

/// A text setting: blanks stripped; `fallback` when the key is missing, empty
/// or a lone blank. At most 254 characters.
std::string ReadSetting(const SettingsDocument& settings, std::string_view section,
                        std::string_view key, std::string_view fallback = "");
std::string ReadSetting(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view fallback = "");

/// A number setting: the value of the leading numeric part of the stored text
/// (up to four decimals). A missing key gives `fallback`, a key that is present
/// but empty or not numeric gives 0. Empty file, section or key names give
/// `fallback` without reading.
double ReadNumberSetting(const SettingsDocument& settings, std::string_view section,
                         std::string_view key, double fallback = 0);
double ReadNumberSetting(const std::string& file, std::string_view section, std::string_view key,
                         double fallback = 0);

/// Writes a text setting; an empty text is stored as a single blank. Line
/// breaks in the text are stored as blanks so the file keeps its structure.
/// The file form does nothing when `file` is empty; a failed write is silent.
void WriteSetting(SettingsDocument& settings, std::string_view section, std::string_view key,
                  std::string_view text);
void WriteSetting(const std::string& file, std::string_view section, std::string_view key,
                  std::string_view text);

/// Writes a number in its shortest decimal text ("16711680", "-1", "9.75").
void WriteNumberSetting(SettingsDocument& settings, std::string_view section, std::string_view key,
                        double number);
void WriteNumberSetting(const std::string& file, std::string_view section, std::string_view key,
                        double number);

/// The lines of a whole section as `SettingsDocument::Section` gives them.
/// Empty for a missing section or file.
std::vector<std::string> ReadSection(const SettingsDocument& settings, std::string_view section);
std::vector<std::string> ReadSection(const std::string& file, std::string_view section);

/// Replaces the whole content of a section with `lines` (the section is
/// appended when missing). The file form returns false when the file could
/// not be written.
void WriteSection(SettingsDocument& settings, std::string_view section,
                  const std::vector<std::string>& lines);
bool WriteSection(const std::string& file, std::string_view section,
                  const std::vector<std::string>& lines);

/// Shortest decimal text of a number, as the settings file stores it.
std::string NumberText(double number);

} // namespace sorvane
