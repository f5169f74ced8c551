#!/usr/bin/env bash
# Builds a release of the committed tree (HEAD), for 32-bit and 64-bit
# Windows, in a fresh build directory:
#   OUT/KSTGATE-<version>-win32.zip, OUT/KSTGATE-<version>-win64.zip
#     (each: KSTGATE.exe and the console tools of that architecture, README.md)
#   OUT/BUILDINFO (the commit, the tools that made the release: path, Debian
#     package and version of each, and the build flags)
#   OUT/SHA256SUMS (the sums of all these files, and of the exes' signatures
#     when signing)
# OUT is dist/ unless given: tools/release.sh [OUT]
#
# Everything the release is built from, and everything this script runs from
# the tree (the version, check-exe.sh), comes from the commit, never from the
# work tree.
#
# The same commit gives the same bytes wherever it is built with the same
# tools (BUILDINFO names them): no debug information, no build paths, a fixed
# PE timestamp, zip entries in a fixed order with the commit's time.
#
# Signing (optional, Authenticode, SHA-256, with osslsigncode):
#   KST_SIGN_CERT and KST_SIGN_KEY   certificate and private key, PEM files
#                                    (KST_SIGN_PASS: the key's password, if any)
#   or KST_SIGN_PKCS12 and KST_SIGN_PASS   one PKCS#12 file and its password
#   KST_SIGN_CAFILE                  certificates to verify the signed exes
#                                    against (default: the signing certificate)
# Every exe is signed and verified before it is zipped, and each exe's
# signature is published as OUT/KSTGATE-<version>-<arch>/<exe>.sig.pem, so
# that anyone can rebuild the release unsigned, attach the signature and
# compare. SHA256SUMS gets a detached CMS signature, OUT/SHA256SUMS.sig, by
# the same certificate. The password reaches openssl and osslsigncode through
# a pipe on their descriptor 3, never through a file or a command line, and
# no build tool sees KST_SIGN_PASS.
#
# OUT holds a whole release or none: the release is made in a temporary
# directory and its files are moved into OUT only when every step has
# succeeded. A failed or interrupted (INT, TERM, HUP) run leaves no release
# files in OUT, neither an earlier run's nor a part of its own. Other files in
# OUT are never touched.
set -euo pipefail

# The password stays a variable of this shell: no program started from here
# gets it in its environment.
export -n KST_SIGN_PASS

cd "$(dirname "$0")/.."
root=$(pwd)
out=${1:-$root/dist}

fail() { echo "release: $*" >&2; exit 1; }

# ---- clean-up: on any exit but a finished hand-over ---------------------------

work=
handover=
release_files=()
finished=0

# Removes the release's files from OUT (an earlier run's, or what this run
# had moved there), and nothing else.
remove_release_files() {
  local file
  for file in "${release_files[@]}"; do
    rm -rf -- "${out:?}/$file"
  done
}
cleanup() {
  [ -z "$work" ] || rm -rf -- "$work"
  [ -z "$handover" ] || rm -rf -- "$handover"
  [ $finished = 1 ] || remove_release_files
}
interrupted() {
  trap - EXIT
  cleanup
  echo "release: interrupted ($1): no release files left in $out" >&2
  trap - "$1"
  kill -s "$1" $$
}
trap cleanup EXIT
for signal in INT TERM HUP; do
  trap "interrupted $signal" "$signal"
done

commit=$(git rev-parse --verify HEAD 2>/dev/null) || fail "not a git checkout with a commit"
work=$(mktemp -d "${TMPDIR:-/tmp}/kst-release.XXXXXX")
echo "release: from commit $commit"
[ -z "$(git status --porcelain --untracked-files=no)" ] ||
  echo "release: note: uncommitted changes in the work tree are not part of the release"
src=$work/src
mkdir -p "$src"
git archive --format=tar "$commit" | tar -x -C "$src"
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct "$commit")}

# The version, as the commit's CMakeLists.txt declares it.
version=$(sed -n 's/^project(KSTGATE VERSION \([0-9][0-9.]*\) .*/\1/p' "$src/CMakeLists.txt")
[ -n "$version" ] || fail "no version in the commit's CMakeLists.txt"
name=KSTGATE-$version
[ -x "$src/tools/check-exe.sh" ] || fail "the commit has no tools/check-exe.sh"

