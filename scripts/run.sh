#!/usr/bin/env bash
# Installs what is needed, builds, and starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
for setup in scripts/setup/*.sh; do
  [ -e "$setup" ] && bash "$setup"
done
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DBRV_BUILD_TESTS=OFF
cmake --build build/release -j"$(nproc)"
if [ -x build/release/app/amazon-sqs ]; then
  exec build/release/app/amazon-sqs "$@"
fi
echo
echo "Built the component libraries (the window is not part of this build yet):"
find build/release -maxdepth 2 -name 'libbrv_*.a' -printf '  %p\n' | sort
