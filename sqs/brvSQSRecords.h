// The records the SQS operations take and return (attributes, message attributes, tags,
// permissions, send and receive requests and responses, batch entries, queues to create) and
// the keyed lists that hold them. Every record list owns its records.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/StringList.h"
#include "base/brvQueue.h"

namespace brv {

// Queue attribute names.
enum TbrvAWSSQSAttribute : int {
  sqsatAll,
  sqsatPolicy,
  sqsatVisibilityTimeout,
  sqsatMaximumMessageSize,
  sqsatMessageRetentionPeriod,
  sqsatApproximateNumberOfMessages,
  sqsatApproximateNumberOfMessagesNotVisible,
  sqsatCreatedTimestamp,
  sqsatLastModifiedTimestamp,
  sqsatQueueArn,
  sqsatApproximateNumberOfMessagesDelayed,
  sqsatDelaySeconds,
  sqsatReceiveMessageWaitTimeSeconds,
  sqsatRedrivePolicy,
  sqsatFifoQueue,
  sqsatContentBasedDeduplication,
  sqsatKmsMasterKeyId,
  sqsatKmsDataKeyReusePeriodSeconds
};

// An ordered array of queue attribute names (duplicates allowed).
using TbrvAWSSQSAttributes = std::vector<TbrvAWSSQSAttribute>;

// The actions a permission can grant.
enum TbrvAWSSQSActionName : int {
  sqsanAddPermission,
  sqsanChangeMessageVisibility,
  sqsanDeleteMessage,
  sqsanDeleteQueue,
  sqsanGetQueueAttributes,
  sqsanGetQueueUrl,
  sqsanListDeadLetterSourceQueues,
  sqsanPurgeQueue,
  sqsanReceiveMessage,
  sqsanRemovePermission,
  sqsanSendMessage,
  sqsanSetQueueAttributes
};

// The name the service uses for an attribute or an action; empty for a value outside the
// enumeration.
std::string SQSAttributeWireName(TbrvAWSSQSAttribute aAttribute);
std::string SQSActionWireName(TbrvAWSSQSActionName aAction);

// A keyed list of records of type T that owns them. Items are added with AdoptItem (or the
// list's own Add... operations) and destroyed with the list.
template <class T>
class TbrvSQSRecordList : public TbrvQueue {
 public:
  TbrvSQSRecordList() { SetOwnObjects(true); }
  // The record at Index, or null at or beyond Count.
  T* Items(int Index) const { return dynamic_cast<T*>(GetItemByIndex(Index)); }
  // The first record whose key is aID, or null.
  T* Find(const std::string& aID) const { return dynamic_cast<T*>(GetItem(aID)); }
  // Appends a new record with the key aID unless one with that key is there; returns the
  // new record, or null when the key was taken.
  T* AddNew(const std::string& aID) {
    TLockGuard guard(*this);  // look-up and append as one step
    if (GetItem(aID) != nullptr) return nullptr;
    auto record = std::make_unique<T>();
    record->SetID(aID);
    return AdoptItem(std::move(record));
  }
};

// A queue attribute: its name (the key) and its value.
class TbrvSQSAttribute : public TbrvQueueItemBase {
 public:
  BRV_CLASS_NAME(TbrvSQSAttribute)
  const std::string& AttributeName() const { return ID(); }
  void SetAttributeName(const std::string& Value) { SetID(Value); }
  const std::string& AttributeValue() const { return FAttributeValue; }
  void SetAttributeValue(const std::string& Value) { FAttributeValue = Value; }

 private:
  std::string FAttributeValue;
};

class TbrvSQSAttributes : public TbrvSQSRecordList<TbrvSQSAttribute> {
 public:
  BRV_CLASS_NAME(TbrvSQSAttributes)
  // Adds the attribute unless one with that name is there already.
  void AddSQSAttribute(const std::string& aName, const std::string& aValue);
  // The same by enumeration value; a value without a wire name adds nothing.
  void AddSQSAttribute(TbrvAWSSQSAttribute aAttribute, const std::string& aValue);
};

// A message attribute: name (the key), data type (free text) and value.
class TbrvSQSMessageAttributeItem : public TbrvQueueItemBase {
 public:
  BRV_CLASS_NAME(TbrvSQSMessageAttributeItem)
  const std::string& AttributeName() const { return ID(); }
  void SetAttributeName(const std::string& Value) { SetID(Value); }
  const std::string& AttributeType() const { return FAttributeType; }
  void SetAttributeType(const std::string& Value) { FAttributeType = Value; }
  const std::string& AttributeValue() const { return FAttributeValue; }
  void SetAttributeValue(const std::string& Value) { FAttributeValue = Value; }

