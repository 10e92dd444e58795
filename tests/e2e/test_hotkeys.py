"""The monitor's global hotkeys and launching under Wine: keys pressed as a
user would (from a focused Wine window), a key taken by another program, the
mailer started with its quoted switch, and new keys after the settings
program."""
import os
import shutil
import subprocess

from harness import TITLE, WineTest, scramble, wait_for
from pop3_script import ScriptedPop3

MAIN_CLASS = "TarviMonMailForm"
IDOK, IDYES, IDNO = 1, 6, 7
CTRL, SHIFT = 2, 4
MAILBT2 = 102  # the popup's second mailer button


class HotkeyTest(WineTest):
    def start_monitor(self, **general):
        values = {"accountno": "1", "Aname1": "テスト", "Hname1": "127.0.0.1", "Portno1": "1",
                  "Uname1": "user", "Passw1": scramble("pw"), "Check1": "0"}
        values.update({k: str(v) for k, v in general.items()})
        self.prefix.reg_import(values)
        proc = self.prefix.start("tarvimon.exe")
        self.prefix.wait_window(TITLE, MAIN_CLASS, visible=False)
        return proc

    def press(self, mods, vk):
        self.prefix.run("tarvidrv.exe", "key", str(mods), str(vk))

    def popup_shown(self):
        return self.prefix.find(TITLE, MAIN_CLASS, visible=True)

    def test_popup_and_quit_keys(self):
        proc = self.start_monitor()
        self.press(CTRL, 115)  # Ctrl+F4: popup
        wait_for("popup", self.popup_shown)
        self.press(CTRL, 118)  # Ctrl+F7: quit, with the question
        box, text = self.prefix.message_box()
        self.assertEqual(text, "終了しますか？")
        self.prefix.click(box.hwnd, IDYES)
        wait_for("monitor to end", lambda: proc.poll() is not None)

    def test_check_key_starts_a_check(self):
        server = ScriptedPop3([b"Subject: hi\r\n\r\nbody\r\n"], user="joe", password="pw")
        self.addCleanup(server.stop)
        self.start_monitor(Portno1=server.port, Uname1="joe", Check1=1)
        self.assertEqual(server.received(), [])
        self.press(CTRL, 114)  # Ctrl+F3: check mail now
        wait_for("the check's dialogue", lambda: "QUIT" in server.received())
        self.assertEqual(server.received(), ["USER joe", "PASS pw", "STAT", "TOP 1 5", "QUIT"])

    def test_key_taken_by_another_program_is_reported_and_others_work(self):
        self.assertTrue(self.grab(CTRL, 114))
        self.start_monitor()
        box, text = self.prefix.message_box()
        self.assertEqual(text, "メールチェックの起動キーCtrl+F3の設定に失敗しました")
        self.prefix.answer(box, IDOK)
        wait_for("message to close", lambda: self.prefix.find(TITLE, "#32770") is None)
        self.press(CTRL, 115)
        wait_for("popup", self.popup_shown)

    def test_mailer_key_starts_quoted_path_with_switch(self):
        self.start_monitor(Mailerdir1='"C:\\tarvi\\recordargs.exe" /check')
        self.press(CTRL, 116)  # Ctrl+F5: mailer 1
        recorded = wait_for("mailer to run", lambda: self.prefix.reg_export().get("recordedCommandLine"))
        self.assertEqual(recorded, '"C:\\tarvi\\recordargs.exe" /check')
        self.assertIsNone(self.popup_shown())

    def test_mailer_button_hides_popup_and_starts_mailer(self):
        self.start_monitor(Mailerdir2='"C:\\tarvi\\recordargs.exe" /compose')
        self.press(CTRL, 115)
        popup = wait_for("popup", self.popup_shown)
        buttons = {i: c for (c, i, t) in self.prefix.texts(popup.hwnd)}
        self.assertIn(MAILBT2, buttons)
        self.prefix.click(popup.hwnd, MAILBT2)
        recorded = wait_for("mailer to run", lambda: self.prefix.reg_export().get("recordedCommandLine"))
        self.assertEqual(recorded, '"C:\\tarvi\\recordargs.exe" /compose')
        wait_for("popup hidden", lambda: self.popup_shown() is None)

    def test_new_key_works_after_the_settings_program(self):
        shutil.copy(os.path.join(self.prefix.app, "fakecfg.exe"), os.path.join(self.prefix.app, "tarvicfg.exe"))
        self.prefix.env["FAKECFG_MODE"] = "popupkey"
        self.start_monitor()
        self.press(CTRL, 113)  # Ctrl+F2: settings; the stand-in moves the popup to Ctrl+B
        wait_for("settings program run", lambda: self.prefix.reg_export().get("fakecfgRuns") == "1")
        self.press(CTRL, 66)   # the new key shows the popup
        wait_for("popup", self.popup_shown)
        # The old key was released: another program can now take it.
        self.assertTrue(self.grab(CTRL, 115))

    def grab(self, mods, vk):
        grab = subprocess.Popen(["wine", self.prefix.win_path("tarvidrv.exe"), "grab", str(mods), str(vk)],
                                env=self.prefix.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.addCleanup(grab.kill)
        return grab.stdout.readline().strip() == b"grabbed"
