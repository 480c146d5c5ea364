#include "cli/SQSCommandLine.h"

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <utility>

#include "base/Exception.h"
#include "sqs/brvHTTP.h"

namespace brv {

namespace {

// --- the command table ---

struct TOptionSpec {
  const char* Name;   // without the leading "--"
  const char* Value;  // what the value is called in help, or nullptr for a switch
  bool Required;
  bool Repeatable;
  const char* Help;
};

using TValues = std::map<std::string, std::vector<std::string>>;

class TCommandRun;

struct TCommandSpec {
  const char* Name;
  const char* Summary;
  std::vector<TOptionSpec> Options;
  const char* Output;  // what a success prints
  int (TCommandRun::*Run)();
};

constexpr TOptionSpec kQueueName = {"queue-name", "NAME", true, false,
                                    "the queue, by name (resolved to its URL once per run)"};

const std::vector<TOptionSpec>& GlobalOptions() {
  static const std::vector<TOptionSpec> options = {
      {"region", "REGION", false, false,
       "the AWS region (default: AWS_REGION, else AWS_DEFAULT_REGION)"},
      {"endpoint-url", "URL", false, false,
       "send requests to URL instead of the regional endpoint (default: AWS_ENDPOINT_URL_SQS, "
       "else AWS_ENDPOINT_URL)"},
      {"ca-bundle", "FILE", false, false,
       "trust the CA certificates in FILE (PEM) besides the system's (default: "
       "AWS_CA_BUNDLE)"},
      {"no-verify-ssl", nullptr, false, false,
       "do not verify the server's certificate (for a local service with a self-signed one)"},
      {"tls-engine", "ENGINE", false, false,
       "the TLS engine for https: openssl (default; OpenSSL, loaded at run time) or gnutls "
       "(GnuTLS; schannel is another name for it)"},
      {"log-file", "FILE", false, false, "append the raw HTTP exchange to FILE"},
      {"connect-timeout", "SECONDS", false, false,
       "give up connecting after SECONDS (default 30; 0: never)"},
      {"read-timeout", "SECONDS", false, false,
       "give up waiting for an answer after SECONDS (default 60; 0: never)"},
      {"help", nullptr, false, false, "show help (after a command: that command's help)"},
  };
  return options;
}

// --- arguments ---

struct TUsageError {
  std::string Message;
};

// Splits NAME=VALUE at the first "=" that no backslash escapes; "\=" and "\\" in the name
// stand for "=" and "\".
std::pair<std::string, std::string> SplitNameValue(const std::string& Option,
                                                   const std::string& Argument) {
  std::string name;
  for (size_t i = 0; i < Argument.size(); ++i) {
    const char c = Argument[i];
    if (c == '\\' && i + 1 < Argument.size() &&
        (Argument[i + 1] == '=' || Argument[i + 1] == '\\')) {
      name += Argument[++i];
    } else if (c == '=') {
      return {name, Argument.substr(i + 1)};
    } else {
      name += c;
    }
  }
  throw TUsageError{"--" + Option + " needs NAME=VALUE, got \"" + Argument + "\""};
}

int ParseInteger(const std::string& Option, const std::string& Text, int Low, int High) {
  size_t used = 0;
  long value = 0;
  try {
    value = std::stol(Text, &used, 10);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != Text.size() || value < Low || value > High)
    throw TUsageError{"--" + Option + " needs a whole number from " + std::to_string(Low) + " to " +
                      std::to_string(High) + ", got \"" + Text + "\""};
  return static_cast<int>(value);
}

std::string Environment(const char* Name) {
  const char* value = std::getenv(Name);
  return value != nullptr ? std::string(value) : std::string();
}

struct TCommandLine {
  const TCommandSpec* Command = nullptr;
  TValues Global;
  TValues Own;
  bool Help = false;
};

// --- running a command ---

class TCommandRun {
 public:
  TCommandRun(const TCommandLine& Line, std::ostream& Out, std::ostream& Err)
      : line_(Line), out_(Out), err_(Err) {}

  int Run() {
    for (const TOptionSpec& option : line_.Command->Options) {
      if (option.Required && line_.Own.count(option.Name) == 0)
        throw TUsageError{std::string(line_.Command->Name) + " needs --" + option.Name};
    }
    Configure();
    return (this->*line_.Command->Run)();
  }

  int ListQueues() {
    TStringList queues;
    if (!client_.ListQueues(queues, Value("queue-name-prefix"))) return Failed();
    PrintLines(queues);
    return sqsExitSuccess;
  }

