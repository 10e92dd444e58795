"""IMAP accounts under Wine against Dovecot: a check lists as the POP3
check of the same mail does; mail delivered while the monitor idles shows
without a check being started; a retrieved message is shown and stays
unread on the server; a delete takes the marked message only (by MOVE, by
UID EXPUNGE or by \\Deleted alone, as the server allows) and never one that
another client flagged; and the check over TLS, from the first byte and by
STARTTLS, with the test CA."""
import re
import sys
import time
import unittest

from harness import Dovecot, scramble, wait_for
from pop3_script import ScriptedPop3
import samples
from test_popup import DEL_BT, GRID, MAIN_CLASS, RETR_BT
from test_retrieve import RunTest
from tls_setup import HOST, make_certs, trust_ca

IMAP, IDYES = 1, 6
WM_POWERBROADCAST, PBT_APMSUSPEND, PBT_APMRESUMESUSPEND, PBT_APMRESUMEAUTOMATIC = 0x218, 4, 7, 0x12
ARRIVED = "通のメールが届いています!"
# Dovecot's own list without MOVE, and without MOVE and UIDPLUS.
NO_MOVE = "IMAP4rev1 SASL-IR LITERAL+ ID ENABLE IDLE NAMESPACE UIDPLUS CHILDREN UNSELECT SPECIAL-USE"
NEITHER = NO_MOVE.replace(" UIDPLUS", "")


def mail(subject, body="本文です。\n"):
    return samples.message("山田太郎", "taro@example.jp", subject, body)


def account(n, name, port, user, imap=True, **extra):
    values = {"Aname": name, "Hname": "127.0.0.1", "Portno": port, "Uname": user,
              "Passw": scramble("pw"), "Check": 1, "Protocol": IMAP if imap else 0}
    values.update(extra)
    return {"%s%d" % (k, n): str(v) for k, v in values.items()}


