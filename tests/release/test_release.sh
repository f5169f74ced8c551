#!/usr/bin/env bash
# The release as a product: two release builds in two directories give the
# same bytes; the released launchers pass check-exe and one runs end to end;
# signed with a throwaway certificate, every exe verifies, and a published
# signature attached to the unsigned rebuild gives the signed exe byte for
# byte; bad signing input fails with a clear message and leaves no zip.
# Usage: test_release.sh WINDOWS_BUILD_DIR   (its sample programs run the
# end-to-end case)
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
release=$root/tools/release.sh
name=KSTGATE-$(sed -n 's/^project(KSTGATE VERSION \([0-9][0-9.]*\) .*/\1/p' "$root/CMakeLists.txt")
tmp=$(mktemp -d /tmp/kst-release-test.XXXXXX)
trap 'rm -rf "$tmp"' EXIT

passed=0
failed=0
ok() { passed=$((passed + 1)); echo "ok   $1"; }
bad() { failed=$((failed + 1)); echo "FAIL $1"; [ -n "${2:-}" ] && sed 's/^/    | /' <<<"$2"; }
check() {  # check DESCRIPTION COMMAND...
  if "${@:2}" >/dev/null 2>&1; then ok "$1"; else bad "$1"; fi
}
unzip_to() { python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$1" "$2"; }
zip_names() { python3 -c 'import sys, zipfile; print(" ".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$1"; }
no_zip() { ! ls "$1"/*.zip >/dev/null 2>&1; }

# ---- reproducible --------------------------------------------------------------

log=$("$release" "$tmp/a" 2>&1) || bad "release builds" "$log"
mkdir -p "$tmp/elsewhere/a/much/longer/path"
log=$(TMPDIR=$tmp/elsewhere/a/much/longer/path "$release" "$tmp/b" 2>&1) || bad "release builds again" "$log"
for arch in win32 win64; do
  check "$arch: the same zip from two build directories" cmp "$tmp/a/$name-$arch.zip" "$tmp/b/$name-$arch.zip"
  check "$arch: zip entries in their order" test "$(zip_names "$tmp/a/$name-$arch.zip")" = \
    "KSTGATE.exe kstscan.exe$([ -d "$root/tools/kstcheck" ] && echo ' kstcheck.exe') README.md"
  unzip_to "$tmp/a/$name-$arch.zip" "$tmp/a-$arch"
  check "$arch: README is the tree's" cmp "$tmp/a-$arch/README.md" "$root/README.md"
  out=$("$root/tools/check-exe.sh" "$tmp/a-$arch/KSTGATE.exe" 2>&1)
  if [ $? = 0 ]; then ok "$arch: the released launcher passes check-exe"; else bad "$arch: check-exe" "$out"; fi
done
check "the same sums" cmp "$tmp/a/SHA256SUMS" "$tmp/b/SHA256SUMS"
check "the sums cover both zips and hold" bash -c "cd '$tmp/a' && test \$(wc -l <SHA256SUMS) = 2 && sha256sum --quiet -c SHA256SUMS"

# ---- the released launcher runs ------------------------------------------------

out=$(KST_LAUNCHER=$tmp/a-win64/KSTGATE.exe bash "$root/tests/e2e/e2e.sh" "$build" full_success 2>&1)
if [ $? = 0 ]; then ok "released 64-bit launcher: full success end to end"; else bad "released launcher end to end" "$out"; fi

# ---- signed ----------------------------------------------------------------------

keys=$tmp/keys
mkdir -p "$keys"
make_cert() {  # make_cert NAME: NAME.pem and NAME.key, self-signed for code signing
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$keys/$1.key" -out "$keys/$1.pem" -days 2 \
    -subj "/CN=KSTGATE release test $1" -addext "extendedKeyUsage=codeSigning" >/dev/null 2>&1
}
make_cert signer
make_cert other

log=$(KST_SIGN_CERT=$keys/signer.pem KST_SIGN_KEY=$keys/signer.key "$release" "$tmp/s" 2>&1) || bad "signed release builds" "$log"
check "signed: the sums cover zips and signatures and hold" bash -c "cd '$tmp/s' && sha256sum --quiet -c SHA256SUMS && grep -q 'win64/KSTGATE.exe.sig.pem' SHA256SUMS"
for arch in win32 win64; do
  unzip_to "$tmp/s/$name-$arch.zip" "$tmp/s-$arch"
  for exe in $(cd "$tmp/s-$arch" && ls *.exe); do
    check "signed $arch $exe verifies" osslsigncode verify -CAfile "$keys/signer.pem" -in "$tmp/s-$arch/$exe"
    check "signed $arch $exe: the other certificate does not verify it" \
      bash -c "! osslsigncode verify -CAfile '$keys/other.pem' -in '$tmp/s-$arch/$exe'"
    # What anyone can do: attach the published signature to an unsigned rebuild.
    osslsigncode attach-signature -sigin "$tmp/s/$name-$arch/$exe.sig.pem" -CAfile "$keys/signer.pem" \
      -in "$tmp/a-$arch/$exe" -out "$tmp/attached-$arch-$exe" >/dev/null 2>&1
    check "signed $arch $exe: the unsigned rebuild with the signature attached is the signed exe" \
      cmp "$tmp/attached-$arch-$exe" "$tmp/s-$arch/$exe"
  done
done

# The same from a password-protected PKCS#12 file.
openssl pkcs12 -export -inkey "$keys/signer.key" -in "$keys/signer.pem" -out "$keys/signer.p12" \
  -passout pass:s3cret >/dev/null 2>&1
log=$(KST_SIGN_PKCS12=$keys/signer.p12 KST_SIGN_PASS=s3cret "$release" "$tmp/p" 2>&1) || bad "PKCS#12 signed release builds" "$log"
unzip_to "$tmp/p/$name-win64.zip" "$tmp/p-win64"
check "PKCS#12: the signed launcher verifies" osslsigncode verify -CAfile "$keys/signer.pem" -in "$tmp/p-win64/KSTGATE.exe"

# ---- bad signing input -----------------------------------------------------------

# refused DESCRIPTION MESSAGE ENV...: release.sh fails at once, says MESSAGE,
# and the zips of an earlier release in its output directory are gone.
refused() {
  local description=$1 message=$2 dir=$tmp/refused log rc
  shift 2
  rm -rf "$dir"; cp -R "$tmp/a" "$dir"
  log=$(env "$@" "$release" "$dir" 2>&1); rc=$?
  if [ $rc != 0 ] && grep -qF -- "$message" <<<"$log" && no_zip "$dir" && [ ! -e "$dir/SHA256SUMS" ]; then
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
refused "a PKCS#12 file without a password" "needs its password" KST_SIGN_PKCS12="$keys/signer.p12"

echo "release: $passed passed, $failed failed"
[ $failed = 0 ]
