# Sourced by the release tests: a throwaway signing set-up in a directory.
#   make_pki DIR      a three-level PKI for code signing: root.pem (the trust
#                     anchor), inter.pem (an intermediate CA with the
#                     code-signing purpose), leaf.pem/leaf.key (valid for two
#                     days), and a timestamp authority of its own:
#                     tsa-root.pem, tsa.pem/tsa.key (the timeStamping purpose)
#   make_token DIR PIN    a SoftHSM2 token "kst" in DIR/tokens holding the
#                     leaf's key and certificate as object "signer"; exports
#                     SOFTHSM2_CONF and sets softhsm_module
#   start_tsa DIR     an RFC 3161 timestamp authority over HTTP on 127.0.0.1
#                     (openssl ts -reply with tsa.pem), bound to end within
#                     15 minutes and with the shell that started it; sets
#                     tsa_url and tsa_pid
#   stop_tsa          ends it
#   closed_port       a port on 127.0.0.1 that nothing listens on

make_pki() {
  local dir=$1
  mkdir -p "$dir"
  cat >"$dir/ext.cnf" <<'EOF'
[req]
distinguished_name = dn
[dn]
[root]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[inter]
basicConstraints = critical, CA:true, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[leaf]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[tsa]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF
  # issue NAME CA DAYS EXTENSIONS: NAME.pem and NAME.key, issued by CA (or
  # self-signed when CA is -).
  issue() {
    if [ "$2" = - ]; then
      openssl req -x509 -newkey rsa:2048 -nodes -keyout "$dir/$1.key" -out "$dir/$1.pem" -days "$3" \
        -subj "/CN=KSTGATE release test $1" -config "$dir/ext.cnf" -extensions "$4"
    else
      openssl req -new -newkey rsa:2048 -nodes -keyout "$dir/$1.key" -out "$dir/$1.csr" \
        -subj "/CN=KSTGATE release test $1" -config "$dir/ext.cnf" &&
        openssl x509 -req -in "$dir/$1.csr" -CA "$dir/$2.pem" -CAkey "$dir/$2.key" -set_serial "0x$(openssl rand -hex 8)" \
          -days "$3" -extfile "$dir/ext.cnf" -extensions "$4" -out "$dir/$1.pem"
    fi
  } >/dev/null 2>&1
  issue root - 30 root && issue inter root 30 inter && issue leaf inter 2 leaf &&
    issue tsa-root - 30 root && issue tsa tsa-root 30 tsa
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
certs = $dir/tsa.pem
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
