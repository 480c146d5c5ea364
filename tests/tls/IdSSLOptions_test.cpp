#include "tls/IdSSLIOHandlerSocketOpenSSL.h"

#include <gtest/gtest.h>

#include "tls/TLSHandlerFactory.h"
#include "tls/brvIdSSLIOHandlerSocketSChannel.h"

namespace brv {
namespace {

TEST(SSLOptions, MethodAndVersionsKeepEachOtherConsistent) {
  TIdSSLOptions o;
  EXPECT_EQ(o.Method(), sslvTLSv1);
  EXPECT_EQ(o.SSLVersions(), SSLVersionBit(sslvTLSv1));
  EXPECT_EQ(o.Mode(), sslmUnassigned);
  EXPECT_EQ(o.VerifyMode(), 0);

  o.SetMethod(sslvSSLv23);
  EXPECT_EQ(o.SSLVersions(), 0x7D);
  o.SetMethod(sslvTLSv1_3);
  EXPECT_EQ(o.SSLVersions(), SSLVersionBit(sslvTLSv1_3));

  struct Row {
    TIdSSLVersions in;
    TIdSSLVersion method;
    TIdSSLVersions out;
  };
  const Row rows[] = {
      {SSLVersionBit(sslvTLSv1_2), sslvTLSv1_2, SSLVersionBit(sslvTLSv1_2)},
      {SSLVersionBit(sslvSSLv2), sslvSSLv2, SSLVersionBit(sslvSSLv2)},
      {static_cast<TIdSSLVersions>(SSLVersionBit(sslvTLSv1_2) | SSLVersionBit(sslvTLSv1_3)),
       sslvSSLv23,
       static_cast<TIdSSLVersions>(SSLVersionBit(sslvTLSv1_2) | SSLVersionBit(sslvTLSv1_3))},
      // sslvSSLv23 is never kept in the set; alone it stands for every version.
      {static_cast<TIdSSLVersions>(SSLVersionBit(sslvSSLv23) | SSLVersionBit(sslvTLSv1_3)),
       sslvSSLv23, SSLVersionBit(sslvTLSv1_3)},
      {SSLVersionBit(sslvSSLv23), sslvSSLv23, 0x7D},
  };
  for (const Row& r : rows) {
    o.SetSSLVersions(r.in);
    EXPECT_EQ(o.Method(), r.method) << int(r.in);
    EXPECT_EQ(o.SSLVersions(), r.out) << int(r.in);
  }
}

TEST(SSLOptions, AssignCopiesEverySetting) {
  TIdSSLOptions src;
  src.SetRootCertFile("ca.pem");
  src.SetCertFile("c.pem");
  src.SetKeyFile("c.key");
  src.SetDHParamsFile("dh.pem");
  src.SetSSLVersions(SSLVersionBit(sslvTLSv1_2) | SSLVersionBit(sslvTLSv1_3));
  src.SetMode(sslmClient);
  src.SetVerifyMode(SSLVerifyBit(sslvrfPeer) | SSLVerifyBit(sslvrfClientOnce));
  src.SetVerifyDepth(4);
  src.SetVerifyDirs("/certs");
  src.SetCipherList("HIGH");
  TIdSSLOptions_Internal dst(nullptr);
  dst.Assign(&src);
  EXPECT_EQ(dst.RootCertFile(), "ca.pem");
  EXPECT_EQ(dst.CertFile(), "c.pem");
  EXPECT_EQ(dst.KeyFile(), "c.key");
  EXPECT_EQ(dst.DHParamsFile(), "dh.pem");
  EXPECT_EQ(dst.Method(), sslvSSLv23);
  EXPECT_EQ(dst.SSLVersions(), src.SSLVersions());
  EXPECT_EQ(dst.Mode(), sslmClient);
  EXPECT_EQ(dst.VerifyMode(), 5) << "the bits are OpenSSL's verify flags";
  EXPECT_EQ(dst.VerifyDepth(), 4);
  EXPECT_EQ(dst.VerifyDirs(), "/certs");
  EXPECT_EQ(dst.CipherList(), "HIGH");
  TStringList other;
  EXPECT_THROW(dst.Assign(&other), EConvertError);
}

TEST(OpenSSLHandlerProperties, ALPNListIsMadeOnFirstReadAndOnlyThenTakesCopies) {
  TIdSSLIOHandlerSocketOpenSSL handler;
  EXPECT_TRUE(handler.PassThrough());
  TStringList list;
  list.Add("h2");
  handler.SetALPNProtocols(&list);  // no list yet: nothing is copied
  EXPECT_EQ(handler.ALPNProtocols()->Count(), 0);
  handler.SetALPNProtocols(&list);
  EXPECT_EQ(handler.ALPNProtocols()->Text(), "h2\n");
  EXPECT_EQ(handler.GetALPNProtocol(), "");
  EXPECT_EQ(handler.GetSSLVersion(), "");
  EXPECT_EQ(handler.SSLSocket(), nullptr);
}

TEST(TLSHandlerFactory, ConfiguresTheOpenSSLHandlerFromTheOptions) {
  const std::pair<TwsTLSVersions, TIdSSLVersion> versions[] = {
      {tls1_0, sslvTLSv1},
      {tls1_1, sslvTLSv1_1},
      {tls1_2, sslvTLSv1_2},
      {tls1_3, sslvTLSv1_3},
      {tlsUndefined, sslvTLSv1}};  // undefined: the handler's own default
  for (auto [version, method] : versions) {
    TbrvTCPTLS_Options options;
    options.Version = version;
    auto base = MakeTLSHandler(options, nullptr);
    auto* handler = dynamic_cast<TIdSSLIOHandlerSocketOpenSSL*>(base.get());
    ASSERT_NE(handler, nullptr);
    EXPECT_EQ(handler->SSLOptions()->Method(), method) << version;
  }

  TbrvTCPTLS_Options options;
  options.Version = tls1_2;
  options.RootCertFile = "ca.pem";
  options.CertFile = "c.pem";
  options.KeyFile = "c.key";
  options.VerifyDepth = 7;
  options.ALPNProtocols()->Add("http/1.1");
  auto base = MakeTLSHandler(options, [](std::string& p) { p = "pw"; });
  auto* handler = dynamic_cast<TIdSSLIOHandlerSocketOpenSSL*>(base.get());
  ASSERT_NE(handler, nullptr);
  EXPECT_FALSE(handler->PassThrough()) << "TLS from the first byte";
  EXPECT_EQ(handler->SSLOptions()->Mode(), sslmClient);
  EXPECT_EQ(handler->SSLOptions()->RootCertFile(), "ca.pem");
  EXPECT_EQ(handler->SSLOptions()->CertFile(), "c.pem");
  EXPECT_EQ(handler->SSLOptions()->KeyFile(), "c.key");
  EXPECT_EQ(handler->SSLOptions()->VerifyMode(), 0) << "not verified unless asked";
  EXPECT_EQ(handler->SSLOptions()->VerifyDepth(), 0);
  EXPECT_EQ(handler->ALPNProtocols()->Text(), "http/1.1\n");
  EXPECT_EQ(handler->RequestPassword(false), "pw");

  options.VerifyCertificate = true;
  base = MakeTLSHandler(options, nullptr);
  handler = dynamic_cast<TIdSSLIOHandlerSocketOpenSSL*>(base.get());
  EXPECT_EQ(handler->SSLOptions()->VerifyMode(), SSLVerifyBit(sslvrfPeer));
}

}  // namespace
}  // namespace brv
