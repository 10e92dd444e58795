"""Signing in with OAuth 2.0 under Wine: tarvicfg.exe /signin N against the
test authorization server (oauth_server.py) with fake_browser.py as the
prefix's browser, and the monitor's token logons to Dovecot (POP3 AUTH
XOAUTH2, IMAP AUTHENTICATE XOAUTH2), which validates the server's tokens
itself with the server's key. The first test shows, without Wine, that
Dovecot takes exactly the server's valid tokens, so that a failure of the
others is the programs'."""
import base64
import os
import poplib
import re
import socket
import subprocess
import sys
import time
import unittest

from harness import TITLE, Dovecot, WineTest, wait_for, scramble
from oauth_server import OAuthServer
from pop3_script import ScriptedPop3, low_port
import samples

MAIN_CLASS = "TarviMonMailForm"
ARRIVED = "通のメールが届いています!"
IDOK, CTRL, F3 = 1, 2, 114
IMAP = 1
SIGN_IN_AGAIN = "ｻｲﾝｲﾝの有効期限が切れたか、取り消されました。設定でｻｲﾝｲﾝし直してください"
PASSWORD_UNREADABLE = "保存されたﾊﾟｽﾜｰﾄﾞを読み出せませんでした。設定でﾊﾟｽﾜｰﾄﾞを入力し直してください"
# "secret" protected by CryptProtectData under Wine without the programs'
# entropy: a well-formed blob that does not unprotect for them, as one
# brought from another machine. (Wine's keys are the same in every prefix,
# so a blob of another prefix would unprotect.)
FOREIGN_BLOB = ("AQAAAFdpbmUgQ3J5cHQzMiBvawABAAAAV2luZSBDcnlwdDMyIG9rAAAAAAAEAAAAeAAAAANmAACoAAAAEAAAAFdp"
                "bmUgQ3J5cHQzMiBvawAAAAAABIAAAKAAAAAQAAAABW9HKtAYXS4OxHAYanHMgQgAAABVnRK8Osl0MRQAAADl6fob"
                "ox7NGuhPdcqqR086Zj8F9A==")
# Dovecot's challenge before it refuses an XOAUTH2 token:
# {"status":"401","schemes":"bearer","scope":"mail"}.
XOAUTH2_REFUSAL = "+ eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIiwic2NvcGUiOiJtYWlsIn0="


def mail(subject):
    return samples.message("山田太郎", "taro@example.jp", subject, "本文です。\n")


def xoauth2(user, token):
    return base64.b64encode(("user=%s\x01auth=Bearer %s\x01\x01" % (user, token)).encode()).decode()


def dialogue(port, lines):
    """The reply line to the greeting and to each line sent; an empty line
    is sent only after a challenge, as a client answers one."""
    with socket.create_connection(("127.0.0.1", port), timeout=30) as s:
        f = s.makefile("rb")
        replies = [f.readline().decode().rstrip("\r\n")]
        for line in lines:
            if line == "" and not replies[-1].startswith("+ "):
                break
            s.sendall(line.encode() + b"\r\n")
            replies.append(f.readline().decode().rstrip("\r\n"))
    return replies[1:]


class DovecotTokenTest(unittest.TestCase):
    """Dovecot as the harness sets it up, natively: the server's token logs
    its user on, anything else is refused with the challenge and the
    refusal that the programs read; passwords still work beside it."""

    def test_dovecot_takes_exactly_the_servers_valid_tokens(self):
        server, stranger = OAuthServer(user="alice"), OAuthServer(user="alice")
        self.addCleanup(server.stop)
        self.addCleanup(stranger.stop)
        dove = Dovecot({"alice": ("pw", []), "carol": ("c-pw", [])}, imap=True, oauth=server)
        self.addCleanup(dove.stop)
        tokens = [("valid", server.access_token(), True),
                  ("expired", server.access_token(lifetime=-10), False),
                  ("another server's", stranger.access_token(), False),
                  ("another user's", server.access_token(user="carol"), False),
                  ("not a JWT", "opaque-token", False)]
        for name, token, good in tokens:
            pop = dialogue(dove.port, ["AUTH XOAUTH2", xoauth2("alice", token), ""])
            self.assertEqual(pop, ["+ ", "+OK Logged in."] if good else
                             ["+ ", XOAUTH2_REFUSAL, "-ERR [AUTH] Authentication failed."], name)
            imap = dialogue(dove.imap_port, ["a AUTHENTICATE XOAUTH2 " + xoauth2("alice", token), ""])
            if good:
                self.assertRegex(imap[0], r"^a OK \[CAPABILITY .*\] Logged in$")
            else:
                self.assertEqual(imap, [XOAUTH2_REFUSAL, "a NO [AUTHENTICATIONFAILED] Authentication failed."], name)
        client = poplib.POP3("127.0.0.1", dove.port, timeout=30)
        self.assertTrue(client.user("carol").startswith(b"+OK"))
        self.assertTrue(client.pass_("c-pw").startswith(b"+OK"))
        client.quit()
        self.assertEqual(dove.logons(), [("alice", "XOAUTH2")] * 2 + [("carol", "PLAIN")])


