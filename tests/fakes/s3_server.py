#!/usr/bin/python3
"""A strict stand-in for the storage service's S3 endpoint, for tests on loopback.

Every request must carry a signature version 2 "Authorization" header that
botocore's own signer (HmacV1Auth) reproduces from the request as received; any
difference answers SignatureDoesNotMatch. Buckets are taken from the host name
("bucket.localhost:port"). Objects and parts are kept on disk.

Supported: PUT, GET, HEAD and DELETE of objects; HEAD of a bucket and its listing
(GET with an optional ?prefix=: one page of the keys stored by single PUTs, with
their sizes); initiate (POST ?uploads), part upload (PUT ?partNumber&uploadId),
complete (POST ?uploadId) and abort (DELETE ?uploadId) of multipart uploads.

Faults are scripted by POSTing JSON to /__script (unsigned, loopback only):
  request_timeout: n      the next n signed requests answer RequestTimeout (400)
  part_500_no_etag: N     part N answers 500 without ETag and without a body
  complete_200_error      the complete request answers 200 with an <Error> body
  namespaced: bool        initiate replies carry S3's XML namespace (default true)
  slow_seconds: s         every reply waits s seconds first
  stall_parts: n          the next n part uploads are read and never answered
                          (the connection is held for stall_seconds, default 30)
  status_only: code       the next signed request answers `code` with no body
  read_delay: s           bodies over 1 MiB are read only s seconds after their
                          request head
  read_rate: n            bodies over 1 MiB are read at n bytes a second at most
  tls_version: "1.2"      TLS connections accepted from now on speak at most
                          that version ("1.3", the default, allows both)
GET /__stats answers counters as JSON, among them the HEAD requests, the
connections accepted, the requests that came on a connection after it answered
RequestTimeout, and the requests that repeat the Date of a request answered
RequestTimeout.

Usage: s3_server.py PORT DIRECTORY ACCESS_KEY SECRET_KEY [TLS_PORT CERT KEY]
With TLS_PORT the same service answers over TLS there too (the control paths stay
on PORT).
"""
import hashlib
import json
import os
import ssl
import sys
import tempfile
import threading
import time
import uuid
from email.utils import parsedate_to_datetime
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import urlsplit, parse_qsl, unquote
from xml.etree import ElementTree
from xml.sax.saxutils import escape

from botocore.auth import HmacV1Auth
from botocore.awsrequest import HTTPHeaders
from botocore.credentials import Credentials

NS = "http://s3.amazonaws.com/doc/2006-03-01/"
MAX_BODY = 5 * 1024 * 1024 * 1024  # S3's largest single PUT
MAX_XML = 1024 * 1024
CHUNK = 1024 * 1024

lock = threading.Lock()
script = {"namespaced": True}
stats = {"aborts": 0, "completes": 0, "initiates": 0, "parts": 0, "puts": 0,
         "signature_failures": 0, "requests": 0, "connections": 0,
         "reused_after_timeout": 0, "same_date_after_timeout": 0,
         "stalls": 0, "heads": 0}
timeout_dates = set()


class ReceivedDateSigner(HmacV1Auth):
    """botocore's signer, signing with the Date the client sent."""

    def __init__(self, credentials, date):
        super().__init__(credentials)
        self._date = date

    def _get_date(self):
        return self._date


class Body:
    """A request body spooled to a file in the store as it arrives, with its MD5."""

    def __init__(self, folder, stream, length, paced=True):
        handle, self.path = tempfile.mkstemp(dir=folder, prefix="body-")
        digest = hashlib.md5()
        self.size = 0
        with os.fdopen(handle, "wb") as out:
            delay, rate = (script.get("read_delay", 0), script.get("read_rate", 0)) \
                if paced and length > CHUNK else (0, 0)
            if delay:
                time.sleep(delay)
            started = time.monotonic()
            while self.size < length:
                step = min(CHUNK, 64 * 1024) if rate else CHUNK
                want = min(step, length - self.size)
                chunk = stream.read1(want) if rate else stream.read(want)
                if not chunk:
                    break
                if rate:
                    ahead = (self.size + len(chunk)) / rate - (time.monotonic() - started)
                    if ahead > 0:
                        time.sleep(ahead)
                digest.update(chunk)
                out.write(chunk)
                self.size += len(chunk)
        self.complete = self.size == length
        self.md5 = digest.hexdigest()

    def text(self):
        if self.size > MAX_XML:
            return b""
        with open(self.path, "rb") as f:
            return f.read()

    def keep_as(self, path):
        os.replace(self.path, path)
        self.path = None

    def discard(self):
        if self.path:
            os.unlink(self.path)
            self.path = None


