"""Benchmark of the IMAP check, run by hand; prints the figures of one run
side by side and judges nothing. One Dovecot on loopback serves COUNT
messages of about 2 KB (written into the maildir directly) over POP3 and
IMAP, and the figures are:

  - the monitor under Wine (an IMAP account, push on) checking the folder
    with an empty memory, the check started by its hotkey, then again with
    the folder unchanged: login to logout, as Dovecot's log stamps them in
    microseconds (bench/fastcheck times the POP3 check the same way);
  - bench/fastcheck/top_client.c over POP3 (TOP n 5 one at a time) and
    uid_fetch_client.c here (the check's one UID FETCH), native, before and
    after the monitor's checks;
  - the monitor's resident memory before its first check and after it;
  - the commands of the unchanged folder's check, from Dovecot's rawlog;
  - push: from a message written into the maildir to the monitor's caption
    counting it, read by one long-running driver, for 20 deliveries.

  TARVI_BUILD=/tmp/h3-build python3 bench/imap/bench_imap.py [COUNT]
"""
import datetime
import glob
import os
import re
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))
sys.path.insert(0, os.path.join(HERE, "..", "fastcheck"))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "e2e"))
import harness  # noqa: E402
from harness import Dovecot, Prefix, display, scramble  # noqa: E402
from bench_check import LOG_LINE, precise_log  # noqa: E402
from bench_fastcheck import message, rss_kib  # noqa: E402
from soak import Driver  # noqa: E402

COUNT = int(sys.argv[1]) if len(sys.argv) > 1 else 10000
DELIVERIES = 20
MAIN_CLASS = "TarviMonMailForm"
CTRL, F3 = 2, 114
LOGIN = re.compile(r"(pop3|imap)-login: (?:Info: )?Login: user=<bench>.*\bmpid=(\d+).*\bsession=<([^>]+)>")
LOGOUT = re.compile(r"(pop3|imap)\(bench\)<(\d+)><([^>]+)>: (?:Info: )?Disconnected: (.*)")


def build(name, source):
    exe = os.path.join(harness.BUILD, name)
    subprocess.run(["cc", "-O2", "-o", exe, source], check=True)
    return exe


def own_clock(exe, port):
    out = subprocess.run([exe, str(port), "bench", "pw"], check=True, capture_output=True, text=True)
    return float(out.stdout.split()[0])


def finished(dove, protocol):
    """(seconds from login to logout, mail process id, logout text, login
    time) of every finished session of `protocol`, in the order they ended."""
    logins, out = {}, []
    for line in dove.log().splitlines():
        m = LOG_LINE.match(line)
        if not m:
            continue
        stamp = datetime.datetime.strptime(m.group(1), "%Y-%m-%d %H:%M:%S.%f")
        login, logout = LOGIN.search(m.group(2)), LOGOUT.search(m.group(2))
        if login and login.group(1) == protocol:
            logins[login.group(3)] = stamp
        elif logout and logout.group(1) == protocol and logout.group(3) in logins:
            login = logins[logout.group(3)]
            out.append(((stamp - login).total_seconds(), logout.group(2), logout.group(4), login))
    return out


def after(dove, protocol, seen, timeout=1800, searched=False):
    """The first session of `protocol` to end after the `seen` first; with
    `searched`, the first that sent a SEARCH (a check, not a push
    connection given up)."""
    def ended():
        for s in finished(dove, protocol)[seen:]:
            if not searched or any("SEARCH" in c.upper() for c in rawlog_commands(dove, s[1])):
                return s
        return None
    return harness.wait_for("a %s session to end" % protocol, ended, timeout=timeout, interval=0.5)


def client_run(exe, dove, port, protocol):
    """(Dovecot's login-to-logout seconds, the client's own seconds)."""
    seen = len(finished(dove, protocol))
    own = own_clock(exe, port)
    return after(dove, protocol, seen, 60)[0], own


def rawlog_commands(dove, pid):
    """The commands (tags dropped) that the IMAP session of mail process
    `pid` sent after its logon."""
    files = glob.glob(os.path.join(dove.dir, "rawlog", "bench", "*.%s.*.in" % pid))
    lines = open(files[0], "rb").read().decode("utf-8", "replace").split("\r\n") if files else []
    return [l.split(" ", 2)[-1] for l in lines if l.count(" ") >= 2]


