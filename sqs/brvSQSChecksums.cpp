#include "sqs/brvSQSChecksums.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "base/Hex.h"
#include "base/brvIdHashMD5.h"

namespace brv {

namespace {

bool IsBinaryDataType(const std::string& aType) {
  return aType == "Binary" || aType.rfind("Binary.", 0) == 0;
}

// The value of a base64 digit, -1 for any other character.
int Base64Digit(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// The decoded bytes of base64 text, or the text itself when it does not decode. Spaces, tabs
// and line ends anywhere are skipped and a '-' ends the text (what follows, such as a PEM-like
// end line, is ignored). What remains must be whole groups of four characters, the last one
// padded with '=' where it holds one or two bytes, with no bits left over (a last group of
// "A===" adds nothing); anything else (other characters, missing or extra padding, data after
// the padding, no bytes at all) does not decode. These are the rules the digests of binary
// attributes have always been computed with.
std::string DecodedBinaryValue(const std::string& aText) {
  if (aText.empty()) return aText;
  std::string bytes;
  bytes.reserve(aText.size() / 4 * 3 + 3);
  std::uint32_t bits = 0;
  int held = 0;     // digits of the current group
  int padding = 0;  // '=' seen
  for (const char ch : aText) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == ' ' || (c >= '\t' && c <= '\r')) continue;
    if (c == '-') break;
    if (c == '=') {
      // Only after a digit of the group, at most up to the group's end.
      if (held == 0 || held + padding >= 4) return aText;
      ++padding;
      continue;
    }
    const int digit = Base64Digit(c);
    if (digit < 0 || padding > 0) return aText;
    bits = (bits << 6) | static_cast<std::uint32_t>(digit);
    if (++held == 4) {
      bytes += static_cast<char>(bits >> 16);
      bytes += static_cast<char>(bits >> 8);
      bytes += static_cast<char>(bits);
      bits = 0;
      held = 0;
    }
  }
  if (held > 0) {
    // The padded last group: two digits carry one byte, three carry two, one none; the bits
    // beyond them must be zero.
    if (held + padding != 4) return aText;
    const int spare = held * 6 % 8;
    if ((bits & ((1u << spare) - 1)) != 0) return aText;
    bits >>= spare;
    for (int n = held * 6 / 8; n > 0; --n) bytes += static_cast<char>(bits >> (8 * (n - 1)));
  }
  return bytes.empty() ? aText : bytes;
}

void AppendLengthAndBytes(std::string& aOut, const std::string& aBytes) {
  const auto length = static_cast<std::uint32_t>(aBytes.size());
  aOut += static_cast<char>(length >> 24);
  aOut += static_cast<char>(length >> 16);
  aOut += static_cast<char>(length >> 8);
  aOut += static_cast<char>(length);
  aOut += aBytes;
}

char LowerHex(char c) {
  return c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::string SQSMD5Hex(std::string_view aBytes) {
  const TIdMD5Builtin::TDigest digest = ComputeMD5(aBytes);
  return ToHex(std::string_view(reinterpret_cast<const char*>(digest.data()), digest.size()),
               false);
}

std::string SQSMessageAttributesMD5(const TbrvSQSMessageAttributes& aAttributes) {
  std::vector<const TbrvSQSMessageAttributeItem*> items;
  for (int i = 0; i < aAttributes.Count(); ++i)
    if (const TbrvSQSMessageAttributeItem* item = aAttributes.Items(i)) items.push_back(item);
  if (items.empty()) return {};
  // Names are ASCII for the service, so byte order is its order.
  std::stable_sort(items.begin(), items.end(), [](const auto* a, const auto* b) {
    return a->AttributeName() < b->AttributeName();
  });
  std::string buffer;
  for (const TbrvSQSMessageAttributeItem* item : items) {
    AppendLengthAndBytes(buffer, item->AttributeName());
    AppendLengthAndBytes(buffer, item->AttributeType());
    if (IsBinaryDataType(item->AttributeType())) {
      buffer += '\2';
      AppendLengthAndBytes(buffer, DecodedBinaryValue(item->AttributeValue()));
    } else {
      buffer += '\1';
      AppendLengthAndBytes(buffer, item->AttributeValue());
    }
  }
  return SQSMD5Hex(buffer);
}

bool SQSDigestMatches(const std::string& aAnswered, const std::string& aComputed) {
  return !aAnswered.empty() && aAnswered.size() == aComputed.size() &&
         std::equal(aAnswered.begin(), aAnswered.end(), aComputed.begin(),
                    [](char a, char b) { return LowerHex(a) == LowerHex(b); });
}

std::string SQSChecksumMismatchText(const std::string& aMessageId, const std::string& aElement,
                                    const std::string& aAnswered, const std::string& aComputed,
                                    const std::string& aWhat) {
  const std::string message = "message \"" + aMessageId + "\": ";
  if (aAnswered.empty())
    return message + "the answer has no " + aElement + "; the MD5 of " + aWhat + " is " + aComputed;
  return message + aElement + " is " + aAnswered + " but the MD5 of " + aWhat + " is " + aComputed;
}

std::string SQSCheckSentMessage(const TbrvSQSSendMessageRequest& aSent,
                                const std::string& aMessageId, const std::string& aMD5OfMessageBody,
                                const std::string& aMD5OfMessageAttributes) {
  const std::string body = SQSMD5Hex(aSent.MessageBody());
  if (!SQSDigestMatches(aMD5OfMessageBody, body))
    return SQSChecksumMismatchText(aMessageId, "MD5OfMessageBody", aMD5OfMessageBody, body,
                                   "the body sent");
  if (aSent.MessageAttributes().Count() == 0) return {};
  const std::string attributes = SQSMessageAttributesMD5(aSent.MessageAttributes());
  if (!SQSDigestMatches(aMD5OfMessageAttributes, attributes))
    return SQSChecksumMismatchText(aMessageId, "MD5OfMessageAttributes", aMD5OfMessageAttributes,
                                   attributes, "the message attributes sent");
  return {};
}

std::string SQSCheckSentBatchEntry(const TbrvSQSSendMessageRequests& aRequests, int aFirst,
                                   int aEnd, const TbrvSQSSendMessageResponse& aEntry) {
  for (int i = aFirst; i < aEnd; ++i) {
    const TbrvSQSSendMessageRequest* request = aRequests.Items(i);
    if (request == nullptr || request->ID() != aEntry.ID()) continue;
    const std::string mismatch = SQSCheckSentMessage(
        *request, aEntry.MessageId(), aEntry.MD5OfMessageBody(), aEntry.MD5OfMessageAttributes());
    return mismatch.empty() ? mismatch : mismatch + " (batch entry \"" + aEntry.ID() + "\")";
  }
  return "message \"" + aEntry.MessageId() + "\": the answer names batch entry \"" + aEntry.ID() +
         "\", which was not sent";
}

std::string SQSCheckReceivedMessage(const TbrvSQSReceiveMessageResponse& aMessage) {
  const std::string body = SQSMD5Hex(aMessage.Body());
  if (!SQSDigestMatches(aMessage.MD5OfBody(), body))
    return SQSChecksumMismatchText(aMessage.MessageId(), "MD5OfBody", aMessage.MD5OfBody(), body,
                                   "the body received");
  if (aMessage.MessageAttributes().Count() == 0) return {};
  const std::string attributes = SQSMessageAttributesMD5(aMessage.MessageAttributes());
  if (!SQSDigestMatches(aMessage.MD5OfMessageAttributes(), attributes))
    return SQSChecksumMismatchText(aMessage.MessageId(), "MD5OfMessageAttributes",
                                   aMessage.MD5OfMessageAttributes(), attributes,
                                   "the message attributes received");
  return {};
}

}  // namespace brv