def error_xml(code, message):
    return ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Error><Code>%s</Code>"
            "<Message>%s</Message><RequestId>%s</RequestId></Error>"
            % (code, message, uuid.uuid4().hex)).encode()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "StandInS3/1.0"

    def setup(self):
        contexts = getattr(self.server, "tls_contexts", None)
        if contexts:
            self.request.settimeout(60)
            self.request = contexts[script.get("tls_version", "1.3")].wrap_socket(
                self.request, server_side=True)
        super().setup()
        self.timed_out = False
        with lock:
            stats["connections"] += 1

    def log_message(self, fmt, *args):
        sys.stderr.write("%s %s\n" % (self.requestline, fmt % args))

    # ---- replies ----------------------------------------------------------
    def reply(self, status, body=b"", headers=None, content_type="application/xml"):
        delay = script.get("slow_seconds", 0)
        if delay:
            time.sleep(delay)
        self.send_response(status)
        for name, value in (headers or {}).items():
            self.send_header(name, value)
        if body:
            self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if body and self.command != "HEAD":
            self.wfile.write(body)

    def send_file(self, path):
        size = os.path.getsize(path)
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(size))
        self.end_headers()
        if self.command != "HEAD":
            with open(path, "rb") as f:
                while True:
                    chunk = f.read(CHUNK)
                    if not chunk:
                        break
                    self.wfile.write(chunk)

    def fail(self, status, code, message):
        self.reply(status, error_xml(code, message))

    # ---- request parts ----------------------------------------------------
    def read_body(self, paced=True):
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            return None
        length = int(self.headers.get("Content-Length") or 0)
        if length > MAX_BODY:
            return None
        folder = os.path.join(self.server.store, "incoming")
        os.makedirs(folder, exist_ok=True)
        body = Body(folder, self.rfile, length, paced)
        if not body.complete:
            body.discard()
            return None
        return body

    def bucket_and_key(self):
        host = self.headers.get("Host", "").split(":")[0]
        bucket = host.split(".")[0] if "." in host else ""
        split = urlsplit(self.path)
        return bucket, unquote(split.path.lstrip("/")), split

    def signature_ok(self, bucket, split):
        auth = self.headers.get("Authorization", "")
        date = self.headers.get("Date")
        if not auth.startswith("AWS ") or ":" not in auth or date is None:
            return False, "AccessDenied"
        access, signature = auth[4:].split(":", 1)
        if access != self.server.access_key:
            return False, "InvalidAccessKeyId"
        try:
            skew = abs(time.time() - parsedate_to_datetime(date).timestamp())
        except (TypeError, ValueError):
            return False, "AccessDenied"
        if skew > 900:
            return False, "RequestTimeTooSkewed"
        headers = HTTPHeaders()
        for name, value in self.headers.items():
            if name.lower() in ("content-type", "content-md5") or name.lower().startswith("x-amz-"):
                headers[name] = value
        signer = ReceivedDateSigner(Credentials(access, self.server.secret_key), date)
        expected = signer.get_signature(self.command, split, headers,
                                        auth_path="/" + bucket + split.path)
        if expected != signature:
            return False, "SignatureDoesNotMatch"
        return True, None

    # ---- dispatch ---------------------------------------------------------
    def handle_any(self):
        with lock:
            stats["requests"] += 1
        split = urlsplit(self.path)
        if split.path == "/__script" and self.command == "POST":
            body = self.read_body(paced=False)
            text = body.text() if body else b""
            if body:
                body.discard()
            with lock:
                script.update(json.loads(text or b"{}"))
            return self.reply(200, b"{}", content_type="application/json")
        if split.path == "/__stats":
            with lock:
                data = json.dumps(stats).encode()
            return self.reply(200, data, content_type="application/json")

        bucket, key, split = self.bucket_and_key()
        body = self.read_body()
        if body is None:
            return self.fail(411, "MissingContentLength",
                             "You must provide the Content-Length HTTP header.")
        try:
            self.checked(bucket, key, split, body)
        finally:
            body.discard()

    def checked(self, bucket, key, split, body):
        ok, code = self.signature_ok(bucket, split)
        if not ok:
            with lock:
                stats["signature_failures"] += 1
            return self.fail(403, code, "The request signature we calculated does not match "
                                        "the signature you provided.")
        with lock:
            # S3 drops the connection after RequestTimeout; a client must not reuse it.
            if self.timed_out:
                stats["reused_after_timeout"] += 1
            if self.headers.get("Date") in timeout_dates:
                stats["same_date_after_timeout"] += 1
            if script.get("request_timeout", 0) > 0:
                script["request_timeout"] -= 1
                timeout = True
            else:
                timeout = False
            status_only = script.pop("status_only", None)
        if timeout:
            self.timed_out = True
            with lock:
                timeout_dates.add(self.headers.get("Date"))
            return self.fail(400, "RequestTimeout", "Your socket connection to the server was "
                                                    "not read from or written to within the "
                                                    "timeout period.")
        if status_only:
            return self.reply(int(status_only))
        query = dict(parse_qsl(split.query, keep_blank_values=True))
        if self.command == "HEAD":
            with lock:
                stats["heads"] += 1
        if bucket and not key and self.command in ("GET", "HEAD"):
            return self.list_bucket(bucket, query.get("prefix", ""))
        if not bucket or not key:
            return self.fail(400, "InvalidRequest", "A bucket and a key are required.")
        self.dispatch(bucket, key, query, body)

    def dispatch(self, bucket, key, query, body):
        store = self.server.store
        obj = os.path.join(store, bucket, hashlib.sha256(key.encode()).hexdigest())
        if self.command == "POST" and "uploads" in query:
            return self.initiate(bucket, key)
        if "uploadId" in query:
            upload = query["uploadId"]
            folder = os.path.join(store, "uploads", upload)
            if not os.path.isdir(folder) or not all(c.isalnum() or c in "-._~" for c in upload):
                return self.fail(404, "NoSuchUpload", "The specified upload does not exist.")
            if self.command == "PUT" and "partNumber" in query:
                return self.part(folder, int(query["partNumber"]), body)
            if self.command == "POST":
                return self.complete(folder, obj, body)
            if self.command == "DELETE":
                with lock:
                    stats["aborts"] += 1
                for name in os.listdir(folder):
                    os.unlink(os.path.join(folder, name))
                os.rmdir(folder)
                return self.reply(204)
        if self.command == "PUT":
            os.makedirs(os.path.dirname(obj), exist_ok=True)
            body.keep_as(obj)
            with lock:
                self.server.keys.setdefault(bucket, set()).add(key)
            with lock:
                stats["puts"] += 1
            return self.reply(200, headers={"ETag": '"%s"' % body.md5})
        if self.command in ("GET", "HEAD"):
            if not os.path.exists(obj):
                return self.fail(404, "NoSuchKey", "The specified key does not exist.")
            return self.send_file(obj)
        if self.command == "DELETE":
            if os.path.exists(obj):
                os.unlink(obj)
            with lock:
                self.server.keys.get(bucket, set()).discard(key)
            return self.reply(204)
        return self.fail(405, "MethodNotAllowed", "The method is not allowed.")

    def list_bucket(self, bucket, prefix):
        with lock:
            keys = sorted(k for k in self.server.keys.get(bucket, set()) if k.startswith(prefix))
        contents = ""
        for key in keys:
            obj = os.path.join(self.server.store, bucket, hashlib.sha256(key.encode()).hexdigest())
            contents += "<Contents><Key>%s</Key><Size>%d</Size></Contents>" % (
                escape(key), os.path.getsize(obj))
        self.reply(200, ('<?xml version="1.0" encoding="UTF-8"?>\n'
                         '<ListBucketResult xmlns="%s"><Name>%s</Name><Prefix>%s</Prefix>'
                         "<IsTruncated>false</IsTruncated>%s</ListBucketResult>"
                         % (NS, escape(bucket), escape(prefix), contents)).encode())

    # ---- multipart --------------------------------------------------------
    def initiate(self, bucket, key):
        upload = uuid.uuid4().hex + "-" + uuid.uuid4().hex[:8] + ".x_y~"
        os.makedirs(os.path.join(self.server.store, "uploads", upload))
        with lock:
            stats["initiates"] += 1
        xmlns = ' xmlns="%s"' % NS if script.get("namespaced", True) else ""
        body = ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<InitiateMultipartUploadResult%s><Bucket>%s</Bucket><Key>%s</Key>"
                "<UploadId>%s</UploadId></InitiateMultipartUploadResult>"
                % (xmlns, bucket, key, upload)).encode()
        self.reply(200, body)

    def part(self, folder, number, body):
        with lock:
            stats["parts"] += 1
            stall = script.get("stall_parts", 0) > 0
            if stall:
                script["stall_parts"] -= 1
                stats["stalls"] += 1
        if stall:
            time.sleep(script.get("stall_seconds", 30))
            self.close_connection = True
            return
        if script.get("part_500_no_etag") == number:
            return self.reply(500)
        body.keep_as(os.path.join(folder, "%05d" % number))
        self.reply(200, headers={"ETag": '"%s"' % body.md5})

    def complete(self, folder, obj, body):
        if script.get("complete_200_error"):
            return self.reply(200, error_xml("InternalError", "We encountered an internal error. "
                                                              "Please try again."))
        try:
            root = ElementTree.fromstring(body.text())
        except ElementTree.ParseError:
            return self.fail(400, "MalformedXML", "The XML you provided was not well-formed.")
        parts = [(int(p.findtext("PartNumber")), p.findtext("ETag")) for p in root.iter("Part")]
        if [n for n, _ in parts] != list(range(1, len(parts) + 1)):
            return self.fail(400, "InvalidPartOrder", "The list of parts was not in ascending "
                                                      "order.")
        whole = hashlib.md5()
        os.makedirs(os.path.dirname(obj), exist_ok=True)
        handle, assembled = tempfile.mkstemp(dir=os.path.dirname(obj), prefix="assembling-")
        with os.fdopen(handle, "wb") as out:
            for number, etag in parts:
                path = os.path.join(folder, "%05d" % number)
                if not os.path.exists(path):
                    os.unlink(assembled)
                    return self.fail(400, "InvalidPart", "One or more of the specified parts "
                                                         "could not be found.")
                digest = hashlib.md5()
                with open(path, "rb") as f:
                    while True:
                        chunk = f.read(CHUNK)
                        if not chunk:
                            break
                        digest.update(chunk)
                        whole.update(chunk)
                        out.write(chunk)
                if etag != '"%s"' % digest.hexdigest():
                    out.close()
                    os.unlink(assembled)
                    return self.fail(400, "InvalidPart", "An ETag does not match.")
        os.replace(assembled, obj)
        with lock:
            stats["completes"] += 1
        self.reply(200, ('<?xml version="1.0" encoding="UTF-8"?>\n'
                         '<CompleteMultipartUploadResult xmlns="%s"><ETag>"%s-%d"</ETag>'
                         "</CompleteMultipartUploadResult>"
                         % (NS, whole.hexdigest(), len(parts))).encode())

    do_GET = do_PUT = do_POST = do_DELETE = do_HEAD = handle_any


def tls_contexts(cert, key):
    contexts = {}
    for name, highest in (("1.2", ssl.TLSVersion.TLSv1_2), ("1.3", ssl.TLSVersion.TLSv1_3)):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        context.maximum_version = highest
        contexts[name] = context
    return contexts


def main():
    port, store, access, secret = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
    servers = [ThreadingHTTPServer(("127.0.0.1", port), Handler)]
    if len(sys.argv) >= 8:
        secure = ThreadingHTTPServer(("127.0.0.1", int(sys.argv[5])), Handler)
        secure.tls_contexts = tls_contexts(sys.argv[6], sys.argv[7])
        servers.append(secure)
    keys = {}  # one store of uploaded keys for both listeners
    for server in servers:
        server.store, server.access_key, server.secret_key = store, access, secret
        server.keys = keys
        server.daemon_threads = True
    for server in servers[1:]:
        threading.Thread(target=server.serve_forever, daemon=True).start()
    servers[0].serve_forever()


if __name__ == "__main__":
    main()
