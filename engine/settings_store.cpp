#include "settings_store.h"

#include "atomic_file.h"
#include "number_utils.h"
#include "text_utils.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <optional>
#include <unistd.h>

namespace sorvane {
namespace {

// A settings file is a few kilobytes; anything far larger is not one of ours
// and is neither parsed nor overwritten.
constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;

std::string_view TrimSpace(std::string_view text) {
    constexpr std::string_view space = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(space);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// Line breaks would split one value into several lines of the file.
std::string OneLine(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c == '\r' || c == '\n')
            c = ' ';
    return out;
}

// The file as lines, and what each line is.
class ProfileText {
public:
    /// Nothing when the file exists but cannot be taken as a settings file.
    static std::optional<ProfileText> Load(const std::string& file, bool forWriting) {
        ProfileText text;
        const auto bytes = ReadSmallFile(file, kMaxFileBytes);
        if (!bytes) {
            // A missing file reads as empty and is created by the first write;
            // one that exists but cannot be read must not be replaced.
            if (forWriting && (::access(file.c_str(), F_OK) == 0 || errno != ENOENT))
                return std::nullopt;
            return text;
        }
        std::string_view data(*bytes);
        if (data.starts_with("\xEF\xBB\xBF"))
            data.remove_prefix(3);
        const std::string decoded = DecodeText(data);
        std::string_view rest(decoded);
        while (!rest.empty()) {
            const auto end = rest.find('\n');
            std::string_view line = rest.substr(0, end);
            if (line.ends_with('\r'))
                line.remove_suffix(1);
            text.lines_.emplace_back(line);
            rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        }
        return text;
    }

    /// The section name of a header line, or nothing.
    static std::optional<std::string_view> SectionName(std::string_view line) {
        line = TrimSpace(line);
        if (!line.starts_with('['))
            return std::nullopt;
        line.remove_prefix(1);
        return TrimSpace(line.substr(0, line.find(']')));
    }

    static bool IsEntry(std::string_view line) {
        line = TrimSpace(line);
        return !line.empty() && !line.starts_with(';');
    }

    static std::string_view KeyOf(std::string_view line) {
        return TrimSpace(line.substr(0, line.find('=')));
    }

    /// The value of an entry line; nothing when the line has no "=".
    static std::optional<std::string_view> ValueOf(std::string_view line) {
        const auto eq = line.find('=');
        if (eq == std::string_view::npos)
            return std::nullopt;
        return TrimSpace(line.substr(eq + 1));
    }

