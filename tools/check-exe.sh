#!/usr/bin/env bash
# Checks a built KSTGATE.exe: GUI subsystem, imports from system DLLs only,
# the six-image icon group, the version record, the application manifest
# (parsed, with exactly the settings the launcher ships with) and the
# hardening flags of its PE header (ASLR, DEP; high-entropy ASLR on 64 bits).
# Usage: check-exe.sh EXE VERSION   (VERSION as project(VERSION) gives it,
# "1.0.0": the version record must say "1, 0, 0, 0" and the manifest
# "1.0.0.0")
set -euo pipefail
if [ $# != 2 ] || ! [[ $2 =~ ^[0-9]+(\.[0-9]+){1,3}$ ]]; then
  echo "usage: check-exe.sh EXE VERSION   (VERSION: 1.0.0 or the like)" >&2
  exit 2
fi
exe=$1
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "check-exe: $exe: $*" >&2; exit 1; }
# The version in its four parts, missing ones 0.
IFS=. read -r v1 v2 v3 v4 <<<"$2"
quad=("$v1" "${v2:-0}" "${v3:-0}" "${v4:-0}")
version_text="${quad[0]}, ${quad[1]}, ${quad[2]}, ${quad[3]}"
version_dots="${quad[0]}.${quad[1]}.${quad[2]}.${quad[3]}"

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

# The version record, read node by node: its fixed part's file and product
# versions, then every string of its StringFileInfo as KEY=VALUE.
record=$(wrestool -x --raw --type=16 "$exe" | python3 -c '
import struct, sys

def node(data, at):
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    end = data.index(b"\0\0", at + 6)
    while (end - at - 6) % 2:
        end = data.index(b"\0\0", end + 1)
    key = data[at + 6:end].decode("utf-16-le")
    value_at = (end + 2 + 3) & ~3
    size = value_length * 2 if kind == 1 else value_length
    children_at = (value_at + size + 3) & ~3
    return key, data[value_at:value_at + size], kind, children_at, at + length

def walk(data, at, stop, out):
    while at < stop:
        key, value, kind, children_at, end = node(data, at)
        if key == "VS_VERSION_INFO":
            ms, ls, pms, pls = struct.unpack_from("<IIII", value, 8)
            for hi, lo in ((ms, ls), (pms, pls)):
                out.append("fixed=%d.%d.%d.%d" % (hi >> 16, hi & 0xFFFF, lo >> 16, lo & 0xFFFF))
        elif kind == 1 and value:
            out.append("%s=%s" % (key, value.decode("utf-16-le").rstrip("\0")))
        walk(data, children_at, end, out)
        at = (end + 3) & ~3

data = sys.stdin.buffer.read()
out = []
walk(data, 0, len(data), out)
print("\n".join(out))
') || fail "version record cannot be read"
for want in "FileDescription=KSTGATE" "InternalName=KSTGATE" "ProductName=KSTGATE" "OriginalFilename=KSTGATE.exe" \
            "FileVersion=$version_text" "ProductVersion=$version_text" "fixed=$version_dots"; do
  grep -qxF -- "$want" <<<"$record" || fail "version record lacks $want (it has: $(echo $record))"
done
[ "$(grep -c '^fixed=' <<<"$record")" = 2 ] && [ "$(grep -c "^fixed=$version_dots\$" <<<"$record")" = 2 ] ||
  fail "version record's file and product version are not both $version_dots"

manifests=$(grep -c -- '--type=24 ' <<<"$resources" || true)
[ "$manifests" = 1 ] || fail "has $manifests manifests, not 1"
grep -q -- '--type=24 --name=1 ' <<<"$resources" || fail "manifest is not resource 1"
problem=$(wrestool -x --raw --type=24 --name=1 "$exe" | python3 "$here/check-manifest.py" "$version_dots" 2>&1) ||
  fail "manifest: $problem"

echo "check-exe: $exe: ok ($(echo $dlls | tr '\n' ' '); manifest; DllCharacteristics 0x$(printf '%04X' "$dllchars"))"
