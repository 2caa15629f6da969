#pragma once
// The Help menu: help topics and F1, "What is This?", the update check, the
// web and mail links and the About box.

#include <QObject>
#include <QUrl>

#include <memory>

namespace sorvane::platform {
class UpdateCheck;
class UrlOpener;
}
namespace sorvane::windows {
class HelpWindow;
}

namespace sorvane::shell {

struct WindowContext;

class HelpMenu : public QObject {
    Q_OBJECT
public:
    /// `urls` is not owned; the desktop's link handlers when null.
    HelpMenu(WindowContext& window, platform::UrlOpener* urls, QObject* parent);
    ~HelpMenu() override;

    /// F1 on a menu item opens its topic, F1 elsewhere the contents; the
    /// controls say what they are to "What is This?".
    void Connect();

    void mHelpTopics_Click();
    void mHelpWhatsThis_Click();
    /// Starts the update check; its answer comes in OnUpdateChecked.
    void mHelpUpdate_Click();
    void mHelpWeb_Click();
    void mHelpMail_Click();
    void mHelpAbout_Click();
    /// Reports an update check's result: -1, 0 and 1 each with their message
    /// box, any other result with none.
    void OnUpdateChecked(int result, const QString& newest);
    /// Shows the help topic of context `context` (0: the contents).
    void ShowHelp(int context);
    /// Closes the help window, if open: the program ends with its main window.
    void CloseHelp();

    /// The help window, once help was shown; null before.
    windows::HelpWindow* helpWindow() const { return help_.get(); }
    platform::UpdateCheck* updateCheck() const { return update_; }
    /// Where the update check asks; the web address of "Update"/"Address" in
    /// the settings file when set.
    const QUrl& UpdateAddress() const { return updateAddress_; }
    void SetUpdateAddress(const QUrl& address) { updateAddress_ = address; }

private:
    void DescribeControls();
    /// The link handler of the options, else the desktop's.
    platform::UrlOpener& Urls();

    WindowContext& window_;
    platform::UrlOpener* urls_;
    std::unique_ptr<platform::UrlOpener> ownUrls_;
    std::unique_ptr<windows::HelpWindow> help_;
    platform::UpdateCheck* update_ = nullptr;
    QUrl updateAddress_;
};

} // namespace sorvane::shell
