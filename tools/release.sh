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
#   or a key on a token: KST_SIGN_PKCS11_MODULE (the PKCS#11 module), with
#     KST_SIGN_KEY the key's pkcs11: URI, KST_SIGN_CERT the certificate's
#     pkcs11: URI or a PEM file, and KST_SIGN_PASS the token's PIN
#   KST_SIGN_CHAIN                   the intermediate CA certificates (PEM),
#                                    added to every signature
#   KST_SIGN_CAFILE                  the trust anchor (a root) every signature
#                                    is verified against (default: the signing
#                                    certificate, when it is self-signed)
#   KST_SIGN_TSA                     RFC 3161 timestamp URLs, tried in order:
#                                    every exe's signature gets a timestamp,
#                                    and SHA256SUMS a token of its own,
#                                    OUT/SHA256SUMS.tsr
#   KST_SIGN_TSA_CAFILE              the anchor the timestamps are verified
#                                    against (default: the system's CAs)
#   KST_SIGN_TSA_TIMEOUT             seconds each timestamp URL gets (60); a
#                                    URL that stalls, refuses or gives a
#                                    timestamp that does not verify is
#                                    passed over for the next
#   KST_SIGN_CRL                     PEM CRLs (files, separated by spaces):
#                                    those of the signing certificate's CA
#                                    and of the timestamp authority's CA;
#                                    every verification checks revocation
#                                    against them, and nothing is fetched.
#                                    Without it revocation is not checked
#                                    (a warning says so), and nothing is
#                                    fetched either.
# Every exe is signed and verified before it is zipped, and each exe's
# signature is published as OUT/KSTGATE-<version>-<arch>/<exe>.sig.pem, so
# that anyone can rebuild the release unsigned, attach the signature and
# compare. SHA256SUMS gets a detached CMS signature, OUT/SHA256SUMS.sig, by
# the same certificate. The password (or PIN) reaches openssl and
# osslsigncode through a pipe on their descriptor 3, never through a file or
# a command line, and no build tool sees KST_SIGN_PASS; nor does a trace
# (bash -x) show it. Every step that may reach the network (the timestamps,
# a token's signing, the verifications) has a time limit.
#
# OUT and every KST_SIGN_* path are taken from the directory the script is
# started in. OUT holds one release: files of another version's release there
# make the script stop before it builds (it removes none of them).
#
# The sources are the commit's bytes whatever the packager's git settings:
# the archive is taken with core.autocrlf=false and core.eol=lf, and no other
# configuration or attribute of the packager's.
#
# OUT holds a whole release: the release is made in a temporary directory
# and its files replace the earlier release of the same version in OUT only
# when every step has succeeded. A failed or interrupted (INT, TERM, HUP) run
# leaves OUT as it was: the earlier release whole, and no part of its own.
# Other files in OUT are never touched. An interruption during any step (a
# build, a signing, a timestamp) ends that step too, within seconds.
#
# The packager's environment does not reach the bytes: the build runs
# without CFLAGS, CXXFLAGS, CPPFLAGS, LDFLAGS, RCFLAGS, CMAKE_GENERATOR and
# the like, always with Makefiles, and the zips have the commit's time
# whatever SOURCE_DATE_EPOCH says.
set -euo pipefail

# The password stays a variable of this shell: no program started from here
# gets it in its environment.
export -n KST_SIGN_PASS

