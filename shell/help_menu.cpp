#include "shell/help_menu.h"

#include "platform/help_keys.h"
#include "platform/update_check.h"
#include "platform/url_opener.h"
#include "shell/app_info.h"
#include "shell/window_context.h"
#include "view/path_box.h"
#include "view/result_view.h"
#include "view/status_panels.h"
#include "windows/about_box.h"
#include "windows/help_window.h"

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QShortcut>
#include <QWhatsThis>

namespace sorvane::shell {

HelpMenu::HelpMenu(WindowContext& window, platform::UrlOpener* urls, QObject* parent)
    : QObject(parent), window_(window), urls_(urls) {
    // A message box's Help button opens the help at its contents.
    window_.Dialogs().SetHelp([this] { ShowHelp(0); });
}

HelpMenu::~HelpMenu() { window_.Dialogs().SetHelp({}); }

void HelpMenu::Connect() {
    QMainWindow* main = window_.window;
    auto* menuKeys = new platform::MenuHelpKeys([this](int context) { ShowHelp(context); }, this);
    for (QMenu* menu : main->findChildren<QMenu*>())
        menuKeys->Watch(menu);
    // F1 outside the menus opens the contents. "F1" is only shown beside
    // Help Topics, so the key needs a shortcut of its own.
    auto* contentsKey = new QShortcut(QKeySequence(Qt::Key_F1), main);
    connect(contentsKey, &QShortcut::activated, this, [this] { ShowHelp(0); });

    update_ = new platform::UpdateCheck(this);
    // While the server is asked the pointer shows work going on and panel 2
    // says what; the window stays usable, and the panel's earlier text
    // comes back afterwards unless something else replaced it meanwhile.
    auto shownBefore = std::make_shared<QString>();
    connect(update_, &platform::UpdateCheck::RunningChanged, this, [this, shownBefore](bool on) {
        const QString checking = tr("Checking for updates...");
        if (on) {
            QApplication::setOverrideCursor(Qt::BusyCursor);
            *shownBefore = window_.PanelText(2);
            window_.SetPanel(2, checking);
            return;
        }
        QApplication::restoreOverrideCursor();
        if (window_.PanelText(2) == checking)
            window_.SetPanel(2, *shownBefore);
    });
    connect(update_, &platform::UpdateCheck::Finished, this, &HelpMenu::OnUpdateChecked);
    DescribeControls();
}

// What "What is This?" says of each control the user clicks.
void HelpMenu::DescribeControls() {
    window_.source->setWhatsThis(
        tr("The Source: the folder whose files are compared, or a Source Map saved earlier. "
           "Its files are read with their counterparts under the Target."));
    window_.target->setWhatsThis(
        tr("The Target: the folder the Source files are compared with, file by file, at the "
           "same relative path. Newer source files can be copied here."));
    window_.filter->setWhatsThis(
        tr("The filter: which file names are read, such as *.dll;*.exe. Empty reads every file."));
    window_.grid->setWhatsThis(
        tr("One row for each versioned source file. The = column marks how it compares: > newer "
           "source, < newer target, ! unequal language, ~ different size, ? incomparable, "
           "- no target file, = equal, + copied. Click a header to sort; right-click a row for "
           "the Tools menu."));
    view::StatusPanels& panels = *window_.panels;
    panels.panel(1)->setWhatsThis(tr("Rows listed / files read by the last scan."));
    panels.panel(2)->setWhatsThis(tr("The scan's progress and messages. Click it to list the "
                                     "entries a scan could not read."));
    panels.panel(3)->setWhatsThis(tr("The folder being read."));
}

platform::UrlOpener& HelpMenu::Urls() {
    if (urls_ != nullptr)
        return *urls_;
    if (ownUrls_ == nullptr)
        ownUrls_ = std::make_unique<platform::DesktopUrlOpener>();
    return *ownUrls_;
}

void HelpMenu::ShowHelp(int context) {
    // The help is a window of its own, not one of the main window's: a
    // message box's Help button opens it while the box blocks the main window.
    if (help_ == nullptr)
        help_ = std::make_unique<windows::HelpWindow>();
    help_->ShowTopic(context);
}

void HelpMenu::CloseHelp() {
    if (help_ != nullptr)
        help_->close();
}

void HelpMenu::mHelpTopics_Click() { ShowHelp(0); }

void HelpMenu::mHelpWhatsThis_Click() { QWhatsThis::enterWhatsThisMode(); }

void HelpMenu::mHelpUpdate_Click() {
    if (update_->isRunning()) {
        window_.Dialogs().ShowMessage(window_.window, QString::fromLatin1(kProgramTitle),
                                      tr("A check for updates is already running."),
                                      platform::MessageIcon::Information,
                                      platform::MessageButtons::Ok);
        return;
    }
    update_->Start(updateAddress_, VersionText());
}

void HelpMenu::OnUpdateChecked(int result, const QString& newest) {
    const QString title = QString::fromLatin1(kProgramTitle);
    platform::DialogService& dialogs = window_.Dialogs();
    switch (result) {
    case platform::UpdateCheck::kNotAccessible:
        dialogs.ShowMessage(window_.window, title,
                            tr("Remote resource is not accessible now.\nPlease try later."),
                            platform::MessageIcon::Critical, platform::MessageButtons::Ok);
        break;
    case platform::UpdateCheck::kUpToDate:
        dialogs.ShowMessage(window_.window, title,
                            tr("Your copy of the application is up to date."),
                            platform::MessageIcon::Information, platform::MessageButtons::Ok);
        break;
    case platform::UpdateCheck::kNewer:
        dialogs.ShowMessage(window_.window, title,
                            tr("Version %1 is now available to download.").arg(newest),
                            platform::MessageIcon::Warning, platform::MessageButtons::Ok);
        break;
    default:
        break;
    }
}

void HelpMenu::mHelpWeb_Click() { Urls().Open(QUrl(QString::fromLatin1(kWebAddress))); }

void HelpMenu::mHelpMail_Click() {
    Urls().Open(windows::MailLink(QString::fromLatin1(kSupportMail),
                                  QString::fromLatin1(kProgramTitle) +
                                      QStringLiteral(" Bug Report")));
}

void HelpMenu::mHelpAbout_Click() {
    windows::AboutInfo info;
    info.title = QString::fromLatin1(kProgramTitle);
    info.productLine = QString::fromUtf8(kTrademarkLine);
    info.versionText = VersionText();
    info.legalNotice = QString::fromUtf8(kLegalNotice);
    info.webAddress = QString::fromLatin1(kWebAddress);
    info.mailAddress = QString::fromLatin1(kSupportMail);
    windows::AboutBox box(info, Urls(), window_.window);
    box.exec();
}

} // namespace sorvane::shell
