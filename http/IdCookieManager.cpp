#include "http/IdCookieManager.h"

#include "http/IdHeaderValues.h"
#include "http/private/Text.h"

namespace brv {

using namespace http_detail;

namespace {

std::string DefaultPath(const TIdURI& AURI) {
  const std::string& p = AURI.Path();
  if (p.empty() || p[0] != '/') return "/";
  const size_t last = p.rfind('/');
  return last == 0 ? "/" : p.substr(0, last);
}

bool DomainMatches(const std::string& AHost, const std::string& ADomain, bool AHostOnly) {
  if (AHost == ADomain) return true;
  if (AHostOnly) return false;
  return AHost.size() > ADomain.size() &&
         AHost.compare(AHost.size() - ADomain.size(), ADomain.size(), ADomain) == 0 &&
         AHost[AHost.size() - ADomain.size() - 1] == '.';
}

bool PathMatches(const std::string& ARequestPath, const std::string& ACookiePath) {
  if (ARequestPath.rfind(ACookiePath, 0) != 0) return false;
  return ARequestPath.size() == ACookiePath.size() || ACookiePath.back() == '/' ||
         ARequestPath[ACookiePath.size()] == '/';
}

}  // namespace

void TIdCookieManager::AddServerCookies(const TStringList& ACookies, const TIdURI& AURI) {
  const std::string host = LowerAscii(AURI.Host());
  for (int i = 0; i < ACookies.Count(); ++i) {
    std::string text = ACookies[i];
    std::string pair = Fetch(text, ";");
    const size_t eq = pair.find('=');
    if (eq == std::string::npos) continue;
    TCookie c;
    c.Name = Trim(pair.substr(0, eq));
    c.Value = Trim(pair.substr(eq + 1));
    if (c.Name.empty()) continue;
    c.Domain = host;
    c.Path = DefaultPath(AURI);
    bool expired = false;
    bool haveMaxAge = false;
    while (!text.empty()) {
      std::string attr = Fetch(text, ";");
      const size_t aeq = attr.find('=');
      const std::string name = Trim(attr.substr(0, aeq));
      const std::string value = aeq == std::string::npos ? std::string() : Trim(attr.substr(aeq + 1));
      if (TextIsSame(name, "Domain") && !value.empty()) {
        std::string d = LowerAscii(value[0] == '.' ? value.substr(1) : value);
        if (!DomainMatches(host, d, false)) {
          expired = true;  // a domain the host does not belong to: refused
        } else {
          c.Domain = d;
          c.HostOnly = false;
        }
      } else if (TextIsSame(name, "Path") && !value.empty() && value[0] == '/') {
        c.Path = value;
      } else if (TextIsSame(name, "Secure")) {
        c.Secure = true;
      } else if (TextIsSame(name, "Max-Age")) {
        if (const auto secs = ParseInt64(value)) {
          haveMaxAge = true;
          if (*secs <= 0)
            expired = true;
          else
            c.Expires = Now() + static_cast<double>(*secs) / 86400.0;
        }
      } else if (TextIsSame(name, "Expires") && !haveMaxAge) {
        const TDateTime d = ParseHttpDate(value);
        if (d != 0) {
          if (d <= Now())
            expired = true;
          else
            c.Expires = d;
        }
      }
    }
    for (auto it = FCookies.begin(); it != FCookies.end(); ++it) {
      if (it->Name == c.Name && it->Domain == c.Domain && it->Path == c.Path) {
        FCookies.erase(it);
        break;
      }
    }
    if (!expired) FCookies.push_back(std::move(c));
  }
}

void TIdCookieManager::GenerateClientCookies(const TIdURI& AURI, bool ASecure,
                                             TIdHeaderList& AHeaders) {
  const std::string host = LowerAscii(AURI.Host());
  const std::string path = AURI.Path().empty() ? "/" : AURI.Path() + AURI.Document();
  const TDateTime now = Now();
  std::string line;
  for (auto it = FCookies.begin(); it != FCookies.end();) {
    if (it->Expires != 0 && it->Expires <= now) {
      it = FCookies.erase(it);
      continue;
    }
    if (DomainMatches(host, it->Domain, it->HostOnly) && PathMatches(path, it->Path) &&
        (!it->Secure || ASecure)) {
      if (!line.empty()) line += "; ";
      line += it->Name + "=" + it->Value;
    }
    ++it;
  }
  if (!line.empty()) AHeaders.SetValue("Cookie", line);
}

}  // namespace brv
