#!/usr/bin/env bash
# End-to-end cases: the real KSTGATE.exe under Wine against the sample
# flasher and probe, with the driver answering boxes as a user would.
# Usage: e2e.sh WINDOWS_BUILD_DIR [CASE...]
# The sample programs and the driver come from WINDOWS_BUILD_DIR; the
# launcher under test is KST_LAUNCHER when set (another build's, or a
# release's), else the one of WINDOWS_BUILD_DIR. KST_PLANTED_DLL names the
# planted DLL of the launcher's architecture (default: the build's own).
set -u
BUILD=$(cd "$1" && pwd)
shift
HERE=$(cd "$(dirname "$0")" && pwd)
. "$HERE/lib.sh"

HELP='BOX Help|WinKestrom Loader v1.0\n\nOptions:\n  <filename>\tThe filename and the params of WinKestrom|OK'
CONFIRM='BOX Confirm to Upgrade|The BIOS VERSION of this machine is : "1.05",\nThe BIOS VERSION to upgrade is : "1.07".\nDo you want to continue?|YES,NO'
BUSY='Please wait when flashing BIOS...'

passed=0
failed=0
FAILS=""
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then :; else
    echo "    not as expected: $1"
    CASE_OK=0
  fi
}
has() { grep -qxF -- "$1" <<<"$OUT"; }
nobox() { ! grep -q '^BOX' <<<"$OUT"; }
exit_is() { has "EXIT $1"; }
# Waits until every program of the case has ended (a flasher may outlive
# the launcher); the run keeps its server and the system's own processes.
settle() { e2e_settle "$SETTLE_SECONDS"; }
# What a case's programs are given to end after the case: a flasher the
# launcher leaves alone ends by itself (-life 9000) well within it; one
# meant to be taken over that was not ($LIFE) does not.
SETTLE_SECONDS=15

