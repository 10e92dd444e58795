"""Benchmark of the fast check, run by hand; prints the figures of one run
side by side and judges nothing. Dovecot on loopback holds COUNT messages
of about 2 KB. A minimal native C client (top_client.c, built here with the
system's C compiler) sends TOP n 5 one at a time; the monitor under Wine
(Fastcheck 1) checks the mailbox three times, each check started with its
hotkey: first with an empty memory, then unchanged, then with one new
message. Every session is timed by Dovecot (login to logout, microsecond
stamps) and its TOP count is Dovecot's own. The monitor's memory is read
before its first check (nothing listed) and after the checks (COUNT listed).
The kept file's own write and read times are bench/bench_kept_list.cpp's.

  TARVI_BUILD=build/h-fast python3 bench/fastcheck/bench_fastcheck.py [COUNT]
"""
import os
import re
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "e2e"))
import harness  # noqa: E402
from harness import Dovecot, Prefix, display, scramble  # noqa: E402
from pop3_script import low_port  # noqa: E402
from bench_check import peak_kib, precise_log, sessions, span  # noqa: E402

COUNT = int(sys.argv[1]) if len(sys.argv) > 1 else 10000
MAIN_CLASS = "TarviMonMailForm"
TITLE = "Tarviメールチェッカー"
CTRL = 2
TOPS = re.compile(r"\btop=(\d+)/")


def message(i):
    head = ("From: sender%d@example.jp\r\nTo: me@example.jp\r\nSubject: benchmark %d\r\n"
            "Message-ID: <%d@bench>\r\nDate: Mon, 07 Dec 2026 09:00:00 +0900\r\n\r\n" % (i, i, i))
    body = "".join("body line %04d of a message of about two kilobytes........\r\n" % n for n in range(30))
    return (head + body).encode("ascii")


def build_client():
    exe = os.path.join(harness.BUILD, "top_client")
    subprocess.run(["cc", "-O2", "-o", exe, os.path.join(HERE, "top_client.c")], check=True)
    return exe


def client(exe, port):
    out = subprocess.run([exe, str(port), "bench", "pw"], check=True, capture_output=True, text=True)
    return float(out.stdout.split()[0])


def rss_kib(prefix):
    """Resident memory of the prefix's tarvimon.exe."""
    mine = b"WINEPREFIX=" + prefix.path.encode() + b"\0"
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            if b"tarvimon.exe" not in open("/proc/%s/cmdline" % pid, "rb").read():
                continue
            if mine not in open("/proc/%s/environ" % pid, "rb").read():
                continue
            for line in open("/proc/%s/status" % pid):
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        except OSError:
            continue
    return 0


def main():
    print("preparing %d messages ..." % COUNT, flush=True)
    exe = build_client()
    dove = Dovecot({"bench": ("pw", [message(i) for i in range(1, COUNT + 1)])}, port=low_port())
    prefix = Prefix("bench-fastcheck", display().display)
    try:
        precise_log(dove)
        client(exe, dove.port)  # Dovecot builds its index and cache for this one
        own_before = client(exe, dove.port)
        prefix.reg_import({"accountno": "1", "Option5value": "0", "Option3value": "1", "Option1value": "0",
                           "Checktimerval": "0", "Timeupval": "5", "Fastcheck": "1", "Aname1": "Bench",
                           "Hname1": "127.0.0.1", "Portno1": str(dove.port), "Uname1": "bench",
                           "Passw1": scramble("pw"), "Check1": "1"})
        prefix.start("tarvimon.exe")
        prefix.wait_window(TITLE, MAIN_CLASS, visible=False, timeout=120)
        time.sleep(3)
        rss_none = rss_kib(prefix)

        def check(n_sessions):
            prefix.run("tarvidrv.exe", "key", str(CTRL), "114")  # Ctrl+F3
            harness.wait_for("check %d" % n_sessions, lambda: len(sessions(dove, "bench")) >= n_sessions,
                             timeout=1800, interval=0.5)
            s = sessions(dove, "bench")[n_sessions - 1]
            return span(s), int(TOPS.search(s[2]).group(1))

        done = "%d通のメールが届いています!" % COUNT
        first = check(3)
        harness.wait_for("the count in the caption", lambda: prefix.find(done, MAIN_CLASS, visible=None),
                         timeout=120, interval=1.0)
        time.sleep(3)
        rss_listed = rss_kib(prefix)
        unchanged = check(4)
        dove.add_messages("bench", [message(COUNT + 1)])
        one_new = check(5)
        harness.wait_for("the new count in the caption",
                         lambda: prefix.find("%d通のメールが届いています!" % (COUNT + 1), MAIN_CLASS, visible=None),
                         timeout=120, interval=1.0)
        peak = peak_kib("tarvimon.exe")
        own_after = client(exe, dove.port)
        all_sessions = sessions(dove, "bench")
        c_before, c_after = span(all_sessions[1]), span(all_sessions[5])
        c = (c_before + c_after) / 2
        kept = [os.path.join(d, f) for d, _, fs in os.walk(os.path.join(prefix.path, "drive_c", "users"))
                for f in fs if f.startswith("list-") and f.endswith(".dat")]

        print("messages:                     %d of about %d bytes" % (COUNT, len(message(1))))
        print("C client, TOP one at a time:  %.3f s (Dovecot: before %.3f, after %.3f; own clock %.3f, %.3f)"
              % (c, c_before, c_after, own_before, own_after))
        print("%-29s %8s %8s %6s" % ("monitor (Wine, Fastcheck 1)", "seconds", "x client", "TOPs"))
        for what, (secs, tops), goal in (("first check, empty memory", first, "goal <= 1.0"),
                                         ("unchanged mailbox", unchanged, "goal <= 0.1"),
                                         ("one new message", one_new, "goal: 1 TOP")):
            print("  %-27s %8.3f %8.3f %6d   %s" % (what, secs, secs / c, tops, goal))
        print("monitor memory (VmRSS):       %.1f MiB with none listed, %.1f MiB with %d listed (+%.1f MiB; goal <= +10)"
              % (rss_none / 1024.0, rss_listed / 1024.0, COUNT, (rss_listed - rss_none) / 1024.0))
        print("monitor peak memory (VmHWM):  %.1f MiB" % (peak / 1024.0))
        for path in kept:
            print("kept file:                    %s, %.1f KiB" % (os.path.basename(path), os.path.getsize(path) / 1024.0))
    finally:
        prefix.close()
        dove.stop()
        if harness._xvfb:
            harness._xvfb.stop()


if __name__ == "__main__":
    main()
