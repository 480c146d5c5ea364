// Authentication schemes that answer a server's or a proxy's demand for credentials, the
// process-wide registry of schemes, and the authentication manager.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/Classes.h"
#include "base/IdURI.h"
#include "base/StringList.h"
#include "http/IdHeaderList.h"

namespace brv {

// What a scheme wants after evaluating a challenge.
enum TIdAuthWhatsNext { wnAskTheProgram, wnDoRequest, wnFail };

class TIdAuthentication;
// The class of a scheme: a factory that makes a new scheme object.
using TIdAuthenticationClass = std::unique_ptr<TIdAuthentication> (*)();

// Abstract scheme object: keeps the user name, password and the server's challenge, produces
// the "Authorization" value and decides after each challenge.
class TIdAuthentication : public TPersistent {
 public:
  BRV_CLASS_NAME(TIdAuthentication)
  TIdAuthentication();
  ~TIdAuthentication() override;

  // Evaluates AuthParams: retry, ask the program, or give up.
  TIdAuthWhatsNext Next() { return DecideNext(); }
  // Back to the first step.
  virtual void Reset() { FCurrentStep = 0; }
  // Called before each request is written, with its method and request target.
  virtual void SetRequest(const std::string& AMethod, const std::string& AUri);
  // The header value to send.
  virtual std::string Authentication() = 0;
  // Whether the scheme needs the connection kept (not consulted by the HTTP client).
  virtual bool KeepAlive() { return false; }
  // Number of steps the scheme needs.
  virtual int Steps() const { return 0; }

  int CurrentStep() const { return FCurrentStep; }
  // The scheme's own values: "Username", "Password" and the last "Authorization" value.
  TIdHeaderList& Params() { return *FParams; }
  const TIdHeaderList& Params() const { return *FParams; }
  // The challenge lines: every WWW-Authenticate or Proxy-Authenticate value, one per line.
  TIdHeaderList& AuthParams() { return *FAuthParams; }
  void SetAuthParams(const TIdHeaderList& AValue) { FAuthParams->Assign(&AValue); }
  std::string Username() const { return FParams->GetValue("Username"); }
  virtual void SetUsername(const std::string& AValue) { FParams->SetValue("Username", AValue); }
  std::string Password() const { return FParams->GetValue("Password"); }
  virtual void SetPassword(const std::string& AValue) { FParams->SetValue("Password", AValue); }

 protected:
  virtual TIdAuthWhatsNext DecideNext() = 0;
  // The first challenge line that starts with AAuthName (ignoring case), or "".
  std::string FindChallenge(const std::string& AAuthName) const;

  int FCurrentStep = 0;
  std::unique_ptr<TIdHeaderList> FParams;
  std::unique_ptr<TIdHeaderList> FAuthParams;
  std::string FCharset;
};

// The Basic scheme: "Basic " + Base64(user ":" password) in the challenge's character set.
class TIdBasicAuthentication : public TIdAuthentication {
 public:
  BRV_CLASS_NAME(TIdBasicAuthentication)
  std::string Authentication() override;
  int Steps() const override { return 1; }
  const std::string& Realm() const { return FRealm; }
  void SetRealm(const std::string& AValue) { FRealm = AValue; }

 protected:
  TIdAuthWhatsNext DecideNext() override;

 private:
  std::string FRealm;
};

// The class (factory) of scheme T.
template <class T>
TIdAuthenticationClass AuthClassOf() {
  return []() -> std::unique_ptr<TIdAuthentication> { return std::make_unique<T>(); };
}

// Process-wide registry of scheme names (as they open a challenge) and classes. "Basic" is
// registered at start-up.
void RegisterScheme(const std::string& AName, TIdAuthenticationClass AClass);
void UnregisterScheme(const std::string& AName);
// The class registered for a scheme name (ignoring case), or nullptr.
TIdAuthenticationClass FindSchemeClass(const std::string& AName);

// One remembered authentication: the URL and a copy of the scheme's values.
class TIdAuthenticationItem : public TPersistent {
 public:
  BRV_CLASS_NAME(TIdAuthenticationItem)
  TIdAuthenticationItem();
  ~TIdAuthenticationItem() override;
  TIdURI& URL() { return *FURI; }
  void SetURL(TIdURI& AValue) { FURI->SetURI(AValue.GetFullURI()); }
  TStringList& Params() { return *FParams; }
  void SetParams(const TStringList& AValue) { FParams->Assign(&AValue); }

 private:
  std::unique_ptr<TIdURI> FURI;
  std::unique_ptr<TStringList> FParams;
};

// Remembers finished authentications per URL.
class TIdAuthenticationManager : public TComponent {
 public:
  BRV_CLASS_NAME(TIdAuthenticationManager)
  explicit TIdAuthenticationManager(TComponent* AOwner = nullptr);
  ~TIdAuthenticationManager() override;
  // Appends an entry with the URI text and a copy of the scheme's Params.
  virtual void AddAuthentication(TIdAuthentication& AAuthentication, TIdURI& AURL);
  std::vector<std::unique_ptr<TIdAuthenticationItem>>& Authentications() {
    return FAuthentications;
  }

 private:
  std::vector<std::unique_ptr<TIdAuthenticationItem>> FAuthentications;
};

// Base64 of bytes (standard alphabet, "=" padding, no line breaks).
std::string EncodeBase64(const std::string& ABytes);

}  // namespace brv
