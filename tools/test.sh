#!/usr/bin/env bash
# Installs what it needs, builds everything and runs every test: the host
# unit tests, the checks of both launchers, the end-to-end cases of the real
# KSTGATE.exe under Wine (64-bit, and 32-bit where this machine runs 32-bit
# programs), the release (reproducible, signed) and short fuzz runs.
# Exits non-zero on any failure. Ends with the time of every stage and of
# the whole run.
#
# The end-to-end runs mostly wait on Wine, with the cores idle: the runs of
# the 32-bit launcher, the checks of both launchers and the build of the
# fuzz targets go beside the run of the 64-bit launcher, each run with a
# Wine prefix and display of its own. The fuzz runs go two at a time, one a
# core.
set -euo pipefail
cd "$(dirname "$0")/.."

# ---- stage times ----------------------------------------------------------------
run_start=$SECONDS
WORK=$(mktemp -d "${TMPDIR:-/tmp}/kst-test.XXXXXX")
declare -A BESIDE_PID=()
mmss() { printf '%d:%02d' $(($1 / 60)) $(($1 % 60)); }
# record NAME SECONDS: a line of the summary (from a stage in the
# background too).
record() {
  printf '   %-64s %6s\n' "$1" "$(mmss "$2")" >>"$WORK/times"
  echo "-- $1: $(mmss "$2")"
}
summary() {
  local rc=$? pid
  for pid in "${BESIDE_PID[@]}"; do kill "$pid" 2>/dev/null || true; done
  echo "== times (wall clock; stages marked \"beside\" ran at the same time as others)"
  [ -f "$WORK/times" ] && cat "$WORK/times"
  printf '   %-64s %6s\n' "total" "$(mmss $((SECONDS - run_start)))"
  [ $rc = 0 ] || echo "== FAILED (exit $rc)"
  rm -rf "$WORK"
  return $rc
}
trap summary EXIT

# stage NAME COMMAND...: runs COMMAND and records its time.
stage() {
  local name=$1 t0=$SECONDS rc=0
  shift
  "$@" || rc=$?
  record "$name" $((SECONDS - t0))
  return $rc
}

# beside NAME COMMAND...: runs COMMAND as a stage in the background, its
# output kept; join NAME waits for it, shows that output and fails with it.
beside() {
  local name=$1
  shift
  stage "$name (beside)" "$@" >"$WORK/$name.log" 2>&1 &
  BESIDE_PID[$name]=$!
}
join() {
  local name=$1 rc=0
  wait "${BESIDE_PID[$name]}" || rc=$?
  unset "BESIDE_PID[$name]"
  cat "$WORK/$name.log"
  return $rc
}

# e2e NAME BUILD [CASE...]: an end-to-end run, with its number of cases and
# the time a case in its name.
E2E_CASES=0
e2e() {
  local name=$1 t0=$SECONDS rc=0 log
  shift
  log=$(mktemp "$WORK/e2e.XXXXXX")
  bash tests/e2e/e2e.sh "$@" 2>&1 | tee "$log" || rc=$?
  local took=$((SECONDS - t0)) cases
  cases=$(sed -n 's/^e2e: \([0-9]*\) passed, \([0-9]*\) failed$/\1 \2/p' "$log" | awk '{print $1 + $2}')
  if [ -n "$cases" ] && [ "$cases" -gt 0 ]; then
    echo "$cases" >>"$WORK/e2e-cases"
    name="$name: $cases cases, $(awk -v t=$took -v n="$cases" 'BEGIN {printf "%.1f", t / n}') s a case"
  fi
  record "$name" $took
  return $rc
}

# ---- the stages -----------------------------------------------------------------
echo "== install"
stage "install" tools/install-deps.sh
echo "== build: host, 64-bit and 32-bit Windows"
stage "build" tools/build.sh

echo "== unit tests (host build, ASan + UBSan)"
stage "unit tests" ctest --test-dir build/host --output-on-failure -j"$(nproc)"

# KSTGATE.exe: imports, resources, version, manifest, hardening; given the
# version the exes must carry: the project's, from CMakeLists.txt.
version=$(sed -n 's/^project(KSTGATE VERSION \([0-9][0-9.]*\) .*/\1/p' CMakeLists.txt)
exe_checks() {
  tools/check-exe.sh build/win64/src/KSTGATE.exe "$version"
  tools/check-exe.sh build/win32/src/KSTGATE.exe "$version"
  bash tests/release/test_check_manifest.sh
  bash tests/release/test_check_exe.sh "$version" build/win64/src/KSTGATE.exe build/win32/src/KSTGATE.exe
}
e2e_32bit() {
  local rc=0
  echo "== end-to-end tests (Wine): 32-bit launcher, 64-bit flasher and probe"
  KST_LAUNCHER=build/win32/src/KSTGATE.exe KST_PLANTED_DLL=build/win32/tests/programs/planted-dll/uxtheme.dll \
    e2e "e2e, 32-bit launcher, 64-bit programs" build/win64 || rc=1
  echo "== end-to-end tests (Wine): 32-bit launcher, 32-bit flasher and probe"
  e2e "e2e, 32-bit launcher, 32-bit programs" build/win32 full_success kstscan_windows kstcheck_windows || rc=1
  return $rc
}

e2e_start=$SECONDS
wine32=0
if [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
  wine32=1
  beside "e2e, 32-bit launcher" e2e_32bit
fi
beside "exe checks" exe_checks
beside "fuzz build" fuzz/run.sh --build

ok=1
echo "== end-to-end tests (Wine): 64-bit launcher"
e2e "e2e, 64-bit launcher" build/win64 || ok=0
if [ $wine32 = 1 ]; then
  join "e2e, 32-bit launcher" || ok=0
else
  echo "== end-to-end tests (Wine): 32-bit launcher: SKIPPED"
  echo "   this machine runs no 32-bit programs (its kernel has no 32-bit emulation, or Wine's"
  echo "   32-bit half is missing), so the 32-bit KSTGATE.exe was built and checked but not run"
fi
took=$((SECONDS - e2e_start))
cases=$(awk '{n += $1} END {print n + 0}' "$WORK/e2e-cases" 2>/dev/null || echo 0)
[ "$cases" -gt 0 ] &&
  record "e2e, all runs: $cases cases, $(awk -v t=$took -v n="$cases" 'BEGIN {printf "%.1f", t / n}') s a case" $took

echo "== KSTGATE.exe: imports, resources, version, manifest, hardening"
join "exe checks" || ok=0
echo "== fuzz targets: build"
join "fuzz build" || ok=0
[ $ok = 1 ]

echo "== release: reproducible, checked, signed"
stage "release" bash tests/release/test_release.sh build/win64

echo "== short fuzz runs (libFuzzer, ASan + UBSan)"
KST_FUZZ_JOBS=2 stage "fuzz runs" fuzz/run.sh "${KST_FUZZ_SECONDS:-15}"
