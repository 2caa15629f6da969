// The help window's topics, history and find box, and the About box's links
// and hidden picture.

#include "windows/about_box.h"
#include "windows/help_window.h"
#include "platform/url_opener.h"
#include "support/recording_urls.h"

#include <gtest/gtest.h>

#include <QCursor>
#include <QLabel>
#include <QMouseEvent>
#include <QTest>
#include <QTextBrowser>
#include <QTextCursor>

#include <vector>

namespace sorvane::windows {
namespace {

using test::RecordingUrls;

TEST(HelpWindowTest, TopicsHistoryAndFind) {
    HelpWindow help;
    EXPECT_EQ(help.CurrentTopic(), 0);
    EXPECT_TRUE(help.Anchors().contains(QStringLiteral("contents")));

    help.ShowTopic(201);
    EXPECT_TRUE(help.isVisible());
    EXPECT_EQ(help.CurrentTopic(), 201);
    help.ShowTopic(606);
    EXPECT_EQ(help.CurrentTopic(), 606);
    help.ShowTopic(202); // no such topic: the contents
    EXPECT_EQ(help.CurrentTopic(), 0);
    help.browser()->backward();
    EXPECT_EQ(help.CurrentTopic(), 606);
    help.browser()->backward();
    EXPECT_EQ(help.CurrentTopic(), 201);
    help.browser()->forward();
    EXPECT_EQ(help.CurrentTopic(), 606);

    // Find goes forward, wraps around, and goes back; a missing text keeps the selection.
    ASSERT_TRUE(help.Find(QStringLiteral("sorvane-cli execute")));
    const int first = help.browser()->textCursor().selectionStart();
    EXPECT_EQ(help.browser()->textCursor().selectedText(), "sorvane-cli execute");
    ASSERT_TRUE(help.Find(QStringLiteral("sorvane-cli execute")));
    EXPECT_EQ(help.browser()->textCursor().selectionStart(), first); // the only one: wrapped
    ASSERT_TRUE(help.Find(QStringLiteral("Source Map")));
    const int second = help.browser()->textCursor().selectionStart();
    ASSERT_TRUE(help.Find(QStringLiteral("Source Map"), true));
    EXPECT_LT(help.browser()->textCursor().selectionStart(), second);
    EXPECT_FALSE(help.Find(QStringLiteral("no such words anywhere")));
    EXPECT_TRUE(help.browser()->textCursor().hasSelection());
    EXPECT_FALSE(help.Find(QString()));
}

TEST(AboutBoxTest, LinesLinksAndTheHiddenPicture) {
    RecordingUrls urls;
    const AboutInfo info{"Sorvane", "Sorvane Line", "1.26", "Legal notice.",
                         "https://brannock.example/", "mailto:support@brannock.example"};
    AboutBox box(info, urls);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    EXPECT_EQ(box.findChild<QLabel*>("ltProduct")->text(), "Sorvane Line");
    EXPECT_EQ(box.findChild<QLabel*>("ltAbout")->text(), "For Linux\nVersion 1.26\n\nLegal notice.");

    auto* site = box.findChild<QLabel*>("ltSite");
    auto* mail = box.findChild<QLabel*>("ltMail");
    EXPECT_TRUE(site->text().contains("https://brannock.example/"));
    EXPECT_TRUE(mail->text().contains("support@brannock.example"));
    QTest::mouseClick(site, Qt::LeftButton);
    QTest::mouseClick(mail, Qt::LeftButton);
    QTest::mouseClick(mail, Qt::RightButton); // only the left button opens
    ASSERT_EQ(urls.opened.size(), 2u);
    EXPECT_EQ(urls.opened[0], QUrl("https://brannock.example/Sorvane/"));
    EXPECT_EQ(urls.opened[1], QUrl("mailto:support@brannock.example?subject=Sorvane"));

    auto* picture = box.findChild<QLabel*>("liAbout");
    auto* medal = box.findChild<QLabel*>("ibMedal");
    const QRect rect = box.MedalRect();
    const auto moveTo = [picture](QPoint at) {
        QMouseEvent move(QEvent::MouseMove, at, picture->mapToGlobal(at), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(picture, &move);
    };
    struct Row {
        QPoint at;
        bool shown;
    };
    for (const Row& row : {Row{rect.topLeft() - QPoint(1, 0), false},
                           Row{rect.bottomRight() + QPoint(0, 1), false},
                           Row{rect.topLeft(), true}, Row{rect.bottomRight(), true},
                           Row{rect.center(), true}}) {
        medal->hide();
        moveTo(row.at);
        EXPECT_EQ(medal->isVisible(), row.shown) << row.at.x() << "," << row.at.y();
    }
    // Shown, it stays while the pointer is on it and goes once the pointer has left.
    QCursor::setPos(picture->mapToGlobal(rect.bottomRight()));
    QTest::qWait(3 * AboutBox::kPollMs);
    EXPECT_TRUE(medal->isVisible());
    QCursor::setPos(picture->mapToGlobal(rect.bottomRight() + QPoint(1, 1)));
    EXPECT_TRUE(QTest::qWaitFor([medal] { return !medal->isVisible(); }, 20 * AboutBox::kPollMs));
}

} // namespace
} // namespace sorvane::windows