 private:
  std::string FAttributeType;
  std::string FAttributeValue;
};

class TbrvSQSMessageAttributes : public TbrvSQSRecordList<TbrvSQSMessageAttributeItem> {
 public:
  BRV_CLASS_NAME(TbrvSQSMessageAttributes)
  // Adds the attribute unless one with that name is there already.
  void AddSQSAttribute(const std::string& aName, const std::string& aType,
                       const std::string& aValue);
};

// A message to send; the key is the entry identifier inside a batch.
class TbrvSQSSendMessageRequest : public TbrvQueueItemBase {
 public:
  BRV_CLASS_NAME(TbrvSQSSendMessageRequest)
  ~TbrvSQSSendMessageRequest() override;

  int DelaySeconds() const { return FDelaySeconds; }
  void SetDelaySeconds(int Value) { FDelaySeconds = Value; }
  const std::string& MessageBody() const { return FMessageBody; }
  void SetMessageBody(const std::string& Value) { FMessageBody = Value; }
  const std::string& MessageDeduplicationId() const { return FMessageDeduplicationId; }
  void SetMessageDeduplicationId(const std::string& Value) { FMessageDeduplicationId = Value; }
  const std::string& MessageGroupId() const { return FMessageGroupId; }
  void SetMessageGroupId(const std::string& Value) { FMessageGroupId = Value; }
  // Created empty on first read.
  TbrvSQSMessageAttributes& MessageAttributes() const;
  TbrvSQSMessageAttributes& MessageSystemAttributes() const;
  // Copy the given list's attributes into the record's own list (after clearing it); the
  // given list stays the caller's.
  void SetMessageAttributes(const TbrvSQSMessageAttributes& Value);
  void SetMessageSystemAttributes(const TbrvSQSMessageAttributes& Value);
  // A delay sent exactly as set, 0 included, in place of DelaySeconds (which is sent only
  // from 1 to 900, so that 0 means "the queue's default"). Unset by default.
  const std::optional<int>& ExplicitDelaySeconds() const { return FExplicitDelaySeconds; }
  void SetExplicitDelaySeconds(std::optional<int> Value) { FExplicitDelaySeconds = Value; }

 private:
  int FDelaySeconds = 0;
  std::optional<int> FExplicitDelaySeconds;
  std::string FMessageBody;
  std::string FMessageDeduplicationId;
  std::string FMessageGroupId;
  mutable std::unique_ptr<TbrvSQSMessageAttributes> FMessageAttributes;
  mutable std::unique_ptr<TbrvSQSMessageAttributes> FMessageSystemAttributes;
};

class TbrvSQSSendMessageRequests : public TbrvSQSRecordList<TbrvSQSSendMessageRequest> {
 public:
  BRV_CLASS_NAME(TbrvSQSSendMessageRequests)
};

// The service's answer to a sent message; the key is the batch entry identifier.
class TbrvSQSSendMessageResponse : public TbrvQueueItemBase {
 public:
  BRV_CLASS_NAME(TbrvSQSSendMessageResponse)
  const std::string& MD5OfMessageAttributes() const { return FMD5OfMessageAttributes; }
  void SetMD5OfMessageAttributes(std::string Value) { FMD5OfMessageAttributes = std::move(Value); }
  const std::string& MD5OfMessageBody() const { return FMD5OfMessageBody; }
  void SetMD5OfMessageBody(std::string Value) { FMD5OfMessageBody = std::move(Value); }
  const std::string& MD5OfMessageSystemAttributes() const { return FMD5OfMessageSystemAttributes; }
  void SetMD5OfMessageSystemAttributes(const std::string& Value) {
    FMD5OfMessageSystemAttributes = Value;
  }
  const std::string& MessageId() const { return FMessageId; }
  void SetMessageId(std::string Value) { FMessageId = std::move(Value); }
  const std::string& SequenceNumber() const { return FSequenceNumber; }
  void SetSequenceNumber(std::string Value) { FSequenceNumber = std::move(Value); }