# Relative paths are the packager's: from where the script was started.
here=$(pwd)
cd "$(dirname "$0")/.."
root=$(pwd)
from_here() { case $1 in /*) printf '%s' "$1" ;; *) printf '%s/%s' "$here" "$1" ;; esac; }
out=$(from_here "${1:-$root/dist}")
for var in KST_SIGN_CERT KST_SIGN_KEY KST_SIGN_PKCS12 KST_SIGN_CHAIN KST_SIGN_CAFILE KST_SIGN_TSA_CAFILE KST_SIGN_PKCS11_MODULE; do
  case ${!var:-} in
    '' | pkcs11:*) ;;
    *) printf -v "$var" '%s' "$(from_here "${!var}")" ;;
  esac
done
read -r -a crl_files <<<"${KST_SIGN_CRL:-}"
for i in "${!crl_files[@]}"; do crl_files[i]=$(from_here "${crl_files[i]}"); done

fail() { echo "release: $*" >&2; exit 1; }

# ---- clean-up: on any exit but a finished hand-over ---------------------------

work=
handover=
release_files=()
placed=()
set_aside=()
finished=0

# Undoes an unfinished hand-over: takes out of OUT what this run had moved
# there and puts the earlier release back. (Each file is listed before it
# is moved.)
restore_out() {
  local file
  for file in "${placed[@]}"; do rm -rf -- "${out:?}/$file"; done
  for file in "${set_aside[@]}"; do
    if [ -e "$handover/old/$file" ] || [ -L "$handover/old/$file" ]; then mv -T -- "$handover/old/$file" "$out/$file"; fi
  done
  placed=()
  set_aside=()
}
# in_own_group LOG COMMAND...: COMMAND (a build step) with its output in LOG,
# in a process group of its own that an interruption ends at once, with
# every compiler it started, rather than waiting for it (the shell runs its
# traps during "wait", not while a command runs in the foreground).
build_group=
in_own_group() {
  local log=$1 rc=0
  shift
  setsid "$@" >"$log" 2>&1 </dev/null &
  build_group=$!
  wait "$build_group" || rc=$?
  build_group=
  return $rc
}
# bounded SECONDS LOG COMMAND...: the same, ended after SECONDS (status 124).
bounded() {
  local limit=$1
  shift
  in_own_group "$1" timeout -k 5 "$limit" "${@:2}"
}
end_build() {
  local group=$build_group tries=0
  [ -n "$group" ] || return 0
  kill -s TERM -- "-$group" 2>/dev/null || true
  while kill -0 -- "-$group" 2>/dev/null; do
    tries=$((tries + 1))
    if [ $tries = 50 ]; then kill -s KILL -- "-$group" 2>/dev/null || true; fi
    sleep 0.1
  done
  wait "$group" 2>/dev/null || true
  build_group=
}
cleanup() {
  end_build
  [ $finished = 1 ] || restore_out
  [ -z "$work" ] || rm -rf -- "$work"
  [ -z "$handover" ] || rm -rf -- "$handover"
}
interrupted() {
  trap - EXIT
  cleanup
  echo "release: interrupted ($1): $out is as it was" >&2
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
# The commit's bytes, whatever the packager's git settings say: taken from an
# empty repository that borrows this one's objects, with no configuration
# or attributes but its own (line ends as committed).
snapshot=$work/git
objects=$(git rev-parse --path-format=absolute --git-path objects)
snapshot_git() {
  env -u GIT_DIR -u GIT_WORK_TREE -u GIT_OBJECT_DIRECTORY -u GIT_ALTERNATE_OBJECT_DIRECTORIES \
    -u GIT_CONFIG -u GIT_CONFIG_PARAMETERS -u GIT_CONFIG_COUNT -u GIT_ATTR_SOURCE \
    GIT_CONFIG_NOSYSTEM=1 GIT_CONFIG_GLOBAL=/dev/null GIT_ATTR_NOSYSTEM=1 GIT_NO_REPLACE_OBJECTS=1 \
    git --git-dir="$snapshot" -c core.autocrlf=false -c core.eol=lf -c core.attributesFile=/dev/null "$@"
}
snapshot_git init -q --bare --template= "$snapshot"
mkdir -p "$snapshot/objects/info"
printf '%s\n' "$objects" >"$snapshot/objects/info/alternates"
snapshot_git archive --format=tar "$commit" | tar -x -C "$src"
epoch=$(git log -1 --format=%ct "$commit")

# The version, as the commit's CMakeLists.txt declares it.
version=$(sed -n 's/^project(KSTGATE VERSION \([0-9][0-9.]*\) .*/\1/p' "$src/CMakeLists.txt")
[ -n "$version" ] || fail "no version in the commit's CMakeLists.txt"
name=KSTGATE-$version
[ -x "$src/tools/check-exe.sh" ] || fail "the commit has no tools/check-exe.sh"

# The release's files in OUT. An earlier release of this version stays there
# until this one has passed every step; at the hand-over its SHA256SUMS goes
# first and this one's last: a release without it was cut short.
names=("$name-win32.zip" "$name-win64.zip" "$name-win32" "$name-win64" BUILDINFO SHA256SUMS.sig SHA256SUMS.tsr SHA256SUMS)

# OUT holds one release. Another version's files are the packager's to move:
# this one's would replace its shared files (BUILDINFO, SHA256SUMS) and leave
# sums beside zips they do not list.
others=()
for file in "$out"/KSTGATE-[0-9]*-win32.zip "$out"/KSTGATE-[0-9]*-win64.zip "$out"/KSTGATE-[0-9]*-win32 "$out"/KSTGATE-[0-9]*-win64; do
  [ -e "$file" ] || continue
  case " ${names[*]} " in *" ${file##*/} "*) ;; *) others+=("${file##*/}") ;; esac
