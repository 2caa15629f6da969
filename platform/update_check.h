#pragma once
// Asks the maker's web server for the newest version of the program.
//
// The update file holds the newest version as a quoted version text, for
// example `version = "1.27";`; the first quoted text of the file counts.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

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

/// The longest answer a check reads, in bytes: an update file is a few
/// bytes, and a longer answer is no update file.
inline constexpr qint64 kLargestUpdateFile = 64 * 1024;

/// One check at a time, asynchronous: Start returns at once and Finished
/// follows from the event loop, so the window stays responsive while a slow
/// server is waited for. The answer is read as it comes, never more than
/// kLargestUpdateFile + 1 bytes of it held at once; a longer one ends the
/// check (kNotAccessible) as soon as it shows.
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
    /// The longest a check may take in all, however the server trickles its
    /// answer; then it ends with kNotAccessible. Fifteen seconds unless set.
    void setDeadline(int milliseconds) { deadlineMs_ = milliseconds; }
    bool isRunning() const { return reply_ != nullptr; }
    /// The most bytes of the answer the last check held in memory at once,
    /// in the reply's buffer and its own together.
    qint64 mostBytesHeld() const { return mostHeld_; }

    /// Fetches `address` and compares the version it names with
    /// `currentVersion`. While a check runs, another Start emits Finished
    /// with kBusy at once and leaves the running check alone.
    void Start(const QUrl& address, const QString& currentVersion);

signals:
    /// A check started (true), or ended (false, just before its Finished).
    void RunningChanged(bool running);
    /// `newest` is the server's version text when the file could be read.
    void Finished(int result, const QString& newest);

private:
    void OnHeaders();
    /// Takes what came of the answer; false, with the reply aborted, once it
    /// is longer than any update file.
    bool TakeAnswer();
    void OnReplyFinished();

    QNetworkAccessManager* network_ = nullptr;
    QNetworkReply* reply_ = nullptr;
    QTimer* deadline_ = nullptr;
    QByteArray body_; ///< what came of the answer so far
    qint64 mostHeld_ = 0;
    QString currentVersion_;
    int timeoutMs_ = 5000;
    int deadlineMs_ = 15000;
};

} // namespace sorvane::platform
