#!/usr/bin/env bash
# Builds a release of the committed tree (HEAD), for 32-bit and 64-bit
# Windows, in a fresh build directory:
#   OUT/KSTGATE-<version>-win32.zip, OUT/KSTGATE-<version>-win64.zip
#     (each: KSTGATE.exe and the console tools of that architecture, README.md)
#   OUT/SHA256SUMS (every other file in OUT)
# OUT is dist/ unless given: tools/release.sh [OUT]
#
# The same commit gives the same bytes wherever it is built: no debug
# information, no build paths, a fixed PE timestamp, zip entries in a fixed
# order with the commit's time.
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
# compare.
#
# On any failure nothing is left in OUT: the zips, sums and signatures are
# moved there only when every step has succeeded.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=${1:-$root/dist}

fail() { echo "release: $*" >&2; exit 1; }

version=$(sed -n 's/^project(KSTGATE VERSION \([0-9][0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no version in CMakeLists.txt"
name=KSTGATE-$version
commit=$(git rev-parse --verify HEAD 2>/dev/null) || fail "not a git checkout with a commit"

# What an earlier run left in OUT goes first, so that a failed run leaves no
# zip behind that could pass for this one's.
mkdir -p "$out"
out=$(cd "$out" && pwd)
rm -rf "$out/$name-win32.zip" "$out/$name-win64.zip" "$out/$name-win32" "$out/$name-win64" "$out/SHA256SUMS"

work=$(mktemp -d "${TMPDIR:-/tmp}/kst-release.XXXXXX")
trap 'rm -rf "$work"' EXIT

# ---- signing set-up, checked before anything is built -----------------------

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
  # The password goes to the tools through a file, never on a command line.
  passfile=$keys/pass
  (umask 077; printf '%s' "${KST_SIGN_PASS:-}" >"$passfile")
  if [ -n "${KST_SIGN_PKCS12:-}" ]; then
    if ! openssl pkcs12 -in "$KST_SIGN_PKCS12" -passin "file:$passfile" -nokeys -clcerts -out "$keys/cert.pem" 2>/dev/null &&
       ! openssl pkcs12 -legacy -in "$KST_SIGN_PKCS12" -passin "file:$passfile" -nokeys -clcerts -out "$keys/cert.pem" 2>/dev/null; then
      fail "signing: cannot open $KST_SIGN_PKCS12: wrong password (KST_SIGN_PASS), or not a PKCS#12 file"
    fi
    signargs=(-pkcs12 "$KST_SIGN_PKCS12" -readpass "$passfile")
    certfile=$keys/cert.pem
  else
    certpub=$(openssl x509 -in "$KST_SIGN_CERT" -noout -pubkey 2>/dev/null) ||
      fail "signing: $KST_SIGN_CERT is not a PEM certificate"
    passin=()
    [ -n "${KST_SIGN_PASS:-}" ] && passin=(-passin "file:$passfile")
    keypub=$(openssl pkey -in "$KST_SIGN_KEY" "${passin[@]}" -pubout 2>/dev/null </dev/null) ||
      fail "signing: cannot open the private key $KST_SIGN_KEY: not a PEM key, or a wrong password (KST_SIGN_PASS)"
    [ "$certpub" = "$keypub" ] || fail "signing: the private key $KST_SIGN_KEY does not belong to the certificate $KST_SIGN_CERT"
    signargs=(-certs "$KST_SIGN_CERT" -key "$KST_SIGN_KEY")
    [ -n "${KST_SIGN_PASS:-}" ] && signargs+=(-readpass "$passfile")
    certfile=$KST_SIGN_CERT
  fi
  cafile=${KST_SIGN_CAFILE:-$certfile}
  readable "$cafile" || fail "signing: cannot read KST_SIGN_CAFILE $cafile"
fi

# ---- build -------------------------------------------------------------------

echo "release: $name from commit $commit"
[ -z "$(git status --porcelain --untracked-files=no)" ] ||
  echo "release: note: uncommitted changes in the work tree are not part of the release"
src=$work/src
mkdir -p "$src"
git archive --format=tar "$commit" | tar -x -C "$src"
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct "$commit")}

# The console tools that go beside the launcher, when this tree has them.
tools=()
for tool in kstscan kstcheck; do
  [ -f "$src/tools/$tool/CMakeLists.txt" ] && tools+=("$tool")
done

stage=$work/stage
mkdir -p "$stage"
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

  "$root/tools/check-exe.sh" "$files/KSTGATE.exe" >/dev/null
  for exe in "${exes[@]}"; do
    if "$objdump" -h "$files/$exe" | grep -q ' \.debug'; then fail "$arch: $exe carries debug information"; fi
    if grep -qaF -e "$work" -e "$root" "$files/$exe"; then fail "$arch: $exe holds a build path"; fi
  done

  if [ $sign = 1 ]; then
    sigs=$work/dist/$name-$arch
    mkdir -p "$sigs"
    for exe in "${exes[@]}"; do
      osslsigncode sign "${signargs[@]}" -h sha256 -n "KSTGATE" -in "$files/$exe" -out "$files/$exe.signed" \
        >"$work/sign.log" 2>&1 || { cat "$work/sign.log" >&2; fail "$arch: signing $exe failed"; }
      osslsigncode verify -in "$files/$exe.signed" -CAfile "$cafile" >"$work/verify.log" 2>&1 ||
        { cat "$work/verify.log" >&2; fail "$arch: the signed $exe does not verify"; }
      mv "$files/$exe.signed" "$files/$exe"
      osslsigncode extract-signature -pem -in "$files/$exe" -out "$sigs/$exe.sig.pem" >"$work/extract.log" 2>&1 ||
        { cat "$work/extract.log" >&2; fail "$arch: the signature of $exe cannot be extracted"; }
    done
    echo "release: $arch: signed and verified ${exes[*]}"
  fi
  cp "$src/README.md" "$files/README.md"

  mkdir -p "$work/dist"
  python3 - "$work/dist/$name-$arch.zip" "$files" "$epoch" "${exes[@]}" README.md <<'EOF'
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

(cd "$work/dist" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort | xargs sha256sum >SHA256SUMS)

# Everything succeeded: hand it over.
cp -R "$work/dist/." "$out/"
echo "release: done: $out"
(cd "$out" && sed 's/^/  /' SHA256SUMS)
