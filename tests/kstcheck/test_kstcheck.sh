#!/usr/bin/env bash
# Checks kstcheck's findings and exit codes on packages built in a scratch
# directory, and that no run changes a file there (a listing with checksums
# before and after every run).
#   test_kstcheck.sh KSTCHECK              (the host build)
#   test_kstcheck.sh wine KSTCHECK.EXE     (the Windows build, under Wine)
# KST_DIALOG_PROGRAM may name a Windows program whose dialogs the resource
# compiler built (dialog 100 "Vesmar WinKestrom" with control 101); it is
# then checked as a flasher too.
set -u
here=$(cd "$(dirname "$0")" && pwd)
tool=("$@")
# The runs happen in other directories.
last=${tool[$#-1]}
[ -e "$last" ] && tool[$#-1]=$(cd "$(dirname "$last")" && pwd)/$(basename "$last")
# The default code page under Wine follows the locale.
export LC_ALL=C
# Under Wine, the server and the system's own processes are started here,
# apart from the runs' output, and the server is kept for a while after the
# last program: started by a run, they would hold its output open for
# seconds after it has ended.
if [ "${tool[0]}" = wine ]; then
  wineserver -p10 </dev/null >/dev/null 2>&1
  "${tool[@]}" --help </dev/null >/dev/null 2>&1
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
failures=0
cases=0


listing() {
  find . -type d | LC_ALL=C sort
  find . -type f -print0 | LC_ALL=C sort -z | xargs -0 -r sha256sum
}

# expect NAME RC [LINE...] -- ARGS...
# Runs kstcheck with ARGS (in directory $IN when set); it must end with RC
# and print every LINE, given
# as "LEVEL AREA TEXT" (the first two blanks stand for its tabs). A LINE
# that starts with "!" is the start of lines that must not be printed; "="
# followed by the whole output compares all of it; ">" followed by a line
# of its own (a usage message) is a line printed as it stands. Those compare
# without the CODE column; "#" is a whole line with it ("LEVEL AREA CODE
# TEXT"); "{" a Python expression that must hold for the JSON output, j.
expect() {
  local name=$1 want_rc=$2
  shift 2
  local want=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do want+=("$1"); shift; done
  shift
  local before after out rc ok=1 line
  before=$(listing)
  # A Windows console ends its lines with CR LF.
  out=$(cd "${IN:-.}" && "${tool[@]}" "$@" 2>&1)
  rc=$?
  out=${out//$'\r'/}
  local coded=$out
  out=$(sed 's/^\([a-z]*\t[a-z]*\t\)[a-z0-9-]*\t/\1/' <<<"$out")
  after=$(listing)
  cases=$((cases + 1))
  [ "$rc" = "$want_rc" ] || { echo "FAIL $name: exit code $rc (want $want_rc)"; ok=0; }
  [ "$before" = "$after" ] || { echo "FAIL $name: files changed"; diff <(echo "$before") <(echo "$after"); ok=0; }
  for line in "${want[@]}"; do
    if [ "${line:0:1}" = "=" ]; then
      [ "$out" = "$(tabs "${line:1}")" ] || {
        echo "FAIL $name: output differs (- wanted, + printed)"
        diff <(tabs "${line:1}") <(echo "$out") | sed -n 's/^[<>]/&/p' | sed 's/^</    -/; s/^>/    +/'
        ok=0
      }
      continue
    fi
    if [ "${line:0:1}" = "#" ]; then
      LC_ALL=C grep -qxF -- "$(sed 's/ /\t/' <<<"$(tabs "${line:1}")")" <<<"$coded" || { echo "FAIL $name: missing: ${line:1}"; ok=0; }
      continue
    fi
    if [ "${line:0:1}" = "{" ]; then
      python3 -c 'import json,sys; j=json.loads(sys.stdin.read()); sys.exit(0 if eval(sys.argv[1]) else 1)' "${line:1}" \
        <<<"$coded" || { echo "FAIL $name: JSON: ${line:1}"; ok=0; }
      continue
    fi
    if [ "${line:0:1}" = ">" ]; then
      LC_ALL=C grep -qxF -- "${line:1}" <<<"$out" || { echo "FAIL $name: missing: ${line:1}"; ok=0; }
      continue
    fi
    local negate=0
    [ "${line:0:1}" = "!" ] && { negate=1; line=${line:1}; }
    line=$(tabs "$line")
    if [ $negate = 1 ]; then
      ! starts_a_line "$line" "$out" || { echo "FAIL $name: printed: $line"; ok=0; }
    elif ! LC_ALL=C grep -qxF -- "$line" <<<"$out"; then
      echo "FAIL $name: missing: $line"; ok=0
    fi
  done
  if [ $ok = 1 ]; then
    echo "ok   $name"
  else
    failures=$((failures + 1))
    sed 's/^/    | /' <<<"$out"
  fi
}

# The first two blanks of each line become tabs.
tabs() { sed 's/ /\t/; s/ /\t/' <<<"$1"; }

# starts_a_line PREFIX TEXT: a line of TEXT starts with PREFIX.
starts_a_line() {
  local l
  while IFS= read -r l; do
    [[ $l == "$1"* ]] && return 0
  done <<<"$2"
  return 1
}

nl='\n'
LOADING_INI="[-33] Load KESTROM.INI fail.${nl}Make sure KSTGATE is in the same directory of WinKestrom."
LOADING_PROBE="[-33] Load BIOSVER.EXE fail!${nl}Download the latest one and try again."
OPEN_IMAGE="[-129] Open BIOS ROM file error/BIOS ROM file not exist.${nl}Download the latest one and try again."
NO_VERSION="[-65] Get BIOS VERSION from BIOS ROM file fail!${nl}Download the latest one and try again."
LOADING_FLASHER="[-2] Load WinKestrom fail.${nl}Make sure KSTGATE is in the same directory of WinKestrom."
NO_BUTTON="[-5] Could not find the \"Flash BIOS\" button.${nl}Make sure the WinKestrom is the correct version."
TITLE_DEFAULT='ok settings Title "Vesmar WinKestrom" (default)'

# ---- the good package, and copies of it with one fault each ----------------

# Every program file, written at once (python starts slowly).
mkdir pe good
python3 "$here/mkpe.py" --batch <<'EOF'
pe/probe --machine x86
pe/flasher --dialog '100:Vesmar WinKestrom:101,102,201' --dialog '200:About:1:ex'
pe/arm64 --machine arm64
pe/other-machine --machine 0x1c4
pe/dll --dll --dialog '100:Vesmar WinKestrom:101'
pe/no-button --machine x86 --dialog '100:vesmar WINKESTROM:1,2:ex'
pe/caption --dialog '100:Kestrom Flash:101' --dialog '7:About:1'
pe/no-dialogs
pe/loop --dialog '100:Vesmar WinKestrom:101' --hostile loop
pe/rsrc-past-end --dialog '100:Vesmar WinKestrom:101' --hostile rsrc-past-end
pe/many-entries --dialog '100:Vesmar WinKestrom:101' --hostile many-entries
pe/data-past-end --dialog '100:Vesmar WinKestrom:101' --dialog '200:About:1' --hostile data-past-end
pe/long-dialog --dialog '100:Vesmar WinKestrom:101,102' --hostile long-dialog
pe/no-pe --hostile no-pe
pe/cut-headers --dialog '100:Vesmar WinKestrom:101' --truncate 300
pe/cut-data --dialog '100:Vesmar WinKestrom:101' --truncate 700
pe/second-dialog --dialog '100:Vesmar WinKestrom:1' --dialog '200:About:7,101'
pe/named --dialog 'FLASHDLG:Vesmar WinKestrom:101' --dialog '200:About:1:ex'
pe/named-type --dialog '100:Vesmar WinKestrom:1' --named-type 'DIALOG:100:Other:101'
EOF
python3 "$here/mkpe.py" pe/long-name --dialog "$(printf 'N%.0s' {1..300}):Vesmar WinKestrom:101"
printf '[UI]\r\nTitle=Vesmar WinKestrom\r\n[Main]\r\nBackupFile=BIOS.BAK\r\nImageFile=FLASHABL.ROM\r\n' >good/KESTROM.INI
{ head -c 2000 /dev/zero; printf '1.07-0000-'; head -c 500 /dev/zero; } >good/FLASHABL.ROM
cp pe/probe good/BIOSVER.EXE
cp pe/flasher good/WINKESTROM.EXE
cp pe/probe good/KSTGATE.exe

# pkg NAME: a fresh copy of the good package.
pkg() { rm -rf "$1"; cp -r good "$1"; }
# ini NAME FORMAT...: a copy whose settings file printf writes.
ini() { pkg "$1"; local name=$1; shift; printf "$@" >"$name/KESTROM.INI"; }

GOOD_OUTPUT='ok settings KESTROM.INI: 5 lines, read as code page 1252
ok settings Title "Vesmar WinKestrom" (line 2)
ok settings BackupFile "BIOS.BAK" (line 4)
ok settings ImageFile "FLASHABL.ROM" (line 5)
ok probe BIOSVER.EXE: a Windows program (x86)
ok image "FLASHABL.ROM": version "1.07", marker at offset 2004 (0x7D4)
ok flasher WINKESTROM.EXE: a Windows program (x64)
ok flasher dialog 100 of WINKESTROM.EXE holds control 101, the Flash BIOS button
ok flasher the caption of dialog 100, "Vesmar WinKestrom", equals the Title, letter case aside
ok launcher KSTGATE.exe: a Windows program (x86)'
expect good 0 "=$GOOD_OUTPUT" -- good
expect good-strict 0 "=$GOOD_OUTPUT" -- --strict good
expect good-command-line 0 "=$GOOD_OUTPUT" -- good -- "WINKESTROM.EXE -flash \"two words\""
IN=good expect good-here 0 "=$GOOD_OUTPUT" --

# ---- settings ------------------------------------------------------------------

pkg ini-missing; rm ini-missing/KESTROM.INI
expect ini-missing 1 "error settings KESTROM.INI is missing: $LOADING_INI" "$TITLE_DEFAULT" \
  'ok settings ImageFile "FLASHABL.ROM" (default)' -- ini-missing
pkg ini-directory; rm ini-directory/KESTROM.INI; mkdir ini-directory/KESTROM.INI
printf '[UI]\r\nTitle=Inside\r\n' >ini-directory/KESTROM.INI/KESTROM.INI
expect ini-directory 1 "error settings KESTROM.INI is a directory: $LOADING_INI" "$TITLE_DEFAULT" -- ini-directory

# ---- byte-order marks: each kind recognised as what it is, and a file that
# only starts like one read as the 8-bit text it is ----------------------------
BOM_LINE='warning settings line 1: the file begins with a UTF-8 byte-order mark, which the launcher reads as part of the line: "[UI]" is then no section header'
UTF16_LINE='warning settings line 1: the file is UTF-16 text: the launcher reads 8-bit text only, in which every other byte of this one is zero'
NOT_UTF8='!warning settings line 1: the file begins with a UTF-8'
NOT_UTF16='!warning settings line 1: the file is UTF-16'
# Text after a mark (its own encoding for UTF-16).
MARKED='[UI]\r\nTitle=Other\r\n'
ini bom '\xef\xbb\xbf'"$MARKED"
expect bom 0 "$BOM_LINE" "$TITLE_DEFAULT" "$NOT_UTF16" '!note settings' \
  'warning settings line 2: "Title=Other" comes before any section header: the launcher never reads it' -- bom
for order in LE BE; do
  mark='\xff\xfe'; [ $order = BE ] && mark='\xfe\xff'
  pkg "utf16-$order"; { printf "$mark"; printf "$MARKED" | iconv -f UTF-8 -t "UTF-16$order"; } >"utf16-$order/KESTROM.INI"
  pkg "utf16-$order-no-mark"; printf "$MARKED" | iconv -f UTF-8 -t "UTF-16$order" >"utf16-$order-no-mark/KESTROM.INI"
  for name in "utf16-$order" "utf16-$order-no-mark"; do
    # Its zero bytes are no findings of their own, nor its high bytes; its
    # lines are those of the 8-bit text (in LE a zero byte follows the last
    # line feed, a line of its own).
    lines=2; [ $order = LE ] && lines=3
    expect "$name" 0 "$UTF16_LINE" "$TITLE_DEFAULT" "$NOT_UTF8" '!warning settings line 2' '!note settings' \
      "ok settings KESTROM.INI: $lines lines, read as code page 1252" -- "$name"
  done
done
# A mark alone is a whole mark.
ini bom-alone '\xef\xbb\xbf'
expect bom-alone 0 'ok settings KESTROM.INI: 1 line, read as code page 1252' \
  'warning settings line 1: the file begins with a UTF-8 byte-order mark, which the launcher reads as part of the line' \
  "$NOT_UTF16" '!note settings' -- bom-alone
ini utf16-alone '\xff\xfe'
expect utf16-alone 0 "$UTF16_LINE" "$NOT_UTF8" '!note settings' -- utf16-alone
# A key line after the UTF-8 mark is no header either.
ini bom-key '\xef\xbb\xbfTitle=Other\r\n'
expect bom-key 0 'warning settings line 1: the file begins with a UTF-8 byte-order mark, which the launcher reads as part of the line' \
  "$TITLE_DEFAULT" '!warning settings line 1: "' -- bom-key
# What follows the UTF-16 start in 8-bit text is read all the same.
ini utf16-then-bytes '\xff\xfe\r\n[UI]\r\nTitle=Bytes\r\n'
expect utf16-then-bytes 0 "$UTF16_LINE" 'ok settings Title "Bytes" (line 3)' -- utf16-then-bytes
# Files that only start like a mark: part of one, or another last byte.
for start in '\xef\xbb' '\xef\xbb\xbe' '\xff' '\xfe'; do
  name=like-mark-$(printf "$start" | od -An -tx1 | tr -d ' \n')
  ini "$name" "$start$MARKED"
  expect "$name" 0 "$NOT_UTF8" "$NOT_UTF16" "$TITLE_DEFAULT" \
    "warning settings line 1: \"$(printf "$start" | iconv -f CP1252 -t UTF-8)[UI]\" comes before any section header: the launcher never reads it" \
    'note settings line 1 holds bytes of 0x80 and above, read as code page 1252: use --code-page for a package meant for another' \
    -- "$name"
done

filler() { head -c "$1" /dev/zero | tr '\0' a; }  # filler COUNT: that many "a"

# ---- findings that repeat: each occurrence up to five of a kind, then a
# count. One file holds every kind, five of some (all shown, no count), six
# or seven of others (the sixth on is counted only) -------------------------------
pkg repeats; want=(); n=0
add() {  # add TEXT [LINE...]: TEXT is the file's next line; @ in each LINE expected of it stands for its number
  printf '%b\r\n' "$1" >>repeats/KESTROM.INI; n=$((n + 1)); shift
  local line; for line in "$@"; do want+=("${line//@/$n}"); done
}
: >repeats/KESTROM.INI
before() { echo "warning settings line @: \"$1\" comes before any section header: the launcher never reads it"; }
add 'Title=Early1' "$(before Title=Early1)"
add '; a comment' '!warning settings line @:'
add '' '!warning settings line @:'
add 'Title=Early2' "$(before Title=Early2)"
add 'Junk' "$(before Junk)"
add 'ImageFile=E.ROM' "$(before ImageFile=E.ROM)"
add 'Title=Early5' "$(before Title=Early5)"
add 'Title=Early6' '!warning settings line @:'
add '[UI]'; ui=$n
add 'Title=First' 'ok settings Title "First" (line @)'; title=$n
key_case() { echo "warning settings line @: key \"$1\" in [$2] matches $3 only with letter case ignored: the launcher ignores it"; }
again() { echo "warning settings line @: $1 appears again in [$2] (first on line $3): the launcher uses the first"; }
for key in title TITLE tItle TitlE; do
  add "$key=x" "$(key_case "$key" UI Title)"
  add 'Title=Again' "$(again Title UI $title)"
done
LONG="Junk=$(filler 295)"
for i in 1 2 3 4 5; do
  add "$LONG" "warning settings line @ is 300 bytes long: the launcher reads it as 2 lines of at most 255 bytes; the second starts at byte 256: \"$(filler 40)...\""
  add 'K\0=1' 'warning settings line @ holds a zero byte at byte 2: the launcher ignores the rest of the line'
done
add 'K\0=1' '!warning settings line @ holds'
section_case() { echo "warning settings line @: section [$1] matches [$2] only with letter case ignored: the launcher ignores it"; }
section_again() { echo "warning settings line @: section [$1] appears again (first on line $2): the launcher reads only the first"; }
add '[main]' "$(section_case main Main)"
add 'ImageFile=OTHER.ROM'
add '[Main]'; main=$n
add 'BackupFile=' "ok settings BackupFile \"BIOS.BAK\" (default: the BackupFile on line @ is empty)"; backup=$n
add 'BackupFile=B2.BAK' "$(again BackupFile Main $backup)"
add 'imageFILE=X.ROM' "$(key_case imageFILE Main ImageFile)"
add 'BackupFile=B3.BAK' '!warning settings line @:'
add 'BackupFile=B4.BAK' '!warning settings line @:'
add '[UI]' "$(section_again UI $ui)"
add 'Title=Third' '!warning settings line @:'
add '[ui]' "$(section_case ui UI)"
add '[Main]' "$(section_again Main $main)"
add '[MAIN]' "$(section_case MAIN Main)"
add '[UI]' "$(section_again UI $ui)"
add '[Ui]' "$(section_case Ui UI)"
add '[UI]' "$(section_again UI $ui)"
add '[uI]' "$(section_case uI UI)"
add '[Main]' "$(section_again Main $main)"
add '[mAIN]' '!warning settings line @:'
add '[ui]' '!warning settings line @:'
expect repeats 0 "${want[@]}" 'ok settings ImageFile "FLASHABL.ROM" (default)' \
  'warning settings 1 more key lines before any section header' \
  'warning settings 2 more keys that appear again' \
  'warning settings 1 more lines with a zero byte' \
  'warning settings 2 more sections named with other letter case' \
  '!warning settings 0 more' -- repeats

# A line of 266 bytes whose second piece is a Title of its own.
pkg long-line
{ printf '[UI]\r\nJunk='; head -c 250 /dev/zero | tr '\0' a; printf 'Title=Piece\r\nTitle=Real\r\n'; } >long-line/KESTROM.INI
expect long-line 0 'ok settings Title "Piece" (line 2, the piece from byte 256)' \
  'warning settings line 2 is 266 bytes long: the launcher reads it as 2 lines of at most 255 bytes; the second starts at byte 256: "Title=Piece"' \
  'warning settings line 3: Title appears again in [UI] (first on line 2): the launcher uses the first' -- long-line
# Lines of 255, 256 and 257 bytes: the launcher reads 255 bytes a piece, so
# the second piece of the longer two holds their last byte or two ("b",
# "bc"); the line break is no byte of the line. With breaks (CR LF, LF):
long_line() { printf 'K='; filler $(($1 - 2 - ${#2})); printf '%s' "$2"; }  # long_line LENGTH TAIL
long_finding() {  # long_finding LINE LENGTH SECOND
  echo "warning settings line $1 is $2 bytes long: the launcher reads it as 2 lines of at most 255 bytes; the second starts at byte 256: \"$3\""
}
pkg long-breaks
{ printf '[UI]\r\n'; long_line 255 b; printf '\r\n'; long_line 256 b; printf '\r\n'; long_line 257 bc; printf '\n'
  printf 'Title=After\r\n'; } >long-breaks/KESTROM.INI
expect long-breaks 0 'ok settings KESTROM.INI: 5 lines, read as code page 1252' 'ok settings Title "After" (line 5)' \
  '!warning settings line 2 is' "$(long_finding 3 256 b)" "$(long_finding 4 257 bc)" -- long-breaks
# ... and as the file's last line, without a break.
for length in 255 256 257; do
  tail=b; [ $length = 257 ] && tail=bc
  pkg "long-$length-last"; { printf '[UI]\r\n'; long_line $length $tail; } >"long-$length-last/KESTROM.INI"
  finding="$(long_finding 2 $length $tail)"; [ $length = 255 ] && finding='!warning settings line 2 is'
  expect "long-$length-last" 0 'ok settings KESTROM.INI: 2 lines, read as code page 1252' "$finding" -- "long-$length-last"
done
# A long line outside the sections the launcher reads is no concern.
pkg long-elsewhere
{ printf '[Other]\r\nJunk='; head -c 400 /dev/zero | tr '\0' a; printf '\r\n[UI]\r\nTitle=T\r\n'; } >long-elsewhere/KESTROM.INI
expect long-elsewhere 0 'ok settings Title "T" (line 4)' '!warning settings line 2 is' -- long-elsewhere

# ---- zero bytes and 0x1A at the first, a middle and the last byte of a line
# and of the file -----------------------------------------------------------------
# Zero bytes at the first byte of the file (line 1), the first of a line
# (3), in the middle of one (4), at the last byte of a line (5: the Title
# read is "B") and at the last byte of the file (7).
zero_finding() { echo "warning settings line $1 holds a zero byte at byte $2: the launcher ignores the rest of the line"; }
ini zero-bytes '\0Title=A\r\n[UI]\r\n\0Junk\r\nTi\0tle=Z\r\nTitle=B\0\r\nTitle=C\r\nJunk=\0'
expect zero-bytes 0 'ok settings KESTROM.INI: 7 lines, read as code page 1252' 'ok settings Title "B" (line 5)' \
  "$(zero_finding 1 1)" "$(zero_finding 3 1)" "$(zero_finding 4 3)" "$(zero_finding 5 8)" "$(zero_finding 7 6)" \
  'warning settings line 6: Title appears again in [UI] (first on line 5): the launcher uses the first' \
  '!warning settings line 2' -- zero-bytes
# A 0x1A byte ends the file for the launcher: the lines it reads, the line
# the byte is on, its byte of the file, the bytes after it, and the Title
# read before it (line 2).
while IFS='|' read -r name bytes count line at after title; do
  ini "end-$name" "$bytes"
  finding='!warning settings line'
  [ -n "$at" ] && finding="warning settings line $line: a 0x1A byte at byte $at of the file ends it for the launcher: the $after bytes after it are never read"
  value=$TITLE_DEFAULT; [ -n "$title" ] && value="ok settings Title \"$title\" (line 2)"
  expect "end-$name" 0 "ok settings KESTROM.INI: $count, read as code page 1252" "$finding" "$value" \
    'ok settings ImageFile "FLASHABL.ROM" (default)' -- "end-$name"
done <<'ROWS'
file-first|\x1a[UI]\r\nTitle=X\r\n|0 lines|1|1|15|
line-first|[UI]\r\n\x1aTitle=X\r\n[Main]\r\nImageFile=NOPE.ROM\r\n|1 line|2|7|37|
line-middle|[UI]\r\nTitle=Be\x1afore\r\n|2 lines|2|15|6|Be
line-last|[UI]\r\nTitle=Before\x1a\r\n[Main]\r\nImageFile=NOPE.ROM\r\n|2 lines|2|19|30|Before
file-last|[UI]\r\nTitle=Last\r\n\x1a|2 lines||||Last
file-last-in-line|[UI]\r\nTitle=Last\x1a|2 lines||||Last
ROWS

# ---- BackupFile: every kind of name the launcher's rule tells apart -------------
# The launcher deletes the backup file only inside its folder: one outside
# stays where it is, with a warning; one inside that is a file of the
# package is deleted after every flash, with a warning too.
LEAVES='the launcher deletes no file outside its folder and leaves this one in place'
esc() { echo "${1//\\/\\\\}"; }  # a backslash as the output writes it
while IFS='|' read -r name value what image; do
  ini "backup-$name" '[Main]\r\nBackupFile=%s\r\nImageFile=%s\r\n' "$value" "${image:=FLASHABL.ROM}"
  mkdir -p "backup-$name/$(dirname "${image//\\//}")"; cp -n good/FLASHABL.ROM "backup-$name/${image//\\//}"
  case $what in
    "") finding='!warning settings' ;;
    own:*) finding="error settings line 2: BackupFile \"$(esc "$value")\" names ${what#own:}: the launcher deletes that file after every flash" ;;
    self) finding="error settings line 2: BackupFile \"$(esc "$value")\" names the launcher itself: the launcher tries to delete that file after every flash" ;;
    dir) finding="warning settings line 2: BackupFile \"$(esc "$value")\" names a directory: the launcher deletes files only, so the backup is left behind" ;;
    file) finding="error settings line 2: BackupFile \"$(esc "$value")\" names a file the package ships: the launcher deletes that file after every flash"
      : >"backup-$name/WINIO.DLL" ;;
    *) finding="warning settings line 2: BackupFile \"$(esc "$value")\" $what: $LEAVES" ;;
  esac
  rc=0; other='!error'; [ "${finding%% *}" = error ] && { rc=1; other='!warning'; }
  expect "backup-$name" $rc "ok settings BackupFile \"$(esc "$value")\" (line 2)" "$finding" "$other" -- "backup-$name"
done <<'ROWS'
climbs|..\other\BIOS.BAK|climbs out of the package with ".."
deep-climb|sub\..\..\BIOS.BAK|climbs out of the package with ".."
slash-climb|sub/../../BIOS.BAK|climbs out of the package with ".."
dots-and-blanks|. .\BIOS.BAK|climbs out of the package by the launcher's count, which takes an element of dots and blanks for ".."
blank-folder|.\ \..\FLASHABL.ROM|own:the package's image
blank-dot-folder|x/ ./../../BIOSVER.EXE|own:the package's probe
three-dots|ROM\V2\...\..\FLASH.ROM|own:the package's image|ROM\V2\FLASH.ROM
inner-dot|ROM\V2.\...\..\FLASH.ROM|own:the package's image|ROM\V2\FLASH.ROM
folder-ends-in-blank|ROM \FLASH.ROM||ROM\FLASH.ROM
folder-ends-in-dots|ROM..\FLASH.ROM||ROM\FLASH.ROM
drive|C:\BIOS.BAK|names a drive
drive-relative|d:BIOS.BAK|names a drive
absolute|\\server\share\BIOS.BAK|is an absolute path
root|/BIOS.BAK|is an absolute path
stream|BIOS.BAK:old|holds a ":", which names a stream of a file
inside|sub\..\OLD.BAK|
dots-in-name|..x\OLD.BAK|
settings|KESTROM.INI|own:the package's settings file
settings-here|.\KESTROM.INI|own:the package's settings file
probe|Biosver.Exe|own:the package's probe
image|.\flashabl.rom|own:the package's image
image-dot|FLASHABL.ROM.|own:the package's image
image-dots-blanks|FLASHABL.ROM. .|own:the package's image
flasher|sub/../WINKESTROM.EXE|own:the package's flasher
launcher|KSTGATE.exe .|self
launcher-dot|kstgate.EXE.|self
in-a-folder|sub\KESTROM.INI|
folder|.|dir
folder-climbed-back|sub\..|dir
folder-separator|.\|dir
ends-in-separator|FLASHABL.ROM\|dir
shipped|WINIO.DLL|file
shipped-resolved|lib\..\winio.dll.|file
image-resolved|FLASHABL.ROM|own:the package's image|...\..\FLASHABL.ROM
ROWS
# A name of blanks only is no name: the launcher keeps its default.
ini backup-empty '[Main]\r\nBackupFile= \t \r\n'
expect backup-empty 0 'ok settings BackupFile "BIOS.BAK" (default: the BackupFile on line 2 is empty)' '!warning settings' \
  -- backup-empty
# Under code page 932, 0x95 0x5C is one character: its trail byte is no
# backslash, and the name never climbs above the folder.
ini backup-932 '[Main]\r\nBackupFile=\x95\\..\\..\\BIOS.BAK\r\n'
expect backup-932 0 "$(printf 'ok settings BackupFile "\xe8\xa1\xa8..\\\\..\\\\BIOS.BAK" (line 2)')" '!warning settings' \
  -- --code-page 932 backup-932
expect backup-932-as-1252 0 \
  "$(printf 'warning settings line 2: BackupFile "\xe2\x80\xa2\\\\..\\\\..\\\\BIOS.BAK" climbs out of the package with "..": ')$LEAVES" \
  -- backup-932

# Short names exist on Windows only: elsewhere a name of that shape may be
# the short name of any file of the package.
if [ "${tool[0]}" != wine ]; then
  pkg backup-short; mv backup-short/WINKESTROM.EXE backup-short/WinFlashTool.exe
  printf '[Main]\r\nBackupFile=WINFLA~1.EXE\r\n' >backup-short/KESTROM.INI
  expect backup-short 0 'warning settings line 2: BackupFile "WINFLA~1.EXE" has the shape of a short name: this host cannot tell whether that is a package file'"'"'s short name, which the launcher would delete after every flash' \
    -- backup-short -- WinFlashTool.exe
fi

# The header's last "]" under code page 932 is the one before the
# double-byte character 0x81 0x5D, whose trail byte is a "]" too.
ini cp932 '[UI]\x81\x5d\r\nTitle=\x95\x5c\x8e\xa6\r\n'
expect cp932 0 "$(printf 'ok settings Title "\xe8\xa1\xa8\xe7\xa4\xba" (line 2)')" \
  'ok settings KESTROM.INI: 2 lines, read as code page 932' -- --code-page 932 cp932
expect cp932-default 0 "$TITLE_DEFAULT" 'ok settings KESTROM.INI: 2 lines, read as code page 1252' \
  'note settings line 1 holds bytes of 0x80 and above, read as code page 1252: use --code-page for a package meant for another' \
  -- cp932

# Windows matches file names whatever their letter case, and so does the
# lookup on other hosts, with a note there.
pkg letter-case-names
mv letter-case-names/KESTROM.INI letter-case-names/Kestrom.ini
mv letter-case-names/BIOSVER.EXE letter-case-names/biosver.exe
mkdir letter-case-names/Roms; mv letter-case-names/FLASHABL.ROM letter-case-names/Roms/flashabl.rom
printf '[UI]\r\nTitle=Vesmar WinKestrom\r\n[Main]\r\nImageFile=ROMS\\FLASHABL.ROM\r\n' >letter-case-names/Kestrom.ini
expect letter-case-names 0 'ok settings ImageFile "ROMS\\FLASHABL.ROM" (line 4)' \
  'ok probe BIOSVER.EXE: a Windows program (x86)' \
  'ok image "ROMS\\FLASHABL.ROM": version "1.07", marker at offset 2004 (0x7D4)' -- letter-case-names -- winkestrom
if [ "${tool[0]}" != wine ]; then
  expect letter-case-notes 0 'note settings KESTROM.INI found as "Kestrom.ini": Windows matches file names whatever their letter case' \
    'note probe BIOSVER.EXE found as "biosver.exe": Windows matches file names whatever their letter case' \
    'note image "ROMS\\FLASHABL.ROM" found as "Roms\\flashabl.rom": Windows matches file names whatever their letter case' \
    'note flasher winkestrom.exe found as "WINKESTROM.EXE": Windows matches file names whatever their letter case' \
    -- letter-case-names -- winkestrom
fi

# ---- probe ---------------------------------------------------------------------

pkg probe-missing; rm probe-missing/BIOSVER.EXE
expect probe-missing 1 "error probe BIOSVER.EXE is missing (only the package's own counts): $LOADING_PROBE" -- probe-missing
pkg probe-directory; rm probe-directory/BIOSVER.EXE; mkdir probe-directory/BIOSVER.EXE
expect probe-directory 1 "error probe BIOSVER.EXE is a directory: $LOADING_PROBE" -- probe-directory
pkg probe-empty; : >probe-empty/BIOSVER.EXE
expect probe-empty 1 "error probe BIOSVER.EXE is no Windows program (it has no \"MZ\" header): $LOADING_PROBE" -- probe-empty
pkg probe-dos; printf 'MZ%062d' 0 >probe-dos/BIOSVER.EXE
expect probe-dos 1 "error probe BIOSVER.EXE is no Windows program (its \"MZ\" header leads to no \"PE\" signature): $LOADING_PROBE" \
  -- probe-dos
pkg probe-arm64; cp pe/arm64 probe-arm64/BIOSVER.EXE
expect probe-arm64 0 'ok probe BIOSVER.EXE: a Windows program (ARM64)' -- probe-arm64
pkg probe-other-machine; cp pe/other-machine probe-other-machine/BIOSVER.EXE
expect probe-other-machine 0 'warning probe BIOSVER.EXE: a Windows program for machine 0x01C4, none of x86, x64 and ARM64: a notebook is unlikely to start it' \
  -- probe-other-machine

# ---- image ---------------------------------------------------------------------

ini image-missing '[Main]\r\nImageFile=NOPE.ROM\r\n'
expect image-missing 1 "error image \"NOPE.ROM\" is missing: $OPEN_IMAGE" -- image-missing
pkg image-directory; rm image-directory/FLASHABL.ROM; mkdir image-directory/FLASHABL.ROM
printf 'xx1.07-0000-' >image-directory/FLASHABL.ROM/FLASHABL.ROM
expect image-directory 1 "error image \"FLASHABL.ROM\" is a directory: $OPEN_IMAGE" -- image-directory
pkg image-no-marker; printf 'no marker -0000x --0000 here' >image-no-marker/FLASHABL.ROM
expect image-no-marker 1 "error image \"FLASHABL.ROM\" holds no version marker \"-0000-\": $NO_VERSION" -- image-no-marker
pkg image-empty; : >image-empty/FLASHABL.ROM
expect image-empty 1 "error image \"FLASHABL.ROM\" holds no version marker \"-0000-\": $NO_VERSION" -- image-empty
pkg image-early; printf '%s' 'A-0000-1.07-0000-' >image-early/FLASHABL.ROM
expect image-early 1 "error image \"FLASHABL.ROM\" has its first marker \"-0000-\" at offset 1 (0x1), with fewer than 4 bytes before it: $NO_VERSION" \
  -- image-early
# ".." leaves a folder by the name alone, whether that folder exists or not.
ini image-through-no-folder '[Main]\r\nImageFile=nosub\\..\\FLASHABL.ROM\r\n'
expect image-through-no-folder 0 'ok image "nosub\\..\\FLASHABL.ROM": version "1.07", marker at offset 2004 (0x7D4)' \
  -- image-through-no-folder
pkg image-later; { printf 'R1.0-0000-'; head -c 70000 /dev/zero; printf 'R1.0-0000-R2.0-0000-'; } >image-later/FLASHABL.ROM
expect image-later 0 'ok image "FLASHABL.ROM": version "R1.0", marker at offset 4 (0x4)' \
  'warning image "FLASHABL.ROM" holds a later marker at offset 70024 (0x11188) with version "R2.0": the launcher shows the first, "R1.0"' \
  -- image-later
# Markers on both sides of the read blocks' ends. The image is read in
# blocks of the size the launcher's one scan sets, for the version and for
# every marker kstcheck reports: for each size B, an image with its first
# marker at B + d and a later one, of another version, at 2B + d, that ends
# right after it; d puts the marker wholly before a block's end (-6), across
# it (-5 to -1), just after it (0) with its version before, and the version
# across (3) or just after it (4). And a later marker across the first
# block's end, after a first one in that block.
define_value() {  # define_value NAME FILE: the number a #define of FILE gives NAME
  sed -n "s/^#define $1 \([0-9][0-9]*\)\$/\1/p" "$2"
}
read_sizes=""
for constant in IMAGE_SCAN_BUFFER_SIZE:"$here/../../src/checks/checks.h"; do
  size=$(define_value "${constant%%:*}" "${constant#*:}")
  [ -n "$size" ] || { echo "FAIL image-blocks: no number for ${constant%%:*} in ${constant#*:}"; failures=$((failures + 1)); }
  read_sizes=$(echo $read_sizes $size | tr ' ' '\n' | sort -un)
done
image_with() {  # image_with FILE OFFSET VERSION...: each VERSION and its marker at OFFSET, zero bytes between
  local file=$1 at=0; shift; : >"$file"
  while [ $# -gt 0 ]; do
    head -c $(($1 - 4 - at)) /dev/zero >>"$file"; printf '%s-0000-' "$2" >>"$file"; at=$(($1 + 6)); shift 2
  done
}
for size in $read_sizes; do
  for d in -6 -5 -3 -1 0 3 4; do
    first=$((size + d)) later=$((2 * size + d))
    name=$(printf 'image-block-%d%+d' $size $d)
    pkg "$name"; image_with "$name/FLASHABL.ROM" $first F1.0 $later L2.0
    expect "$name" 0 \
      "$(printf 'ok image "FLASHABL.ROM": version "F1.0", marker at offset %d (0x%X)' $first $first)" \
      "$(printf 'warning image "FLASHABL.ROM" holds a later marker at offset %d (0x%X) with version "L2.0": the launcher shows the first, "F1.0"' $later $later)" \
      -- "$name"
  done
  later=$((size - 3))
  pkg "image-block-$size-later"; image_with "image-block-$size-later/FLASHABL.ROM" 4 R1.0 $later R2.0
  expect "image-block-$size-later" 0 'ok image "FLASHABL.ROM": version "R1.0", marker at offset 4 (0x4)' \
    "$(printf 'warning image "FLASHABL.ROM" holds a later marker at offset %d (0x%X) with version "R2.0": the launcher shows the first, "R1.0"' $later $later)" \
    -- "image-block-$size-later"
done
# Markers may overlap: the second begins at the last hyphen of the first.
pkg image-overlap; printf '1.07-0000-0000-' >image-overlap/FLASHABL.ROM
expect image-overlap 0 'warning image "FLASHABL.ROM" holds a later marker at offset 9 (0x9) with version "0000": the launcher shows the first, "1.07"' \
  -- image-overlap
pkg image-same-later; printf 'R1.0-0000-R1.0-0000-' >image-same-later/FLASHABL.ROM
expect image-same-later 0 'ok image "FLASHABL.ROM": version "R1.0", marker at offset 4 (0x4)' '!warning' -- image-same-later
# Versions are compared as the launcher shows them, up to a zero byte.
pkg image-same-shown; printf 'R1\0a-0000-R1\0b-0000-' >image-same-shown/FLASHABL.ROM
expect image-same-shown 0 'ok image "FLASHABL.ROM": version "R1", marker at offset 4 (0x4)' '!warning' -- image-same-shown
pkg image-control; printf 'A\x1b\\\x00-0000-' >image-control/FLASHABL.ROM
expect image-control 0 'ok image "FLASHABL.ROM": version "A\x1B\\", marker at offset 4 (0x4)' -- image-control

# ---- flasher -------------------------------------------------------------------

expect flasher-missing 1 "error flasher the flasher \"NOSUCH.EXE\" is missing from the package (one on the user's search path does not count): $LOADING_FLASHER" \
  -- good -- 'NOSUCH.EXE /x'
expect flasher-search-path 1 "error flasher the flasher \"notepad.exe\" is missing from the package (one on the user's search path does not count): $LOADING_FLASHER" \
  -- good -- notepad
expect flasher-empty 1 'error flasher the command line is empty: [-1] WinKestrom Loader v1.0\n\nOptions:\n  <filename>\tThe filename and the params of WinKestrom' \
  -- good -- ' 	 '
expect flasher-outside 1 "error flasher the flasher \"C:\\\\Tools\\\\FLASH.EXE\" names a drive: a package must carry its flasher, or the launcher ends with $LOADING_FLASHER" \
  -- good -- 'C:\Tools\FLASH.EXE'
pkg flasher-path; mkdir flasher-path/bin; mv flasher-path/WINKESTROM.EXE 'flasher-path/bin/Flash Tool.exe'
expect flasher-path-quoted 0 'ok flasher bin\\Flash Tool.exe: a Windows program (x64)' -- flasher-path -- '"bin\Flash Tool" -x'
expect flasher-path-blank 0 'ok flasher bin\\Flash Tool.exe: a Windows program (x64)' \
  'note flasher the flasher'"'"'s name "bin\\Flash Tool.exe" holds blanks and no quotes: the start tries "bin\\Flash.exe" first' \
  -- flasher-path -- 'bin\Flash Tool -x'
# A BackupFile that names the flasher the command line names.
rm -rf backup-flasher-path; cp -r flasher-path backup-flasher-path
printf '[Main]\r\nBackupFile=BIN\\flash tool.EXE\r\n' >backup-flasher-path/KESTROM.INI
expect backup-flasher-path 1 \
  'error settings line 2: BackupFile "BIN\\flash tool.EXE" names the package'"'"'s flasher: the launcher deletes that file after every flash' \
  -- backup-flasher-path -- '"bin\Flash Tool" -x'

# The flasher's name as the start takes it from the command line: quoted or
# not, ".exe" added when its last part has no extension (a dot in a folder's
# name is none). Each program of the package is for another machine, so the
# one found shows; my.tools\flash (no extension) is the one a wrong name finds.
pkg names; mkdir names/my.tools
cp pe/probe names/my.tools/flash.exe; cp pe/arm64 names/my.tools/flash.v2; cp pe/other-machine names/my.tools/flash
while IFS='|' read -r name command found machine; do
  expect "name-$name" 0 "ok flasher $(esc "$found"): a Windows program ($machine)" '!error' '!warning flasher' \
    -- names -- "$command"
done <<'ROWS'
bare|WINKESTROM|WINKESTROM.exe|x64
extension|WINKESTROM.EXE -x|WINKESTROM.EXE|x64
here|.\WINKESTROM|.\WINKESTROM.exe|x64
quoted|"WINKESTROM" -x|WINKESTROM.exe|x64
quoted-extension|"WINKESTROM.EXE"|WINKESTROM.EXE|x64
unclosed-quote|"WINKESTROM|WINKESTROM.exe|x64
dotted-folder|my.tools\flash|my.tools\flash.exe|x86
dotted-folder-here|.\my.tools\flash -x|.\my.tools\flash.exe|x86
dotted-folder-slash|my.tools/flash|my.tools/flash.exe|x86
dotted-folder-quoted|"my.tools\flash" -x|my.tools\flash.exe|x86
other-extension|my.tools\flash.v2|my.tools\flash.v2|ARM64
through-no-folder|nosub\..\my.tools\flash|nosub\..\my.tools\flash.exe|x86
ROWS
expect name-climbs 1 "error flasher the flasher \"..\\\\names\\\\WINKESTROM.exe\" climbs out of the package with \"..\": a package must carry its flasher, or the launcher ends with $LOADING_FLASHER" \
  -- names -- '..\names\WINKESTROM'
# Names as Windows opens them, for the image and the flasher: the package
# folder itself, a trailing separator (a directory only), an empty element,
# trailing dots and blanks, a climb that never comes back to the package's
# own X.ROM; a batch file is started through the command interpreter.
pkg resolved; cp good/FLASHABL.ROM resolved/X.ROM; mkdir resolved/sub; printf '@echo off\r\n' >resolved/FLASH.CMD
BATCH='is a batch file: the launcher starts it through the command interpreter, and the dialog belongs to the program that it starts, which cannot be checked here'
while IFS='|' read -r area value finding; do
  if [ "$area" = image ]; then
    rm -rf "resolved-$area"; cp -r resolved "resolved-$area"
    printf '[Main]\r\nImageFile=%s\r\n' "$value" >"resolved-$area/KESTROM.INI"; set -- "resolved-$area"
  else
    set -- resolved -- "$value"
  fi
  why=${finding%%:*} shown=$(esc "${finding#*:}")
  case $why in
    dir) why='is a directory' ;;
    gone) why='is missing'; [ $area = flasher ] && why="is missing from the package (one on the user's search path does not count)" ;;
    dots) why='holds an element of dots alone ("..."): Windows programs cannot make such a folder, and the launcher cannot open it' ;;
  esac
  case $finding in
    ok) line="ok image \"$(esc "$value")\": version \"1.07\", marker at offset 2004 (0x7D4)" ;;
    ok:*) line="ok flasher $shown: a Windows program (x64)" ;;
    out:*) line="error image ImageFile \"$shown\" climbs out of the package with \"..\": the package must carry its image, or on the target the launcher ends with $OPEN_IMAGE" ;;
    note:*) line="note flasher the flasher \"$shown\" $BATCH" ;;
    *) [ $area = image ] && line="error image \"$shown\" $why: $OPEN_IMAGE" ||
         line="error flasher the flasher \"$shown\" $why: $LOADING_FLASHER" ;;
  esac
  rc=0; [ "${line%% *}" = error ] && rc=1
  expect "resolved-$area:$value" $rc "$line" -- "$@"
