// The message tools against the local SQS service: peek shows each message once and leaves
// all visible, tail sees messages sent while it runs and ends on cancel, move carries every
// message byte for byte (standard and FIFO) and loses none when interrupted between send and
// delete, and the service's own redrive moves a dead-letter queue back.
#include "sqs/brvSQSMessageTools.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <set>
#include <stdexcept>
#include <thread>

#include "support/SQSServiceFixture.h"
#include "transport/IdDeadline.h"

namespace brv {
namespace {

using testing::E2ETransportName;
using testing::E2ETransports;
using testing::SQSServiceTest;

class MessageTools : public SQSServiceTest {
 protected:
  // Count messages with a body "<Prefix> N", and one attribute of each kind, in Queue.
  static void Fill(TbrvHTTPAWS_SQS_Client& Client, const std::string& Queue, int Count,
                   const std::string& Prefix = "b\xC3\xA9 &<") {
    TbrvSQSSendMessageRequests requests;
    for (int i = 0; i < Count; ++i) {
      auto request = std::make_unique<TbrvSQSSendMessageRequest>();
      request->SetID("e" + std::to_string(i));
      request->SetMessageBody(Prefix + " " + std::to_string(i));
      request->MessageAttributes().AddSQSAttribute("s", "String", "v&<" + std::to_string(i));
      request->MessageAttributes().AddSQSAttribute("n", "Number", std::to_string(i));
      request->MessageAttributes().AddSQSAttribute("b", "Binary", "AAEC/w==");
      if (IsFifoQueueName(Queue)) {
        request->SetMessageGroupId("g" + std::to_string(i % 3));
        request->SetMessageDeduplicationId("d" + std::to_string(i));
      }
      requests.AdoptItem(std::move(request));
    }
    TbrvSQSSendMessageResponses responses;
    TbrvSQSBatchResult result;
    ASSERT_TRUE(Client.SendMessageBatch(Queue, requests, responses, result));
  }

  // Two new queues, FIFO ones when Fifo; the first holds Count messages from Fill, each
  // already counted by the service.
  static std::pair<std::string, std::string> MakeQueues(TbrvHTTPAWS_SQS_Client& Client, bool Fifo,
                                                        int Count = 0) {
    const std::string suffix = Fifo ? ".fifo" : "";
    const std::pair<std::string, std::string> names = {UniqueName("from") + suffix,
                                                       UniqueName("to") + suffix};
    for (const std::string& name : {names.first, names.second}) {
      TbrvSQSCreateQueue queue;
      queue.SetQueueName(name);
      if (Fifo) queue.Attributes().AddSQSAttribute("FifoQueue", "true");
      EXPECT_FALSE(Client.CreateQueue(queue).empty());
    }
    if (Count > 0) {
      Fill(Client, names.first, Count);
      const std::string n = std::to_string(Count);
      EXPECT_EQ(AwaitQueueAttribute(Client, names.first, "ApproximateNumberOfMessages", n), n);
    }
    return names;
  }

