"""The monitor's notification-area icon under Wine. Wine shows icons in a
window of its own when the desktop has no tray (class
__winex11_standalone_tray, one __winex11_tray_icon child per icon), which
another process can list and click like any window. Which picture the icon
shows and its tooltip cannot be read from outside: the screenshots show
them."""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Dovecot, WineTest, TITLE, scramble, wait_for  # noqa: E402
from samples import message  # noqa: E402

MAIN_CLASS = "TarviMonMailForm"
CLOSE_BUTTON = 106
TRAY_CLASS, ICON_CLASS = "__winex11_standalone_tray", "__winex11_tray_icon"
WM_KEYDOWN, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDOWN, WM_RBUTTONUP = 0x100, 0x201, 0x202, 0x204, 0x205
VK_RETURN, VK_UP = 0x0D, 0x26
PERSONALIZE = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize"


class TrayTest(WineTest):
    def start_monitor(self, **general):
        self.server = Dovecot({"taro": ("pw", [message("山田", "yamada@example.jp", "件名%d" % i, "本文") for i in (1, 2)])})
        self.addCleanup(self.server.stop)
        values = {"accountno": "1", "Aname1": "仕事", "Hname1": "127.0.0.1",
                  "Portno1": str(self.server.port), "Uname1": "taro", "Passw1": scramble("pw"),
                  "Check1": "1", "Option5value": "1", "Option1value": "0", "Option7value": "1",
                  "Trayicon": "1"}
        values.update({k: str(v) for k, v in general.items()})
        self.prefix.reg_import(values)
        proc = self.prefix.start("tarvimon.exe")
        main = self.prefix.wait_window(None, MAIN_CLASS, visible=None)
        return proc, main

    def icons(self):
        """The icon windows Wine shows, when its tray window is visible."""
        tray = self.prefix.find(None, TRAY_CLASS, visible=True)
        if not tray:
            return []
        return [line.split("\t")[1] for line in self.prefix.query("texts", tray.hwnd).splitlines()
                if line.startswith("child\t") and line.split("\t")[4] == ICON_CLASS]

    def click_icon(self, icon, down, up):
        self.prefix.post(icon, down, 0, 0x00080008)
        self.prefix.post(icon, up, 0, 0x00080008)

    def test_tray_icon_left_click_popup_menu_quit(self):
        proc, main = self.start_monitor()
        icon = wait_for("the tray icon", lambda: (lambda i: i[0] if len(i) == 1 else None)(self.icons()))
        wait_for("the check", lambda: self.prefix.find("2通のメールが届いています!", MAIN_CLASS, visible=None))
        self.screenshot("tray_new_mail")  # the picture with the red badge, the balloon

        # A left click is the popup hotkey.
        self.click_icon(icon, WM_LBUTTONDOWN, WM_LBUTTONUP)
        popup = wait_for("popup", lambda: self.prefix.find(None, MAIN_CLASS, visible=True))
        self.prefix.click(popup.hwnd, CLOSE_BUTTON)
        wait_for("popup closed", lambda: not self.prefix.find(None, MAIN_CLASS, visible=True))
        self.screenshot("tray_after_popup")  # the ordinary picture again

        # The right click's menu; its last entry, 終了, ends the monitor
        # (without the question, as Option7value says).
        self.click_icon(icon, WM_RBUTTONDOWN, WM_RBUTTONUP)
        menu = wait_for("menu", lambda: self.prefix.find(None, "#32768", visible=True))
        self.screenshot("tray_menu")
        self.prefix.post(menu.hwnd, WM_KEYDOWN, VK_UP, 0)
        self.prefix.post(menu.hwnd, WM_KEYDOWN, VK_RETURN, 0)
        wait_for("monitor to end", lambda: proc.poll() is not None)
        wait_for("icon gone", lambda: not self.icons())

    def brightness(self, icon):
        """The mean grey (0..1) of the icon's window on the screen."""
        l, t, r, b = (int(v) for v in self.prefix.query("rect", icon).split())
        shot = self.screenshot("tray_theme")
        return float(subprocess.run(["convert", shot, "-crop", "%dx%d+%d+%d" % (r - l, b - t, l, t),
                                     "-colorspace", "Gray", "-format", "%[fx:mean]", "info:"],
                                    check=True, capture_output=True, text=True).stdout)

    def test_tray_icon_follows_the_taskbar_turning_light_and_dark(self):
        # No SystemUsesLightTheme (as on Wine and Windows 7): the pictures
        # for a dark taskbar, whose envelope is the lighter one.
        self.start_monitor()
        icon = wait_for("the tray icon", lambda: (lambda i: i[0] if len(i) == 1 else None)(self.icons()))
        wait_for("the check", lambda: self.prefix.find("2通のメールが届いています!", MAIN_CLASS, visible=None))
        dark = wait_for("the picture drawn", lambda: self.brightness(icon) or None)
        for light, darker in (("1", True), ("0", False)):
            self.prefix.run("reg", "add", PERSONALIZE, "/v", "SystemUsesLightTheme", "/t", "REG_DWORD",
                            "/d", light, "/f")
            self.prefix.run("tarvidrv.exe", "settingchange", "ImmersiveColorSet")
            wait_for("the picture for a %s taskbar" % ("light" if darker else "dark"),
                     lambda: (self.brightness(icon) < dark - 0.02) == darker, timeout=20)

    def test_tray_icon_off_adds_no_icon(self):
        proc, main = self.start_monitor(Trayicon="0")
        wait_for("the check", lambda: self.prefix.find("2通のメールが届いています!", MAIN_CLASS, visible=None))
        self.assertEqual(self.icons(), [])
        self.assertIsNone(self.prefix.find(None, TRAY_CLASS, visible=None))
