// The OpenSSL functions the TLS layer calls, bound by name at run time (private to tls/).
//
// Nothing here includes OpenSSL's headers: the library is found and loaded while the program
// runs, so its types stay opaque and its constants are restated below. Every function comes
// from the one list BRV_OPENSSL_FUNCTIONS; the table of pointers and the table of names are
// both generated from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace brv::ossl {

// Opaque OpenSSL types.
struct SSL;
struct SSL_CTX;
struct SSL_METHOD;
struct SSL_CIPHER;
struct SSL_SESSION;
struct X509;
struct X509_NAME;
struct X509_STORE;
struct X509_STORE_CTX;
struct X509_LOOKUP;
struct X509_LOOKUP_METHOD;
struct X509_OBJECT;
struct X509_VERIFY_PARAM;
struct EVP_MD;
struct EVP_MD_CTX;
struct EVP_PKEY;
struct HMAC_CTX;
// OpenSSL's SHA256_CTX and MD5_CTX, only ever handled through pointers into room of our own.
struct SHA256_CTX;
struct MD5_CTX;
struct ENGINE;
struct BIO;
struct BIO_METHOD;
struct PKCS12;
struct ASN1_INTEGER;
struct ASN1_TIME;
struct BIGNUM;
struct DH;
struct OPENSSL_STACK;
struct OPENSSL_INIT_SETTINGS;
struct OSSL_LIB_CTX;

// Callback shapes.
using pem_password_cb = int (*)(char* buf, int size, int rwflag, void* userdata);
using SSL_verify_cb = int (*)(int preverify_ok, X509_STORE_CTX* x509_ctx);
using SSL_info_cb = void (*)(const SSL* ssl, int where, int ret);
using SSL_alpn_select_cb = int (*)(SSL* ssl, const unsigned char** out, unsigned char* outlen,
                                   const unsigned char* in, unsigned int inlen, void* arg);
using BIO_write_cb = int (*)(BIO*, const char*, int);
using BIO_read_cb = int (*)(BIO*, char*, int);
using BIO_ctrl_cb = long (*)(BIO*, int, long, void*);
using BIO_create_cb = int (*)(BIO*);
using BIO_destroy_cb = int (*)(BIO*);
using sk_free_cb = void (*)(void*);
// A certificate lookup's search by subject name; `type` is an X509_LU_* value.
using X509_LOOKUP_get_by_subject_fn = int (*)(X509_LOOKUP* ctx, int type, const X509_NAME* name,
                                              X509_OBJECT* ret);
using X509_LOOKUP_free_fn = void (*)(X509_LOOKUP* ctx);

// Published constants of OpenSSL 1.1 and 3.x used by the layer.
inline constexpr int SSL_ERROR_NONE = 0;
inline constexpr int SSL_ERROR_SSL = 1;
inline constexpr int SSL_ERROR_WANT_READ = 2;
inline constexpr int SSL_ERROR_WANT_WRITE = 3;
inline constexpr int SSL_ERROR_SYSCALL = 5;
inline constexpr int SSL_ERROR_ZERO_RETURN = 6;

inline constexpr int SSL_CTRL_SET_TMP_DH = 3;
inline constexpr int SSL_CTRL_EXTRA_CHAIN_CERT = 14;
inline constexpr int SSL_CTRL_MODE = 33;
inline constexpr int SSL_CTRL_SET_TLSEXT_HOSTNAME = 55;
inline constexpr int SSL_CTRL_SET_MIN_PROTO_VERSION = 123;
inline constexpr int SSL_CTRL_SET_MAX_PROTO_VERSION = 124;
inline constexpr long TLSEXT_NAMETYPE_host_name = 0;

inline constexpr long SSL_MODE_AUTO_RETRY = 0x4;
inline constexpr std::uint64_t SSL_OP_IGNORE_UNEXPECTED_EOF = std::uint64_t{1} << 7;
inline constexpr std::uint64_t SSL_OP_NO_SSLv3 = std::uint64_t{1} << 25;
inline constexpr std::uint64_t SSL_OP_NO_TLSv1 = std::uint64_t{1} << 26;
inline constexpr std::uint64_t SSL_OP_NO_TLSv1_2 = std::uint64_t{1} << 27;
inline constexpr std::uint64_t SSL_OP_NO_TLSv1_1 = std::uint64_t{1} << 28;
inline constexpr std::uint64_t SSL_OP_NO_TLSv1_3 = std::uint64_t{1} << 29;

