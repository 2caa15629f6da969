// The main window's Help menu: help topics and F1, the update check, the web
// and mail links and the About box.

#include "shell/main_window.h"

#include "windows/about_box.h"
#include "platform/help_keys.h"
#include "windows/help_window.h"
#include "platform/update_check.h"
#include "platform/url_opener.h"
#include "shell/app_info.h"
#include "shell/help_contexts.h"
#include "view/path_box.h"
#include "view/result_view.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QShortcut>
#include <QWhatsThis>

#include <memory>

namespace sorvane::shell {

void MainWindow::CreateHelp() {
    AssignHelpContexts(findChildren<QMenu*>());
    auto* menuKeys = new platform::MenuHelpKeys([this](int context) { ShowHelp(context); }, this);
    for (QMenu* menu : findChildren<QMenu*>())
        menuKeys->Watch(menu);
    // F1 outside the menus opens the contents. "F1" is only shown beside
    // Help Topics, so the key needs a shortcut of its own.
    auto* contentsKey = new QShortcut(QKeySequence(Qt::Key_F1), this);
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
            *shownBefore = PanelText(2);
            SetPanel(2, checking);
            return;
        }
        QApplication::restoreOverrideCursor();
        if (PanelText(2) == checking)
            SetPanel(2, *shownBefore);
    });
    connect(update_, &platform::UpdateCheck::Finished, this, &MainWindow::OnUpdateChecked);
}

// What "What is This?" says of each control the user clicks.
void MainWindow::DescribeControls() {
    cbSource_->setWhatsThis(
        tr("The Source: the folder whose files are compared, or a Source Map saved earlier. "
           "Its files are read with their counterparts under the Target."));
    cbTarget_->setWhatsThis(
        tr("The Target: the folder the Source files are compared with, file by file, at the "
           "same relative path. Newer source files can be copied here."));
    cbFilter_->setWhatsThis(
        tr("The filter: which file names are read, such as *.dll;*.exe. Empty reads every file."));
    grid_->setWhatsThis(
        tr("One row for each versioned source file. The = column marks how it compares: > newer "
           "source, < newer target, ! unequal language, ~ different size, ? incomparable, "
           "- no target file, = equal, + copied. Click a header to sort; right-click a row for "
           "the Tools menu."));
    panel1_->setWhatsThis(tr("Rows listed / files read by the last scan."));
    panel2_->setWhatsThis(tr("The scan's progress and messages. Click it to list the entries "
                             "a scan could not read."));
    panel3_->setWhatsThis(tr("The folder being read."));
    for (const QString& key : buttonOrder_) {
        QAction* button = buttons_.at(key);
        button->setWhatsThis(button->toolTip());
    }
}

platform::UrlOpener& MainWindow::Urls() {
    if (options_.urls != nullptr)
        return *options_.urls;
    if (ownUrls_ == nullptr)
        ownUrls_ = std::make_unique<platform::DesktopUrlOpener>();
    return *ownUrls_;
}

void MainWindow::ShowHelp(int context) {
    // The help is a window of its own, not one of the main window's: a
    // message box's Help button opens it while the box blocks the main window.
    if (help_ == nullptr)
        help_ = std::make_unique<windows::HelpWindow>();
    help_->ShowTopic(context);
}

void MainWindow::mHelpTopics_Click() {
    ShowHelp(0);
}

void MainWindow::mHelpWhatsThis_Click() {
    QWhatsThis::enterWhatsThisMode();
}

void MainWindow::mHelpUpdate_Click() {
    if (update_->isRunning()) {
        Dialogs().ShowMessage(this, QString::fromLatin1(kProgramTitle),
                              tr("A check for updates is already running."),
                              platform::MessageIcon::Information, platform::MessageButtons::Ok);
        return;
    }
    update_->Start(updateAddress_, VersionText());
}

void MainWindow::OnUpdateChecked(int result, const QString& newest) {
    const QString title = QString::fromLatin1(kProgramTitle);
    switch (result) {
    case platform::UpdateCheck::kNotAccessible:
        Dialogs().ShowMessage(this, title,
                              tr("Remote resource is not accessible now.\nPlease try later."),
                              platform::MessageIcon::Critical, platform::MessageButtons::Ok);
        break;
    case platform::UpdateCheck::kUpToDate:
        Dialogs().ShowMessage(this, title, tr("Your copy of the application is up to date."),
                              platform::MessageIcon::Information, platform::MessageButtons::Ok);
        break;
    case platform::UpdateCheck::kNewer:
        Dialogs().ShowMessage(this, title,
                              tr("Version %1 is now available to download.").arg(newest),
                              platform::MessageIcon::Warning, platform::MessageButtons::Ok);
        break;
    default:
        break;
    }
}

void MainWindow::mHelpWeb_Click() {
    Urls().Open(QUrl(QString::fromLatin1(kWebAddress)));
}

void MainWindow::mHelpMail_Click() {
    Urls().Open(windows::MailLink(QString::fromLatin1(kSupportMail),
                                   QString::fromLatin1(kProgramTitle) + QStringLiteral(" Bug Report")));
}

void MainWindow::mHelpAbout_Click() {
    windows::AboutInfo info;
    info.title = QString::fromLatin1(kProgramTitle);
    info.productLine = QString::fromUtf8(kTrademarkLine);
    info.versionText = VersionText();
    info.legalNotice = QString::fromUtf8(kLegalNotice);
    info.webAddress = QString::fromLatin1(kWebAddress);
    info.mailAddress = QString::fromLatin1(kSupportMail);
    windows::AboutBox box(info, Urls(), this);
    box.exec();
}

} // namespace sorvane::shell
