"""The popup mail list and the new-mail alerts under Wine: a check against
Dovecot fills the list (read from another process through the ListView's
own messages), a click marks a row, OK hides the popup and stores the
layout, and the Scroll Lock lamp ends off after blinking."""

from harness import TITLE, Dovecot, WineTest, scramble, wait_for
import samples
from harness import free_port as low_port  # ports that fit Portno

MAIN_CLASS = "TarviMonMailForm"
GRID, OK_BT, RETR_BT, DEL_BT = 110, 106, 103, 104
CTRL = 2

MESSAGES = [
    ("山田太郎", "taro@example.jp", "会議の資料について", "資料を送ります。\n", None),
    ("カタカナ商事", "sales@example.jp", "お見積もり", "お見積もりです。\n", ("見積書.pdf", b"%PDF-1.4 x")),
    ("佐藤花子", "hanako@example.jp", "来週の予定", "よろしくお願いします。\n", None),
]


def raw(sender, addr, subject, body, attachment):
    return samples.message(sender, addr, subject, body, attachment=attachment)


class PopupTest(WineTest):
    def configure(self, port, **general):
        values = {"accountno": "1", "Aname1": "仕事", "Hname1": "127.0.0.1", "Portno1": str(port),
                  "Uname1": "taro", "Passw1": scramble("pw"), "Check1": "1",
                  "Option1value": "1", "Option4value": "1", "Lighttimerval": "2",
                  "Closetimerval": "0", "Option7value": "1"}
        values.update({k: str(v) for k, v in general.items()})
        self.prefix.reg_import(values)

    def popup(self):
        return self.prefix.find(None, MAIN_CLASS, visible=True)

    def rows(self, hwnd):
        out = self.prefix.query("lvrows", hwnd, GRID)
        return [line.split("\t") for line in out.splitlines() if line]

    def state(self, hwnd, control):
        return self.prefix.state(hwnd, control)

    def test_layout_of_the_empty_popup(self):
        self.configure(1, Check1="0", Option8value="1")
        self.prefix.start("tarvimon.exe")
        main = self.prefix.wait_window(TITLE, MAIN_CLASS, visible=False)
        self.prefix.run("tarvidrv.exe", "key", str(CTRL), "115")  # Ctrl+F4: popup
        wait_for("popup", self.popup)
        texts = self.prefix.texts(main.hwnd)
        self.assertIn(("Button", OK_BT, "OK"), texts)
        self.assertIn(("Button", 105, "L"), texts)
        self.assertFalse(self.state(main.hwnd, RETR_BT)[0])
        self.screenshot("popup-empty")

    def test_check_with_new_mail_lists_the_messages(self):
        server = Dovecot({"taro": ("pw", [raw(*m) for m in MESSAGES])}, port=low_port())
        self.addCleanup(server.stop)
        self.configure(server.port, Option5value="1", Option9value="1")
        self.prefix.start("tarvimon.exe")
        wait_for("popup after the check", self.popup, 120)
        main = self.popup()
        self.assertEqual(main.title, "3通のメールが届いています!")
        rows = wait_for("rows", lambda: self.rows(main.hwnd), 30)
        self.assertEqual([r[3] for r in rows],
                         ["佐藤花子 <hanako@example.jp>", "カタカナ商事 <sales@example.jp>",
                          "山田太郎 <taro@example.jp>"][:len(rows)])
        self.assertEqual([r[4] for r in rows], ["来週の予定", "お見積もり", "会議の資料について"])
        self.assertEqual([r[0] for r in rows], ["N", "N", "N"])
        self.assertEqual([r[1] for r in rows], ["", "", ""])
        self.assertEqual([(r[5], r[6]) for r in rows], [("1", "3"), ("1", "2"), ("1", "1")])
        self.screenshot("popup-new-mail")

        self.prefix.run("tarvidrv.exe", "lvclick", main.hwnd, str(GRID), "1")
        wait_for("mark", lambda: self.rows(main.hwnd)[1][1] == "○")
        self.assertTrue(self.state(main.hwnd, RETR_BT)[0])
        self.assertTrue(self.state(main.hwnd, DEL_BT)[0])
        self.prefix.run("tarvidrv.exe", "lvclick", main.hwnd, str(GRID), "1")
        wait_for("unmark", lambda: self.rows(main.hwnd)[1][1] == "")
        self.assertFalse(self.state(main.hwnd, RETR_BT)[0])

        # The lamp blinks for (2 + 1) seconds and then stays off.
        wait_for("lamp off after blinking",
                 lambda: self.prefix.query("scrollstate").strip() == "0", 30)

        self.prefix.click(main.hwnd, OK_BT)
        wait_for("popup hidden", lambda: self.popup() is None)
        stored = self.prefix.reg_export()
        self.assertEqual([stored.get("grdWidth%d" % c) for c in range(6)],
                         ["260", "260", "130", "2740", "4770", "300"])
        self.assertEqual((stored.get("frmWidth"), stored.get("frmHeight")), ("8730", "4710"))
        self.assertEqual(self.prefix.query("scrollstate").strip(), "0")
