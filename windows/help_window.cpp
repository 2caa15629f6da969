#include "windows/help_window.h"

#include <QAction>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QToolBar>
#include <QVBoxLayout>

// The document lives in a static library, whose resources must be registered by hand.
static void InitHelpResources() { Q_INIT_RESOURCE(windows); }

namespace sorvane::windows {
namespace {

const char* const kDocument = "qrc:/windows/help/sorvane.html";
const char* const kContentsAnchor = "contents";

} // namespace

QUrl HelpWindow::TopicUrl(int context) {
    QUrl url{QString::fromLatin1(kDocument)};
    url.setFragment(context > 0 ? QString::number(context) : QString::fromLatin1(kContentsAnchor));
    return url;
}

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    InitHelpResources();
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(tr("Sorvane Help"));
    resize(720, 560);

    browser_ = new QTextBrowser(this);
    browser_->setObjectName(QStringLiteral("helpText"));
    browser_->setOpenExternalLinks(true);
    browser_->setSource(TopicUrl(0));

    auto* bar = new QToolBar(this);
    QAction* back = bar->addAction(tr("&Back"), browser_, &QTextBrowser::backward);
    back->setObjectName(QStringLiteral("helpBack"));
    back->setShortcut(QKeySequence::Back);
    back->setEnabled(false);
    QAction* forward = bar->addAction(tr("&Forward"), browser_, &QTextBrowser::forward);
    forward->setObjectName(QStringLiteral("helpForward"));
    forward->setShortcut(QKeySequence::Forward);
    forward->setEnabled(false);
    QAction* contents =
        bar->addAction(tr("&Contents"), this, [this] { browser_->setSource(TopicUrl(0)); });
    contents->setObjectName(QStringLiteral("helpContents"));
    connect(browser_, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);

    bar->addSeparator();
    auto* findLabel = new QLabel(tr("F&ind:"), bar);
    findBox_ = new QLineEdit(bar);
    findBox_->setObjectName(QStringLiteral("helpFind"));
    findBox_->setClearButtonEnabled(true);
    findLabel->setBuddy(findBox_);
    bar->addWidget(findLabel);
    bar->addWidget(findBox_);
    auto* next = new QPushButton(tr("&Next"), bar);
    auto* previous = new QPushButton(tr("&Previous"), bar);
    bar->addWidget(next);
    bar->addWidget(previous);
    const auto findNext = [this] { Find(findBox_->text(), false); };
    connect(findBox_, &QLineEdit::returnPressed, this, findNext);
    connect(next, &QPushButton::clicked, this, findNext);
    connect(previous, &QPushButton::clicked, this, [this] { Find(findBox_->text(), true); });
    auto* findKey = new QAction(this);
    findKey->setShortcut(QKeySequence::Find);
    connect(findKey, &QAction::triggered, this, [this] {
        findBox_->setFocus();
        findBox_->selectAll();
    });
    addAction(findKey);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(bar);
    layout->addWidget(browser_, 1);
}

void HelpWindow::ShowTopic(int context) {
    const QString anchor = QString::number(context);
    browser_->setSource(context > 0 && Anchors().contains(anchor) ? TopicUrl(context)
                                                                  : TopicUrl(0));
    show();
    raise();
    activateWindow();
}

int HelpWindow::CurrentTopic() const {
    bool number = false;
    const int context = browser_->source().fragment().toInt(&number);
    return number ? context : 0;
}

QStringList HelpWindow::Anchors() const {
    QStringList anchors;
    for (QTextBlock block = browser_->document()->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            anchors += it.fragment().charFormat().anchorNames();
    return anchors;
}

bool HelpWindow::Find(const QString& text, bool backward) {
    if (text.isEmpty())
        return false;
    const QTextDocument::FindFlags flags =
        backward ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    if (browser_->find(text, flags))
        return true;
    QTextCursor restart(browser_->document());
    restart.movePosition(backward ? QTextCursor::End : QTextCursor::Start);
    const QTextCursor before = browser_->textCursor();
    browser_->setTextCursor(restart);
    if (browser_->find(text, flags))
        return true;
    browser_->setTextCursor(before);
    return false;
}

} // namespace sorvane::windows
