// The SQS client: every SQS operation as one signed GET in the SQS Query protocol, queue names
// resolved to queue URLs through a cache, values cut from the XML answers by text search, and
// service errors reported through events.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "aws/brvHTTP_Amazon_AWS.h"
#include "base/StringList.h"
#include "base/brvQueue.h"
#include "sqs/brvSQSRecords.h"

namespace brv {

// A queue URL that does not name a queue by account and name ("/ACCOUNT/NAME"); nothing is
// sent for it.
BRV_DECLARE_EXCEPTION(EbrvSQSInvalidQueueURL, Exception);

// Fired before each request: the handler may change the URL, or refuse the request by setting
// Handled.
using TbrvOnAWSSQSBeforeRequest =
    std::function<void(TObject* Sender, std::string& URL, bool& Handled)>;
// Fired with each accepted answer: a handler that sets Handled takes the answer for itself,
// and the operation neither reads it nor succeeds.
using TbrvOnAWSSQSResponse =
    std::function<void(TObject* Sender, const std::string& RawResponse, bool& Handled)>;
// Fired for an error answer of the service, with its code, message and the whole answer.
using TbrvOnAWSSQSError =
    std::function<void(TObject* Sender, const std::string& Error_Code,
                       const std::string& Error_Description, const std::string& RawError)>;

// One cached queue URL. The key is the queue name; the endpoint and access key it was
// resolved under belong to the key as well, so that another region or account never reuses it.
class TbrvSQSQueueItem : public TbrvQueueItemBase {
 public:
  BRV_CLASS_NAME(TbrvSQSQueueItem)
  const std::string& URL() const { return FURL; }
  void SetURL(const std::string& Value) { FURL = Value; }
  const std::string& EndPoint() const { return FEndPoint; }
  void SetEndPoint(const std::string& Value) { FEndPoint = Value; }
  const std::string& AccessKey() const { return FAccessKey; }
  void SetAccessKey(const std::string& Value) { FAccessKey = Value; }

 private:
  std::string FURL;
  std::string FEndPoint;
  std::string FAccessKey;
};

// The queue-URL cache: endpoint, access key and queue name to queue URL. Entries are added
// once and never updated; the cache owns them.
class TbrvSQSQueue : public TbrvQueue {
 public:
  BRV_CLASS_NAME(TbrvSQSQueue)
  TbrvSQSQueue() { SetOwnObjects(true); }
  // Adds the entry unless one with the same endpoint, access key and name is there.
  void AddSQSQueue(const std::string& aEndPoint, const std::string& aAccessKey,
                   const std::string& aQueue, const std::string& aURL);
  // The entry with that endpoint, access key and name (exact, case-sensitive), or null.
  TbrvSQSQueueItem* GetSQSQueue(const std::string& aEndPoint, const std::string& aAccessKey,
                                const std::string& aQueue) const;
  // The URL of that entry, or empty when there is none.
  std::string GetURLFromQueue(const std::string& aEndPoint, const std::string& aAccessKey,
                              const std::string& aQueueName) const;
};

// Percent-encodes a value the way Signature Version 4 canonicalises a query: the UTF-8 bytes,
// with A-Z, a-z, 0-9, "-", ".", "_" and "~" kept and every other byte written as "%XY" with
// upper-case hex digits.
std::string EncodeURLValue(const std::string& aValue);

// The raw content of the first <aTag> element of aText (nested markup and character
// references as they stand), or empty when there is no such element with a closing tag after
// it. A plain text search: no attributes, namespaces or empty-element tags.
std::string GetXMLTagValue(const std::string& aText, const std::string& aTag);
// Appends the raw content of each <aTag> element of aText in turn to aList, stopping at the
// first empty one.
void GetXMLTagValues(const std::string& aText, const std::string& aTag, TStringList& aList);
// Decodes the XML character references of element text: &lt; &gt; &amp; &quot; &apos;, &#N;
// and &#xH;. An "&" that starts no valid reference stays as it is.
std::string DecodeXMLEntities(const std::string& aText);
// The text of the first <aTag> element: GetXMLTagValue with its references decoded.
std::string GetXMLTagText(const std::string& aText, const std::string& aTag);
// Orders parameter names by their UTF-16 code units, case-sensitive, shorter prefix first
// (negative, zero or positive).
int CompareParamNames(const std::string& A, const std::string& B);

// The SQS client component.
// Batch entries an answer's own checks refused: entry Id and the report of what differed.
using TbrvRejectedEntries = std::vector<std::pair<std::string, std::string>>;
// Reads one accepted batch answer carrying entries [first, end) and returns those it refused.
using TbrvBatchAnswer =
    std::function<TbrvRejectedEntries(const std::string& aResponse, int aFirst, int aEnd)>;

class TbrvHTTP_Amazon_AWS_SQS_Client : public TbrvHTTP_Amazon_AWS_Client {
 public:
  BRV_CLASS_NAME(TbrvHTTP_Amazon_AWS_SQS_Client)
  explicit TbrvHTTP_Amazon_AWS_SQS_Client(TComponent* aOwner = nullptr);
  ~TbrvHTTP_Amazon_AWS_SQS_Client() override;

