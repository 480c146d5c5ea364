#include "sqs/brvSQSChecksums.h"

#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "base/Hex.h"

namespace brv {

namespace {

bool IsBinaryDataType(const std::string& aType) {
  return aType == "Binary" || aType.rfind("Binary.", 0) == 0;
}

// The decoded bytes of base64 text, or the text itself when it does not decode.
std::string DecodedBinaryValue(const std::string& aText) {
  if (aText.empty()) return aText;
  const gnutls_datum_t in = {reinterpret_cast<unsigned char*>(const_cast<char*>(aText.data())),
                             static_cast<unsigned int>(aText.size())};
  gnutls_datum_t out = {nullptr, 0};
  if (gnutls_base64_decode2(&in, &out) < 0) return aText;
  std::string bytes(reinterpret_cast<const char*>(out.data), out.size);
  gnutls_free(out.data);
  return bytes;
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
  unsigned char digest[16];
  if (gnutls_hash_fast(GNUTLS_DIG_MD5, aBytes.data(), aBytes.size(), digest) < 0) return {};
  return ToHex(std::string_view(reinterpret_cast<const char*>(digest), sizeof digest), false);
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
