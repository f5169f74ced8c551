#!/usr/bin/env bash
# Installs what the builds and the tests need (Debian 12, as root), skipping
# what is already there.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed'; }
for pkg in cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev \
           g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-x86-64-dev \
           wine wine64 xvfb x11-apps imagemagick locales python3 icoutils file openssl \
           softhsm2 libengine-pkcs11-openssl gnutls-bin openssh-client; do
  have "$pkg" || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "missing packages (run as root to install): ${need[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  # A mirror caught mid-sync fails one index (often another architecture's)
  # while the rest is fresh: the install below says whether what is needed
  # was found.
  apt-get update -qq || echo "install-deps: some package indexes could not be updated" >&2
  apt-get install -y -qq -o DPkg::Lock::Timeout=600 "${need[@]}" >/dev/null
fi

# osslsigncode as current distributions ship it (2.9: it fetches the CRLs
# that certificates name, which the release tests must meet); Debian 12 has
# 2.5, so on Debian 12 it comes from bookworm-backports. The archive is the
# one this machine already uses: the URIs of the stanza of
# /etc/apt/sources.list.d/debian.sources that holds the suite bookworm.
sources=/etc/apt/sources.list.d/debian.sources
backports=/etc/apt/sources.list.d/kst-bookworm-backports.sources
# backports_source: that stanza's URIs and Signed-By, as a source of
# bookworm-backports (nothing when there is no such stanza).
backports_source() {
  awk '
    function flush() {
      if (uris != "" && enabled != "no" && types ~ /(^| )deb( |$)/ && suites ~ /(^| )bookworm( |$)/ && !done) {
        print "Types: deb"; print "URIs: " uris; print "Suites: bookworm-backports"; print "Components: main"
        if (signed != "") print "Signed-By: " signed
        done = 1
      }
      uris = types = suites = signed = enabled = ""
    }
    /^[ \t]*#/ { next }
    /^[ \t]*$/ { flush(); next }
    { key = tolower($1); sub(/^[^:]*:[ \t]*/, ""); value = $0 }
    key == "uris:" { uris = value } key == "types:" { types = value } key == "suites:" { suites = value }
    key == "signed-by:" { signed = value } key == "enabled:" { enabled = tolower(value) }
    END { flush() }
  ' "$sources"
}
installed=$(dpkg-query -W -f='${Version}' osslsigncode 2>/dev/null || true)
if [ -z "$installed" ] || ! dpkg --compare-versions "$installed" ge 2.9; then
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  if [ "$(id -u)" != 0 ]; then
    if [ -z "$installed" ]; then
      echo "missing package (run as root to install): osslsigncode" >&2
      exit 1
    fi
    echo "install-deps: osslsigncode $installed is older than 2.9 (run as root to install 2.9)" >&2
  else
    export DEBIAN_FRONTEND=noninteractive
    from=()
    if [ "$codename" = bookworm ]; then
      stanza=$([ -r "$sources" ] && backports_source || true)
      if [ -n "$stanza" ]; then
        [ -f "$backports" ] && [ "$(cat "$backports")" = "$stanza" ] || printf '%s\n' "$stanza" >"$backports"
        apt-get update -qq || echo "install-deps: some package indexes could not be updated" >&2
        from=(-t bookworm-backports)
      else
        echo "install-deps: no bookworm stanza in $sources: osslsigncode comes from Debian 12 itself" >&2
      fi
    fi
    # Without backports the release script works with Debian 12's own.
    if ! apt-get install -y -qq -o DPkg::Lock::Timeout=600 "${from[@]}" osslsigncode >/dev/null; then
      echo "install-deps: osslsigncode 2.9 could not be installed${from[*]:+ from bookworm-backports}" >&2
      [ -n "$installed" ] || apt-get install -y -qq -o DPkg::Lock::Timeout=600 osslsigncode >/dev/null
    fi
  fi
fi

# Wine's 32-bit half, for the 32-bit launcher. It runs only where the kernel
# runs 32-bit programs (some kernels are built or booted without that), which
# a tiny 32-bit program that exits with 42 tells.
kernel_runs_32bit() {
  local probe rc
  probe=$(mktemp)
  python3 -c '
import struct, sys
code = bytes([0xB8, 1, 0, 0, 0, 0xBB, 42, 0, 0, 0, 0xCD, 0x80])  # exit(42)
base, size = 0x08048000, 52 + 32 + 12
header = b"\x7fELF\x01\x01\x01" + bytes(9) + struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, base + 84, 52, 0, 0, 52, 32, 1, 0, 0, 0)
segment = struct.pack("<IIIIIIII", 1, 0, base, base, size, size, 5, 0x1000)
open(sys.argv[1], "wb").write(header + segment + code)
' "$probe"
  chmod +x "$probe"
  rc=0
  "$probe" 2>/dev/null || rc=$?
  rm -f "$probe"
  [ $rc = 42 ]
}
if ! have wine32:i386; then
  if ! kernel_runs_32bit; then
    echo "install-deps: this kernel runs no 32-bit programs: Wine's 32-bit half is left out" >&2
  elif [ "$(id -u)" = 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    dpkg --add-architecture i386
    # Without it only the 32-bit launcher's run is left out (tools/test.sh
    # says so), so a failure here does not stop the rest.
    apt-get update -qq || true
    if ! apt-get install -y -qq wine32:i386 >/dev/null; then
      echo "install-deps: Wine's 32-bit half could not be installed: the 32-bit launcher will not be run" >&2
    fi
  else
    echo "missing package (run as root to install): wine32:i386" >&2
    exit 1
  fi
fi

# Double-byte cases under Wine need the Japanese locale on the Linux side,
# or non-ASCII file names do not reach Wine intact.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  if [ "$(id -u)" = 0 ]; then
    sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
  fi
fi
