#include "http/IdAuthentication.h"

#include <mutex>

#include "http/IdCharsets.h"
#include "http/private/Text.h"

namespace brv {

using namespace http_detail;

TIdAuthentication::TIdAuthentication()
    : FParams(std::make_unique<TIdHeaderList>(QuoteHTTP)),
      FAuthParams(std::make_unique<TIdHeaderList>(QuoteHTTP)) {}

TIdAuthentication::~TIdAuthentication() = default;

void TIdAuthentication::SetRequest(const std::string& /*AMethod*/, const std::string& /*AUri*/) {}

std::string TIdAuthentication::FindChallenge(const std::string& AAuthName) const {
  for (int i = 0; i < FAuthParams->Count(); ++i) {
    const std::string& line = FAuthParams->Strings(i);
    if (TextStartsWith(line, AAuthName)) return line;
  }
  return {};
}

std::string EncodeBase64(const std::string& ABytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((ABytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < ABytes.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(ABytes[i]) << 16) |
                       (static_cast<unsigned char>(ABytes[i + 1]) << 8) |
                       static_cast<unsigned char>(ABytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i + 1 == ABytes.size()) {
    const unsigned v = static_cast<unsigned char>(ABytes[i]) << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (i + 2 == ABytes.size()) {
    const unsigned v = (static_cast<unsigned char>(ABytes[i]) << 16) |
                       (static_cast<unsigned char>(ABytes[i + 1]) << 8);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

std::string TIdBasicAuthentication::Authentication() {
  const TIdBytes bytes = CharsetToEncoding(FCharset)->GetBytes(Username() + ":" + Password());
  return "Basic " + EncodeBase64(std::string(bytes.begin(), bytes.end()));
}

TIdAuthWhatsNext TIdBasicAuthentication::DecideNext() {
  std::string rest = FindChallenge("Basic");
  Fetch(rest, " ");  // the scheme name
  // Comma-separated name=value pairs; quoted values may hold commas and escapes.
  std::vector<std::pair<std::string, std::string>> pairs;
  for (;;) {
    rest = TrimLeft(rest);
    if (rest.empty()) break;
    const size_t eq = rest.find('=');
    const size_t comma = rest.find(',');
    if (eq == std::string::npos || (comma != std::string::npos && comma < eq)) {
      // A token without a value.
      Fetch(rest, ",");
      continue;
    }
    std::string name = Trim(rest.substr(0, eq));
    rest.erase(0, eq + 1);
    rest = TrimLeft(rest);
    std::string value;
    if (!rest.empty() && rest[0] == '"') {
      size_t i = 1;
      while (i < rest.size() && rest[i] != '"') {
        if (rest[i] == '\\' && i + 1 < rest.size()) ++i;
        value += rest[i];
        ++i;
      }
      const size_t next = rest.find(',', i);
      rest = next == std::string::npos ? std::string() : rest.substr(next + 1);
    } else {
      value = Trim(Fetch(rest, ","));
    }
    pairs.emplace_back(std::move(name), std::move(value));
  }
  auto lookup = [&](const char* AName) -> std::string {
    for (const auto& p : pairs)
      if (TextIsSame(p.first, AName)) return p.second;
    return {};
  };
  FRealm = lookup("realm");
  FCharset.clear();
  for (const char* n : {"charset", "accept-charset", "encoding", "enc"}) {
    FCharset = lookup(n);
    if (!FCharset.empty()) break;
  }
  if (FCharset.empty()) FCharset = "ISO-8859-1";
  if (FCurrentStep != 0) return wnFail;
  return Username().empty() ? wnAskTheProgram : wnDoRequest;
}

// ---- registry ----------------------------------------------------------------------------

namespace {

struct TSchemeEntry {
  std::string Name;
  TIdAuthenticationClass Class;
};

std::mutex& RegistryLock() {
  static std::mutex lock;
  return lock;
}

std::vector<TSchemeEntry>& Registry() {
  // Basic is there from the start; the other schemes of the family plug in the same way.
  static std::vector<TSchemeEntry> entries{{"Basic", AuthClassOf<TIdBasicAuthentication>()}};
  return entries;
}

}  // namespace

void RegisterScheme(const std::string& AName, TIdAuthenticationClass AClass) {
  std::lock_guard<std::mutex> guard(RegistryLock());
  for (auto& e : Registry()) {
    if (TextIsSame(e.Name, AName)) {
      e.Class = AClass;
      return;
    }
  }
  Registry().push_back({AName, AClass});
}

void UnregisterScheme(const std::string& AName) {
  std::lock_guard<std::mutex> guard(RegistryLock());
  auto& entries = Registry();
  for (auto it = entries.begin(); it != entries.end(); ++it) {
    if (TextIsSame(it->Name, AName)) {
      entries.erase(it);
      return;
    }
  }
}

TIdAuthenticationClass FindSchemeClass(const std::string& AName) {
  std::lock_guard<std::mutex> guard(RegistryLock());
  for (const auto& e : Registry())
    if (TextIsSame(e.Name, AName)) return e.Class;
  return nullptr;
}

// ---- manager -----------------------------------------------------------------------------

TIdAuthenticationItem::TIdAuthenticationItem()
    : FURI(std::make_unique<TIdURI>()), FParams(std::make_unique<TStringList>()) {}

TIdAuthenticationItem::~TIdAuthenticationItem() = default;

TIdAuthenticationManager::TIdAuthenticationManager(TComponent* AOwner) : TComponent(AOwner) {}

TIdAuthenticationManager::~TIdAuthenticationManager() = default;

void TIdAuthenticationManager::AddAuthentication(TIdAuthentication& AAuthentication,
                                                 TIdURI& AURL) {
  auto item = std::make_unique<TIdAuthenticationItem>();
  item->SetURL(AURL);
  item->SetParams(AAuthentication.Params());
  FAuthentications.push_back(std::move(item));
}

}  // namespace brv
