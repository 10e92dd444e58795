"""Start-up and shut-down of the monitor under Wine: single instance, first
configuration, the unload question, and the registry store."""
import os
import shutil
import subprocess
import time

from harness import TITLE, WineTest, scramble, wait_for

MAIN_CLASS = "TarviMonMailForm"
WM_CLOSE, WM_SYSCOMMAND, SC_CLOSE = 0x0010, 0x0112, 0xF060
IDOK, IDYES, IDNO = 1, 6, 7


class StartupTest(WineTest):
    def configure(self, **general):
        values = {"accountno": "1", "Aname1": "テスト", "Hname1": "127.0.0.1", "Portno1": "1",
                  "Uname1": "user", "Passw1": scramble("secret"), "Check1": "0"}
        values.update({k: str(v) for k, v in general.items()})
        self.prefix.reg_import(values)

    def start_monitor(self, **env):
        proc = self.prefix.start("tarvimon.exe", env=env or None)
        main = self.prefix.wait_window(TITLE, MAIN_CLASS, visible=False)
        return proc, main

    def no_box(self):
        return self.prefix.find(TITLE, "#32770") is None

    def test_second_instance_is_refused_and_first_stays(self):
        self.configure()
        first, main = self.start_monitor()
        second = self.prefix.start("tarvimon.exe")
        box, text = self.prefix.message_box()
        self.assertEqual(text, "既に起動しています")
        self.prefix.answer(box, IDOK)
        wait_for("second instance to end", lambda: second.poll() is not None)
        self.assertIsNone(first.poll())
        self.assertIsNotNone(self.prefix.find(TITLE, MAIN_CLASS, visible=False))

    def test_unconfigured_runs_settings_program_until_an_account_exists(self):
        shutil.copy(os.path.join(self.prefix.app, "fakecfg.exe"), os.path.join(self.prefix.app, "tarvicfg.exe"))
        proc = self.prefix.start("tarvimon.exe", env={"FAKECFG_MODE": "firstnone"})
        for run in (1, 2):
            box, text = self.prefix.message_box()
            self.assertEqual(text, "最初に設定をしてください")
            if run == 1:
                self.screenshot("startup-first-configuration")
            self.prefix.answer(box, IDOK)
            wait_for("settings program run %d" % run,
                     lambda: self.prefix.reg_export().get("fakecfgRuns") == str(run))
        main = self.prefix.wait_window(TITLE, MAIN_CLASS, visible=False)
        self.assertFalse(main.visible)
        self.assertIsNone(proc.poll())
        self.assertTrue(self.no_box())
        self.assertEqual(self.prefix.reg_export()["Aname1"], "テスト")

    def remove_settings_program(self):
        path = os.path.join(self.prefix.app, "tarvicfg.exe")
        if os.path.exists(path):
            os.remove(path)

    def test_missing_settings_program_ends_the_monitor_with_a_message(self):
        self.remove_settings_program()
        proc = self.prefix.start("tarvimon.exe")
        box, text = self.prefix.message_box()
        self.assertEqual(text, "最初に設定をしてください")
        self.prefix.answer(box, IDOK)
        box2 = wait_for("second message", lambda: (lambda b: b if b and b.hwnd != box.hwnd else None)(
            self.prefix.find(TITLE, "#32770")))
        statics = [t for (c, i, t) in self.prefix.texts(box2.hwnd) if c == "Static" and t]
        self.assertIn("tarvicfg.exe", statics[-1])
        self.prefix.click(box2.hwnd, IDOK)
        wait_for("monitor to end", lambda: proc.poll() is not None)

    def test_unload_question_no_keeps_running_yes_ends(self):
        self.configure()
        proc, main = self.start_monitor()
        # Neither the title bar's Close nor Alt+F4 (both SC_CLOSE) nor a plain
        # WM_CLOSE ends the monitor.
        self.prefix.post(main.hwnd, WM_SYSCOMMAND, SC_CLOSE)
        self.prefix.post(main.hwnd, WM_CLOSE)
        self.prefix.post(main.hwnd, WM_CLOSE, 1)  # the monitor's own unload
        box, text = self.prefix.message_box()
        self.assertEqual(text, "終了しますか？")
        buttons = [i for (c, i, t) in self.prefix.texts(box.hwnd) if c == "Button"]
        self.assertEqual(sorted(buttons), [IDYES, IDNO])
        self.prefix.click(box.hwnd, IDNO)
        wait_for("question to close", self.no_box)
        self.assertIsNone(proc.poll())
        self.assertIsNotNone(self.prefix.find(TITLE, MAIN_CLASS, visible=False))
        self.prefix.post(main.hwnd, WM_CLOSE, 1)
        box, text = self.prefix.message_box()
        self.assertEqual(text, "終了しますか？")
        self.prefix.click(box.hwnd, IDYES)
        wait_for("monitor to end", lambda: proc.poll() is not None)

    def test_option7_ends_without_asking(self):
        self.configure(Option7value=1)
        proc, main = self.start_monitor()
        self.prefix.post(main.hwnd, WM_CLOSE, 1)
        wait_for("monitor to end", lambda: proc.poll() is not None)

    def test_end_of_session_asks_the_same_question(self):
        self.configure()
        proc, main = self.start_monitor()
        ender = subprocess.Popen(["wine", "wineboot", "--end-session"], env=self.prefix.env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        box, text = self.prefix.message_box()
        self.assertEqual(text, "終了しますか？")
        self.prefix.click(box.hwnd, IDYES)
        wait_for("monitor to end", lambda: proc.poll() is not None)
        ender.wait(timeout=60)

    def test_cancelled_end_of_session_ends_only_an_agreed_monitor(self):
        # Another program cancels the end of the session after the question:
        # answered No, the monitor goes on; answered Yes, it has already let
        # go of its hotkeys, and it ends rather than stay without them.
        WM_QUERYENDSESSION, WM_ENDSESSION = 0x11, 0x16
        self.configure()
        proc, main = self.start_monitor()
        for answer in (IDNO, IDYES):
            self.prefix.post(main.hwnd, WM_QUERYENDSESSION)
            box, text = self.prefix.message_box()
            self.assertEqual(text, "終了しますか？")
            self.prefix.answer(box, answer)
            self.prefix.post(main.hwnd, WM_ENDSESSION, 0)
            if answer == IDNO:
                time.sleep(2)
                self.assertIsNone(proc.poll())
        wait_for("monitor to end", lambda: proc.poll() is not None)

    def test_store_texts_read_back_exactly(self):
        value = "C:\\Program Files\\ﾒｰﾗｰ\\日本語 \"quoted\".exe"
        self.prefix.run("storetool.exe", "put", "Mailerdir1", value)
        self.prefix.run("storetool.exe", "put", "Checktimerval", "15")
        self.assertEqual(self.prefix.reg_export()["Mailerdir1"], value)
        self.assertEqual(self.prefix.run("storetool.exe", "get", "Mailerdir1").rstrip("\n"), value)
        out = self.prefix.run("reg", "query", "HKCU\\Software\\VB and VBA Program Settings\\tarvimon\\setting",
                              "/v", "Checktimerval")
        self.assertRegex(out, r"Checktimerval\s+REG_SZ\s+15")

    def test_japanese_texts_do_not_depend_on_the_system_code_page(self):
        # An English system: the Japanese texts of the monitor and of the
        # store come through unchanged, as they never pass the ANSI code page.
        self.prefix.env.update({"LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"})
        self.remove_settings_program()
        self.prefix.run("storetool.exe", "put", "Aname1", "会社ｱｶｳﾝﾄ")
        self.assertEqual(self.prefix.run("storetool.exe", "get", "Aname1").rstrip("\n"), "会社ｱｶｳﾝﾄ")
        proc = self.prefix.start("tarvimon.exe")
        box, text = self.prefix.message_box()
        self.assertEqual(text, "最初に設定をしてください")
        self.prefix.answer(box, IDOK)
        wait_for("ending message", lambda: any(
            "tarvicfg.exe" in t for b in [self.prefix.find(TITLE, "#32770")] if b
            for (c, i, t) in self.prefix.texts(b.hwnd)))
