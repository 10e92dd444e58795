"""The settings program under Wine: what an empty store shows, the hotkey
duplicate check, an account added through the editor, a second start."""
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import DEFAULT_SETTINGS, WineTest, TITLE, scramble, wait_for  # noqa: E402

# Control IDs of the settings program's dialogs.
TAB_GENERAL, TAB_ACCOUNTS, RESET_WIDTHS = 900, 901, 902
OPTION1 = 1001           # the twelve check boxes follow
TIMER1 = 1020            # timerbox1..4
MAILER1, MAILER2, WAV, WAV_REF = 1030, 1031, 1036, 1038
DIALLIST, REDIAL = 1041, 1043
KEY0 = 1070              # cmb_Key(0..7)
ACCOUNTLIST, ADD, EDIT, DELETE = 1200, 1201, 1202, 1203
ACC_NAME, ACC_HOST, ACC_PORT, ACC_USER, ACC_PASS, ACC_CHECK = 2001, 2002, 2003, 2004, 2005, 2006
ACC_FORE, ACC_BACK, ACC_SOUND0, ACC_WAV = 2007, 2008, 2010, 2013
IDOK, IDCANCEL = 1, 2
TRAY_ICON, RUN_AT_LOGON, QUIET = 1014, 1015, 1017
BM_SETCHECK = 0x00F1
RUN_KEY = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"