t_help_empty() {
  case_dir help_empty; drive "-" ""
  check "help box" has "$HELP"; check "exit -1" exit_is -1
}
t_help_blank() {
  case_dir help_blank; drive "-" "   	 "
  check "help box" has "$HELP"; check "exit -1" exit_is -1
}
t_missing_ini() {
  case_dir missing_ini; full_setup; rm "$CASE/KESTROM.INI"; drive "-" "WINKESTROM.EXE"
  check "text" has 'BOX Loading Fail|Load KESTROM.INI fail.\nMake sure KSTGATE is in the same directory of WinKestrom.|OK'
  check "exit -33" exit_is -33
}
t_full_success() {
  case_dir full_success; full_setup
  RUN_DIR=$E2E_ROOT drive "YES" "WINKESTROM.EXE -flashms 300 \"two words\""
  check "confirmation" has "$CONFIRM"; check "exit 0" exit_is 0
  check "only one box" test "$(grep -c '^BOX' <<<"$OUT")" = 1
  check "backup deleted" test ! -e "$CASE/BIOS.BAK"
  check "gid deleted" test ! -e "$CASE/WINKESTROM.GID"
  check "BV deleted" test ! -e "$CASE/BV"
  local log; log=$(tr -d '\r' <"$CASE/FLASHER.LOG")
  check "tail is the flasher's command line" grep -qxF 'CMDLINE WINKESTROM.EXE -flashms 300 "two words"' <<<"$log"
  local during after c
  during=$(sed -n '/^COMMAND/,/^END/p' <<<"$log")
  after=$(sed -n '/^END/,$p' <<<"$log")
  check "busy caption during the command" grep -qxF "COMMAND $BUSY" <<<"$during"
  for c in "Button 101 0" "Button 102 0" "Edit 201 0" "Edit 202 0" "Static 301 1" "ListBox 401 1"; do
    check "during: $c" grep -qxF "CTRL $c" <<<"$during"
  done
  check "caption restored" grep -qxF "END Vesmar WinKestrom" <<<"$after"
  for c in "Button 101 1" "Button 102 1" "Edit 201 1" "Edit 202 1" "Static 301 1" "ListBox 401 1"; do
    check "after: $c" grep -qxF "CTRL $c" <<<"$after"
  done
}
t_second_instance() {
  case_dir second_instance; full_setup; drive "SECOND+NO" "WINKESTROM.EXE"
  check "second ends with 0" has "SECOND 0"; check "exit 1" exit_is 1
  check "one box only" test "$(grep -c '^BOX' <<<"$OUT")" = 1
}
t_decline() {
  case_dir decline; full_setup; drive "NO" "WINKESTROM.EXE"
  check "confirmation" has "$CONFIRM"; check "exit 1" exit_is 1
  check "flasher never started" test ! -e "$CASE/FLASHER.LOG"
}
t_settings_override() {
  case_dir settings_override; full_setup
  printf '[UI]\r\nTitle = Other Flasher \r\n[Main]\r\nBackupFile=MY.BAK\r\nImageFile=NEW.ROM\r\n' >"$CASE/KESTROM.INI"
  printf 'xxR2.0-0000-' >"$CASE/NEW.ROM"
  drive "YES" "WINKESTROM.EXE -caption \"other FLASHER\""
  check "image override read" grep -qF '"R2.0"' <<<"$OUT"
  check "exit 0" exit_is 0
  check "configured backup deleted" test ! -e "$CASE/MY.BAK"
  check "default backup name not used" test ! -e "$CASE/BIOS.BAK"
}
t_settings_case_section() {
  case_dir settings_case; full_setup
  printf '[ui]\r\nTitle=Other\r\n' >"$CASE/KESTROM.INI"
  drive "YES" "WINKESTROM.EXE"
  check "defaults kept: default caption found" exit_is 0
}
t_wrong_caption() {
  case_dir wrong_caption; full_setup
  local t0=$SECONDS
  drive "YES" "WINKESTROM.EXE -caption \"Vesmar WinKestrom 2\" -life 9000"
  check "text" has 'BOX Incorrect|The WinKestrom seems not correct.\nMake sure the WinKestrom is the correct version.|OK'
  check "exit -3" exit_is -3
  check "about five seconds" test $((SECONDS - t0)) -ge 5
  check "nothing flashed" test ! -e "$CASE/BIOS.BAK"
}
t_late_hidden_window() {
  case_dir late_hidden; full_setup; drive "YES" "WINKESTROM.EXE -delay 3000 -hidden"
  check "exit 0" exit_is 0
  check "commanded" grep -q "^COMMAND $BUSY" "$CASE/FLASHER.LOG"
}
t_no_button() {
  case_dir no_button; full_setup; drive "YES" "WINKESTROM.EXE -no101 -life 3000"
  check "text" has 'BOX Not Found|Could not find the "Flash BIOS" button.\nMake sure the WinKestrom is the correct version.|OK'
  check "exit -5" exit_is -5
}
t_missing_flasher() {
  case_dir missing_flasher; full_setup; rm "$CASE/WINKESTROM.EXE"; drive "YES" "NOSUCHFL.EXE"
  check "text" has 'BOX Loading Fail|Load WinKestrom fail.\nMake sure KSTGATE is in the same directory of WinKestrom.|OK'
  check "exit -2" exit_is -2
}
t_probe_failures() {
  case_dir probe_section; full_setup; KST_PROBE_SECTION=XX drive "-" "WINKESTROM.EXE"
  check "wrong section -9" has 'BOX Get BIOS Version Fail|Get BIOS VERSION from this machine fail!\nDownload the latest one and try again.|OK'
  check "exit -9" exit_is -9
  check "answer deleted" test ! -e "$CASE/BV"
  case_dir probe_65531; full_setup; KST_PROBE_EXIT=65531 drive "-" "WINKESTROM.EXE"
  check "65531: exit -9" exit_is -9; check "65531: BV left" test -e "$CASE/BV"
  case_dir probe_missing; full_setup; rm "$CASE/BIOSVER.EXE"; drive "-" "WINKESTROM.EXE"
  check "missing probe text" has 'BOX Get BIOS Version Fail|Load BIOSVER.EXE fail!\nDownload the latest one and try again.|OK'
  check "missing probe -33" exit_is -33
  case_dir probe_stale; full_setup; printf '[BV]\r\nBV=OLD1\r\n' >"$CASE/BV"; KST_PROBE_NOFILE=1 drive "-" "WINKESTROM.EXE"
  check "stale answer not taken" exit_is -9; check "stale answer gone" test ! -e "$CASE/BV"
}
t_image_failures() {
  case_dir image_missing; full_setup; rm "$CASE/FLASHABL.ROM"; drive "-" "WINKESTROM.EXE"
  check "missing image text" has 'BOX Get BIOS Version Fail|Open BIOS ROM file error/BIOS ROM file not exist.\nDownload the latest one and try again.|OK'
  check "missing image -129" exit_is -129
  case_dir image_nomarker; full_setup; head -c 5000 /dev/urandom | tr -d '-' >"$CASE/FLASHABL.ROM"; drive "-" "WINKESTROM.EXE"
  check "no marker text" has 'BOX Get BIOS Version Fail|Get BIOS VERSION from BIOS ROM file fail!\nDownload the latest one and try again.|OK'
  check "no marker -65" exit_is -65
}

