#!/usr/bin/env bash
# Installs what it needs, builds everything and runs every test: the host
# unit tests, the checks of both launchers, the end-to-end cases of the real
# KSTGATE.exe under Wine (64-bit, and 32-bit where this machine runs 32-bit
# programs), the release (reproducible, signed) and short fuzz runs.
# Exits non-zero on any failure. Ends with the time of every stage and of
# the whole run. The checks of the launchers and the fuzz targets' build run
# beside the end-to-end cases, which mostly wait on Wine; the fuzz runs go
# two at a time, one a core.
set -euo pipefail
cd "$(dirname "$0")/.."

# ---- stage times ----------------------------------------------------------------
TIMES=()
run_start=$SECONDS
mmss() { printf '%d:%02d' $(($1 / 60)) $(($1 % 60)); }
record() { TIMES+=("$(printf '   %-58s %6s' "$1" "$(mmss "$2")")"); }
summary() {
  local rc=$?
  echo "== times (wall clock)"
  [ ${#TIMES[@]} -gt 0 ] && printf '%s\n' "${TIMES[@]}"
  printf '   %-58s %6s\n' "total" "$(mmss $((SECONDS - run_start)))"
  [ $rc = 0 ] || echo "== FAILED (exit $rc)"
  local pid
  for pid in "${BESIDE_PID[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$BESIDE_DIR"
  return $rc
}

# stage NAME COMMAND...: runs COMMAND and records its time.
stage() {
  local name=$1 t0=$SECONDS rc=0
  shift
  "$@" || rc=$?
  record "$name" $((SECONDS - t0))
  return $rc
}

# beside NAME COMMAND...: starts COMMAND in the background, its output kept
# for join; join NAME shows that output, records the time and fails with it.
declare -A BESIDE_PID=()
BESIDE_DIR=$(mktemp -d "${TMPDIR:-/tmp}/kst-test.XXXXXX")
trap summary EXIT
beside() {
  local name=$1
  shift
  ( t0=$SECONDS; rc=0; "$@" >"$BESIDE_DIR/$name.log" 2>&1 || rc=$?
    echo "$((SECONDS - t0))" >"$BESIDE_DIR/$name.time"; exit $rc ) &
  BESIDE_PID[$name]=$!
}
join() {
  local name=$1 rc=0
  wait "${BESIDE_PID[$name]}" || rc=$?
  unset "BESIDE_PID[$name]"
  cat "$BESIDE_DIR/$name.log"
  record "$name (beside the end-to-end runs)" "$(cat "$BESIDE_DIR/$name.time" 2>/dev/null || echo 0)"
  return $rc
}

# e2e NAME BUILD [CASE...]: an end-to-end run, timed, with its number of
# cases and the time a case in its name.
e2e() {
  local name=$1 t0=$SECONDS rc=0 log=$BESIDE_DIR/e2e.log
  shift
  bash tests/e2e/e2e.sh "$@" 2>&1 | tee "$log" || rc=$?
  local took=$((SECONDS - t0)) cases
  cases=$(sed -n 's/^e2e: \([0-9]*\) passed, \([0-9]*\) failed$/\1 \2/p' "$log" | awk '{print $1 + $2}')
  [ -n "$cases" ] && [ "$cases" -gt 0 ] &&
    name="$name: $cases cases, $(awk -v t=$took -v n="$cases" 'BEGIN {printf "%.1f", t / n}') s a case"
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
beside "exe checks" exe_checks
beside "fuzz build" fuzz/run.sh --build

echo "== end-to-end tests (Wine): 64-bit launcher"
e2e_ok=1
e2e "e2e, 64-bit launcher" build/win64 || e2e_ok=0

if [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "== end-to-end tests (Wine): 32-bit launcher, 64-bit flasher and probe"
  KST_LAUNCHER=build/win32/src/KSTGATE.exe KST_PLANTED_DLL=build/win32/tests/programs/planted-dll/uxtheme.dll \
    e2e "e2e, 32-bit launcher, 64-bit programs" build/win64 || e2e_ok=0
  echo "== end-to-end tests (Wine): 32-bit launcher, 32-bit flasher and probe"
  e2e "e2e, 32-bit launcher, 32-bit programs" build/win32 full_success kstscan_windows kstcheck_windows || e2e_ok=0
else
  echo "== end-to-end tests (Wine): 32-bit launcher: SKIPPED"
  echo "   this machine runs no 32-bit programs (its kernel has no 32-bit emulation, or Wine's"
  echo "   32-bit half is missing), so the 32-bit KSTGATE.exe was built and checked but not run"
fi

echo "== KSTGATE.exe: imports, resources, version, manifest, hardening"
checks_ok=1
join "exe checks" || checks_ok=0
echo "== fuzz targets: build"
join "fuzz build" || checks_ok=0
[ $e2e_ok = 1 ] && [ $checks_ok = 1 ]

echo "== release: reproducible, checked, signed"
stage "release" bash tests/release/test_release.sh build/win64

echo "== short fuzz runs (libFuzzer, ASan + UBSan)"
KST_FUZZ_JOBS=2 stage "fuzz runs" fuzz/run.sh "${KST_FUZZ_SECONDS:-15}"
