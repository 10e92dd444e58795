"""An OAuth 2.0 authorization server on 127.0.0.1 for the end-to-end tests:
the authorization endpoint of a public client with PKCE (S256) and a
loopback redirect, and the token endpoint for the authorization code and
refresh token grants. Its access tokens are HS256 JWTs that Dovecot's
oauth2 passdb validates locally with the same key (Dovecot(oauth=server)).

    with OAuthServer(user="alice") as server:
        server.authorize_url, server.token_url, server.client_id
        server.deny = True            # the user refuses: error=access_denied
        server.revoke()               # every refresh token stops working
        server.authorizations, server.refreshes, server.requests

It answers as RFC 6749 says: a client or redirect it does not know gets an
error page and no redirect; everything else wrong in an authorization
request is an error on the redirect; a refused grant is 400 invalid_grant.
"""
import base64
import hashlib
import hmac
import http.server
import json
import secrets
import threading
import time
import urllib.parse

from harness import free_port


def _b64url(data):
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode("ascii")


def loopback_redirect(uri):
    """True for http://127.0.0.1:<port>/, the only redirect a native client
    of this server may use."""
    u = urllib.parse.urlsplit(uri)
    try:
        port = u.port
    except ValueError:
        return False
    return (u.scheme == "http" and u.hostname == "127.0.0.1" and port is not None and u.path == "/"
            and not u.query and not u.fragment and u.username is None)


