// The library's default trust locations in the shared trust store, against a real nginx: the
// default file (SSL_CERT_FILE) and directory (SSL_CERT_DIR) still decide what a handler without
// a root file trusts, while a chain that ends at the root file never reads the default file.
#include "tls/IdSSLIOHandlerSocketOpenSSL.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TlsTestServer.h"
#include "tls/OpenSSLBinding.h"
#include "transport/IdTCPClient.h"

namespace brv {
namespace {

using tlstest::TempDir;
using tlstest::TestCertificates;

// One nginx and one set of certificates for the whole program, and a scratch folder for the
// default locations the tests make up.
class Env : public tlstest::TestPeers {
 public:
  static Env& Get() {
    static Env env;
    return env;
  }
  const TempDir& Scratch() const { return scratch_; }

 private:
  Env() : TestPeers("brv-trust-certs"), scratch_("brv-trust-defaults") {}
  TempDir scratch_;
};

// Counts how often a file is opened, to show when the library reads it.
class OpenCounter {
 public:
  explicit OpenCounter(const std::string& APath) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ >= 0) ::inotify_add_watch(fd_, APath.c_str(), IN_OPEN);
  }
  ~OpenCounter() {
    if (fd_ >= 0) ::close(fd_);
  }
  OpenCounter(const OpenCounter&) = delete;
  OpenCounter& operator=(const OpenCounter&) = delete;

  bool Watching() const { return fd_ >= 0; }
  // Opens seen so far (the kernel queues the event before open returns).
  int Count() {
    alignas(inotify_event) char buffer[4096];
    for (ssize_t n; (n = ::read(fd_, buffer, sizeof buffer)) > 0;) {
      for (char* p = buffer; p < buffer + n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(p);
        if ((event->mask & IN_OPEN) != 0) ++count_;
        p += sizeof(inotify_event) + event->len;
      }
    }
    return count_;
  }

 private:
  int fd_;
  int count_ = 0;
};

void CopyFile(const std::string& AFrom, const std::string& ATo) {
  std::filesystem::copy_file(AFrom, ATo, std::filesystem::copy_options::overwrite_existing);
}

class DefaultTrust : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(Env::Get().Error(), "") << "nginx could not be started"; }
  void TearDown() override {
    ReleaseOpenSSL();
    Restore("SSL_CERT_FILE", saved_file_);
    Restore("SSL_CERT_DIR", saved_dir_);
  }

  const TestCertificates& Certs() const { return Env::Get().Certs(); }
  std::string Scratch(const std::string& AName) const { return Env::Get().Scratch().File(AName); }

  // Starts over with these default locations: the binding and its shared stores are made
  // again, and the library looks the variables up when a store reads its defaults.
  static void UseDefaults(const std::string& AFile, const std::string& ADir) {
    ReleaseOpenSSL();
    ::setenv("SSL_CERT_FILE", AFile.c_str(), 1);
    ::setenv("SSL_CERT_DIR", ADir.c_str(), 1);
  }
  static std::optional<std::string> Saved(const char* AName) {
    const char* value = std::getenv(AName);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
  }
  static void Restore(const char* AName, const std::optional<std::string>& AValue) {
    if (AValue)
      ::setenv(AName, AValue->c_str(), 1);
    else
      ::unsetenv(AName);
  }

  // Connects to the test CA's "localhost" with verification, as the AWS client has it, sends
  // one request and returns the exception's message, or "" when all went well.
  std::string VerifiedGet(const std::string& ARootCertFile) const {
    TIdSSLIOHandlerSocketOpenSSL handler;
    TIdTCPClient client;
    client.SetIOHandler(&handler);
    handler.SSLOptions()->SetMode(sslmClient);
    handler.SSLOptions()->SetMethod(sslvTLSv1_2);
    handler.SSLOptions()->SetRootCertFile(ARootCertFile);
    handler.SSLOptions()->SetVerifyMode(SSLVerifyBit(sslvrfPeer));
    const int port = Env::Get().Ports().Main;
    try {
      handler.SetPassThrough(false);
      handler.SetURIToCheck("https://localhost:" + std::to_string(port) + "/");
      client.SetHost("localhost");
      client.SetPort(static_cast<std::uint16_t>(port));
      client.Connect();
      handler.Write("GET / HTTP/1.1\r\nHost: localhost\r\n\r\n");
      const std::string status = handler.ReadLn();
      client.Disconnect();
      return status == "HTTP/1.1 200 OK" ? "" : status;
    } catch (const EIdException& e) {
      return e.Message();
    }
  }

  const std::optional<std::string> saved_file_ = Saved("SSL_CERT_FILE");
  const std::optional<std::string> saved_dir_ = Saved("SSL_CERT_DIR");
};

