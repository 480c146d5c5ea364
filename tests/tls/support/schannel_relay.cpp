#include "support/schannel_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <stdexcept>

namespace brv::schanneltest {

namespace {

int ConnectTo(int APort) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(APort));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int AFd, const std::uint8_t* AData, std::size_t ASize) {
  while (ASize > 0) {
    const ssize_t n = ::send(AFd, AData, ASize, MSG_NOSIGNAL);
    if (n <= 0) return false;
    AData += n;
    ASize -= static_cast<std::size_t>(n);
  }
  return true;
}

// Splits a byte stream into TLS records as it passes.
class RecordScanner {
 public:
  // Feeds bytes; every record completed by them is passed to AOnRecord.
  template <class F>
  void Feed(const std::uint8_t* AData, std::size_t ASize, F&& AOnRecord) {
    pending_.insert(pending_.end(), AData, AData + ASize);
    std::size_t pos = 0;
    while (pending_.size() - pos >= 5) {
      const int length = (pending_[pos + 3] << 8) | pending_[pos + 4];
      if (pending_.size() - pos < 5u + static_cast<std::size_t>(length)) break;
      pos += 5u + static_cast<std::size_t>(length);
      AOnRecord(
          Record{pending_[pos - 5u - static_cast<std::size_t>(length)], length, consumed_ + pos});
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pos));
    consumed_ += pos;
  }

 private:
  std::vector<std::uint8_t> pending_;
  std::size_t consumed_ = 0;  // stream offset of pending_'s first byte
};

}  // namespace

Relay::Relay(int ATargetPort, Options AOptions) : target_(ATargetPort), options_(AOptions) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listener_, 16) != 0) {
    ::close(listener_);
    throw std::runtime_error("relay: cannot listen on loopback");
  }
  socklen_t len = sizeof addr;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

Relay::~Relay() {
  stopping_ = true;
  acceptor_.join();
  {
    std::lock_guard<std::mutex> guard(mutex_);
    for (int fd : sockets_) ::shutdown(fd, SHUT_RDWR);
  }
  for (auto& t : pumps_) t.join();
  for (int fd : sockets_) ::close(fd);
  ::close(listener_);
}

std::vector<Record> Relay::ClientRecords() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return client_records_;
}

std::vector<Record> Relay::ServerRecords() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return server_records_;
}

void Relay::AcceptLoop() {
  while (!stopping_) {
    pollfd pfd{listener_, POLLIN, 0};
    if (::poll(&pfd, 1, 50) <= 0) continue;
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    const int server = ConnectTo(target_);
    if (server < 0) {
      ::close(client);
      continue;
    }
    std::lock_guard<std::mutex> guard(mutex_);
    sockets_.push_back(client);
    sockets_.push_back(server);
    pumps_.emplace_back([this, client, server] { Pump(client, server, false); });
    pumps_.emplace_back([this, client, server] { Pump(server, client, true); });
  }
}

void Relay::Pump(int AFrom, int ATo, bool AFromServer) {
  RecordScanner scanner;
  std::vector<std::uint8_t> held;
  bool holding = false;
  bool held_once = false;
  // Once the other side is gone, bytes are still read and noted, just not passed on.
  bool forwarding = true;
  bool corrupted = false;
  std::size_t stream = 0;  // stream offset of buffer[0]
  std::uint8_t buffer[65536];
  for (;;) {
    const ssize_t n = ::recv(AFrom, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    bool release = false;
    scanner.Feed(buffer, static_cast<std::size_t>(n), [&](const Record& ARecord) {
      if (AFromServer && options_.CorruptServerData && !corrupted && ARecord.Type == 23) {
        // The record ends in this buffer, since it completed with it.
        buffer[ARecord.End - 1 - stream] ^= 0x01;
        corrupted = true;
      }
      std::lock_guard<std::mutex> guard(mutex_);
      (AFromServer ? server_records_ : client_records_).push_back(ARecord);
      if (!AFromServer || !options_.HoldFinalFlight || held_once) return;
      if (ARecord.Type == 20) holding = true;
      if (holding && ARecord.Type == 23) release = true;
    });
    stream += static_cast<std::size_t>(n);
    if (!forwarding) continue;
    if (holding && !held_once) {
      held.insert(held.end(), buffer, buffer + n);
      if (!release) continue;
      holding = false;
      held_once = true;
      forwarding = SendAll(ATo, held.data(), held.size());
      held.clear();
    } else if (AFromServer && options_.ServerPiece > 0) {
      for (ssize_t pos = 0; forwarding && pos < n;
           pos += static_cast<ssize_t>(options_.ServerPiece)) {
        const auto piece =
            std::min<std::size_t>(options_.ServerPiece, static_cast<std::size_t>(n - pos));
        forwarding = SendAll(ATo, buffer + pos, piece);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    } else {
      forwarding = SendAll(ATo, buffer, static_cast<std::size_t>(n));
    }
  }
  ::shutdown(ATo, SHUT_WR);
}

}  // namespace brv::schanneltest