inline constexpr int SSL3_VERSION = 0x0300;
inline constexpr int TLS1_VERSION = 0x0301;
inline constexpr int TLS1_1_VERSION = 0x0302;
inline constexpr int TLS1_2_VERSION = 0x0303;
inline constexpr int TLS1_3_VERSION = 0x0304;

inline constexpr int SSL_FILETYPE_PEM = 1;
inline constexpr int SSL_VERIFY_PEER = 0x01;
inline constexpr int SSL_ST_CONNECT = 0x1000;
inline constexpr int SSL_ST_ACCEPT = 0x2000;
inline constexpr int SSL_CB_LOOP = 0x01;
inline constexpr int SSL_CB_EXIT = 0x02;
inline constexpr int SSL_CB_READ = 0x04;
inline constexpr int SSL_CB_WRITE = 0x08;
inline constexpr int SSL_CB_ALERT = 0x4000;
inline constexpr int SSL_CB_HANDSHAKE_START = 0x10;
inline constexpr int SSL_CB_HANDSHAKE_DONE = 0x20;
inline constexpr int SSL_TLSEXT_ERR_OK = 0;
inline constexpr int SSL_TLSEXT_ERR_NOACK = 3;

inline constexpr int BIO_TYPE_SOURCE_SINK = 0x0400;
inline constexpr int BIO_TYPE_DESCRIPTOR = 0x0100;
inline constexpr int BIO_CTRL_INFO = 3;
inline constexpr int BIO_CTRL_FLUSH = 11;
inline constexpr int BIO_FLAGS_READ = 0x01;
inline constexpr int BIO_FLAGS_WRITE = 0x02;
inline constexpr int BIO_FLAGS_IO_SPECIAL = 0x04;
inline constexpr int BIO_FLAGS_SHOULD_RETRY = 0x08;

inline constexpr long X509_V_OK = 0;
inline constexpr int X509_LU_X509 = 1;
inline constexpr int X509_LU_CRL = 2;
inline constexpr int X509_L_FILE_LOAD = 1;
inline constexpr int X509_L_ADD_DIR = 2;
inline constexpr int X509_L_ADD_STORE = 3;
inline constexpr long X509_FILETYPE_DEFAULT = 3;
inline constexpr std::uint64_t OPENSSL_INIT_LOAD_SSL_STRINGS = 0x00200000L;
inline constexpr std::uint64_t OPENSSL_INIT_LOAD_CRYPTO_STRINGS = 0x00000002L;
inline constexpr std::uint64_t OPENSSL_INIT_NO_ATEXIT = 0x00080000L;

