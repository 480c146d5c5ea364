// Bulk loopback throughput through the I/O handler against a plain send/recv loop on a raw
// socket with the same buffer size (32 KiB), in the same process and the same run.
//
// Each pair shares its peer: a raw-socket thread that sends (or swallows) bytes as fast as it
// can. Only the measured side differs: the raw loop, or TIdTCPClient's handler (ReadBytes of
// 32 KiB pieces, Write of 32 KiB pieces).
//
//   cmake -S . -B build-bench -DBRV_BUILD_BENCH=ON && cmake --build build-bench --target
//   bench_transport_throughput build-bench/bench/bench_transport_throughput
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "transport/IdTCPClient.h"

namespace {

using namespace brv;

constexpr std::size_t kChunk = 32768;
constexpr std::int64_t kBytesPerIteration = std::int64_t{64} << 20;

// A listener on 127.0.0.1 with a port the OS picked.
struct TListener {
  int fd = -1;
  std::uint16_t port = 0;
  TListener() {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      throw std::runtime_error("listen failed");
    }
    port = ntohs(addr.sin_port);
  }
  ~TListener() { ::close(fd); }
  int Accept() const { return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC); }
};

int RawConnect(std::uint16_t APort) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(APort);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    throw std::runtime_error("connect failed");
  }
  return fd;
}

// The peer that sends without pause until the measured side closes.
void FloodPeer(int AFd) {
  std::vector<char> chunk(kChunk, 'x');
  while (::send(AFd, chunk.data(), chunk.size(), MSG_NOSIGNAL) > 0) {
  }
  ::close(AFd);
}

// The peer that swallows everything until the measured side closes.
void SinkPeer(int AFd) {
  std::vector<char> chunk(kChunk);
  while (::recv(AFd, chunk.data(), chunk.size(), 0) > 0) {
  }
  ::close(AFd);
}

void BM_Receive_RawSocket(benchmark::State& state) {
  TListener listener;
  const int fd = RawConnect(listener.port);
  std::thread peer(FloodPeer, listener.Accept());
  std::vector<char> buffer(kChunk);
  for (auto _ : state) {
    std::int64_t left = kBytesPerIteration;
    while (left > 0) {
      const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
      if (n <= 0) throw std::runtime_error("recv failed");
      left -= n;
    }
  }
  state.SetBytesProcessed(state.iterations() * kBytesPerIteration);
  ::shutdown(fd, SHUT_RDWR);
  ::close(fd);
  peer.join();
}

void BM_Receive_IOHandler(benchmark::State& state) {
  TListener listener;
  TIdTCPClient client;
  client.Connect("127.0.0.1", listener.port);
  std::thread peer(FloodPeer, listener.Accept());
  TIdIOHandler* io = client.IOHandler();
  TIdBytes buffer(kChunk);
  for (auto _ : state) {
    std::int64_t left = kBytesPerIteration;
    while (left > 0) {
      io->ReadBytes(buffer, static_cast<int>(kChunk), false);
      left -= static_cast<std::int64_t>(kChunk);
    }
  }
  state.SetBytesProcessed(state.iterations() * kBytesPerIteration);
  client.Disconnect();
  peer.join();
}

void BM_Send_RawSocket(benchmark::State& state) {
  TListener listener;
  const int fd = RawConnect(listener.port);
  std::thread peer(SinkPeer, listener.Accept());
  std::vector<char> chunk(kChunk, 'y');
  for (auto _ : state) {
    for (std::int64_t sent = 0; sent < kBytesPerIteration;
         sent += static_cast<std::int64_t>(kChunk)) {
      std::size_t off = 0;
      while (off < kChunk) {
        const ssize_t n = ::send(fd, chunk.data() + off, kChunk - off, MSG_NOSIGNAL);
        if (n <= 0) throw std::runtime_error("send failed");
        off += static_cast<std::size_t>(n);
      }
    }
  }
  state.SetBytesProcessed(state.iterations() * kBytesPerIteration);
  ::close(fd);
  peer.join();
}

void BM_Send_IOHandler(benchmark::State& state) {
  TListener listener;
  TIdTCPClient client;
  client.Connect("127.0.0.1", listener.port);
  std::thread peer(SinkPeer, listener.Accept());
  TIdIOHandler* io = client.IOHandler();
  const TIdBytes chunk(kChunk, 'y');
  for (auto _ : state) {
    for (std::int64_t sent = 0; sent < kBytesPerIteration;
         sent += static_cast<std::int64_t>(kChunk)) {
      io->Write(chunk);
    }
  }
  state.SetBytesProcessed(state.iterations() * kBytesPerIteration);
  client.Disconnect();
  peer.join();
}

// Interleaved so that drifting machine load hits both sides of a pair alike.
BENCHMARK(BM_Receive_RawSocket)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_Receive_IOHandler)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_Send_RawSocket)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_Send_IOHandler)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
