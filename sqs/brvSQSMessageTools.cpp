#include "sqs/brvSQSMessageTools.h"

#include <algorithm>
#include <map>
#include <set>

#include "transport/IdDeadline.h"

namespace brv {

namespace {

// A receive of up to ten messages with every system and message attribute.
void FullReceive(TbrvSQSReceiveMessageRequest& request, int aCount, int aVisibilityTimeout,
                 int aWaitTime) {
  request.SetMaxNumberOfMessages(
      std::clamp(aCount, 1, TbrvHTTP_Amazon_AWS_SQS_Client::MaxBatchEntries));
  if (aVisibilityTimeout >= 0) request.SetExplicitVisibilityTimeout(aVisibilityTimeout);
  request.SetExplicitWaitTimeSeconds(aWaitTime);
  request.MessageAttributeName().Add("All");
}

// Receives as FullReceive asks, with every message system attribute.
bool ReceiveFull(TbrvHTTP_Amazon_AWS_SQS_Client& aClient, const std::string& aQueueName, int aCount,
                 int aVisibilityTimeout, int aWaitTime, TbrvSQSReceiveMessageResponses& aMessages) {
  TbrvSQSReceiveMessageRequest request;
  FullReceive(request, aCount, aVisibilityTimeout, aWaitTime);
  TStringList names;
  names.Add("All");
  return aClient.ReceiveMessage(aQueueName, request, names, aMessages);
}

std::string SystemAttribute(const TbrvSQSReceiveMessageResponse& aMessage,
                            const std::string& aName) {
  const TbrvSQSAttribute* attribute = aMessage.Attributes().Find(aName);
  return attribute != nullptr ? attribute->AttributeValue() : std::string();
}

std::unique_ptr<TbrvSQSSendMessageRequest> CopyRequest(const TbrvSQSSendMessageRequest& aFrom) {
  auto copy = std::make_unique<TbrvSQSSendMessageRequest>();
  copy->SetID(aFrom.ID());
  copy->SetMessageBody(aFrom.MessageBody());
  copy->SetDelaySeconds(aFrom.DelaySeconds());
  copy->SetExplicitDelaySeconds(aFrom.ExplicitDelaySeconds());
  copy->SetMessageGroupId(aFrom.MessageGroupId());
  copy->SetMessageDeduplicationId(aFrom.MessageDeduplicationId());
  copy->SetMessageAttributes(aFrom.MessageAttributes());
  copy->SetMessageSystemAttributes(aFrom.MessageSystemAttributes());
  return copy;
}

std::unique_ptr<TbrvSQSReceiveMessageResponse> CopyMessage(
    const TbrvSQSReceiveMessageResponse& aFrom) {
  auto copy = std::make_unique<TbrvSQSReceiveMessageResponse>();
  copy->SetMessageId(aFrom.MessageId());
  copy->SetBody(aFrom.Body());
  copy->SetMD5OfBody(aFrom.MD5OfBody());
  copy->SetMD5OfMessageAttributes(aFrom.MD5OfMessageAttributes());
  copy->SetReceiptHandle(aFrom.ReceiptHandle());
  for (int i = 0; i < aFrom.Attributes().Count(); ++i)
    copy->Attributes().AddSQSAttribute(aFrom.Attributes().Items(i)->AttributeName(),
                                       aFrom.Attributes().Items(i)->AttributeValue());
  for (int i = 0; i < aFrom.MessageAttributes().Count(); ++i) {
    const TbrvSQSMessageAttributeItem& item = *aFrom.MessageAttributes().Items(i);
    copy->MessageAttributes().AddSQSAttribute(item.AttributeName(), item.AttributeType(),
                                              item.AttributeValue());
  }
  return copy;
}

std::string FailureText(const std::string& aId, const TbrvSQSBatchResult& aResult) {
  if (const TbrvSQSBatchResultErrorEntry* failed = aResult.Failed().Find(aId))
    return failed->Code() + ": " + failed->Message();
  return "no answer";
}

}  // namespace

bool IsFifoQueueName(const std::string& aQueueName) {
  std::string name = aQueueName;
  while (!name.empty() && name.back() == '/') name.pop_back();
  return name.size() >= 5 && name.compare(name.size() - 5, 5, ".fifo") == 0;
}

int MessagePayloadSize(const TbrvSQSSendMessageRequest& aMessage) {
  size_t size = aMessage.MessageBody().size();
  const TbrvSQSMessageAttributes& attributes = aMessage.MessageAttributes();
  for (int i = 0; i < attributes.Count(); ++i) {
    const TbrvSQSMessageAttributeItem* item = attributes.Items(i);
    // A binary value counts here as its base64 text, a little more than the bytes it carries:
    // a batch is then never too large.
    size +=
        item->AttributeName().size() + item->AttributeType().size() + item->AttributeValue().size();
  }
  return static_cast<int>(std::min<size_t>(size, 1u << 30));
}

std::vector<int> SplitIntoBatches(const TbrvSQSSendMessageRequests& aMessages, int aMaxPayload) {
  std::vector<int> starts;
  int count = 0;
  int payload = 0;
  for (int i = 0; i < aMessages.Count(); ++i) {
    const int size = MessagePayloadSize(*aMessages.Items(i));
    if (count == 0 || count == TbrvHTTP_Amazon_AWS_SQS_Client::MaxBatchEntries ||
        payload + size > aMaxPayload) {
      starts.push_back(i);
      count = 0;
      payload = 0;
    }
    ++count;
    payload += size;
  }
  starts.push_back(aMessages.Count());
  return starts;
}

bool PeekMessages(TbrvHTTP_Amazon_AWS_SQS_Client& aClient, const std::string& aQueueName,
                  const TbrvSQSPeekOptions& aOptions, TbrvSQSReceiveMessageResponses& aMessages) {
  bool ok = true;
  TbrvSQSChangeMessageVisibilityBatchRequests restore;
  while (aMessages.Count() < aOptions.MaxMessages) {
    TbrvSQSReceiveMessageResponses page;
    if (!ReceiveFull(aClient, aQueueName, aOptions.MaxMessages - aMessages.Count(),
                     aOptions.VisibilityTimeout, aOptions.WaitTimeSeconds, page)) {
      ok = false;
      break;
    }
    if (page.Count() == 0) break;
    for (int i = 0; i < page.Count(); ++i) {
      const TbrvSQSReceiveMessageResponse& message = *page.Items(i);
      restore.AddSQSChangeVisibility("m" + std::to_string(restore.Count()), message.ReceiptHandle(),
                                     0);
      // A message seen twice (real SQS samples its hosts) is shown once.
      if (aMessages.Find(message.MessageId()) == nullptr &&
          aMessages.Count() < aOptions.MaxMessages)
        aMessages.AdoptItem(CopyMessage(message));
    }
  }
  if (restore.Count() > 0) {
    TbrvSQSBatchResult result;
    ok = aClient.ChangeMessageVisibilityBatch(aQueueName, restore, result) && ok;
  }
  return ok;
}

TbrvSQSTailEnd TailMessages(
    TbrvHTTP_Amazon_AWS_SQS_Client& aClient, const std::string& aQueueName,
    const TbrvSQSTailOptions& aOptions,
    const std::function<void(const TbrvSQSReceiveMessageResponse&)>& aOnMessage) {
  using TClock = std::chrono::steady_clock;
  const TClock::time_point start = TClock::now();
  const auto cancelled = [&aClient] {
    return aClient.Cancellation() != nullptr && aClient.Cancellation()->Cancelled();
  };
  int handed = 0;
  try {
    for (;;) {
      if (cancelled()) return sqsteCancelled;
      int wait = std::clamp(aOptions.WaitTimeSeconds, 0, 20);
      if (aOptions.Duration.count() > 0) {
        const auto left = aOptions.Duration - std::chrono::duration_cast<std::chrono::milliseconds>(
                                                  TClock::now() - start);
        if (left.count() <= 0) return sqsteDuration;
        wait = std::min<int>(wait, static_cast<int>((left.count() + 999) / 1000));
      }
      const int want = aOptions.MaxMessages > 0
                           ? std::min(aOptions.MaxMessages - handed,
                                      TbrvHTTP_Amazon_AWS_SQS_Client::MaxBatchEntries)
                           : TbrvHTTP_Amazon_AWS_SQS_Client::MaxBatchEntries;
      TbrvSQSReceiveMessageResponses messages;
      if (!ReceiveFull(aClient, aQueueName, want, aOptions.VisibilityTimeout, wait, messages))
        return cancelled() ? sqsteCancelled : sqsteFailed;
      for (int i = 0; i < messages.Count(); ++i) {
        // Once cancelled, the rest are left to the queue: they reappear after their time-out.
        if (cancelled()) return sqsteCancelled;
        const TbrvSQSReceiveMessageResponse& message = *messages.Items(i);
        aOnMessage(message);
        ++handed;
        if (aOptions.DeleteAfterCallback &&
            !aClient.DeleteMessage(aQueueName, message.ReceiptHandle()))
          return sqsteFailed;
        if (aOptions.MaxMessages > 0 && handed >= aOptions.MaxMessages) return sqsteCount;
      }
    }
  } catch (const EIdOperationCancelled&) {
    return sqsteCancelled;
  }
}

std::unique_ptr<TbrvSQSSendMessageRequest> MessageToSend(
    const TbrvSQSReceiveMessageResponse& aMessage, bool aFifoTarget, const std::string& aGroupId) {
  auto request = std::make_unique<TbrvSQSSendMessageRequest>();
  request->SetMessageBody(aMessage.Body());
  request->SetMessageAttributes(aMessage.MessageAttributes());
  if (aFifoTarget) {
    const std::string own = SystemAttribute(aMessage, "MessageGroupId");
    request->SetMessageGroupId(own.empty() ? aGroupId : own);
    request->SetMessageDeduplicationId(aMessage.MessageId());
  }
  return request;
}

bool SendMessagesInBatches(TbrvHTTP_Amazon_AWS_SQS_Client& aClient, const std::string& aQueueName,
                           const TbrvSQSSendMessageRequests& aRequests,
                           TbrvSQSBatchResult& aResult) {
  aResult.Clear();
  bool all = true;
  const std::vector<int> starts = SplitIntoBatches(aRequests);
  for (size_t b = 0; b + 1 < starts.size(); ++b) {
    TbrvSQSSendMessageRequests batch;
    for (int i = starts[b]; i < starts[b + 1]; ++i)
      batch.AdoptItem(CopyRequest(*aRequests.Items(i)));
    TbrvSQSSendMessageResponses responses;
    TbrvSQSBatchResult result;
    all = aClient.SendMessageBatch(aQueueName, batch, responses, result) && all;
    for (const std::string& id : result.Successful().Lines()) aResult.Successful().Add(id);
    for (int i = 0; i < result.Failed().Count(); ++i) {
      const TbrvSQSBatchResultErrorEntry& from = *result.Failed().Items(i);
      auto failed = std::make_unique<TbrvSQSBatchResultErrorEntry>();
      failed->SetID(from.ID());
      failed->SetCode(from.Code());
      failed->SetMessage(from.Message());
      failed->SetSenderFault(from.SenderFault());
      aResult.Failed().AdoptItem(std::move(failed));
    }
  }
  return all;
}

bool MoveMessages(TbrvHTTP_Amazon_AWS_SQS_Client& aClient, const std::string& aSource,
                  const std::string& aTarget, const TbrvSQSMoveOptions& aOptions,
                  TbrvSQSMoveResult& aResult) {
  const bool fifo_target = IsFifoQueueName(aTarget);
  if (fifo_target && !IsFifoQueueName(aSource) && aOptions.MessageGroupId.empty())
    throw EbrvSQSMoveRefused("A move from the standard queue \"" + aSource +
                             "\" to the FIFO queue \"" + aTarget +
                             "\" needs a message group id; nothing was moved.");
  TbrvSQSMoveProgress& counts = aResult.Counts;
  const auto report = [&](TbrvSQSMoveProgress::TStep aStep) {
    counts.Step = aStep;
    if (aOptions.OnProgress) aOptions.OnProgress(counts);
  };
  bool all = true;
  for (;;) {
    if (aOptions.MaxMessages > 0 && counts.Received >= aOptions.MaxMessages) break;
    if (aOptions.Cancelled && aOptions.Cancelled()) break;
    const int want = aOptions.MaxMessages > 0 ? aOptions.MaxMessages - counts.Received
                                              : TbrvHTTP_Amazon_AWS_SQS_Client::MaxBatchEntries;
    TbrvSQSReceiveMessageResponses messages;
    if (!ReceiveFull(aClient, aSource, want, aOptions.VisibilityTimeout, aOptions.WaitTimeSeconds,
                     messages))
      return false;
    if (messages.Count() == 0) break;
    counts.Received += messages.Count();
    report(TbrvSQSMoveProgress::mpReceived);

    // Entry ids are positions: a message id may be longer than an entry id may be.
    TbrvSQSSendMessageRequests requests;
    for (int i = 0; i < messages.Count(); ++i) {
      std::unique_ptr<TbrvSQSSendMessageRequest> request =
          MessageToSend(*messages.Items(i), fifo_target, aOptions.MessageGroupId);
      request->SetID("m" + std::to_string(i));
      requests.AdoptItem(std::move(request));
    }
    TbrvSQSBatchResult sent;
    SendMessagesInBatches(aClient, aTarget, requests, sent);

    TbrvSQSDeleteMessageBatchRequestItems deletes;
    for (int i = 0; i < messages.Count(); ++i) {
      const std::string id = "m" + std::to_string(i);
      if (sent.Successful().IndexOf(id) >= 0) {
        deletes.AddSQSDeleteMessage(id, messages.Items(i)->ReceiptHandle());
      } else {
        ++counts.SendFailed;
        aResult.Failures.push_back(messages.Items(i)->MessageId() + ": " + FailureText(id, sent));
      }
    }
    report(TbrvSQSMoveProgress::mpSent);
    if (deletes.Count() > 0) {
      TbrvSQSBatchResult deleted;
      aClient.DeleteMessageBatch(aSource, deletes, deleted);
      for (int i = 0; i < deletes.Count(); ++i) {
        const std::string& id = deletes.Items(i)->ID();
        if (deleted.Successful().IndexOf(id) >= 0) {
          ++counts.Moved;
        } else {
          ++counts.DeleteFailed;
          aResult.Failures.push_back(messages.Items(std::stoi(id.substr(1)))->MessageId() +
                                     ": not deleted from the source: " + FailureText(id, deleted));
        }
      }
    }
    report(TbrvSQSMoveProgress::mpDeleted);
    all = all && counts.SendFailed == 0 && counts.DeleteFailed == 0;
    // Messages whose send failed are hidden until their time-out; receiving on would take
    // the others and end, so a batch that moved nothing ends the move.
    if (deletes.Count() == 0) break;
  }
  return all && counts.SendFailed == 0 && counts.DeleteFailed == 0;
}

}  // namespace brv