// The list: F(library, mandatory, return type, name, (parameters)).
// `crypto` functions come from libcrypto, `ssl` ones from libssl. A missing mandatory function
// makes the binding fail; a missing optional one leaves its pointer empty and the feature that
// needs it unavailable.
#define BRV_OPENSSL_FUNCTIONS(F)                                                                   \
  /* library identity and start-up (successors of SSLeay and the 1.0 initialisers) */              \
  F(crypto, true, unsigned long, OpenSSL_version_num, (void))                                      \
  F(crypto, true, const char*, OpenSSL_version, (int))                                             \
  F(crypto, true, int, OPENSSL_init_crypto, (std::uint64_t, const OPENSSL_INIT_SETTINGS*))         \
  F(ssl, true, int, OPENSSL_init_ssl, (std::uint64_t, const OPENSSL_INIT_SETTINGS*))               \
  /* error queue */                                                                                \
  F(crypto, true, unsigned long, ERR_get_error, (void))                                            \
  F(crypto, true, unsigned long, ERR_peek_error, (void))                                           \
  F(crypto, true, void, ERR_clear_error, (void))                                                   \
  F(crypto, true, void, ERR_error_string_n, (unsigned long, char*, std::size_t))                   \
  F(crypto, false, int, ERR_set_mark, (void))                                                      \
  F(crypto, false, int, ERR_pop_to_mark, (void))                                                   \
  /* digests (the hash hooks) */                                                                   \
  F(crypto, true, EVP_MD_CTX*, EVP_MD_CTX_new, (void))                                             \
  F(crypto, true, void, EVP_MD_CTX_free, (EVP_MD_CTX*))                                            \
  F(crypto, true, int, EVP_DigestInit_ex, (EVP_MD_CTX*, const EVP_MD*, ENGINE*))                   \
  F(crypto, true, int, EVP_DigestUpdate, (EVP_MD_CTX*, const void*, std::size_t))                  \
  F(crypto, true, int, EVP_DigestFinal_ex, (EVP_MD_CTX*, unsigned char*, unsigned int*))           \
  F(crypto, true, const EVP_MD*, EVP_sha256, (void))                                               \
  /* 3.x: a digest fetched once instead of looked up again at every EVP_sha256 initialisation */   \
  F(crypto, false, EVP_MD*, EVP_MD_fetch, (OSSL_LIB_CTX*, const char*, const char*))               \
  F(crypto, false, void, EVP_MD_free, (EVP_MD*))                                                   \
  F(crypto, false, const EVP_MD*, EVP_md5, (void))                                                 \
  F(crypto, false, const EVP_MD*, EVP_sha1, (void))                                                \
  F(crypto, false, const EVP_MD*, EVP_sha224, (void))                                              \
  F(crypto, false, const EVP_MD*, EVP_sha384, (void))                                              \
  F(crypto, false, const EVP_MD*, EVP_sha512, (void))                                              \
  F(crypto, false, int, EVP_default_properties_is_fips_enabled, (OSSL_LIB_CTX*))                   \
  F(crypto, false, int, EVP_default_properties_enable_fips, (OSSL_LIB_CTX*, int))                  \
  /* SHA-256 and MD5 without the provider layer (deprecated in 3.x, exported): per request */    \
  F(crypto, false, int, SHA256_Init, (SHA256_CTX*))                                                \
  F(crypto, false, int, SHA256_Update, (SHA256_CTX*, const void*, std::size_t))                    \
  F(crypto, false, int, SHA256_Final, (unsigned char*, SHA256_CTX*))                               \
  F(crypto, false, int, MD5_Init, (MD5_CTX*))                                                      \
  F(crypto, false, int, MD5_Update, (MD5_CTX*, const void*, std::size_t))                          \
  F(crypto, false, int, MD5_Final, (unsigned char*, MD5_CTX*))                                     \
  /* HMAC (deprecated in 3.x but exported; absent means the digest-based construction) */          \
  F(crypto, false, HMAC_CTX*, HMAC_CTX_new, (void))                                                \
  F(crypto, false, void, HMAC_CTX_free, (HMAC_CTX*))                                               \
  F(crypto, false, int, HMAC_Init_ex, (HMAC_CTX*, const void*, int, const EVP_MD*, ENGINE*))       \
  F(crypto, false, int, HMAC_Update, (HMAC_CTX*, const unsigned char*, std::size_t))               \
  F(crypto, false, int, HMAC_Final, (HMAC_CTX*, unsigned char*, unsigned int*))                    \
  /* our socket BIO */                                                                             \
  F(crypto, true, int, BIO_get_new_index, (void))                                                  \
  F(crypto, true, BIO_METHOD*, BIO_meth_new, (int, const char*))                                   \
  F(crypto, true, void, BIO_meth_free, (BIO_METHOD*))                                              \
  F(crypto, true, int, BIO_meth_set_write, (BIO_METHOD*, BIO_write_cb))                            \
  F(crypto, true, int, BIO_meth_set_read, (BIO_METHOD*, BIO_read_cb))                              \
  F(crypto, true, int, BIO_meth_set_ctrl, (BIO_METHOD*, BIO_ctrl_cb))                              \
  F(crypto, true, int, BIO_meth_set_create, (BIO_METHOD*, BIO_create_cb))                          \
  F(crypto, true, int, BIO_meth_set_destroy, (BIO_METHOD*, BIO_destroy_cb))                        \
  F(crypto, true, BIO*, BIO_new, (const BIO_METHOD*))                                              \
  F(crypto, true, int, BIO_free, (BIO*))                                                           \
  F(crypto, true, void, BIO_set_data, (BIO*, void*))                                               \
  F(crypto, true, void*, BIO_get_data, (BIO*))                                                     \
  F(crypto, true, void, BIO_set_init, (BIO*, int))                                                 \
  F(crypto, true, void, BIO_set_flags, (BIO*, int))                                                \
  F(crypto, true, void, BIO_clear_flags, (BIO*, int))                                              \
  F(crypto, false, const BIO_METHOD*, BIO_s_mem, (void))                                           \
  F(crypto, false, long, BIO_ctrl, (BIO*, int, long, void*))                                       \
  F(crypto, false, BIO*, BIO_new_file, (const char*, const char*))                                 \
  /* certificates and verification */                                                              \
  F(crypto, true, void, X509_free, (X509*))                                                        \
  F(crypto, true, X509_STORE*, X509_STORE_new, (void))                                             \
  F(crypto, true, void, X509_STORE_free, (X509_STORE*))                                            \
  F(crypto, true, int, X509_STORE_up_ref, (X509_STORE*))                                           \
  F(crypto, true, int, X509_STORE_set_default_paths, (X509_STORE*))                                \
  F(crypto, true, int, X509_STORE_load_locations, (X509_STORE*, const char*, const char*))         \
  /* the default locations in a store, with the default file read on first need */                 \
  F(crypto, false, X509_LOOKUP*, X509_STORE_add_lookup, (X509_STORE*, X509_LOOKUP_METHOD*))        \
  F(crypto, false, X509_LOOKUP_METHOD*, X509_LOOKUP_file, (void))                                  \
  F(crypto, false, X509_LOOKUP_METHOD*, X509_LOOKUP_hash_dir, (void))                              \
  F(crypto, false, X509_LOOKUP_METHOD*, X509_LOOKUP_store, (void))                                 \
  F(crypto, false, int, X509_LOOKUP_ctrl, (X509_LOOKUP*, int, const char*, long, char**))          \
  F(crypto, false, X509_LOOKUP_METHOD*, X509_LOOKUP_meth_new, (const char*))                       \
  F(crypto, false, void, X509_LOOKUP_meth_free, (X509_LOOKUP_METHOD*))                             \
  F(crypto, false, int, X509_LOOKUP_meth_set_get_by_subject,                                       \
    (X509_LOOKUP_METHOD*, X509_LOOKUP_get_by_subject_fn))                                          \
  F(crypto, false, int, X509_LOOKUP_meth_set_free, (X509_LOOKUP_METHOD*, X509_LOOKUP_free_fn))     \
  F(crypto, false, int, X509_LOOKUP_set_method_data, (X509_LOOKUP*, void*))                        \
  F(crypto, false, void*, X509_LOOKUP_get_method_data, (const X509_LOOKUP*))                       \
  F(crypto, false, X509_STORE*, X509_LOOKUP_get_store, (const X509_LOOKUP*))                       \
  F(crypto, false, int, X509_STORE_lock, (X509_STORE*))                                            \
  F(crypto, false, int, X509_STORE_unlock, (X509_STORE*))                                          \
  F(crypto, false, OPENSSL_STACK*, X509_STORE_get0_objects, (const X509_STORE*))                   \
  F(crypto, false, X509_OBJECT*, X509_OBJECT_retrieve_by_subject,                                  \
    (OPENSSL_STACK*, int, const X509_NAME*))                                                       \
  F(crypto, false, X509*, X509_OBJECT_get0_X509, (const X509_OBJECT*))                             \
  F(crypto, false, int, X509_OBJECT_set1_X509, (X509_OBJECT*, X509*))                              \
  F(crypto, true, int, X509_STORE_CTX_get_error, (X509_STORE_CTX*))                                \
  F(crypto, true, int, X509_STORE_CTX_get_error_depth, (X509_STORE_CTX*))                          \
  F(crypto, true, X509*, X509_STORE_CTX_get_current_cert, (X509_STORE_CTX*))                       \
  F(crypto, true, void*, X509_STORE_CTX_get_ex_data, (X509_STORE_CTX*, int))                       \
  F(crypto, true, const char*, X509_verify_cert_error_string, (long))                              \
  F(crypto, true, int, X509_VERIFY_PARAM_set1_ip_asc, (X509_VERIFY_PARAM*, const char*))           \
  F(crypto, false, X509_NAME*, X509_get_subject_name, (const X509*))                               \
  F(crypto, false, X509_NAME*, X509_get_issuer_name, (const X509*))                                \
  F(crypto, false, char*, X509_NAME_oneline, (const X509_NAME*, char*, int))                       \
  F(crypto, false, unsigned long, X509_NAME_hash_ex,                                               \
    (const X509_NAME*, OSSL_LIB_CTX*, const char*, int*))                                          \
  F(crypto, false, unsigned long, X509_NAME_hash, (const X509_NAME*))                              \
  F(crypto, false, int, X509_digest, (const X509*, const EVP_MD*, unsigned char*, unsigned int*))  \
  F(crypto, false, long, X509_get_version, (const X509*))                                          \
  F(crypto, false, ASN1_INTEGER*, X509_get_serialNumber, (X509*))                                  \
  F(crypto, false, const ASN1_TIME*, X509_get0_notBefore, (const X509*))                           \
  F(crypto, false, const ASN1_TIME*, X509_get0_notAfter, (const X509*))                            \
  F(crypto, false, int, X509_get_signature_nid, (const X509*))                                     \
  F(crypto, false, int, X509_print, (BIO*, X509*))                                                 \
  F(crypto, false, int, ASN1_TIME_to_tm, (const ASN1_TIME*, std::tm*))                             \
  F(crypto, false, BIGNUM*, ASN1_INTEGER_to_BN, (const ASN1_INTEGER*, BIGNUM*))                    \
  F(crypto, false, char*, BN_bn2hex, (const BIGNUM*))                                              \
  F(crypto, false, void, BN_free, (BIGNUM*))                                                       \
  F(crypto, false, void, CRYPTO_free, (void*, const char*, int))                                   \
  F(crypto, false, const char*, OBJ_nid2ln, (int))                                                 \
  /* key and certificate files */                                                                  \
  F(crypto, false, PKCS12*, d2i_PKCS12_bio, (BIO*, PKCS12**))                                      \
  F(crypto, false, int, PKCS12_parse, (PKCS12*, const char*, EVP_PKEY**, X509**, OPENSSL_STACK**)) \
  F(crypto, false, void, PKCS12_free, (PKCS12*))                                                   \
  F(crypto, false, void, EVP_PKEY_free, (EVP_PKEY*))                                               \
  F(crypto, false, int, OPENSSL_sk_num, (const OPENSSL_STACK*))                                    \
  F(crypto, false, void*, OPENSSL_sk_value, (const OPENSSL_STACK*, int))                           \
  F(crypto, false, void, OPENSSL_sk_pop_free, (OPENSSL_STACK*, sk_free_cb))                        \
  F(crypto, false, DH*, PEM_read_bio_DHparams, (BIO*, DH**, pem_password_cb, void*))               \
  F(crypto, false, void, DH_free, (DH*))                                                           \
  /* contexts (TLS_client_method and its siblings replace the per-version constructors) */         \
  F(ssl, true, const SSL_METHOD*, TLS_method, (void))                                              \
  F(ssl, true, const SSL_METHOD*, TLS_client_method, (void))                                       \
  F(ssl, true, const SSL_METHOD*, TLS_server_method, (void))                                       \
  F(ssl, true, SSL_CTX*, SSL_CTX_new, (const SSL_METHOD*))                                         \
  F(ssl, true, void, SSL_CTX_free, (SSL_CTX*))                                                     \
  F(ssl, true, long, SSL_CTX_ctrl, (SSL_CTX*, int, long, void*))                                   \
  F(ssl, true, std::uint64_t, SSL_CTX_set_options, (SSL_CTX*, std::uint64_t))                      \
  F(ssl, true, std::uint64_t, SSL_CTX_clear_options, (SSL_CTX*, std::uint64_t))                    \
  F(ssl, true, void, SSL_CTX_set_default_passwd_cb, (SSL_CTX*, pem_password_cb))                   \
  F(ssl, true, void, SSL_CTX_set_default_passwd_cb_userdata, (SSL_CTX*, void*))                    \
  F(ssl, true, int, SSL_CTX_set_default_verify_paths, (SSL_CTX*))                                  \
  F(ssl, true, int, SSL_CTX_load_verify_locations, (SSL_CTX*, const char*, const char*))           \
  F(ssl, true, void, SSL_CTX_set_cert_store, (SSL_CTX*, X509_STORE*))                              \
  F(ssl, true, int, SSL_CTX_use_certificate_chain_file, (SSL_CTX*, const char*))                   \
  F(ssl, true, int, SSL_CTX_use_certificate_file, (SSL_CTX*, const char*, int))                    \
  F(ssl, true, int, SSL_CTX_use_PrivateKey_file, (SSL_CTX*, const char*, int))                     \
  F(ssl, true, int, SSL_CTX_check_private_key, (const SSL_CTX*))                                   \
  F(ssl, true, int, SSL_CTX_set_cipher_list, (SSL_CTX*, const char*))                              \
  F(ssl, true, void, SSL_CTX_set_verify, (SSL_CTX*, int, SSL_verify_cb))                           \
  F(ssl, true, void, SSL_CTX_set_verify_depth, (SSL_CTX*, int))                                    \
  F(ssl, true, void, SSL_CTX_set_info_callback, (SSL_CTX*, SSL_info_cb))                           \
  F(ssl, true, int, SSL_CTX_set_alpn_protos, (SSL_CTX*, const unsigned char*, unsigned int))       \
  F(ssl, false, int, SSL_CTX_use_certificate, (SSL_CTX*, X509*))                                   \
  F(ssl, false, int, SSL_CTX_use_PrivateKey, (SSL_CTX*, EVP_PKEY*))                                \
  F(ssl, false, int, SSL_CTX_set_session_id_context,                                               \
    (SSL_CTX*, const unsigned char*, unsigned int))                                                \
  F(ssl, false, void, SSL_CTX_set_alpn_select_cb, (SSL_CTX*, SSL_alpn_select_cb, void*))           \
  F(ssl, false, OPENSSL_STACK*, SSL_load_client_CA_file, (const char*))                            \
  F(ssl, false, void, SSL_CTX_set_client_CA_list, (SSL_CTX*, OPENSSL_STACK*))                      \
  /* connections */                                                                                \
  F(ssl, true, SSL*, SSL_new, (SSL_CTX*))                                                          \
  F(ssl, true, void, SSL_free, (SSL*))                                                             \
  F(ssl, true, int, SSL_set_ex_data, (SSL*, int, void*))                                           \
  F(ssl, true, void*, SSL_get_ex_data, (const SSL*, int))                                          \
  F(ssl, true, int, SSL_get_ex_data_X509_STORE_CTX_idx, (void))                                    \
  F(ssl, true, void, SSL_set_bio, (SSL*, BIO*, BIO*))                                              \
  F(ssl, true, long, SSL_ctrl, (SSL*, int, long, void*))                                           \
  F(ssl, true, void, SSL_set_connect_state, (SSL*))                                                \
  F(ssl, true, void, SSL_set_accept_state, (SSL*))                                                 \
  F(ssl, true, int, SSL_connect, (SSL*))                                                           \
  F(ssl, true, int, SSL_accept, (SSL*))                                                            \
  F(ssl, true, int, SSL_read, (SSL*, void*, int))                                                  \
  F(ssl, true, int, SSL_peek, (SSL*, void*, int))                                                  \
  F(ssl, true, int, SSL_write, (SSL*, const void*, int))                                           \
  F(ssl, true, int, SSL_get_error, (const SSL*, int))                                              \
  F(ssl, true, int, SSL_pending, (const SSL*))                                                     \
  F(ssl, true, int, SSL_has_pending, (const SSL*))                                                 \
  F(ssl, true, void, SSL_set_read_ahead, (SSL*, int))                                              \
  F(ssl, true, int, SSL_shutdown, (SSL*))                                                          \
  F(ssl, true, int, SSL_set1_host, (SSL*, const char*))                                            \
  F(ssl, false, int, SSL_set_cipher_list, (SSL*, const char*))                                     \
  F(ssl, true, X509_VERIFY_PARAM*, SSL_get0_param, (SSL*))                                         \
  F(ssl, true, long, SSL_get_verify_result, (const SSL*))                                          \
  F(ssl, true, const SSL_CIPHER*, SSL_get_current_cipher, (const SSL*))                            \
  F(ssl, true, const char*, SSL_CIPHER_get_name, (const SSL_CIPHER*))                              \
  F(ssl, true, char*, SSL_CIPHER_description, (const SSL_CIPHER*, char*, int))                     \
  F(ssl, true, int, SSL_CIPHER_get_bits, (const SSL_CIPHER*, int*))                                \
  F(ssl, true, const char*, SSL_CIPHER_get_version, (const SSL_CIPHER*))                           \
  F(ssl, true, const char*, SSL_get_version, (const SSL*))                                         \
  F(ssl, true, void, SSL_get0_alpn_selected, (const SSL*, const unsigned char**, unsigned int*))   \
  F(ssl, true, const char*, SSL_state_string_long, (const SSL*))                                   \
  F(ssl, true, const char*, SSL_alert_type_string_long, (int))                                     \
  F(ssl, true, const char*, SSL_alert_desc_string_long, (int))                                     \
  F(ssl, true, SSL_SESSION*, SSL_get_session, (const SSL*))                                        \
  F(ssl, true, const unsigned char*, SSL_SESSION_get_id, (const SSL_SESSION*, unsigned int*))      \
  F(ssl, true, int, SSL_copy_session_id, (SSL*, const SSL*))                                       \
  /* 3.x name first; 1.1 exports the same function as SSL_get_peer_certificate */                  \
  F(ssl, false, X509*, SSL_get1_peer_certificate, (const SSL*))                                    \
  F(ssl, false, X509*, SSL_get_peer_certificate, (const SSL*))

