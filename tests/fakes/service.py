#!/usr/bin/env python3
"""A stand-in for the Quorvane service on loopback, for tests and the local demo.

Python standard library only. It serves:

  GET  /authorize?response_type=code&client_id=C&state=S
         -> 302 to "quorv<c>://oauth/authorized?code=...&state=S"
         With the sign-in page on (--sign-in-page, or "sign_in_page" in the config) it
         answers a form instead (user name, password, "Allow") that posts to:
  POST /authorize  username=U&password=P&client_id=C&state=S&response_type=code
         -> 302 to the same callback, the code issued to U (the password is checked
            when U is one of the --user accounts); a wrong one shows the form again
  GET  /authorize?revoke=T&client_id=C
         -> the token T (when known) is revoked; 302 to "quorv<c>://oauth/revoked"
  POST /token   form body, client id and secret in a Basic header; three grants:
         grant_type=authorization_code&code=...
         grant_type=refresh_token&refresh_token=...
         grant_type=password&username=...&password=...
       Each grant must carry exactly its fields in exactly that order.

Endpoints are kept in one table (Service.routes); more can be added with
Service.route(method, path). The REST API under /api/0 comes from service_api.py. Everything under /_control/ scripts the service:

  POST /_control/script  {"path": "/token", "reply": {...}, "times": 1}
         queues a canned reply for the next request(s) to that path; reply keys:
         "status" (int), "json" (any JSON value), "text" (str), "base64" (raw bytes),
         "content_type" (str), "headers" ({name: value}), "delay" (seconds before
         answering), "drop" (true: close the connection without an answer),
         "pieces" (n: the body goes out in n writes, "piece_delay" seconds apart),
         "events" ({"count": n, "first_date": d}: an events reply of one project "P"
         with n events "event number i" dated d + i, made here, as large as wanted),
         "gzip" (true: the body gzip-compressed, with "Content-Encoding: gzip")
  POST /_control/config  {"expires_in": 3600 | null, "rotate_refresh": bool,
                          "user_name": "alice", "code_param_order": ["state", "code"],
                          "sign_in_page": bool, "refresh_delay": seconds,
                          "refresh_answer_delay": seconds}
         ("refresh_delay": a refresh waits that long before its token is looked at, and
          a refused one as long again before its answer; "refresh_answer_delay": a
          refresh that succeeds holds its answer back that long once the token is
          replaced)
  POST /_control/issue   {"user_name": "alice"} -> {"access_token", "refresh_token"}
  GET  /_control/log     every request so far (method, path, query, headers, body)
  GET  /_control/tokens  the live tokens
  POST /_control/reset   forgets the log and the scripted replies

Start: service.py [--host 127.0.0.1] [--port 0] [--client ID:SECRET ...]
                  [--user NAME:PASSWORD ...] [--sign-in-page]
Once listening it prints "READY <port>" on a line of its own on standard output.
"""

import argparse
import base64
import binascii
import gzip
import html
import json
import secrets
import sys
import threading
import time
import urllib.parse
import zlib
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import service_api

MAX_BODY = 16 * 1024 * 1024

GRANT_FIELDS = {
    "authorization_code": ["grant_type", "code"],
    "refresh_token": ["grant_type", "refresh_token"],
    "password": ["grant_type", "username", "password"],
}

SIGN_IN_PAGE = """<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1.0">
<title>Sign in - Quorvane</title>
<style>
body { font-family: sans-serif; background: #f3f4f7; color: #1d2230; margin: 0; }
form { max-width: 22em; margin: 3em auto; background: #fff; padding: 1.5em 2em;
       border-radius: 8px; box-shadow: 0 1px 4px rgba(0,0,0,.15); }
h1 { font-size: 1.3em; margin-top: 0; }
label { display: block; margin: .8em 0 .2em; }
input[type=text], input[type=password] { width: 100%%; box-sizing: border-box; padding: .4em; }
button { margin-top: 1.2em; padding: .5em 1.6em; background: #2a6df4; color: #fff;
         border: 0; border-radius: 4px; font-size: 1em; }
.problem { color: #b00020; }
</style></head>
<body>
<form id="sign-in" method="post" action="/authorize">
<h1>Sign in to Quorvane</h1>
<p>An application asks to use your account.</p>
%(notice)s
<label for="username">User name</label>
<input type="text" id="username" name="username" autocomplete="username" autofocus>
<label for="password">Password</label>
<input type="password" id="password" name="password" autocomplete="current-password">
<input type="hidden" name="client_id" value="%(client)s">
<input type="hidden" name="state" value="%(state)s">
<input type="hidden" name="response_type" value="code">
<button type="submit" id="allow">Allow</button>
</form>
</body></html>
"""