 private:
  std::string FMD5OfMessageAttributes;
  std::string FMD5OfMessageBody;
  std::string FMD5OfMessageSystemAttributes;
  std::string FMessageId;
  std::string FSequenceNumber;
};

class TbrvSQSSendMessageResponses : public TbrvSQSRecordList<TbrvSQSSendMessageResponse> {
 public:
  BRV_CLASS_NAME(TbrvSQSSendMessageResponses)
};

// What to receive: how many messages, which attributes, how long to wait and hide them.
class TbrvSQSReceiveMessageRequest : public TbrvQueueItemBase {
 public:
  BRV_CLASS_NAME(TbrvSQSReceiveMessageRequest)
  ~TbrvSQSReceiveMessageRequest() override;

  const TbrvAWSSQSAttributes& Attributes() const { return FAttributes; }
  void SetAttributes(const TbrvAWSSQSAttributes& Value) { FAttributes = Value; }
  int MaxNumberOfMessages() const { return FMaxNumberOfMessages; }
  void SetMaxNumberOfMessages(int Value) { FMaxNumberOfMessages = Value; }
  // Names of the message attributes to receive; created empty on first read.
  TStringList& MessageAttributeName() const;
  // The record takes Value over (the list it held before is freed).
  void SetMessageAttributeName(std::unique_ptr<TStringList> Value);
  const std::string& ReceiveRequestAttemptId() const { return FReceiveRequestAttemptId; }
  void SetReceiveRequestAttemptId(std::string Value) {
    FReceiveRequestAttemptId = std::move(Value);
  }
  int VisibilityTimeout() const { return FVisibilityTimeout; }
  void SetVisibilityTimeout(int Value) { FVisibilityTimeout = Value; }
  int WaitTimeSeconds() const { return FWaitTimeSeconds; }
  void SetWaitTimeSeconds(int Value) { FWaitTimeSeconds = Value; }
  // True once the message attribute name list exists.
  bool HasMessageAttributeName() const { return FMessageAttributeName != nullptr; }
  // Values sent exactly as set, 0 included, in place of VisibilityTimeout and WaitTimeSeconds
  // (which are sent only when above 0, so that 0 means "the queue's default"). Unset by
  // default.
  const std::optional<int>& ExplicitVisibilityTimeout() const { return FExplicitVisibilityTimeout; }
  void SetExplicitVisibilityTimeout(std::optional<int> Value) {
    FExplicitVisibilityTimeout = Value;
  }
  const std::optional<int>& ExplicitWaitTimeSeconds() const { return FExplicitWaitTimeSeconds; }
  void SetExplicitWaitTimeSeconds(std::optional<int> Value) { FExplicitWaitTimeSeconds = Value; }

 private:
  std::optional<int> FExplicitVisibilityTimeout;
  std::optional<int> FExplicitWaitTimeSeconds;
  TbrvAWSSQSAttributes FAttributes;
  int FMaxNumberOfMessages = 1;
  mutable std::unique_ptr<TStringList> FMessageAttributeName;
  std::string FReceiveRequestAttemptId;
  int FVisibilityTimeout = 0;
  int FWaitTimeSeconds = 0;
};

// A received message; the key is its message identifier.
class TbrvSQSReceiveMessageResponse : public TbrvQueueItemBase {
 public:
  BRV_CLASS_NAME(TbrvSQSReceiveMessageResponse)
  ~TbrvSQSReceiveMessageResponse() override;

  // Created empty on first read.
  TbrvSQSAttributes& Attributes() const;
  // The record takes Value over (the list it held before is freed).
  void SetAttributes(std::unique_ptr<TbrvSQSAttributes> Value);
  const std::string& Body() const { return FBody; }
  void SetBody(std::string Value) { FBody = std::move(Value); }
  const std::string& MD5OfBody() const { return FMD5OfBody; }
  void SetMD5OfBody(std::string Value) { FMD5OfBody = std::move(Value); }
  const std::string& MD5OfMessageAttributes() const { return FMD5OfMessageAttributes; }
  void SetMD5OfMessageAttributes(std::string Value) { FMD5OfMessageAttributes = std::move(Value); }
  TbrvSQSMessageAttributes& MessageAttributes() const;
  void SetMessageAttributes(std::unique_ptr<TbrvSQSMessageAttributes> Value);
  const std::string& MessageId() const { return ID(); }
  void SetMessageId(const std::string& Value) { SetID(Value); }
  const std::string& ReceiptHandle() const { return FReceiptHandle; }
  void SetReceiptHandle(std::string Value) { FReceiptHandle = std::move(Value); }

