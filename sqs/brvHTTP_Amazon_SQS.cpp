#include "sqs/brvHTTP_Amazon_SQS.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>
#include <typeinfo>
#include <utility>
#include <vector>

#include "base/Hex.h"
#include "base/UTF8.h"
#include "sqs/brvSQSChecksums.h"
#include "sqs/private/XMLTagIndex.h"

namespace brv {

namespace {

// --- URL values ---

// Writes the URL encoding of AValue at ATo, which has room for three bytes per byte of it, and
// returns where it ends: a message body is encoded in one pass without growing a text byte by
// byte.
char* EncodeURLValueAt(std::string_view AValue, char* ATo) {
  const char* p = AValue.data();
  const char* const end = p + AValue.size();
  while (p != end) {
    // A run of bytes that stay as they are is found first and copied in one piece.
    const char* run = p;
    while (p != end && IsURIUnreserved(static_cast<std::uint8_t>(*p))) ++p;
    std::memcpy(ATo, run, static_cast<size_t>(p - run));
    ATo += p - run;
    if (p == end) break;
    const auto c = static_cast<std::uint8_t>(*p++);
    *ATo++ = '%';
    *ATo++ = kHexDigitsUpper[c >> 4];
    *ATo++ = kHexDigitsUpper[c & 0x0F];
  }
  return ATo;
}

// --- UTF-8 ---

// The text with every ill-formed UTF-8 sequence replaced by U+FFFD.
std::string RepairUTF8(std::string_view Text) {
  // Plain ASCII, the usual body, is well-formed as it stands.
  if (std::all_of(Text.begin(), Text.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return std::string(Text);
  std::string out;
  out.reserve(Text.size());
  size_t pos = 0;
  while (pos < Text.size()) {
    const size_t start = pos;
    char32_t code;
    if (NextUTF8CodePoint(Text, pos, code))
      out.append(Text.substr(start, pos - start));
    else
      AppendUTF8(out, kUTF8ReplacementCharacter);
  }
  return out;
}

// --- XML ---

bool IsXMLChar(char32_t Code) {
  return Code == 0x9 || Code == 0xA || Code == 0xD || (Code >= 0x20 && Code <= 0xD7FF) ||
         (Code >= 0xE000 && Code <= 0xFFFD) || (Code >= 0x10000 && Code <= 0x10FFFF);
}

// Decodes the numeric character reference at Text[Pos] ("&#..."); on success appends the
// character to Out, moves Pos past the ";" and returns true.
bool DecodeNumericReference(std::string_view Text, size_t& Pos, std::string& Out) {
  size_t i = Pos + 2;
  const bool hex = i < Text.size() && Text[i] == 'x';
  if (hex) ++i;
  const size_t digits_start = i;
  char32_t code = 0;
  bool too_big = false;
  for (; i < Text.size(); ++i) {
    const char c = Text[i];
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (hex && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      break;
    code = code * (hex ? 16 : 10) + static_cast<char32_t>(digit);
    if (code > 0x10FFFF) {
      too_big = true;
      code = 0x110000;  // stays out of range without overflowing
    }
  }
  if (i == digits_start || i >= Text.size() || Text[i] != ';' || too_big || !IsXMLChar(code))
    return false;
  AppendUTF8(Out, code);
  Pos = i + 1;
  return true;
}

std::string_view TagValue(std::string_view Text, const std::string& Open,
                          const std::string& Close) {
  const size_t open = Text.find(Open);
  if (open == std::string_view::npos) return {};
  const size_t close = Text.find(Close);
  const size_t start = open + Open.size();
  if (close == std::string_view::npos || close < start) return {};
  return Text.substr(start, close - start);
}

using sqs_detail::TXMLTagIndex;

// The decoded text of the first <ATag> element in APart (a view into AIndex's text).
std::string TagText(const TXMLTagIndex& AIndex, std::string_view APart, std::string_view ATag) {
  const auto [from, to] = AIndex.RangeOf(APart);
  const std::string_view value = AIndex.Value(ATag, from, to);
  if (value.find('&') == std::string_view::npos) return std::string(value);
  return DecodeXMLEntities(std::string(value));
}

// Appends the decoded text of each <aTag> element to aList.
void AppendTagTexts(const std::string& aText, const std::string& aTag, TStringList& aList) {
  TStringList raw;
  GetXMLTagValues(aText, aTag, raw);
  for (const std::string& value : raw.Lines()) aList.Add(DecodeXMLEntities(value));
}

std::string Numbered(const std::string& aPrefix, int aNumber) {
  return aPrefix + "." + std::to_string(aNumber);
}

// Where the authority of a URL ends: the first '/', '?' or '#' from Start, or npos. One pass
// (find_first_of looks each byte up in the set with a call of its own).
size_t AuthorityEnd(std::string_view URL, size_t Start) {
  for (size_t i = Start; i < URL.size(); ++i)
    if (URL[i] == '/' || URL[i] == '?' || URL[i] == '#') return i;
  return std::string_view::npos;
}

// The scheme and authority of a URL ("https://host:port"), without path, query or fragment.
std::string_view URLOrigin(std::string_view URL) {
  const size_t scheme = URL.find("://");
  const size_t start = scheme == std::string_view::npos ? 0 : scheme + 3;
  return URL.substr(0, AuthorityEnd(URL, start));
}

// One segment of a queue URL's path: the account or the queue name.
bool IsQueuePathSegment(std::string_view Segment) {
  if (Segment.empty() || Segment == "." || Segment == "..") return false;
  return std::all_of(Segment.begin(), Segment.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
  });
}

// The path of a queue URL when it is "/ACCOUNT/NAME" (with or without a final "/"), else
// empty.
std::string_view QueueURLPath(std::string_view URL) {
  const size_t scheme = URL.find("://");
  if (scheme == std::string_view::npos) return {};
  const size_t path = AuthorityEnd(URL, scheme + 3);
  if (path == std::string_view::npos || URL[path] != '/') return {};
  const std::string_view whole = URL.substr(path);
  std::string_view rest = whole.substr(1);
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  const size_t slash = rest.find('/');
  if (slash == std::string_view::npos || !IsQueuePathSegment(rest.substr(0, slash)) ||
      !IsQueuePathSegment(rest.substr(slash + 1)))
    return {};
  return whole;
}

// A binary message attribute travels as BinaryValue (base64 text), any other as StringValue.
bool IsBinaryType(const std::string& aType) {
  return aType == "Binary" || aType.rfind("Binary.", 0) == 0;
}

// True when every entry of aItems (skipping null ones) is among aResult's successful ids and
// none failed.
template <class TList>
bool EveryEntryCarriedOut(const TList& aItems, const TbrvSQSBatchResult& aResult) {
  if (aResult.Failed().Count() > 0) return false;
  for (int i = 0; i < aItems.Count(); ++i) {
    const auto* item = aItems.Items(i);
    if (item != nullptr && aResult.Successful().IndexOf(item->ID()) < 0) return false;
  }
  return true;
}

// Reads the result entries of one SendMessageBatch answer into aResponses. With aCheck, an
// entry whose digests disagree with what its request sent (requests aFirst to aEnd - 1) is
// left out and returned with the report, so that it never counts as sent.
TbrvRejectedEntries ReadSendMessageBatchAnswer(const std::string& aResponse,
                                               const TbrvSQSSendMessageRequests& aRequests,
                                               int aFirst, int aEnd, bool aCheck,
                                               TbrvSQSSendMessageResponses& aResponses) {
  TbrvRejectedEntries rejected;
  TStringList entries;
  GetXMLTagValues(aResponse, "SendMessageBatchResultEntry", entries);
  for (const std::string& entry : entries.Lines()) {
    auto result = std::make_unique<TbrvSQSSendMessageResponse>();
    result->SetID(GetXMLTagText(entry, "Id"));
    result->SetMD5OfMessageBody(GetXMLTagText(entry, "MD5OfMessageBody"));
    result->SetMD5OfMessageAttributes(GetXMLTagText(entry, "MD5OfMessageAttributes"));
    result->SetMD5OfMessageSystemAttributes(GetXMLTagText(entry, "MD5OfMessageSystemAttributes"));
    result->SetMessageId(GetXMLTagText(entry, "MessageId"));
    result->SetSequenceNumber(GetXMLTagText(entry, "SequenceNumber"));
    const std::string mismatch =
        aCheck ? SQSCheckSentBatchEntry(aRequests, aFirst, aEnd, *result) : std::string();
    if (!mismatch.empty()) {
      rejected.emplace_back(result->ID(), mismatch);
      continue;
    }
    aResponses.AdoptItem(std::move(result));
  }
  return rejected;
}

// Calls AAdd with the name and the Value of each AElement of a response (a tag's Key, an
// attribute's Name); elements without a name are skipped.
template <class TAdd>
void ForEachNamedValue(const std::string& AResponse, const char* AElement, const char* ANameTag,
                       TAdd AAdd) {
  TStringList elements;
  GetXMLTagValues(AResponse, AElement, elements);
  for (const std::string& element : elements.Lines()) {
    const std::string name = GetXMLTagText(element, ANameTag);
    if (!name.empty()) AAdd(name, GetXMLTagText(element, "Value"));
  }
}

}  // namespace

// --- free functions ---

std::string EncodeURLValue(const std::string& aValue) {
  std::string out(aValue.size() * 3, '\0');
  out.resize(static_cast<std::size_t>(EncodeURLValueAt(aValue, out.data()) - out.data()));
  return out;
}

std::string GetXMLTagValue(const std::string& aText, const std::string& aTag) {
  // The two tags are made once per look-up; a reused buffer keeps that from allocating.
  thread_local std::string open, close;
  open.assign(1, '<').append(aTag).append(1, '>');
  close.assign("</").append(aTag).append(1, '>');
  return std::string(TagValue(aText, open, close));
}

void GetXMLTagValues(const std::string& aText, const std::string& aTag, TStringList& aList) {
  const std::string open = "<" + aTag + ">", close = "</" + aTag + ">";
  std::string_view rest = aText;
  for (;;) {
    const std::string_view value = TagValue(rest, open, close);
    if (value.empty()) break;
    aList.Add(std::string(value));
    // Go on from inside the closing tag of the element just read.
    rest = rest.substr(rest.find(close) + aTag.size());
  }
}

std::string DecodeXMLEntities(const std::string& aText) {
  static constexpr std::pair<std::string_view, char> kNamed[] = {
      {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
  if (aText.find('&') == std::string::npos) return aText;
  const std::string_view text = aText;
  std::string out;
  out.reserve(aText.size());
  size_t pos = 0;
  while (pos < text.size()) {
    if (text[pos] != '&') {
      out += text[pos++];
      continue;
    }
    bool decoded = false;
    for (const auto& [name, ch] : kNamed) {
      if (text.substr(pos, name.size()) == name) {
        out += ch;
        pos += name.size();
        decoded = true;
        break;
      }
    }
    if (!decoded && pos + 1 < text.size() && text[pos + 1] == '#')
      decoded = DecodeNumericReference(text, pos, out);
    if (!decoded) out += text[pos++];
  }
  return out;
}

std::string GetXMLTagText(const std::string& aText, const std::string& aTag) {
  std::string value = GetXMLTagValue(aText, aTag);
  if (value.find('&') == std::string::npos) return value;  // nothing to decode, no copy
  return DecodeXMLEntities(value);
}

int CompareParamNames(const std::string& A, const std::string& B) {
  const std::u16string a = UTF8ToUTF16(A), b = UTF8ToUTF16(B);
  const int order = a.compare(b);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

// --- queue-URL cache ---

void TbrvSQSQueue::AddSQSQueue(const std::string& aEndPoint, const std::string& aAccessKey,
                               const std::string& aQueue, const std::string& aURL) {
  TLockGuard guard(*this);  // look-up and append as one step
  if (GetSQSQueue(aEndPoint, aAccessKey, aQueue) != nullptr) return;
  auto item = std::make_unique<TbrvSQSQueueItem>();
  item->SetID(aQueue);
  item->SetURL(aURL);
  item->SetEndPoint(aEndPoint);
  item->SetAccessKey(aAccessKey);
  AdoptItem(std::move(item));
}

TbrvSQSQueueItem* TbrvSQSQueue::GetSQSQueue(const std::string& aEndPoint,
                                            const std::string& aAccessKey,
                                            const std::string& aQueue) const {
  TLockGuard guard(*this);
  for (TObject* object : References()) {
    // The list holds queue items only (AddSQSQueue makes them): recognised by their exact
    // class, every request's look-up skips the cast's walk of the class tree.
    auto* item = object != nullptr && typeid(*object) == typeid(TbrvSQSQueueItem)
                     ? static_cast<TbrvSQSQueueItem*>(object)
                     : dynamic_cast<TbrvSQSQueueItem*>(object);
    if (item != nullptr && item->ID() == aQueue && item->EndPoint() == aEndPoint &&
        item->AccessKey() == aAccessKey)
      return item;
  }
  return nullptr;
}

std::string TbrvSQSQueue::GetURLFromQueue(const std::string& aEndPoint,
                                          const std::string& aAccessKey,
                                          const std::string& aQueueName) const {
  const TbrvSQSQueueItem* item = GetSQSQueue(aEndPoint, aAccessKey, aQueueName);
  return item != nullptr ? item->URL() : std::string();
}

// --- client: request pipeline ---

TbrvHTTP_Amazon_AWS_SQS_Client::TbrvHTTP_Amazon_AWS_SQS_Client(TComponent* aOwner)
    : TbrvHTTP_Amazon_AWS_Client(aOwner) {
  AWSOptions().Service = "sqs";
}

TbrvHTTP_Amazon_AWS_SQS_Client::~TbrvHTTP_Amazon_AWS_SQS_Client() {
  FQueues.reset();
  FParams.reset();
}

TStringList& TbrvHTTP_Amazon_AWS_SQS_Client::GetParams() {
  if (!FParams) FParams = std::make_unique<TStringList>();
  return *FParams;
}

TbrvSQSQueue& TbrvHTTP_Amazon_AWS_SQS_Client::GetQueues() {
  if (!FQueues) FQueues = std::make_unique<TbrvSQSQueue>();
  return *FQueues;
}

void TbrvHTTP_Amazon_AWS_SQS_Client::SetAction(const std::string& aAction) {
  GetParams().Clear();
  AddParam("Action", aAction);
}

void TbrvHTTP_Amazon_AWS_SQS_Client::AddParam(const std::string& aName, const std::string& aValue) {
  // One line, encoded in place: no texts for the encoded name and value on the way.
  std::string line((aName.size() + aValue.size()) * 3 + 1, '\0');
  char* end = EncodeURLValueAt(aName, line.data());
  *end++ = '=';
  end = EncodeURLValueAt(aValue, end);
  line.resize(static_cast<size_t>(end - line.data()));
  GetParams().Add(std::move(line));
}

void TbrvHTTP_Amazon_AWS_SQS_Client::AddParam(const std::string& aName, int aValue) {
  AddParam(aName, std::to_string(aValue));
}

std::string TbrvHTTP_Amazon_AWS_SQS_Client::GetRequestURL(const std::string& aQueueURL) {
  // Views into the parameter lines, which stay as they are until the URL is made.
  std::vector<std::pair<std::string_view, std::string_view>> params;
  params.reserve(static_cast<size_t>(GetParams().Count()));
  size_t length = 0;
  for (const std::string& line : GetParams().Lines()) {
    const std::string_view text(line);
    const size_t eq = text.find('=');
    if (eq == std::string_view::npos)
      params.emplace_back(text, std::string_view());
    else
      params.emplace_back(text.substr(0, eq), text.substr(eq + 1));
    length += line.size() + 2;
  }
  // Names of ASCII characters only (every encoded name) order the same by bytes as by UTF-16
  // code units, without the conversion.
  const auto ascii = [](std::string_view a) {
    return std::all_of(a.begin(), a.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  };
  std::stable_sort(params.begin(), params.end(), [&](const auto& a, const auto& b) {
    if (ascii(a.first) && ascii(b.first)) return a.first < b.first;
    return CompareParamNames(std::string(a.first), std::string(b.first)) < 0;
  });
  std::string url = EndPoint();
  if (!aQueueURL.empty()) {
    const std::string_view path = QueueURLPath(aQueueURL);
    if (path.empty())
      throw EbrvSQSInvalidQueueURL("The queue URL \"" + aQueueURL +
                                   "\" does not name a queue as /ACCOUNT/NAME; nothing was sent.");
    // The end point's origin and the queue's path, written over the end point in place.
    url.resize(URLOrigin(url).size());
    url.reserve(url.size() + path.size() + length + 1);
    url += path;
  } else {
    url.reserve(url.size() + length + 1);
  }
  url += "?";
  for (size_t i = 0; i < params.size(); ++i) {
    if (i > 0) url += '&';
    url += params[i].first;
    url += '=';
    url += params[i].second;
  }
  return url;
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::Execute(const std::string& aQueueURL, std::string& aResponse) {
  std::string error;
  GetURL(GetRequestURL(aQueueURL), aResponse, error);
  if (aResponse.empty()) {
    ParseError(error);
    return false;
  }
  return DoSQSResponse(aResponse);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::ExecuteSimple(const std::string& aQueueURL) {
  std::string response;
  return Execute(aQueueURL, response);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::ExecuteWithRequestId(const std::string& aQueueURL) {
  std::string response;
  return Execute(aQueueURL, response) && !GetXMLTagText(response, "RequestId").empty();
}

void TbrvHTTP_Amazon_AWS_SQS_Client::ParseError(const std::string& aError) {
  if (aError.empty()) return;
  DoSQSError(GetXMLTagText(aError, "Code"), GetXMLTagText(aError, "Message"), aError);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::DoBeforeRequest(std::string& aURL) {
  return DoSQSBeforeRequest(aURL);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::DoSQSBeforeRequest(std::string& aURL) {
  if (!OnSQSBeforeRequest) return true;
  bool handled = false;
  OnSQSBeforeRequest(this, aURL, handled);
  return !handled;
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::DoSQSResponse(const std::string& aRawResponse) {
  if (!OnSQSResponse) return true;
  bool handled = false;
  OnSQSResponse(this, aRawResponse, handled);
  return !handled;
}

void TbrvHTTP_Amazon_AWS_SQS_Client::DoSQSError(const std::string& aCode,
                                                const std::string& aDescription,
                                                const std::string& aRawError) {
  if (OnSQSError) OnSQSError(this, aCode, aDescription, aRawError);
}

std::string TbrvHTTP_Amazon_AWS_SQS_Client::GetQueueURL(const std::string& aQueueName) {
  std::string url = GetQueues().GetURLFromQueue(EndPoint(), AWSOptions().AccessKey, aQueueName);
  if (url.empty()) DoGetQueueURL(aQueueName, url);
  if (!url.empty() && url.back() != '/') url += '/';
  return url;
}

void TbrvHTTP_Amazon_AWS_SQS_Client::DoGetQueueURL(const std::string& aQueueName,
                                                   std::string& aQueueURL) {
  aQueueURL.clear();
  SetAction("GetQueueUrl");
  AddParam("QueueName", aQueueName);
  std::string response;
  if (!Execute("", response)) return;
  aQueueURL = GetXMLTagText(response, "QueueUrl");
  if (!aQueueURL.empty())
    GetQueues().AddSQSQueue(EndPoint(), AWSOptions().AccessKey, aQueueName, aQueueURL);
}

// --- client: messages ---

void TbrvHTTP_Amazon_AWS_SQS_Client::AddMessageAttributeParams(
    const std::string& aPrefix, const TbrvSQSMessageAttributes& aAttributes) {
  for (int m = 0; m < aAttributes.Count(); ++m) {
    const TbrvSQSMessageAttributeItem* item = aAttributes.Items(m);
    if (item == nullptr) continue;
    const std::string prefix = Numbered(aPrefix, m + 1);
    AddParam(prefix + ".Name", item->AttributeName());
    AddParam(prefix + (IsBinaryType(item->AttributeType()) ? ".Value.BinaryValue"
                                                           : ".Value.StringValue"),
             item->AttributeValue());
    AddParam(prefix + ".Value.DataType", item->AttributeType());
  }
}

void TbrvHTTP_Amazon_AWS_SQS_Client::AddSendMessageParams(
    const std::string& aPrefix, const TbrvSQSSendMessageRequest& aRequest) {
  AddParam(aPrefix + "MessageBody", aRequest.MessageBody());
  if (aRequest.ExplicitDelaySeconds())
    AddParam(aPrefix + "DelaySeconds", *aRequest.ExplicitDelaySeconds());
  else if (aRequest.DelaySeconds() >= 1 && aRequest.DelaySeconds() <= 900)
    AddParam(aPrefix + "DelaySeconds", aRequest.DelaySeconds());
  if (!aRequest.MessageDeduplicationId().empty())
    AddParam(aPrefix + "MessageDeduplicationId", aRequest.MessageDeduplicationId());
  if (!aRequest.MessageGroupId().empty())
    AddParam(aPrefix + "MessageGroupId", aRequest.MessageGroupId());
  AddMessageAttributeParams(aPrefix + "MessageAttribute", aRequest.MessageAttributes());
  AddMessageAttributeParams(aPrefix + "MessageSystemAttribute", aRequest.MessageSystemAttributes());
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::SendMessage(const std::string& aQueueName,
                                                 const std::string& aMessageBody,
                                                 int aDelaySeconds) {
  const std::string queue_url = GetQueueURL(aQueueName);
  TbrvSQSSendMessageRequest request;
  request.SetMessageBody(aMessageBody);
  request.SetDelaySeconds(aDelaySeconds);
  TbrvSQSSendMessageResponse response;
  return DoSendMessage(queue_url, request, response);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::SendMessage(const std::string& aQueueName,
                                                 const TbrvSQSSendMessageRequest& aRequest,
                                                 TbrvSQSSendMessageResponse& aResponse) {
  return DoSendMessage(GetQueueURL(aQueueName), aRequest, aResponse);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::DoSendMessage(const std::string& aQueueURL,
                                                   const TbrvSQSSendMessageRequest& aRequest,
                                                   TbrvSQSSendMessageResponse& aResponse) {
  SetAction("SendMessage");
  AddSendMessageParams("", aRequest);
  std::string response;
  if (!Execute(aQueueURL, response)) return false;
  const TXMLTagIndex tags(response);
  std::string message_id = TagText(tags, response, "MessageId");
  std::string body_md5 = TagText(tags, response, "MD5OfMessageBody");
  std::string attributes_md5 = TagText(tags, response, "MD5OfMessageAttributes");
  if (ChecksumValidation()) {
    const std::string mismatch =
        SQSCheckSentMessage(aRequest, message_id, body_md5, attributes_md5);
    if (!mismatch.empty()) {
      DoSQSError(kSQSChecksumMismatch, mismatch, response);
      return false;
    }
  }
  aResponse.SetMD5OfMessageBody(std::move(body_md5));
  aResponse.SetMD5OfMessageAttributes(std::move(attributes_md5));
  aResponse.SetMD5OfMessageSystemAttributes(
      TagText(tags, response, "MD5OfMessageSystemAttributes"));
  aResponse.SetMessageId(std::move(message_id));
  aResponse.SetSequenceNumber(TagText(tags, response, "SequenceNumber"));
  return true;
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::SendBatches(
    const std::string& aQueueURL, const std::string& aAction, const std::string& aEntryName,
    const std::string& aResultEntry, int aCount,
    const std::function<bool(int, const std::string&)>& aAddEntry, const TbrvBatchAnswer& aAnswer,
    TbrvSQSBatchResult* aResult) {
  if (aResult != nullptr) aResult->Clear();
  bool all_accepted = true;
  int start = 0;
  // One request even for no entries: the service answers an empty batch with its own error.
  do {
    const int end = std::min(start + MaxBatchEntries, aCount);
    SetAction(aAction);
    for (int i = start; i < end; ++i) aAddEntry(i, Numbered(aEntryName, i - start + 1) + ".");
    std::string response;
    if (Execute(aQueueURL, response)) {
      const TbrvRejectedEntries rejected =
          aAnswer ? aAnswer(response, start, end) : TbrvRejectedEntries();
      for (const auto& [id, report] : rejected) {
        DoSQSError(kSQSChecksumMismatch, report, response);
        all_accepted = false;
      }
      if (aResult != nullptr) {
        // Entry by entry, so that the Id of an error entry never counts as a result; an entry
        // the answer's checks rejected is a failed one.
        TStringList entries;
        GetXMLTagValues(response, aResultEntry, entries);
        for (const std::string& entry : entries.Lines()) {
          const std::string id = GetXMLTagText(entry, "Id");
          const bool refused = std::any_of(rejected.begin(), rejected.end(),
                                           [&](const auto& r) { return r.first == id; });
          if (!refused) aResult->Successful().Add(id);
        }
        for (const auto& [id, report] : rejected) {
          auto failed = std::make_unique<TbrvSQSBatchResultErrorEntry>();
          failed->SetID(id);
          failed->SetCode(kSQSChecksumMismatch);
          failed->SetMessage(report);
          aResult->Failed().AdoptItem(std::move(failed));
        }
        entries.Clear();
        GetXMLTagValues(response, "BatchResultErrorEntry", entries);
        for (const std::string& entry : entries.Lines()) {
          auto failed = std::make_unique<TbrvSQSBatchResultErrorEntry>();
          failed->SetID(GetXMLTagText(entry, "Id"));
          failed->SetCode(GetXMLTagText(entry, "Code"));
          failed->SetMessage(GetXMLTagText(entry, "Message"));
          failed->SetSenderFault(GetXMLTagText(entry, "SenderFault") == "true");
          aResult->Failed().AdoptItem(std::move(failed));
        }
      }
    } else {
      all_accepted = false;
    }
    start = end;
  } while (start < aCount);
  return all_accepted;
}

void TbrvHTTP_Amazon_AWS_SQS_Client::SendMessageBatch(const std::string& aQueueName,
                                                      const TbrvSQSSendMessageRequests& aRequests,
                                                      TbrvSQSSendMessageResponses& aResponses) {
  DoSendMessageBatch(GetQueueURL(aQueueName), aRequests, aResponses);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::SendMessageBatch(const std::string& aQueueName,
                                                      const TbrvSQSSendMessageRequests& aRequests,
                                                      TbrvSQSSendMessageResponses& aResponses,
                                                      TbrvSQSBatchResult& aResult) {
  const bool accepted =
      SendMessageBatchEntries(GetQueueURL(aQueueName), aRequests, aResponses, &aResult);
  return accepted && EveryEntryCarriedOut(aRequests, aResult);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::DoSendMessageBatch(const std::string& aQueueURL,
                                                        const TbrvSQSSendMessageRequests& aRequests,
                                                        TbrvSQSSendMessageResponses& aResponses) {
  return SendMessageBatchEntries(aQueueURL, aRequests, aResponses, nullptr);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::SendMessageBatchEntries(
    const std::string& aQueueURL, const TbrvSQSSendMessageRequests& aRequests,
    TbrvSQSSendMessageResponses& aResponses, TbrvSQSBatchResult* aResult) {
  // Every entry is sent: ten per request, as many requests as needed, in list order.
  return SendBatches(
      aQueueURL, "SendMessageBatch", "SendMessageBatchRequestEntry", "SendMessageBatchResultEntry",
      aRequests.Count(),
      [&](int i, const std::string& prefix) {
        const TbrvSQSSendMessageRequest* request = aRequests.Items(i);
        if (request == nullptr) return false;
        AddParam(prefix + "Id", request->ID());
        AddSendMessageParams(prefix, *request);
        return true;
      },
      [&](const std::string& response, int first, int end) {
        return ReadSendMessageBatchAnswer(response, aRequests, first, end, ChecksumValidation(),
                                          aResponses);
      },
      aResult);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::ReceiveMessage(const std::string& aQueueName,
                                                    TbrvSQSReceiveMessageResponses& aResponses) {
  const TbrvSQSReceiveMessageRequest request;
  return ReceiveMessage(aQueueName, request, aResponses);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::ReceiveMessage(const std::string& aQueueName,
                                                    const TbrvSQSReceiveMessageRequest& aRequest,
                                                    TbrvSQSReceiveMessageResponses& aResponses) {
  return DoReceiveMessage(GetQueueURL(aQueueName), aRequest, aResponses);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::ReceiveMessage(const std::string& aQueueName,
                                                    const TbrvSQSReceiveMessageRequest& aRequest,
                                                    const TStringList& aMessageSystemAttributeNames,
                                                    TbrvSQSReceiveMessageResponses& aResponses) {
  return ReceiveMessages(GetQueueURL(aQueueName), aRequest, &aMessageSystemAttributeNames,
                         aResponses);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::DoReceiveMessage(const std::string& aQueueURL,
                                                      const TbrvSQSReceiveMessageRequest& aRequest,
                                                      TbrvSQSReceiveMessageResponses& aResponses) {
  return ReceiveMessages(aQueueURL, aRequest, nullptr, aResponses);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::ReceiveMessages(
    const std::string& aQueueURL, const TbrvSQSReceiveMessageRequest& aRequest,
    const TStringList* aMessageSystemAttributeNames, TbrvSQSReceiveMessageResponses& aResponses) {
  SetAction("ReceiveMessage");
  if (aRequest.MaxNumberOfMessages() >= 1 && aRequest.MaxNumberOfMessages() <= 10)
    AddParam("MaxNumberOfMessages", aRequest.MaxNumberOfMessages());
  if (!aRequest.ReceiveRequestAttemptId().empty())
    AddParam("ReceiveRequestAttemptId", aRequest.ReceiveRequestAttemptId());
  if (aRequest.ExplicitVisibilityTimeout())
    AddParam("VisibilityTimeout", *aRequest.ExplicitVisibilityTimeout());
  else if (aRequest.VisibilityTimeout() > 0)
    AddParam("VisibilityTimeout", aRequest.VisibilityTimeout());
  if (aRequest.ExplicitWaitTimeSeconds())
    AddParam("WaitTimeSeconds", *aRequest.ExplicitWaitTimeSeconds());
  else if (aRequest.WaitTimeSeconds() > 0)
    AddParam("WaitTimeSeconds", aRequest.WaitTimeSeconds());
  int n = 0;
  for (const TbrvAWSSQSAttribute attribute : aRequest.Attributes())
    AddParam(Numbered("AttributeName", ++n), SQSAttributeWireName(attribute));
  if (aMessageSystemAttributeNames != nullptr) {
    for (const std::string& name : aMessageSystemAttributeNames->Lines())
      AddParam(Numbered("AttributeName", ++n), name);
  }
  if (aRequest.HasMessageAttributeName()) {
    n = 0;
    for (const std::string& name : aRequest.MessageAttributeName().Lines())
      AddParam(Numbered("MessageAttributeName", ++n), name);
  }
  std::string response;
  if (!Execute(aQueueURL, response)) return false;

  const TXMLTagIndex tags(response);
  std::vector<std::unique_ptr<TbrvSQSReceiveMessageResponse>> received;
  for (const std::string_view message : tags.Values("Message", response)) {
    auto record = std::make_unique<TbrvSQSReceiveMessageResponse>();
    record->SetMessageId(TagText(tags, message, "MessageId"));
    // The body is the message as sent; bytes that are not UTF-8 become U+FFFD.
    record->SetBody(RepairUTF8(TagText(tags, message, "Body")));
    record->SetMD5OfBody(TagText(tags, message, "MD5OfBody"));
    record->SetMD5OfMessageAttributes(TagText(tags, message, "MD5OfMessageAttributes"));
    record->SetReceiptHandle(TagText(tags, message, "ReceiptHandle"));
    for (const std::string_view attribute : tags.Values("Attribute", message))
      record->Attributes().AddSQSAttribute(TagText(tags, attribute, "Name"),
                                           TagText(tags, attribute, "Value"));
    for (const std::string_view attribute : tags.Values("MessageAttribute", message)) {
      // <Name>n</Name><Value><StringValue>v</StringValue><DataType>t</DataType></Value>
      const auto [from, to] = tags.RangeOf(attribute);
      const std::string_view value = tags.Value("Value", from, to);
      std::string text = TagText(tags, value, "StringValue");
      if (text.empty()) text = TagText(tags, value, "BinaryValue");
      record->MessageAttributes().AddSQSAttribute(TagText(tags, attribute, "Name"),
                                                  TagText(tags, value, "DataType"), text);
    }
    received.push_back(std::move(record));
  }
  // A message whose digests differ fails the whole answer: none of its messages is handed
  // out, and the service shows them again once their visibility time-out ends.
  bool intact = true;
  for (const auto& record : received) {
    const std::string mismatch = ChecksumValidation() ? SQSCheckReceivedMessage(*record) : "";
    if (!mismatch.empty()) DoSQSError(kSQSChecksumMismatch, mismatch, response);
    intact = intact && mismatch.empty();
  }
  if (!intact) return false;
  for (auto& record : received) aResponses.AdoptItem(std::move(record));
  return true;
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::ChangeMessageVisibility(const std::string& aQueueName,
                                                             const std::string& aReceiptHandle,
                                                             int VisibilityTimeout) {
  return DoChangeMessageVisibility(GetQueueURL(aQueueName), aReceiptHandle, VisibilityTimeout);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::DoChangeMessageVisibility(const std::string& aQueueURL,
                                                               const std::string& aReceiptHandle,
                                                               int aVisibilityTimeout) {
  SetAction("ChangeMessageVisibility");
  AddParam("ReceiptHandle", aReceiptHandle);
  AddParam("VisibilityTimeout", aVisibilityTimeout);
  return ExecuteSimple(aQueueURL);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::ChangeMessageVisibilityBatch(
    const std::string& aQueueName, const TbrvSQSChangeMessageVisibilityBatchRequests& aRequests,
    TStringList& aResponseIds) {
  return DoChangeMessageVisibilityBatch(GetQueueURL(aQueueName), aRequests, aResponseIds);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::ChangeMessageVisibilityBatch(
    const std::string& aQueueName, const TbrvSQSChangeMessageVisibilityBatchRequests& aRequests,
    TbrvSQSBatchResult& aResult) {
  const bool accepted =
      ChangeMessageVisibilityBatchEntries(GetQueueURL(aQueueName), aRequests, nullptr, &aResult);
  return accepted && EveryEntryCarriedOut(aRequests, aResult);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::DoChangeMessageVisibilityBatch(
    const std::string& aQueueURL, const TbrvSQSChangeMessageVisibilityBatchRequests& aRequests,
    TStringList& aResponseIds) {
  return ChangeMessageVisibilityBatchEntries(aQueueURL, aRequests, &aResponseIds, nullptr);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::ChangeMessageVisibilityBatchEntries(
    const std::string& aQueueURL, const TbrvSQSChangeMessageVisibilityBatchRequests& aRequests,
    TStringList* aResponseIds, TbrvSQSBatchResult* aResult) {
  bool cleared = false;
  return SendBatches(
      aQueueURL, "ChangeMessageVisibilityBatch", "ChangeMessageVisibilityBatchRequestEntry",
      "ChangeMessageVisibilityBatchResultEntry", aRequests.Count(),
      [&](int i, const std::string& prefix) {
        const TbrvSQSChangeMessageVisibilityBatchRequest* request = aRequests.Items(i);
        if (request == nullptr) return false;
        AddParam(prefix + "Id", request->ID());
        AddParam(prefix + "ReceiptHandle", request->ReceiptHandle());
        AddParam(prefix + "VisibilityTimeout", request->VisibilityTimeout());
        return true;
      },
      [&](const std::string& response, int, int) {
        if (aResponseIds == nullptr) return TbrvRejectedEntries();
        // The caller's list is emptied once, when the first answer is accepted; it receives
        // the Id of every entry of the answers.
        if (!cleared) aResponseIds->Clear();
        cleared = true;
        AppendTagTexts(response, "Id", *aResponseIds);
        return TbrvRejectedEntries();
      },
      aResult);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::DeleteMessage(const std::string& aQueueName,
                                                   const std::string& aReceiptHandle) {
  return DoDeleteMessage(GetQueueURL(aQueueName), aReceiptHandle);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::DoDeleteMessage(const std::string& aQueueURL,
                                                     const std::string& aReceiptHandle) {
  SetAction("DeleteMessage");
  AddParam("ReceiptHandle", aReceiptHandle);
  return ExecuteWithRequestId(aQueueURL);
}

void TbrvHTTP_Amazon_AWS_SQS_Client::DeleteMessageBatch(
    const std::string& aQueueName, const TbrvSQSDeleteMessageBatchRequestItems& aDeleteBatchItems) {
  DoDeleteMessageBatch(GetQueueURL(aQueueName), aDeleteBatchItems);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::DeleteMessageBatch(
    const std::string& aQueueName, const TbrvSQSDeleteMessageBatchRequestItems& aDeleteBatchItems,
    TbrvSQSBatchResult& aResult) {
  const bool accepted =
      DeleteMessageBatchEntries(GetQueueURL(aQueueName), aDeleteBatchItems, &aResult);
  return accepted && EveryEntryCarriedOut(aDeleteBatchItems, aResult);
}

void TbrvHTTP_Amazon_AWS_SQS_Client::DoDeleteMessageBatch(
    const std::string& aQueueURL, const TbrvSQSDeleteMessageBatchRequestItems& aItems) {
  DeleteMessageBatchEntries(aQueueURL, aItems, nullptr);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::DeleteMessageBatchEntries(
    const std::string& aQueueURL, const TbrvSQSDeleteMessageBatchRequestItems& aItems,
    TbrvSQSBatchResult* aResult) {
  return SendBatches(
      aQueueURL, "DeleteMessageBatch", "DeleteMessageBatchRequestEntry",
      "DeleteMessageBatchResultEntry", aItems.Count(),
      [&](int i, const std::string& prefix) {
        const TbrvSQSDeleteMessageBatchRequestItem* item = aItems.Items(i);
        if (item == nullptr) return false;
        AddParam(prefix + "Id", item->ID());
        AddParam(prefix + "ReceiptHandle", item->ReceiptHandle());
        return true;
      },
      nullptr, aResult);
}

// --- client: queues ---

std::string TbrvHTTP_Amazon_AWS_SQS_Client::CreateQueue(const std::string& aQueueName) {
  TbrvSQSCreateQueue queue;
  queue.SetQueueName(aQueueName);
  return CreateQueue(queue);
}

std::string TbrvHTTP_Amazon_AWS_SQS_Client::CreateQueue(const TbrvSQSCreateQueue& aQueue) {
  std::string queue_url;
  DoCreateQueue(aQueue, queue_url);
  return queue_url;
}

void TbrvHTTP_Amazon_AWS_SQS_Client::DoCreateQueue(const TbrvSQSCreateQueue& aQueue,
                                                   std::string& aQueueURL) {
  aQueueURL.clear();
  SetAction("CreateQueue");
  const TbrvSQSAttributes& attributes = aQueue.Attributes();
  for (int n = 0; n < attributes.Count(); ++n) {
    const TbrvSQSAttribute* attribute = attributes.Items(n);
    AddParam(Numbered("Attribute", n + 1) + ".Name", attribute->AttributeName());
    AddParam(Numbered("Attribute", n + 1) + ".Value", attribute->AttributeValue());
  }
  AddParam("QueueName", aQueue.QueueName());
  const TbrvSQSTags& tags = aQueue.Tags();
  for (int n = 0; n < tags.Count(); ++n) {
    AddParam(Numbered("Tag", n + 1) + ".Key", tags.Items(n)->Key());
    AddParam(Numbered("Tag", n + 1) + ".Value", tags.Items(n)->Value());
  }
  std::string response;
  if (Execute("", response)) aQueueURL = GetXMLTagText(response, "QueueUrl");
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::DeleteQueue(const std::string& aQueueName) {
  return DoDeleteQueue(GetQueueURL(aQueueName));
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::DoDeleteQueue(const std::string& aQueueURL) {
  SetAction("DeleteQueue");
  return ExecuteSimple(aQueueURL);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::ListQueues(TStringList& Queues,
                                                const std::string& aQueueNamePrefix) {
  Queues.Clear();
  return DoListQueues(Queues, aQueueNamePrefix);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::DoListQueues(TStringList& aQueues,
                                                  const std::string& aQueueNamePrefix) {
  SetAction("ListQueues");
  if (!aQueueNamePrefix.empty()) AddParam("QueueNamePrefix", aQueueNamePrefix);
  std::string response;
  if (!Execute("", response)) return false;
  AppendTagTexts(response, "QueueUrl", aQueues);
  return true;
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::ListQueuesPage(TStringList& Queues,
                                                    const std::string& aQueueNamePrefix,
                                                    int aMaxResults, std::string& aNextToken) {
  SetAction("ListQueues");
  AddParam("MaxResults", aMaxResults);
  if (!aNextToken.empty()) AddParam("NextToken", aNextToken);
  if (!aQueueNamePrefix.empty()) AddParam("QueueNamePrefix", aQueueNamePrefix);
  std::string response;
  if (!Execute("", response)) return false;
  AppendTagTexts(response, "QueueUrl", Queues);
  aNextToken = GetXMLTagText(response, "NextToken");
  return true;
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::ListAllQueues(TStringList& Queues,
                                                   const std::string& aQueueNamePrefix,
                                                   int aPageSize, int aMaxItems) {
  Queues.Clear();
  std::string token;
  do {
    const int before = Queues.Count();
    const std::string previous = token;
    if (!ListQueuesPage(Queues, aQueueNamePrefix, aPageSize, token)) return false;
    // A page that brings nothing new, or the same token again, would page for ever.
    if (Queues.Count() == before || token == previous) break;
  } while (!token.empty() && (aMaxItems <= 0 || Queues.Count() < aMaxItems));
  while (aMaxItems > 0 && Queues.Count() > aMaxItems) Queues.Delete(Queues.Count() - 1);
  return true;
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::ListQueueTags(const std::string& aQueueName,
                                                   TbrvSQSTags& Tags) {
  const std::string queue_url = GetQueueURL(aQueueName);
  Tags.Clear();
  return DoListQueueTags(queue_url, Tags);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::DoListQueueTags(const std::string& aQueueURL,
                                                     TbrvSQSTags& aTags) {
  SetAction("ListQueueTags");
  std::string response;
  if (!Execute(aQueueURL, response)) return false;
  ForEachNamedValue(response, "Tag", "Key", [&](const std::string& key, const std::string& value) {
    aTags.AddSQSTag(key, value);
  });
  return true;
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::GetQueueAttributes(const std::string& aQueueName,
                                                        TbrvSQSAttributes& Attributes) {
  const std::string queue_url = GetQueueURL(aQueueName);
  Attributes.Clear();
  return DoGetQueueAttributes(queue_url, Attributes);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::DoGetQueueAttributes(const std::string& aQueueURL,
                                                          TbrvSQSAttributes& aAttributes) {
  SetAction("GetQueueAttributes");
  AddParam("AttributeName.1", "All");
  std::string response;
  if (!Execute(aQueueURL, response)) return false;
  ForEachNamedValue(response, "Attribute", "Name",
                    [&](const std::string& name, const std::string& value) {
                      aAttributes.AddSQSAttribute(name, value);
                    });
  return true;
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::SetQueueAttributes(const std::string& aQueueName,
                                                        const TbrvSQSAttributes& aAttributes) {
  return DoSetQueueAttributes(GetQueueURL(aQueueName), aAttributes);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::DoSetQueueAttributes(const std::string& aQueueURL,
                                                          const TbrvSQSAttributes& aAttributes) {
  SetAction("SetQueueAttributes");
  for (int n = 0; n < aAttributes.Count(); ++n) {
    const TbrvSQSAttribute* attribute = aAttributes.Items(n);
    AddParam(Numbered("Attribute", n + 1) + ".Name", attribute->AttributeName());
    AddParam(Numbered("Attribute", n + 1) + ".Value", attribute->AttributeValue());
  }
  return ExecuteSimple(aQueueURL);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::PurgueQueue(const std::string& aQueueName) {
  return DoPurgeQueue(GetQueueURL(aQueueName));
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::DoPurgeQueue(const std::string& aQueueURL) {
  SetAction("PurgeQueue");
  return ExecuteWithRequestId(aQueueURL);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::TagQueue(const std::string& aQueueName,
                                              const TbrvSQSTags& aTags) {
  return DoTagQueue(GetQueueURL(aQueueName), aTags);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::TagQueue(const std::string& aQueueName,
                                              const std::string& aKey, const std::string& aValue) {
  TbrvSQSTags tags;
  tags.AddSQSTag(aKey, aValue);
  return TagQueue(aQueueName, tags);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::DoTagQueue(const std::string& aQueueURL,
                                                const TbrvSQSTags& aTags) {
  SetAction("TagQueue");
  for (int n = 0; n < aTags.Count(); ++n) {
    AddParam(Numbered("Tag", n + 1) + ".Key", aTags.Items(n)->Key());
    AddParam(Numbered("Tag", n + 1) + ".Value", aTags.Items(n)->Value());
  }
  return ExecuteWithRequestId(aQueueURL);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::UnTagQueue(const std::string& aQueueName,
                                                const TStringList& aTags) {
  return DoUnTagQueue(GetQueueURL(aQueueName), aTags);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::UnTagQueue(const std::string& aQueueName,
                                                const std::string& aKey) {
  TStringList keys;
  keys.Add(aKey);
  return UnTagQueue(aQueueName, keys);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::DoUnTagQueue(const std::string& aQueueURL,
                                                  const TStringList& aTags) {
  SetAction("UntagQueue");
  for (int n = 0; n < aTags.Count(); ++n) AddParam(Numbered("TagKey", n + 1), aTags[n]);
  return ExecuteWithRequestId(aQueueURL);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::AddPermission(const std::string& aQueueName,
                                                   const std::string& aLabel,
                                                   const TbrvSQSPermissions& aPermissions) {
  return DoAddPermission(GetQueueURL(aQueueName), aLabel, aPermissions);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::DoAddPermission(const std::string& aQueueURL,
                                                     const std::string& aLabel,
                                                     const TbrvSQSPermissions& aPermissions) {
  SetAction("AddPermission");
  for (int n = 0; n < aPermissions.Count(); ++n) {
    const TbrvSQSPermission* permission = aPermissions.Items(n);
    AddParam(Numbered("AWSAccountId", n + 1), permission->AWSAccountId());
    AddParam(Numbered("ActionName", n + 1), permission->ActionName());
  }
  AddParam("Label", aLabel);
  return ExecuteSimple(aQueueURL);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::AddPermission(const std::string& aQueueName,
                                                   const std::string& aLabel,
                                                   const TStringList& aAWSAccountIds,
                                                   const TStringList& aActionNames) {
  const std::string queue_url = GetQueueURL(aQueueName);
  SetAction("AddPermission");
  for (int n = 0; n < aAWSAccountIds.Count(); ++n)
    AddParam(Numbered("AWSAccountId", n + 1), aAWSAccountIds[n]);
  for (int n = 0; n < aActionNames.Count(); ++n)
    AddParam(Numbered("ActionName", n + 1), aActionNames[n]);
  AddParam("Label", aLabel);
  return ExecuteSimple(queue_url);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::RemovePermission(const std::string& aQueueName,
                                                      const std::string& aLabel) {
  return DoRemovePermission(GetQueueURL(aQueueName), aLabel);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::DoRemovePermission(const std::string& aQueueURL,
                                                        const std::string& aLabel) {
  SetAction("RemovePermission");
  AddParam("Label", aLabel);
  return ExecuteSimple(aQueueURL);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::ListDeadLetterSourceQueues(const std::string& aQueueName,
                                                                TStringList& aQueueURLs) {
  return DoListDeadLetterSourceQueues(GetQueueURL(aQueueName), aQueueURLs);
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::DoListDeadLetterSourceQueues(const std::string& aQueueURL,
                                                                  TStringList& aQueueURLs) {
  SetAction("ListDeadLetterSourceQueues");
  std::string response;
  if (!Execute(aQueueURL, response)) return false;
  aQueueURLs.Clear();
  AppendTagTexts(response, "QueueUrl", aQueueURLs);
  return true;
}

namespace {

// A whole number of an answer; aDefault when the text is not one.
long long AnswerNumber(const std::string& aText, long long aDefault) {
  long long value = 0;
  const char* end = aText.data() + aText.size();
  const auto [ptr, ec] = std::from_chars(aText.data(), end, value);
  return ec == std::errc() && ptr == end && !aText.empty() ? value : aDefault;
}

}  // namespace

bool TbrvHTTP_Amazon_AWS_SQS_Client::StartMessageMoveTask(const std::string& aSourceArn,
                                                          const std::string& aDestinationArn,
                                                          int aMaxNumberOfMessagesPerSecond,
                                                          std::string& aTaskHandle) {
  SetAction("StartMessageMoveTask");
  AddParam("SourceArn", aSourceArn);
  if (!aDestinationArn.empty()) AddParam("DestinationArn", aDestinationArn);
  if (aMaxNumberOfMessagesPerSecond > 0)
    AddParam("MaxNumberOfMessagesPerSecond", aMaxNumberOfMessagesPerSecond);
  std::string response;
  if (!Execute("", response)) return false;
  aTaskHandle = GetXMLTagText(response, "TaskHandle");
  return !aTaskHandle.empty();
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::ListMessageMoveTasks(const std::string& aSourceArn,
                                                          int aMaxResults,
                                                          TbrvSQSMessageMoveTasks& aTasks) {
  SetAction("ListMessageMoveTasks");
  AddParam("SourceArn", aSourceArn);
  if (aMaxResults > 0) AddParam("MaxResults", aMaxResults);
  std::string response;
  if (!Execute("", response)) return false;
  aTasks.Clear();
  // Each task is one <Result> element; a finished task has no handle, so tasks are appended
  // as they come rather than keyed.
  TStringList results;
  GetXMLTagValues(response, "Result", results);
  for (const std::string& result : results.Lines()) {
    auto task = std::make_unique<TbrvSQSMessageMoveTask>();
    task->SetTaskHandle(GetXMLTagText(result, "TaskHandle"));
    task->Status = GetXMLTagText(result, "Status");
    task->SourceArn = GetXMLTagText(result, "SourceArn");
    task->DestinationArn = GetXMLTagText(result, "DestinationArn");
    task->FailureReason = GetXMLTagText(result, "FailureReason");
    task->StartedTimestamp = AnswerNumber(GetXMLTagText(result, "StartedTimestamp"), 0);
    task->MaxNumberOfMessagesPerSecond =
        static_cast<int>(AnswerNumber(GetXMLTagText(result, "MaxNumberOfMessagesPerSecond"), 0));
    task->ApproximateNumberOfMessagesMoved =
        AnswerNumber(GetXMLTagText(result, "ApproximateNumberOfMessagesMoved"), 0);
    task->ApproximateNumberOfMessagesToMove =
        AnswerNumber(GetXMLTagText(result, "ApproximateNumberOfMessagesToMove"), -1);
    aTasks.AdoptItem(std::move(task));
  }
  return true;
}

bool TbrvHTTP_Amazon_AWS_SQS_Client::CancelMessageMoveTask(
    const std::string& aTaskHandle, long long& aApproximateNumberOfMessagesMoved) {
  SetAction("CancelMessageMoveTask");
  AddParam("TaskHandle", aTaskHandle);
  std::string response;
  if (!Execute("", response)) return false;
  const std::string moved = GetXMLTagText(response, "ApproximateNumberOfMessagesMoved");
  aApproximateNumberOfMessagesMoved = AnswerNumber(moved, 0);
  return !moved.empty() || !GetXMLTagText(response, "RequestId").empty();
}

}  // namespace brv
