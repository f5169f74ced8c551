#!/usr/bin/env bash
# The release as a product, built from scratch clones of the tree under test,
# never from the developer's tree:
# - two release builds in two directories, one from a clone with
#   core.autocrlf=true and a packager's CFLAGS, GNUMAKEFLAGS, CMAKE_GENERATOR
#   and SOURCE_DATE_EPOCH, the other with a TMPDIR ending in /, give the
#   same bytes and the same build record (BUILDINFO), which names the compilers of cmake/ with their Debian
#   versions, holds no build path and is covered by SHA256SUMS;
# - uncommitted changes to the version or to check-exe.sh do not reach it;
# - the released launchers pass check-exe and one runs end to end;
# - signed with a throwaway certificate (a PEM key with a password, and a
#   PKCS#12 file), every exe verifies, a published signature attached to the
#   unsigned rebuild gives the signed exe byte for byte, and SHA256SUMS.sig
#   verifies, and fails for a changed SHA256SUMS; the password is on no
#   command line, in no file and in the environment of no tool; a release
#   without timestamps says, once, that its signatures end with the certificate;
# - signed with a key on a SoftHSM2 token, a three-level PKI and a timestamp
#   authority on 127.0.0.1 (after one that stalls and one that refuses, both
#   named in warnings, the list over two lines), the CRLs given, given as
#   paths relative to where the packager stands: every signature verifies
#   against the root alone, with its timestamp, also after the certificate
#   has expired, SHA256SUMS.tsr verifies against the authority's root, every
#   verification checks the CRLs and no output shows the PIN; without
#   CRLs (a PKCS#12 file of a leaf whose CRL point is closed) the release
#   passes with one warning;
# - a run interrupted during the build, a slow signing or the hand-over
#   leaves the earlier release and the other files in its output directory as
#   they were and no temporary directory; the build or the signing ends
#   with it; so do a token's log-in and a second signal during the undo;
# - bad signing input (a revoked certificate, a wrong PIN), and a timestamp
#   authority that does not answer, fail with a clear message and leave the
#   earlier release as it was; an output directory that holds another
#   version's release is refused, nothing removed; so are a misspelt
#   KST_SIGN_* name and an unsigned run over a signed release;
# - --help shows the usage; without OUT, dist/ where the packager stands; a
#   checkout at /src, a name the exes hold anyway, releases;
# - .gitignore keeps keys, certificates and timestamp tokens out of commits.
# Usage: test_release.sh WINDOWS_BUILD_DIR   (its sample programs run the
# end-to-end case)
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
tmp=$(mktemp -d /tmp/kst-release-test.XXXXXX)
. "$root/tests/release/signing-fixtures.sh"
trap 'stop_tsa; rm -rf "$tmp"' EXIT

