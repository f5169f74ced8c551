#!/usr/bin/env bash
# Checks a built KSTGATE.exe: GUI subsystem, imports from system DLLs only,
# the six-image icon group, the version record, the application manifest
# (parsed, with exactly the settings the launcher ships with) and the
# hardening flags of its PE header (ASLR, DEP; high-entropy ASLR on 64 bits).
set -euo pipefail
exe=$1
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "check-exe: $exe: $*" >&2; exit 1; }

case "$(file -b "$exe" 2>/dev/null || true)" in
  *x86-64*) objdump=x86_64-w64-mingw32-objdump; bits=64 ;;
  *Intel*80386*|*Intel\ i386*) objdump=i686-w64-mingw32-objdump; bits=32 ;;
  *) fail "not a Windows program for x86 or x64" ;;
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

# Hardening: the loader may move the image (and has the relocations to do
# so), data pages are not executable, and on 64 bits the whole address
# space is used for the move.
dllchars=$((16#$(awk '$1 == "DllCharacteristics" {print $2; exit}' <<<"$headers")))
(( dllchars & 0x40 )) || fail "no ASLR (DYNAMIC_BASE not set)"
(( dllchars & 0x100 )) || fail "no DEP (NX_COMPAT not set)"
if [ "$bits" = 64 ]; then
  (( dllchars & 0x20 )) || fail "no high-entropy ASLR (HIGH_ENTROPY_VA not set)"
fi
characteristics=$((16#$(awk '$1 == "Characteristics" {sub(/^0x/, "", $2); print $2; exit}' <<<"$headers")))
(( characteristics & 0x1 )) && fail "relocations stripped: ASLR cannot move the image"

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

manifests=$(grep -c -- '--type=24 ' <<<"$resources" || true)
[ "$manifests" = 1 ] || fail "has $manifests manifests, not 1"
grep -q -- '--type=24 --name=1 ' <<<"$resources" || fail "manifest is not resource 1"
problem=$(wrestool -x --raw --type=24 --name=1 "$exe" | python3 "$here/check-manifest.py" 2>&1) ||
  fail "manifest: $problem"

echo "check-exe: $exe: ok ($(echo $dlls | tr '\n' ' '); manifest; DllCharacteristics 0x$(printf '%04X' "$dllchars"))"
