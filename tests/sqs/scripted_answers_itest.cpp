// Answers a real service would not give, from a scripted server. Bytes changed on the way:
// SendMessage, SendMessageBatch and ReceiveMessage answers with one byte of a digest, a body or
// an attribute value altered fail with ChecksumMismatch naming the message, and nothing that
// failed the check reaches the caller; with the checks off the same answer passes. A service
// that repeats its paging token does not keep ListAllQueues paging.
#include "sqs/brvHTTP.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sqs/brvSQSChecksums.h"
#include "support/SQSFixture.h"
#include "tests/http/support/ScriptedServer.h"

namespace brv {
namespace {

using test::ScriptedServer;
using testing::Answer;

// The text with the byte at Index changed to another character of the same kind.
std::string Flip(std::string Text, size_t Index) {
  Text.at(Index) = Text[Index] == 'a' ? 'b' : 'a';
  return Text;
}

std::string Element(const std::string& Name, const std::string& Value) {
  return "<" + Name + ">" + Value + "</" + Name + ">";
}

std::string ReceivedMessage(const std::string& Id, const std::string& Body,
                            const std::string& MD5OfBody, const std::string& Attributes = "",
                            const std::string& MD5OfAttributes = "") {
  return "<Message>" + Element("MessageId", Id) + Element("ReceiptHandle", "handle-" + Id) +
         Element("MD5OfBody", MD5OfBody) + Element("Body", Body) + Attributes +
         (MD5OfAttributes.empty() ? "" : Element("MD5OfMessageAttributes", MD5OfAttributes)) +
         "</Message>";
}

std::string StringAttribute(const std::string& Name, const std::string& Type,
                            const std::string& Value) {
  const char* kind = Type.rfind("Binary", 0) == 0 ? "BinaryValue" : "StringValue";
  return "<MessageAttribute>" + Element("Name", Name) + "<Value>" + Element(kind, Value) +
         Element("DataType", Type) + "</Value></MessageAttribute>";
}

class SQSScriptedAnswers : public ::testing::Test {
 protected:
  // Serves Body as the answer to the next request and points a client with the queue "q"
  // already resolved at the server.
  void Serve(const std::string& Body) { Serve(std::vector<std::string>{Body}); }
  // Serves each of Bodies on a connection of its own, in turn.
  void Serve(const std::vector<std::string>& Bodies) {
    std::vector<ScriptedServer::Script> scripts;
    for (const std::string& body : Bodies)
      scripts.push_back({ScriptedServer::Read(),
                         ScriptedServer::Send(
                             "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
                             std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body),
                         ScriptedServer::Close()});
    server_ = std::make_unique<ScriptedServer>(std::move(scripts));
    client_ = std::make_unique<TbrvHTTPAWS_SQS_Client>();
    client_->AWSOptions().Region = "us-east-1";
    client_->AWSOptions().AccessKey = "test";
    client_->AWSOptions().SecretKey = "test";
    client_->AWSOptions().EndPointURL = server_->Url("");
    client_->GetQueues().AddSQSQueue(client_->EndPoint(), "test", "q",
                                     server_->Url("/000000000000/q"));
    client_->OnSQSError = [this](TObject*, const std::string& Code, const std::string& Message,
                                 const std::string&) { errors_.push_back(Code + ": " + Message); };
  }

  // The one error reported, expected to be a digest mismatch naming MessageId and Element.
  void ExpectMismatch(const std::string& MessageId, const std::string& Element) {
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_EQ(errors_[0].rfind("ChecksumMismatch: ", 0), 0u) << errors_[0];
    EXPECT_NE(errors_[0].find("\"" + MessageId + "\""), std::string::npos) << errors_[0];
    EXPECT_NE(errors_[0].find(Element), std::string::npos) << errors_[0];
  }

  std::unique_ptr<ScriptedServer> server_;
  std::unique_ptr<TbrvHTTPAWS_SQS_Client> client_;
  std::vector<std::string> errors_;
};

// A message with one attribute of each kind, and the answer the service gives for it.
struct TSentMessage {
  TbrvSQSSendMessageRequest Request;
  std::string BodyMD5, AttributesMD5;
  TSentMessage() {
    Request.SetMessageBody("order 17: 3 \xC3\xA4pples");
    Request.MessageAttributes().AddSQSAttribute("colour", "String", "red");
    Request.MessageAttributes().AddSQSAttribute("weight", "Number.kg", "1.5");
    Request.MessageAttributes().AddSQSAttribute("thumb", "Binary", "AAEC/w==");
    BodyMD5 = SQSMD5Hex(Request.MessageBody());
    AttributesMD5 = SQSMessageAttributesMD5(Request.MessageAttributes());
  }
  std::string Answer(const std::string& Body, const std::string& Attributes) const {
    return testing::Answer("SendMessage", Element("MD5OfMessageBody", Body) +
                                              Element("MD5OfMessageAttributes", Attributes) +
                                              Element("MessageId", "m-1"));
  }
};

TEST_F(SQSScriptedAnswers, SendMessageFailsWhenADigestOfTheAnswerDiffers) {
  const TSentMessage sent;
  struct TRow {
    const char* Name;
    std::string Answer;
    const char* Element;  // nullptr: the answer is good
  } rows[] = {
      {"good", sent.Answer(sent.BodyMD5, sent.AttributesMD5), nullptr},
      {"body digest", sent.Answer(Flip(sent.BodyMD5, 7), sent.AttributesMD5), "MD5OfMessageBody"},
      {"attribute digest", sent.Answer(sent.BodyMD5, Flip(sent.AttributesMD5, 0)),
       "MD5OfMessageAttributes"},
      {"no digest", sent.Answer("", ""), "no MD5OfMessageBody"},
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.Name);
    errors_.clear();
    Serve(row.Answer);
    TbrvSQSSendMessageResponse response;
    const bool sent_ok = client_->SendMessage("q", sent.Request, response);
    EXPECT_EQ(sent_ok, row.Element == nullptr);
    if (row.Element == nullptr) {
      EXPECT_TRUE(errors_.empty());
      EXPECT_EQ(response.MessageId(), "m-1");
    } else {
      ExpectMismatch("m-1", row.Element);
      EXPECT_EQ(response.MessageId(), "");
    }
  }

