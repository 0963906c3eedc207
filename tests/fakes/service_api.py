"""The stand-in service's REST API under /api/0: every endpoint the client calls.

Loaded by service.py (`service_api.register(service, Reply)`), which already keeps the access
tokens, the request log and the scripted replies (POST /_control/script with a path such
as "/api/0/projects" answers JSON errors, "oauth" errors, bare 500/404/403, HTML, empty,
cut-off, non-UTF-8 or slow replies in place of the handler).

Each call is checked for a live access token (an unknown one is answered with an
"oauth" error, as the hosted service does) and recorded with its decoded fields and
files (with the bytes of small ones) under GET /_control/api_log. State is kept per service: projects with departments,
folders, workflows and files; comments, sessions, annotations, metadata and events.
POST /_control/api_catalogue replaces the projects with a test's own list.

A folder in a listing names its parent folder in "path" and itself in "title"; the
reply of /folders/create names each new folder's own path in "path".

For the events widget:
  POST /_control/events  {"project": "T", "events": [{...}, ...]} adds events under the
         project titled T, after the built-in ones and as given (no "project_title" is
         added; an event whose "date" is not a number is listed on every request);
         {"clear": true} forgets every event, built-in ones included.
  GET  /icon?color=RRGGBB&size=N&delay=S  a square PNG icon of that colour, after S
         seconds (for a slow icon server).

Python standard library only.
"""

import base64
import hashlib
import itertools
import json
import struct
import threading
import time
import urllib.parse
import zlib
from email import policy
from email.parser import BytesParser

API = "/api/0"
MAX_FIELDS = 1000
MAX_LOGGED_FILE = 256 * 1024  # smaller files are kept whole in the log (thumbnails)


class ApiState:
    """What the API remembers between calls (guarded by `lock`)."""

    def __init__(self):
        self.lock = threading.Lock()
        self.ids = itertools.count(100)
        self.log = []
        self.projects = {
            1: {"id": 1, "title": "Launch Film", "departments": [{"id": 11, "title": "Edit"}],
                "folders": [{"path": "/", "title": "Cuts", "dept": -1}],
                "workflows": [{"id": 21, "name": "Review"}]},
            2: {"id": 2, "title": "Trailer", "departments": [], "folders": [],
                "workflows": []},
        }
        self.files = {31: {"id": 31, "project_id": 1, "title": "cut1.mov", "path": "/Cuts"}}
        self.comments = {}
        self.sessions = {}
        self.annotations = {}
        self.metadata = {}
        self.events = [{"title": "Uploaded", "project_title": "Launch Film", "icon": "upload",
                        "description": "cut1.mov", "date": 1700000000,
                        "url": "https://site.invalid/f/31"}]
        self.added_events = []  # (project title, event) pairs from POST /_control/events

    def next_id(self):
        return next(self.ids)


def fields_of(req):
    """(ordered fields, files) of a form or multipart body; None when unreadable."""
    content_type = req.headers.get("Content-Type", "")
    if content_type.startswith("multipart/form-data"):
        head = ("Content-Type: %s\r\n\r\n" % content_type).encode("latin-1")
        message = BytesParser(policy=policy.HTTP).parsebytes(head + req.body)
        if message.defects:
            return None
        fields, files = [], []
        for part in message.iter_parts():
            name = part.get_param("name", header="content-disposition")
            payload = part.get_payload(decode=True) or b""
            if part.get_filename() is None:
                fields.append((name, payload.decode("utf-8")))
            else:
                entry = {"field": name, "filename": part.get_filename(),
                         "type": part.get_content_type(), "size": len(payload),
                         "sha256": hashlib.sha256(payload).hexdigest()}
                if len(payload) <= MAX_LOGGED_FILE:
                    entry["base64"] = base64.b64encode(payload).decode("ascii")
                files.append(entry)
        return fields, files
    # The client's form bodies begin with "&": one empty segment there is allowed,
    # any other field without "=" makes the body unreadable.
    try:
        text = req.body.decode("utf-8")
    except UnicodeDecodeError:
        return None
    segments = text.split("&")
    if segments and segments[0] == "":
        segments = segments[1:]
    fields = []
    for segment in segments:
        name, sep, value = segment.partition("=")
        if not sep:
            return None
        fields.append((urllib.parse.unquote_plus(name), urllib.parse.unquote_plus(value)))
    return fields, []