passed=0
failed=0
ok() { passed=$((passed + 1)); echo "ok   $1"; }
bad() { failed=$((failed + 1)); echo "FAIL $1"; [ -n "${2:-}" ] && sed 's/^/    | /' <<<"$2"; }
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}" >/dev/null 2>&1; then ok "$1"; else bad "$1"; fi
}
unzip_to() { python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$1" "$2"; }
zip_names() { python3 -c 'import sys, zipfile; print(" ".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$1"; }

# ---- scratch clones ------------------------------------------------------------
# The tree under test as it is (its uncommitted changes and new files too),
# committed in a scratch clone; the developer's tree and repository are only
# read.
clone=$tmp/clone
git clone -q "$root" "$clone"
git -C "$clone" checkout -q -B scratch "$(git -C "$root" rev-parse HEAD)"
(cd "$root" && git ls-files -z --cached --others --exclude-standard |
  tar --null -T - --ignore-failed-read -cf - 2>/dev/null) | tar -xf - -C "$clone"
(cd "$root" && git ls-files -z --deleted) | (cd "$clone" && xargs -0 -r rm -f --)
if [ -n "$(git -C "$clone" status --porcelain)" ]; then
  git -C "$clone" add -A
  git -C "$clone" -c user.name="release test" -c user.email=test@invalid commit -q -m "tree under test"
fi
commit=$(git -C "$clone" rev-parse HEAD)
version=$(git -C "$clone" show HEAD:CMakeLists.txt | sed -n 's/^project(KSTGATE VERSION \([0-9][0-9.]*\) .*/\1/p')
name=KSTGATE-$version
tool=${KST_TEST_RELEASE_TOOL:-release.py}  # (release.sh: the tool it replaced)
release=$clone/tools/$tool

# run_release SCRIPT ENV... -- ARGS: a clone's release tool with ENV, its
# INT, TERM and HUP at their defaults (a test run started in the background
# would hand them on ignored), ended after ten minutes at most.
run_release() {
  local script=$1 vars=()
  shift
  while [ "$1" != -- ]; do vars+=("$1"); shift; done
  env "${vars[@]}" env --default-signal=INT,TERM,HUP timeout 600 "$script" "${@:2}"
}
fails() { ! "$@"; }

# listing DIR: every entry below DIR, files with their checksums.
listing() {
  (cd "$1" && find . -mindepth 1 | LC_ALL=C sort | while read -r entry; do
    if [ -f "$entry" ]; then echo "$entry $(sha256sum <"$entry" | cut -c1-64)"; else echo "$entry/"; fi
  done)
}

# ---- reproducible, and from the commit -----------------------------------------

mkdir -p "$tmp/t-a" "$tmp/elsewhere/a/much/longer/path"
log=$(run_release "$release" TMPDIR="$tmp/t-a/" -- "$tmp/a" 2>&1) || bad "release builds" "$log"

# A second clone whose work tree has another version, another README and a
# check-exe.sh that fails and leaves a mark: none of them may reach the
# release.
clone2=$tmp/second/clone
git clone -q "$clone" "$clone2"
sed -i 's/^project(KSTGATE VERSION [0-9.]* /project(KSTGATE VERSION 9.9.9 /' "$clone2/CMakeLists.txt"
sed -i "2i touch '$tmp/work-tree-checker-ran'; exit 1" "$clone2/tools/check-exe.sh"
echo "Not committed." >>"$clone2/README.md"
# Its packager's git turns line ends into CRLF, and the packager's
# environment has flags, a generator and a time: the bytes must not follow.
git -C "$clone2" config core.autocrlf true
check "the second clone's work tree has version 9.9.9" grep -q 'VERSION 9\.9\.9 ' "$clone2/CMakeLists.txt"
# Its output directory holds the signatures of an earlier, signed release.
mkdir -p "$tmp/b/$name-win64"
echo stale >"$tmp/b/SHA256SUMS.sig"; echo stale >"$tmp/b/$name-win64/KSTGATE.exe.sig.pem"
log=$(run_release "$clone2/tools/$tool" TMPDIR="$tmp/elsewhere/a/much/longer/path" CFLAGS=-O0 CXXFLAGS="-O0 -fno-inline" \
  CMAKE_GENERATOR=Ninja SOURCE_DATE_EPOCH=1 GNUMAKEFLAGS=-e CXX_FLAGS=-O0 MAKEFLAGS=-e CPATH="$tmp" LIBRARY_PATH="$tmp" \
  -- --unsigned "$tmp/b" 2>&1) ||
  bad "release builds from a work tree with uncommitted changes" "$log"
check "uncommitted changes: the zips have the commit's version" \
  test -f "$tmp/b/$name-win32.zip" -a -f "$tmp/b/$name-win64.zip" -a ! -e "$tmp/b/KSTGATE-9.9.9-win64.zip"
check "uncommitted changes: the work tree's check-exe.sh is not run" test ! -e "$tmp/work-tree-checker-ran"

for arch in win32 win64; do
  check "$arch: the same zip from two build directories and git settings" cmp "$tmp/a/$name-$arch.zip" "$tmp/b/$name-$arch.zip"
  check "$arch: zip entries in their order" test "$(zip_names "$tmp/a/$name-$arch.zip")" = \
    "KSTGATE.exe kstscan.exe$([ -d "$clone/tools/kstcheck" ] && echo ' kstcheck.exe') README.md"
  unzip_to "$tmp/a/$name-$arch.zip" "$tmp/a-$arch"
  check "$arch: README is the commit's" cmp "$tmp/a-$arch/README.md" "$clone/README.md"
  out=$("$clone/tools/check-exe.sh" "$tmp/a-$arch/KSTGATE.exe" "$version" 2>&1)
  if [ $? = 0 ]; then ok "$arch: the released launcher passes check-exe"; else bad "$arch: check-exe" "$out"; fi
done
check "the same sums" cmp "$tmp/a/SHA256SUMS" "$tmp/b/SHA256SUMS"
check "the sums cover both zips and BUILDINFO and hold" bash -c "cd '$tmp/a' && test \$(wc -l <SHA256SUMS) = 3 &&
  grep -q ' BUILDINFO\$' SHA256SUMS && sha256sum --quiet -c SHA256SUMS"
check "unsigned over signed: no signature of the earlier release left" \
  test ! -e "$tmp/b/SHA256SUMS.sig" -a ! -e "$tmp/b/$name-win64"

# ---- one version -------------------------------------------------------------------
# A commit that changes only the version in CMakeLists.txt changes the version
# record and the manifest of both launchers and the zips' names.
clone3=$tmp/third/clone
git clone -q "$clone" "$clone3"
sed -i 's/^project(KSTGATE VERSION [0-9.]* /project(KSTGATE VERSION 1.0.1 /' "$clone3/CMakeLists.txt"
# A signed commit, and a packager whose git shows signatures in every log.
ssh-keygen -q -t ed25519 -N '' -f "$tmp/commit-key" && git -C "$clone3" config log.showSignature true
git -C "$clone3" -c user.name="release test" -c user.email=test@invalid -c gpg.format=ssh -c user.signingkey="$tmp/commit-key" \
  commit -q -S -am "version 1.0.1"
check "the third clone's commit changes only the version" \
  test "$(git -C "$clone3" diff --name-only HEAD~1 HEAD)" = CMakeLists.txt
log=$(run_release "$clone3/tools/$tool" -- "$tmp/v" 2>&1) || bad "release of version 1.0.1 (a signed commit) builds" "$log"
for arch in win32 win64; do
  check "1.0.1: $arch zip named for it" test -f "$tmp/v/KSTGATE-1.0.1-$arch.zip"
  unzip_to "$tmp/v/KSTGATE-1.0.1-$arch.zip" "$tmp/v-$arch"
  out=$("$clone3/tools/check-exe.sh" "$tmp/v-$arch/KSTGATE.exe" 1.0.1 2>&1)
  if [ $? = 0 ]; then ok "1.0.1: $arch launcher passes check-exe given 1.0.1"; else bad "1.0.1: $arch check-exe" "$out"; fi
  check "1.0.1: $arch launcher fails check-exe given $version" fails "$clone3/tools/check-exe.sh" "$tmp/v-$arch/KSTGATE.exe" "$version"
  check "1.0.1: $arch manifest says 1.0.1.0" \
    bash -c "wrestool -x --raw --type=24 --name=1 '$tmp/v-$arch/KSTGATE.exe' | grep -q 'name=\"KSTGATE\" version=\"1.0.1.0\"'"
done
# Released into 1.0.1's directory (dist/ where the packager stands, OUT not
# given), $version is refused before it builds, naming 1.0.1's files and
# removing nothing.
before=$(listing "$tmp/v")
mkdir -p "$tmp/at-v" && ln -s ../v "$tmp/at-v/dist"
log=$(cd "$tmp/at-v" && run_release "$release" -- 2>&1)
if [ $? != 0 ] && grep -qF "KSTGATE-1.0.1-win64.zip" <<<"$log" && ! grep -q '^release: building' <<<"$log" &&
   [ "$(listing "$tmp/v")" = "$before" ]; then
  ok "refused: another version's release in the output directory, nothing removed"
else
  bad "refused: another version's release in the output directory" "$log"
fi

# ---- the build record ------------------------------------------------------------

info=$tmp/a/BUILDINFO
check "BUILDINFO: the same from two build directories" cmp "$info" "$tmp/b/BUILDINFO"
check "BUILDINFO: key: value lines, sorted" bash -c "grep -vq '^[A-Za-z0-9_.+/-]*: ' '$info' && exit 1; LC_ALL=C sort -c '$info'"
check "BUILDINFO: the commit" grep -qx "commit: $commit" "$info"
check "BUILDINFO: the release build's flags" grep -q '^win64\.flags\.src/KSTGATE\.CXX_FLAGS: .*-g0' "$info"
hits=$(grep -nF -e "$tmp" -e "kst-release." "$info")
if [ -z "$hits" ]; then ok "BUILDINFO: no build path"; else bad "BUILDINFO holds build paths" "$hits"; fi
# Each compiler that cmake/ names, as found on PATH, with the version of the
# Debian package it comes from.
for toolchain in "$clone"/cmake/mingw-w64-*.cmake; do
  triple=$(sed -n 's/^set(KST_TRIPLE \(.*\))$/\1/p' "$toolchain")
  case $triple in i686-*) arch=win32 ;; x86_64-*) arch=win64 ;; *) bad "$toolchain: no known triple"; continue ;; esac
  for lang in C CXX; do
    compiler=$(sed -n "s/^set(CMAKE_${lang}_COMPILER \${KST_TRIPLE}\(.*\))\$/$triple\1/p" "$toolchain")
    path=$(readlink -f "$(command -v "$compiler")")
    package=$(dpkg-query -S "$path" | sed 's/: .*//')
    case $lang in C) key=$arch.cc ;; CXX) key=$arch.cxx ;; esac
    want="$key: $path ($package $(dpkg-query -W -f='${Version}' "$package"))"
    check "BUILDINFO: $compiler" grep -qxF "$want" "$info"
  done
