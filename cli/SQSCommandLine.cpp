#include "cli/SQSCommandLine.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <simdjson.h>
#include <sstream>
#include <thread>
#include <tuple>
#include <utility>

#include "aws/brvAWSProxy.h"
#include "cli/SQSJsonOutput.h"
#include "base/Exception.h"
#include "base/Hex.h"
#include "base/UTF8.h"
#include "http/IdHTTP.h"
#include "sqs/brvHTTP.h"
#include "sqs/brvSQSMessageTools.h"
#include "tls/IdSSLIOHandlerSocketOpenSSL.h"
#include "tls/brvIdSSLIOHandlerSocketSChannel.h"
#include "transport/IdDeadline.h"
#include "transport/IdException.h"

namespace brv {

namespace {

// --- the command table ---

struct TOptionEntry {
  const char* Name;   // without the leading "--"
  const char* Value;  // what the value is called in help, or nullptr for a switch
  bool Required;
  bool Repeatable;
  const char* Help;
};

using TValues = std::map<std::string, std::vector<std::string>>;

class TCommandRun;

struct TCommandEntry {
  const char* Name;
  const char* Summary;
  std::vector<TOptionEntry> Options;
  const char* Output;  // what a success prints
  int (TCommandRun::*Run)();
};

constexpr TOptionEntry kQueueName = {"queue-name", "NAME", true, false,
                                    "the queue, by name (resolved to its URL once per run)"};
// Beside --queue-name wherever a command names an existing queue: the queue's URL, used
// without asking the service for it.
constexpr TOptionEntry kQueueURL = {
    "queue-url", "URL", false, false,
    "the queue, by its URL (https://HOST/ACCOUNT/NAME); requests still go to the endpoint, "
    "only the URL's path is used"};

const std::vector<TOptionEntry>& GlobalOptions() {
  static const std::vector<TOptionEntry> options = {
      {"profile", "NAME", false, false,
       "take credentials and settings from the profile NAME of the shared AWS files (default: "
       "AWS_PROFILE, else default)"},
      {"region", "REGION", false, false,
       "the AWS region (default: AWS_REGION, else AWS_DEFAULT_REGION, else the profile's "
       "region)"},
      {"endpoint-url", "URL", false, false,
       "send requests to URL instead of the regional endpoint (default: AWS_ENDPOINT_URL_SQS, "
       "else AWS_ENDPOINT_URL, else the profile's endpoint_url)"},
      {"ca-bundle", "FILE", false, false,
       "trust the CA certificates in FILE (PEM) besides the system's (default: "
       "AWS_CA_BUNDLE, else the profile's ca_bundle)"},
      {"output", "FORMAT", false, false,
       "text (default) or json, shaped as the AWS CLI prints it (default: AWS_DEFAULT_OUTPUT, "
       "else the profile's output)"},
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
      {"version", nullptr, false, false, "print the version and exit"},
      {"no-checksum-validation", nullptr, false, false,
       "do not check the MD5 digests of sent and received messages (for services that send "
       "none)"},
      {"max-attempts", "N", false, false,
       "try a request at most N times in all when it is throttled or meets a passing fault "
       "(default: AWS_MAX_ATTEMPTS, else 3; 1: no retries)"},
      {"max-time", "SECONDS", false, false,
       "give up a request after SECONDS in all, retries and their waits included (default 90; "
       "0: never)"},
      {"proxy", "URL", false, false,
       "send requests through the HTTP proxy http://[USER:PASSWORD@]HOST[:PORT] (default: "
       "https_proxy or http_proxy, unless no_proxy lists the host)"},
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

struct TCommandLine {
  const TCommandEntry* Command = nullptr;
  TValues Global;
  TValues Own;
  bool Help = false;
  bool Version = false;
};

// Where the command reads its environment and the shared AWS files.
struct TCommandEnvironment {
  TbrvEnvironmentLookup Lookup;
  std::string HomeDirectory;

  std::string Get(const std::string& Name) const { return Lookup ? Lookup(Name) : std::string(); }
};

std::vector<TOptionEntry> CommandOptions(const TCommandEntry& Command);
const TOptionEntry* FindOption(const std::vector<TOptionEntry>& Options, const std::string& Name);

// --- running a command ---

// While it lives, SIGINT raises a cancellation (and nothing else: the signal only sets a flag
// and wakes the waits that watch it).
class TInterruptCancels {
 public:
  explicit TInterruptCancels(TIdCancellation& Cancellation) {
    current_ = &Cancellation;
    struct sigaction action {};
    action.sa_handler = [](int) {
      if (TIdCancellation* cancellation = current_.load()) cancellation->Cancel();
    };
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previous_);
  }
  ~TInterruptCancels() {
    sigaction(SIGINT, &previous_, nullptr);
    current_ = nullptr;
  }
  TInterruptCancels(const TInterruptCancels&) = delete;
  TInterruptCancels& operator=(const TInterruptCancels&) = delete;

 private:
  static inline std::atomic<TIdCancellation*> current_{nullptr};
  struct sigaction previous_ {};
};

// Messages an import sends in their order, batch by batch; the messages are owned elsewhere.
struct TImportLane {
  TImportLane() { Messages.SetOwnObjects(false); }
  TbrvSQSSendMessageRequests Messages;
  std::vector<int> Starts;       // as SplitIntoBatches makes them
  std::atomic<size_t> Next{0};  // the next batch to send
};

class TCommandRun {
 public:
  // EndPoint receives the endpoint once the client is configured, for failure texts.
  TCommandRun(const TCommandLine& Line, const TCommandEnvironment& Environment, std::ostream& Out,
              std::ostream& Err, std::string& EndPoint)
      : line_(Line), environment_(Environment), out_(Out), err_(Err), endpoint_(EndPoint) {}

  int Run() {
    const std::vector<TOptionEntry> options = CommandOptions(*line_.Command);
    const bool by_url = FindOption(options, "queue-url") != nullptr;
    for (const TOptionEntry& option : options) {
      if (by_url && std::string(option.Name) == "queue-name") {
        if (Has("queue-name") == Has("queue-url"))
          throw TUsageError{std::string(line_.Command->Name) +
                            " needs either --queue-name or --queue-url"};
      } else if (option.Required && line_.Own.count(option.Name) == 0) {
        throw TUsageError{std::string(line_.Command->Name) + " needs --" + option.Name};
      }
    }
    Configure();
    endpoint_ = client_.EndPoint();
    return (this->*line_.Command->Run)();
  }

  int ListQueues() {
    // Every page is followed; without --page-size a page is as large as the service allows, or
    // as --max-items when that is smaller.
    const int max_items = Has("max-items") ? Integer("max-items", 1, 1000000) : 0;
    int page_size = Has("page-size") ? Integer("page-size", 1, 1000) : 1000;
    if (!Has("page-size") && max_items > 0 && max_items < page_size) page_size = max_items;
    TStringList queues;
    if (!client_.ListAllQueues(queues, Value("queue-name-prefix"), page_size, max_items))
      return Failed();
    if (json_)
      WriteSQSJson(out_, SQSQueueUrlsJson("QueueUrls", queues));
    else
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
    PrintQueueURL(url);
    return sqsExitSuccess;
  }

  int GetQueueUrl() {
    std::string url = client_.GetQueueURL(Queue());
    if (url.empty()) return Failed();
    if (url.back() == '/') url.pop_back();  // as the service gives it
    PrintQueueURL(url);
    return sqsExitSuccess;
  }

  int DeleteQueue() { return Done(client_.DeleteQueue(Queue())); }
  int PurgeQueue() { return Done(client_.PurgueQueue(Queue())); }

  int GetQueueAttributes() {
    TbrvSQSAttributes attributes;
    if (!client_.GetQueueAttributes(Queue(), attributes)) return Failed();
    if (json_) {
      WriteSQSJson(out_, SQSAttributesJson(attributes));
      return sqsExitSuccess;
    }
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
    if (json_) {
      WriteSQSJson(out_, SQSSendMessageJson(response));
      return sqsExitSuccess;
    }
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
    TbrvSQSBatchResult result;
    const bool all = client_.SendMessageBatch(Queue(), requests, responses, result);
    if (json_) {
      TSQSJson successful = TSQSJson::array();
      for (int i = 0; i < responses.Count(); ++i)
        successful.push_back(SQSSendMessageBatchEntryJson(*responses.Items(i)));
      PrintBatchJson(std::move(successful), result);
    } else {
      for (int i = 0; i < responses.Count(); ++i)
        PrintPair(responses.Items(i)->ID(), responses.Items(i)->MessageId());
    }
    return BatchOutcome(all, requests, result);
  }

  int ReceiveMessage() {
    TbrvSQSReceiveMessageRequest request;
    if (Has("max-number-of-messages"))
      request.SetMaxNumberOfMessages(Integer("max-number-of-messages", 1, 10));
    // Sent as typed, 0 included: 0 is a value of its own, not the queue's default.
    if (Has("visibility-timeout"))
      request.SetExplicitVisibilityTimeout(Integer("visibility-timeout", 0, 43200));
    if (Has("wait-time-seconds"))
      request.SetExplicitWaitTimeSeconds(Integer("wait-time-seconds", 0, 20));
    TStringList names;
    for (const std::string& name : Values("attribute-name")) names.Add(AttributeNamed(name));
    for (const std::string& name : Values("message-attribute-name"))
      request.MessageAttributeName().Add(name);
    request.SetReceiveRequestAttemptId(Value("receive-request-attempt-id"));
    TbrvSQSReceiveMessageResponses messages;
    if (!client_.ReceiveMessage(Queue(), request, names, messages)) return Failed();
    if (json_) {
      WriteSQSJson(out_, SQSMessagesJson(messages));
      return sqsExitSuccess;
    }
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
    TbrvSQSBatchResult result;
    const bool all = client_.DeleteMessageBatch(Queue(), items, result);
    if (json_) PrintBatchJson(SuccessfulIdsJson(result), result);
    return BatchOutcome(all, items, result);
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
    TbrvSQSBatchResult result;
    const bool all = client_.ChangeMessageVisibilityBatch(Queue(), requests, result);
    if (json_)
      PrintBatchJson(SuccessfulIdsJson(result), result);
    else
      PrintLines(result.Successful());
    return BatchOutcome(all, requests, result);
  }

  int ListQueueTags() {
    TbrvSQSTags tags;
    if (!client_.ListQueueTags(Queue(), tags)) return Failed();
    if (json_) {
      WriteSQSJson(out_, SQSTagsJson(tags));
      return sqsExitSuccess;
    }
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
    TStringList accounts, actions;
    for (const std::string& account : Values("aws-account-ids")) accounts.Add(account);
    for (const std::string& action : Values("actions")) actions.Add(action);
    return Done(client_.AddPermission(Queue(), Value("label"), accounts, actions));
  }

  int RemovePermission() { return Done(client_.RemovePermission(Queue(), Value("label"))); }

  int ListDeadLetterSourceQueues() {
    TStringList queues;
    if (!client_.ListDeadLetterSourceQueues(Queue(), queues)) return Failed();
    if (json_)
      WriteSQSJson(out_, SQSQueueUrlsJson("queueUrls", queues));
    else
      PrintLines(queues);
    return sqsExitSuccess;
  }

  // --- message tools ---

  int Peek() {
    TbrvSQSPeekOptions options;
    if (Has("max")) options.MaxMessages = Integer("max", 1, 1000000);
    if (Has("visibility-timeout"))
      options.VisibilityTimeout = Integer("visibility-timeout", 1, 43200);
    TbrvSQSReceiveMessageResponses messages;
    const bool ok = PeekMessages(client_, Queue(), options, messages);
    if (json_)
      WriteSQSJson(out_, SQSMessagesJson(messages));
    else
      for (int i = 0; i < messages.Count(); ++i) PrintMessage(*messages.Items(i));
    return Done(ok);
  }

  int Tail() {
    TbrvSQSTailOptions options;
    options.DeleteAfterCallback = Has("delete");
    if (Has("wait")) options.WaitTimeSeconds = Integer("wait", 0, 20);
    if (Has("max")) options.MaxMessages = Integer("max", 1, 1000000);
    if (Has("duration"))
      options.Duration = std::chrono::seconds(Integer("duration", 1, 7 * 24 * 3600));
    // Ctrl-C raises the client's cancellation: a long poll in flight ends at once, and a
    // message being printed is printed whole first.
    auto cancellation = std::make_shared<TIdCancellation>();
    client_.SetCancellation(cancellation);
    TInterruptCancels interrupt(*cancellation);
    const TbrvSQSTailEnd end = TailMessages(
        client_, Queue(), options, [this](const TbrvSQSReceiveMessageResponse& Message) {
          if (json_)
            WriteSQSJsonLine(out_, {{"Messages", TSQSJson::array({SQSMessageJson(Message)})}});
          else
            PrintMessage(Message);
          out_.flush();
        });
    client_.SetCancellation(nullptr);
    return end == sqsteFailed ? Failed() : Done(true);
  }

  int Move() {
    TbrvSQSMoveOptions options;
    if (Has("max")) options.MaxMessages = Integer("max", 1, 100000000);
    if (Has("visibility-timeout"))
      options.VisibilityTimeout = Integer("visibility-timeout", 1, 43200);
    options.MessageGroupId = Value("group-id");
    const bool terminal = isatty(STDERR_FILENO) == 1 && &err_ == &std::cerr;
    if (terminal) {
      options.OnProgress = [this](const TbrvSQSMoveProgress& Progress) {
        err_ << "\rreceived " << Progress.Received << ", moved " << Progress.Moved << ", not sent "
             << Progress.SendFailed << ", not deleted " << Progress.DeleteFailed << std::flush;
      };
    }
    // Ctrl-C ends the move between batches: the batch under way is sent and deleted first.
    auto interrupted = std::make_shared<TIdCancellation>();
    TInterruptCancels interrupt(*interrupted);
    options.Cancelled = [interrupted] { return interrupted->Cancelled(); };
    TbrvSQSMoveResult result;
    bool ok = false;
    try {
      ok = MoveMessages(client_, Value("from"), Value("to"), options, result);
    } catch (const EbrvSQSMoveRefused& E) {
      throw TUsageError{E.Message()};
    }
    if (terminal) err_ << "\n";
    PrintMoveResult(result);
    for (const std::string& failure : result.Failures) err_ << EscapeOutputValue(failure) << "\n";
    if (!result.Failures.empty()) return unusable_ ? sqsExitUnusable : sqsExitServiceError;
    return Done(ok);
  }

  int Export() {
    const int max = Has("max") ? Integer("max", 1, 100000000) : 0;
    const int visibility = Has("visibility-timeout") ? Integer("visibility-timeout", 1, 43200) : 60;
    const bool remove = Has("delete");
    // A file is synced before its messages are deleted, so that a crash cannot lose them.
    struct stat info {};
    const bool sync =
        remove && &out_ == &std::cout && fstat(STDOUT_FILENO, &info) == 0 && S_ISREG(info.st_mode);
    TbrvSQSChangeMessageVisibilityBatchRequests restore;
    std::set<std::string> seen;
    bool ok = true;
    int written = 0;
    while (max == 0 || written < max) {
      TbrvSQSReceiveMessageRequest request;
      request.SetMaxNumberOfMessages(max == 0 ? 10 : std::min(10, max - written));
      request.SetExplicitVisibilityTimeout(visibility);
      request.SetExplicitWaitTimeSeconds(1);  // a short poll may miss messages
      request.MessageAttributeName().Add("All");
      TStringList names;
      names.Add("All");
      TbrvSQSReceiveMessageResponses messages;
      if (!client_.ReceiveMessage(Queue(), request, names, messages)) {
        ok = false;
        break;
      }
      if (messages.Count() == 0) break;
      TbrvSQSDeleteMessageBatchRequestItems deletes;
      for (int i = 0; i < messages.Count(); ++i) {
        const TbrvSQSReceiveMessageResponse& message = *messages.Items(i);
        const std::string id = "m" + std::to_string(i);
        if (!remove)
          restore.AddSQSChangeVisibility("m" + std::to_string(restore.Count()),
                                         message.ReceiptHandle(), 0);
        if (!seen.insert(message.MessageId()).second) continue;
        PrintExportLine(message);
        deletes.AddSQSDeleteMessage(id, message.ReceiptHandle());
        ++written;
      }
      out_.flush();
      if (!out_) throw TUsageError{"cannot write the exported messages"};
      if (remove) {
        if (sync && fsync(STDOUT_FILENO) != 0)
          throw TUsageError{"cannot sync the exported messages to their file"};
        TbrvSQSBatchResult result;
        if (deletes.Count() > 0 && !client_.DeleteMessageBatch(Queue(), deletes, result)) {
          // Written but still in the queue: named by message id, so the line can be found.
          ok = false;
          for (int i = 0; i < deletes.Count(); ++i) {
            const std::string& id = deletes.Items(i)->ID();
            if (result.Successful().IndexOf(id) >= 0) continue;
            const TbrvSQSBatchResultErrorEntry* failed = result.Failed().Find(id);
            err_ << EscapeOutputValue(messages.Items(std::stoi(id.substr(1)))->MessageId())
                 << ": exported but not deleted"
                 << (failed != nullptr ? ": " + EscapeOutputValue(failed->Code()) + ": " +
                                             EscapeOutputValue(failed->Message())
                                       : std::string())
                 << "\n";
            reported_ = true;
          }
        }
      }
    }
    if (restore.Count() > 0) {
      TbrvSQSBatchResult result;
      ok = client_.ChangeMessageVisibilityBatch(Queue(), restore, result) && ok;
    }
    return Done(ok);
  }

  int Import() {
    const int concurrency = Has("concurrency") ? Integer("concurrency", 1, 64) : 1;
    std::ifstream file;
    std::istream* in = &std::cin;
    if (Has("file") && Value("file") != "-") {
      file.open(Value("file"), std::ios::binary);
      if (!file) throw TUsageError{"cannot read " + Value("file")};
      in = &file;
    }
    const bool fifo = IsFifoQueueName(Queue());
    std::vector<std::unique_ptr<TbrvSQSSendMessageRequest>> parsed;
    std::map<int, std::string> failures;  // line number to reason
    ReadImportLines(*in, fifo, concurrency, parsed, failures);
    // Lanes of messages, each sent in file order. To a standard queue every connection takes
    // batches from the one lane; to a FIFO queue each connection has a lane of its own, and
    // every message group goes to one lane, so that a group's messages arrive in file order.
    const size_t lane_count = fifo ? static_cast<size_t>(concurrency) : 1;
    std::vector<TImportLane> lanes(lane_count);
    for (const std::unique_ptr<TbrvSQSSendMessageRequest>& message : parsed) {
      const size_t lane =
          fifo ? std::hash<std::string>{}(message->MessageGroupId()) % lane_count : 0;
      lanes[lane].Messages.AddItem(message.get());
    }
    // The queue URL is resolved once, before the connections share the work.
    if (!parsed.empty() && client_.GetQueueURL(Queue()).empty()) return Failed();
    for (TImportLane& lane : lanes) lane.Starts = SplitIntoBatches(lane.Messages);

    std::mutex lock;
    std::atomic<bool> stop{false};
    std::vector<std::unique_ptr<TCommandRun>> workers;
    std::vector<TbrvHTTP_Amazon_AWS_SQS_Client*> clients{&client_};
    std::string other_endpoint;
    for (int i = 1; i < concurrency; ++i) {
      workers.push_back(
          std::make_unique<TCommandRun>(line_, environment_, out_, err_, other_endpoint));
      workers.back()->Configure();
      clients.push_back(&workers.back()->client_);
    }
    for (TbrvHTTP_Amazon_AWS_SQS_Client* client : clients) {
      client->OnSQSError = [this, &lock](TObject*, const std::string& Code,
                                         const std::string& Message, const std::string& Raw) {
        std::lock_guard<std::mutex> guard(lock);
        reported_ = true;
        if (Code == "ChecksumMismatch") unusable_ = true;
        err_ << (Code.empty() && Message.empty()
                     ? "error: " + EscapeOutputValue(Raw)
                     : EscapeOutputValue(Code) + ": " + EscapeOutputValue(Message))
             << "\n";
      };
    }
    std::exception_ptr thrown;
    int sent = 0;
    const auto work = [&](TbrvHTTP_Amazon_AWS_SQS_Client* Client, TImportLane* Lane) {
      try {
        TbrvSQSSendMessageRequests batch;
        batch.SetOwnObjects(false);  // the messages stay with the lane
        for (size_t b = Lane->Next++; b + 1 < Lane->Starts.size() && !stop; b = Lane->Next++) {
          batch.Clear();
          for (int i = Lane->Starts[b]; i < Lane->Starts[b + 1]; ++i)
            batch.AddItem(Lane->Messages.Items(i));
          TbrvSQSSendMessageResponses responses;
          TbrvSQSBatchResult result;
          Client->SendMessageBatch(Queue(), batch, responses, result);
          std::lock_guard<std::mutex> guard(lock);
          for (int i = 0; i < batch.Count(); ++i) {
            const std::string& id = batch.Items(i)->ID();
            if (result.Successful().IndexOf(id) >= 0) {
              ++sent;
              continue;
            }
            const TbrvSQSBatchResultErrorEntry* failed = result.Failed().Find(id);
            failures[std::stoi(id.substr(1))] =
                failed != nullptr ? failed->Code() + ": " + failed->Message() : "not sent";
          }
        }
      } catch (...) {
        std::lock_guard<std::mutex> guard(lock);
        if (!thrown) thrown = std::current_exception();
        stop = true;
      }
    };
    std::vector<std::thread> threads;
    for (size_t i = 1; i < clients.size(); ++i)
      threads.emplace_back(work, clients[i], &lanes[fifo ? i : 0]);
    work(&client_, &lanes[0]);
    for (std::thread& thread : threads) thread.join();
    if (thrown) std::rethrow_exception(thrown);
    PrintImportResult(sent, failures);
    return failures.empty() ? sqsExitSuccess : (unusable_ ? sqsExitUnusable : sqsExitServiceError);
  }

  int Redrive() {
    const std::string source = QueueArn(Queue());
    if (source.empty()) return Failed();
    std::string target;
    if (Has("to")) {
      target = QueueArn(Value("to"));
      if (target.empty()) return Failed();
    }
    const int rate = Has("max-per-second") ? Integer("max-per-second", 1, 500) : 0;
    std::string handle;
    if (!client_.StartMessageMoveTask(source, target, rate, handle)) return Failed();
    if (json_)
      WriteSQSJson(out_, {{"TaskHandle", handle}});
    else
      PrintPair("TaskHandle", handle);
    return Done(true);
  }

  int RedriveStatus() {
    const std::string source = QueueArn(Queue());
    if (source.empty()) return Failed();
    TbrvSQSMessageMoveTasks tasks;
    if (!client_.ListMessageMoveTasks(
            source, Has("max-results") ? Integer("max-results", 1, 10) : 10, tasks))
      return Failed();
    if (json_)
      WriteSQSJson(out_, SQSMessageMoveTasksJson(tasks));
    else
      for (int i = 0; i < tasks.Count(); ++i) PrintMoveTask(*tasks.Items(i));
    return Done(true);
  }

  int RedriveCancel() {
    long long moved = 0;
    if (!client_.CancelMessageMoveTask(Value("task-handle"), moved)) return Failed();
    if (json_)
      WriteSQSJson(out_, {{"ApproximateNumberOfMessagesMoved", moved}});
    else
      PrintPair("ApproximateNumberOfMessagesMoved", std::to_string(moved));
    return Done(true);
  }

 private:
  // The client from the command line, the environment and the shared AWS files, in that
  // order. Everything the client would otherwise read from the process environment is set
  // here, so that the environment the command was given is the only one that counts.
  void Configure() {
    // The client reads its endpoint, CA bundle, attempts and proxy variables from the same
    // environment as the command, never from the process behind its back.
    client_.SetEnvironment([this](const std::string& Name) { return environment_.Get(Name); });
    TbrvAWSConfigRequest request;
    request.Profile = GlobalValue("profile");
    // An empty --region leaves the region to the environment and the profile, as before.
    if (!GlobalValue("region").empty()) request.Region = GlobalValue("region");
    request.EndPointURL = GlobalValue("endpoint-url");
    TbrvAWSConfig config;
    try {
      TbrvAWSConfigResolver resolver(environment_.Lookup, environment_.HomeDirectory);
      config = resolver.Resolve(request);
    } catch (const EbrvAWSConfigError& E) {
      // The message may carry what a credential process wrote to its standard error.
      throw TUsageError{EscapeOutputValue(E.Message())};
    }
    if (!config.HasCredentials())
      throw TUsageError{
          "no credentials: set AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY, or give a profile "
          "(--profile or AWS_PROFILE) with keys or a credential_process in ~/.aws"};
    if (config.Region.empty())
      throw TUsageError{
          "no region: give --region, set AWS_REGION or AWS_DEFAULT_REGION, or give the profile "
          "a region"};
    if (config.EndPoint.find("://") == std::string::npos)
      throw TUsageError{"the endpoint \"" + EscapeOutputValue(config.EndPoint) +
                        "\" has no scheme: write http:// or https:// before the host"};
    json_ = OutputIsJson(config.Output);
    ApplyAWSConfig(config, client_);

    IbrvAWSHTTPClient& http = client_.GetHTTPClient();
    http.TLSOptions().RootCertFile = config.CABundle;
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
    if (line_.Global.count("no-checksum-validation") != 0) client_.SetChecksumValidation(false);
    if (line_.Global.count("max-attempts") != 0)
      client_.SetMaxAttempts(ParseInteger("max-attempts", GlobalValue("max-attempts"), 1, 100));
    else
      client_.SetMaxAttempts(MaxAttemptsFromEnvironment());
    if (line_.Global.count("max-time") != 0)
      client_.SetMaxTime(
          std::chrono::seconds(ParseInteger("max-time", GlobalValue("max-time"), 0, 24 * 3600)));
    if (line_.Global.count("proxy") != 0) {
      try {
        ParseProxyURL(GlobalValue("proxy"));
      } catch (const EbrvAWSProxyError& E) {
        throw TUsageError{"--proxy: " + E.Message()};
      }
      client_.SetProxy(GlobalValue("proxy"));
    } else {
      client_.SetProxy(ProxyFromEnvironment(config.EndPoint));
    }
    if (Has("queue-url")) {
      // Known without asking: the URL stands for itself in the client's cache of queue URLs.
      const std::string url = Value("queue-url");
      client_.GetQueues().AddSQSQueue(client_.EndPoint(), client_.AWSOptions().AccessKey, url, url);
    }
    if (line_.Global.count("log-file") != 0) {
      client_.LogFile().FileName = GlobalValue("log-file");
      client_.LogFile().Enabled = true;
    }
    client_.OnSQSError = [this](TObject*, const std::string& Code, const std::string& Message,
                                const std::string& Raw) {
      reported_ = true;
      // The integrity checks report a message that arrived altered as this service error.
      if (Code == "ChecksumMismatch") unusable_ = true;
      const std::string report = Code.empty() && Message.empty()
                                     ? "error: " + EscapeOutputValue(Raw)
                                     : EscapeOutputValue(Code) + ": " + EscapeOutputValue(Message);
      // An operation on a queue that cannot be resolved is still sent (to the endpoint) and
      // refused again for the same reason: that says nothing new.
      if (report != last_report_) err_ << report << "\n";
      last_report_ = report;
    };
  }

  // Whether answers are printed as JSON: --output, else the environment's or the profile's
  // choice. A format this command does not print (table, yaml) chosen for the AWS CLI in the
  // environment or a profile leaves the text; given as --output it is an error.
  bool OutputIsJson(const std::string& Configured) const {
    if (line_.Global.count("output") != 0) {
      const std::string format = GlobalValue("output");
      if (format != "text" && format != "json")
        throw TUsageError{"--output is text or json, not \"" + format + "\""};
      return format == "json";
    }
    return Configured == "json";
  }

  // AWS_MAX_ATTEMPTS when it is a positive whole number, else the client's default.
  int MaxAttemptsFromEnvironment() const {
    const std::string text = environment_.Get("AWS_MAX_ATTEMPTS");
    if (!text.empty() && text.size() <= 4 &&
        text.find_first_not_of("0123456789") == std::string::npos && std::stoi(text) > 0)
      return std::stoi(text);
    return brvAWSDefaultMaxAttempts;
  }

  // The proxy URL the environment names for requests to EndPoint (https_proxy or http_proxy,
  // lower case first), or empty when there is none or no_proxy lists the endpoint's host.
  std::string ProxyFromEnvironment(const std::string& EndPoint) const {
    const auto lookup = [this](const std::string& Name) { return environment_.Get(Name); };
    TbrvAWSProxy proxy;
    try {
      proxy = ProxyForEndPoint(EndPoint, "", lookup);
    } catch (const EbrvAWSProxyError& E) {
      throw TUsageError{"the proxy of the environment: " + E.Message()};
    }
    if (proxy.Empty()) return {};
    const bool secure = EndPoint.rfind("https:", 0) == 0;
    for (const char* name :
         {secure ? "https_proxy" : "http_proxy", secure ? "HTTPS_PROXY" : "HTTP_PROXY"})
      if (const std::string url = environment_.Get(name); !url.empty()) return url;
    return {};
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
  // The queue as the client's operations take it: its name, or its URL (cached as itself).
  std::string Queue() const { return Has("queue-url") ? Value("queue-url") : Value("queue-name"); }

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
    // Sent as typed, 0 included: 0 is a value of its own, not the queue's default.
    if (Has("delay-seconds")) Request.SetExplicitDelaySeconds(Integer("delay-seconds", 0, 900));
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

  // A name receive-message may ask for: a message system attribute, or (as before) a queue
  // attribute name.
  static const std::string& AttributeNamed(const std::string& Name) {
    static const std::vector<std::string> kMessageSystemAttributes = {
        "All",
        "SenderId",
        "SentTimestamp",
        "ApproximateReceiveCount",
        "ApproximateFirstReceiveTimestamp",
        "SequenceNumber",
        "MessageDeduplicationId",
        "MessageGroupId",
        "AWSTraceHeader",
        "DeadLetterQueueSourceArn"};
    for (const std::string& known : kMessageSystemAttributes)
      if (known == Name) return known;
    for (int value = sqsatAll; value <= sqsatKmsDataKeyReusePeriodSeconds; ++value) {
      const auto attribute = static_cast<TbrvAWSSQSAttribute>(value);
      if (SQSAttributeWireName(attribute) == Name) return Name;
    }
    throw TUsageError{"--attribute-name: no attribute is called \"" + Name + "\""};
  }

  // The status of a batch: each entry the service did not carry out is named on standard
  // error, with the service's code and message when it gave them.
  template <class TList>
  int BatchOutcome(bool All, const TList& Entries, const TbrvSQSBatchResult& Result) {
    bool any_failed = false;
    for (int i = 0; i < Entries.Count(); ++i) {
      const std::string& id = Entries.Items(i)->ID();
      if (Result.Successful().IndexOf(id) >= 0) continue;
      any_failed = true;
      err_ << EscapeOutputValue(id);
      if (const TbrvSQSBatchResultErrorEntry* failed = Result.Failed().Find(id))
        err_ << ": " << EscapeOutputValue(failed->Code()) << ": "
             << EscapeOutputValue(failed->Message()) << "\n";
      else
        err_ << ": not accepted\n";
    }
    if (!All && !any_failed) return Failed();
    return any_failed ? (unusable_ ? sqsExitUnusable : sqsExitServiceError) : Done(true);
  }

  void PrintQueueURL(const std::string& URL) {
    if (json_)
      WriteSQSJson(out_, SQSQueueUrlJson(URL));
    else
      out_ << EscapeOutputValue(URL) << "\n";
  }
  static TSQSJson SuccessfulIdsJson(const TbrvSQSBatchResult& Result) {
    TSQSJson successful = TSQSJson::array();
    for (const std::string& id : Result.Successful().Lines()) successful.push_back({{"Id", id}});
    return successful;
  }
  // A batch answer as the AWS CLI prints it: {"Successful": [...], "Failed": [...]}, each list
  // only when it has entries. The refused entries are also named on standard error.
  void PrintBatchJson(TSQSJson Successful, const TbrvSQSBatchResult& Result) {
    TSQSJson json = TSQSJson::object();
    if (!Successful.empty()) json["Successful"] = std::move(Successful);
    for (int i = 0; i < Result.Failed().Count(); ++i)
      json["Failed"].push_back(SQSBatchFailedJson(*Result.Failed().Items(i)));
    WriteSQSJson(out_, json);
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
    return unusable_ ? sqsExitUnusable : sqsExitServiceError;
  }

  // --- the message tools' printing and reading, one place each ---

  // A received message, one NAME=VALUE line per field.
  void PrintMessage(const TbrvSQSReceiveMessageResponse& Message) {
    PrintPair("MessageId", Message.MessageId());
    PrintPair("ReceiptHandle", Message.ReceiptHandle());
    PrintPair("MD5OfBody", Message.MD5OfBody());
    if (!Message.MD5OfMessageAttributes().empty())
      PrintPair("MD5OfMessageAttributes", Message.MD5OfMessageAttributes());
    PrintPair("Body", Message.Body());
    for (int a = 0; a < Message.Attributes().Count(); ++a) {
      const TbrvSQSAttribute& attribute = *Message.Attributes().Items(a);
      PrintPair("Attribute." + attribute.AttributeName(), attribute.AttributeValue());
    }
    for (int a = 0; a < Message.MessageAttributes().Count(); ++a) {
      const TbrvSQSMessageAttributeItem& attribute = *Message.MessageAttributes().Items(a);
      PrintPair("MessageAttribute." + attribute.AttributeName() + ":" + attribute.AttributeType(),
                attribute.AttributeValue());
    }
  }

  void PrintMoveResult(const TbrvSQSMoveResult& Result) {
    if (json_) {
      WriteSQSJson(out_, {{"Received", Result.Counts.Received},
                          {"Moved", Result.Counts.Moved},
                          {"NotSent", Result.Counts.SendFailed},
                          {"NotDeleted", Result.Counts.DeleteFailed}});
      return;
    }
    PrintPair("Received", std::to_string(Result.Counts.Received));
    PrintPair("Moved", std::to_string(Result.Counts.Moved));
    PrintPair("NotSent", std::to_string(Result.Counts.SendFailed));
    PrintPair("NotDeleted", std::to_string(Result.Counts.DeleteFailed));
  }

  // The count on standard output; each line that failed, by number, on standard error.
  void PrintImportResult(int Sent, const std::map<int, std::string>& Failures) {
    if (json_) {
      WriteSQSJson(out_, {{"Sent", Sent}, {"Failed", Failures.size()}});
    } else {
      PrintPair("Sent", std::to_string(Sent));
      PrintPair("Failed", std::to_string(Failures.size()));
    }
    for (const auto& [number, reason] : Failures)
      err_ << "line " << number << ": " << EscapeOutputValue(reason) << "\n";
  }

  void PrintMoveTask(const TbrvSQSMessageMoveTask& Task) {
    if (!Task.TaskHandle().empty()) PrintPair("TaskHandle", Task.TaskHandle());
    PrintPair("Status", Task.Status);
    PrintPair("SourceArn", Task.SourceArn);
    if (!Task.DestinationArn.empty()) PrintPair("DestinationArn", Task.DestinationArn);
    PrintPair("ApproximateNumberOfMessagesMoved",
              std::to_string(Task.ApproximateNumberOfMessagesMoved));
    if (Task.ApproximateNumberOfMessagesToMove >= 0)
      PrintPair("ApproximateNumberOfMessagesToMove",
                std::to_string(Task.ApproximateNumberOfMessagesToMove));
    if (Task.MaxNumberOfMessagesPerSecond > 0)
      PrintPair("MaxNumberOfMessagesPerSecond", std::to_string(Task.MaxNumberOfMessagesPerSecond));
    if (!Task.FailureReason.empty()) PrintPair("FailureReason", Task.FailureReason);
    if (Task.StartedTimestamp > 0)
      PrintPair("StartedTimestamp", std::to_string(Task.StartedTimestamp));
  }

  // One exported message as a line of JSON: its id, body, digests, system attributes and
  // message attributes (a binary value as its base64 text).
  void PrintExportLine(const TbrvSQSReceiveMessageResponse& Message) {
    nlohmann::ordered_json line;
    line["MessageId"] = Message.MessageId();
    line["Body"] = Message.Body();
    line["MD5OfBody"] = Message.MD5OfBody();
    if (!Message.MD5OfMessageAttributes().empty())
      line["MD5OfMessageAttributes"] = Message.MD5OfMessageAttributes();
    nlohmann::ordered_json attributes = nlohmann::ordered_json::object();
    for (int a = 0; a < Message.Attributes().Count(); ++a)
      attributes[Message.Attributes().Items(a)->AttributeName()] =
          Message.Attributes().Items(a)->AttributeValue();
    line["Attributes"] = attributes;
    nlohmann::ordered_json message_attributes = nlohmann::ordered_json::object();
    for (int a = 0; a < Message.MessageAttributes().Count(); ++a) {
      const TbrvSQSMessageAttributeItem& item = *Message.MessageAttributes().Items(a);
      const bool binary = item.AttributeType().rfind("Binary", 0) == 0;
      message_attributes[item.AttributeName()] = {
          {"DataType", item.AttributeType()},
          {binary ? "BinaryValue" : "StringValue", item.AttributeValue()}};
    }
    line["MessageAttributes"] = message_attributes;
    out_ << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
  }

  // Reads the lines of an export from In and parses them on up to Threads threads: the
  // messages in line order into aMessages (each with the entry id "l" and its line number),
  // each line that cannot be sent into aFailures. Empty lines are skipped. The input is read
  // in blocks of whole lines, so that only one block of its text is held at a time.
  static void ReadImportLines(std::istream& In, bool Fifo, int Threads,
                              std::vector<std::unique_ptr<TbrvSQSSendMessageRequest>>& aMessages,
                              std::map<int, std::string>& aFailures) {
    constexpr size_t kBlock = 8 << 20;
    std::string block, carry;
    std::vector<std::pair<int, std::string_view>> lines;
    int number = 0;
    for (bool end = false; !end;) {
      block.swap(carry);
      carry.clear();
      char buffer[1 << 16];
      for (const size_t want = block.size() + kBlock; block.size() < want;) {
        In.read(buffer, sizeof buffer);
        block.append(buffer, static_cast<size_t>(In.gcount()));
        if (!In) {
          end = true;
          break;
        }
      }
      if (!end) {
        // The unfinished last line waits for the next block.
        const size_t last = block.rfind('\n');
        if (last == std::string::npos) {
          carry.swap(block);
          continue;
        }
        carry.assign(block, last + 1);
        block.resize(last + 1);
      }
      lines.clear();
      std::string_view rest = block;
      while (!rest.empty()) {
        ++number;
        const size_t line_end = std::min(rest.find('\n'), rest.size());
        const std::string_view text = rest.substr(0, line_end);
        rest.remove_prefix(std::min(line_end + 1, rest.size()));
        if (!text.empty() && text != "\r") lines.emplace_back(number, text);
      }
      // Each line is parsed by whichever thread is free.
      std::vector<std::unique_ptr<TbrvSQSSendMessageRequest>> parsed(lines.size());
      std::vector<std::string> reasons(lines.size());
      std::atomic<size_t> next{0};
      std::exception_ptr thrown;
      std::mutex lock;
      const auto parse = [&] {
        constexpr size_t kChunk = 64;
        try {
          for (size_t from = next.fetch_add(kChunk); from < lines.size();
               from = next.fetch_add(kChunk)) {
            for (size_t i = from; i < std::min(from + kChunk, lines.size()); ++i) {
              parsed[i] = ImportRequest(lines[i].second, Fifo, reasons[i]);
              if (parsed[i]) parsed[i]->SetID("l" + std::to_string(lines[i].first));
            }
          }
        } catch (...) {
          std::lock_guard<std::mutex> guard(lock);
          if (!thrown) thrown = std::current_exception();
          next = lines.size();
        }
      };
      std::vector<std::thread> parsers;
      const size_t helpers = std::min<size_t>(Threads, lines.size() / 256 + 1) - 1;
      for (size_t i = 0; i < helpers; ++i) parsers.emplace_back(parse);
      parse();
      for (std::thread& parser : parsers) parser.join();
      if (thrown) std::rethrow_exception(thrown);
      for (size_t i = 0; i < lines.size(); ++i) {
        if (parsed[i])
          aMessages.push_back(std::move(parsed[i]));
        else
          aFailures[lines[i].first] = std::move(reasons[i]);
      }
    }
  }

  // The message an exported line describes, or null with the reason. To a FIFO queue the
  // group id and deduplication id come from the exported system attributes (the message id
  // when the message had no deduplication id). Lines are parsed with simdjson: an import's
  // time went mostly to reading the JSON of its lines.
  static std::unique_ptr<TbrvSQSSendMessageRequest> ImportRequest(std::string_view Text, bool Fifo,
                                                                  std::string& Reason) {
    thread_local simdjson::dom::parser parser;
    simdjson::dom::object line;
    if (parser.parse(Text.data(), Text.size()).get(line) != simdjson::SUCCESS) {
      Reason = "not a JSON object";
      return nullptr;
    }
    // The string member Name of Object, or empty when there is none or it is not a string.
    const auto text = [](simdjson::dom::object Object, const char* Name) {
      std::string_view value;
      return Object[Name].get(value) == simdjson::SUCCESS ? std::string(value) : std::string();
    };
    std::string_view body;
    if (line["Body"].get(body) != simdjson::SUCCESS) {
      Reason = "no Body";
      return nullptr;
    }
    auto request = std::make_unique<TbrvSQSSendMessageRequest>();
    request->SetMessageBody(std::string(body));
    simdjson::dom::element attributes;
    if (line["MessageAttributes"].get(attributes) == simdjson::SUCCESS) {
      simdjson::dom::object items;
      if (attributes.get(items) != simdjson::SUCCESS) {
        Reason = "MessageAttributes is not an object";
        return nullptr;
      }
      // In name order, as they have always been sent and checked; of a name given twice the
      // last counts.
      thread_local std::vector<std::tuple<std::string_view, size_t, simdjson::dom::element>> sorted;
      sorted.clear();
      for (const simdjson::dom::key_value_pair item : items)
        sorted.emplace_back(item.key, sorted.size(), item.value);
      std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
        return std::tie(std::get<0>(a), std::get<1>(a)) < std::tie(std::get<0>(b), std::get<1>(b));
      });
      for (size_t i = 0; i < sorted.size(); ++i) {
        const auto& [name, order, element] = sorted[i];
        if (i + 1 < sorted.size() && std::get<0>(sorted[i + 1]) == name) continue;
        simdjson::dom::object value;
        const bool is_object = element.get(value) == simdjson::SUCCESS;
        const std::string type = is_object ? text(value, "DataType") : std::string();
        if (type.empty()) {
          Reason = "message attribute \"" + std::string(name) + "\" has no DataType";
          return nullptr;
        }
        const bool binary = type.rfind("Binary", 0) == 0;
        request->MessageAttributes().AddSQSAttribute(
            std::string(name), type, text(value, binary ? "BinaryValue" : "StringValue"));
      }
    }
    if (Fifo) {
      simdjson::dom::object system;
      const bool has_system = line["Attributes"].get(system) == simdjson::SUCCESS;
      request->SetMessageGroupId(has_system ? text(system, "MessageGroupId") : std::string());
      std::string deduplication = has_system ? text(system, "MessageDeduplicationId") : "";
      if (deduplication.empty()) deduplication = text(line, "MessageId");
      request->SetMessageDeduplicationId(deduplication);
      if (request->MessageGroupId().empty()) {
        Reason = "no MessageGroupId for a FIFO queue";
        return nullptr;
      }
    }
    return request;
  }

  // The ARN of a queue, from its attributes; empty when it cannot be had.
  std::string QueueArn(const std::string& Name) {
    TbrvSQSAttributes attributes;
    if (!client_.GetQueueAttributes(Name, attributes)) return std::string();
    const TbrvSQSAttribute* arn = attributes.Find("QueueArn");
    return arn != nullptr ? arn->AttributeValue() : std::string();
  }

  const TCommandLine& line_;
  const TCommandEnvironment& environment_;
  std::ostream& out_;
  std::ostream& err_;
  std::string& endpoint_;
  bool unusable_ = false;
  TbrvHTTPAWS_SQS_Client client_;
  bool reported_ = false;
  bool json_ = false;
  std::string last_report_;
};

// --- the commands ---

const std::vector<TCommandEntry>& Commands() {
  static const std::vector<TCommandEntry> commands = {
      {"list-queues",
       "list the URLs of the queues",
       {{"queue-name-prefix", "PREFIX", false, false, "only queues whose names start with PREFIX"},
        {"max-items", "N", false, false, "list at most N queues (default: all of them)"},
        {"page-size", "N", false, false,
         "ask for N queues per request, 1 to 1000 (default 1000); every page is followed"}},
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
        {"delay-seconds", "SECONDS", false, false,
         "keep the message hidden for 0 to 900 s (0: not at all, whatever the queue's default)"},
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
        {"visibility-timeout", "SECONDS", false, false,
         "hide them for SECONDS (0: not at all, whatever the queue's default)"},
        {"wait-time-seconds", "SECONDS", false, false,
         "wait up to SECONDS for a message (0: answer at once, whatever the queue's default)"},
        {"attribute-name", "NAME", false, true,
         "a message system attribute to receive: All, SenderId, SentTimestamp, "
         "ApproximateReceiveCount, ApproximateFirstReceiveTimestamp, SequenceNumber, "
         "MessageDeduplicationId, MessageGroupId, AWSTraceHeader or "
         "DeadLetterQueueSourceArn"},
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
       "nothing; the entries the service did not delete are named on standard error",
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
       "the ids of the entries the service changed, one per line; the others are named on "
       "standard error",
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
        {"aws-account-ids", "ACCOUNT", true, true, "an account id to grant the actions to"},
        {"actions", "ACTION", true, true,
         "an action to grant (SendMessage, ReceiveMessage, ..., or *); every account given "
         "gets every action given"}},
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
      {"peek",
       "look at messages without taking them (a receive: it raises their receive counts)",
       {kQueueName,
        {"max", "N", false, false, "look at up to N distinct messages (default 10)"},
        {"visibility-timeout", "SECONDS", false, false,
         "hide each message this long while the pages are read (default 30); all are made "
         "visible again at the end"}},
       "each message as receive-message prints it; with --output json one {\"Messages\": [...]}",
       &TCommandRun::Peek},
      {"tail",
       "print messages as they arrive, until --max, --duration or Ctrl-C",
       {kQueueName,
        {"delete", nullptr, false, false, "delete each message once it is printed"},
        {"wait", "SECONDS", false, false, "long-poll wait of each receive, 0 to 20 (default 20)"},
        {"max", "N", false, false, "stop after N messages"},
        {"duration", "SECONDS", false, false, "stop after this long"}},
       "each message as receive-message prints it; with --output json each message as its own "
       "{\"Messages\": [message]} on one line, as it arrives; Ctrl-C ends with status 0",
       &TCommandRun::Tail},
      {"move",
       "move messages to another queue: deleted from the source only once sent; Ctrl-C stops "
       "between batches",
       {{"from", "NAME", true, false, "the source queue"},
        {"to", "NAME", true, false, "the target queue"},
        {"max", "N", false, false, "move at most N messages (default: until the source is empty)"},
        {"group-id", "ID", false, false,
         "the message group of messages moved from a standard queue to a FIFO queue (required "
         "there)"},
        {"visibility-timeout", "SECONDS", false, false,
         "hide each received batch this long while it is moved (default 60)"}},
       "Received=, Moved=, NotSent=, NotDeleted= (with --output json {\"Received\": N, "
       "\"Moved\": N, \"NotSent\": N, \"NotDeleted\": N}); each message not moved on standard "
       "error; a progress line on a terminal",
       &TCommandRun::Move},
      {"export",
       "write messages as JSON Lines, one message per line",
       {kQueueName,
        {"delete", nullptr, false, false,
         "delete each message once its line is written and flushed (synced, to a file)"},
        {"max", "N", false, false, "export at most N messages (default: all)"},
        {"visibility-timeout", "SECONDS", false, false,
         "hide each message this long while the queue is read (default 60); without --delete "
         "all are made visible again at the end"}},
       "one JSON object per line: MessageId, Body, MD5OfBody, MD5OfMessageAttributes, "
       "Attributes, MessageAttributes (binary values in base64)",
       &TCommandRun::Export},
      {"import",
       "send the messages of a JSON Lines file made by export",
       {kQueueName,
        {"file", "FILE", false, false, "read FILE (default: standard input)"},
        {"concurrency", "N", false, false, "send over N connections at once (default 1)"}},
       "Sent= and Failed= (with --output json {\"Sent\": N, \"Failed\": N}); each line that "
       "failed, with its number, on standard error",
       &TCommandRun::Import},
      {"redrive",
       "have the service move a dead-letter queue's messages back (or to --to)",
       {kQueueName,
        {"to", "NAME", false, false,
         "the target queue (default: the queues the messages came from)"},
        {"max-per-second", "N", false, false, "at most N messages per second, 1 to 500"}},
       "TaskHandle= (with --output json {\"TaskHandle\": ...})",
       &TCommandRun::Redrive},
      {"redrive-status",
       "list the recent redrive tasks of a dead-letter queue",
       {kQueueName, {"max-results", "N", false, false, "at most N tasks, 1 to 10 (default 10)"}},
       "for each task: TaskHandle=, Status=, SourceArn=, ApproximateNumberOfMessagesMoved=, ... "
       "(with --output json {\"Results\": [...]})",
       &TCommandRun::RedriveStatus},
      {"redrive-cancel",
       "cancel a running redrive task",
       {{"task-handle", "HANDLE", true, false, "from redrive or redrive-status"}},
       "ApproximateNumberOfMessagesMoved= (with --output json "
       "{\"ApproximateNumberOfMessagesMoved\": N})",
       &TCommandRun::RedriveCancel},
  };
  return commands;
}

const TCommandEntry* FindCommand(const std::string& Name) {
  for (const TCommandEntry& command : Commands())
    if (Name == command.Name) return &command;
  return nullptr;
}

const TOptionEntry* FindOption(const std::vector<TOptionEntry>& Options, const std::string& Name) {
  for (const TOptionEntry& option : Options)
    if (Name == option.Name) return &option;
  return nullptr;
}

// A command's options as it takes them: those of its table entry, and --queue-url beside
// --queue-name wherever the name picks an existing queue (create-queue and get-queue-url send
// the name itself).
std::vector<TOptionEntry> CommandOptions(const TCommandEntry& Command) {
  std::vector<TOptionEntry> options = Command.Options;
  const std::string name = Command.Name;
  if (name == "create-queue" || name == "get-queue-url") return options;
  for (size_t i = 0; i < options.size(); ++i) {
    if (std::string(options[i].Name) != kQueueName.Name) continue;
    options[i].Required = false;
    options[i].Help = "the queue, by name (resolved to its URL once per run); or --queue-url";
    options.insert(options.begin() + static_cast<std::ptrdiff_t>(i) + 1, kQueueURL);
    break;
  }
  return options;
}

// The edit distance of two names (insertions, deletions, substitutions, and swaps of two
// neighbouring characters), for suggestions.
size_t NameDistance(const std::string& A, const std::string& B) {
  std::vector<std::vector<size_t>> d(A.size() + 1, std::vector<size_t>(B.size() + 1));
  for (size_t i = 0; i <= A.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= B.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= A.size(); ++i) {
    for (size_t j = 1; j <= B.size(); ++j) {
      d[i][j] = std::min(
          {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (A[i - 1] == B[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && A[i - 1] == B[j - 2] && A[i - 2] == B[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[A.size()][B.size()];
}

// "unknown command" with the nearest command names, or those that contain what was typed.
std::string UnknownCommand(const std::string& Typed) {
  std::vector<std::string> nearest;
  size_t best = std::max<size_t>(2, Typed.size() / 4) + 1;
  for (const TCommandEntry& command : Commands()) {
    const size_t distance = NameDistance(Typed, command.Name);
    if (distance < best) {
      best = distance;
      nearest.clear();
    }
    if (distance == best) nearest.emplace_back(command.Name);
  }
  if (nearest.empty() && Typed.size() >= 3) {
    for (const TCommandEntry& command : Commands())
      if (std::string(command.Name).find(Typed) != std::string::npos)
        nearest.emplace_back(command.Name);
  }
  std::string message = "unknown command \"" + EscapeOutputValue(Typed) + "\"";
  for (size_t i = 0; i < nearest.size(); ++i)
    message += (i == 0 ? "; did you mean " : i + 1 == nearest.size() ? " or " : ", ") + nearest[i];
  return nearest.empty() ? message : message + "?";
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

std::string OptionLine(const TOptionEntry& Option) {
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
  for (const TCommandEntry& command : Commands()) Out << HelpEntry(command.Name, command.Summary);
  Out << "\nOptions (before or after the command):\n";
  for (const TOptionEntry& option : GlobalOptions()) Out << OptionLine(option);
  Out << "\n"
         "Options take their value as the next argument or after \"=\" (--region=eu-west-1).\n"
         "In NAME=VALUE arguments the first \"=\" ends the name; write \"\\=\" for an \"=\"\n"
         "inside a name and \"\\\\\" for a backslash. Values are taken as they are.\n"
         "\n"
         "Environment:\n"
         "  AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY  the credentials (else the profile's)\n"
         "  AWS_SESSION_TOKEN                 the session token of temporary credentials\n"
         "  AWS_PROFILE                       the profile, when --profile is not given\n"
         "  AWS_CONFIG_FILE                   the shared config file (default\n"
         "                                    ~/.aws/config)\n"
         "  AWS_SHARED_CREDENTIALS_FILE       the shared credentials file (default\n"
         "                                    ~/.aws/credentials)\n"
         "  AWS_REGION, AWS_DEFAULT_REGION    the region, when --region is not given\n"
         "  AWS_ENDPOINT_URL_SQS, AWS_ENDPOINT_URL\n"
         "                                    the endpoint, when --endpoint-url is not given\n"
         "  AWS_IGNORE_CONFIGURED_ENDPOINT_URLS\n"
         "                                    true: only --endpoint-url sets the endpoint\n"
         "  AWS_CA_BUNDLE                     trusted CA certificates, when --ca-bundle is not\n"
         "                                    given\n"
         "  AWS_DEFAULT_OUTPUT                text or json, when --output is not given\n"
         "  AWS_MAX_ATTEMPTS                  attempts per request, when --max-attempts is not\n"
         "                                    given\n"
         "\n"
         "Profiles: credentials come from the environment first, then from the profile:\n"
         "its keys in the credentials file ([NAME]), its credential_process, its keys in\n"
         "the config file ([profile NAME], [default]). The profile also gives region,\n"
         "endpoint_url (or a [services NAME] section whose sqs sub-section holds\n"
         "endpoint_url), ca_bundle and output.\n"
         "\n"
         "Output: results on standard output, one per line; with --output json, the answer\n"
         "as the AWS CLI prints it (nothing where it prints nothing). A service error is\n"
         "printed on standard error as its code and message; a failure without an answer\n"
         "names the operation, the endpoint's host and port, and the reason.\n"
         "\n"
         "Limits: an answer's body may hold at most 64 MiB; every wait for the service ends\n"
         "after --read-timeout, and a whole request, its retries and their waits included,\n"
         "after --max-time (default 90 s).\n"
         "\n"
         "Escaping: everything that came from the network is printed, on both streams,\n"
         "with \"\\\\\", \"\\n\", \"\\r\" and \"\\t\" for a backslash, line feed, carriage return\n"
         "and tab, and \"\\xHH\" for each byte of the other control characters (C0, DEL and\n"
         "C1, U+0080 to U+009F), of the bidirectional controls (U+202A to U+202E, U+2066\n"
         "to U+2069) and of bytes that are not UTF-8; names before \"=\" also with \"\\=\".\n"
         "\n"
         "Exit status:\n"
         "  0  success\n"
         "  1  the service refused the request (an error answer, or failed batch entries)\n"
         "  2  wrong usage or environment\n"
         "  3  no answer (name resolution, connection, TLS, time-out or cancel)\n"
         "  4  an answer that could not be used (malformed, too large, failed integrity\n"
         "     check)\n"
         "\n"
         "\"sqs COMMAND --help\" explains a command.\n";
}

void PrintCommandHelp(const TCommandEntry& Command, std::ostream& Out) {
  Out << "Usage: sqs [OPTIONS] " << Command.Name;
  const std::vector<TOptionEntry> options = CommandOptions(Command);
  for (const TOptionEntry& option : options) {
    if (std::string(option.Name) == "queue-url") Out << " --queue-name NAME|--queue-url URL";
    if (!option.Required) continue;
    Out << " --" << option.Name << " " << option.Value;
    if (option.Repeatable) Out << "...";
  }
  std::string summary = Command.Summary;
  summary[0] = static_cast<char>(summary[0] - 'a' + 'A');
  Out << " [COMMAND OPTIONS]\n\n" << summary << ".\n\nCommand options:\n";
  for (const TOptionEntry& option : options) Out << OptionLine(option);
  Out << "\n"
      << Wrap(std::string("Prints: ") + Command.Output + ".", 0, 0) << "\n"
      << "Every option of \"sqs --help\" (--region, --endpoint-url, ...) applies as well.\n";
}

// An exception's message for standard error: its CR LF line breaks as this platform's LF,
// everything else escaped as values are (the message may quote what a server sent).
std::string PlainLines(const std::string& Message) {
  std::string out;
  size_t start = 0;
  for (;;) {
    const size_t end = Message.find("\r\n", start);
    out += EscapeOutputValue(Message.substr(start, end - start));
    if (end == std::string::npos) return out;
    out += '\n';
    start = end + 2;
  }
}

// The endpoint's host (without brackets) and "host:port" for failure texts.
struct TWhere {
  std::string Host;
  std::string HostAndPort;
};

TWhere WhereOf(const std::string& EndPoint) {
  const size_t scheme = EndPoint.find("://");
  const std::string protocol = scheme == std::string::npos ? "" : EndPoint.substr(0, scheme);
  const size_t start = scheme == std::string::npos ? 0 : scheme + 3;
  std::string authority = EndPoint.substr(start, EndPoint.find_first_of("/?#", start) - start);
  const size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(0, at + 1);
  const size_t close = authority.rfind(']');
  const size_t colon = authority.rfind(':');
  TWhere where;
  if (colon != std::string::npos && (close == std::string::npos || colon > close)) {
    where.Host = authority.substr(0, colon);
    where.HostAndPort = authority;
  } else {
    where.Host = authority;
    where.HostAndPort = authority + (protocol == "http" ? ":80" : ":443");
  }
  if (where.Host.size() >= 2 && where.Host.front() == '[' && where.Host.back() == ']')
    where.Host = where.Host.substr(1, where.Host.size() - 2);
  return where;
}

// The library's text of a socket error without its "Socket Error # N" line, in words a
// sentence can carry: no capital, no final period.
std::string SocketReason(const EIdSocketError& E) {
  switch (E.LastError()) {
    case 11001:
      return "host not found";
    case 11002:
      return "temporary failure in name resolution";
    case 11003:
      return "name resolution failed";
    case 11004:
      return "no address for that name";
    default:
      break;
  }
  std::string text = E.Message();
  const size_t line = text.find("\r\n");
  if (line != std::string::npos) text.erase(0, line + 2);
  if (!text.empty() && text.back() == '.') text.pop_back();
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] + 32);
  return text.empty() ? "error" : text;
}

// A failure that ended a command: what to print after "sqs: OPERATION: " and the exit status.
// Each kind names where it happened and keeps the library's text of the exception.
std::pair<std::string, int> DescribeFailure(const Exception& E, const TWhere& Where) {
  const std::string& at = Where.HostAndPort;
  const std::string detail = " (" + E.Message() + ")";
  if (const auto* socket = dynamic_cast<const EIdSocketError*>(&E)) {
    const int number = socket->LastError();
    const std::string reason =
        SocketReason(*socket) + " (Socket Error # " + std::to_string(number) + ")";
    if (number >= 11001 && number <= 11004)
      return {"cannot resolve " + Where.Host + ": " + reason, sqsExitNetwork};
    if (number == 10061 || number == 10060 || number == 10065 || number == 10064 ||
        number == 10051 || number == 10050 || number == 10049)
      return {"cannot connect to " + at + ": " + reason, sqsExitNetwork};
    return {"connection to " + at + " failed: " + reason, sqsExitNetwork};
  }
  if (dynamic_cast<const EIdConnectTimeout*>(&E) != nullptr)
    return {"cannot connect to " + at + ": timed out" + detail, sqsExitNetwork};
  if (dynamic_cast<const EIdReadTimeout*>(&E) != nullptr)
    return {"no answer from " + at + " in time" + detail, sqsExitNetwork};
  if (dynamic_cast<const EIdDeadlineExceeded*>(&E) != nullptr)
    return {"no answer from " + at + " within the time limit of the call" + detail,
            sqsExitNetwork};
  if (dynamic_cast<const EIdOperationCancelled*>(&E) != nullptr)
    return {"cancelled while talking to " + at + detail, sqsExitNetwork};
  if (dynamic_cast<const EIdOpenSSLError*>(&E) != nullptr ||
      dynamic_cast<const SChannelError*>(&E) != nullptr)
    return {"TLS with " + at + " failed: " + E.Message(), sqsExitNetwork};
  if (dynamic_cast<const EIdHTTPTruncatedResponse*>(&E) != nullptr ||
      dynamic_cast<const EIdConnClosedGracefully*>(&E) != nullptr)
    return {"no complete answer from " + at + detail, sqsExitNetwork};
  // A head line longer than the engine reads is an answer broken as much as a malformed one.
  if (dynamic_cast<const EIdHTTPMalformedResponse*>(&E) != nullptr ||
      dynamic_cast<const EIdReadLnMaxLineLengthExceeded*>(&E) != nullptr)
    return {"unusable answer from " + at + ": " + E.Message(), sqsExitUnusable};
  if (dynamic_cast<const EbrvSQSInvalidQueueURL*>(&E) != nullptr)
    return {E.Message(), sqsExitUnusable};
  return {at + ": " + E.Message(), sqsExitNetwork};
}

// --- parsing ---

TCommandLine Parse(const std::vector<std::string>& Args) {
  TCommandLine line;
  std::vector<TOptionEntry> command_options;
  for (size_t i = 0; i < Args.size(); ++i) {
    const std::string& arg = Args[i];
    if (arg == "-h") {
      line.Help = true;
      continue;
    }
    if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      const size_t eq = arg.find('=');
      const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      const TOptionEntry* option = FindOption(GlobalOptions(), name);
      TValues* into = &line.Global;
      if (option == nullptr && line.Command != nullptr) {
        command_options = CommandOptions(*line.Command);
        option = FindOption(command_options, name);
        into = &line.Own;
      }
      if (option == nullptr && line.Command != nullptr &&
          std::string(line.Command->Name) == "add-permission" && name == "permission") {
        // ACCOUNT=ACTION pairs read as if each account got its own action, but the service
        // grants every account every action: the pairs are no longer taken.
        throw TUsageError{
            "--permission is no longer taken: give the accounts with --aws-account-ids and the "
            "actions with --actions (each repeatable); every account gets every action"};
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
      if (name == "version") line.Version = true;
      continue;
    }
    if (line.Command == nullptr) {
      if (arg == "help") {
        line.Help = true;
        continue;
      }
      line.Command = FindCommand(arg);
      if (line.Command == nullptr) throw TUsageError{UnknownCommand(arg)};
      continue;
    }
    throw TUsageError{"unexpected argument \"" + arg + "\""};
  }
  return line;
}

}  // namespace

std::string EscapeOutputValue(const std::string& Value) {
  std::string out;
  out.reserve(Value.size());
  const auto escape_bytes = [&](size_t From, size_t To) {
    for (size_t k = From; k < To; ++k) {
      out += "\\x";
      AppendHexByte(out, static_cast<std::uint8_t>(Value[k]), false);
    }
  };
  size_t pos = 0;
  while (pos < Value.size()) {
    const size_t start = pos;
    char32_t code = 0;
    if (!NextUTF8CodePoint(Value, pos, code)) {
      escape_bytes(start, pos);
      continue;
    }
    switch (code) {
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
        if (code < 0x20 || (code >= 0x7F && code <= 0x9F) || (code >= 0x202A && code <= 0x202E) ||
            (code >= 0x2066 && code <= 0x2069))
          escape_bytes(start, pos);
        else
          out.append(Value, start, pos - start);
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
  return RunSQSCommandLine(Args, Out, Err, TbrvAWSConfigResolver::ProcessEnvironment());
}

int RunSQSCommandLine(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err,
                      const TbrvEnvironmentLookup& Environment, const std::string& HomeDirectory) {
  const TCommandEnvironment environment{Environment, HomeDirectory};
  TCommandLine line;
  std::string endpoint;  // known once the client is configured
  try {
    line = Parse(Args);
    if (line.Version) {
      Out << "sqs " << BRV_VERSION << "\n";
      return sqsExitSuccess;
    }
    if (line.Help) {
      if (line.Command != nullptr)
        PrintCommandHelp(*line.Command, Out);
      else
        PrintGeneralHelp(Out);
      return sqsExitSuccess;
    }
    if (line.Command == nullptr) throw TUsageError{"no command given"};
    TCommandRun run(line, environment, Out, Err, endpoint);
    return run.Run();
  } catch (const TUsageError& e) {
    Err << "sqs: " << e.Message << "\n"
        << "Try \"sqs " << (line.Command != nullptr ? std::string(line.Command->Name) + " " : "")
        << "--help\".\n";
    return sqsExitUsage;
  } catch (const EbrvSQSInvalidQueueURL& e) {
    // The same check as for a queue URL a server gave; one typed by the user is wrong usage.
    if (line.Own.count("queue-url") == 0) {
      Err << "sqs: " << (line.Command != nullptr ? line.Command->Name : "sqs") << ": "
          << PlainLines(e.Message()) << "\n";
      return sqsExitUnusable;
    }
    Err << "sqs: --queue-url: " << PlainLines(e.Message()) << "\n"
        << "Try \"sqs " << line.Command->Name << " --help\".\n";
    return sqsExitUsage;
  } catch (const EFOpenError& e) {
    // the log file named by --log-file
    Err << "sqs: " << PlainLines(e.Message()) << "\n";
    return sqsExitUsage;
  } catch (const Exception& e) {
    const std::string operation = line.Command != nullptr ? line.Command->Name : "sqs";
    if (endpoint.empty()) {
      Err << "sqs: " << operation << ": " << PlainLines(e.Message()) << "\n";
      return sqsExitNetwork;
    }
    const auto [text, status] = DescribeFailure(e, WhereOf(endpoint));
    Err << "sqs: " << operation << ": " << PlainLines(text) << "\n";
    return status;
  } catch (const std::bad_alloc&) {
    // Reported, never an abort: an answer too large for the memory there is.
    Err << "sqs: out of memory\n";
    return sqsExitUnusable;
  } catch (const std::exception& e) {
    Err << "sqs: " << PlainLines(e.what()) << "\n";
    return sqsExitUnusable;
  } catch (...) {
    Err << "sqs: an unknown error occurred\n";
    return sqsExitUnusable;
  }
}

// --- the table, read-only, for the manual page and shell completion ---

namespace {

TSQSOptionReference OptionReference(const TOptionEntry& Option) {
  TSQSOptionReference reference;
  reference.Name = Option.Name;
  reference.Value = Option.Value != nullptr ? Option.Value : "";
  reference.Required = Option.Required;
  reference.Repeatable = Option.Repeatable;
  reference.Help = Option.Help;
  // The engine names the parser accepts (schannel, an alias of gnutls, is left out).
  if (reference.Name == "tls-engine") reference.Choices = {"openssl", "gnutls"};
  if (reference.Name == "output") reference.Choices = {"text", "json"};
  return reference;
}

}  // namespace

TSQSCommandTable SQSCommandTable() {
  TSQSCommandTable table;
  for (const TOptionEntry& option : GlobalOptions())
    table.GlobalOptions.push_back(OptionReference(option));
  for (const TCommandEntry& command : Commands()) {
    TSQSCommandReference reference{command.Name, command.Summary, command.Output, {}};
    for (const TOptionEntry& option : CommandOptions(command))
      reference.Options.push_back(OptionReference(option));
    table.Commands.push_back(std::move(reference));
  }
  return table;
}

}  // namespace brv
