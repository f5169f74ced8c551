#!/usr/bin/python3
"""Builds a release of the committed tree (HEAD) for 32-bit and 64-bit Windows.

usage: tools/release.py [--unsigned] [OUT]
       tools/release.py --help

OUT (default: dist/ in the current directory) receives
  KSTGATE-<version>-win32.zip, KSTGATE-<version>-win64.zip
  BUILDINFO, SHA256SUMS
  and, when signing, KSTGATE-<version>-<arch>/<exe>.sig.pem, SHA256SUMS.sig
  and, when timestamping, SHA256SUMS.tsr.

Signing is set up with KST_SIGN_* variables (docs/releasing.md names them).
--unsigned  replace a signed release of the same version in OUT with an
            unsigned one (without it, a run with no signing settings refuses
            to do that)
"""

# Every outside program runs through run(): in a process group of its own,
# with a time limit, its output captured; a timeout or a signal (INT, TERM,
# HUP) ends its whole group. The build runs in an environment made from
# nothing but PATH, a fixed locale and time zone and a HOME and TMPDIR of the
# tool's own. The password (or PIN) never reaches the environment of a
# program the tool starts: the tool reads it at start and runs itself again
# without it, the password on a pipe; a signer gets it on a pipe of its own.

import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import zipfile
import zlib

SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)
SIGNAL_NAMES = {signal.SIGINT: "INT", signal.SIGTERM: "TERM", signal.SIGHUP: "HUP"}
KNOWN_SETTINGS = ("KST_SIGN_CERT", "KST_SIGN_KEY", "KST_SIGN_PASS", "KST_SIGN_PKCS12", "KST_SIGN_PKCS11_MODULE",
                  "KST_SIGN_CHAIN", "KST_SIGN_CAFILE", "KST_SIGN_TSA", "KST_SIGN_TSA_CAFILE",
                  "KST_SIGN_TSA_TIMEOUT", "KST_SIGN_CRL")
PASS_FD_OPTION = "--pass-fd="
PASS_FD = "@PASSFD@"  # in a command's arguments: the descriptor the password is on
HOOK = "KST_RELEASE_TEST_HOOK"  # tests only: run after each move in OUT, with its source and target

g_signal = None     # the first signal that arrived
g_closing = False   # cleaning up: further signals wait until OUT is as it was
g_proc = None       # the program running now
g_pass = None       # the password (bytes), None when KST_SIGN_PASS is not set
g_env = None        # the environment of the tool's own programs
g_build_env = None  # the build's
g_work = None
g_handover = None
g_out = None
g_placed = []
g_set_aside = []
g_finished = False


class Interrupted(Exception):
    pass


class Failed(Exception):
    pass


def say(text):
    print("release: " + text, flush=True)


def warn(text):
    print("release: " + text, file=sys.stderr, flush=True)


def fail(text):
    warn(text)
    raise Failed()


def on_signal(number, frame):
    global g_signal
    if g_signal is None:
        g_signal = number
        if not g_closing:
            raise Interrupted()
    # A second signal, or one during the clean-up, is held over: OUT is put
    # back first.


def unblock_signals():
    signal.pthread_sigmask(signal.SIG_UNBLOCK, SIGNALS)


def end_group(proc):
    """Ends PROC's process group: TERM, then KILL after five seconds."""
    try:
        os.killpg(proc.pid, signal.SIGTERM)
    except (ProcessLookupError, PermissionError):
        proc.wait()
        return
    deadline = time.monotonic() + 5
    killed = False
    while True:
        proc.poll()
        try:
            os.killpg(proc.pid, 0)
        except (ProcessLookupError, PermissionError):
            break
        if time.monotonic() > deadline:
            if killed:
                break
            os.killpg(proc.pid, signal.SIGKILL)
            killed = True
            deadline = time.monotonic() + 2
        time.sleep(0.05)
    proc.wait()


def run(argv, limit, env=None, data=None, password=False, cwd=None, stdout=None):
    """ARGV in a process group of its own, for LIMIT seconds at most (status
    124 after), stdin DATA (or nothing), with the password on a pipe when
    PASSWORD (PASS_FD in ARGV names its descriptor). Returns (status,
    stdout, stderr) as text; STDOUT, a file name, takes the output instead."""
    global g_proc
    fds = ()
    if password:
        read_end, write_end = os.pipe()
        os.write(write_end, g_pass or b"")
        os.close(write_end)
        fds = (read_end,)
        argv = [arg.replace(PASS_FD, str(read_end)) for arg in argv]
    out_file = open(stdout, "wb") if stdout else None
    blocked = signal.pthread_sigmask(signal.SIG_BLOCK, SIGNALS)
    try:
        proc = subprocess.Popen(argv, stdin=subprocess.PIPE if data is not None else subprocess.DEVNULL,
                                stdout=out_file or subprocess.PIPE, stderr=subprocess.PIPE,
                                env=env if env is not None else g_env, cwd=cwd, pass_fds=fds,
                                start_new_session=True, preexec_fn=unblock_signals)
        g_proc = proc
    except OSError as error:
        proc = None
        why = str(error)
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, blocked)
        for fd in fds:
            os.close(fd)
        if out_file:
            out_file.close()
    if proc is None:
        return 127, "", "%s: %s\n" % (argv[0], why)
    try:
        output, errors = proc.communicate(data, timeout=limit)
        status = proc.returncode
    except subprocess.TimeoutExpired:
        end_group(proc)
        output, errors = proc.communicate()
        status = 124
    try:  # whatever it left running
        os.killpg(proc.pid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass
    g_proc = None
    text = lambda raw: (raw or b"").decode("utf-8", "replace")
    return status, text(output), text(errors)


def run_ok(argv, limit, what, **options):
    status, output, errors = run(argv, limit, **options)
    if status != 0:
        sys.stderr.write(errors)
        fail(what)
    return output


def reason(text):
    """A program's own words on why it failed: its error lines (OpenSSL's
    without their codes), or its last line."""
    lines = [re.sub(r"^[0-9A-F]+:error:[0-9A-F]+:", "", line.strip()) for line in text.splitlines() if line.strip()]
    errors = [line for line in lines if re.search("fail|error|unable", line, re.I)]
    chosen = []
    for line in errors or lines[-1:]:
        if line not in chosen:
            chosen.append(line)
    return "; ".join(chosen)


def canonical(path):
    return os.path.realpath(os.path.abspath(path))


def readable(path):
    return os.path.isfile(path) and os.access(path, os.R_OK)


def remove(path):
    if os.path.isdir(path) and not os.path.islink(path):
        shutil.rmtree(path)
    elif os.path.lexists(path):
        os.unlink(path)


def move(source, target, record):
    """SOURCE to TARGET, and its name added to RECORD, with no signal in
    between; the test hook, if any, is told."""
    blocked = signal.pthread_sigmask(signal.SIG_BLOCK, SIGNALS)
    try:
        os.rename(source, target)
        record.append(os.path.basename(target))
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, blocked)
    hook = os.environ.get(HOOK)
    if hook:
        run([hook, source, target], 60)


