#include "sqs/brvSQSRecords.h"

#include <array>

namespace brv {

namespace {

constexpr std::array<const char*, 18> kAttributeWireNames = {
    "All",
    "Policy",
    "VisibilityTimeout",
    "MaximumMessageSize",
    "MessageRetentionPeriod",
    "ApproximateNumberOfMessages",
    "ApproximateNumberOfMessagesNotVisible",
    "CreatedTimestamp",
    "LastModifiedTimestamp",
    "QueueArn",
    "ApproximateNumberOfMessagesDelayed",
    "DelaySeconds",
    "ReceiveMessageWaitTimeSeconds",
    "RedrivePolicy",
    "FifoQueue",
    "ContentBasedDeduplication",
    "KmsMasterKeyId",
    "KmsDataKeyReusePeriodSeconds",
};

constexpr std::array<const char*, 12> kActionWireNames = {
    "AddPermission",
    "ChangeMessageVisibility",
    "DeleteMessage",
    "DeleteQueue",
    "GetQueueAttributes",
    "GetQueueUrl",
    "ListDeadLetterSourceQueues",
    "PurgeQueue",
    "ReceiveMessage",
    "RemovePermission",
    "SendMessage",
    "SetQueueAttributes",
};

template <size_t N>
std::string WireName(const std::array<const char*, N>& Names, int Value) {
  if (Value < 0 || static_cast<size_t>(Value) >= N) return {};
  return Names[static_cast<size_t>(Value)];
}

// Gives a lazily made sub-list, making it on first use.
template <class T>
T& Ensure(std::unique_ptr<T>& List) {
  if (!List) List = std::make_unique<T>();
  return *List;
}

}  // namespace

std::string SQSAttributeWireName(TbrvAWSSQSAttribute aAttribute) {
  return WireName(kAttributeWireNames, static_cast<int>(aAttribute));
}

std::string SQSActionWireName(TbrvAWSSQSActionName aAction) {
  return WireName(kActionWireNames, static_cast<int>(aAction));
}

// --- lists ---

void TbrvSQSAttributes::AddSQSAttribute(const std::string& aName, const std::string& aValue) {
  if (TbrvSQSAttribute* attribute = AddNew(aName)) attribute->SetAttributeValue(aValue);
}

void TbrvSQSAttributes::AddSQSAttribute(TbrvAWSSQSAttribute aAttribute, const std::string& aValue) {
  const std::string name = SQSAttributeWireName(aAttribute);
  if (!name.empty()) AddSQSAttribute(name, aValue);
}

void TbrvSQSMessageAttributes::AddSQSAttribute(const std::string& aName, const std::string& aType,
                                               const std::string& aValue) {
  if (TbrvSQSMessageAttributeItem* attribute = AddNew(aName)) {
    attribute->SetAttributeType(aType);
    attribute->SetAttributeValue(aValue);
  }
}

void TbrvSQSDeleteMessageBatchRequestItems::AddSQSDeleteMessage(const std::string& aId,
                                                                const std::string& aReceiptHandle) {
  if (TbrvSQSDeleteMessageBatchRequestItem* item = AddNew(aId))
    item->SetReceiptHandle(aReceiptHandle);
}

void TbrvSQSChangeMessageVisibilityBatchRequests::AddSQSChangeVisibility(
    const std::string& aId, const std::string& aReceiptHandle, int aVisibilityTimeout) {
  if (TbrvSQSChangeMessageVisibilityBatchRequest* item = AddNew(aId)) {
    item->SetReceiptHandle(aReceiptHandle);
    item->SetVisibilityTimeout(aVisibilityTimeout);
  }
}

void TbrvSQSTags::AddSQSTag(const std::string& Key, const std::string& Value) {
  if (TbrvSQSTag* tag = AddNew(Key)) tag->SetValue(Value);
}

void TbrvSQSPermissions::AddSQSPermission(const std::string& ActionName,
                                          const std::string& AWSAccountId) {
  if (TbrvSQSPermission* permission = AddNew(ActionName + "_" + ActionName)) {
    permission->SetActionName(ActionName);
    permission->SetAWSAccountId(AWSAccountId);
  }
}

void TbrvSQSPermissions::AddSQSPermission(TbrvAWSSQSActionName ActionName,
                                          const std::string& AWSAccountId) {
  AddSQSPermission(SQSActionWireName(ActionName), AWSAccountId);
}

// --- records with sub-lists ---

TbrvSQSSendMessageRequest::~TbrvSQSSendMessageRequest() {
  FMessageSystemAttributes.reset();
  FMessageAttributes.reset();
}

TbrvSQSMessageAttributes& TbrvSQSSendMessageRequest::MessageAttributes() const {
  return Ensure(FMessageAttributes);
}

TbrvSQSMessageAttributes& TbrvSQSSendMessageRequest::MessageSystemAttributes() const {
  return Ensure(FMessageSystemAttributes);
}

namespace {
void CopyMessageAttributes(const TbrvSQSMessageAttributes& From, TbrvSQSMessageAttributes& To) {
  if (&From == &To) return;
  To.Clear();
  for (int i = 0; i < From.Count(); ++i) {
    const TbrvSQSMessageAttributeItem* item = From.Items(i);
    if (item != nullptr)
      To.AddSQSAttribute(item->AttributeName(), item->AttributeType(), item->AttributeValue());
  }
}
}  // namespace

void TbrvSQSSendMessageRequest::SetMessageAttributes(const TbrvSQSMessageAttributes& Value) {
  CopyMessageAttributes(Value, MessageAttributes());
}

void TbrvSQSSendMessageRequest::SetMessageSystemAttributes(const TbrvSQSMessageAttributes& Value) {
  CopyMessageAttributes(Value, MessageSystemAttributes());
}

TbrvSQSReceiveMessageRequest::~TbrvSQSReceiveMessageRequest() {
  FMessageAttributeName.reset();
}

TStringList& TbrvSQSReceiveMessageRequest::MessageAttributeName() const {
  return Ensure(FMessageAttributeName);
}

void TbrvSQSReceiveMessageRequest::SetMessageAttributeName(std::unique_ptr<TStringList> Value) {
  FMessageAttributeName = std::move(Value);
}

TbrvSQSReceiveMessageResponse::~TbrvSQSReceiveMessageResponse() {
  FAttributes.reset();
  FMessageAttributes.reset();
}

TbrvSQSAttributes& TbrvSQSReceiveMessageResponse::Attributes() const {
  return Ensure(FAttributes);
}

void TbrvSQSReceiveMessageResponse::SetAttributes(std::unique_ptr<TbrvSQSAttributes> Value) {
  FAttributes = std::move(Value);
}

TbrvSQSMessageAttributes& TbrvSQSReceiveMessageResponse::MessageAttributes() const {
  return Ensure(FMessageAttributes);
}

void TbrvSQSReceiveMessageResponse::SetMessageAttributes(
    std::unique_ptr<TbrvSQSMessageAttributes> Value) {
  FMessageAttributes = std::move(Value);
}

TbrvSQSCreateQueue::~TbrvSQSCreateQueue() {
  FAttributes.reset();
  FTags.reset();
}

TbrvSQSAttributes& TbrvSQSCreateQueue::Attributes() const {
  return Ensure(FAttributes);
}

void TbrvSQSCreateQueue::SetAttributes(std::unique_ptr<TbrvSQSAttributes> Value) {
  FAttributes = std::move(Value);
}

TbrvSQSTags& TbrvSQSCreateQueue::Tags() const {
  return Ensure(FTags);
}

void TbrvSQSCreateQueue::SetTags(std::unique_ptr<TbrvSQSTags> Value) {
  FTags = std::move(Value);
}

}  // namespace brv