LOADING_INI='BOX Loading Fail|Load KESTROM.INI fail.\nMake sure KSTGATE is in the same directory of WinKestrom.|OK'
# A flasher whose window is not taken over ends by itself after this.
LIFE="-life 30000"
gone() { local f; for f in "$@"; do [ ! -e "$CASE/$f" ] || return 1; done; }

# long_line COUNT SUB: COUNT bytes without a line break: letters and "=",
# a zero byte every seventh byte and, when SUB is 1, a 0x1A byte at the
# middle.
long_line() {
  LC_ALL=C awk -v n="$1" -v sub_at="$(($2 ? $1 / 2 : -1))" 'BEGIN {
    for (i = 0; i < n; i++) {
      if (i == sub_at) printf "%c", 26
      else if (i % 7 == 3) printf "%c", 0
      else if (i % 11 == 5) printf "="
      else printf "%c", 97 + i % 26
    }
  }'
}

# long_line_case NAME SUB LABEL FLASHER_ARGS CAPTION: an ImageFile setting,
# then a long line (with a 0x1A byte when SUB is 1), then a Title; the run
# must read the image setting and command the flasher with CAPTION.
long_line_case() {
  case_dir "$1"; full_setup; printf 'xxR2.0-0000-' >"$CASE/NEW.ROM"
  { printf '[Main]\r\nImageFile=NEW.ROM\r\n[UI]\r\nJunk='; long_line 99995 "$2"
    printf '\r\nTitle=Long Line Flasher\r\n'; } >"$CASE/KESTROM.INI"
  snapshot "$CASE"; drive "YES" "WINKESTROM.EXE $LIFE $4"
  check "$3: image before it read" grep -qF '"R2.0"' <<<"$OUT"
  check "$3: exit 0" exit_is 0
  check "$3: flasher commanded" grep -qF "END $5" "$CASE/FLASHER.LOG"
  check "$3: nothing else changed" tree_same FLASHER.LOG
}

# Settings files that are noise, hold a very long line, or are no file.
t_settings_hostile() {
  # Noise is read up to its first 0x1A byte and holds no setting, so the
  # defaults find the default flasher.
  case_dir ini_noise; full_setup; noise 7 65536 >"$CASE/KESTROM.INI"
  snapshot "$CASE"; drive "YES" "WINKESTROM.EXE $LIFE"
  check "noise: confirmation" has "$CONFIRM"; check "noise: exit 0" exit_is 0
  check "noise: leftovers deleted" gone BIOS.BAK WINKESTROM.GID BV
  check "noise: nothing else changed" tree_same FLASHER.LOG

  # Without 0x1A all 64 KiB are read, and a Title after them still counts.
  case_dir ini_noise_title; full_setup
  { noise 11 65536 | tr -d '\032'; printf '\r\n[UI]\r\nTitle=Noisy Flasher\r\n'; } >"$CASE/KESTROM.INI"
  snapshot "$CASE"; drive "YES" "WINKESTROM.EXE $LIFE -caption \"noisy FLASHER\""
  check "noise, then Title: exit 0" exit_is 0
  check "noise, then Title: flasher commanded" grep -qF "END noisy FLASHER" "$CASE/FLASHER.LOG"
  check "noise, then Title: leftovers deleted" gone BIOS.BAK WINKESTROM.GID BV
  check "noise, then Title: nothing else changed" tree_same FLASHER.LOG

  # A 100,000-byte line with zero bytes is read piece by piece: the setting
  # before it and the Title after it both count.
  long_line_case ini_long_line 0 "long line" "-caption \"Long Line Flasher\"" "Long Line Flasher"
  # The same line with a 0x1A byte in it: nothing after that byte is read,
  # so the Title after the line is not seen and the default caption holds.
  long_line_case ini_long_line_sub 1 "0x1A" "" "Vesmar WinKestrom"

  case_dir ini_directory; full_setup; rm "$CASE/KESTROM.INI"; mkdir "$CASE/KESTROM.INI"
  printf '[UI]\r\nTitle=Inside\r\n' >"$CASE/KESTROM.INI/KESTROM.INI"
  snapshot "$CASE"; drive "-" "WINKESTROM.EXE"
  check "directory: text" has "$LOADING_INI"; check "directory: exit -33" exit_is -33
  check "directory: only one box" test "$(grep -c '^BOX' <<<"$OUT")" = 1
  check "directory: nothing changed" tree_same
}