TEST_F(DefaultTrust, TheDefaultFileIsReadOnlyWhenTheRootFileDoesNotEndTheChain) {
  // The test CA as the system's bundle, at a path of its own to watch.
  const std::string bundle = Scratch("bundle-with-test-ca.pem");
  CopyFile(Certs().CA, bundle);
  OpenCounter opens(bundle);
  ASSERT_TRUE(opens.Watching());
  UseDefaults(bundle, Scratch("no-such-dir"));

  EXPECT_EQ(VerifiedGet(Certs().CA), "");
  EXPECT_EQ(opens.Count(), 0) << "the root file ended the chain: the bundle stays unread";

  // Without a root file only the bundle knows the issuer: it is read, and it answers.
  EXPECT_EQ(VerifiedGet(""), "");
  EXPECT_EQ(opens.Count(), 1);
  // The next connection shares that store and finds the root in it.
  EXPECT_EQ(VerifiedGet(""), "");
  EXPECT_EQ(opens.Count(), 1);
  // And a root-file store still never needs the bundle.
  EXPECT_EQ(VerifiedGet(Certs().CA), "");
  EXPECT_EQ(opens.Count(), 1);
}

TEST_F(DefaultTrust, ConnectionsVerifyingAtOnceReadTheDefaultFileOnce) {
  const std::string bundle = Scratch("bundle-shared.pem");
  CopyFile(Certs().CA, bundle);
  OpenCounter opens(bundle);
  ASSERT_TRUE(opens.Watching());
  UseDefaults(bundle, Scratch("no-such-dir"));
  ASSERT_TRUE(EnsureOpenSSLLoaded());

  std::vector<std::string> errors(6);
  std::vector<std::thread> threads;
  for (auto& error : errors) threads.emplace_back([&] { error = VerifiedGet(""); });
  for (auto& t : threads) t.join();
  for (const auto& error : errors) EXPECT_EQ(error, "");
  EXPECT_EQ(opens.Count(), 1);
}

TEST_F(DefaultTrust, TheDefaultDirectoryStillCounts) {
  // The test CA only in a hashed certificate directory, as c_rehash leaves it.
  const std::string dir = Scratch("hashed");
  std::filesystem::create_directories(dir);
  const std::string hash_log = Scratch("hash.txt");
  ASSERT_EQ(
      tlstest::RunProgram({"openssl", "x509", "-hash", "-noout", "-in", Certs().CA}, hash_log), 0);
  std::string hash;
  std::ifstream(hash_log) >> hash;
  ASSERT_EQ(hash.size(), 8u) << hash;
  CopyFile(Certs().CA, dir + "/" + hash + ".0");
  UseDefaults(Scratch("no-such-bundle.pem"), dir);

  EXPECT_EQ(VerifiedGet(""), "");
}

TEST_F(DefaultTrust, AnUnknownIssuerFailsAsBeforeWhateverTheDefaultFileHolds) {
  const std::string expected =
      "Error connecting with SSL.\r\nerror:0A000086:SSL routines::certificate verify failed "
      "(unable to get local issuer certificate)";
  // A bundle of another root: read, and no help.
  const std::string other = Scratch("bundle-other-root.pem");
  CopyFile(Certs().SelfSigned, other);
  UseDefaults(other, Scratch("no-such-dir"));
  EXPECT_EQ(VerifiedGet(""), expected);

  // No bundle at all: what reading it left on OpenSSL's queue does not become the reason.
  UseDefaults(Scratch("no-such-bundle.pem"), Scratch("no-such-dir"));
  EXPECT_EQ(VerifiedGet(""), expected);
  // A root file that does not end the chain does not help either.
  EXPECT_EQ(VerifiedGet(other), expected);
}

}  // namespace
}  // namespace brv