    /// Line range [begin, end) of the first section called `name`: begin is
    /// its header line.
    bool FindSection(std::string_view name, std::size_t& begin, std::size_t& end) const {
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
    std::optional<std::size_t> FindKey(std::size_t begin, std::size_t end,
                                       std::string_view key) const {
        for (std::size_t i = begin + 1; i < end; ++i)
            if (IsEntry(lines_[i]) && EqualsIgnoreCase(KeyOf(lines_[i]), key))
                return i;
        return std::nullopt;
    }

    /// Position after the last entry of a section, where a new key goes.
    std::size_t InsertionPoint(std::size_t begin, std::size_t end) const {
        std::size_t at = begin + 1;
        for (std::size_t i = begin + 1; i < end; ++i)
            if (!TrimSpace(lines_[i]).empty())
                at = i + 1;
        return at;
    }

    void AppendSection(std::string_view name) {
        if (!lines_.empty() && !TrimSpace(lines_.back()).empty())
            lines_.emplace_back();
        std::string header = "[";
        header.append(name).append("]");
        lines_.push_back(std::move(header));
    }

    std::string Serialize() const {
        std::string out;
        for (const auto& line : lines_)
            out.append(line).append("\r\n");
        return out;
    }

    std::vector<std::string> lines_;
};

void SetKey(const std::string& file, std::string_view section, std::string_view key,
            std::string_view value) {
    if (file.empty())
        return;
    auto text = ProfileText::Load(file, true);
    if (!text)
        return;
    auto& lines = text->lines_;
    std::size_t begin = 0;
    std::size_t end = 0;
    if (!text->FindSection(section, begin, end)) {
        text->AppendSection(section);
        begin = lines.size() - 1;
        end = lines.size();
    }
    if (const auto at = text->FindKey(begin, end, key)) {
        // Replaced in place, keeping the key's spelling in the file.
        lines[*at] = std::string(ProfileText::KeyOf(lines[*at])) + "=" + std::string(value);
    } else {
        const auto pos = static_cast<std::ptrdiff_t>(text->InsertionPoint(begin, end));
        lines.insert(lines.begin() + pos, std::string(key) + "=" + std::string(value));
    }
    WriteFileAtomically(file, text->Serialize(), true);
}

} // namespace

std::string GetProfileString(const std::string& file, std::string_view section,
                             std::string_view key, std::string_view fallback) {
    std::string_view found = fallback;
    const auto text = ProfileText::Load(file, false);
    std::size_t begin = 0;
    std::size_t end = 0;
    if (text && text->FindSection(section, begin, end)) {
        if (const auto at = text->FindKey(begin, end, key))
            found = ProfileText::ValueOf(text->lines_[*at]).value_or(std::string_view{});
    }
    return std::string(Utf8Prefix(found, kMaxSettingLength));
}

std::string ReadSetting(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view fallback) {
    const std::string value(TrimBlanks(GetProfileString(file, section, key, fallback)));
    if (value.empty())
        return std::string(fallback);
    return value;
}

double ReadNumberSetting(const std::string& file, std::string_view section, std::string_view key,
                         double fallback) {
    if (file.empty() || section.empty() || key.empty())
        return fallback;
    const std::string text = GetProfileString(file, section, key, NumberText(fallback));
    // The store carries numbers with four decimal places.
    return std::round(NumericValue(TrimBlanks(text)) * 10000.0) / 10000.0;
}

void WriteSetting(const std::string& file, std::string_view section, std::string_view key,
                  std::string_view text) {
    SetKey(file, section, key, text.empty() ? std::string(" ") : OneLine(text));
}

void WriteNumberSetting(const std::string& file, std::string_view section, std::string_view key,
                        double number) {
    SetKey(file, section, key, NumberText(number));
}

std::vector<std::string> ReadSection(const std::string& file, std::string_view section) {
    std::vector<std::string> result;
    const auto text = ProfileText::Load(file, false);
    std::size_t begin = 0;
    std::size_t end = 0;
    if (!text || !text->FindSection(section, begin, end))
        return result;
    // Like a fixed buffer of 32767 characters: each line is followed by a
    // terminator and the list by one more.
    std::size_t room = kMaxSectionLength - 1;
    for (std::size_t i = begin + 1; i < end && room > 1; ++i) {
        const std::string_view line = text->lines_[i];
        if (!ProfileText::IsEntry(line))
            continue;
        std::string entry(ProfileText::KeyOf(line));
        if (const auto value = ProfileText::ValueOf(line))
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

bool WriteSection(const std::string& file, std::string_view section,
                  const std::vector<std::string>& lines) {
    if (file.empty())
        return false;
    auto text = ProfileText::Load(file, true);
    if (!text)
        return false;
    std::vector<std::string> entries;
    for (const auto& line : lines) {
        const std::string one = OneLine(line);
        if (!TrimSpace(one).empty())
            entries.emplace_back(TrimSpace(one));
    }
    auto& all = text->lines_;
    std::size_t begin = 0;
    std::size_t end = 0;
    if (text->FindSection(section, begin, end)) {
        // Keep the blank lines that separate this section from the next one.
        const std::size_t keepFrom = text->InsertionPoint(begin, end);
        all.erase(all.begin() + static_cast<std::ptrdiff_t>(begin + 1),
                  all.begin() + static_cast<std::ptrdiff_t>(keepFrom));
    } else {
        text->AppendSection(section);
        begin = all.size() - 1;
    }
    all.insert(all.begin() + static_cast<std::ptrdiff_t>(begin + 1), entries.begin(),
               entries.end());
    return WriteFileAtomically(file, text->Serialize(), true);
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
