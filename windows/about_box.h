#pragma once
// The About box: the product line, the version and legal lines, the maker's
// site and mail links, and a picture with a small surprise.

#include <QDialog>
#include <QString>
#include <QUrl>

class QLabel;
class QTimer;

namespace sorvane::platform {
class UrlOpener;
}

namespace sorvane::windows {

using platform::UrlOpener;

/// What the About box shows.
struct AboutInfo {
    QString title;        ///< the program title, "Sorvane"
    QString productLine;  ///< the trademark line
    QString versionText;  ///< "1.00"
    QString legalNotice;
    QString webAddress;   ///< ends with "/"
    QString mailAddress;  ///< a "mailto:" link
};

/// The product page: the web address, the title and "/". The web address
/// already ends with "/", so none is added before the title.
QUrl ProductPage(const QString& webAddress, const QString& title);
/// The mail link with `subject`: mail address + "?subject=" + subject.
QUrl MailLink(const QString& mailAddress, const QString& subject);

class AboutBox : public QDialog {
    Q_OBJECT
public:
    AboutBox(const AboutInfo& info, UrlOpener& urls, QWidget* parent = nullptr);

    /// The hidden picture's rectangle in the picture's coordinates; a pointer
    /// on its edge counts as inside.
    QRect MedalRect() const;
    /// How often the pointer is looked at while the hidden picture shows.
    static constexpr int kPollMs = 100;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    /// The pointer moved to `pos` over the picture.
    void liAbout_MouseMove(const QPoint& pos);
    void toMove_Timer();

    AboutInfo info_;
    UrlOpener& urls_;
    QLabel* liAbout_ = nullptr;
    QLabel* ibMedal_ = nullptr;
    QLabel* ltSite_ = nullptr;
    QLabel* ltMail_ = nullptr;
    QTimer* toMove_ = nullptr;
};

} // namespace sorvane::windows