class Reply:
    """What a handler answers: status, headers and body bytes."""

    def __init__(self, status=200, body=b"", content_type="application/json", headers=None):
        self.status = status
        self.body = body
        self.content_type = content_type
        self.headers = headers or {}

    @staticmethod
    def json(value, status=200):
        return Reply(status, json.dumps(value).encode("utf-8"))

    @staticmethod
    def redirect(location):
        return Reply(302, b"", "text/html", {"Location": location})


class Request:
    """One parsed request as handlers see it."""

    def __init__(self, method, path, query, headers, body):
        self.method = method
        self.path = path
        self.query = query  # list of (name, value) pairs in order
        self.headers = headers
        self.body = body

    def query_value(self, name):
        for key, value in self.query:
            if key == name:
                return value
        return None

    def form(self):
        """The body as ordered (name, value) pairs; None when it is no form."""
        try:
            text = self.body.decode("utf-8")
        except UnicodeDecodeError:
            return None
        return urllib.parse.parse_qsl(text, keep_blank_values=True, strict_parsing=bool(text))

    def basic_credentials(self):
        value = self.headers.get("Authorization", "")
        if not value.startswith("Basic "):
            return None
        try:
            decoded = base64.b64decode(value[6:], validate=True).decode("utf-8")
        except (binascii.Error, UnicodeDecodeError):
            return None
        user, sep, password = decoded.partition(":")
        return (user, password) if sep else None

    def record(self):
        return {
            "method": self.method,
            "path": self.path,
            "query": [[k, v] for k, v in self.query],
            "headers": dict(self.headers),
            "body": self.body.decode("utf-8", errors="replace"),
        }


