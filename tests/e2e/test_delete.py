"""Deleting marked messages under Wine against Dovecot: two rows marked,
the question answered Yes, and Dovecot's maildir holds only the others,
which the fresh check lists; No deletes nothing; and when another client
deleted a message between the check and the delete, nothing wrong is
deleted and the user is told."""
import os
import poplib
import unittest

from harness import Dovecot, WineTest, wait_for  # noqa: F401
import samples
from test_popup import DEL_BT
from test_retrieve import RunTest

IDYES, IDNO = 6, 7
MESSAGES = [
    samples.message("山田太郎", "taro@example.jp", "一通目", "一\n"),
    samples.message("佐藤花子", "hanako@example.jp", "二通目", "二\n"),
    samples.message("鈴木一郎", "ichiro@example.jp", "三通目", "三\n"),
    samples.message("高橋", "takahashi@example.jp", "四通目", "四\n"),
]


class DeleteTest(RunTest):
    def stored(self):
        """The messages in the maildir, as the bytes they were put there with."""
        md = self.server.maildir("taro")
        out = set()
        for sub in ("new", "cur"):
            for name in os.listdir(os.path.join(md, sub)):
                with open(os.path.join(md, sub, name), "rb") as f:
                    out.add(f.read())
        return out

    def original(self, *indexes):
        return {MESSAGES[i].replace(b"\r\n", b"\n") for i in indexes}

    def ask(self, answer):
        self.prefix.click(self.main.hwnd, DEL_BT)
        box, text = self.prefix.message_box()
        self.assertEqual(text, "○の付いたメールを削除します\r\nよろしいですか？")
        self.prefix.click(box.hwnd, answer)
        return box

    def subjects(self):
        return [r[4] for r in self.rows()]

    def test_delete_two_marked_messages(self):
        self.start_monitor(MESSAGES)
        self.mark(1, 3)
        self.ask(IDNO)
        wait_for("question gone", lambda: self.prefix.find(None, "#32770") is None)
        self.assertEqual(self.stored(), self.original(0, 1, 2, 3))

        self.ask(IDYES)
        wait_for("two deleted", lambda: self.server.message_count("taro") == 2, 60)
        self.assertEqual(self.stored(), self.original(0, 2))
        wait_for("the fresh check lists the others", lambda: self.subjects() == ["一通目", "三通目"], 60)
        wait_for("caption", lambda: self.caption() == "2通のメールが届いています!", 30)
        self.assertEqual([r[0] for r in self.rows()], ["", ""])  # not taken for new mail
        self.screenshot("after-delete")

    def test_mailbox_changed_by_another_client(self):
        self.start_monitor(MESSAGES)
        self.mark(1, 3)
        # Another program takes the first message: numbers 2 and 4 now stand
        # for the third message and for none.
        pop = poplib.POP3("127.0.0.1", self.server.port, timeout=30)
        pop.user("taro")
        pop.pass_("pw")
        pop.dele(1)
        pop.quit()
        self.assertEqual(self.stored(), self.original(1, 2, 3))

        self.ask(IDYES)
        box, text = wait_for("the warning", lambda: self._warning(), 60)
        self.assertIn("削除しませんでした", text)
        self.assertIn("仕事", text)
        self.screenshot("delete-refused")
        self.prefix.click(box.hwnd, 1)  # IDOK
        self.assertEqual(self.stored(), self.original(1, 2, 3))
        wait_for("the fresh check lists what is there",
                 lambda: self.subjects() == ["二通目", "三通目", "四通目"], 60)

    def _warning(self):
        box = self.prefix.find(None, "#32770")
        if not box:
            return None
        statics = [t for (c, i, t) in self.prefix.texts(box.hwnd) if c == "Static" and t]
        if statics and "削除しませんでした" in statics[-1]:
            return box, statics[-1]
        return None


if __name__ == "__main__":
    unittest.main()
