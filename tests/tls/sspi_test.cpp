// The security interface layer without a peer: the table, argument checks, the first
// handshake steps against canned server bytes, and the store's failure cases.
#include "tls/sspi/brvSSPI.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "support/sspi_peer.h"
#include "tests/support/TempDir.h"

namespace brv::sspi {
namespace {

constexpr ULONG kRequirements = sspitest::kClientRequirements;

TEST(SspiTable, OffersTheCallsOfATlsClient) {
  PSecurityFunctionTableW t = InitSecurityInterfaceW();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t, InitSecurityInterfaceW());
  EXPECT_NE(t->AcquireCredentialsHandleW, nullptr);
  EXPECT_NE(t->FreeCredentialsHandle, nullptr);
  EXPECT_NE(t->InitializeSecurityContextW, nullptr);
  EXPECT_NE(t->DeleteSecurityContext, nullptr);
  EXPECT_NE(t->QueryContextAttributesW, nullptr);
  EXPECT_NE(t->FreeContextBuffer, nullptr);
  EXPECT_NE(t->EncryptMessage, nullptr);
  EXPECT_NE(t->DecryptMessage, nullptr);
  EXPECT_EQ(t->AcceptSecurityContext, nullptr);  // a client only
}

TEST(SspiCredentials, RefusesWhatItCannotServe) {
  PSecurityFunctionTableW t = InitSecurityInterfaceW();
  CredHandle h{};
  SCHANNEL_CRED sc{};
  sc.dwVersion = SCHANNEL_CRED_VERSION;
  EXPECT_EQ(t->AcquireCredentialsHandleW(nullptr, u"Kerberos", SECPKG_CRED_OUTBOUND, nullptr, &sc, nullptr, nullptr,
                                         &h, nullptr),
            SEC_E_SECPKG_NOT_FOUND);
  EXPECT_EQ(t->AcquireCredentialsHandleW(nullptr, UNISP_NAME_W, SECPKG_CRED_INBOUND, nullptr, &sc, nullptr, nullptr,
                                         &h, nullptr),
            SEC_E_UNSUPPORTED_FUNCTION);
  sc.grbitEnabledProtocols = SP_PROT_SSL3_CLIENT | SP_PROT_SSL3_SERVER;  // nothing this provider speaks
  EXPECT_EQ(t->AcquireCredentialsHandleW(nullptr, UNISP_NAME_W, SECPKG_CRED_OUTBOUND, nullptr, &sc, nullptr, nullptr,
                                         &h, nullptr),
            SEC_E_ALGORITHM_MISMATCH);
  sc.grbitEnabledProtocols = 0;
  sc.dwVersion = 3;
  EXPECT_EQ(t->AcquireCredentialsHandleW(nullptr, UNISP_NAME_W, SECPKG_CRED_OUTBOUND, nullptr, &sc, nullptr, nullptr,
                                         &h, nullptr),
            SEC_E_UNKNOWN_CREDENTIALS);
  EXPECT_EQ(t->FreeCredentialsHandle(&h), SEC_E_INVALID_HANDLE);
}

class SspiHandshakeStart : public ::testing::Test {
 protected:
  PSecurityFunctionTableW t = InitSecurityInterfaceW();
  CredHandle cred{};
  CtxtHandle ctx{};
  bool hasCtx = false;

