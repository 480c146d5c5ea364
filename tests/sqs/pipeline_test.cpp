#include "sqs/brvHTTP_Amazon_SQS.h"

#include <gtest/gtest.h>

#include "support/SQSFixture.h"

namespace brv {
namespace {

using namespace brv::testing;

// --- value encoding, name order, XML extraction ---

TEST(SQSText, EncodeURLValueWritesUTF8BytesAndKeepsOnlyUnreserved) {
  EXPECT_EQ(EncodeURLValue("a b/c~d"), "a%20b%2Fc~d");
  EXPECT_EQ(EncodeURLValue("\xC3\xA9"), "%C3%A9");                // U+00E9
  EXPECT_EQ(EncodeURLValue("\xE2\x82\xAC"), "%E2%82%AC");         // U+20AC
  EXPECT_EQ(EncodeURLValue("\xF0\x9F\x98\x80"), "%F0%9F%98%80");  // U+1F600
  EXPECT_EQ(EncodeURLValue("a&b=c+d%e#f\r\n"), "a%26b%3Dc%2Bd%25e%23f%0D%0A");
  EXPECT_EQ(EncodeURLValue("AZaz09-._~"), "AZaz09-._~");
  EXPECT_EQ(EncodeURLValue(""), "");
}

TEST(SQSText, ParameterNamesSortByUTF16CodeUnits) {
  std::vector<std::string> names = {"Attribute.2.Name", "AttributeName.1", "Attribute.10.Name",
                                    "Action", "Attribute.1.Name"};
  std::sort(names.begin(), names.end(),
            [](const auto& a, const auto& b) { return CompareParamNames(a, b) < 0; });
  EXPECT_EQ(names, (std::vector<std::string>{"Action", "Attribute.1.Name", "Attribute.10.Name",
                                             "Attribute.2.Name", "AttributeName.1"}));
  EXPECT_LT(CompareParamNames("A", "AB"), 0);
  EXPECT_LT(CompareParamNames("Z", "_"), 0);
  EXPECT_LT(CompareParamNames("_", "a"), 0);
  EXPECT_EQ(CompareParamNames("same", "same"), 0);
  // U+1F600 is a surrogate pair (D83D DE00) and so sorts before U+FF21, although its code
  // point, and its UTF-8 bytes, are greater.
  EXPECT_LT(CompareParamNames("\xF0\x9F\x98\x80", "\xEF\xBC\xA1"), 0);
  EXPECT_GT(CompareParamNames("\xEF\xBC\xA1", "\xF0\x9F\x98\x80"), 0);
}

TEST(SQSText, GetXMLTagValueIsAPlainTextSearch) {
  EXPECT_EQ(GetXMLTagValue("<a><b>1</b><b>2</b></a>", "b"), "1");
  EXPECT_EQ(GetXMLTagValue("<a><b>1</b></a>", "c"), "");
  EXPECT_EQ(GetXMLTagValue("<a><b/></a>", "b"), "");
  EXPECT_EQ(GetXMLTagValue("<a></b>x<b>y</a>", "b"), "");  // closing tag first
  EXPECT_EQ(GetXMLTagValue("<b attr=\"1\">x</b>", "b"), "");
  EXPECT_EQ(GetXMLTagValue("<v><i>1</i></v>", "v"), "<i>1</i>");    // nested markup kept
  EXPECT_EQ(GetXMLTagValue("<v>a &amp; b</v>", "v"), "a &amp; b");  // raw
  EXPECT_EQ(GetXMLTagText("<v>a &amp; b</v>", "v"), "a & b");
  EXPECT_EQ(GetXMLTagValue("<MessageId>1</MessageId>", "Message"), "");

  TStringList list;
  list.Add("kept");
  GetXMLTagValues("<u>x</u><u></u><u>z</u>", "u", list);
  EXPECT_EQ(list.Text(), "kept\nx\n");
  list.Clear();
  GetXMLTagValues("<r><u>1</u><w/><u>2</u><u>3</u></r>", "u", list);
  EXPECT_EQ(list.Text(), "1\n2\n3\n");
}

TEST(SQSText, EntityDecodingKeepsWhatIsNoReference) {
  const std::pair<const char*, const char*> cases[] = {
      {"&lt;b&gt; &amp; &quot;q&quot; &apos;s&apos;", "<b> & \"q\" 's'"},
      {"&#65;&#x42;&#x43;&#0067;", "ABCC"},
      {"&#x20AC; &#8364; &#x1F600;", "\xE2\x82\xAC \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"&amp;lt;", "&lt;"},  // decoded once
      {"AT&T & co", "AT&T & co"},
      {"&amp", "&amp"},
      {"&#65", "&#65"},
      {"&#;&#x;&#X41;&foo;", "&#;&#x;&#X41;&foo;"},
      {"&#xD800;&#0;&#1114112;&#x110000;&#99999999999999999999;",
       "&#xD800;&#0;&#1114112;&#x110000;&#99999999999999999999;"},
      {"&#9;&#xFFFE;", "\t&#xFFFE;"},
      {"&", "&"},
      {"", ""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(DecodeXMLEntities(in), out) << in;
}

// --- the request cycle ---

using SQSPipeline = SQSClientTest;

TEST_F(SQSPipeline, QueueURLGetsASlashButIsCachedWithout) {
  seams.AnswerBody(GetQueueUrlAnswer(kQueueURL));
  EXPECT_EQ(client.GetQueueURL("orders"), kQueueURL + "/");
  EXPECT_EQ(client.GetQueueURL("orders"), kQueueURL + "/");  // from the cache
  EXPECT_EQ(Sent(), (std::vector<std::string>{kEndPoint + "?Action=GetQueueUrl&QueueName=orders"}));
  EXPECT_EQ(client.GetQueues().GetURLFromQueue(kEndPoint, "AKIDEXAMPLE", "orders"), kQueueURL);
  EXPECT_EQ(client.GetQueues().GetURLFromQueue(kEndPoint, "AKIDEXAMPLE", "other"), "");

  seams.AnswerBody(GetQueueUrlAnswer(kQueueURL + "-slash/"));
  EXPECT_EQ(client.GetQueueURL("slash"), kQueueURL + "-slash/");
  // A name differing only in case is another queue.
  seams.AnswerBody(GetQueueUrlAnswer(kQueueURL + "2"));
  EXPECT_EQ(client.GetQueueURL("Orders"), kQueueURL + "2/");
  EXPECT_EQ(seams.Gets.size(), 3u);
  EXPECT_EQ(client.GetQueues().Count(), 3);
}

TEST_F(SQSPipeline, CacheIsKeyedByEndpointAccessKeyAndName) {
  seams.AnswerBody(GetQueueUrlAnswer(kQueueURL));
  EXPECT_EQ(client.GetQueueURL("orders"), kQueueURL + "/");

  client.AWSOptions().Region = "eu-west-1";
  const std::string eu = "https://sqs.eu-west-1.amazonaws.com/123456789012/orders";
  seams.AnswerBody(GetQueueUrlAnswer(eu));
  EXPECT_EQ(client.GetQueueURL("orders"), eu + "/");

  client.AWSOptions().AccessKey = "AKIDOTHERACCOUNT";
  const std::string other = "https://sqs.eu-west-1.amazonaws.com/210987654321/orders";
  seams.AnswerBody(GetQueueUrlAnswer(other));
  seams.AnswerBody(EmptyAnswer("PurgeQueue"));
  EXPECT_TRUE(client.PurgueQueue("orders"));
  EXPECT_EQ(seams.Gets.back().URL, other + "/?Action=PurgeQueue");

  // Back to the first region and account: known already.
  client.AWSOptions().Region = "us-east-1";
  client.AWSOptions().AccessKey = "AKIDEXAMPLE";
  EXPECT_EQ(client.GetQueueURL("orders"), kQueueURL + "/");
  EXPECT_EQ(seams.Gets.size(), 4u);
  EXPECT_EQ(seams.Gets[1].URL,
            "https://sqs.eu-west-1.amazonaws.com?Action=GetQueueUrl&QueueName=orders");
}

TEST_F(SQSPipeline, UnresolvedQueueFallsBackToTheEndpointAndReportsBothErrors) {
  seams.AnswerHTTPError(400, ErrorAnswer("AWS.SimpleQueueService.NonExistentQueue",
                                         "The specified queue does not exist."));
  seams.AnswerHTTPError(
      400, ErrorAnswer("MissingParameter", "The request must contain the parameter QueueUrl."));
  EXPECT_FALSE(client.DeleteQueue("missing"));
  EXPECT_EQ(Sent(), (std::vector<std::string>{
                        kEndPoint + "?Action=GetQueueUrl&QueueName=missing",
                        kEndPoint + "?Action=DeleteQueue",
                    }));
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].Code, "AWS.SimpleQueueService.NonExistentQueue");
  EXPECT_EQ(errors[0].Description, "The specified queue does not exist.");
  EXPECT_EQ(errors[1].Code, "MissingParameter");
  EXPECT_EQ(client.GetQueues().Count(), 0);
}

TEST_F(SQSPipeline, ErrorReportDecodesCodeAndMessageAndKeepsTheRawText) {
  const std::string raw =
      ErrorAnswer("InvalidParameterValue", "Value &quot;a&lt;b&quot; for parameter X is invalid.");
  seams.AnswerHTTPError(400, raw);
  EXPECT_EQ(client.CreateQueue("bad name"), "");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].Code, "InvalidParameterValue");
  EXPECT_EQ(errors[0].Description, "Value \"a<b\" for parameter X is invalid.");
  EXPECT_EQ(errors[0].Raw, raw);

