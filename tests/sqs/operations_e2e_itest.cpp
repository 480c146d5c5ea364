// Every operation of the SQS client against the local SQS service, which checks each request's
// signature the way AWS does: over plain HTTP and over HTTPS through each TLS engine with the
// certificate verified. After each step the test looks at what the service holds.
#include "sqs/brvHTTP.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "sqs/brvSQSChecksums.h"
#include "support/SQSServiceFixture.h"

namespace brv {
namespace {

using testing::E2ETransportName;
using testing::E2ETransports;
using testing::SQSServiceTest;

std::vector<std::string> Lines(const TStringList& List) {
  return std::vector<std::string>(List.Lines().begin(), List.Lines().end());
}

bool Contains(const std::vector<std::string>& List, const std::string& Item) {
  return std::find(List.begin(), List.end(), Item) != List.end();
}

class SQSOperations : public SQSServiceTest {};

TEST_P(SQSOperations, QueuesAreCreatedConfiguredTaggedAndDeleted) {
  auto client = MakeClient();
  const std::string name = UniqueName("settings");

  TbrvSQSCreateQueue create;
  create.SetQueueName(name);
  create.Attributes().AddSQSAttribute(sqsatVisibilityTimeout, "45");
  create.Attributes().AddSQSAttribute(sqsatMessageRetentionPeriod, "3600");
  create.Tags().AddSQSTag("team", "blue");
  create.Tags().AddSQSTag("cost centre", "a:b/c=d+e-f@g.h_i 7");
  const std::string url = client->CreateQueue(create);
  ASSERT_EQ(url, EndPoint() + "/" + Service().AccountId() + "/" + name);

  // Found by name, by prefix, and in the whole list.
  EXPECT_EQ(client->GetQueueURL(name), url + "/");
  TStringList queues;
  ASSERT_TRUE(client->ListQueues(queues, name.substr(0, name.size() - 2)));
  EXPECT_TRUE(Contains(Lines(queues), url));
  ASSERT_TRUE(client->ListQueues(queues, ""));
  EXPECT_TRUE(Contains(Lines(queues), url));

  // The attributes given at creation, then changed and read back.
  EXPECT_EQ(QueueAttribute(*client, name, "VisibilityTimeout"), "45");
  EXPECT_EQ(QueueAttribute(*client, name, "MessageRetentionPeriod"), "3600");
  TbrvSQSAttributes change;
  change.AddSQSAttribute(sqsatVisibilityTimeout, "60");
  change.AddSQSAttribute(sqsatMaximumMessageSize, "2048");
  change.AddSQSAttribute(sqsatDelaySeconds, "2");
  ASSERT_TRUE(client->SetQueueAttributes(name, change));
  EXPECT_EQ(QueueAttribute(*client, name, "VisibilityTimeout"), "60");
  EXPECT_EQ(QueueAttribute(*client, name, "MaximumMessageSize"), "2048");
  EXPECT_EQ(QueueAttribute(*client, name, "DelaySeconds"), "2");
  EXPECT_EQ(QueueAttribute(*client, name, "QueueArn"),
            "arn:aws:sqs:" + Service().Region() + ":" + Service().AccountId() + ":" + name);

  // Tags: those of the creation, one added, one taken away.
  TbrvSQSTags tags;
  ASSERT_TRUE(client->ListQueueTags(name, tags));
  ASSERT_EQ(tags.Count(), 2);
  ASSERT_NE(tags.Find("team"), nullptr);
  EXPECT_EQ(tags.Find("team")->Value(), "blue");
  ASSERT_NE(tags.Find("cost centre"), nullptr);
  EXPECT_EQ(tags.Find("cost centre")->Value(), "a:b/c=d+e-f@g.h_i 7");
  ASSERT_TRUE(client->TagQueue(name, "stage", "prod"));
  ASSERT_TRUE(client->UnTagQueue(name, "team"));
  ASSERT_TRUE(client->ListQueueTags(name, tags));
  EXPECT_EQ(tags.Count(), 2);
  EXPECT_EQ(tags.Find("team"), nullptr);
  ASSERT_NE(tags.Find("stage"), nullptr);
  EXPECT_EQ(tags.Find("stage")->Value(), "prod");

  // Deleted: no longer listed, and a client that never saw it cannot find it.
  ASSERT_TRUE(client->DeleteQueue(name));
  ASSERT_TRUE(client->ListQueues(queues, ""));
  EXPECT_FALSE(Contains(Lines(queues), url));
  auto fresh = MakeClient();
  EXPECT_EQ(fresh->GetQueueURL(name), "");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].Code, "AWS.SimpleQueueService.NonExistentQueue");
  errors.clear();
}

