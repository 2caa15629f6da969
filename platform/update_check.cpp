#include "platform/update_check.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

namespace sorvane::platform {
namespace {

// The update file is a few bytes; a longer answer is not an update file.
constexpr qint64 kLargestUpdateFile = 64 * 1024;

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
    : QObject(parent) {}

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
    QNetworkRequest request(address);
    request.setTransferTimeout(timeoutMs_);
    // A cached copy could tell of an old version after a new one came out.
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    // Made on the first check: most runs of the window never ask.
    if (network_ == nullptr)
        network_ = new QNetworkAccessManager(this);
    reply_ = network_->get(request);
    connect(reply_, &QNetworkReply::downloadProgress, reply_, [reply = reply_](qint64 received) {
        if (received > kLargestUpdateFile)
            reply->abort(); // no update file is that long: finished follows with an error
    });
    connect(reply_, &QNetworkReply::finished, this, &UpdateCheck::OnReplyFinished);
}

void UpdateCheck::OnReplyFinished() {
    QNetworkReply* reply = reply_;
    reply_ = nullptr;
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError || reply->bytesAvailable() > kLargestUpdateFile) {
        emit Finished(kNotAccessible, {});
        return;
    }
    const std::optional<QString> newest = VersionInUpdateFile(reply->read(kLargestUpdateFile));
    if (!newest) {
        emit Finished(kNotAccessible, {});
        return;
    }
    emit Finished(CompareVersionTexts(*newest, currentVersion_) > 0 ? kNewer : kUpToDate, *newest);
}

} // namespace sorvane::platform
