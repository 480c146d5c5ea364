// A security-support-provider interface for the second TLS engine.
//
// The security-package handler was written against a platform interface that Linux does not
// have: a function table of security calls (credentials, contexts, message encryption) and a
// certificate store with chain building and policy checks. This layer has the same shape, the
// same names and the same numeric constants, and speaks real TLS through GnuTLS. GnuTLS never
// touches a socket here: tokens and records travel through memory, so the caller does every
// socket read and write itself.
//
// Only what the handler uses is provided. Notable behaviour, all of it as on the platform:
// - InitializeSecurityContextW consumes whole TLS records from its input token, answers
//   SEC_E_INCOMPLETE_MESSAGE while no complete record is there, and reports bytes it did not
//   consume as a SECBUFFER_EXTRA count in the second input buffer.
// - When the server asks for a client certificate and the credentials hold none, the handshake
//   pauses with SEC_I_INCOMPLETE_CREDENTIALS; the issuers the server accepts are then available
//   through SECPKG_ATTR_ISSUER_LIST_EX, and the next call (with the same or new credentials)
//   goes on. Calling again without a certificate continues without one.
// - DecryptMessage decrypts exactly one record in place: header, data and trailer buffers point
//   into the caller's input, a following partial or complete record is reported as EXTRA.
//   A record that carries no application data (a TLS 1.3 session ticket or key update, a
//   warning alert) gives SEC_E_OK with an empty data buffer; a close_notify gives
//   SEC_I_CONTEXT_EXPIRED; a TLS 1.2 HelloRequest gives SEC_I_RENEGOTIATE, after which the next
//   InitializeSecurityContextW call runs the new handshake.
// - EncryptMessage builds exactly one record from at most cbMaximumMessage bytes. An answer the
//   TLS 1.3 protocol owes the peer (a key update) goes out in front of the next record; the
//   trailer size leaves room for it.
//
// Linux specifics:
// - The "MY" system store is a directory of PEM files: the directory named by the environment
//   variable BRV_CERT_STORE_MY, else $XDG_CONFIG_HOME/brv/certstore/MY (~/.config/... when
//   XDG_CONFIG_HOME is unset). Each *.pem, *.crt or *.cer file holding a certificate is one
//   entry: its first certificate is the entry, further certificates are the chain sent with it,
//   and the private key is a PRIVATE KEY block in the same file or the file <stem>.key beside
//   it. A missing default directory is an empty store; a BRV_CERT_STORE_MY that names no
//   readable directory makes CertOpenSystemStoreW fail.
// - Chains are built and verified against the system trust store (GnuTLS's system trust, on
//   Debian /etc/ssl/certs/ca-certificates.crt). BrvCertCreateChainEngine makes an engine that
//   also trusts the certificates of one PEM file; pass it to CertGetCertificateChain.
// - Credentials are always validated manually (SCH_CRED_MANUAL_CRED_VALIDATION), as the handler
//   asks: the handshake itself never rejects a server certificate.
#pragma once

#include <cstdint>

