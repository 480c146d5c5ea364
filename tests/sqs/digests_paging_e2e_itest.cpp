// Message digests and queue paging against the local SQS service, whose digests come from a
// package of its own: its real answers pass the checks for every attribute type, and the
// pages of ListQueues give every queue once.
#include "sqs/brvHTTP.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sqs/brvSQSChecksums.h"
#include "support/SQSServiceFixture.h"

namespace brv {
namespace {

using testing::E2ETransportName;
using testing::E2ETransports;
using testing::SQSServiceTest;

class SQSServiceDigests : public SQSServiceTest {};

// name, type, value (a Binary value as base64 text)
const std::vector<std::vector<std::string>> kAttributes = {
    {"text", "String", "gr\xC3\xBC\xC3\x9F\x65 & <tags>"},
    {"count", "Number", "-12.5e3"},
    {"picture", "Binary", "iVBORw0KGgo="},
    {"price", "Number.euro", "9.99"},
    {"kind", "String.label", "fragile"},
    {"raw", "Binary.gz", "H4sIAAAAAAAAAw=="},
};

void AddAttributes(TbrvSQSSendMessageRequest& Request) {
  for (const auto& a : kAttributes) Request.MessageAttributes().AddSQSAttribute(a[0], a[1], a[2]);
}

TEST_P(SQSServiceDigests, RealAnswersPassTheChecksForEveryAttributeType) {
  auto client = MakeClient();
  ASSERT_TRUE(client->ChecksumValidation());
  const std::string queue = UniqueName("digests");
  ASSERT_FALSE(client->CreateQueue(queue).empty());

  std::map<std::string, std::string> bodies;  // message id -> body
  TbrvSQSSendMessageRequest request;
  request.SetMessageBody("single \xE2\x82\xAC 1");
  AddAttributes(request);
  TbrvSQSSendMessageResponse response;
  ASSERT_TRUE(client->SendMessage(queue, request, response));
  EXPECT_EQ(response.MD5OfMessageAttributes(),
            SQSMessageAttributesMD5(request.MessageAttributes()));
  bodies[response.MessageId()] = request.MessageBody();

  TbrvSQSSendMessageRequests batch;
  for (int i = 0; i < 12; ++i) {
    auto entry = std::make_unique<TbrvSQSSendMessageRequest>();
    entry->SetID("e" + std::to_string(i));
    entry->SetMessageBody("batch body " + std::to_string(i));
    if (i % 2 == 0) AddAttributes(*entry);
    batch.AdoptItem(std::move(entry));
  }
  TbrvSQSSendMessageResponses answers;
  client->SendMessageBatch(queue, batch, answers);
  ASSERT_EQ(answers.Count(), 12);
  for (int i = 0; i < answers.Count(); ++i)
    bodies[answers.Items(i)->MessageId()] = batch.Find(answers.Items(i)->ID())->MessageBody();

  TbrvSQSReceiveMessageResponses received;
  ReceiveUpTo(*client, queue, 13, received, 60);
  ASSERT_EQ(received.Count(), 13);
  for (int i = 0; i < received.Count(); ++i) {
    const TbrvSQSReceiveMessageResponse& message = *received.Items(i);
    EXPECT_EQ(message.Body(), bodies[message.MessageId()]);
    const int count = message.MessageAttributes().Count();
    EXPECT_TRUE(count == 0 || count == static_cast<int>(kAttributes.size())) << count;
    if (count != 0) {
      EXPECT_EQ(message.MessageAttributes().Find("raw")->AttributeValue(), kAttributes[5][2]);
      EXPECT_FALSE(message.MD5OfMessageAttributes().empty());
    }
  }
  EXPECT_TRUE(client->DeleteQueue(queue));
}

TEST_P(SQSServiceDigests, PagesGiveEveryQueueOnce) {
  auto client = MakeClient();
  const std::string prefix = UniqueName("paged");
  std::set<std::string> created;
  for (int i = 0; i < 23; ++i) {
    const std::string url = client->CreateQueue(prefix + "-" + std::to_string(i));
    ASSERT_FALSE(url.empty());
    created.insert(url);
  }

  TStringList page;
  std::string token;
  ASSERT_TRUE(client->ListQueuesPage(page, prefix, 10, token));
  EXPECT_EQ(page.Count(), 10);
  EXPECT_FALSE(token.empty());

  TStringList all;
  ASSERT_TRUE(client->ListAllQueues(all, prefix, 5));
  EXPECT_EQ(std::set<std::string>(all.Lines().begin(), all.Lines().end()), created);
  EXPECT_EQ(all.Count(), 23);

  ASSERT_TRUE(client->ListAllQueues(all, prefix, 5, 12));
  EXPECT_EQ(all.Count(), 12);
  EXPECT_EQ(std::set<std::string>(all.Lines().begin(), all.Lines().end()).size(), 12u);

  // ListQueues without paging: one request, every queue up to 1000.
  ASSERT_TRUE(client->ListQueues(all, prefix));
  EXPECT_EQ(all.Count(), 23);
  for (int i = 0; i < 23; ++i) EXPECT_TRUE(client->DeleteQueue(prefix + "-" + std::to_string(i)));
}

INSTANTIATE_TEST_SUITE_P(Transports, SQSServiceDigests, ::testing::Values(E2ETransports()[0]),
                         E2ETransportName);

}  // namespace
}  // namespace brv
