"""The programs unpacked from the zip into a downloads folder, with DLLs
planted beside them under the names of the Windows DLLs they use: neither
program loads one, at start-up or on first use (TLS, the sound, the file
dialog), and both work as usual with Windows' own copies."""
import glob
import os
import shutil
import subprocess
import unittest

from harness import WIN_BIN, WineTest, scramble, wait_for
from pop3_script import ScriptedPop3
from tls_setup import HOST, make_certs, sha256_fingerprint

MAIN_CLASS = "TarviMonMailForm"
FOLDER = "C:\\users\\Public\\Downloads\\tarvi-1.0.0"
# rasapi32 and msvfw32 are loaded at run time; the others the programs
# import (Schannel, certificates, hashing, sound).
PLANTED = ("rasapi32.dll", "msvfw32.dll", "secur32.dll", "crypt32.dll", "bcrypt.dll", "winmm.dll", "winhttp.dll",
           "iphlpapi.dll")
# Wine prefers its own copy of a DLL it implements, wherever the search
# finds the name; told native first, it loads the file found first, as
# Windows does.
AS_WINDOWS = ",".join(n[:-4] for n in PLANTED) + "=n,b"
IMPLICIT_TLS = 1
REF_MAILER1, IDCANCEL = 1034, 2


class DllSearchTest(WineTest):
    def setUp(self):
        super().setUp()
        for exe in ("tarvimon.exe", "tarvicfg.exe"):
            self.prefix.install(exe, FOLDER + "\\" + exe)
        self.folder = os.path.join(self.prefix.path, "drive_c", *FOLDER[3:].split("\\"))
        for name in PLANTED:
            shutil.copy(os.path.join(WIN_BIN, "marker.dll"), os.path.join(self.folder, name))

    def start(self, exe):
        overrides = self.prefix.env["WINEDLLOVERRIDES"] + ";" + AS_WINDOWS
        return self.prefix.start(FOLDER + "\\" + exe, env={"WINEDLLOVERRIDES": overrides})

    def planted_loads(self):
        """'<dll>.<program>' for every planted DLL some program loaded."""
        return sorted(os.path.basename(p)[:-len(".loaded")]
                      for p in glob.glob(os.path.join(self.folder, "*.loaded")))

    def wait_window(self, title, cls, visible=True):
        # A program that died of a planted DLL never shows it: say which.
        try:
            return self.prefix.wait_window(title, cls, visible)
        except AssertionError as e:
            raise AssertionError("%s\nplanted DLLs loaded: %s" % (e, self.planted_loads())) from None

    def test_monitor_checks_over_tls_and_plays_its_sound_with_the_system_dlls(self):
        certs = make_certs()
        self.addCleanup(certs.cleanup)
        server = ScriptedPop3([b"From: a@example.jp\r\nSubject: hello\r\n\r\nbody\r\n"], tls=certs.server)
        self.addCleanup(server.stop)
        self.prefix.reg_import({
            "accountno": "1", "Aname1": "TLS", "Hname1": HOST, "Portno1": str(server.port),
            "Uname1": "joe", "Passw1": scramble("secret"), "Check1": "1", "Tlsmode1": str(IMPLICIT_TLS),
            "Tlspin1": sha256_fingerprint(certs.server),
            "Tlspinfor1": "%d %d %s" % (IMPLICIT_TLS, server.port, HOST),
            "Option5value": "1", "Option2value": "1", "Wavdir": "C:\\nothing.wav", "Checktimerval": "0"})
        proc = self.start("tarvimon.exe")
        self.wait_window(None, MAIN_CLASS, visible=None)
        self.assertEqual(self.planted_loads(), [], "loaded at start-up")
        main = self.wait_window("1通のメールが届いています!", MAIN_CLASS, visible=None)
        wait_for("QUIT", lambda: "QUIT" in server.received())
        # The sound is played while handling the message that set the caption:
        # a message the monitor answers after it comes after the sound.
        self.assertEqual(self.prefix.run("tarvidrv.exe", "send", main.hwnd, "0", "0", "0").strip(), "0")
        self.assertIsNone(proc.poll())
        self.assertEqual(self.planted_loads(), [])

    def test_settings_program_opens_and_browses_with_the_system_dlls(self):
        proc = self.start("tarvicfg.exe")
        dlg = self.wait_window("OPTION", "#32770")
        self.prefix.click(dlg.hwnd, REF_MAILER1)
        picker = self.wait_window("ﾒｰﾗｰの選択", "#32770")
        self.prefix.click(picker.hwnd, IDCANCEL)
        wait_for("file dialog closed", lambda: self.prefix.find("ﾒｰﾗｰの選択", "#32770") is None)
        self.prefix.click(dlg.hwnd, IDCANCEL)
        wait_for("settings program to end", lambda: proc.poll() is not None)
        self.assertEqual(self.planted_loads(), [])


# What Windows 7 lacks and a compiler would import by name all the same:
# such an import keeps a program from starting at all there. The programs
# look these up at run time instead.
WINDOWS_8_AND_LATER = {"GetSystemTimePreciseAsFileTime", "SetDefaultDllDirectories", "AddDllDirectory",
                       "GetDpiForWindow", "GetSystemMetricsForDpi", "SetThreadDpiAwarenessContext",
                       "RegisterSuspendResumeNotification", "CreateFile2", "WaitOnAddress"}


class ImportsTest(unittest.TestCase):
    def test_the_programs_import_nothing_windows_7_lacks(self):
        for exe in ("tarvimon.exe", "tarvicfg.exe"):
            dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", os.path.join(WIN_BIN, exe)],
                                  check=True, capture_output=True, text=True).stdout
            dlls, names = set(), set()
            for line in dump.splitlines():
                words = line.split()
                if line.strip().startswith("DLL Name:"):
                    dlls.add(words[-1].lower())
                elif len(words) == 3 and words[1].isdigit():
                    names.add(words[2])
            self.assertEqual(sorted(names & WINDOWS_8_AND_LATER), [], exe)
            self.assertEqual(sorted(d for d in dlls if d.startswith("api-ms-") or d == "shcore.dll"), [], exe)
