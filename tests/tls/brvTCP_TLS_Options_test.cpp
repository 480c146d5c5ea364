#include "tls/brvTCP_TLS_Options.h"

#include <gtest/gtest.h>

namespace brv {
namespace {

void Fill(TbrvTCPTLS_Options& o) {
  o.CertFile = "client.pem";
  o.KeyFile = "client.key";
  o.Password = "secret";
  o.RootCertFile = "ca.pem";
  o.VerifyCertificate = true;
  o.VerifyDepth = 5;
  o.Version = tls1_3;
  o.IOHandler = iohSChannel;
  o.ALPNProtocols()->Add("h2");
  o.ALPNProtocols()->Add("http/1.1");
  o.OpenSSL_Options()->APIVersion = oslAPI_1_1;
}

TEST(TLSOptions, AssignCopiesEveryFieldTheTargetHas) {
  TbrvTCPTLS_Options src;
  Fill(src);
  TbrvTCPTLS_Options full;
  full.ALPNProtocols()->Add("stale");
  TbrvOpenSSLClient_Options* owned = full.OpenSSL_Options();
  full.Assign(&src);
  EXPECT_EQ(full.CertFile, "client.pem");
  EXPECT_EQ(full.KeyFile, "client.key");
  EXPECT_EQ(full.Password, "secret");
  EXPECT_EQ(full.RootCertFile, "ca.pem");
  EXPECT_TRUE(full.VerifyCertificate);
  EXPECT_EQ(full.VerifyDepth, 5);
  EXPECT_EQ(full.Version, tls1_3);
  EXPECT_EQ(full.IOHandler, iohSChannel);
  EXPECT_EQ(full.ALPNProtocols()->Text(), "h2\nhttp/1.1\n");
  EXPECT_EQ(full.OpenSSL_Options(), owned) << "the owned group is copied into, never replaced";
  EXPECT_EQ(full.OpenSSL_Options()->APIVersion, oslAPI_1_1);

  // A base-class target takes the seven shared fields; a base-class source gives only those.
  TbrvTCPTLS_Options_Base base;
  base.Assign(&src);
  EXPECT_EQ(base.Password, "secret");
  EXPECT_EQ(base.Version, tls1_3);
  TbrvTCPTLS_Options other;
  other.Assign(&base);
  EXPECT_EQ(other.KeyFile, "client.key");
  EXPECT_EQ(other.IOHandler, iohOpenSSL);
  EXPECT_EQ(other.ALPNProtocols()->Count(), 0);
  EXPECT_EQ(other.OpenSSL_Options()->APIVersion, oslAPI_1_0);
}

TEST(TLSOptions, SettersCopyAndForeignSourcesFail) {
  TbrvTCPTLS_Options o;
  TStringList list;
  list.Add("h2");
  o.SetALPNProtocols(&list);
  list.Add("later");
  EXPECT_EQ(o.ALPNProtocols()->Count(), 1);
  EXPECT_NE(o.ALPNProtocols(), &list);

  TbrvTCPOpenSSL_Options ossl;
  ossl.APIVersion = oslAPI_1_1;
  o.SetOpenSSL_Options(&ossl);
  EXPECT_EQ(o.OpenSSL_Options()->APIVersion, oslAPI_1_1);

  try {
    o.Assign(&list);
    FAIL() << "a string list is not a TLS options group";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TStringList to a TbrvTCPTLS_Options");
  }
  EXPECT_THROW(ossl.Assign(&o), EConvertError);
}

}  // namespace
}  // namespace brv
