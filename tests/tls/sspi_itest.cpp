// The security interface layer against a real TLS server (openssl s_server) on loopback. The
// test does every socket read and write itself, as the security-package handler does.
#include "tls/sspi/brvSSPI.h"

#include "support/sspi_peer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace brv::sspi {
namespace {

using sspitest::TestPki;
using sspitest::TlsPeer;

constexpr ULONG kRequirements = sspitest::kClientRequirements;

std::string Hex(SECURITY_STATUS s) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(s));
  return buf;
}

// The ALPN offer laid out as the handler lays it out.
std::vector<std::uint8_t> AlpnOffer(const std::vector<std::string>& names) {
  std::vector<std::uint8_t> list;
  for (const auto& n : names) {
    list.push_back(static_cast<std::uint8_t>(n.size()));
    list.insert(list.end(), n.begin(), n.end());
  }
  std::vector<std::uint8_t> area(10 + list.size());
  const ULONG lists = static_cast<ULONG>(list.size() + 6);
  const std::int32_t ext = SecApplicationProtocolNegotiationExt_ALPN;
  const USHORT size = static_cast<USHORT>(list.size());
  std::memcpy(area.data(), &lists, 4);
  std::memcpy(area.data() + 4, &ext, 4);
  std::memcpy(area.data() + 8, &size, 2);
  std::memcpy(area.data() + 10, list.data(), list.size());
  return area;
}

struct Decrypted {
  SECURITY_STATUS status = SEC_E_OK;
  std::string data;
  ULONG extra = 0;
};

// A TLS client over the layer, with its own socket code.
class Client {
 public:
  PSecurityFunctionTableW t = InitSecurityInterfaceW();
  CredHandle cred{};
  CtxtHandle ctx{};
  bool hasCred = false, hasCtx = false;
  int fd = -1;
  std::vector<std::uint8_t> pending;  // received and not yet consumed
  int incompleteCredentials = 0;
  int recordsWithoutData = 0;
  std::function<void(Client&)> onIncompleteCredentials;

  ~Client() {
    if (hasCtx) t->DeleteSecurityContext(&ctx);
    if (hasCred) t->FreeCredentialsHandle(&cred);
    if (fd >= 0) close(fd);
  }

  SECURITY_STATUS Acquire(DWORD protocols, PCCERT_CONTEXT cert = nullptr) {
    SCHANNEL_CRED sc{};
    sc.dwVersion = SCHANNEL_CRED_VERSION;
    sc.grbitEnabledProtocols = protocols;
    sc.dwFlags = SCH_CRED_NO_DEFAULT_CREDS | SCH_CRED_MANUAL_CRED_VALIDATION;
    if (cert) {
      sc.cCreds = 1;
      sc.paCred = &cert;
    }
    CredHandle fresh{};
    SECURITY_STATUS s = t->AcquireCredentialsHandleW(nullptr, UNISP_NAME_W, SECPKG_CRED_OUTBOUND, nullptr, &sc,
                                                     nullptr, nullptr, &fresh, nullptr);
    if (s == SEC_E_OK) {
      if (hasCred) t->FreeCredentialsHandle(&cred);
      cred = fresh;
      hasCred = true;
    }
    return s;
  }

  bool Receive() {
    std::uint8_t buf[16384];
    ssize_t n = sspitest::RecvSome(fd, buf, sizeof buf);
    if (n <= 0) return false;
    pending.insert(pending.end(), buf, buf + n);
    return true;
  }

  void SendToken(SecBuffer& token) {
    if (token.cbBuffer > 0 && token.pvBuffer) {
      EXPECT_TRUE(sspitest::SendAll(fd, token.pvBuffer, token.cbBuffer));
      t->FreeContextBuffer(token.pvBuffer);
    }
    token = {0, SECBUFFER_TOKEN, nullptr};
  }

