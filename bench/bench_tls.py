"""Benchmark, run by hand: the monitor under Wine checks the same 1,000
messages over TLS and in the clear, in one run. Two Dovecot users hold the
same mailbox; the accounts alternate plain, TLS, plain, TLS, so that neither
kind has the warmer machine. Prints each kind's mean time and the ratio
TLS / plain (goal: under 1.5).

Each session is timed by the server, from Dovecot's login line to its
logout line (microsecond timestamps): the dialogue after the negotiation.
Also printed: the time from one session's logout to the next one's login,
which holds the cycle's step to the next account, the connection and, for a
TLS account, the negotiation and the certificate check.

  TARVI_BUILD=build/h-tls python3 bench/bench_tls.py [messages]
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import harness  # noqa: E402
from bench_check import message, minimal_client, precise_log, sessions, span  # noqa: E402
from harness import Dovecot, Prefix, display, scramble  # noqa: E402
from pop3_script import low_port  # noqa: E402
from tls_setup import HOST, make_certs, trust_ca  # noqa: E402

COUNT = int(sys.argv[1]) if len(sys.argv) > 1 else 1000
MAIN_CLASS = "TarviMonMailForm"


def main():
    print("preparing 2 x %d messages ..." % COUNT, flush=True)
    certs = make_certs()
    mails = [message(i) for i in range(1, COUNT + 1)]
    dove = Dovecot({"plain": ("pw", mails), "tls": ("pw", mails)}, port=low_port(), tls=certs.server)
    prefix = Prefix("bench-tls", display().display)
    try:
        precise_log(dove)
        # Dovecot builds each maildir's index in its first session; the
        # monitor is not to pay for that.
        for user in ("plain", "tls"):
            minimal_client(dove.port, user, "pw")
        trust_ca(prefix, certs.ca)
        values = {"accountno": "4", "Option5value": "1", "Option3value": "1", "Checktimerval": "0",
                  "Timeupval": "5"}
        for i, (user, port, mode) in enumerate([("plain", dove.port, 0), ("tls", dove.tls_port, 1)] * 2, 1):
            values.update({"Aname%d" % i: user + str(i), "Hname%d" % i: HOST, "Portno%d" % i: str(port),
                           "Uname%d" % i: user, "Passw%d" % i: scramble("pw"), "Check%d" % i: "1",
                           "Tlsmode%d" % i: str(mode)})
        prefix.reg_import(values)
        prefix.start("tarvimon.exe")
        harness.wait_for("the four sessions", lambda: all(len(sessions(dove, u)) >= 3 for u in ("plain", "tls")),
                         timeout=1800, interval=0.5)
        done = "%d通のメールが届いています!" % (4 * COUNT)
        harness.wait_for("the count in the caption", lambda: prefix.find(done, MAIN_CLASS, visible=None),
                         timeout=60, interval=1.0)
        plain = sessions(dove, "plain")[1:3]
        tls = sessions(dove, "tls")[1:3]
        for s in plain + tls:
            if "top=%d/" % COUNT not in s[2]:
                raise RuntimeError("a session did not fetch every header: %s" % s[2])
        # In the order of the accounts: plain, TLS, plain, TLS.
        order = [plain[0], tls[0], plain[1], tls[1]]
        gaps = [(b[0] - a[1]).total_seconds() for a, b in zip(order, order[1:])]
        p, t = sum(map(span, plain)) / 2, sum(map(span, tls)) / 2
        print("messages:          %d per session" % COUNT)
        print("plain (mean of 2): %.3f s (%.3f, %.3f)" % (p, span(plain[0]), span(plain[1])))
        print("TLS   (mean of 2): %.3f s (%.3f, %.3f)" % (t, span(tls[0]), span(tls[1])))
        print("ratio TLS/plain:   %.2f (goal < 1.5)" % (t / p))
        print("logout to next login: to TLS %.3f s, %.3f s; to plain %.3f s" % (gaps[0], gaps[2], gaps[1]))
    finally:
        prefix.close()
        dove.stop()
        certs.cleanup()
        if harness._xvfb:
            harness._xvfb.stop()


if __name__ == "__main__":
    main()
