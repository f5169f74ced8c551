#!/usr/bin/env bash
# The console tools of the host build carry none of the launcher's sequence,
# probe or takeover and none of the test fake: their binaries define no such
# symbol.
# Usage: test_host_symbols.sh BINARY...
set -u
failed=0
for binary in "$@"; do
  found=$(nm -C --defined-only "$binary" | sed 's/^[^ ]* [^ ]* //' |
    grep -E '^(Fake[A-Za-z]*|RunLauncher|RunFlasher|GetMachineBiosVersion|CheckAcPower|CreateProcessA|FindWindowA|FindWindowExA|SendMessageA|EnableWindow|DeleteFileA)(\(|$)' |
    sort -u)
  if [ -n "$found" ]; then
    echo "FAIL $(basename "$binary") defines: $(echo $found)"
    failed=$((failed + 1))
  else
    echo "ok   $(basename "$binary")"
  fi
done
[ $failed = 0 ]
