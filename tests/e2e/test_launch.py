"""Programs the monitor starts from folders whose names have spaces: the
right program runs, with its own quoted path as argv[0], and never a
C:\\Program.exe that a split at the first space would name."""
from harness import TITLE, WineTest, scramble, wait_for

MAIN_CLASS = "TarviMonMailForm"
IDOK = 1
CTRL = 2
DECOY = "C:\\Program.exe"


class LaunchTest(WineTest):
    def setUp(self):
        super().setUp()
        self.prefix.install("recordargs.exe", DECOY)

    def test_settings_program_beside_an_installed_monitor(self):
        folder = "C:\\Program Files\\ターヴィ 監視"
        self.prefix.install("tarvimon.exe", folder + "\\tarvimon.exe")
        self.prefix.install("fakecfg.exe", folder + "\\tarvicfg.exe")
        proc = self.prefix.start(folder + "\\tarvimon.exe")
        box, text = self.prefix.message_box()
        self.assertEqual(text, "最初に設定をしてください")
        self.prefix.answer(box, IDOK)
        self.prefix.wait_window(TITLE, MAIN_CLASS, visible=False)
        self.assertIsNone(proc.poll())
        reg = self.prefix.reg_export()
        self.assertEqual(reg.get("fakecfgRuns"), "1")
        self.assertEqual(reg.get("fakecfgCommandLine"), '"%s\\tarvicfg.exe"' % folder)
        self.assertNotIn("recordedProgram", reg)

    def test_mailer_stored_as_a_bare_path(self):
        mailer = "C:\\Program Files\\Mail Box\\mailer.exe"
        self.prefix.install("recordargs.exe", mailer)
        self.prefix.reg_import({"accountno": "1", "Aname1": "テスト", "Hname1": "127.0.0.1", "Portno1": "1",
                                "Uname1": "user", "Passw1": scramble("pw"), "Check1": "0",
                                "Mailerdir1": mailer})
        self.prefix.start("tarvimon.exe")
        self.prefix.wait_window(TITLE, MAIN_CLASS, visible=False)
        self.prefix.run("tarvidrv.exe", "key", str(CTRL), "116")  # Ctrl+F5: mailer 1
        program = wait_for("a program to run", lambda: self.prefix.reg_export().get("recordedProgram"))
        self.assertEqual(program.lower(), mailer.lower())
        self.assertEqual(self.prefix.reg_export().get("recordedCommandLine"), '"%s"' % mailer)
