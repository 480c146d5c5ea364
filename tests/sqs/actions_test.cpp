#include "sqs/brvHTTP_Amazon_SQS.h"

#include <gtest/gtest.h>

#include "support/SQSFixture.h"

namespace brv {
namespace {

using namespace brv::testing;
using Strings = std::vector<std::string>;

class SQSActions : public SQSClientTest {
 protected:
  void SetUp() override { ResolveOrders(); }
  const std::string Q = kQueueURL + "/?";
};

// --- messages ---

TEST_F(SQSActions, SendMessageSimpleFormEncodesTheBodyAndSendsDelayOnlyInRange) {
  const std::string send_answer =
      Answer("SendMessage",
             "<MD5OfMessageBody>fafb00f5732ab283681e124bf8747ed1</MD5OfMessageBody>"
             "<MessageId>5fea7756-0ea4-451a-a703-a558b933e274</MessageId>");
  for (int i = 0; i < 4; ++i) seams.AnswerBody(send_answer);
  EXPECT_TRUE(client.SendMessage("orders", "{\"total\": 5 & \"x\"=1} 100% +1 \xE2\x82\xAC", 0));
  EXPECT_TRUE(client.SendMessage("orders", "a", 900));
  EXPECT_TRUE(client.SendMessage("orders", "a", 901));
  EXPECT_TRUE(client.SendMessage("orders", "a", 1));
  EXPECT_EQ(Sent(), (Strings{
                        Q + "Action=SendMessage&MessageBody=%7B%22total%22%3A%205%20%26%20%22x%22"
                            "%3D1%7D%20100%25%20%2B1%20%E2%82%AC",
                        Q + "Action=SendMessage&DelaySeconds=900&MessageBody=a",
                        Q + "Action=SendMessage&MessageBody=a",
                        Q + "Action=SendMessage&DelaySeconds=1&MessageBody=a",
                    }));
}

TEST_F(SQSActions, SendMessageFullFormSendsAttributesUnderTheServiceNames) {
  TbrvSQSSendMessageRequest request;
  request.SetMessageBody("hello");
  request.SetDelaySeconds(-5);
  request.SetMessageGroupId("group 1");
  request.SetMessageDeduplicationId("dedup=1");
  request.MessageAttributes().AddSQSAttribute("City", "String", "Any City");
  request.MessageAttributes().AddSQSAttribute("Thumb", "Binary", "AAEC/w==");
  request.MessageSystemAttributes().AddSQSAttribute("AWSTraceHeader", "String",
                                                    "Root=1-5759e988-bd862e3fe1be46a994272793");
  seams.AnswerBody(Answer(
      "SendMessage",
      "<MD5OfMessageBody>5d41402abc4b2a76b9719d911017c592</MD5OfMessageBody>"
      "<MD5OfMessageAttributes>3ae8f24a165a8cedc005670c81a27295</MD5OfMessageAttributes>"
      "<MD5OfMessageSystemAttributes>5ae4d5d7636402d80f4eb6d213245a88"
      "</MD5OfMessageSystemAttributes><MessageId>219f8380-5770-4cc2-8c3e-5c715e145f5e</MessageId>"
      "<SequenceNumber>18849496460467696128</SequenceNumber>"));
  TbrvSQSSendMessageResponse response;
  ASSERT_TRUE(client.SendMessage("orders", request, response));
  EXPECT_EQ(
      Sent(),
      (Strings{Q +
               "Action=SendMessage&MessageAttribute.1.Name=City"
               "&MessageAttribute.1.Value.DataType=String"
               "&MessageAttribute.1.Value.StringValue=Any%20City"
               "&MessageAttribute.2.Name=Thumb&MessageAttribute.2.Value.BinaryValue=AAEC%2Fw%3D%3D"
               "&MessageAttribute.2.Value.DataType=Binary&MessageBody=hello"
               "&MessageDeduplicationId=dedup%3D1&MessageGroupId=group%201"
               "&MessageSystemAttribute.1.Name=AWSTraceHeader"
               "&MessageSystemAttribute.1.Value.DataType=String"
               "&MessageSystemAttribute.1.Value.StringValue="
               "Root%3D1-5759e988-bd862e3fe1be46a994272793"}));
  EXPECT_EQ(response.MD5OfMessageBody(), "5d41402abc4b2a76b9719d911017c592");
  EXPECT_EQ(response.MD5OfMessageAttributes(), "3ae8f24a165a8cedc005670c81a27295");
  EXPECT_EQ(response.MD5OfMessageSystemAttributes(), "5ae4d5d7636402d80f4eb6d213245a88");
  EXPECT_EQ(response.MessageId(), "219f8380-5770-4cc2-8c3e-5c715e145f5e");
  EXPECT_EQ(response.SequenceNumber(), "18849496460467696128");
}

std::string SendBatchEntry(const std::string& Id) {
  return "<SendMessageBatchResultEntry><Id>" + Id + "</Id><MessageId>m-" + Id +
         "</MessageId><MD5OfMessageBody>0cc175b9c0f1b6a831c399e269772661</MD5OfMessageBody>"
         "</SendMessageBatchResultEntry>";
}

TEST_F(SQSActions, SendMessageBatchSendsEveryEntryTenPerRequest) {
  TbrvSQSSendMessageRequests requests;
  for (int i = 1; i <= 12; ++i) {
    auto request = std::make_unique<TbrvSQSSendMessageRequest>();
    request->SetID("e" + std::to_string(i));
    request->SetMessageBody(i == 1 ? "a&b=c" : "m");
    if (i == 2) request->SetDelaySeconds(30);
    if (i == 3) request->MessageAttributes().AddSQSAttribute("k", "Number", "42");
    requests.AdoptItem(std::move(request));
  }
  std::string first;
  for (int i = 1; i <= 10; ++i) first += SendBatchEntry("e" + std::to_string(i));
  seams.AnswerBody(Answer("SendMessageBatch", first));
  seams.AnswerBody(Answer("SendMessageBatch",
                          SendBatchEntry("e11") +
                              "<BatchResultErrorEntry><Id>e12</Id><Code>InvalidParameterValue"
                              "</Code><SenderFault>true</SenderFault></BatchResultErrorEntry>"));
  TbrvSQSSendMessageResponses responses;
  client.SendMessageBatch("orders", requests, responses);

  const Strings sent = Sent();
  ASSERT_EQ(sent.size(), 2u);
  const std::string e = "SendMessageBatchRequestEntry.";
  std::string expected = Q + "Action=SendMessageBatch&" + e + "1.Id=e1&" + e +
                         "1.MessageBody=a%26b%3Dc&" + e + "10.Id=e10&" + e + "10.MessageBody=m&" +
                         e + "2.DelaySeconds=30&" + e + "2.Id=e2&" + e + "2.MessageBody=m&" + e +
                         "3.Id=e3&" + e + "3.MessageAttribute.1.Name=k&" + e +
                         "3.MessageAttribute.1.Value.DataType=Number&" + e +
                         "3.MessageAttribute.1.Value.StringValue=42&" + e + "3.MessageBody=m";
  for (int i = 4; i <= 9; ++i)
    expected += "&" + e + std::to_string(i) + ".Id=e" + std::to_string(i) + "&" + e +
                std::to_string(i) + ".MessageBody=m";
  EXPECT_EQ(sent[0], expected);
  EXPECT_EQ(sent[1], Q + "Action=SendMessageBatch&" + e + "1.Id=e11&" + e + "1.MessageBody=m&" + e +
                         "2.Id=e12&" + e + "2.MessageBody=m");

  // The answers of both requests; failed entries are not read.
  ASSERT_EQ(responses.Count(), 11);
  EXPECT_EQ(responses.Items(0)->ID(), "e1");
  EXPECT_EQ(responses.Items(0)->MessageId(), "m-e1");
  EXPECT_EQ(responses.Items(0)->MD5OfMessageBody(), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(responses.Items(10)->ID(), "e11");
}

TEST_F(SQSActions, BatchResultsAreReadEntryByEntryOverEveryRequest) {
  TbrvSQSSendMessageRequests requests;
  for (int i = 1; i <= 12; ++i) {
    auto request = std::make_unique<TbrvSQSSendMessageRequest>();
    request->SetID("e" + std::to_string(i));
    request->SetMessageBody("m");
    requests.AdoptItem(std::move(request));
  }
  std::string first;
  for (int i = 1; i <= 10; ++i) first += SendBatchEntry("e" + std::to_string(i));
  const std::string second =
      // The error entry comes first and its message quotes an <Id> of its own.
      "<BatchResultErrorEntry><Id>e12</Id><SenderFault>true</SenderFault><Code>"
      "InvalidParameterValue</Code><Message>see &lt;Id&gt;e11&lt;/Id&gt;</Message>"
      "</BatchResultErrorEntry>" +
      SendBatchEntry("e11");
  seams.AnswerBody(Answer("SendMessageBatch", first));
  seams.AnswerBody(Answer("SendMessageBatch", second));
  TbrvSQSSendMessageResponses responses;
  TbrvSQSBatchResult result;
  result.Successful().Add("stale");
  EXPECT_FALSE(client.SendMessageBatch("orders", requests, responses, result));
  EXPECT_EQ(responses.Count(), 11);
  ASSERT_EQ(result.Successful().Count(), 11);
  EXPECT_EQ(result.Successful()[0], "e1");
  EXPECT_EQ(result.Successful()[10], "e11");
  ASSERT_EQ(result.Failed().Count(), 1);
  const TbrvSQSBatchResultErrorEntry& failed = *result.Failed().Items(0);
  EXPECT_EQ(failed.ID(), "e12");
  EXPECT_EQ(failed.Code(), "InvalidParameterValue");
  EXPECT_EQ(failed.Message(), "see <Id>e11</Id>");
  EXPECT_TRUE(failed.SenderFault());

  // A request refused as a whole leaves its entries in neither list.
  seams.AnswerBody(Answer("SendMessageBatch", first));
  seams.AnswerHTTPError(500, "");
  EXPECT_FALSE(client.SendMessageBatch("orders", requests, responses, result));
  EXPECT_EQ(result.Successful().Count(), 10);
  EXPECT_EQ(result.Failed().Count(), 0);

  TbrvSQSDeleteMessageBatchRequestItems items;
  items.AddSQSDeleteMessage("d1", "h1");
  seams.AnswerBody(
      Answer("DeleteMessageBatch",
             "<DeleteMessageBatchResultEntry><Id>d1</Id></DeleteMessageBatchResultEntry>"));
  EXPECT_TRUE(client.DeleteMessageBatch("orders", items, result));
  EXPECT_EQ(result.Successful().Text(), "d1\n");
}

const char* kReceiveAnswer =
    "<ReceiveMessageResponse><ReceiveMessageResult>"
    "<Message>"
    "<MessageId>5fea7756-0ea4-451a-a703-a558b933e274</MessageId>"
    "<ReceiptHandle>MbZj6wDWli+JvwwJaBV+3dcjk2YW2vA3+STFFljTM8tJJg6HRG6PYSasuWXPJB+Cw=</"
    "ReceiptHandle>"
    "<MD5OfBody>fafb00f5732ab283681e124bf8747ed1</MD5OfBody>"
    "<Body>{&quot;order&quot;: 1, &quot;note&quot;: &quot;a &lt; b &amp;&amp; caf\xC3\xA9&quot;}"
    "</Body>"
    "<Attribute><Name>SenderId</Name><Value>195004372649</Value></Attribute>"
    "<Attribute><Name>SentTimestamp</Name><Value>1238099229000</Value></Attribute>"
    "<MD5OfMessageAttributes>6d4b4b7c1a2b3c4d5e6f708192a3b4c5</MD5OfMessageAttributes>"
    "<MessageAttribute><Name>City</Name><Value><StringValue>Any &amp; Every City</StringValue>"
    "<DataType>String</DataType></Value></MessageAttribute>"
    "<MessageAttribute><Name>Thumb</Name><Value><BinaryValue>AAEC/w==</BinaryValue>"
    "<DataType>Binary.png</DataType></Value></MessageAttribute>"
    "</Message>"
    "<Message>"
    "<MessageId>6aeb8856-1fb5-562b-b814-b669c044f385</MessageId>"
    "<ReceiptHandle>second+handle/==</ReceiptHandle>"
    "<MD5OfBody>0cc175b9c0f1b6a831c399e269772661</MD5OfBody>"
    "<Body>bad \xFF bytes \xE2\x82</Body>"
    "<Attribute><Name>ApproximateReceiveCount</Name><Value>3</Value></Attribute>"
    "<Attribute><Name>MessageGroupId</Name><Value>g1</Value></Attribute>"
    "</Message>"
    "</ReceiveMessageResult><ResponseMetadata><RequestId>b6633655-283d-45b4-aee4-4e84e0ae6afa"
    "</RequestId></ResponseMetadata></ReceiveMessageResponse>";

TEST_F(SQSActions, ReceiveMessageSimpleFormReadsMessagesAttributesAndBodies) {
  seams.AnswerBody(kReceiveAnswer);
  TbrvSQSReceiveMessageResponses responses;
  ASSERT_TRUE(client.ReceiveMessage("orders", responses));
  EXPECT_EQ(Sent(), (Strings{Q + "Action=ReceiveMessage&MaxNumberOfMessages=1"}));

  ASSERT_EQ(responses.Count(), 2);
  const TbrvSQSReceiveMessageResponse* first = responses.Items(0);
  EXPECT_EQ(first->MessageId(), "5fea7756-0ea4-451a-a703-a558b933e274");
  EXPECT_EQ(first->ReceiptHandle(),
            "MbZj6wDWli+JvwwJaBV+3dcjk2YW2vA3+STFFljTM8tJJg6HRG6PYSasuWXPJB+Cw=");
  EXPECT_EQ(first->MD5OfBody(), "fafb00f5732ab283681e124bf8747ed1");
  EXPECT_EQ(first->MD5OfMessageAttributes(), "6d4b4b7c1a2b3c4d5e6f708192a3b4c5");
  EXPECT_EQ(first->Body(), "{\"order\": 1, \"note\": \"a < b && caf\xC3\xA9\"}");
  ASSERT_EQ(first->Attributes().Count(), 2);
  EXPECT_EQ(first->Attributes().Items(0)->AttributeName(), "SenderId");
  EXPECT_EQ(first->Attributes().Items(0)->AttributeValue(), "195004372649");
  EXPECT_EQ(first->Attributes().Items(1)->AttributeName(), "SentTimestamp");
  ASSERT_EQ(first->MessageAttributes().Count(), 2);
  const TbrvSQSMessageAttributeItem* city = first->MessageAttributes().Items(0);
  EXPECT_EQ(city->AttributeName(), "City");
  EXPECT_EQ(city->AttributeType(), "String");
  EXPECT_EQ(city->AttributeValue(), "Any & Every City");
  const TbrvSQSMessageAttributeItem* thumb = first->MessageAttributes().Items(1);
  EXPECT_EQ(thumb->AttributeType(), "Binary.png");
  EXPECT_EQ(thumb->AttributeValue(), "AAEC/w==");

  const TbrvSQSReceiveMessageResponse* second = responses.Items(1);
  EXPECT_EQ(second->MessageId(), "6aeb8856-1fb5-562b-b814-b669c044f385");
  EXPECT_EQ(second->Body(), "bad \xEF\xBF\xBD bytes \xEF\xBF\xBD");  // not UTF-8: U+FFFD
  ASSERT_EQ(second->Attributes().Count(), 2);
  EXPECT_EQ(second->Attributes().Items(0)->AttributeValue(), "3");
  EXPECT_EQ(second->MessageAttributes().Count(), 0);
}

TEST_F(SQSActions, ReceiveMessageFullFormSendsOnlyValuesInRangeAndAppends) {
  TbrvSQSReceiveMessageRequest request;
  request.SetMaxNumberOfMessages(10);
  request.SetVisibilityTimeout(45);
  request.SetWaitTimeSeconds(20);
  request.SetReceiveRequestAttemptId("try 1");
  request.SetAttributes({sqsatAll, sqsatQueueArn});
  request.MessageAttributeName().Add("City");
  request.MessageAttributeName().Add("Thumb.*");
  seams.AnswerBody(Answer("ReceiveMessage", ""));  // no message: success
  TbrvSQSReceiveMessageResponses responses;
  responses.AdoptItem(std::make_unique<TbrvSQSReceiveMessageResponse>());
  EXPECT_TRUE(client.ReceiveMessage("orders", request, responses));
  EXPECT_EQ(responses.Count(), 1);  // appended to, never cleared

  TbrvSQSReceiveMessageRequest out_of_range;
  out_of_range.SetMaxNumberOfMessages(11);
  out_of_range.SetVisibilityTimeout(0);
  out_of_range.SetWaitTimeSeconds(-1);
  seams.AnswerBody(Answer("ReceiveMessage", ""));
  EXPECT_TRUE(client.ReceiveMessage("orders", out_of_range, responses));
  out_of_range.SetMaxNumberOfMessages(0);
  seams.AnswerBody(Answer("ReceiveMessage", ""));
  EXPECT_TRUE(client.ReceiveMessage("orders", out_of_range, responses));

  EXPECT_EQ(Sent(), (Strings{
                        Q + "Action=ReceiveMessage&AttributeName.1=All&AttributeName.2=QueueArn"
                            "&MaxNumberOfMessages=10&MessageAttributeName.1=City"
                            "&MessageAttributeName.2=Thumb.%2A&ReceiveRequestAttemptId=try%201"
                            "&VisibilityTimeout=45&WaitTimeSeconds=20",
                        Q + "Action=ReceiveMessage",
                        Q + "Action=ReceiveMessage",
                    }));
}

TEST_F(SQSActions, ChangeMessageVisibilitySendsAnyTimeout) {
  seams.AnswerBody(EmptyAnswer("ChangeMessageVisibility"));
  seams.AnswerBody(EmptyAnswer("ChangeMessageVisibility"));
  EXPECT_TRUE(client.ChangeMessageVisibility("orders", "h+/=", 0));
  EXPECT_TRUE(client.ChangeMessageVisibility("orders", "h", -1));
  EXPECT_EQ(Sent(), (Strings{
                        Q + "Action=ChangeMessageVisibility&ReceiptHandle=h%2B%2F%3D"
                            "&VisibilityTimeout=0",
                        Q + "Action=ChangeMessageVisibility&ReceiptHandle=h&VisibilityTimeout=-1",
                    }));
}

TEST_F(SQSActions, ChangeMessageVisibilityBatchSendsTenPerRequestAndCollectsAllIds) {
  TbrvSQSChangeMessageVisibilityBatchRequests requests;
  for (int i = 1; i <= 11; ++i)
    requests.AddSQSChangeVisibility("c" + std::to_string(i), "h" + std::to_string(i) + "=", 60);
  std::string first;
  for (int i = 1; i <= 10; ++i)
    first += "<ChangeMessageVisibilityBatchResultEntry><Id>c" + std::to_string(i) +
             "</Id></ChangeMessageVisibilityBatchResultEntry>";
  seams.AnswerBody(Answer("ChangeMessageVisibilityBatch", first));
  seams.AnswerBody(Answer("ChangeMessageVisibilityBatch",
                          "<BatchResultErrorEntry><Id>c11</Id><Code>ReceiptHandleIsInvalid</Code>"
                          "<SenderFault>true</SenderFault></BatchResultErrorEntry>"));
  TStringList ids;
  ids.Add("stale");
  ASSERT_TRUE(client.ChangeMessageVisibilityBatch("orders", requests, ids));
  const Strings sent = Sent();
  ASSERT_EQ(sent.size(), 2u);
  const std::string e = "ChangeMessageVisibilityBatchRequestEntry.";
  std::string expected = Q + "Action=ChangeMessageVisibilityBatch";
  for (int n : {1, 10, 2, 3, 4, 5, 6, 7, 8, 9}) {
    const std::string entry = e + std::to_string(n);
    expected += "&" + entry + ".Id=c" + std::to_string(n) + "&" + entry + ".ReceiptHandle=h" +
                std::to_string(n) + "%3D&" + entry + ".VisibilityTimeout=60";
  }
  EXPECT_EQ(sent[0], expected);
  EXPECT_EQ(sent[1], Q + "Action=ChangeMessageVisibilityBatch&" + e + "1.Id=c11&" + e +
                         "1.ReceiptHandle=h11%3D&" + e + "1.VisibilityTimeout=60");
  EXPECT_EQ(ids.Count(), 11);  // the failed entry's id too; the stale line is gone
  EXPECT_EQ(ids[0], "c1");
  EXPECT_EQ(ids[10], "c11");
}

TEST_F(SQSActions, DeleteMessageEncodesTheHandleAndNeedsARequestId) {
  seams.AnswerBody(EmptyAnswer("DeleteMessage"));
  seams.AnswerBody("<DeleteMessageResponse><ResponseMetadata/></DeleteMessageResponse>");
  EXPECT_TRUE(client.DeleteMessage("orders", "MbZj6+JvwwJaBV/3dcjk2YW2vA3=="));
  EXPECT_FALSE(client.DeleteMessage("orders", "x"));
  EXPECT_EQ(Sent(),
            (Strings{
                Q + "Action=DeleteMessage&ReceiptHandle=MbZj6%2BJvwwJaBV%2F3dcjk2YW2vA3%3D%3D",
                Q + "Action=DeleteMessage&ReceiptHandle=x",
            }));
}

TEST_F(SQSActions, DeleteMessageBatchDeletesEveryEntry) {
  TbrvSQSDeleteMessageBatchRequestItems items;
  for (int i = 1; i <= 21; ++i)
    items.AddSQSDeleteMessage("d" + std::to_string(i), "h/" + std::to_string(i));
  for (int i = 0; i < 3; ++i)
    seams.AnswerBody(Answer("DeleteMessageBatch",
                            "<DeleteMessageBatchResultEntry><Id>d1</Id>"
                            "</DeleteMessageBatchResultEntry>"));
  client.DeleteMessageBatch("orders", items);
  const Strings sent = Sent();
  ASSERT_EQ(sent.size(), 3u);
  const std::string e = "DeleteMessageBatchRequestEntry.";
  EXPECT_EQ(sent[2],
            Q + "Action=DeleteMessageBatch&" + e + "1.Id=d21&" + e + "1.ReceiptHandle=h%2F21");
  EXPECT_NE(sent[1].find(e + "10.Id=d20&" + e + "10.ReceiptHandle=h%2F20&"), std::string::npos);
  EXPECT_NE(sent[0].find(e + "1.Id=d1&" + e + "1.ReceiptHandle=h%2F1&"), std::string::npos);
  EXPECT_EQ(sent[0].find(e + "11."), std::string::npos);
}

// --- queues ---

TEST_F(SQSActions, CreateQueueSendsAttributesNameAndTagsAndDoesNotCache) {
  TbrvSQSCreateQueue queue;
  queue.SetQueueName("new-queue.fifo");
  queue.Attributes().AddSQSAttribute(sqsatFifoQueue, "true");
  queue.Attributes().AddSQSAttribute(sqsatVisibilityTimeout, "60");
  queue.Tags().AddSQSTag("team", "billing & ops");
  const std::string url = "https://sqs.us-east-1.amazonaws.com/123456789012/new-queue.fifo";
  seams.AnswerBody(Answer("CreateQueue", "<QueueUrl>" + url + "</QueueUrl>"));
  EXPECT_EQ(client.CreateQueue(queue), url);
  EXPECT_EQ(Sent(), (Strings{kEndPoint +
                             "?Action=CreateQueue&Attribute.1.Name=FifoQueue&Attribute.1.Value=true"
                             "&Attribute.2.Name=VisibilityTimeout&Attribute.2.Value=60"
                             "&QueueName=new-queue.fifo&Tag.1.Key=team"
                             "&Tag.1.Value=billing%20%26%20ops"}));

  // The simple form; a later operation on the new queue resolves its URL once.
  seams.AnswerBody(Answer("CreateQueue", "<QueueUrl>" + url + "</QueueUrl>"));
  EXPECT_EQ(client.CreateQueue("new-queue.fifo"), url);
  seams.AnswerBody(GetQueueUrlAnswer(url));
  seams.AnswerBody(EmptyAnswer("DeleteQueue"));
  EXPECT_TRUE(client.DeleteQueue("new-queue.fifo"));
  EXPECT_EQ(Sent(), (Strings{
                        Sent()[0],
                        kEndPoint + "?Action=CreateQueue&QueueName=new-queue.fifo",
                        kEndPoint + "?Action=GetQueueUrl&QueueName=new-queue.fifo",
                        url + "/?Action=DeleteQueue",
                    }));
  // No queue URL in the answer: failure.
  seams.AnswerBody(Answer("CreateQueue", "<Other/>"));
  EXPECT_EQ(client.CreateQueue("x"), "");
}

TEST_F(SQSActions, DeleteQueueAcceptsAnyAnswer) {
  seams.AnswerBody("<anything/>");
  EXPECT_TRUE(client.DeleteQueue("orders"));
  EXPECT_EQ(Sent(), (Strings{Q + "Action=DeleteQueue"}));
}

TEST_F(SQSActions, ListQueuesClearsTheListAndReadsEveryURL) {
  TStringList queues;
  queues.Add("stale");
  seams.AnswerBody(Answer("ListQueues", "<QueueUrl>" + kQueueURL + "</QueueUrl><QueueUrl>" +
                                            kQueueURL + "-dlq</QueueUrl>"));
  ASSERT_TRUE(client.ListQueues(queues, ""));
  EXPECT_EQ(queues.Text(), kQueueURL + "\n" + kQueueURL + "-dlq\n");

  seams.AnswerHTTPError(403, ErrorAnswer("InvalidClientTokenId", "The security token is invalid."));
  EXPECT_FALSE(client.ListQueues(queues, "ord ers"));
  EXPECT_EQ(queues.Count(), 0);  // cleared before the request
  EXPECT_EQ(Sent(), (Strings{kEndPoint + "?Action=ListQueues",
                             kEndPoint + "?Action=ListQueues&QueueNamePrefix=ord%20ers"}));
}

TEST_F(SQSActions, ListQueueTagsReadsKeysAndValues) {
  TbrvSQSTags tags;
  tags.AddSQSTag("stale", "x");
  seams.AnswerBody(Answer("ListQueueTags",
                          "<Tag><Key>QueueType</Key><Value>Production</Value></Tag>"
                          "<Tag><Key>Owner</Key><Value>R&amp;D</Value></Tag>"
                          "<Tag><Key></Key><Value>no key</Value></Tag>"));
  ASSERT_TRUE(client.ListQueueTags("orders", tags));
  EXPECT_EQ(Sent(), (Strings{Q + "Action=ListQueueTags"}));
  ASSERT_EQ(tags.Count(), 2);
  EXPECT_EQ(tags.Items(0)->Key(), "QueueType");
  EXPECT_EQ(tags.Items(0)->Value(), "Production");
  EXPECT_EQ(tags.Items(1)->Value(), "R&D");
}

TEST_F(SQSActions, GetQueueAttributesAsksForAllAndClearsEvenOnFailure) {
  TbrvSQSAttributes attributes;
  seams.AnswerBody(
      Answer("GetQueueAttributes",
             "<Attribute><Name>ApproximateNumberOfMessages</Name><Value>0</Value></Attribute>"
             "<Attribute><Name>Policy</Name><Value>{&quot;Version&quot;:&quot;2012-10-17&quot;}"
             "</Value></Attribute>"
             "<Attribute><Name>VisibilityTimeout</Name><Value>30</Value></Attribute>"));
  ASSERT_TRUE(client.GetQueueAttributes("orders", attributes));
  ASSERT_EQ(attributes.Count(), 3);
  EXPECT_EQ(attributes.Find("Policy")->AttributeValue(), "{\"Version\":\"2012-10-17\"}");
  EXPECT_EQ(attributes.Find("VisibilityTimeout")->AttributeValue(), "30");

  seams.AnswerHTTPError(400, ErrorAnswer("AWS.SimpleQueueService.NonExistentQueue", "gone"));
  EXPECT_FALSE(client.GetQueueAttributes("orders", attributes));
  EXPECT_EQ(attributes.Count(), 0);
  EXPECT_EQ(Sent(), (Strings{Q + "Action=GetQueueAttributes&AttributeName.1=All",
                             Q + "Action=GetQueueAttributes&AttributeName.1=All"}));
}

TEST_F(SQSActions, SetQueueAttributesSendsNamesAndValues) {
  TbrvSQSAttributes attributes;
  attributes.AddSQSAttribute(sqsatVisibilityTimeout, "30");
  attributes.AddSQSAttribute(sqsatRedrivePolicy,
                             "{\"deadLetterTargetArn\":\"arn:aws:sqs:us-east-1:1:dlq\","
                             "\"maxReceiveCount\":\"5\"}");
  seams.AnswerBody(EmptyAnswer("SetQueueAttributes"));
  EXPECT_TRUE(client.SetQueueAttributes("orders", attributes));
  EXPECT_EQ(Sent(), (Strings{Q + "Action=SetQueueAttributes&Attribute.1.Name=VisibilityTimeout"
                                 "&Attribute.1.Value=30&Attribute.2.Name=RedrivePolicy"
                                 "&Attribute.2.Value=%7B%22deadLetterTargetArn%22%3A%22arn%3Aaws"
                                 "%3Asqs%3Aus-east-1%3A1%3Adlq%22%2C%22maxReceiveCount%22%3A%225"
                                 "%22%7D"}));
}

TEST_F(SQSActions, PurgeNeedsARequestId) {
  seams.AnswerBody(EmptyAnswer("PurgeQueue"));
  seams.AnswerBody("<PurgeQueueResponse/>");
  EXPECT_TRUE(client.PurgueQueue("orders"));
  EXPECT_FALSE(client.PurgueQueue("orders"));
  EXPECT_EQ(Sent(), (Strings{Q + "Action=PurgeQueue", Q + "Action=PurgeQueue"}));
}

TEST_F(SQSActions, TagAndUntagQueue) {
  for (int i = 0; i < 4; ++i) seams.AnswerBody(EmptyAnswer("TagQueue"));
  EXPECT_TRUE(client.TagQueue("orders", "cost center", "a/b"));
  TbrvSQSTags tags;
  tags.AddSQSTag("k1", "v1");
  tags.AddSQSTag("k2", "");
  EXPECT_TRUE(client.TagQueue("orders", tags));
  EXPECT_TRUE(client.UnTagQueue("orders", "cost center"));
  TStringList keys;
  keys.Add("k1");
  keys.Add("k2");
  EXPECT_TRUE(client.UnTagQueue("orders", keys));
  EXPECT_EQ(Sent(), (Strings{
                        Q + "Action=TagQueue&Tag.1.Key=cost%20center&Tag.1.Value=a%2Fb",
                        Q + "Action=TagQueue&Tag.1.Key=k1&Tag.1.Value=v1&Tag.2.Key=k2&Tag.2.Value=",
                        Q + "Action=UntagQueue&TagKey.1=cost%20center",
                        Q + "Action=UntagQueue&TagKey.1=k1&TagKey.2=k2",
                    }));
  seams.AnswerBody("<UntagQueueResponse/>");
  EXPECT_FALSE(client.UnTagQueue("orders", "k"));
}

TEST_F(SQSActions, AddAndRemovePermission) {
  TbrvSQSPermissions permissions;
  permissions.AddSQSPermission(sqsanSendMessage, "111122223333");
  permissions.AddSQSPermission("ReceiveMessage", "444455556666");
  seams.AnswerBody(EmptyAnswer("AddPermission"));
  seams.AnswerBody(EmptyAnswer("RemovePermission"));
  EXPECT_TRUE(client.AddPermission("orders", "team access", permissions));
  EXPECT_TRUE(client.RemovePermission("orders", "team access"));
  EXPECT_EQ(Sent(), (Strings{
                        // "AWS..." sorts before "Action": upper-case W before lower-case c.
                        Q + "AWSAccountId.1=111122223333&AWSAccountId.2=444455556666"
                            "&Action=AddPermission&ActionName.1=SendMessage"
                            "&ActionName.2=ReceiveMessage&Label=team%20access",
                        Q + "Action=RemovePermission&Label=team%20access",
                    }));
}

TEST_F(SQSActions, ListDeadLetterSourceQueuesClearsOnlyOnAcceptedAnswer) {
  TStringList urls;
  urls.Add("kept");
  seams.AnswerHTTPError(400, ErrorAnswer("AWS.SimpleQueueService.NonExistentQueue", "gone"));
  EXPECT_FALSE(client.ListDeadLetterSourceQueues("orders", urls));
  EXPECT_EQ(urls.Text(), "kept\n");
  seams.AnswerBody(
      Answer("ListDeadLetterSourceQueues",
             "<QueueUrl>" + kQueueURL + "-a</QueueUrl><QueueUrl>" + kQueueURL + "-b</QueueUrl>"));
  EXPECT_TRUE(client.ListDeadLetterSourceQueues("orders", urls));
  EXPECT_EQ(urls.Text(), kQueueURL + "-a\n" + kQueueURL + "-b\n");
  EXPECT_EQ(Sent(), (Strings{Q + "Action=ListDeadLetterSourceQueues",
                             Q + "Action=ListDeadLetterSourceQueues"}));
}

// --- the failure roads, for every operation ---

// One public operation driven against the resolved queue "orders"; returns whether it
// reported success (always true for the operations without a result).
struct TOperation {
  const char* Name;
  std::function<bool(TbrvHTTPAWS_SQS_Client&)> Run;
  bool HasResult = true;
};

std::vector<TOperation> AllOperations() {
  static TbrvSQSTags tags;
  static TbrvSQSAttributes attributes;
  static TbrvSQSPermissions permissions;
  static TStringList keys;
  return {
      {"SendMessage", [](auto& c) { return c.SendMessage("orders", "b", 0); }},
      {"SendMessageFull",
       [](auto& c) {
         TbrvSQSSendMessageRequest request;
         TbrvSQSSendMessageResponse response;
         const bool ok = c.SendMessage("orders", request, response);
         if (!ok) {
           EXPECT_EQ(response.MessageId(), "");
         }
         return ok;
       }},
      {"SendMessageBatch",
       [](auto& c) {
         TbrvSQSSendMessageRequests requests;
         TbrvSQSSendMessageResponses responses;
         c.SendMessageBatch("orders", requests, responses);
         return true;
       },
       false},
      {"ReceiveMessage",
       [](auto& c) {
         TbrvSQSReceiveMessageResponses responses;
         const bool ok = c.ReceiveMessage("orders", responses);
         if (!ok) {
           EXPECT_EQ(responses.Count(), 0);
         }
         return ok;
       }},
      {"ReceiveMessageFull",
       [](auto& c) {
         TbrvSQSReceiveMessageRequest request;
         TbrvSQSReceiveMessageResponses responses;
         return c.ReceiveMessage("orders", request, responses);
       }},
      {"ChangeMessageVisibility",
       [](auto& c) { return c.ChangeMessageVisibility("orders", "h", 1); }},
      {"ChangeMessageVisibilityBatch",
       [](auto& c) {
         TbrvSQSChangeMessageVisibilityBatchRequests requests;
         TStringList ids;
         ids.Add("kept");
         const bool ok = c.ChangeMessageVisibilityBatch("orders", requests, ids);
         if (!ok) {
           EXPECT_EQ(ids.Count(), 1);
         }
         return ok;
       }},
      {"DeleteMessage", [](auto& c) { return c.DeleteMessage("orders", "h"); }},
      {"DeleteMessageBatch",
       [](auto& c) {
         TbrvSQSDeleteMessageBatchRequestItems items;
         c.DeleteMessageBatch("orders", items);
         return true;
       },
       false},
      {"CreateQueue", [](auto& c) { return !c.CreateQueue("q").empty(); }},
      {"CreateQueueFull",
       [](auto& c) {
         TbrvSQSCreateQueue queue;
         return !c.CreateQueue(queue).empty();
       }},
      {"DeleteQueue", [](auto& c) { return c.DeleteQueue("orders"); }},
      {"ListQueues",
       [](auto& c) {
         TStringList queues;
         return c.ListQueues(queues, "");
       }},
      {"ListQueueTags", [](auto& c) { return c.ListQueueTags("orders", tags); }},
      {"GetQueueAttributes", [](auto& c) { return c.GetQueueAttributes("orders", attributes); }},
      {"SetQueueAttributes", [](auto& c) { return c.SetQueueAttributes("orders", attributes); }},
      {"PurgueQueue", [](auto& c) { return c.PurgueQueue("orders"); }},
      {"TagQueue", [](auto& c) { return c.TagQueue("orders", tags); }},
      {"TagQueueKeyValue", [](auto& c) { return c.TagQueue("orders", "k", "v"); }},
      {"UnTagQueue", [](auto& c) { return c.UnTagQueue("orders", keys); }},
      {"UnTagQueueKey", [](auto& c) { return c.UnTagQueue("orders", "k"); }},
      {"AddPermission", [](auto& c) { return c.AddPermission("orders", "l", permissions); }},
      {"RemovePermission", [](auto& c) { return c.RemovePermission("orders", "l"); }},
      {"ListDeadLetterSourceQueues",
       [](auto& c) {
         TStringList urls;
         return c.ListDeadLetterSourceQueues("orders", urls);
       }},
  };
}

class SQSFailureRoads : public SQSClientTest, public ::testing::WithParamInterface<TOperation> {
 protected:
  void SetUp() override { ResolveOrders(); }
};

TEST_P(SQSFailureRoads, EveryFailureRoadFailsTheOperation) {
  const TOperation& op = GetParam();
  const std::string ok_answer =
      "<Response><QueueUrl>" + kQueueURL + "</QueueUrl><RequestId>r</RequestId></Response>";

  // A good answer succeeds, so the roads below are what makes it fail.
  seams.AnswerBody(ok_answer);
  EXPECT_TRUE(op.Run(client));
  ASSERT_EQ(seams.Gets.size(), 1u);

  // HTTP error status: reported through OnSQSError with code and message.
  seams.AnswerHTTPError(
      400, ErrorAnswer("AWS.SimpleQueueService.QueueDeletedRecently", "You must wait 60 seconds."));
  const bool after_error = op.Run(client);
  if (op.HasResult) {
    EXPECT_FALSE(after_error);
  }
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].Code, "AWS.SimpleQueueService.QueueDeletedRecently");
  EXPECT_EQ(errors[0].Description, "You must wait 60 seconds.");