  int CreateQueue() {
    TbrvSQSCreateQueue queue;
    queue.SetQueueName(Queue());
    for (const std::string& argument : Values("attribute")) {
      const auto [name, value] = SplitNameValue("attribute", argument);
      queue.Attributes().AddSQSAttribute(name, value);
    }
    for (const std::string& argument : Values("tag")) {
      const auto [key, value] = SplitNameValue("tag", argument);
      queue.Tags().AddSQSTag(key, value);
    }
    const std::string url = client_.CreateQueue(queue);
    if (url.empty()) return Failed();
    out_ << url << "\n";
    return sqsExitSuccess;
  }

  int GetQueueUrl() {
    std::string url = client_.GetQueueURL(Queue());
    if (url.empty()) return Failed();
    if (url.back() == '/') url.pop_back();  // as the service gives it
    out_ << url << "\n";
    return sqsExitSuccess;
  }

  int DeleteQueue() { return Done(client_.DeleteQueue(Queue())); }
  int PurgeQueue() { return Done(client_.PurgueQueue(Queue())); }

  int GetQueueAttributes() {
    TbrvSQSAttributes attributes;
    if (!client_.GetQueueAttributes(Queue(), attributes)) return Failed();
    for (int i = 0; i < attributes.Count(); ++i)
      PrintPair(attributes.Items(i)->AttributeName(), attributes.Items(i)->AttributeValue());
    return sqsExitSuccess;
  }

  int SetQueueAttributes() {
    TbrvSQSAttributes attributes;
    for (const std::string& argument : Values("attribute")) {
      const auto [name, value] = SplitNameValue("attribute", argument);
      attributes.AddSQSAttribute(name, value);
    }
    return Done(client_.SetQueueAttributes(Queue(), attributes));
  }

  int SendMessage() {
    TbrvSQSSendMessageRequest request;
    request.SetMessageBody(MessageBody());
    FillMessage(request);
    TbrvSQSSendMessageResponse response;
    if (!client_.SendMessage(Queue(), request, response)) return Failed();
    PrintPair("MessageId", response.MessageId());
    PrintPair("MD5OfMessageBody", response.MD5OfMessageBody());
    if (!response.MD5OfMessageAttributes().empty())
      PrintPair("MD5OfMessageAttributes", response.MD5OfMessageAttributes());
    if (!response.SequenceNumber().empty()) PrintPair("SequenceNumber", response.SequenceNumber());
    return sqsExitSuccess;
  }

  int SendMessageBatch() {
    TbrvSQSSendMessageRequests requests;
    for (const std::string& argument : Values("entry")) {
      const auto [id, body] = SplitNameValue("entry", argument);
      auto request = std::make_unique<TbrvSQSSendMessageRequest>();
      request->SetID(id);
      request->SetMessageBody(body);
      FillMessage(*request);
      if (requests.Find(id) != nullptr) throw TUsageError{"--entry id \"" + id + "\" repeats"};
      requests.AdoptItem(std::move(request));
    }
    TbrvSQSSendMessageResponses responses;
    client_.SendMessageBatch(Queue(), requests, responses);
    for (int i = 0; i < responses.Count(); ++i)
      PrintPair(responses.Items(i)->ID(), responses.Items(i)->MessageId());
    bool all = true;
    for (int i = 0; i < requests.Count(); ++i) {
      if (responses.Find(requests.Items(i)->ID()) != nullptr) continue;
      err_ << EscapeOutputValue(requests.Items(i)->ID()) << ": not accepted\n";
      all = false;
    }
    return all ? Done(true) : sqsExitServiceError;
  }