done <<'ROWS'
image|.|dir:.
image|sub\..|dir:sub\..
image|.\|dir:.\
image|X.ROM\|gone:X.ROM\
image|..\..\X.ROM|out:..\..\X.ROM
image|..\good\FLASHABL.ROM|out:..\good\FLASHABL.ROM
image|...\X.ROM|dots:...\X.ROM
flasher|...\WINKESTROM.EXE|dots:...\WINKESTROM.EXE
image|sub\\..\X.ROM|ok
image|X.ROM. .|ok
flasher|.|dir:.
flasher|sub\..|dir:sub\..
flasher|.\|gone:.\.exe
flasher|WINKESTROM.EXE\|gone:WINKESTROM.EXE\.exe
flasher|.\\WINKESTROM.EXE.|ok:.\\WINKESTROM.EXE.
flasher|FLASH.CMD -x|note:FLASH.CMD
flasher|"flash.cmd."|note:flash.cmd.
flasher|NO.BAT|gone:NO.BAT
ROWS
pkg flasher-text; printf 'not a program\r\n' >flasher-text/WINKESTROM.EXE
expect flasher-text 1 "error flasher WINKESTROM.EXE is no Windows program (it has no \"MZ\" header): $LOADING_FLASHER" -- flasher-text
pkg flasher-dll; cp pe/dll flasher-dll/WINKESTROM.EXE
expect flasher-dll 1 "error flasher WINKESTROM.EXE is no Windows program (it is a DLL): $LOADING_FLASHER" -- flasher-dll
pkg flasher-no-button; cp pe/no-button flasher-no-button/WINKESTROM.EXE
expect flasher-no-button 0 'ok flasher WINKESTROM.EXE: a Windows program (x86)' \
  "warning flasher no dialog of WINKESTROM.EXE holds a control with id 101: the launcher would end with $NO_BUTTON, unless the flasher adds the button at run time" \
  'ok flasher the caption of dialog 100, "vesmar WINKESTROM", equals the Title, letter case aside' -- flasher-no-button
