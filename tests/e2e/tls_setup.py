"""TLS for the end-to-end tests: a test CA and server certificates made with
openssl in a temporary folder, Dovecot serving them, and the CA trusted in a
Wine prefix's registry (never on the host).

    certs = make_certs()                      # certs.ca, certs.server, ...
    dovecot = Dovecot(users, tls=certs.server)
    dovecot.port (plain and STLS), dovecot.tls_port (TLS from the first byte)
    trust_ca(prefix, certs.ca)                # before the program starts
    pin = sha256_fingerprint(certs.server.cert)

Wine matches host names only against a certificate's DNS names: connect to
"localhost", not 127.0.0.1.
"""
import hashlib
import os
import shutil
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
HOST = "localhost"


class Pair:
    """A certificate (PEM) and its private key (PEM), by path."""

    def __init__(self, cert, key):
        self.cert, self.key = cert, key

    def __repr__(self):
        return "Pair(%r)" % self.cert


class Certs:
    """The files of one make_certs() call:
    ca        the test CA (self-signed)
    server    signed by ca for DNS localhost and IP 127.0.0.1, valid now
    expired   the same names, valid only in 2020
    wrong     valid now, but for DNS other.invalid only
    selfsigned  for localhost, signed by no CA (for pinning)"""

    def __init__(self, folder):
        self.dir = folder

    def cleanup(self):
        if not os.environ.get("TARVI_KEEP_E2E"):
            shutil.rmtree(self.dir, ignore_errors=True)


def _openssl(*args, cwd):
    r = subprocess.run(["openssl"] + list(args), cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if r.returncode != 0:
        raise AssertionError("openssl %s failed: %s" % (" ".join(args), r.stderr.decode(errors="replace")))
    return r.stdout


_CA_CONF = """
[ ca ]
default_ca = test_ca
[ test_ca ]
dir = {d}
database = {d}/index.txt
new_certs_dir = {d}/issued
serial = {d}/serial
default_md = sha256
policy = anything
copy_extensions = copy
unique_subject = no
[ anything ]
commonName = supplied
organizationName = optional
[ server_ext ]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
subjectAltName = @names
[ names ]
{names}
"""


def _server(folder, name, cn, names, start=None, end=None, days=365):
    """A key and a certificate signed by the CA of `folder`."""
    key = os.path.join(folder, name + ".key")
    csr = os.path.join(folder, name + ".csr")
    cert = os.path.join(folder, name + ".pem")
    conf = os.path.join(folder, name + ".cnf")
    alt = "\n".join("%s.%d = %s" % (kind, i + 1, value) for i, (kind, value) in enumerate(names))
    with open(conf, "w") as f:
        f.write(_CA_CONF.format(d=folder, names=alt))
    _openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr,
             "-subj", "/O=Tarvi Test/CN=%s" % cn, cwd=folder)
    args = ["ca", "-batch", "-config", conf, "-extensions", "server_ext", "-cert", "ca.pem",
            "-keyfile", "ca.key", "-in", csr, "-out", cert, "-notext"]
    if start:
        args += ["-startdate", start, "-enddate", end]
    else:
        args += ["-days", str(days)]
    _openssl(*args, cwd=folder)
    return Pair(cert, key)


def make_certs(folder=None):
    """Makes the test CA and the server certificates; returns a Certs."""
    folder = folder or tempfile.mkdtemp(prefix="tls-")
    os.chmod(folder, 0o755)
    os.makedirs(os.path.join(folder, "issued"), exist_ok=True)
    open(os.path.join(folder, "index.txt"), "w").close()
    with open(os.path.join(folder, "serial"), "w") as f:
        f.write("1000\n")
    certs = Certs(folder)
    _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
             "-days", "3650", "-subj", "/O=Tarvi Test/CN=Tarvi Test CA",
             "-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)
    certs.ca = Pair(os.path.join(folder, "ca.pem"), os.path.join(folder, "ca.key"))
    local = [("DNS", HOST), ("IP", "127.0.0.1")]
    certs.server = _server(folder, "server", HOST, local)
    certs.expired = _server(folder, "expired", HOST, local, "20200101000000Z", "20210101000000Z")
    certs.wrong = _server(folder, "wrong", "other.invalid", [("DNS", "other.invalid")])
    key = os.path.join(folder, "selfsigned.key")
    cert = os.path.join(folder, "selfsigned.pem")
    _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "365",
             "-subj", "/O=Tarvi Test/CN=%s" % HOST, "-addext", "subjectAltName=DNS:%s" % HOST, cwd=folder)
    certs.selfsigned = Pair(cert, key)
    # Dovecot's login processes run as nobody and read nothing themselves,
    # but a server started by hand (openssl s_server) may not be root.
    for name in os.listdir(folder):
        path = os.path.join(folder, name)
        if os.path.isfile(path):
            os.chmod(path, 0o644)
    return certs


def der(cert_path):
    """The DER bytes of a PEM certificate."""
    return _openssl("x509", "-in", cert_path, "-outform", "DER", cwd=os.path.dirname(cert_path))


def sha256_fingerprint(cert):
    """Lower-case hex SHA-256 of the DER certificate (a Pair or a path):
    the form the account's pin takes."""
    path = cert.cert if isinstance(cert, Pair) else cert
    return hashlib.sha256(der(path)).hexdigest()


def sha1_thumbprint(cert):
    path = cert.cert if isinstance(cert, Pair) else cert
    return hashlib.sha1(der(path)).hexdigest().upper()


def trust_ca(prefix, ca):
    """Makes `ca` (a Pair or a PEM path) a trusted root of the Wine prefix
    (a harness.Prefix): HKCU\\...\\SystemCertificates\\Root\\Certificates
    \\<SHA-1 thumbprint> with the value Blob = property 32 (the encoded
    certificate), flags 1, length, DER."""
    path = ca.cert if isinstance(ca, Pair) else ca
    data = der(path)
    blob = (32).to_bytes(4, "little") + (1).to_bytes(4, "little") + len(data).to_bytes(4, "little") + data
    key = "HKEY_CURRENT_USER\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\" + sha1_thumbprint(path)
    hexes = ",".join("%02x" % b for b in blob)
    # .reg files wrap long hex values with a backslash at the line end.
    lines, line = [], '"Blob"=hex:'
    for part in hexes.split(","):
        if len(line) > 76:
            lines.append(line + ",\\")
            line = "  " + part
        else:
            line += ("" if line.endswith(":") else ",") + part
    lines.append(line)
    text = "Windows Registry Editor Version 5.00\r\n\r\n[%s]\r\n%s\r\n" % (key, "\r\n".join(lines))
    reg = os.path.join(prefix.dir, "trust-ca.reg")
    with open(reg, "wb") as f:
        f.write(text.encode("utf-16"))
    prefix.run("reg", "import", "Z:" + reg.replace("/", "\\"))
    return key


class SServer:
    """openssl s_server on 127.0.0.1 for one certificate: a TLS peer that is
    not Dovecot (its own record sizes and timing). `extra` are more
    s_server arguments, e.g. ["-tls1_2"]."""

    def __init__(self, pair, port, extra=(), log_dir=None):
        self.log = open(os.path.join(log_dir or os.path.dirname(pair.cert), "s_server-%d.log" % port), "wb")
        self.proc = subprocess.Popen(
            ["openssl", "s_server", "-accept", "127.0.0.1:%d" % port, "-cert", pair.cert, "-key", pair.key,
             "-quiet", "-ign_eof"] + list(extra),
            stdin=subprocess.PIPE, stdout=self.log, stderr=subprocess.STDOUT)
        self.port = port

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
        self.log.close()
