#include "tls/private/URIHost.h"

#include "base/IdURI.h"

namespace brv::ossl {

std::string HostOfURI(const std::string& AURI) {
  return TIdURI(AURI).Host();
}

}  // namespace brv::ossl
