// A fixture for tests of the SQS client against the local SQS service: one service per test
// program, clients set up for the transport under test, every service error reported through
// OnSQSError collected, and a few helpers for checking what the service holds.
#pragma once

#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "sqs/brvHTTP.h"
#include "support/E2ETransports.h"
#include "support/LocalSQSService.h"
#include "support/SharedLocalSQSService.h"

namespace brv::testing {

struct TServiceError {
  std::string Code, Description;
};

class SQSServiceTest : public TWithLocalSQSService<::testing::TestWithParam<TE2ETransport>> {
 protected:
  // Every request of a test passed the service's checks unless the test said otherwise.
  void TearDown() override {
    for (const TServiceError& error : errors)
      ADD_FAILURE() << "service error " << error.Code << ": " << error.Description;
  }

  static TLocalSQSService& Service() { return *service; }
  std::string EndPoint(const TLocalSQSService& Of = Service()) const {
    return GetParam().TLS ? Of.HTTPS() : Of.HTTP();
  }

  // A client of the service (this program's, or Of) for the transport under test, with the
  // service's credentials; its service errors land in `errors`.
  std::unique_ptr<TbrvHTTPAWS_SQS_Client> MakeClient(const std::string& SecretKey = "test",
                                                     const TLocalSQSService& Of = Service()) {
    auto client = std::make_unique<TbrvHTTPAWS_SQS_Client>();
    client->AWSOptions().Region = Of.Region();
    client->AWSOptions().AccessKey = "test";
    client->AWSOptions().SecretKey = SecretKey;
    client->AWSOptions().EndPointURL = EndPoint(Of);
    // Verification stays on (the client's default); the service's CA is the trusted root.
    client->GetHTTPClient().TLSOptions().RootCertFile = Of.CA();
    client->GetHTTPClient().TLSOptions().IOHandler = GetParam().Engine;
    client->OnSQSError = [this](TObject*, const std::string& Code, const std::string& Description,
                                const std::string&) {
      errors.push_back({Code, Description});
    };
    return client;
  }

  // A queue name no other test of this program uses.
  static std::string UniqueName(const std::string& Prefix) {
    static int counter = 0;
    return Prefix + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
  }

  // The value of a queue attribute as the service reports it now ("" when absent).
  static std::string QueueAttribute(TbrvHTTPAWS_SQS_Client& Client, const std::string& Queue,
                                    const std::string& Name) {
    TbrvSQSAttributes attributes;
    if (!Client.GetQueueAttributes(Queue, attributes)) return "<request failed>";
    const TbrvSQSAttribute* attribute = attributes.Find(Name);
    return attribute != nullptr ? attribute->AttributeValue() : std::string();
  }

  // The attribute's value once it reads Expected, or the last value read within about two
  // seconds. The service makes a new message countable only on its next turn of the event
  // loop, so a count read right after a send may lag.
  static std::string AwaitQueueAttribute(TbrvHTTPAWS_SQS_Client& Client, const std::string& Queue,
                                         const std::string& Name, const std::string& Expected) {
    std::string value;
    for (int attempt = 0; attempt < 40; ++attempt) {
      value = QueueAttribute(Client, Queue, Name);
      if (value == Expected) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return value;
  }

  // Receives until Count messages came or a few empty answers in a row; all attributes and
  // message attributes asked for.
  static void ReceiveUpTo(TbrvHTTPAWS_SQS_Client& Client, const std::string& Queue, int Count,
                          TbrvSQSReceiveMessageResponses& Into, int VisibilityTimeout = 0) {
    TbrvSQSReceiveMessageRequest request;
    request.SetMaxNumberOfMessages(10);
    request.SetAttributes({sqsatAll});
    request.MessageAttributeName().Add("All");
    request.SetWaitTimeSeconds(1);
    request.SetVisibilityTimeout(VisibilityTimeout);
    for (int empty = 0; Into.Count() < Count && empty < 3;) {
      const int before = Into.Count();
      if (!Client.ReceiveMessage(Queue, request, Into)) return;
      empty = Into.Count() == before ? empty + 1 : 0;
    }
  }

  std::vector<TServiceError> errors;
};

}  // namespace brv::testing
