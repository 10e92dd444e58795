"""The monitor against hostile IMAP servers under Wine, each behaviour of
the table a failure met in the wild. One monitor checks an account on each
and a sane account last; those that stall until the time limit run in
monitors of their own at the same time. Every run must end with the
monitor alive and its window answering all along, the sane account checked
after the hostile ones, no server tried again in a loop, nothing listed
that was not asked for, nothing expunged, moved or flagged (the user
marked nothing), and the monitor ending when asked although a server never
ends its IDLE. A delete after the folder's UIDVALIDITY changed deletes
nothing."""
import sys
import time

from harness import Prefix, WineTest, scramble, wait_for
from imap_script import ScriptedImap
from test_popup import DEL_BT, GRID

MAIN_CLASS = "TarviMonMailForm"
WM_CLOSE, IDOK, IDYES = 0x0010, 1, 6
LIMIT_MINUTES = 1
# A session given up by the limit ends within its minute and the timer's
# next tick; the rest is a loaded machine's slack.
STALL_SECONDS = 60 * LIMIT_MINUTES + 60 + 45


def mail(n):
    return ("From: sender%d@example.jp\r\nTo: me@example.jp\r\nSubject: hello %d\r\n"
            "Date: Mon, 07 Dec 2026 09:00:00 +0900\r\n\r\nline one\r\n" % (n, n)).encode("ascii")


# Every hostile folder: a message another client read and flagged \Deleted
# (an expunge by the monitor would take it), and two unread ones.
FOLDER = [(mail(1), {"\\Seen", "\\Deleted"}), mail(2), mail(3)]

# name: (behaviour, how many rows its account lists, or None where an
# error and a part of the folder are both right)
ANSWERED = {
    "BYE instead of the greeting": ({"bye_at": "greeting"}, 0),
    "BYE in reply to LOGIN": ({"bye_at": "LOGIN"}, 0),
    "BYE in reply to EXAMINE": ({"bye_at": "EXAMINE"}, 0),
    "BYE in reply to FETCH": ({"bye_at": "FETCH"}, 0),
    "BYE once idling": ({"bye_at": "IDLE"}, 2),
    "reset inside the FETCH answer": ({"reset_in": "FETCH"}, None),
    "300,000 untagged responses before a reply": ({"flood_at": "SEARCH"}, None),
    "literal announcing 5 GB": ({"giant_literal": True}, 0),
    "EXISTS counting 50,000": ({"exists": 50000}, 2),
    "FETCH answers for a UID not asked": ({"unasked_fetch": True}, 2),
    "8-bit and NUL bytes in quoted strings": ({"raw_quoted": True}, None),
    "DONE never answered": ({"idle_never_done": True}, 2),
    "every byte in a packet of its own": ({"bytewise": True}, 2),
}
# These end only by the time limit; each runs in a monitor of its own.
STALLS = {
    "literal that never ends": ({"unended_literal": True}, 0),
    "completion under another tag": ({"wrong_tag_at": "FETCH"}, None),
}
CHANGING = {"STORE", "EXPUNGE", "MOVE", "COPY", "APPEND"}


def start_monitor(prefix, ports, **general):
    """The monitor checking an IMAP account on each port, once, at start-up."""
    values = {"accountno": str(len(ports)), "Option1value": "1", "Option3value": "1", "Option5value": "1",
              "Option7value": "1", "Closetimerval": "0", "Checktimerval": "0", "Timeupval": str(LIMIT_MINUTES)}
    for i, port in enumerate(ports, 1):
        values.update({"Aname%d" % i: "A%d" % i, "Hname%d" % i: "127.0.0.1", "Portno%d" % i: str(port),
                       "Uname%d" % i: "joe", "Passw%d" % i: scramble("secret"), "Check%d" % i: "1",
                       "Protocol%d" % i: "1"})
    values.update({k: str(v) for k, v in general.items()})
    prefix.reg_import(values)
    return prefix.start("tarvimon.exe")


class Run:
    """One monitor checking the table's accounts and a sane one last."""

    def __init__(self, test, prefix, table):
        self.prefix, self.table = prefix, table
        self.servers = {name: ScriptedImap(FOLDER, **b) for name, (b, _) in table.items()}
        self.sane = ScriptedImap([mail(1), mail(2), mail(3)])
        for s in list(self.servers.values()) + [self.sane]:
            test.addCleanup(s.stop)
        self.proc = start_monitor(prefix, [s.port for s in self.servers.values()] + [self.sane.port])
        self.started = time.monotonic()