namespace brv::sspi {

// ---- Basic platform types ----------------------------------------------------------------

using BYTE = std::uint8_t;
using USHORT = std::uint16_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using BOOL = int;
using ULONG_PTR = std::uintptr_t;
using ALG_ID = unsigned int;
using HRESULT = std::int32_t;
using SECURITY_STATUS = std::int32_t;
using WCHAR = char16_t;  // the platform's wide characters are UTF-16 code units
using SEC_WCHAR = char16_t;
using LPCSTR = const char*;
using LPCWSTR = const char16_t*;
using HCRYPTPROV_LEGACY = ULONG_PTR;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

// ---- Status codes ------------------------------------------------------------------------

constexpr SECURITY_STATUS Status(std::uint32_t value) { return static_cast<SECURITY_STATUS>(value); }

constexpr SECURITY_STATUS SEC_E_OK = 0;
constexpr SECURITY_STATUS SEC_I_CONTINUE_NEEDED = Status(0x00090312);
constexpr SECURITY_STATUS SEC_I_COMPLETE_NEEDED = Status(0x00090313);
constexpr SECURITY_STATUS SEC_I_CONTEXT_EXPIRED = Status(0x00090317);
constexpr SECURITY_STATUS SEC_I_INCOMPLETE_CREDENTIALS = Status(0x00090320);
constexpr SECURITY_STATUS SEC_I_RENEGOTIATE = Status(0x00090321);
constexpr SECURITY_STATUS SEC_E_INSUFFICIENT_MEMORY = Status(0x80090300);
constexpr SECURITY_STATUS SEC_E_INVALID_HANDLE = Status(0x80090301);
constexpr SECURITY_STATUS SEC_E_UNSUPPORTED_FUNCTION = Status(0x80090302);
constexpr SECURITY_STATUS SEC_E_TARGET_UNKNOWN = Status(0x80090303);
constexpr SECURITY_STATUS SEC_E_INTERNAL_ERROR = Status(0x80090304);
constexpr SECURITY_STATUS SEC_E_SECPKG_NOT_FOUND = Status(0x80090305);
constexpr SECURITY_STATUS SEC_E_INVALID_TOKEN = Status(0x80090308);
constexpr SECURITY_STATUS SEC_E_UNKNOWN_CREDENTIALS = Status(0x8009030D);
constexpr SECURITY_STATUS SEC_E_NO_CREDENTIALS = Status(0x8009030E);
constexpr SECURITY_STATUS SEC_E_MESSAGE_ALTERED = Status(0x8009030F);
constexpr SECURITY_STATUS SEC_E_OUT_OF_SEQUENCE = Status(0x80090310);
constexpr SECURITY_STATUS SEC_E_CONTEXT_EXPIRED = Status(0x80090317);
constexpr SECURITY_STATUS SEC_E_INCOMPLETE_MESSAGE = Status(0x80090318);
constexpr SECURITY_STATUS SEC_E_BUFFER_TOO_SMALL = Status(0x80090321);
constexpr SECURITY_STATUS SEC_E_WRONG_PRINCIPAL = Status(0x80090322);
constexpr SECURITY_STATUS SEC_E_UNTRUSTED_ROOT = Status(0x80090325);
constexpr SECURITY_STATUS SEC_E_ILLEGAL_MESSAGE = Status(0x80090326);
constexpr SECURITY_STATUS SEC_E_CERT_UNKNOWN = Status(0x80090327);
constexpr SECURITY_STATUS SEC_E_CERT_EXPIRED = Status(0x80090328);
constexpr SECURITY_STATUS SEC_E_DECRYPT_FAILURE = Status(0x80090330);
constexpr SECURITY_STATUS SEC_E_ALGORITHM_MISMATCH = Status(0x80090331);
constexpr SECURITY_STATUS SEC_E_INVALID_PARAMETER = Status(0x8009035D);

// Certificate policy errors (CERT_CHAIN_POLICY_STATUS::dwError).
constexpr HRESULT CERT_E_EXPIRED = Status(0x800B0101);
constexpr HRESULT CERT_E_UNTRUSTEDROOT = Status(0x800B0109);
constexpr HRESULT CERT_E_CHAINING = Status(0x800B010A);
constexpr HRESULT CERT_E_REVOKED = Status(0x800B010C);
constexpr HRESULT CERT_E_CN_NO_MATCH = Status(0x800B010F);
constexpr HRESULT CERT_E_WRONG_USAGE = Status(0x800B0110);
constexpr HRESULT CERT_E_UNTRUSTEDCA = Status(0x800B0112);
constexpr HRESULT TRUST_E_CERT_SIGNATURE = Status(0x80096004);
constexpr HRESULT TRUST_E_BASIC_CONSTRAINTS = Status(0x80096019);

// ---- Handles and buffers -----------------------------------------------------------------

struct SecHandle {
  ULONG_PTR dwLower;
  ULONG_PTR dwUpper;
};
using PSecHandle = SecHandle*;
using CredHandle = SecHandle;
using PCredHandle = CredHandle*;
using CtxtHandle = SecHandle;
using PCtxtHandle = CtxtHandle*;

struct SECURITY_INTEGER {
  ULONG LowPart;
  LONG HighPart;
};
using TimeStamp = SECURITY_INTEGER;
using PTimeStamp = TimeStamp*;

struct SecBuffer {
  ULONG cbBuffer;
  ULONG BufferType;
  void* pvBuffer;
};
using PSecBuffer = SecBuffer*;

struct SecBufferDesc {
  ULONG ulVersion;
  ULONG cBuffers;
  PSecBuffer pBuffers;
};
using PSecBufferDesc = SecBufferDesc*;

constexpr ULONG SECBUFFER_VERSION = 0;
constexpr ULONG SECBUFFER_EMPTY = 0;
constexpr ULONG SECBUFFER_DATA = 1;
constexpr ULONG SECBUFFER_TOKEN = 2;
constexpr ULONG SECBUFFER_MISSING = 4;
constexpr ULONG SECBUFFER_EXTRA = 5;
constexpr ULONG SECBUFFER_STREAM_TRAILER = 6;
constexpr ULONG SECBUFFER_STREAM_HEADER = 7;
constexpr ULONG SECBUFFER_APPLICATION_PROTOCOLS = 18;

constexpr ULONG SECURITY_NATIVE_DREP = 0x10;
constexpr ULONG SECPKG_CRED_INBOUND = 1;
constexpr ULONG SECPKG_CRED_OUTBOUND = 2;

// Context requirements and the attributes granted (same bits).
constexpr ULONG ISC_REQ_REPLAY_DETECT = 0x4;
constexpr ULONG ISC_REQ_SEQUENCE_DETECT = 0x8;
constexpr ULONG ISC_REQ_CONFIDENTIALITY = 0x10;
constexpr ULONG ISC_REQ_ALLOCATE_MEMORY = 0x100;
constexpr ULONG ISC_REQ_EXTENDED_ERROR = 0x4000;
constexpr ULONG ISC_REQ_STREAM = 0x8000;
constexpr ULONG ISC_RET_REPLAY_DETECT = 0x4;
constexpr ULONG ISC_RET_SEQUENCE_DETECT = 0x8;
constexpr ULONG ISC_RET_CONFIDENTIALITY = 0x10;
constexpr ULONG ISC_RET_ALLOCATED_MEMORY = 0x100;
constexpr ULONG ISC_RET_EXTENDED_ERROR = 0x4000;
constexpr ULONG ISC_RET_STREAM = 0x8000;

// Context attributes.
constexpr ULONG SECPKG_ATTR_STREAM_SIZES = 4;
constexpr ULONG SECPKG_ATTR_APPLICATION_PROTOCOL = 35;
constexpr ULONG SECPKG_ATTR_REMOTE_CERT_CONTEXT = 0x53;
constexpr ULONG SECPKG_ATTR_ISSUER_LIST_EX = 0x59;
constexpr ULONG SECPKG_ATTR_CONNECTION_INFO = 0x5A;

struct SecPkgContext_StreamSizes {
  ULONG cbHeader;
  ULONG cbTrailer;
  ULONG cbMaximumMessage;
  ULONG cBuffers;
  ULONG cbBlockSize;
};

enum SEC_APPLICATION_PROTOCOL_NEGOTIATION_STATUS : int {
  SecApplicationProtocolNegotiationStatus_None = 0,
  SecApplicationProtocolNegotiationStatus_Success = 1,
  SecApplicationProtocolNegotiationStatus_SelectedClientOnly = 2,
};
enum SEC_APPLICATION_PROTOCOL_NEGOTIATION_EXT : int {
  SecApplicationProtocolNegotiationExt_None = 0,
  SecApplicationProtocolNegotiationExt_NPN = 1,
  SecApplicationProtocolNegotiationExt_ALPN = 2,
};
constexpr unsigned MAX_PROTOCOL_ID_SIZE = 0xff;

struct SecPkgContext_ApplicationProtocol {
  SEC_APPLICATION_PROTOCOL_NEGOTIATION_STATUS ProtoNegoStatus;
  SEC_APPLICATION_PROTOCOL_NEGOTIATION_EXT ProtoNegoExt;
  unsigned char ProtocolIdSize;
  unsigned char ProtocolId[MAX_PROTOCOL_ID_SIZE];
};

// The ALPN offer of a SECBUFFER_APPLICATION_PROTOCOLS buffer, as laid out in memory:
// ProtocolListsSize (4 bytes), then lists of { ProtoNegoExt (4 bytes), ProtocolListSize
// (2 bytes), the wire-format list (length byte + name, repeated) }.
struct SEC_APPLICATION_PROTOCOL_LIST {
  SEC_APPLICATION_PROTOCOL_NEGOTIATION_EXT ProtoNegoExt;
  USHORT ProtocolListSize;
  unsigned char ProtocolList[1];
};
struct SEC_APPLICATION_PROTOCOLS {
  ULONG ProtocolListsSize;
  SEC_APPLICATION_PROTOCOL_LIST ProtocolLists[1];
};

// Protocol bits of SCHANNEL_CRED::grbitEnabledProtocols and SecPkgContext_ConnectionInfo.
constexpr DWORD SP_PROT_SSL3_SERVER = 0x10;
constexpr DWORD SP_PROT_SSL3_CLIENT = 0x20;
constexpr DWORD SP_PROT_TLS1_0_SERVER = 0x40;
constexpr DWORD SP_PROT_TLS1_0_CLIENT = 0x80;
constexpr DWORD SP_PROT_TLS1_1_SERVER = 0x100;
constexpr DWORD SP_PROT_TLS1_1_CLIENT = 0x200;
constexpr DWORD SP_PROT_TLS1_2_SERVER = 0x400;
constexpr DWORD SP_PROT_TLS1_2_CLIENT = 0x800;
constexpr DWORD SP_PROT_TLS1_3_SERVER = 0x1000;
constexpr DWORD SP_PROT_TLS1_3_CLIENT = 0x2000;

// Connection facts. Only dwProtocol, dwCipherStrength and dwHashStrength are filled; the
// algorithm identifiers are 0.
struct SecPkgContext_ConnectionInfo {
  DWORD dwProtocol;
  ALG_ID aiCipher;
  DWORD dwCipherStrength;
  ALG_ID aiHash;
  DWORD dwHashStrength;
  ALG_ID aiExch;
  DWORD dwExchStrength;
};

// ---- Certificates ------------------------------------------------------------------------

using HCERTSTORE = void*;
using HCERTCHAINENGINE = void*;

constexpr DWORD X509_ASN_ENCODING = 0x1;
constexpr DWORD PKCS_7_ASN_ENCODING = 0x10000;

struct CRYPTOAPI_BLOB {
  DWORD cbData;
  BYTE* pbData;
};
using CRYPT_INTEGER_BLOB = CRYPTOAPI_BLOB;
using CERT_NAME_BLOB = CRYPTOAPI_BLOB;
using PCERT_NAME_BLOB = CERT_NAME_BLOB*;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
using LPFILETIME = FILETIME*;

// The parsed view of a certificate. Only the fields below are filled (names are DER encoded,
// times are 100 ns units since 1601 as on the platform).
struct CERT_INFO {
  DWORD dwVersion;
  CRYPT_INTEGER_BLOB SerialNumber;
  CERT_NAME_BLOB Issuer;
  FILETIME NotBefore;
  FILETIME NotAfter;
  CERT_NAME_BLOB Subject;
};
using PCERT_INFO = CERT_INFO*;

struct CERT_CONTEXT {
  DWORD dwCertEncodingType;
  BYTE* pbCertEncoded;
  DWORD cbCertEncoded;
  PCERT_INFO pCertInfo;
  HCERTSTORE hCertStore;
};
using PCCERT_CONTEXT = const CERT_CONTEXT*;

struct CERT_TRUST_STATUS {
  DWORD dwErrorStatus;
  DWORD dwInfoStatus;
};

constexpr DWORD CERT_TRUST_NO_ERROR = 0;
constexpr DWORD CERT_TRUST_IS_NOT_TIME_VALID = 0x1;
constexpr DWORD CERT_TRUST_IS_REVOKED = 0x4;
constexpr DWORD CERT_TRUST_IS_NOT_SIGNATURE_VALID = 0x8;
constexpr DWORD CERT_TRUST_IS_NOT_VALID_FOR_USAGE = 0x10;
constexpr DWORD CERT_TRUST_IS_UNTRUSTED_ROOT = 0x20;
constexpr DWORD CERT_TRUST_INVALID_BASIC_CONSTRAINTS = 0x400;
constexpr DWORD CERT_TRUST_IS_PARTIAL_CHAIN = 0x10000;
constexpr DWORD CERT_TRUST_IS_SELF_SIGNED = 0x8;  // an info status bit

struct CERT_CHAIN_ELEMENT {
  DWORD cbSize;
  PCCERT_CONTEXT pCertContext;
  CERT_TRUST_STATUS TrustStatus;
  void* pRevocationInfo;
  void* pIssuanceUsage;
  void* pApplicationUsage;
  LPCWSTR pwszExtendedErrorInfo;
};
using PCERT_CHAIN_ELEMENT = CERT_CHAIN_ELEMENT*;

struct CERT_SIMPLE_CHAIN {
  DWORD cbSize;
  CERT_TRUST_STATUS TrustStatus;
  DWORD cElement;
  PCERT_CHAIN_ELEMENT* rgpElement;
  void* pTrustListInfo;
  BOOL fHasRevocationFreshnessTime;
  DWORD dwRevocationFreshnessTime;
};
using PCERT_SIMPLE_CHAIN = CERT_SIMPLE_CHAIN*;

struct CERT_CHAIN_CONTEXT {
  DWORD cbSize;
  CERT_TRUST_STATUS TrustStatus;
  DWORD cChain;
  PCERT_SIMPLE_CHAIN* rgpChain;
  DWORD cLowerQualityChainContext;
  const CERT_CHAIN_CONTEXT** rgpLowerQualityChainContext;
  BOOL fHasRevocationFreshnessTime;
  DWORD dwRevocationFreshnessTime;
};
using PCCERT_CHAIN_CONTEXT = const CERT_CHAIN_CONTEXT*;

struct CERT_ENHKEY_USAGE {
  DWORD cUsageIdentifier;
  char** rgpszUsageIdentifier;
};

constexpr DWORD USAGE_MATCH_TYPE_AND = 0;
constexpr DWORD USAGE_MATCH_TYPE_OR = 1;

struct CERT_USAGE_MATCH {
  DWORD dwType;
  CERT_ENHKEY_USAGE Usage;
};

struct CERT_CHAIN_PARA {
  DWORD cbSize;
  CERT_USAGE_MATCH RequestedUsage;
};
using PCERT_CHAIN_PARA = CERT_CHAIN_PARA*;

using PFN_CERT_CHAIN_FIND_BY_ISSUER_CALLBACK = BOOL (*)(PCCERT_CONTEXT pCert, void* pvFindArg);

struct CERT_CHAIN_FIND_BY_ISSUER_PARA {
  DWORD cbSize;
  LPCSTR pszUsageIdentifier;
  DWORD dwKeySpec;
  DWORD dwAcquirePrivateKeyFlags;
  DWORD cIssuer;
  CERT_NAME_BLOB* rgIssuer;
  PFN_CERT_CHAIN_FIND_BY_ISSUER_CALLBACK pfnFindCallback;
  void* pvFindArg;
};

constexpr DWORD CERT_CHAIN_FIND_BY_ISSUER = 1;

struct CERT_CHAIN_POLICY_PARA {
  DWORD cbSize;
  DWORD dwFlags;
  void* pvExtraPolicyPara;
};
using PCERT_CHAIN_POLICY_PARA = CERT_CHAIN_POLICY_PARA*;

struct CERT_CHAIN_POLICY_STATUS {
  DWORD cbSize;
  DWORD dwError;
  LONG lChainIndex;
  LONG lElementIndex;
  void* pvExtraPolicyStatus;
};
using PCERT_CHAIN_POLICY_STATUS = CERT_CHAIN_POLICY_STATUS*;

constexpr DWORD AUTHTYPE_CLIENT = 1;
constexpr DWORD AUTHTYPE_SERVER = 2;

// Checks a caller may switch off in SSL_EXTRA_CERT_CHAIN_POLICY_PARA::fdwChecks.
constexpr DWORD SECURITY_FLAG_IGNORE_UNKNOWN_CA = 0x100;
constexpr DWORD SECURITY_FLAG_IGNORE_WRONG_USAGE = 0x200;
constexpr DWORD SECURITY_FLAG_IGNORE_CERT_CN_INVALID = 0x1000;
constexpr DWORD SECURITY_FLAG_IGNORE_CERT_DATE_INVALID = 0x2000;

struct SSL_EXTRA_CERT_CHAIN_POLICY_PARA {
  DWORD cbSize;
  DWORD dwAuthType;
  DWORD fdwChecks;
  WCHAR* pwszServerName;
};

// The platform passes policy identifiers as small integers in a string pointer.
inline const LPCSTR CERT_CHAIN_POLICY_SSL = reinterpret_cast<LPCSTR>(std::uintptr_t{4});

constexpr const char* szOID_PKIX_KP_SERVER_AUTH = "1.3.6.1.5.5.7.3.1";
constexpr const char* szOID_PKIX_KP_CLIENT_AUTH = "1.3.6.1.5.5.7.3.2";
constexpr const char* szOID_SERVER_GATED_CRYPTO = "1.3.6.1.4.1.311.10.3.3";
constexpr const char* szOID_SGC_NETSCAPE = "2.16.840.1.113730.4.1";

// ---- Credentials -------------------------------------------------------------------------

constexpr DWORD SCHANNEL_CRED_VERSION = 4;
constexpr DWORD SCH_CRED_MANUAL_CRED_VALIDATION = 0x8;
constexpr DWORD SCH_CRED_NO_DEFAULT_CREDS = 0x10;

struct SCHANNEL_CRED {
  DWORD dwVersion;
  DWORD cCreds;
  PCCERT_CONTEXT* paCred;
  HCERTSTORE hRootStore;
  DWORD cMappers;
  void** aphMappers;
  DWORD cSupportedAlgs;
  ALG_ID* palgSupportedAlgs;
  DWORD grbitEnabledProtocols;
  DWORD dwMinimumCipherStrength;
  DWORD dwMaximumCipherStrength;
  DWORD dwSessionLifespan;
  DWORD dwFlags;
  DWORD dwCredFormat;
};

// The package names the provider answers to.
inline constexpr const SEC_WCHAR* UNISP_NAME_W = u"Microsoft Unified Security Protocol Provider";
inline constexpr const SEC_WCHAR* SCHANNEL_NAME_W = u"Schannel";

// An issuer list the server sent with its certificate request. Free with FreeContextBuffer.
struct SecPkgContext_IssuerListInfoEx {
  PCERT_NAME_BLOB aIssuers;
  DWORD cIssuers;
};

// ---- The function table ------------------------------------------------------------------

using SEC_GET_KEY_FN = void (*)(void* Arg, void* Principal, ULONG KeyVer, void** Key,
                                SECURITY_STATUS* Status);

using ACQUIRE_CREDENTIALS_HANDLE_FN_W = SECURITY_STATUS (*)(
    const SEC_WCHAR* pszPrincipal, const SEC_WCHAR* pszPackage, ULONG fCredentialUse,
    void* pvLogonId, void* pAuthData, SEC_GET_KEY_FN pGetKeyFn, void* pvGetKeyArgument,
    PCredHandle phCredential, PTimeStamp ptsExpiry);
using FREE_CREDENTIALS_HANDLE_FN = SECURITY_STATUS (*)(PCredHandle phCredential);
using INITIALIZE_SECURITY_CONTEXT_FN_W = SECURITY_STATUS (*)(
    PCredHandle phCredential, PCtxtHandle phContext, const SEC_WCHAR* pszTargetName,
    ULONG fContextReq, ULONG Reserved1, ULONG TargetDataRep, PSecBufferDesc pInput,
    ULONG Reserved2, PCtxtHandle phNewContext, PSecBufferDesc pOutput, ULONG* pfContextAttr,
    PTimeStamp ptsExpiry);
using DELETE_SECURITY_CONTEXT_FN = SECURITY_STATUS (*)(PCtxtHandle phContext);
using QUERY_CONTEXT_ATTRIBUTES_FN_W = SECURITY_STATUS (*)(PCtxtHandle phContext,
                                                          ULONG ulAttribute, void* pBuffer);
using FREE_CONTEXT_BUFFER_FN = SECURITY_STATUS (*)(void* pvContextBuffer);
using ENCRYPT_MESSAGE_FN = SECURITY_STATUS (*)(PCtxtHandle phContext, ULONG fQOP,
                                               PSecBufferDesc pMessage, ULONG MessageSeqNo);
using DECRYPT_MESSAGE_FN = SECURITY_STATUS (*)(PCtxtHandle phContext, PSecBufferDesc pMessage,
                                               ULONG MessageSeqNo, ULONG* pfQOP);

// The platform's function table, slot for slot. Slots this provider does not offer are null.
struct SecurityFunctionTableW {
  ULONG dwVersion;
  void* EnumerateSecurityPackagesW;
  void* QueryCredentialsAttributesW;
  ACQUIRE_CREDENTIALS_HANDLE_FN_W AcquireCredentialsHandleW;
  FREE_CREDENTIALS_HANDLE_FN FreeCredentialsHandle;
  void* Reserved2;
  INITIALIZE_SECURITY_CONTEXT_FN_W InitializeSecurityContextW;
  void* AcceptSecurityContext;
  void* CompleteAuthToken;
  DELETE_SECURITY_CONTEXT_FN DeleteSecurityContext;
  void* ApplyControlToken;
  QUERY_CONTEXT_ATTRIBUTES_FN_W QueryContextAttributesW;
  void* ImpersonateSecurityContext;
  void* RevertSecurityContext;
  void* MakeSignature;
  void* VerifySignature;
  FREE_CONTEXT_BUFFER_FN FreeContextBuffer;
  void* QuerySecurityPackageInfoW;
  void* Reserved3;
  void* Reserved4;
  void* ExportSecurityContext;
  void* ImportSecurityContextW;
  void* AddCredentialsW;
  void* Reserved8;
  void* QuerySecurityContextToken;
  ENCRYPT_MESSAGE_FN EncryptMessage;
  DECRYPT_MESSAGE_FN DecryptMessage;
  void* SetContextAttributesW;
};
using PSecurityFunctionTableW = SecurityFunctionTableW*;

constexpr ULONG SECURITY_SUPPORT_PROVIDER_INTERFACE_VERSION = 1;

// The security interface's entry point: the function table, or null when the TLS library
// cannot be loaded or initialised.
PSecurityFunctionTableW InitSecurityInterfaceW();

// ---- Certificate store, chain and policy calls --------------------------------------------

// Opens a system store by name; only "MY" exists (see the top of this file). Null on failure.
HCERTSTORE CertOpenSystemStoreW(HCRYPTPROV_LEGACY hProv, LPCWSTR szSubsystemProtocol);
// Closes a store handle; the store lives on while certificate contexts from it are held.
BOOL CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags);
// Releases one reference to a certificate context.
BOOL CertFreeCertificateContext(PCCERT_CONTEXT pCertContext);
// Finds the next certificate in a store that has a private key and whose chain satisfies the
// issuer and usage criteria. The previous chain passed in is freed.
PCCERT_CHAIN_CONTEXT CertFindChainInStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                          DWORD dwFindFlags, DWORD dwFindType,
                                          const void* pvFindPara,
                                          PCCERT_CHAIN_CONTEXT pPrevChainContext);
