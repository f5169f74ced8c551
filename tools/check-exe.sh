#!/usr/bin/env bash
# Checks a built KSTGATE.exe: GUI subsystem, imports from system DLLs only,
# the six-image icon group and the version record.
set -euo pipefail
exe=$1
fail() { echo "check-exe: $exe: $*" >&2; exit 1; }

case "$(file -b "$exe" 2>/dev/null || true)" in
  *x86-64*) objdump=x86_64-w64-mingw32-objdump ;;
  *) objdump=i686-w64-mingw32-objdump ;;
esac
headers=$("$objdump" -p "$exe")
grep -q 'Subsystem.*(Windows GUI)' <<<"$headers" || fail "not a GUI-subsystem program"
dlls=$(grep 'DLL Name:' <<<"$headers" | awk '{print toupper($3)}' | sort -u)
for dll in $dlls; do
  case "$dll" in
    KERNEL32.DLL|USER32.DLL|MSVCRT.DLL) ;;
    *) fail "imports $dll, which is not a system DLL" ;;
  esac
done

resources=$(wrestool -l "$exe")
icons=$(grep -c -- '--type=3 ' <<<"$resources" || true)
groups=$(grep -c -- '--type=14 ' <<<"$resources" || true)
[ "$groups" = 1 ] || fail "has $groups icon groups, not 1"
[ "$icons" = 6 ] || fail "has $icons icon images, not 6"
grep -q -- '--type=16 ' <<<"$resources" || fail "has no version record"

version=$(wrestool -x --raw --type=16 "$exe" | iconv -f UTF-16LE -t UTF-8 -c | tr '\0' '\n')
for want in "FileDescription" "KSTGATE" "InternalName" "ProductName" "OriginalFilename" "KSTGATE.exe" \
            "FileVersion" "ProductVersion" "1, 0, 0, 0"; do
  grep -qF -- "$want" <<<"$version" || fail "version record lacks \"$want\""
done
echo "check-exe: $exe: ok ($(echo $dlls | tr '\n' ' '))"