class OAuthServer:
    def __init__(self, user="alice", client_id="tarvi-test-client", scope="mail", lifetime=3600, announced=None,
                 key=None):
        """lifetime: seconds an access token is valid for (its exp);
        announced: what expires_in tells (default the same), more when the
        server plays one that ends tokens early; key: that of another
        server, for two servers whose tokens one Dovecot takes."""
        self.user, self.client_id, self.scope, self.lifetime = user, client_id, scope, lifetime
        self.announced = lifetime if announced is None else announced
        self.key = key or secrets.token_bytes(32)
        self.deny = False
        self.requests = []          # (method, path, {name: value}) of every request
        self.authorizations = 0     # codes exchanged for tokens
        self.refreshes = 0          # access tokens given for a refresh token
        self.refused = 0            # token requests answered with an error
        self.access_tokens = []     # every access token given out
        self._codes = {}            # code -> {client_id, redirect_uri, challenge, user, used}
        self._refresh = {}          # refresh token -> {"user", "revoked"}
        self._lock = threading.Lock()
        self.port = free_port()
        self.base = "http://127.0.0.1:%d" % self.port
        self.authorize_url = self.base + "/authorize"
        self.token_url = self.base + "/token"
        self._httpd = http.server.ThreadingHTTPServer(("127.0.0.1", self.port), self._handler())
        self._httpd.daemon_threads = True
        self._thread = threading.Thread(target=self._httpd.serve_forever, daemon=True)
        self._thread.start()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def stop(self):
        self._httpd.shutdown()
        self._httpd.server_close()

    # --- what the tests use --------------------------------------------
    def access_token(self, user=None, lifetime=None, key=None):
        """A signed access token, as the token endpoint gives it out."""
        now = int(time.time())
        claims = {"sub": user or self.user, "iat": now, "exp": now + (self.lifetime if lifetime is None else lifetime),
                  "iss": self.base, "aud": self.client_id, "scope": self.scope, "jti": secrets.token_hex(8)}
        head = _b64url(json.dumps({"alg": "HS256", "typ": "JWT"}).encode())
        body = _b64url(json.dumps(claims).encode())
        signature = hmac.new(key or self.key, (head + "." + body).encode(), hashlib.sha256).digest()
        return head + "." + body + "." + _b64url(signature)

    def revoke(self, refresh_token=None):
        """Revokes one refresh token, or all of them."""
        with self._lock:
            for token, grant in self._refresh.items():
                if refresh_token is None or token == refresh_token:
                    grant["revoked"] = True

    def issued(self):
        """Every refresh token given out, with its access tokens' user."""
        with self._lock:
            return {t: g["user"] for t, g in self._refresh.items()}

    # --- the endpoints -------------------------------------------------
    def _authorize(self, q):
        """(status, headers, body) of GET /authorize."""
        redirect = q.get("redirect_uri", "")
        if q.get("client_id") != self.client_id or not loopback_redirect(redirect):
            return 400, {}, "unknown client or redirect"

        def back(**params):
            if "state" in q:
                params["state"] = q["state"]
            return 302, {"Location": redirect + "?" + urllib.parse.urlencode(params)}, ""
        if q.get("response_type") != "code":
            return back(error="unsupported_response_type")
        if q.get("code_challenge_method") != "S256" or not q.get("code_challenge"):
            return back(error="invalid_request", error_description="PKCE S256 required")
        if self.deny:
            return back(error="access_denied")
        code = secrets.token_urlsafe(24)
        with self._lock:
            self._codes[code] = {"client_id": q["client_id"], "redirect_uri": redirect, "used": False,
                                 "challenge": q["code_challenge"], "user": q.get("login_hint") or self.user}
        return back(code=code)

    def _token(self, f):
        """(status, JSON reply) of POST /token."""
        grant = f.get("grant_type")
        if not grant:
            return 400, {"error": "invalid_request"}
        if f.get("client_id") != self.client_id:
            return 401, {"error": "invalid_client"}
        with self._lock:
            if grant == "authorization_code":
                c = self._codes.get(f.get("code", ""))
                verifier = f.get("code_verifier", "")
                challenge = _b64url(hashlib.sha256(verifier.encode()).digest())
                if not c or c["used"] or c["client_id"] != f["client_id"] \
                        or c["redirect_uri"] != f.get("redirect_uri") or challenge != c["challenge"]:
                    if c:
                        c["used"] = True  # a code tried once is spent, as after a theft
                    return 400, {"error": "invalid_grant"}
                c["used"] = True
                refresh = secrets.token_urlsafe(32)
                self._refresh[refresh] = {"user": c["user"], "revoked": False}
                self.authorizations += 1
                return 200, self._reply(c["user"], refresh)
            if grant == "refresh_token":
                g = self._refresh.get(f.get("refresh_token", ""))
                if not g or g["revoked"]:
                    return 400, {"error": "invalid_grant"}
                self.refreshes += 1
                return 200, self._reply(g["user"], None)
        return 400, {"error": "unsupported_grant_type"}

    def _reply(self, user, refresh):
        token = self.access_token(user)
        self.access_tokens.append(token)
        reply = {"access_token": token, "token_type": "Bearer", "expires_in": self.announced, "scope": self.scope}
        if refresh:
            reply["refresh_token"] = refresh
        return reply

    def _handler(self):
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def _send(self, status, headers, body, content_type="text/plain"):
                data = body.encode("utf-8")
                self.send_response(status)
                for k, v in headers.items():
                    self.send_header(k, v)
                self.send_header("Content-Type", content_type)
                self.send_header("Content-Length", str(len(data)))
                self.send_header("Cache-Control", "no-store")
                self.end_headers()
                self.wfile.write(data)

            def do_GET(self):
                url = urllib.parse.urlsplit(self.path)
                q = dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True))
                server.requests.append(("GET", url.path, q))
                if url.path != "/authorize":
                    return self._send(404, {}, "not found")
                self._send(*server._authorize(q))

            def do_POST(self):
                length = int(self.headers.get("Content-Length") or 0)
                raw = self.rfile.read(length).decode("utf-8", "replace")
                form = dict(urllib.parse.parse_qsl(raw, keep_blank_values=True))
                server.requests.append(("POST", self.path, form))
                if self.path != "/token":
                    return self._send(404, {}, "not found")
                if not self.headers.get("Content-Type", "").startswith("application/x-www-form-urlencoded"):
                    status, reply = 400, {"error": "invalid_request"}
                else:
                    status, reply = server._token(form)
                if status != 200:
                    server.refused += 1
                headers = {"WWW-Authenticate": "Basic"} if status == 401 else {}
                self._send(status, headers, json.dumps(reply), "application/json")

        return Handler

