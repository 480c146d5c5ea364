// The `sqs` command's JSON output: each answer in the shape the AWS CLI prints for the same
// operation, so that scripts written for `aws sqs ... --output json | jq` read ours as well.
#pragma once

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

#include "base/StringList.h"
#include "sqs/brvSQSRecords.h"

namespace brv {

// A JSON value whose members keep the order they were added in (the AWS CLI's order).
using TSQSJson = nlohmann::ordered_json;

// The text of a value as the command prints it: indented by four, one member per line, UTF-8
// as it is, with ill-formed UTF-8 replaced by U+FFFD and every control character (C0, DEL,
// C1 U+0080 to U+009F) and bidirectional control (U+202A to U+202E, U+2066 to U+2069) written
// as a \u escape, so that a terminal shows nothing the server chose to make it do. An indent
// of -1 writes the value on one line (line breaks inside strings are escapes).
std::string SQSJsonText(const TSQSJson& Value, int Indent = 4);
// Prints a value and a line break; nothing at all for null or an empty object (the AWS CLI
// prints nothing for an answer without members).
void WriteSQSJson(std::ostream& Out, const TSQSJson& Value);
// Prints a value on one line and a line break: one document of a stream read line by line.
void WriteSQSJsonLine(std::ostream& Out, const TSQSJson& Value);

// {"KEY": [urls...]} or an empty object when there are none (list-queues: "QueueUrls";
// list-dead-letter-source-queues: "queueUrls").
TSQSJson SQSQueueUrlsJson(const char* Key, const TStringList& URLs);
// {"QueueUrl": url} (create-queue, get-queue-url).
TSQSJson SQSQueueUrlJson(const std::string& URL);
// {"Attributes": {name: value, ...}}, or an empty object when there are none.
TSQSJson SQSAttributesJson(const TbrvSQSAttributes& Attributes);
// {"Tags": {key: value, ...}}, or an empty object when there are none.
TSQSJson SQSTagsJson(const TbrvSQSTags& Tags);
// The answer of send-message: MD5OfMessageBody, MD5OfMessageAttributes, MessageId,
// SequenceNumber (those the service gave).
TSQSJson SQSSendMessageJson(const TbrvSQSSendMessageResponse& Response);
// One accepted entry of send-message-batch: Id, MessageId, MD5OfMessageBody, then
// MD5OfMessageAttributes and SequenceNumber when the service gave them.
TSQSJson SQSSendMessageBatchEntryJson(const TbrvSQSSendMessageResponse& Response);
// One received message: MessageId, ReceiptHandle, MD5OfBody, Body, then Attributes,
// MD5OfMessageAttributes and MessageAttributes ({"Name": {"StringValue" or "BinaryValue",
// "DataType"}}) when it has them.
TSQSJson SQSMessageJson(const TbrvSQSReceiveMessageResponse& Message);
// {"Messages": [...]}, or an empty object when none came.
TSQSJson SQSMessagesJson(const TbrvSQSReceiveMessageResponses& Messages);
// One redrive task as list-message-move-tasks lists it: TaskHandle, Status, SourceArn, then
// DestinationArn, MaxNumberOfMessagesPerSecond, ApproximateNumberOfMessagesMoved,
// ApproximateNumberOfMessagesToMove, FailureReason and StartedTimestamp (those known).
TSQSJson SQSMessageMoveTaskJson(const TbrvSQSMessageMoveTask& Task);
// {"Results": [...]}, an empty array when there are none.
TSQSJson SQSMessageMoveTasksJson(const TbrvSQSMessageMoveTasks& Tasks);
// One refused batch entry: {"Id", "SenderFault", "Code", "Message"}.
TSQSJson SQSBatchFailedJson(const TbrvSQSBatchResultErrorEntry& Entry);

}  // namespace brv
