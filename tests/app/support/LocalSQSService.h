// Starts the local SQS service (tools/local-sqs/start.sh) on ports the OS picks, reads the
// endpoints it prints, and stops it (SIGTERM, then waits) when the object goes.
#pragma once

#include <string>
#include <sys/types.h>

class TLocalSQSService {
 public:
  // Starts the service; with a certificate directory it serves HTTPS as well. Fails the
  // calling test (and leaves HTTP() empty) when it does not come up.
  explicit TLocalSQSService(const std::string& CertificateDir = {});
  ~TLocalSQSService();
  TLocalSQSService(const TLocalSQSService&) = delete;
  TLocalSQSService& operator=(const TLocalSQSService&) = delete;

  const std::string& HTTP() const { return http_; }
  const std::string& HTTPS() const { return https_; }
  const std::string& CA() const { return ca_; }
  bool Ready() const { return ready_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;  // its standard output
  int in_ = -1;   // its standard input, held open while it should run
  bool ready_ = false;
  std::string http_, https_, ca_;
};

// A TCP port on 127.0.0.1 that nothing listens on (bound by the OS, then closed again).
int UnusedLoopbackPort();