 private:
  mutable std::unique_ptr<TbrvSQSAttributes> FAttributes;
  std::string FBody;
  std::string FMD5OfBody;
  std::string FMD5OfMessageAttributes;
  mutable std::unique_ptr<TbrvSQSMessageAttributes> FMessageAttributes;
  std::string FReceiptHandle;
};

class TbrvSQSReceiveMessageResponses : public TbrvSQSRecordList<TbrvSQSReceiveMessageResponse> {
 public:
  BRV_CLASS_NAME(TbrvSQSReceiveMessageResponses)
};

// A message to delete in a batch; the key is the entry identifier.
class TbrvSQSDeleteMessageBatchRequestItem : public TbrvQueueItemBase {
 public:
  BRV_CLASS_NAME(TbrvSQSDeleteMessageBatchRequestItem)
  const std::string& ReceiptHandle() const { return FReceiptHandle; }
  void SetReceiptHandle(std::string Value) { FReceiptHandle = std::move(Value); }

 private:
  std::string FReceiptHandle;
};

class TbrvSQSDeleteMessageBatchRequestItems
    : public TbrvSQSRecordList<TbrvSQSDeleteMessageBatchRequestItem> {
 public:
  BRV_CLASS_NAME(TbrvSQSDeleteMessageBatchRequestItems)
  // Adds the entry unless one with that identifier is there already.
  void AddSQSDeleteMessage(const std::string& aId, const std::string& aReceiptHandle);
};

// A visibility change in a batch; the key is the entry identifier.
class TbrvSQSChangeMessageVisibilityBatchRequest : public TbrvQueueItemBase {
 public:
  BRV_CLASS_NAME(TbrvSQSChangeMessageVisibilityBatchRequest)
  const std::string& ReceiptHandle() const { return FReceiptHandle; }
  void SetReceiptHandle(std::string Value) { FReceiptHandle = std::move(Value); }
  int VisibilityTimeout() const { return FVisibilityTimeout; }
  void SetVisibilityTimeout(int Value) { FVisibilityTimeout = Value; }

 private:
  std::string FReceiptHandle;
  int FVisibilityTimeout = 0;
};

class TbrvSQSChangeMessageVisibilityBatchRequests
    : public TbrvSQSRecordList<TbrvSQSChangeMessageVisibilityBatchRequest> {
 public:
  BRV_CLASS_NAME(TbrvSQSChangeMessageVisibilityBatchRequests)
  // Adds the entry unless one with that identifier is there already.
  void AddSQSChangeVisibility(const std::string& aId, const std::string& aReceiptHandle,
                              int aVisibilityTimeout);
};

// A queue tag: key (the record's key) and value.
class TbrvSQSTag : public TbrvQueueItemBase {
 public:
  BRV_CLASS_NAME(TbrvSQSTag)
  const std::string& Key() const { return ID(); }
  void SetKey(const std::string& Value) { SetID(Value); }
  const std::string& Value() const { return FValue; }
  void SetValue(const std::string& Value) { FValue = Value; }

 private:
  std::string FValue;
};

class TbrvSQSTags : public TbrvSQSRecordList<TbrvSQSTag> {
 public:
  BRV_CLASS_NAME(TbrvSQSTags)
  // Adds the tag unless one with that key is there already.
  void AddSQSTag(const std::string& Key, const std::string& Value);
};

// A permission for one action to one account. Its key is the action name twice, joined by
// "_", so a list holds at most one permission per action.
class TbrvSQSPermission : public TbrvQueueItemBase {
 public:
  BRV_CLASS_NAME(TbrvSQSPermission)
  const std::string& ActionName() const { return FActionName; }
  void SetActionName(const std::string& Value) { FActionName = Value; }
  const std::string& AWSAccountId() const { return FAWSAccountId; }
  void SetAWSAccountId(const std::string& Value) { FAWSAccountId = Value; }

