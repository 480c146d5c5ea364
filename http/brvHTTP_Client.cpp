#include "http/brvHTTP_Client.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <typeinfo>

#include "http/private/Text.h"
#include "tls/TLSHandlerFactory.h"
#include "transport/IdDeadline.h"

namespace brv {

void TbrvHttpLogFile::Assign(const TPersistent* Source) {
  if (auto* s = dynamic_cast<const TbrvHttpLogFile*>(Source)) {
    FileName = s->FileName;
    return;
  }
  TPersistent::Assign(Source);
}

void TbrvHTTPAuthentication_Token::Assign(const TPersistent* Source) {
  if (auto* s = dynamic_cast<const TbrvHTTPAuthentication_Token*>(Source)) {
    OAuth = s->OAuth;
    ReadTimeout = s->ReadTimeout;
    return;
  }
  TPersistent::Assign(Source);
}

void TbrvIdHTTPAuthentication_Options::Assign(const TPersistent* Source) {
  if (auto* s = dynamic_cast<const TbrvIdHTTPAuthentication_Options*>(Source)) {
    FToken->Assign(s->FToken.get());
    return;
  }
  TPersistent::Assign(Source);
}

TbrvIdHTTP::TbrvIdHTTP(TComponent* AOwner)
    : TIdHTTP(AOwner),
      FLogOptions(std::make_unique<TbrvHttpLogFile>()),
      FTLSOptions(std::make_unique<TbrvIdHTTPTLS_Options>()),
      FAuthentication(std::make_unique<TbrvIdHTTPAuthentication_Options>()) {
  Request().SetUserAgent("Mozilla/5.0 (Brevolink 4.4.6)");
}

TbrvIdHTTP::~TbrvIdHTTP() {
  try {
    Disconnect(false);
  } catch (...) {
  }
  if (FLog) ReleaseLogIntercept();
  if (FTLSHandler) {
    if (IOHandler() == FTLSHandler.get()) SetIOHandler(nullptr);
    FTLSHandler.reset();
  }
}

void TbrvIdHTTP::SetLog(bool AValue) {
  if (!AValue && FLog) ReleaseLogIntercept();
  FLog = AValue;
}

void TbrvIdHTTP::ExecuteRequest(const std::string& AMethod, const std::string& AURL,
                                TStream* ASource, TStream* AResponseContent,
                                const std::vector<int>& AIgnoreReplies) {
  DoAddAuthorizationToken();
  if (FLog)
    EnsureLogIntercept();
  else
    ReleaseLogIntercept();
  if (http_detail::TextStartsWith(AURL, "HTTPS"))
    EnsureTLSHandler();
  else
    ReleaseIOHandler();
  TIdHTTP::ExecuteRequest(AMethod, AURL, ASource, AResponseContent, AIgnoreReplies);
}

void TbrvIdHTTP::EnsureLogIntercept() {
  if (FLogIntercept) return;
  // Held before it opens: a log that fails to open stays here, not installed, until Log is
  // switched off and on again.
  FLogIntercept = std::make_unique<TIdLogFile>();
  FLogIntercept->SetFilename(FLogOptions->FileName);
  FLogIntercept->SetReplaceCRLF(false);
  FLogIntercept->SetActive(true);
  SetIntercept(FLogIntercept.get());
}

void TbrvIdHTTP::ReleaseLogIntercept() {
  if (!FLogIntercept) return;
  if (Intercept() == FLogIntercept.get()) SetIntercept(nullptr);
  if (IOHandler() != nullptr && IOHandler()->Intercept() == FLogIntercept.get())
    IOHandler()->SetIntercept(nullptr);
  FLogIntercept.reset();
}

void TbrvIdHTTP::EnsureTLSHandler() {
  if (FTLSHandler) {
    if (IOHandler() != FTLSHandler.get()) SetIOHandler(FTLSHandler.get());
    return;
  }
  // The options are read here, once: a handler in use keeps the settings it was made with.
  std::unique_ptr<TIdSSLIOHandlerSocketBase> handler =
      FTLSHandlerFactory ? FTLSHandlerFactory(*this)
                         : MakeTLSHandler(*FTLSOptions, [this](std::string& VPassword) {
                             DoGetTLSPassword(VPassword);
                           });
  if (!handler) return;  // the engine is not available: the request raises
  handler->OnStatus = OnStatus;
  if (IOHandler() != nullptr) {
    if (Connected()) Disconnect();
    SetIOHandler(nullptr);
  }
  FTLSHandler = std::move(handler);
  SetIOHandler(FTLSHandler.get());
}

void TbrvIdHTTP::ReleaseIOHandler() {
  TIdIOHandler* current = IOHandler();
  if (current == nullptr) return;
  // Only a TLS handler is released; the plain socket handler stays for keep-alive. The plain
  // handler is recognised by its exact class first: every plain request asks, and the cast
  // that fails costs a walk of the class tree.
  if (typeid(*current) == typeid(TIdIOHandlerStack)) return;
  if (dynamic_cast<TIdSSLIOHandlerSocketBase*>(current) == nullptr) return;
  if (Connected()) Disconnect();
  SetIOHandler(nullptr);
  if (current == FTLSHandler.get()) FTLSHandler.reset();
}

void TbrvIdHTTP::DoGetTLSPassword(std::string& VPassword) {
  VPassword = FTLSOptions->Password;
}

void TbrvIdHTTP::DoAuthToken(TObject* /*ASender*/, const std::string& ATokenType,
                             const std::string& AToken, TObject* /*AData*/) {
  std::lock_guard<std::mutex> guard(FTokenLock);
  FAuthTokenType = ATokenType;
  FAuthToken = AToken;
}

void TbrvIdHTTP::DoAuthTokenError(TObject* /*ASender*/, const std::string& AError,
                                  const std::string& AErrorDescription, TObject* /*AData*/) {
  throw Exception(Format("Error %s. %s", AError.c_str(), AErrorDescription.c_str()));
}

void TbrvIdHTTP::DoAddAuthorizationToken() {
  TbrvHTTPAuthentication_Token& token = FAuthentication->Token();
  if (token.OAuth == nullptr) return;
  auto held = [this] {
    std::lock_guard<std::mutex> guard(FTokenLock);
    return !FAuthToken.empty();
  };
  if (!held()) {
    token.OAuth->OnAuthToken = [this](TObject* s, const std::string& t, const std::string& k,
                                      TObject* d) { DoAuthToken(s, t, k, d); };
    token.OAuth->OnAuthTokenError = [this](TObject* s, const std::string& e, const std::string& m,
                                           TObject* d) { DoAuthTokenError(s, e, m, d); };
    token.OAuth->StartAuthorization();
    const TIdDeadline limit =
        TIdDeadline::After(std::chrono::milliseconds(std::max(token.ReadTimeout, 0)));
    while (!held() && !limit.Expired()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::string line;
  {
    std::lock_guard<std::mutex> guard(FTokenLock);
    if (FAuthToken.empty()) return;
    line = "Authorization: " + FAuthTokenType + " " + FAuthToken;
  }
  if (Request().CustomHeaders().IndexOf(line) < 0) Request().CustomHeaders().Add(line);
}

}  // namespace brv