  int ReceiveMessage() {
    TbrvSQSReceiveMessageRequest request;
    if (Has("max-number-of-messages"))
      request.SetMaxNumberOfMessages(Integer("max-number-of-messages", 1, 10));
    if (Has("visibility-timeout"))
      request.SetVisibilityTimeout(Integer("visibility-timeout", 0, 43200));
    if (Has("wait-time-seconds")) request.SetWaitTimeSeconds(Integer("wait-time-seconds", 0, 20));
    TbrvAWSSQSAttributes names;
    for (const std::string& name : Values("attribute-name")) names.push_back(AttributeNamed(name));
    request.SetAttributes(names);
    for (const std::string& name : Values("message-attribute-name"))
      request.MessageAttributeName().Add(name);
    request.SetReceiveRequestAttemptId(Value("receive-request-attempt-id"));
    TbrvSQSReceiveMessageResponses messages;
    if (!client_.ReceiveMessage(Queue(), request, messages)) return Failed();
    for (int i = 0; i < messages.Count(); ++i) {
      const TbrvSQSReceiveMessageResponse& message = *messages.Items(i);
      PrintPair("MessageId", message.MessageId());
      PrintPair("ReceiptHandle", message.ReceiptHandle());
      PrintPair("MD5OfBody", message.MD5OfBody());
      if (!message.MD5OfMessageAttributes().empty())
        PrintPair("MD5OfMessageAttributes", message.MD5OfMessageAttributes());
      PrintPair("Body", message.Body());
      for (int a = 0; a < message.Attributes().Count(); ++a) {
        const TbrvSQSAttribute& attribute = *message.Attributes().Items(a);
        PrintPair("Attribute." + attribute.AttributeName(), attribute.AttributeValue());
      }
      for (int a = 0; a < message.MessageAttributes().Count(); ++a) {
        const TbrvSQSMessageAttributeItem& attribute = *message.MessageAttributes().Items(a);
        PrintPair("MessageAttribute." + attribute.AttributeName() + ":" + attribute.AttributeType(),
                  attribute.AttributeValue());
      }
    }
    return sqsExitSuccess;
  }

  int DeleteMessage() { return Done(client_.DeleteMessage(Queue(), Value("receipt-handle"))); }

  int DeleteMessageBatch() {
    TbrvSQSDeleteMessageBatchRequestItems items;
    for (const std::string& argument : Values("entry")) {
      const auto [id, handle] = SplitNameValue("entry", argument);
      if (items.Find(id) != nullptr) throw TUsageError{"--entry id \"" + id + "\" repeats"};
      items.AddSQSDeleteMessage(id, handle);
    }
    client_.DeleteMessageBatch(Queue(), items);
    return Done(true);
  }

  int ChangeMessageVisibility() {
    return Done(client_.ChangeMessageVisibility(Queue(), Value("receipt-handle"),
                                                Integer("visibility-timeout", 0, 43200)));
  }

  int ChangeMessageVisibilityBatch() {
    const int timeout = Integer("visibility-timeout", 0, 43200);
    TbrvSQSChangeMessageVisibilityBatchRequests requests;
    for (const std::string& argument : Values("entry")) {
      const auto [id, handle] = SplitNameValue("entry", argument);
      if (requests.Find(id) != nullptr) throw TUsageError{"--entry id \"" + id + "\" repeats"};
      requests.AddSQSChangeVisibility(id, handle, timeout);
    }
    TStringList ids;
    const bool accepted = client_.ChangeMessageVisibilityBatch(Queue(), requests, ids);
    PrintLines(ids);
    return Done(accepted);
  }

  int ListQueueTags() {
    TbrvSQSTags tags;
    if (!client_.ListQueueTags(Queue(), tags)) return Failed();
    for (int i = 0; i < tags.Count(); ++i) PrintPair(tags.Items(i)->Key(), tags.Items(i)->Value());
    return sqsExitSuccess;
  }

  int TagQueue() {
    TbrvSQSTags tags;
    for (const std::string& argument : Values("tag")) {
      const auto [key, value] = SplitNameValue("tag", argument);
      tags.AddSQSTag(key, value);
    }
    return Done(client_.TagQueue(Queue(), tags));
  }

  int UntagQueue() {
    TStringList keys;
    for (const std::string& key : Values("tag-key")) keys.Add(key);
    return Done(client_.UnTagQueue(Queue(), keys));
  }

  int AddPermission() {
    TbrvSQSPermissions permissions;
    for (const std::string& argument : Values("permission")) {
      const auto [account, action] = SplitNameValue("permission", argument);
      if (permissions.Find(action + "_" + action) != nullptr)
        throw TUsageError{"--permission names the action " + action + " twice"};
      permissions.AddSQSPermission(action, account);
    }
    return Done(client_.AddPermission(Queue(), Value("label"), permissions));
  }

  int RemovePermission() { return Done(client_.RemovePermission(Queue(), Value("label"))); }

  int ListDeadLetterSourceQueues() {
    TStringList queues;
    if (!client_.ListDeadLetterSourceQueues(Queue(), queues)) return Failed();
    PrintLines(queues);
    return sqsExitSuccess;
  }

