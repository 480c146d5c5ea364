// TbrvIdHTTP: the library's configured HTTP client, with its user agent, TLS options, the
// log of the raw exchange and the bearer token of an OAuth2 client.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "base/Classes.h"
#include "http/IdHTTP.h"
#include "http/brvIdLogFile.h"
#include "tls/IdSSLIOHandlerSocketBase.h"
#include "tls/brvTCP_TLS_Options.h"

namespace brv {

// Options of the connection log: the file it writes.
class TbrvHttpLogFile : public TPersistent {
 public:
  BRV_CLASS_NAME(TbrvHttpLogFile)
  void Assign(const TPersistent* Source) override;
  std::string FileName;
};

class TObject;

// An OAuth2 client that obtains bearer tokens. How it gets them is its own; the HTTP
// component needs only the start call and the two events.
class TbrvHTTPComponentClient_OAuth : public TComponent {
 public:
  BRV_CLASS_NAME(TbrvHTTPComponentClient_OAuth)
  using TComponent::TComponent;
  // Starts the authorisation; the result comes through OnAuthToken or OnAuthTokenError.
  virtual void StartAuthorization() = 0;
  // (Sender, token type, token, data)
  std::function<void(TObject*, const std::string&, const std::string&, TObject*)> OnAuthToken;
  // (Sender, error, error description, data)
  std::function<void(TObject*, const std::string&, const std::string&, TObject*)> OnAuthTokenError;
};

// Where a bearer token comes from and how long to wait for it.
class TbrvHTTPAuthentication_Token : public TPersistent {
 public:
  BRV_CLASS_NAME(TbrvHTTPAuthentication_Token)
  // Copies OAuth and ReadTimeout from another token group.
  void Assign(const TPersistent* Source) override;
  // The OAuth2 client (not owned), or nullptr.
  TbrvHTTPComponentClient_OAuth* OAuth = nullptr;
  // Milliseconds to wait for a token.
  int ReadTimeout = 60000;
};

// The authentication options of the HTTP component.
class TbrvIdHTTPAuthentication_Options : public TPersistent {
 public:
  BRV_CLASS_NAME(TbrvIdHTTPAuthentication_Options)
  TbrvIdHTTPAuthentication_Options() : FToken(std::make_unique<TbrvHTTPAuthentication_Token>()) {}
  void Assign(const TPersistent* Source) override;
  TbrvHTTPAuthentication_Token& Token() { return *FToken; }
  void SetToken(const TbrvHTTPAuthentication_Token& AValue) { FToken->Assign(&AValue); }

 private:
  std::unique_ptr<TbrvHTTPAuthentication_Token> FToken;
};

// The TLS options of the HTTP component.
class TbrvIdHTTPTLS_Options : public TbrvTCPTLS_Options {
 public:
  BRV_CLASS_NAME(TbrvIdHTTPTLS_Options)
};

class TbrvIdHTTP : public TIdHTTP {
 public:
  BRV_CLASS_NAME(TbrvIdHTTP)
  // The user agent "Mozilla/5.0 (Brevolink 4.4.6)", logging off, default options.
  explicit TbrvIdHTTP(TComponent* AOwner = nullptr);
  ~TbrvIdHTTP() override;

  // Adds the bearer token, switches the log intercept and chooses the I/O handler for the
  // URL's scheme, then runs the request.
  void ExecuteRequest(const std::string& AMethod, const std::string& AURL, TStream* ASource,
                      TStream* AResponseContent, const std::vector<int>& AIgnoreReplies) override;

  // Log of the raw exchange; switching it off frees the log, switching it on makes a new one
  // at the next request.
  bool Log() const { return FLog; }
  void SetLog(bool AValue);
  TbrvHttpLogFile& LogOptions() { return *FLogOptions; }
  void SetLogOptions(const TbrvHttpLogFile& AValue) { FLogOptions->Assign(&AValue); }
  TbrvIdHTTPTLS_Options& TLSOptions() { return *FTLSOptions; }
  void SetTLSOptions(const TbrvTCPTLS_Options_Base& AValue) { FTLSOptions->Assign(&AValue); }
  TbrvIdHTTPAuthentication_Options& Authentication() { return *FAuthentication; }
  void SetAuthentication(const TbrvIdHTTPAuthentication_Options& AValue) {
    FAuthentication->Assign(&AValue);
  }
  // The log intercept while logging is on (nullptr before the first request).
  TIdLogFile* LogIntercept() const { return FLogIntercept.get(); }
  // The TLS handler made for https requests, or nullptr.
  TIdSSLIOHandlerSocketBase* TLSHandler() const { return FTLSHandler.get(); }

  // Replaces how this component makes the TLS I/O handler of its https requests (by default
  // MakeTLSHandler: the engine that TLSOptions.IOHandler names, configured from TLSOptions); an
  // empty factory restores the default. When no handler can be made, an https request raises
  // "IOHandler value is not valid".
  using TTLSHandlerFactory =
      std::function<std::unique_ptr<TIdSSLIOHandlerSocketBase>(TbrvIdHTTP& AHTTP)>;
  void SetTLSHandlerFactory(TTLSHandlerFactory AFactory) {
    FTLSHandlerFactory = std::move(AFactory);
  }

  // Answers the TLS engine's request for the key password with TLSOptions.Password.
  virtual void DoGetTLSPassword(std::string& VPassword);
  // Stores a token delivered by the OAuth2 client (from any thread).
  virtual void DoAuthToken(TObject* ASender, const std::string& ATokenType,
                           const std::string& AToken, TObject* AData);
  // Raises "Error <error>. <description>".
  virtual void DoAuthTokenError(TObject* ASender, const std::string& AError,
                                const std::string& AErrorDescription, TObject* AData);

 protected:
  // The bearer-token step of each request.
  virtual void DoAddAuthorizationToken();
  void EnsureLogIntercept();
  void ReleaseLogIntercept();
  // Makes and installs the TLS handler for an https request (once; reused afterwards).
  virtual void EnsureTLSHandler();
  // Before a plain request: releases a TLS handler, so that the next https request builds a
  // new one from the options in force then.
  virtual void ReleaseIOHandler();

 private:
  std::unique_ptr<TIdSSLIOHandlerSocketBase> FTLSHandler;
  TTLSHandlerFactory FTLSHandlerFactory;
  std::unique_ptr<TIdLogFile> FLogIntercept;
  bool FLog = false;
  std::unique_ptr<TbrvHttpLogFile> FLogOptions;
  std::unique_ptr<TbrvIdHTTPTLS_Options> FTLSOptions;
  std::mutex FTokenLock;  // the token may arrive on the OAuth client's thread
  std::string FAuthToken;
  std::string FAuthTokenType;
  std::unique_ptr<TbrvIdHTTPAuthentication_Options> FAuthentication;
};

}  // namespace brv
