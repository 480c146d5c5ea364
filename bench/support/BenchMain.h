// What every benchmark program's main does around its own figures.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace brv::bench {

// The value of "--Name=N" on the command line, or Default when it is not given. Google
// Benchmark leaves such options alone.
inline int IntOption(int argc, char** argv, const std::string& Name, int Default) {
  const std::string prefix = "--" + Name + "=";
  int value = Default;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind(prefix, 0) == 0) value = std::atoi(arg.c_str() + prefix.size());
  }
  return value;
}

// Runs the registered Google benchmarks after what the program printed itself.
inline void RunRegisteredBenchmarks(int& argc, char** argv) {
  std::fflush(stdout);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
}

}  // namespace brv::bench
