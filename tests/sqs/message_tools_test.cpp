// The message tools on canned answers: batches split by count and payload size, a move whose
// sends fail for some entries deletes none of those, a FIFO move keeps the group and takes the
// source message id as deduplication id, and a standard-to-FIFO move without a group id sends
// nothing.
#include "sqs/brvSQSMessageTools.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/SQSFixture.h"

namespace brv {
namespace {

using testing::Answer;
using testing::kEndPoint;
using testing::kQueueURL;

struct TSplitCase {
  const char* Name;
  std::vector<int> Sizes;     // body sizes
  std::vector<int> Expected;  // first message of each batch, then the count
};

class SplitIntoBatchesTable : public ::testing::TestWithParam<TSplitCase> {};

TEST_P(SplitIntoBatchesTable, KeepsEachBatchWithinCountAndPayload) {
  TbrvSQSSendMessageRequests messages;
  for (size_t i = 0; i < GetParam().Sizes.size(); ++i) {
    auto message = std::make_unique<TbrvSQSSendMessageRequest>();
    message->SetID("e" + std::to_string(i));
    message->SetMessageBody(std::string(GetParam().Sizes[i], 'x'));
    messages.AdoptItem(std::move(message));
  }
  EXPECT_EQ(SplitIntoBatches(messages), GetParam().Expected);
}

constexpr int KiB = 1024;
INSTANTIATE_TEST_SUITE_P(
    Rows, SplitIntoBatchesTable,
    ::testing::Values(TSplitCase{"empty", {}, {0}},
                      TSplitCase{"elevenSmall", std::vector<int>(11, 10), {0, 10, 11}},
                      TSplitCase{"exactlyTheLimit", {128 * KiB, 128 * KiB, 1}, {0, 2, 3}},
                      TSplitCase{"twoHundredKiB", {200 * KiB, 200 * KiB, 200 * KiB}, {0, 1, 2, 3}},
                      TSplitCase{"oversizedAlone", {300 * KiB, 1, 1}, {0, 1, 3}}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(SplitIntoBatchesAttributes, CountAttributeNamesTypesAndValues) {
  TbrvSQSSendMessageRequests messages;
  for (int i = 0; i < 2; ++i) {
    auto message = std::make_unique<TbrvSQSSendMessageRequest>();
    message->SetID("e" + std::to_string(i));
    message->SetMessageBody(std::string(128 * KiB - 20, 'x'));
    message->MessageAttributes().AddSQSAttribute("name", "String", std::string(20, 'v'));
    messages.AdoptItem(std::move(message));
  }
  EXPECT_EQ(SplitIntoBatches(messages), (std::vector<int>{0, 1, 2}));
}

class MessageToolsCanned : public testing::SQSClientTest {
 protected:
  void SetUp() override {
    ResolveOrders();
    seams.AnswerBody(testing::GetQueueUrlAnswer(kTarget));
    ASSERT_EQ(client.GetQueueURL(kTargetName), kTarget + "/");
    seams.Gets.clear();
  }
  // A received message with a receipt handle "handle-ID" and, when given, a group id.
  static std::string Received(const std::string& Id, const std::string& Group = "") {
    std::string xml = "<Message><MessageId>" + Id + "</MessageId><ReceiptHandle>handle-" + Id +
                      "</ReceiptHandle><MD5OfBody>x</MD5OfBody><Body>body " + Id + "</Body>";
    if (!Group.empty())
      xml += "<Attribute><Name>MessageGroupId</Name><Value>" + Group + "</Value></Attribute>";
    return xml + "</Message>";
  }
  static std::string SentEntry(const std::string& Id) {
    return "<SendMessageBatchResultEntry><Id>" + Id + "</Id><MessageId>new-" + Id +
           "</MessageId><MD5OfMessageBody>x</MD5OfMessageBody></SendMessageBatchResultEntry>";
  }
  static std::string DeletedEntry(const std::string& Id) {
    return "<DeleteMessageBatchResultEntry><Id>" + Id + "</Id></DeleteMessageBatchResultEntry>";
  }

  const std::string kTargetName = "target";
  const std::string kTarget = kEndPoint + "/123456789012/target";
};

TEST_F(MessageToolsCanned, EntriesWhoseSendFailedAreNotDeleted) {
  seams.AnswerBody(Answer("ReceiveMessage", Received("a") + Received("b") + Received("c")));
  seams.AnswerBody(
      Answer("SendMessageBatch", SentEntry("m0") +
                                     "<BatchResultErrorEntry><Id>m1</Id><Code>InternalError</Code>"
                                     "<Message>try again</Message><SenderFault>false</SenderFault>"
                                     "</BatchResultErrorEntry>" +
                                     SentEntry("m2")));
  seams.AnswerBody(Answer("DeleteMessageBatch", DeletedEntry("m0") + DeletedEntry("m2")));
  seams.AnswerBody(Answer("ReceiveMessage", ""));

  TbrvSQSMoveResult result;
  EXPECT_FALSE(MoveMessages(client, "orders", kTargetName, TbrvSQSMoveOptions{}, result));
  const std::vector<std::string> urls = Sent();
  ASSERT_EQ(urls.size(), 4u);
  EXPECT_NE(urls[2].find("Action=DeleteMessageBatch"), std::string::npos);
  EXPECT_NE(urls[2].find("handle-a"), std::string::npos);
  EXPECT_NE(urls[2].find("handle-c"), std::string::npos);
  EXPECT_EQ(urls[2].find("handle-b"), std::string::npos);
  EXPECT_EQ(result.Counts.Moved, 2);
  EXPECT_EQ(result.Counts.SendFailed, 1);
  ASSERT_EQ(result.Failures.size(), 1u);
  EXPECT_EQ(result.Failures[0], "b: InternalError: try again");
}

TEST_F(MessageToolsCanned, FifoMoveKeepsTheGroupAndDeduplicatesBySourceId) {
  seams.AnswerBody(
      Answer("GetQueueUrl", "<QueueUrl>" + kEndPoint + "/123456789012/in.fifo</QueueUrl>"));
  seams.AnswerBody(
      Answer("GetQueueUrl", "<QueueUrl>" + kEndPoint + "/123456789012/out.fifo</QueueUrl>"));
  seams.AnswerBody(Answer("ReceiveMessage", Received("a", "g1")));
  seams.AnswerBody(Answer("SendMessageBatch", SentEntry("m0")));
  seams.AnswerBody(Answer("DeleteMessageBatch", DeletedEntry("m0")));
  seams.AnswerBody(Answer("ReceiveMessage", ""));
  client.GetQueueURL("in.fifo");
  client.GetQueueURL("out.fifo");
  TbrvSQSMoveOptions options;
  options.MessageGroupId = "ignored";
  TbrvSQSMoveResult result;
  EXPECT_TRUE(MoveMessages(client, "in.fifo", "out.fifo", options, result));
  const std::string send = Sent().at(3);
  EXPECT_NE(send.find("MessageGroupId=g1"), std::string::npos) << send;
  EXPECT_NE(send.find("MessageDeduplicationId=a"), std::string::npos) << send;
  EXPECT_EQ(send.find("DelaySeconds"), std::string::npos) << send;

  // A standard source has no groups: without one given, nothing is sent.
  seams.Gets.clear();
  EXPECT_THROW(MoveMessages(client, "orders", "out.fifo", TbrvSQSMoveOptions{}, result),
               EbrvSQSMoveRefused);
  EXPECT_TRUE(seams.Gets.empty());
}

}  // namespace
}  // namespace brv