  // The token loop: connect, say hello, then feed what arrives until the handshake ends.
  SECURITY_STATUS Handshake(int port, const std::u16string& target, const std::vector<std::string>& alpn = {}) {
    fd = sspitest::ConnectLoopback(port);
    if (fd < 0) return SEC_E_INTERNAL_ERROR;
    std::vector<std::uint8_t> offer;
    SecBuffer inBuf{};
    SecBufferDesc inDesc{SECBUFFER_VERSION, 0, &inBuf};
    if (!alpn.empty()) {
      offer = AlpnOffer(alpn);
      inBuf = {static_cast<ULONG>(offer.size()), SECBUFFER_APPLICATION_PROTOCOLS, offer.data()};
      inDesc.cBuffers = 1;
    }
    SecBuffer outBuf{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuf};
    ULONG attr = 0;
    SECURITY_STATUS s = t->InitializeSecurityContextW(&cred, nullptr, target.c_str(), kRequirements, 0,
                                                      SECURITY_NATIVE_DREP, &inDesc, 0, &ctx, &outDesc, &attr,
                                                      nullptr);
    if (s != SEC_I_CONTINUE_NEEDED) return s;
    hasCtx = true;
    EXPECT_EQ(attr & ISC_RET_ALLOCATED_MEMORY, ISC_RET_ALLOCATED_MEMORY);
    SendToken(outBuf);
    return Continue(true);
  }

  // The rest of the handshake; read first or not.
  SECURITY_STATUS Continue(bool read) {
    for (int round = 0; round < 100; ++round) {
      if (read && !Receive()) return SEC_E_INTERNAL_ERROR;
      read = false;
      sspitest::HandshakeStep step = sspitest::ContinueHandshake(t, cred, ctx, pending.data(), pending.size());
      const SECURITY_STATUS s = step.status;
      SendToken(step.token);
      if (step.second.BufferType == SECBUFFER_EXTRA && step.second.cbBuffer > 0) {
        pending.erase(pending.begin(), pending.end() - step.second.cbBuffer);
      } else if (s != SEC_E_INCOMPLETE_MESSAGE) {
        pending.clear();
      }
      if (s == SEC_E_INCOMPLETE_MESSAGE || s == SEC_I_CONTINUE_NEEDED) {
        read = true;
      } else if (s == SEC_I_INCOMPLETE_CREDENTIALS) {
        ++incompleteCredentials;
        if (onIncompleteCredentials) onIncompleteCredentials(*this);
      } else {
        return s;
      }
    }
    return SEC_E_INTERNAL_ERROR;
  }

  SecPkgContext_StreamSizes Sizes() {
    SecPkgContext_StreamSizes sizes{};
    EXPECT_EQ(t->QueryContextAttributesW(&ctx, SECPKG_ATTR_STREAM_SIZES, &sizes), SEC_E_OK);
    return sizes;
  }

