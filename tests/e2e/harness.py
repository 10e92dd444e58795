"""What every end-to-end test needs: a private Wine prefix with the built
programs, a display, the driver that reads windows, the registry, Dovecot.

Tests wait for conditions with generous deadlines, never for fixed sleeps,
and end only what they started.
"""
import base64
import email
import email.header
import grp
import imaplib
import os
import pwd
import random
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ.get("TARVI_BUILD", os.path.join(ROOT, "build"))
WIN_BIN = os.path.join(BUILD, "win")
TEMPLATE = os.path.join(BUILD, "wine-template")
WORK = os.path.join(BUILD, "e2e")
APP_DIR = "C:\\tarvi"
REG_KEY = "HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\tarvimon\\setting"
TITLE = "Tarviメールチェッカー"
# Settings every prefix starts with. No tray icon: the tests written before
# there was one see exactly what they saw then; the tray tests turn it on.
# Likewise the dialogue of earlier versions, without UIDL.
DEFAULT_SETTINGS = {"Trayicon": "0", "Fastcheck": "0"}
# Slow machines make the tests slower, not red.
DEADLINE = float(os.environ.get("TARVI_E2E_DEADLINE", "60"))


def wait_for(what, condition, timeout=DEADLINE, interval=0.2):
    """Polls condition() until it returns a true value, which is returned."""
    end = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(interval)


def free_port():
    """A free loopback port that the 16-bit signed port setting can hold."""
    rnd = random.Random()
    for _ in range(500):
        port = rnd.randint(20000, 32000)
        with socket.socket() as s:
            try:
                s.bind(("127.0.0.1", port))
                return port
            except OSError:
                continue
    raise RuntimeError("no free port below 32768")


class Window:
    def __init__(self, hwnd, pid, visible, cls, title):
        self.hwnd, self.pid, self.visible, self.cls, self.title = hwnd, pid, visible, cls, title

    def __repr__(self):
        return "Window(%s, %r, %r, visible=%s)" % (self.hwnd, self.cls, self.title, self.visible)


def _unescape(s):
    return re.sub(r"\\([\\nrt])", lambda m: {"n": "\n", "r": "\r", "t": "\t"}.get(m.group(1), "\\"), s)