# What an earlier run left in OUT goes first, so that a failed run leaves no
# zip behind that could pass for this one's. SHA256SUMS goes last at the
# hand-over: a release without it was cut short.
release_files=("$name-win32.zip" "$name-win64.zip" "$name-win32" "$name-win64" BUILDINFO SHA256SUMS.sig SHA256SUMS)
mkdir -p "$out"
out=$(cd "$out" && pwd)
remove_release_files

# ---- signing set-up, checked before anything is built -----------------------

# with_pass CMD...: runs CMD with the password readable on its descriptor 3,
# a pipe ("-passin fd:3" for openssl, "-readpass /dev/fd/3" for osslsigncode).
with_pass() { "$@" 3< <(printf '%s' "${KST_SIGN_PASS:-}"); }

sign=0
readable() { [ -f "$1" ] && [ -r "$1" ]; }
if [ -n "${KST_SIGN_PKCS12:-}" ]; then
  [ -z "${KST_SIGN_CERT:-}${KST_SIGN_KEY:-}" ] || fail "set either KST_SIGN_PKCS12 or KST_SIGN_CERT with KST_SIGN_KEY, not both"
  readable "$KST_SIGN_PKCS12" || fail "signing: cannot read the PKCS#12 file $KST_SIGN_PKCS12"
  [ -n "${KST_SIGN_PASS+set}" ] || fail "signing: KST_SIGN_PKCS12 needs its password in KST_SIGN_PASS"
  sign=1
elif [ -n "${KST_SIGN_CERT:-}${KST_SIGN_KEY:-}" ]; then
  [ -n "${KST_SIGN_CERT:-}" ] || fail "signing: KST_SIGN_KEY is set but KST_SIGN_CERT is not"
  [ -n "${KST_SIGN_KEY:-}" ] || fail "signing: KST_SIGN_CERT is set but KST_SIGN_KEY is not"
  readable "$KST_SIGN_CERT" || fail "signing: cannot read the certificate $KST_SIGN_CERT"
  readable "$KST_SIGN_KEY" || fail "signing: cannot read the private key $KST_SIGN_KEY"
  sign=1
fi

if [ $sign = 1 ]; then
  command -v osslsigncode >/dev/null || fail "signing: osslsigncode is not installed"
  keys=$work/keys
  mkdir -m 700 "$keys"
  if [ -n "${KST_SIGN_PKCS12:-}" ]; then
    # Older PKCS#12 files use ciphers that OpenSSL 3 keeps in its legacy
    # provider.
    legacy=()
    if ! with_pass openssl pkcs12 -in "$KST_SIGN_PKCS12" -passin fd:3 -nokeys -clcerts -out "$keys/cert.pem" 2>/dev/null; then
      legacy=(-provider legacy -provider default)
      with_pass openssl pkcs12 -legacy -in "$KST_SIGN_PKCS12" -passin fd:3 -nokeys -clcerts -out "$keys/cert.pem" 2>/dev/null ||
        fail "signing: cannot open $KST_SIGN_PKCS12: wrong password (KST_SIGN_PASS), or not a PKCS#12 file"
    fi
    signargs=(-pkcs12 "$KST_SIGN_PKCS12" -readpass /dev/fd/3)
    certfile=$keys/cert.pem
    cmsargs=("${legacy[@]}" -signer "$certfile" -inkey "$KST_SIGN_PKCS12" -passin fd:3)
  else
    certpub=$(openssl x509 -in "$KST_SIGN_CERT" -noout -pubkey 2>/dev/null) ||
      fail "signing: $KST_SIGN_CERT is not a PEM certificate"
    passin=()
    [ -n "${KST_SIGN_PASS:-}" ] && passin=(-passin fd:3)
    keypub=$(with_pass openssl pkey -in "$KST_SIGN_KEY" "${passin[@]}" -pubout 2>/dev/null </dev/null) ||
      fail "signing: cannot open the private key $KST_SIGN_KEY: not a PEM key, or a wrong password (KST_SIGN_PASS)"
    [ "$certpub" = "$keypub" ] || fail "signing: the private key $KST_SIGN_KEY does not belong to the certificate $KST_SIGN_CERT"
    signargs=(-certs "$KST_SIGN_CERT" -key "$KST_SIGN_KEY")
    [ -n "${KST_SIGN_PASS:-}" ] && signargs+=(-readpass /dev/fd/3)
    certfile=$KST_SIGN_CERT
    cmsargs=(-signer "$certfile" -inkey "$KST_SIGN_KEY" "${passin[@]}")
  fi
  cafile=${KST_SIGN_CAFILE:-$certfile}
  readable "$cafile" || fail "signing: cannot read KST_SIGN_CAFILE $cafile"
