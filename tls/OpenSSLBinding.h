// The run-time binding of OpenSSL: the crypto and TLS libraries are found with dlopen and their
// functions bound by name, once per process, the first time a TLS context or a hash needs them.
// Nothing links against OpenSSL; without it, plain connections and the built-in hashing work
// and the first TLS connect fails with "Could not load SSL library.".
#pragma once

#include <string>
#include <vector>

namespace brv {

// Binds and initialises OpenSSL once per process; true when it is usable. Safe from any thread
// and any number of times. A failed attempt leaves it unbound and the next call tries again.
bool EnsureOpenSSLLoaded();

// Makes OpenSSL's digest and HMAC the process-wide hash hook table (base/brvIdHashHooks.h),
// replacing whatever table was there. Nothing installs it behind the program's back: until a
// caller does (the AWS client's signer does when it is made), hashing takes the built-in
// SHA-256 and HMAC, with the same results. The hooks answer "not available" until
// EnsureOpenSSLLoaded has bound what they need; their load hook binds it.
void InstallOpenSSLHashHooks();

// Undoes EnsureOpenSSLLoaded: forgets every bound function and unloads both libraries. Runs by
// itself at process exit; OpenSSL's own global state is freed by OpenSSL's exit handler.
void ReleaseOpenSSL();

// True while OpenSSL is bound and initialised.
bool IsOpenSSLLoaded();

// Directory the library files are loaded from. Empty (the default) means the system's normal
// library search; otherwise only that directory is looked at. Takes effect at the next binding.
void SetOpenSSLLibraryPath(const std::string& Directory);
std::string OpenSSLLibraryPath();

// Why the last binding failed: "Failed to load <file>." for a library that could not be
// loaded, or the names of mandatory functions the library lacks. Empty after a success.
std::vector<std::string> OpenSSLFailedToLoad();

// The library's version text (OpenSSL_version), empty while unbound.
std::string OpenSSLVersionText();

}  // namespace brv
