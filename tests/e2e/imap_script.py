"""A scripted IMAP4rev1 server on 127.0.0.1 for the end-to-end tests: one
mailbox (INBOX and a Trash of special use \\Trash), every command recorded,
and misbehaviours chosen one by one, as servers met in the wild show them.

A STEP is a command's name, after UID for the UID commands ("LOGIN",
"EXAMINE", "SELECT", "SEARCH", "FETCH", "IDLE", "MOVE", ...), or "greeting".
Behaviours (keyword arguments, any combination):
  bye_at=STEP         answers STEP with "* BYE" and closes (IDLE: once idling)
  reset_in=STEP       sends half the reply to STEP, then resets the connection
  flood_at=STEP       flood_lines (300,000 unless told) untagged responses
                      before the reply to STEP
  wrong_tag_at=STEP   completes STEP under a tag the client never sent
  giant_literal       a FETCH's header literal announces 5 GB; up to 100 MB
                      of it are sent (`streamed` counts them), then nothing
  unended_literal     a FETCH's header literal stops after 100 of its 4,096
                      bytes, then nothing more
  exists=N            EXAMINE and SELECT report N messages (a lie when N is
                      more than the folder holds)
  new_validity_on_select  SELECT (read-write, as a delete opens the folder)
                      reports another UIDVALIDITY than EXAMINE did
  unasked_fetch       every FETCH answer also carries a message of a UID
                      nobody asked for (subject "unasked")
  raw_quoted          a FETCH's header section as a quoted string with 8-bit
                      and NUL bytes in it; such bytes in the greeting's and
                      EXAMINE's texts too
  idle_never_done     DONE is never answered, nor anything after it
  bytewise            every reply goes out one byte at a time
capabilities: what the server offers, after the logon and in the greeting.

messages: raw messages, or (raw, flags) pairs such as (raw, {"\\Seen"}).
push(raw) delivers a message and tells every idling client "* N EXISTS".
"""
import base64
import re
import socket
import struct
import threading
import time

from harness import free_port

CAPABILITIES = "IMAP4rev1 LITERAL+ IDLE UIDPLUS MOVE SPECIAL-USE AUTH=PLAIN"
UNASKED_UID = 999999
_RAW_8BIT = b" \xff\xfe\x00 \xe6\x97\xa5\xe6\x9c\xac \x00end"


class _Closed(Exception):
    """The session is over: the client left, or the script ended it."""


def uid_set(text, uids):
    """The members of `uids` in an IMAP sequence set ("1:3,7,9:*"), where
    * is the largest of them; n:* holds the largest even when n is larger."""
    top = max(uids, default=0)
    out = set()
    for part in text.split(","):
        ends = [top if e == "*" else int(e) for e in part.split(":")]
        low, high = min(ends), max(ends)
        out.update(u for u in uids if low <= u <= high)
    return out


def _astrings(text):
    """The atoms, quoted strings and literals of simple arguments, as bytes."""
    out, i = [], 0
    while i < len(text):
        c = text[i:i + 1]
        if c in b" \r\n":
            i += 1
        elif c == b'"':
            i, value = i + 1, b""
            while i < len(text) and text[i:i + 1] != b'"':
                i += text[i:i + 1] == b"\\"
                value += text[i:i + 1]
                i += 1
            out.append(value)
            i += 1
        elif c == b"{":
            m = re.match(rb"\{(\d+)\+?\}\r?\n", text[i:])
            start = i + m.end()
            out.append(text[start:start + int(m.group(1))])
            i = start + int(m.group(1))
        else:
            m = re.match(rb"[^ \r\n]+", text[i:])
            out.append(m.group(0))
            i += m.end()
    return out


def _header(raw, fields=None):
    head = raw.split(b"\r\n\r\n", 1)[0] + b"\r\n"
    if fields is None:
        return head + b"\r\n"
    wanted = {f.upper() for f in fields}
    lines = re.findall(rb"[^\r\n]+\r\n(?:[ \t][^\r\n]*\r\n)*", head)
    return b"".join(l for l in lines if l.split(b":", 1)[0].strip().upper() in wanted) + b"\r\n"


def _quoted(data):
    return b'"' + data.replace(b"\\", b"\\\\").replace(b'"', b'\\"') + b'"'