pkg flasher-caption; cp pe/caption flasher-caption/WINKESTROM.EXE
expect flasher-caption 0 'ok flasher dialog 100 of WINKESTROM.EXE holds control 101, the Flash BIOS button' \
  'warning flasher no dialog caption equals the Title "Vesmar WinKestrom", letter case aside ("About", "Kestrom Flash"): the flasher must set it at run time, or the launcher ends with -3' \
  -- flasher-caption
# Control 101 in dialog templates of both kinds (DIALOG, and DIALOGEX with
# its 32-bit ids): first, last, absent, twice; the launcher presses the first
# only once the flasher has enabled it. Ids of other lengths before it move
# it to other places in the template; 65637 is 101 in the low 16 bits only.
HOLDS='ok flasher dialog 100 of WINKESTROM.EXE holds control 101, the Flash BIOS button'
DISABLED_BUTTON="warning flasher control 101 of dialog 100 of WINKESTROM.EXE starts disabled: the launcher waits about five seconds for the flasher to enable it, and otherwise ends with $NO_BUTTON"
NO_CONTROL="warning flasher no dialog of WINKESTROM.EXE holds a control with id 101: the launcher would end with $NO_BUTTON, unless the flasher adds the button at run time"
DIALOG_ROWS='first|101,7d,1102|holds
last|7,1102d,101|holds
absent|100,102,1101|none
disabled-last|102,101d|disabled
twice|101,101d|holds
ex-first|101,7d,1102:ex|holds
ex-last|7,1102d,101:ex|holds
ex-absent|100,102,1101,65637:ex|none
ex-disabled-first|101d,102:ex|disabled
ex-twice|101d,101:ex|disabled
dialog-off|101:d|dialog-off
ex-dialog-off|7,101:exd|dialog-off'
while IFS='|' read -r name controls _; do
  echo "pe/dialog-$name --dialog '100:Vesmar WinKestrom:$controls'"
