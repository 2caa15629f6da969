// Sorvane: compares the versions of the files in two folders.

#include "engine/settings_location.h"
#include "shell/app_info.h"
#include "shell/main_window.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QString::fromLatin1(sorvane::shell::kCompanyName));
    QApplication::setApplicationName(QString::fromLatin1(sorvane::shell::kProgramTitle));
    QApplication::setApplicationVersion(sorvane::shell::VersionText());

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Compares the versions of the files in two folders."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption settings(QStringLiteral("settings"),
                                      QStringLiteral("Use FILE as the settings file."),
                                      QStringLiteral("FILE"));
    parser.addOption(settings);
    parser.addPositionalArgument(QStringLiteral("source"),
                                 QStringLiteral("A source folder or Source Map to start with."));
    parser.process(app);

    sorvane::shell::StartOptions options;
    std::optional<std::string> settingsFile;
    if (parser.isSet(settings))
        settingsFile = parser.value(settings).toStdString();
    options.settingsFile = sorvane::LocateSettingsFile(settingsFile);
    const QStringList positional = parser.positionalArguments();
    if (!positional.isEmpty())
        options.commandLineSource = positional.join(QLatin1Char(' '));

    sorvane::shell::MainWindow window(options);
    window.show();
    return app.exec();
}
