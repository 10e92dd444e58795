"""Checking over TLS under Wine against Dovecot with a test CA made here:
TLS from the first byte and STLS check as the plain check does; a server
whose certificate is not trusted, or that refuses STLS, gets no user name;
a CA trusted in the prefix, or the fingerprint pinned in the account, is
accepted."""
import re

from harness import Dovecot, WineTest, scramble, wait_for
from pop3_script import ScriptedPop3, low_port
from tls_setup import HOST, make_certs, sha256_fingerprint, trust_ca

MAIN_CLASS = "TarviMonMailForm"
IDOK = 1
ARRIVED = "通のメールが届いています!"
PLAIN, IMPLICIT, STLS = 0, 1, 2


def mail(n):
    return ("From: sender%d@example.jp\r\nTo: me@example.jp\r\nSubject: tls %d\r\n\r\nbody\r\n" % (n, n)).encode()


class TlsTest(WineTest):
    def setUp(self):
        super().setUp()
        self.certs = make_certs()
        self.addCleanup(self.certs.cleanup)

    def dovecot(self, users):
        dove = Dovecot(users, port=low_port(), tls=self.certs.server)
        self.addCleanup(dove.stop)
        return dove

    def configure(self, accounts, **general):
        """accounts: [(name, port, user, password, tls mode, pin)], all on `localhost`."""
        values = {"accountno": str(len(accounts)), "Option5value": "1", "Option3value": "1",
                  "Checktimerval": "0", "Timeupval": "1"}
        for i, (name, port, user, password, mode, pin) in enumerate(accounts, 1):
            values.update({"Aname%d" % i: name, "Hname%d" % i: HOST, "Portno%d" % i: str(port),
                           "Uname%d" % i: user, "Passw%d" % i: scramble(password), "Check%d" % i: "1",
                           "Tlsmode%d" % i: str(mode), "Tlspin%d" % i: pin,
                           # what the pin was accepted for, as the settings program keeps it
                           "Tlspinfor%d" % i: "%d %d %s" % (mode, port, HOST) if pin else ""})
        values.update({k: str(v) for k, v in general.items()})
        self.prefix.reg_import(values)

    def caption(self, text, timeout=90):
        return self.prefix.wait_window(text, MAIN_CLASS, visible=None, timeout=timeout)

    def logins(self, dove):
        """{user: whether the login was over TLS}, from Dovecot's log."""
        return {m.group(1): "TLS" in m.group(2)
                for m in re.finditer(r"pop3-login: (?:Info: )?Login: user=<([^>]*)>(.*)", dove.log())}

    def test_implicit_tls_and_stls_check_as_the_plain_check(self):
        trust_ca(self.prefix, self.certs.ca)
        dove = self.dovecot({"plain": ("p1", [mail(1)]), "implicit": ("p2", [mail(2), mail(3)]),
                             "stls": ("p3", [mail(4), mail(5), mail(6)])})
        self.configure([("Plain", dove.port, "plain", "p1", PLAIN, ""),
                        ("Implicit", dove.tls_port, "implicit", "p2", IMPLICIT, ""),
                        ("Stls", dove.port, "stls", "p3", STLS, "")])
        self.prefix.start("tarvimon.exe")
        self.caption("6" + ARRIVED)
        wait_for("three logins", lambda: len(self.logins(dove)) == 3, 30)
        self.assertEqual(self.logins(dove), {"plain": False, "implicit": True, "stls": True})
        self.assertEqual(dove.message_count("stls"), 3)  # nothing was taken away

    def test_untrusted_certificate_sends_no_user_and_the_cycle_goes_on(self):
        # The CA is not trusted in this prefix.
        dove = self.dovecot({"alice": ("pa55", [mail(1)]), "bob": ("w0rd", [mail(2), mail(3)])})
        self.configure([("Alice", dove.tls_port, "alice", "pa55", IMPLICIT, ""),
                        ("Bob", dove.port, "bob", "w0rd", PLAIN, "")], Option3value=0)
        self.prefix.start("tarvimon.exe")
        box, text = self.prefix.message_box()
        self.assertIn("ｻｰﾊﾞの証明書は信頼されていません", text)
        self.assertIn("ﾕｰｻﾞ名を送らずに接続を中止しました", text)
        self.prefix.click(box.hwnd, IDOK)
        self.caption("2" + ARRIVED)
        self.assertEqual(self.logins(dove), {"bob": False})
        self.assertNotIn("alice", dove.log())  # not even a refused USER

    def test_pinned_certificate_is_accepted_without_the_ca(self):
        pin = sha256_fingerprint(self.certs.server).upper()  # either case
        dove = self.dovecot({"alice": ("pa55", [mail(1), mail(2)]), "bob": ("w0rd", [mail(3)])})
        self.configure([("Alice", dove.tls_port, "alice", "pa55", IMPLICIT, pin),
                        ("Bob", dove.port, "bob", "w0rd", STLS, pin)], Option3value=0)
        self.prefix.start("tarvimon.exe")
        self.caption("3" + ARRIVED)
        self.assertEqual(self.logins(dove), {"alice": True, "bob": True})

    def test_stls_refused_sends_no_password_and_never_goes_on_in_the_clear(self):
        refusing = ScriptedPop3([mail(1)], err_at="STLS")
        self.addCleanup(refusing.stop)
        dove = self.dovecot({"bob": ("w0rd", [mail(2), mail(3)])})
        self.configure([("Refusing", refusing.port, "joe", "secret", STLS, ""),
                        ("Bob", dove.port, "bob", "w0rd", PLAIN, "")], Option3value=0)
        self.prefix.start("tarvimon.exe")
        box, text = self.prefix.message_box()
        self.assertEqual(text.strip(), "ｻｰﾊﾞがSTARTTLSを受け付けませんでした")
        self.prefix.click(box.hwnd, IDOK)
        self.caption("2" + ARRIVED)
        self.assertEqual(refusing.received(), ["STLS", "QUIT"])