done <<<"$DIALOG_ROWS" | python3 "$here/mkpe.py" --batch
while IFS='|' read -r name controls finding; do
  pkg "dialog-$name"; cp "pe/dialog-$name" "dialog-$name/WINKESTROM.EXE"
  case $finding in
    holds) lines=("$HOLDS" '!warning flasher') ;;
    disabled) lines=("$HOLDS" "$DISABLED_BUTTON") ;;
    dialog-off) lines=("$HOLDS" "${DISABLED_BUTTON/control 101 of /}" '!warning flasher control') ;;
    none) lines=("$NO_CONTROL" '!ok flasher dialog') ;;
  esac
  expect "dialog-$name" 0 "${lines[@]}" 'ok flasher the caption of dialog 100, "Vesmar WinKestrom", equals the Title, letter case aside' \
    -- "dialog-$name"
done <<<"$DIALOG_ROWS"
# Control 101 in the second dialog only.
pkg dialog-second; cp pe/second-dialog dialog-second/WINKESTROM.EXE
expect dialog-second 0 'ok flasher dialog 200 of WINKESTROM.EXE holds control 101, the Flash BIOS button' '!warning flasher' \
  -- dialog-second
# Dialogs and types named by strings: a named dialog is read as a numbered
# one, a type of another name is no dialog, a long name is cut off.
for named in named named-type long-name; do pkg "$named"; cp "pe/$named" "$named/WINKESTROM.EXE"; done
expect named 0 'ok flasher dialog "FLASHDLG" of WINKESTROM.EXE holds control 101, the Flash BIOS button' \
  'ok flasher the caption of dialog "FLASHDLG", "Vesmar WinKestrom", equals the Title, letter case aside' -- named
