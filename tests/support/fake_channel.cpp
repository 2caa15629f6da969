#include "support/fake_channel.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace sorvane::test {

int BoundSocket(const std::string& path, bool listen) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        (listen && ::listen(fd, 4) != 0)) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

FakeChannelServer::FakeChannelServer(const std::string& path, std::string reply,
                                     std::chrono::milliseconds hold)
    : fd_(BoundSocket(path)), thread_([this, reply = std::move(reply), hold] {
          const int client = ::accept(fd_, nullptr, nullptr);
          if (client < 0)
              return;
          char buffer[256];
          while (!received_.ends_with('\n')) {
              const ssize_t got = ::read(client, buffer, sizeof(buffer));
              if (got <= 0)
                  break;
              received_.append(buffer, static_cast<std::size_t>(got));
          }
          if (!reply.empty())
              [[maybe_unused]] const auto written = ::write(client, reply.data(), reply.size());
          std::this_thread::sleep_for(hold);
          ::close(client);
      }) {}

FakeChannelServer::~FakeChannelServer() {
    Received();
    ::close(fd_);
}

const std::string& FakeChannelServer::Received() {
    if (thread_.joinable())
        thread_.join();
    return received_;
}

} // namespace sorvane::test
