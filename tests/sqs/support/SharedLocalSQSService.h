// One local SQS service shared by the tests of a suite: started before the first test, stopped
// after the last, and checked to be up at the start of every test.
#pragma once

#include <memory>

#include <gtest/gtest.h>

#include "support/LocalSQSService.h"

namespace brv::testing {

// A service over plain HTTP only, for suites that do not test TLS.
inline TLocalSQSService::TOptions PlainHTTPService() {
  TLocalSQSService::TOptions options;
  options.TLS = false;
  return options;
}

// Derive a suite from this (TBase is ::testing::Test or a TestWithParam<...>). A suite that
// needs other options starts the service itself from its own SetUpTestSuite; a SetUp of its
// own calls this one first with ASSERT_NO_FATAL_FAILURE.
template <class TBase = ::testing::Test>
class TWithLocalSQSService : public TBase {
 protected:
  static void StartService(const TLocalSQSService::TOptions& Options = {}) {
    service = std::make_unique<TLocalSQSService>(Options);
  }
  static void SetUpTestSuite() { StartService(); }
  static void TearDownTestSuite() { service.reset(); }
  void SetUp() override {
    ASSERT_TRUE(service && service->Ready()) << (service ? service->Failure() : "not started");
  }

  static inline std::unique_ptr<TLocalSQSService> service;
};

}  // namespace brv::testing
