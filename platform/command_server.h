#pragma once
// Serves the window's command channel: a local socket private to the user
// where each connection brings one command line and gets one reply line
// ("accepted" or "not accepted"). Everything runs on the window's thread
// without ever waiting there for a client.

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;

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

    CommandServer(QString path, Handler handler, QObject* parent = nullptr);
    ~CommandServer() override;

    /// Starts serving on the path. A socket left by a program that is gone is
    /// removed first; one that a live server answers on is left alone. On
    /// anything but Serving, `why` (when given) says what happened.
    StartResult Start(QString* why = nullptr);
    bool IsServing() const;

    /// How long a client may take to send its whole command; after that it
    /// is dropped (default 3 seconds).
    void SetRequestTimeout(int milliseconds) { requestTimeout_ = milliseconds; }

    /// Clients connected at the same time beyond this are turned away at once.
    static constexpr int kMaxClients = 32;

signals:
    /// A client was dropped: it sent too much, something that was not a
    /// command line, or nothing in time.
    void ClientDropped();

private:
    struct Client;
    void OnNewConnection();
    void OnReadyRead(Client* client);
    void Drop(Client* client);
    void RunQueued();

    QString path_;
    Handler handler_;
    QLocalServer* server_ = nullptr;
    int requestTimeout_ = 3000;
    std::vector<std::unique_ptr<Client>> clients_;
    bool running_ = false; ///< a command runs (it may open a dialog with its own event loop)
};

} // namespace sorvane::platform
