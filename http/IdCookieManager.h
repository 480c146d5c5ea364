// TIdCookieManager: the cookies the HTTP client received, sent back to matching requests.
#pragma once

#include <string>
#include <vector>

#include "base/Classes.h"
#include "base/IdURI.h"
#include "base/StringList.h"
#include "http/IdHeaderList.h"

namespace brv {

// A small cookie jar: name and value per domain and path, with the Secure flag and
// expiry by Max-Age or Expires. Session cookies live as long as the manager.
class TIdCookieManager : public TComponent {
 public:
  BRV_CLASS_NAME(TIdCookieManager)
  explicit TIdCookieManager(TComponent* AOwner = nullptr) : TComponent(AOwner) {}

  // Stores every Set-Cookie value of ACookies received for AURI.
  virtual void AddServerCookies(const TStringList& ACookies, const TIdURI& AURI);
  // Adds a "Cookie" header for AURI to AHeaders when any stored cookie matches.
  virtual void GenerateClientCookies(const TIdURI& AURI, bool ASecure, TIdHeaderList& AHeaders);
  int CookieCount() const { return static_cast<int>(FCookies.size()); }

 private:
  struct TCookie {
    std::string Name;
    std::string Value;
    std::string Domain;  // lower case; HostOnly when no Domain attribute was given
    bool HostOnly = true;
    std::string Path;
    bool Secure = false;
    double Expires = 0;  // days (TDateTime); 0: session cookie
  };
  std::vector<TCookie> FCookies;
};

}  // namespace brv
