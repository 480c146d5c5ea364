// The stalled-server row of the fault matrix through the SQS client: a service that sends the
// head of its answer and then nothing must not freeze the caller. With a read time-out set by
// the caller the operation raises the time-out, and the next operation on the same client
// works.
#include "sqs/brvHTTP.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "transport/IdException.h"

namespace brv {
namespace {

// A loopback service: the first connection gets the head of an answer and then silence until
// the client closes; every later connection gets a ListQueues answer.
class StallingService {
 public:
  StallingService() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd_, 4) != 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      throw std::runtime_error("StallingService: cannot listen");
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~StallingService() {
    stop_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    thread_.join();
    ::close(fd_);
  }
  std::string EndPoint() const { return "http://127.0.0.1:" + std::to_string(port_); }
  // True once the client closed the stalled connection.
  bool StalledConnectionClosed() const { return stalled_closed_; }

 private:
  static bool Readable(int AFd, int AMs) {
    pollfd p{AFd, POLLIN, 0};
    return ::poll(&p, 1, AMs) > 0;
  }
  // Reads up to the end of a request head; false when the client closed or went quiet.
  static bool ReadHead(int AFd) {
    std::string head;
    char buf[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
      if (!Readable(AFd, 15000)) return false;
      const ssize_t n = ::recv(AFd, buf, sizeof buf, 0);
      if (n <= 0) return false;
      head.append(buf, static_cast<size_t>(n));
    }
    return true;
  }
  // Waits until the client closes; true when it did.
  bool WaitForClose(int AFd) {
    char buf[4096];
    for (int waited = 0; waited < 60000 && !stop_; waited += 100) {
      if (!Readable(AFd, 100)) continue;
      if (::recv(AFd, buf, sizeof buf, 0) <= 0) return true;
    }
    return false;
  }
  void Serve() {
    for (int connection = 0; !stop_; ++connection) {
      if (!Readable(fd_, 15000) || stop_) return;
      const int conn = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (conn < 0) return;
      if (ReadHead(conn)) {
        const std::string body =
            "<ListQueuesResponse><ListQueuesResult><QueueUrl>" + EndPoint() +
            "/123456789012/orders</QueueUrl></ListQueuesResult></ListQueuesResponse>";
        const std::string answer =
            connection == 0
                ? "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 500\r\n\r\n"
                : "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
                      std::to_string(body.size()) + "\r\n\r\n" + body;
        ::send(conn, answer.data(), answer.size(), MSG_NOSIGNAL);
        const bool closed = WaitForClose(conn);
        if (connection == 0) stalled_closed_ = closed;
      }
      ::close(conn);
    }
  }

  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> stalled_closed_{false};
};

TEST(SQSFaultMatrix, AStalledServiceEndsTheCallWithATimeOutAndTheNextCallWorks) {
  StallingService service;
  TbrvHTTPAWS_SQS_Client client;
  client.AWSOptions().Region = "us-east-1";
  client.AWSOptions().AccessKey = "AKIDEXAMPLE";
  client.AWSOptions().SecretKey = "wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY";
  client.AWSOptions().EndPointURL = service.EndPoint();
  // Out of the box the client never waits for ever: both limits are finite, and reading
  // outlasts the longest long-poll wait of the service (20 s).
  EXPECT_GT(client.GetHTTPClient().ConnectTimeout(), 0);
  EXPECT_GT(client.GetHTTPClient().ReadTimeout(), 20000);
  client.GetHTTPClient().SetReadTimeout(300);
  // A read time-out is retried; with one attempt the time-out itself reaches the caller.
  client.SetMaxAttempts(1);

  TStringList queues;
  std::string error, message;
  try {
    client.ListQueues(queues, "");
  } catch (const Exception& e) {
    error = e.ClassName();
    message = e.Message();
  }
  EXPECT_EQ(error, "EIdReadTimeout");
  EXPECT_EQ(message, "Read timed out.");
  EXPECT_EQ(queues.Count(), 0);

  ASSERT_TRUE(client.ListQueues(queues, ""));
  ASSERT_EQ(queues.Count(), 1);
  EXPECT_EQ(queues[0], service.EndPoint() + "/123456789012/orders");
  EXPECT_TRUE(service.StalledConnectionClosed());
}

}  // namespace
}  // namespace brv
