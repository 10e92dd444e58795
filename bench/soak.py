"""Soak benchmark, run by hand: the monitor under Wine checks three accounts
cycle after cycle, one against Dovecot, one against the scripted server
misbehaving differently in every cycle, one whose port refuses connections.
New mail arrives now and then (the popup shows; the bench closes it), and
retrieve and delete runs come in between. At cycles 10, 100, 500, 1,000
(and the last) it prints what the monitor's process holds:

  handles   the process's entries in the system handle table
  gdi user  GetGuiResources (Wine answers 0 for another process)
  windows   its windows, top-level and children (USER objects Wine can count)
  private   private memory of its Wine process (Linux smaps: Private_*)
  rss       resident memory of its Wine process
  fds       file descriptors of its Wine process (sockets live there too)

It exits non-zero when, after cycle 100, a count grows by more than a few
or memory by more than a few MB.

The check interval is whole minutes, so a cycle is started the way the
check hotkey starts it: WM_HOTKEY with the hotkey's id, posted by one
long-running driver (tarvidrv serve) so that a cycle costs no Wine start.

  TARVI_BUILD=build/h-x python3 bench/soak.py [cycles]
"""
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import TITLE, Dovecot, Prefix, display, scramble  # noqa: E402
from pop3_script import ScriptedPop3, low_port  # noqa: E402
from test_hostile import refused_port  # noqa: E402

CYCLES = int(sys.argv[1]) if len(sys.argv) > 1 else 1000
REPORT_AT = [10, 100, 500, 1000]
MAIN_CLASS = "TarviMonMailForm"
WM_HOTKEY, IDYES = 0x0312, 6
GRID, RETR_BT, DEL_BT, CLOSE_BT = 110, 103, 104, 106
NEW_MAIL_EVERY, RETRIEVE_EVERY, DELETE_EVERY = 10, 25, 50
# The popup comes up with nearly every cycle (the scripted account lists
# something else each time); it is closed every few cycles, as a user who
# glances at it now and then would.
CLOSE_EVERY = 5
# Growth allowed after cycle 100: a few handles or windows come and go with
# what is on the screen at the moment of the look.
COUNT_BOUND = 8
MEMORY_BOUND = 8 << 20

# Behaviours that end on their own; those that end only by the time limit
# would make a cycle a minute long (the hostile tests cover them).
ROTATION = [
    {}, {"split_greeting": True}, {"bytewise": True}, {"lf_only": True}, {"split_end": True},
    {"cr_data": True}, {"err_at": "greeting"}, {"err_at": "PASS", "err_text": "[IN-USE] locked"},
    {"err_at": "PASS", "err_text": "[LOGIN-DELAY] wait"}, {"err_at": "TOP"}, {"stat": "9 400"},
    {"stat": "1 100"}, {"stat": "2 -300"}, {"stat": "99999999999999999999 300"},
    {"stat": "2 300 messages"}, {"stat": "5 900", "top_phantom": True}, {"no_stuffing": True},
    {"nul": True}, {"fake_ok": True}, {"raw_8bit": True}, {"parts": 500},
    {"long_header": 1 << 20},
]


def mail(n):
    return ("From: soak%d@example.jp\r\nTo: me@example.jp\r\nSubject: soak %d\r\n\r\nbody %d\r\n"
            % (n, n, n)).encode("ascii")


class Driver:
    """One tarvidrv in serve mode: a command costs a pipe round trip."""

    def __init__(self, prefix):
        self.proc = subprocess.Popen(["wine", prefix.win_path("tarvidrv.exe"), "serve"], env=prefix.env,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, cwd=prefix.app)

    def ask(self, *args):
        self.proc.stdin.write(("\t".join(str(a) for a in args) + "\n").encode("utf-8"))
        self.proc.stdin.flush()
        lines = []
        while True:
            line = self.proc.stdout.readline()
            if not line:
                raise RuntimeError("the driver ended")
            if line.startswith(b"=") and line.strip()[1:].lstrip(b"-").isdigit():
                return lines, int(line.strip()[1:])
            lines.append(line.decode("utf-8", "replace").rstrip("\n"))

    def windows(self):
        out = []
        for line in self.ask("windows")[0]:
            parts = line.split("\t")
            if len(parts) == 5:
                out.append((parts[0], int(parts[1]), parts[2] == "1", parts[3], parts[4]))
        return out

    def close(self):
        self.proc.stdin.close()
        self.proc.wait(timeout=30)


def wait(what, condition, timeout=180, interval=0.1):
    end = time.monotonic() + timeout
    while True:
        v = condition()
        if v:
            return v
        if time.monotonic() > end:
            raise RuntimeError("timed out waiting for " + what)
        time.sleep(interval)


def linux_figures(prefix):
    """(private bytes, rss bytes, fds) of the monitor's Wine process."""
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            env = open("/proc/%s/environ" % pid, "rb").read()
            cmd = open("/proc/%s/cmdline" % pid, "rb").read()
            rollup = open("/proc/%s/smaps_rollup" % pid).read()
            fds = len(os.listdir("/proc/%s/fd" % pid))
        except OSError:
            continue
        if b"WINEPREFIX=" + prefix.path.encode() + b"\0" in env and b"tarvimon.exe" in cmd:
            kb = lambda key: int(re.search(key + r":\s+(\d+) kB", rollup).group(1)) * 1024  # noqa: E731
            return kb("Private_Clean") + kb("Private_Dirty"), kb("Rss"), fds
    raise RuntimeError("no Wine process of the monitor")


