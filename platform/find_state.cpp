#include "engine/settings_store.h"
#include "platform/dialogs.h"

#include <string_view>

namespace sorvane::platform {
namespace {

constexpr const char* kTextKey = "Text";
constexpr const char* kOptionsKey = "Options";
constexpr int kKnownOptions = FindState::kWholeWord | FindState::kMatchCase | FindState::kSearchUp;

} // namespace

void FindState::Load(const std::string& settingsFile, const std::string& section) {
    // The text is stored in quotes: the store strips blanks from values, and
    // leading or trailing blanks of a search text matter (a blank is a word
    // delimiter). The quotes also tell a stored empty text from a missing key.
    const std::string stored = ReadSetting(settingsFile, section, kTextKey);
    if (!stored.empty()) {
        std::string_view value = stored;
        // A value cut at the store's length limit has lost its closing quote.
        if (value.starts_with('"')) {
            value.remove_prefix(1);
            if (value.ends_with('"'))
                value.remove_suffix(1);
        }
        text = QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
    }
    options = static_cast<int>(ReadNumberSetting(settingsFile, section, kOptionsKey, options)) &
              kKnownOptions;
}

void FindState::Save(const std::string& settingsFile, const std::string& section) const {
    WriteSetting(settingsFile, section, kTextKey, '"' + text.toStdString() + '"');
    WriteNumberSetting(settingsFile, section, kOptionsKey, options & kKnownOptions);
}

} // namespace sorvane::platform
