"""The demo's private world: a temporary root with its own home, XDG folders, runtime
folder and temporary folder; the stand-in service, the stand-in storage, a session bus
and a notification service on loopback; every process it starts, stopped at the end.

Every process started here, and everything those start in turn (the programs the bus
activates, the hub the settings window launches, the web engine's helpers), carries
QV_DEMO_SESSION=<id> in its environment. At the end whatever still carries it is
stopped, the root is removed, and `leftovers()` says what could not be cleaned.
"""

import hashlib
import http.client
import json
import os
import re
import secrets
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

MARKER = "QV_DEMO_SESSION"
PYTHON = "/usr/bin/python3"  # Debian's, with botocore and dbusmock
STORAGE_ACCESS_KEY = "AKIDQUORVANEDEMO0000"
STORAGE_SECRET_KEY = "ZGVtbyBzdG9yYWdlIGtleSBvbiBsb29wYmFjayBvbmx5"
STORAGE_BUCKET = "demo"
DEMO_USER = "demo"
DEMO_PASSWORD = "quorvane-demo"


PRIVATE_MOUNTS = "QV_DEMO_PRIVATE_MOUNTS"


def private_mounts(argv):
    """Run as root, re-executes argv in a mount namespace of its own (see
    Session._private_system_logs); returns when that is not possible or not needed."""
    if os.geteuid() != 0 or os.environ.get(PRIVATE_MOUNTS) or not shutil.which("unshare"):
        return
    probe = subprocess.run(["unshare", "--mount", "--propagation", "private", "true"],
                           capture_output=True)
    if probe.returncode != 0:
        return
    os.environ[PRIVATE_MOUNTS] = "1"
    os.execvp("unshare", ["unshare", "--mount", "--propagation", "private", "--"] + argv)


class DemoError(Exception):
    """A step of the demo failed; the message says which and why."""