  // Encrypts and sends text one record per piece of at most cbMaximumMessage; the number of
  // records sent.
  int Write(const std::string& text) {
    const auto sizes = Sizes();
    std::vector<std::uint8_t> buf(sizes.cbHeader + sizes.cbMaximumMessage + sizes.cbTrailer);
    int records = 0;
    for (std::size_t pos = 0; pos < text.size();) {
      const std::size_t n = std::min<std::size_t>(text.size() - pos, sizes.cbMaximumMessage);
      std::memcpy(buf.data() + sizes.cbHeader, text.data() + pos, n);
      SecBuffer b[4] = {{sizes.cbHeader, SECBUFFER_STREAM_HEADER, buf.data()},
                        {static_cast<ULONG>(n), SECBUFFER_DATA, buf.data() + sizes.cbHeader},
                        {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, buf.data() + sizes.cbHeader + n},
                        {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc d{SECBUFFER_VERSION, 4, b};
      SECURITY_STATUS s = t->EncryptMessage(&ctx, 0, &d, 0);
      EXPECT_EQ(s, SEC_E_OK) << Hex(s);
      if (s != SEC_E_OK) return -1;
      const std::size_t total = b[0].cbBuffer + b[1].cbBuffer + b[2].cbBuffer;
      // One record: its header announces exactly the rest of the block.
      EXPECT_EQ(total, 5u + ((buf[3] << 8) | buf[4]));
      EXPECT_TRUE(sspitest::SendAll(fd, buf.data(), total));
      ++records;
      pos += n;
    }
    return records;
  }

  // One DecryptMessage over what is pending, reading while the record is incomplete.
  Decrypted DecryptOne() {
    Decrypted r;
    for (;;) {
      if (pending.empty() && !Receive()) {
        r.status = SEC_E_INTERNAL_ERROR;
        return r;
      }
      SecBuffer b[4] = {{static_cast<ULONG>(pending.size()), SECBUFFER_DATA, pending.data()},
                        {0, SECBUFFER_EMPTY, nullptr},
                        {0, SECBUFFER_EMPTY, nullptr},
                        {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc d{SECBUFFER_VERSION, 4, b};
      r.status = t->DecryptMessage(&ctx, &d, 0, nullptr);
      if (r.status == SEC_E_INCOMPLETE_MESSAGE) {
        if (!Receive()) {
          r.status = SEC_E_INTERNAL_ERROR;
          return r;
        }
        continue;
      }
      if (r.status != SEC_E_OK && r.status != SEC_I_CONTEXT_EXPIRED && r.status != SEC_I_RENEGOTIATE) return r;
      std::vector<std::uint8_t> extra;
      for (int i = 1; i < 4; ++i) {
        if (b[i].BufferType == SECBUFFER_DATA)
          r.data.append(static_cast<const char*>(b[i].pvBuffer), b[i].cbBuffer);
        if (b[i].BufferType == SECBUFFER_EXTRA) {
          const auto* e = static_cast<const std::uint8_t*>(b[i].pvBuffer);
          extra.assign(e, e + b[i].cbBuffer);
          r.extra = b[i].cbBuffer;
        }
      }
      pending = std::move(extra);
      if (r.data.empty()) ++recordsWithoutData;
      return r;
    }
  }

  // Decrypted text until at least n bytes arrived.
  std::string Read(std::size_t n) {
    std::string out;
    while (out.size() < n) {
      Decrypted d = DecryptOne();
      EXPECT_EQ(d.status, SEC_E_OK) << Hex(d.status);
      if (d.status != SEC_E_OK) break;
      out += d.data;
    }
    return out;
  }

  std::string Alpn() {
    SecPkgContext_ApplicationProtocol a{};
    EXPECT_EQ(t->QueryContextAttributesW(&ctx, SECPKG_ATTR_APPLICATION_PROTOCOL, &a), SEC_E_OK);
    if (a.ProtoNegoStatus != SecApplicationProtocolNegotiationStatus_Success ||
        a.ProtoNegoExt != SecApplicationProtocolNegotiationExt_ALPN)
      return {};
    return std::string(reinterpret_cast<const char*>(a.ProtocolId), a.ProtocolIdSize);
  }
};

std::string Reversed(std::string line) {
  std::reverse(line.begin(), line.end());
  return line;
}

class SspiPeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (TestPki::Get().dir.empty()) GTEST_SKIP() << "openssl could not make the test certificates";
  }
  const TestPki& pki = TestPki::Get();
  TlsPeer server;

  bool StartRev(std::vector<std::string> extra) {
    std::vector<std::string> args{"-cert", pki.serverCert, "-key", pki.serverKey, "-rev"};
    args.insert(args.end(), extra.begin(), extra.end());
    return server.Start(args);
  }
};

struct Version {
  const char* name;
  const char* flag;
  DWORD protocols;
};

class SspiVersionTest : public SspiPeerTest, public ::testing::WithParamInterface<Version> {};

TEST_P(SspiVersionTest, HandshakesAndCarriesDataBothWays) {
  ASSERT_TRUE(StartRev({GetParam().flag}));
  Client c;
  ASSERT_EQ(c.Acquire(GetParam().protocols), SEC_E_OK);
  SECURITY_STATUS s = c.Handshake(server.Port(), u"localhost");
  ASSERT_EQ(s, SEC_E_OK) << Hex(s);

  SecPkgContext_ConnectionInfo info{};
  ASSERT_EQ(c.t->QueryContextAttributesW(&c.ctx, SECPKG_ATTR_CONNECTION_INFO, &info), SEC_E_OK);
  EXPECT_EQ(info.dwProtocol, GetParam().protocols);
  const auto sizes = c.Sizes();
  EXPECT_EQ(sizes.cbHeader, 5u);
  EXPECT_EQ(sizes.cbMaximumMessage, 16384u);
  EXPECT_EQ(sizes.cBuffers, 4u);

  EXPECT_EQ(c.Write("hello world\n"), 1);
  EXPECT_EQ(c.Read(12), "dlrow olleh\n");

  // 40000 bytes leave as three records (16384, 16384, 7232) and come back intact.
  std::string text, expected;
  for (int i = 0; i < 400; ++i) {
    std::string line = std::to_string(i) + ":";
    line.resize(99, static_cast<char>('a' + i % 26));
    text += line + "\n";
    expected += Reversed(line) + "\n";
  }
  ASSERT_EQ(text.size(), 40000u);
  EXPECT_EQ(c.Write(text), 3);
  EXPECT_EQ(c.Read(expected.size()), expected);

  if (GetParam().protocols == SP_PROT_TLS1_3_CLIENT) {
    // The server's session tickets came as records without data and did not disturb the stream.
    EXPECT_GE(c.recordsWithoutData, 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, SspiVersionTest,
                         ::testing::Values(Version{"tls12", "-tls1_2", SP_PROT_TLS1_2_CLIENT},
                                           Version{"tls13", "-tls1_3", SP_PROT_TLS1_3_CLIENT}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SspiPeerTest, DecryptTakesOneRecordAndReportsIncompleteAndExtraBytes) {
  ASSERT_TRUE(StartRev({"-tls1_2"}));
  Client c;
  ASSERT_EQ(c.Acquire(SP_PROT_TLS1_2_CLIENT), SEC_E_OK);
  ASSERT_EQ(c.Handshake(server.Port(), u"localhost"), SEC_E_OK);
  // Two lines: the server answers each in a record of its own.
  ASSERT_EQ(c.Write("abc\nxyz\n"), 1);
  auto complete = [](const std::vector<std::uint8_t>& b, std::size_t from) -> std::size_t {
    if (b.size() < from + 5) return 0;
    const std::size_t len = 5 + ((b[from + 3] << 8) | b[from + 4]);
    return b.size() >= from + len ? len : 0;
  };
  while (complete(c.pending, 0) == 0 || complete(c.pending, complete(c.pending, 0)) == 0) ASSERT_TRUE(c.Receive());
  const std::size_t first = complete(c.pending, 0);
  const std::vector<std::uint8_t> wire = c.pending;

  // The first record handed over byte by byte: incomplete until its last byte, with the
  // missing count, and the bytes left as they were.
  for (std::size_t k = 1; k < first; ++k) {
    std::vector<std::uint8_t> part(wire.begin(), wire.begin() + static_cast<long>(k));
    SecBuffer b[4] = {{static_cast<ULONG>(k), SECBUFFER_DATA, part.data()},
                      {0, SECBUFFER_EMPTY, nullptr},
                      {0, SECBUFFER_EMPTY, nullptr},
                      {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc d{SECBUFFER_VERSION, 4, b};
    ASSERT_EQ(c.t->DecryptMessage(&c.ctx, &d, 0, nullptr), SEC_E_INCOMPLETE_MESSAGE) << k;
    EXPECT_EQ(b[1].BufferType, SECBUFFER_MISSING);
    EXPECT_EQ(b[1].cbBuffer, k < 5 ? 5 - k : first - k);
    EXPECT_TRUE(std::equal(part.begin(), part.end(), wire.begin()));
  }

  // Both records at once: the first is decrypted in place, the second is the extra part.
  std::vector<std::uint8_t> both = wire;
  SecBuffer b[4] = {{static_cast<ULONG>(both.size()), SECBUFFER_DATA, both.data()},
                    {0, SECBUFFER_EMPTY, nullptr},
                    {0, SECBUFFER_EMPTY, nullptr},
                    {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc d{SECBUFFER_VERSION, 4, b};
  ASSERT_EQ(c.t->DecryptMessage(&c.ctx, &d, 0, nullptr), SEC_E_OK);
  EXPECT_EQ(b[0].BufferType, SECBUFFER_STREAM_HEADER);
  EXPECT_EQ(b[0].pvBuffer, both.data());
  EXPECT_EQ(b[1].BufferType, SECBUFFER_DATA);
  EXPECT_EQ(std::string(static_cast<const char*>(b[1].pvBuffer), b[1].cbBuffer), "cba\n");
  EXPECT_GT(static_cast<const std::uint8_t*>(b[1].pvBuffer), both.data());
  EXPECT_EQ(b[2].BufferType, SECBUFFER_STREAM_TRAILER);
  EXPECT_EQ(b[0].cbBuffer + b[1].cbBuffer + b[2].cbBuffer, first);
  ASSERT_EQ(b[3].BufferType, SECBUFFER_EXTRA);
  EXPECT_EQ(b[3].cbBuffer, wire.size() - first);
  EXPECT_EQ(b[3].pvBuffer, both.data() + first);

  c.pending.assign(wire.begin() + static_cast<long>(first), wire.end());
  EXPECT_EQ(c.Read(4), "zyx\n");
}

TEST_F(SspiPeerTest, NegotiatesAlpn) {
  ASSERT_TRUE(StartRev({"-alpn", "h2,http/1.1"}));
  {
    Client c;
    ASSERT_EQ(c.Acquire(0), SEC_E_OK);
    ASSERT_EQ(c.Handshake(server.Port(), u"localhost", {"http/1.1", "h2"}), SEC_E_OK);
    EXPECT_EQ(c.Alpn(), "h2");
    EXPECT_EQ(c.Write("x\n"), 1);
    EXPECT_EQ(c.Read(2), "x\n");
  }
  {
    Client c;
    ASSERT_EQ(c.Acquire(0), SEC_E_OK);
    ASSERT_EQ(c.Handshake(server.Port(), u"localhost"), SEC_E_OK);
    EXPECT_EQ(c.Alpn(), "");
  }
}

// Searches the "MY" store as the handler does and takes the first chain's certificate.
void ChooseClientCertificate(Client& c, std::vector<std::string>& issuersSeen) {
  SecPkgContext_IssuerListInfoEx issuers{};
  ASSERT_EQ(c.t->QueryContextAttributesW(&c.ctx, SECPKG_ATTR_ISSUER_LIST_EX, &issuers), SEC_E_OK);
  for (DWORD i = 0; i < issuers.cIssuers; ++i)
    issuersSeen.emplace_back(reinterpret_cast<const char*>(issuers.aIssuers[i].pbData), issuers.aIssuers[i].cbData);
  HCERTSTORE store = CertOpenSystemStoreW(0, u"MY");
  ASSERT_NE(store, nullptr);
  CERT_CHAIN_FIND_BY_ISSUER_PARA para{};
  para.cbSize = sizeof para;
  para.pszUsageIdentifier = szOID_PKIX_KP_CLIENT_AUTH;
  para.cIssuer = issuers.cIssuers;
  para.rgIssuer = issuers.aIssuers;
  PCCERT_CHAIN_CONTEXT chain =
      CertFindChainInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_CHAIN_FIND_BY_ISSUER, &para, nullptr);
  ASSERT_NE(chain, nullptr);
  PCCERT_CONTEXT cert = chain->rgpChain[0]->rgpElement[0]->pCertContext;
  EXPECT_EQ(c.Acquire(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT, cert), SEC_E_OK);
  // No second certificate answers this server's request.
  EXPECT_EQ(CertFindChainInStore(store, X509_ASN_ENCODING, 0, CERT_CHAIN_FIND_BY_ISSUER, &para, chain), nullptr);
  c.t->FreeContextBuffer(issuers.aIssuers);
  CertCloseStore(store, 0);
}

class SspiClientCertTest : public SspiVersionTest {
 protected:
  void SetUp() override {
    SspiVersionTest::SetUp();
    if (IsSkipped()) return;
    store = std::make_unique<testing::TTempDir>("brv-sspi-store");
    // The client certificate with its key beside it, a server certificate that is no client
    // certificate, and a certificate without a key.
    namespace fs = std::filesystem;
    fs::copy_file(pki.clientCert, store->File("client.pem"));
    fs::copy_file(pki.clientKey, store->File("client.key"));
    sspitest::WriteTextFile(store->File("server.pem"), sspitest::ReadTextFile(pki.serverCert) +
                                                           sspitest::ReadTextFile(pki.serverKey));
    fs::copy_file(pki.caCert, store->File("a-nokey.crt"));
    setenv("BRV_CERT_STORE_MY", store->Path().c_str(), 1);
  }
  void TearDown() override {
    unsetenv("BRV_CERT_STORE_MY");
    store.reset();
  }
  std::unique_ptr<testing::TTempDir> store;
};

TEST_P(SspiClientCertTest, SendsTheStoreCertificateTheServerAsksFor) {
  ASSERT_TRUE(StartRev({GetParam().flag, "-Verify", "1", "-CAfile", pki.clientCaCert}));
  Client c;
  ASSERT_EQ(c.Acquire(GetParam().protocols), SEC_E_OK);
  std::vector<std::string> issuers;
  c.onIncompleteCredentials = [&](Client& self) { ChooseClientCertificate(self, issuers); };
  SECURITY_STATUS s = c.Handshake(server.Port(), u"localhost");
  ASSERT_EQ(s, SEC_E_OK) << Hex(s);
  EXPECT_EQ(c.incompleteCredentials, 1);
  ASSERT_EQ(issuers.size(), 1u);
  EXPECT_NE(issuers[0].find("Brv Client CA"), std::string::npos);
  EXPECT_EQ(c.Write("ping\n"), 1);
  EXPECT_EQ(c.Read(5), "gnip\n");
  EXPECT_TRUE(server.WaitForOutput("brv-client"));
}

TEST_P(SspiClientCertTest, WithoutACertificateTheServerRefuses) {
  ASSERT_TRUE(StartRev({GetParam().flag, "-Verify", "1", "-CAfile", pki.clientCaCert}));
  Client c;
  ASSERT_EQ(c.Acquire(GetParam().protocols), SEC_E_OK);
  SECURITY_STATUS s = c.Handshake(server.Port(), u"localhost");
  EXPECT_EQ(c.incompleteCredentials, 1);
  if (s == SEC_E_OK) {
    // TLS 1.3: the client finishes first; the refusal arrives as the next record.
    c.Write("ping\n");
    s = c.DecryptOne().status;
  }
  EXPECT_LT(s, 0) << Hex(s);
}

INSTANTIATE_TEST_SUITE_P(Versions, SspiClientCertTest,
                         ::testing::Values(Version{"tls12", "-tls1_2", SP_PROT_TLS1_2_CLIENT},
                                           Version{"tls13", "-tls1_3", SP_PROT_TLS1_3_CLIENT}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SspiPeerTest, FollowsARenegotiationTheServerAsksFor) {
  // The server's stdin mode: lines typed go to the client, "r" renegotiates.
  ASSERT_TRUE(server.Start({"-cert", pki.serverCert, "-key", pki.serverKey, "-tls1_2"}));
  Client c;
  ASSERT_EQ(c.Acquire(SP_PROT_TLS1_2_CLIENT), SEC_E_OK);
  ASSERT_EQ(c.Handshake(server.Port(), u"localhost"), SEC_E_OK);
  ASSERT_EQ(c.Write("before\n"), 1);
  ASSERT_TRUE(server.Input("r\n"));
  Decrypted d = c.DecryptOne();
  ASSERT_EQ(d.status, SEC_I_RENEGOTIATE) << Hex(d.status);
  // The new handshake starts from what is left over, without waiting for the server.
  SECURITY_STATUS s = c.Continue(false);
  ASSERT_EQ(s, SEC_E_OK) << Hex(s);
  ASSERT_TRUE(server.Input("after\n"));
  EXPECT_EQ(c.Read(6), "after\n");
  ASSERT_EQ(c.Write("again\n"), 1);
  ASSERT_TRUE(server.Input("done\n"));
  EXPECT_EQ(c.Read(5), "done\n");
  EXPECT_TRUE(server.WaitForOutput("before"));
  EXPECT_TRUE(server.WaitForOutput("again"));
}

// ---- Chain policy on the certificate the server showed ------------------------------------------

struct PolicyCase {
  const char* name;
  std::string TestPki::*cert;
  std::string TestPki::*key;
  const char16_t* serverName;
  bool trustTestCa;
  bool sendIssuer;  // the server sends its CA along
  HRESULT expected;
};

class SspiPolicyTest : public SspiPeerTest, public ::testing::WithParamInterface<PolicyCase> {};

TEST_P(SspiPolicyTest, ReportsThePlatformPolicyError) {
  const PolicyCase& p = GetParam();
  std::vector<std::string> args{"-cert", pki.*(p.cert), "-key", pki.*(p.key), "-rev"};
  if (p.sendIssuer) args.insert(args.end(), {"-cert_chain", pki.otherCaCert});
  ASSERT_TRUE(server.Start(args));
  Client c;
  ASSERT_EQ(c.Acquire(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT), SEC_E_OK);
  // Manual validation: the handshake itself accepts any certificate.
  ASSERT_EQ(c.Handshake(server.Port(), u"localhost"), SEC_E_OK);

  PCCERT_CONTEXT cert = nullptr;
  ASSERT_EQ(c.t->QueryContextAttributesW(&c.ctx, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert), SEC_E_OK);
  ASSERT_NE(cert, nullptr);
  HCERTCHAINENGINE engine = nullptr;
  if (p.trustTestCa) {
    ASSERT_TRUE(BrvCertCreateChainEngine(pki.caCert.c_str(), &engine));
  }

  char* usages[] = {const_cast<char*>(szOID_PKIX_KP_SERVER_AUTH), const_cast<char*>(szOID_SERVER_GATED_CRYPTO),
                    const_cast<char*>(szOID_SGC_NETSCAPE)};
  CERT_CHAIN_PARA chainPara{};
  chainPara.cbSize = sizeof chainPara;
  chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  chainPara.RequestedUsage.Usage = {3, usages};
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  ASSERT_TRUE(CertGetCertificateChain(engine, cert, nullptr, cert->hCertStore, &chainPara, 0, nullptr, &chain));

  std::u16string name = p.serverName;
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.pwszServerName = name.data();
  CERT_CHAIN_POLICY_PARA policy{sizeof policy, 0, &ssl};
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  ASSERT_TRUE(CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status));
  EXPECT_EQ(Hex(static_cast<SECURITY_STATUS>(status.dwError)), Hex(p.expected));

  CertFreeCertificateChain(chain);
  CertFreeCertificateContext(cert);
  CertFreeCertificateChainEngine(engine);
}

INSTANTIATE_TEST_SUITE_P(
    Certificates, SspiPolicyTest,
    ::testing::Values(
        PolicyCase{"trusted", &TestPki::serverCert, &TestPki::serverKey, u"localhost", true, false, 0},
        PolicyCase{"trusted_ip", &TestPki::serverCert, &TestPki::serverKey, u"127.0.0.1", true, false, 0},
        PolicyCase{"other_name_asked", &TestPki::serverCert, &TestPki::serverKey, u"wrong.example", true, false,
                   CERT_E_CN_NO_MATCH},
        PolicyCase{"wrong_name", &TestPki::wrongNameCert, &TestPki::wrongNameKey, u"localhost", true, false,
                   CERT_E_CN_NO_MATCH},
        PolicyCase{"expired", &TestPki::expiredCert, &TestPki::expiredKey, u"localhost", true, false, CERT_E_EXPIRED},
        PolicyCase{"self_signed", &TestPki::selfSignedCert, &TestPki::selfSignedKey, u"localhost", true, false,
                   CERT_E_UNTRUSTEDROOT},
        PolicyCase{"unknown_ca", &TestPki::otherCaServerCert, &TestPki::otherCaServerKey, u"localhost", true, false,
                   CERT_E_CHAINING},
        PolicyCase{"untrusted_root_sent", &TestPki::otherCaServerCert, &TestPki::otherCaServerKey, u"localhost", true,
                   true, CERT_E_UNTRUSTEDROOT},
        PolicyCase{"system_store_only", &TestPki::serverCert, &TestPki::serverKey, u"localhost", false, false,
                   CERT_E_CHAINING}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace brv::sspi