  TbrvOnAWSSQSBeforeRequest OnSQSBeforeRequest;
  TbrvOnAWSSQSResponse OnSQSResponse;
  TbrvOnAWSSQSError OnSQSError;

  // The queue URL for a queue name, ending in "/", from the cache or asked of the service
  // ("GetQueueUrl"); empty when it cannot be resolved.
  std::string GetQueueURL(const std::string& aQueueName);

  // --- messages ---
  // Sends one message with a delay (sent only when 1 to 900 seconds).
  bool SendMessage(const std::string& aQueueName, const std::string& aMessageBody,
                   int aDelaySeconds);
  // Sends one message; the service's answer fills aResponse.
  bool SendMessage(const std::string& aQueueName, const TbrvSQSSendMessageRequest& aRequest,
                   TbrvSQSSendMessageResponse& aResponse);
  // Sends every request, ten per batch, and appends each accepted entry's answer to
  // aResponses. The request's ID is the batch entry identifier.
  void SendMessageBatch(const std::string& aQueueName, const TbrvSQSSendMessageRequests& aRequests,
                        TbrvSQSSendMessageResponses& aResponses);
  // The same, also filling aResult (cleared first) entry by entry. True when every entry was
  // carried out.
  bool SendMessageBatch(const std::string& aQueueName, const TbrvSQSSendMessageRequests& aRequests,
                        TbrvSQSSendMessageResponses& aResponses, TbrvSQSBatchResult& aResult);
  // Receives at most one message, appending it to aResponses.
  bool ReceiveMessage(const std::string& aQueueName, TbrvSQSReceiveMessageResponses& aResponses);
  // Receives messages as aRequest asks, appending them to aResponses; true also when none came.
  bool ReceiveMessage(const std::string& aQueueName, const TbrvSQSReceiveMessageRequest& aRequest,
                      TbrvSQSReceiveMessageResponses& aResponses);
  // The same, also asking for the message system attributes named in
  // aMessageSystemAttributeNames (SentTimestamp, ApproximateReceiveCount, All, ...), sent as
  // they are after those of aRequest.
  bool ReceiveMessage(const std::string& aQueueName, const TbrvSQSReceiveMessageRequest& aRequest,
                      const TStringList& aMessageSystemAttributeNames,
                      TbrvSQSReceiveMessageResponses& aResponses);
  bool ChangeMessageVisibility(const std::string& aQueueName, const std::string& aReceiptHandle,
                               int VisibilityTimeout);
  // Sends every entry, ten per batch; aResponseIds receives the Id of every entry of the
  // answers (failed ones included). True when every batch was accepted.
  bool ChangeMessageVisibilityBatch(const std::string& aQueueName,
                                    const TbrvSQSChangeMessageVisibilityBatchRequests& aRequests,
                                    TStringList& aResponseIds);
  // The same, filling aResult (cleared first) entry by entry: failed entries are not counted
  // as carried out. True when every entry was carried out.
  bool ChangeMessageVisibilityBatch(const std::string& aQueueName,
                                    const TbrvSQSChangeMessageVisibilityBatchRequests& aRequests,
                                    TbrvSQSBatchResult& aResult);
  // True when the answer carries a request id.
  bool DeleteMessage(const std::string& aQueueName, const std::string& aReceiptHandle);
  // Deletes every entry, ten per batch.
  void DeleteMessageBatch(const std::string& aQueueName,
                          const TbrvSQSDeleteMessageBatchRequestItems& aDeleteBatchItems);
  // The same, filling aResult (cleared first) entry by entry. True when every entry was
  // carried out: a request refused as a whole, or answered with an empty body, is a failure.
  bool DeleteMessageBatch(const std::string& aQueueName,
                          const TbrvSQSDeleteMessageBatchRequestItems& aDeleteBatchItems,
                          TbrvSQSBatchResult& aResult);