class ImapTest(RunTest):
    def dovecot(self, users, **kw):
        dove = Dovecot({u: ("pw", m) for u, m in users.items()}, imap=True, **kw)
        self.addCleanup(dove.stop)
        return dove

    def start(self, accounts, subjects):
        """Starts the monitor, checking at start-up only, and waits for the
        popup to list `subjects`."""
        values = {"accountno": str(len(accounts)), "Option1value": "1", "Option5value": "1",
                  "Option9value": "0", "Closetimerval": "0", "Option7value": "1", "Checktimerval": "0"}
        for a in accounts:
            values.update(a)
        self.prefix.reg_import(values)
        self.prefix.start("tarvimon.exe")
        self.main = wait_for("popup after the check", self.popup, 120)
        if subjects is not None:
            wait_for("%r listed" % subjects, lambda: self.subjects() == subjects, 30)

    def subjects(self):
        return [r[4] for r in self.rows()]

    def test_check_lists_as_the_pop3_check_of_the_same_mail(self):
        unseen = [mail("一通目"), mail("二通目")]
        dove = self.dovecot({"pop": unseen, "imap": [mail("既読")] + unseen})
        dove.set_flags("imap", 1, "\\Seen")
        self.start([account(1, "ポップ", dove.port, "pop", imap=False),
                    account(2, "イマップ", dove.imap_port, "imap")], ["一通目", "二通目"] * 2)
        self.assertEqual(self.caption(), "4" + ARRIVED)
        rows = self.rows()
        # Everything a row shows but its account and number.
        self.assertEqual([r[:5] for r in rows if r[5] == "2"], [r[:5] for r in rows if r[5] == "1"])
        self.assertEqual([(s, "\\Seen" in f) for _, f, s in dove.listing("imap")],
                         [("既読", True), ("一通目", False), ("二通目", False)])
        self.screenshot("imap-check")

    def test_mail_delivered_while_idling_shows_without_a_check_started(self):
        dove = self.dovecot({"taro": [mail("一通目")]}, pop3=False)
        self.start([account(1, "仕事", dove.imap_port, "taro")], ["一通目"])
        wait_for("the push connection idling",
                 lambda: any(re.match(r"\S+ IDLE$", l, re.I) for s in dove.imap_sessions("taro") for l in s))
        dove.deliver("taro", mail("届いたばかり"))
        wait_for("the new message listed", lambda: self.subjects() == ["一通目", "届いたばかり"], 30)
        wait_for("the caption", lambda: self.caption() == "2" + ARRIVED, 30)

    def test_wake_up_from_sleep_checks_at_once_and_idles_again(self):
        dove = self.dovecot({"taro": [mail("一通目")]}, pop3=False)
        pop = ScriptedPop3([mail("ポップ")])
        self.addCleanup(pop.stop)
        self.start([account(1, "仕事", dove.imap_port, "taro"), account(2, "ポップ", pop.port, "joe", imap=False,
                                                                   Passw=scramble("secret"))], ["一通目", "ポップ"])

        def idles():
            return sum(any(re.match(r"\S+ IDLE$", l, re.I) for l in s) for s in dove.imap_sessions("taro"))
        wait_for("the push connection idling", lambda: idles() == 1)
        checks = pop.connections
        self.prefix.post(self.main.hwnd, WM_POWERBROADCAST, PBT_APMSUSPEND)
        woke = time.monotonic()
        self.prefix.post(self.main.hwnd, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC)
        self.prefix.post(self.main.hwnd, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND)
        wait_for("a check after the wake-up", lambda: pop.connections > checks, 30)
        sys.stderr.write("\n  wake-up to the POP3 account's connection: %.2f s\n" % (pop.connected_at[checks] - woke))
        wait_for("the push connection idling again", lambda: idles() == 2, 60)
        self.assertEqual(pop.connections, checks + 1)  # one wake-up, one check
        dove.deliver("taro", mail("届いたばかり"))
        wait_for("the new message listed", lambda: "届いたばかり" in self.subjects(), 30)

    def test_retrieve_shows_the_message_and_leaves_it_unread(self):
        dove = self.dovecot({"taro": [mail("会議の資料", "資料を送ります。\n"), mail("来週の予定")]}, pop3=False)
        self.start([account(1, "仕事", dove.imap_port, "taro")], ["会議の資料", "来週の予定"])
        caption = self.caption()
        self.mark(0)
        self.prefix.click(self.main.hwnd, RETR_BT)
        wait_for("marks cleared", lambda: [r[1] for r in self.rows()] == ["", ""], 60)
        wait_for("caption restored", lambda: self.caption() == caption, 30)
        self.prefix.run("tarvidrv.exe", "lvclick", self.main.hwnd, str(GRID), "0", "2")
        text = wait_for("viewer", self.viewer_text, 30)
        self.assertTrue(text.startswith("Subject: 会議の資料\r\n   From: 山田太郎 <taro@example.jp>\r\n"), text)
        self.assertIn("資料を送ります。", text)
        self.assertEqual([f for _, f, _ in dove.listing("taro") if "\\Seen" in f], [])

    def test_delete_takes_only_the_marked_message_as_the_server_allows(self):
        # (capabilities, the marked message stays flagged \Deleted, messages in Trash after)
        kinds = [(None, False, 1), (NO_MOVE, False, 0), (NEITHER, True, 0)]
        servers, accounts = [], []
        for n, (caps, _, _) in enumerate(kinds, 1):
            dove = self.dovecot({"u%d" % n: [mail("消す%d" % n), mail("他%d" % n), mail("残す%d" % n)]},
                                pop3=False, imap_capability=caps)
            dove.set_flags("u%d" % n, 2)  # by another client, which has not expunged it yet
            servers.append(dove)
            accounts.append(account(n, "口座%d" % n, dove.imap_port, "u%d" % n))
        # Whether a message flagged \\Deleted is listed is the monitor's choice.
        self.start(accounts, None)
        wait_for("the three accounts listed", lambda: {"消す1", "消す2", "消す3"} <= set(self.subjects()), 30)
        self.mark(*[self.subjects().index("消す%d" % n) for n in (1, 2, 3)])
        self.prefix.click(self.main.hwnd, DEL_BT)
        box, _ = self.prefix.message_box()
        self.prefix.click(box.hwnd, IDYES)
        for n, (dove, (caps, stays, trashed)) in enumerate(zip(servers, kinds), 1):
            flags = lambda: {uid: f for uid, f, _ in dove.listing("u%d" % n)}  # noqa: E731
            wait_for("the delete on server %d" % n,
                     lambda: "\\Deleted" in flags()[1] if stays else 1 not in flags(), 60)
            self.assertEqual(sorted(flags()), [1, 2, 3] if stays else [2, 3], caps)
            self.assertIn("\\Deleted", flags()[2], caps)
            self.assertNotIn("\\Deleted", flags()[3], caps)
            self.assertEqual(dove.folder_count("u%d" % n), trashed, caps)

    def test_check_over_tls_and_starttls_with_the_test_ca(self):
        certs = make_certs()
        self.addCleanup(certs.cleanup)
        trust_ca(self.prefix, certs.ca)
        dove = self.dovecot({"implicit": [mail("一")], "starttls": [mail("二"), mail("三")]},
                            pop3=False, tls=certs.server)
        self.start([account(1, "暗号", dove.imaps_port, "implicit", Hname=HOST, Tlsmode=1),
                    account(2, "開始", dove.imap_port, "starttls", Hname=HOST, Tlsmode=2)], ["一", "二", "三"])
        self.assertEqual(self.caption(), "3" + ARRIVED)
        logins = {(m.group(1), "TLS" in m.group(2))
                  for m in re.finditer(r"imap-login: (?:Info: )?Login: user=<([^>]*)>(.*)", dove.log())}
        self.assertEqual(logins, {("implicit", True), ("starttls", True)})


if __name__ == "__main__":
    unittest.main()
