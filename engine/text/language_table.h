#pragma once
// Names of Windows language identifiers (LCIDs) as the grid shows them.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

namespace sorvane {

class LanguageTable {
public:
    /// Adds an entry. `identifier` is decimal text, possibly padded with
    /// blanks; the name is stored trimmed. An identifier already present keeps
    /// its first name.
    void AddLanguage(std::string_view name, std::string_view identifier);

    /// The name of the first entry with `lcid`; empty text when there is none
    /// (and always for 0).
    std::string_view LanguageName(std::int32_t lcid) const;

    std::size_t size() const { return added_; }

private:
    std::unordered_map<std::int32_t, std::string> names_;
    std::size_t added_ = 0;
};

/// A table filled with the program's 184 entries (178 distinct identifiers).
LanguageTable BuildLanguageTable();

/// Looks `lcid` up in the program's table, which is built once on first use.
std::string_view LanguageName(std::int32_t lcid);

} // namespace sorvane
