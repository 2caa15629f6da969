// The update check against a local HTTP server: newer, equal and older
// versions, unreadable files, HTTP errors, a closed port, a server that
// never answers, answers of any length and answers that trickle in.

#include "platform/update_check.h"

#include "support/one_answer_server.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
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

// A server that answers `head` (status line and headers) and then a body of
// `bodyBytes` bytes made as it is sent: the version "9.99" in quotes, then
// blanks; with `chunked`, in the chunks of that transfer coding. With
// `dripMs`, one byte of it all (head included) every `dripMs` milliseconds,
// else as fast as the client takes it.
class StreamingServer {
public:
    StreamingServer(QByteArray head, qint64 bodyBytes, bool chunked, int dripMs)
        : head_(std::move(head)), bodyLeft_(bodyBytes), chunked_(chunked), dripMs_(dripMs) {
        EXPECT_TRUE(server_.listen(QHostAddress::LocalHost));
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection())
                Serve(socket);
        });
    }

    QUrl Address() const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/x.js").arg(server_.serverPort()));
    }
    /// The bytes the client's side has taken so far.
    qint64 Sent() const { return sent_; }

private:
    void Serve(QTcpSocket* socket) {
        QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [this, socket](qint64 n) {
            sent_ += n;
            if (dripMs_ == 0)
                Fill(socket);
        });
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
            request_ += socket->readAll();
            if (!request_.contains("\r\n\r\n") || started_)
                return;
            started_ = true;
            if (dripMs_ == 0) {
                Fill(socket);
                return;
            }
            auto* drip = new QTimer(socket);
            QObject::connect(drip, &QTimer::timeout, socket, [this, socket] {
                const QByteArray byte = Next(1);
                if (!byte.isEmpty())
                    socket->write(byte);
            });
            drip->start(dripMs_);
        });
    }

    // Keeps a little queued for the client, so the body is made only as
    // fast as the client reads it.
    void Fill(QTcpSocket* socket) {
        while (socket->bytesToWrite() < 256 * 1024) {
            const QByteArray piece = Next(64 * 1024);
            if (piece.isEmpty()) {
                socket->disconnectFromHost();
                return;
            }
            socket->write(piece);
        }
    }

    // The next at most `most` bytes of the response; empty at its end.
    QByteArray Next(qsizetype most) {
        if (pending_.isEmpty())
            pending_ = NextBlock();
        const QByteArray piece = pending_.left(most);
        pending_.remove(0, piece.size());
        return piece;
    }

    QByteArray NextBlock() {
        if (!head_.isEmpty())
            return std::exchange(head_, {});
        if (bodyLeft_ == 0) {
            if (!chunked_)
                return {};
            chunked_ = false; // the last chunk, once
            return "0\r\n\r\n";
        }
        QByteArray block(static_cast<qsizetype>(std::min<qint64>(bodyLeft_, 64 * 1024)), ' ');
        if (!versionSent_) {
            block.replace(0, 6, "\"9.99\"");
            versionSent_ = true;
        }
        bodyLeft_ -= block.size();
        if (!chunked_)
            return block;
        return QByteArray::number(block.size(), 16) + "\r\n" + block + "\r\n";
    }

    QTcpServer server_;
    QByteArray head_;
    qint64 bodyLeft_;
    bool chunked_;
    int dripMs_;
    QByteArray request_;
    QByteArray pending_;
    bool started_ = false;
    bool versionSent_ = false;
    qint64 sent_ = 0;
};

QByteArray Head(const QByteArray& lengthHeader) {
    return "HTTP/1.1 200 OK\r\nContent-Type: application/javascript\r\n" + lengthHeader +
           "Connection: close\r\n\r\n";
}

// However long the answer, the check holds no more of it than one byte past
// the longest update file, and stops reading once it is past that.
TEST(UpdateCheckTest, LongAnswersAreReadNoFurtherThanTheLimit) {
    constexpr qint64 kHuge = 256LL * 1024 * 1024;
    const auto length = [](qint64 bytes) {
        return "Content-Length: " + QByteArray::number(bytes) + "\r\n";
    };
    constexpr qint64 kOver = kLargestUpdateFile + 1;
    struct Row {
        const char* name;
        QByteArray head;
        qint64 bodyBytes;
        bool chunked;
        int result;
        qint64 held; ///< the most bytes held at once
    };
    const Row rows[] = {
        {"exactly the limit", Head(length(kLargestUpdateFile)), kLargestUpdateFile, false,
         UpdateCheck::kNewer, kLargestUpdateFile},
        // A length told past the limit ends the check before the body.
        {"one byte more", Head(length(kOver)), kOver, false, UpdateCheck::kNotAccessible, 0},
        {"the limit, length untold", Head({}), kLargestUpdateFile, false, UpdateCheck::kNewer,
         kLargestUpdateFile},
        {"one byte more, length untold", Head({}), kOver, false, UpdateCheck::kNotAccessible, kOver},
        {"the limit in chunks", Head("Transfer-Encoding: chunked\r\n"), kLargestUpdateFile, true,
         UpdateCheck::kNewer, kLargestUpdateFile},
        {"huge, length told", Head(length(kHuge)), kHuge, false, UpdateCheck::kNotAccessible, 0},
        {"huge, length untold", Head({}), kHuge, false, UpdateCheck::kNotAccessible, kOver},
        {"huge, in chunks", Head("Transfer-Encoding: chunked\r\n"), kHuge, true,
         UpdateCheck::kNotAccessible, kOver},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        StreamingServer server(row.head, row.bodyBytes, row.chunked, 0);
        UpdateCheck check;
        EXPECT_EQ(RunCheck(check, server.Address(), "1.00", 30000).result, row.result);
        EXPECT_EQ(check.mostBytesHeld(), row.held);
        // What the kernel's socket buffers took in, at most: far from all.
        if (row.bodyBytes == kHuge) {
            EXPECT_LT(server.Sent(), 32 * 1024 * 1024);
        }
    }
}

// A server that keeps sending, one byte at a time, never trips the time-out
// for silence: the check's overall deadline ends it.
TEST(UpdateCheckTest, AnAnswerThatTricklesInEndsAtTheDeadline) {
    struct Row {
        const char* name;
        QByteArray head;
    };
    const Row rows[] = {
        {"the body trickles", "HTTP/1.1 200 OK\r\nContent-Length: 60000\r\n\r\n"},
        {"the headers trickle", "HTTP/1.1 200 OK\r\n" + QByteArray(2000, 'X') + "\r\n\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        StreamingServer server(row.head, 60000, false, 50);
        UpdateCheck check;
        check.setDeadline(800);
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(RunCheck(check, server.Address(), "1.00").result, UpdateCheck::kNotAccessible);
        EXPECT_GE(clock.elapsed(), 700);
        // Well before the five seconds of silence that end a check otherwise.
        EXPECT_LT(clock.elapsed(), 4000);
        EXPECT_GE(server.Sent(), 5);
        EXPECT_FALSE(check.isRunning());
    }
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
