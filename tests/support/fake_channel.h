#pragma once
// A stand-in for a window serving the command channel: a socket on a path
// of the test that takes one connection on a thread, reads one request line
// and answers a given reply.

#include <chrono>
#include <string>
#include <thread>

namespace sorvane::test {

/// Binds a local stream socket to `path` and, unless `listen` is false
/// (which leaves a socket file nobody serves, as a crashed window does),
/// listens on it. Returns the descriptor, -1 on failure.
int BoundSocket(const std::string& path, bool listen = true);

class FakeChannelServer {
public:
    /// Serves one connection on `path`: answers `reply` (nothing when empty)
    /// once a line has come, then keeps the connection open for `hold`.
    FakeChannelServer(const std::string& path, std::string reply,
                      std::chrono::milliseconds hold = std::chrono::milliseconds(0));
    ~FakeChannelServer();
    FakeChannelServer(const FakeChannelServer&) = delete;
    FakeChannelServer& operator=(const FakeChannelServer&) = delete;

    /// Waits until the connection is served; what the client sent.
    const std::string& Received();

private:
    int fd_;
    std::string received_;
    std::thread thread_;
};

} // namespace sorvane::test