done
if [ -f "$out/BUILDINFO" ] && ! grep -qxF "version: $version" "$out/BUILDINFO"; then others+=(BUILDINFO); fi
if [ -f "$out/SHA256SUMS" ] && grep -q ' \*\?KSTGATE-' "$out/SHA256SUMS" &&
   grep ' \*\?KSTGATE-' "$out/SHA256SUMS" | grep -vq " \*\?$name-win\(32\|64\)[./]"; then
  others+=(SHA256SUMS)
fi
[ ${#others[@]} = 0 ] ||
  fail "$out holds another release than $name: ${others[*]}; nothing was removed: move them away, or give another OUT"

release_files=("${names[@]}")
mkdir -p "$out"
out=$(cd "$out" && pwd)

# ---- signing set-up, checked before anything is built -----------------------

# with_pass CMD...: runs CMD with the password readable on its descriptor 3,
# a pipe ("-passin fd:3" for openssl, "-readpass /dev/fd/3" for osslsigncode).
# The password is expanded only with tracing off, so that "bash -x" does not
# print it.
with_pass() { "$@" 3< <({ set +x; } 2>/dev/null; printf '%s' "${KST_SIGN_PASS:-}"); }
has_pass=0
case ${KST_SIGN_PASS:-} in '') ;; *) has_pass=1 ;; esac

sign=0
token=0
readable() { [ -f "$1" ] && [ -r "$1" ]; }
is_uri() { case $1 in pkcs11:*) return 0 ;; *) return 1 ;; esac; }
if [ -n "${KST_SIGN_PKCS11_MODULE:-}" ]; then
  [ -z "${KST_SIGN_PKCS12:-}" ] || fail "set either KST_SIGN_PKCS12 or KST_SIGN_PKCS11_MODULE, not both"
  is_uri "${KST_SIGN_KEY:-}" || fail "signing: with KST_SIGN_PKCS11_MODULE, KST_SIGN_KEY is the key's pkcs11: URI"
  [ -n "${KST_SIGN_CERT:-}" ] || fail "signing: KST_SIGN_KEY is set but KST_SIGN_CERT is not"
  readable "$KST_SIGN_PKCS11_MODULE" || fail "signing: cannot read the PKCS#11 module $KST_SIGN_PKCS11_MODULE"
  is_uri "$KST_SIGN_CERT" || readable "$KST_SIGN_CERT" || fail "signing: cannot read the certificate $KST_SIGN_CERT"
  [ -n "${KST_SIGN_PASS+set}" ] || fail "signing: a key on a token needs the token's PIN in KST_SIGN_PASS"
  sign=1
  token=1
