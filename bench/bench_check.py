"""Benchmark, run by hand: the monitor under Wine checks one Dovecot mailbox
of 10,000 messages; a minimal client sends the same TOP commands, one per
round trip, over the same loopback. Prints both times, their ratio (goal:
under 1.5) and the monitor's peak memory.

Both sessions are timed by the server: from Dovecot's login line to its
logout line, with microsecond timestamps. Nothing polls the monitor while it
checks (every look at its caption is a Wine process competing for the same
cores), so the figure is the monitor's own.

  TARVI_BUILD=build/b-win-root python3 bench/bench_check.py [messages]
"""
import datetime
import os
import re
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import harness  # noqa: E402
from harness import Dovecot, Prefix, display, scramble  # noqa: E402
from pop3_script import low_port  # noqa: E402

COUNT = int(sys.argv[1]) if len(sys.argv) > 1 else 10000
MAIN_CLASS = "TarviMonMailForm"


def message(i):
    return ("From: sender%d@example.jp\r\nTo: me@example.jp\r\nSubject: benchmark %d\r\n"
            "Message-ID: <%d@bench>\r\n\r\n" % (i, i, i) + "body line\r\n" * 20).encode("ascii")


def read_reply(sock, buf, multi):
    end = b"\r\n.\r\n" if multi else b"\r\n"
    while end not in buf:
        data = sock.recv(4096)
        if not data:
            raise RuntimeError("server closed")
        buf += data
    i = buf.index(end) + len(end)
    return buf[:i], buf[i:]


def minimal_client(port, user, password):
    s = socket.create_connection(("127.0.0.1", port))
    buf = b""
    _, buf = read_reply(s, buf, False)
    for cmd in ("USER " + user, "PASS " + password):
        s.sendall(cmd.encode() + b"\r\n")
        _, buf = read_reply(s, buf, False)
    start = time.monotonic()
    s.sendall(b"STAT\r\n")
    stat, buf = read_reply(s, buf, False)
    n = int(stat.split()[1])
    for i in range(1, n + 1):
        s.sendall(b"TOP %d 5\r\n" % i)
        _, buf = read_reply(s, buf, True)
    s.sendall(b"QUIT\r\n")
    read_reply(s, buf, False)
    s.close()
    return time.monotonic() - start


LOG_LINE = re.compile(r"^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6}) (.*)$")


def precise_log(dove):
    """Microsecond timestamps in Dovecot's log from now on."""
    with open(dove.conf, "a") as f:
        f.write('\nlog_timestamp = "%Y-%m-%d %H:%M:%S.%{usecs} "\n')
    subprocess.run(["doveadm", "-c", dove.conf, "reload"], check=True)
    # The reload is done once a connection is logged with the new stamps.
    harness.wait_for("dovecot reload", lambda: dove._listening() and
                     any(LOG_LINE.match(l) for l in dove.log().splitlines()), timeout=30)


def sessions(dove, user):
    """(login, logout, logout line) of every finished session of `user`."""
    logins, done = [], []
    for line in dove.log().splitlines():
        m = LOG_LINE.match(line)
        if not m:
            continue
        stamp = datetime.datetime.strptime(m.group(1), "%Y-%m-%d %H:%M:%S.%f")
        if "Login: user=<%s>" % user in m.group(2):
            logins.append(stamp)
        elif m.group(2).startswith("pop3(%s)" % user) and "Disconnected" in m.group(2):
            done.append((stamp, m.group(2)))
    return [(a, b, text) for a, (b, text) in zip(logins, done)]


def span(session):
    return (session[1] - session[0]).total_seconds()


def logins(dove, user):
    return sum("Login: user=<%s>" % user in l for l in dove.log().splitlines())


def cpu_seconds(pattern, prefix):
    """User and system CPU seconds of the processes of the Wine prefix whose
    command line has `pattern` (other prefixes may be running tests)."""
    tick = os.sysconf("SC_CLK_TCK")
    mine = b"WINEPREFIX=" + prefix.path.encode() + b"\0"
    user = system = 0
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            if pattern.encode() not in open("/proc/%s/cmdline" % pid, "rb").read():
                continue
            if mine not in open("/proc/%s/environ" % pid, "rb").read():
                continue
            fields = open("/proc/%s/stat" % pid).read().rsplit(")", 1)[1].split()
            user += int(fields[11])
            system += int(fields[12])
        except (OSError, IndexError, ValueError):
            continue
    return user / tick, system / tick