# A probe that is no program, an answer file of noise, an image that is a
# directory.
t_checks_hostile() {
  case_dir probe_empty; full_setup; : >"$CASE/BIOSVER.EXE"
  snapshot "$CASE"; drive "-" "WINKESTROM.EXE"
  check "empty probe: text" has 'BOX Get BIOS Version Fail|Load BIOSVER.EXE fail!\nDownload the latest one and try again.|OK'
  check "empty probe: exit -33" exit_is -33
  check "empty probe: nothing changed" tree_same

  local raw=$E2E_ROOT/cases/bv_noise.bin
  noise 23 65536 >"$raw"
  case_dir bv_noise; full_setup
  snapshot "$CASE"; KST_PROBE_RAW=$(winpath "$raw") drive "-" "WINKESTROM.EXE"
  check "noise answer: text" has 'BOX Get BIOS Version Fail|Get BIOS VERSION from this machine fail!\nDownload the latest one and try again.|OK'
  check "noise answer: exit -9" exit_is -9
  check "noise answer: deleted" gone BV
  check "noise answer: nothing else changed" tree_same

  # All of a noise answer without 0x1A is read, and the answer after it counts.
  { noise 29 65536 | tr -d '\032'; printf '\r\n[BV]\r\nBV=2.34\r\n'; } >"$raw"
  case_dir bv_noise_answer; full_setup
  snapshot "$CASE"; KST_PROBE_RAW=$(winpath "$raw") drive "NO" "WINKESTROM.EXE"
  check "noise, then answer: version read" grep -qF 'this machine is : "2.34"' <<<"$OUT"
  check "noise, then answer: exit 1" exit_is 1
  check "noise, then answer: deleted" gone BV
  check "noise, then answer: nothing else changed" tree_same

  case_dir image_directory; full_setup; rm "$CASE/FLASHABL.ROM"; mkdir "$CASE/FLASHABL.ROM"
  { head -c 20 /dev/zero; printf '1.07-0000-'; } >"$CASE/FLASHABL.ROM/FLASHABL.ROM"
  snapshot "$CASE"; drive "-" "WINKESTROM.EXE"
  check "image directory: text" has 'BOX Get BIOS Version Fail|Open BIOS ROM file error/BIOS ROM file not exist.\nDownload the latest one and try again.|OK'
  check "image directory: exit -129" exit_is -129
  check "image directory: answer deleted" gone BV
  check "image directory: nothing else changed" tree_same
}

# The backup file is deleted only inside the launcher's folder: one named
# outside it stays where the flasher left it, and one in a sub-folder goes.
t_backup_file() {
  local top=$E2E_ROOT/cases/backup_outside
  rm -rf "$top"; case_dir backup_outside/gate; full_setup
  mkdir "$top/other"
  printf '[UI]\r\nTitle=Vesmar WinKestrom\r\n[Main]\r\nBackupFile=..\\other\\BIOS.BAK\r\n' >"$CASE/KESTROM.INI"
  printf 'own backup\r\n' >"$CASE/BIOS.BAK"
  printf 'old backup\r\n' >"$top/other/BIOS.BAK"
  printf 'keep\r\n' >"$top/other/BIOS.BAK.1"
  printf 'keep\r\n' >"$top/other/WINKESTROM.GID"
  snapshot "$top"; drive "YES" "WINKESTROM.EXE $LIFE"
  check "outside: exit 0" exit_is 0
  check "outside: only one box" test "$(grep -c '^BOX' <<<"$OUT")" = 1
  check "outside: the flasher's backup there is left in place" test -e "$top/other/BIOS.BAK"
  check "outside: own leftover deleted" gone WINKESTROM.GID
  check "outside: nothing else changed" tree_same FLASHER.LOG "$top/other/BIOS.BAK"

  # An absolute name, in a directory that does not exist: nothing to delete
  # and no word about it.
  rm -rf "$top"; case_dir backup_outside/gate; full_setup
  mkdir "$top/other"; printf 'keep\r\n' >"$top/other/BIOS.BAK"
  printf 'own backup\r\n' >"$CASE/BIOS.BAK"
  printf '[UI]\r\nTitle=Vesmar WinKestrom\r\n[Main]\r\nBackupFile=%s\r\n' "$(winpath "$top/nowhere/BIOS.BAK")" >"$CASE/KESTROM.INI"
  snapshot "$top"; drive "YES" "WINKESTROM.EXE $LIFE"
  check "absolute: exit 0" exit_is 0
  check "absolute: only one box" test "$(grep -c '^BOX' <<<"$OUT")" = 1
  check "absolute: own leftover deleted" gone WINKESTROM.GID
  check "absolute: nothing else changed" tree_same FLASHER.LOG

  case_dir backup_subfolder; full_setup; mkdir "$CASE/BACKUP"
  printf '[UI]\r\nTitle=Vesmar WinKestrom\r\n[Main]\r\nBackupFile=BACKUP\\OLD.BIN\r\n' >"$CASE/KESTROM.INI"
  printf 'own backup\r\n' >"$CASE/BIOS.BAK"
  snapshot "$CASE"; drive "YES" "WINKESTROM.EXE $LIFE"
  check "sub-folder: exit 0" exit_is 0
  check "sub-folder: the backup there deleted" gone BACKUP/OLD.BIN WINKESTROM.GID
  check "sub-folder: nothing else changed" tree_same FLASHER.LOG
}