elif [ -n "${KST_SIGN_PKCS12:-}" ]; then
  [ -z "${KST_SIGN_CERT:-}${KST_SIGN_KEY:-}" ] || fail "set either KST_SIGN_PKCS12 or KST_SIGN_CERT with KST_SIGN_KEY, not both"
  readable "$KST_SIGN_PKCS12" || fail "signing: cannot read the PKCS#12 file $KST_SIGN_PKCS12"
  [ -n "${KST_SIGN_PASS+set}" ] || fail "signing: KST_SIGN_PKCS12 needs its password in KST_SIGN_PASS"
  sign=1
elif [ -n "${KST_SIGN_CERT:-}${KST_SIGN_KEY:-}" ]; then
  [ -n "${KST_SIGN_CERT:-}" ] || fail "signing: KST_SIGN_KEY is set but KST_SIGN_CERT is not"
  [ -n "${KST_SIGN_KEY:-}" ] || fail "signing: KST_SIGN_CERT is set but KST_SIGN_KEY is not"
  if is_uri "$KST_SIGN_KEY" || is_uri "$KST_SIGN_CERT"; then
    fail "signing: a pkcs11: URI needs the token's module in KST_SIGN_PKCS11_MODULE"
  fi
  readable "$KST_SIGN_CERT" || fail "signing: cannot read the certificate $KST_SIGN_CERT"
  readable "$KST_SIGN_KEY" || fail "signing: cannot read the private key $KST_SIGN_KEY"
  sign=1
