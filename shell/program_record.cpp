#include "shell/program_record.h"

#include "engine/settings/settings_records.h"
#include "shell/app_info.h"

#include <QSettings>

#include <vector>

namespace sorvane::shell {
namespace {

std::vector<std::string> Lines(const QStringList& entries) {
    std::vector<std::string> lines;
    lines.reserve(static_cast<std::size_t>(entries.size()));
    for (const QString& entry : entries)
        lines.push_back(entry.toStdString());
    return lines;
}

} // namespace

void WriteInstallRecord(SettingsDocument& settings, const QString& programFolder,
                        const QString& version) {
    WriteSetting(settings, kInstallSection, "InstallPath", programFolder.toStdString());
    WriteSetting(settings, kInstallSection, "CurrentVersion", version.toStdString());
}

QStringList LoadToolbarLayout(const SettingsDocument& settings) {
    QStringList entries;
    for (const std::string& line : LoadListSection(settings, kToolbarSection))
        entries << QString::fromStdString(line);
    return entries.isEmpty() ? LegacyToolbarLayout() : entries;
}

QStringList LegacyToolbarLayout() {
    const QSettings record(QString::fromLatin1(kCompanyName), QString::fromLatin1(kProgramTitle));
    return record.value(QStringLiteral("Toolbar")).toStringList();
}

void SaveToolbarLayout(SettingsDocument& settings, const QStringList& entries) {
    SaveListSection(settings, kToolbarSection, Lines(entries));
}

bool SaveToolbarLayout(const std::string& file, const QStringList& entries) {
    return SaveListSection(file, kToolbarSection, Lines(entries));
}

} // namespace sorvane::shell
