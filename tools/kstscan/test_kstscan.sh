#!/usr/bin/env bash
# Checks kstscan's reports and exit codes on a few images.
#   test_kstscan.sh KSTSCAN            (the host build)
#   test_kstscan.sh wine KSTSCAN.EXE   (the Windows build, under Wine)
set -u
scan=("$@")
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
open_msg="Open BIOS ROM file error/BIOS ROM file not exist.${nl}Download the latest one and try again."
none_msg="Get BIOS VERSION from BIOS ROM file fail!${nl}Download the latest one and try again."

expect version 0 'good.rom: "1.07"' -- good.rom
expect several 1 "good.rom: \"1.07\"${nl}none.rom: [-65] ${none_msg}${nl}missing.rom: [-129] ${open_msg}${nl}good.rom: \"1.07\"" \
  -- good.rom none.rom missing.rom good.rom
expect escapes 0 'ctrl.rom: "AB\x1B\\"' -- ctrl.rom
expect zero-byte 0 'zero.rom: "A"' -- zero.rom
expect marker-at-start 1 "early.rom: [-65] ${none_msg}" -- early.rom
expect empty 1 "empty.rom: [-65] ${none_msg}" -- empty.rom
expect directory 1 "folder.rom: [-129] ${open_msg}" -- folder.rom
long=$(printf 'x%.0s' $(seq 300))
expect long-name 1 "${long}: name longer than 259 bytes" -- "$long"
expect usage 2 "usage: kstscan IMAGE...${nl}Prints the BIOS version the launcher would show for each image." --

[ "$failures" = 0 ] || { echo "kstscan: $failures failed"; exit 1; }
echo "kstscan: all passed"