  void SetUp() override {
    SCHANNEL_CRED sc{};
    sc.dwVersion = SCHANNEL_CRED_VERSION;
    sc.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    sc.dwFlags = SCH_CRED_NO_DEFAULT_CREDS | SCH_CRED_MANUAL_CRED_VALIDATION;
    ASSERT_EQ(t->AcquireCredentialsHandleW(nullptr, UNISP_NAME_W, SECPKG_CRED_OUTBOUND, nullptr, &sc, nullptr,
                                           nullptr, &cred, nullptr),
              SEC_E_OK);
    SecBufferDesc in{SECBUFFER_VERSION, 0, nullptr};
    SecBuffer outBuf{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc out{SECBUFFER_VERSION, 1, &outBuf};
    ULONG attr = 0;
    ASSERT_EQ(t->InitializeSecurityContextW(&cred, nullptr, u"example.test", kRequirements, 0, SECURITY_NATIVE_DREP,
                                            &in, 0, &ctx, &out, &attr, nullptr),
              SEC_I_CONTINUE_NEEDED);
    hasCtx = true;
    // A ClientHello in a handshake record, in memory of the provider's.
    ASSERT_GT(outBuf.cbBuffer, 5u);
    EXPECT_EQ(static_cast<const std::uint8_t*>(outBuf.pvBuffer)[0], 0x16);
    EXPECT_EQ(t->FreeContextBuffer(outBuf.pvBuffer), SEC_E_OK);
  }
  void TearDown() override {
    if (hasCtx) {
      EXPECT_EQ(t->DeleteSecurityContext(&ctx), SEC_E_OK);
    }
    t->FreeCredentialsHandle(&cred);
  }

  SECURITY_STATUS Feed(std::vector<std::uint8_t> bytes, SecBuffer* second = nullptr, SecBuffer* token = nullptr) {
    const sspitest::HandshakeStep step = sspitest::ContinueHandshake(t, cred, ctx, bytes.data(), bytes.size());
    if (second) *second = step.second;
    if (token) *token = step.token;
    if (step.token.pvBuffer) t->FreeContextBuffer(step.token.pvBuffer);
    return step.status;
  }
};

TEST_F(SspiHandshakeStart, WaitsForWholeRecordsAndNamesWhatIsMissing) {
  SecBuffer second{};
  EXPECT_EQ(Feed({}, &second), SEC_E_INCOMPLETE_MESSAGE);
  EXPECT_EQ(Feed({0x16, 0x03}, &second), SEC_E_INCOMPLETE_MESSAGE);
  EXPECT_EQ(second.BufferType, SECBUFFER_MISSING);
  EXPECT_EQ(second.cbBuffer, 3u);
  EXPECT_EQ(Feed({0x16, 0x03, 0x03, 0x00, 0x40, 1, 2, 3}, &second), SEC_E_INCOMPLETE_MESSAGE);
  EXPECT_EQ(second.cbBuffer, 0x40u - 3);
  // A length no TLS record may have is refused at once instead of waiting for it.
  EXPECT_EQ(Feed({0x16, 0x03, 0x03, 0xFF, 0xFF}), SEC_E_ILLEGAL_MESSAGE);
}

TEST_F(SspiHandshakeStart, ReportsTheServersRefusal) {
  // A fatal handshake_failure alert where the ServerHello should be.
  EXPECT_EQ(Feed({0x15, 0x03, 0x03, 0x00, 0x02, 0x02, 40}), SEC_E_ALGORITHM_MISMATCH);
}

TEST_F(SspiHandshakeStart, RecordCallsWaitForTheHandshake) {
  std::vector<std::uint8_t> data(64);
  SecBuffer b[4] = {{static_cast<ULONG>(data.size()), SECBUFFER_DATA, data.data()},
                    {0, SECBUFFER_EMPTY, nullptr},
                    {0, SECBUFFER_EMPTY, nullptr},
                    {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc d{SECBUFFER_VERSION, 4, b};
  EXPECT_EQ(t->DecryptMessage(&ctx, &d, 0, nullptr), SEC_E_INVALID_HANDLE);
  EXPECT_EQ(t->EncryptMessage(&ctx, 0, &d, 0), SEC_E_INVALID_HANDLE);
  SecPkgContext_StreamSizes sizes{};
  EXPECT_EQ(t->QueryContextAttributesW(&ctx, SECPKG_ATTR_STREAM_SIZES, &sizes), SEC_E_INVALID_HANDLE);
  // Deleting a context whose handshake waits for input ends it (TearDown).
}

TEST(SspiStore, MyStoreDirectoryMustExistWhenNamed) {
  const testing::TTempDir empty("brv-sspi-empty-store");
  const std::string missing = empty.File("no-such-store");
  setenv("BRV_CERT_STORE_MY", missing.c_str(), 1);
  EXPECT_EQ(CertOpenSystemStoreW(0, u"MY"), nullptr);
  setenv("BRV_CERT_STORE_MY", empty.Path().c_str(), 1);
  HCERTSTORE store = CertOpenSystemStoreW(0, u"MY");
  ASSERT_NE(store, nullptr);
  CERT_CHAIN_FIND_BY_ISSUER_PARA para{};
  para.cbSize = sizeof para;
  EXPECT_EQ(CertFindChainInStore(store, X509_ASN_ENCODING, 0, CERT_CHAIN_FIND_BY_ISSUER, &para, nullptr), nullptr);
  EXPECT_TRUE(CertCloseStore(store, 0));
  EXPECT_EQ(CertOpenSystemStoreW(0, u"ROOT"), nullptr);  // only "MY" exists here
  unsetenv("BRV_CERT_STORE_MY");
}

}  // namespace
}  // namespace brv::sspi
