// The address family of a connection or of a host written in a URL.
#pragma once

namespace brv {

// Id_IPv4 for dotted and named hosts, Id_IPv6 for hosts written in brackets.
enum TIdIPVersion : int { Id_IPv4, Id_IPv6 };

}  // namespace brv