fi

# ---- build -------------------------------------------------------------------

echo "release: $name"

# The console tools that go beside the launcher, when this tree has them.
tools=()
for tool in kstscan kstcheck; do
  [ -f "$src/tools/$tool/CMakeLists.txt" ] && tools+=("$tool")
done

dist=$work/dist
stage=$work/stage
mkdir -p "$dist" "$stage"
for arch in win32 win64; do
  case $arch in
    win32) toolchain=mingw-w64-i686.cmake; objdump=i686-w64-mingw32-objdump ;;
    win64) toolchain=mingw-w64-x86_64.cmake; objdump=x86_64-w64-mingw32-objdump ;;
  esac
  build=$work/build-$arch
  echo "release: building $arch"
  cmake -S "$src" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DKST_RELEASE=ON >"$work/cmake-$arch.log" 2>&1 || { cat "$work/cmake-$arch.log" >&2; fail "$arch: configure failed"; }
  cmake --build "$build" -j"$(nproc)" --target KSTGATE "${tools[@]}" >"$work/build-$arch.log" 2>&1 ||
    { tail -n 40 "$work/build-$arch.log" >&2; fail "$arch: build failed"; }

  files=$stage/$name-$arch
  mkdir -p "$files"
  cp "$build/src/KSTGATE.exe" "$files/"
  for tool in "${tools[@]}"; do cp "$build/tools/$tool/$tool.exe" "$files/"; done
  exes=(KSTGATE.exe "${tools[@]/%/.exe}")

  "$src/tools/check-exe.sh" "$files/KSTGATE.exe" "$version" >/dev/null
  for exe in "${exes[@]}"; do
    if "$objdump" -h "$files/$exe" | grep -q ' \.debug'; then fail "$arch: $exe carries debug information"; fi
    if grep -qaF -e "$work" -e "$root" "$files/$exe"; then fail "$arch: $exe holds a build path"; fi
  done

  if [ $sign = 1 ]; then
    sigs=$dist/$name-$arch
    mkdir -p "$sigs"
    for exe in "${exes[@]}"; do
      with_pass osslsigncode sign "${signargs[@]}" -h sha256 -n "KSTGATE" -in "$files/$exe" -out "$files/$exe.signed" \
        >"$work/sign.log" 2>&1 </dev/null || { cat "$work/sign.log" >&2; fail "$arch: signing $exe failed"; }
      osslsigncode verify -in "$files/$exe.signed" -CAfile "$cafile" >"$work/verify.log" 2>&1 ||
        { cat "$work/verify.log" >&2; fail "$arch: the signed $exe does not verify"; }
      mv "$files/$exe.signed" "$files/$exe"
      osslsigncode extract-signature -pem -in "$files/$exe" -out "$sigs/$exe.sig.pem" >"$work/extract.log" 2>&1 ||
        { cat "$work/extract.log" >&2; fail "$arch: the signature of $exe cannot be extracted"; }
    done
    echo "release: $arch: signed and verified ${exes[*]}"
  fi
  cp "$src/README.md" "$files/README.md"

  python3 - "$dist/$name-$arch.zip" "$files" "$epoch" "${exes[@]}" README.md <<'EOF'
import sys
import time
import zipfile

path, folder, epoch, names = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4:]
# Zip times are local times without a zone: the commit's time in UTC, and
# never before the earliest time a zip can hold.
stamp = max(time.gmtime(epoch)[:6], (1980, 1, 1, 0, 0, 0))
with zipfile.ZipFile(path, "w") as archive:
    for name in names:
        entry = zipfile.ZipInfo(name, date_time=stamp)
        entry.compress_type = zipfile.ZIP_DEFLATED
        entry.create_system = 0
        entry.external_attr = 0x20  # an ordinary file
        with open(folder + "/" + name, "rb") as data:
            archive.writestr(entry, data.read(), compresslevel=9)