def restore_out():
    """Takes out of OUT what this run moved there and puts the earlier
    release back."""
    for name in g_placed:
        remove(os.path.join(g_out, name))
    del g_placed[:]
    for name in g_set_aside:
        old = os.path.join(g_handover, "old", name)
        if os.path.lexists(old):
            move(old, os.path.join(g_out, name), [])
    del g_set_aside[:]


def cleanup():
    global g_closing
    g_closing = True
    if g_proc is not None:
        end_group(g_proc)
    if not g_finished and g_handover:
        restore_out()
    for folder in (g_work, g_handover):
        if folder and os.path.isdir(folder):
            shutil.rmtree(folder, ignore_errors=True)


# ---- start: the password off the environment ---------------------------------

def start():
    """Takes the password out of the environment: runs this script again
    without it, the password on a pipe. Returns the arguments left."""
    global g_pass
    args = sys.argv[1:]
    if args and args[0].startswith(PASS_FD_OPTION):
        fd = int(args[0][len(PASS_FD_OPTION):])
        chunks = []
        while True:
            chunk = os.read(fd, 65536)
            if not chunk:
                break
            chunks.append(chunk)
        os.close(fd)
        g_pass = b"".join(chunks)
        return args[1:]
    if b"KST_SIGN_PASS" in os.environb:
        secret = os.environb[b"KST_SIGN_PASS"]
        if len(secret) > 60000:
            print("release: KST_SIGN_PASS is too long", file=sys.stderr)
            sys.exit(1)
        env = dict(os.environb)
        del env[b"KST_SIGN_PASS"]
        read_end, write_end = os.pipe()
        os.write(write_end, secret)
        os.close(write_end)
        os.set_inheritable(read_end, True)
        script = os.path.abspath(sys.argv[0])
        os.execve(sys.executable, [sys.executable, script, PASS_FD_OPTION + str(read_end)] + args, env)
    return args


def usage(stream):
    stream.write(__doc__[__doc__.index("usage:"):])


# ---- the release ---------------------------------------------------------------

