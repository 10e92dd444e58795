"""A scripted POP3 server on 127.0.0.1 for the end-to-end tests and the soak
bench: it serves one mailbox, records every command it receives and can
misbehave on purpose, the way servers met in the wild do.

Behaviours (any combination) of the transport:
  split_greeting  the greeting goes out in two packets, cut inside "+OK"
  bytewise        every reply goes out one byte at a time
  lf_only         lines end in LF alone
  cr_only         lines end in CR alone (no LF ever comes)
  split_end       the ".\\r" and the "\\n" of a terminator go out in two packets
  err_at=CMD      answers -ERR to the command CMD ("greeting" for the greeting)
  err_text=TEXT   the text of that -ERR (e.g. "[IN-USE] ...", "[LOGIN-DELAY] ...")
  close_in=CMD    closes the connection in the middle of the reply to CMD
  rst_in=CMD      resets the connection (RST) in the middle of the reply to CMD
  silent          accepts the connection and never says anything
  deaf            accepts the connection and never reads nor answers
  hang_up         accepts the connection and closes it at once
  stall_at=CMD    never answers CMD
  double_at=CMD   answers CMD twice
  garbage_at=CMD  answers CMD with a line that is neither +OK nor -ERR
  reply_delay=S   waits S seconds before every reply (an overloaded server)
  endless_greeting  a greeting line of 1 MB without an end of line, then close
and of the mailbox:
  nul             NUL bytes inside the message data (and a NUL in the status line)
  fake_ok         message data with lines that look like "+OK" and "-ERR"
  no_stuffing     lines starting with "." go out without the extra dot
  stat=TEXT       the STAT reply's text after "+OK " (a lie: "9 100", "-3 -5",
                  "99999999999999999999 99999999999999999999", "2 300 messages")
  top_phantom     +OK and an empty body to TOP of a message that does not exist
  top_unended     the reply to TOP has no terminator; then silence
  top_bytes=N     the reply to TOP is N bytes of header lines, streamed, no end
  cr_data         the message data's lines end in CR alone
  raw_8bit        headers in raw Shift_JIS, UTF-8 and invalid UTF-8 bytes
  long_header=N   a Subject line of N bytes without a break
  parts=N         a multipart message of N parts

rotate=[{...}, ...] gives each new connection the next behaviour of the list
(round robin), so one server misbehaves differently in every cycle.

tls=PAIR (a tls_setup.Pair) speaks TLS from the first byte with that
certificate; "deaf" then stalls the handshake. Its sessions end by closing
the socket without close_notify, as many servers do.
"""
import socket
import ssl
import struct
import threading
import time
from harness import free_port as low_port  # ports that fit Portno


def _raw_8bit_message():
    return (b"From: \x83e\x83X\x83g <sjis@example.jp>\r\n"            # Shift_JIS, undeclared
            b"To: \xe5\xae\x9b\xe5\x85\x88 <me@example.jp>\r\n"        # UTF-8, undeclared
            b"Subject: bad \xff\xfe\xc3\x28 \xe3\x81 end\r\n"          # invalid UTF-8
            b"Date: Mon, 07 Dec 2026 09:00:00 +0900\r\n\r\nbody \x80\x81\r\n")


def _multipart_message(parts):
    out = [b"From: many@example.jp\r\nSubject: parts\r\nMIME-Version: 1.0\r\n"
           b"Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"]
    for i in range(parts):
        out.append(b"--b\r\nContent-Type: text/plain\r\n\r\npiece %d\r\n" % i)
    out.append(b"--b--\r\n")
    return b"".join(out)