// One pointer per function of the list, empty until bound.
struct Functions {
#define BRV_OPENSSL_POINTER(lib, mandatory, ret, name, params) ret(*name) params = nullptr;
  BRV_OPENSSL_FUNCTIONS(BRV_OPENSSL_POINTER)
#undef BRV_OPENSSL_POINTER
};

// The bound functions. Valid while EnsureOpenSSLLoaded() answers true; the pointers of
// mandatory functions are then never empty.
const Functions& API();

// The peer certificate (a new reference), through whichever name the library exports.
X509* GetPeerCertificate(const SSL* ssl);

// OpenSSL's text for the first error on the queue (taken off it), at most 160 characters;
// empty when the queue is empty. `code` receives the error code (0 when none).
std::string TakeErrorText(unsigned long* code = nullptr);

// Empties the error queue (looked at first: emptying an empty queue still costs a walk over
// every slot, and this runs before every TLS call).
void ClearErrors();

// A trust store holding the library's default locations plus ARootCertFile and AVerifyDirs
// (either may be empty), with a reference for the caller; null when a location could not be
// loaded (the reason is on OpenSSL's error queue). The default certificate file (the system's
// bundle, tens of milliseconds to parse) is read only when a verification first asks for an
// issuer the store does not hold (see OpenSSLDefaultTrust.h), so a chain that ends at a
// certificate of ARootCertFile never reads it. Stores are made once per set of locations and
// shared by every context (a root file is loaded again when its size or time stamp changed).
X509_STORE* SharedCertStore(const std::string& ARootCertFile, const std::string& AVerifyDirs);

// The method table of our socket BIO (see OpenSSLSocketBIO.h); made at load, freed at release.
const BIO_METHOD* SocketBIOMethod();

// SHA-256 for the hash hooks. With OpenSSL 3 it is fetched once at load (EVP_sha256() would
// make every initialisation look the algorithm up again) and freed at release; with 1.1 it
// is EVP_sha256(). Valid while the binding is loaded.
const EVP_MD* SHA256Digest();

// MD5 for the hash hooks, looked up once at its first use (fetched with OpenSSL 3, EVP_md5()
// with 1.1); null while unbound or when the library does not allow MD5.
const EVP_MD* MD5Digest();

// The number of the current binding: it grows at every load, so something made with the
// functions of an earlier binding (before a release) can tell that they are gone.
unsigned BindingGeneration();

}  // namespace brv::ossl