class OAuthTest(WineTest):
    def setUp(self):
        super().setUp()
        self.browser_log = self.prefix.use_fake_browser()

    def oauth(self, **kw):
        server = OAuthServer(**kw)
        self.addCleanup(server.stop)
        return server

    def dovecot(self, users, server, **kw):
        dove = Dovecot(users, port=low_port(), oauth=server, **kw)
        self.addCleanup(dove.stop)
        return dove

    def configure(self, accounts, **general):
        values = {"accountno": str(len(accounts)), "Option5value": "1", "Checktimerval": "0"}
        for n, a in enumerate(accounts, 1):
            values.update({"%s%d" % (k, n): str(v) for k, v in a.items()})
        values.update({k: str(v) for k, v in general.items()})
        self.prefix.reg_import(values)

    @staticmethod
    def token_account(name, server, port, user, imap=False):
        return {"Aname": name, "Hname": "127.0.0.1", "Portno": port, "Uname": user, "Passw": "0", "Check": 1,
                "Protocol": IMAP if imap else 0, "Auth": 3, "Oauthauthurl": server.authorize_url,
                "Oauthtokenurl": server.token_url, "Oauthscope": server.scope, "Oauthclient": server.client_id}

    @staticmethod
    def password_account(name, port, user, password, **extra):
        a = {"Aname": name, "Hname": "127.0.0.1", "Portno": port, "Uname": user, "Passw": scramble(password),
             "Check": 1}
        a.update(extra)
        return a

    def sign_in(self, n):
        """Runs tarvicfg.exe /signin n to its end: (exit code, the text of
        the box it showed, None for none). A failure is told in a box that
        holds the program until it is answered."""
        began = time.time()
        proc = self.prefix.start("tarvicfg.exe", "/signin", str(n))
        try:
            ended = wait_for("the sign-in to end or say something",
                             lambda: proc.poll() is not None or self.prefix.find(TITLE, "#32770"), 90)
        except AssertionError as e:
            ps = subprocess.run(["ps", "-eo", "pid,stat,etimes,args"], capture_output=True, text=True).stdout
            raise AssertionError("%s; began %.3f; windows %r; browser:\n%s\nprocesses:\n%s" % (
                e, began, self.prefix.windows(), self.browser(),
                "\n".join(l for l in ps.splitlines() if "browser" in l or "tarvicfg" in l))) from None
        said = None
        if ended is not True:
            box, said = self.prefix.message_box()
            self.prefix.answer(box, IDOK)
        proc.wait(timeout=60)
        if proc.returncode and said is None:
            # A failure without a word: what the browser and the program saw.
            sys.stderr.write("\n  sign-in %d ended %r after %.1f s without a box; browser:\n%s\n  tarvicfg:\n%s\n" % (
                n, proc.returncode, time.time() - began, self.browser(),
                open(os.path.join(self.prefix.dir, "tarvicfg.exe.log"), errors="replace").read()[-3000:]))
        return proc.returncode, said

    def caption(self, test, what, timeout=90):
        seen = []

        def matching():
            w = self.prefix.find(None, MAIN_CLASS, visible=None)
            if w and (not seen or seen[-1] != w.title):
                seen.append(w.title)
            return w if w and test(w.title) else None
        try:
            return wait_for(what, matching, timeout).title
        except AssertionError as e:
            boxes = [(w, self.prefix.texts(w.hwnd)) for w in self.prefix.windows() if w.cls == "#32770"]
            raise AssertionError("%s; captions %r; dialogs %r" % (e, seen, boxes)) from None

    def counted(self, n):
        return self.caption(lambda t: t == "%d%s" % (n, ARRIVED), "%d counted" % n)

    def check_now(self):
        self.prefix.run("tarvidrv.exe", "key", str(CTRL), str(F3))

    def browser(self):
        try:
            return open(self.browser_log, encoding="utf-8").read()
        except OSError:
            return ""

    def start_monitor(self):
        proc = self.prefix.start("tarvimon.exe")
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        return proc

    def test_sign_in_stores_only_a_protected_token_and_both_protocols_log_on_with_it(self):
        server = self.oauth()
        dove = self.dovecot({"alice": ("a-pw", [mail("一"), mail("二")]),
                             "bob": ("b-pw", [mail("三"), mail("四"), mail("五")])}, server, imap=True)
        self.configure([self.token_account("ポップ", server, dove.port, "alice"),
                        self.token_account("イマップ", server, dove.imap_port, "bob", imap=True)])
        for n, user in ((1, "alice"), (2, "bob")):
            server.user = user
            self.assertEqual(self.sign_in(n), (0, None))
        self.assertEqual(sorted(server.issued().values()), ["alice", "bob"])
        # The browser was sent back to the program's listener with a code.
        self.assertEqual(len(re.findall(r"redirect 302 http://127\.0\.0\.1:\d+/\?code=", self.browser())), 2)
        stored = self.prefix.reg_export()
        for n in (1, 2):
            self.assertNotIn(stored.get("Oauthrefresh%d" % n, ""), ("", "0"))
        secrets = list(server.issued()) + server.access_tokens
        leaks = [(k, s[:12]) for k, v in stored.items() for s in secrets if s in v]
        self.assertEqual(leaks, [])

        self.start_monitor()
        self.counted(5)
        self.assertEqual(sorted(set(dove.logons())), [("alice", "XOAUTH2"), ("bob", "XOAUTH2")])
        self.screenshot("oauth-signed-in")

    def test_expired_access_token_is_renewed_without_a_word(self):
        # One server tells the truth of its tokens' lifetime; the other ends
        # them long before the expires_in it announced, so Dovecot is the
        # first to say so.
        honest = self.oauth(user="alice", lifetime=4)
        early = self.oauth(user="bob", lifetime=4, announced=3600, key=honest.key)
        dove = self.dovecot({"alice": ("a-pw", [mail("一")]), "bob": ("b-pw", [mail("二")])}, honest)
        self.configure([self.token_account("正直", honest, dove.port, "alice"),
                        self.token_account("早終", early, dove.port, "bob")], Option3value=0)
        self.assertEqual(self.sign_in(1)[0], 0)
        self.assertEqual(self.sign_in(2)[0], 0)
        self.start_monitor()
        self.counted(2)
        before = (honest.refreshes, early.refreshes)
        issued = time.time()
        wait_for("the access tokens to expire", lambda: time.time() > issued + 5, 30)
        dove.deliver("alice", mail("三"))
        dove.deliver("bob", mail("四"))
        self.check_now()
        self.counted(4)
        self.assertEqual((honest.refreshes, early.refreshes), (before[0] + 1, before[1] + 1))
        # The early one's token was tried once, refused, renewed; the
        # honest one's was renewed before it was tried.
        self.assertEqual(re.findall(r"\(auth failed, \d+ attempts[^)]*\): user=<(\w+)>", dove.log()), ["bob"])
        self.assertEqual(sorted(dove.logons()), [("alice", "XOAUTH2")] * 2 + [("bob", "XOAUTH2")] * 2)
        self.assertIsNone(self.prefix.find(TITLE, "#32770"))

    def test_revoked_sign_in_is_told_once_and_other_accounts_go_on(self):
        server = self.oauth(user="alice")
        dove = self.dovecot({"alice": ("a-pw", [mail("一")]), "carol": ("c-pw", [mail("二"), mail("三")])}, server)
        self.configure([self.token_account("トークン", server, dove.port, "alice"),
                        self.password_account("パスワード", dove.port, "carol", "c-pw")])
        self.assertEqual(self.sign_in(1)[0], 0)
        server.revoke()
        self.start_monitor()
        box, text = self.prefix.message_box()
        self.assertEqual(text, "トークン: " + SIGN_IN_AGAIN)
        self.prefix.answer(box, IDOK)
        title = self.caption(lambda t: t.startswith("2" + ARRIVED), "carol's mail counted")
        self.assertIn("トークン", title)
        self.check_now()
        wait_for("carol's second check", lambda: dove.logons().count(("carol", "PLAIN")) == 2, 90)
        self.caption(lambda t: t.startswith("2" + ARRIVED), "the cycle's end")
        self.assertIsNone(self.prefix.find(TITLE, "#32770"))  # said once
        self.assertEqual((server.refreshes, server.refused), (0, 1))  # asked once, never again
        self.assertNotIn("user=<alice>", dove.log())
        self.screenshot("oauth-revoked")

    def test_password_that_does_not_unprotect_is_not_sent_anywhere(self):
        foreign, damaged = ScriptedPop3([mail("一")]), ScriptedPop3([mail("二")])
        sane = ScriptedPop3([mail("三"), mail("四"), mail("五")])
        for s in (foreign, damaged, sane):
            self.addCleanup(s.stop)
        # Passw holds a password too: one that does not unprotect must not
        # fall back to it.
        self.configure([self.password_account("他機", foreign.port, "joe", "secret", Passwp=FOREIGN_BLOB),
                        self.password_account("破損", damaged.port, "joe", "secret", Passwp="AAAAAAAA"),
                        self.password_account("正常", sane.port, "joe", "secret")], Option3value=0)
        proc = self.start_monitor()
        for name in ("他機", "破損"):
            box, text = self.prefix.message_box()
            self.assertEqual(text, name + ": " + PASSWORD_UNREADABLE)
            self.prefix.answer(box, IDOK)
        self.counted(3)
        self.assertEqual((foreign.received(), damaged.received()), ([], []))
        self.assertEqual(sane.received()[:2], ["USER joe", "PASS secret"])
        self.assertIsNone(proc.poll())

    def test_sign_in_refused_by_the_user_stores_nothing(self):
        server = self.oauth()
        server.deny = True
        self.configure([self.token_account("拒否", server, 110, "alice")])
        code, said = self.sign_in(1)
        self.assertNotEqual(code, 0)
        self.assertIsNotNone(said)
        wait_for("the browser back at the program", lambda: "error=access_denied" in self.browser(), 30)
        self.assertIn(self.prefix.reg_export().get("Oauthrefresh1", ""), ("", "0"))
        self.assertEqual([p for m, p, _ in server.requests if m == "POST"], [])


if __name__ == "__main__":
    unittest.main()
