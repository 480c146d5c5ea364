// The second engine's GnuTLS is loaded at its first use; a library that cannot be loaded or
// lacks a function makes every entry point of the security interface fail cleanly, and the
// next use tries again. The only test of its program: nothing may load GnuTLS before it.
#include "tls/sspi/GnuTLSBinding.h"

#include <gtest/gtest.h>

#include <string>

#include "tls/brvSSL_SChannel.h"
#include "tls/sspi/brvSSPI.h"

namespace brv::sspi {
namespace {

TEST(GnuTLSBinding, AnUnusableLibraryFailsEveryEntryPointUntilTheRightOneIsFound) {
  struct Row {
    const char* library;
    const char* reason;  // found in GnuTLSLoadError()
  };
  const Row rows[] = {
      {"libbrv-no-such-gnutls.so.30", "libbrv-no-such-gnutls.so.30"},  // the loader's text
      {"libc.so.6", "gnutls_global_init"},  // loads, but the first function is missing
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.library);
    SetGnuTLSLibraryName(row.library);
    EXPECT_EQ(InitSecurityInterfaceW(), nullptr);
    EXPECT_NE(GnuTLSLoadError().find(row.reason), std::string::npos) << GnuTLSLoadError();
    EXPECT_EQ(CertOpenSystemStoreW(0, u"MY"), nullptr);
    HCERTCHAINENGINE engine = nullptr;
    EXPECT_FALSE(BrvCertCreateChainEngine(nullptr, &engine));
    EXPECT_EQ(engine, nullptr);
    EXPECT_FALSE(SChannelInitialize());
    EXPECT_EQ(SChannelLastError(), "InitSecurityInterface() returns nil");
  }

  SetGnuTLSLibraryName("libgnutls.so.30");
  EXPECT_NE(InitSecurityInterfaceW(), nullptr);
  EXPECT_EQ(GnuTLSLoadError(), "");
  HCERTCHAINENGINE engine = nullptr;
  ASSERT_TRUE(BrvCertCreateChainEngine(nullptr, &engine));
  CertFreeCertificateChainEngine(engine);
  EXPECT_TRUE(SChannelInitialize());
}

}  // namespace
}  // namespace brv::sspi
