#!/usr/bin/env bash
# Short fuzz runs: builds the libFuzzer targets (clang, build/fuzz) if needed
# and runs each for SECONDS from a scratch copy of its seed corpus.
#   fuzz/run.sh SECONDS [target...]      (default: every target)
#   fuzz/run.sh --build [target...]      (builds them, runs nothing)
# KST_FUZZ_JOBS targets run at a time (default 1; each takes one core).
# Inputs that crash are kept in build/fuzz/artifacts/. Exits non-zero when a
# target fails to build or any run finds a fault.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

all_targets=(fuzz_settings fuzz_cmdline fuzz_imagescan fuzz_answerfile fuzz_pefile fuzz_kstcheck)
jobs=${KST_FUZZ_JOBS:-1}
if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ || "$1" = --build ]] || ! [[ "$jobs" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 SECONDS|--build [target...]   targets: ${all_targets[*]}" >&2
  exit 2
fi
seconds=$1
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")

max_len() {
  case "$1" in
    fuzz_settings)   echo 4096 ;;  # several lines of 255 bytes and more
    fuzz_cmdline)    echo 2048 ;;
    fuzz_imagescan)  echo 8192 ;;  # filler in front reaches the read boundaries
    fuzz_answerfile) echo 1024 ;;
    fuzz_pefile)     echo 4096 ;;  # headers and a resource section of a few dialogs
    fuzz_kstcheck)   echo 1024 ;;  # a settings file, a command line and a few names
  esac
}
dict() {
  case "$1" in
    fuzz_settings|fuzz_answerfile) echo "$root/fuzz/settings.dict" ;;
    fuzz_cmdline) echo "$root/fuzz/cmdline.dict" ;;
    fuzz_imagescan) echo "$root/fuzz/image.dict" ;;
    fuzz_pefile) echo "$root/fuzz/pefile.dict" ;;
    fuzz_kstcheck) echo "$root/fuzz/kstcheck.dict" ;;
  esac
}
for t in "${targets[@]}"; do
  [ -n "$(max_len "$t")" ] || { echo "unknown target: $t" >&2; exit 2; }
done

build=$root/build/fuzz
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -DKST_FUZZ=ON -DKST_SANITIZE=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null
[ "$seconds" != --build ] || { echo "fuzz: built ${targets[*]}"; exit 0; }

artifacts=$build/artifacts
mkdir -p "$artifacts"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kstfuzz-run.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
shm=/dev/shm
[ -d "$shm" ] && [ -w "$shm" ] || shm=$scratch

# run_target TARGET: one run; its output in $scratch/TARGET.log, and
# $scratch/TARGET.failed unless it ran to its end without a fault.
run_target() {
  local t=$1 corpus=$scratch/$1 files
  : >"$scratch/$t.failed"
  mkdir -p "$corpus"
  cp fuzz/corpus/"$t"/* "$corpus"/
  # Every path is absolute: the targets work in a directory of their own.
  # The target's own files go to a fresh directory of this run.
  files=$(mktemp -d "$shm/kstfuzz-files.XXXXXX")
  KST_FUZZ_TMP=$files nice "$build/fuzz/$t" -max_total_time="$seconds" -max_len="$(max_len "$t")" \
       -dict="$(dict "$t")" -timeout=10 -rss_limit_mb=1024 -print_final_stats=1 \
       -artifact_prefix="$artifacts/$t-" "$corpus" >"$scratch/$t.log" 2>&1 && rm "$scratch/$t.failed"
  rm -rf "$files"
}

echo "fuzz: ${targets[*]}: ${seconds}s each, $jobs at a time"
running=0
for t in "${targets[@]}"; do
  if [ $running -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  run_target "$t" &
  running=$((running + 1))
done
wait

failed=()
for t in "${targets[@]}"; do
  echo "== $t: ${seconds}s"
  if [ ! -e "$scratch/$t.failed" ]; then
    grep -E '^stat::number_of_executed_units|^Done ' "$scratch/$t.log" || true
  else
    failed+=("$t")
    tail -n 60 "$scratch/$t.log"
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: faults found by: ${failed[*]} (inputs in $artifacts)" >&2
  exit 1
fi
echo "fuzz: all clean"