EOF
  echo "release: $arch: $name-$arch.zip (${exes[*]} README.md)"
done

# ---- the build record ------------------------------------------------------------
# Plain "key: value" lines, sorted, so that two records compare with diff.
# A program is recorded as where it really is and the Debian package (and
# its version) that installed it.

record=$work/buildinfo
: >"$record"
info() { printf '%s: %s\n' "$1" "$2" >>"$record"; }

# package_of FILE: "PACKAGE VERSION" of the Debian package that installed FILE.
package_of() {
  local owners="" candidate pkg result=""
  for candidate in "$1" "${1#/usr}"; do  # merged /usr: dpkg may know /lib/x, not /usr/lib/x
    owners=$(dpkg-query -S -- "$candidate" 2>/dev/null | sed -n '/^diversion /d; s/: .*//p' | head -n 1) || true
    [ -z "$owners" ] || break
  done
  [ -n "$owners" ] || { echo "no Debian package"; return; }
  for pkg in ${owners//,/ }; do
    result+="${result:+, }$pkg $(dpkg-query -W -f='${Version}' "$pkg")"
  done
  echo "$result"
}
# program KEY PROGRAM: PROGRAM (a path, or a name found on PATH), resolved.
program() {
  local path
  case $2 in
    */*) path=$2 ;;
    *) path=$(command -v -- "$2") || fail "build record: $2 not found" ;;
  esac
  path=$(readlink -f -- "$path")
  info "$1" "$path ($(package_of "$path"))"
}
# compiler_of BUILD LANG: the compiler CMake found for LANG in BUILD.
compiler_of() {
  sed -n "s/^set(CMAKE_$2_COMPILER \"\(.*\)\")\$/\1/p" "$1"/CMakeFiles/*/"CMake$2Compiler.cmake" | head -n 1
}
# cache_of BUILD VAR: VAR from BUILD's CMake cache.
cache_of() { sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt" | head -n 1; }

info commit "$commit"
info commit-time "$(date -u -d "@$(git log -1 --format=%ct "$commit")" +%Y-%m-%dT%H:%M:%SZ)"
info source-date-epoch "$epoch"
info version "$version"
info build-type Release
program cmake cmake
program sha256sum sha256sum
{ read -r python; read -r python_version; read -r zlib_version; read -r zlib_library; } < <(python3 - <<'EOF'
import os
import sys
import zlib

print(os.path.realpath(sys.executable))
print(sys.version.split()[0])
print(zlib.ZLIB_RUNTIME_VERSION)
# The zlib library this Python has loaded, if it is not built in.
library = ""
with open("/proc/self/maps") as maps:
    for line in maps:
        fields = line.split()
        if len(fields) >= 6 and os.path.basename(fields[5]).startswith("libz.so"):
            library = os.path.realpath(fields[5])
            break
print(library or "-")
EOF
)
program python "$python"
info python-version "$python_version"
if [ "$zlib_library" = - ]; then info zlib "built into Python"; else program zlib "$zlib_library"; fi
info zlib-version "$zlib_version"
if [ $sign = 1 ]; then
  program osslsigncode osslsigncode
  program openssl openssl
fi

for arch in win32 win64; do
  build=$work/build-$arch
  cxx=$(compiler_of "$build" CXX)
  [ -n "$cxx" ] || fail "build record: $arch: no C++ compiler in the build directory"
  program "$arch.cc" "$(compiler_of "$build" C)"
  program "$arch.cxx" "$cxx"
  program "$arch.rc" "$(compiler_of "$build" RC)"
  program "$arch.as" "$("$cxx" -print-prog-name=as)"
  program "$arch.ld" "$("$cxx" -print-prog-name=ld)"
  program "$arch.ar" "$(cache_of "$build" CMAKE_AR)"
  program "$arch.ranlib" "$(cache_of "$build" CMAKE_RANLIB)"
  # What the compiler links into every exe: the C++ and compiler runtimes,
  # the MinGW-w64 start-up code and thread library; and the Windows headers.
  program "$arch.libstdc++" "$("$cxx" -print-file-name=libstdc++.a)"
  program "$arch.libgcc" "$("$cxx" -print-file-name=libgcc.a)"
  program "$arch.crt" "$("$cxx" -print-file-name=crt2.o)"
  program "$arch.winpthread" "$("$cxx" -print-file-name=libwinpthread.a)"
  headers=$(printf '#include <windows.h>\n' | "$cxx" -x c++ -M - | tr -s ' \\\n' '\n\n' | awk '/\/windows\.h$/ && !n++')
  [ -n "$headers" ] || fail "build record: $arch: the compiler finds no windows.h"
  program "$arch.headers" "$headers"

  # The flags of every target the release build compiled, as the build
  # files hold them, with the build and source directories named, not given.
  python3 - "$build" "$src" "$arch" >>"$record" <<'EOF'
import glob
import os
import re
import sys

build, source, arch = sys.argv[1:4]

def clean(text, here):
    # Response files ("@file", relative to the target's directory) are
    # written out in place.
    def inline(match):
        path = os.path.join(here, match.group(1))
        return open(path).read().strip() if os.path.isfile(path) else match.group(0)
    text = re.sub(r"@(\S+)", inline, text)
    text = text.replace(build, "<build>").replace(source, "<source>")
    return " ".join(text.split())

for flags in sorted(glob.glob(build + "/**/CMakeFiles/*.dir/flags.make", recursive=True)):
    target_dir = os.path.dirname(flags)
    compiled = any(name.endswith((".obj", ".res"))
                   for _, _, names in os.walk(target_dir) for name in names)
    if not compiled:
        continue
    here = os.path.dirname(os.path.dirname(target_dir))  # where its commands run
    target = os.path.relpath(here, build)
    target = os.path.basename(target_dir)[:-4] if target == "." else target + "/" + os.path.basename(target_dir)[:-4]
    key = arch + ".flags." + target
    with open(flags) as lines:
        for line in lines:
            match = re.match(r"^([A-Z_]+) = (.*)$", line.rstrip("\n"))
            if match and match.group(2).strip():
                print(key + "." + match.group(1) + ": " + clean(match.group(2), here))
    link = os.path.join(target_dir, "link.txt")
    if os.path.isfile(link):
        with open(link) as lines:
            steps = [clean(line, here) for line in lines if line.strip()]
        for number, step in enumerate(steps, 1):
            print("%s.link.%d: %s" % (key, number, step))
EOF
done

LC_ALL=C sort -o "$dist/BUILDINFO" "$record"
if grep -qF -e "$work" -e "$root" "$dist/BUILDINFO"; then fail "BUILDINFO holds a build path"; fi

# ---- sums, and their signature ---------------------------------------------------

(cd "$dist" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | xargs sha256sum >"$work/SHA256SUMS")
mv "$work/SHA256SUMS" "$dist/SHA256SUMS"
if [ $sign = 1 ]; then
  with_pass openssl cms -sign -binary -md sha256 -in "$dist/SHA256SUMS" "${cmsargs[@]}" -outform PEM \
    -out "$dist/SHA256SUMS.sig" >"$work/cms.log" 2>&1 </dev/null ||
    { cat "$work/cms.log" >&2; fail "signing SHA256SUMS failed"; }
  openssl cms -verify -binary -purpose any -content "$dist/SHA256SUMS" -CAfile "$cafile" \
    -in "$dist/SHA256SUMS.sig" -inform PEM -out /dev/null >"$work/cms.log" 2>&1 ||
    { cat "$work/cms.log" >&2; fail "the signature of SHA256SUMS does not verify"; }
  echo "release: signed and verified SHA256SUMS"
fi

# ---- hand-over -------------------------------------------------------------------
# Every step has succeeded. The release is copied next to OUT's files first
# (the same file system), then each file is renamed into place, SHA256SUMS
# last; an interruption on the way takes out what had arrived.

for file in "$dist"/* "$dist"/.[!.]*; do
  [ -e "$file" ] || continue
  case " ${release_files[*]} " in
    *" ${file##*/} "*) ;;
    *) fail "${file##*/} is not one of the release's files: it would be left behind in OUT" ;;
  esac
done
handover=$(mktemp -d "$out/.kst-release.XXXXXX")
cp -R "$dist/." "$handover/"
remove_release_files
for file in "${release_files[@]}"; do
  if [ -e "$handover/$file" ]; then mv -T -- "$handover/$file" "$out/$file"; fi
done
finished=1
rmdir -- "$handover"
handover=
echo "release: done: $out"
(cd "$out" && sed 's/^/  /' SHA256SUMS)
