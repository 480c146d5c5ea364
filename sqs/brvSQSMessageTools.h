// Message tools built on the SQS client's operations: look at messages without taking them
// (peek), watch a queue (tail), and move messages from one queue to another without ever
// losing one (move). None of them sends anything the client's own operations do not.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "sqs/brvHTTP_Amazon_SQS.h"

namespace brv {

// The most payload one batch request may carry: bodies and message attributes together.
inline constexpr int brvSQSMaxBatchPayload = 256 * 1024;

// True for a FIFO queue's name (or URL): it ends in ".fifo".
bool IsFifoQueueName(const std::string& aQueueName);

// The bytes a message counts for in a batch's payload: its body and, for each message
// attribute, name, data type and value.
int MessagePayloadSize(const TbrvSQSSendMessageRequest& aMessage);

// Splits a list of messages into runs that fit one batch each: at most MaxBatchEntries
// messages and at most aMaxPayload bytes (a message larger than that alone goes alone). The
// result holds the index of the first message of each run, followed by aMessages.Count().
std::vector<int> SplitIntoBatches(const TbrvSQSSendMessageRequests& aMessages,
                                  int aMaxPayload = brvSQSMaxBatchPayload);

// --- peek ---

struct TbrvSQSPeekOptions {
  int MaxMessages = 10;        // distinct messages to look at
  int VisibilityTimeout = 30;  // how long each is hidden while the pages are read
  // Long-poll wait of each receive: a short poll samples only some of the service's hosts,
  // so its empty answer does not mean the queue holds nothing more.
  int WaitTimeSeconds = 1;
};

// Looks at up to MaxMessages messages and makes each visible again. This is a receive: it
// raises every message's receive count, and can push a message past a dead-letter queue's
// maxReceiveCount. Messages are received ten at a time, hidden for VisibilityTimeout, until
// enough distinct ones or an empty answer; then every one seen is made visible again with
// ChangeMessageVisibilityBatch to 0. aMessages receives them with all system and message
// attributes. False when a receive or the restoring change failed (aMessages holds what was
// seen; those not restored become visible when their time-out ends).
bool PeekMessages(TbrvHTTP_Amazon_AWS_SQS_Client& aClient, const std::string& aQueueName,
                  const TbrvSQSPeekOptions& aOptions, TbrvSQSReceiveMessageResponses& aMessages);

// --- tail ---

struct TbrvSQSTailOptions {
  int WaitTimeSeconds = 20;               // long-poll wait of each receive, 0 to 20
  int MaxMessages = 0;                    // stop after this many messages (0: no limit)
  std::chrono::milliseconds Duration{0};  // stop after this long (0: no limit)
  bool DeleteAfterCallback = false;       // delete each message once the callback returned
  int VisibilityTimeout = -1;             // sent when 0 or above; else the queue's own
};

// Why a tail ended.
enum TbrvSQSTailEnd { sqsteCount, sqsteDuration, sqsteCancelled, sqsteFailed };

// Long-polls the queue and hands each message, as it arrives, to aOnMessage. Ends at the
// count, after the duration, when the client's cancellation is raised (an in-flight long poll
// then ends at once), or when a receive or a delete fails (reported through OnSQSError).
TbrvSQSTailEnd TailMessages(
    TbrvHTTP_Amazon_AWS_SQS_Client& aClient, const std::string& aQueueName,
    const TbrvSQSTailOptions& aOptions,
    const std::function<void(const TbrvSQSReceiveMessageResponse&)>& aOnMessage);

// --- move ---

// Where a move stands, after each batch and each step of it.
struct TbrvSQSMoveProgress {
  enum TStep { mpReceived, mpSent, mpDeleted };
  TStep Step = mpReceived;
  int Received = 0;      // messages taken from the source so far
  int Moved = 0;         // sent to the target and deleted from the source
  int SendFailed = 0;    // not sent: left in the source
  int DeleteFailed = 0;  // sent but not deleted: in both queues
};

struct TbrvSQSMoveOptions {
  int MaxMessages = 0;         // stop after this many (0: until the source answers empty)
  int VisibilityTimeout = 60;  // how long a received batch is hidden while it is moved
  int WaitTimeSeconds = 1;     // long-poll wait of each receive (see TbrvSQSPeekOptions)
  // The group of every message moved from a standard queue to a FIFO queue (required there);
  // a FIFO source's own group ids are kept.
  std::string MessageGroupId;
  // Called after each step of each batch; an exception it raises ends the move there.
  std::function<void(const TbrvSQSMoveProgress&)> OnProgress;
  // Asked before each batch: true ends the move (messages already received stay hidden in the
  // source until their time-out, and are then there again).
  std::function<bool()> Cancelled;
};

// What a move did. A failed entry names the source message id with its code and message.
struct TbrvSQSMoveResult {
  TbrvSQSMoveProgress Counts;
  std::vector<std::string> Failures;  // "MESSAGEID: CODE: MESSAGE", send or delete
};

// A move refused before anything was received (a standard source into a FIFO target without
// a group id).
BRV_DECLARE_EXCEPTION(EbrvSQSMoveRefused, Exception);

// Moves messages from aSource to aTarget: receives batches (hidden for VisibilityTimeout,
// with every attribute), sends them to the target in batches split by count and payload size,
// then deletes from the source exactly the entries whose send succeeded. Body, message
// attributes and a FIFO source's group id are kept; to a FIFO target the deduplication id is
// the source message id, so a batch sent again after a crash is not duplicated within the
// deduplication window, and no delay is sent. A failed send leaves the message in the source;
// a failed delete leaves it in both. True when every message received was moved.
bool MoveMessages(TbrvHTTP_Amazon_AWS_SQS_Client& aClient, const std::string& aSource,
                  const std::string& aTarget, const TbrvSQSMoveOptions& aOptions,
                  TbrvSQSMoveResult& aResult);

// The send request that carries a received message to another queue: body, message
// attributes, and for a FIFO target the group id (the message's own, else aGroupId) and the
// source message id as deduplication id.
std::unique_ptr<TbrvSQSSendMessageRequest> MessageToSend(
    const TbrvSQSReceiveMessageResponse& aMessage, bool aFifoTarget, const std::string& aGroupId);

// Sends aRequests (keyed by entry id) to a queue in batches split as SplitIntoBatches does;
// aResult (cleared first) collects every entry's outcome by its id. True when every entry was
// sent.
bool SendMessagesInBatches(TbrvHTTP_Amazon_AWS_SQS_Client& aClient, const std::string& aQueueName,
                           const TbrvSQSSendMessageRequests& aRequests,
                           TbrvSQSBatchResult& aResult);

}  // namespace brv
