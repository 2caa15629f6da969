#pragma once
// Commands from other programs over the command channel: window states,
// Tab, and clicks of the main tool bar's buttons by their keys.

#include <QObject>
#include <QString>

namespace sorvane::platform {
class CommandServer;
}

namespace sorvane::shell {

struct WindowContext;

class ChannelDispatch : public QObject {
    Q_OBJECT
public:
    ChannelDispatch(WindowContext& window, QObject* parent);

    /// Serves the channel at `path`; nothing when it is empty.
    void Start(const QString& path);
    /// A command of another program: "Maximize", "Minimize", "Restore",
    /// "Hide", "Show" or "Tab", any letter case, are done and accepted; any
    /// other text clicks the first main tool bar button with that key,
    /// enabled or not, and is not accepted.
    bool fwMain_Form_LinkExecute(const QString& command);
    /// The channel's server; null without a channel.
    platform::CommandServer* commandServer() const { return server_; }

private:
    WindowContext& window_;
    platform::CommandServer* server_ = nullptr;
};

} // namespace sorvane::shell
