#!/usr/bin/env bash
# The main job, end to end: builds KSTGATE.exe and the sample flasher and
# probe, lays out a demo folder, runs the launcher under Wine, answers Yes at
# the confirmation like a user, and saves a screenshot of the flasher's
# window while it is taken over.
#
# By default everything runs on a virtual display (Xvfb). To watch on a real
# display instead, run with KST_DISPLAY set, e.g. KST_DISPLAY=$DISPLAY tools/demo.sh
# (the confirmation is still answered for you).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

tools/install-deps.sh
tools/build.sh >/dev/null

BUILD=$ROOT/build/win64
. tests/e2e/lib.sh
e2e_setup
trap e2e_teardown EXIT
# With no window manager on the virtual display, let Wine draw the title
# bars itself, so the busy caption shows in the screenshot.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1 || true
e2e_settle 60 || true

case_dir demo
full_setup
echo "== demo folder: $CASE"
ls -1 "$CASE" | sed 's/^/   /'

SHOT=$ROOT/build/demo-takeover.png
rm -f "$SHOT"
(cd "$CASE" && wine "$BUILD/tests/programs/driver/kstdriver.exe" 90 YES \
   "\"$(winpath "$CASE/KSTGATE.exe")\" WINKESTROM.EXE -flashms 4000" 2>/dev/null | tr -d '\r' >"$E2E_ROOT/driver.out") &
DRIVER=$!
# Take the screenshot while the flasher handles the Flash BIOS command.
for _ in $(seq 600); do
  if grep -q '^COMMAND' "$CASE/FLASHER.LOG" 2>/dev/null; then
    sleep 0.5
    import -window root "$SHOT" 2>/dev/null || { xwd -root -silent | convert xwd:- "$SHOT"; }
    break
  fi
  sleep 0.1
done
wait $DRIVER || true

echo "== message boxes (caption | text | buttons)"
grep '^BOX' "$E2E_ROOT/driver.out" | sed 's/^BOX /   /'
echo "== the flasher's dialog while it flashed (from its log)"
sed -n '/^COMMAND/,/^END/p' "$CASE/FLASHER.LOG" | grep -v '^END' | tr -d '\r' | sed 's/^/   /'
echo "== after the flasher ended"
for f in BIOS.BAK WINKESTROM.GID BV; do
  if [ -e "$CASE/$f" ]; then echo "   $f: still there"; else echo "   $f: deleted"; fi
done
code=$(sed -n 's/^EXIT //p' "$E2E_ROOT/driver.out")
echo "== KSTGATE exit code: ${code:-none}"
if [ -s "$SHOT" ]; then echo "== screenshot of the takeover: $SHOT"; else echo "== no screenshot taken"; fi
[ "$code" = 0 ]