TEST_P(SQSOperations, MessagesAreSentReceivedHiddenAndDeleted) {
  auto client = MakeClient();
  const std::string name = UniqueName("messages");
  ASSERT_FALSE(client->CreateQueue(name).empty());

  TbrvSQSSendMessageRequest send;
  send.SetMessageBody("order 1 & 2 = \"3\"");
  send.MessageAttributes().AddSQSAttribute("colour", "String", "blue green");
  send.MessageAttributes().AddSQSAttribute("count", "Number", "42");
  send.MessageAttributes().AddSQSAttribute("blob", "Binary", "AAEC/w==");
  TbrvSQSSendMessageResponse sent;
  ASSERT_TRUE(client->SendMessage(name, send, sent));
  EXPECT_FALSE(sent.MessageId().empty());
  EXPECT_EQ(sent.MD5OfMessageBody(), SQSMD5Hex(send.MessageBody()));
  EXPECT_EQ(sent.MD5OfMessageAttributes().size(), 32u);

  TbrvSQSReceiveMessageResponses received;
  ReceiveUpTo(*client, name, 1, received);
  ASSERT_EQ(received.Count(), 1);
  const TbrvSQSReceiveMessageResponse* message = received.Items(0);
  EXPECT_EQ(message->MessageId(), sent.MessageId());
  EXPECT_EQ(message->Body(), send.MessageBody());
  EXPECT_EQ(message->MD5OfBody(), sent.MD5OfMessageBody());
  EXPECT_EQ(message->MD5OfMessageAttributes(), sent.MD5OfMessageAttributes());
  ASSERT_EQ(message->MessageAttributes().Count(), 3);
  const TbrvSQSMessageAttributeItem* colour = message->MessageAttributes().Find("colour");
  ASSERT_NE(colour, nullptr);
  EXPECT_EQ(colour->AttributeType(), "String");
  EXPECT_EQ(colour->AttributeValue(), "blue green");
  const TbrvSQSMessageAttributeItem* count = message->MessageAttributes().Find("count");
  ASSERT_NE(count, nullptr);
  EXPECT_EQ(count->AttributeType(), "Number");
  EXPECT_EQ(count->AttributeValue(), "42");
  const TbrvSQSMessageAttributeItem* blob = message->MessageAttributes().Find("blob");
  ASSERT_NE(blob, nullptr);
  EXPECT_EQ(blob->AttributeType(), "Binary");
  EXPECT_EQ(blob->AttributeValue(), "AAEC/w==");
  ASSERT_NE(message->Attributes().Find("ApproximateReceiveCount"), nullptr);
  EXPECT_EQ(message->Attributes().Find("ApproximateReceiveCount")->AttributeValue(), "1");

  // Hidden while in flight; visible again at once after a visibility change to 0.
  EXPECT_EQ(QueueAttribute(*client, name, "ApproximateNumberOfMessagesNotVisible"), "1");
  ASSERT_TRUE(client->ChangeMessageVisibility(name, message->ReceiptHandle(), 0));
  TbrvSQSReceiveMessageResponses again;
  ReceiveUpTo(*client, name, 1, again);
  ASSERT_EQ(again.Count(), 1);
  EXPECT_EQ(again.Items(0)->MessageId(), sent.MessageId());
  // (The service counts the visibility change as a receive too.)
  EXPECT_NE(again.Items(0)->Attributes().Find("ApproximateReceiveCount")->AttributeValue(), "1");

  ASSERT_TRUE(client->DeleteMessage(name, again.Items(0)->ReceiptHandle()));
  EXPECT_EQ(QueueAttribute(*client, name, "ApproximateNumberOfMessages"), "0");
  EXPECT_EQ(QueueAttribute(*client, name, "ApproximateNumberOfMessagesNotVisible"), "0");
  ASSERT_TRUE(client->DeleteQueue(name));
}

TEST_P(SQSOperations, BatchesCarryEveryEntryTenPerRequest) {
  auto client = MakeClient();
  const std::string name = UniqueName("batches");
  ASSERT_FALSE(client->CreateQueue(name).empty());

  // Twelve messages: two requests of ten and two.
  TbrvSQSSendMessageRequests requests;
  std::set<std::string> bodies;
  for (int i = 1; i <= 12; ++i) {
    auto request = std::make_unique<TbrvSQSSendMessageRequest>();
    request->SetID("entry-" + std::to_string(i));
    request->SetMessageBody("body " + std::to_string(i) + " €");
    request->MessageAttributes().AddSQSAttribute("n", "Number", std::to_string(i));
    bodies.insert(request->MessageBody());
    requests.AdoptItem(std::move(request));
  }
  TbrvSQSSendMessageResponses responses;
  client->SendMessageBatch(name, requests, responses);
  ASSERT_EQ(responses.Count(), 12);
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(responses.Items(i)->ID(), "entry-" + std::to_string(i + 1));
    EXPECT_EQ(responses.Items(i)->MD5OfMessageBody(), SQSMD5Hex(requests.Items(i)->MessageBody()));
  }
  EXPECT_EQ(AwaitQueueAttribute(*client, name, "ApproximateNumberOfMessages", "12"), "12");

  TbrvSQSReceiveMessageResponses received;
  ReceiveUpTo(*client, name, 12, received, 30);
  ASSERT_EQ(received.Count(), 12);
  std::set<std::string> got;
  TbrvSQSChangeMessageVisibilityBatchRequests hide;
  TbrvSQSDeleteMessageBatchRequestItems remove;
  for (int i = 0; i < received.Count(); ++i) {
    const TbrvSQSReceiveMessageResponse* message = received.Items(i);
    got.insert(message->Body());
    const std::string id = "m" + std::to_string(i);
    hide.AddSQSChangeVisibility(id, message->ReceiptHandle(), 120);
    remove.AddSQSDeleteMessage(id, message->ReceiptHandle());
  }
  EXPECT_EQ(got, bodies);

  TStringList ids;
  ids.Add("stale");
  ASSERT_TRUE(client->ChangeMessageVisibilityBatch(name, hide, ids));
  EXPECT_EQ(ids.Count(), 12);
  for (int i = 0; i < 12; ++i) EXPECT_TRUE(Contains(Lines(ids), "m" + std::to_string(i)));
  EXPECT_EQ(QueueAttribute(*client, name, "ApproximateNumberOfMessagesNotVisible"), "12");

  client->DeleteMessageBatch(name, remove);
  EXPECT_EQ(QueueAttribute(*client, name, "ApproximateNumberOfMessages"), "0");
  EXPECT_EQ(QueueAttribute(*client, name, "ApproximateNumberOfMessagesNotVisible"), "0");
  ASSERT_TRUE(client->DeleteQueue(name));
}

