#pragma once
// What the program records about itself besides the user's settings: where
// it is installed and which version it is, and the main tool bar's buttons.
// Both live in the settings file, so `--settings FILE` covers everything the
// program writes and two windows with two files keep two tool bars. Earlier
// versions kept them in a QSettings store of their own (organisation
// "Brannock Ltd", application "Sorvane"); its tool bar layout is read when
// the settings file has none, and that store is never written again.

#include "engine/settings/settings_store.h"

#include <QString>
#include <QStringList>
#include <string>

namespace sorvane::shell {

/// Section "Installation": keys "InstallPath" and "CurrentVersion".
inline constexpr const char* kInstallSection = "Installation";
/// Section "Toolbar": one numbered line per button, see ToolbarLayout.
inline constexpr const char* kToolbarSection = "Toolbar";

/// Writes the installation record: the program's folder and its version text.
void WriteInstallRecord(SettingsDocument& settings, const QString& programFolder,
                        const QString& version);

/// The main tool bar's buttons in order, each its key with a "-" in front of
/// a hidden one ("Scan", "-Save"): from the settings; when they hold none,
/// from the store an earlier version wrote; empty when neither has any.
QStringList LoadToolbarLayout(const SettingsDocument& settings);

/// The layout as the store of earlier versions holds it (empty when none);
/// only read.
QStringList LegacyToolbarLayout();

/// Replaces the section "Toolbar" with `entries`, in memory, or in `file`
/// at once (false when it could not be written).
void SaveToolbarLayout(SettingsDocument& settings, const QStringList& entries);
bool SaveToolbarLayout(const std::string& file, const QStringList& entries);

} // namespace sorvane::shell
