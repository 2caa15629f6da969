#include "platform/command_server.h"

#include "engine/channel/command_channel.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>

#include <sys/ioctl.h>
#include <sys/stat.h>

#include <algorithm>

namespace sorvane::platform {

struct CommandServer::Client {
    QPointer<QLocalSocket> socket;
    QTimer* timer = nullptr; ///< a child of the socket
    CommandRequestReader reader;
    bool queued = false; ///< the whole command arrived and waits for its turn
};

CommandServer::CommandServer(QString path, Handler handler, QObject* parent)
    : QObject(parent), path_(std::move(path)), handler_(std::move(handler)),
      takeOver_(new QTimer(this)) {
    takeOver_->setInterval(500);
    connect(takeOver_, &QTimer::timeout, this, [this] {
        const StartResult result = Start().result;
        if (result != StartResult::TakenByAnother)
            takeOver_->stop();
        if (result == StartResult::Serving)
            emit ServingStarted();
    });
}

void CommandServer::SetTakeOverInterval(int milliseconds) { takeOver_->setInterval(milliseconds); }

CommandServer::~CommandServer() {
    for (const auto& client : clients_) {
        if (client->socket) {
            client->socket->disconnect(this);
            client->timer->disconnect(this);
        }
    }
    // Closing the server removes its socket file.
    if (server_ != nullptr)
        server_->close();
}

bool CommandServer::IsServing() const { return server_ != nullptr && server_->isListening(); }

CommandServer::Started CommandServer::Start() {
    const auto fail = [](StartResult result, Failure why) { return Started{result, std::move(why)}; };
    if (IsServing())
        return {StartResult::Serving, {}};
    const std::string path = path_.toStdString();
    if (const auto usable = CheckChannelPath(path, true); !usable)
        return fail(StartResult::Failed, usable.error());
    // Whoever holds the lock serves: a window that finds it taken waits for
    // its turn, and only the holder may call a socket stale.
    lock_ = TryLockChannel(path);
    const auto taken = [&] {
        lock_ = UniqueFd();
        if (!takeOver_->isActive())
            takeOver_->start();
        return fail(StartResult::TakenByAnother, {Reason::ChannelTaken, Step::Listen, path});
    };
    if (lock_.get() < 0)
        return taken();
    struct stat info{};
    if (::lstat(path.c_str(), &info) == 0) {
        // Someone listens without the lock (a program that does not take it).
        if (ChannelIsLive(path))
            return taken();
        // Left behind by a window that ended without closing it.
        if (!QLocalServer::removeServer(path_)) {
            lock_ = UniqueFd();
            return fail(StartResult::Failed, {Reason::OldSocketStays, Step::Listen, path});
        }
    }
    server_ = new QLocalServer(this);
    // The socket is made under a temporary name, given the user's access
    // only, then renamed into place: never reachable by others meanwhile.
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(path_)) {
        const QString error = server_->errorString();
        delete server_;
        server_ = nullptr;
        lock_ = UniqueFd();
        Failure why(Reason::NotServed, Step::Listen, path);
        why.detail = error.toStdString();
        return fail(StartResult::Failed, std::move(why));
    }
    connect(server_, &QLocalServer::newConnection, this, &CommandServer::OnNewConnection);
    return {StartResult::Serving, {}};
}

void CommandServer::OnNewConnection() {
    while (server_->hasPendingConnections()) {
        QLocalSocket* socket = server_->nextPendingConnection();
        if (static_cast<int>(clients_.size()) >= kMaxClients && !DropIdlest()) {
            socket->abort();
            socket->deleteLater();
            emit ClientDropped();
            continue;
        }
        // A request is one short line; a client sending more is cut off
        // rather than read into memory.
        socket->setReadBufferSize(static_cast<qint64>(kMaxCommandBytes) + 2);
        auto client = std::make_unique<Client>();
        Client* raw = client.get();
        raw->socket = socket;
        raw->timer = new QTimer(socket);
        raw->timer->setSingleShot(true);
        // Stopped once the whole command has come.
        connect(raw->timer, &QTimer::timeout, this, [this, raw] {
            emit ClientDropped();
            Drop(raw);
        });
        connect(socket, &QLocalSocket::readyRead, this, [this, raw] { OnReadyRead(raw); });
        connect(socket, &QLocalSocket::disconnected, this, [this, raw] {
            // A client that hung up after its whole command still gets it run.
            if (!raw->queued)
                Drop(raw);
        });
        clients_.push_back(std::move(client));
        raw->timer->start(requestTimeout_);
        OnReadyRead(raw); // bytes may have come with the connection
    }
}

