// The floor under every request/answer figure on this machine: one-byte round trips over a
// loopback TCP connection between two processes, with nothing else done, the client waiting
// the way our transport does (poll() with a time-out, then a receive). Run with the echoing
// peer on the client's own processor and on the other one: on an otherwise idle virtual
// machine, every answer from the other processor has to wake the client's sleeping core, and
// the kernel charges that to the client as system time, whatever the client does.
//
//   bench_transport_wakeup [--benchmark_filter=...]
//
// Counters: the client process's user and system CPU per round trip (getrusage) and the round
// trips per second. Needs two processors for the second row.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace {

void Pin(int ACpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(ACpu, &set);
  sched_setaffinity(0, sizeof set, &set);
}

double Micros(const timeval& ATime) {
  return ATime.tv_sec * 1e6 + ATime.tv_usec;
}

// Args: the client's processor, the echoing peer's processor.
void BM_LoopbackRoundTrip(benchmark::State& state) {
  const int client_cpu = static_cast<int>(state.range(0));
  const int peer_cpu = static_cast<int>(state.range(1));
  if (peer_cpu >= static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN))) {
    state.SkipWithError("this machine has one processor");
    return;
  }
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      listen(listener, 1) != 0) {
    state.SkipWithError("no loopback listener");
    return;
  }
  const int one = 1;
  const pid_t peer = fork();
  if (peer == 0) {
    Pin(peer_cpu);
    const int connection = accept(listener, nullptr, nullptr);
    setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    char buffer[64];
    for (;;) {
      const ssize_t n = recv(connection, buffer, sizeof buffer, 0);
      if (n <= 0 || send(connection, buffer, static_cast<size_t>(n), MSG_NOSIGNAL) != n) _exit(0);
    }
  }
  close(listener);
  Pin(client_cpu);
  const int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    state.SkipWithError("no connection");
  } else {
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    char byte = 'x';
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    for (auto _ : state) {
      if (send(client, &byte, 1, MSG_DONTWAIT | MSG_NOSIGNAL) != 1) {
        state.SkipWithError("send failed");
        break;
      }
      pollfd wait{client, POLLIN, 0};
      if (poll(&wait, 1, 60000) != 1 || recv(client, &byte, 1, MSG_DONTWAIT) != 1) {
        state.SkipWithError("no echo");
        break;
      }
    }
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    const double trips = static_cast<double>(state.iterations());
    state.counters["client_user_us"] = (Micros(after.ru_utime) - Micros(before.ru_utime)) / trips;
    state.counters["client_sys_us"] = (Micros(after.ru_stime) - Micros(before.ru_stime)) / trips;
    state.counters["round_trips"] = benchmark::Counter(trips, benchmark::Counter::kIsRate);
  }
  close(client);
  waitpid(peer, nullptr, 0);
}

BENCHMARK(BM_LoopbackRoundTrip)
    ->ArgNames({"client_cpu", "peer_cpu"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Iterations(20000)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