 private:
  std::string FActionName;
  std::string FAWSAccountId;
};

class TbrvSQSPermissions : public TbrvSQSRecordList<TbrvSQSPermission> {
 public:
  BRV_CLASS_NAME(TbrvSQSPermissions)
  // Adds the permission unless the list holds one for the same action (whatever its account).
  void AddSQSPermission(const std::string& ActionName, const std::string& AWSAccountId);
  void AddSQSPermission(TbrvAWSSQSActionName ActionName, const std::string& AWSAccountId);
};

// A queue to create: its name (the key), attributes and tags.
class TbrvSQSCreateQueue : public TbrvQueueItemBase {
 public:
  BRV_CLASS_NAME(TbrvSQSCreateQueue)
  ~TbrvSQSCreateQueue() override;

  // Created empty on first read.
  TbrvSQSAttributes& Attributes() const;
  // The record takes Value over (the list it held before is freed).
  void SetAttributes(std::unique_ptr<TbrvSQSAttributes> Value);
  const std::string& QueueName() const { return ID(); }
  void SetQueueName(const std::string& Value) { SetID(Value); }
  TbrvSQSTags& Tags() const;
  void SetTags(std::unique_ptr<TbrvSQSTags> Value);

 private:
  mutable std::unique_ptr<TbrvSQSAttributes> FAttributes;
  mutable std::unique_ptr<TbrvSQSTags> FTags;
};

// An entry of a batch request that the service did not carry out: its entry identifier (the
// key), the error code and message, and whether the fault lies with the sender.
class TbrvSQSBatchResultErrorEntry : public TbrvQueueItemBase {
 public:
  BRV_CLASS_NAME(TbrvSQSBatchResultErrorEntry)
  const std::string& Code() const { return FCode; }
  void SetCode(const std::string& Value) { FCode = Value; }
  const std::string& Message() const { return FMessage; }
  void SetMessage(const std::string& Value) { FMessage = Value; }
  bool SenderFault() const { return FSenderFault; }
  void SetSenderFault(bool Value) { FSenderFault = Value; }

 private:
  std::string FCode;
  std::string FMessage;
  bool FSenderFault = false;
};

class TbrvSQSBatchResultErrorEntries : public TbrvSQSRecordList<TbrvSQSBatchResultErrorEntry> {
 public:
  BRV_CLASS_NAME(TbrvSQSBatchResultErrorEntries)
};

// The outcome of a batch operation, entry by entry: the identifiers of the entries the service
// carried out, and the entries it refused. An entry in neither list got no answer (its request
// failed as a whole).
class TbrvSQSBatchResult {
 public:
  TStringList& Successful() { return FSuccessful; }
  const TStringList& Successful() const { return FSuccessful; }
  TbrvSQSBatchResultErrorEntries& Failed() { return FFailed; }
  const TbrvSQSBatchResultErrorEntries& Failed() const { return FFailed; }
  void Clear() {
    FSuccessful.Clear();
    FFailed.Clear();
  }

 private:
  TStringList FSuccessful;
  TbrvSQSBatchResultErrorEntries FFailed;
};

// A message move task of the service (a dead-letter queue's messages moved by the service
// itself), as ListMessageMoveTasks reports it. The key is the task handle, which the service
// gives only for a running task; the list keeps tasks in the order of the answer.
class TbrvSQSMessageMoveTask : public TbrvQueueItemBase {
 public:
  BRV_CLASS_NAME(TbrvSQSMessageMoveTask)
  const std::string& TaskHandle() const { return ID(); }
  void SetTaskHandle(const std::string& Value) { SetID(Value); }
  // RUNNING, COMPLETED, CANCELLING, CANCELLED or FAILED.
  std::string Status;
  std::string SourceArn;
  std::string DestinationArn;  // empty: back to the queues the messages came from
  std::string FailureReason;
  // Milliseconds since 1970, as the service gives it; 0 when absent.
  long long StartedTimestamp = 0;
  // 0 when absent (the service's own limit applies).
  int MaxNumberOfMessagesPerSecond = 0;
  long long ApproximateNumberOfMessagesMoved = 0;
  // -1 when the service did not say.
  long long ApproximateNumberOfMessagesToMove = -1;
};

class TbrvSQSMessageMoveTasks : public TbrvSQSRecordList<TbrvSQSMessageMoveTask> {
 public:
  BRV_CLASS_NAME(TbrvSQSMessageMoveTasks)
};

}  // namespace brv
