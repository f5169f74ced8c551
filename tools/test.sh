#!/usr/bin/env bash
# Installs what it needs, builds everything and runs every test: the host
# unit tests, the checks of both launchers, the end-to-end cases of the real
# KSTGATE.exe under Wine (64-bit, and 32-bit where this machine runs 32-bit
# programs), the release (reproducible, signed) and short fuzz runs.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
tools/build.sh

echo "== unit tests (host build, ASan + UBSan)"
ctest --test-dir build/host --output-on-failure -j"$(nproc)"

echo "== KSTGATE.exe: imports, resources, version, manifest, hardening"
# The version the exes must carry: the project's, from CMakeLists.txt.
version=$(sed -n 's/^project(KSTGATE VERSION \([0-9][0-9.]*\) .*/\1/p' CMakeLists.txt)
tools/check-exe.sh build/win64/src/KSTGATE.exe "$version"
tools/check-exe.sh build/win32/src/KSTGATE.exe "$version"
bash tests/release/test_check_manifest.sh
bash tests/release/test_check_exe.sh "$version" build/win64/src/KSTGATE.exe build/win32/src/KSTGATE.exe

echo "== end-to-end tests (Wine): 64-bit launcher"
bash tests/e2e/e2e.sh build/win64

if [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "== end-to-end tests (Wine): 32-bit launcher, 64-bit flasher and probe"
  KST_LAUNCHER=build/win32/src/KSTGATE.exe KST_PLANTED_DLL=build/win32/tests/programs/planted-dll/uxtheme.dll \
    bash tests/e2e/e2e.sh build/win64
  echo "== end-to-end tests (Wine): 32-bit launcher, 32-bit flasher and probe"
  bash tests/e2e/e2e.sh build/win32 full_success kstscan_windows kstcheck_windows
else
  echo "== end-to-end tests (Wine): 32-bit launcher: SKIPPED"
  echo "   this machine runs no 32-bit programs (its kernel has no 32-bit emulation, or Wine's"
  echo "   32-bit half is missing), so the 32-bit KSTGATE.exe was built and checked but not run"
fi

echo "== release: reproducible, checked, signed"
bash tests/release/test_release.sh build/win64

echo "== short fuzz runs (libFuzzer, ASan + UBSan)"
fuzz/run.sh "${KST_FUZZ_SECONDS:-15}"