def register(service, reply_class):
    """Adds the API's handlers to the service's table; replies are `reply_class`."""
    global _reply_class
    _reply_class = reply_class
    state = ApiState()
    service.api = state

    def endpoint(path):
        def wrap(handler):
            def run(req):
                parsed = fields_of(req)
                if parsed is None or len(parsed[0]) > MAX_FIELDS:
                    return service_reply({"error": "Unreadable request body"}, 400)
                fields, files = parsed
                with state.lock:
                    state.log.append({"path": req.path, "fields": fields, "files": files,
                                      "content_type": req.headers.get("Content-Type", "")})
                values = dict(fields)
                token = values.get("access_token")
                anonymous = path in ("/tempactivationcode", "/fetchauthfromtempcode")
                with service.lock:
                    user = service.access.get(token)
                if user is None and not anonymous:
                    return service_reply({"error": "Invalid or expired access token",
                                          "error_type": "oauth"})
                with state.lock:
                    return service_reply(handler(values, files))
            service.route("POST", API + path)(run)
            return handler
        return wrap

    def project(values):
        return state.projects.get(int(values.get("project_id", 0)))

    @endpoint("/projects")
    def projects(values, _files):
        return [{"id": p["id"], "title": p["title"]} for p in state.projects.values()]

    @endpoint("/projects/create")
    def projects_create(values, _files):
        new = {"id": state.next_id(), "title": values["title"], "departments": [],
               "folders": [], "workflows": []}
        state.projects[new["id"]] = new
        return {"id": new["id"], "title": new["title"]}

    @endpoint("/projects/departments")
    def departments(values, _files):
        p = project(values)
        return p["departments"] if p else {"error": "Unknown project"}

    @endpoint("/projects/workflows")
    def workflows(values, _files):
        p = project(values)
        return p["workflows"] if p else {"error": "Unknown project"}

    @endpoint("/projects/folders")
    def folders(values, _files):
        p = project(values)
        if not p:
            return {"error": "Unknown project"}
        parent = values.get("parent", "/")
        return [f for f in p["folders"] if f["path"] == parent or "subfolders" in values]

    @endpoint("/folders/create")
    def folders_create(values, _files):
        p = project(values)
        if not p:
            return {"error": "Unknown project"}
        made = []
        for name in values["folder"].split(";"):
            path = "/" + name.strip("/")
            parent, _, title = path.rpartition("/")
            folder = {"path": parent or "/", "title": title, "dept": int(values.get("dept", -1))}
            p["folders"].append(folder)
            made.append(dict(folder, path=path))
        return made

    def file_list(values, _files):
        pid = int(values.get("project_id", -1))
        return [f for f in state.files.values() if pid == -1 or f["project_id"] == pid]

    for path in ("/projects/files", "/projects/files/video", "/projects/files/audiovideo",
                 "/apps/files"):
        endpoint(path)(file_list)

    @endpoint("/projects/files/revisions")
    def revisions(values, _files):
        f = state.files.get(int(values["file_id"]))
        return [f] if f else {"error": "Unknown file"}

    @endpoint("/projects/events")
    def events(values, _files):
        since = int(values.get("since", 0))
        listed = [e for e in state.events if e["date"] >= since]
        by_project = {}
        for event in listed:
            by_project.setdefault(event["project_title"], []).append(event)
        for title, event in state.added_events:
            date = event.get("date") if isinstance(event, dict) else None
            if not isinstance(date, (int, float)) or isinstance(date, bool) or date >= since:
                by_project.setdefault(title, []).append(event)
        return [{"title": title, "events": items} for title, items in by_project.items()]

    @endpoint("/commentstream/create")
    def commentstream(values, _files):
        return {"id": state.next_id(), "title": values["title"],
                "frame_rate": values["frame_rate"]}

    @endpoint("/file")
    def get_file(values, _files):
        return state.files.get(int(values["file_id"])) or {"error": "Unknown file"}

    @endpoint("/apps/files/remove")
    def remove_file(values, _files):
        gone = state.files.pop(int(values["file_id"]), None)
        return {"removed": gone is not None}

    @endpoint("/files/url")
    def file_url(values, _files):
        return {"url": "https://site.invalid/f/%s" % values["file_id"]}

    @endpoint("/files/thumb")
    def thumb(values, files):
        return {"file_id": values["file_id"], "thumbnails": [f["filename"] for f in files]}

    @endpoint("/files/metadata")
    def metadata(values, _files):
        fid = int(values["file_id"])
        if "metadata" in values:
            parts = values["metadata"].split("<=|=>") if values["metadata"] else []
            state.metadata[fid] = dict(zip(parts[0::2], parts[1::2]))
        return state.metadata.get(fid, {})

    def verdict(name):
        def handler(values, _files):
            return {"file_id": values["file_id"], "status": name,
                    "comment": values.get("comment")}
        return handler

    endpoint("/files/approve")(verdict("approved"))
    endpoint("/files/reject")(verdict("rejected"))

    @endpoint("/comments")
    def comments(values, _files):
        fid = values["file_id"]
        return [c for c in state.comments.values() if c["file_id"] == fid]

    @endpoint("/comments/create")
    def comments_create(values, _files):
        comment = {"id": state.next_id(), "file_id": values["file_id"], "body": values["body"],
                   "timecode": values.get("timecode"), "color": values.get("color")}
        state.comments[comment["id"]] = comment
        return comment

    @endpoint("/comments/edit")
    def comments_edit(values, _files):
        comment = state.comments.get(int(values["comment_id"]))
        if not comment:
            return {"error": "Unknown comment"}
        comment.update({k: values[k] for k in ("body", "timecode", "color") if k in values})
        return comment

    @endpoint("/comments/remove")
    def comments_remove(values, _files):
        return {"removed": state.comments.pop(int(values["comment_id"]), None) is not None}

    @endpoint("/files/playbackpos")
    def playback(values, _files):
        return {"file_id": values["file_id"], "position": float(values["position"])}

    @endpoint("/sync/localip")
    def sync_ip(values, _files):
        return {"ip": values["ip"]}

    @endpoint("/remote/token")
    def remote_token(_values, _files):
        return {"token": "remote-%d" % state.next_id()}

    @endpoint("/sessions")
    def sessions(values, _files):
        return [s for s in state.sessions.values() if s["project_id"] == values["project_id"]]

    @endpoint("/sessions/create")
    def sessions_create(values, _files):
        session = {"id": state.next_id(), "name": values["name"],
                   "participants": values["participants"].split(","),
                   "project_id": values["project_id"], "file_id": None}
        state.sessions[session["id"]] = session
        return session

    @endpoint("/sessions/fileid")
    def sessions_fileid(values, _files):
        session = state.sessions.get(int(values["session_id"]))
        if not session:
            return {"error": "Unknown session"}
        session["file_id"] = values["file_id"]
        return session

    @endpoint("/sessions/remove")
    def sessions_remove(values, _files):
        return {"removed": state.sessions.pop(int(values["id"]), None) is not None}

    @endpoint("/users")
    def users(values, _files):
        return [{"id": 1, "name": service.config["user_name"]}]

    @endpoint("/relationships")
    def relationships(values, _files):
        types = values.get("linktypes", "").split(",") if values.get("linktypes") else []
        return {"file_id": values["file_id"], "linktypes": types, "related": []}

    @endpoint("/annotation")
    def annotation(values, _files):
        if "comment_id" in values:
            note = {"id": state.next_id(), "comment_id": values["comment_id"],
                    "data": values["data"]}
            state.annotations[note["id"]] = note
            return note
        return state.annotations.get(int(values["annotation_id"])) or {"error": "Unknown annotation"}

    @endpoint("/annotation/remove")
    def annotation_remove(values, _files):
        return {"removed": state.annotations.pop(int(values["annotation_id"]), None) is not None}

    @endpoint("/tempactivationcode")
    def temp_code(values, _files):
        return {"code": "T%06d" % state.next_id(), "client_id": values.get("client_id"),
                "expires": int(time.time()) + 600}

    @endpoint("/fetchauthfromtempcode")
    def token_from_temp_code(values, _files):
        return {"error": "Code not yet confirmed", "temp_code": values.get("temp_code")}

    @endpoint("/files/canupload")
    def can_upload(values, _files):
        p = project(values)
        if p is not None and p.get("uploads") is False:
            return {"error": "You do not have permission to upload files to this project."}
        return {"can_upload": p is not None}

    @endpoint("/uniqueprojectid")
    def unique_id(values, _files):
        taken = values["unique_project_id"] in {str(p["id"]) for p in state.projects.values()}
        return {"unique": not taken}

    @endpoint("/files/upload")
    def upload(values, files):
        new = {"id": state.next_id(), "project_id": int(values.get("project_id", -1)),
               "title": values.get("title", ""), "path": values.get("parent", "/"),
               "files": files}
        state.files[new["id"]] = new
        return {"id": new["id"]}

    def api_log(_req):
        with state.lock:
            return service_reply(list(state.log))

    def api_reset(_req):
        with state.lock:
            state.log.clear()
        return service_reply({"ok": True})

    def control_events(req):
        spec = json.loads(req.body or b"{}")
        with state.lock:
            if spec.get("clear"):
                state.events.clear()
                state.added_events.clear()
            for event in spec.get("events", []):
                state.added_events.append((spec["project"], event))
        return service_reply({"ok": True})

    def icon(req):
        color = bytes.fromhex(req.query_value("color") or "3366cc")[:3].ljust(3, b"\0")
        size = max(1, min(int(req.query_value("size") or 32), 256))
        time.sleep(min(float(req.query_value("delay") or 0), 30))
        return _reply_class(200, png(size, color), "image/png")

    service.route("POST", "/_control/events")(control_events)
    service.route("GET", "/icon")(icon)

    def api_catalogue(req):
        """Replaces the projects: a JSON list of {"id", "title", "departments",
        "folders", "workflows"} with an optional "uploads": false (refused uploads)."""
        try:
            listed = json.loads(req.body.decode("utf-8"))
            catalogue = {int(p["id"]): dict({"departments": [], "folders": [], "workflows": []},
                                            **p) for p in listed}
        except (ValueError, TypeError, KeyError, AttributeError):
            return service_reply({"error": "Unreadable catalogue"}, 400)
        with state.lock:
            state.projects = catalogue
        return service_reply({"ok": True})

    service.route("GET", "/_control/api_log")(api_log)
    service.route("POST", "/_control/api_catalogue")(api_catalogue)
    service.route("POST", "/_control/api_reset")(api_reset)


_reply_class = None


def png(size, rgb):
    """A square, opaque PNG of one colour."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    rows = b"".join(b"\0" + rgb * size for _ in range(size))
    header = struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows))
            + chunk(b"IEND", b""))


def service_reply(value, status=200):
    """A JSON reply of the service's own reply class."""
    return _reply_class(status, json.dumps(value).encode("utf-8"))
