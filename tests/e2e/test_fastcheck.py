"""The fast check under Wine against Dovecot (Fastcheck 1): a second check
asks no TOP for mail it listed, one new message costs exactly one TOP and
alone is marked "N", a restart announces nothing already announced and asks
no TOP for it, and a message deleted by another client between the check
and the delete run makes the run delete nothing. The number of TOP commands
of each session is Dovecot's own count, from its logout line. The settings
program shows the option as a check box and, deleting an account, removes
the list kept for it."""
import glob
import os
import poplib
import re
import unittest

from harness import Dovecot, WineTest, scramble, wait_for
import samples
from test_popup import DEL_BT, GRID, MAIN_CLASS, low_port

CTRL = 2
IDYES, IDOK = 6, 1
# Control IDs of the settings program.
TAB_ACCOUNTS, ACCOUNTLIST, DELETE, FAST_CHECK = 901, 1200, 1203, 1016
BM_SETCHECK = 0x00F1
MESSAGES = [
    samples.message("山田太郎", "taro@example.jp", "一通目", "一\n"),
    samples.message("佐藤花子", "hanako@example.jp", "二通目", "二\n"),
    samples.message("鈴木一郎", "ichiro@example.jp", "三通目", "三\n"),
]
NEW = samples.message("高橋", "takahashi@example.jp", "四通目", "四\n")
LOGOUT = re.compile(r"pop3\(taro\).*Disconnected.*\btop=(\d+)/\d+.*\bdel=(\d+)/")


class FastCheckTest(WineTest):
    def setUp(self):
        super().setUp()
        self.server = Dovecot({"taro": ("pw", list(MESSAGES))}, port=low_port())
        self.addCleanup(self.server.stop)
        self.prefix.reg_import({
            "accountno": "1", "Aname1": "仕事", "Hname1": "127.0.0.1",
            "Portno1": str(self.server.port), "Uname1": "taro", "Passw1": scramble("pw"),
            "Check1": "1", "Option1value": "1", "Option5value": "1", "Option7value": "1",
            "Option9value": "0", "Closetimerval": "0", "Checktimerval": "0", "Fastcheck": "1"})

    # --- what Dovecot saw ------------------------------------------------
    def sessions(self):
        """(TOP count, DELE count) of every finished session, in order."""
        return [(int(m.group(1)), int(m.group(2)))
                for m in map(LOGOUT.search, self.server.log().splitlines()) if m]

    def wait_sessions(self, n):
        wait_for("%d sessions" % n, lambda: len(self.sessions()) >= n, 120)
        return [top for top, _ in self.sessions()]

    # --- what the user sees ----------------------------------------------
    def main(self, visible=None):
        return self.prefix.find(None, MAIN_CLASS, visible=visible)

    def rows(self):
        out = self.prefix.query("lvrows", self.main().hwnd, GRID)
        return [line.split("\t") for line in out.splitlines() if line]

    def start(self):
        proc = self.prefix.start("tarvimon.exe")
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        return proc

    def check_now(self):
        self.prefix.run("tarvidrv.exe", "key", str(CTRL), "114")  # Ctrl+F3

    def test_known_mail_is_not_asked_for_again(self):
        self.start()
        wait_for("popup after the first check", lambda: self.main(True), 120)
        self.assertEqual(self.wait_sessions(1), [3])
        wait_for("three rows", lambda: len(self.rows()) == 3, 30)

        # Later checks send one TOP n 0 besides: a look at the last message
        # known by its id, that it still is the one listed.
        self.check_now()
        self.assertEqual(self.wait_sessions(2), [3, 1])

        self.server.add_messages("taro", [NEW])
        self.check_now()
        self.assertEqual(self.wait_sessions(3), [3, 1, 2])
        wait_for("four rows", lambda: len(self.rows()) == 4, 30)
        rows = self.rows()
        self.assertEqual([r[4] for r in rows], ["一通目", "二通目", "三通目", "四通目"])
        self.assertEqual([r[0] for r in rows], ["", "", "", "N"])
        self.screenshot("fastcheck-one-new")

    def test_restart_announces_nothing_already_announced(self):
        proc = self.start()
        wait_for("popup after the first check", lambda: self.main(True), 120)
        self.assertEqual(self.wait_sessions(1), [3])
        kept = glob.glob(os.path.join(self.prefix.path, "drive_c", "users", "*", "**", "Tarvi", "list-*.dat"),
                         recursive=True)
        self.assertEqual(len(kept), 1, kept)
        self.prefix.run("tarvidrv.exe", "key", str(CTRL), "118")  # Ctrl+F7: quit, no question
        wait_for("monitor to end", lambda: proc.poll() is not None, 60)

        self.start()
        self.assertEqual(self.wait_sessions(2), [3, 1])  # one look, no listing
        done = "3通のメールが届いています!"
        wait_for("the cycle's caption", lambda: self.main() and self.main().title == done, 60)
        self.assertIsNone(self.main(True))  # no popup: nothing is new

        # Mail that came meanwhile is the only news.
        self.server.add_messages("taro", [NEW])
        self.check_now()
        self.assertEqual(self.wait_sessions(3), [3, 1, 2])
        wait_for("popup for the new mail", lambda: self.main(True), 60)
        wait_for("four rows", lambda: len(self.rows()) == 4, 30)
        self.assertEqual([r[0] for r in self.rows()], ["", "", "", "N"])

    def test_message_deleted_by_another_client_is_not_touched(self):
        self.start()
        wait_for("popup after the first check", lambda: self.main(True), 120)
        wait_for("three rows", lambda: len(self.rows()) == 3, 30)
        for r in (0, 1):  # the first and the second message
            self.prefix.run("tarvidrv.exe", "lvclick", self.main().hwnd, str(GRID), str(r))
            wait_for("mark on row %d" % r, lambda: self.rows()[r][1] == "○")
        # Another program takes the first message: numbers 1 and 2 now stand
        # for the second and the third message, both still there.
        pop = poplib.POP3("127.0.0.1", self.server.port, timeout=30)
        pop.user("taro")
        pop.pass_("pw")
        pop.dele(1)
        pop.quit()
        wait_for("delete button", lambda: self.prefix.state(self.main().hwnd, DEL_BT)[0])
        self.prefix.click(self.main().hwnd, DEL_BT)
        box, text = self.prefix.message_box()
        self.prefix.click(box.hwnd, IDYES)
        box = wait_for("the warning", self._warning, 60)
        self.prefix.click(box.hwnd, 1)  # IDOK
        self.assertEqual(self.server.message_count("taro"), 2)
        self.assertEqual(sum(dele for _, dele in self.sessions()), 1)  # the other client's
        wait_for("the fresh check lists the two left",
                 lambda: [r[4] for r in self.rows()] == ["二通目", "三通目"], 60)

    def _warning(self):
        box = self.prefix.find(None, "#32770")
        if not box:
            return None
        statics = [t for (c, i, t) in self.prefix.texts(box.hwnd) if c == "Static" and t]
        return box if statics and "削除しませんでした" in statics[-1] else None


