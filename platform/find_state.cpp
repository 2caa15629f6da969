#include "engine/settings/settings_store.h"
#include "platform/dialogs.h"

namespace sorvane::platform {
namespace {

constexpr const char* kTextKey = "Text";
constexpr const char* kOptionsKey = "Options";
constexpr int kKnownOptions = FindState::kWholeWord | FindState::kMatchCase | FindState::kSearchUp;

} // namespace

void FindState::Load(const SettingsDocument& settings, const std::string& section) {
    // The text is stored in quotes, which the store takes off on reading: the
    // blanks at the ends of a search text matter (a blank is a word
    // delimiter), and a stored empty text is "" rather than a missing key.
    if (const auto stored = settings.Value(section, kTextKey))
        text = QString::fromStdString(*stored);
    options = static_cast<int>(ReadNumberSetting(settings, section, kOptionsKey, options)) &
              kKnownOptions;
}

void FindState::Save(SettingsDocument& settings, const std::string& section) const {
    WriteSetting(settings, section, kTextKey, '"' + text.toStdString() + '"');
    WriteNumberSetting(settings, section, kOptionsKey, options & kKnownOptions);
}

void FindState::Load(const std::string& settingsFile, const std::string& section) {
    Load(SettingsDocument::Load(settingsFile), section);
}

void FindState::Save(const std::string& settingsFile, const std::string& section) const {
    auto settings = SettingsDocument::Load(settingsFile);
    Save(settings, section);
    settings.Save();
}

} // namespace sorvane::platform
