// The SQS client component as it is placed on a form.
#pragma once

#include "sqs/brvHTTP_Amazon_SQS.h"

namespace brv {

// The SQS client with its settings published: AWSOptions, LogFile, OnSQSBeforeRequest,
// OnSQSResponse, OnSQSError and Version. It adds nothing to TbrvHTTP_Amazon_AWS_SQS_Client.
class TbrvHTTPAWS_SQS_Client : public TbrvHTTP_Amazon_AWS_SQS_Client {
 public:
  BRV_CLASS_NAME(TbrvHTTPAWS_SQS_Client)
  using TbrvHTTP_Amazon_AWS_SQS_Client::TbrvHTTP_Amazon_AWS_SQS_Client;
};

}  // namespace brv