expect named-type 0 "$NO_CONTROL" '!ok flasher dialog' -- named-type
expect long-name 0 "ok flasher dialog \"$(printf 'N%.0s' {1..32})...\" of WINKESTROM.EXE holds control 101, the Flash BIOS button" \
  -- long-name
pkg flasher-no-dialogs; cp pe/no-dialogs flasher-no-dialogs/WINKESTROM.EXE
expect flasher-no-dialogs 0 'note flasher WINKESTROM.EXE has no dialog resources: it builds its dialog at run time, so control 101 and the caption cannot be checked here' \
  -- flasher-no-dialogs

# ---- hostile input: a finding and an exit code, never a crash or a change --------

noise() {  # noise SEED COUNT: COUNT bytes, the same for the same SEED
  LC_ALL=C awk -v x="$1" -v n="$2" 'BEGIN {
    for (i = 0; i < n; i++) { x = (x * 69069 + 1) % 4294967296; printf "%c", int(x / 16777216) }
  }'
}
pkg ini-noise; noise 7 65536 >ini-noise/KESTROM.INI
expect ini-noise 0 "$TITLE_DEFAULT" 'ok settings BackupFile "BIOS.BAK" (default)' -- ini-noise
expect ini-noise-strict 1 "$TITLE_DEFAULT" -- --strict ini-noise
# 100,000 bytes on one line, a zero byte in it: read as 393 pieces.
pkg ini-long; { printf '[UI]\r\nJunk='; head -c 99995 /dev/zero | tr '\0' b | sed 's/^bbbbb/bb\x00bb/'
  printf '\r\nTitle=After\r\n'; } >ini-long/KESTROM.INI
