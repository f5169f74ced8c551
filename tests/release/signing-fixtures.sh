# Sourced by the release tests: a throwaway signing set-up in a directory.
#   make_pki DIR      a three-level PKI for code signing: root.pem (the trust
#                     anchor), inter.pem (an intermediate CA with the
#                     code-signing purpose), leaf.pem/leaf.key (valid for two
#                     days), and a timestamp authority of its own:
#                     tsa-root.pem, tsa.pem/tsa.key (the timeStamping purpose);
#                     the leaves name a CRL point on a closed port of
#                     127.0.0.1; revoked.pem/revoked.key, a leaf that
#                     crl.pem (the CRLs of inter, root and tsa-root) revokes
#   make_token DIR PIN    a SoftHSM2 token "kst" in DIR/tokens holding the
#                     leaf's key and certificate as object "signer"; exports
#                     SOFTHSM2_CONF and sets softhsm_module
#   start_tsa DIR     an RFC 3161 timestamp authority over HTTP on 127.0.0.1
#                     (openssl ts -reply with tsa.pem), bound to end within
#                     15 minutes and with the shell that started it; sets
#                     tsa_url and tsa_pid
#   stop_tsa          ends it
#   closed_port       a port on 127.0.0.1 that nothing listens on
#   stalling_port     a port on 127.0.0.1 that takes connections and never
#                     answers, for 15 minutes at most and no longer than the
#                     shell that asked for it

make_pki() {
  local dir=$1 ca=basicConstraints=critical,CA:true leaf=basicConstraints=critical,CA:false
  local issuing=keyUsage=critical,keyCertSign,cRLSign signing=keyUsage=critical,digitalSignature
  local cdp=crlDistributionPoints=URI:http://127.0.0.1:$(closed_port)/inter.crl
  mkdir -p "$dir"
  printf '[req]\ndistinguished_name = dn\n[dn]\n' >"$dir/req.cnf"
  # issue NAME ISSUER DAYS EXTENSION...: NAME.pem and NAME.key, issued by
  # ISSUER (- for self-signed).
  issue() {
    local name=$1 days=$3 args=() extension
    [ "$2" = - ] || args=(-CA "$dir/$2.pem" -CAkey "$dir/$2.key")
    shift 3
    for extension; do args+=(-addext "$extension"); done
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$dir/$name.key" -out "$dir/$name.pem" -days "$days" \
      -subj "/CN=KSTGATE release test $name" -config "$dir/req.cnf" "${args[@]}" >/dev/null 2>&1
  }
  issue root - 30 "$ca" "$issuing" &&
    issue inter root 30 "$ca,pathlen:0" "$issuing" extendedKeyUsage=codeSigning &&
    issue leaf inter 2 "$leaf" "$signing" extendedKeyUsage=codeSigning "$cdp" &&
    issue revoked inter 2 "$leaf" "$signing" extendedKeyUsage=codeSigning "$cdp" &&
    issue tsa-root - 30 "$ca" "$issuing" &&
    issue tsa tsa-root 30 "$leaf" "$signing" extendedKeyUsage=critical,timeStamping || return 1
  # crl CA [CERT]: CA's CRL, revoking CERT, added to crl.pem.
  crl() {
    : >"$dir/$1.db"
    printf '[ca]\ndefault_ca = c\n[c]\ndatabase = %s\ndefault_md = sha256\ndefault_crl_days = 30\n' "$dir/$1.db" >"$dir/ca.cnf"
    local ca=(-config "$dir/ca.cnf" -cert "$dir/$1.pem" -keyfile "$dir/$1.key")
    { [ -z "${2:-}" ] || openssl ca "${ca[@]}" -revoke "$dir/$2.pem"; } && openssl ca "${ca[@]}" -gencrl >>"$dir/crl.pem"
  } 2>/dev/null
  : >"$dir/crl.pem"
  crl inter revoked && crl root && crl tsa-root
}

make_token() {
  local dir=$1 pin=$2
  export SOFTHSM2_CONF=$dir/softhsm2.conf
  softhsm_module=/usr/lib/softhsm/libsofthsm2.so
  mkdir -p "$dir/tokens"
  printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$dir/tokens" >"$SOFTHSM2_CONF"
  {
    softhsm2-util --init-token --free --label kst --so-pin "so-$pin" --pin "$pin" &&
      openssl pkcs8 -topk8 -nocrypt -in "$dir/leaf.key" -out "$dir/leaf.p8" &&
      softhsm2-util --import "$dir/leaf.p8" --token kst --label signer --id 01 --pin "$pin" &&
      GNUTLS_PIN=$pin p11tool --provider "$softhsm_module" --login --write --load-certificate "$dir/leaf.pem" \
        --label signer --id 01 'pkcs11:token=kst'
  } >/dev/null 2>&1
  local rc=$?
  rm -f "$dir/leaf.p8"
  return $rc
}

start_tsa() {
  local dir=$1
  cat >"$dir/tsa.cnf" <<EOF
[tsa]
default_tsa = kst
[kst]
serial = $dir/tsa-serial
signer_cert = $dir/tsa.pem
signer_key = $dir/tsa.key
signer_digest = sha256
default_policy = 1.3.6.1.4.1.99999.1
digests = sha256, sha384, sha512
ess_cert_id_alg = sha256
accuracy = secs:1
EOF
  echo 01 >"$dir/tsa-serial"
  rm -f "$dir/tsa-port"
  python3 - "$dir" "$$" >"$dir/tsa.log" 2>&1 <<'EOF' &
import http.server, os, subprocess, sys, tempfile, time

folder, parent = sys.argv[1], int(sys.argv[2])
deadline = time.monotonic() + 900

class Reply(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        with tempfile.TemporaryDirectory(dir=folder) as scratch:
            with open(scratch + "/query", "wb") as out:
                out.write(query)
            made = subprocess.run(["openssl", "ts", "-reply", "-config", folder + "/tsa.cnf",
                                   "-queryfile", scratch + "/query", "-out", scratch + "/reply"])
            reply = open(scratch + "/reply", "rb").read() if made.returncode == 0 else b""
        self.send_response(200 if reply else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

server = http.server.HTTPServer(("127.0.0.1", 0), Reply)
server.timeout = 1
with open(folder + "/tsa-port.new", "w") as port:
    port.write(str(server.server_address[1]))
os.rename(folder + "/tsa-port.new", folder + "/tsa-port")
# Ends by itself: at the deadline, or when the shell that started it is gone.
while time.monotonic() < deadline and os.path.exists("/proc/%d" % parent):
    server.handle_request()
EOF
  tsa_pid=$!
  local tries=0
  until [ -s "$dir/tsa-port" ]; do
    tries=$((tries + 1))
    if [ $tries -gt 100 ] || ! kill -0 "$tsa_pid" 2>/dev/null; then return 1; fi
    sleep 0.1
  done
  tsa_url=http://127.0.0.1:$(cat "$dir/tsa-port")/
}

stop_tsa() {
  [ -z "${tsa_pid:-}" ] || { kill "$tsa_pid" 2>/dev/null; wait "$tsa_pid" 2>/dev/null; }
  tsa_pid=
}

closed_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

stalling_port() {
  python3 - "$$" <<'EOF' &
import os, socket, sys, time
server = socket.socket()
server.bind(("127.0.0.1", 0))
server.listen(64)
server.settimeout(1)
print(server.getsockname()[1], flush=True)
os.close(1)
held, deadline = [], time.monotonic() + 900
while time.monotonic() < deadline and os.path.exists("/proc/" + sys.argv[1]):
    try:
        held.append(server.accept()[0])
    except socket.timeout:
        pass
EOF
}
