"""Checking mailboxes under Wine: the monitor against Dovecot and against
the scripted server, the caption total, the exact dialogue, refusals,
misbehaving servers and the time limit."""
from harness import TITLE, Dovecot, WineTest, scramble, wait_for
from pop3_script import ScriptedPop3, low_port

MAIN_CLASS = "TarviMonMailForm"
IDOK = 1
ARRIVED = "通のメールが届いています!"


def mail(n, subject="hello"):
    return ("From: sender%d@example.jp\r\nTo: me@example.jp\r\nSubject: %s %d\r\n\r\n"
            "line one\r\nline two\r\n" % (n, subject, n)).encode("ascii")


class CheckTest(WineTest):
    def configure(self, accounts, **general):
        """accounts: [(name, port, user, password, check)]"""
        values = {"accountno": str(len(accounts)), "Option5value": "1", "Option3value": "1",
                  "Checktimerval": "0", "Timeupval": "1"}
        for i, (name, port, user, password, check) in enumerate(accounts, 1):
            values.update({"Aname%d" % i: name, "Hname%d" % i: "127.0.0.1", "Portno%d" % i: str(port),
                           "Uname%d" % i: user, "Passw%d" % i: scramble(password), "Check%d" % i: str(check)})
        values.update({k: str(v) for k, v in general.items()})
        self.prefix.reg_import(values)

    def caption(self, text, timeout=90):
        return self.prefix.wait_window(text, MAIN_CLASS, visible=None, timeout=timeout)

    def scripted(self, messages, **behaviour):
        s = ScriptedPop3(messages, **behaviour)
        self.addCleanup(s.stop)
        return s

    def test_startup_check_of_two_dovecot_accounts(self):
        dove = Dovecot({"alice": ("pa55", [mail(1), mail(2)]),
                        "bob": ("w0rd", [mail(3), mail(4), mail(5)])}, port=low_port())
        self.addCleanup(dove.stop)
        self.configure([("Alice", dove.port, "alice", "pa55", 1), ("Bob", dove.port, "bob", "w0rd", 1)])
        self.prefix.start("tarvimon.exe")
        self.caption("5" + ARRIVED)
        self.assertEqual(dove.message_count("alice"), 2)  # nothing was taken away

    def test_exact_dialogue_with_the_scripted_server(self):
        s = self.scripted([mail(1), mail(2), mail(3)])
        self.configure([("Script", s.port, "joe", "secret", 1)])
        self.prefix.start("tarvimon.exe")
        self.caption("3" + ARRIVED)
        wait_for("QUIT", lambda: "QUIT" in s.received())
        self.assertEqual(s.received(), ["USER joe", "PASS secret", "STAT", "TOP 1 5", "TOP 2 5",
                                        "TOP 3 5", "QUIT"])

    def test_server_on_the_ipv6_loopback_by_its_literal(self):
        s = self.scripted([mail(1), mail(2)], host="::1")
        self.configure([("Six", s.port, "joe", "secret", 1), ("Bracketed", s.port, "joe", "secret", 1)])
        self.prefix.reg_import({"Hname1": "::1", "Hname2": "[::1]"})
        self.prefix.start("tarvimon.exe")
        self.caption("4" + ARRIVED)
        self.assertEqual(s.connections, 2)

    def test_wrong_password_moves_on_to_the_next_account(self):
        dove = Dovecot({"alice": ("right", [mail(1)]), "bob": ("w0rd", [mail(2), mail(3)])},
                       port=low_port())
        self.addCleanup(dove.stop)
        self.configure([("Alice", dove.port, "alice", "wrong", 1), ("Bob", dove.port, "bob", "w0rd", 1)],
                       Option3value=0)
        self.prefix.start("tarvimon.exe")
        box, text = self.prefix.message_box()
        # The refusal's text after "-ERR", and no other box before it.
        self.assertEqual(text.strip(), "[AUTH] Authentication failed.")
        self.prefix.click(box.hwnd, IDOK)
        self.caption("2" + ARRIVED)

    def test_misbehaving_servers_are_read_correctly_or_left(self):
        good = [
            self.scripted([mail(1)], split_greeting=True),
            self.scripted([mail(1), mail(2)], bytewise=True),
            self.scripted([mail(1)], lf_only=True),
            self.scripted([mail(1)], nul=True),
            self.scripted([mail(1), mail(2)], fake_ok=True),
        ]
        refusing = [self.scripted([mail(1)], err_at=step) for step in ("greeting", "USER", "PASS", "STAT")]
        top_refused = self.scripted([mail(1), mail(2), mail(3)], err_at="TOP")
        servers = good + refusing + [top_refused]
        self.configure([("S%d" % i, s.port, "joe", "secret", 1) for i, s in enumerate(servers, 1)])
        self.prefix.start("tarvimon.exe")
        # 7 listed by the good ones, 3 counted by the one that refused TOP.
        self.caption("10" + ARRIVED, timeout=120)
        for s in good:
            n = len(s.messages)
            self.assertEqual(s.received(), ["USER joe", "PASS secret", "STAT"] +
                             ["TOP %d 5" % i for i in range(1, n + 1)] + ["QUIT"], s.b)
        expected = {"greeting": ["QUIT"], "USER": ["USER joe", "QUIT"],
                    "PASS": ["USER joe", "PASS secret", "QUIT"],
                    "STAT": ["USER joe", "PASS secret", "STAT", "QUIT"]}
        for s in refusing:
            wait_for("QUIT", lambda: "QUIT" in s.received(), timeout=10)
            self.assertEqual(s.received(), expected[s.b["err_at"]], s.b)
        self.assertEqual(top_refused.received(), ["USER joe", "PASS secret", "STAT", "TOP 1 5", "QUIT"])

    def test_stalled_and_closing_servers_are_given_up_after_the_time_limit(self):
        silent = self.scripted([mail(1)], silent=True)
        closing = self.scripted([mail(1), mail(2)], close_in="TOP")
        fine = self.scripted([mail(1), mail(2), mail(3), mail(4)])
        self.configure([("Silent", silent.port, "joe", "secret", 1),
                        ("Closing", closing.port, "joe", "secret", 1),
                        ("Fine", fine.port, "joe", "secret", 1)], Timeupval=1)
        proc = self.prefix.start("tarvimon.exe")
        self.caption(TITLE + " -チェック中:Silent-", timeout=60)
        self.caption(TITLE + " -チェック中:Closing-", timeout=100)
        # Fine's caption stands only while its short session runs: the
        # total follows the last account at once.
        # Closing counted its 2 messages before it went away.
        self.caption("6" + ARRIVED, timeout=60)
        self.assertEqual(fine.received()[-1], "QUIT")
        self.assertEqual(closing.received(), ["USER joe", "PASS secret", "STAT", "TOP 1 5"])
        self.assertIsNone(proc.poll())