expect ini-long 0 'ok settings Title "After" (line 3)' \
  'warning settings line 2 is 100000 bytes long: the launcher reads it as 393 lines of at most 255 bytes; the second starts at byte 256: "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb..."' \
  'warning settings line 2 holds a zero byte at byte 8: the launcher ignores the rest of that 255-byte piece of it' -- ini-long
for hostile in loop rsrc-past-end many-entries data-past-end long-dialog no-pe cut-headers cut-data; do
  pkg "pe-$hostile"; cp "pe/$hostile" "pe-$hostile/WINKESTROM.EXE"
done
expect pe-loop 0 'warning flasher the resources of WINKESTROM.EXE cannot be read (a directory leads back to one already read): its dialogs are not checked' \
  -- pe-loop
expect pe-rsrc-past-end 0 "warning flasher the resources of WINKESTROM.EXE cannot be read (an entry lies outside the file's sections or past its end): its dialogs are not checked" \
  -- pe-rsrc-past-end
expect pe-many-entries 0 "warning flasher the resources of WINKESTROM.EXE cannot be read (an entry lies outside the file's sections or past its end): its dialogs are not checked" \
  -- pe-many-entries
expect pe-data-past-end 0 "warning flasher dialog 100 of WINKESTROM.EXE cannot be read: its data lies outside the file's sections or past its end" \
  "warning flasher no dialog of WINKESTROM.EXE holds a control with id 101 (as far as they can be read): the launcher would end with $NO_BUTTON, unless the flasher adds the button at run time" \
  -- pe-data-past-end