// Builds the chain of a certificate up to a trusted root (or as far as it goes), recording
// the trust errors found. Intermediates come from the certificate's own store and
// hAdditionalStore.
BOOL CertGetCertificateChain(HCERTCHAINENGINE hChainEngine, PCCERT_CONTEXT pCertContext,
                             LPFILETIME pTime, HCERTSTORE hAdditionalStore,
                             PCERT_CHAIN_PARA pChainPara, DWORD dwFlags, void* pvReserved,
                             PCCERT_CHAIN_CONTEXT* ppChainContext);
// Checks a chain against a policy; only CERT_CHAIN_POLICY_SSL is known. The call fails
// (FALSE) only for bad arguments; the verdict is pPolicyStatus->dwError.
BOOL CertVerifyCertificateChainPolicy(LPCSTR pszPolicyOID, PCCERT_CHAIN_CONTEXT pChainContext,
                                      PCERT_CHAIN_POLICY_PARA pPolicyPara,
                                      PCERT_CHAIN_POLICY_STATUS pPolicyStatus);
// Frees a chain built by CertGetCertificateChain or found by CertFindChainInStore.
void CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT pChainContext);

// Ours, not the platform's: a chain engine that trusts the system store plus every
// certificate in the PEM file rootFile (null or empty: the system store only). FALSE when the
// file cannot be read or holds no certificate.
BOOL BrvCertCreateChainEngine(LPCSTR rootFile, HCERTCHAINENGINE* phChainEngine);
// Frees an engine made by BrvCertCreateChainEngine.
void CertFreeCertificateChainEngine(HCERTCHAINENGINE hChainEngine);

}  // namespace brv::sspi