 private:
  // The client from the environment and the global options.
  void Configure() {
    const std::string key = Environment("AWS_ACCESS_KEY_ID");
    const std::string secret = Environment("AWS_SECRET_ACCESS_KEY");
    if (key.empty() || secret.empty())
      throw TUsageError{"no credentials: set AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY"};
    std::string region = GlobalValue("region");
    if (region.empty()) region = Environment("AWS_REGION");
    if (region.empty()) region = Environment("AWS_DEFAULT_REGION");
    if (region.empty())
      throw TUsageError{"no region: give --region or set AWS_REGION or AWS_DEFAULT_REGION"};
    client_.AWSOptions().AccessKey = key;
    client_.AWSOptions().SecretKey = secret;
    client_.AWSOptions().SessionToken = Environment("AWS_SESSION_TOKEN");
    client_.AWSOptions().Region = region;
    client_.AWSOptions().EndPointURL = GlobalValue("endpoint-url");

    IbrvAWSHTTPClient& http = client_.GetHTTPClient();
    if (line_.Global.count("ca-bundle") != 0)
      http.TLSOptions().RootCertFile = GlobalValue("ca-bundle");
    if (line_.Global.count("no-verify-ssl") != 0) http.TLSOptions().VerifyCertificate = false;
    if (line_.Global.count("tls-engine") != 0) {
      const std::string engine = GlobalValue("tls-engine");
      if (engine == "openssl")
        http.TLSOptions().IOHandler = iohOpenSSL;
      else if (engine == "gnutls" || engine == "schannel")
        http.TLSOptions().IOHandler = iohSChannel;
      else
        throw TUsageError{"--tls-engine is openssl or gnutls, not \"" + engine + "\""};
    }
    if (line_.Global.count("connect-timeout") != 0)
      http.SetConnectTimeout(Seconds("connect-timeout"));
    if (line_.Global.count("read-timeout") != 0) http.SetReadTimeout(Seconds("read-timeout"));
    if (line_.Global.count("log-file") != 0) {
      client_.LogFile().FileName = GlobalValue("log-file");
      client_.LogFile().Enabled = true;
    }
    client_.OnSQSError = [this](TObject*, const std::string& Code, const std::string& Message,
                                const std::string& Raw) {
      reported_ = true;
      const std::string report = Code.empty() && Message.empty()
                                     ? "error: " + EscapeOutputValue(Raw)
                                     : Code + ": " + Message;
      // An operation on a queue that cannot be resolved is still sent (to the endpoint) and
      // refused again for the same reason: that says nothing new.
      if (report != last_report_) err_ << report << "\n";
      last_report_ = report;
    };
  }

  // Milliseconds for a time-out option given in seconds (0: no limit).
  int Seconds(const char* Name) {
    const int seconds = ParseInteger(Name, GlobalValue(Name), 0, 24 * 3600);
    return seconds == 0 ? -2 : seconds * 1000;
  }

  bool Has(const char* Name) const { return line_.Own.count(Name) != 0; }
  std::string Value(const char* Name) const {
    const auto found = line_.Own.find(Name);
    return found != line_.Own.end() ? found->second.front() : std::string();
  }
  std::vector<std::string> Values(const char* Name) const {
    const auto found = line_.Own.find(Name);
    return found != line_.Own.end() ? found->second : std::vector<std::string>();
  }
  std::string GlobalValue(const char* Name) const {
    const auto found = line_.Global.find(Name);
    return found != line_.Global.end() ? found->second.front() : std::string();
  }
  int Integer(const char* Name, int Low, int High) const {
    return ParseInteger(Name, Value(Name), Low, High);
  }
  std::string Queue() const { return Value("queue-name"); }

  std::string MessageBody() const {
    if (Has("message-body") == Has("message-body-file"))
      throw TUsageError{"send-message needs either --message-body or --message-body-file"};
    if (Has("message-body")) return Value("message-body");
    const std::string file = Value("message-body-file");
    std::ifstream in;
    std::istream* source = &std::cin;
    if (file != "-") {
      in.open(file, std::ios::binary);
      if (!in) throw TUsageError{"cannot read " + file};
      source = &in;
    }
    return std::string(std::istreambuf_iterator<char>(*source), std::istreambuf_iterator<char>());
  }

  // The options send-message and send-message-batch share.
  void FillMessage(TbrvSQSSendMessageRequest& Request) const {
    if (Has("delay-seconds")) Request.SetDelaySeconds(Integer("delay-seconds", 0, 900));
    Request.SetMessageGroupId(Value("message-group-id"));
    Request.SetMessageDeduplicationId(Value("message-deduplication-id"));
    for (const std::string& argument : Values("message-attribute")) {
      const auto [key, value] = SplitNameValue("message-attribute", argument);
      const size_t colon = key.find(':');
      const std::string name = key.substr(0, colon);
      const std::string type = colon == std::string::npos ? "String" : key.substr(colon + 1);
      if (name.empty() || type.empty())
        throw TUsageError{"--message-attribute needs NAME[:TYPE]=VALUE, got \"" + argument + "\""};
      Request.MessageAttributes().AddSQSAttribute(name, type, value);
    }
  }

