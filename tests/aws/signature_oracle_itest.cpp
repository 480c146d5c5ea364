#include "aws/brvHTTP_Amazon_AWS_Signature.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "base/UTF8.h"
#include "tests/support/TempDir.h"

// Signs a few hundred generated SQS requests and checks every Authorization line against
// botocore's SigV4Auth (tests/aws/oracle/sigv4_oracle.py), run with the system's python3.

namespace brv {
namespace {

constexpr char kContentType[] = "application/x-www-form-urlencoded; charset=utf-8";
constexpr char kPython[] = "/usr/bin/python3";

// A parameter value encoded the way the SQS client sends it: UTF-8 bytes, unreserved
// characters kept, everything else %XX in upper case.
std::string Encode(const std::string& text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += ch;
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

class Generator {
 public:
  explicit Generator(unsigned seed) : rng_(seed) {}

  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool Chance(int percent) { return Int(1, 100) <= percent; }
  template <typename T>
  const T& Pick(const std::vector<T>& v) {
    return v[static_cast<std::size_t>(Int(0, static_cast<int>(v.size()) - 1))];
  }

  // A text of code points drawn from all of Unicode, with the characters that matter to a
  // query (& = + % # space CR LF) and plain ASCII mixed in.
  std::string Text(int maxLength = 24) {
    std::string out;
    const int n = Int(0, maxLength);
    for (int i = 0; i < n; ++i) {
      const int kind = Int(0, 9);
      char32_t cp;
      if (kind < 3) {
        cp = static_cast<char32_t>(Int(0x20, 0x7E));
      } else if (kind < 5) {
        static const char specials[] = "&=+%# \r\n?/;~*'";
        cp = static_cast<char32_t>(specials[Int(0, sizeof specials - 2)]);
      } else if (kind < 7) {
        cp = static_cast<char32_t>(Int(0x80, 0xFFFF));
      } else {
        cp = static_cast<char32_t>(Int(0, 0x10FFFF));
      }
      if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
      AppendUTF8(out, cp);
    }
    return out;
  }

  std::string Digits(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>('0' + Int(0, 9));
    return s;
  }

  std::mt19937& Rng() { return rng_; }

 private:
  std::mt19937 rng_;
};

using Params = std::vector<std::pair<std::string, std::string>>;

// The parameters of one SQS action, with random values.
Params ActionParams(Generator& g, const std::string& action) {
  Params p{{"Action", action}};
  auto add = [&](const std::string& name, const std::string& value) {
    p.emplace_back(name, value);
  };
  const int n = g.Int(1, 3);
  if (action == "SendMessage") {
    add("MessageBody", g.Text(60));
    if (g.Chance(50)) add("DelaySeconds", std::to_string(g.Int(1, 900)));
    if (g.Chance(30)) add("MessageDeduplicationId", g.Text());
    if (g.Chance(30)) add("MessageGroupId", g.Text());
    for (int m = 1; m <= n; ++m) {
      const std::string a = "MessageAttribute." + std::to_string(m);
      add(a + ".Name", g.Text(10));
      add(a + ".Value.StringValue", g.Text());
      add(a + ".Value.DataType", "String");
    }
  } else if (action == "SendMessageBatch") {
    for (int e = 1; e <= g.Int(1, 10); ++e) {
      const std::string a = "SendMessageBatchRequestEntry." + std::to_string(e);
      add(a + ".Id", g.Text(8));
      add(a + ".MessageBody", g.Text(30));
      if (g.Chance(30)) add(a + ".DelaySeconds", std::to_string(g.Int(1, 900)));
      if (g.Chance(30)) add(a + ".MessageAttribute.1.Name", g.Text(8));
    }
  } else if (action == "ReceiveMessage") {
    add("MaxNumberOfMessages", std::to_string(g.Int(1, 10)));
    if (g.Chance(50)) add("ReceiveRequestAttemptId", g.Text());
    if (g.Chance(50)) add("VisibilityTimeout", std::to_string(g.Int(1, 43200)));
    if (g.Chance(50)) add("WaitTimeSeconds", std::to_string(g.Int(1, 20)));
    for (int i = 1; i <= n; ++i) add("AttributeName." + std::to_string(i), "All");
    for (int i = 1; i <= n; ++i) add("MessageAttributeName." + std::to_string(i), g.Text(10));
  } else if (action == "ChangeMessageVisibility") {
    add("ReceiptHandle", g.Text(80));
    add("VisibilityTimeout", std::to_string(g.Int(-5, 43200)));
  } else if (action == "ChangeMessageVisibilityBatch" || action == "DeleteMessageBatch") {
    const std::string prefix = action == "DeleteMessageBatch"
                                   ? "DeleteMessageBatchRequestEntry."
                                   : "ChangeMessageVisibilityBatchRequestEntry.";
    for (int e = 1; e <= g.Int(1, 10); ++e) {
      add(prefix + std::to_string(e) + ".Id", g.Text(8));
      add(prefix + std::to_string(e) + ".ReceiptHandle", g.Text(40));
      if (action != "DeleteMessageBatch") {
        add(prefix + std::to_string(e) + ".VisibilityTimeout", std::to_string(g.Int(0, 600)));
      }
    }
  } else if (action == "DeleteMessage") {
    add("ReceiptHandle", g.Text(80) + "==");
  } else if (action == "CreateQueue") {
    for (int i = 1; i <= n; ++i) {
      add("Attribute." + std::to_string(i) + ".Name", g.Text(10));
      add("Attribute." + std::to_string(i) + ".Value", g.Text());
    }
    add("QueueName", g.Text(20));
    for (int i = 1; i <= n; ++i) {
      add("Tag." + std::to_string(i) + ".Key", g.Text(10));
      add("Tag." + std::to_string(i) + ".Value", g.Text());
    }
  } else if (action == "ListQueues") {
    if (g.Chance(70)) add("QueueNamePrefix", g.Text(10));
  } else if (action == "GetQueueUrl") {
    add("QueueName", g.Text(20));
    if (g.Chance(30)) add("QueueOwnerAWSAccountId", g.Digits(12));
  } else if (action == "GetQueueAttributes") {
    add("AttributeName.1", "All");
  } else if (action == "SetQueueAttributes") {
    for (int i = 1; i <= n; ++i) {
      add("Attribute." + std::to_string(i) + ".Name", g.Text(10));
      add("Attribute." + std::to_string(i) + ".Value", g.Text(40));
    }
  } else if (action == "TagQueue") {
    for (int i = 1; i <= n; ++i) {
      add("Tag." + std::to_string(i) + ".Key", g.Text(10));
      add("Tag." + std::to_string(i) + ".Value", g.Text());
    }
  } else if (action == "UntagQueue") {
    for (int i = 1; i <= n; ++i) add("TagKey." + std::to_string(i), g.Text(10));
  } else if (action == "AddPermission") {
    for (int i = 1; i <= n; ++i) {
      add("AWSAccountId." + std::to_string(i), g.Digits(12));
      add("ActionName." + std::to_string(i),
          g.Pick<std::string>({"SendMessage", "*", "ReceiveMessage"}));
    }
    add("Label", g.Text(12));
  } else if (action == "RemovePermission") {
    add("Label", g.Text(12));
  }
  // DeleteQueue, ListQueueTags, PurgeQueue, ListDeadLetterSourceQueues: Action alone
  return p;
}

struct Request {
  std::string method;
  std::string url;
  std::string payload;
  std::string access;
  std::string secret;
  std::string token;
  std::string region;
  std::string service;
  bool mqtt = false;
  long long unixTime = 0;
  std::string stamp;  // the UTC stamp of unixTime, worked out here independently
  std::string ours;   // our Authorization line without "Authorization: "
};

std::string StampOf(long long unixTime) {
  const auto t = static_cast<std::time_t>(unixTime);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[20];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
  return text;
}

std::vector<Request> Generate(unsigned seed) {
  static const std::vector<std::string> actions = {"SendMessage",
                                                   "SendMessageBatch",
                                                   "ReceiveMessage",
                                                   "ChangeMessageVisibility",
                                                   "ChangeMessageVisibilityBatch",
                                                   "DeleteMessage",
                                                   "DeleteMessageBatch",
                                                   "CreateQueue",
                                                   "DeleteQueue",
                                                   "ListQueues",
                                                   "ListQueueTags",
                                                   "GetQueueAttributes",
                                                   "SetQueueAttributes",
                                                   "PurgeQueue",
                                                   "TagQueue",
                                                   "UntagQueue",
                                                   "AddPermission",
                                                   "RemovePermission",
                                                   "ListDeadLetterSourceQueues",
                                                   "GetQueueUrl"};
  static const std::vector<std::string> regions = {"us-east-1", "eu-west-1",     "ap-southeast-2",
                                                   "sa-east-1", "us-gov-west-1", ""};
  Generator g(seed);
  std::vector<Request> out;
  for (int round = 0; round < 12; ++round) {
    for (const auto& action : actions) {
      Request r;
      r.region = g.Pick(regions);
      r.service = g.Chance(90) ? "sqs" : "iotdevicegateway";
      r.access = "AKIA" + g.Digits(16);
      // keys of printable ASCII, sometimes empty
      r.secret.clear();
      if (!g.Chance(15)) {
        for (int i = g.Int(1, 40); i > 0; --i) r.secret += static_cast<char>(g.Int(0x21, 0x7E));
      }
      // temporary credentials now and then (never on MQTT, which signs the host alone)
      if (g.Chance(20)) {
        r.token = "IQoJb3JpZ2luX2Vj";
        for (int i = g.Int(8, 60); i > 0; --i) {
          static const char alphabet[] =
              "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
          r.token += alphabet[g.Int(0, sizeof alphabet - 2)];
        }
      }
      r.unixTime = static_cast<long long>(g.Int(946684800, 2100000000));
      r.stamp = StampOf(r.unixTime);

      // endpoint or queue URL: with and without port, with and without trailing slash
      const bool toQueue =
          action != "ListQueues" && action != "CreateQueue" && action != "GetQueueUrl";
      const std::string account = g.Digits(12);
      const std::string queue = g.Pick<std::string>({"MyQueue", "orders.fifo", "q-1_x", "Q"});
      std::string base;
      switch (g.Int(0, 5)) {
        case 0:
          base = "https://sqs." + r.region + ".amazonaws.com";
          break;
        case 1:
          base = "https://sqs." + r.region + ".amazonaws.com:443";
          break;
        case 2:
          base = "http://localhost:" + std::to_string(g.Int(1024, 65535));
          break;
        case 3:
          base = "http://127.0.0.1:80";
          break;
        case 4:
          base = "https://sqs.internal.example:" + std::to_string(g.Int(1, 65535));
          break;
        default:
          base = "http://sqs.test";
          break;
      }
      std::string path = toQueue ? "/" + account + "/" + queue : "";
      if (g.Chance(50)) path += "/";

      Params params = ActionParams(g, action);
      // sorted by name as the SQS client sends them, or in any order
      if (g.Chance(70)) {
        std::sort(params.begin(), params.end());
      } else {
        std::shuffle(params.begin(), params.end(), g.Rng());
      }
      std::string query;
      for (const auto& [name, value] : params) {
        if (!query.empty()) query += '&';
        query += Encode(name) + "=" + Encode(value);
      }

      r.mqtt = r.token.empty() && g.Chance(15);
      if (!r.mqtt && g.Chance(10)) {
        r.method = "POST";
        r.url = base + path;
        r.payload = query;
      } else {
        r.method = "GET";
        r.url = base + path + "?" + query;
      }
      out.push_back(r);
    }
  }
  return out;
}

TEST(SignatureOracleTest, EveryAuthorizationLineMatchesBotocore) {
  const std::string script = std::string(BRV_SOURCE_DIR) + "/tests/aws/oracle/sigv4_oracle.py";
  ASSERT_EQ(access(kPython, X_OK), 0) << kPython << " is missing (Debian python3)";
  ASSERT_EQ(std::system((std::string(kPython) + " -c 'import botocore' 2>/dev/null").c_str()), 0)
      << "botocore is missing (Debian python3-botocore)";

  const unsigned seed = 20240601;
  std::vector<Request> requests = Generate(seed);
  ASSERT_GE(requests.size(), 200u);

  for (auto& r : requests) {
    TbrvHTTP_Amazon_AWS_Signature_V4 signer;
    signer.SignatureV4Options().AccessKey = r.access;
    signer.SignatureV4Options().SecretKey = r.secret;
    signer.SignatureV4Options().Region = r.region;
    signer.SignatureV4Options().Service = r.service;
    signer.SignatureV4Options().SessionToken = r.token;
    signer.SetProtocol(r.mqtt ? sv4pMQTT : sv4pHTTP);
    const long long t = r.unixTime;
    signer.SetUTCClock(
        [t] { return std::chrono::system_clock::time_point(std::chrono::seconds(t)); });
    if (r.method == "POST") {
      signer.SignPOST(r.url, r.payload);
    } else {
      signer.SignGET(r.url);
    }
    ASSERT_EQ(signer.RequestDate(), r.stamp) << r.url;
    const std::string line = signer.AuthorizationHeader();
    ASSERT_EQ(line.rfind("Authorization: ", 0), 0u);
    r.ours = line.substr(15);
  }

  const testing::TTempDir scratch("brv-sigv4-oracle");
  const std::filesystem::path dir(scratch.Path());
  {
    std::ofstream in(dir / "requests.jsonl", std::ios::binary);
    for (const auto& r : requests) {
      in << "{\"method\":" << JsonString(r.method) << ",\"url\":" << JsonString(r.url)
         << ",\"payload\":" << JsonString(r.payload)
         << ",\"content_type\":" << JsonString(kContentType) << ",\"time\":" << JsonString(r.stamp)
         << ",\"access\":" << JsonString(r.access) << ",\"secret\":" << JsonString(r.secret)
         << ",\"token\":" << JsonString(r.token) << ",\"region\":" << JsonString(r.region)
         << ",\"service\":" << JsonString(r.service)
         << ",\"protocol\":" << JsonString(r.mqtt ? "mqtt" : "http") << "}\n";
    }
  }
  const std::string command =
      std::string(kPython) + " '" + script + "' < '" + (dir / "requests.jsonl").string() + "' > '" +
      (dir / "answers.txt").string() + "' 2> '" + (dir / "errors.txt").string() + "'";
  const int rc = std::system(command.c_str());
  std::vector<std::string> answers;
  {
    std::ifstream out(dir / "answers.txt");
    for (std::string line; std::getline(out, line);) answers.push_back(line);
  }
  std::string errors;
  {
    std::ifstream err(dir / "errors.txt");
    std::stringstream ss;
    ss << err.rdbuf();
    errors = ss.str();
  }
  ASSERT_EQ(rc, 0) << errors;
  ASSERT_EQ(answers.size(), requests.size()) << errors;

  int matched = 0;
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const auto& r = requests[i];
    EXPECT_EQ(r.ours, answers[i]) << "seed " << seed << ", request " << i << ": " << r.method << " "
                                  << r.url << (r.mqtt ? " (mqtt)" : "");
    if (r.ours == answers[i]) ++matched;
  }
  EXPECT_EQ(matched, static_cast<int>(requests.size()));
  std::printf("%d of %zu signatures agree with botocore\n", matched, requests.size());
}

}  // namespace
}  // namespace brv
