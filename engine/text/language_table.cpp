#include "engine/text/language_table.h"

#include "engine/text/number_utils.h"
#include "engine/text/text_utils.h"

namespace sorvane {
namespace {

struct ListEntry {
    const char* name;
    const char* identifier;
};

constexpr ListEntry kLanguageList[] = {
#include "engine/text/language_list.inc"
};

} // namespace

void LanguageTable::AddLanguage(std::string_view name, std::string_view identifier) {
    const auto lcid = ToInt32(NumericValue(TrimBlanks(identifier)));
    names_.try_emplace(lcid, TrimBlanks(name));
    ++added_;
}

std::string_view LanguageTable::LanguageName(std::int32_t lcid) const {
    if (lcid == 0)
        return {}; // unused positions of the list hold identifier 0 with no name
    const auto it = names_.find(lcid);
    return it == names_.end() ? std::string_view{} : std::string_view{it->second};
}

LanguageTable BuildLanguageTable() {
    LanguageTable table;
    for (const auto& entry : kLanguageList)
        table.AddLanguage(entry.name, entry.identifier);
    return table;
}

std::string_view LanguageName(std::int32_t lcid) {
    static const LanguageTable table = BuildLanguageTable();
    return table.LanguageName(lcid);
}

} // namespace sorvane