  static TbrvAWSSQSAttribute AttributeNamed(const std::string& Name) {
    for (int value = sqsatAll; value <= sqsatKmsDataKeyReusePeriodSeconds; ++value) {
      const auto attribute = static_cast<TbrvAWSSQSAttribute>(value);
      if (SQSAttributeWireName(attribute) == Name) return attribute;
    }
    throw TUsageError{"--attribute-name: no attribute is called \"" + Name + "\""};
  }

  void PrintPair(const std::string& Name, const std::string& Value) {
    out_ << EscapeOutputName(Name) << "=" << EscapeOutputValue(Value) << "\n";
  }
  void PrintLines(const TStringList& Lines) {
    for (const std::string& line : Lines.Lines()) out_ << EscapeOutputValue(line) << "\n";
  }

  // The status of an operation that prints nothing itself.
  int Done(bool Succeeded) { return Succeeded && !reported_ ? sqsExitSuccess : Failed(); }
  // A failed operation: the service's error was printed already, or nothing explains it.
  int Failed() {
    if (!reported_)
      err_ << "sqs: " << line_.Command->Name << " failed: the service gave no usable answer\n";
    return sqsExitServiceError;
  }

  const TCommandLine& line_;
  std::ostream& out_;
  std::ostream& err_;
  TbrvHTTPAWS_SQS_Client client_;
  bool reported_ = false;
  std::string last_report_;
};

// --- the commands ---

const std::vector<TCommandSpec>& Commands() {
  static const std::vector<TCommandSpec> commands = {
      {"list-queues",
       "list the URLs of the queues",
       {{"queue-name-prefix", "PREFIX", false, false, "only queues whose names start with PREFIX"}},
       "one queue URL per line",
       &TCommandRun::ListQueues},
      {"create-queue",
       "create a queue",
       {kQueueName,
        {"attribute", "NAME=VALUE", false, true,
         "a queue attribute (VisibilityTimeout, DelaySeconds, FifoQueue, ...)"},
        {"tag", "KEY=VALUE", false, true, "a tag of the new queue"}},
       "the URL of the queue",
       &TCommandRun::CreateQueue},
      {"get-queue-url",
       "print the URL of a queue",
       {kQueueName},
       "the URL of the queue",
       &TCommandRun::GetQueueUrl},
      {"delete-queue",
       "delete a queue and its messages",
       {kQueueName},
       "nothing",
       &TCommandRun::DeleteQueue},
      {"purge-queue",
       "delete every message of a queue",
       {kQueueName},
       "nothing",
       &TCommandRun::PurgeQueue},
      {"get-queue-attributes",
       "print every attribute of a queue",
       {kQueueName},
       "one NAME=VALUE line per attribute",
       &TCommandRun::GetQueueAttributes},
      {"set-queue-attributes",
       "change attributes of a queue",
       {kQueueName,
        {"attribute", "NAME=VALUE", true, true,
         "an attribute to set (VisibilityTimeout, RedrivePolicy, Policy, ...)"}},
       "nothing",
       &TCommandRun::SetQueueAttributes},
      {"send-message",
       "send one message",
       {kQueueName,
        {"message-body", "TEXT", false, false, "the message (or --message-body-file)"},
        {"message-body-file", "FILE", false, false,
         "read the message from FILE, byte for byte (\"-\": standard input)"},
        {"delay-seconds", "SECONDS", false, false, "keep the message hidden for 1 to 900 s"},
        {"message-group-id", "ID", false, false, "the message group (FIFO queues)"},
        {"message-deduplication-id", "ID", false, false, "the deduplication id (FIFO queues)"},
        {"message-attribute", "NAME[:TYPE]=VALUE", false, true,
         "a message attribute; TYPE is String (default), Number, Binary (base64 value) or a "
         "custom type such as Number.float"}},
       "MessageId=..., MD5OfMessageBody=..., and MD5OfMessageAttributes=... and "
       "SequenceNumber=... when the service gives them",
       &TCommandRun::SendMessage},
      {"send-message-batch",
       "send several messages, ten per request",
       {kQueueName,
        {"entry", "ID=BODY", true, true,
         "a message and its id in the batch (letters, digits, - and _)"},
        {"delay-seconds", "SECONDS", false, false, "for every entry"},
        {"message-group-id", "ID", false, false, "for every entry"},
        {"message-attribute", "NAME[:TYPE]=VALUE", false, true, "for every entry"}},
       "ID=MESSAGEID for every entry the service accepted; the others are named on standard "
       "error",
       &TCommandRun::SendMessageBatch},
      {"receive-message",
       "receive messages",
       {kQueueName,
        {"max-number-of-messages", "N", false, false, "at most N messages, 1 to 10 (default 1)"},
        {"visibility-timeout", "SECONDS", false, false, "hide them for SECONDS"},
        {"wait-time-seconds", "SECONDS", false, false, "wait up to SECONDS for a message"},
        {"attribute-name", "NAME", false, true,
         "system attributes to receive: All gives every one (SentTimestamp, "
         "ApproximateReceiveCount, ...)"},
        {"message-attribute-name", "NAME", false, true,
         "a message attribute to receive (All for every one)"},
        {"receive-request-attempt-id", "ID", false, false, "the attempt id (FIFO queues)"}},
       "for each message: MessageId=..., ReceiptHandle=..., MD5OfBody=..., "
       "MD5OfMessageAttributes=... (when there are attributes), Body=..., then "
       "Attribute.NAME=VALUE and MessageAttribute.NAME:TYPE=VALUE lines; nothing when no "
       "message came",
       &TCommandRun::ReceiveMessage},
      {"delete-message",
       "delete a received message",
       {kQueueName, {"receipt-handle", "HANDLE", true, false, "from receive-message"}},
       "nothing",
       &TCommandRun::DeleteMessage},
      {"delete-message-batch",
       "delete several received messages, ten per request",
       {kQueueName, {"entry", "ID=HANDLE", true, true, "a receipt handle and its id in the batch"}},
       "nothing",
       &TCommandRun::DeleteMessageBatch},
      {"change-message-visibility",
       "hide a received message for another while, or show it again (0)",
       {kQueueName,
        {"receipt-handle", "HANDLE", true, false, "from receive-message"},
        {"visibility-timeout", "SECONDS", true, false, "seconds from now"}},
       "nothing",
       &TCommandRun::ChangeMessageVisibility},
      {"change-message-visibility-batch",
       "change the visibility of several received messages",
       {kQueueName,
        {"entry", "ID=HANDLE", true, true, "a receipt handle and its id in the batch"},
        {"visibility-timeout", "SECONDS", true, false, "for every entry"}},
       "the ids of the entries the service answered for, one per line",
       &TCommandRun::ChangeMessageVisibilityBatch},
      {"list-queue-tags",
       "print the tags of a queue",
       {kQueueName},
       "one KEY=VALUE line per tag",
       &TCommandRun::ListQueueTags},
      {"tag-queue",
       "add or change tags of a queue",
       {kQueueName, {"tag", "KEY=VALUE", true, true, "a tag"}},
       "nothing",
       &TCommandRun::TagQueue},
      {"untag-queue",
       "remove tags of a queue",
       {kQueueName, {"tag-key", "KEY", true, true, "the key of a tag to remove"}},
       "nothing",
       &TCommandRun::UntagQueue},
      {"add-permission",
       "let other accounts use a queue",
       {kQueueName,
        {"label", "LABEL", true, false, "names the permission"},
        {"permission", "ACCOUNT=ACTION", true, true,
         "an account id and the action it may take (SendMessage, ReceiveMessage, ..., or *)"}},
       "nothing",
       &TCommandRun::AddPermission},
      {"remove-permission",
       "take back a permission",
       {kQueueName, {"label", "LABEL", true, false, "the label given to add-permission"}},
       "nothing",
       &TCommandRun::RemovePermission},
      {"list-dead-letter-source-queues",
       "list the queues that use this one as their dead-letter queue",
       {kQueueName},
       "one queue URL per line",
       &TCommandRun::ListDeadLetterSourceQueues},
  };
  return commands;
}

const TCommandSpec* FindCommand(const std::string& Name) {
  for (const TCommandSpec& command : Commands())
    if (Name == command.Name) return &command;
  return nullptr;
}

const TOptionSpec* FindOption(const std::vector<TOptionSpec>& Options, const std::string& Name) {
  for (const TOptionSpec& option : Options)
    if (Name == option.Name) return &option;
  return nullptr;
}

// --- help ---

constexpr size_t kHelpColumn = 34;
constexpr size_t kHelpWidth = 79;

// Text broken into lines of at most kHelpWidth characters, every line but the first indented
// by Indent; Start is where the first line begins.
std::string Wrap(const std::string& Text, size_t Start, size_t Indent = kHelpColumn) {
  std::string out;
  size_t column = Start;
  std::istringstream words(Text);
  for (std::string word; words >> word;) {
    if (column > Start && column + 1 + word.size() > kHelpWidth) {
      out += "\n" + std::string(Indent, ' ');
      column = Indent;
    } else if (column > Start) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
  }
  return out + "\n";
}

// "  NAME" padded to the help column (or on a line of its own when longer), then the text.
std::string HelpEntry(const std::string& Name, const std::string& Text) {
  std::string line = "  " + Name;
  if (line.size() < kHelpColumn)
    return line + std::string(kHelpColumn - line.size(), ' ') + Wrap(Text, kHelpColumn);
  return line + "\n" + std::string(kHelpColumn, ' ') + Wrap(Text, kHelpColumn);
}

std::string OptionLine(const TOptionSpec& Option) {
  std::string name = std::string("--") + Option.Name;
  if (Option.Value != nullptr) name += std::string(" ") + Option.Value;
  std::string notes;
  if (Option.Required) notes = "required";
  if (Option.Repeatable) notes += notes.empty() ? "repeatable" : ", repeatable";
  std::string text = Option.Help;
  if (!notes.empty()) text += " (" + notes + ")";
  return HelpEntry(name, text);
}

void PrintGeneralHelp(std::ostream& Out) {
  Out << "Usage: sqs [OPTIONS] COMMAND [COMMAND OPTIONS]\n"
         "\n"
         "Amazon SQS from the command line: one command per operation of the SQS client.\n"
         "\n"
         "Commands:\n";
  for (const TCommandSpec& command : Commands()) Out << HelpEntry(command.Name, command.Summary);
  Out << "\nOptions (before or after the command):\n";
  for (const TOptionSpec& option : GlobalOptions()) Out << OptionLine(option);
  Out << "\n"
         "Options take their value as the next argument or after \"=\" (--region=eu-west-1).\n"
         "In NAME=VALUE arguments the first \"=\" ends the name; write \"\\=\" for an \"=\"\n"
         "inside a name and \"\\\\\" for a backslash. Values are taken as they are.\n"
         "\n"
         "Environment:\n"
         "  AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY  the credentials (required)\n"
         "  AWS_SESSION_TOKEN                 the session token of temporary credentials\n"
         "  AWS_REGION, AWS_DEFAULT_REGION    the region, when --region is not given\n"
         "  AWS_ENDPOINT_URL_SQS, AWS_ENDPOINT_URL\n"
         "                                    the endpoint, when --endpoint-url is not given\n"
         "  AWS_CA_BUNDLE                     trusted CA certificates, when --ca-bundle is not\n"
         "                                    given\n"
         "\n"
         "Output: results on standard output, one per line. Values are printed with \"\\\\\",\n"
         "\"\\n\", \"\\r\" and \"\\t\" for a backslash, line feed, carriage return and tab, and\n"
         "\"\\xHH\" for the other control characters; names before \"=\" also with \"\\=\".\n"
         "A service error is printed on standard error as its code and message.\n"
         "\n"
         "Exit status: 0 success, 1 the service refused the request, 2 wrong usage or\n"
         "environment, 3 no answer (name resolution, connection, TLS or time-out failure).\n"
         "\n"
         "\"sqs COMMAND --help\" explains a command.\n";
}

void PrintCommandHelp(const TCommandSpec& Command, std::ostream& Out) {
  Out << "Usage: sqs [OPTIONS] " << Command.Name;
  for (const TOptionSpec& option : Command.Options) {
    if (!option.Required) continue;
    Out << " --" << option.Name << " " << option.Value;
    if (option.Repeatable) Out << "...";
  }
  std::string summary = Command.Summary;
  summary[0] = static_cast<char>(summary[0] - 'a' + 'A');
  Out << " [COMMAND OPTIONS]\n\n" << summary << ".\n\nCommand options:\n";
  for (const TOptionSpec& option : Command.Options) Out << OptionLine(option);
  Out << "\n"
      << Wrap(std::string("Prints: ") + Command.Output + ".", 0, 0) << "\n"
      << "Every option of \"sqs --help\" (--region, --endpoint-url, ...) applies as well.\n";
}

// A message with its CR LF line breaks as this platform's LF.
std::string PlainLines(const std::string& Message) {
  std::string out;
  for (size_t i = 0; i < Message.size(); ++i) {
    if (Message[i] == '\r' && i + 1 < Message.size() && Message[i + 1] == '\n') continue;
    out += Message[i];
  }
  return out;
}

// --- parsing ---

TCommandLine Parse(const std::vector<std::string>& Args) {
  TCommandLine line;
  for (size_t i = 0; i < Args.size(); ++i) {
    const std::string& arg = Args[i];
    if (arg == "-h") {
      line.Help = true;
      continue;
    }
    if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      const size_t eq = arg.find('=');
      const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      const TOptionSpec* option = FindOption(GlobalOptions(), name);
      TValues* into = &line.Global;
      if (option == nullptr && line.Command != nullptr) {
        option = FindOption(line.Command->Options, name);
        into = &line.Own;
      }
      if (option == nullptr) {
        throw TUsageError{line.Command != nullptr
                              ? "unknown option --" + name + " for " + line.Command->Name
                              : "unknown option --" + name};
      }
      std::string value;
      if (option->Value == nullptr) {
        if (eq != std::string::npos) throw TUsageError{"--" + name + " takes no value"};
      } else if (eq != std::string::npos) {
        value = arg.substr(eq + 1);
      } else if (i + 1 < Args.size()) {
        value = Args[++i];  // whatever it looks like: a message may start with "--"
      } else {
        throw TUsageError{"--" + name + " needs a value (" + option->Value + ")"};
      }
      std::vector<std::string>& values = (*into)[name];
      if (!values.empty() && !option->Repeatable)
        throw TUsageError{"--" + name + " is given more than once"};
      values.push_back(value);
      if (name == "help") line.Help = true;
      continue;
    }
    if (line.Command == nullptr) {
      if (arg == "help") {
        line.Help = true;
        continue;
      }
      line.Command = FindCommand(arg);
      if (line.Command == nullptr) throw TUsageError{"unknown command \"" + arg + "\""};
      continue;
    }
    throw TUsageError{"unexpected argument \"" + arg + "\""};
  }
  return line;
}

}  // namespace

