#include "cli/SQSJsonOutput.h"

#include "base/UTF8.h"

namespace brv {

namespace {

bool IsBinaryType(const std::string& Type) {
  return Type == "Binary" || Type.rfind("Binary.", 0) == 0;
}

// What the second pass escapes: the library has written C0 controls inside strings as
// escapes already, and those outside strings are the text's own line breaks.
bool MustEscape(char32_t Code) {
  return (Code >= 0x7F && Code <= 0x9F) || (Code >= 0x202A && Code <= 0x202E) ||
         (Code >= 0x2066 && Code <= 0x2069);
}

}  // namespace

std::string SQSJsonText(const TSQSJson& Value, int Indent) {
  // The library writes C0 controls as escapes and replaces ill-formed UTF-8; DEL, C1 and the
  // bidirectional controls it leaves as they are. They can only stand inside strings (the
  // rest of the text is ASCII), so they are escaped in a second pass over the whole text.
  const std::string text = Value.dump(Indent, ' ', false, TSQSJson::error_handler_t::replace);
  static const char* hex = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t start = pos;
    char32_t code = 0;
    if (NextUTF8CodePoint(text, pos, code) && MustEscape(code)) {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += hex[(code >> shift) & 15];
    } else {
      out.append(text, start, pos - start);
    }
  }
  return out;
}

void WriteSQSJson(std::ostream& Out, const TSQSJson& Value) {
  if (Value.is_null() || (Value.is_object() && Value.empty())) return;
  Out << SQSJsonText(Value) << "\n";
}

void WriteSQSJsonLine(std::ostream& Out, const TSQSJson& Value) {
  Out << SQSJsonText(Value, -1) << "\n";
}

TSQSJson SQSQueueUrlsJson(const char* Key, const TStringList& URLs) {
  TSQSJson json = TSQSJson::object();
  if (URLs.Count() > 0) json[Key] = URLs.Lines();
  return json;
}

TSQSJson SQSQueueUrlJson(const std::string& URL) {
  return {{"QueueUrl", URL}};
}

TSQSJson SQSAttributesJson(const TbrvSQSAttributes& Attributes) {
  TSQSJson json = TSQSJson::object();
  for (int i = 0; i < Attributes.Count(); ++i)
    json["Attributes"][Attributes.Items(i)->AttributeName()] =
        Attributes.Items(i)->AttributeValue();
  return json;
}

TSQSJson SQSTagsJson(const TbrvSQSTags& Tags) {
  TSQSJson json = TSQSJson::object();
  for (int i = 0; i < Tags.Count(); ++i)
    json["Tags"][Tags.Items(i)->Key()] = Tags.Items(i)->Value();
  return json;
}

TSQSJson SQSSendMessageJson(const TbrvSQSSendMessageResponse& Response) {
  TSQSJson json = TSQSJson::object();
  json["MD5OfMessageBody"] = Response.MD5OfMessageBody();
  if (!Response.MD5OfMessageAttributes().empty())
    json["MD5OfMessageAttributes"] = Response.MD5OfMessageAttributes();
  if (!Response.MD5OfMessageSystemAttributes().empty())
    json["MD5OfMessageSystemAttributes"] = Response.MD5OfMessageSystemAttributes();
  json["MessageId"] = Response.MessageId();
  if (!Response.SequenceNumber().empty()) json["SequenceNumber"] = Response.SequenceNumber();
  return json;
}

TSQSJson SQSSendMessageBatchEntryJson(const TbrvSQSSendMessageResponse& Response) {
  TSQSJson json = {{"Id", Response.ID()},
                   {"MessageId", Response.MessageId()},
                   {"MD5OfMessageBody", Response.MD5OfMessageBody()}};
  if (!Response.MD5OfMessageAttributes().empty())
    json["MD5OfMessageAttributes"] = Response.MD5OfMessageAttributes();
  if (!Response.MD5OfMessageSystemAttributes().empty())
    json["MD5OfMessageSystemAttributes"] = Response.MD5OfMessageSystemAttributes();
  if (!Response.SequenceNumber().empty()) json["SequenceNumber"] = Response.SequenceNumber();
  return json;
}

TSQSJson SQSMessageJson(const TbrvSQSReceiveMessageResponse& Message) {
  TSQSJson json = {{"MessageId", Message.MessageId()},
                   {"ReceiptHandle", Message.ReceiptHandle()},
                   {"MD5OfBody", Message.MD5OfBody()},
                   {"Body", Message.Body()}};
  for (int i = 0; i < Message.Attributes().Count(); ++i) {
    const TbrvSQSAttribute& attribute = *Message.Attributes().Items(i);
    json["Attributes"][attribute.AttributeName()] = attribute.AttributeValue();
  }
  if (!Message.MD5OfMessageAttributes().empty())
    json["MD5OfMessageAttributes"] = Message.MD5OfMessageAttributes();
  for (int i = 0; i < Message.MessageAttributes().Count(); ++i) {
    const TbrvSQSMessageAttributeItem& attribute = *Message.MessageAttributes().Items(i);
    TSQSJson value = TSQSJson::object();
    value[IsBinaryType(attribute.AttributeType()) ? "BinaryValue" : "StringValue"] =
        attribute.AttributeValue();
    value["DataType"] = attribute.AttributeType();
    json["MessageAttributes"][attribute.AttributeName()] = std::move(value);
  }
  return json;
}

TSQSJson SQSMessagesJson(const TbrvSQSReceiveMessageResponses& Messages) {
  TSQSJson json = TSQSJson::object();
  for (int i = 0; i < Messages.Count(); ++i)
    json["Messages"].push_back(SQSMessageJson(*Messages.Items(i)));
  return json;
}

TSQSJson SQSMessageMoveTaskJson(const TbrvSQSMessageMoveTask& Task) {
  TSQSJson json = TSQSJson::object();
  if (!Task.TaskHandle().empty()) json["TaskHandle"] = Task.TaskHandle();
  json["Status"] = Task.Status;
  json["SourceArn"] = Task.SourceArn;
  if (!Task.DestinationArn.empty()) json["DestinationArn"] = Task.DestinationArn;
  if (Task.MaxNumberOfMessagesPerSecond > 0)
    json["MaxNumberOfMessagesPerSecond"] = Task.MaxNumberOfMessagesPerSecond;
  json["ApproximateNumberOfMessagesMoved"] = Task.ApproximateNumberOfMessagesMoved;
  if (Task.ApproximateNumberOfMessagesToMove >= 0)
    json["ApproximateNumberOfMessagesToMove"] = Task.ApproximateNumberOfMessagesToMove;
  if (!Task.FailureReason.empty()) json["FailureReason"] = Task.FailureReason;
  if (Task.StartedTimestamp > 0) json["StartedTimestamp"] = Task.StartedTimestamp;
  return json;
}

TSQSJson SQSMessageMoveTasksJson(const TbrvSQSMessageMoveTasks& Tasks) {
  TSQSJson json = {{"Results", TSQSJson::array()}};
  for (int i = 0; i < Tasks.Count(); ++i)
    json["Results"].push_back(SQSMessageMoveTaskJson(*Tasks.Items(i)));
  return json;
}

TSQSJson SQSBatchFailedJson(const TbrvSQSBatchResultErrorEntry& Entry) {
  return {{"Id", Entry.ID()},
          {"SenderFault", Entry.SenderFault()},
          {"Code", Entry.Code()},
          {"Message", Entry.Message()}};
}

}  // namespace brv