# start_other NAME: another program's dialog, a sample flasher of the same
# caption started hidden from a folder of its own before the launcher runs;
# waits until its dialog is there.
start_other() {
  OTHER=$E2E_ROOT/cases/$1
  rm -rf "$OTHER"; mkdir -p "$OTHER"
  cp "$BUILD/tests/programs/sample-flasher/WINKESTROM.exe" "$OTHER/OTHERFL.EXE"
  (cd "$OTHER" && exec wine OTHERFL.EXE -hidden -life 60000 </dev/null >/dev/null 2>&1 &)
  local _
  for _ in $(seq 300); do
    grep -qx READY "$OTHER/FLASHER.LOG" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "    the other flasher did not start"
  return 1
}
# stop_other: ends the other flasher (Wine's taskkill does not find it by name).
stop_other() {
  local pid
  for pid in $(e2e_programs | awk '$2 == "OTHERFL.EXE" { print $1 }'); do kill -KILL "$pid" 2>/dev/null; done
}
# untouched DIR [locked]: the sample flasher in DIR logged nothing after its
# dialog was ready: not shown, no caption set, nothing enabled or disabled,
# no command; with "locked", but for the launcher's lock of the dialog while
# it judged it, undone.
untouched() {
  local after
  after=$(sed '1,/^READY$/d' "$1/FLASHER.LOG")
  if [ "${2:-}" = locked ]; then
    [ "$(grep '^ENABLE DIALOG' <<<"$after" | tail -n 1)" != "ENABLE DIALOG 0" ] || after="the dialog left locked"
    after=$(grep -v '^ENABLE DIALOG' <<<"$after")
  fi
  [ -z "$after" ] && return 0
  sed 's/^/    logged: /' <<<"$after"
  return 1
}
# pressed_after LINE: the flasher's log has LINE before the first Flash BIOS
# command.
pressed_after() {
  local at cmd
  at=$(grep -nxF -- "$1" "$CASE/FLASHER.LOG" | head -n 1 | cut -d: -f1)
  cmd=$(grep -n '^WMCOMMAND 101 0$' "$CASE/FLASHER.LOG" | head -n 1 | cut -d: -f1)
  [ -n "$at" ] && [ -n "$cmd" ] && [ "$at" -lt "$cmd" ]
}

# Another program's dialog with the flasher's caption, there before the
# launcher starts: the launcher takes over only the flasher it started.
t_other_flasher() {
  case_dir other_flasher; full_setup
  if start_other other_flasher_other; then
    drive "YES" "WINKESTROM.EXE -delay 1000 $LIFE"
    check "exit 0" exit_is 0
    check "own flasher commanded" grep -qxF "COMMAND $BUSY" "$CASE/FLASHER.LOG"
    check "leftovers deleted" gone BIOS.BAK WINKESTROM.GID
    check "the other dialog untouched" untouched "$OTHER"
  else
    CASE_OK=0
  fi
  stop_other

  # Only the other dialog has the caption: the launcher gives up.
  case_dir other_only; full_setup
  if start_other other_only_other; then
    drive "YES" "WINKESTROM.EXE -caption \"Not The Title\" -life 9000"
    check "text" has 'BOX Incorrect|The WinKestrom seems not correct.\nMake sure the WinKestrom is the correct version.|OK'
    check "exit -3" exit_is -3
    check "the other dialog untouched" untouched "$OTHER"
  else
    CASE_OK=0
  fi
  stop_other
}

