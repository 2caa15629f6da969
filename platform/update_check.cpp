#include "platform/update_check.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QStringList>
#include <QTimer>

#include <algorithm>

namespace sorvane::platform {
namespace {

bool IsVersionText(const QString& text) {
    static const QRegularExpression version(QStringLiteral("^[0-9]{1,9}(\\.[0-9]{1,9})*$"));
    return version.match(text).hasMatch();
}

} // namespace

QUrl UpdateAddress(const QString& webAddress, const QString& title) {
    QString base = webAddress;
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    return QUrl(base + QStringLiteral("Products/") + title + QLatin1Char('/') + title +
                QStringLiteral(".js"));
}

std::optional<QString> VersionInUpdateFile(const QByteArray& file) {
    const qsizetype open = file.indexOf('"');
    if (open < 0)
        return std::nullopt;
    const qsizetype close = file.indexOf('"', open + 1);
    if (close < 0)
        return std::nullopt;
    const QString text = QString::fromLatin1(file.mid(open + 1, close - open - 1)).trimmed();
    if (!IsVersionText(text))
        return std::nullopt;
    return text;
}

int CompareVersionTexts(const QString& a, const QString& b) {
    const QStringList left = a.split(QLatin1Char('.'));
    const QStringList right = b.split(QLatin1Char('.'));
    const qsizetype parts = std::max(left.size(), right.size());
    for (qsizetype i = 0; i < parts; ++i) {
        const qulonglong x = i < left.size() ? left[i].toULongLong() : 0;
        const qulonglong y = i < right.size() ? right[i].toULongLong() : 0;
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

UpdateCheck::UpdateCheck(QObject* parent)
    : QObject(parent), deadline_(new QTimer(this)) {
    deadline_->setSingleShot(true);
    // Aborted, the reply finishes with an error: the server was not accessible.
    connect(deadline_, &QTimer::timeout, this, [this] {
        if (reply_ != nullptr)
            reply_->abort();
    });
}

UpdateCheck::~UpdateCheck() {
    if (reply_ != nullptr) {
        // No Finished from a check the window no longer waits for.
        reply_->disconnect(this);
        reply_->abort();
    }
}

void UpdateCheck::Start(const QUrl& address, const QString& currentVersion) {
    if (reply_ != nullptr) {
        emit Finished(kBusy, {});
        return;
    }
    currentVersion_ = currentVersion;
    body_.clear();
    mostHeld_ = 0;
    QNetworkRequest request(address);
    request.setTransferTimeout(timeoutMs_);
    // A cached copy could tell of an old version after a new one came out.
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    // The answer as sent, never unpacked: a small packed answer could unpack
    // to any size. One plain HTTP/1.1 stream, whose reading the reply's
    // buffer size holds back.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    // Made on the first check: most runs of the window never ask.
    if (network_ == nullptr)
        network_ = new QNetworkAccessManager(this);
    reply_ = network_->get(request);
    reply_->setReadBufferSize(kLargestUpdateFile + 1);
    connect(reply_, &QNetworkReply::metaDataChanged, this, &UpdateCheck::OnHeaders);
    connect(reply_, &QNetworkReply::readyRead, this, &UpdateCheck::TakeAnswer);
    connect(reply_, &QNetworkReply::finished, this, &UpdateCheck::OnReplyFinished);
    deadline_->start(deadlineMs_);
    emit RunningChanged(true);
}

void UpdateCheck::OnHeaders() {
    // A length the server announces past the limit ends the check before
    // any of the answer is read.
    bool known = false;
    const qint64 length = reply_->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    if (known && length > kLargestUpdateFile)
        reply_->abort();
}

bool UpdateCheck::TakeAnswer() {
    const qint64 held = body_.size() + reply_->bytesAvailable();
    mostHeld_ = std::max(mostHeld_, held);
    if (held > kLargestUpdateFile) {
        reply_->abort(); // finished follows with an error, if it has not come yet
        return false;
    }
    // The reply may buffer only what is left below the limit, plus the one
    // byte that shows an answer is too long. Lowered before reading, so the
    // room the read frees is never filled past it.
    reply_->setReadBufferSize(kLargestUpdateFile + 1 - held);
    body_ += reply_->readAll();
    return true;
}

void UpdateCheck::OnReplyFinished() {
    deadline_->stop();
    QNetworkReply* reply = reply_;
    // Whatever came last is taken too.
    const bool whole = reply->error() == QNetworkReply::NoError && TakeAnswer();
    reply_ = nullptr;
    reply->deleteLater();
    emit RunningChanged(false);
    const std::optional<QString> newest = whole ? VersionInUpdateFile(body_) : std::nullopt;
    body_.clear();
    if (!newest) {
        emit Finished(kNotAccessible, {});
        return;
    }
    emit Finished(CompareVersionTexts(*newest, currentVersion_) > 0 ? kNewer : kUpToDate, *newest);
}

} // namespace sorvane::platform