done

# ---- the released launcher runs ------------------------------------------------

out=$(KST_LAUNCHER=$tmp/a-win64/KSTGATE.exe bash "$root/tests/e2e/e2e.sh" "$build" full_success 2>&1)
if [ $? = 0 ]; then ok "released 64-bit launcher: full success end to end"; else bad "released launcher end to end" "$out"; fi

# ---- stand-ins -------------------------------------------------------------------
# cmake, openssl, osslsigncode and mv, early on PATH: each records its
# arguments and whether the password is in its environment or in that of the
# release tool (or any process between them), and openssl and osslsigncode
# what the temporary and output directories hold; then the real program runs.
# Their settings come from a file beside them (the build's environment is the
# tool's own). KST_STANDIN_SIGNAL="SIGNAL PROGRAM" makes one of them send
# SIGNAL to the release tool, once: cmake at the build (which then runs, and
# marks "step-ended" in the log if it is let finish), osslsigncode at the
# first signing and openssl at a token's log-in (which then stall for 30 s,
# and mark "step-ended" if let finish), mv after the second file moved into
# the output directory; handover-hook, which the tool runs after each move in
# the output directory, stands for mv. KST_STANDIN_SECOND=SIGNAL: sent when a
# file this run moved in is replaced by the earlier one's (the undo).

