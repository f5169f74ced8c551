# Shared by the end-to-end cases and the demo: a Wine prefix, a virtual X
# display, and a driver that answers the launcher's message boxes.
# Needs BUILD (the Windows build directory of the sample programs and the
# driver). The launcher under test is KST_LAUNCHER when set, else
# $BUILD/src/KSTGATE.exe: a 32-bit launcher may drive 64-bit programs.

# Wine's 32-bit loader runs only where the kernel runs 32-bit programs. Where
# it is installed but cannot run, the "wine" command still picks it and
# fails on every program, so wine and wine-stable then go straight to the
# 64-bit loader, which runs 64-bit programs alone.
wine32_runs() {
  [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

e2e_wine_path() {
  wine32_runs && return 0
  [ -x /usr/lib/wine/wine64 ] || return 0
  mkdir -p "$E2E_ROOT/bin"
  local name
  for name in wine wine-stable; do
    printf '#!/bin/sh\nWINELOADER=/usr/lib/wine/wine64 exec /usr/lib/wine/wine64 "$@"\n' >"$E2E_ROOT/bin/$name"
    chmod +x "$E2E_ROOT/bin/$name"
  done
  export PATH=$E2E_ROOT/bin:$PATH
}

e2e_setup() {
  E2E_ROOT=$(mktemp -d /tmp/kst-e2e-XXXXXX)
  E2E_DLL_OVERRIDES="mscoree,mshtml="
  export WINEPREFIX=$E2E_ROOT/prefix WINEDEBUG=-all WINEDLLOVERRIDES=$E2E_DLL_OVERRIDES
  E2E_LAUNCHER=$(realpath "${KST_LAUNCHER:-$BUILD/src/KSTGATE.exe}")
  e2e_wine_path
  if [ -z "${KST_DISPLAY:-}" ]; then
    # Xvfb takes a free display number itself and tells it once it is
    # ready, so that runs started at the same moment never share one.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$E2E_ROOT/display" >/dev/null 2>&1 &
    E2E_XVFB=$!
    for _ in $(seq 100); do grep -sqx '[0-9][0-9]*' "$E2E_ROOT/display" && break; sleep 0.1; done
    export DISPLAY=:$(head -n 1 "$E2E_ROOT/display")
  else
    export DISPLAY=$KST_DISPLAY
  fi
  # One Wine server, with the system's own processes, for the whole run:
  # each program then starts at once, and no program's end waits for a
  # server that lingers before it shuts down. It goes at the teardown, or
  # by itself a while after the last program should the run be killed.
  mkdir -p "$WINEPREFIX"
  wineserver -p60 </dev/null >/dev/null 2>&1 || true
  wineboot -i >/dev/null 2>&1 || true
  # The virtual display has no window manager: Wine then keeps windows to
  # itself, rather than waiting two seconds for a manager at every window
  # that is hidden (each message box that is answered).
  [ -z "${E2E_XVFB:-}" ] || wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
  e2e_settle 60 || e2e_end_programs
}

e2e_teardown() {
  wineserver -k 2>/dev/null || true
  [ -n "${E2E_XVFB:-}" ] && kill "$E2E_XVFB" 2>/dev/null || true
  rm -rf "$E2E_ROOT"
}

# Wine's own processes, which stay for the whole run.
E2E_SYSTEM_PROGRAMS=" services.exe explorer.exe winedevice.exe plugplay.exe svchost.exe rpcss.exe "

# e2e_programs: every program running in this run's prefix apart from the
# server and the system's own processes, one "PID NAME" a line: the
# processes whose environment names this prefix and whose Linux program is
# Wine's loader.
e2e_programs() {
  local env pid exe path name
  for env in $(grep -lsxzF "WINEPREFIX=$WINEPREFIX" /proc/[0-9]*/environ); do
    pid=${env#/proc/}; pid=${pid%/environ}
    exe=$(readlink "/proc/$pid/exe" 2>/dev/null) || continue
    case ${exe##*/} in wine|wine64|wine-preloader|wine64-preloader) ;; *) continue ;; esac
    path=$(tr '\0' '\n' <"/proc/$pid/cmdline" 2>/dev/null | head -n 1)
    [ -n "$path" ] || continue  # ended meanwhile
    name=${path##*[\\/]}
    case $E2E_SYSTEM_PROGRAMS in *" ${name,,} "*) continue ;; esac
    echo "$pid $name"
  done
}

# e2e_settle SECONDS: waits until no program of the prefix is left (see
# e2e_programs), at most SECONDS; fails when some still run then.
e2e_settle() {
  local end=$((SECONDS + $1))
  while [ -n "$(e2e_programs)" ]; do
    [ $SECONDS -lt "$end" ] || return 1
    sleep 0.2
  done
}

# e2e_end_programs: ends every program of the prefix (see e2e_programs) and
# waits until they are gone.
e2e_end_programs() {
  local pid _
  for _ in 1 2 3; do
    for pid in $(e2e_programs | cut -d' ' -f1); do kill -KILL "$pid" 2>/dev/null; done
    e2e_settle 5 && return 0
  done
  return 1
}

# case_dir NAME: a fresh directory with the launcher in it.
case_dir() {
  CASE=$E2E_ROOT/cases/$1
  rm -rf "$CASE"
  mkdir -p "$CASE"
  cp "$E2E_LAUNCHER" "$CASE/KSTGATE.exe"
}

# A complete machine: settings, image, probe and flasher.
full_setup() {
  printf '[UI]\r\nTitle=Vesmar WinKestrom\r\n[Main]\r\nBackupFile=BIOS.BAK\r\nImageFile=FLASHABL.ROM\r\n' >"$CASE/KESTROM.INI"
  { head -c 2000 /dev/zero; printf '1.07-0000-'; head -c 500 /dev/zero; } >"$CASE/FLASHABL.ROM"
  cp "$BUILD/tests/programs/sample-probe/BIOSVER.exe" "$CASE/BIOSVER.EXE"
  cp "$BUILD/tests/programs/sample-flasher/WINKESTROM.exe" "$CASE/WINKESTROM.EXE"
}

winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"; }

# drive ANSWERS TAIL: runs the launcher of $CASE through the driver; the
# driver's output is in $OUT.
drive() {
  local answers=$1 tail=$2
  local cmd
  cmd="\"$(winpath "$CASE/KSTGATE.exe")\""
  [ -n "$tail" ] && cmd="$cmd $tail"
  OUT=$(cd "${RUN_DIR:-$CASE}" && wine "$BUILD/tests/programs/driver/kstdriver.exe" 60 "$answers" "$cmd" 2>/dev/null | tr -d '\r')
}

# noise SEED COUNT: COUNT bytes of noise, the same for the same SEED (the
# high bytes of a 32-bit linear congruential generator; every product stays
# below 2^53, so any awk computes it exactly).
noise() {
  LC_ALL=C awk -v x="$1" -v n="$2" 'BEGIN {
    for (i = 0; i < n; i++) { x = (x * 69069 + 1) % 4294967296; printf "%c", int(x / 16777216) }
  }'
}

# tree_list DIR...: every directory below DIR, and every file with its checksum.
tree_list() {
  local d
  for d in "$@"; do
    find "$d" -type d | LC_ALL=C sort | sed 's/^/dir  /'
    find "$d" -type f -print0 | LC_ALL=C sort -z | xargs -0 -r sha256sum
  done
}

# snapshot DIR...: records the trees that tree_same compares with later.
snapshot() {
  SNAP_DIRS=("$@")
  SNAP=$(tree_list "$@")
}

# tree_same [PATH...]: the trees recorded by snapshot hold the same
# directories and files with the same contents, except PATHs (relative to
# $CASE unless absolute), which may have appeared, changed or gone.
tree_same() {
  local changed p
  changed=$(diff <(printf '%s\n' "$SNAP") <(tree_list "${SNAP_DIRS[@]}") | sed -n 's/^[<>] //p' |
    sed 's/^dir  //; s/^[0-9a-f]\{64\}  //' | LC_ALL=C sort -u)
  for p in "$@"; do
    case $p in /*) ;; *) p=$CASE/$p ;; esac
    changed=$(grep -vxF -- "$p" <<<"$changed")
  done
  [ -z "$changed" ] && return 0
  sed 's/^/    changed: /' <<<"$changed"
  return 1
}