  // Every message of Queue, received (and so hidden for a minute): body to its attributes as
  // "name:type=value;" and its group id.
  static std::multimap<std::string, std::string> Drain(TbrvHTTPAWS_SQS_Client& Client,
                                                       const std::string& Queue, int Count) {
    TbrvSQSReceiveMessageResponses received;
    ReceiveUpTo(Client, Queue, Count + 1, received, 60);
    std::multimap<std::string, std::string> found;
    for (int i = 0; i < received.Count(); ++i) {
      const TbrvSQSReceiveMessageResponse& m = *received.Items(i);
      std::string attributes;
      for (const std::string name : {"s", "n", "b"}) {
        const TbrvSQSMessageAttributeItem* a = m.MessageAttributes().Find(name);
        if (a != nullptr)
          attributes += name + ":" + a->AttributeType() + "=" + a->AttributeValue() + ";";
      }
      const TbrvSQSAttribute* group = m.Attributes().Find("MessageGroupId");
      if (group != nullptr) attributes += "group=" + group->AttributeValue();
      found.emplace(m.Body(), attributes);
    }
    return found;
  }
};

TEST_P(MessageTools, PeekShowsEachMessageOnceAndLeavesAllVisible) {
  auto client = MakeClient();
  const std::string queue = UniqueName("peek");
  ASSERT_FALSE(client->CreateQueue(queue).empty());
  Fill(*client, queue, 35);
  ASSERT_EQ(AwaitQueueAttribute(*client, queue, "ApproximateNumberOfMessages", "35"), "35");

  TbrvSQSReceiveMessageResponses seen;
  TbrvSQSPeekOptions options;
  options.MaxMessages = 50;
  ASSERT_TRUE(PeekMessages(*client, queue, options, seen));
  std::set<std::string> bodies;
  for (int i = 0; i < seen.Count(); ++i) bodies.insert(seen.Items(i)->Body());
  EXPECT_EQ(seen.Count(), 35);
  EXPECT_EQ(bodies.size(), 35u);
  EXPECT_FALSE(seen.Items(0)->Attributes().Find("SentTimestamp") == nullptr);
  EXPECT_EQ(AwaitQueueAttribute(*client, queue, "ApproximateNumberOfMessagesNotVisible", "0"), "0");
  EXPECT_EQ(QueueAttribute(*client, queue, "ApproximateNumberOfMessages"), "35");
}

TEST_P(MessageTools, TailReceivesMessagesSentWhileItRunsAndEndsOnCancel) {
  auto client = MakeClient();
  auto sender = MakeClient();
  const std::string queue = UniqueName("tail");
  ASSERT_FALSE(client->CreateQueue(queue).empty());
  auto cancellation = std::make_shared<TIdCancellation>();
  client->SetCancellation(cancellation);
  std::atomic<int> received{0};
  TbrvSQSTailOptions options;
  options.DeleteAfterCallback = true;
  // The local service ends a long poll only when it is full or its wait is over.
  options.WaitTimeSeconds = 1;
  TbrvSQSTailEnd end = sqsteFailed;
  std::thread tail([&] {
    end = TailMessages(*client, queue, options,
                       [&](const TbrvSQSReceiveMessageResponse&) { ++received; });
  });
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(sender->SendMessage(queue, "late " + std::to_string(i), 0));
  for (int wait = 0; wait < 200 && received < 3; ++wait)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  // The tail is now in a long poll; the cancel ends it.
  cancellation->Cancel();
  tail.join();
  EXPECT_EQ(received.load(), 3);
  EXPECT_EQ(end, sqsteCancelled);
  EXPECT_EQ(AwaitQueueAttribute(*sender, queue, "ApproximateNumberOfMessages", "0"), "0");
}

// Every message Fill sends, as Drain describes it.
std::multimap<std::string, std::string> Filled(int Count, bool Fifo,
                                               const std::string& Prefix = "b\xC3\xA9 &<") {
  std::multimap<std::string, std::string> sent;
  for (int i = 0; i < Count; ++i) {
    const std::string n = std::to_string(i);
    sent.emplace(Prefix + " " + n, "s:String=v&<" + n + ";n:Number=" + n + ";b:Binary=AAEC/w==;" +
                                       (Fifo ? "group=g" + std::to_string(i % 3) : ""));
  }
  return sent;
}

TEST_P(MessageTools, MoveCarriesEveryMessageByteForByteAndEmptiesTheSource) {
  for (const bool fifo : {false, true}) {
    SCOPED_TRACE(fifo ? "FIFO" : "standard");
    auto client = MakeClient();
    const auto [from, to] = MakeQueues(*client, fifo, 35);

    TbrvSQSMoveOptions options;
    int progress_calls = 0;
    options.OnProgress = [&](const TbrvSQSMoveProgress&) { ++progress_calls; };
    TbrvSQSMoveResult result;
    ASSERT_TRUE(MoveMessages(*client, from, to, options, result));
    EXPECT_EQ(result.Counts.Moved, 35);
    EXPECT_TRUE(result.Failures.empty());
    EXPECT_GT(progress_calls, 0);
    EXPECT_EQ(QueueAttribute(*client, from, "ApproximateNumberOfMessages"), "0");
    EXPECT_EQ(QueueAttribute(*client, from, "ApproximateNumberOfMessagesNotVisible"), "0");
    EXPECT_EQ(Drain(*client, to, 35), Filled(35, fifo));
  }
}

TEST_P(MessageTools, MoveSplitsBatchesByPayloadSize) {
  auto client = MakeClient();
  const auto [from, to] = MakeQueues(*client, false);
  const std::string big(200 * 1024, 'x');
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(client->SendMessage(from, big + std::to_string(i), 0));
  ASSERT_EQ(AwaitQueueAttribute(*client, from, "ApproximateNumberOfMessages", "10"), "10");
  int batches = 0;
  client->OnSQSBeforeRequest = [&](TObject*, std::string& URL, bool&) {
    if (URL.find("Action=SendMessageBatch") != std::string::npos) ++batches;
  };
  TbrvSQSMoveResult result;
  ASSERT_TRUE(MoveMessages(*client, from, to, TbrvSQSMoveOptions{}, result));
  EXPECT_EQ(result.Counts.Moved, 10);
  // Two of them would pass the batch limit: each goes alone.
  EXPECT_EQ(batches, 10);
  EXPECT_EQ(AwaitQueueAttribute(*client, to, "ApproximateNumberOfMessages", "10"), "10");
}

TEST_P(MessageTools, MoveInterruptedBetweenSendAndDeleteLosesNothing) {
  for (const bool fifo : {false, true}) {
    SCOPED_TRACE(fifo ? "FIFO" : "standard");
    auto client = MakeClient();
    const auto [from, to] = MakeQueues(*client, fifo, 35);

    // A crash after the second batch was sent, before it was deleted.
    TbrvSQSMoveOptions options;
    options.VisibilityTimeout = 1;
    int sent_batches = 0;
    options.OnProgress = [&](const TbrvSQSMoveProgress& Progress) {
      if (Progress.Step == TbrvSQSMoveProgress::mpSent && ++sent_batches == 2)
        throw std::runtime_error("crash");
    };
    TbrvSQSMoveResult result;
    EXPECT_THROW(MoveMessages(*client, from, to, options, result), std::runtime_error);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));

