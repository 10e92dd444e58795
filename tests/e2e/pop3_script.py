"""A scripted POP3 server on 127.0.0.1 for the end-to-end tests: it serves
one mailbox, records every command it receives and can misbehave on purpose.

Behaviours (any combination):
  split_greeting  the greeting goes out in two packets, cut inside "+OK"
  bytewise        every reply goes out one byte at a time
  lf_only         lines end in LF alone
  err_at=CMD      answers -ERR to the command CMD ("greeting" for the greeting)
  close_in=CMD    closes the connection in the middle of the reply to CMD
  silent          accepts the connection and never says anything
  stall_at=CMD    never answers CMD
  nul             NUL bytes inside the message data
  fake_ok         message data with lines that look like "+OK" and "-ERR"
"""
import socket
import threading
import time
from harness import free_port as low_port  # ports that fit Portno


class ScriptedPop3:
    def __init__(self, messages, user="joe", password="secret", **behaviour):
        self.messages = [m.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n") for m in messages]
        self.user, self.password = user, password
        self.b = behaviour
        self.commands = []      # every command line received, in order
        self.connections = 0
        self._lock = threading.Lock()
        self._sock = socket.socket()
        self._sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self._sock.bind(("127.0.0.1", low_port()))
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
        self._stop = True
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
                self.connections += 1
            threading.Thread(target=self._session, args=(conn,), daemon=True).start()

    def _eol(self, data):
        return data.replace(b"\r\n", b"\n") if self.b.get("lf_only") else data

    def _send(self, conn, data, cmd):
        data = self._eol(data)
        if self.b.get("close_in") == cmd:
            conn.sendall(data[: max(1, len(data) // 2)])
            time.sleep(0.2)
            conn.close()
            raise ConnectionAbortedError
        if self.b.get("bytewise"):
            for i in range(len(data)):
                conn.sendall(data[i:i + 1])
                time.sleep(0.001)
        else:
            conn.sendall(data)

    def _body(self, n):
        m = self.messages[n - 1]
        if self.b.get("nul"):
            m = m.replace(b"\r\n\r\n", b"\r\n\r\n\x00pad\x00\r\n", 1)
        if self.b.get("fake_ok"):
            m = m.replace(b"\r\n\r\n", b"\r\n\r\n+OK not a reply\r\n-ERR nor this\r\n", 1)
        lines = [(b"." + l if l.startswith(b".") else l) for l in m.split(b"\r\n")]
        return b"\r\n".join(lines)

    def _session(self, conn):
        try:
            if self.b.get("silent"):
                while conn.recv(1024):
                    pass
                return
            greeting = b"-ERR go away\r\n" if self.b.get("err_at") == "greeting" else b"+OK scripted ready\r\n"
            if self.b.get("split_greeting"):
                conn.sendall(self._eol(greeting[:2]))
                time.sleep(0.3)
                conn.sendall(self._eol(greeting[2:]))
            else:
                self._send(conn, greeting, "greeting")
            buf = b""
            authed = False
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
                    if self.b.get("stall_at") == word:
                        continue
                    if self.b.get("err_at") == word:
                        self._send(conn, b"-ERR scripted refusal\r\n", word)
                        continue
                    if word == "USER":
                        reply = b"+OK\r\n"
                    elif word == "PASS":
                        authed = cmd == "PASS " + self.password
                        reply = b"+OK logged in\r\n" if authed else b"-ERR [AUTH] Authentication failed.\r\n"
                    elif word == "STAT":
                        size = sum(len(m) for m in self.messages)
                        reply = b"+OK %d %d\r\n" % (len(self.messages), size)
                    elif word == "TOP":
                        n = int(cmd.split(" ")[1])
                        if 1 <= n <= len(self.messages):
                            reply = b"+OK\r\n" + self._body(n) + b".\r\n"
                        else:
                            reply = b"-ERR no such message\r\n"
                    elif word == "QUIT":
                        self._send(conn, b"+OK bye\r\n", word)
                        conn.close()
                        return
                    else:
                        reply = b"+OK\r\n"
                    self._send(conn, reply, word)
        except (OSError, ConnectionAbortedError):
            pass
        finally:
            try:
                conn.close()
            except OSError:
                pass