def kept_name(host, port, user):
    """The file name the programs give the list kept for a mailbox."""
    h = 0xcbf29ce484222325
    for c in ("%s\n%d\n%s" % (host, port, user)).encode("utf-8"):
        h = ((h ^ c) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return "list-%016x.dat" % h


class FastCheckSettingsTest(WineTest):
    def test_check_box_and_deleting_an_account_removes_its_list(self):
        for n, user in ((1, "taro"), (2, "hanako")):
            self.prefix.set_account(n, "acc%d" % n, "127.0.0.1", 110, user, scramble("pw"))
        self.prefix.reg_import({"accountno": 2})
        folder = os.path.join(self.prefix.path, "drive_c", "users", "root", "AppData", "Local", "Tarvi")
        os.makedirs(folder, exist_ok=True)
        kept = {u: os.path.join(folder, kept_name("127.0.0.1", 110, u)) for u in ("taro", "hanako")}
        for path in kept.values():
            open(path, "wb").write(b"kept")

        proc = self.prefix.start("tarvicfg.exe")
        dlg = self.prefix.wait_window("OPTION", "#32770")
        # The harness keeps the dialogue of earlier versions: unchecked.
        self.assertEqual(self.prefix.state(dlg.hwnd, FAST_CHECK), (True, False))
        self.assertIn("新着メールのみ取得する(UIDL)", [t for (_c, i, t) in self.prefix.texts(dlg.hwnd) if i == FAST_CHECK])
        child = [l.split("\t")[1] for l in self.prefix.query("texts", dlg.hwnd).splitlines()
                 if l.startswith("child\t") and int(l.split("\t")[2]) == FAST_CHECK][0]
        self.prefix.run("tarvidrv.exe", "send", child, str(BM_SETCHECK), "1", "0")
        wait_for("box checked", lambda: self.prefix.state(dlg.hwnd, FAST_CHECK)[1])
        self.screenshot("settings-fastcheck")

        self.prefix.click(dlg.hwnd, TAB_ACCOUNTS)
        self.prefix.run("tarvidrv.exe", "lvclick", str(dlg.hwnd), str(ACCOUNTLIST), "0")
        wait_for("delete usable", lambda: self.prefix.state(dlg.hwnd, DELETE)[0])
        self.prefix.click(dlg.hwnd, DELETE)
        wait_for("the list kept for the deleted account gone", lambda: not os.path.exists(kept["taro"]))
        self.assertTrue(os.path.exists(kept["hanako"]))
        self.prefix.click(dlg.hwnd, IDOK)
        wait_for("tarvicfg to end", lambda: proc.poll() is not None)
        reg = self.prefix.reg_export()
        self.assertEqual(reg["Fastcheck"], "1")
        self.assertEqual(reg["accountno"], "1")


if __name__ == "__main__":
    unittest.main()
