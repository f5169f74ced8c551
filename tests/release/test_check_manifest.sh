#!/usr/bin/env bash
# The manifest check accepts the launcher's manifest and rejects each way of
# getting it wrong.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
check=$root/tools/check-manifest.py
failed=0
# The shipped manifest as the build writes it, for version 1.2.3.4.
manifest=$(mktemp)
trap 'rm -f "$manifest"' EXIT
sed 's/@KST_VERSION_DOTS@/1.2.3.4/' "$root/src/resources/kstgate.manifest.in" >"$manifest"

expect() {  # expect good|bad DESCRIPTION SED_SCRIPT [VERSION]
  local got
  if sed "$3" "$manifest" | python3 "$check" "${4:-1.2.3.4}" >/dev/null; then got=good; else got=bad; fi
  if [ "$got" != "$1" ]; then
    echo "FAIL check-manifest: $2: judged $got"
    failed=$((failed + 1))
  fi
}

expect good "the shipped manifest" ''
expect bad "another version expected" '' 1.2.3.5
expect bad "another version in it" 's|version="1.2.3.4"|version="1.2.3.0"|'
expect bad "another name" 's|name="KSTGATE"|name="KSTGATE2"|'
expect bad "no identity of its own" '/name="KSTGATE"/d'
expect bad "not well-formed" 's|</assembly>||'
expect bad "runs as invoker" 's|requireAdministrator|asInvoker|'
expect bad "highest available" 's|requireAdministrator|highestAvailable|'
expect bad "UI access" 's|uiAccess="false"|uiAccess="true"|'
expect bad "no execution level" '/requestedExecutionLevel/d'
expect bad "execution level in the wrong namespace" 's|asm.v3">|asm.v2">|'
expect bad "Windows 8.1 missing" '/1f676c76-80e1-4239-95bb-83d0f6d0da78/d'
expect bad "an unknown system added" 's|\(<supportedOS Id="{e2011457-1546-43c5-a5fe-008deee3d3f0}"/>\)|\1<supportedOS Id="{00000000-0000-0000-0000-000000000000}"/>|'
expect bad "Common Controls 5" 's|version="6.0.0.0"|version="5.82.0.0"|'
expect bad "no Common Controls dependency" '/<dependency>/,/<\/dependency>/d'
expect bad "system DPI awareness only" 's|>true/pm<|>true<|'
expect bad "no per-monitor v2" 's|PerMonitorV2, PerMonitor|PerMonitor|'
expect bad "an active code page" 's|</windowsSettings>|<activeCodePage xmlns="http://schemas.microsoft.com/SMI/2019/WindowsSettings">UTF-8</activeCodePage></windowsSettings>|'
expect bad "long paths" 's|</windowsSettings>|<longPathAware xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">true</longPathAware></windowsSettings>|'

if [ $failed = 0 ]; then echo "check-manifest: all passed"; else echo "check-manifest: $failed failed"; exit 1; fi