class SettingsTest(WineTest):
    def open_options(self):
        proc = self.prefix.start("tarvicfg.exe")
        dlg = self.prefix.wait_window("OPTION", "#32770")
        return proc, dlg

    def drv(self, *args):
        return self.prefix.run("tarvidrv.exe", *[str(a) for a in args], check=False)

    def state(self, hwnd, cid):
        return self.prefix.state(hwnd, cid)

    def child(self, hwnd, cid):
        for line in self.prefix.query("texts", hwnd).splitlines():
            parts = line.split("\t")
            if parts[0] == "child" and len(parts) == 6 and int(parts[2]) == cid:
                return parts[1]
        raise AssertionError("no control %d" % cid)

    def visible(self, hwnd, cid):
        for line in self.prefix.query("texts", hwnd).splitlines():
            parts = line.split("\t")
            if parts[0] == "child" and len(parts) == 6 and int(parts[2]) == cid:
                return parts[3] == "1"
        return False

    def text(self, hwnd, cid):
        for (_cls, i, t) in self.prefix.texts(hwnd):
            if i == cid:
                return t
        raise AssertionError("no control %d" % cid)

    def wait_exit(self, proc):
        wait_for("tarvicfg to end", lambda: proc.poll() is not None)

    def set_check(self, hwnd, cid, on):
        self.drv("send", self.child(hwnd, cid), BM_SETCHECK, 1 if on else 0, 0)
        wait_for("check box %d set" % cid, lambda: self.state(hwnd, cid)[1] == on)

    def test_settings_tray_icon_start_at_logon_and_quiet_round_trip(self):
        proc, dlg = self.open_options()
        # The harness turns the icon off; nothing starts the monitor at logon;
        # quiet is on while nothing is stored.
        self.assertEqual(self.state(dlg.hwnd, TRAY_ICON), (True, False))
        self.assertEqual(self.state(dlg.hwnd, RUN_AT_LOGON), (True, False))
        self.assertEqual(self.state(dlg.hwnd, QUIET), (True, True))
        self.set_check(dlg.hwnd, TRAY_ICON, True)
        self.set_check(dlg.hwnd, RUN_AT_LOGON, True)
        self.set_check(dlg.hwnd, QUIET, False)
        self.prefix.click(dlg.hwnd, IDOK)
        self.wait_exit(proc)
        self.assertEqual(self.prefix.reg_export().get("Trayicon"), "1")
        self.assertEqual(self.prefix.reg_export().get("Quiet"), "0")
        self.assertEqual(self.prefix.reg_export(RUN_KEY).get("Tarvi"), '"C:\\tarvi\\tarvimon.exe"')

        proc, dlg = self.open_options()
        self.assertTrue(self.state(dlg.hwnd, TRAY_ICON)[1])
        self.assertTrue(self.state(dlg.hwnd, RUN_AT_LOGON)[1])
        self.screenshot("settings_general_tray")
        self.assertFalse(self.state(dlg.hwnd, QUIET)[1])
        self.set_check(dlg.hwnd, RUN_AT_LOGON, False)
        self.set_check(dlg.hwnd, TRAY_ICON, False)
        self.set_check(dlg.hwnd, QUIET, True)
        self.prefix.click(dlg.hwnd, IDOK)
        self.wait_exit(proc)
        self.assertNotIn("Tarvi", self.prefix.reg_export(RUN_KEY))
        self.assertEqual(self.prefix.reg_export().get("Trayicon"), "0")
        self.assertEqual(self.prefix.reg_export().get("Quiet"), "1")

    def test_settings_empty_store_shows_defaults(self):
        proc, dlg = self.open_options()
        texts = self.prefix.texts(dlg.hwnd)
        captions = {t for (_c, _i, t) in texts}
        for label in ("全般", "ｱｶｳﾝﾄ", "ﾒｰﾙ到着時", "起動ｷｰ", "リスト列幅を元に戻す", "OK", "ｷｬﾝｾﾙ",
                      "前回ﾁｪｯｸ時より新しいﾒｰﾙが届いている場合のみ知らせる", "使用する接続:", "ﾘﾀﾞｲｱﾙ:",
                      "分おきにチェック", "秒後に閉じる", "タイムアップ", "秒間", "WAVﾌｧｲﾙの場所:",
                      "設定:", "ﾒｰﾙﾁｪｯｸ:", "終了:", "切断:", "追加", "編集", "削除"):
            self.assertIn(label, captions)
        checked = [self.state(dlg.hwnd, OPTION1 + i)[1] for i in range(12)]
        self.assertEqual(checked, [False, False, True, True] + [False] * 8)
        self.assertEqual([self.text(dlg.hwnd, TIMER1 + i) for i in range(4)], ["0", "0", "1", "5"])
        self.assertEqual([self.state(dlg.hwnd, TIMER1 + i)[0] for i in range(4)], [True, False, True, True])
        self.assertFalse(self.state(dlg.hwnd, WAV)[0])
        self.assertFalse(self.state(dlg.hwnd, WAV_REF)[0])
        self.assertEqual(self.text(dlg.hwnd, MAILER1), "")
        self.assertEqual(self.text(dlg.hwnd, REDIAL), "0")
        self.assertEqual([self.text(dlg.hwnd, KEY0 + i) for i in range(8)],
                         ["Ctrl+F%d キー" % (2 + i) for i in range(8)])
        self.assertFalse(self.state(dlg.hwnd, EDIT)[0])
        self.assertFalse(self.state(dlg.hwnd, DELETE)[0])
        self.screenshot("settings_general")

        # A bad timer or redial value greys OK until it is corrected.
        for cid, bad in ((TIMER1, "-1"), (TIMER1 + 2, "abc"), (REDIAL, "1.5")):
            self.drv("settext", dlg.hwnd, cid, bad)
            wait_for("OK greyed", lambda: not self.state(dlg.hwnd, IDOK)[0])
            self.drv("settext", dlg.hwnd, cid, "3")
            wait_for("OK usable", lambda: self.state(dlg.hwnd, IDOK)[0])

        self.prefix.click(dlg.hwnd, TAB_ACCOUNTS)
        wait_for("account page", lambda: self.visible(dlg.hwnd, ACCOUNTLIST)
                 and not self.visible(dlg.hwnd, OPTION1))
        self.screenshot("settings_accounts")
        self.prefix.click(dlg.hwnd, IDCANCEL)
        self.wait_exit(proc)
        self.assertEqual(self.prefix.reg_export(), DEFAULT_SETTINGS)  # nothing written

    def test_settings_hotkey_duplicate_writes_nothing(self):
        proc, dlg = self.open_options()
        # List 3 defaults to Ctrl+F5 (position 30); list 0 joins it.
        self.drv("select", dlg.hwnd, KEY0, 30)
        wait_for("selection", lambda: self.text(dlg.hwnd, KEY0) == "Ctrl+F5 キー")
        self.prefix.click(dlg.hwnd, IDOK)
        box, message = self.prefix.message_box()
        self.assertEqual(message, "起動キーが重複しています")
        self.prefix.click(box.hwnd, IDOK)
        wait_for("box closed", lambda: self.prefix.find(TITLE, "#32770") is None)
        self.assertIsNone(proc.poll())
        self.assertEqual(self.prefix.reg_export(), DEFAULT_SETTINGS)  # nothing written

        # Several lists at "無し" are no duplicate; list 5 has no such item.
        for i in (0, 1, 6):
            self.drv("select", dlg.hwnd, KEY0 + i, 58)
        self.drv("select", dlg.hwnd, KEY0 + 5, 0)
        wait_for("selection", lambda: self.text(dlg.hwnd, KEY0 + 6) == "無し")
        self.prefix.click(dlg.hwnd, IDOK)
        self.wait_exit(proc)
        reg = self.prefix.reg_export()
        self.assertEqual([reg.get("Hotkeynum%d" % i) for i in range(8)],
                         ["0", "0", "115", "116", "117", "65", "0", "120"])
        self.assertEqual(reg.get("Option3value"), "1")
        self.assertEqual(reg.get("Timeupval"), "1")
        self.assertEqual(reg.get("Defdialno"), "-1")   # no dial-up entries under Wine
        self.assertEqual(reg.get("Mailerdir1"), "")
        self.assertEqual(reg.get("accountno"), "0")

    def test_settings_account_added_through_editor(self):
        proc, dlg = self.open_options()
        self.prefix.click(dlg.hwnd, TAB_ACCOUNTS)
        self.prefix.click(dlg.hwnd, ADD)
        ed = self.prefix.wait_window("ｱｶｳﾝﾄ", "#32770")
        self.assertEqual(self.text(ed.hwnd, ACC_PORT), "110")
        self.assertTrue(self.state(ed.hwnd, ACC_CHECK)[1])
        self.assertTrue(self.state(ed.hwnd, ACC_SOUND0)[1])
        self.assertFalse(self.state(ed.hwnd, IDOK)[0])  # no host yet
        self.drv("settext", ed.hwnd, ACC_HOST, "pop.example.jp")
        wait_for("OK usable", lambda: self.state(ed.hwnd, IDOK)[0])
        for bad in ("0", "70000", "x"):
            self.drv("settext", ed.hwnd, ACC_PORT, bad)
            wait_for("OK greyed by port %s" % bad, lambda: not self.state(ed.hwnd, IDOK)[0])
        self.drv("settext", ed.hwnd, ACC_PORT, "1110")
        self.drv("settext", ed.hwnd, ACC_USER, "taro")
        self.drv("settext", ed.hwnd, ACC_PASS, "ひみつ1")
        wait_for("OK usable", lambda: self.state(ed.hwnd, IDOK)[0])
        self.screenshot("settings_editor")
        self.prefix.click(ed.hwnd, IDOK)
        wait_for("editor closed", lambda: self.prefix.find("ｱｶｳﾝﾄ", "#32770") is None)

        reg = wait_for("account stored", lambda: (lambda r: r if r.get("accountno") == "1" else None)(
            self.prefix.reg_export()))
        self.assertEqual(reg["Aname1"], "taro@pop.example.jp")
        self.assertEqual(reg["Hname1"], "pop.example.jp")
        self.assertEqual(reg["Portno1"], "1110")
        self.assertEqual(reg["Uname1"], "taro")
        self.assertEqual(reg["Passw1"], "0")  # kept by Windows instead:
        self.assertGreater(len(reg["Passwp1"]), 40)
        self.assertEqual(reg["Check1"], "1")
        self.assertEqual(reg["Scolor21"], "16777088")
        self.assertEqual(reg["Wavdir2_1"], "0")
        rows = self.prefix.query("lvrows", dlg.hwnd, ACCOUNTLIST).splitlines()
        self.assertEqual(rows, ["taro@pop.example.jp(pop.example.jp)\t○"])
        self.screenshot("settings_accounts_one")

        # Cancel keeps the account; nothing of the general page is written.
        self.prefix.click(dlg.hwnd, IDCANCEL)
        self.wait_exit(proc)
        reg = self.prefix.reg_export()
        self.assertEqual(reg.get("accountno"), "1")
        self.assertNotIn("Option1value", reg)

        proc, dlg = self.open_options()
        rows = self.prefix.query("lvrows", dlg.hwnd, ACCOUNTLIST).splitlines()
        self.assertEqual(rows, ["taro@pop.example.jp(pop.example.jp)\t○"])
        self.prefix.click(dlg.hwnd, IDCANCEL)
        self.wait_exit(proc)

    def test_settings_edit_and_delete_pressed_rows(self):
        for n in range(1, 5):
            self.prefix.set_account(n, "acc%d" % n, "host%d" % n, 110, "u%d" % n, scramble("pw%d" % n),
                                    check=0 if n == 3 else 1)
        self.prefix.reg_import({"accountno": 4})
        proc, dlg = self.open_options()
        self.prefix.click(dlg.hwnd, TAB_ACCOUNTS)
        wait_for("account page", lambda: self.visible(dlg.hwnd, ACCOUNTLIST))
        rows = lambda: self.prefix.query("lvrows", dlg.hwnd, ACCOUNTLIST).splitlines()
        self.assertEqual(rows(), ["acc1(host1)\t○", "acc2(host2)\t○", "acc3(host3)\t×", "acc4(host4)\t○"])

        # Pressing below the rows selects no account: edit and delete stay off.
        self.drv("lvclick", dlg.hwnd, ACCOUNTLIST, -1)
        self.assertFalse(self.state(dlg.hwnd, EDIT)[0])
        self.assertFalse(self.state(dlg.hwnd, DELETE)[0])

        self.drv("lvclick", dlg.hwnd, ACCOUNTLIST, 1)
        wait_for("delete usable", lambda: self.state(dlg.hwnd, DELETE)[0])
        # ... and once one is chosen, a press below the rows keeps it.
        self.drv("lvclick", dlg.hwnd, ACCOUNTLIST, -1)
        time.sleep(0.5)
        self.assertTrue(self.state(dlg.hwnd, DELETE)[0])
        self.prefix.click(dlg.hwnd, DELETE)
        wait_for("row removed", lambda: len(rows()) == 3)
        self.assertEqual(rows(), ["acc1(host1)\t○", "acc3(host3)\t×", "acc4(host4)\t○"])
        self.assertFalse(self.state(dlg.hwnd, DELETE)[0])
        reg = self.prefix.reg_export()
        self.assertEqual(reg["accountno"], "3")
        self.assertEqual([reg["Aname%d" % n] for n in (1, 2, 3, 4)], ["acc1", "acc3", "acc4", "acc4"])
        self.assertEqual(reg["Check2"], "0")
        self.assertEqual(reg["Passw3"], "0")  # kept by Windows instead:
        self.assertGreater(len(reg["Passwp3"]), 40)

        # A double-click edits the pressed account.
        self.drv("lvclick", dlg.hwnd, ACCOUNTLIST, 1, 2)
        ed = self.prefix.wait_window("ｱｶｳﾝﾄ", "#32770")
        self.assertEqual(self.text(ed.hwnd, ACC_NAME), "acc3")
        self.assertEqual(self.text(ed.hwnd, ACC_HOST), "host3")
        self.assertFalse(self.state(ed.hwnd, ACC_CHECK)[1])
        self.assertTrue(self.state(ed.hwnd, IDOK)[0])
        self.drv("settext", ed.hwnd, ACC_NAME, "会社")
        self.prefix.post(self.child(ed.hwnd, ACC_CHECK), 0xF5)  # BM_CLICK toggles it
        wait_for("check set", lambda: self.state(ed.hwnd, ACC_CHECK)[1])
        self.prefix.click(ed.hwnd, IDOK)
        wait_for("editor closed", lambda: self.prefix.find("ｱｶｳﾝﾄ", "#32770") is None)
        wait_for("row updated", lambda: rows()[1] == "会社(host3)\t○")
        reg = self.prefix.reg_export()
        self.assertEqual(reg["Aname2"], "会社")
        self.assertEqual(reg["Check2"], "1")
        self.assertEqual(reg["Passw2"], "0")  # kept by Windows instead:
        self.assertGreater(len(reg["Passwp2"]), 40)
        self.assertEqual(reg["accountno"], "3")

        self.prefix.click(dlg.hwnd, IDCANCEL)
        self.wait_exit(proc)
        self.assertEqual(self.prefix.reg_export()["Aname2"], "会社")

    def test_settings_chosen_row_keeps_its_account_colours(self):
        backs = {1: (200, 120, 40), 2: (60, 170, 90)}
        for n, (r, g, b) in backs.items():
            self.prefix.set_account(n, "acc%d" % n, "host%d" % n, 110, "u%d" % n, scramble("pw"))
            self.prefix.reg_import({"Scolor1%d" % n: 0, "Scolor2%d" % n: r | g << 8 | b << 16})
        self.prefix.reg_import({"accountno": 2})
        proc, dlg = self.open_options()
        self.prefix.click(dlg.hwnd, TAB_ACCOUNTS)
        wait_for("account page", lambda: self.visible(dlg.hwnd, ACCOUNTLIST))
        self.drv("lvclick", dlg.hwnd, ACCOUNTLIST, 1)
        wait_for("edit usable", lambda: self.state(dlg.hwnd, EDIT)[0])
        c = int(self.drv("syscolor", 13))  # COLOR_HIGHLIGHT
        highlight = (c & 0xFF, c >> 8 & 0xFF, c >> 16 & 0xFF)

        def row_colours(shot, row):
            left, top, right, bottom = map(int, self.drv("lvrect", dlg.hwnd, ACCOUNTLIST, row).split())
            # Inside the grid lines and the focus rectangle.
            crop = "%dx%d+%d+%d" % (right - left - 8, bottom - top - 8, left + 4, top + 4)
            out = subprocess.run(["convert", shot, "-crop", crop, "+repage", "-format", "%c", "histogram:info:-"],
                                 stdout=subprocess.PIPE, check=True).stdout.decode()
            counts = {tuple(map(int, m[1:])): int(m[0])
                      for m in re.findall(r"(\d+): \(\s*(\d+),\s*(\d+),\s*(\d+)", out)}
            return max(counts, key=counts.get), counts

        def chosen_row_painted():
            shot = self.screenshot("settings_accounts_chosen")
            return row_colours(shot, 1)[0] == backs[2] and row_colours(shot, 0)[0] == backs[1] and shot
        try:
            shot = wait_for("rows in their accounts' colours", chosen_row_painted, 15)
        except AssertionError:
            shot = self.screenshot("settings_accounts_chosen")
            self.fail("chosen row drawn in %r, not %r (highlight %r)"
                      % (row_colours(shot, 1)[0], backs[2], highlight))
        self.assertNotIn(highlight, row_colours(shot, 1)[1])

        # The chosen account is still the one edited.
        self.prefix.click(dlg.hwnd, EDIT)
        ed = self.prefix.wait_window("ｱｶｳﾝﾄ", "#32770")
        self.assertEqual(self.text(ed.hwnd, ACC_NAME), "acc2")
        self.prefix.click(ed.hwnd, IDCANCEL)
        wait_for("editor closed", lambda: self.prefix.find("ｱｶｳﾝﾄ", "#32770") is None)
        self.prefix.click(dlg.hwnd, IDCANCEL)
        self.wait_exit(proc)

    def test_settings_stored_values_reset_widths_and_cancel(self):
        stored = {"Option1value": 1, "Option2value": 1, "Closetimerval": 30, "Checktimerval": 10,
                  "Mailerdir1": "C:\\メール\\mailer.exe", "Wavdir": "C:\\音\\ding.wav",
                  "Hotkeynum0": 65, "Hotkeynum5": 0, "Hotkeynum7": 227, "Redialval": 3,
                  "grdWidth0": 999, "grdWidth4": 1, "frmWidth": 7000}
        self.prefix.reg_import(stored)
        proc, dlg = self.open_options()
        self.assertTrue(self.state(dlg.hwnd, OPTION1)[1])
        self.assertEqual(self.text(dlg.hwnd, TIMER1 + 1), "30")
        self.assertTrue(self.state(dlg.hwnd, TIMER1 + 1)[0])
        self.assertTrue(self.state(dlg.hwnd, WAV)[0])
        self.assertEqual(self.text(dlg.hwnd, MAILER1), "C:\\メール\\mailer.exe")
        self.assertEqual(self.text(dlg.hwnd, WAV), "C:\\音\\ding.wav")
        self.assertEqual(self.text(dlg.hwnd, REDIAL), "3")
        self.assertEqual(self.text(dlg.hwnd, KEY0), "Ctrl+A")
        self.assertEqual(self.text(dlg.hwnd, KEY0 + 5), "Ctrl+A")  # no "無し" for the exit key
        self.assertEqual(self.text(dlg.hwnd, KEY0 + 7), "Shift+F16 キー")

        # Unchecking the popup zeroes and greys its close time; the sound
        # box keeps the WAV path while it greys it.
        self.prefix.post(self.child(dlg.hwnd, OPTION1), 0xF5)  # BM_CLICK
        wait_for("close time zeroed", lambda: self.text(dlg.hwnd, TIMER1 + 1) == "0")
        self.assertFalse(self.state(dlg.hwnd, TIMER1 + 1)[0])
        self.prefix.post(self.child(dlg.hwnd, OPTION1 + 1), 0xF5)
        wait_for("WAV greyed", lambda: not self.state(dlg.hwnd, WAV)[0])
        self.assertEqual(self.text(dlg.hwnd, WAV), "C:\\音\\ding.wav")

        # The width reset is written at once and survives Cancel.
        self.prefix.click(dlg.hwnd, RESET_WIDTHS)
        wait_for("widths reset", lambda: self.prefix.reg_export().get("grdWidth0") == "260")
        self.prefix.click(dlg.hwnd, IDCANCEL)
        self.wait_exit(proc)
        reg = self.prefix.reg_export()
        self.assertEqual([reg["grdWidth%d" % i] for i in range(6)], ["260", "260", "130", "2740", "4770", "300"])
        self.assertEqual(reg["frmWidth"], "7000")
        self.assertEqual(reg["Closetimerval"], "30")
        self.assertEqual(reg["Option1value"], "1")
        self.assertNotIn("Option3value", reg)

    def test_settings_colour_dialog_ok_and_cancel(self):
        proc, dlg = self.open_options()
        self.prefix.click(dlg.hwnd, TAB_ACCOUNTS)

        def colour_dialog():
            return [w for w in self.prefix.windows() if w.cls == "#32770" and w.visible
                    and w.title not in ("OPTION", "ｱｶｳﾝﾄ")]

        # Cancel leaves the background colour; OK without a choice gives the
        # dialog's starting colour, black.
        for n, button in ((1, IDCANCEL), (2, IDOK)):
            self.prefix.click(dlg.hwnd, ADD)
            ed = self.prefix.wait_window("ｱｶｳﾝﾄ", "#32770")
            self.drv("settext", ed.hwnd, ACC_HOST, "h%d" % n)
            self.prefix.click(ed.hwnd, ACC_BACK)
            picker = wait_for("colour dialog", colour_dialog)[0]
            if n == 2:
                self.screenshot("settings_colour_dialog")
            self.prefix.click(picker.hwnd, button)
            wait_for("colour dialog closed", lambda: not colour_dialog())
            self.prefix.click(ed.hwnd, IDOK)
            wait_for("editor closed", lambda: self.prefix.find("ｱｶｳﾝﾄ", "#32770") is None)
        reg = wait_for("stored", lambda: (lambda r: r if r.get("accountno") == "2" else None)(
            self.prefix.reg_export()))
        self.assertEqual(reg["Scolor21"], "16777088")
        self.assertEqual(reg["Scolor22"], "0")
        self.assertEqual(reg["Scolor11"], "0")
        self.assertEqual(reg["Aname1"], "@h1")
        self.prefix.click(dlg.hwnd, IDCANCEL)
        self.wait_exit(proc)

    def test_settings_browse_for_mailer(self):
        proc, dlg = self.open_options()
        self.prefix.click(dlg.hwnd, 1034)  # RefBt(1)
        picker = self.prefix.wait_window("ﾒｰﾗｰの選択", "#32770")
        self.screenshot("settings_file_dialog")
        self.prefix.click(picker.hwnd, IDCANCEL)
        wait_for("file dialog closed", lambda: self.prefix.find("ﾒｰﾗｰの選択", "#32770") is None)
        self.assertEqual(self.text(dlg.hwnd, MAILER1), "")

        self.prefix.click(dlg.hwnd, 1034)
        picker = self.prefix.wait_window("ﾒｰﾗｰの選択", "#32770")
        # The file name box of the Explorer-style dialog: an edit with the
        # ID 1148 inside the combo box of that ID.
        combo = [line.split("\t")[1] for line in self.drv("texts", picker.hwnd).splitlines()
                 if line.split("\t")[2:3] == ["1148"] and line.split("\t")[4] == "ComboBox"][0]
        self.drv("settext", combo, 1148, "C:\\tarvi\\tarvimon.exe")
        self.prefix.click(picker.hwnd, IDOK)
        wait_for("path taken", lambda: self.text(dlg.hwnd, MAILER1).lower() == "c:\\tarvi\\tarvimon.exe")
        self.prefix.click(dlg.hwnd, IDOK)
        self.wait_exit(proc)
        self.assertEqual(self.prefix.reg_export()["Mailerdir1"].lower(), "c:\\tarvi\\tarvimon.exe")

    def test_settings_layout_at_150_percent(self):
        self.prefix.run("reg", "add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
                        "/d", "144", "/f")
        self.prefix.reg_import({"accountno": 1, "Aname1": "会社", "Hname1": "pop.example.jp",
                                "Scolor11": 255, "Scolor21": 16777215})
        proc, dlg = self.open_options()
        self.screenshot("settings_general_144dpi")
        self.prefix.click(dlg.hwnd, TAB_ACCOUNTS)
        wait_for("account page", lambda: self.visible(dlg.hwnd, ACCOUNTLIST))
        self.screenshot("settings_accounts_144dpi")
        view = self.child(dlg.hwnd, ACCOUNTLIST)
        width = lambda col: int(self.drv("send", view, 0x101D, col, 0))  # LVM_GETCOLUMNWIDTH
        # 4960 and 320 twips at 144 dots per inch.
        self.assertEqual((width(0), width(1)), (496, 32))
        self.assertEqual(self.prefix.query("lvrows", dlg.hwnd, ACCOUNTLIST).splitlines(), ["会社(pop.example.jp)\t○"])
        self.prefix.click(dlg.hwnd, IDCANCEL)
        self.wait_exit(proc)

    def test_settings_enter_saves_escape_cancels(self):
        WM_KEYDOWN, VK_RETURN, VK_ESCAPE = 0x100, 0x0D, 0x1B
        proc, dlg = self.open_options()
        self.drv("settext", dlg.hwnd, TIMER1, "7")
        wait_for("typed", lambda: self.text(dlg.hwnd, TIMER1) == "7")
        # The dialog's own message loop turns Esc into Cancel.
        self.prefix.post(self.child(dlg.hwnd, TIMER1), WM_KEYDOWN, VK_ESCAPE)
        self.wait_exit(proc)
        self.assertEqual(self.prefix.reg_export(), DEFAULT_SETTINGS)  # nothing written

        proc, dlg = self.open_options()
        self.drv("settext", dlg.hwnd, TIMER1, "7")
        wait_for("typed", lambda: self.text(dlg.hwnd, TIMER1) == "7")
        self.prefix.post(self.child(dlg.hwnd, TIMER1), WM_KEYDOWN, VK_RETURN)  # OK is the default
        self.wait_exit(proc)
        self.assertEqual(self.prefix.reg_export().get("Checktimerval"), "7")

    def test_settings_second_start_ends_at_once(self):
        first, dlg = self.open_options()
        second = self.prefix.start("tarvicfg.exe")
        wait_for("second start to end", lambda: second.poll() is not None, 30)
        self.assertEqual(len([w for w in self.prefix.windows() if w.title == "OPTION"]), 1)
        self.assertIsNone(first.poll())
        self.prefix.click(dlg.hwnd, IDCANCEL)
        self.wait_exit(first)


if __name__ == "__main__":
    import unittest
    unittest.main()
