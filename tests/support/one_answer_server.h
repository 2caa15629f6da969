#pragma once
// A local HTTP server for tests: answers every request with one canned
// response, or, given an empty one, takes the request and never answers.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

namespace sorvane::test {

class OneAnswerServer {
public:
    explicit OneAnswerServer(QByteArray response) : response_(std::move(response)) {
        EXPECT_TRUE(server_.listen(QHostAddress::LocalHost));
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    request_ += socket->readAll();
                    if (!request_.contains("\r\n\r\n") || response_.isEmpty())
                        return; // the silent server keeps the connection open
                    socket->write(response_);
                    socket->disconnectFromHost();
                });
            }
        });
    }

    /// "http://127.0.0.1:PORT" followed by `path`.
    QUrl Address(const QString& path) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path));
    }
    /// Everything the client sent so far.
    const QByteArray& Request() const { return request_; }

    /// A whole HTTP/1.1 response with `status` ("200 OK") and `body`.
    static QByteArray Http(const char* status, const QByteArray& body) {
        return QByteArray("HTTP/1.1 ") + status + "\r\nContent-Type: application/javascript\r\n" +
               "Content-Length: " + QByteArray::number(body.size()) +
               "\r\nConnection: close\r\n\r\n" + body;
    }

private:
    QTcpServer server_;
    QByteArray response_;
    QByteArray request_;
};

} // namespace sorvane::test