# A Flash BIOS button (or dialog) the flasher keeps disabled is never
# pressed; one the flasher enables later is pressed after that.
t_disabled_button() {
  case_dir button_never; full_setup
  drive "YES" "WINKESTROM.EXE -disable101 0 -life 9000"
  check "never: text" has 'BOX Not Found|Could not find the "Flash BIOS" button.\nMake sure the WinKestrom is the correct version.|OK'
  check "never: exit -5" exit_is -5
  check "never: the dialog untouched, no command" untouched "$CASE"
  check "never: nothing flashed" test ! -e "$CASE/BIOS.BAK"

  case_dir button_late; full_setup
  drive "YES" "WINKESTROM.EXE -disable101 1500 $LIFE"
  check "button late: exit 0" exit_is 0
  check "button late: pressed once enabled" pressed_after "SELF ENABLE 101"
  check "button late: busy caption during the command" grep -qxF "COMMAND $BUSY" "$CASE/FLASHER.LOG"

  case_dir dialog_late; full_setup
  drive "YES" "WINKESTROM.EXE -disabledlg 1500 $LIFE"
  check "dialog late: exit 0" exit_is 0
  check "dialog late: pressed once enabled" pressed_after "SELF ENABLE DIALOG"
}

# A flasher that shows its dialog and goes on setting it up: the dialog is
# judged once that is done, so a button that the set-up disables at its end
# is never pressed.
t_slow_setup() {
  case_dir setup_disables; full_setup
  drive "YES" "WINKESTROM.EXE -setupms 1500 -setupdisable -life 9000"
  check "disabled by the set-up: text" has 'BOX Not Found|Could not find the "Flash BIOS" button.\nMake sure the WinKestrom is the correct version.|OK'
  check "disabled by the set-up: exit -5" exit_is -5
  check "disabled by the set-up: the dialog untouched, no command" untouched "$CASE"

  # The same set-up run from a timer once the dialog is up.
  case_dir setup_timer; full_setup
  drive "YES" "WINKESTROM.EXE -setuptimer 400 -setupdisable -life 9000"
  check "set-up from a timer: exit -5" exit_is -5
  check "set-up from a timer: the dialog untouched, no command" untouched "$CASE" locked

  # A box of its own before its dialog, captioned as the dialog, answered after 2 s.
  case_dir box_first; full_setup
  drive "YES" "WINKESTROM.EXE -prebox 2000 $LIFE"
  check "box first: exit 0" exit_is 0
  check "box first: pressed" grep -qxF "COMMAND $BUSY" "$CASE/FLASHER.LOG"

  case_dir setup_enabled; full_setup
  drive "YES" "WINKESTROM.EXE -setupms 1500 $LIFE"
  check "set-up ends enabled: exit 0" exit_is 0
  check "set-up ends enabled: busy caption during the command" grep -qxF "COMMAND $BUSY" "$CASE/FLASHER.LOG"
}

# Packages that start the flasher through something in front of it: a
# dispatcher that waits for it or ends at once, or a batch file that the
# command interpreter runs. The dialog belongs to a process that the started
# one started; the launcher takes it over, and waits for that process too
# before it deletes the leftovers (which this flasher writes again as it
# ends, with an exit code that reads as "still active").
t_wrapper() {
  local mode
  for mode in wait nowait; do
    case_dir "wrapper_$mode"; full_setup
    cp "$BUILD/tests/programs/wrapper/KSTWRAP.exe" "$CASE/KSTWRAP.EXE"
    drive "YES" "KSTWRAP.EXE -$mode WINKESTROM.EXE -gidatexit -exit 259 $LIFE"
    check "$mode: exit 0" exit_is 0
    check "$mode: taken over" grep -qxF "COMMAND $BUSY" "$CASE/FLASHER.LOG"
    settle
    check "$mode: leftovers deleted after the flasher's end" gone BIOS.BAK WINKESTROM.GID
  done

  case_dir batch_file; full_setup
  printf '@echo off\r\nWINKESTROM.EXE -gidatexit %%*\r\n' >"$CASE/FLASH.CMD"
  drive "YES" "FLASH.CMD $LIFE"
  check "batch file: exit 0" exit_is 0
  check "batch file: the flasher got its arguments" grep -qxF "CMDLINE WINKESTROM.EXE -gidatexit $LIFE" "$CASE/FLASHER.LOG"
  check "batch file: taken over" grep -qxF "COMMAND $BUSY" "$CASE/FLASHER.LOG"
  settle
  check "batch file: leftovers deleted after the flasher's end" gone BIOS.BAK WINKESTROM.GID
}