class Service:
    """The service's state and its handler table."""

    def __init__(self, clients, users, sign_in_page=False):
        self.lock = threading.Lock()
        self.clients = dict(clients)  # client id -> secret
        self.users = dict(users)  # user name -> password
        self.codes = {}  # code -> (client id, user name)
        self.access = {}  # access token -> user name
        self.refresh = {}  # refresh token -> user name
        self.log = []
        self.scripted = {}  # path -> list of replies
        self.config = {
            "expires_in": 3600,
            "rotate_refresh": False,
            "user_name": "alice",
            "code_param_order": ["code", "state"],
            "sign_in_page": sign_in_page,
            "refresh_delay": 0,
            "refresh_answer_delay": 0,
        }
        self.routes = {}
        self.route("GET", "/authorize")(self.authorize)
        self.route("POST", "/authorize")(self.sign_in)
        self.route("POST", "/token")(self.token)
        self.route("POST", "/_control/script")(self.control_script)
        self.route("POST", "/_control/config")(self.control_config)
        self.route("POST", "/_control/issue")(self.control_issue)
        self.route("GET", "/_control/log")(self.control_log)
        self.route("GET", "/_control/tokens")(self.control_tokens)
        self.route("POST", "/_control/reset")(self.control_reset)
        service_api.register(self, Reply)

    def route(self, method, path):
        def register(handler):
            self.routes[(method, path)] = handler
            return handler

        return register

    # ---- the OAuth pages ----

    def authorize(self, req):
        client_id = req.query_value("client_id")
        if client_id not in self.clients:
            return Reply(400, b"<html><body>Unknown client</body></html>", "text/html")
        scheme = "quorv" + client_id.lower()
        revoke = req.query_value("revoke")
        if revoke is not None:
            with self.lock:
                user = self.access.pop(revoke, None)
                if user is not None:
                    for token in [t for t, u in self.refresh.items() if u == user]:
                        del self.refresh[token]
            return Reply.redirect(scheme + "://oauth/revoked")
        state = req.query_value("state")
        if req.query_value("response_type") != "code" or state is None:
            return Reply(400, b"<html><body>Bad request</body></html>", "text/html")
        with self.lock:
            page = self.config["sign_in_page"]
            user = self.config["user_name"]
        if page:
            return self.sign_in_form(client_id, state)
        return self.authorized(client_id, state, user)

    def authorized(self, client_id, state, user):
        """The redirect to the client's callback with a new code for `user`."""
        code = secrets.token_urlsafe(12)
        with self.lock:
            self.codes[code] = (client_id, user)
            order = list(self.config["code_param_order"])
        values = {"code": code, "state": state}
        query = urllib.parse.urlencode([(name, values[name]) for name in order])
        return Reply.redirect("quorv" + client_id.lower() + "://oauth/authorized?" + query)

    def sign_in(self, req):
        try:
            fields = dict(req.form() or [])
        except ValueError:
            fields = {}
        client_id, state = fields.get("client_id"), fields.get("state")
        if client_id not in self.clients or state is None:
            return Reply(400, b"<html><body>Bad request</body></html>", "text/html")
        user, password = fields.get("username", ""), fields.get("password", "")
        with self.lock:
            known = self.users.get(user)
        if not user or (known is not None and known != password):
            return self.sign_in_form(client_id, state, "Wrong user name or password.", 401)
        return self.authorized(client_id, state, user)

    @staticmethod
    def sign_in_form(client_id, state, problem=None, status=200):
        def esc(text):
            return html.escape(text, quote=True)

        notice = '<p class="problem" id="problem">%s</p>' % esc(problem) if problem else ""
        page = SIGN_IN_PAGE % {"client": esc(client_id), "state": esc(state), "notice": notice}
        return Reply(status, page.encode("utf-8"), "text/html; charset=utf-8")

    def token(self, req):
        credentials = req.basic_credentials()
        if credentials is None or self.clients.get(credentials[0]) != credentials[1]:
            reply = Reply.json({"error": "invalid_client",
                                "error_description": "Client authentication failed"}, 401)
            reply.headers["WWW-Authenticate"] = 'Basic realm="Quorvane"'
            return reply
        if not req.headers.get("Content-Type", "").startswith(
                "application/x-www-form-urlencoded"):
            return self.token_error("invalid_request", "Form body expected")
        try:
            fields = req.form()
        except ValueError:
            fields = None
        if not fields:
            return self.token_error("invalid_request", "Form body expected")
        grant = fields[0][1] if fields[0][0] == "grant_type" else None
        if grant not in GRANT_FIELDS:
            return self.token_error("unsupported_grant_type", "Unsupported grant type")
        if [name for name, _ in fields] != GRANT_FIELDS[grant]:
            return self.token_error("invalid_request", "Unexpected fields for " + grant)
        values = dict(fields)
        if grant == "refresh_token":
            return self.refresh_grant(values["refresh_token"])
        with self.lock:
            if grant == "authorization_code":
                issued = self.codes.pop(values["code"], None)
                if issued is None or issued[0] != credentials[0]:
                    return self.token_error("invalid_grant", "Invalid authorization code")
                return self.issue(issued[1], None)
            if self.users.get(values["username"]) != values["password"]:
                return self.token_error("invalid_grant", "Invalid username or password")
            return self.issue(values["username"], None)

    def refresh_grant(self, token):
        with self.lock:
            delay = float(self.config["refresh_delay"])
        time.sleep(delay)
        with self.lock:
            user = self.refresh.get(token)
            if user is not None:
                reply = self.issue(user, token)
                held = float(self.config["refresh_answer_delay"])
        if user is not None:
            time.sleep(held)
            return reply
        time.sleep(delay)
        return self.token_error("invalid_grant", "Invalid refresh token")

    def issue(self, user, old_refresh):
        """New tokens for `user` (the lock is held)."""
        access = secrets.token_hex(20)
        self.access[access] = user
        reply = {"access_token": access, "token_type": "bearer", "user_name": user}
        if self.config["expires_in"] is not None:
            reply["expires_in"] = self.config["expires_in"]
        if old_refresh is None or self.config["rotate_refresh"]:
            if old_refresh is not None:
                del self.refresh[old_refresh]
            refresh = secrets.token_hex(20)
            self.refresh[refresh] = user
            reply["refresh_token"] = refresh
        return Reply.json(reply)

    @staticmethod
    def token_error(error, description):
        return Reply.json({"error": error, "error_description": description}, 400)

    # ---- control ----

    def control_script(self, req):
        spec = json.loads(req.body or b"{}")
        times = int(spec.get("times", 1))
        with self.lock:
            queue = self.scripted.setdefault(spec["path"], [])
            queue.extend([spec["reply"]] * times)
        return Reply.json({"ok": True})

    def control_config(self, req):
        with self.lock:
            self.config.update(json.loads(req.body or b"{}"))
        return Reply.json({"ok": True})

    def control_issue(self, req):
        spec = json.loads(req.body or b"{}")
        with self.lock:
            reply = self.issue(spec.get("user_name", self.config["user_name"]), None)
        return reply

    def control_log(self, _req):
        with self.lock:
            return Reply.json(list(self.log))

    def control_tokens(self, _req):
        with self.lock:
            return Reply.json({"access": dict(self.access), "refresh": dict(self.refresh)})

    def control_reset(self, _req):
        with self.lock:
            self.log.clear()
            self.scripted.clear()
        return Reply.json({"ok": True})

    # ---- dispatch ----

    def take_scripted(self, path):
        with self.lock:
            queue = self.scripted.get(path)
            return queue.pop(0) if queue else None

    def handle(self, req):
        if not req.path.startswith("/_control/"):
            with self.lock:
                self.log.append(req.record())
        handler = self.routes.get((req.method, req.path))
        if handler is None:
            return Reply(404, b"<html><body>Not found</body></html>", "text/html")
        try:
            return handler(req)
        except (ValueError, KeyError, TypeError) as error:
            return Reply.json({"error": "bad_request", "error_description": str(error)}, 400)


