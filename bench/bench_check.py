"""Benchmark, run by hand: the monitor under Wine checks one Dovecot mailbox
of 10,000 messages; a minimal client sends the same TOP commands, one per
round trip, over the same loopback. Prints both times, their ratio (goal:
under 1.5) and the monitor's peak memory.

  TARVI_BUILD=build/b-win-root python3 bench/bench_check.py [messages]
"""
import os
import socket
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
        client = minimal_client(dove.port, "bench", "pw")
        prefix.reg_import({"accountno": "1", "Option5value": "1", "Option3value": "1", "Checktimerval": "0",
                           "Timeupval": "5", "Aname1": "Bench", "Hname1": "127.0.0.1",
                           "Portno1": str(dove.port), "Uname1": "bench", "Passw1": scramble("pw"), "Check1": "1"})
        prefix.start("tarvimon.exe")
        checking = harness.TITLE + " -チェック中:Bench-"
        done = "%d通のメールが届いています!" % COUNT
        harness.wait_for("check start", lambda: prefix.find(checking, MAIN_CLASS, visible=None),
                         timeout=120, interval=0.05)
        start = time.monotonic()
        harness.wait_for("check end", lambda: prefix.find(done, MAIN_CLASS, visible=None),
                         timeout=1800, interval=1.0)
        monitor = time.monotonic() - start
        peak = peak_kib("tarvimon.exe")
        print("messages:        %d" % COUNT)
        print("minimal client:  %.2f s" % client)
        print("monitor (Wine):  %.2f s" % monitor)
        print("ratio:           %.2f (goal < 1.5)" % (monitor / client))
        print("monitor peak memory (VmHWM): %.1f MiB" % (peak / 1024.0))
    finally:
        prefix.close()
        dove.stop()
        if harness._xvfb:
            harness._xvfb.stop()


if __name__ == "__main__":
    main()
