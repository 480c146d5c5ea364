// What the tests of both TLS engines share: a handler of the engine under a TCP client with the
// helpers that connect and speak HTTP/1.1 through it, and the closed-peer write check.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "transport/IdException.h"
#include "transport/IdIOHandler.h"
#include "transport/IdTCPClient.h"

namespace brv::tlstest {

// A fixture with a fresh THandler under a fresh TIdTCPClient for every test.
template <class THandler>
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    handler_ = std::make_unique<THandler>();
    client_ = std::make_unique<TIdTCPClient>();
    client_->SetIOHandler(handler_.get());
  }
  void TearDown() override {
    client_.reset();
    handler_.reset();
  }

  // Connects over TLS to host:port (the host also names the server, as a request URL would).
  void Connect(const std::string& AHost, int APort) {
    handler_->SetPassThrough(false);
    handler_->SetURIToCheck("https://" + AHost + ":" + std::to_string(APort) + "/");
    ConnectInClear(AHost, APort);
  }

  // Connects without TLS as the handler stands (pass-through on, say).
  void ConnectInClear(const std::string& AHost, int APort) {
    client_->SetHost(AHost);
    client_->SetPort(static_cast<std::uint16_t>(APort));
    client_->Connect();
  }

  // Sends one GET and returns the status line and the body.
  std::pair<std::string, std::string> Get(const std::string& APath = "/",
                                          const std::string& AHost = "localhost") {
    handler_->Write("GET " + APath + " HTTP/1.1\r\nHost: " + AHost + "\r\n\r\n");
    return ReadResponse();
  }

  // Reads one answer with a counted body: the status line and the body.
  std::pair<std::string, std::string> ReadResponse() {
    const std::string status = handler_->ReadLn();
    int length = 0;
    for (std::string line = handler_->ReadLn(); !line.empty(); line = handler_->ReadLn()) {
      if (line.rfind("Content-Length:", 0) == 0) length = std::stoi(line.substr(15));
    }
    return {status, handler_->ReadString(length)};
  }

  std::unique_ptr<THandler> handler_;
  std::unique_ptr<TIdTCPClient> client_;
};

// Asks nginx for one answer with "Connection: close", reads it to the end, then writes 16 KiB
// at a time until a write raises (at most 20 times). SIGPIPE is at its default action for the
// while: a write that signalled instead of raising would end the test program. True when a
// write raised.
inline bool WritesToAClosedPeerRaise(TIdIOHandler& AHandler) {
  struct sigaction previous {};
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &dfl, &previous);
  AHandler.Write(std::string("GET / HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n"));
  AHandler.AllData();  // nginx answers and closes
  bool raised = false;
  for (int i = 0; i < 20 && !raised; ++i) {
    try {
      AHandler.Write(std::string(16384, 'x'));
    } catch (const EIdException&) {
      raised = true;
    }
  }
  sigaction(SIGPIPE, &previous, nullptr);
  return raised;
}

}  // namespace brv::tlstest
