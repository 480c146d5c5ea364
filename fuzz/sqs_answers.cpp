// The answer readers of every SQS operation: the SQS client driven through the recording
// seams of the AWS tests, with the input as the service's answer. The first byte picks the
// operation; with 0x80 set the answer comes as the body of an HTTP error status (the error
// document road). The queue "q" is in the client's cache, so each operation asks the service
// once.
#include <cstddef>
#include <cstdint>
#include <string>

#include "sqs/brvHTTP.h"
#include "tests/aws/support/RecordingSeams.h"

namespace {

using namespace brv;

void Run(TbrvHTTPAWS_SQS_Client& client, int AOperation) {
  const std::string q = "q";
  TStringList strings;
  switch (AOperation) {
    case 0:
      (void)client.GetQueueURL("unknown");
      break;
    case 1:
      (void)client.SendMessage(q, "body", 5);
      break;
    case 2: {
      TbrvSQSSendMessageRequest request;
      request.SetMessageBody("body");
      request.MessageAttributes().AddSQSAttribute("City", "String", "Any City");
      TbrvSQSSendMessageResponse response;
      (void)client.SendMessage(q, request, response);
      break;
    }
    case 3: {
      TbrvSQSSendMessageRequests requests;
      requests.AddNew("1")->SetMessageBody("one");
      requests.AddNew("2")->SetMessageBody("two");
      TbrvSQSSendMessageResponses responses;
      TbrvSQSBatchResult result;  // the overload with a result reads the same entries
      (void)client.SendMessageBatch(q, requests, responses, result);
      break;
    }
    case 4: {
      TbrvSQSReceiveMessageResponses responses;
      (void)client.ReceiveMessage(q, responses);
      break;
    }
    case 5: {
      TbrvSQSReceiveMessageRequest request;
      request.SetMaxNumberOfMessages(10);
      request.SetAttributes({sqsatAll});
      request.MessageAttributeName().Add("All");
      TbrvSQSReceiveMessageResponses responses;
      (void)client.ReceiveMessage(q, request, responses);
      break;
    }
    case 6:
      (void)client.ChangeMessageVisibility(q, "handle", 30);
      break;
    case 7: {
      TbrvSQSChangeMessageVisibilityBatchRequests requests;
      requests.AddSQSChangeVisibility("1", "handle", 30);
      (void)client.ChangeMessageVisibilityBatch(q, requests, strings);
      break;
    }
    case 8:
      (void)client.DeleteMessage(q, "handle");
      break;
    case 9: {
      TbrvSQSDeleteMessageBatchRequestItems items;
      items.AddSQSDeleteMessage("1", "handle");
      TbrvSQSBatchResult result;
      (void)client.DeleteMessageBatch(q, items, result);
      break;
    }
    case 10:
      (void)client.CreateQueue("created");
      break;
    case 11: {
      TbrvSQSCreateQueue queue;
      queue.SetQueueName("created");
      queue.Attributes().AddSQSAttribute(sqsatVisibilityTimeout, "30");
      queue.Tags().AddSQSTag("team", "blue");
      (void)client.CreateQueue(queue);
      break;
    }
    case 12:
      (void)client.DeleteQueue(q);
      break;
    case 13:
      (void)client.ListQueues(strings, "");
      break;
    case 14: {
      TbrvSQSTags tags;
      (void)client.ListQueueTags(q, tags);
      break;
    }
    case 15: {
      TbrvSQSAttributes attributes;
      (void)client.GetQueueAttributes(q, attributes);
      break;
    }
    case 16: {
      TbrvSQSAttributes attributes;
      attributes.AddSQSAttribute(sqsatDelaySeconds, "5");
      (void)client.SetQueueAttributes(q, attributes);
      break;
    }
    case 17:
      (void)client.PurgueQueue(q);
      break;
    case 18:
      (void)client.TagQueue(q, "team", "blue");
      break;
    case 19:
      (void)client.UnTagQueue(q, "team");
      break;
    case 20: {
      TbrvSQSPermissions permissions;
      permissions.AddSQSPermission(sqsanSendMessage, "123456789012");
      (void)client.AddPermission(q, "label", permissions);
      break;
    }
    case 21:
      (void)client.RemovePermission(q, "label");
      break;
    default:
      (void)client.ListDeadLetterSourceQueues(q, strings);
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const int operation = (data[0] & 0x7F) % 23;
  const bool error = (data[0] & 0x80) != 0;
  const std::string answer(reinterpret_cast<const char*>(data + 1), size - 1);

  brv::testing::TRecordingSeams seams;
  TbrvHTTPAWS_SQS_Client client;
  seams.Install(client);
  client.AWSOptions().Region = "us-east-1";
  client.AWSOptions().AccessKey = "AKIDEXAMPLE";
  client.AWSOptions().SecretKey = "secret";
  client.GetQueues().AddSQSQueue(client.EndPoint(), "AKIDEXAMPLE", "q",
                                 "https://sqs.us-east-1.amazonaws.com/123456789012/q");
  int errors = 0;
  client.OnSQSError = [&errors](TObject*, const std::string&, const std::string&,
                                const std::string&) { ++errors; };
  // Enough answers for every request an operation makes.
  for (int i = 0; i < 4; ++i) {
    if (error)
      seams.AnswerHTTPError(400, answer);
    else
      seams.AnswerBody(answer);
  }
  try {
    Run(client, operation);
  } catch (const Exception&) {
    // A refused answer is one of the library's exceptions.
  }
  return 0;
}