std::string EscapeOutputValue(const std::string& Value) {
  static const char* hex = "0123456789abcdef";
  std::string out;
  out.reserve(Value.size());
  for (const char ch : Value) {
    const auto c = static_cast<unsigned char>(ch);
    switch (ch) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\x";
          out += hex[c >> 4];
          out += hex[c & 15];
        } else {
          out += ch;
        }
    }
  }
  return out;
}

std::string EscapeOutputName(const std::string& Name) {
  std::string out;
  for (const char ch : EscapeOutputValue(Name)) {
    if (ch == '=') out += '\\';
    out += ch;
  }
  return out;
}

int RunSQSCommandLine(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  TCommandLine line;
  try {
    line = Parse(Args);
    if (line.Help) {
      if (line.Command != nullptr)
        PrintCommandHelp(*line.Command, Out);
      else
        PrintGeneralHelp(Out);
      return sqsExitSuccess;
    }
    if (line.Command == nullptr) throw TUsageError{"no command given"};
    TCommandRun run(line, Out, Err);
    return run.Run();
  } catch (const TUsageError& e) {
    Err << "sqs: " << e.Message << "\n"
        << "Try \"sqs " << (line.Command != nullptr ? std::string(line.Command->Name) + " " : "")
        << "--help\".\n";
    return sqsExitUsage;
  } catch (const EFOpenError& e) {
    // the log file named by --log-file
    Err << "sqs: " << PlainLines(e.Message()) << "\n";
    return sqsExitUsage;
  } catch (const Exception& e) {
    Err << "sqs: " << PlainLines(e.Message()) << "\n";
    return sqsExitNetwork;
  }
}

// --- the table, read-only, for the manual page and shell completion ---

namespace {

TSQSOptionReference OptionReference(const TOptionSpec& Option) {
  TSQSOptionReference reference;
  reference.Name = Option.Name;
  reference.Value = Option.Value != nullptr ? Option.Value : "";
  reference.Required = Option.Required;
  reference.Repeatable = Option.Repeatable;
  reference.Help = Option.Help;
  // The engine names the parser accepts (schannel, an alias of gnutls, is left out).
  if (reference.Name == "tls-engine") reference.Choices = {"openssl", "gnutls"};
  return reference;
}

}  // namespace

TSQSCommandTable SQSCommandTable() {
  TSQSCommandTable table;
  for (const TOptionSpec& option : GlobalOptions())
    table.GlobalOptions.push_back(OptionReference(option));
  for (const TCommandSpec& command : Commands()) {
    TSQSCommandReference reference{command.Name, command.Summary, command.Output, {}};
    for (const TOptionSpec& option : command.Options)
      reference.Options.push_back(OptionReference(option));
    table.Commands.push_back(std::move(reference));
  }
  return table;
}

}  // namespace brv
