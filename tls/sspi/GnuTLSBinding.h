// The GnuTLS functions of the security interface layer, bound at run time (private to
// tls/sspi/).
//
// The layer compiles against GnuTLS's headers (its types, constants and prototypes) but
// nothing links the library: it is opened with dlopen the first time the layer is initialised,
// so a program that never uses the second TLS engine does not pay for loading GnuTLS and its
// dependencies at start-up. Every function comes from the one list BRV_GNUTLS_FUNCTIONS; the
// table of pointers and the table of names are both generated from it, and each pointer takes
// its type from the prototype in GnuTLS's header.
#pragma once

#include <gnutls/abstract.h>
#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

#include <string>

namespace brv::sspi {

// The list: F(name). Every entry is mandatory. gnutls_free is no function but a variable
// holding one (the deallocator GnuTLS was set up with), so its slot points at that variable;
// call it through GnuTLSFree.
#define BRV_GNUTLS_FUNCTIONS(F)                 \
  /* library */                                 \
  F(gnutls_global_init)                         \
  F(gnutls_free)                                \
  F(gnutls_error_is_fatal)                      \
  /* sessions and records */                    \
  F(gnutls_init)                                \
  F(gnutls_deinit)                              \
  F(gnutls_handshake)                           \
  F(gnutls_handshake_set_timeout)               \
  F(gnutls_record_send)                         \
  F(gnutls_record_recv)                         \
  F(gnutls_record_get_max_size)                 \
  F(gnutls_record_overhead_size)                \
  F(gnutls_alert_get)                           \
  F(gnutls_server_name_set)                     \
  F(gnutls_alpn_set_protocols)                  \
  F(gnutls_alpn_get_selected_protocol)          \
  F(gnutls_session_set_ptr)                     \
  F(gnutls_session_get_ptr)                     \
  F(gnutls_transport_set_ptr)                   \
  F(gnutls_transport_set_errno)                 \
  F(gnutls_transport_set_push_function)         \
  F(gnutls_transport_set_pull_function)         \
  F(gnutls_transport_set_pull_timeout_function) \
  F(gnutls_protocol_get_version)                \
  F(gnutls_cipher_get)                          \
  F(gnutls_cipher_get_block_size)               \
  F(gnutls_cipher_get_key_size)                 \
  F(gnutls_mac_get)                             \
  F(gnutls_mac_get_key_size)                    \
  /* priorities */                              \
  F(gnutls_priority_init)                       \
  F(gnutls_priority_deinit)                     \
  F(gnutls_priority_set)                        \
  F(gnutls_priority_group_list)                 \
  F(gnutls_group_get_name)                      \
  /* credentials and client keys */             \
  F(gnutls_credentials_set)                     \
  F(gnutls_certificate_allocate_credentials)    \
  F(gnutls_certificate_free_credentials)        \
  F(gnutls_certificate_set_retrieve_function2)  \
  F(gnutls_certificate_get_peers)               \
  F(gnutls_pcert_import_x509_raw)               \
  F(gnutls_pcert_deinit)                        \
  F(gnutls_privkey_init)                        \
  F(gnutls_privkey_import_x509_raw)             \
  F(gnutls_privkey_deinit)                      \
  F(gnutls_x509_privkey_init)                   \
  F(gnutls_x509_privkey_import2)                \
  F(gnutls_x509_privkey_deinit)                 \
  /* certificates */                            \
  F(gnutls_x509_crt_init)                       \
  F(gnutls_x509_crt_deinit)                     \
  F(gnutls_x509_crt_import)                     \
  F(gnutls_x509_crt_list_import2)               \
  F(gnutls_x509_crt_export2)                    \
  F(gnutls_x509_crt_equals)                     \
  F(gnutls_x509_crt_get_raw_dn)                 \
  F(gnutls_x509_crt_get_raw_issuer_dn)          \
  F(gnutls_x509_crt_get_serial)                 \
  F(gnutls_x509_crt_get_version)                \
  F(gnutls_x509_crt_get_activation_time)        \
  F(gnutls_x509_crt_get_expiration_time)        \
  F(gnutls_x509_crt_get_key_purpose_oid)        \
  F(gnutls_x509_crt_check_issuer)               \
  F(gnutls_x509_crt_check_hostname2)            \
  F(gnutls_x509_crt_list_verify)                \
  /* trust lists */                             \
  F(gnutls_x509_trust_list_init)                \
  F(gnutls_x509_trust_list_deinit)              \
  F(gnutls_x509_trust_list_add_system_trust)    \
  F(gnutls_x509_trust_list_add_trust_mem)       \
  F(gnutls_x509_trust_list_get_issuer)          \
  F(gnutls_x509_trust_list_verify_crt2)

// One pointer per entry of the list, empty until bound. Naming a GnuTLS function in decltype
// takes only its type: no reference to the library is made.
struct GnuTLSFunctions {
#define BRV_GNUTLS_POINTER(name) decltype(&::name) name = nullptr;
  BRV_GNUTLS_FUNCTIONS(BRV_GNUTLS_POINTER)
#undef BRV_GNUTLS_POINTER
};

// Loads GnuTLS, binds every function of the list and starts the library (gnutls_global_init),
// once per process; true when it is usable. Safe from any thread and any number of times. A
// failed attempt leaves it unbound (GnuTLSLoadError says why) and the next call tries again.
// Once bound, the library stays loaded until the process ends: sessions on other threads may
// use it at any time.
bool EnsureGnuTLSLoaded();

// The bound functions; every pointer is set once EnsureGnuTLSLoaded has answered true.
const GnuTLSFunctions& GnuTLS();

// Frees memory GnuTLS allocated for the caller (gnutls_free).
void GnuTLSFree(void* p);

// Why the last attempt to load failed: the dynamic loader's text, the name of a function the
// library lacks, or "gnutls_global_init". Empty after a success.
std::string GnuTLSLoadError();

// The file name (or path) opened by the next attempt to load; "libgnutls.so.30" by default.
// Ignored once the library is loaded. For tests of the failure road.
void SetGnuTLSLibraryName(const std::string& AName);

}  // namespace brv::sspi
