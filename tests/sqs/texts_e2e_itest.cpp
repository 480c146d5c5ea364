// Texts through the whole road to the local SQS service and back: characters from all of
// Unicode with the ones that matter to a query or a form (& = + % # blank CR LF), JSON with
// quotes, bodies up to the service's limit of 1 MiB (sent as form POSTs once the URL would be
// too long), tag keys and values and queue names at the edges of what the service allows.
//
// The service writes received bodies with only '"' escaped and attribute values with nothing
// escaped, while the client decodes XML references; so no text here has an '&' followed by a
// letter or '#' (such answers are covered by canned answers in the unit tests).
#include "sqs/brvHTTP.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base/UTF8.h"
#include "sqs/brvSQSChecksums.h"
#include "support/SQSServiceFixture.h"
#include "support/ServiceTexts.h"

namespace brv {
namespace {

using testing::E2ETransportName;
using testing::E2ETransports;
using testing::SQSServiceTest;

// A body of exactly Size bytes cycling through characters of one to four bytes.
std::string BodyOfSize(size_t Size) {
  static const char32_t cycle[] = {'a', U'\u00E9', U'\u20AC', U'\U0001F600', '&',  ' ', '=',
                                   '+', '%',       '#',       '\r',          '\n', '"', U'\u65E5'};
  std::string out;
  out.reserve(Size);
  for (size_t i = 0; out.size() + 4 <= Size; ++i) AppendUTF8(out, cycle[i % std::size(cycle)]);
  out.append(Size - out.size(), 'z');
  return out;
}

class SQSTexts : public SQSServiceTest {
 protected:
  // Sends each text as a body and as the value of a message attribute, checks the MD5 the
  // service computed of what it stored, receives them all and compares byte for byte.
  void RoundTrip(const std::vector<std::string>& Texts, bool WithAttribute) {
    auto client = MakeClient();
    const std::string queue = UniqueName("texts");
    ASSERT_FALSE(client->CreateQueue(queue).empty());
    std::map<std::string, std::string> sent;  // message id -> text
    for (const std::string& text : Texts) {
      TbrvSQSSendMessageRequest request;
      request.SetMessageBody(text);
      if (WithAttribute) request.MessageAttributes().AddSQSAttribute("text", "String", text);
      TbrvSQSSendMessageResponse response;
      ASSERT_TRUE(client->SendMessage(queue, request, response)) << text.size() << " bytes";
      EXPECT_EQ(response.MD5OfMessageBody(), SQSMD5Hex(text)) << "the service stored another body";
      sent[response.MessageId()] = text;
    }
    TbrvSQSReceiveMessageResponses received;
    ReceiveUpTo(*client, queue, static_cast<int>(Texts.size()), received, 60);
    ASSERT_EQ(received.Count(), static_cast<int>(Texts.size()));
    for (int i = 0; i < received.Count(); ++i) {
      const TbrvSQSReceiveMessageResponse* message = received.Items(i);
      ASSERT_EQ(sent.count(message->MessageId()), 1u);
      const std::string& text = sent[message->MessageId()];
      EXPECT_TRUE(message->Body() == text)
          << "body of " << text.size() << " bytes came back as " << message->Body().size();
      EXPECT_EQ(message->MD5OfBody(), SQSMD5Hex(text));
      if (WithAttribute) {
        const TbrvSQSMessageAttributeItem* attribute = message->MessageAttributes().Find("text");
        ASSERT_NE(attribute, nullptr);
        EXPECT_EQ(attribute->AttributeValue(), text);
      }
    }
    ASSERT_TRUE(client->DeleteQueue(queue));
  }
};

TEST_P(SQSTexts, UnicodeAndQueryCharactersInBodiesAndAttributeValues) {
  std::vector<std::string> texts = {
      "a & b = c + d % e # f ? g / h",
      " leading and trailing blanks ",
      "line one\r\nline two\nline three\r",
      "{\"order\": \"42\", \"items\": [\"a \\\"quoted\\\" b\", 3.5], \"ok\": true}",
      "%41 is not A, + is not a blank, %%, %zz",
      "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xE6\x97\xA5\xE6\x9C\xAC",
  };
  testing::TServiceTextGenerator generator(20240607);
  for (int i = 0; i < 12; ++i) texts.push_back(generator.Text(1, 200));
  RoundTrip(texts, true);
}

TEST_P(SQSTexts, BodiesUpToOneMebibyteSentAsFormPosts) {
  // Around the length where the request stops being a GET, then large ones up to the limit.
  const std::vector<std::string> texts = {BodyOfSize(2900), BodyOfSize(3200),
                                          BodyOfSize(256 * 1024), BodyOfSize(1024 * 1024)};
  RoundTrip(texts, false);
}

TEST_P(SQSTexts, ABatchOfLargeEntriesGoesAsOnePost) {
  auto client = MakeClient();
  const std::string queue = UniqueName("big-batch");
  ASSERT_FALSE(client->CreateQueue(queue).empty());
  TbrvSQSSendMessageRequests requests;
  for (int i = 0; i < 3; ++i) {
    auto request = std::make_unique<TbrvSQSSendMessageRequest>();
    request->SetID("e" + std::to_string(i));
    request->SetMessageBody(std::to_string(i) + BodyOfSize(200 * 1024));
    requests.AdoptItem(std::move(request));
  }
  TbrvSQSSendMessageResponses responses;
  client->SendMessageBatch(queue, requests, responses);
  ASSERT_EQ(responses.Count(), 3);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(responses.Items(i)->MD5OfMessageBody(), SQSMD5Hex(requests.Items(i)->MessageBody()));
  ASSERT_TRUE(client->DeleteQueue(queue));
}

TEST_P(SQSTexts, TagsAndQueueNamesAtTheEdgesOfWhatTheServiceAllows) {
  auto client = MakeClient();
  // 80 characters of letters, digits, '-' and '_'.
  std::string name = UniqueName("Edge_Name-09");
  name.append(80 - name.size(), 'x');
  const std::string url = client->CreateQueue(name);
  ASSERT_FALSE(url.empty());
  EXPECT_EQ(url.substr(url.size() - 80), name);

  // Letters of any script, digits, white space and _ . : / = + - @
  TbrvSQSTags tags;
  tags.AddSQSTag("Schl\xC3\xBCssel \xE6\x97\xA5\xE6\x9C\xAC", "Wert _.:/=+-@ \xC3\xA9t\xC3\xA9 9");
  tags.AddSQSTag("a:b/c=d+e-f@g.h_i", " spaced  value ");
  tags.AddSQSTag("\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87", "\xD0\x97\xD0\xBD\xD0\xB0\xD1\x87");
  ASSERT_TRUE(client->TagQueue(name, tags));
  TbrvSQSTags listed;
  ASSERT_TRUE(client->ListQueueTags(name, listed));
  ASSERT_EQ(listed.Count(), tags.Count());
  for (int i = 0; i < tags.Count(); ++i) {
    const TbrvSQSTag* tag = listed.Find(tags.Items(i)->Key());
    ASSERT_NE(tag, nullptr) << tags.Items(i)->Key();
    EXPECT_EQ(tag->Value(), tags.Items(i)->Value());
  }
  TStringList keys;
  keys.Add(tags.Items(0)->Key());
  keys.Add(tags.Items(1)->Key());
  ASSERT_TRUE(client->UnTagQueue(name, keys));
  ASSERT_TRUE(client->ListQueueTags(name, listed));
  ASSERT_EQ(listed.Count(), 1);
  EXPECT_EQ(listed.Items(0)->Key(), tags.Items(2)->Key());
  ASSERT_TRUE(client->DeleteQueue(name));

  // A FIFO queue: the name ends in ".fifo"; messages carry a group and come with a sequence.
  const std::string fifo = UniqueName("orders") + ".fifo";
  TbrvSQSCreateQueue create;
  create.SetQueueName(fifo);
  create.Attributes().AddSQSAttribute(sqsatFifoQueue, "true");
  create.Attributes().AddSQSAttribute(sqsatContentBasedDeduplication, "true");
  ASSERT_FALSE(client->CreateQueue(create).empty());
  TbrvSQSSendMessageRequest request;
  request.SetMessageBody("first in line");
  request.SetMessageGroupId("group-1");
  request.SetMessageDeduplicationId("dedup-1");
  TbrvSQSSendMessageResponse response;
  ASSERT_TRUE(client->SendMessage(fifo, request, response));
  EXPECT_FALSE(response.SequenceNumber().empty());
  TbrvSQSReceiveMessageResponses received;
  ReceiveUpTo(*client, fifo, 1, received);
  ASSERT_EQ(received.Count(), 1);
  EXPECT_EQ(received.Items(0)->Body(), "first in line");
  ASSERT_NE(received.Items(0)->Attributes().Find("MessageGroupId"), nullptr);
  EXPECT_EQ(received.Items(0)->Attributes().Find("MessageGroupId")->AttributeValue(), "group-1");
  ASSERT_TRUE(client->DeleteQueue(fifo));
}

INSTANTIATE_TEST_SUITE_P(Transports, SQSTexts, ::testing::ValuesIn(E2ETransports()),
                         E2ETransportName);

}  // namespace
}  // namespace brv
