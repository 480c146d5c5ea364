// A test fixture for the SQS client: the client with recording seams underneath, region
// us-east-1, an error-event log, and builders for the service's XML answers.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sqs/brvHTTP.h"
#include "tests/aws/support/RecordingSeams.h"

namespace brv::testing {

inline const std::string kEndPoint = "https://sqs.us-east-1.amazonaws.com";
inline const std::string kQueueURL = "https://sqs.us-east-1.amazonaws.com/123456789012/orders";
inline const std::string kRequestId = "b6633655-283d-45b4-aee4-4e84e0ae6afa";

// A success answer: <ActionResponse><ActionResult>Result</ActionResult> and the request id.
inline std::string Answer(const std::string& Action, const std::string& Result,
                          const std::string& RequestId = kRequestId) {
  std::string xml = "<?xml version=\"1.0\"?>\n<" + Action +
                    "Response xmlns=\"http://queue.amazonaws.com/doc/2012-11-05/\">";
  if (!Result.empty()) xml += "<" + Action + "Result>" + Result + "</" + Action + "Result>";
  xml += "<ResponseMetadata><RequestId>" + RequestId + "</RequestId></ResponseMetadata></" +
         Action + "Response>";
  return xml;
}

// An answer with no result element, as DeleteQueue and its kind give.
inline std::string EmptyAnswer(const std::string& Action) {
  return Answer(Action, "");
}

// The service's error document.
inline std::string ErrorAnswer(const std::string& Code, const std::string& Message) {
  return "<?xml version=\"1.0\"?>\n<ErrorResponse "
         "xmlns=\"http://queue.amazonaws.com/doc/2012-11-05/\"><Error><Type>Sender</Type><Code>" +
         Code + "</Code><Message>" + Message + "</Message><Detail/></Error><RequestId>" +
         kRequestId + "</RequestId></ErrorResponse>";
}

inline std::string GetQueueUrlAnswer(const std::string& URL) {
  return Answer("GetQueueUrl", "<QueueUrl>" + URL + "</QueueUrl>");
}

struct TReportedError {
  std::string Code, Description, Raw;
};

class SQSClientTest : public ::testing::Test {
 protected:
  SQSClientTest() {
    seams.Install(client);
    client.AWSOptions().Region = "us-east-1";
    client.AWSOptions().AccessKey = "AKIDEXAMPLE";
    client.AWSOptions().SecretKey = "wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY";
    // The canned answers carry made-up digests; the digest checks have tests of their own.
    client.SetChecksumValidation(false);
    // One canned answer per request: an error answer ends the call instead of being retried.
    client.SetMaxAttempts(1);
    client.OnSQSError = [this](TObject* Sender, const std::string& Code,
                               const std::string& Description, const std::string& Raw) {
      EXPECT_EQ(Sender, &client);
      errors.push_back({Code, Description, Raw});
    };
  }

  // Resolves "orders" to kQueueURL through the service and forgets that request, so a test
  // sees only the requests of the operation it drives.
  void ResolveOrders() {
    seams.AnswerBody(GetQueueUrlAnswer(kQueueURL));
    ASSERT_EQ(client.GetQueueURL("orders"), kQueueURL + "/");
    seams.Gets.clear();
    seams.SignedURLs.clear();
  }

  // The URLs fetched since the last ResolveOrders, each checked to carry the date and
  // authorization lines computed for exactly that URL.
  std::vector<std::string> Sent() const {
    std::vector<std::string> urls;
    for (const auto& get : seams.Gets) {
      EXPECT_EQ(get.SignedURL, get.URL);
      EXPECT_EQ(get.Headers.size(), 2u);
      if (get.Headers.size() == 2) {
        EXPECT_EQ(get.Headers[0], "X-Amz-Date:20240305T101112Z");
        EXPECT_EQ(get.Headers[1].rfind("Authorization: AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/"
                                       "20240305/us-east-1/sqs/aws4_request, ",
                                       0),
                  0u)
            << get.Headers[1];
      }
      urls.push_back(get.URL);
    }
    return urls;
  }

  TRecordingSeams seams;
  TbrvHTTPAWS_SQS_Client client;
  std::vector<TReportedError> errors;
};

}  // namespace brv::testing
