#include "windows/about_box.h"

#include "platform/url_opener.h"

#include <QCursor>
#include <QDialogButtonBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QTimer>
#include <QVBoxLayout>

// The pictures live in a static library, whose resources must be registered by hand.
static void InitWindowResources() { Q_INIT_RESOURCE(windows); }

namespace sorvane::windows {
namespace {

constexpr int kPictureWidth = 120;
constexpr int kPictureHeight = 150;
// Where the medal hides on the picture: on the ribbon of the version tag.
constexpr int kMedalLeft = 70;
constexpr int kMedalTop = 14;
constexpr int kMedalSize = 36;

QLabel* LinkLabel(const QString& text, const QString& name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setText(QStringLiteral("<a href=\"#\">%1</a>").arg(text.toHtmlEscaped()));
    label->setTextFormat(Qt::RichText);
    // Clicks are taken by the box, which knows the real address.
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setCursor(Qt::PointingHandCursor);
    return label;
}

} // namespace

QUrl ProductPage(const QString& webAddress, const QString& title) {
    QString page = webAddress;
    if (!page.endsWith(QLatin1Char('/')))
        page += QLatin1Char('/');
    return QUrl(page + title + QLatin1Char('/'));
}

QUrl MailLink(const QString& mailAddress, const QString& subject) {
    return QUrl(mailAddress + QStringLiteral("?subject=") + subject);
}

AboutBox::AboutBox(const AboutInfo& info, UrlOpener& urls, QWidget* parent)
    : QDialog(parent), info_(info), urls_(urls) {
    InitWindowResources();
    setObjectName(QStringLiteral("fwAbout"));
    setWindowTitle(tr("About %1").arg(info.title));

    liAbout_ = new QLabel(this);
    liAbout_->setObjectName(QStringLiteral("liAbout"));
    liAbout_->setFixedSize(kPictureWidth, kPictureHeight);
    liAbout_->setPixmap(QIcon(QStringLiteral(":/windows/about_picture.svg"))
                            .pixmap(QSize(kPictureWidth, kPictureHeight)));
    liAbout_->setMouseTracking(true);
    liAbout_->installEventFilter(this);
    ibMedal_ = new QLabel(liAbout_);
    ibMedal_->setObjectName(QStringLiteral("ibMedal"));
    ibMedal_->setGeometry(MedalRect());
    ibMedal_->setPixmap(
        QIcon(QStringLiteral(":/windows/about_medal.svg")).pixmap(QSize(kMedalSize, kMedalSize)));
    // The medal must not take the moves that tell the picture where the pointer is.
    ibMedal_->setAttribute(Qt::WA_TransparentForMouseEvents);
    ibMedal_->hide();
    toMove_ = new QTimer(this);
    toMove_->setObjectName(QStringLiteral("toMove"));
    toMove_->setInterval(kPollMs);
    connect(toMove_, &QTimer::timeout, this, &AboutBox::toMove_Timer);

    auto* ltProduct = new QLabel(info.productLine, this);
    ltProduct->setObjectName(QStringLiteral("ltProduct"));
    QFont bold = ltProduct->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.25);
    ltProduct->setFont(bold);
    auto* ltAbout = new QLabel(this);
    ltAbout->setObjectName(QStringLiteral("ltAbout"));
    ltAbout->setTextFormat(Qt::PlainText);
    ltAbout->setText(QStringLiteral("For Linux\nVersion %1\n\n%2")
                         .arg(info.versionText, info.legalNotice));
    ltSite_ = LinkLabel(info.webAddress, QStringLiteral("ltSite"), this);
    QString mailShown = info.mailAddress;
    mailShown.remove(QStringLiteral("mailto:"));
    ltMail_ = LinkLabel(mailShown, QStringLiteral("ltMail"), this);
    ltSite_->installEventFilter(this);
    ltMail_->installEventFilter(this);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* text = new QVBoxLayout;
    text->addWidget(ltProduct);
    text->addWidget(ltAbout);
    text->addSpacing(8);
    text->addWidget(ltSite_);
    text->addWidget(ltMail_);
    text->addStretch();
    text->addWidget(buttons);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(liAbout_, 0, Qt::AlignTop);
    layout->addSpacing(12);
    layout->addLayout(text, 1);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QRect AboutBox::MedalRect() const {
    return QRect(kMedalLeft, kMedalTop, kMedalSize, kMedalSize);
}

bool AboutBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == liAbout_ && event->type() == QEvent::MouseMove) {
        liAbout_MouseMove(static_cast<QMouseEvent*>(event)->position().toPoint());
    } else if ((watched == ltSite_ || watched == ltMail_) &&
               event->type() == QEvent::MouseButtonRelease &&
               static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == ltSite_)
            urls_.Open(ProductPage(info_.webAddress, info_.title));
        else
            urls_.Open(MailLink(info_.mailAddress, info_.title));
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void AboutBox::liAbout_MouseMove(const QPoint& pos) {
    if (!MedalRect().contains(pos) || ibMedal_->isVisible())
        return;
    ibMedal_->show();
    toMove_->start();
}

// Polled rather than waiting for a leave event: a pointer that jumps out of
// the box in one move sends the picture no further event.
void AboutBox::toMove_Timer() {
    if (MedalRect().contains(liAbout_->mapFromGlobal(QCursor::pos())))
        return;
    ibMedal_->hide();
    toMove_->stop();
}

} // namespace sorvane::windows