  // Checks off: the altered answer is taken as it is.
  errors_.clear();
  Serve(rows[1].Answer);
  client_->SetChecksumValidation(false);
  TbrvSQSSendMessageResponse response;
  EXPECT_TRUE(client_->SendMessage("q", sent.Request, response));
  EXPECT_EQ(response.MD5OfMessageBody(), Flip(sent.BodyMD5, 7));
  EXPECT_TRUE(errors_.empty());
}

TEST_F(SQSScriptedAnswers, ABatchEntryWithAnotherDigestIsNotAccepted) {
  TbrvSQSSendMessageRequests requests;
  for (const char* id : {"first", "second"}) {
    auto request = std::make_unique<TbrvSQSSendMessageRequest>();
    request->SetID(id);
    request->SetMessageBody(std::string("body of ") + id);
    requests.AdoptItem(std::move(request));
  }
  auto entry = [](const std::string& Id, const std::string& MD5) {
    return "<SendMessageBatchResultEntry>" + Element("Id", Id) + Element("MessageId", "m-" + Id) +
           Element("MD5OfMessageBody", MD5) + "</SendMessageBatchResultEntry>";
  };
  Serve(Answer("SendMessageBatch", entry("first", SQSMD5Hex("body of first")) +
                                       entry("second", Flip(SQSMD5Hex("body of second"), 3))));
  TbrvSQSSendMessageResponses responses;
  client_->SendMessageBatch("q", requests, responses);
  ASSERT_EQ(responses.Count(), 1);
  EXPECT_EQ(responses.Items(0)->ID(), "first");
  ExpectMismatch("m-second", "batch entry \"second\"");
}

TEST_F(SQSScriptedAnswers, AReceivedMessageThatChangedIsNotHandedOut) {
  const std::string body = "payload <of> the second message";
  TbrvSQSMessageAttributes attributes;
  attributes.AddSQSAttribute("size", "Number", "12");
  attributes.AddSQSAttribute("blob", "Binary.raw", "3q2+7w==");
  const std::string attributes_xml =
      StringAttribute("size", "Number", "12") + StringAttribute("blob", "Binary.raw", "3q2+7w==");
  const std::string attributes_md5 = SQSMessageAttributesMD5(attributes);
  const std::string first = ReceivedMessage("m-1", "first", SQSMD5Hex("first"));
  struct TRow {
    const char* Name;
    std::string Second;
    const char* Element;  // nullptr: the answer is good
  } rows[] = {
      {"good", ReceivedMessage("m-2", body, SQSMD5Hex(body), attributes_xml, attributes_md5),
       nullptr},
      {"body", ReceivedMessage("m-2", Flip(body, 9), SQSMD5Hex(body)), "MD5OfBody"},
      {"body digest", ReceivedMessage("m-2", body, Flip(SQSMD5Hex(body), 31)), "MD5OfBody"},
      {"attribute value",
       ReceivedMessage("m-2", body, SQSMD5Hex(body),
                       StringAttribute("size", "Number", "13") +
                           StringAttribute("blob", "Binary.raw", "3q2+7w=="),
                       attributes_md5),
       "MD5OfMessageAttributes"},
      {"binary value",
       ReceivedMessage("m-2", body, SQSMD5Hex(body),
                       StringAttribute("size", "Number", "12") +
                           StringAttribute("blob", "Binary.raw", "3q2+8w=="),
                       attributes_md5),
       "MD5OfMessageAttributes"},
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.Name);
    errors_.clear();
    Serve(Answer("ReceiveMessage", first + row.Second));
    TbrvSQSReceiveMessageResponses messages;
    EXPECT_EQ(client_->ReceiveMessage("q", messages), row.Element == nullptr);
    if (row.Element == nullptr) {
      EXPECT_TRUE(errors_.empty());
      ASSERT_EQ(messages.Count(), 2);
      EXPECT_EQ(messages.Items(1)->MessageAttributes().Count(), 2);
    } else {
      ExpectMismatch("m-2", row.Element);
      EXPECT_EQ(messages.Count(), 0);
    }
  }
}

TEST_F(SQSScriptedAnswers, ARepeatedPagingTokenEndsThePaging) {
  auto page = [](const std::string& Queue) {
    return Answer("ListQueues", Element("QueueUrl", "http://127.0.0.1/0/" + Queue) +
                                    Element("NextToken", "same"));
  };
  Serve({page("a"), page("b"), page("c")});
  TStringList queues;
  ASSERT_TRUE(client_->ListAllQueues(queues, "", 1));
  EXPECT_EQ(queues.Count(), 2);
  const std::vector<std::string> requests = server_->Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[0].find("?Action=ListQueues&MaxResults=1 "), std::string::npos);
  EXPECT_NE(requests[1].find("?Action=ListQueues&MaxResults=1&NextToken=same "), std::string::npos);
}

}  // namespace
}  // namespace brv