def main():
    print("preparing %d messages ..." % COUNT, flush=True)
    top = build("top_client", os.path.join(HERE, "..", "fastcheck", "top_client.c"))
    fetch = build("uid_fetch_client", os.path.join(HERE, "uid_fetch_client.c"))
    dove = Dovecot({"bench": ("pw", [message(i) for i in range(1, COUNT + 1)])}, imap=True)
    prefix = Prefix("bench-imap", display().display)
    driver = None
    try:
        precise_log(dove)
        # Dovecot builds its index, and its cache of the header fields,
        # which it keeps only for fields asked for again in a later session.
        own_clock(top, dove.port)
        own_clock(fetch, dove.imap_port)
        own_clock(fetch, dove.imap_port)
        clients = {"top": [client_run(top, dove, dove.port, "pop3")],
                   "fetch": [client_run(fetch, dove, dove.imap_port, "imap")]}
        prefix.reg_import({"accountno": "1", "Option5value": "0", "Option3value": "1", "Option1value": "0",
                           "Checktimerval": "0", "Timeupval": "5", "Aname1": "Bench", "Hname1": "127.0.0.1",
                           "Portno1": str(dove.imap_port), "Uname1": "bench", "Passw1": scramble("pw"),
                           "Check1": "1", "Protocol1": "1"})
        prefix.start("tarvimon.exe")
        prefix.wait_window(harness.TITLE, MAIN_CLASS, visible=False, timeout=120)
        time.sleep(3)
        rss_none = rss_kib(prefix)

        def check():
            seen = len(finished(dove, "imap"))
            prefix.run("tarvidrv.exe", "key", str(CTRL), str(F3))
            return after(dove, "imap", seen, searched=True)

        caption = "%d通のメールが届いています!"
        first = check()
        harness.wait_for("the count in the caption", lambda: prefix.find(caption % COUNT, MAIN_CLASS, visible=None),
                         timeout=120, interval=1.0)
        time.sleep(3)
        rss_listed = rss_kib(prefix)
        unchanged = check()
        unchanged_commands = rawlog_commands(dove, unchanged[1])
        clients["top"].append(client_run(top, dove, dove.port, "pop3"))
        clients["fetch"].append(client_run(fetch, dove, dove.imap_port, "imap"))

        driver = Driver(prefix)
        latencies, to_login, spans = [], [], []
        for n in range(COUNT + 1, COUNT + 1 + DELIVERIES):
            time.sleep(1.0)  # the previous push's check has ended
            seen = len(finished(dove, "imap"))
            start, wall = time.monotonic(), datetime.datetime.now()
            dove.deliver("bench", message(n))
            harness.wait_for("caption %d" % n, lambda: any(w[3] == MAIN_CLASS and w[4] == caption % n
                                                           for w in driver.windows()), timeout=120, interval=0.01)
            latencies.append(time.monotonic() - start)
            session = after(dove, "imap", seen, 60, searched=True)
            to_login.append((session[3] - wall).total_seconds())
            spans.append(session[0])

        base = statistics.mean(s for s, _ in clients["fetch"])
        print("messages:                        %d of about %d bytes, one Dovecot, POP3 and IMAP"
              % (COUNT, len(message(1))))
        print("%-33s %8s %12s" % ("login to logout (Dovecot)", "seconds", "x one FETCH"))
        headers = lambda s: "headers of %s messages fetched" % re.search(r"hdr_count=(\d+)", s[2]).group(1)  # noqa: E731
        rows = [("monitor, first check (Wine)", first[0], "empty memory; " + headers(first)),
                ("monitor, unchanged folder", unchanged[0], headers(unchanged))]
        for name, key, what in (("top_client.c, POP3", "top", "TOP n 5 one at a time"),
                                ("uid_fetch_client.c, IMAP", "fetch", "one UID FETCH 1:*")):
            (a, own_a), (b, own_b) = clients[key]
            rows.append((name, (a + b) / 2, "%s; before %.3f, after %.3f; own clock %.3f, %.3f"
                         % (what, a, b, own_a, own_b)))
        for name, secs, what in rows:
            print("  %-31s %8.3f %12.2f   %s" % (name, secs, secs / base, what))
        print("unchanged folder, commands:      %s" % ", ".join(unchanged_commands))
        print("                                 %s" % ("FETCH sent" if any("FETCH" in c.upper() for c in unchanged_commands)
                                                        else "no FETCH"))
        print("monitor memory (VmRSS):          %.1f MiB with none listed, %.1f MiB with %d listed (+%.1f MiB)"
              % (rss_none / 1024.0, rss_listed / 1024.0, COUNT, (rss_listed - rss_none) / 1024.0))
        print("push, maildir to caption:        median %.3f s of %d (min %.3f, max %.3f)"
              % (statistics.median(latencies), len(latencies), min(latencies), max(latencies)))
        print("                                 of which to the check's login %.3f s, the check %.3f s (medians)"
              % (statistics.median(to_login), statistics.median(spans)))
    finally:
        if driver:
            driver.close()
        prefix.close()
        dove.stop()
        if harness._xvfb:
            harness._xvfb.stop()


if __name__ == "__main__":
    main()
