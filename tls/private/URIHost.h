// The host of a URL as TIdURI splits it (private to tls/; kept apart from the transport headers).
#pragma once

#include <string>

namespace brv::ossl {

std::string HostOfURI(const std::string& AURI);

}  // namespace brv::ossl
