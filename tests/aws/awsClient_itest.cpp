#include "aws/brvHTTP_Amazon_AWS.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "aws/brvAWSComponents.h"

namespace brv {
namespace {

// A one-shot loopback HTTP server: reads one request head, answers with canned bytes, and
// keeps what it received.
class OneShotServer {
 public:
  explicit OneShotServer(std::string answer) : answer_(std::move(answer)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(fd_, 4);
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~OneShotServer() {
    thread_.join();
    ::close(fd_);
  }
  int Port() const { return port_; }
  // The request head as received; valid once the client has its answer.
  const std::string& Request() const { return request_; }

 private:
  void Serve() {
    const int conn = ::accept(fd_, nullptr, nullptr);
    if (conn < 0) return;
    char buf[4096];
    while (request_.find("\r\n\r\n") == std::string::npos) {
      const ssize_t n = ::recv(conn, buf, sizeof buf, 0);
      if (n <= 0) break;
      request_.append(buf, static_cast<size_t>(n));
    }
    ::send(conn, answer_.data(), answer_.size(), MSG_NOSIGNAL);
    ::close(conn);
  }

  std::string answer_;
  std::string request_;
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
};

std::string Answer(const std::string& status, const std::string& body) {
  return "HTTP/1.1 " + status + "\r\nContent-Type: text/xml\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

class AWSClientOverHTTP : public ::testing::Test {
 protected:
  void SetUp() override {
    client.AWSOptions().Region = "us-east-1";
    client.AWSOptions().Service = "sqs";
    client.AWSOptions().AccessKey = "AKIDEXAMPLE";
    client.AWSOptions().SecretKey = "secret";
  }
  TbrvHTTP_Amazon_AWS_Client client;
};

TEST_F(AWSClientOverHTTP, TheLibrarysComponentsSignAndFetchARealAnswer) {
  OneShotServer server(Answer("200 OK", "<ListQueuesResponse>ok</ListQueuesResponse>"));
  const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) +
                          "/?Action=ListQueues";
  std::string response, error;
  EXPECT_TRUE(client.GetURL(url, response, error));
  EXPECT_EQ(response, "<ListQueuesResponse>ok</ListQueuesResponse>");
  EXPECT_EQ(error, "");
  const std::string& head = server.Request();
  EXPECT_EQ(head.rfind("GET /?Action=ListQueues HTTP/1.1\r\n", 0), 0u) << head;
  EXPECT_NE(head.find("\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n"),
            std::string::npos);
  EXPECT_NE(head.find("\r\nX-Amz-Date:2"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nAuthorization: AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/"),
            std::string::npos);
  EXPECT_NE(head.find("SignedHeaders=content-type;host;x-amz-date, Signature="),
            std::string::npos);
  EXPECT_NE(head.find("\r\nContent-Type: application/x-www-form-urlencoded; charset=utf-8\r\n"),
            std::string::npos);
}

TEST_F(AWSClientOverHTTP, AnHTTPErrorStatusBecomesTheErrorText) {
  const std::string body =
      "<ErrorResponse><Error><Code>AccessDenied</Code><Message>no</Message></Error>"
      "</ErrorResponse>";
  OneShotServer server(Answer("403 Forbidden", body));
  const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) +
                          "/?Action=ListQueues";
  std::string response, error;
  EXPECT_FALSE(client.GetURL(url, response, error));
  EXPECT_EQ(response, "");
  EXPECT_EQ(error, body);
}

TEST_F(AWSClientOverHTTP, ARefusedConnectionRaisesToTheCaller) {
  int port = 0;
  {
    OneShotServer server(Answer("200 OK", ""));
    port = server.Port();
    // Let the server finish its one exchange so the port is closed afterwards.
    std::string response, error;
    client.GetURL("http://127.0.0.1:" + std::to_string(port) + "/?Action=X", response, error);
  }
  TbrvHTTP_Amazon_AWS_Client fresh;
  std::string response, error;
  EXPECT_THROW(
      fresh.GetURL("http://127.0.0.1:" + std::to_string(port) + "/?Action=X", response, error),
      EIdException);
  EXPECT_EQ(response, "");
  EXPECT_EQ(error, "");
}

}  // namespace
}  // namespace brv