TEST_P(SQSOperations, APurgedQueueIsEmpty) {
  auto client = MakeClient();
  const std::string name = UniqueName("purge");
  ASSERT_FALSE(client->CreateQueue(name).empty());
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(client->SendMessage(name, "m" + std::to_string(i), 0));
  EXPECT_EQ(AwaitQueueAttribute(*client, name, "ApproximateNumberOfMessages", "3"), "3");
  ASSERT_TRUE(client->PurgueQueue(name));
  EXPECT_EQ(QueueAttribute(*client, name, "ApproximateNumberOfMessages"), "0");
  TbrvSQSReceiveMessageResponses received;
  ASSERT_TRUE(client->ReceiveMessage(name, received));
  EXPECT_EQ(received.Count(), 0);
  ASSERT_TRUE(client->DeleteQueue(name));
}

TEST_P(SQSOperations, PermissionsAndDeadLetterSources) {
  auto client = MakeClient();
  const std::string dead = UniqueName("dead");
  const std::string source = UniqueName("source");
  ASSERT_FALSE(client->CreateQueue(dead).empty());
  const std::string source_url = client->CreateQueue(source);
  ASSERT_FALSE(source_url.empty());

  TStringList sources;
  ASSERT_TRUE(client->ListDeadLetterSourceQueues(dead, sources));
  EXPECT_EQ(sources.Count(), 0);
  TbrvSQSAttributes redrive;
  redrive.AddSQSAttribute(sqsatRedrivePolicy, "{\"deadLetterTargetArn\":\"" +
                                                  QueueAttribute(*client, dead, "QueueArn") +
                                                  "\",\"maxReceiveCount\":\"3\"}");
  ASSERT_TRUE(client->SetQueueAttributes(source, redrive));
  ASSERT_TRUE(client->ListDeadLetterSourceQueues(dead, sources));
  EXPECT_EQ(Lines(sources), std::vector<std::string>{source_url});

  TbrvSQSPermissions permissions;
  permissions.AddSQSPermission(sqsanSendMessage, "123456789012");
  ASSERT_TRUE(client->AddPermission(source, "senders", permissions));
  const std::string policy = QueueAttribute(*client, source, "Policy");
  EXPECT_NE(policy.find("\"Sid\":\"senders\""), std::string::npos) << policy;
  EXPECT_NE(policy.find("SQS:SendMessage"), std::string::npos) << policy;
  EXPECT_NE(policy.find("arn:aws:iam::123456789012:root"), std::string::npos) << policy;
  ASSERT_TRUE(client->RemovePermission(source, "senders"));
  EXPECT_EQ(QueueAttribute(*client, source, "Policy").find("senders"), std::string::npos);

  // A label that is not there any more is the service's error.
  EXPECT_FALSE(client->RemovePermission(source, "senders"));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].Code, "InvalidParameterValue");
  errors.clear();

  ASSERT_TRUE(client->DeleteQueue(source));
  ASSERT_TRUE(client->DeleteQueue(dead));
}

TEST_P(SQSOperations, AWrongSecretIsRefusedAsASignatureMismatch) {
  auto client = MakeClient("not the secret");
  TStringList queues;
  EXPECT_FALSE(client->ListQueues(queues, ""));
  EXPECT_EQ(client->CreateQueue(UniqueName("never")), "");
  ASSERT_EQ(errors.size(), 2u);
  for (const auto& error : errors) {
    EXPECT_EQ(error.Code, "SignatureDoesNotMatch");
    EXPECT_EQ(error.Description.rfind("The request signature we calculated does not match", 0), 0u);
  }
  errors.clear();
}

INSTANTIATE_TEST_SUITE_P(Transports, SQSOperations, ::testing::ValuesIn(E2ETransports()),
                         E2ETransportName);

}  // namespace
}  // namespace brv