  // An error page that is no SQS error document still fires the event, with empty fields
  // (not retried here, so that the one answer is the last).
  client.SetMaxAttempts(1);
  seams.AnswerHTTPError(503, "<html><body>Service Unavailable</body></html>");
  EXPECT_EQ(client.CreateQueue("q"), "");
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[1].Code, "");
  EXPECT_EQ(errors[1].Description, "");
  EXPECT_EQ(errors[1].Raw, "<html><body>Service Unavailable</body></html>");

  // An error status with an empty body reports nothing.
  seams.AnswerHTTPError(500, "");
  EXPECT_EQ(client.CreateQueue("q"), "");
  EXPECT_EQ(errors.size(), 2u);
}

TEST_F(SQSPipeline, BeforeRequestHandlerCanRefuseEverythingOrRedirect) {
  int calls = 0;
  client.OnSQSBeforeRequest = [&](TObject* Sender, std::string& URL, bool& Handled) {
    EXPECT_EQ(Sender, &client);
    EXPECT_FALSE(Handled);
    EXPECT_EQ(URL.rfind(kEndPoint + "?Action=", 0), 0u);
    ++calls;
    Handled = true;
  };
  EXPECT_FALSE(client.PurgueQueue("orders"));  // resolution refused, then the action
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(seams.Gets.empty());
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(client.GetQueues().Count(), 0);

  client.OnSQSBeforeRequest = [](TObject*, std::string& URL, bool&) { URL += "&Extra=1"; };
  seams.AnswerBody(Answer("ListQueues", ""));
  TStringList queues;
  EXPECT_TRUE(client.ListQueues(queues, ""));
  ASSERT_EQ(seams.Gets.size(), 1u);
  EXPECT_EQ(seams.Gets[0].URL, kEndPoint + "?Action=ListQueues&Extra=1");
  EXPECT_EQ(seams.Gets[0].SignedURL, kEndPoint + "?Action=ListQueues");  // signed before
}