void CommandServer::OnReadyRead(Client* client) {
    if (client->queued || !client->socket)
        return;
    QLocalSocket* socket = client->socket;
    while (socket->bytesAvailable() > 0 &&
           client->reader.Current() == CommandRequestReader::State::Incomplete) {
        const QByteArray bytes = socket->read(static_cast<qint64>(kMaxCommandBytes) + 2);
        client->reader.Add(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    }
    switch (client->reader.Current()) {
    case CommandRequestReader::State::Incomplete:
        return;
    case CommandRequestReader::State::TooLong:
        emit ClientDropped();
        Drop(client);
        return;
    case CommandRequestReader::State::Complete:
        client->queued = true;
        client->timer->stop();
        // Run from the event loop, not inside the socket's signal.
        QMetaObject::invokeMethod(this, &CommandServer::RunQueued, Qt::QueuedConnection);
        return;
    }
}

bool CommandServer::DropIdlest() {
    // Bytes the window has not yet taken from a client: it is sending now.
    const auto sending = [](const Client& client) {
        int pending = 0;
        return client.socket->bytesAvailable() > 0 ||
               (::ioctl(static_cast<int>(client.socket->socketDescriptor()), FIONREAD, &pending) == 0 &&
                pending > 0);
    };
    // The list is in the order the clients came: the first found has
    // waited longest.
    auto victim = std::ranges::find_if(clients_, [&](const auto& c) {
        return !c->queued && c->socket && !sending(*c);
    });
    if (victim == clients_.end())
        victim = std::ranges::find_if(clients_, [](const auto& c) { return !c->queued; });
    if (victim == clients_.end())
        return false;
    emit ClientDropped();
    Drop(victim->get());
    return true;
}

void CommandServer::Drop(Client* client) {
    const auto it = std::ranges::find_if(clients_, [client](const auto& c) { return c.get() == client; });
    if (it == clients_.end())
        return;
    if (QLocalSocket* socket = client->socket) {
        socket->disconnect(this);
        client->timer->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
    clients_.erase(it);
}

void CommandServer::RunQueued() {
    // A command that opens a dialog runs an event loop of its own; commands
    // arriving meanwhile wait until it returns, as the user's clicks do.
    if (running_)
        return;
    const auto it = std::ranges::find_if(clients_, [](const auto& c) { return c->queued; });
    if (it == clients_.end())
        return;
    Client* client = it->get();
    // Take the client off the list while its command runs, so nothing else
    // can drop it meanwhile.
    std::unique_ptr<Client> running = std::move(*it);
    clients_.erase(it);
    running_ = true;
    const QString command = QString::fromUtf8(client->reader.Command());
    const bool accepted = handler_(command);
    running_ = false;
    if (QLocalSocket* socket = client->socket) {
        socket->disconnect(this);
        client->timer->disconnect(this);
        const std::string_view reply = accepted ? kAcceptedReply : kNotAcceptedReply;
        socket->write(reply.data(), static_cast<qint64>(reply.size()));
        socket->write("\n", 1);
        // Closing waits until the reply is written; the socket goes then.
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        socket->disconnectFromServer();
        if (socket->state() == QLocalSocket::UnconnectedState)
            socket->deleteLater();
    }
    if (std::ranges::any_of(clients_, [](const auto& c) { return c->queued; }))
        QMetaObject::invokeMethod(this, &CommandServer::RunQueued, Qt::QueuedConnection);
}

} // namespace sorvane::platform