  // --- queues ---
  // Creates a queue; the result is its URL, or empty on failure.
  std::string CreateQueue(const std::string& aQueueName);
  std::string CreateQueue(const TbrvSQSCreateQueue& aQueue);
  bool DeleteQueue(const std::string& aQueueName);
  // Clears Queues, then fills it with the URLs of the queues whose names start with the prefix
  // (all queues when it is empty).
  bool ListQueues(TStringList& Queues, const std::string& aQueueNamePrefix);
  // Clears Tags (after resolving the queue) and fills it with the queue's tags.
  bool ListQueueTags(const std::string& aQueueName, TbrvSQSTags& Tags);
  // Clears Attributes (after resolving the queue) and fills it with all the queue's attributes.
  bool GetQueueAttributes(const std::string& aQueueName, TbrvSQSAttributes& Attributes);
  bool SetQueueAttributes(const std::string& aQueueName, const TbrvSQSAttributes& aAttributes);
  // Purges the queue; true when the answer carries a request id.
  bool PurgueQueue(const std::string& aQueueName);
  bool TagQueue(const std::string& aQueueName, const TbrvSQSTags& aTags);
  bool TagQueue(const std::string& aQueueName, const std::string& aKey, const std::string& aValue);
  // Removes the tags with the keys in aTags.
  bool UnTagQueue(const std::string& aQueueName, const TStringList& aTags);
  bool UnTagQueue(const std::string& aQueueName, const std::string& aKey);
  bool AddPermission(const std::string& aQueueName, const std::string& aLabel,
                     const TbrvSQSPermissions& aPermissions);
  // Grants every account of aAWSAccountIds every action of aActionNames (the service takes
  // the two lists and grants each combination).
  bool AddPermission(const std::string& aQueueName, const std::string& aLabel,
                     const TStringList& aAWSAccountIds, const TStringList& aActionNames);
  bool RemovePermission(const std::string& aQueueName, const std::string& aLabel);
  // Fills aQueueURLs (cleared once the answer is accepted) with the URLs of the queues that
  // use this one as their dead-letter queue.
  bool ListDeadLetterSourceQueues(const std::string& aQueueName, TStringList& aQueueURLs);

  // --- message move tasks (dead-letter redrive carried out by the service) ---
  // Starts moving the messages of the dead-letter queue aSourceArn: to aDestinationArn, or,
  // when that is empty, back to the queues they came from. aMaxNumberOfMessagesPerSecond (1 to
  // 500) is sent when above 0. aTaskHandle receives the handle of the new task.
  bool StartMessageMoveTask(const std::string& aSourceArn, const std::string& aDestinationArn,
                            int aMaxNumberOfMessagesPerSecond, std::string& aTaskHandle);
  // Clears aTasks, then fills it with the most recent tasks of aSourceArn (at most
  // aMaxResults, 1 to 10; sent when above 0).
  bool ListMessageMoveTasks(const std::string& aSourceArn, int aMaxResults,
                            TbrvSQSMessageMoveTasks& aTasks);
  // Cancels a running task; aApproximateNumberOfMessagesMoved receives how many it had moved.
  bool CancelMessageMoveTask(const std::string& aTaskHandle,
                             long long& aApproximateNumberOfMessagesMoved);

  // The current request's parameters, one "name=value" line each in wire form.
  TStringList& GetParams();
  // The queue-URL cache.
  TbrvSQSQueue& GetQueues();

  // Most requests a batch operation puts in one request.
  static constexpr int MaxBatchEntries = 10;