class ScriptedPop3:
    def __init__(self, messages, user="joe", password="secret", tls=None, host="127.0.0.1", **behaviour):
        self.messages = [m.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n") for m in messages]
        self.user, self.password = user, password
        self.b = behaviour
        self._tls = None
        if tls:
            self._tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self._tls.load_cert_chain(tls.cert, tls.key)
        self.commands = []      # every command line received, in order
        self.connections = 0
        self.connected_at = []  # time.monotonic() of every connection
        self.closed_at = []     # and of the end of every session
        self._lock = threading.Lock()
        self._sock = socket.socket(socket.AF_INET6 if ":" in host else socket.AF_INET)
        self._sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self._sock.bind((host, low_port()))
        self._sock.listen(8)
        self.port = self._sock.getsockname()[1]
        self._stop = False
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    # --- helpers for the tests --------------------------------------------
    def received(self):
        with self._lock:
            return list(self.commands)

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

    # --- the server --------------------------------------------------------
    def _serve(self):
        while not self._stop:
            try:
                conn, _ = self._sock.accept()
            except OSError:
                return
            with self._lock:
                n = self.connections
                self.connections += 1
                self.connected_at.append(time.monotonic())
            b = self.b
            if "rotate" in b:
                b = b["rotate"][n % len(b["rotate"])]
            threading.Thread(target=self._session, args=(conn, b), daemon=True).start()

    def _eol(self, data, b):
        if b.get("lf_only"):
            return data.replace(b"\r\n", b"\n")
        if b.get("cr_only"):
            return data.replace(b"\r\n", b"\r")
        return data

    @staticmethod
    def _reset(conn):
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        conn.close()

    def _send(self, conn, data, cmd, b):
        data = self._eol(data, b)
        if b.get("reply_delay"):
            time.sleep(b["reply_delay"])
        if b.get("close_in") == cmd or b.get("rst_in") == cmd:
            conn.sendall(data[: max(1, len(data) // 2)])
            time.sleep(0.2)
            if b.get("rst_in") == cmd:
                self._reset(conn)
            else:
                conn.close()
            raise ConnectionAbortedError
        if b.get("bytewise"):
            for i in range(len(data)):
                conn.sendall(data[i:i + 1])
                time.sleep(0.001)
        elif b.get("split_end") and data.endswith(b".\r\n") and len(data) > 3:
            conn.sendall(data[:-1])
            time.sleep(0.3)
            conn.sendall(data[-1:])
        else:
            conn.sendall(data)

    def _body(self, n, b):
        m = self.messages[n - 1]
        if b.get("raw_8bit"):
            m = _raw_8bit_message()
        if b.get("long_header"):
            m = b"Subject: " + b"x" * b["long_header"] + b"\r\n" + m
        if b.get("parts"):
            m = _multipart_message(b["parts"])
        if b.get("nul"):
            m = m.replace(b"\r\n\r\n", b"\r\n\r\n\x00pad\x00\r\n", 1)
        if b.get("fake_ok"):
            m = m.replace(b"\r\n\r\n", b"\r\n\r\n+OK not a reply\r\n-ERR nor this\r\n", 1)
        if b.get("no_stuffing"):
            return m.replace(b"\r\n\r\n", b"\r\n\r\n.hidden line\r\n.\r\n+OK after a lone dot\r\n", 1)
        if b.get("cr_data"):
            # Stored with CR alone; the server still ends the data with a
            # CRLF before the terminator, as servers do for any message.
            m = m.replace(b"\r\n", b"\r") + b"\r\n"
        lines = [(b"." + l if l.startswith(b".") else l) for l in m.split(b"\r\n")]
        return b"\r\n".join(lines)

    def _stream_top(self, conn, total):
        """Header lines up to `total` bytes and no end: the reply a broken
        server sends when it loops over its storage."""
        conn.sendall(b"+OK\r\n")
        line = b"X-Filler: " + b"y" * 1000 + b"\r\n"
        chunk = line * 256
        sent = 0
        while sent < total:
            conn.sendall(chunk)
            sent += len(chunk)

    def _session(self, conn, b):
        try:
            if self._tls and not b.get("deaf"):
                conn.settimeout(30)
                conn = self._tls.wrap_socket(conn, server_side=True)
                conn.settimeout(None)
            self._talk(conn, b)
        except (OSError, ConnectionAbortedError):
            pass
        finally:
            with self._lock:
                self.closed_at.append(time.monotonic())
            try:
                conn.close()
            except OSError:
                pass

    def _talk(self, conn, b):
        if b.get("hang_up"):
            return
        if b.get("deaf"):
            while not self._stop:
                time.sleep(0.5)
            return
        if b.get("silent"):
            while conn.recv(1024):
                pass
            return
        if b.get("endless_greeting"):
            conn.sendall(b"+OK " + b"z" * (1 << 20))
            time.sleep(0.5)
            return
        err = b"-ERR " + b.get("err_text", "scripted refusal").encode("ascii") + b"\r\n"
        greeting = err if b.get("err_at") == "greeting" else b"+OK scripted ready\r\n"
        if b.get("split_greeting"):
            conn.sendall(self._eol(greeting[:2], b))
            time.sleep(0.3)
            conn.sendall(self._eol(greeting[2:], b))
        else:
            self._send(conn, greeting, "greeting", b)
        buf = b""
        while True:
            data = conn.recv(4096)
            if not data:
                return
            buf += data
            while b"\n" in buf:
                line, buf = buf.split(b"\n", 1)
                cmd = line.rstrip(b"\r").decode("cp932", "replace")
                with self._lock:
                    self.commands.append(cmd)
                word = cmd.split(" ")[0].upper()
                if b.get("stall_at") == word:
                    continue
                if b.get("err_at") == word:
                    self._send(conn, err, word, b)
                    continue
                if b.get("garbage_at") == word:
                    self._send(conn, b"HELLO THERE\r\n", word, b)
                    continue
                if word == "USER":
                    reply = b"+OK\r\n"
                elif word == "PASS":
                    authed = cmd == "PASS " + self.password
                    reply = b"+OK logged in\r\n" if authed else b"-ERR [AUTH] Authentication failed.\r\n"
                elif word == "STAT":
                    size = sum(len(m) for m in self.messages)
                    stat = b.get("stat", "%d %d" % (len(self.messages), size)).encode("ascii")
                    reply = b"+OK " + stat + (b"\x00" if b.get("nul") else b"") + b"\r\n"
                elif word == "TOP":
                    n = int(cmd.split(" ")[1])
                    if b.get("top_bytes"):
                        self._stream_top(conn, b["top_bytes"])
                        time.sleep(30)
                        return
                    if 1 <= n <= len(self.messages):
                        reply = b"+OK\r\n" + self._body(n, b) + b".\r\n"
                        if b.get("top_unended"):
                            self._send(conn, reply[:-3], word, b)
                            while not self._stop:
                                time.sleep(0.5)
                            return
                    elif b.get("top_phantom"):
                        reply = b"+OK\r\n.\r\n"
                    else:
                        reply = b"-ERR no such message\r\n"
                elif word == "QUIT":
                    self._send(conn, b"+OK bye\r\n", word, b)
                    conn.close()
                    return
                else:
                    reply = b"+OK\r\n"
                if b.get("double_at") == word:
                    reply += reply
                self._send(conn, reply, word, b)