  // An empty answer: failure without a report.
  seams.AnswerBody("");
  const bool after_empty = op.Run(client);
  if (op.HasResult) {
    EXPECT_FALSE(after_empty);
  }
  EXPECT_EQ(errors.size(), 1u);

  // OnSQSResponse takes the answer.
  bool offered = false;
  client.OnSQSResponse = [&](TObject*, const std::string& Raw, bool& Handled) {
    EXPECT_EQ(Raw, ok_answer);
    offered = Handled = true;
  };
  seams.AnswerBody(ok_answer);
  const bool after_taken = op.Run(client);
  if (op.HasResult) {
    EXPECT_FALSE(after_taken);
  }
  EXPECT_TRUE(offered);
  client.OnSQSResponse = nullptr;

  // OnSQSBeforeRequest refuses: nothing is sent.
  const size_t sent_before = seams.Gets.size();
  client.OnSQSBeforeRequest = [](TObject*, std::string&, bool& Handled) { Handled = true; };
  const bool after_refused = op.Run(client);
  if (op.HasResult) {
    EXPECT_FALSE(after_refused);
  }
  EXPECT_EQ(seams.Gets.size(), sent_before);
  client.OnSQSBeforeRequest = nullptr;

  // An exception from below passes through unchanged.
  seams.AnswerThrow([] { throw EIdException("Socket Error # 10061\nConnection refused."); });
  EXPECT_THROW(op.Run(client), EIdException);
  EXPECT_EQ(errors.size(), 1u);
  EXPECT_EQ(seams.PendingAnswers(), 0u);
}

INSTANTIATE_TEST_SUITE_P(AllOperations, SQSFailureRoads, ::testing::ValuesIn(AllOperations()),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace brv