def peak_kib(pattern):
    best = 0
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            cmd = open("/proc/%s/cmdline" % pid, "rb").read()
            if pattern.encode() not in cmd:
                continue
            for line in open("/proc/%s/status" % pid):
                if line.startswith("VmHWM:"):
                    best = max(best, int(line.split()[1]))
        except OSError:
            continue
    return best


def main():
    print("preparing %d messages ..." % COUNT, flush=True)
    dove = Dovecot({"bench": ("pw", [message(i) for i in range(1, COUNT + 1)])}, port=low_port())
    prefix = Prefix("bench-check", display().display)
    try:
        precise_log(dove)
        # The first session of a new maildir builds Dovecot's index and cache;
        # neither timed client is to pay for that.
        minimal_client(dove.port, "bench", "pw")
        client_own = minimal_client(dove.port, "bench", "pw")
        harness.wait_for("client logout", lambda: len(sessions(dove, "bench")) >= 2, timeout=30)
        prefix.reg_import({"accountno": "1", "Option5value": "1", "Option3value": "1", "Checktimerval": "0",
                           "Timeupval": "5", "Aname1": "Bench", "Hname1": "127.0.0.1",
                           "Portno1": str(dove.port), "Uname1": "bench", "Passw1": scramble("pw"), "Check1": "1"})
        prefix.start("tarvimon.exe")
        # The CPU the monitor and its wineserver spend on the check alone:
        # counted from its login, which a look at a file every 20 ms finds
        # at no cost to the monitor.
        harness.wait_for("check start", lambda: logins(dove, "bench") >= 3, timeout=120, interval=0.02)
        cpu_before = [cpu_seconds(p, prefix) for p in ("tarvimon.exe", "wineserver")]
        # Reading a file now and then costs the monitor nothing.
        harness.wait_for("check end", lambda: len(sessions(dove, "bench")) >= 3, timeout=1800,
                         interval=0.5)
        done = "%d通のメールが届いています!" % COUNT
        harness.wait_for("the count in the caption", lambda: prefix.find(done, MAIN_CLASS, visible=None),
                         timeout=60, interval=1.0)
        peak = peak_kib("tarvimon.exe")
        cpu_after = [cpu_seconds(p, prefix) for p in ("tarvimon.exe", "wineserver")]
        # The machine may be shared: the client runs before and after the
        # monitor, and counts with the mean of both.
        client_own = (client_own + minimal_client(dove.port, "bench", "pw")) / 2
        harness.wait_for("client logout", lambda: len(sessions(dove, "bench")) >= 4, timeout=30)
        _, before, mon, after = sessions(dove, "bench")[:4]
        for what, s in (("minimal client", before), ("monitor", mon), ("minimal client", after)):
            if "top=%d/" % COUNT not in s[2]:
                raise RuntimeError("%s did not fetch every header: %s" % (what, s[2]))
        client, monitor = (span(before) + span(after)) / 2, span(mon)
        print("messages:        %d" % COUNT)
        print("minimal client:  %.2f s (before %.2f, after %.2f; its own clock, STAT to QUIT: %.2f s)"
              % (client, span(before), span(after), client_own))
        print("monitor (Wine):  %.2f s" % monitor)
        print("ratio:           %.2f (goal < 1.5)" % (monitor / client))
        for what, a, z in zip(("monitor", "wineserver"), cpu_before, cpu_after):
            print("%-16s %.2f s user, %.2f s system (%.0f us a message)"
                  % (what + " CPU:", z[0] - a[0], z[1] - a[1], (sum(z) - sum(a)) / COUNT * 1e6))
        print("monitor peak memory (VmHWM): %.1f MiB" % (peak / 1024.0))
    finally:
        prefix.close()
        dove.stop()
        if harness._xvfb:
            harness._xvfb.stop()


if __name__ == "__main__":
    main()
