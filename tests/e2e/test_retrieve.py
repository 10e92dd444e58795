"""Retrieving marked messages under Wine against Dovecot: two rows are
marked, the retrieve button fetches them, and the viewer, read through its
edit control from another process, shows their decoded text; the log
button shows the session log in the same window."""
import unittest

from harness import TITLE, Dovecot, WineTest, scramble, wait_for
import samples
from test_popup import DEL_BT, GRID, MAIN_CLASS, RETR_BT, low_port

LOG_BT = 105
VIEWER_CLASS = "TarviMonViewer"
VIEWER_TEXT = 201

MESSAGES = [
    ("山田太郎", "taro@example.jp", "会議の資料について", "資料を送ります。\n確認してください。\n", None),
    # A text part shorter than the window in which a part's name is looked
    # for would be taken for the attachment's; real ones are longer.
    ("カタカナ商事", "sales@example.jp", "お見積もり",
     "お見積もりです。\n" + "詳細は添付の見積書をご覧ください。\n" * 12, ("見積書.pdf", b"%PDF-1.4 x")),
    ("佐藤花子", "hanako@example.jp", "来週の予定", "よろしくお願いします。\n", None),
]


class RunTest(WineTest):
    """Shared steps of the retrieve and delete tests."""

    def start_monitor(self, messages, **general):
        self.server = Dovecot({"taro": ("pw", messages)}, port=low_port())
        self.addCleanup(self.server.stop)
        values = {"accountno": "1", "Aname1": "仕事", "Hname1": "127.0.0.1",
                  "Portno1": str(self.server.port), "Uname1": "taro", "Passw1": scramble("pw"),
                  "Check1": "1", "Option1value": "1", "Option5value": "1", "Option9value": "0",
                  "Closetimerval": "0", "Option7value": "1", "Checktimerval": "0"}
        values.update({k: str(v) for k, v in general.items()})
        self.prefix.reg_import(values)
        self.prefix.start("tarvimon.exe")
        wait_for("popup after the check", self.popup, 120)
        self.main = self.popup()
        wait_for("rows", lambda: len(self.rows()) == len(messages), 30)

    def popup(self):
        return self.prefix.find(None, MAIN_CLASS, visible=True)

    def rows(self):
        out = self.prefix.query("lvrows", self.main.hwnd, GRID)
        return [line.split("\t") for line in out.splitlines() if line]

    def enabled(self, control):
        return self.prefix.state(self.main.hwnd, control)[0]

    def mark(self, *rows):
        for r in rows:
            self.prefix.run("tarvidrv.exe", "lvclick", self.main.hwnd, str(GRID), str(r))
            wait_for("mark on row %d" % r, lambda: self.rows()[r][1] == "○")
        wait_for("buttons enabled", lambda: self.enabled(RETR_BT) and self.enabled(DEL_BT))

    def caption(self):
        w = self.prefix.find(None, MAIN_CLASS, visible=None)
        return w.title if w else None

    def close_viewer(self):
        viewer = self.prefix.find("Viewer", VIEWER_CLASS, visible=True)
        self.prefix.post(viewer.hwnd, 0x0010)  # WM_CLOSE
        wait_for("viewer closed", lambda: self.prefix.find("Viewer", VIEWER_CLASS, visible=None) is None)

    def viewer_text(self):
        w = self.prefix.find("Viewer", VIEWER_CLASS, visible=True)
        if not w:
            return None
        for (cls, ident, text) in self.prefix.texts(w.hwnd):
            if ident == VIEWER_TEXT:
                return text
        return None


class RetrieveTest(RunTest):
    def test_retrieve_two_and_read_them(self):
        self.start_monitor([samples.message(*m[:4], attachment=m[4]) for m in MESSAGES],
                           Option8value="1")
        caption = self.caption()
        self.assertEqual(caption, "3通のメールが届いています!")
        self.mark(0, 1)
        self.prefix.click(self.main.hwnd, RETR_BT)
        wait_for("both retrieved", lambda: "retr=2/" in self.server.log(), 60)
        wait_for("caption restored", lambda: self.caption() == caption, 30)
        wait_for("marks cleared", lambda: [r[1] for r in self.rows()] == ["", "", ""])
        self.assertFalse(self.enabled(RETR_BT))
        self.assertFalse(self.enabled(DEL_BT))

        # A double-click marks the row with its first click and opens the
        # viewer with the second.
        self.prefix.run("tarvidrv.exe", "lvclick", self.main.hwnd, str(GRID), "0", "2")
        text = wait_for("viewer", self.viewer_text, 30)
        self.assertTrue(text.startswith("Subject: 会議の資料について\r\n"
                                        "   From: 山田太郎 <taro@example.jp>\r\n\r\n"), text)
        self.assertIn("資料を送ります。\r\n確認してください。", text)
        self.assertNotIn("Attach:", text)
        self.assertEqual(self.rows()[0][1], "")
        self.assertFalse(self.enabled(RETR_BT))
        self.screenshot("viewer-message")

        # The viewer stands in front of the list: the user closes it (it
        # comes back on the next use) before clicking the list again.
        self.close_viewer()
        self.prefix.run("tarvidrv.exe", "lvclick", self.main.hwnd, str(GRID), "1", "2")
        wait_for("second message", lambda: (self.viewer_text() or "").startswith("Subject: お見積もり"))
        text = self.viewer_text()
        self.assertIn("\r\n Attach:  \"見積書.pdf\" \r\n\r\n", text)
        self.assertIn("お見積もりです。", text)
        self.assertNotIn("JVBERi0", text)  # the attachment's Base64 stays out

        # A message that was not retrieved opens nothing; the mark goes.
        self.close_viewer()
        self.prefix.run("tarvidrv.exe", "lvclick", self.main.hwnd, str(GRID), "2", "2")
        wait_for("mark gone", lambda: self.rows()[2][1] == "")
        self.assertIsNone(self.viewer_text())

        # The log button opens the viewer again, with the session log.
        self.prefix.click(self.main.hwnd, LOG_BT)
        log = wait_for("log in the viewer", self.viewer_text, 30)
        self.assertIn("RETR 1", log)
        self.assertIn("PASS ******************************", log)
        self.assertNotIn("PASS pw", log)


if __name__ == "__main__":
    unittest.main()