def release(args):
    global g_env, g_build_env, g_work, g_handover, g_out, g_finished

    unsigned = False
    given = []
    options = True
    for arg in args:
        if options and arg in ("-h", "--help"):
            usage(sys.stdout)
            return 0
        if options and arg == "--unsigned":
            unsigned = True
        elif options and arg == "--":
            options = False
        elif options and arg.startswith("-") and arg != "-":
            usage(sys.stderr)
            fail("unknown option %s" % arg)
        else:
            given.append(arg)
    if len(given) > 1:
        usage(sys.stderr)
        fail("one OUT at most, not %d" % len(given))

    unknown = sorted(name for name in os.environ if name.startswith("KST_SIGN") and name not in KNOWN_SETTINGS)
    if unknown:
        fail("unknown signing setting %s: nothing was built (known: %s)" % (", ".join(unknown), ", ".join(KNOWN_SETTINGS)))
    setting = lambda name: os.environ.get(name, "")

    g_env = dict(os.environ)
    here = os.getcwd()
    script_root = canonical(os.path.join(os.path.dirname(os.path.abspath(sys.argv[0])), ".."))
    out = canonical(os.path.join(here, given[0] if given else "dist"))
    g_out = out
    paths = {}
    for name in ("KST_SIGN_CERT", "KST_SIGN_KEY", "KST_SIGN_PKCS12", "KST_SIGN_CHAIN", "KST_SIGN_CAFILE",
                 "KST_SIGN_TSA_CAFILE", "KST_SIGN_PKCS11_MODULE"):
        value = setting(name)
        paths[name] = value if value == "" or value.startswith("pkcs11:") else os.path.join(here, value)
    crl_files = [os.path.join(here, item) for item in setting("KST_SIGN_CRL").split()]
    tsa_urls = setting("KST_SIGN_TSA").split()

    # Git with no configuration or attributes of the packager's.
    tmp_base = canonical(os.environ.get("TMPDIR") or "/tmp")
    status, output, _ = run(["git", "-C", script_root, "rev-parse", "--verify", "HEAD"], 60, env=git_env(None))
    if status != 0:
        fail("not a git checkout with a commit")
    commit = output.strip()
    g_work = work = canonical(tempfile.mkdtemp(prefix="kst-release.", dir=tmp_base))
    home = os.path.join(work, "home")
    build_tmp = os.path.join(work, "tmp")
    os.mkdir(home)
    os.mkdir(build_tmp)
    g_build_env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C", "TZ": "UTC0",
                   "HOME": home, "TMPDIR": build_tmp}
    genv = git_env(home)
    say("from commit " + commit)
    status, output, _ = run(["git", "-C", script_root, "-c", "core.fsmonitor=false", "status", "--porcelain",
                             "--untracked-files=no"], 300, env=genv)
    if output.strip():
        say("note: uncommitted changes in the work tree are not part of the release")

    # The commit's bytes, whatever the packager's git settings say: taken from
    # an empty repository that borrows this one's objects, with no
    # configuration or attributes but its own (line ends as committed).
    src = os.path.join(work, "src")
    os.mkdir(src)
    snapshot = os.path.join(work, "git")
    objects = run_ok(["git", "-C", script_root, "rev-parse", "--path-format=absolute", "--git-path", "objects"], 60,
                     "cannot find the repository's objects", env=genv).strip()
    objects = canonical(objects if os.path.isabs(objects) else os.path.join(script_root, objects))
    snap = ["git", "--git-dir=" + snapshot, "-c", "core.autocrlf=false", "-c", "core.eol=lf",
            "-c", "core.attributesFile=/dev/null"]
    run_ok(snap + ["init", "-q", "--bare", "--template=", snapshot], 60, "cannot make a scratch repository", env=genv)
    os.makedirs(os.path.join(snapshot, "objects", "info"), exist_ok=True)
    with open(os.path.join(snapshot, "objects", "info", "alternates"), "w") as alternates:
        alternates.write(objects + "\n")
    tar = os.path.join(work, "src.tar")
    run_ok(snap + ["archive", "--format=tar", commit], 600, "cannot take the commit's files", env=genv, stdout=tar)
    run_ok(["tar", "-x", "-f", tar, "-C", src], 600, "cannot unpack the commit's files", env=g_build_env)
    os.unlink(tar)
    # The commit's time, read from the commit itself: no log format that a
    # setting (a signature shown, say) could add to.
    raw = run_ok(snap + ["cat-file", "commit", commit], 60, "cannot read the commit", env=genv)
    match = re.search(r"^committer .* (-?[0-9]+) [-+][0-9]{4}$", raw, re.M)
    if not match:
        fail("cannot read the commit's time")
    epoch = int(match.group(1))

    version = None
    with open(os.path.join(src, "CMakeLists.txt"), encoding="utf-8", errors="replace") as lists:
        for line in lists:
            found = re.match(r"^project\(KSTGATE VERSION ([0-9][0-9.]*) .*", line.rstrip("\n"))
            if found:
                version = found.group(1)
                break
    if not version:
        fail("no version in the commit's CMakeLists.txt")
    name = "KSTGATE-" + version
    checker = os.path.join(src, "tools", "check-exe.sh")
    if not (os.path.isfile(checker) and os.access(checker, os.X_OK)):
        fail("the commit has no tools/check-exe.sh")

    # The release's files in OUT. An earlier release of this version stays
    # there until this one has passed every step; at the hand-over its
    # SHA256SUMS goes first and this one's last: a release without it was
    # cut short.
    names = [name + "-win32.zip", name + "-win64.zip", name + "-win32", name + "-win64", "BUILDINFO",
             "SHA256SUMS.sig", "SHA256SUMS.tsr", "SHA256SUMS"]
    # OUT holds one release. Another version's files are the packager's to
    # move: this one's would replace its shared files (BUILDINFO, SHA256SUMS)
    # and leave sums beside zips they do not list.
    others = []
    for pattern in ("KSTGATE-[0-9]*-win32.zip", "KSTGATE-[0-9]*-win64.zip", "KSTGATE-[0-9]*-win32", "KSTGATE-[0-9]*-win64"):
        for path in sorted(glob.glob(os.path.join(glob.escape(out), pattern))):
            if os.path.exists(path) and os.path.basename(path) not in names:
                others.append(os.path.basename(path))
    if os.path.isfile(os.path.join(out, "BUILDINFO")):
        with open(os.path.join(out, "BUILDINFO"), encoding="utf-8", errors="replace") as record:
            if ("version: " + version) not in record.read().split("\n"):
                others.append("BUILDINFO")
    if os.path.isfile(os.path.join(out, "SHA256SUMS")):
        with open(os.path.join(out, "SHA256SUMS"), encoding="utf-8", errors="replace") as sums:
            listed = [line for line in sums.read().split("\n") if re.search(r" \*?KSTGATE-", line)]
        ours = re.compile(r" \*?" + re.escape(name) + r"-win(32|64)[./]")
        if any(not ours.search(line) for line in listed):
            others.append("SHA256SUMS")
    if others:
        fail("%s holds another release than %s: %s; nothing was removed: move them away, or give another OUT"
             % (out, name, " ".join(others)))

    # ---- signing set-up, checked before anything is built --------------------
    cert, key, pkcs12, module = (paths["KST_SIGN_CERT"], paths["KST_SIGN_KEY"], paths["KST_SIGN_PKCS12"],
                                 paths["KST_SIGN_PKCS11_MODULE"])
    has_pass = bool(g_pass)
    is_uri = lambda value: value.startswith("pkcs11:")
    sign = token = False
    if module:
        if pkcs12:
            fail("set either KST_SIGN_PKCS12 or KST_SIGN_PKCS11_MODULE, not both")
        if not is_uri(key):
            fail("signing: with KST_SIGN_PKCS11_MODULE, KST_SIGN_KEY is the key's pkcs11: URI")
        if not cert:
            fail("signing: KST_SIGN_KEY is set but KST_SIGN_CERT is not")
        if not readable(module):
            fail("signing: cannot read the PKCS#11 module " + module)
        if not is_uri(cert) and not readable(cert):
            fail("signing: cannot read the certificate " + cert)
        if g_pass is None:
            fail("signing: a key on a token needs the token's PIN in KST_SIGN_PASS")
        sign = token = True
    elif pkcs12:
        if cert or key:
            fail("set either KST_SIGN_PKCS12 or KST_SIGN_CERT with KST_SIGN_KEY, not both")
        if not readable(pkcs12):
            fail("signing: cannot read the PKCS#12 file " + pkcs12)
        if g_pass is None:
            fail("signing: KST_SIGN_PKCS12 needs its password in KST_SIGN_PASS")
        sign = True
    elif cert or key:
        if not cert:
            fail("signing: KST_SIGN_KEY is set but KST_SIGN_CERT is not")
        if not key:
            fail("signing: KST_SIGN_CERT is set but KST_SIGN_KEY is not")
        if is_uri(key) or is_uri(cert):
            fail("signing: a pkcs11: URI needs the token's module in KST_SIGN_PKCS11_MODULE")
        if not readable(cert):
            fail("signing: cannot read the certificate " + cert)
        if not readable(key):
            fail("signing: cannot read the private key " + key)
        sign = True
    if not sign and tsa_urls:
        fail("KST_SIGN_TSA is set, but nothing is signed: no KST_SIGN_CERT, KST_SIGN_PKCS12 or token")
    # A run without signing settings (a misspelt name, a sudo that drops the
    # environment) does not replace a signed release with an unsigned one
    # unless told so.
    signed_before = [item for item in ("SHA256SUMS.sig", "SHA256SUMS.tsr", name + "-win32", name + "-win64")
                     if os.path.lexists(os.path.join(out, item))]
    if not sign and signed_before and not unsigned:
        fail("%s holds a signed release of %s (%s), and no signing settings (KST_SIGN_*) are given: give them, "
             "or --unsigned to replace it with an unsigned release" % (out, name, " ".join(signed_before)))

    os.makedirs(out, exist_ok=True)
    ssl_env = g_env
    limit_local = 120
    if sign:
        if not shutil.which("osslsigncode", path=g_env.get("PATH")):
            fail("signing: osslsigncode is not installed")
        keys = os.path.join(work, "keys")
        os.mkdir(keys, 0o700)
        if token:
            # The key stays on the token: osslsigncode and openssl reach it
            # through OpenSSL's PKCS#11 engine, which loads the module; the
            # PIN reaches the engine through the programs' password pipe, not
            # through the URI.
            output = run_ok(["openssl", "version", "-e"], limit_local, "signing: cannot run openssl")
            match = re.search(r'^ENGINESDIR: "(.*)"$', output, re.M)
            engine = (match.group(1) if match else "") + "/pkcs11.so"
            if not readable(engine):
                fail("signing: OpenSSL has no PKCS#11 engine (%s; Debian: libengine-pkcs11-openssl)" % engine)
            ssl_env = dict(g_env, PKCS11_MODULE_PATH=module)
            if is_uri(cert):
                if not shutil.which("p11tool", path=g_env.get("PATH")):
                    fail("signing: reading the certificate from the token needs p11tool (Debian: gnutls-bin)")
                certfile = os.path.join(keys, "cert.pem")
                status, _, errors = run(["p11tool", "--provider", module, "--export", cert], limit_local,
                                        stdout=certfile)
                if status != 0:
                    sys.stderr.write(errors)
                    fail("signing: cannot read the certificate %s from the token%s"
                         % (cert, " (no answer within %d s)" % limit_local if status == 124 else ""))
            else:
                certfile = cert
            status, certpub, _ = run(["openssl", "x509", "-in", certfile, "-noout", "-pubkey"], limit_local)
            if status != 0:
                fail("signing: %s is not a PEM certificate" % cert)
            # One log-in before the build: a wrong PIN stops the release
            # here, after one failed try (a token locks after a few), not at
            # every exe.
            status, keypub, errors = run(["openssl", "pkey", "-engine", "pkcs11", "-inform", "engine", "-in", key,
                                          "-passin", "fd:" + PASS_FD, "-pubout"], limit_local, env=ssl_env,
                                         password=True)
            if status != 0:
                sys.stderr.write("".join(line + "\n" for line in errors.splitlines()
                                         if re.search("PIN|Login|not found", line)))
                if status == 124:
                    fail("signing: the token gave no answer within %d s" % limit_local)
                fail("signing: cannot use the key %s: a wrong PIN (KST_SIGN_PASS), no such key, or no such token" % key)
            if certpub != keypub:
                fail("signing: the key %s does not belong to the certificate %s" % (key, cert))
            signargs = ["-pkcs11engine", engine, "-pkcs11module", module, "-certs", certfile, "-key", key,
                        "-readpass", "/dev/fd/" + PASS_FD]
            cmsargs = ["-engine", "pkcs11", "-keyform", "engine", "-signer", certfile, "-inkey", key,
                       "-passin", "fd:" + PASS_FD]
        elif pkcs12:
            # Older PKCS#12 files use ciphers that OpenSSL 3 keeps in its
            # legacy provider.
            legacy = []
            certfile = os.path.join(keys, "cert.pem")
            opened = ["openssl", "pkcs12", "-in", pkcs12, "-passin", "fd:" + PASS_FD, "-nokeys", "-clcerts",
                      "-out", certfile]
            if run(opened, limit_local, password=True)[0] != 0:
                legacy = ["-provider", "legacy", "-provider", "default"]
                if run(opened[:2] + ["-legacy"] + opened[2:], limit_local, password=True)[0] != 0:
                    fail("signing: cannot open %s: wrong password (KST_SIGN_PASS), or not a PKCS#12 file" % pkcs12)
            signargs = ["-pkcs12", pkcs12, "-readpass", "/dev/fd/" + PASS_FD]
            cmsargs = legacy + ["-signer", certfile, "-inkey", pkcs12, "-passin", "fd:" + PASS_FD]
        else:
            status, certpub, _ = run(["openssl", "x509", "-in", cert, "-noout", "-pubkey"], limit_local)
            if status != 0:
                fail("signing: %s is not a PEM certificate" % cert)
            passin = ["-passin", "fd:" + PASS_FD] if has_pass else []
            status, keypub, _ = run(["openssl", "pkey", "-in", key] + passin + ["-pubout"], limit_local, password=True)
            if status != 0:
                fail("signing: cannot open the private key %s: not a PEM key, or a wrong password (KST_SIGN_PASS)" % key)
            if certpub != keypub:
                fail("signing: the private key %s does not belong to the certificate %s" % (key, cert))
            signargs = ["-certs", cert, "-key", key] + (["-readpass", "/dev/fd/" + PASS_FD] if has_pass else [])
            certfile = cert
            cmsargs = ["-signer", certfile, "-inkey", key] + passin

        # The chain: the intermediates go into every signature, so that a
        # verifier needs the root alone; every verification here starts from
        # the root.
        untrusted = []
        chain = paths["KST_SIGN_CHAIN"]
        if chain:
            if not readable(chain):
                fail("signing: cannot read KST_SIGN_CHAIN " + chain)
            if run(["openssl", "x509", "-in", chain, "-noout"], limit_local)[0] != 0:
                fail("signing: KST_SIGN_CHAIN %s holds no PEM certificate" % chain)
            signargs += ["-ac", chain]
            cmsargs += ["-certfile", chain]
            untrusted = ["-untrusted", chain]
        if paths["KST_SIGN_CAFILE"]:
            cafile = paths["KST_SIGN_CAFILE"]
        else:
            hashes = [run(["openssl", "x509", "-in", certfile, "-noout", option], limit_local)[1]
                      for option in ("-subject_hash", "-issuer_hash")]
            if hashes[0] != hashes[1]:
                fail("signing: the certificate is issued by a CA: name the root to verify against in KST_SIGN_CAFILE")
            cafile = certfile
        if not readable(cafile):
            fail("signing: cannot read KST_SIGN_CAFILE " + cafile)
        # Revocation: against the packager's CRLs (one file of them all),
        # never fetched. osslsigncode 2.6 and later fetch the CRLs that the
        # certificates name, and from 2.8 on a failed fetch fails the
        # verification, which an offline signing host always meets: with CRLs
        # given they tell it not to fetch (-ignore-cdp), without them to skip
        # revocation (-ignore-crl). Older ones fetch nothing.
        _, help_out, help_err = run(["osslsigncode", "verify", "--help"], limit_local)
        offers = lambda option: ("[ %s ]" % option) in help_out + help_err
        crlcheck = []
        anchor = cafile
        verifyargs = ["-CAfile", cafile]
        if crl_files:
            crls = os.path.join(keys, "crls.pem")
            with open(crls, "ab") as joined:
                for path in crl_files:
                    if not readable(path) or run(["openssl", "crl", "-in", path, "-noout"], limit_local)[0] != 0:
                        fail("signing: KST_SIGN_CRL %s is no PEM CRL" % path)
                    with open(path, "rb") as part:
                        joined.write(part.read())
            crlcheck = ["-crl_check"]
            anchor = os.path.join(keys, "anchor.pem")
            concatenate(anchor, cafile, crls)
            verifyargs += ["-CRLfile", crls, "-TSA-CRLfile", crls]
            if offers("-ignore-cdp"):
                verifyargs.append("-ignore-cdp")
        else:
            if offers("-ignore-crl"):
                verifyargs.append("-ignore-crl")
            warn("warning: revocation was not checked: give the CRLs of the signing certificate's CA and of the "
                 "timestamp authority's CA in KST_SIGN_CRL (PEM files) to check it offline")
        status, output, errors = run(["openssl", "verify", "-CAfile", anchor] + untrusted + crlcheck + [certfile],
                                     limit_local)
        if status != 0:
            sys.stderr.write(output + errors)
            fail("signing: the certificate does not verify against KST_SIGN_CAFILE %s (with KST_SIGN_CHAIN and "
                 "KST_SIGN_CRL, if set)" % cafile)

        if tsa_urls:
            tsa_cafile = paths["KST_SIGN_TSA_CAFILE"] or "/etc/ssl/certs/ca-certificates.crt"
            if not readable(tsa_cafile):
                fail("signing: cannot read KST_SIGN_TSA_CAFILE " + tsa_cafile)
            for url in tsa_urls:
                if not url.startswith(("http://", "https://")):
                    fail("KST_SIGN_TSA: %s is no http:// or https:// URL" % url)
            verifyargs += ["-TSA-CAfile", tsa_cafile]
            # OpenSSL takes the CRLs from the anchor's file.
            tsa_anchor = tsa_cafile
            if crl_files:
                tsa_anchor = os.path.join(keys, "tsa-anchor.pem")
                concatenate(tsa_anchor, tsa_cafile, crls)
        else:
            warn("warning: no timestamp authority (KST_SIGN_TSA): the signatures stop verifying when the "
                 "certificate expires")

    # ---- timestamps ------------------------------------------------------------
    # Each URL gets one bounded attempt per file: one that stalls, refuses or
    # gives a timestamp that does not verify is passed over for the next, and
    # goes to the end of the list for the files after, so that a dead
    # authority costs one time limit, not one per file.
    limit_text = os.environ.get("KST_SIGN_TSA_TIMEOUT", "") or "60"
    if not re.fullmatch(r"[0-9]+", limit_text) or int(limit_text) == 0:
        fail("KST_SIGN_TSA_TIMEOUT: %s is no number of seconds" % limit_text)
    tsa_limit = int(limit_text)
    warned = set()

    def stamped(what, attempt):
        failures = []
        for i, url in enumerate(list(tsa_urls)):
            why = attempt(url)
            if why is None:
                tsa_urls[:] = tsa_urls[i:] + tsa_urls[:i]
                return True
            failures.append("%s: %s" % (url, why or "failed"))
            if url not in warned:
                warned.add(url)
                warn("warning: timestamp authority %s passed over (%s): %s" % (url, what, why or "failed"))
        warn("%s: no timestamp authority answered with a timestamp that verifies:" % what)
        sys.stderr.write("".join("  %s\n" % failure for failure in failures))
        return False

    def why_failed(status, output):
        if status in (124, 137, -9):
            return "no answer within %d s" % tsa_limit
        lines = [line for line in output.splitlines() if line.strip()]
        return "failed (%s)" % (lines[-1] if lines else "status %d" % status)

    def timestamp(data, token_path):
        query = os.path.join(work, "query.tsq")
        status, output, errors = run(["openssl", "ts", "-query", "-data", data, "-sha256", "-cert", "-out", query],
                                     limit_local)
        if status != 0:
            sys.stderr.write(output + errors)
            return False

        def token_from(url):
            status, output, errors = run([sys.executable, "-I", "-c", FETCH, url, query, token_path], tsa_limit)
            if status != 0:
                return why_failed(status, output + errors)
            status, output, errors = run(["openssl", "ts", "-verify", "-data", data, "-in", token_path,
                                          "-CAfile", tsa_anchor] + crlcheck, limit_local)
            if status != 0:
                return "the timestamp does not verify against KST_SIGN_TSA_CAFILE %s%s: %s" % (
                    tsa_cafile, " with KST_SIGN_CRL" if crlcheck else "", reason(output + errors))
            return None
        return stamped(os.path.basename(data), token_from)

    def verify_exe(exe, with_stamp=False):
        """(True, "") when EXE's signature (and its timestamp) verify,
        revocation as set up above; else (False, osslsigncode's words).
        (osslsigncode reports a failed check of the timestamp's CRLs and still
        says yes.)"""
        status, output, errors = run(["osslsigncode", "verify", "-in", exe] + verifyargs, 120)
        said = output + errors
        good = status == 0 and "CRL verification: failed" not in said
        if good and with_stamp:
            good = re.search(r"^Timestamp Server Signature verification: ok", said, re.M) is not None
        return good, said

    # One timestamp before the build: authorities that do not answer, or
    # that the anchor does not vouch for, stop the release here.
    if tsa_urls:
        probe = os.path.join(work, "probe")
        with open(probe, "w") as data:
            data.write(commit + "\n")
        if not timestamp(probe, os.path.join(work, "probe.tsr")):
            fail("timestamping failed (KST_SIGN_TSA)")

    # ---- build -----------------------------------------------------------------
    say(name)
    tools = [tool for tool in ("kstscan", "kstcheck") if os.path.isfile(os.path.join(src, "tools", tool, "CMakeLists.txt"))]
    dist = os.path.join(work, "dist")
    stage = os.path.join(work, "stage")
    os.mkdir(dist)
    os.mkdir(stage)
    arches = (("win32", "mingw-w64-i686.cmake", "i686-w64-mingw32-objdump"),
              ("win64", "mingw-w64-x86_64.cmake", "x86_64-w64-mingw32-objdump"))
    for arch, toolchain, objdump in arches:
        build = os.path.join(work, "build-" + arch)
        say("building " + arch)
        status, output, errors = run(["cmake", "-G", "Unix Makefiles", "-S", src, "-B", build,
                                      "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(src, "cmake", toolchain),
                                      "-DCMAKE_BUILD_TYPE=Release", "-DKST_RELEASE=ON"], 1800, env=g_build_env)
        if status != 0:
            sys.stderr.write(output + errors)
            fail("%s: configure failed" % arch)
        status, output, errors = run(["cmake", "--build", build, "-j%d" % (os.cpu_count() or 1), "--target", "KSTGATE"]
                                     + tools, 3600, env=g_build_env)
        if status != 0:
            sys.stderr.write("".join(line + "\n" for line in (output + errors).splitlines()[-40:]))
            fail("%s: build failed" % arch)

        files = os.path.join(stage, name + "-" + arch)
        os.makedirs(files)
        shutil.copy(os.path.join(build, "src", "KSTGATE.exe"), files)
        for tool in tools:
            shutil.copy(os.path.join(build, "tools", tool, tool + ".exe"), files)
        exes = ["KSTGATE.exe"] + [tool + ".exe" for tool in tools]

        status, output, errors = run([checker, os.path.join(files, "KSTGATE.exe"), version], 600, env=g_build_env)
        if status != 0:
            sys.stderr.write(errors)
            fail("%s: KSTGATE.exe fails the commit's tools/check-exe.sh" % arch)
        for exe in exes:
            headers = run_ok([objdump, "-h", os.path.join(files, exe)], 120, "%s: cannot read %s" % (arch, exe),
                             env=g_build_env)
            if " .debug" in headers:
                fail("%s: %s carries debug information" % (arch, exe))
            # A build path is one in this run's own work folder: the
            # checkout's path may be a name the exes hold anyway ("/src").
            with open(os.path.join(files, exe), "rb") as data:
                if work.encode() in data.read():
                    fail("%s: %s holds a build path" % (arch, exe))

        if sign:
            sigs = os.path.join(dist, name + "-" + arch)
            os.makedirs(sigs, exist_ok=True)
            for exe in exes:
                # Signed without a timestamp (the signer's own client would
                # wait without end on an authority that stalls), then stamped
                # URL by URL.
                path = os.path.join(files, exe)
                unstamped = path + ".unstamped"
                signed = path + ".signed"
                status, output, errors = run(["osslsigncode", "sign"] + signargs + ["-h", "sha256", "-n", "KSTGATE",
                                              "-in", path, "-out", unstamped], 300, env=ssl_env, password=True)
                if status != 0:
                    sys.stderr.write(output + errors)
                    fail("%s: signing %s failed" % (arch, exe))
                good, said = verify_exe(unstamped)
                if not good:
                    sys.stderr.write(said)
                    fail("%s: the signed %s does not verify" % (arch, exe))
                if not tsa_urls:
                    os.rename(unstamped, signed)
                else:
                    def exe_stamp_from(url):
                        remove(signed)
                        status, output, errors = run(["osslsigncode", "add", "-ts", url, "-in", unstamped,
                                                      "-out", signed], tsa_limit)
                        if status != 0:
                            return why_failed(status, output + errors)
                        good, said = verify_exe(signed, True)
                        if not good:
                            return "the timestamped signature does not verify: " + reason(said)
                        return None
                    if not stamped("%s %s" % (arch, exe), exe_stamp_from):
                        fail("%s: the signed %s has no timestamp that verifies" % (arch, exe))
                    os.unlink(unstamped)
                os.rename(signed, path)
                status, output, errors = run(["osslsigncode", "extract-signature", "-pem", "-in", path, "-out",
                                              os.path.join(sigs, exe + ".sig.pem")], 120)
                if status != 0:
                    sys.stderr.write(output + errors)
                    fail("%s: the signature of %s cannot be extracted" % (arch, exe))
            say("%s: signed and verified %s" % (arch, " ".join(exes)))
        shutil.copy(os.path.join(src, "README.md"), os.path.join(files, "README.md"))
        make_zip(os.path.join(dist, "%s-%s.zip" % (name, arch)), files, epoch, exes + ["README.md"])
        say("%s: %s-%s.zip (%s README.md)" % (arch, name, arch, " ".join(exes)))

    # ---- the build record --------------------------------------------------------
    # Plain "key: value" lines, sorted, so that two records compare with diff.
    # A program is recorded as where it really is and the Debian package (and
    # its version) that installed it.
    record = []
    info = lambda key, value: record.append("%s: %s" % (key, value))
    query = lambda argv: run_ok(argv, 120, "build record: %s failed" % argv[0], env=g_build_env)

    def package_of(path):
        owners = ""
        for candidate in (path, path[4:] if path.startswith("/usr/") else path):
            status, output, _ = run(["dpkg-query", "-S", "--", candidate], 120, env=g_build_env)
            lines = [line for line in output.splitlines() if not line.startswith("diversion ") and ": " in line]
            if lines:
                owners = lines[0].split(": ", 1)[0]
                break
        if not owners:
            return "no Debian package"
        result = []
        for pkg in owners.replace(",", " ").split():
            result.append("%s %s" % (pkg, query(["dpkg-query", "-W", "-f=${Version}", pkg])))
        return ", ".join(result)

    def program(key, prog):
        path = prog if "/" in prog else shutil.which(prog, path=g_build_env["PATH"]) if prog else None
        if not path:
            fail("build record: %s not found" % prog)
        path = os.path.realpath(path)
        info(key, "%s (%s)" % (path, package_of(path)))

    def compiler_of(build, lang):
        for path in sorted(glob.glob(os.path.join(glob.escape(build), "CMakeFiles", "*", "CMake%sCompiler.cmake" % lang))):
            with open(path) as lines:
                for line in lines:
                    match = re.match(r'^set\(CMAKE_%s_COMPILER "(.*)"\)$' % lang, line.rstrip("\n"))
                    if match:
                        return match.group(1)
        return ""

    def cache_of(build, var):
        with open(os.path.join(build, "CMakeCache.txt")) as lines:
            for line in lines:
                match = re.match(r"^%s:[A-Z]*=(.*)$" % re.escape(var), line.rstrip("\n"))
                if match:
                    return match.group(1)
        return ""

    info("commit", commit)
    info("commit-time", time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(epoch)))
    info("source-date-epoch", epoch)
    info("version", version)
    info("build-type", "Release")
    program("cmake", "cmake")
    program("sha256sum", "sha256sum")
    program("python", os.path.realpath(sys.executable))
    info("python-version", sys.version.split()[0])
    library = ""
    with open("/proc/self/maps") as maps:  # the zlib library this Python has loaded, if not built in
        for line in maps:
            fields = line.split()
            if len(fields) >= 6 and os.path.basename(fields[5]).startswith("libz.so"):
                library = os.path.realpath(fields[5])
                break
    if library:
        program("zlib", library)
    else:
        info("zlib", "built into Python")
    info("zlib-version", zlib.ZLIB_RUNTIME_VERSION)
    if sign:
        program("osslsigncode", "osslsigncode")
        status, output, errors = run(["osslsigncode", "--version"], 60)
        first = ((output + errors).splitlines() or [""])[0]
        match = re.match(r"^osslsigncode ([^ ,]*)", first)
        info("osslsigncode-version", match.group(1) if match else "")
        program("openssl", "openssl")
        if token:
            program("pkcs11-engine", engine)
            program("pkcs11-module", module)

    for arch, _, _ in arches:
        build = os.path.join(work, "build-" + arch)
        cxx = compiler_of(build, "CXX")
        if not cxx:
            fail("build record: %s: no C++ compiler in the build directory" % arch)
        program(arch + ".cc", compiler_of(build, "C"))
        program(arch + ".cxx", cxx)
        program(arch + ".rc", compiler_of(build, "RC"))
        program(arch + ".as", query([cxx, "-print-prog-name=as"]).strip())
        program(arch + ".ld", query([cxx, "-print-prog-name=ld"]).strip())
        program(arch + ".ar", cache_of(build, "CMAKE_AR"))
        program(arch + ".ranlib", cache_of(build, "CMAKE_RANLIB"))
        # What the compiler links into every exe: the C++ and compiler
        # runtimes, the MinGW-w64 start-up code and thread library; and the
        # Windows headers.
        for key, library in (("libstdc++", "libstdc++.a"), ("libgcc", "libgcc.a"), ("crt", "crt2.o"),
                             ("winpthread", "libwinpthread.a")):
            program(arch + "." + key, query([cxx, "-print-file-name=" + library]).strip())
        status, output, errors = run([cxx, "-x", "c++", "-M", "-"], 120, env=g_build_env,
                                     data=b"#include <windows.h>\n")
        headers = [item for item in re.split(r"[\s\\]+", output) if item.endswith("/windows.h")]
        if status != 0 or not headers:
            fail("build record: %s: the compiler finds no windows.h" % arch)
        program(arch + ".headers", headers[0])
        record.extend(flags_of(build, src, arch))

    buildinfo = "".join(line + "\n" for line in sorted(record, key=lambda line: line.encode()))
    if work in buildinfo:
        fail("BUILDINFO holds a build path")
    with open(os.path.join(dist, "BUILDINFO"), "w") as out_file:
        out_file.write(buildinfo)

    # ---- sums, and their signature -------------------------------------------------
    listed = []
    for folder, _, files in os.walk(dist):
        for file_name in files:
            listed.append(os.path.relpath(os.path.join(folder, file_name), dist))
    listed.sort(key=lambda path: path.encode())
    sums = os.path.join(dist, "SHA256SUMS")
    run_ok(["sha256sum", "--"] + listed, 600, "cannot sum the release's files", env=g_build_env, cwd=dist,
           stdout=os.path.join(work, "SHA256SUMS"))
    os.rename(os.path.join(work, "SHA256SUMS"), sums)
    if sign:
        status, output, errors = run(["openssl", "cms", "-sign", "-binary", "-md", "sha256", "-in", sums] + cmsargs
                                     + ["-outform", "PEM", "-out", os.path.join(dist, "SHA256SUMS.sig")], 300,
                                     env=ssl_env, password=True)
        if status != 0:
            sys.stderr.write(output + errors)
            fail("signing SHA256SUMS failed")
        status, output, errors = run(["openssl", "cms", "-verify", "-binary", "-purpose", "any"] + crlcheck
                                     + ["-content", sums, "-CAfile", anchor, "-in", os.path.join(dist, "SHA256SUMS.sig"),
                                        "-inform", "PEM", "-out", "/dev/null"], limit_local)
        if status != 0:
            sys.stderr.write(output + errors)
            fail("the signature of SHA256SUMS does not verify")
        say("signed and verified SHA256SUMS")
        if tsa_urls:
            # A third party's word on when the sums, and so every file they
            # list, existed: a verifier judges the signature at that time,
            # after the certificate has expired too.
            if not timestamp(sums, os.path.join(work, "SHA256SUMS.tsr")):
                fail("timestamping SHA256SUMS failed")
            os.rename(os.path.join(work, "SHA256SUMS.tsr"), os.path.join(dist, "SHA256SUMS.tsr"))
            say("timestamped SHA256SUMS")

    # ---- hand-over -------------------------------------------------------------------
    # Every step has succeeded. The release is copied next to OUT's files
    # first (the same file system); the earlier release's files are moved
    # aside there, its SHA256SUMS first, then each new file is renamed into
    # place, SHA256SUMS last. An interruption on the way puts the earlier
    # release back.
    for entry in sorted(os.listdir(dist)):
        if entry not in names:
            fail("%s is not one of the release's files: it would be left behind in OUT" % entry)
    g_handover = handover = tempfile.mkdtemp(prefix=".kst-release.", dir=out)
    os.mkdir(os.path.join(handover, "old"))
    shutil.copytree(dist, os.path.join(handover, "new"), symlinks=True)
    for entry in reversed(names):
        if os.path.lexists(os.path.join(out, entry)):
            move(os.path.join(out, entry), os.path.join(handover, "old", entry), g_set_aside)
    for entry in names:
        if os.path.lexists(os.path.join(handover, "new", entry)):
            move(os.path.join(handover, "new", entry), os.path.join(out, entry), g_placed)
    g_finished = True
    shutil.rmtree(handover, ignore_errors=True)
    g_handover = None
    say("done: " + out)
    with open(os.path.join(out, "SHA256SUMS")) as lines:
        sys.stdout.write("".join("  " + line for line in lines))
    return 0


