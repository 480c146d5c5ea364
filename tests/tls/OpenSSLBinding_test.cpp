#include "tls/OpenSSLBinding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "tests/support/TempDir.h"

namespace brv {
namespace {

// Points the binding at an empty folder for the life of the object, then back.
class NoOpenSSLHere {
 public:
  NoOpenSSLHere() {
    ReleaseOpenSSL();
    SetOpenSSLLibraryPath(dir_.Path());
  }
  ~NoOpenSSLHere() { SetOpenSSLLibraryPath(""); }

 private:
  testing::TTempDir dir_{"brv-no-openssl"};
};

TEST(OpenSSLBinding, BindsTheSystemLibraryOnceForEveryThread) {
  std::atomic<int> ok{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([&] { ok += EnsureOpenSSLLoaded() ? 1 : 0; });
  for (auto& t : threads) t.join();
  EXPECT_EQ(ok.load(), 8);
  EXPECT_TRUE(IsOpenSSLLoaded());
  EXPECT_TRUE(OpenSSLFailedToLoad().empty());
  EXPECT_EQ(OpenSSLVersionText().rfind("OpenSSL ", 0), 0u) << OpenSSLVersionText();
}

TEST(OpenSSLBinding, MissingLibrariesAreReportedAndRetried) {
  {
    NoOpenSSLHere none;
    EXPECT_FALSE(EnsureOpenSSLLoaded());
    EXPECT_FALSE(IsOpenSSLLoaded());
    EXPECT_EQ(OpenSSLVersionText(), "");
    const auto failed = OpenSSLFailedToLoad();
    EXPECT_NE(std::find(failed.begin(), failed.end(), "Failed to load libcrypto.so.3."),
              failed.end());
    EXPECT_FALSE(EnsureOpenSSLLoaded()) << "every call tries again and fails again";
  }
  // With the normal search back, the next call binds.
  EXPECT_TRUE(EnsureOpenSSLLoaded());
  EXPECT_TRUE(OpenSSLFailedToLoad().empty());
  ReleaseOpenSSL();
  EXPECT_FALSE(IsOpenSSLLoaded());
  EXPECT_TRUE(EnsureOpenSSLLoaded()) << "a released binding can be made again";
}

}  // namespace
}  // namespace brv