def wait_until(predicate, timeout, what, interval=0.1):
    """The first true value of predicate(), polled until `timeout` seconds pass."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise DemoError("timed out after %d s waiting for %s" % (timeout, what))
        time.sleep(interval)


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


# Plain requests to loopback: never through a proxy the user's environment names.
_OPENER = urllib.request.build_opener(urllib.request.ProxyHandler({}))


def http_json(url, body=None, timeout=10):
    data = None if body is None else json.dumps(body).encode("utf-8")
    request = urllib.request.Request(url, data=data, method="POST" if data else "GET")
    with _OPENER.open(request, timeout=timeout) as reply:
        return json.loads(reply.read().decode("utf-8"))


class Session:
    """The temporary root, its environment, and the processes started in it."""

    def __init__(self, interactive_display=False):
        self.id = secrets.token_hex(8)
        self.root = tempfile.mkdtemp(prefix="quorvane-demo-")
        self.processes = []  # (name, Popen), oldest first
        self._stopped = False
        self._interactive_display = interactive_display
        try:
            self.home = self.folder("home")
            self.env = self._environment()
            self.system_logs = self._private_system_logs()
        except BaseException:
            shutil.rmtree(self.root, ignore_errors=True)
            raise
        self._previous_handlers = {}
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            self._previous_handlers[sig] = signal.signal(sig, self._interrupted)

    @staticmethod
    def _interrupted(signum, _frame):
        raise KeyboardInterrupt("signal %d" % signum)

    def folder(self, *parts, mode=0o700):
        path = os.path.join(self.root, *parts)
        os.makedirs(path, mode=mode, exist_ok=True)
        return path

    def _environment(self):
        env = dict(os.environ)
        # Nothing of the user's own session: no bus, no preferences, no keychain.
        for name in list(env):
            if name.startswith(("XDG_", "DBUS_", "QUORVANE_", "QV_", "QT_", "SESSION_MANAGER")):
                del env[name]
        if self._interactive_display:
            # The user's display stays reachable although HOME moves.
            if os.environ.get("DISPLAY") and not os.environ.get("XAUTHORITY"):
                authority = os.path.expanduser("~/.Xauthority")
                if os.path.exists(authority):
                    env["XAUTHORITY"] = authority
            wayland = os.environ.get("WAYLAND_DISPLAY")
            runtime = os.environ.get("XDG_RUNTIME_DIR")
            if wayland and runtime and not wayland.startswith("/"):
                env["WAYLAND_DISPLAY"] = os.path.join(runtime, wayland)
        env.update({
            MARKER: self.id,
            "HOME": self.home,
            "XDG_CONFIG_HOME": self.folder("home", ".config"),
            "XDG_DATA_HOME": self.folder("home", ".local", "share"),
            "XDG_STATE_HOME": self.folder("home", ".local", "state"),
            "XDG_CACHE_HOME": self.folder("home", ".cache"),
            "XDG_RUNTIME_DIR": self.folder("runtime"),
            "TMPDIR": self.folder("tmp"),
            "PYTHONDONTWRITEBYTECODE": "1",
            # Addresses the programs open go to a recorder, never to the user's browser.
            "QUORVANE_URL_OPENER": self._opener(),
        })
        if os.geteuid() == 0:
            env["QTWEBENGINE_DISABLE_SANDBOX"] = "1"
        return env

    def _private_system_logs(self):
        """Run as root, the programs log to the system's log folder (/var/log). Inside
        the private mount namespace `private_mounts()` entered, a folder of the root is
        mounted there, so those logs stay in the demo too. Returns that folder."""
        if os.geteuid() != 0 or os.environ.get(PRIVATE_MOUNTS) != "1":
            return None
        folder = self.folder("var-log", mode=0o755)
        reply = subprocess.run(["mount", "--bind", folder, "/var/log"], capture_output=True,
                               text=True)
        if reply.returncode != 0:
            raise DemoError("cannot give the programs a private /var/log: " + reply.stderr)
        return folder

    def _opener(self):
        path = os.path.join(self.folder("bin"), "url-opener")
        with open(path, "w") as f:
            f.write('#!/bin/sh\nprintf "%%s\\n" "$1" >> "%s/opened-urls"\n' % self.root)
        os.chmod(path, 0o700)
        return path

    # ---- processes ----

    def spawn(self, name, argv, env=None, stdout=None, pass_fds=()):
        """Starts argv in a process group of its own; its output goes to a file in the
        root unless `stdout` is given."""
        out = stdout
        if out is None:
            out = open(os.path.join(self.folder("logs"), name + ".out"), "ab")
        process = subprocess.Popen(argv, env=env or self.env, stdin=subprocess.DEVNULL,
                                   stdout=out, stderr=subprocess.STDOUT if stdout is None
                                   else None, start_new_session=True, pass_fds=pass_fds)
        if stdout is None:
            out.close()
        self.processes.append((name, process))
        return process

    def output_of(self, name):
        try:
            with open(os.path.join(self.root, "logs", name + ".out"), errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def marked_processes(self):
        """Processes other than this one whose environment carries this session's id."""
        needle = ("%s=%s\0" % (MARKER, self.id)).encode()
        found = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit() or int(entry) == os.getpid():
                continue
            try:
                with open("/proc/%s/environ" % entry, "rb") as f:
                    if needle not in f.read() + b"\0":
                        continue
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    command = f.read().replace(b"\0", b" ").decode(errors="replace").strip()
                found.append((int(entry), command))
            except OSError:
                continue
        return found

    @staticmethod
    def _signal_group(process, sig):
        try:
            os.killpg(process.pid, sig)
        except (ProcessLookupError, PermissionError):
            pass

    def stop(self, name_or_process, grace=3.0):
        """Stops one started process (its whole group): SIGTERM, then SIGKILL."""
        for name, process in self.processes:
            if name_or_process in (name, process):
                if process.poll() is None:
                    self._signal_group(process, signal.SIGTERM)
                    try:
                        process.wait(grace)
                    except subprocess.TimeoutExpired:
                        self._signal_group(process, signal.SIGKILL)
                        process.wait()
                # Helpers left in its group go too.
                self._signal_group(process, signal.SIGKILL)

    def close(self):
        """Stops everything, newest first, then whatever else carries the marker, and
        removes the root. Returns what was left behind (empty when nothing)."""
        if self._stopped:
            return self._leftovers
        self._stopped = True
        # A second Ctrl-C must not cut the cleaning short.
        for sig in self._previous_handlers:
            signal.signal(sig, signal.SIG_IGN)
        for _name, process in reversed(self.processes):
            if process.poll() is None:
                self._signal_group(process, signal.SIGTERM)
        deadline = time.monotonic() + 5
        for _name, process in reversed(self.processes):
            try:
                process.wait(max(0.1, deadline - time.monotonic()))
            except subprocess.TimeoutExpired:
                self._signal_group(process, signal.SIGKILL)
                process.wait()
            self._signal_group(process, signal.SIGKILL)
        # Programs started by others (the bus, the settings window) are not our children.
        for sig, pause in ((signal.SIGTERM, 2.0), (signal.SIGKILL, 1.0)):
            stray = self.marked_processes()
            for pid, _command in stray:
                try:
                    os.kill(pid, sig)
                except (ProcessLookupError, PermissionError):
                    pass
            if stray:
                self._wait_quiet(pause)
        leftovers = ["process %d: %s" % p for p in self.marked_processes()]
        if self.system_logs:
            subprocess.run(["umount", "--lazy", "/var/log"], capture_output=True)
        shutil.rmtree(self.root, ignore_errors=True)
        if os.path.exists(self.root):
            leftovers.append("folder " + self.root)
        for sig, handler in self._previous_handlers.items():
            signal.signal(sig, handler)
        self._leftovers = leftovers
        return leftovers

    def _wait_quiet(self, seconds):
        deadline = time.monotonic() + seconds
        while self.marked_processes() and time.monotonic() < deadline:
            time.sleep(0.05)


