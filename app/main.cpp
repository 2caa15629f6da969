// Sorvane: compares the versions of the files in two folders.

#include "engine/channel/command_channel.h"
#include "engine/text/path_utils.h"
#include "engine/settings/settings_location.h"
#include "platform/program_end.h"
#include "shell/app_info.h"
#include "shell/main_window.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

bool AsksForTextOnly(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        for (const char* option : {"-h", "--help", "--help-all", "-v", "--version"})
            if (std::strcmp(argv[i], option) == 0)
                return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    // Past a file size limit a write fails with EFBIG instead of ending the
    // program: the settings and maps say so, and nothing is cut short.
    std::signal(SIGXFSZ, SIG_IGN);
    // Help and version need no display, so they are answered before the
    // window system is opened.
    std::unique_ptr<QCoreApplication> app;
    if (AsksForTextOnly(argc, argv))
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setOrganizationName(QString::fromLatin1(sorvane::shell::kCompanyName));
    QCoreApplication::setApplicationName(QString::fromLatin1(sorvane::shell::kProgramTitle));
    QCoreApplication::setApplicationVersion(sorvane::shell::VersionText());
    // Desktops match the window to its menu entry (and so its icon) by this
    // name, the installed .desktop file's.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.brannock.Sorvane"));

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
    parser.process(*app);

    sorvane::shell::StartOptions options;
    std::optional<std::string> settingsFile;
    if (parser.isSet(settings))
        settingsFile = parser.value(settings).toStdString();
    options.settingsFile = sorvane::LocateSettingsFile(settingsFile);
    if (options.settingsFile.empty())
        std::fprintf(stderr, "sorvane: neither HOME nor the account's home folder is known; "
                             "settings are not kept (use --settings FILE)\n");
    const QStringList positional = parser.positionalArguments();
    if (!positional.isEmpty()) {
        // A relative path means the folder the program was started in, which
        // the settings would no longer know at the next start.
        const QString given = QString::fromStdString(
            sorvane::NormalizeFolderPath(positional.join(QLatin1Char(' ')).toStdString(), false));
        options.commandLineSource =
            given.isEmpty() ? given : QDir::cleanPath(QDir::current().absoluteFilePath(given));
    }

    // Other programs drive the window through this socket (sorvane-cli execute).
    options.commandChannel = QString::fromStdString(sorvane::CommandChannelPath());
    sorvane::shell::MainWindow window(options);
    // Asked to end (logout, kill, Ctrl+C in a terminal), the window closes
    // as if the user closed it, so the settings are written back; the
    // program ends with the window.
    const sorvane::platform::ProgramEnd end(window);
    window.show();
    return QCoreApplication::exec();
}