  // Whether the MD5 digests of answers are checked (on by default): the body and message
  // attributes of SendMessage and of every SendMessageBatch entry, and those of every
  // received message. A digest that differs fails the operation with the error code
  // "ChecksumMismatch"; a message that fails the check is not handed out. Switch it off for
  // services that send no digests.
  bool ChecksumValidation() const { return FChecksumValidation; }
  void SetChecksumValidation(bool Value) { FChecksumValidation = Value; }

  // One page of ListQueues: appends at most aMaxResults (1 to 1000) queue URLs to Queues,
  // starting where aNextToken says (empty: at the first queue), and replaces aNextToken with
  // the answer's token for the next page (empty after the last page).
  bool ListQueuesPage(TStringList& Queues, const std::string& aQueueNamePrefix, int aMaxResults,
                      std::string& aNextToken);
  // Clears Queues, then fills it with the URLs of every queue whose name starts with the
  // prefix, following the pages of aPageSize (1 to 1000) queues; stops after aMaxItems queues
  // when that is above 0. False when a page fails (the queues of the pages before stay).
  bool ListAllQueues(TStringList& Queues, const std::string& aQueueNamePrefix, int aPageSize = 1000,
                     int aMaxItems = 0);

 protected:
  bool DoBeforeRequest(std::string& aURL) override;

  // Starts a new request: the parameter list holds "Action=" + aAction alone.
  void SetAction(const std::string& aAction);
  // Appends one parameter; name and value are percent-encoded here (EncodeURLValue), so the
  // list holds the request's wire form.
  void AddParam(const std::string& aName, const std::string& aValue);
  void AddParam(const std::string& aName, int aValue);
  // The request URL: the endpoint, followed by the queue URL's path when a queue URL is given,
  // + "?" + the parameters sorted by name and joined with "&". Only the path of a queue URL is
  // used: its scheme, host and port come from the answer of a server and would otherwise
  // decide where signed requests go. Raises EbrvSQSInvalidQueueURL when the queue URL's path
  // is not /ACCOUNT/NAME.
  std::string GetRequestURL(const std::string& aQueueURL);
  // Reports an error answer through OnSQSError (nothing for an empty text).
  void ParseError(const std::string& aError);

  // Bodies of the operations; aQueueURL is the resolved queue URL, possibly empty.
  virtual bool DoSendMessage(const std::string& aQueueURL,
                             const TbrvSQSSendMessageRequest& aRequest,
                             TbrvSQSSendMessageResponse& aResponse);
  virtual bool DoSendMessageBatch(const std::string& aQueueURL,
                                  const TbrvSQSSendMessageRequests& aRequests,
                                  TbrvSQSSendMessageResponses& aResponses);
  virtual bool DoDeleteMessage(const std::string& aQueueURL, const std::string& aReceiptHandle);
  virtual void DoDeleteMessageBatch(const std::string& aQueueURL,
                                    const TbrvSQSDeleteMessageBatchRequestItems& aItems);
  virtual bool DoChangeMessageVisibility(const std::string& aQueueURL,
                                         const std::string& aReceiptHandle, int aVisibilityTimeout);
  virtual bool DoReceiveMessage(const std::string& aQueueURL,
                                const TbrvSQSReceiveMessageRequest& aRequest,
                                TbrvSQSReceiveMessageResponses& aResponses);
  virtual void DoGetQueueURL(const std::string& aQueueName, std::string& aQueueURL);
  virtual void DoCreateQueue(const TbrvSQSCreateQueue& aQueue, std::string& aQueueURL);
  virtual bool DoDeleteQueue(const std::string& aQueueURL);
  virtual bool DoListQueues(TStringList& aQueues, const std::string& aQueueNamePrefix);
  virtual bool DoListQueueTags(const std::string& aQueueURL, TbrvSQSTags& aTags);
  virtual bool DoGetQueueAttributes(const std::string& aQueueURL, TbrvSQSAttributes& aAttributes);
  virtual bool DoSetQueueAttributes(const std::string& aQueueURL,
                                    const TbrvSQSAttributes& aAttributes);
  virtual bool DoPurgeQueue(const std::string& aQueueURL);
  virtual bool DoTagQueue(const std::string& aQueueURL, const TbrvSQSTags& aTags);
  virtual bool DoUnTagQueue(const std::string& aQueueURL, const TStringList& aTags);
  virtual bool DoAddPermission(const std::string& aQueueURL, const std::string& aLabel,
                               const TbrvSQSPermissions& aPermissions);
  virtual bool DoRemovePermission(const std::string& aQueueURL, const std::string& aLabel);
  // Fire the events: true when no OnSQSResponse handler took the answer, true when no
  // OnSQSBeforeRequest handler refused the request.
  virtual bool DoSQSResponse(const std::string& aRawResponse);
  virtual bool DoSQSBeforeRequest(std::string& aURL);
  virtual void DoSQSError(const std::string& aCode, const std::string& aDescription,
                          const std::string& aRawError);

