// The made-up account the AWS client tests sign for.
#pragma once

#include <string>

#include "aws/brvHTTP_Amazon_AWS.h"

namespace brv::testing {

// SQS in ARegion with the access key "AKIDEXAMPLE" and the secret "secret".
inline void UseTestAccount(TbrvHTTP_Amazon_AWS_Options& AOptions,
                           const std::string& ARegion = "us-east-1") {
  AOptions.Region = ARegion;
  AOptions.Service = "sqs";
  AOptions.AccessKey = "AKIDEXAMPLE";
  AOptions.SecretKey = "secret";
}

}  // namespace brv::testing