FETCH = r"""
import sys
import urllib.request

url, query, token = sys.argv[1:4]
request = urllib.request.Request(url, data=open(query, "rb").read(),
                                 headers={"Content-Type": "application/timestamp-query"})
# (No time limit of its own: the one around it ends a stall.)
with urllib.request.urlopen(request) as answer:
    reply = answer.read()
open(token, "wb").write(reply)
"""


def git_env(home):
    """Git with none of the packager's configuration, attributes or
    replacements, whatever the environment names."""
    env = {name: value for name, value in os.environ.items() if not name.startswith("GIT_")}
    env.update({"GIT_CONFIG_NOSYSTEM": "1", "GIT_CONFIG_GLOBAL": "/dev/null", "GIT_ATTR_NOSYSTEM": "1",
                "GIT_NO_REPLACE_OBJECTS": "1", "LC_ALL": "C", "GIT_TERMINAL_PROMPT": "0"})
    if home:
        env["HOME"] = home
        env["XDG_CONFIG_HOME"] = home
    return env


def concatenate(target, *parts):
    with open(target, "wb") as out_file:
        for part in parts:
            with open(part, "rb") as data:
                out_file.write(data.read())


def make_zip(path, folder, epoch, names):
    # Zip times are local times without a zone: the commit's time in UTC,
    # and never before the earliest time a zip can hold.
    stamp = max(time.gmtime(epoch)[:6], (1980, 1, 1, 0, 0, 0))
    with zipfile.ZipFile(path, "w") as archive:
        for entry_name in names:
            entry = zipfile.ZipInfo(entry_name, date_time=stamp)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.create_system = 0
            entry.external_attr = 0x20  # an ordinary file
            with open(os.path.join(folder, entry_name), "rb") as data:
                archive.writestr(entry, data.read(), compresslevel=9)


