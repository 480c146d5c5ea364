// A responder that answers SQS's query protocol at almost no cost of its own, for the import
// benchmark (bench/sqs_canned_import.sh): a batch of varied messages needs each entry's MD5s
// computed, which costs nginx's JavaScript module far more per message than the client being
// measured. It answers CreateQueue and GetQueueUrl with a fixed queue URL and SendMessageBatch
// with each entry's Id, a distinct MessageId, MD5OfMessageBody and, when the entry has
// message attributes, MD5OfMessageAttributes; every other action gets an InvalidAction error.
// The signature is not checked. HTTP/1.1 with keep-alive, one thread per connection, requests
// as GET (the form in the query) or as a form POST with a Content-Length.
//
//   g++ -O2 -std=c++20 bench/sqs_canned_responder.cpp -o responder -lgnutls -pthread
//   ./responder        # prints the port it listens on (127.0.0.1), then serves until killed
#include <arpa/inet.h>
#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

std::atomic<std::uint64_t> next_message{1};

std::string Hex(const unsigned char* aBytes, size_t aSize) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < aSize; ++i) {
    out += digits[aBytes[i] >> 4];
    out += digits[aBytes[i] & 15];
  }
  return out;
}

std::string MD5Hex(std::string_view aBytes) {
  unsigned char digest[16];
  gnutls_hash_fast(GNUTLS_DIG_MD5, aBytes.data(), aBytes.size(), digest);
  return Hex(digest, sizeof digest);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A form value: '+' is a space, %XX a byte.
std::string FormDecode(std::string_view aText) {
  std::string out;
  out.reserve(aText.size());
  for (size_t i = 0; i < aText.size(); ++i) {
    const char c = aText[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < aText.size() && HexValue(aText[i + 1]) >= 0 &&
               HexValue(aText[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(aText[i + 1]) * 16 + HexValue(aText[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

std::string Base64Decode(const std::string& aText) {
  const gnutls_datum_t in = {reinterpret_cast<unsigned char*>(const_cast<char*>(aText.data())),
                             static_cast<unsigned int>(aText.size())};
  gnutls_datum_t out = {nullptr, 0};
  if (gnutls_base64_decode2(&in, &out) < 0) return aText;
  std::string bytes(reinterpret_cast<const char*>(out.data), out.size);
  gnutls_free(out.data);
  return bytes;
}

struct TAttribute {
  std::string Name, Type, Value;
};

struct TEntry {
  std::string Id, Body;
  std::map<int, TAttribute> Attributes;  // by their number in the form
};

void AppendLengthAndBytes(std::string& aOut, const std::string& aBytes) {
  const auto length = static_cast<std::uint32_t>(aBytes.size());
  for (int shift = 24; shift >= 0; shift -= 8) aOut += static_cast<char>(length >> shift);
  aOut += aBytes;
}

// The service's digest of message attributes: by name in byte order, each as length-prefixed
// name, data type, a transport byte (1 text, 2 binary) and length-prefixed value.
std::string AttributesMD5(const std::map<int, TAttribute>& aAttributes) {
  std::vector<const TAttribute*> sorted;
  for (const auto& [number, attribute] : aAttributes) sorted.push_back(&attribute);
  std::sort(sorted.begin(), sorted.end(),
            [](const TAttribute* a, const TAttribute* b) { return a->Name < b->Name; });
  std::string buffer;
  for (const TAttribute* a : sorted) {
    AppendLengthAndBytes(buffer, a->Name);
    AppendLengthAndBytes(buffer, a->Type);
    const bool binary = a->Type == "Binary" || a->Type.rfind("Binary.", 0) == 0;
    buffer += binary ? '\2' : '\1';
    AppendLengthAndBytes(buffer, binary ? Base64Decode(a->Value) : a->Value);
  }
  return MD5Hex(buffer);
}

std::string XMLText(const std::string& aText) {
  std::string out;
  for (const char c : aText) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else out += c;
  }
  return out;
}

std::string ErrorAnswer(const std::string& aCode, const std::string& aMessage) {
  return "<?xml version=\"1.0\"?><ErrorResponse "
         "xmlns=\"http://queue.amazonaws.com/doc/2012-11-05/\"><Error><Type>Sender</"
         "Type><Code>" +
         aCode + "</Code><Message>" + aMessage +
         "</Message><Detail/></Error><RequestId>00000000-0000-4000-8000-000000000000</"
         "RequestId></ErrorResponse>";
}

// The status and XML answer to one request's form.
std::pair<int, std::string> Answer(std::string_view aForm, const std::string& aHost) {
  std::string action;
  std::map<int, TEntry> entries;
  static constexpr std::string_view kEntry = "SendMessageBatchRequestEntry.";
  while (!aForm.empty()) {
    const size_t end = std::min(aForm.find('&'), aForm.size());
    const std::string_view pair = aForm.substr(0, end);
    aForm.remove_prefix(std::min(end + 1, aForm.size()));
    const size_t equals = std::min(pair.find('='), pair.size());
    const std::string key = FormDecode(pair.substr(0, equals));
    std::string value = FormDecode(pair.substr(std::min(equals + 1, pair.size())));
    if (key == "Action") {
      action = value;
      continue;
    }
    if (key.compare(0, kEntry.size(), kEntry) != 0) continue;
    const size_t dot = key.find('.', kEntry.size());
    if (dot == std::string::npos) continue;
    TEntry& entry = entries[std::atoi(key.c_str() + kEntry.size())];
    const std::string field = key.substr(dot + 1);
    if (field == "Id") {
      entry.Id = std::move(value);
    } else if (field == "MessageBody") {
      entry.Body = std::move(value);
    } else if (field.rfind("MessageAttribute.", 0) == 0) {
      const size_t number_end = field.find('.', 17);
      if (number_end == std::string::npos) continue;
      TAttribute& attribute = entry.Attributes[std::atoi(field.c_str() + 17)];
      const std::string part = field.substr(number_end + 1);
      if (part == "Name") attribute.Name = std::move(value);
      else if (part == "Value.DataType") attribute.Type = std::move(value);
      else if (part == "Value.StringValue" || part == "Value.BinaryValue")
        attribute.Value = std::move(value);
    }
  }
  const std::string url = "http://" + aHost + "/000000000000/bench-canned";
  if (action == "CreateQueue" || action == "GetQueueUrl")
    return {200, "<?xml version=\"1.0\"?><" + action +
                     "Response xmlns=\"http://queue.amazonaws.com/doc/2012-11-05/\"><" + action +
                     "Result><QueueUrl>" + url + "</QueueUrl></" + action +
                     "Result><ResponseMetadata><RequestId>6c2e1d8b-9fa0-4b4c-8d3e-2f1a3b4c5d6e</"
                     "RequestId></ResponseMetadata></" +
                     action + "Response>"};
  if (action != "SendMessageBatch")
    return {400, ErrorAnswer("InvalidAction", "The action is not valid for this endpoint.")};
  std::string xml =
      "<?xml version=\"1.0\"?><SendMessageBatchResponse "
      "xmlns=\"http://queue.amazonaws.com/doc/2012-11-05/\"><SendMessageBatchResult>";
  for (const auto& [number, entry] : entries) {
    char id[40];
    std::snprintf(id, sizeof id, "0d3f2e9c-a0b1-4c5d-9e4f-%012llx",
                  static_cast<unsigned long long>(next_message++));
    xml += "<SendMessageBatchResultEntry><Id>" + XMLText(entry.Id) + "</Id><MessageId>" + id +
           "</MessageId><MD5OfMessageBody>" + MD5Hex(entry.Body) + "</MD5OfMessageBody>";
    if (!entry.Attributes.empty())
      xml += "<MD5OfMessageAttributes>" + AttributesMD5(entry.Attributes) +
             "</MD5OfMessageAttributes>";
    xml += "</SendMessageBatchResultEntry>";
  }
  xml +=
      "</SendMessageBatchResult><ResponseMetadata><RequestId>b17d6c30-e4f5-4091-9c8d-"
      "7e6f8091a2b3</RequestId></ResponseMetadata></SendMessageBatchResponse>";
  return {200, xml};
}

// The value of a header in a request head, or empty.
std::string_view Header(std::string_view aHead, std::string_view aName) {
  for (size_t at = aHead.find("\r\n"); at != std::string_view::npos;
       at = aHead.find("\r\n", at + 2)) {
    const std::string_view line = aHead.substr(at + 2, aHead.find("\r\n", at + 2) - at - 2);
    if (line.size() <= aName.size() || line[aName.size()] != ':') continue;
    if (!std::equal(aName.begin(), aName.end(), line.begin(),
                    [](char a, char b) { return std::tolower(a) == std::tolower(b); }))
      continue;
    std::string_view value = line.substr(aName.size() + 1);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    return value;
  }
  return {};
}

void Serve(int aSocket) {
  std::string buffer;
  char block[1 << 16];
  for (;;) {
    size_t head_end;
    while ((head_end = buffer.find("\r\n\r\n")) == std::string::npos) {
      const ssize_t n = read(aSocket, block, sizeof block);
      if (n <= 0) return close(aSocket), void();
      buffer.append(block, n);
    }
    const std::string head = buffer.substr(0, head_end);
    const size_t length = std::strtoul(std::string(Header(head, "Content-Length")).c_str(),
                                       nullptr, 10);
    while (buffer.size() < head_end + 4 + length) {
      const ssize_t n = read(aSocket, block, sizeof block);
      if (n <= 0) return close(aSocket), void();
      buffer.append(block, n);
    }
    const std::string_view request_line = std::string_view(head).substr(0, head.find("\r\n"));
    const size_t target = request_line.find(' ') + 1;
    const std::string_view uri =
        request_line.substr(target, request_line.find(' ', target) - target);
    const size_t query = uri.find('?');
    const bool post = request_line.rfind("POST ", 0) == 0;
    const std::string_view form =
        post ? std::string_view(buffer).substr(head_end + 4, length)
             : (query == std::string_view::npos ? std::string_view() : uri.substr(query + 1));
    const auto [status, body] = Answer(form, std::string(Header(head, "Host")));
    const std::string answer = std::string("HTTP/1.1 ") +
                               (status == 200 ? "200 OK" : "400 Bad Request") +
                               "\r\nContent-Type: text/xml\r\nContent-Length: " +
                               std::to_string(body.size()) + "\r\n\r\n" + body;
    for (size_t sent = 0; sent < answer.size();) {
      const ssize_t n = write(aSocket, answer.data() + sent, answer.size() - sent);
      if (n <= 0) return close(aSocket), void();
      sent += n;
    }
    buffer.erase(0, head_end + 4 + length);
  }
}

}  // namespace

int main() {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 64) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    std::perror("listen");
    return 1;
  }
  std::printf("%d\n", ntohs(address.sin_port));
  std::fflush(stdout);
  for (;;) {
    const int client = accept(listener, nullptr, nullptr);
    if (client < 0) continue;
    const int on = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::thread(Serve, client).detach();
  }
}
