"""The account editor's TLS choice and its connection test, under Wine
against Dovecot serving TLS (POP3 and IMAP) with a test CA of our own."""
import os
import socket
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import TITLE, Dovecot, WineTest, free_port, scramble, wait_for  # noqa: E402
import test_settings  # noqa: E402
from test_settings import (ACC_HOST, ACC_PASS, ACC_PORT, ACC_USER, ACCOUNTLIST, ADD, EDIT, IDCANCEL,  # noqa: E402
                           IDOK, TAB_ACCOUNTS)
import tls_setup  # noqa: E402

ACC_TLS, ACC_TEST, ACC_PROTOCOL, ACC_FOLDER = 2015, 2016, 2017, 2019
PLAIN, IMPLICIT, STARTTLS = 0, 1, 2
IDYES, IDNO = 6, 7
MESSAGE = b"From: a@example.jp\r\nSubject: test\r\n\r\nbody\r\n"


class SettingsTlsTest(WineTest):
    # The settings tests' helpers, not their tests (a subclass would run them again).
    _helpers = test_settings.SettingsTest
    open_options, drv, state, text, wait_exit = (_helpers.open_options, _helpers.drv, _helpers.state,
                                                 _helpers.text, _helpers.wait_exit)

    def open_editor(self):
        proc, dlg = self.open_options()
        self.prefix.click(dlg.hwnd, TAB_ACCOUNTS)
        self.prefix.click(dlg.hwnd, ADD)
        return proc, dlg, self.prefix.wait_window("ｱｶｳﾝﾄ", "#32770")

    def choose(self, ed, mode):
        self.drv("select", ed.hwnd, ACC_TLS, mode)
        wait_for("TLS mode %d shown" % mode,
                 lambda: self.text(ed.hwnd, ACC_TLS) == ["暗号化なし", "SSL/TLS", "STARTTLS"][mode])

    def port_after(self, ed, port, mode):
        self.drv("settext", ed.hwnd, ACC_PORT, port)
        wait_for("port %s typed" % port, lambda: self.text(ed.hwnd, ACC_PORT) == port)
        self.choose(ed, mode)
        return self.text(ed.hwnd, ACC_PORT)

    def fill(self, ed, mode, port, user="taro", password="pw"):
        self.choose(ed, mode)
        self.drv("settext", ed.hwnd, ACC_HOST, "localhost")
        self.drv("settext", ed.hwnd, ACC_PORT, str(port))
        self.drv("settext", ed.hwnd, ACC_USER, user)
        self.drv("settext", ed.hwnd, ACC_PASS, password)
        wait_for("fields set", lambda: self.text(ed.hwnd, ACC_PORT) == str(port))

    def run_test(self, ed):
        """Presses the test button; the result box and its text."""
        self.prefix.click(ed.hwnd, ACC_TEST)
        return self.prefix.message_box()

    def dovecot(self, users=None):
        certs = tls_setup.make_certs()
        self.addCleanup(certs.cleanup)
        d = Dovecot(users or {"taro": ("pw", [MESSAGE, MESSAGE])}, tls=certs.server)
        self.addCleanup(d.stop)
        return certs, d

    def test_settings_tls_choice_moves_standard_ports_and_round_trips(self):
        proc, dlg, ed = self.open_editor()
        self.assertEqual(self.text(ed.hwnd, ACC_TLS), "暗号化なし")
        for port, mode, after in (("110", IMPLICIT, "995"), ("995", PLAIN, "110"), ("995", STARTTLS, "995"),
                                  ("1110", IMPLICIT, "1110"), ("2000", PLAIN, "2000"), ("110", IMPLICIT, "995")):
            self.assertEqual(self.port_after(ed, port, mode), after, (port, mode))
        self.drv("settext", ed.hwnd, ACC_HOST, "pop.example.jp")
        wait_for("OK usable", lambda: self.state(ed.hwnd, IDOK)[0])
        self.screenshot("settings_tls_editor")
        self.prefix.click(ed.hwnd, IDOK)
        reg = wait_for("account stored", lambda: (lambda r: r if r.get("accountno") == "1" else None)(
            self.prefix.reg_export()))
        self.assertEqual((reg["Tlsmode1"], reg["Portno1"]), ("1", "995"))

        self.drv("lvclick", dlg.hwnd, ACCOUNTLIST, 0)
        wait_for("edit usable", lambda: self.state(dlg.hwnd, EDIT)[0])
        self.prefix.click(dlg.hwnd, EDIT)
        ed = self.prefix.wait_window("ｱｶｳﾝﾄ", "#32770")
        self.assertEqual(self.text(ed.hwnd, ACC_TLS), "SSL/TLS")
        self.choose(ed, STARTTLS)
        self.prefix.click(ed.hwnd, IDOK)
        wait_for("mode rewritten", lambda: self.prefix.reg_export().get("Tlsmode1") == "2")
        self.prefix.click(dlg.hwnd, IDCANCEL)
        self.wait_exit(proc)

    def test_settings_tls_connection_test_logs_on_or_shows_the_refusal(self):
        certs, d = self.dovecot()
        tls_setup.trust_ca(self.prefix, certs.ca)
        proc, dlg, ed = self.open_editor()
        self.fill(ed, IMPLICIT, d.tls_port)
        box, text = self.run_test(ed)
        self.screenshot("settings_tls_test_result")
        self.assertRegex(text, r"発行先: [^\r]*CN=localhost")
        self.assertRegex(text, r"発行者: [^\r]*CN=Tarvi Test CA")
        for line in ("接続: 成功 (localhost:%d)" % d.tls_port, "暗号化: TLS 1.", "証明書: 問題ありません",
                     "SHA-256: " + tls_setup.sha256_fingerprint(certs.server), "ﾛｸﾞｵﾝ: 成功", "ﾒｯｾｰｼﾞ数: 2"):
            self.assertIn(line, text)
        self.prefix.answer(box, IDOK)

        # STARTTLS on the plain port, with a wrong password.
        self.fill(ed, STARTTLS, d.port, password="wrong")
        box, text = self.run_test(ed)
        self.assertIn("証明書: 問題ありません", text)
        self.assertIn("ﾛｸﾞｵﾝ: 拒否されました: -ERR [AUTH] Authentication failed.", text)
        self.assertNotIn("ﾒｯｾｰｼﾞ数", text)
        self.prefix.answer(box, IDOK)
        # The test wrote nothing.
        self.assertNotIn("accountno", self.prefix.reg_export())

        # Nobody there: refused, said at once.
        self.fill(ed, PLAIN, free_port())
        box, text = self.run_test(ed)
        self.assertIn("接続を拒否されました", text)
        self.prefix.answer(box, IDOK)

        # A server that never answers: the dialog stays usable and the
        # button, now "中止", ends the test without a box.
        silent = socket.socket()
        silent.bind(("127.0.0.1", free_port()))  # the port box holds no more than 32767
        silent.listen(1)
        self.addCleanup(silent.close)
        self.fill(ed, IMPLICIT, silent.getsockname()[1])
        self.prefix.click(ed.hwnd, ACC_TEST)
        wait_for("test running", lambda: self.text(ed.hwnd, ACC_TEST) == "中止")
        self.drv("settext", ed.hwnd, ACC_USER, "still typing")
        wait_for("dialog responsive", lambda: self.text(ed.hwnd, ACC_USER) == "still typing")
        self.prefix.click(ed.hwnd, ACC_TEST)
        wait_for("test cancelled", lambda: self.text(ed.hwnd, ACC_TEST) == "接続テスト")
        time.sleep(1)  # a box would come at once; none may
        self.assertIsNone(self.prefix.find(TITLE, "#32770"))
        self.prefix.click(ed.hwnd, IDCANCEL)
        self.prefix.click(dlg.hwnd, IDCANCEL)
        self.wait_exit(proc)

    def test_settings_tls_untrusted_certificate_sends_no_user_until_accepted(self):
        certs, d = self.dovecot()
        pin = tls_setup.sha256_fingerprint(certs.server)
        proc, dlg, ed = self.open_editor()
        self.fill(ed, IMPLICIT, d.tls_port)
        box, text = self.run_test(ed)
        self.screenshot("settings_tls_untrusted")
        self.assertRegex(text, r"発行先: [^\r]*CN=localhost")
        for line in ("証明書: 問題があります", "ｻｰﾊﾞの証明書は信頼されていません", "ﾕｰｻﾞ名を送らずに接続を中止しました",
                     "有効期間: ", "SHA-256: " + pin, "受け入れますか"):
            self.assertIn(line, text)
        self.assertNotIn("ﾛｸﾞｵﾝ", text)
        self.assertNotIn("taro", d.log())  # no USER reached the server
        self.prefix.answer(box, IDYES)
        self.assertNotIn("Tlspin1", self.prefix.reg_export())  # kept in the editor until OK

        box, text = self.run_test(ed)
        self.assertIn("証明書: 受け入れ済みの証明書です", text)
        self.assertIn("ﾒｯｾｰｼﾞ数: 2", text)
        self.prefix.answer(box, IDOK)
        self.prefix.click(ed.hwnd, IDOK)
        reg = wait_for("account stored", lambda: (lambda r: r if r.get("accountno") == "1" else None)(
            self.prefix.reg_export()))
        self.assertEqual(reg["Tlspin1"], pin)
        self.assertEqual(reg["Tlspinfor1"], "1 %d localhost" % d.tls_port)
        self.assertEqual(reg["Tlsmode1"], "1")
        self.assertEqual(reg["Passw1"], "0")  # kept by Windows instead:
        self.assertGreater(len(reg["Passwp1"]), 40)
        self.prefix.click(dlg.hwnd, IDCANCEL)
        self.wait_exit(proc)

    def test_settings_imap_connection_test_tells_what_the_server_offers(self):
        certs = tls_setup.make_certs()
        self.addCleanup(certs.cleanup)
        d = Dovecot({"taro": ("pw", [MESSAGE])}, tls=certs.server, imap=True, pop3=False)
        self.addCleanup(d.stop)
        tls_setup.trust_ca(self.prefix, certs.ca)
        proc, dlg, ed = self.open_editor()
        self.assertFalse(self.state(ed.hwnd, ACC_FOLDER)[0])  # a POP3 account has no folder
        self.drv("select", ed.hwnd, ACC_PROTOCOL, 1)
        wait_for("IMAP's port", lambda: self.text(ed.hwnd, ACC_PORT) == "143")
        self.assertTrue(self.state(ed.hwnd, ACC_FOLDER)[0])
        self.fill(ed, STARTTLS, d.imap_port)
        self.screenshot("settings_imap_editor")
        box, text = self.run_test(ed)
        self.screenshot("settings_imap_test_result")
        for line in ("暗号化: TLS 1.", "証明書: 問題ありません", "ﾛｸﾞｵﾝ: 成功", "IDLE: あり / MOVE: あり / UIDPLUS: あり",
                     "ﾌｫﾙﾀﾞ: INBOX (開けました)"):
            self.assertIn(line, text)
        self.prefix.answer(box, IDOK)
        self.fill(ed, PLAIN, d.imap_port, password="wrong")
        box, text = self.run_test(ed)
        self.assertIn("ﾛｸﾞｵﾝ: 拒否されました: NO [AUTHENTICATIONFAILED] Authentication failed.", text)
        self.prefix.answer(box, IDOK)
        self.prefix.click(ed.hwnd, IDOK)
        reg = wait_for("account stored", lambda: (lambda r: r if r.get("accountno") == "1" else None)(
            self.prefix.reg_export()))
        self.assertEqual((reg["Protocol1"], reg["Portno1"], reg.get("Folder1")), ("1", str(d.imap_port), None))
        self.prefix.click(dlg.hwnd, IDCANCEL)
        self.wait_exit(proc)
