#!/usr/bin/env bash
# Builds the libFuzzer targets with clang 14 in build/fuzz and runs each over its corpus.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# SECONDS is how long each target runs (default 10); TARGETs are names under fuzz/ without
# ".cpp" (default: all of them, one after another). New inputs a run finds go to
# build/fuzz/corpus/<target>/, never into the committed seeds in fuzz/corpus/<target>/. A crash,
# leak, time-out or memory blow-up leaves its input in build/fuzz/artifacts/<target>/ and fails
# the script; add that input to fuzz/corpus/<target>/ once the fault is mended.
#
# Environment: FUZZ_JOBS (parallel jobs per target, default 1), FUZZ_ARGS (more libFuzzer
# flags), FUZZ_BUILD (build directory, default build/fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-10}
shift || true
build=${FUZZ_BUILD:-$root/build/fuzz}
jobs=${FUZZ_JOBS:-1}

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for src in fuzz/*.cpp; do targets+=("$(basename "$src" .cpp)"); done
fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DBRV_BUILD_FUZZ=ON -DBRV_BUILD_TESTS=OFF -DBRV_BUILD_APP=OFF -DBRV_BUILD_BENCH=OFF >/dev/null
build_targets=()
for t in "${targets[@]}"; do build_targets+=(--target "fuzz_$t"); done
cmake --build "$build" -j"$(nproc)" "${build_targets[@]}"

# Leaks are reported at exit of each input; dates are read and written in UTC.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TZ=UTC

failed=()
for t in "${targets[@]}"; do
  work="$build/corpus/$t"
  artifacts="$build/artifacts/$t"
  mkdir -p "$work" "$artifacts" "fuzz/corpus/$t"
  echo "=== fuzz_$t: ${seconds}s"
  log="$build/fuzz_$t.log"
  parallel=()
  [ "$jobs" -gt 1 ] && parallel=(-jobs="$jobs" -workers="$jobs")
  # -timeout: one input taking longer is a hang; -rss_limit_mb / -malloc_limit_mb: an answer
  # must not make the client allocate without bound.
  # Parallel jobs write fuzz-<n>.log files into the working directory: the build directory.
  if ! (cd "$build" && "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -malloc_limit_mb=1024 -max_len=65536 -print_final_stats=1 "${parallel[@]}" \
      -artifact_prefix="$artifacts/" ${FUZZ_ARGS:-} "$work" "$root/fuzz/corpus/$t") >"$log" 2>&1; then
    failed+=("$t")
    tail -n 60 "$log"
  elif [ "$jobs" -gt 1 ]; then
    tail -n 3 "$build"/fuzz-*.log 2>/dev/null || true
  else
    grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || tail -n 3 "$log"
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: FAILED: ${failed[*]} (inputs in $build/artifacts/)"
  exit 1
fi
echo "fuzz: ${#targets[@]} targets ran ${seconds}s each without a fault"