expect pe-long-dialog 0 'warning flasher dialog 100 of WINKESTROM.EXE is cut off: 2 controls read' \
  'ok flasher dialog 100 of WINKESTROM.EXE holds control 101, the Flash BIOS button' -- pe-long-dialog
expect pe-no-pe 1 "error flasher WINKESTROM.EXE is no Windows program (its \"MZ\" header leads to no \"PE\" signature): $LOADING_FLASHER" -- pe-no-pe
expect pe-cut-headers 1 "error flasher WINKESTROM.EXE is no Windows program (its headers are cut off): $LOADING_FLASHER" -- pe-cut-headers
expect pe-cut-data 0 'warning flasher WINKESTROM.EXE looks cut off: its sections reach past the end of the file' -- pe-cut-data
pkg pe-noise; noise 13 4096 >pe-noise/WINKESTROM.EXE; { printf 'MZ'; noise 17 4094; } >pe-noise/BIOSVER.EXE
expect pe-noise 1 "error flasher WINKESTROM.EXE is no Windows program (it has no \"MZ\" header): $LOADING_FLASHER" -- pe-noise

# ---- a dialog program of the resource compiler --------------------------------------

if [ -n "${KST_DIALOG_PROGRAM:-}" ]; then
  pkg rc-dialogs; cp "$KST_DIALOG_PROGRAM" rc-dialogs/WINKESTROM.EXE
  expect rc-dialogs 0 'ok flasher dialog 100 of WINKESTROM.EXE holds control 101, the Flash BIOS button' \
    'ok flasher the caption of dialog 100, "Vesmar WinKestrom", equals the Title, letter case aside' -- rc-dialogs
fi

# ---- options, usage errors and exit codes -----------------------------------------

# Every code page listed is taken, in both forms of the option.
for page in 874 1250 1251 1252 1253 1254 1255 1256 1257 1258 932 936 949 950 1361; do
  expect "code-page-$page" 0 "ok settings KESTROM.INI: 5 lines, read as code page $page" -- --code-page "$page" good
done
expect code-page-equals 0 'ok settings KESTROM.INI: 5 lines, read as code page 1250' -- --code-page=1250 good
# Anything else is refused: a number with something after it, out of range,
# a page not built in, no number at all (\x20: a blank).
while IFS='|' read -r name value; do
  value=$(printf '%b' "$value")
  expect "code-page-$name" 3 ">kstcheck: unknown code page \"$value\"" '!ok' -- --code-page "$value" good
done <<'ROWS'
letter-after|932x
decimals|1252.0
blank-after|932\x20
blank-before|\x20932
sign|+932
hex|0x3A4
zero|0
wraps-to-1252|4294968548
not-built-in|437
utf-8|65001
below-1250|1249
above-1258|1259
above-1361|1362
none|
ROWS
expect code-page-equals-text 3 '>kstcheck: unknown code page "nine"' '!ok' -- --code-page=nine good
expect code-page-last 3 '>kstcheck: unknown code page ""' '!ok' -- good --code-page
# Other options take no value, and match whole.
USAGE='usage: kstcheck [OPTIONS] [DIR] [-- FLASHER COMMAND LINE]'
expect help 0 ">$USAGE" '!ok' -- --help good
expect help-short 0 ">$USAGE" '!ok' -- -h good
while read -r option; do
  expect "usage-option$option" 3 ">kstcheck: unknown option \"$option\"" '!ok' -- "$option" good
