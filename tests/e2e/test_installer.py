"""The zip and the per-user installer built by scripts/build.sh: a silent
install into a folder with a space, the installed monitor checking a Dovecot
mailbox, start at logon, and a silent uninstall that ends the running
monitor and keeps the settings."""
import glob
import os
import re
import shutil
import unittest
import zipfile

from harness import BUILD, REG_KEY, ROOT, Dovecot, WineTest, free_port, scramble, wait_for

VERSION = re.search(r"project\(tarvi VERSION ([0-9.]+)", open(os.path.join(ROOT, "CMakeLists.txt")).read()).group(1)
SETUP = os.path.join(BUILD, "tarvi-%s-setup.exe" % VERSION)
ZIP = os.path.join(BUILD, "tarvi-%s.zip" % VERSION)
README = "はじめにお読みください.txt"
APP = "Tarviメールチェッカー"
SHORTCUTS = (APP + ".lnk", APP + " 設定.lnk")
UNINSTALL_KEY = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvi"
RUN_KEY = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"
FOLDER = "C:\\Tarvi Test\\Mail Checker"
MAIN_CLASS = "TarviMonMailForm"


def shipped_readme():
    source = open(os.path.join(ROOT, "installer", README), "rb").read()
    return b"\xef\xbb\xbf" + source.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


class PackageTest(unittest.TestCase):
    def test_zip_holds_both_programs_and_the_readme_of_one_version(self):
        with zipfile.ZipFile(ZIP) as z:
            files = sorted(n for n in z.namelist() if not n.endswith("/"))
            top = "tarvi-%s/" % VERSION
            self.assertEqual(files, sorted(top + n for n in ("tarvicfg.exe", "tarvimon.exe", README)))
            self.assertTrue(z.getinfo(top + README).flag_bits & 0x800)  # the name is marked UTF-8
            self.assertEqual(z.read(top + README), shipped_readme())
            for exe in ("tarvimon.exe", "tarvicfg.exe"):
                self.assertIn((VERSION + ".0").encode("utf-16-le"), z.read(top + exe), exe)


class InstallerTest(WineTest):
    def unix(self, win_path):
        return os.path.join(self.prefix.path, "drive_c", *win_path[3:].split("\\"))

    def run_line(self, line):
        """Runs a command line as written: NSIS wants /D= and _?= last and
        unquoted, which only a batch file passes on unchanged."""
        bat = os.path.join(self.prefix.dir, "run.bat")
        with open(bat, "w", newline="\r\n") as f:
            f.write("@%s\n" % line)
        self.prefix.run("cmd", "/c", "Z:" + bat.replace("/", "\\"), timeout=180)

    def install(self, *switches, folder=None):
        line = '"Z:%s" /S' % SETUP.replace("/", "\\")
        line += "".join(" " + s for s in switches)
        if folder:
            line += " /D=" + folder
        self.run_line(line)

    def uninstall(self, folder):
        # The uninstaller copies itself out of the folder and runs the copy
        # with _?=<folder>, which returns at once; doing that copy here lets
        # the test wait for the real work to end.
        copy = os.path.join(self.prefix.dir, "un", "uninstall.exe")
        os.makedirs(os.path.dirname(copy), exist_ok=True)
        shutil.copy2(os.path.join(self.unix(folder), "uninstall.exe"), copy)
        self.run_line('"Z:%s" /S _?=%s' % (copy.replace("/", "\\"), folder))

    def shortcuts(self):
        found = set()
        for name in SHORTCUTS:
            found.update(glob.glob(os.path.join(self.prefix.path, "drive_c", "users", "*", "AppData", "Roaming",
                                                "Microsoft", "Windows", "Start Menu", "Programs", name)))
        return sorted(os.path.basename(p) for p in found)

    def test_silent_install_checks_mail_and_silent_uninstall_keeps_the_settings(self):
        self.install(folder=FOLDER)
        app = self.unix(FOLDER)
        self.assertEqual(sorted(os.listdir(app)), sorted(["tarvimon.exe", "tarvicfg.exe", README, "uninstall.exe"]))
        self.assertEqual(open(os.path.join(app, README), "rb").read(), shipped_readme())
        self.assertEqual(self.shortcuts(), sorted(SHORTCUTS))
        entry = self.prefix.reg_export(UNINSTALL_KEY)
        self.assertEqual({k: entry.get(k) for k in ("DisplayName", "DisplayVersion", "Publisher", "InstallLocation",
                                                    "UninstallString", "DisplayIcon")},
                         {"DisplayName": APP, "DisplayVersion": VERSION, "Publisher": "Tarvi",
                          "InstallLocation": FOLDER, "UninstallString": '"%s\\uninstall.exe"' % FOLDER,
                          "DisplayIcon": FOLDER + "\\tarvimon.exe,0"})
        self.assertNotIn("Tarvi", self.prefix.reg_export(RUN_KEY))

        dove = Dovecot({"alice": ("pa55", [b"From: a@example.jp\r\nSubject: one\r\n\r\nbody\r\n",
                                           b"From: b@example.jp\r\nSubject: two\r\n\r\nbody\r\n"])},
                       port=free_port())
        self.addCleanup(dove.stop)
        self.prefix.reg_import({"accountno": "1", "Option5value": "1", "Aname1": "Alice", "Hname1": "127.0.0.1",
                                "Portno1": str(dove.port), "Uname1": "alice", "Passw1": scramble("pa55"),
                                "Check1": "1"})
        monitor = self.prefix.start(FOLDER + "\\tarvimon.exe")
        self.prefix.wait_window("2通のメールが届いています!", MAIN_CLASS, visible=None, timeout=90)

        # The running monitor is ended without a question, then everything
        # but the settings goes.
        self.uninstall(FOLDER)
        wait_for("the monitor to end", lambda: monitor.poll() is not None, 20)
        self.assertFalse(os.path.exists(app))
        self.assertTrue(os.path.isdir(os.path.dirname(app)))  # only the folder installed into goes
        self.assertEqual(self.shortcuts(), [])
        self.assertEqual(self.prefix.reg_export(UNINSTALL_KEY), {})
        self.assertEqual(self.prefix.reg_export(REG_KEY).get("Aname1"), "Alice")

    def test_start_at_logon_is_chosen_by_a_switch_kept_on_update_and_removed_on_uninstall(self):
        self.install("/AUTOSTART")
        value = self.prefix.reg_export(RUN_KEY).get("Tarvi", "")
        m = re.fullmatch(r'"(C:\\users\\[^\\]+\\AppData\\Local\\Programs\\Tarvi)\\tarvimon\.exe"', value, re.I)
        self.assertTrue(m, value)
        folder = m.group(1)
        self.assertTrue(os.path.isfile(os.path.join(self.unix(folder), "tarvimon.exe")))
        self.install()  # an update without the switch keeps the choice
        self.assertEqual(self.prefix.reg_export(RUN_KEY).get("Tarvi"), value)
        self.uninstall(folder)
        self.assertNotIn("Tarvi", self.prefix.reg_export(RUN_KEY))
        self.assertFalse(os.path.exists(self.unix(folder)))


if __name__ == "__main__":
    unittest.main()