# A package in a folder named in letters code page 1252 lacks, started from
# a parent whose current directory is elsewhere, runs in its own folder.
t_cyrillic_folder() {
  case_dir "Обновление BIOS"; full_setup
  RUN_DIR=$E2E_ROOT LANG=C.UTF-8 LC_ALL=C.UTF-8 drive "YES" "WINKESTROM.EXE $LIFE"
  check "confirmation" has "$CONFIRM"
  check "exit 0" exit_is 0
  check "flasher run in the folder" grep -qxF "COMMAND $BUSY" "$CASE/FLASHER.LOG"
  check "leftovers deleted" gone BIOS.BAK WINKESTROM.GID BV
}

# The console tool of the Windows build reports as the host build does.
t_kstscan_windows() {
  OUT=$(bash "$HERE/../kstscan/test_kstscan.sh" wine "$BUILD/tools/kstscan/kstscan.exe" 2>&1)
  check "kstscan.exe reports" grep -qxF "kstscan: all passed" <<<"$OUT"
}

# kstscan.exe takes the system's code page, as the launcher does: under 932
# a version whose trail byte is a backslash (0x95 0x5C) is one character
# (U+8868, shown in UTF-8), under 1252 the same bytes are two characters and
# the backslash is escaped.
t_kstscan_932() {
  if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
    echo "    ja_JP.UTF-8 locale missing"; CASE_OK=0; return
  fi
  local dir=$E2E_ROOT/cases/kstscan_932 scan=$BUILD/tools/kstscan/kstscan.exe want
  rm -rf "$dir"; mkdir -p "$dir"
  printf 'x\x95\x5cAB-0000-' >"$dir/IMAGE.ROM"
  OUT=$(cd "$dir" && LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 wine "$scan" IMAGE.ROM 2>/dev/null | tr -d '\r')
  want=$(printf 'IMAGE.ROM: "\xe8\xa1\xa8AB"')
  check "932: the double-byte character whole" test "$OUT" = "$want"
  OUT=$(cd "$dir" && LANG=C.UTF-8 LC_ALL=C.UTF-8 wine "$scan" IMAGE.ROM 2>/dev/null | tr -d '\r')
  want=$(printf 'IMAGE.ROM: "\xe2\x80\xa2\\\\AB"')
  check "1252: the backslash escaped" test "$OUT" = "$want"
}

# The package checker of the Windows build reports as the host build does,
# on a dialog program of the resource compiler too.
t_kstcheck_windows() {
  OUT=$(KST_DIALOG_PROGRAM=$BUILD/tests/kstcheck/kstdialogs.exe \
    bash "$HERE/../kstcheck/test_kstcheck.sh" wine "$BUILD/tools/kstcheck/kstcheck.exe" 2>&1)
  check "kstcheck.exe reports" grep -qE '^kstcheck: all [0-9]+ passed$' <<<"$OUT"
  check "dialogs of the resource compiler read" grep -qxF 'ok   rc-dialogs' <<<"$OUT"
}