def flags_of(build, source, arch):
    """The flags of every target the release build compiled, as the build
    files hold them, with the build and source directories named, not given."""
    lines_out = []

    def clean(text, here):
        # Response files ("@file", relative to the target's directory) are
        # written out in place.
        def inline(match):
            path = os.path.join(here, match.group(1))
            return open(path).read().strip() if os.path.isfile(path) else match.group(0)
        text = re.sub(r"@(\S+)", inline, text)
        text = text.replace(build, "<build>").replace(source, "<source>")
        return " ".join(text.split())

    for flags in sorted(glob.glob(glob.escape(build) + "/**/CMakeFiles/*.dir/flags.make", recursive=True)):
        target_dir = os.path.dirname(flags)
        compiled = any(entry.endswith((".obj", ".res")) for _, _, entries in os.walk(target_dir) for entry in entries)
        if not compiled:
            continue
        here = os.path.dirname(os.path.dirname(target_dir))  # where its commands run
        target = os.path.relpath(here, build)
        target = (os.path.basename(target_dir)[:-4] if target == "."
                  else target + "/" + os.path.basename(target_dir)[:-4])
        key = arch + ".flags." + target
        with open(flags) as lines:
            for line in lines:
                match = re.match(r"^([A-Z_]+) = (.*)$", line.rstrip("\n"))
                if match and match.group(2).strip():
                    lines_out.append(key + "." + match.group(1) + ": " + clean(match.group(2), here))
        link = os.path.join(target_dir, "link.txt")
        if os.path.isfile(link):
            with open(link) as lines:
                steps = [clean(line, here) for line in lines if line.strip()]
            for number, step in enumerate(steps, 1):
                lines_out.append("%s.link.%d: %s" % (key, number, step))
    return lines_out


def main():
    args = start()
    for number in SIGNALS:
        signal.signal(number, on_signal)
    status = 1
    try:
        status = release(args)
    except Interrupted:
        pass
    except Failed:
        status = 1
    finally:
        cleanup()
    if g_signal is not None:
        if g_finished:
            warn("interrupted (%s) after the release was in place: %s" % (SIGNAL_NAMES[g_signal], g_out))
        else:
            warn("interrupted (%s): %s is as it was" % (SIGNAL_NAMES[g_signal], g_out or "OUT"))
        signal.signal(g_signal, signal.SIG_DFL)
        signal.pthread_sigmask(signal.SIG_UNBLOCK, SIGNALS)
        os.kill(os.getpid(), g_signal)
        return 128 + g_signal
    return status


if __name__ == "__main__":
    sys.exit(main())
