"""Today's mail under Wine against Dovecot: UTF-8 in Base64 words cut inside
a character, a Latin-1 name, quoted-printable, an HTML-only newsletter,
multipart/alternative and ISO-2022-JP are listed and read as text; with
Decodeall "0" the list shows what earlier versions showed."""
import unittest

from harness import wait_for
import samples
from test_popup import GRID
from test_retrieve import RETR_BT, RunTest

ISO_2022_JP = ("高橋 健", "takahashi@example.jp", "打ち合わせの議事録", "議事録を送ります。\n")


def mailbox():
    return [m[0] for m in samples.MODERN] + [samples.message(*ISO_2022_JP)]


class DecodingTest(RunTest):
    def open_viewer(self, row):
        self.prefix.run("tarvidrv.exe", "lvclick", self.main.hwnd, str(GRID), str(row), "2")
        return wait_for("viewer of row %d" % row, self.viewer_text, 30)

    def test_decoding_every_charset_listed_and_read(self):
        self.start_monitor(mailbox())
        rows = self.rows()
        self.assertEqual([r[3] for r in rows], [m[1] for m in samples.MODERN]
                         + ["%s <%s>" % ISO_2022_JP[:2]])
        self.assertEqual([r[4] for r in rows], [m[2] for m in samples.MODERN] + [ISO_2022_JP[2]])
        self.screenshot("decoding-popup")

        self.mark(0, 1, 2, 3, 4)
        self.prefix.click(self.main.hwnd, RETR_BT)
        wait_for("all retrieved", lambda: "retr=5/" in self.server.log(), 60)
        wait_for("marks cleared", lambda: [r[1] for r in self.rows()] == [""] * 5)
        for row, (_raw, sender, subject, shown, hidden) in enumerate(samples.MODERN):
            text = self.open_viewer(row)
            self.assertTrue(text.startswith("Subject: %s\r\n   From: %s\r\n\r\n" % (subject, sender)),
                            text)
            self.assertIn(shown, text)
            self.assertNotIn(hidden, text)
            self.assertNotIn("Attach:", text)
            if row == 2:
                self.screenshot("decoding-viewer-html")
            self.close_viewer()
        self.assertIn(ISO_2022_JP[3].strip(), self.open_viewer(4))

    def test_decoding_off_shows_the_words_as_they_came(self):
        self.start_monitor(mailbox(), Decodeall="0")
        rows = self.rows()
        raw_subject = samples.split_b_words(samples.GMAIL_SUBJECT, 16).replace("\r\n ", "")
        self.assertEqual(rows[0][4], raw_subject)
        self.assertEqual(rows[0][3], samples.q_word("René Müller", "ISO-8859-1") + " <rene@example.de>")
        # ISO-2022-JP was always decoded.
        self.assertEqual(rows[4][4], ISO_2022_JP[2])


if __name__ == "__main__":
    unittest.main()