def scripted_reply(spec):
    """A Reply from a scripted reply description; None for a dropped connection."""
    if spec.get("drop"):
        return None
    if "json" in spec:
        body, content_type = json.dumps(spec["json"]).encode("utf-8"), "application/json"
    elif "base64" in spec:
        body, content_type = base64.b64decode(spec["base64"]), "application/octet-stream"
    elif "events" in spec:
        body, content_type = generated_events(spec["events"], spec.get("gzip")), "application/json"
    else:
        body, content_type = spec.get("text", "").encode("utf-8"), "text/html"
    headers = dict(spec.get("headers") or {})
    if spec.get("gzip"):
        if "events" not in spec:
            body = gzip.compress(body)
        headers["Content-Encoding"] = "gzip"
    return Reply(int(spec.get("status", 200)), body, spec.get("content_type", content_type),
                 headers)


def generated_events(events, compress):
    """The text of an events reply of many events, made and compressed a slice at a
    time, so a reply of hundreds of megabytes costs the service little memory."""
    count, first = int(events["count"]), int(events["first_date"])
    packer = zlib.compressobj(6, zlib.DEFLATED, 31) if compress else None
    pieces = []

    def add(text):
        data = text.encode("utf-8")
        pieces.append(packer.compress(data) if packer else data)

    add('[{"title": "P", "events": [')
    for start in range(0, count, 10000):
        add(", ".join('{"description": "event number %d", "date": %d}' % (i, first + i)
                      for i in range(start, min(count, start + 10000)))
            + (", " if start + 10000 < count else ""))
    add("]}]")
    if packer:
        pieces.append(packer.flush())
    return b"".join(pieces)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "QuorvaneStandIn/1.0"

    def log_message(self, *_args):
        pass

    def do_GET(self):
        self.dispatch()

    def do_POST(self):
        self.dispatch()

    def do_PUT(self):
        self.dispatch()

    def do_DELETE(self):
        self.dispatch()

    def read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        if length < 0 or length > MAX_BODY:
            raise ValueError("body too large")
        return self.rfile.read(length) if length else b""

    def dispatch(self):
        service = self.server.service
        try:
            body = self.read_body()
        except ValueError:
            self.send_reply(Reply(413, b"", "text/plain"))
            return
        split = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qsl(split.query, keep_blank_values=True)
        req = Request(self.command, split.path, query, self.headers, body)
        spec = None if split.path.startswith("/_control/") else service.take_scripted(split.path)
        if spec is None:
            self.send_reply(service.handle(req))
            return
        with service.lock:
            service.log.append(req.record())
        time.sleep(float(spec.get("delay", 0)))
        reply = scripted_reply(spec)
        if reply is None:
            self.close_connection = True
            return
        self.send_reply(reply, int(spec.get("pieces", 1)), float(spec.get("piece_delay", 0.05)))

    def send_reply(self, reply, pieces=1, piece_delay=0.0):
        self.send_response(reply.status)
        self.send_header("Content-Type", reply.content_type)
        self.send_header("Content-Length", str(len(reply.body)))
        for name, value in reply.headers.items():
            self.send_header(name, value)
        self.end_headers()
        if pieces <= 1:
            self.wfile.write(reply.body)
            return
        # A reply that reaches the client in several reads.
        size = max(1, -(-len(reply.body) // pieces))
        for start in range(0, len(reply.body), size):
            self.wfile.write(reply.body[start:start + size])
            self.wfile.flush()
            time.sleep(piece_delay)


def pairs(values):
    result = []
    for value in values:
        name, sep, secret = value.partition(":")
        if not sep:
            raise SystemExit("expected NAME:SECRET, got " + value)
        result.append((name, secret))
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--client", action="append", default=[],
                        help="OAuth client ID:SECRET (repeatable)")
    parser.add_argument("--user", action="append", default=[],
                        help="account NAME:PASSWORD for the password grant (repeatable)")
    parser.add_argument("--sign-in-page", action="store_true",
                        help="answer /authorize with a sign-in form instead of redirecting")
    args = parser.parse_args()
    server = ThreadingHTTPServer((args.host, args.port), Handler)
    server.daemon_threads = True
    server.service = Service(pairs(args.client), pairs(args.user), args.sign_in_page)
    print("READY %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
