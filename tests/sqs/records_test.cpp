#include "sqs/brvSQSRecords.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace brv {
namespace {

TEST(SQSRecords, AddKeepsTheFirstRecordOfAKey) {
  TbrvSQSAttributes attributes;
  attributes.AddSQSAttribute("DelaySeconds", "5");
  attributes.AddSQSAttribute("DelaySeconds", "9");
  attributes.AddSQSAttribute(sqsatVisibilityTimeout, "30");
  attributes.AddSQSAttribute(static_cast<TbrvAWSSQSAttribute>(99), "lost");
  ASSERT_EQ(attributes.Count(), 2);
  EXPECT_EQ(attributes.Find("DelaySeconds")->AttributeValue(), "5");
  EXPECT_EQ(attributes.Items(1)->AttributeName(), "VisibilityTimeout");
  EXPECT_EQ(attributes.Items(1)->AttributeValue(), "30");

  TbrvSQSTags tags;
  tags.AddSQSTag("env", "prod");
  tags.AddSQSTag("Env", "test");  // keys are case-sensitive
  tags.AddSQSTag("env", "dev");
  ASSERT_EQ(tags.Count(), 2);
  EXPECT_EQ(tags.Find("env")->Value(), "prod");

  TbrvSQSDeleteMessageBatchRequestItems deletes;
  deletes.AddSQSDeleteMessage("1", "h1");
  deletes.AddSQSDeleteMessage("1", "h2");
  EXPECT_EQ(deletes.Count(), 1);
  EXPECT_EQ(deletes.Items(0)->ReceiptHandle(), "h1");

  TbrvSQSChangeMessageVisibilityBatchRequests changes;
  changes.AddSQSChangeVisibility("a", "ha", 60);
  changes.AddSQSChangeVisibility("b", "hb", 0);
  EXPECT_EQ(changes.Count(), 2);
  EXPECT_EQ(changes.Find("a")->VisibilityTimeout(), 60);
}

TEST(SQSRecords, PermissionsAreKeyedByActionTwice) {
  TbrvSQSPermissions permissions;
  permissions.AddSQSPermission("SendMessage", "111122223333");
  permissions.AddSQSPermission("SendMessage", "444455556666");
  permissions.AddSQSPermission(sqsanGetQueueUrl, "111122223333");
  permissions.AddSQSPermission(static_cast<TbrvAWSSQSActionName>(-1), "777788889999");
  ASSERT_EQ(permissions.Count(), 3);
  const TbrvSQSPermission* send = permissions.Items(0);
  EXPECT_EQ(send->ID(), "SendMessage_SendMessage");
  EXPECT_EQ(send->AWSAccountId(), "111122223333");
  EXPECT_EQ(permissions.Items(1)->ActionName(), "GetQueueUrl");
  EXPECT_EQ(permissions.Items(2)->ID(), "_");
  EXPECT_EQ(permissions.Items(2)->ActionName(), "");
}

// Every enumerator has a name of its own on the wire (the names themselves are checked against
// the service by the end-to-end tests); values outside the enumeration have none.
TEST(SQSRecords, EveryEnumeratorHasItsOwnWireName) {
  const auto distinctNames = [](int last, auto nameOf) {
    std::set<std::string> names;
    for (int i = 0; i <= last; ++i) names.insert(nameOf(i));
    EXPECT_EQ(names.count(""), 0u);
    EXPECT_EQ(nameOf(-1), "");
    EXPECT_EQ(nameOf(last + 1), "");
    return names.size();
  };
  const auto attribute = [](int i) {
    return SQSAttributeWireName(static_cast<TbrvAWSSQSAttribute>(i));
  };
  const auto action = [](int i) { return SQSActionWireName(static_cast<TbrvAWSSQSActionName>(i)); };
  EXPECT_EQ(distinctNames(sqsatKmsDataKeyReusePeriodSeconds, attribute),
            sqsatKmsDataKeyReusePeriodSeconds + 1u);
  EXPECT_EQ(distinctNames(sqsanSetQueueAttributes, action), sqsanSetQueueAttributes + 1u);
}

TEST(SQSRecords, DefaultsAndSubListsMadeOnFirstRead) {
  TbrvSQSReceiveMessageRequest receive;
  EXPECT_EQ(receive.MaxNumberOfMessages(), 1);
  EXPECT_TRUE(receive.Attributes().empty());
  EXPECT_EQ(receive.VisibilityTimeout(), 0);
  EXPECT_FALSE(receive.HasMessageAttributeName());
  receive.MessageAttributeName().Add("All");
  EXPECT_TRUE(receive.HasMessageAttributeName());
  auto names = std::make_unique<TStringList>();
  names->Add("Color");
  receive.SetMessageAttributeName(std::move(names));  // the old list is freed
  EXPECT_EQ(receive.MessageAttributeName().Text(), "Color\n");

  TbrvSQSSendMessageRequest send;
  EXPECT_EQ(send.DelaySeconds(), 0);
  EXPECT_EQ(send.MessageAttributes().Count(), 0);

  TbrvSQSCreateQueue queue;
  queue.SetQueueName("orders");
  EXPECT_EQ(queue.ID(), "orders");
  queue.Attributes().AddSQSAttribute("DelaySeconds", "1");
  auto replacement = std::make_unique<TbrvSQSAttributes>();
  replacement->AddSQSAttribute("FifoQueue", "true");
  queue.SetAttributes(std::move(replacement));
  ASSERT_EQ(queue.Attributes().Count(), 1);
  EXPECT_EQ(queue.Attributes().Items(0)->AttributeName(), "FifoQueue");
  auto tags = std::make_unique<TbrvSQSTags>();
  tags->AddSQSTag("team", "a");
  queue.SetTags(std::move(tags));
  EXPECT_EQ(queue.Tags().Count(), 1);

  TbrvSQSReceiveMessageResponse message;
  message.SetMessageId("m-1");
  EXPECT_EQ(message.ID(), "m-1");
  message.Attributes().AddSQSAttribute("SenderId", "A");
  message.SetMessageAttributes(std::make_unique<TbrvSQSMessageAttributes>());
  EXPECT_EQ(message.MessageAttributes().Count(), 0);
}

TEST(SQSRecords, WritingSendAttributesCopiesTheFirstOfEachName) {
  TbrvSQSMessageAttributes given;
  given.AdoptItem(std::make_unique<TbrvSQSMessageAttributeItem>());
  given.Items(0)->SetAttributeName("color");
  given.Items(0)->SetAttributeType("String");
  given.Items(0)->SetAttributeValue("red");
  auto second = std::make_unique<TbrvSQSMessageAttributeItem>();
  second->SetAttributeName("color");  // same name: the list itself does not check AddItem
  second->SetAttributeValue("blue");
  given.AdoptItem(std::move(second));
  ASSERT_EQ(given.Count(), 2);

  TbrvSQSSendMessageRequest send;
  send.MessageAttributes().AddSQSAttribute("old", "String", "x");
  send.SetMessageAttributes(given);
  ASSERT_EQ(send.MessageAttributes().Count(), 1);
  const TbrvSQSMessageAttributeItem* copied = send.MessageAttributes().Items(0);
  EXPECT_EQ(copied->AttributeValue(), "red");
  EXPECT_NE(copied, given.Items(0));  // a copy; the given list stays the caller's
  send.SetMessageSystemAttributes(given);
  EXPECT_EQ(send.MessageSystemAttributes().Count(), 1);
  send.SetMessageAttributes(send.MessageAttributes());  // self-copy keeps the list
  EXPECT_EQ(send.MessageAttributes().Count(), 1);
}

}  // namespace
}  // namespace brv
