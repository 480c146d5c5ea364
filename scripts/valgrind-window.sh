#!/usr/bin/env bash
# Runs the window's test programs under valgrind memcheck and fails on a definite leak or a
# memory error. Not part of scripts/test.sh: valgrind makes the Qt programs slow.
#
#   scripts/valgrind-window.sh [PROGRAM...]
#
# PROGRAMs are test programs of tests/app without the "test_app_" prefix (default: form_test
# and operations_test, which need no service). The build goes to build/valgrind (VALGRIND_BUILD
# overrides it). The full memcheck report of each program is left beside it as
# <program>.memcheck.log.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${VALGRIND_BUILD:-$(pwd)/build/valgrind}
if [ $# -gt 0 ]; then programs=("$@"); else programs=(form_test operations_test); fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRV_BUILD_APP=ON -DBRV_BUILD_TESTS=ON >/dev/null
targets=()
for p in "${programs[@]}"; do targets+=(--target "test_app_$p"); done
cmake --build "$build" -j"$(nproc)" "${targets[@]}"

export QT_QPA_PLATFORM=offscreen
failed=()
for p in "${programs[@]}"; do
  exe="$build/tests/app/test_app_$p"
  log="$build/tests/app/test_app_$p.memcheck.log"
  echo "=== memcheck: test_app_$p"
  # Only definite leaks count as errors: Qt and the font libraries keep caches reachable until
  # exit on purpose ("still reachable", "possibly lost").
  if valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite \
      --errors-for-leak-kinds=definite --error-exitcode=99 --num-callers=30 \
      --log-file="$log" "$exe" >"$build/tests/app/test_app_$p.out" 2>&1; then
    grep -E "ERROR SUMMARY|definitely lost" "$log" | sed 's/^==[0-9]*== //'
  else
    failed+=("$p")
    tail -n 40 "$build/tests/app/test_app_$p.out"
    grep -E -A30 "definitely lost in|Invalid|uninitialised|ERROR SUMMARY" "$log" | head -n 120 || true
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "valgrind-window: FAILED: ${failed[*]} (reports in $build/tests/app/*.memcheck.log)"
  exit 1
fi
echo "valgrind-window: ${#programs[@]} programs without definite leaks or memory errors"