    // The move started again finishes the work; a FIFO target takes no message twice.
    TbrvSQSMoveResult again;
    ASSERT_TRUE(MoveMessages(*client, from, to, TbrvSQSMoveOptions{}, again));
    const auto target = Drain(*client, to, 45);
    std::set<std::string> bodies;
    for (const auto& [body, attributes] : target) bodies.insert(body);
    EXPECT_EQ(bodies.size(), 35u);
    EXPECT_EQ(target.size(), fifo ? 35u : 45u);
    EXPECT_EQ(QueueAttribute(*client, from, "ApproximateNumberOfMessages"), "0");
  }
}

TEST_P(MessageTools, RedriveMovesDeadLettersBackAndReportsAndCancels) {
  auto client = MakeClient();
  const std::string dlq = UniqueName("dlq"), source = UniqueName("source");
  ASSERT_FALSE(client->CreateQueue(dlq).empty());
  const std::string dlq_arn = QueueAttribute(*client, dlq, "QueueArn");
  TbrvSQSCreateQueue queue;
  queue.SetQueueName(source);
  queue.Attributes().AddSQSAttribute(
      "RedrivePolicy", R"({"maxReceiveCount":"1","deadLetterTargetArn":")" + dlq_arn + "\"}");
  ASSERT_FALSE(client->CreateQueue(queue).empty());
  Fill(*client, source, 12);
  // Received once and left: the service moves each to the dead-letter queue.
  TbrvSQSReceiveMessageResponses once;
  ReceiveUpTo(*client, source, 12, once, 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  ReceiveUpTo(*client, source, 1, once, 1);
  ASSERT_EQ(AwaitQueueAttribute(*client, dlq, "ApproximateNumberOfMessages", "12"), "12");

  std::string handle;
  ASSERT_TRUE(client->StartMessageMoveTask(dlq_arn, "", 0, handle));
  EXPECT_FALSE(handle.empty());
  EXPECT_EQ(AwaitQueueAttribute(*client, source, "ApproximateNumberOfMessages", "12"), "12");
  TbrvSQSMessageMoveTasks tasks;
  ASSERT_TRUE(client->ListMessageMoveTasks(dlq_arn, 10, tasks));
  ASSERT_EQ(tasks.Count(), 1);
  EXPECT_EQ(tasks.Items(0)->SourceArn, dlq_arn);
  EXPECT_EQ(tasks.Items(0)->ApproximateNumberOfMessagesMoved, 12);
  EXPECT_FALSE(tasks.Items(0)->Status.empty());

  // Back to the dead-letter queue, then a slow task that can be cancelled while it runs.
  TbrvSQSMoveResult result;
  ASSERT_TRUE(MoveMessages(*client, source, dlq, TbrvSQSMoveOptions{}, result));
  ASSERT_EQ(AwaitQueueAttribute(*client, dlq, "ApproximateNumberOfMessages", "12"), "12");
  ASSERT_TRUE(client->StartMessageMoveTask(dlq_arn, "", 1, handle));
  long long moved = -1;
  ASSERT_TRUE(client->CancelMessageMoveTask(handle, moved));
  EXPECT_GE(moved, 0);
  EXPECT_LT(moved, 12);
  ASSERT_TRUE(client->ListMessageMoveTasks(dlq_arn, 10, tasks));
  ASSERT_GE(tasks.Count(), 2);
  EXPECT_EQ(tasks.Items(0)->Status.rfind("CANCEL", 0), 0u) << tasks.Items(0)->Status;
}

INSTANTIATE_TEST_SUITE_P(Transports, MessageTools, ::testing::Values(E2ETransports()[0]),
                         E2ETransportName);

}  // namespace
}  // namespace brv
