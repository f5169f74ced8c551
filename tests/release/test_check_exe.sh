#!/usr/bin/env bash
# check-exe.sh accepts the built launchers with their version and rejects
# them with another, and rejects a copy whose PE header lost a hardening
# flag: ASLR, DEP, high-entropy ASLR (64-bit only), or whose relocations are
# marked stripped, or whose version record's fixed part says another version.
# Usage: test_check_exe.sh VERSION KSTGATE.exe...
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d /tmp/kst-check-exe.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
failed=0
version=$1
shift

# patch EXE OUT FIELD MASK: OUT is EXE with MASK cleared from the optional
# header's DllCharacteristics (FIELD dll) or set in the file header's
# Characteristics (FIELD file).
patch() {
  python3 - "$@" <<'PY'
import struct, sys
source, target, field, mask = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4], 0)
data = bytearray(open(source, "rb").read())
pe = struct.unpack_from("<I", data, 0x3C)[0]
offset = pe + 24 + 70 if field == "dll" else pe + 22
value = struct.unpack_from("<H", data, offset)[0]
struct.pack_into("<H", data, offset, value & ~mask if field == "dll" else value | mask)
open(target, "wb").write(data)
PY
}

# fixed EXE OUT: OUT is EXE with the file version's minor part in the fixed
# part of its version record raised by one.
fixed() {
  python3 - "$@" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
at = data.find(struct.pack("<I", 0xFEEF04BD))
struct.pack_into("<I", data, at + 8, struct.unpack_from("<I", data, at + 8)[0] + 1)
open(sys.argv[2], "wb").write(data)
PY
}

judge() {  # judge good|bad DESCRIPTION EXE [VERSION]
  local got=bad
  "$root/tools/check-exe.sh" "$3" "${4:-$version}" >/dev/null 2>&1 && got=good
  if [ "$got" != "$1" ]; then echo "FAIL check-exe: $2: judged $got"; failed=$((failed + 1)); fi
}

for exe in "$@"; do
  bits=32; file -b "$exe" | grep -q 'PE32+' && bits=64
  judge good "$bits-bit as built" "$exe"
  judge bad "$bits-bit with another version expected" "$exe" "$version.1"
  fixed "$exe" "$tmp/v.exe"; judge bad "$bits-bit with another version in the fixed part" "$tmp/v.exe"
  patch "$exe" "$tmp/a.exe" dll 0x40; judge bad "$bits-bit without ASLR" "$tmp/a.exe"
  patch "$exe" "$tmp/d.exe" dll 0x100; judge bad "$bits-bit without DEP" "$tmp/d.exe"
  patch "$exe" "$tmp/r.exe" file 0x1; judge bad "$bits-bit with relocations stripped" "$tmp/r.exe"
  patch "$exe" "$tmp/h.exe" dll 0x20
  if [ $bits = 64 ]; then judge bad "64-bit without high-entropy ASLR" "$tmp/h.exe"; fi
done

if [ $failed = 0 ]; then echo "check-exe: all passed"; else echo "check-exe: $failed failed"; exit 1; fi
