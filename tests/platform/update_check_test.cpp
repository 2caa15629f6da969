// The update check against a local HTTP server: newer, equal and older
// versions, unreadable files, HTTP errors, a closed port and a server that
// never answers.

#include "platform/update_check.h"

#include "support/one_answer_server.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTimer>

#include <memory>

namespace sorvane::platform {
namespace {

using test::OneAnswerServer;

QByteArray Http(const char* status, const QByteArray& body) {
    return OneAnswerServer::Http(status, body);
}

struct Outcome {
    int result = 99;
    QString newest;
};

// Runs one check to its end (or fails after `limitMs`).
Outcome RunCheck(UpdateCheck& check, const QUrl& address, const QString& current, int limitMs = 10000) {
    QSignalSpy finished(&check, &UpdateCheck::Finished);
    check.Start(address, current);
    if (finished.isEmpty() && !finished.wait(limitMs))
        return {};
    return {finished.first().at(0).toInt(), finished.first().at(1).toString()};
}

TEST(UpdateCheckTest, AnswersOfTheServerGiveTheirResults) {
    struct Row {
        const char* name;
        QByteArray response;
        const char* current;
        int result;
        const char* newest;
    };
    const Row rows[] = {
        {"newer", Http("200 OK", "version = \"1.27\";\n"), "1.26", UpdateCheck::kNewer, "1.27"},
        {"newer revision", Http("200 OK", "\"1.26.0001\""), "1.26", UpdateCheck::kNewer, "1.26.0001"},
        {"newer major", Http("200 OK", "\"2.00\""), "1.99", UpdateCheck::kNewer, "2.00"},
        {"numbers, not text", Http("200 OK", "\"1.100\""), "1.99", UpdateCheck::kNewer, "1.100"},
        {"equal", Http("200 OK", "\"1.26\""), "1.26", UpdateCheck::kUpToDate, "1.26"},
        {"equal, other spelling", Http("200 OK", "\"1.5\""), "1.05", UpdateCheck::kUpToDate, "1.5"},
        {"older", Http("200 OK", "\"1.25.0099\""), "1.26", UpdateCheck::kUpToDate, "1.25.0099"},
        {"no quotes", Http("200 OK", "1.27\n"), "1.26", UpdateCheck::kNotAccessible, ""},
        {"quoted word", Http("200 OK", "\"latest\" \"1.27\""), "1.26", UpdateCheck::kNotAccessible, ""},
        {"unclosed quote", Http("200 OK", "\"1.27"), "1.26", UpdateCheck::kNotAccessible, ""},
        {"empty quotes", Http("200 OK", "\"\""), "1.26", UpdateCheck::kNotAccessible, ""},
        {"empty file", Http("200 OK", ""), "1.26", UpdateCheck::kNotAccessible, ""},
        {"too long for an update file", Http("200 OK", "\"9.99\"" + QByteArray(70000, ' ')), "1.26",
         UpdateCheck::kNotAccessible, ""},
        {"not found", Http("404 Not Found", "\"9.99\""), "1.26", UpdateCheck::kNotAccessible, ""},
        {"server error", Http("500 Internal Server Error", "\"9.99\""), "1.26",
         UpdateCheck::kNotAccessible, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        OneAnswerServer server(row.response);
        UpdateCheck check;
        const Outcome outcome =
            RunCheck(check, server.Address(QStringLiteral("/Products/Sorvane/Sorvane.js")),
                QString::fromLatin1(row.current));
        EXPECT_EQ(outcome.result, row.result);
        EXPECT_EQ(outcome.newest, QString::fromLatin1(row.newest));
        EXPECT_TRUE(server.Request().startsWith("GET /Products/Sorvane/Sorvane.js HTTP/1.1\r\n"))
            << server.Request().left(80).toStdString();
        EXPECT_FALSE(check.isRunning());
    }
}

TEST(UpdateCheckTest, UnreachableServersAreNotAccessibleAndNeverBlock) {
    // A port that was free a moment ago: the connection is refused.
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        closedPort = probe.serverPort();
    }
    UpdateCheck refused;
    EXPECT_EQ(RunCheck(refused, QUrl(QStringLiteral("http://127.0.0.1:%1/x.js").arg(closedPort)), "1.00")
                  .result,
              UpdateCheck::kNotAccessible);

    // A server that takes the request and never answers: the check gives up
    // after its time-out, and the event loop keeps running meanwhile.
    OneAnswerServer silent{QByteArray()};
    UpdateCheck check;
    check.setTimeout(700);
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(20);
    QElapsedTimer clock;
    clock.start();
    QSignalSpy finished(&check, &UpdateCheck::Finished);
    check.Start(silent.Address(QStringLiteral("/x.js")), QStringLiteral("1.00"));
    EXPECT_TRUE(check.isRunning());
    EXPECT_TRUE(finished.isEmpty()); // Start does not wait for the server
    // A second check while one runs is refused at once and leaves it alone.
    check.Start(silent.Address(QStringLiteral("/y.js")), QStringLiteral("1.00"));
    ASSERT_EQ(finished.size(), 1);
    EXPECT_EQ(finished.takeFirst().at(0).toInt(), UpdateCheck::kBusy);
    EXPECT_TRUE(check.isRunning());

    ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(finished.first().at(0).toInt(), UpdateCheck::kNotAccessible);
    EXPECT_GE(clock.elapsed(), 600);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_GE(ticks, 15); // the timer ticked all along
    EXPECT_TRUE(silent.Request().startsWith("GET /x.js "));
}

TEST(UpdateCheckTest, AddressAndVersionTexts) {
    EXPECT_EQ(UpdateAddress(QStringLiteral("https://brannock.example/"), QStringLiteral("Sorvane")),
              QUrl(QStringLiteral("https://brannock.example/Products/Sorvane/Sorvane.js")));
    EXPECT_EQ(UpdateAddress(QStringLiteral("http://127.0.0.1:8080"), QStringLiteral("Sorvane")),
              QUrl(QStringLiteral("http://127.0.0.1:8080/Products/Sorvane/Sorvane.js")));

    struct Row {
        const char* a;
        const char* b;
        int order;
    };
    for (const Row& row : {Row{"1.26", "1.26", 0}, Row{"1.27", "1.26", 1}, Row{"1.9", "1.10", -1},
                           Row{"1.2", "1.2.1", -1}, Row{"1.2.0", "1.2", 0}, Row{"2", "1.99", 1},
                           Row{"1.05.0012", "1.5.12", 0}}) {
        EXPECT_EQ(CompareVersionTexts(QString::fromLatin1(row.a), QString::fromLatin1(row.b)),
                  row.order)
            << row.a << " vs " << row.b;
    }
}

} // namespace
} // namespace sorvane::platform
