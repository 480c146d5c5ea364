// Starts the local SQS service (tools/local-sqs) for a test on ports the OS picks, reads the
// endpoints it prints, and stops it when the object goes. The service runs in a process group
// of its own, which is sent SIGTERM (and, should it linger, SIGKILL) at the end; it also exits
// by itself when this process dies, since its standard input is a pipe held here.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace brv::testing {

class TLocalSQSService {
 public:
  struct TOptions {
    // Serve HTTPS as well, with the test CA and server certificate the start script makes in
    // a directory of the build tree.
    bool TLS = true;
    // Further options of the front ("--session-token", "T", ...).
    std::vector<std::string> Arguments;
  };

  TLocalSQSService();
  explicit TLocalSQSService(const TOptions& Options);
  ~TLocalSQSService();
  TLocalSQSService(const TLocalSQSService&) = delete;
  TLocalSQSService& operator=(const TLocalSQSService&) = delete;

  // True once the service printed LOCAL_SQS_READY=1; Failure() says why it did not.
  bool Ready() const { return ready_; }
  const std::string& Failure() const { return failure_; }
  // "http://127.0.0.1:PORT", "https://127.0.0.1:PORT" (empty without TLS), the CA file.
  const std::string& HTTP() const { return http_; }
  const std::string& HTTPS() const { return https_; }
  const std::string& CA() const { return ca_; }
  const std::string& Region() const { return region_; }
  const std::string& AccountId() const { return account_; }

  // Stops the service now (the destructor does it otherwise); safe to call twice.
  void Stop();
  // The service's process group (signal it with kill(-group, ...)); -1 when none runs.
  pid_t ProcessGroup() const { return pid_; }

 private:
  void Start(const TOptions& Options);

  pid_t pid_ = -1;
  int out_ = -1;  // its standard output
  int in_ = -1;   // its standard input
  bool ready_ = false;
  std::string failure_;
  std::string http_, https_, ca_, region_, account_;
};

// Where the start script keeps the test CA and the server certificate.
std::string LocalSQSCertificateDir();

}  // namespace brv::testing
