// The MD5 digests SQS returns for a message (MD5OfMessageBody, MD5OfBody,
// MD5OfMessageAttributes), computed here from the message as it was sent or received, so that
// an answer whose digest differs can be told apart from a good one.
#pragma once

#include <string>
#include <string_view>

#include "sqs/brvSQSRecords.h"

namespace brv {

// The MD5 of the bytes as 32 lower-case hex digits.
std::string SQSMD5Hex(std::string_view aBytes);

// The MD5 of message attributes as SQS computes MD5OfMessageAttributes: the attributes sorted
// by name, each written as its name, its data type, one transport byte (1 for String and
// Number types, custom suffixes included, 2 for Binary ones) and its value, where name, type
// and value are each preceded by their length as 4 bytes, most significant first. A Binary
// value is base64 text here and its decoded bytes are digested (text that does not decode is
// digested as it stands, so the digest cannot match). Empty for an empty list.
std::string SQSMessageAttributesMD5(const TbrvSQSMessageAttributes& aAttributes);

// The answer's digest against the one computed; hex digits in either case match. An empty
// answer digest never matches.
bool SQSDigestMatches(const std::string& aAnswered, const std::string& aComputed);

// The error code reported through OnSQSError when a digest in an answer does not match.
inline constexpr const char* kSQSChecksumMismatch = "ChecksumMismatch";

// The text of that report: the message, the element whose digest differs, what the answer
// says and what was computed from aWhat ("the body sent", "the message attributes
// received", ...).
std::string SQSChecksumMismatchText(const std::string& aMessageId, const std::string& aElement,
                                    const std::string& aAnswered, const std::string& aComputed,
                                    const std::string& aWhat);

// Checks an answer to a sent message: MD5OfMessageBody against the body of aSent, and, when
// aSent carries message attributes, MD5OfMessageAttributes against theirs. Empty when both
// match, else the text of the report naming aMessageId.
std::string SQSCheckSentMessage(const TbrvSQSSendMessageRequest& aSent,
                                const std::string& aMessageId, const std::string& aMD5OfMessageBody,
                                const std::string& aMD5OfMessageAttributes);

// Checks one entry of a SendMessageBatch answer against the request with the same entry
// identifier among aRequests' items aFirst to aEnd - 1 (the ones that request sent). An entry
// that names no request sent fails.
std::string SQSCheckSentBatchEntry(const TbrvSQSSendMessageRequests& aRequests, int aFirst,
                                   int aEnd, const TbrvSQSSendMessageResponse& aEntry);

// Checks a received message: MD5OfBody against its body and, when it came with message
// attributes, MD5OfMessageAttributes against them (the service digests only the attributes it
// returns). Empty when both match, else the text of the report.
std::string SQSCheckReceivedMessage(const TbrvSQSReceiveMessageResponse& aMessage);

}  // namespace brv
