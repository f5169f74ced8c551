#!/usr/bin/env bash
# Installs what it needs, builds everything and runs every test: the host
# unit tests, then the end-to-end cases of the real KSTGATE.exe under Wine.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
tools/build.sh

echo "== unit tests (host build, ASan + UBSan)"
ctest --test-dir build/host --output-on-failure -j"$(nproc)"

echo "== KSTGATE.exe imports and resources"
tools/check-exe.sh build/win64/src/KSTGATE.exe
tools/check-exe.sh build/win32/src/KSTGATE.exe

if [ -f build/win64/tests/e2e/CTestTestfile.cmake ]; then
  echo "== end-to-end tests (Wine)"
  ctest --test-dir build/win64 --output-on-failure
fi

echo "== short fuzz runs (libFuzzer, ASan + UBSan)"
fuzz/run.sh "${KST_FUZZ_SECONDS:-15}"
