#!/usr/bin/env bash
# Installs what is missing, builds Pellimar with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs the whole test suite.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/tools/setup.sh"
cmake -S "$here" -B "$here/build-test" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPELLIMAR_SANITIZE=ON >/dev/null
cmake --build "$here/build-test"
ctest --test-dir "$here/build-test" --output-on-failure -j2 "$@"
# A short run of every fuzz target from its seeds, as a smoke test.
seconds=${PELLIMAR_FUZZ_SECONDS:-10}
if [ "$seconds" -gt 0 ] && [ $# -eq 0 ]; then
  "$here/tools/fuzz.sh" "$seconds"
fi
