// The client's side of an authentication challenge (a 401 or a 407): which scheme answers it,
// and the steps of the scheme object until it has a request to repeat.
#pragma once

#include <string>

#include "http/IdAuthentication.h"
#include "http/IdHeaderList.h"
#include "http/private/Text.h"

namespace brv::http_detail {

// The class of the first challenge whose scheme is registered, or nullptr.
inline TIdAuthenticationClass SchemeClassOf(const TIdHeaderList& AChallenges) {
  for (int i = 0; i < AChallenges.Count(); ++i) {
    std::string line = AChallenges[i];
    if (TIdAuthenticationClass cls = FindSchemeClass(Fetch(line, " "))) return cls;
  }
  return nullptr;
}

// Steps AAuth until it has a request to repeat (true) or fails (false). When it needs
// credentials, AAsk asks the program for them and says whether it gave some.
template <class TAsk>
bool StepAuthentication(TIdAuthentication& AAuth, TAsk AAsk) {
  for (;;) {
    switch (AAuth.Next()) {
      case wnDoRequest:
        return true;
      case wnFail:
        return false;
      case wnAskTheProgram:
        if (!AAsk()) return false;
        break;
    }
  }
}

}  // namespace brv::http_detail
