#include "engine/settings/settings_store.h"

#include "engine/files/atomic_file.h"
#include "engine/formats/byte_reader.h"
#include "engine/text/number_utils.h"
#include "engine/text/text_utils.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <span>
#include <unistd.h>

namespace sorvane {
namespace {

// UTF-8 text as UTF-16 with a byte-order mark.
std::string Utf16Bytes(std::string_view text, bool littleEndian) {
    std::string out(littleEndian ? "\xFF\xFE" : "\xFE\xFF");
    out.reserve(2 + text.size() * 2);
    const auto unit = [&](char16_t u) {
        const char high = static_cast<char>(u >> 8);
        const char low = static_cast<char>(u & 0xFF);
        out.push_back(littleEndian ? low : high);
        out.push_back(littleEndian ? high : low);
    };
    for (std::size_t i = 0; i < text.size();) {
        const char32_t cp = NextCodePoint(text, i);
        if (cp >= 0x10000) {
            unit(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            unit(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            unit(static_cast<char16_t>(cp));
        }
    }
    return out;
}

// A settings file is a few kilobytes; anything far larger is not one of ours
// and is neither parsed nor overwritten.
constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;

std::atomic<std::uint64_t> gFileReads{0};
std::atomic<std::uint64_t> gFileWrites{0};

std::string_view TrimSpace(std::string_view text) {
    constexpr std::string_view space = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(space);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

/// The section name of a header line, or nothing.
std::optional<std::string_view> SectionName(std::string_view line) {
    line = TrimSpace(line);
    if (!line.starts_with('['))
        return std::nullopt;
    line.remove_prefix(1);
    return TrimSpace(line.substr(0, line.find(']')));
}

bool IsEntry(std::string_view line) {
    line = TrimSpace(line);
    return !line.empty() && !line.starts_with(';');
}

std::string_view KeyOf(std::string_view line) {
    return TrimSpace(line.substr(0, line.find('=')));
}

/// The value of an entry line as it stands; nothing when the line has no "=".
std::optional<std::string_view> ValueOf(std::string_view line) {
    const auto eq = line.find('=');
    if (eq == std::string_view::npos)
        return std::nullopt;
    return TrimSpace(line.substr(eq + 1));
}

// Values are often written by hand in quotes, to keep blanks at their ends
// or just out of habit; the quotes are not part of the value.
std::string_view Unquoted(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

} // namespace

SettingsDocument SettingsDocument::Load(const std::string& file) {
    SettingsDocument document;
    document.file_ = file;
    if (file.empty())
        return document;
    gFileReads.fetch_add(1, std::memory_order_relaxed);
    const auto bytes = ReadSmallFile(file, kMaxFileBytes);
    if (!bytes) {
        // A missing file reads as empty and is created by the first save; one
        // that exists but cannot be read must not be replaced.
        document.foreign_ = ::access(file.c_str(), F_OK) == 0 || errno != ENOENT;
        return document;
    }
    std::string_view data(*bytes);
    std::string decoded;
    if (data.starts_with("\xFF\xFE") || data.starts_with("\xFE\xFF")) {
        const bool little = data.starts_with("\xFF\xFE");
        document.encoding_ = little ? Encoding::Utf16LittleEndian : Encoding::Utf16BigEndian;
        data.remove_prefix(2);
        decoded = Utf16ToUtf8(std::as_bytes(std::span(data.data(), data.size())),
                              little ? Endian::Little : Endian::Big);
    } else {
        // Written back without a mark, so no mark may stay at the start.
        while (data.starts_with("\xEF\xBB\xBF"))
            data.remove_prefix(3);
        decoded = DecodeText(data);
    }
    // Lines end with CR LF, LF or a lone CR.
    std::string_view rest(decoded);
    while (!rest.empty()) {
        const auto end = rest.find_first_of("\r\n");
        document.lines_.emplace_back(rest.substr(0, end));
        if (end == std::string_view::npos)
            break;
        rest.remove_prefix(end + (rest.substr(end, 2) == "\r\n" ? 2 : 1));
    }
    return document;
}

/// Line range [begin, end) of the first section called `name`: begin is its
/// header line.
bool SettingsDocument::FindSection(std::string_view name, std::size_t& begin,
                                   std::size_t& end) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const auto header = SectionName(lines_[i]);
        if (!header || !EqualsIgnoreCase(*header, name))
            continue;
        begin = i;
        end = i + 1;
        while (end < lines_.size() && !SectionName(lines_[end]))
            ++end;
        return true;
    }
    return false;
}

/// Index of the first line of the section that holds `key`.
std::optional<std::size_t> SettingsDocument::FindKey(std::size_t begin, std::size_t end,
                                                     std::string_view key) const {
    for (std::size_t i = begin + 1; i < end; ++i)
        if (IsEntry(lines_[i]) && EqualsIgnoreCase(KeyOf(lines_[i]), key))
            return i;
    return std::nullopt;
}

/// Position after the last non-blank line of a section, where a new key goes.
std::size_t SettingsDocument::InsertionPoint(std::size_t begin, std::size_t end) const {
    std::size_t at = begin + 1;
    for (std::size_t i = begin + 1; i < end; ++i)
        if (!TrimSpace(lines_[i]).empty())
            at = i + 1;
    return at;
}

/// Appends a section header (after a blank line) and returns its index.
std::size_t SettingsDocument::AppendSection(std::string_view name) {
    if (!lines_.empty() && !TrimSpace(lines_.back()).empty())
        lines_.emplace_back();
    std::string header = "[";
    header.append(name).append("]");
    lines_.push_back(std::move(header));
    return lines_.size() - 1;
}

std::optional<std::string> SettingsDocument::Value(std::string_view section,
                                                   std::string_view key) const {
    std::size_t begin = 0;
    std::size_t end = 0;
    if (!FindSection(section, begin, end))
        return std::nullopt;
    const auto at = FindKey(begin, end, key);
    if (!at)
        return std::nullopt;
    const std::string_view value = Unquoted(ValueOf(lines_[*at]).value_or(std::string_view{}));
    return std::string(Utf8Prefix(value, kMaxSettingLength));
}

void SettingsDocument::SetValue(std::string_view section, std::string_view key,
                                std::string_view value) {
    std::size_t begin = 0;
    std::size_t end = 0;
    if (!FindSection(section, begin, end)) {
        begin = AppendSection(section);
        end = lines_.size();
    }
    if (const auto at = FindKey(begin, end, key)) {
        // Replaced in place, keeping the key's spelling in the file.
        lines_[*at] = std::string(KeyOf(lines_[*at])) + "=" + OneLine(value);
    } else {
        const auto pos = static_cast<std::ptrdiff_t>(InsertionPoint(begin, end));
        lines_.insert(lines_.begin() + pos, std::string(key) + "=" + OneLine(value));
    }
}

std::vector<std::string> SettingsDocument::Section(std::string_view section) const {
    std::vector<std::string> result;
    std::size_t begin = 0;
    std::size_t end = 0;
    if (!FindSection(section, begin, end))
        return result;
    // Like a fixed buffer of 32767 characters: each line is followed by a
    // terminator and the list by one more.
    std::size_t room = kMaxSectionLength - 1;
    for (std::size_t i = begin + 1; i < end && room > 1; ++i) {
        const std::string_view line = lines_[i];
        if (!IsEntry(line))
            continue;
        std::string entry(KeyOf(line));
        if (const auto value = ValueOf(line))
            entry.append("=").append(*value);
        const std::size_t length = Utf8Length(entry);
        if (length + 1 > room) {
            result.emplace_back(Utf8Prefix(entry, room - 1));
            break;
        }
        room -= length + 1;
        result.push_back(std::move(entry));
    }
    return result;
}

void SettingsDocument::SetSection(std::string_view section, const std::vector<std::string>& lines) {
    std::vector<std::string> entries;
    for (const auto& line : lines) {
        const std::string one = OneLine(line);
        if (!TrimSpace(one).empty())
            entries.emplace_back(TrimSpace(one));
    }
    std::size_t begin = 0;
    std::size_t end = 0;
    if (FindSection(section, begin, end)) {
        // Keep the blank lines that separate this section from the next one.
        const std::size_t keepFrom = InsertionPoint(begin, end);
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(begin + 1),
                     lines_.begin() + static_cast<std::ptrdiff_t>(keepFrom));
    } else {
        begin = AppendSection(section);
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(begin + 1), entries.begin(),
                  entries.end());
}

std::string SettingsDocument::Text() const {
    std::size_t size = 0;
    for (const auto& line : lines_)
        size += line.size() + 2;
    std::string out;
    out.reserve(size);
    for (const auto& line : lines_)
        out.append(line).append("\r\n");
    if (encoding_ == Encoding::Utf8)
        return out;
    return Utf16Bytes(out, encoding_ == Encoding::Utf16LittleEndian);
}

std::string SettingsDocument::SaveOrSayWhy() const {
    if (file_.empty())
        return "no settings file";
    if (foreign_)
        return "it is not a settings file that can be replaced";
    gFileWrites.fetch_add(1, std::memory_order_relaxed);
    const auto written = WriteFileAtomically(file_, Text(), true);
    return written ? std::string() : written.error().Message();
}

SettingsFileCounts SettingsFileActivity() {
    return {gFileReads.load(std::memory_order_relaxed),
            gFileWrites.load(std::memory_order_relaxed)};
}

std::string GetProfileString(const SettingsDocument& settings, std::string_view section,
                             std::string_view key, std::string_view fallback) {
    if (auto value = settings.Value(section, key))
        return std::move(*value);
    return std::string(Utf8Prefix(fallback, kMaxSettingLength));
}

std::string GetProfileString(const std::string& file, std::string_view section,
                             std::string_view key, std::string_view fallback) {
    return GetProfileString(SettingsDocument::Load(file), section, key, fallback);
}

std::string ReadSetting(const SettingsDocument& settings, std::string_view section,
                        std::string_view key, std::string_view fallback) {
    const std::string value(TrimBlanks(GetProfileString(settings, section, key, fallback)));
    if (value.empty())
        return std::string(fallback);
    return value;
}

std::string ReadSetting(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view fallback) {
    return ReadSetting(SettingsDocument::Load(file), section, key, fallback);
}

double ReadNumberSetting(const SettingsDocument& settings, std::string_view section,
                         std::string_view key, double fallback) {
    if (section.empty() || key.empty())
        return fallback;
    const std::string text = GetProfileString(settings, section, key, NumberText(fallback));
    // The store carries numbers with four decimal places.
    return std::round(NumericValue(TrimBlanks(text)) * 10000.0) / 10000.0;
}

double ReadNumberSetting(const std::string& file, std::string_view section, std::string_view key,
                         double fallback) {
    if (file.empty() || section.empty() || key.empty())
        return fallback;
    return ReadNumberSetting(SettingsDocument::Load(file), section, key, fallback);
}

void WriteSetting(SettingsDocument& settings, std::string_view section, std::string_view key,
                  std::string_view text) {
    settings.SetValue(section, key, text.empty() ? std::string_view(" ") : text);
}

void WriteSetting(const std::string& file, std::string_view section, std::string_view key,
                  std::string_view text) {
    if (file.empty())
        return;
    auto settings = SettingsDocument::Load(file);
    WriteSetting(settings, section, key, text);
    settings.Save();
}

void WriteNumberSetting(SettingsDocument& settings, std::string_view section, std::string_view key,
                        double number) {
    settings.SetValue(section, key, NumberText(number));
}

void WriteNumberSetting(const std::string& file, std::string_view section, std::string_view key,
                        double number) {
    if (file.empty())
        return;
    auto settings = SettingsDocument::Load(file);
    WriteNumberSetting(settings, section, key, number);
    settings.Save();
}

std::vector<std::string> ReadSection(const SettingsDocument& settings, std::string_view section) {
    return settings.Section(section);
}

std::vector<std::string> ReadSection(const std::string& file, std::string_view section) {
    return SettingsDocument::Load(file).Section(section);
}

void WriteSection(SettingsDocument& settings, std::string_view section,
                  const std::vector<std::string>& lines) {
    settings.SetSection(section, lines);
}

bool WriteSection(const std::string& file, std::string_view section,
                  const std::vector<std::string>& lines) {
    if (file.empty())
        return false;
    auto settings = SettingsDocument::Load(file);
    settings.SetSection(section, lines);
    return settings.Save();
}

std::string NumberText(double number) {
    if (!std::isfinite(number))
        return "0";
    if (number == 0)
        return "0"; // never "-0"
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
    std::string text(buffer, result.ptr);
    // Whole numbers of any size are written out in full, never as 1e+20.
    if (text.find('e') != std::string::npos && std::trunc(number) == number &&
        std::fabs(number) < 1e300) {
        const auto fixed =
            std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::fixed, 0);
        if (fixed.ec == std::errc())
            text.assign(buffer, fixed.ptr);
    }
    return text;
}

} // namespace sorvane