def main():
    shown = display()
    prefix = Prefix("soak", shown.display)
    servers = []
    try:
        dove = Dovecot({"soak": ("pw", [mail(0), mail(1)])}, port=low_port())
        servers.append(dove)
        script = ScriptedPop3([mail(1), mail(2)], rotate=ROTATION)
        values = {"accountno": "3", "Option5value": "0", "Option3value": "1", "Option1value": "1",
                  "Option7value": "1", "Closetimerval": "0", "Checktimerval": "0", "Timeupval": "1"}
        for i, (name, port, user, pw) in enumerate([("Dovecot", dove.port, "soak", "pw"),
                                                    ("Script", script.port, "joe", "secret"),
                                                    ("Refused", refused_port(), "joe", "secret")], 1):
            values.update({"Aname%d" % i: name, "Hname%d" % i: "127.0.0.1", "Portno%d" % i: str(port),
                           "Uname%d" % i: user, "Passw%d" % i: scramble(pw), "Check%d" % i: "1"})
        prefix.reg_import(values)
        proc = prefix.start("tarvimon.exe")
        drv = Driver(prefix)

        def main_window():
            for w in drv.windows():
                if w[3] == MAIN_CLASS:
                    return w
            return None

        hwnd, pid = wait("the monitor's window", main_window, 120)[:2]
        atom = int(drv.ask("atom", "VBSHOTKEY1")[0][0])
        if atom == 0:
            raise RuntimeError("the check hotkey is not registered")

        def settled():
            w = main_window()
            return w if w and "チェック中" not in w[4] else None

        def popup_visible():
            w = main_window()
            return w and w[2]

        def rows():
            return [line.split("\t") for line in drv.ask("lvrows", hwnd, GRID)[0] if line]

        def mark_first():
            drv.ask("lvclick", hwnd, GRID, 0)
            wait("a mark", lambda: rows() and rows()[0][1] == "○", 30)

        figures = {}
        print("%6s %8s %5s %5s %8s %10s %10s %5s %8s" % ("cycle", "handles", "gdi", "user", "windows",
                                                          "private", "rss", "fds", "seconds"))
        start = time.monotonic()
        retrieved = deleted = popups = 0
        for cycle in range(1, CYCLES + 1):
            if cycle % NEW_MAIL_EVERY == 0:
                dove.add_messages("soak", [mail(1000 + cycle)])
            before = script.connections
            t0 = time.monotonic()
            drv.ask("post", hwnd, WM_HOTKEY, atom, 0)
            wait("cycle %d to reach the scripted account" % cycle, lambda: script.connections > before)
            t1 = time.monotonic()
            wait("cycle %d to end" % cycle, settled)
            t2 = time.monotonic()
            if os.environ.get("SOAK_TRACE"):
                print("  cycle %d: %.2f s to the script, %.2f s to the end; %s" % (
                    cycle, t1 - t0, t2 - t1, ROTATION[(script.connections - 1) % len(ROTATION)]), flush=True)
            if popup_visible():
                popups += cycle % CLOSE_EVERY == 0
                if cycle % DELETE_EVERY == 0 and rows():
                    count = dove.message_count("soak")
                    mark_first()
                    drv.ask("click", hwnd, DEL_BT)
                    box = wait("the question", lambda: next((w for w in drv.windows() if w[3] == "#32770"
                                                             and w[4] == TITLE and w[1] == pid), None), 30)
                    drv.ask("click", box[0], IDYES)
                    wait("the delete run", lambda: dove.message_count("soak") < count, 60)
                    wait("the check after it", settled)
                    deleted += 1
                elif cycle % RETRIEVE_EVERY == 0 and rows():
                    mark_first()
                    drv.ask("click", hwnd, RETR_BT)
                    wait("the retrieve run", lambda: rows() and rows()[0][1] == "", 60)
                    wait("its end", settled)
                    retrieved += 1
                if cycle % CLOSE_EVERY == 0 and popup_visible():
                    drv.ask("click", hwnd, CLOSE_BT)
                    wait("the popup to close", lambda: not popup_visible(), 30)
            if proc.poll() is not None:
                raise RuntimeError("the monitor ended at cycle %d" % cycle)
            if cycle in REPORT_AT or cycle == CYCLES:
                time.sleep(0.5)  # what a run just used is given back
                res = drv.ask("resources", pid)[0][0].split()
                private, rss, fds = linux_figures(prefix)
                f = {"handles": int(res[0]), "gdi": int(res[1]), "user": int(res[2]),
                     "windows": int(res[3]), "private": private, "rss": rss, "fds": fds}
                figures[cycle] = f
                print("%6d %8d %5d %5d %8d %9.1fM %9.1fM %5d %8.0f" % (
                    cycle, f["handles"], f["gdi"], f["user"], f["windows"], private / 1e6, rss / 1e6, fds,
                    time.monotonic() - start), flush=True)
        print("popups shown and closed: %d, retrieve runs: %d, delete runs: %d, scripted sessions: %d"
              % (popups, retrieved, deleted, script.connections))
        drv.close()
        base = figures.get(100)
        if not base:
            return 0
        last = figures[max(figures)]
        grown = [k for k in ("handles", "gdi", "user", "windows", "fds") if last[k] - base[k] > COUNT_BOUND]
        grown += [k for k in ("private", "rss") if last[k] - base[k] > MEMORY_BOUND]
        if grown:
            print("FAIL: grew after cycle 100: " + ", ".join(grown))
            return 1
        print("bounded: nothing grew after cycle 100 beyond %d objects or %d MB"
              % (COUNT_BOUND, MEMORY_BOUND >> 20))
        return 0
    finally:
        prefix.close()
        for s in servers:
            s.stop()
        shown.stop()


if __name__ == "__main__":
    sys.exit(main())
