#!/usr/bin/env bash
# Whole-process comparison on the benchmark's four 64 MiB images: wall time
# of `kstscan FILE` against `grep -obaF -m1 -- -0000- FILE`, and kstscan's
# peak resident size on each image against an empty one.
#   bench/compare.sh [RUNS]     (default 21 runs of each command)
#
# The images are written just before they are timed and stay in the page
# cache, so this is the CPU cost of a run over cached data. grep runs in the
# C locale (its fastest) and stops at its first match (-m1); on the images
# without a marker both programs read the whole file.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/bench
runs=${1:-21}

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKST_SANITIZE=OFF -DKST_BENCH=ON >/dev/null || exit 1
fi
cmake --build "$build" --target bench_imagescan kstscan -j2 >/dev/null || exit 1
bench=$build/bench/bench_imagescan
scan=$build/tools/kstscan/kstscan

dir=$(mktemp -d "${TMPDIR:-/tmp}/kstcompare.XXXXXX")
trap 'rm -rf "$dir"' EXIT
"$bench" --make-images="$dir" || exit 1
kinds="random hyphens nearmiss marker"
export LC_ALL=C

# Peak resident size: GNU time, installed when missing and we are root;
# otherwise a small wrapper that asks the kernel about its waited-for child.
if [ ! -x /usr/bin/time ] && [ "$(id -u)" = 0 ]; then
  apt-get install -y time >/dev/null 2>&1
fi
if [ -x /usr/bin/time ]; then
  peak_kib() { /usr/bin/time -o "$dir/rss" -f %M "$@" >/dev/null 2>&1; tail -1 "$dir/rss"; }
else
  cat >"$dir/maxrss.c" <<'EOF'
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
int main(int argc, char** argv)
{
    (void)argc;
    pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    int status;
    waitpid(pid, &status, 0);
    struct rusage usage;
    getrusage(RUSAGE_CHILDREN, &usage);
    printf("%ld\n", usage.ru_maxrss);
    return 0;
}
EOF
  cc -O2 -o "$dir/maxrss" "$dir/maxrss.c" || exit 1
  peak_kib() { "$dir/maxrss" "$@" 2>/dev/null | tail -1; }
fi

fail() { echo "compare.sh: $*" >&2; exit 1; }

# Both programs must give the expected answer before they are timed.
check() {  # check KIND WANT_RC WANT_OUT -- COMMAND...
  local kind=$1 want_rc=$2 want_out=$3 out rc
  shift 4
  out=$("$@" 2>&1)
  rc=$?
  [ "$rc" = "$want_rc" ] && [ "$out" = "$want_out" ] ||
    fail "$1 on $kind: rc $rc, output '$out' (want $want_rc, '$want_out')"
}
marker_at=$(( $(stat -c %s "$dir/marker.rom") - 12 ))
for kind in random hyphens nearmiss empty; do
  check "$kind" 1 "$dir/$kind.rom: [-65] Get BIOS VERSION from BIOS ROM file fail!
Download the latest one and try again." -- "$scan" "$dir/$kind.rom"
  check "$kind" 1 "" -- grep -obaF -m1 -- -0000- "$dir/$kind.rom"
done
check marker 0 "$dir/marker.rom: \"V1.2\"" -- "$scan" "$dir/marker.rom"
check marker 0 "$marker_at:-0000-" -- grep -obaF -m1 -- -0000- "$dir/marker.rom"

# One wall time in milliseconds.
time_ms() {
  local start end
  start=$EPOCHREALTIME
  "$@" >/dev/null 2>&1
  end=$EPOCHREALTIME
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", (b - a) * 1000 }'
}
# Median and best of a list of times.
med_best() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { printf "%.3f %.3f", v[int((NR + 1) / 2)], v[1] }'; }

echo "Whole processes: median of $runs runs (best in brackets), images in the page cache;"
echo "the two programs take turns, so that a slow spell of the machine falls on both"
printf '%-10s %20s %20s %16s\n' kind "kstscan ms" "grep -F ms" "kstscan/grep"
all_faster=yes
for kind in $kinds; do
  scan_times=() grep_times=()
  "$scan" "$dir/$kind.rom" >/dev/null 2>&1
  grep -obaF -m1 -- -0000- "$dir/$kind.rom" >/dev/null 2>&1
  for ((i = 0; i < runs; i++)); do
    scan_times+=("$(time_ms "$scan" "$dir/$kind.rom")")
    grep_times+=("$(time_ms grep -obaF -m1 -- -0000- "$dir/$kind.rom")")
  done
  read -r scan_med scan_best < <(med_best "${scan_times[@]}")
  read -r grep_med grep_best < <(med_best "${grep_times[@]}")
  awk -v k="$kind" -v sm="$scan_med" -v sb="$scan_best" -v gm="$grep_med" -v gb="$grep_best" \
    'BEGIN { printf "%-10s %10.1f (%6.1f) %10.1f (%6.1f) %7.2f (%5.2f)\n", k, sm, sb, gm, gb, sm / gm, sb / gb }'
  awk -v s="$scan_med" -v g="$grep_med" 'BEGIN { exit !(s < g) }' || all_faster=no
done

# Peak resident size: the smallest of three runs, as page-cache and loader
# noise only ever adds.
min_peak() {
  local i v best=""
  for i in 1 2 3; do
    v=$(peak_kib "$@")
    if [ -z "$best" ] || [ "$v" -lt "$best" ]; then best=$v; fi
  done
  echo "$best"
}
empty_kib=$(min_peak "$scan" "$dir/empty.rom")
echo
echo "kstscan peak RSS: empty image $empty_kib KiB"
worst=0
for kind in $kinds; do
  kib=$(min_peak "$scan" "$dir/$kind.rom")
  delta=$((kib - empty_kib))
  [ "$delta" -gt "$worst" ] && worst=$delta
  printf '  %-10s %6d KiB (%+d KiB)\n' "$kind" "$kib" "$delta"
done

echo
echo "Targets: kstscan faster than grep on every kind: $all_faster"
if [ "$worst" -le 1024 ]; then rss_ok=yes; else rss_ok=no; fi
echo "         peak RSS at most 1024 KiB above the empty image: $rss_ok (worst +$worst KiB)"