# kstcheck_run DIR: the Windows package checker on DIR, named from the
# cases' folder; its output and "EXIT n" in $OUT.
kstcheck_run() {
  OUT=$(cd "$E2E_ROOT/cases" && LANG=C.UTF-8 LC_ALL=C.UTF-8 wine "$BUILD/tools/kstcheck/kstcheck.exe" "$1" 2>&1
    echo "EXIT $?")
  OUT=${OUT//$'\r'/}
}

# It checks a package in a folder named in letters code page 1252 lacks.
t_kstcheck_cyrillic() {
  case_dir "Пакет BIOS"; full_setup
  kstcheck_run "Пакет BIOS"
  check "exit 0" exit_is 0
  check "the image read" has $'ok\timage\t-\t"FLASHABL.ROM": version "1.07", marker at offset 2004 (0x7D4)'
}

# A BackupFile that is the image's short name (the system's own alias of a
# name longer than 8.3) names the image, which the launcher would delete.
t_kstcheck_short_name() {
  case_dir kstcheck_short; full_setup; mv "$CASE/FLASHABL.ROM" "$CASE/FLASHIMAGE.ROM"
  local short
  short=$(cd "$CASE" && wine cmd /c dir /x FLASHIMAGE.ROM 2>/dev/null | tr -d '\r' |
    awk '$NF == "FLASHIMAGE.ROM" && $(NF - 1) ~ /~/ { print $(NF - 1) }')
  printf '[Main]\r\nImageFile=FLASHIMAGE.ROM\r\nBackupFile=%s\r\n' "$short" >"$CASE/KESTROM.INI"
  kstcheck_run kstcheck_short
  check "the image has a short name" test -n "$short"
  check "exit 1" exit_is 1
  check "the backup is the image" has "$(printf 'error\tsettings\tbackup-package-file\tline 3: BackupFile "%s" names the package'"'"'s image: the launcher deletes that file after every flash' "$short")"
}

# Code page 932: the launcher's own directory holds U+8868, whose second
# byte is a backslash (0x5C), and the Title is double-byte text.
t_dbcs_932() {
  if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
    echo "    ja_JP.UTF-8 locale missing"; CASE_OK=0; return
  fi
  case_dir "dbcs/表示"; full_setup
  local title="表示テスト"
  { printf '[UI]\r\nTitle='; printf '%s' "$title" | iconv -f UTF-8 -t CP932; printf '\r\n'; } >"$CASE/KESTROM.INI"
  RUN_DIR=$E2E_ROOT LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 drive "YES" "WINKESTROM.EXE -caption $title"
  check "exit 0" exit_is 0
  check "settings read in its own directory" test -e "$CASE/FLASHER.LOG"
  check "leftovers deleted" test ! -e "$CASE/BIOS.BAK"
  check "caption restored" grep -qF "END $(printf '%s' "$title" | iconv -f UTF-8 -t CP932)" "$CASE/FLASHER.LOG"
}

pe_bits() { case $(file -b "$1") in PE32+*) echo 64 ;; PE32*) echo 32 ;; esac; }

# A DLL planted beside the launcher under the name of one that the system
# loads by bare name for themed message boxes, with Wine told to prefer such
# a DLL to its own: the launcher never runs its code. The sample flasher in
# the same folder does not restrict its DLL search, so where it has the
# DLL's architecture it shows that the plant is live.
t_planted_dll() {
  local dll=${KST_PLANTED_DLL:-$BUILD/tests/programs/planted-dll/uxtheme.dll}
  case_dir planted_dll; full_setup; cp "$dll" "$CASE/uxtheme.dll"
  WINEDLLOVERRIDES="$E2E_DLL_OVERRIDES;uxtheme=n,b" drive "YES" "WINKESTROM.EXE $LIFE"
  check "confirmation" has "$CONFIRM"; check "exit 0" exit_is 0
  check "the launcher never ran the planted DLL" test ! -e "$CASE/PLANTED-KSTGATE.exe.TXT"
  if [ "$(pe_bits "$dll")" = "$(pe_bits "$CASE/WINKESTROM.EXE")" ]; then
    check "the plant is live: the flasher ran it" test -e "$CASE/PLANTED-WINKESTROM.EXE.TXT"
  fi
}

cases=("$@")
[ ${#cases[@]} -eq 0 ] && cases=(help_empty help_blank missing_ini full_success second_instance decline
  settings_override settings_case_section wrong_caption late_hidden_window no_button missing_flasher
  probe_failures image_failures settings_hostile checks_hostile backup_file other_flasher disabled_button
  slow_setup wrapper cyrillic_folder kstscan_windows kstscan_932 kstcheck_windows kstcheck_cyrillic
  kstcheck_short_name dbcs_932 planted_dll)

e2e_setup
trap e2e_teardown EXIT
echo "launcher: $E2E_LAUNCHER ($(file -b "$E2E_LAUNCHER" | cut -d, -f1))"
for name in "${cases[@]}"; do
  CASE_OK=1
  OUT=""
  "t_$name"
  # Every program the case started ends within its time; one that is still
  # running then fails the case, and is ended.
  if ! settle; then
    echo "    programs left running: $(e2e_programs | cut -d' ' -f2- | sort | paste -sd' ')"
    CASE_OK=0
    e2e_end_programs || echo "    and they could not be ended"
  fi
  if [ $CASE_OK = 1 ]; then
    passed=$((passed + 1)); echo "ok   $name"
  else
    failed=$((failed + 1)); echo "FAIL $name"; sed 's/^/    | /' <<<"$OUT"
  fi
done
echo "e2e: $passed passed, $failed failed"
[ $failed = 0 ]