fi
read -r -a tsa_urls <<<"${KST_SIGN_TSA:-}"
[ $sign = 1 ] || [ ${#tsa_urls[@]} = 0 ] || fail "KST_SIGN_TSA is set, but nothing is signed: no KST_SIGN_CERT, KST_SIGN_PKCS12 or token"

if [ $sign = 1 ]; then
  command -v osslsigncode >/dev/null || fail "signing: osslsigncode is not installed"
  keys=$work/keys
  mkdir -m 700 "$keys"
  # openssl runs as "${ssl[@]}": with the token's module when there is one.
  ssl=(openssl)
  if [ $token = 1 ]; then
    # The key stays on the token: osslsigncode and openssl reach it through
    # OpenSSL's PKCS#11 engine, which loads the module; the PIN reaches the
    # engine through the programs' password pipe, not through the URI.
    module=$KST_SIGN_PKCS11_MODULE
    engine=$(openssl version -e | sed -n 's/^ENGINESDIR: "\(.*\)"$/\1/p')/pkcs11.so
    readable "$engine" || fail "signing: OpenSSL has no PKCS#11 engine ($engine; Debian: libengine-pkcs11-openssl)"
    ssl=(env PKCS11_MODULE_PATH="$module" openssl)
    if is_uri "$KST_SIGN_CERT"; then
      command -v p11tool >/dev/null || fail "signing: reading the certificate from the token needs p11tool (Debian: gnutls-bin)"
      p11tool --provider "$module" --export "$KST_SIGN_CERT" >"$keys/cert.pem" 2>"$work/p11tool.log" </dev/null ||
        { cat "$work/p11tool.log" >&2; fail "signing: cannot read the certificate $KST_SIGN_CERT from the token"; }
      certfile=$keys/cert.pem
    else
      certfile=$KST_SIGN_CERT
    fi
    certpub=$(openssl x509 -in "$certfile" -noout -pubkey 2>/dev/null) ||
      fail "signing: $KST_SIGN_CERT is not a PEM certificate"
    # One log-in before the build: a wrong PIN stops the release here, after
    # one failed try (a token locks after a few), not at every exe.
    keypub=$(with_pass "${ssl[@]}" pkey -engine pkcs11 -inform engine -in "$KST_SIGN_KEY" -passin fd:3 -pubout \
      2>"$work/pkey.log" </dev/null) ||
      { sed -n '/PIN\|Login\|not found/p' "$work/pkey.log" >&2
        fail "signing: cannot use the key $KST_SIGN_KEY: a wrong PIN (KST_SIGN_PASS), no such key, or no such token"; }
    [ "$certpub" = "$keypub" ] || fail "signing: the key $KST_SIGN_KEY does not belong to the certificate $KST_SIGN_CERT"
    signargs=(-pkcs11engine "$engine" -pkcs11module "$module" -certs "$certfile" -key "$KST_SIGN_KEY" -readpass /dev/fd/3)
    cmsargs=(-engine pkcs11 -keyform engine -signer "$certfile" -inkey "$KST_SIGN_KEY" -passin fd:3)
  elif [ -n "${KST_SIGN_PKCS12:-}" ]; then
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
    [ $has_pass = 0 ] || passin=(-passin fd:3)
    keypub=$(with_pass openssl pkey -in "$KST_SIGN_KEY" "${passin[@]}" -pubout 2>/dev/null </dev/null) ||
      fail "signing: cannot open the private key $KST_SIGN_KEY: not a PEM key, or a wrong password (KST_SIGN_PASS)"
    [ "$certpub" = "$keypub" ] || fail "signing: the private key $KST_SIGN_KEY does not belong to the certificate $KST_SIGN_CERT"
    signargs=(-certs "$KST_SIGN_CERT" -key "$KST_SIGN_KEY")
    [ $has_pass = 0 ] || signargs+=(-readpass /dev/fd/3)
    certfile=$KST_SIGN_CERT
    cmsargs=(-signer "$certfile" -inkey "$KST_SIGN_KEY" "${passin[@]}")
  fi

  # The chain: the intermediates go into every signature, so that a verifier
  # needs the root alone; every verification here starts from the root.
  untrusted=()
  if [ -n "${KST_SIGN_CHAIN:-}" ]; then
    readable "$KST_SIGN_CHAIN" || fail "signing: cannot read KST_SIGN_CHAIN $KST_SIGN_CHAIN"
    openssl x509 -in "$KST_SIGN_CHAIN" -noout 2>/dev/null || fail "signing: KST_SIGN_CHAIN $KST_SIGN_CHAIN holds no PEM certificate"
    signargs+=(-ac "$KST_SIGN_CHAIN")
    cmsargs+=(-certfile "$KST_SIGN_CHAIN")
    untrusted=(-untrusted "$KST_SIGN_CHAIN")
  fi
  if [ -n "${KST_SIGN_CAFILE:-}" ]; then
    cafile=$KST_SIGN_CAFILE
  elif [ "$(openssl x509 -in "$certfile" -noout -subject_hash)" = "$(openssl x509 -in "$certfile" -noout -issuer_hash)" ]; then
    cafile=$certfile
  else
    fail "signing: the certificate is issued by a CA: name the root to verify against in KST_SIGN_CAFILE"
  fi
  readable "$cafile" || fail "signing: cannot read KST_SIGN_CAFILE $cafile"
  # Revocation: against the packager's CRLs (one file of them all), never
  # fetched. osslsigncode 2.6 and later fetch the CRLs that the certificates
  # name, and from 2.8 on a failed fetch fails the verification, which an
  # offline signing host always meets: with CRLs given they tell it not to
  # fetch (-ignore-cdp), without them to skip revocation (-ignore-crl).
  # Older ones fetch nothing.
  verify_help=$(osslsigncode verify --help 2>&1 || true)
  offers() { grep -q -e "\[ $1 \]" <<<"$verify_help"; }
  crlcheck=()
  anchor=$cafile
  verifyargs=(-CAfile "$cafile")
  if [ ${#crl_files[@]} -gt 0 ]; then
    crls=$keys/crls.pem
    for file in "${crl_files[@]}"; do
      readable "$file" && openssl crl -in "$file" -noout 2>/dev/null || fail "signing: KST_SIGN_CRL $file is no PEM CRL"
      cat "$file" >>"$crls"
    done
    crlcheck=(-crl_check)
    anchor=$keys/anchor.pem
    cat "$cafile" "$crls" >"$anchor"
    verifyargs+=(-CRLfile "$crls" -TSA-CRLfile "$crls")
    ! offers -ignore-cdp || verifyargs+=(-ignore-cdp)
  else
    ! offers -ignore-crl || verifyargs+=(-ignore-crl)
    echo "release: warning: revocation was not checked: give the CRLs of the signing certificate's CA and of the" \
      "timestamp authority's CA in KST_SIGN_CRL (PEM files) to check it offline" >&2
  fi
  openssl verify -CAfile "$anchor" "${untrusted[@]}" "${crlcheck[@]}" "$certfile" >"$work/chain.log" 2>&1 ||
    { cat "$work/chain.log" >&2; fail "signing: the certificate does not verify against KST_SIGN_CAFILE $cafile (with KST_SIGN_CHAIN and KST_SIGN_CRL, if set)"; }

  if [ ${#tsa_urls[@]} -gt 0 ]; then
    tsa_cafile=${KST_SIGN_TSA_CAFILE:-/etc/ssl/certs/ca-certificates.crt}
    readable "$tsa_cafile" || fail "signing: cannot read KST_SIGN_TSA_CAFILE $tsa_cafile"
    for url in "${tsa_urls[@]}"; do
      case $url in http://* | https://*) ;; *) fail "KST_SIGN_TSA: $url is no http:// or https:// URL" ;; esac
    done
    verifyargs+=(-TSA-CAfile "$tsa_cafile")
    # OpenSSL takes the CRLs from the anchor's file.
    tsa_anchor=$tsa_cafile
    if [ ${#crl_files[@]} -gt 0 ]; then
      tsa_anchor=$keys/tsa-anchor.pem
      cat "$tsa_cafile" "$crls" >"$tsa_anchor"
    fi
  else
    echo "release: warning: no timestamp authority (KST_SIGN_TSA): the signatures stop verifying when the certificate expires" >&2
  fi
fi

# ---- timestamps ----------------------------------------------------------------
# Each URL gets one bounded attempt per file: one that stalls, refuses or
# gives a timestamp that does not verify is passed over for the next, and
# goes to the end of the list for the files after, so that a dead authority
# costs one time limit, not one per file.
tsa_limit=${KST_SIGN_TSA_TIMEOUT:-60}
case $tsa_limit in '' | *[!0-9]* | 0) fail "KST_SIGN_TSA_TIMEOUT: $tsa_limit is no number of seconds" ;; esac
declare -A tsa_warned=()
# stamped WHAT ATTEMPT: runs "ATTEMPT URL" for each URL in turn until one
# succeeds; ATTEMPT says in "why" what went wrong. When all fail, names
# each with its reason.
stamped() {
  local what=$1 attempt=$2 url i=0 failures=()
  for url in "${tsa_urls[@]}"; do
    why=
    if "$attempt" "$url"; then
      tsa_urls=("${tsa_urls[@]:i}" "${tsa_urls[@]:0:i}")
      return 0
    fi
    [ -n "$why" ] || why="failed"
    failures+=("$url: $why")
    if [ -z "${tsa_warned[$url]:-}" ]; then
      tsa_warned[$url]=1
      echo "release: warning: timestamp authority $url passed over ($what): $why" >&2
    fi
    i=$((i + 1))
  done
  echo "release: $what: no timestamp authority answered with a timestamp that verifies:" >&2
  printf '  %s\n' "${failures[@]}" >&2
  return 1
}
# why_failed STATUS LOG: the reason for "why".
why_failed() {
  case $1 in
    124 | 137) echo "no answer within $tsa_limit s" ;;
    *) echo "failed ($(grep -v '^[[:space:]]*$' "$2" | tail -n 1))" ;;
  esac
}
# token_from URL: an RFC 3161 token of $ts_data in $ts_token, verified
# against KST_SIGN_TSA_CAFILE.
token_from() {
  local rc=0
  bounded "$tsa_limit" "$work/ts.log" python3 -c '
import sys
import urllib.request

url, query, token = sys.argv[1:4]
request = urllib.request.Request(url, data=open(query, "rb").read(),
                                 headers={"Content-Type": "application/timestamp-query"})
# (No time limit of its own: the one around it ends a stall.)
with urllib.request.urlopen(request) as answer:
    reply = answer.read()
open(token, "wb").write(reply)
' "$1" "$work/query.tsq" "$ts_token" || rc=$?
  [ $rc = 0 ] || { why=$(why_failed $rc "$work/ts.log"); return 1; }
  openssl ts -verify -data "$ts_data" -in "$ts_token" -CAfile "$tsa_anchor" "${crlcheck[@]}" >"$work/ts.log" 2>&1 ||
    { why="the timestamp does not verify against KST_SIGN_TSA_CAFILE $tsa_cafile$([ ${#crlcheck[@]} = 0 ] || echo ' with KST_SIGN_CRL')"; return 1; }
}
# timestamp FILE TOKEN: TOKEN, a token of FILE.
timestamp() {
  ts_data=$1 ts_token=$2
  openssl ts -query -data "$1" -sha256 -cert -out "$work/query.tsq" 2>"$work/ts.log" || { cat "$work/ts.log" >&2; return 1; }
  stamped "${1##*/}" token_from
}
# verify_exe EXE [stamped]: EXE's signature (and its timestamp) verify,
# revocation as set up above. (osslsigncode reports a failed check of the
# timestamp's CRLs and still says yes.)
verify_exe() {
  local rc=0
  bounded 120 "$work/verify.log" osslsigncode verify -in "$1" "${verifyargs[@]}" || rc=$?
  [ $rc = 0 ] && ! grep -q 'CRL verification: failed' "$work/verify.log" || return 1
  [ -z "${2:-}" ] || grep -q '^Timestamp Server Signature verification: ok' "$work/verify.log"
}
# exe_stamp_from URL: $exe_signed with a timestamp from URL in $exe_stamped,
# verified.
exe_stamp_from() {
  local rc=0
  rm -f -- "$exe_stamped"
  bounded "$tsa_limit" "$work/add.log" osslsigncode add -ts "$1" -in "$exe_signed" -out "$exe_stamped" || rc=$?
  [ $rc = 0 ] || { why=$(why_failed $rc "$work/add.log"); return 1; }
  verify_exe "$exe_stamped" stamped || { why="the timestamped signature does not verify: $(grep -i 'fail\|error' "$work/verify.log" | head -n 1)"; return 1; }
}

# One timestamp before the build: authorities that do not answer, or that
# the anchor does not vouch for, stop the release here.
if [ ${#tsa_urls[@]} -gt 0 ]; then
  printf '%s\n' "$commit" >"$work/probe"
  timestamp "$work/probe" "$work/probe.tsr" || fail "timestamping failed (KST_SIGN_TSA)"
fi

# ---- build -------------------------------------------------------------------

echo "release: $name"

# The console tools that go beside the launcher, when this tree has them.
tools=()
for tool in kstscan kstcheck; do
  [ -f "$src/tools/$tool/CMakeLists.txt" ] && tools+=("$tool")
done

# The packager's flags and generator would change the bytes (and a
# generator other than Makefiles would leave BUILDINFO without the flags):
# the build sees none of them.
clean_env=(env)
for var in CFLAGS CXXFLAGS CPPFLAGS LDFLAGS RCFLAGS ASMFLAGS SOURCE_DATE_EPOCH MAKEFLAGS CMAKE_GENERATOR \
           CMAKE_GENERATOR_PLATFORM CMAKE_GENERATOR_TOOLSET CMAKE_GENERATOR_INSTANCE CMAKE_TOOLCHAIN_FILE \
           CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER CMAKE_C_LINKER_LAUNCHER CMAKE_CXX_LINKER_LAUNCHER; do
  clean_env+=(-u "$var")
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
  in_own_group "$work/cmake-$arch.log" "${clean_env[@]}" cmake -G "Unix Makefiles" -S "$src" -B "$build" \
    -DCMAKE_TOOLCHAIN_FILE="$src/cmake/$toolchain" -DCMAKE_BUILD_TYPE=Release -DKST_RELEASE=ON ||
    { cat "$work/cmake-$arch.log" >&2; fail "$arch: configure failed"; }
  in_own_group "$work/build-$arch.log" "${clean_env[@]}" cmake --build "$build" -j"$(nproc)" --target KSTGATE "${tools[@]}" ||
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
      # Signed without a timestamp (the signer's own client would wait
      # without end on an authority that stalls), then stamped URL by URL.
      with_pass bounded 300 "$work/sign.log" osslsigncode sign "${signargs[@]}" -h sha256 -n "KSTGATE" \
        -in "$files/$exe" -out "$files/$exe.unstamped" || { cat "$work/sign.log" >&2; fail "$arch: signing $exe failed"; }
      verify_exe "$files/$exe.unstamped" || { cat "$work/verify.log" >&2; fail "$arch: the signed $exe does not verify"; }
      if [ ${#tsa_urls[@]} = 0 ]; then
        mv "$files/$exe.unstamped" "$files/$exe.signed"
      else
        exe_signed=$files/$exe.unstamped exe_stamped=$files/$exe.signed
        stamped "$arch $exe" exe_stamp_from || fail "$arch: the signed $exe has no timestamp that verifies"
        rm -f -- "$exe_signed"
      fi
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
  info osslsigncode-version "$(osslsigncode --version 2>&1 | sed -n '1s/^osslsigncode \([^ ,]*\).*/\1/p')"
  program openssl openssl
  if [ $token = 1 ]; then
    program pkcs11-engine "$engine"
    program pkcs11-module "$module"
  fi
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
  with_pass bounded 300 "$work/cms.log" "${ssl[@]}" cms -sign -binary -md sha256 -in "$dist/SHA256SUMS" "${cmsargs[@]}" \
    -outform PEM -out "$dist/SHA256SUMS.sig" || { cat "$work/cms.log" >&2; fail "signing SHA256SUMS failed"; }
  openssl cms -verify -binary -purpose any "${crlcheck[@]}" -content "$dist/SHA256SUMS" -CAfile "$anchor" \
    -in "$dist/SHA256SUMS.sig" -inform PEM -out /dev/null >"$work/cms.log" 2>&1 ||
    { cat "$work/cms.log" >&2; fail "the signature of SHA256SUMS does not verify"; }
  echo "release: signed and verified SHA256SUMS"
  if [ ${#tsa_urls[@]} -gt 0 ]; then
    # A third party's word on when the sums, and so every file they list,
    # existed: a verifier judges the signature at that time, after the
    # certificate has expired too.
    timestamp "$dist/SHA256SUMS" "$work/SHA256SUMS.tsr" || fail "timestamping SHA256SUMS failed"
    mv "$work/SHA256SUMS.tsr" "$dist/SHA256SUMS.tsr"
    echo "release: timestamped SHA256SUMS"
  fi
fi

# ---- hand-over -------------------------------------------------------------------
# Every step has succeeded. The release is copied next to OUT's files first
# (the same file system); the earlier release's files are moved aside there,
# its SHA256SUMS first, then each new file is renamed into place, SHA256SUMS
# last. An interruption on the way puts the earlier release back.

for file in "$dist"/* "$dist"/.[!.]*; do
  [ -e "$file" ] || continue
  case " ${release_files[*]} " in
    *" ${file##*/} "*) ;;
    *) fail "${file##*/} is not one of the release's files: it would be left behind in OUT" ;;
  esac
done
handover=$(mktemp -d "$out/.kst-release.XXXXXX")
mkdir "$handover/new" "$handover/old"
cp -R "$dist/." "$handover/new/"
for ((i = ${#release_files[@]} - 1; i >= 0; i--)); do
  file=${release_files[i]}
  if [ -e "$out/$file" ] || [ -L "$out/$file" ]; then
    set_aside+=("$file")
    mv -T -- "$out/$file" "$handover/old/$file"
  fi
done
for file in "${release_files[@]}"; do
  if [ -e "$handover/new/$file" ]; then
    placed+=("$file")
    mv -T -- "$handover/new/$file" "$out/$file"
  fi
done
finished=1
rm -rf -- "$handover"
handover=
echo "release: done: $out"
(cd "$out" && sed 's/^/  /' SHA256SUMS)
