// Files, processes and ports for tests that start real peers: write and read whole files, run
// a program found in PATH, and pick loopback ports the OS hands out.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace brv::test {

// Replaces the file at APath with AText; raises std::runtime_error when it cannot.
void WriteTextFile(const std::string& APath, const std::string& AText);

// The whole file at APath; empty when it cannot be read.
std::string ReadTextFile(const std::string& APath);

// Where a program is (PATH first, then the usual system folders), or empty. A name with a slash
// is a path and is only checked.
std::string FindProgram(const std::string& AName);

// Starts a program with arguments (searched like FindProgram) without waiting for it; its
// process id, or -1 when it was not found. The child ends with the test process. Its output
// goes to ALogFile (appended) when given, else nowhere.
pid_t StartProgram(const std::vector<std::string>& AArgs, const std::string& ALogFile = {});

// Runs a program with arguments and waits for it; its exit code, or -1 when it could not run
// or did not exit normally. Output goes to ALogFile (appended) when given, else nowhere.
int RunProgram(const std::vector<std::string>& AArgs, const std::string& ALogFile = {});

// A loopback TCP port free right now (the OS's choice); another process may still take it, so
// a peer that binds it retries with a new one.
int FreePort();

// A loopback port on which nothing listens (it was bound and closed again).
inline int ClosedPort() {
  return FreePort();
}

}  // namespace brv::test