done <<'ROWS'
--frobnicate
--strict=1
--strictly
--help=1
--code-page932
--code-pages
ROWS
expect usage-not-directory 2 '>kstcheck: "good/KESTROM.INI" is not a directory' -- good/KESTROM.INI
expect usage-missing-directory 2 '>kstcheck: "nowhere" is not a directory' -- nowhere
expect usage-two-directories 3 '>kstcheck: more than one directory ("good", "ini-missing")' -- good ini-missing
TAIL_ONE='>kstcheck: the flasher command line after -- must be one argument (quote it)'
expect usage-two-arguments 3 "$TAIL_ONE" -- good -- WINKESTROM.EXE -x
expect usage-no-argument 3 "$TAIL_ONE" -- good --

# The exit code follows the highest level found in any area: 0 for notes at
# most, and for warnings without --strict (each package's own row above
# pins that); 1 for an error, and for a warning under --strict.
while IFS='|' read -r package command plain strict; do
  name=exit-$package; [ "$command" = WINKESTROM.EXE ] || name+="-$command"
  expect "$name-strict" "$strict" -- --strict "$package" -- "$command"
  [ -z "$plain" ] || expect "$name" "$plain" -- "$package" -- "$command"
done <<'ROWS'
bom|WINKESTROM.EXE||1
probe-other-machine|WINKESTROM.EXE||1
image-later|WINKESTROM.EXE||1
flasher-no-button|WINKESTROM.EXE||1
pe-loop|WINKESTROM.EXE||1
backup-climbs|WINKESTROM.EXE||1
ini-missing|WINKESTROM.EXE||1
probe-missing|WINKESTROM.EXE||1
image-missing|WINKESTROM.EXE||1
flasher-text|WINKESTROM.EXE||1
bom|NOSUCH.EXE|1|1
ROWS
# --strict after the directory.
expect exit-strict-after 1 -- bom --strict

# ---- faults that cost a run or a file, and the options a pipeline gates with ------
ini cr-alone '[UI]\rTitle=Other\r[Main]\rImageFile=X.ROM\r'
expect cr-alone 1 '#error settings cr-line-end line 1: a carriage return without a line feed at byte 5 ends no line for the launcher: it reads "Title=Other\r[Main]\rImageFile=X.ROM\r" after it as part of this line' -- cr-alone
ini utf8-title '[UI]\r\nTitle=Vesmar WinKestr\xc3\xb6m\r\n'
expect utf8-title 0 '#warning settings utf8-no-mark line 2: the file is UTF-8 text without a byte-order mark: the launcher reads its letters beyond ASCII in code page 1252, as other letters' -- utf8-title
pkg bv-left; : >bv-left/BV; pkg bv-read-only; : >bv-read-only/BV; chmod a-w bv-read-only/BV
expect bv-left 0 '#warning probe bv-leftover BV lies in the package: the probe'"'"'s answer file, left from a run, which the launcher reads as this machine'"'"'s version when the probe writes none' -- bv-left
expect bv-read-only 1 "#error probe bv-undeletable BV is read-only: the launcher cannot delete it nor the probe write its answer over it, and every run ends with [-9] Get BIOS VERSION from this machine fail!\nDownload the latest one and try again." -- bv-read-only
pkg no-launcher; rm no-launcher/KSTGATE.exe; pkg launcher-text; echo text >launcher-text/KSTGATE.exe
expect no-launcher 1 '#error launcher launcher-missing KSTGATE.exe is missing: the package has no launcher to start' -- no-launcher
expect launcher-text 1 '#error launcher launcher-not-program KSTGATE.exe is no Windows program (it has no "MZ" header): the package has no launcher to start' -- launcher-text
expect good-fail-on-warning 0 "=$GOOD_OUTPUT" -- --fail-on warning good
expect good-json 0 '{j["findings"] == [] and j["complete"] and j["tool"] == "kstcheck"' -- --format=json --fail-on=warning good
expect json-lines 1 '{[(f["level"], f["code"], f["file"], f.get("line")) for f in j["findings"]] == [("warning", "utf8-mark", "KESTROM.INI", 1), ("warning", "before-header", "KESTROM.INI", 2)]' -- --format json --strict bom
expect json-utf8 0 '{any("\"\u00ff[UI]\" comes" in f["message"] for f in j["findings"])' -- --format json like-mark-ff
expect fail-on-note 1 '#note flasher no-dialogs WINKESTROM.EXE has no dialog resources: it builds its dialog at run time, so control 101 and the caption cannot be checked here' -- --fail-on note flasher-no-dialogs
expect suppress 0 '!warning' 'ok settings KESTROM.INI: 2 lines, read as code page 1252' -- --strict --suppress utf8-mark --suppress before-header,high-bytes bom
expect quiet 0 '=' -- -q good
expect version 0 '>kstcheck 1.0.0' -- --version
while IFS='|' read -r option value what tail; do
  expect "usage-$option-$value" 3 ">kstcheck: unknown $what \"${value#*,}\" $tail" '!ok' -- "--$option" "$value" good
done <<'ROWS'
suppress|nope|code|(--help lists them)
suppress|utf8-mark,nope|code|(--help lists them)
format|xml|format|(text or json)
fail-on|ok|level|(error, warning or note)
ROWS

# ---- escaping: every class of byte in a finding's text ---------------------------
# Each row is a key line before any header, whose finding quotes it: its
# bytes, and the text shown for them (both printf formats: "\\" in SHOWN is
# the backslash printed). Five rows to a settings file; the image of each
# package has a line feed in its version.
escapes() {  # escapes PAGE: the rows (NAME|BYTES|SHOWN) on input, read as code page PAGE
  local page=$1 name bytes shown n=0 part=0 names="" want=()
  while :; do
    IFS='|' read -r name bytes shown || name=""
    if [ -n "$name" ]; then
      if [ $n = 0 ]; then
        part=$((part + 1)); pkg "escape-$page-$part"; : >"escape-$page-$part/KESTROM.INI"; want=(); names=""
        printf 'L\nF!-0000-' >"escape-$page-$part/FLASHABL.ROM"
      fi
      printf "$bytes\r\n" >>"escape-$page-$part/KESTROM.INI"; n=$((n + 1)); names+=" $name"
      want+=("$(printf "warning settings line $n: \"$shown\" comes before any section header: the launcher never reads it")")
    fi
    if [ $n = 5 ] || { [ -z "$name" ] && [ $n -gt 0 ]; }; then
      expect "escape-$page-$part:$names" 0 "${want[@]}" 'ok image "FLASHABL.ROM": version "L\nF!", marker at offset 4 (0x4)' \
        -- --code-page "$page" --suppress cr-line-end "escape-$page-$part"
      n=0
    fi
    [ -n "$name" ] || break
  done
}
escapes 1252 <<'ROWS'
tab|T\tab=1|T\\tab=1
carriage-return|C\rR=1|C\\rR=1
control-bytes|A\x01\x1b\x1f=1|A\\x01\\x1B\\x1F=1
delete|D\x7f=1|D\\x7F=1
backslash|B\\S=1|B\\\\S=1
blank-quote-tilde|\x20Q"~\x20=1|\x20Q"~\x20=1
high-bytes|\x80\xe9\xff=1|\xe2\x82\xac\xc3\xa9\xc3\xbf=1
lead-byte-of-932|\x95\\=1|\xe2\x80\xa2\\\\=1
ROWS
# Under a double-byte page a character stays whole, its trail byte a
# backslash too; a lead byte before a control byte is a byte alone; a byte
# that leads nothing there is single.
escapes 932 <<'ROWS'
lead-backslash|\x95\\=1|\xe8\xa1\xa8=1
lead-control|\x95\x1f=1|\\x95\\x1F=1
lead-delete|\x95\x7f=1|\\x95\\x7F=1
single-byte-backslash|\xb1\\=1|\xef\xbd\xb1\\\\=1
ROWS

[ "$failures" = 0 ] || { echo "kstcheck: $failures of $cases failed"; exit 1; }
echo "kstcheck: all $cases passed"
