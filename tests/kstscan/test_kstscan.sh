#!/usr/bin/env bash
# Checks kstscan's reports and exit codes on a few images.
#   test_kstscan.sh KSTSCAN            (the host build)
#   test_kstscan.sh wine KSTSCAN.EXE   (the Windows build, under Wine)
set -u
scan=("$@")
last=${scan[$#-1]}
[ -e "$last" ] && scan[$#-1]=$(cd "$(dirname "$last")" && pwd)/$(basename "$last")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
failures=0

expect() {  # expect NAME WANT_RC WANT_OUTPUT -- ARGS...
  local name=$1 want_rc=$2 want_out=$3
  shift 4
  local out rc
  # A Windows console ends its lines with CR LF.
  out=$("${scan[@]}" "$@" 2>&1)
  rc=$?
  out=${out//$'\r'/}
  if [ "$rc" != "$want_rc" ] || [ "$out" != "$want_out" ]; then
    echo "FAIL $name: rc $rc (want $want_rc)"
    echo "  got:  $(printf '%q' "$out")"
    echo "  want: $(printf '%q' "$want_out")"
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

printf 'head 1.07-0000-tail -0000- 2.00-0000-' > good.rom
printf 'no marker -0000x --0000 here' > none.rom
printf 'AB\x1b\\-0000-' > ctrl.rom
printf 'A\x00CD-0000-' > zero.rom
printf '%s' '-0000-1234-0000-' > early.rom
: > empty.rom
mkdir folder.rom

nl=$'\n'
open_msg='Open BIOS ROM file error/BIOS ROM file not exist.\nDownload the latest one and try again.'
none_msg='Get BIOS VERSION from BIOS ROM file fail!\nDownload the latest one and try again.'

expect version 0 'good.rom: "1.07"' -- good.rom
expect several 2 "good.rom: \"1.07\"${nl}none.rom: [-65] ${none_msg}${nl}missing.rom: [-129] ${open_msg}${nl}good.rom: \"1.07\"" \
  -- good.rom none.rom missing.rom good.rom
expect escapes 0 'ctrl.rom: "AB\x1B\\"' -- ctrl.rom
expect zero-byte 0 'zero.rom: "A"' -- zero.rom
expect marker-at-start 1 "early.rom: [-65] ${none_msg}" -- early.rom
expect empty 1 "empty.rom: [-65] ${none_msg}" -- empty.rom
expect directory 2 "folder.rom: [-129] ${open_msg}" -- folder.rom
usage=$("${scan[@]}" --help 2>/dev/null | tr -d '\r')
expect usage 3 "kstscan: no image named${nl}$usage" --
expect help 0 "$usage" -- --help
expect version 0 "kstscan 1.0.0" -- --version
expect file-named-like-an-option 2 "--help: [-129] ${open_msg}" -- -- --help
expect bad-option 3 "kstscan: unknown option --frob${nl}$usage" -- --frob
expect name-escaped 2 "bad\nname: \"1.07\": [-129] ${open_msg}" -- "bad${nl}name: \"1.07\""
expect json 2 '{"tool": "kstscan", "version": "1.0.0", "images": [
  {"file": "good.rom", "version": "1.07"},
  {"file": "none.rom", "level": "error", "code": "image-no-version", "result": -65, "message": "Get BIOS VERSION from BIOS ROM file fail!\nDownload the latest one and try again."},
  {"file": "missing.rom", "level": "error", "code": "image-missing", "result": -129, "message": "Open BIOS ROM file error/BIOS ROM file not exist.\nDownload the latest one and try again."}
]}' -- --format json good.rom none.rom missing.rom

# ---- the version's bytes, one class a row: what is escaped and how ---------------
# BYTES (printf, four of them)|SHOWN. Control bytes and 0x7F as \xHH (tab,
# line feed and carriage return too), the backslash doubled; the blank,
# the other printable bytes and every byte of 0x80 and above as they are.
while IFS='|' read -r bytes shown; do
  printf "${bytes}-0000-" >byte.rom
  expect "byte $bytes" 0 "byte.rom: \"$shown\"" -- byte.rom
done <<'EOF'
A\tB\t|A\x09B\x09
\nAB\n|\x0AAB\x0A
\rAB\r|\x0DAB\x0D
\x01\x1f\x7f\x1b|\x01\x1F\x7F\x1B
\\A\\\\|\\A\\\\
 A B| A B
\x20~!\x7e| ~!~
EOF
# Bytes of 0x80 and above are characters of code page 1252, written in
# UTF-8; 0x81, which is none, is escaped.
printf 'x\x80\xff\xa0\x81-0000-' >high.rom
expect "high bytes" 0 "$(printf 'high.rom: "\xe2\x82\xac\xc3\xbf\xc2\xa0\\x81"')" -- high.rom

# ---- the length of a name: the launcher holds 259 bytes of ImageFile, but a
# pipeline names the image by a path of its own, which may be longer ----------
d1=$(printf 'd%.0s' $(seq 120)); d2=$(printf 'e%.0s' $(seq 120))
mkdir -p "$d1/$d2"
at=$d1/$d2/$(printf 'f%.0s' $(seq 14))ROM  # 120 + 1 + 120 + 1 + 17 = 259 bytes
past=${at}X
printf 'x1.07-0000-' >"$at"
printf 'x1.07-0000-' >"$past"
expect "name of 259 bytes" 0 "${at}: \"1.07\"" -- "$at"
expect "name of 260 bytes" 0 "${past}: \"1.07\"" -- "$past"

# ---- the exit code for every mix of good and bad images --------------------------
# IMAGES|EXIT: 0 only when every image has a version, 2 when one cannot be read.
while IFS='|' read -r images want; do
  # shellcheck disable=SC2086
  "${scan[@]}" $images >/dev/null 2>&1; rc=$?
  if [ "$rc" = "$want" ]; then echo "ok   exit $want for $images"; else
    echo "FAIL exit for $images: $rc (want $want)"; failures=$((failures + 1)); fi
done <<EOF
good.rom|0
good.rom ctrl.rom good.rom|0
none.rom|1
missing.rom|2
early.rom|1
folder.rom|2
$past|0
none.rom good.rom|1
good.rom none.rom|1
good.rom missing.rom good.rom|2
missing.rom good.rom|2
none.rom missing.rom none.rom|2
good.rom $past|0
EOF

[ "$failures" = 0 ] || { echo "kstscan: $failures failed"; exit 1; }
echo "kstscan: all passed"
