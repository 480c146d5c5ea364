#!/usr/bin/env bash
# The whole test suite, on a fresh Debian 12 machine:
#   1. install what is needed,
#   2. the local SQS service's own tests,
#   3. build with g++ (warnings as errors) and run every test, then build the Debian package
#      from that build and check it with lintian (errors fail),
#   4. build with clang 14 (warnings as errors) under AddressSanitizer and
#      UndefinedBehaviorSanitizer and run every test again,
#   5. a short run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
started=$(date +%s)

bash scripts/install-deps.sh
for setup in scripts/setup/*.sh; do
  [ -e "$setup" ] && bash "$setup"
done

stage() { echo; echo "=== $* ($(( $(date +%s) - started )) s)"; }

stage "local SQS service tests (node)"
(cd tools/local-sqs && node --test)

stage "g++ build"
cmake -S . -B build/ci-gcc -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DBRV_WERROR=ON
cmake --build build/ci-gcc -j"$jobs"
stage "tests (g++)"
(cd build/ci-gcc && ctest --output-on-failure -j"$jobs" --timeout 600)
stage "Debian package (from the g++ build) and lintian"
desktop-file-validate app/amazon-sqs.desktop
rm -f build/ci-gcc/amazon-sqs_*.deb
(cd build/ci-gcc && cpack -G DEB)
lintian --fail-on error build/ci-gcc/amazon-sqs_*.deb

stage "clang 14 build with AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build/ci-asan -DCMAKE_BUILD_TYPE=Debug -DBRV_SANITIZE=ON -DBRV_WERROR=ON \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14
cmake --build build/ci-asan -j"$jobs"
stage "tests (sanitizers)"
(cd build/ci-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j"$jobs" --timeout 900)

stage "fuzz targets, 10 s each"
bash scripts/fuzz.sh 10

stage "all stages passed"