class Prefix:
    """A Wine prefix of one test, cloned from the template, with the built
    programs in C:\\tarvi. Its wineserver is killed at close()."""

    def __init__(self, name, display):
        os.makedirs(WORK, exist_ok=True)
        self.dir = tempfile.mkdtemp(prefix=name + "-", dir=WORK)
        self.path = os.path.join(self.dir, "prefix")
        os.makedirs(self.path)
        for entry in os.listdir(TEMPLATE):
            src = os.path.join(TEMPLATE, entry)
            dst = os.path.join(self.path, entry)
            if entry == "drive_c":
                # Hard links: the Windows files are only read; copying 700 MB
                # per test would cost more than the test.
                subprocess.run(["cp", "-al", src, dst], check=True)
            elif os.path.isdir(src) and not os.path.islink(src):
                shutil.copytree(src, dst, symlinks=True)
            else:
                shutil.copy2(src, dst, follow_symlinks=False)
        self._write_default_settings()
        self.app = os.path.join(self.path, "drive_c", "tarvi")
        os.makedirs(self.app, exist_ok=True)
        for exe in ("tarvimon.exe", "tarvicfg.exe", "tarvidrv.exe", "storetool.exe", "fakecfg.exe",
                    "recordargs.exe"):
            src = os.path.join(WIN_BIN, exe)
            if os.path.exists(src):
                shutil.copy2(src, self.app)
        self.env = dict(os.environ)
        self.env.update({
            "WINEPREFIX": self.path, "WINEARCH": "win64", "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=", "DISPLAY": display,
            "LANG": "ja_JP.UTF-8", "LC_ALL": "ja_JP.UTF-8",
        })
        self.procs = []
        self.last_query_error = None

    def _write_default_settings(self):
        """Appends the default settings to the prefix's user.reg: no Wine
        program has run on the copy yet, and starting regedit for them would
        cost every test a few seconds."""
        key = REG_KEY.split("\\", 1)[1].replace("\\", "\\\\")
        lines = ["", "[%s] %d" % (key, int(time.time()))]
        lines += ['"%s"="%s"' % (k, v) for k, v in DEFAULT_SETTINGS.items()]
        with open(os.path.join(self.path, "user.reg"), "a", encoding="ascii") as f:
            f.write("\n".join(lines) + "\n")

    def use_fake_browser(self):
        """Makes fake_browser.py the prefix's browser, before any Wine
        program has run on it; the path of the log it writes."""
        browser = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fake_browser.py")
        with open(os.path.join(self.path, "user.reg"), "a", encoding="ascii") as f:
            f.write('\n[Software\\\\Wine\\\\WineBrowser] %d\n"Browsers"="%s"\n' % (int(time.time()), browser))
        return os.path.join(self.dir, "browser.log")

    def win_path(self, name):
        return APP_DIR + "\\" + name

    def start(self, exe, *args, env=None):
        """Starts a program of C:\\tarvi (or one given by its full Windows
        path) in the background."""
        e = dict(self.env)
        if env:
            e.update(env)
        log = open(os.path.join(self.dir, exe.rsplit("\\", 1)[-1] + ".log"), "ab")
        path = exe if "\\" in exe else self.win_path(exe)
        p = subprocess.Popen(["wine", path] + list(args), env=e,
                             stdout=log, stderr=subprocess.STDOUT, cwd=self.app,
                             start_new_session=True)
        self.procs.append(p)
        return p

    def run(self, exe, *args, timeout=120, check=True):
        """Runs a tool of C:\\tarvi (or a Wine command) to its end; its stdout."""
        r = self._run(exe, args, timeout)
        if check and r.returncode != 0:
            raise AssertionError("%s %s failed with %d: %s" % (exe, args, r.returncode, self._tail(r)))
        return r.stdout.decode("utf-8", "replace")

    def _run(self, exe, args, timeout=120):
        # stderr goes to a file, not a pipe: the first Wine program of a
        # prefix starts the wineserver and services that keep every inherited
        # pipe open, and reading one to its end would wait for them.
        cmd = ["wine", self.win_path(exe) if exe.endswith(".exe") and "\\" not in exe else exe]
        with tempfile.TemporaryFile(dir=self.dir) as err:
            r = subprocess.run(cmd + [str(a) for a in args], env=self.env, stdout=subprocess.PIPE,
                               stderr=err, timeout=timeout, cwd=self.app)
            err.seek(0)
            r.stderr = err.read()
        return r

    @staticmethod
    def _tail(r):
        return r.stderr.decode("utf-8", "replace")[-400:].strip() or "(nothing on stderr)"

    def query(self, *args, attempts=3):
        """Runs a driver command that is safe to repeat when it failed: one
        that changes nothing (windows, texts, state, rows) or one that acts
        only after it has found its window (click). On a loaded machine a
        Wine start now and then fails before the tool runs at all, so a
        failed command is run again; what fails every time (the window is
        gone) gives "" and is remembered in last_query_error."""
        for i in range(attempts):
            r = self._run("tarvidrv.exe", args)
            if r.returncode == 0:
                self.last_query_error = None
                return r.stdout.decode("utf-8", "replace")
            self.last_query_error = "tarvidrv %s ended with %d: %s" % (
                " ".join(str(a) for a in args), r.returncode, self._tail(r))
            time.sleep(0.2 * (i + 1))
        return ""

    def state(self, hwnd, control_id):
        """(enabled, checked) of a dialog's control."""
        out = self.query("state", hwnd, control_id).split()
        if len(out) != 2:
            raise AssertionError(self.last_query_error or "no state of control %s" % control_id)
        return out[0] == "1", out[1] == "1"

    # --- windows -------------------------------------------------------
    def windows(self):
        out = []
        for line in self.query("windows").splitlines():
            parts = line.split("\t")
            if len(parts) == 5:
                out.append(Window(parts[0], int(parts[1]), parts[2] == "1", _unescape(parts[3]),
                                  _unescape(parts[4])))
        return out

    def find(self, title=None, cls=None, visible=True):
        for w in self.windows():
            if (title is None or w.title == title) and (cls is None or w.cls == cls) \
                    and (visible is None or w.visible == visible):
                return w
        return None

    def wait_window(self, title=None, cls=None, visible=True, timeout=DEADLINE):
        try:
            return wait_for("window %r/%r" % (title, cls),
                            lambda: self.find(title, cls, visible), timeout)
        except AssertionError as e:
            # Say what was there instead: a message box, another caption, ...
            seen = [w for w in self.windows() if w.title or w.cls.startswith("Tarvi")]
            logs = ""
            for name in sorted(os.listdir(self.dir)):
                if name.endswith(".log"):
                    logs += "\n%s: %s" % (name, open(os.path.join(self.dir, name), errors="replace").read()[-800:])
            raise AssertionError("%s; windows: %r%s" % (e, seen, logs)) from None

    def texts(self, hwnd):
        """The window's own text and its children's (class, id, text)."""
        children = []
        for line in self.query("texts", hwnd).splitlines():
            parts = line.split("\t")
            if parts[0] == "child" and len(parts) == 6:
                children.append((_unescape(parts[4]), int(parts[2]), _unescape(parts[5])))
        return children

    def message_box(self, timeout=DEADLINE):
        """Waits for a message box of ours; returns (window, its message text)."""
        box = self.wait_window(TITLE, "#32770", timeout=timeout)
        statics = [t for (c, i, t) in self.texts(box.hwnd) if c == "Static" and t]
        return box, (statics[-1] if statics else "")

    def click(self, hwnd, control_id):
        # The driver posts the click only once it runs and finds the window,
        # so a failed start is safe to repeat.
        if not self.query("click", hwnd, control_id):
            if self.last_query_error:
                raise AssertionError(self.last_query_error)

    def answer(self, box, control_id, timeout=DEADLINE):
        """Presses a message box's button and waits until the box is gone,
        pressing again should the first press come before the box was ready."""
        end = time.monotonic() + timeout
        while True:
            self.click(box.hwnd, control_id)
            try:
                return wait_for("message box to close",
                                lambda: box.hwnd not in [w.hwnd for w in self.windows()], 10)
            except AssertionError:
                if time.monotonic() > end:
                    raise

    def post(self, hwnd, msg, wp=0, lp=0):
        self.run("tarvidrv.exe", "post", hwnd, str(msg), str(wp), str(lp), check=False)

    # --- registry ------------------------------------------------------
    def reg_import(self, values, key=REG_KEY):
        lines = ["Windows Registry Editor Version 5.00", "", "[%s]" % key]
        for k, v in values.items():
            lines.append('"%s"="%s"' % (k, str(v).replace("\\", "\\\\").replace('"', '\\"')))
        path = os.path.join(self.dir, "import.reg")
        with open(path, "wb") as f:
            f.write(("\r\n".join(lines) + "\r\n").encode("utf-16"))
        self.run("regedit", "/S", "Z:" + path.replace("/", "\\"))

    def reg_export(self, key=REG_KEY):
        """The string values under key, read through a UTF-16 .reg export."""
        path = os.path.join(self.dir, "export.reg")
        if os.path.exists(path):
            os.remove(path)
        self.run("regedit", "/E", "Z:" + path.replace("/", "\\"), key, check=False)
        if not os.path.exists(path):
            return {}
        raw = open(path, "rb").read()
        text = raw.decode("utf-16") if raw[:2] in (b"\xff\xfe", b"\xfe\xff") else raw.decode("utf-8", "replace")
        values = {}
        for line in text.splitlines():
            if line.startswith('"') and '"="' in line:
                k, v = line[1:].split('"="', 1)
                v = v[:-1] if v.endswith('"') else v
                values[k] = v.replace('\\"', '"').replace("\\\\", "\\")
        return values

    def set_account(self, n, name, host, port, user, password_scrambled, check=1):
        self.reg_import({"Aname%d" % n: name, "Hname%d" % n: host, "Portno%d" % n: port,
                         "Uname%d" % n: user, "Passw%d" % n: password_scrambled,
                         "Check%d" % n: check})

    def install(self, src, win_path):
        """Copies a built program of C:\\tarvi to another place of the prefix."""
        dst = os.path.join(self.path, "drive_c", *win_path[3:].split("\\"))
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        shutil.copy2(os.path.join(self.app, src), dst)

    def alive(self, proc):
        return proc.poll() is None

    def close(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        for p in self.procs:
            try:
                p.wait(timeout=20)
            except subprocess.TimeoutExpired:
                os.killpg(p.pid, signal.SIGKILL)
        if not os.environ.get("TARVI_KEEP_E2E"):
            shutil.rmtree(self.dir, ignore_errors=True)


def scramble(password):
    """The stored form of a password (each code-page-932 code and a space)."""
    out = []
    for ch in password:
        b = ch.encode("cp932")
        code = b[0] if len(b) == 1 else (b[0] << 8 | b[1])
        if code > 0xFF and code >= 0x8000:
            code -= 0x10000
        out.append("%d " % code)
    return "".join(out)


class Xvfb:
    """One virtual display for the whole run, unless TARVI_DISPLAY names one."""

    def __init__(self):
        self.proc = None
        self.display = os.environ.get("TARVI_DISPLAY")
        if self.display:
            return
        # Xvfb picks a free display itself and tells which: two test workers
        # starting at once must not end up on one display.
        read_fd, write_fd = os.pipe()
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24",
                                      "-nolisten", "tcp"], pass_fds=(write_fd,),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as f:
            number = f.readline().strip()
        if not number:
            raise AssertionError("Xvfb did not start")
        self.display = ":" + number

    def screenshot(self, path):
        subprocess.run(["import", "-display", self.display, "-window", "root", path],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop(self):
        if self.proc:
            self.proc.terminate()
            self.proc.wait()


_xvfb = None


def display():
    global _xvfb
    if _xvfb is None:
        _xvfb = Xvfb()
    return _xvfb


# The owner of the maildirs: the user Dovecot's mail processes run as.
_NOBODY = (pwd.getpwnam("nobody").pw_uid, grp.getgrnam("nogroup").gr_gid)
# No IMAP listener when the test serves POP3 alone.
_IMAP_OFF = """service imap-login {
  inet_listener imap {
    port = 0
  }
}"""


class Dovecot:
    """A private Dovecot POP3 server on 127.0.0.1 with maildirs of our own.
    users: {name: (password, [raw messages as bytes])}.
    tls: a certificate and key (tls_setup.Pair) to serve TLS with: STLS on
    `port` and TLS from the first byte on `tls_port`; None serves plain only.
    imap=True serves IMAP too: plain and STARTTLS on `imap_port`, TLS from
    the first byte on `imaps_port` (with tls), a Trash folder of special use
    \\Trash, a rawlog of every IMAP session (imap_sessions). pop3=False
    serves IMAP alone (`port` is then None). imap_capability replaces what
    Dovecot announces, to play a server that lacks MOVE or UIDPLUS.
    oauth: an authorization server (oauth_server.OAuthServer) whose access
    tokens log users on with XOAUTH2 and OAUTHBEARER, beside the
    passwords."""

    def __init__(self, users, port=None, tls=None, imap=False, pop3=True, imap_capability=None, oauth=None):
        self.dir = tempfile.mkdtemp(prefix="dovecot-", dir=WORK if os.path.isdir(WORK) else None)
        os.chmod(self.dir, 0o755)
        self.port = (port or free_port()) if pop3 else None
        self.tls_port = free_port() if tls and pop3 else None
        self.imap_port = free_port() if imap else None
        self.imaps_port = free_port() if imap and tls else None
        self.passwords = {name: password for name, (password, _) in users.items()}
        self.delivered = 0
        ssl, tls_listener = "ssl = no", ""
        if tls:
            ssl = "ssl = yes\nssl_cert = <%s\nssl_key = <%s" % (tls.cert, tls.key)
        if self.tls_port:
            tls_listener = "  inet_listener pop3s {\n    address = 127.0.0.1\n    port = %d\n    ssl = yes\n  }" % (
                self.tls_port)
        passwd = os.path.join(self.dir, "passwd")
        with open(passwd, "w") as f:
            for name, (password, _) in users.items():
                f.write("%s:{PLAIN}%s::::::\n" % (name, password))
        for name, (_, messages) in users.items():
            self.add_messages(name, messages)
        imap_login, imap_conf = _IMAP_OFF, ""
        if imap:
            imap_login, imap_conf = self._imap_conf(users, tls, imap_capability)
        mechanisms, anvil, oauth_passdb = "plain", "", ""
        if oauth:
            mechanisms, anvil, oauth_passdb = self._oauth_conf(oauth.key)
        conf = os.path.join(self.dir, "dovecot.conf")
        with open(conf, "w") as f:
            f.write("""
protocols = {protocols}
listen = 127.0.0.1
base_dir = {d}/run
state_dir = {d}/state
log_path = {d}/dovecot.log
info_log_path = {d}/dovecot.log
{ssl}
disable_plaintext_auth = no
auth_mechanisms = {mechanisms}
auth_failure_delay = 0
default_internal_user = nobody
default_login_user = nobody
mail_location = maildir:{d}/mail/%u
pop3_uidl_format = %08Xu%08Xv
mail_debug = no
protocol pop3 {{
  mail_plugins =
}}
service pop3-login {{
  chroot =
  inet_listener pop3 {{
    address = 127.0.0.1
    port = {port}
  }}
{tls_listener}
}}
service anvil {{
  chroot ={anvil}
}}
{imap_login}
passdb {{
  driver = passwd-file
  args = {passwd}
}}
{oauth_passdb}userdb {{
  driver = static
  args = uid=nobody gid=nogroup home={d}/home/%u
}}
{imap_conf}""".format(d=self.dir, port=self.port or 0, passwd=passwd, ssl=ssl, tls_listener=tls_listener,
                      protocols=" ".join(p for p, on in (("pop3", pop3), ("imap", imap)) if on),
                      imap_login=imap_login, imap_conf=imap_conf, mechanisms=mechanisms, anvil=anvil,
                      oauth_passdb=oauth_passdb))
        subprocess.run(["dovecot", "-c", conf], check=True)
        self.conf = conf
        wait_for("dovecot on port %d" % (self.port or self.imap_port), self._listening, 30)

    def _imap_conf(self, users, tls, capability):
        """The IMAP listeners and settings: several connections of one user
        at once (a check beside a push connection, a test's own client),
        new mail noticed within a second while a client idles, and the
        commands of every session kept."""
        listeners = "  inet_listener imap {\n    address = 127.0.0.1\n    port = %d\n  }\n" % self.imap_port
        if tls:
            listeners += "  inet_listener imaps {\n    address = 127.0.0.1\n    port = %d\n    ssl = yes\n  }\n" % (
                self.imaps_port)
        for name in users:
            os.makedirs(os.path.join(self.dir, "rawlog", name), exist_ok=True)
        subprocess.run(["chown", "-R", "nobody:nogroup", os.path.join(self.dir, "rawlog")], check=False)
        settings = """
mailbox_idle_check_interval = 1 secs
namespace inbox {
  inbox = yes
  mailbox Trash {
    special_use = \\Trash
    auto = create
  }
}
protocol imap {
  mail_plugins =
  mail_max_userip_connections = 50
  imap_idle_notify_interval = 5 secs
  rawlog_dir = %s/rawlog/%%u
%s}
""" % (self.dir, "  imap_capability = %s\n" % capability if capability else "")
        return "service imap-login {\n  chroot =\n%s}" % listeners, settings

    def _oauth_conf(self, key):
        """The mechanisms, the anvil listener and the passdb of token
        logons. Tokens are validated locally with the authorization server's
        key, looked up for a token without azp and kid as
        keys/default/HS256/default (Base64). Anvil's penalty, which delays
        every logon from an address after a refused one by up to 15 s, is
        off: the auth process cannot reach its socket."""
        keys = os.path.join(self.dir, "keys")
        os.makedirs(os.path.join(keys, "default", "HS256"))
        with open(os.path.join(keys, "default", "HS256", "default"), "w") as f:
            f.write(base64.b64encode(key).decode("ascii"))
        conf = os.path.join(self.dir, "oauth2.conf")
        with open(conf, "w") as f:
            f.write("introspection_mode = local\nlocal_validation_key_dict = fs:posix:prefix=%s/\n"
                    "username_attribute = sub\n" % keys)
        anvil = "\n  unix_listener anvil-auth-penalty {\n    mode = 0\n  }"
        passdb = "passdb {\n  driver = oauth2\n  mechanisms = xoauth2 oauthbearer\n  args = %s\n}\n" % conf
        return "plain login xoauth2 oauthbearer", anvil, passdb

    def logons(self):
        """(user, mechanism) of every logon Dovecot accepted, in order."""
        return re.findall(r"-login: (?:Info: )?Login: user=<([^>]*)>, method=(\w+)", self.log())

    def _listening(self):
        port, ready = (self.port, b"+OK") if self.port else (self.imap_port, b"* OK")
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1) as s:
                return s.recv(100).startswith(ready)
        except OSError:
            return False

    def maildir(self, user):
        return os.path.join(self.dir, "mail", user)

    def add_messages(self, user, messages):
        md = self.maildir(user)
        for sub in ("cur", "new", "tmp"):
            os.makedirs(os.path.join(md, sub), exist_ok=True)
        existing = len(os.listdir(os.path.join(md, "new"))) + len(os.listdir(os.path.join(md, "cur")))
        for i, raw in enumerate(messages):
            name = "%d.M%dP%d.tarvi" % (1700000000 + existing + i, existing + i, os.getpid())
            with open(os.path.join(md, "new", name), "wb") as f:
                f.write(raw.replace(b"\r\n", b"\n"))
        subprocess.run(["chown", "-R", "nobody:nogroup", os.path.join(self.dir, "mail")], check=False)
        os.makedirs(os.path.join(self.dir, "home"), exist_ok=True)
        subprocess.run(["chown", "-R", "nobody:nogroup", os.path.join(self.dir, "home")], check=False)

    def deliver(self, user, raw):
        """Delivers one message as a delivery agent does: written in tmp/
        and renamed into new/, so that Dovecot never sees half of it."""
        self.delivered += 1
        name = "%.6f.D%dP%d.tarvi" % (time.time(), self.delivered, os.getpid())
        md = self.maildir(user)
        tmp = os.path.join(md, "tmp", name)
        with open(tmp, "wb") as f:
            f.write(raw.replace(b"\r\n", b"\n"))
        os.chown(tmp, *_NOBODY)
        os.rename(tmp, os.path.join(md, "new", name))
        return name

    def message_count(self, user):
        md = self.maildir(user)
        return sum(len(os.listdir(os.path.join(md, s))) for s in ("cur", "new"))

    # --- IMAP as another client sees it (imaplib, plain, on imap_port) -----
    def imap(self, user):
        """A logged-in imaplib client of `user`; the caller logs out."""
        client = imaplib.IMAP4("127.0.0.1", self.imap_port, timeout=30)
        client.login(user, self.passwords[user])
        return client

    def listing(self, user, folder="INBOX"):
        """[(uid, set of flags, decoded subject)] of the folder, in UID
        order, read with EXAMINE and BODY.PEEK so that nothing changes."""
        client = self.imap(user)
        try:
            typ, data = client.select('"%s"' % folder, readonly=True)
            if typ != "OK":
                raise AssertionError("EXAMINE %s: %r" % (folder, data))
            if int(data[0]) == 0:
                return []
            typ, data = client.uid("FETCH", "1:*", "(UID FLAGS BODY.PEEK[HEADER.FIELDS (SUBJECT)])")
        finally:
            client.logout()
        out = []
        for item in data:
            if isinstance(item, tuple):
                uid = int(re.search(rb"UID (\d+)", item[0]).group(1))
                flags = set(re.search(rb"FLAGS \(([^)]*)\)", item[0]).group(1).decode().split())
                header = email.message_from_bytes(item[1])
                subject = str(email.header.make_header(email.header.decode_header(header["Subject"] or "")))
                out.append((uid, flags, subject))
        return sorted(out)

    def set_flags(self, user, uid, flags="\\Deleted", folder="INBOX"):
        """Adds flags to one message as another client does; \\Deleted
        stays set, as before that client's own expunge."""
        client = self.imap(user)
        try:
            client.select('"%s"' % folder)
            typ, data = client.uid("STORE", str(uid), "+FLAGS.SILENT", "(%s)" % flags)
            if typ != "OK":
                raise AssertionError("STORE: %r" % data)
        finally:
            client.logout()  # LOGOUT, not CLOSE: CLOSE would expunge it

    def folder_count(self, user, folder="Trash"):
        client = self.imap(user)
        try:
            typ, data = client.status('"%s"' % folder, "(MESSAGES)")
        finally:
            client.logout()
        return int(re.search(rb"MESSAGES (\d+)", data[0]).group(1))

    def imap_sessions(self, user):
        """The command lines (tag included) that every IMAP session of
        `user` sent after its logon, oldest session first, from the rawlog
        (whose lines start with a time stamp)."""
        folder = os.path.join(self.dir, "rawlog", user)
        out = []
        for name in (n for n in os.listdir(folder) if n.endswith(".in")):
            with open(os.path.join(folder, name), "rb") as f:
                stamped = [l.split(" ", 1) for l in f.read().decode("utf-8", "replace").split("\r\n") if l]
            if stamped:
                out.append((float(stamped[0][0]), [l[-1] for l in stamped]))
        return [lines for _, lines in sorted(out)]

    def log(self):
        try:
            return open(os.path.join(self.dir, "dovecot.log"), encoding="utf-8", errors="replace").read()
        except OSError:
            return ""

    def stop(self):
        subprocess.run(["doveadm", "-c", self.conf, "stop"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        pidfile = os.path.join(self.dir, "run", "master.pid")
        if os.path.exists(pidfile):
            try:
                pid = int(open(pidfile).read().strip())
                wait_for("dovecot to stop", lambda: not os.path.exists("/proc/%d" % pid), 15)
            except (ValueError, AssertionError):
                pass
        if not os.environ.get("TARVI_KEEP_E2E"):
            shutil.rmtree(self.dir, ignore_errors=True)


class WineTest(unittest.TestCase):
    """Base of the end-to-end tests: a fresh prefix per test."""

    def setUp(self):
        self.display = display()
        self.prefix = Prefix(self.id().split(".")[-1], self.display.display)
        self.addCleanup(self.prefix.close)

    def screenshot(self, name):
        os.makedirs(os.path.join(BUILD, "screenshots"), exist_ok=True)
        path = os.path.join(BUILD, "screenshots", name + ".png")
        self.display.screenshot(path)
        return path
