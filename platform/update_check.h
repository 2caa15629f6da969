#pragma once
// Asks the maker's web server for the newest version of the program.
//
// The update file holds the newest version as a quoted version text, for
// example `version = "1.27";`; the first quoted text of the file counts.

#include <QObject>
#include <QString>
#include <QUrl>

#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

namespace sorvane::platform {

/// The update file's address below a web address that ends with "/":
/// web address + "Products/" + title + "/" + title + ".js". A web address
/// without the final "/" gets one, so the folder is never glued to the host.
QUrl UpdateAddress(const QString& webAddress, const QString& title);

/// The first double-quoted text of `file` when it is a version text (numbers
/// separated by dots: "1.27", "2.05.0012"); nothing when there is no quoted
/// text or it is not a version.
std::optional<QString> VersionInUpdateFile(const QByteArray& file);

/// Compares two version texts part by part as numbers, a missing part
/// counting as 0 ("1.5" equals "1.05", "1.2" is older than "1.2.1"):
/// -1 when `a` is older, 0 when equal, 1 when newer.
int CompareVersionTexts(const QString& a, const QString& b);

/// One check at a time, asynchronous: Start returns at once and Finished
/// follows from the event loop, so the window stays responsive while a slow
/// server is waited for.
class UpdateCheck : public QObject {
    Q_OBJECT
public:
    /// What a check can end with.
    enum Result : int {
        kNotAccessible = -1, ///< no answer, an HTTP error, a time-out, or an unreadable file
        kUpToDate = 0,       ///< the server's version is not newer than ours
        kNewer = 1,          ///< the server has a newer version
        kBusy = 2,           ///< a check was already running; this one was not started
    };

    explicit UpdateCheck(QObject* parent = nullptr);
    ~UpdateCheck() override;

    /// The transfer time-out; a server that sends nothing for this long ends
    /// the check with kNotAccessible. Five seconds unless set.
    void setTimeout(int milliseconds) { timeoutMs_ = milliseconds; }
    bool isRunning() const { return reply_ != nullptr; }

    /// Fetches `address` and compares the version it names with
    /// `currentVersion`. While a check runs, another Start emits Finished
    /// with kBusy at once and leaves the running check alone.
    void Start(const QUrl& address, const QString& currentVersion);

signals:
    /// `newest` is the server's version text when the file could be read.
    void Finished(int result, const QString& newest);

private:
    void OnReplyFinished();

    QNetworkAccessManager* network_ = nullptr;
    QNetworkReply* reply_ = nullptr;
    QString currentVersion_;
    int timeoutMs_ = 5000;
};

} // namespace sorvane::platform