TEST_F(SQSPipeline, ResponseHandlerThatTakesTheResolutionLeavesTheQueueUnresolved) {
  std::vector<std::string> seen;
  client.OnSQSResponse = [&](TObject* Sender, const std::string& Raw, bool& Handled) {
    EXPECT_EQ(Sender, &client);
    seen.push_back(Raw);
    Handled = Raw.find("GetQueueUrlResponse") != std::string::npos;
  };
  seams.AnswerBody(GetQueueUrlAnswer(kQueueURL));
  seams.AnswerBody(EmptyAnswer("PurgeQueue"));
  EXPECT_TRUE(client.PurgueQueue("orders"));
  EXPECT_EQ(Sent(), (std::vector<std::string>{kEndPoint + "?Action=GetQueueUrl&QueueName=orders",
                                              kEndPoint + "?Action=PurgeQueue"}));
  EXPECT_EQ(seen.size(), 2u);
  EXPECT_EQ(client.GetQueues().Count(), 0);
}

TEST_F(SQSPipeline, ExceptionsFromBelowEndTheOperation) {
  ResolveOrders();
  seams.AnswerThrow([] { throw EIdException("Socket Error # 10060\nConnection timed out."); });
  try {
    client.DeleteMessage("orders", "handle");
    FAIL() << "the failure must reach the caller";
  } catch (const EIdException& e) {
    EXPECT_EQ(e.Message(), "Socket Error # 10060\nConnection timed out.");
  }
  EXPECT_TRUE(errors.empty());
  // The failed request's parameters stay until the next request starts.
  EXPECT_EQ(client.GetParams().Text(), "Action=DeleteMessage\nReceiptHandle=handle\n");
}

TEST_F(SQSPipeline, EveryParameterNameAndValueTravelsEncoded) {
  ResolveOrders();
  TbrvSQSAttributes attributes;
  for (int i = 1; i <= 11; ++i) attributes.AddSQSAttribute("N" + std::to_string(i), "v");
  attributes.AddSQSAttribute("Policy", "{\"a\": \"b+c/d=e&f\"}");
  seams.AnswerBody(EmptyAnswer("SetQueueAttributes"));
  EXPECT_TRUE(client.SetQueueAttributes("orders", attributes));
  EXPECT_EQ(Sent(),
            (std::vector<std::string>{
                kQueueURL +
                "/?Action=SetQueueAttributes&Attribute.1.Name=N1&Attribute.1.Value=v"
                "&Attribute.10.Name=N10&Attribute.10.Value=v&Attribute.11.Name=N11"
                "&Attribute.11.Value=v&Attribute.12.Name=Policy"
                "&Attribute.12.Value=%7B%22a%22%3A%20%22b%2Bc%2Fd%3De%26f%22%7D"
                "&Attribute.2.Name=N2&Attribute.2.Value=v&Attribute.3.Name=N3&Attribute.3.Value=v"
                "&Attribute.4.Name=N4&Attribute.4.Value=v&Attribute.5.Name=N5&Attribute.5.Value=v"
                "&Attribute.6.Name=N6&Attribute.6.Value=v&Attribute.7.Name=N7&Attribute.7.Value=v"
                "&Attribute.8.Name=N8&Attribute.8.Value=v&Attribute.9.Name=N9"
                "&Attribute.9.Value=v"}));
}

}  // namespace
}  // namespace brv
