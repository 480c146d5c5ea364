// A check both TLS engines' tests run on a connection nginx has answered and closed.
#pragma once

#include <signal.h>

#include <string>

#include "transport/IdException.h"
#include "transport/IdIOHandler.h"

namespace brv::tlstest {

// Asks nginx for one answer with "Connection: close", reads it to the end, then writes 16 KiB
// at a time until a write raises (at most 20 times). SIGPIPE is at its default action for the
// while: a write that signalled instead of raising would end the test program. True when a
// write raised.
inline bool WritesToAClosedPeerRaise(TIdIOHandler& AHandler) {
  struct sigaction previous {};
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &dfl, &previous);
  AHandler.Write(std::string("GET / HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n"));
  AHandler.AllData();  // nginx answers and closes
  bool raised = false;
  for (int i = 0; i < 20 && !raised; ++i) {
    try {
      AHandler.Write(std::string(16384, 'x'));
    } catch (const EIdException&) {
      raised = true;
    }
  }
  sigaction(SIGPIPE, &previous, nullptr);
  return raised;
}

}  // namespace brv::tlstest
