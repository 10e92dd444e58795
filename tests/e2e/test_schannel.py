"""The Schannel engine under Wine against real TLS servers (Dovecot and
openssl s_server), through the tlsprobe tool: records cut at every kind of
place, and what it finds of each kind of certificate."""
import os
import re
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import WIN_BIN, Dovecot, WineTest, free_port, wait_for  # noqa: E402
import tls_setup  # noqa: E402

BODY = b"Subject: big\r\n\r\n" + b"a line of the body, long enough to fill records\r\n" * 3000


class SchannelTest(WineTest):
    def setUp(self):
        super().setUp()
        self.certs = tls_setup.make_certs()
        self.addCleanup(self.certs.cleanup)
        shutil.copy2(os.path.join(WIN_BIN, "tlsprobe.exe"), self.prefix.app)

    def probe(self, port, mode, chunk, *commands):
        """tlsprobe's findings as {key: value}, replies as a list."""
        r = self.prefix._run("tlsprobe.exe", ["localhost", port, mode, chunk] + list(commands))
        out = {"exit": r.returncode, "reply": []}
        for line in r.stdout.decode("utf-8", "replace").splitlines():
            key, _, value = line.partition("\t")
            if key == "reply":
                out["reply"].append(value)
            else:
                out[key] = value
        return out

    def s_server(self, pair, *extra):
        s = tls_setup.SServer(pair, free_port(), extra, log_dir=self.prefix.dir)
        self.addCleanup(s.stop)
        wait_for("s_server listening", lambda: _connects(s.port), 20)
        return s

    def test_schannel_dialogue_whatever_the_record_cuts(self):
        d = Dovecot({"taro": ("pw", [BODY])}, tls=self.certs.server)
        self.addCleanup(d.stop)
        tls_setup.trust_ca(self.prefix, self.certs.ca)
        pin = tls_setup.sha256_fingerprint(self.certs.server)
        for port, mode, chunk in ((d.tls_port, "tls", 65536), (d.tls_port, "tls", 1), (d.port, "stls", 7),
                                  (d.tls_port, "tls", 4093)):
            out = self.probe(port, mode, chunk, "USER taro", "PASS pw", "STAT", "BIG")
            where = (mode, chunk, out)
            self.assertEqual(out["protocol"], "TLS 1.2", where)  # Wine's Schannel offers no TLS 1.3
            self.assertEqual(out["problems"], "", where)
            self.assertEqual(out["accepted"], "yes", where)
            self.assertEqual(out["sha256"], pin, where)
            self.assertIn("CN=localhost", out["subject"], where)
            self.assertIn("CN=Tarvi Test CA", out["issuer"], where)
            self.assertRegex(out["valid"], r"^\d{4}/\d\d/\d\d \d\d:\d\d - \d{4}/\d\d/\d\d \d\d:\d\d$")
            # 18,000 bytes of NOOPs in one write went out in several records.
            self.assertEqual(out["reply"], ["+OK", "+OK Logged in.", "+OK 1 %d" % len(BODY),
                                            "3000 of 3000 accepted"], where)
            if mode == "tls":
                self.assertEqual(out.get("greeting"), "+OK Dovecot (Debian) ready.", where)

    def test_schannel_certificate_findings(self):
        root = tls_setup.trust_ca(self.prefix, self.certs.ca)
        cases = (("server", "", "yes"), ("expired", "expired ", "no"), ("wrong", "name ", "no"),
                 ("selfsigned", "untrusted ", "no"))
        for name, problems, accepted in cases:
            s = self.s_server(getattr(self.certs, name))
            out = self.probe(s.port, "raw", 5)
            self.assertEqual((out["problems"], out["accepted"]), (problems, accepted), (name, out))
            self.assertEqual(out["sha256"], tls_setup.sha256_fingerprint(getattr(self.certs, name)))
            self.assertEqual(out["shutdown"], "31 bytes")  # a close_notify record went out
        # Without the CA in the prefix's roots the chain stops short: Wine's
        # policy passes that, the chain's own status does not.
        self.prefix.run("reg", "delete", root, "/f")
        s = self.s_server(self.certs.server)
        out = self.probe(s.port, "raw", 5)
        self.assertEqual(out["problems"], "untrusted ", out)
        # A server speaking only TLS 1.3, which Wine cannot: a clear failure.
        s = self.s_server(self.certs.server, "-tls1_3")
        out = self.probe(s.port, "raw", 5)
        self.assertEqual(out["exit"], 6, out)
        self.assertRegex(out["error"], r"^TLSの接続に失敗しました: .* \(0x[0-9A-F]{8}\)$")


class ImportsTest(unittest.TestCase):
    """TLS comes from Windows itself: the programs still import nothing but
    Windows' own DLLs (no OpenSSL, no runtime beside msvcrt). The loader
    takes those before main runs, from the program's folder if one lies
    there, unless Windows keeps them (KnownDLLs; comctl32 through the
    manifest); the rest, Schannel's secur32 among them, are delay-loaded."""
    LOADED_BEFORE_MAIN = {"advapi32.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll",
                          "msvcrt.dll", "ole32.dll", "shell32.dll", "user32.dll", "ws2_32.dll"}

    def test_programs_import_only_windows_dlls(self):
        for exe in ("tarvimon.exe", "tarvicfg.exe"):
            path = os.path.join(WIN_BIN, exe)
            out = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", path],
                                 stdout=subprocess.PIPE, check=True).stdout.decode()
            dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", out)}
            self.assertLessEqual(dlls, self.LOADED_BEFORE_MAIN, exe)
            # GNU ld lists no delay imports in the headers; their stubs name them.
            with open(path, "rb") as f:
                self.assertIn(b"\0secur32.dll\0", f.read(), exe)


def _connects(port):
    import socket
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
        return True
    except OSError:
        time.sleep(0.1)
        return False
