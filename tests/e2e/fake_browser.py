#!/usr/bin/env python3
"""The default browser of the test prefixes: Wine's winebrowser hands it the
URL a Windows program opened. It visits the URL as a browser would, follows
every redirect (the authorization server's to the program's loopback
listener among them) and ends.

What it did goes to TARVI_BROWSER_LOG, or else to browser.log beside the
Wine prefix (whose path Wine always passes on in WINEPREFIX), one line per
step, so that a test can wait for it and say what happened."""
import faulthandler
import os
import signal
import sys
import time
import urllib.error
import urllib.request


def log_path():
    explicit = os.environ.get("TARVI_BROWSER_LOG")
    if explicit:
        return explicit
    prefix = os.environ.get("WINEPREFIX", "")
    return os.path.join(os.path.dirname(os.path.abspath(prefix)) if prefix else "/tmp", "browser.log")


class Recorder(urllib.request.HTTPRedirectHandler):
    def __init__(self, log):
        self.log = log

    def redirect_request(self, req, fp, code, msg, headers, newurl):
        self.log("redirect %d %s" % (code, newurl))
        return super().redirect_request(req, fp, code, msg, headers, newurl)


def detach():
    """Goes on in a process of its own session, so that whatever ends the
    Wine program that started it (and its process group) cannot cut a
    visit short; the starter returns at once, as a browser's does."""
    if os.fork() > 0:
        os._exit(0)
    os.setsid()


def main(argv):
    detach()
    with open(log_path(), "a", encoding="utf-8") as f:
        def log(line):
            f.write("%.3f %s\n" % (time.time(), line))
            f.flush()
        if len(argv) < 2:
            log("error no URL")
            return 2
        url = argv[1]
        log("open %s (pid %d)" % (url, os.getpid()))
        # A browser that hangs says where, and goes; one that is ended says by what.
        faulthandler.dump_traceback_later(45, exit=True, file=f)
        for sig in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
            signal.signal(sig, lambda n, _: (log("ended by signal %d" % n), os._exit(1)))
        # No proxy: every address of the tests is on 127.0.0.1.
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}), Recorder(log))
        try:
            with opener.open(url, timeout=30) as reply:
                body = reply.read(2000)
                log("done %d %s %r" % (reply.status, reply.geturl(), body[:200]))
        except urllib.error.HTTPError as e:
            log("done %d %s %r" % (e.code, e.geturl(), e.read(200)))
        except (OSError, ValueError) as e:
            log("error %s" % e)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
