"""The demo: a private Dovecot on 127.0.0.1 with a demo mailbox of Japanese
mail served over TLS (a test CA made here, trusted in the prefix only), a
second mailbox served in the clear, and a third checked over IMAP with push
(IDLE): a message the demo delivers there after the first check pops up by
itself. The three accounts in a private Wine prefix, and tarvimon.exe resident on
$DISPLAY (or under Xvfb). Prints what the monitor does and saves screenshots
under build/screenshots. Ends with Ctrl+C, or after TARVI_DEMO_SECONDS."""
import os
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import harness  # noqa: E402
import samples  # noqa: E402
import tls_setup  # noqa: E402

MAIN_CLASS = "TarviMonMailForm"


def main():
    os.makedirs(harness.WORK, exist_ok=True)
    if os.environ.get("DISPLAY") and not os.environ.get("TARVI_DISPLAY"):
        os.environ["TARVI_DISPLAY"] = os.environ["DISPLAY"]
    disp = harness.display()
    print("demo: display %s%s" % (disp.display, " (Xvfb)" if disp.proc else ""))
    certs = tls_setup.make_certs()
    mails = samples.demo_mailbox()
    dovecot = harness.Dovecot({"demo": ("demo", mails), "plain": ("plain", mails[:2]), "imap": ("imap", mails[:1])},
                              tls=certs.server, imap=True)
    print("demo: Dovecot POP3 over TLS on %s:%d, user demo, %d messages"
          % (tls_setup.HOST, dovecot.tls_port, dovecot.message_count("demo")))
    print("demo: Dovecot POP3 in the clear on 127.0.0.1:%d, user plain, %d messages"
          % (dovecot.port, dovecot.message_count("plain")))
    print("demo: Dovecot IMAP over TLS on %s:%d, user imap, %d message, push (IDLE)"
          % (tls_setup.HOST, dovecot.imaps_port, dovecot.message_count("imap")))
    prefix = harness.Prefix("demo", disp.display)
    print("demo: Wine prefix %s" % prefix.path)
    tls_setup.trust_ca(prefix, certs.ca)
    print("demo: test CA trusted in the prefix (SHA-256 of the server's certificate %s)"
          % tls_setup.sha256_fingerprint(certs.server))
    prefix.reg_import({
        "accountno": "3", "Aname1": "デモ", "Hname1": tls_setup.HOST, "Portno1": str(dovecot.tls_port),
        "Uname1": "demo", "Passw1": harness.scramble("demo"), "Check1": "1", "Tlsmode1": "1",
        "Aname2": "デモ(暗号化なし)", "Hname2": "127.0.0.1", "Portno2": str(dovecot.port),
        "Uname2": "plain", "Passw2": harness.scramble("plain"), "Check2": "1", "Tlsmode2": "0",
        "Aname3": "デモ(IMAP)", "Hname3": tls_setup.HOST, "Portno3": str(dovecot.imaps_port), "Protocol3": "1",
        "Uname3": "imap", "Passw3": harness.scramble("imap"), "Check3": "1", "Tlsmode3": "1",
        "Option1value": "1", "Option5value": "1", "Checktimerval": "5", "Option8value": "1",
        "Trayicon": "1",  # the program's default; the test prefixes start without the icon
    })
    proc = prefix.start("tarvimon.exe")
    shots = os.path.join(harness.BUILD, "screenshots")
    os.makedirs(shots, exist_ok=True)
    try:
        main_window = prefix.wait_window(None, MAIN_CLASS, visible=None)
        print("demo: tarvimon.exe is resident (pid %d), main window %s" % (proc.pid, main_window))
        last = None
        deadline = time.monotonic() + float(os.environ.get("TARVI_DEMO_SECONDS", "1e9"))
        shot = 0
        delivered = False
        while proc.poll() is None and time.monotonic() < deadline:
            state = [(w.cls, w.title, w.visible) for w in prefix.windows()
                     if w.pid and (w.cls == MAIN_CLASS or w.title == harness.TITLE)]
            if state != last:
                for cls, title, visible in state:
                    print("demo: window %-18s %-40s %s" % (cls, title, "shown" if visible else "hidden"))
                shot += 1
                path = os.path.join(shots, "demo-%02d.png" % shot)
                disp.screenshot(path)
                print("demo: screenshot %s" % path)
                last = state
            # Once the first check has listed the mail, one more message
            # reaches the IMAP mailbox; the push connection announces it.
            if not delivered and any(title.endswith("通のメールが届いています!") for _, title, _ in state):
                time.sleep(3)
                dovecot.deliver("imap", samples.message("プッシュ", "push@example.jp", "IDLEで届いたメール",
                                                         "チェックを待たずに届きました。\n"))
                print("demo: delivered a message to the IMAP mailbox; it pops up without a check")
                delivered = True
            time.sleep(2)
        print("demo: monitor ended" if proc.poll() is not None else "demo: time is up")
    except KeyboardInterrupt:
        print("demo: interrupted")
    finally:
        prefix.close()
        dovecot.stop()
        certs.cleanup()
        disp.stop()


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *a: (_ for _ in ()).throw(KeyboardInterrupt()))
    main()