secret=kst-pass-$RANDOM$RANDOM-$RANDOM
printf '%s\n' "$secret" >"$tmp/secret"
# (BUILDINFO names them: their path is in no output or temporary directory.)
standins=$tmp/fake-bin
mkdir -p "$standins"
cat >"$standins/standin" <<'EOF'
#!/usr/bin/env bash
me=$(basename "$0")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/settings"
real=$(PATH=${PATH#"$here:"} command -v "$me")
log=$KST_STANDIN_LOG
mkdir -p "$log"
printf '%s\n' "$me $*" >>"$log/args"
[ -z "${KST_SIGN_PASS+set}" ] || echo "$me: KST_SIGN_PASS" >>"$log/env"
if env | grep -qF -f "$KST_STANDIN_SECRET"; then echo "$me: the password" >>"$log/env"; fi
pid=$PPID  # the release tool and the processes below it (above them: the test's timeout)
while [ "${pid:-0}" -gt 1 ] && [ "$(cat "/proc/$pid/comm")" != timeout ]; do
  if grep -qaF -f "$KST_STANDIN_SECRET" "/proc/$pid/environ"; then echo "$me: the password, in $pid's environment" >>"$log/env"; fi
  pid=$(awk '$1 == "PPid:" {print $2}' "/proc/$pid/status")
done
case $act in
  openssl|osslsigncode)
    find "$KST_STANDIN_TMP" "$KST_STANDIN_OUT" >>"$log/listing" 2>/dev/null
    grep -rlF -f "$KST_STANDIN_SECRET" -- "$KST_STANDIN_TMP" "$KST_STANDIN_OUT" >>"$log/disk" 2>/dev/null ;;
esac
act=$me
[ "$me" != handover-hook ] || { act=mv; real=true; }

# The release tool: the outermost process that runs it (a bash script's
# subshells run it too).
signal_script() {
  local pid=$PPID target=
  while [ "${pid:-0}" -gt 1 ]; do
    if [ "$(tr '\0' '\n' <"/proc/$pid/cmdline" 2>/dev/null | sed -n 2p)" = "$KST_STANDIN_SCRIPT" ]; then
      target=$pid
    fi
    pid=$(awk '$1 == "PPid:" {print $2}' "/proc/$pid/status" 2>/dev/null)
  done
  touch "$log/signalled"
  # (Recorded first: the signal may end this very process.)
  [ -n "$target" ] && echo "$me $*: sent $1" >>"$log/signals" && kill -s "$1" "$target"
}
read -r signal at <<<"${KST_STANDIN_SIGNAL:-}"
if [ "$act" = mv ] && [ -n "${KST_STANDIN_SECOND:-}" ] && [ -e "$log/signalled" ] && [ ! -e "$log/second" ] &&
   [[ ${*: -2:1} == */old/* ]] && grep -qxF -- "${!#}" "$log/moved"; then
  "$real" "$@"; rc=$?
  touch "$log/second"
  signal_script "$KST_STANDIN_SECOND"
  exit $rc
fi
if [ "${at:-}" = "$act" ] && [ ! -e "$log/signalled" ]; then
  case $act in
    cmake)
      if [ "$1" = --build ]; then
        echo $$ >"$log/step-pid"
        signal_script "$signal"
        "$real" "$@"; rc=$?
        touch "$log/step-ended"
        exit $rc
      fi ;;
    osslsigncode|openssl)
      if [ "$1" = sign ] || [ "$1 $2" = "pkey -engine" ]; then
        echo $$ >"$log/step-pid"
        signal_script "$signal"
        sleep 30; touch "$log/step-ended"
      fi ;;
    mv)
      if [ "$(dirname -- "${!#}")" = "$KST_STANDIN_OUT" ]; then
        echo "${!#}" >>"$log/moved"
        if [ "$(wc -l <"$log/moved")" = 2 ]; then
          "$real" "$@"; rc=$?
          signal_script "$signal"
          exit $rc
        fi
      fi ;;
  esac
fi
# A build of sources and an architecture that a stand-in run has built before
# gets that build's outputs (the same bytes: the release is reproducible).
if [ "$act $1" = "cmake --build" ]; then
  cache=$KST_STANDIN_CACHE/$({ (cd "$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$2/CMakeCache.txt")" &&
    find . -type f -print0 | LC_ALL=C sort -z | xargs -0 sha256sum); grep '^CMAKE_TOOLCHAIN_FILE' "$2/CMakeCache.txt"; } | sha256sum | cut -c1-16)
  if [ -e "$cache/built" ]; then cp -R "$cache/." "$2/"; exit 0; fi
  "$real" "$@" || exit
  mkdir -p "$cache" && (cd "$2" && find . -name '*.exe' -o -name '*.obj' -o -name '*.res' | tar -cf - -T -) | tar -xf - -C "$cache"
  touch "$cache/built"; exit 0
fi
exec "$real" "$@"
EOF
chmod +x "$standins/standin"
for program in cmake openssl osslsigncode mv handover-hook; do ln -s standin "$standins/$program"; done

# with_standins LOG OUT ENV...: the release tool into OUT with the stand-ins,
# a fresh temporary directory (LOG/tmp) and ENV (KST_STANDIN_* in their
# settings).
with_standins() {
  local log=$1 dir=$2
  shift 2
  mkdir -p "$log/tmp"
  printf 'export %q\n' KST_STANDIN_LOG="$log" KST_STANDIN_OUT="$(cd "$(dirname "$dir")" && pwd)/${dir##*/}" \
    KST_STANDIN_SECRET="$tmp/secret" KST_STANDIN_SCRIPT="$release" KST_STANDIN_TMP="$log/tmp" KST_STANDIN_CACHE="$tmp/build-cache" "$@" |
    grep '^export KST_STANDIN_' >"$standins/settings"
  run_release "$release" PATH="$standins:$PATH" TMPDIR="$log/tmp" KST_RELEASE_TEST_HOOK="$standins/handover-hook" "$@" -- "$dir"
}
# no_secret DESCRIPTION LOG: nothing the stand-ins saw holds the password.
no_secret() {
  local found
  found=$(grep -sF "$secret" "$2/args" "$2/listing"; cat "$2/env" "$2/disk" 2>/dev/null)
  if [ -z "$found" ] && grep -q '^osslsigncode sign ' "$2/args" && grep -q '^cmake --build' "$2/args"; then
    ok "$1: the password is on no command line, in no file and in no build tool's environment"
  else
    bad "$1: the password leaked (or the stand-ins did not run)" "$found"
  fi
}

# ---- signed ----------------------------------------------------------------------

keys=$tmp/keys
mkdir -p "$keys"
make_cert() {  # make_cert NAME: NAME.pem and NAME.key, self-signed for code signing
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$keys/$1.key" -out "$keys/$1.pem" -days 2 \
    -subj "/CN=KSTGATE release test $1" -addext "extendedKeyUsage=codeSigning" >/dev/null 2>&1
}
make_cert signer
make_cert other
openssl pkey -in "$keys/signer.key" -aes256 -passout "pass:$secret" -out "$keys/signer-locked.key"
openssl pkcs12 -export -inkey "$keys/signer.key" -in "$keys/signer.pem" -out "$keys/signer.p12" \
  -passout "pass:$secret" >/dev/null 2>&1

log=$(with_standins "$tmp/log-s" "$tmp/s" KST_SIGN_CERT="$keys/signer.pem" KST_SIGN_KEY="$keys/signer-locked.key" \
  KST_SIGN_PASS="$secret" 2>&1) || bad "signed release builds (PEM key with a password)" "$log"
check "signed without a timestamp authority: warned, once" test "$(grep -c 'stop verifying when the certificate expires' <<<"$log")" = 1
no_secret "PEM key" "$tmp/log-s"
check "signed: the sums cover zips, signatures and BUILDINFO and hold" bash -c "cd '$tmp/s' && sha256sum --quiet -c SHA256SUMS &&
  grep -q 'win64/KSTGATE.exe.sig.pem' SHA256SUMS && grep -q ' BUILDINFO\$' SHA256SUMS"
check "signed: BUILDINFO names osslsigncode and openssl" bash -c "grep -q '^osslsigncode: /' '$tmp/s/BUILDINFO' &&
  grep -q '^openssl: /' '$tmp/s/BUILDINFO'"
for arch in win32 win64; do
  unzip_to "$tmp/s/$name-$arch.zip" "$tmp/s-$arch"
  for exe in $(cd "$tmp/s-$arch" && ls *.exe); do
    check "signed $arch $exe verifies" osslsigncode verify -CAfile "$keys/signer.pem" -in "$tmp/s-$arch/$exe"
    check "signed $arch $exe: the other certificate does not verify it" \
      fails osslsigncode verify -CAfile "$keys/other.pem" -in "$tmp/s-$arch/$exe"
    # What anyone can do: attach the published signature to an unsigned rebuild.
    osslsigncode attach-signature -sigin "$tmp/s/$name-$arch/$exe.sig.pem" -CAfile "$keys/signer.pem" \
      -in "$tmp/a-$arch/$exe" -out "$tmp/attached-$arch-$exe" >/dev/null 2>&1
    check "signed $arch $exe: the unsigned rebuild with the signature attached is the signed exe" \
      cmp "$tmp/attached-$arch-$exe" "$tmp/s-$arch/$exe"
  done
done

# SHA256SUMS.sig, checked as README tells a user to.
verify_sums() {  # verify_sums DIR CERT
  (cd "$1" && openssl cms -verify -binary -purpose any -in SHA256SUMS.sig -inform PEM -content SHA256SUMS \
    -CAfile "$2" -out /dev/null)
}
check "SHA256SUMS.sig verifies" verify_sums "$tmp/s" "$keys/signer.pem"
# (A check that must fail needs a signature to fail on.)
verify_fails() { [ -s "$1/SHA256SUMS.sig" ] && ! verify_sums "$@"; }
check "SHA256SUMS.sig: the other certificate does not verify it" verify_fails "$tmp/s" "$keys/other.pem"
mkdir -p "$tmp/changed"
cp "$tmp/s/SHA256SUMS" "$tmp/s/SHA256SUMS.sig" "$tmp/changed/"
python3 -c 'import sys; p = sys.argv[1]; d = bytearray(open(p, "rb").read()); d[0] ^= 1; open(p, "wb").write(d)' \
  "$tmp/changed/SHA256SUMS"
check "SHA256SUMS.sig: one byte of SHA256SUMS changed, it no longer verifies" \
  verify_fails "$tmp/changed" "$keys/signer.pem"

# The same from a password-protected PKCS#12 file, of a CA's leaf whose CRL
# point is a closed port, and no CRLs given: revocation goes unchecked, with
# a warning, and nothing waits on the network.
pki=$tmp/pki
make_pki "$pki" && make_token "$pki" "$secret" || bad "the PKI and the token are made"
openssl pkcs12 -export -inkey "$pki/leaf.key" -in "$pki/leaf.pem" -out "$pki/leaf.p12" -passout "pass:$secret" >/dev/null 2>&1
log=$(with_standins "$tmp/log-p" "$tmp/p" KST_SIGN_PKCS12="$pki/leaf.p12" KST_SIGN_PASS="$secret" \
  KST_SIGN_CHAIN="$pki/inter.pem" KST_SIGN_CAFILE="$pki/root.pem" 2>&1) || bad "PKCS#12 signed release builds, no CRLs given" "$log"
check "PKCS#12, no CRLs given: warned, once, that revocation was not checked" \
  test "$(grep -c 'revocation was not checked' <<<"$log")" = 1
no_secret "PKCS#12" "$tmp/log-p"
unzip_to "$tmp/p/$name-win64.zip" "$tmp/p-win64"
check "PKCS#12: the signed launcher verifies" \
  osslsigncode verify -CAfile "$pki/root.pem" -CRLfile "$pki/crl.pem" -in "$tmp/p-win64/KSTGATE.exe"
check "PKCS#12: SHA256SUMS.sig verifies" verify_sums "$tmp/p" "$pki/root.pem"

# ---- a key on a token, a CA chain, timestamps ------------------------------------
# Every path relative to where the packager stands (the PKI's directory),
# the output directory too; the first timestamp URL stalls, the second
# refuses (the list over two lines); the CRLs given.

start_tsa "$pki" || bad "the timestamp authority starts" "$(cat "$pki/tsa.log")"
dead=http://127.0.0.1:$(closed_port)/
stall=http://127.0.0.1:$(stalling_port)/
tlog=$tmp/trace-t  # (too long for an argument)
(cd "$pki" && with_standins "$tmp/log-t" t KST_SIGN_PKCS11_MODULE="$softhsm_module" KST_SIGN_PASS="$secret" \
  KST_SIGN_KEY="pkcs11:token=kst;object=signer;type=private" KST_SIGN_CERT="pkcs11:token=kst;object=signer;type=cert" \
  KST_SIGN_CHAIN=inter.pem KST_SIGN_CAFILE=root.pem KST_SIGN_TSA="$stall"$'\n'"$dead $tsa_url" KST_SIGN_TSA_CAFILE=tsa-root.pem \
  KST_SIGN_TSA_TIMEOUT=3 KST_SIGN_CRL=crl.pem >"$tlog" 2>&1) || bad "token release builds" "$(grep -v '^+' "$tlog")"
stop_tsa
no_secret "token" "$tmp/log-t"
check "token: the stalling and the refusing timestamp URL are named in warnings" \
  bash -c 'said=$(grep -v "^+" "$3"); grep -q "warning: .*$1.*no answer within 3 s" <<<"$said" && grep -q "warning: .*$2" <<<"$said"' \
  - "$stall" "$dead" "$tlog"
check "token: the PIN is in none of the tool's output" bash -c 'grep -q "signed and verified" "$2" && ! grep -qF -- "$1" "$2"' - "$secret" "$tlog"
check "token: every verification checks the CRLs given, and no warning says it did not" bash -c "
  grep -q '^osslsigncode verify -in' '$tmp/log-t/args' && ! grep '^osslsigncode verify -in' '$tmp/log-t/args' |
    grep -v -- '-CRLfile .* -TSA-CRLfile ' && ! grep -q 'revocation was not checked' '$tlog'"
check "token: OUT and the KST_SIGN_* paths are taken from where the packager stands" test -f "$pki/t/SHA256SUMS" -a ! -e "$clone/t"
check "token: BUILDINFO names the PKCS#11 engine and module" grep -q '^pkcs11-module: .*softhsm2' "$pki/t/BUILDINFO"
# with_timestamp EXE ARGS...: EXE verifies against the root alone, and so
# does its timestamp against the authority's root.
with_timestamp() {
  local said
  said=$(osslsigncode verify -CAfile "$pki/root.pem" -CRLfile "$pki/crl.pem" -TSA-CAfile "$pki/tsa-root.pem" -in "$@" 2>&1) &&
    grep -q '^Timestamp Server Signature verification: ok' <<<"$said"
}
later=$(($(date +%s) + 5 * 86400))  # both signing certificates have expired by then
for arch in win32 win64; do
  unzip_to "$pki/t/$name-$arch.zip" "$tmp/t-$arch"
  for exe in $(cd "$tmp/t-$arch" && ls *.exe); do
    check "token $arch $exe verifies against the root, with its timestamp" with_timestamp "$tmp/t-$arch/$exe"
  done
done
check "token: expired by the time of verification, the timestamped launcher still verifies" \
  with_timestamp "$tmp/t-win64/KSTGATE.exe" -time "$later"
check "without a timestamp, an expired certificate's launcher does not" \
  fails osslsigncode verify -CAfile "$keys/signer.pem" -time "$later" -in "$tmp/s-win64/KSTGATE.exe"
osslsigncode attach-signature -sigin "$pki/t/$name-win64/KSTGATE.exe.sig.pem" -CAfile "$pki/root.pem" -CRLfile "$pki/crl.pem" \
  -TSA-CAfile "$pki/tsa-root.pem" -in "$tmp/a-win64/KSTGATE.exe" -out "$tmp/attached-t" >/dev/null 2>&1
check "token: the unsigned rebuild with the timestamped signature attached is the signed exe" \
  cmp "$tmp/attached-t" "$tmp/t-win64/KSTGATE.exe"
check "token: SHA256SUMS.sig verifies against the root alone" verify_sums "$pki/t" "$pki/root.pem"
check "token: SHA256SUMS.tsr verifies against the authority's root" \
  openssl ts -verify -data "$pki/t/SHA256SUMS" -in "$pki/t/SHA256SUMS.tsr" -CAfile "$pki/tsa-root.pem"
# As README tells a user to check SHA256SUMS.sig once the certificate has
# expired: at the time of SHA256SUMS.tsr.
stamped=$(date -d "$(openssl ts -reply -in "$pki/t/SHA256SUMS.tsr" -text 2>/dev/null | sed -n 's/^Time stamp: //p')" +%s)
check "token: expired, SHA256SUMS.sig verifies at the time of SHA256SUMS.tsr only" bash -c "
  verify() { openssl cms -verify -binary -purpose any -in '$pki/t/SHA256SUMS.sig' -inform PEM -content '$pki/t/SHA256SUMS' \
    -CAfile '$pki/root.pem' -out /dev/null -attime \$1; }
  ! verify $later && verify $stamped"

# ---- interrupted -----------------------------------------------------------------

# interrupted DESCRIPTION SIGNAL PROGRAM ENV...: a release into a directory
# that holds an earlier release and other files, sent SIGNAL by the stand-in
# for PROGRAM. It ends by that signal, leaves the earlier release and the
# other files as they were, no temporary directory and no password.
interrupted() {
  local description=$1 signal=$2 program=$3 dir=$tmp/interrupted-$3-$# log=$tmp/log-interrupted-$3-$# rc status found
  shift 3
  mkdir -p "$dir/keep" "$dir/.config"
  echo notes >"$dir/notes.txt"; echo mine >"$dir/keep/file"; echo dot >"$dir/.config/x"
  echo older >"$dir/KSTGATE-0.9.0-win64.zip.old"
  cp -R "$tmp/a/." "$dir/"  # an earlier release
  local before
  before=$(listing "$dir")
  status=$(with_standins "$log" "$dir" KST_STANDIN_SIGNAL="$signal $program" "$@" 2>&1); rc=$?
  check "$description: the stand-in sent $signal" test -s "$log/signals"
  if [ $rc = $((128 + $(kill -l "$signal"))) ]; then ok "$description: ended by $signal"; else bad "$description: exit $rc" "$status"; fi
  if [ "$(listing "$dir")" = "$before" ]; then
    ok "$description: the earlier release and the other files as they were"
  else
    bad "$description: the output directory changed" "$(diff <(echo "$before") <(listing "$dir"))"
  fi
  if [ -z "$(ls -A "$log/tmp")" ]; then ok "$description: no temporary directory left"; else bad "$description: left $(ls -A "$log/tmp")"; fi
  if [ "$program" != mv ]; then
    if [ -s "$log/step-pid" ] && [ ! -e "$log/step-ended" ] && ! kill -0 "$(cat "$log/step-pid")" 2>/dev/null; then
      ok "$description: the $program step was ended with the release"
    else
      bad "$description: the $program step went on"; kill -- "$(cat "$log/step-pid")" 2>/dev/null
    fi
  fi
  found=$(grep -rlF "$secret" "$dir" "$log/tmp"; grep -sF "$secret" "$log/args" "$log/listing"; cat "$log/disk" 2>/dev/null)
  if [ -z "$found" ]; then ok "$description: no password left or seen"; else bad "$description: the password leaked" "$found"; fi
}
interrupted "TERM during the build" TERM cmake
interrupted "INT during a slow signing" INT osslsigncode KST_SIGN_PKCS12="$keys/signer.p12" KST_SIGN_PASS="$secret"
interrupted "HUP during the hand-over" HUP mv
interrupted "HUP during the hand-over, TERM while it is undone" HUP mv KST_STANDIN_SECOND=TERM
interrupted "TERM while a token logs in" TERM openssl KST_SIGN_PKCS11_MODULE="$softhsm_module" KST_SIGN_PASS="$secret" \
  KST_SIGN_KEY="pkcs11:token=kst;object=signer;type=private" KST_SIGN_CERT="$pki/leaf.pem" KST_SIGN_CAFILE="$pki/root.pem" \
  KST_SIGN_CHAIN="$pki/inter.pem"

# ---- bad signing input -----------------------------------------------------------

# refused DESCRIPTION MESSAGE ENV...: the tool fails before it builds
# anything, says MESSAGE, and the earlier release of the same version in its
# output directory is left whole.
refused() {
  local description=$1 message=$2 dir=$tmp/refused log rc before
  shift 2
  rm -rf "$dir"; cp -R "$tmp/s" "$dir"
  before=$(listing "$dir")
  log=$(run_release "$release" "$@" -- "$dir" 2>&1); rc=$?
  if [ $rc != 0 ] && grep -qF -- "$message" <<<"$log" && ! grep -q '^release: building' <<<"$log" &&
     [ "$(listing "$dir")" = "$before" ]; then
    ok "refused: $description"
  else
    bad "refused: $description (exit $rc)" "$log"
  fi
}
refused "no key file" "cannot read the private key" KST_SIGN_CERT="$keys/signer.pem" KST_SIGN_KEY="$keys/missing.key"
refused "a key without its certificate" "KST_SIGN_CERT is not" KST_SIGN_KEY="$keys/signer.key"
refused "a key of another certificate" "does not belong to the certificate" \
  KST_SIGN_CERT="$keys/signer.pem" KST_SIGN_KEY="$keys/other.key"
refused "a certificate that is no certificate" "is not a PEM certificate" \
  KST_SIGN_CERT="$keys/signer.key" KST_SIGN_KEY="$keys/signer.key"
refused "a wrong password" "wrong password" KST_SIGN_PKCS12="$keys/signer.p12" KST_SIGN_PASS=wrong
refused "a PEM key with a wrong password" "wrong password" \
  KST_SIGN_CERT="$keys/signer.pem" KST_SIGN_KEY="$keys/signer-locked.key" KST_SIGN_PASS=wrong
refused "a PKCS#12 file without a password" "needs its password" KST_SIGN_PKCS12="$keys/signer.p12"
refused "a misspelt signing setting, named" "KST_SIGN_PKCS_12" KST_SIGN_PKCS_12="$keys/signer.p12" KST_SIGN_PASS="$secret"
refused "no signing settings over a signed release, without --unsigned" "--unsigned"
refused "a timestamp authority that does not answer" "no timestamp authority answered" KST_SIGN_TSA="$dead" \
  KST_SIGN_CERT="$keys/signer.pem" KST_SIGN_KEY="$keys/signer.key" KST_SIGN_TSA_CAFILE="$pki/tsa-root.pem"
refused "a CA's certificate without the root to verify against" "name the root" \
  KST_SIGN_CERT="$pki/leaf.pem" KST_SIGN_KEY="$pki/leaf.key" KST_SIGN_CHAIN="$pki/inter.pem"
refused "a CA's certificate without its chain" "does not verify against" \
  KST_SIGN_CERT="$pki/leaf.pem" KST_SIGN_KEY="$pki/leaf.key" KST_SIGN_CAFILE="$pki/root.pem"
refused "a revoked certificate, its CRL given" "certificate revoked" KST_SIGN_CERT="$pki/revoked.pem" \
  KST_SIGN_KEY="$pki/revoked.key" KST_SIGN_CHAIN="$pki/inter.pem" KST_SIGN_CAFILE="$pki/root.pem" KST_SIGN_CRL="$pki/crl.pem"
start_tsa "$pki" || bad "the timestamp authority starts again" "$(cat "$pki/tsa.log")"
awk '/BEGIN X509 CRL/ {n++} n <= 2' "$pki/crl.pem" >"$pki/crl-signing.pem"  # inter's and root's: none of the authority's CA
refused "a timestamp authority's CA without its CRL: OpenSSL's reason" "unable to get certificate CRL" KST_SIGN_TSA="$tsa_url" \
  KST_SIGN_TSA_CAFILE="$pki/tsa-root.pem" KST_SIGN_CRL="$pki/crl-signing.pem" KST_SIGN_CERT="$pki/leaf.pem" \
  KST_SIGN_KEY="$pki/leaf.key" KST_SIGN_CHAIN="$pki/inter.pem" KST_SIGN_CAFILE="$pki/root.pem"
stop_tsa
refused "a wrong PIN, the earlier release left whole" "wrong PIN" KST_SIGN_PKCS11_MODULE="$softhsm_module" KST_SIGN_PASS=wrong \
  KST_SIGN_KEY="pkcs11:token=kst;object=signer;type=private" KST_SIGN_CERT="$pki/leaf.pem" \
  KST_SIGN_CHAIN="$pki/inter.pem" KST_SIGN_CAFILE="$pki/root.pem"

check "--help: the usage, nothing built" bash -c "cd '$tmp' && '$release' --help | grep -q '^usage:' && test ! -e '$tmp/--help'"

# A checkout at /src, a name that the exes hold anyway (".../winpthreads/src/..."), seen from a root of
# its own; OUT not given: dist/ where the packager stands.
mkdir -p "$tmp/jail" "$tmp/here"
log=$(cd "$tmp/here" && run_release unshare -- -m bash -c 'mount -t tmpfs jail "$1" && for d in /*; do if [ -d "$d" ]; then
  mkdir "$1$d" && mount --rbind "$d" "$1$d"; fi; done; mkdir "$1/src" && mount --bind "$2" "$1/src" && exec chroot "$1" env -C "$PWD" "/src/tools/$3"' \
  - "$tmp/jail" "$clone" "$tool" 2>&1)
if [ -f "$tmp/here/dist/SHA256SUMS" ]; then ok "a checkout at /src: released, into dist/ of the current directory"; else bad "a checkout at /src" "$log"; fi

check ".gitignore keeps keys, certificates and timestamp tokens out of commits" \
  test "$(git -C "$clone" check-ignore a.pem a.key a.p12 a.pfx a.tsr sub/b.key | wc -l)" = 6

echo "release: $passed passed, $failed failed, in $SECONDS s"
[ $failed = 0 ]