  bool DoChangeMessageVisibilityBatch(const std::string& aQueueURL,
                                      const TbrvSQSChangeMessageVisibilityBatchRequests& aRequests,
                                      TStringList& aResponseIds);
  bool DoListDeadLetterSourceQueues(const std::string& aQueueURL, TStringList& aQueueURLs);

 private:
  // Sends the request built so far to aQueueURL (or the endpoint) and returns true with the
  // answer when one was accepted; reports an error answer.
  bool Execute(const std::string& aQueueURL, std::string& aResponse);
  // A request whose success needs only an accepted answer, or one carrying a request id.
  bool ExecuteSimple(const std::string& aQueueURL);
  bool ExecuteWithRequestId(const std::string& aQueueURL);
  // The parameters of a message attribute list under aPrefix ("MessageAttribute" ...).
  void AddMessageAttributeParams(const std::string& aPrefix,
                                 const TbrvSQSMessageAttributes& aAttributes);
  // The parameters of one message to send, each name preceded by aPrefix (empty for
  // SendMessage, "SendMessageBatchRequestEntry.N." in a batch).
  void AddSendMessageParams(const std::string& aPrefix, const TbrvSQSSendMessageRequest& aRequest);
  // Sends aCount entries, MaxBatchEntries per request, in order: each request starts with
  // aAction, aAddEntry adds the parameters of entry i under its prefix (aEntryName + ".N.")
  // and returns false for an entry to skip, and aAnswer reads each accepted answer (with the
  // range of entries its request carried) and returns the entries it refused, each with a
  // report: those fire OnSQSError with ChecksumMismatch and count as failed. True when
  // every request was accepted; aResult, when given, is cleared first and then collects each
  // answer's results (aResultEntry elements) and error entries.
  bool SendBatches(const std::string& aQueueURL, const std::string& aAction,
                   const std::string& aEntryName, const std::string& aResultEntry, int aCount,
                   const std::function<bool(int, const std::string&)>& aAddEntry,
                   const TbrvBatchAnswer& aAnswer, TbrvSQSBatchResult* aResult);
  // The batch operations with an optional entry-by-entry result (and, for visibility changes,
  // the plain list of every Id in the answers).
  bool SendMessageBatchEntries(const std::string& aQueueURL,
                               const TbrvSQSSendMessageRequests& aRequests,
                               TbrvSQSSendMessageResponses& aResponses,
                               TbrvSQSBatchResult* aResult);
  bool DeleteMessageBatchEntries(const std::string& aQueueURL,
                                 const TbrvSQSDeleteMessageBatchRequestItems& aItems,
                                 TbrvSQSBatchResult* aResult);
  bool ChangeMessageVisibilityBatchEntries(
      const std::string& aQueueURL, const TbrvSQSChangeMessageVisibilityBatchRequests& aRequests,
      TStringList* aResponseIds, TbrvSQSBatchResult* aResult);
  // The receive request with the extra system attribute names (may be null).
  bool ReceiveMessages(const std::string& aQueueURL, const TbrvSQSReceiveMessageRequest& aRequest,
                       const TStringList* aMessageSystemAttributeNames,
                       TbrvSQSReceiveMessageResponses& aResponses);

  std::unique_ptr<TStringList> FParams;
  std::unique_ptr<TbrvSQSQueue> FQueues;
  bool FChecksumValidation = true;
};

}  // namespace brv
