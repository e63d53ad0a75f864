#!/usr/bin/env bash
# Builds Pellimar's benchmarks in Release (in build-release, without the
# tests), runs each of them with its peers side by side, and prints one
# markdown table of the ratios against the goals.
#   bench/run_all.sh [results-folder]
# The raw results (JSON and logs) stay in the results folder (default: a
# fresh temporary one). BUILD_DIR overrides the build folder.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build-release}
results=${1:-$(mktemp -d)}
mkdir -p "$results"

echo "Building in $build..." >&2
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELLIMAR_BENCH=ON -DPELLIMAR_TESTS=OFF \
  > "$results/configure.log"
cmake --build "$build" > "$results/build.log"

# The benchmarks of the table; the others (viewer, storage) have no peer goal.
# Each runs several times with Pellimar's and the peer's runs interleaved, so
# that a passing load falls on both; the table takes the medians.
# The decoder's runs are short and spread widely on a virtual machine: it
# repeats more often.
for name in fax_decode socket_line_receive qdb_engine mime_decode pop3_retr; do
  echo "Running bench_$name..." >&2
  repetitions=3
  [ "$name" = fax_decode ] && repetitions=11
  QT_QPA_PLATFORM=offscreen "$build/bench/bench_$name" --benchmark_out="$results/bench_$name.json" \
    --benchmark_out_format=json --benchmark_repetitions=$repetitions --benchmark_enable_random_interleaving=true \
    > "$results/bench_$name.log" 2>&1 \
    || echo "bench_$name failed; see $results/bench_$name.log" >&2
done
echo "Running the fetch against fetchmail..." >&2
PELLIMAR_BIN="$build/app/pellimar" "$here/bench/fetch_vs_fetchmail.sh" > "$results/fetch.txt" 2>&1 \
  || echo "the fetch benchmark failed; see $results/fetch.txt" >&2

echo "Running the fetch over IMAP against fetchmail and the IDLE latency..." >&2
PROTOCOL=imap PELLIMAR_BIN="$build/app/pellimar" "$here/bench/fetch_vs_fetchmail.sh" > "$results/fetch_imap.txt" 2>&1 \
  || echo "the IMAP fetch benchmark failed; see $results/fetch_imap.txt" >&2
PELLIMAR_BIN="$build/app/pellimar" "$here/bench/idle_latency.sh" > "$results/idle.txt" 2>&1 \
  || echo "the IDLE latency benchmark failed; see $results/idle.txt" >&2

echo "Running --list against sqlite3 and the window's start..." >&2
PELLIMAR_BIN="$build/app/pellimar" "$here/bench/list_vs_sqlite.sh" > "$results/list.txt" 2>&1 \
  || echo "the listing benchmark failed; see $results/list.txt" >&2

python3 "$here/bench/ratio_table.py" "$results"
echo "Raw results: $results" >&2