class HostileImapTest(WineTest):
    def answering_main(self, prefix):
        """The monitor's window, once it has answered a message within seconds."""
        main = wait_for("the monitor's window", lambda: prefix.find(None, MAIN_CLASS, visible=None), 60)
        self.assertEqual(prefix.query("send", main.hwnd, 0, 0, 0).strip(), "0",
                         "the window did not answer: %s" % prefix.last_query_error)
        return main

    def rows(self, prefix, main):
        return [l.split("\t") for l in prefix.query("lvrows", main.hwnd, GRID).splitlines() if l]

    def test_hostile_servers_leave_the_monitor_alive_and_the_mail_untouched(self):
        runs = [Run(self, self.prefix, ANSWERED)]
        for i, name in enumerate(STALLS, 1):
            prefix = Prefix("%s-%d" % (self.id().split(".")[-1], i), self.display.display)
            self.addCleanup(prefix.close)
            runs.append(Run(self, prefix, {name: STALLS[name]}))
        for run in runs:
            budget = 180 + STALL_SECONDS * sum(name in STALLS for name in run.table)

            def sane_checked():
                self.answering_main(run.prefix)
                return "LOGOUT" in run.sane.received()
            try:
                wait_for("the sane account after the hostile ones", sane_checked,
                         max(30, budget - (time.monotonic() - run.started)), interval=2)
            except AssertionError as e:
                main = run.prefix.find(None, MAIN_CLASS, visible=None)
                self.fail("%s; caption %r; servers:\n%s" % (e, main and main.title, "\n".join(
                    "  %s: %d connections, %r" % (n, s.connections, s.received()[:8])
                    for n, s in list(run.servers.items()) + [("sane", run.sane)])))
            self.verify(run)

    def verify(self, run):
        prefix, main = run.prefix, self.answering_main(run.prefix)
        sane_account = str(len(run.servers) + 1)
        wait_for("the sane account's rows",
                 lambda: [r[5] for r in self.rows(prefix, main)].count(sane_account) == 3)
        rows = self.rows(prefix, main)
        elapsed = time.monotonic() - run.started
        self.assertIsNone(run.proc.poll(), "the monitor ended")
        for account, (name, server) in enumerate(run.servers.items(), 1):
            listed = [r[4] for r in rows if r[5] == str(account)]
            sys.stderr.write("\n  %-42s %d connections %r, listed %r%s" % (
                name, server.connections, [round(t - run.started, 1) for t in server.connected_at], listed, "; unread by the script: %r" % server.errors if server.errors else ""))
            self.assertEqual((server.removed, server.flagged), ([], []), name)
            self.assertFalse(set(server.names()) & CHANGING, name)
            self.assertNotIn("unasked", listed, name)
            # A literal too large to take is refused at its announcement.
            self.assertLess(server.streamed, 16 << 20, name)
            if run.table[name][1] is not None:
                self.assertEqual(len(listed), run.table[name][1], name)
            # One try after a failure is a retry; one every few seconds is a
            # loop. A push connection that idled again brings a check with
            # it (mail may have come while there was none).
            retries = 4 + elapsed / 10
            self.assertLessEqual(server.connections, retries * (2 if name == "BYE once idling" else 1), name)
        sys.stderr.write("\n")
        prefix.post(main.hwnd, WM_CLOSE, 1)  # the monitor's own unload, without a question
        wait_for("the monitor to end", lambda: run.proc.poll() is not None, 30)

    def test_delete_after_the_uidvalidity_changed_deletes_nothing(self):
        server = ScriptedImap(FOLDER, new_validity_on_select=True)
        self.addCleanup(server.stop)
        proc = start_monitor(self.prefix, [server.port], Option3value=0)
        main = self.answering_main(self.prefix)
        wait_for("two rows", lambda: len(self.rows(self.prefix, main)) == 2, 120)
        self.prefix.run("tarvidrv.exe", "lvclick", main.hwnd, str(GRID), "0")
        wait_for("the mark", lambda: self.rows(self.prefix, main)[0][1] == "○")
        self.prefix.click(main.hwnd, DEL_BT)
        box, _ = self.prefix.message_box()
        self.prefix.click(box.hwnd, IDYES)
        wait_for("the delete's session to end", lambda: any(
            "SELECT" in [c.split()[0].upper() for c in s] and n in server.ended
            for n, s in enumerate(server.sessions())), 60)
        self.assertEqual((server.removed, server.flagged), ([], []))
        self.assertFalse(set(server.names()) & CHANGING)
        warning = self.prefix.find(None, "#32770")
        if warning:
            self.prefix.click(warning.hwnd, IDOK)
        self.answering_main(self.prefix)
        self.assertIsNone(proc.poll())
