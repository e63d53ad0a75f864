#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for the given number of seconds
# (default 60), starting from the committed seeds in fuzz/corpus/<target>/.
# New inputs are kept in build-fuzz/corpus/, crashes in build-fuzz/crashes/.
#   tools/fuzz.sh [seconds] [target ...]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
"$here/tools/setup.sh"
build="$here/build-fuzz"
# Optimised (assertions stay on): without optimisation the sanitizers and the
# coverage hooks make every inline helper a call, and the fax target ran at
# a tenth of the speed.
CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-g -O2" -DPELLIMAR_FUZZ=ON -DPELLIMAR_TESTS=OFF >/dev/null
cmake --build "$build"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for src in "$here"/fuzz/*.cpp; do targets+=("$(basename "$src" .cpp)"); done
fi
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0
export LSAN_OPTIONS=suppressions=$here/tests/lsan.supp
status=0
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  mkdir -p "$corpus" "$build/crashes/$t"
  [ -d "$here/fuzz/corpus/$t" ] && cp -n "$here/fuzz/corpus/$t"/* "$corpus"/ 2>/dev/null || true
  echo "== fuzz_$t for ${seconds}s"
  if ! "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -malloc_limit_mb=512 -artifact_prefix="$build/crashes/$t/" -print_final_stats=1 \
      "$corpus" 2>"$build/fuzz_$t.log"; then
    echo "fuzz_$t FAILED; see $build/fuzz_$t.log and $build/crashes/$t/"
    tail -40 "$build/fuzz_$t.log"
    status=1
  fi
  grep -E '^(stat::number_of_executed_units|#[0-9]+[[:space:]]+DONE)' "$build/fuzz_$t.log" | tail -2 || true
done
exit $status
