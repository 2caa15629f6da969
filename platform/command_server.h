#pragma once
// Serves the window's command channel: a local socket private to the user
// where each connection brings one command line and gets one reply line
// ("accepted" or "not accepted"). Everything runs on the window's thread
// without ever waiting there for a client.

#include "engine/failure.h"
#include "engine/files/unique_fd.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;
class QTimer;

namespace sorvane::platform {

class CommandServer : public QObject {
    Q_OBJECT
public:
    /// Runs one command; true when it is accepted.
    using Handler = std::function<bool(const QString& command)>;

    enum class StartResult {
        Serving,
        TakenByAnother, ///< a live server answers on the path; this one stays silent
        Failed,         ///< the path may not be used or the socket cannot be made
    };
    /// How a start went, and on anything but Serving what happened.
    struct Started {
        StartResult result = StartResult::Failed;
        Failure why;
    };

    CommandServer(QString path, Handler handler, QObject* parent = nullptr);
    ~CommandServer() override;

    /// Starts serving on the path, once this window holds the channel's lock
    /// (TryLockChannel). A socket left by a program that is gone is removed
    /// first; one that a live server answers on is left alone. On
    /// TakenByAnother the server keeps trying every take-over interval and
    /// serves as soon as the other window lets go (ServingStarted says so).
    Started Start();
    bool IsServing() const;

    /// How long a client may take to send its whole command; after that it
    /// is dropped (default 3 seconds).
    void SetRequestTimeout(int milliseconds) { requestTimeout_ = milliseconds; }
    /// How often a window whose channel another holds tries to take it over
    /// (default half a second).
    void SetTakeOverInterval(int milliseconds);

    /// Clients connected at the same time. When all places are taken, a new
    /// client takes the place of the longest-waiting one that has sent
    /// nothing more (or, failing that, has not sent a whole command); only
    /// when every client waits with a whole command is the new one turned
    /// away. So idle clients never shut out a command.
    static constexpr int kMaxClients = 32;

signals:
    /// A client was dropped: it sent too much, something that was not a
    /// command line, or nothing in time, or it was idle when another came.
    void ClientDropped();
    /// The window took the channel over from one that let it go.
    void ServingStarted();

private:
    struct Client;
    void OnNewConnection();
    /// Drops the client whose place a new one takes; false when every
    /// client waits with a whole command.
    bool DropIdlest();
    void OnReadyRead(Client* client);
    void Drop(Client* client);
    void RunQueued();

    QString path_;
    Handler handler_;
    /// Destroyed after the server is closed: the socket goes before the lock.
    UniqueFd lock_;
    QLocalServer* server_ = nullptr;
    QTimer* takeOver_ = nullptr;
    int requestTimeout_ = 3000;
    std::vector<std::unique_ptr<Client>> clients_;
    bool running_ = false; ///< a command runs (it may open a dialog with its own event loop)
};

} // namespace sorvane::platform