class Peers:
    """The stand-ins the programs talk to, started in a session."""

    def __init__(self, session, source):
        self.session = session
        self.source = source
        self.service_url = None
        self.storage_port = None
        self.bus_address = None
        self.notify_log = os.path.join(session.root, "notifications.log")

    # ---- the service ----

    def start_service(self, clients):
        """service.py with the sign-in page, the OAuth clients {id: secret} and the demo
        account; sets QUORVANE_SITE_URL for everything started later."""
        argv = [PYTHON, os.path.join(self.source, "tests/fakes/service.py"), "--port", "0",
                "--sign-in-page", "--user", DEMO_USER + ":" + DEMO_PASSWORD]
        for client, secret in clients.items():
            argv += ["--client", client + ":" + secret]
        process = self.session.spawn("service", argv, stdout=subprocess.PIPE)
        line = process.stdout.readline().decode(errors="replace")
        match = re.match(r"READY (\d+)", line)
        if not match:
            raise DemoError("the stand-in service did not start: " + line.strip())
        # Keep reading its output so it never blocks on a full pipe.
        threading.Thread(target=lambda: process.stdout.read(), daemon=True).start()
        self.service_url = "http://127.0.0.1:%s" % match.group(1)
        self.session.env["QUORVANE_SITE_URL"] = self.service_url
        return self.service_url

    def service_log(self):
        return http_json(self.service_url + "/_control/log")

    def api_log(self):
        return http_json(self.service_url + "/_control/api_log")

    def api_calls(self, path):
        """Every logged API call to `path` (e.g. "/files/upload"), oldest first."""
        return [c for c in self.api_log() if c["path"] == "/api/0" + path or c["path"] == path]

    def requested(self, method, path):
        return any(r["method"] == method and r["path"] == path for r in self.service_log())

    def control(self, path, body):
        return http_json(self.service_url + path, body)

    # ---- the storage ----

    def start_storage(self):
        """s3_server.py (botocore checks every signature) with its own store; sets the
        storage variables for everything started later."""
        store = self.session.folder("storage")
        for attempt in range(3):
            port = free_port()
            process = self.session.spawn(
                "storage", [PYTHON, os.path.join(self.source, "tests/fakes/s3_server.py"),
                            str(port), store, STORAGE_ACCESS_KEY, STORAGE_SECRET_KEY])
            try:
                wait_until(lambda: process.poll() is not None or self._accepts(port), 15,
                           "the storage stand-in")
            except DemoError:
                process.kill()
                raise
            if process.poll() is None:
                break
            if attempt == 2:
                raise DemoError("the storage stand-in did not start:\n" +
                                self.session.output_of("storage"))
        self.storage_port = port
        self.session.env.update({
            "QUORVANE_STORAGE_HOST": "localhost:%d" % port,
            "QUORVANE_STORAGE_SCHEME": "http",
            "QUORVANE_STORAGE_BUCKET": STORAGE_BUCKET,
            "QUORVANE_STORAGE_ACCESS_KEY": STORAGE_ACCESS_KEY,
            "QUORVANE_STORAGE_SECRET_KEY": STORAGE_SECRET_KEY,
        })
        return port

    @staticmethod
    def _accepts(port):
        try:
            with socket.create_connection(("127.0.0.1", port), 0.2):
                return True
        except OSError:
            return False

    def storage_object(self, key):
        """The object's bytes, read back with a request botocore signs, as any S3 client
        would; None when the storage has no such object."""
        sys.path.insert(0, "/usr/lib/python3/dist-packages")
        from botocore.auth import HmacV1Auth
        from botocore.awsrequest import AWSRequest
        from botocore.credentials import Credentials
        from urllib.parse import quote

        host = "%s.localhost:%d" % (STORAGE_BUCKET, self.storage_port)
        path = "/" + quote(key, safe="/")
        request = AWSRequest(method="GET", url="http://%s%s" % (host, path))
        # The bucket is in the host name; the signed resource names it in the path.
        request.auth_path = "/" + STORAGE_BUCKET + path
        HmacV1Auth(Credentials(STORAGE_ACCESS_KEY, STORAGE_SECRET_KEY)).add_auth(request)
        connection = http.client.HTTPConnection("127.0.0.1", self.storage_port, timeout=30)
        try:
            headers = dict(request.headers.items())
            headers["Host"] = host
            connection.request("GET", path, headers=headers)
            reply = connection.getresponse()
            body = reply.read()
        finally:
            connection.close()
        return body if reply.status == 200 else None

    # ---- the session bus and notifications ----

    def start_bus(self, services=None, service_dir=None):
        """A private session bus that starts programs for their names: those in
        `services` (bus name: program), or those whose service files are in
        `service_dir`. Sets DBUS_SESSION_BUS_ADDRESS for everything started later."""
        folder = self.session.folder("bus")
        service_dir = service_dir or self.session.folder("bus", "services")
        for name, program in (services or {}).items():
            with open(os.path.join(service_dir, name + ".service"), "w") as f:
                f.write('[D-BUS Service]\nName=%s\nExec="%s"\n' % (name, program))
        socket_path = os.path.join(folder, "socket")
        config = os.path.join(folder, "session.conf")
        with open(config, "w") as f:
            f.write('<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration '
                    '1.0//EN" "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">\n'
                    "<busconfig>\n  <type>session</type>\n"
                    "  <listen>unix:path=%s</listen>\n  <servicedir>%s</servicedir>\n"
                    '  <policy context="default"><allow send_destination="*" eavesdrop="true"/>'
                    '<allow eavesdrop="true"/><allow own="*"/></policy>\n</busconfig>\n'
                    % (socket_path, service_dir))
        self.bus_address = "unix:path=" + socket_path
        self.session.env["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address
        self.session.spawn("bus", ["dbus-daemon", "--nofork", "--config-file=" + config])
        wait_until(lambda: os.path.exists(socket_path), 10, "the session bus")
        return self.bus_address

    def start_notifications(self):
        """python3-dbusmock's notification service on the private bus, logging each
        Notify call."""
        self.session.spawn("notifications", [PYTHON, "-m", "dbusmock", "--session",
                                              "--template", "notification_daemon",
                                              "-l", self.notify_log])
        wait_until(lambda: self.name_has_owner("org.freedesktop.Notifications"), 15,
                   "the notification service")

    def name_has_owner(self, name):
        reply = subprocess.run(
            ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
             "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:" + name],
            env=self.session.env, capture_output=True, text=True, timeout=10)
        return "boolean true" in reply.stdout

    def notifications(self):
        """(summary, body) of every notification shown so far."""
        try:
            with open(self.notify_log, errors="replace") as f:
                lines = f.read().splitlines()
        except OSError:
            return []
        shown = []
        for line in lines:
            if " Notify " not in line:
                continue
            texts = re.findall(r'"((?:[^"\\]|\\.)*)"', line)
            if len(texts) >= 4:
                shown.append((texts[2], texts[3]))
        return shown