class ScriptedImap:
    def __init__(self, messages, user="joe", password="secret", capabilities=CAPABILITIES, **behaviour):
        self.user, self.password, self.caps, self.b = user, password, capabilities.encode(), behaviour
        self.validity, self.next_uid = 1000, 1
        self.inbox, self.trash = [], []
        for m in messages:
            raw, flags = m if isinstance(m, tuple) else (m, ())
            self._add(raw, flags)
        self.log = []          # (connection number, tag, command) of every line received
        self.removed = []      # UIDs taken out of INBOX by EXPUNGE, MOVE or CLOSE
        self.flagged = []      # UIDs the client set \Deleted on
        self.streamed = 0      # bytes of the giant literal taken by the client
        self.connections = 0
        self.connected_at = []  # time.monotonic() of each connection
        self.ended = set()     # numbers of the connections that are over
        self.errors = []       # commands the script could not read
        self._idlers = []
        self._lock = threading.RLock()
        self._sock = socket.socket()
        self._sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self._sock.bind(("127.0.0.1", free_port()))
        self._sock.listen(8)
        self.port = self._sock.getsockname()[1]
        self._stop = False
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    # --- for the tests ------------------------------------------------------
    def received(self):
        """Every command (without its tag) and DONE, in the order received."""
        with self._lock:
            return [text for _, _, text in self.log]

    def names(self):
        """The name of every command received, after UID for the UID commands."""
        words = [c.upper().split()[:2] for c in self.received()]
        return [w[1] if w[:1] == ["UID"] and len(w) > 1 else w[0] for w in words if w]

    def sessions(self):
        """The commands of each connection, in the order they connected."""
        with self._lock:
            out = [[] for _ in range(self.connections)]
            for n, _, text in self.log:
                out[n].append(text)
            return out

    def push(self, raw):
        with self._lock:
            self._add(raw, ())
            for st in self._idlers:
                self._send(st, b"* %d EXISTS\r\n" % len(self.inbox))

    def stop(self):
        """Ends the accepting thread before the socket goes: closed under a
        thread blocked in accept(), its descriptor could be handed to the
        next server of the process (an OAuth server once answered with this
        one's greeting)."""
        self._stop = True
        try:
            self._sock.shutdown(socket.SHUT_RDWR)  # wakes accept() on Linux
        except OSError:
            pass
        self._thread.join(5)
        try:
            self._sock.close()
        except OSError:
            pass

    def _add(self, raw, flags):
        raw = raw.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
        self.inbox.append({"uid": self.next_uid, "raw": raw, "flags": set(flags)})
        self.next_uid += 1

    # --- connections ----------------------------------------------------------
    def _serve(self):
        while not self._stop:
            try:
                conn, _ = self._sock.accept()
            except OSError:
                return
            with self._lock:
                st = {"conn": conn, "n": self.connections, "buf": b"", "send": threading.Lock(),
                      "authed": False, "box": None, "readonly": True}
                self.connections += 1
                self.connected_at.append(time.monotonic())
            threading.Thread(target=self._session, args=(st,), daemon=True).start()

    def _session(self, st):
        try:
            self._talk(st)
        except (OSError, _Closed):
            pass
        except Exception as e:  # what the client sent, not parsed: it gets no answer
            self.errors.append(repr(e))
        finally:
            with self._lock:
                if st in self._idlers:
                    self._idlers.remove(st)
                self.ended.add(st["n"])
            try:
                st["conn"].close()
            except OSError:
                pass

    def _send(self, st, data, step=None):
        with st["send"]:
            if step and self.b.get("reset_in") == step:
                st["conn"].sendall(data[:max(1, len(data) // 2)])
                st["conn"].setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                st["conn"].close()
                raise _Closed
            if self.b.get("bytewise"):
                for i in range(len(data)):
                    st["conn"].sendall(data[i:i + 1])
            else:
                st["conn"].sendall(data)

    def _read_line(self, st):
        while b"\n" not in st["buf"]:
            data = st["conn"].recv(65536)
            if not data:
                raise _Closed
            st["buf"] += data
        line, st["buf"] = st["buf"].split(b"\n", 1)
        return line + b"\n"

    def _read_command(self, st):
        """One command with its literals, as sent."""
        data = b""
        while True:
            line = self._read_line(st)
            data += line
            m = re.search(rb"\{(\d+)(\+?)\}\r?\n$", line)
            if not m:
                return data
            if not m.group(2):
                self._send(st, b"+ go on\r\n")
            while len(st["buf"]) < int(m.group(1)):
                more = st["conn"].recv(65536)
                if not more:
                    raise _Closed
                st["buf"] += more
            data += st["buf"][:int(m.group(1))]
            st["buf"] = st["buf"][int(m.group(1)):]

    def _record(self, st, tag, text):
        with self._lock:
            self.log.append((st["n"], tag, text.decode("utf-8", "replace")))

    def _drain(self, st):
        """Reads and records until the client leaves, answering nothing."""
        while not self._stop:
            self._record(st, "", self._read_line(st).rstrip(b"\r\n"))

    def _talk(self, st):
        b = self.b
        if b.get("bye_at") == "greeting":
            self._send(st, b"* BYE scripted: not today\r\n")
            return
        text = b"scripted ready" + (_RAW_8BIT if b.get("raw_quoted") else b"")
        self._send(st, b"* OK [CAPABILITY " + self.caps + b"] " + text + b"\r\n", "greeting")
        while True:
            command = self._read_command(st)
            tag, _, rest = command.rstrip(b"\r\n").partition(b" ")
            self._record(st, tag.decode("ascii", "replace"), rest)
            word, _, args = rest.partition(b" ")
            name, uid = word.upper().decode("ascii", "replace"), False
            if name == "UID":
                uid = True
                word, _, args = args.partition(b" ")
                name = word.upper().decode("ascii", "replace")
            if b.get("bye_at") == name and name != "IDLE":
                self._send(st, b"* BYE scripted: going away\r\n")
                return
            if b.get("flood_at") == name:
                line = b"* OK noise of a server that talks too much\r\n"
                for _ in range(b.get("flood_lines", 300000) // 1000):
                    self._send(st, line * 1000)
            handler = getattr(self, "_cmd_" + name.replace("-", "_"), None)
            if handler is None or (not st["authed"] and name not in ("CAPABILITY", "LOGIN", "AUTHENTICATE",
                                                                      "NOOP", "LOGOUT")):
                untagged, status = b"", b"BAD scripted: not here"
            else:
                untagged, status = handler(st, tag, args, uid)
            if b.get("wrong_tag_at") == name:
                tag = b"Z" + tag
            self._send(st, untagged + tag + b" " + status + b"\r\n", name)
            if name == "LOGOUT":
                return

    # --- commands: each returns (untagged responses, tagged status) -----------
    def _cmd_CAPABILITY(self, st, tag, args, uid):
        return b"* CAPABILITY " + self.caps + b"\r\n", b"OK done"

    def _cmd_NOOP(self, st, tag, args, uid):
        return b"", b"OK done"

    _cmd_CHECK = _cmd_ENABLE = _cmd_UNSELECT = _cmd_NOOP

    def _cmd_LOGOUT(self, st, tag, args, uid):
        return b"* BYE logging out\r\n", b"OK done"

    def _logon(self, st, user, password):
        if (user, password) != (self.user.encode(), self.password.encode()):
            return b"", b"NO [AUTHENTICATIONFAILED] scripted refusal"
        st["authed"] = True
        return b"", b"OK [CAPABILITY " + self.caps + b"] logged in"

    def _cmd_LOGIN(self, st, tag, args, uid):
        user, password = _astrings(args)[:2]
        return self._logon(st, user, password)

    def _cmd_AUTHENTICATE(self, st, tag, args, uid):
        parts = args.split()
        if parts[0].upper() != b"PLAIN":
            return b"", b"NO scripted: PLAIN only"
        if len(parts) > 1:
            response = parts[1]
        else:
            self._send(st, b"+ \r\n")
            response = self._read_line(st).strip()
            self._record(st, "", response)
        _, user, password = base64.b64decode(response).split(b"\0")
        return self._logon(st, user, password)

    def _cmd_LIST(self, st, tag, args, uid):
        return (b'* LIST (\\HasNoChildren) "/" INBOX\r\n* LIST (\\HasNoChildren \\Trash) "/" Trash\r\n',
                b"OK done")

    def _folder(self, name):
        name = name.decode("utf-8", "replace")
        return {"INBOX": self.inbox, "TRASH": self.trash}.get(name.upper())

    def _cmd_EXAMINE(self, st, tag, args, uid, readonly=True):
        box = self._folder(_astrings(args)[0])
        if box is None:
            return b"", b"NO no such folder"
        st["box"], st["readonly"] = box, readonly
        validity = self.validity + (not readonly and bool(self.b.get("new_validity_on_select")))
        untagged = (b"* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)\r\n"
                    b"* OK [PERMANENTFLAGS (%s)] flags\r\n* %d EXISTS\r\n* 0 RECENT\r\n"
                    b"* OK [UIDVALIDITY %d] uids\r\n* OK [UIDNEXT %d] next\r\n"
                    % (b"" if readonly else b"\\Deleted \\Seen \\*", self.b.get("exists", len(box)),
                       validity, self.next_uid))
        done = b"OK [READ-ONLY] examined" if readonly else b"OK [READ-WRITE] selected"
        return untagged, done + (_RAW_8BIT if self.b.get("raw_quoted") else b"")

    def _cmd_SELECT(self, st, tag, args, uid):
        return self._cmd_EXAMINE(st, tag, args, uid, readonly=False)

    def _targets(self, st, set_text, uid):
        """(sequence number, message) of the selected folder's messages in the set."""
        box = st["box"]
        if uid:
            chosen = uid_set(set_text, [m["uid"] for m in box])
            return [(i, m) for i, m in enumerate(box, 1) if m["uid"] in chosen]
        chosen = uid_set(set_text, list(range(1, len(box) + 1)))
        return [(i, m) for i, m in enumerate(box, 1) if i in chosen]

    def _cmd_SEARCH(self, st, tag, args, uid):
        if st["box"] is None:
            return b"", b"BAD nothing selected"
        words = args.upper().split()
        hits = []
        for i, m in enumerate(st["box"], 1):
            keep = True
            for k, w in enumerate(words):
                if w == b"UNSEEN" or w == b"SEEN":
                    keep &= ("\\Seen" in m["flags"]) == (w == b"SEEN")
                elif w == b"DELETED" or w == b"UNDELETED":
                    keep &= ("\\Deleted" in m["flags"]) == (w == b"DELETED")
                elif w == b"UID" and k + 1 < len(words):
                    keep &= m["uid"] in uid_set(words[k + 1].decode(), [x["uid"] for x in st["box"]])
            if keep:
                hits.append(m["uid"] if uid else i)
        return b"* SEARCH" + b"".join(b" %d" % h for h in hits) + b"\r\n", b"OK done"

    def _cmd_FETCH(self, st, tag, args, uid):
        if st["box"] is None:
            return b"", b"BAD nothing selected"
        set_text, _, items = args.partition(b" ")
        targets = self._targets(st, set_text.decode(), uid)
        if self.b.get("unasked_fetch"):
            stranger = b"From: nobody@example.jp\r\nSubject: unasked\r\n\r\nnot asked for\r\n"
            targets = [(len(st["box"]) + 1, {"uid": UNASKED_UID, "raw": stranger, "flags": set()})] + targets
        out = b""
        for seq, m in targets:
            parts = []
            if uid or b"UID" in items.upper():
                parts.append(b"UID %d" % m["uid"])
            if b"FLAGS" in items.upper():
                parts.append(b"FLAGS (" + " ".join(sorted(m["flags"])).encode() + b")")
            if b"RFC822.SIZE" in items.upper():
                parts.append(b"RFC822.SIZE %d" % len(m["raw"]))
            for section in re.finditer(rb"BODY(\.PEEK)?\[([^\]]*)\]", items, re.I):
                spec = section.group(2).upper()
                if spec.startswith(b"HEADER.FIELDS"):
                    data = _header(m["raw"], re.findall(rb"[^ ()]+", spec[len(b"HEADER.FIELDS"):]))
                elif spec == b"HEADER":
                    data = _header(m["raw"])
                elif spec == b"TEXT":
                    data = m["raw"].split(b"\r\n\r\n", 1)[-1]
                else:
                    data = m["raw"]
                    if not section.group(1) and not st["readonly"]:
                        m["flags"].add("\\Seen")
                name = b"BODY[" + section.group(2) + b"] "
                if self.b.get("giant_literal") or self.b.get("unended_literal"):
                    self._stall_in_literal(st, b"* %d FETCH (%s %s" % (seq, b" ".join(parts), name))
                if self.b.get("raw_quoted"):
                    parts.append(name + _quoted(data.replace(b"\r\n", b" ") + _RAW_8BIT))
                else:
                    parts.append(name + b"{%d}\r\n" % len(data) + data)
            out += b"* %d FETCH (%s)\r\n" % (seq, b" ".join(parts))
        return out, b"OK done"

    def _stall_in_literal(self, st, head):
        if self.b.get("giant_literal"):
            self._send(st, head + b"{5000000000}\r\n")
            chunk = b"X-Filler: " + b"y" * 1000 + b"\r\n"
            for _ in range((100 << 20) // (len(chunk) * 64)):
                self._send(st, chunk * 64)
                self.streamed += len(chunk) * 64
        else:
            self._send(st, head + b"{4096}\r\n" + b"z" * 100)
        self._drain(st)

    def _cmd_STORE(self, st, tag, args, uid):
        if st["box"] is None or st["readonly"]:
            return b"", b"NO read-only"
        set_text, op, flags = args.split(b" ", 2)
        op = op.upper()
        flags = set(re.findall(r"\\?\w+", flags.decode()))
        out = b""
        with self._lock:
            for seq, m in self._targets(st, set_text.decode(), uid):
                if op.startswith(b"+"):
                    m["flags"] |= flags
                elif op.startswith(b"-"):
                    m["flags"] -= flags
                else:
                    m["flags"] = set(flags)
                if "\\Deleted" in m["flags"] and st["box"] is self.inbox:
                    self.flagged.append(m["uid"])
                if not op.endswith(b".SILENT"):
                    out += b"* %d FETCH (UID %d FLAGS (%s))\r\n" % (seq, m["uid"], " ".join(sorted(m["flags"])).encode())
        return out, b"OK stored"

    def _expunge(self, st, chosen):
        out = b""
        with self._lock:
            box = st["box"]
            for i in range(len(box), 0, -1):
                if box[i - 1]["uid"] in chosen:
                    if box is self.inbox:
                        self.removed.append(box[i - 1]["uid"])
                    del box[i - 1]
                    out += b"* %d EXPUNGE\r\n" % i
        return out

    def _cmd_EXPUNGE(self, st, tag, args, uid):
        if st["box"] is None or st["readonly"]:
            return b"", b"NO read-only"
        deleted = {m["uid"] for m in st["box"] if "\\Deleted" in m["flags"]}
        if uid:
            deleted &= uid_set(args.decode(), [m["uid"] for m in st["box"]])
        return self._expunge(st, deleted), b"OK expunged"

    def _cmd_CLOSE(self, st, tag, args, uid):
        if st["box"] is not None and not st["readonly"]:
            self._expunge(st, {m["uid"] for m in st["box"] if "\\Deleted" in m["flags"]})
        st["box"] = None
        return b"", b"OK closed"

    def _cmd_COPY(self, st, tag, args, uid, move=False):
        if st["box"] is None:
            return b"", b"BAD nothing selected"
        set_text, folder = args.split(b" ", 1)
        target = self._folder(_astrings(folder)[0])
        if target is None:
            return b"", b"NO [TRYCREATE] no such folder"
        if move and st["readonly"]:
            return b"", b"NO read-only"
        moved = self._targets(st, set_text.decode(), uid)
        with self._lock:
            for _, m in moved:
                target.append({"uid": self.next_uid, "raw": m["raw"], "flags": set(m["flags"])})
                self.next_uid += 1
        out = b"* OK [COPYUID %d %d:%d] copied\r\n" % (self.validity, moved[0][1]["uid"], moved[-1][1]["uid"]) \
            if moved else b""
        if move:
            out += self._expunge(st, {m["uid"] for _, m in moved})
        return out, b"OK done"

    def _cmd_MOVE(self, st, tag, args, uid):
        return self._cmd_COPY(st, tag, args, uid, move=True)

    def _cmd_IDLE(self, st, tag, args, uid):
        with self._lock:
            self._idlers.append(st)  # before the "+": a push may follow it at once
        self._send(st, b"+ idling\r\n")
        if self.b.get("bye_at") == "IDLE":
            self._send(st, b"* BYE scripted: going away\r\n")
            raise _Closed
        line = self._read_line(st).rstrip(b"\r\n")
        self._record(st, "", line)
        with self._lock:
            self._idlers.remove(st)
        if self.b.get("idle_never_done"):
            self._drain(st)
        if line.upper() != b"DONE":
            return b"", b"BAD expected DONE"
        return b"", b"OK idle done"
