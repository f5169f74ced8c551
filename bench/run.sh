#!/usr/bin/env bash
# Builds the benchmark tree (Release, no sanitizers), runs the image scan
# benchmark with five repetitions and then the whole-process comparison.
#   bench/run.sh [BENCHMARK OPTIONS...]   e.g. --benchmark_filter=hyphens
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/bench
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKST_SANITIZE=OFF -DKST_BENCH=ON >/dev/null
fi
cmake --build "$build" --target bench_imagescan kstscan -j2 >/dev/null
"$build/bench/bench_imagescan" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_color=false "$@"
echo
"$root/bench/compare.sh"
