"""A local HTTP server for the runtime download tests: it serves one archive on 127.0.0.1 with
the behaviour a test picks, and counts what it was asked. Every wait inside it is bounded, and
stopping the server releases any response that is still stalling."""
import http.server
import threading
import time

ARCHIVE_PATH = "/jre/jre.tar.gz"
# The longest a stalled or trickling response keeps its connection open.
MAX_HOLD_SECONDS = 30

BEHAVIOURS = (
    "normal",         # 200 with Content-Length and the whole archive
    "no_length",      # 200 without Content-Length; the body ends with the connection
    "late_length",    # like no_length for the first two requests, normal from the third on
    "cut_short",      # Content-Length of the archive, half of it, then the connection closes
    "stall",          # Content-Length of the archive, half of it, then nothing until stopped
    "not_found",      # 404 with an error page (and its length)
    "server_error",   # 500 with an error page (and its length)
    "empty",          # 200 with Content-Length 0
    "trickle",        # the whole archive in small pieces over about `trickle_seconds`
    # With an ETag and Last-Modified; ranges are honoured (206) while If-Range matches:
    "drop_once",      # the first answer closes its connection after `drop_fraction` of the body
    "drop_always",    # every answer closes its connection after `drop_fraction` of its part
    "ignore_range",   # drops like drop_once, then answers every range with 200 and the whole file
    "etag_changes",   # drops like drop_once; each request meets a new ETag and other content of
                      # the same length, so a range validated by the first ETag gets a 200
    "bad_range",      # drops like drop_once, then answers 206 with a Content-Range from byte 0
    "drop_then_silent",  # drops like drop_once, then takes every request and never answers it
    "silent",         # takes every request and never answers it
)
ETAG_BEHAVIOURS = ("drop_once", "drop_always", "ignore_range", "etag_changes", "bad_range", "drop_then_silent")
LAST_MODIFIED = "Wed, 09 Dec 2026 10:00:00 GMT"


def changed_archive(archive, version):
    """The archive's content as version `version` (1: the archive itself) of the served file."""
    if version == 1:
        return archive
    return bytes((b + version) & 0xFF for b in archive)


class _Handler(http.server.BaseHTTPRequestHandler):
    # HTTP/1.0: every response ends its connection, so a body without a length still ends.
    protocol_version = "HTTP/1.0"
    timeout = MAX_HOLD_SECONDS

    def log_message(self, format, *args):
        pass

    def do_GET(self):
        server = self.server.owner
        with server.lock:
            server.requests.append({"path": self.path, "agent": self.headers.get("User-Agent", ""),
                                    "range": self.headers.get("Range"), "if_range": self.headers.get("If-Range")})
            number = len(server.requests)
        if self.path != ARCHIVE_PATH:
            self._page(404, b"<html><body>no such file</body></html>")
            return
        behaviour = server.behaviour
        if behaviour == "silent" or (behaviour == "drop_then_silent" and number > 1):
            server.stopping.wait(MAX_HOLD_SECONDS)
            return
        if behaviour == "late_length":
            behaviour = "no_length" if number < 3 else "normal"
        body = server.archive
        try:
            if behaviour in ETAG_BEHAVIOURS:
                self._validated(body, behaviour, number, server)
            elif behaviour == "not_found":
                self._page(404, b"<html><body>Not Found: the runtime has moved</body></html>")
            elif behaviour == "server_error":
                self._page(500, b"<html><body>Internal Server Error</body></html>")
            elif behaviour == "empty":
                self._head(200, 0)
            elif behaviour == "no_length":
                self._head(200, None)
                self.wfile.write(body)
            elif behaviour == "cut_short":
                self._head(200, len(body))
                self.wfile.write(body[: len(body) // 2])
            elif behaviour == "stall":
                self._head(200, len(body))
                self.wfile.write(body[: len(body) // 2])
                self.wfile.flush()
                server.stopping.wait(MAX_HOLD_SECONDS)
            elif behaviour == "trickle":
                self._head(200, len(body))
                self._trickle(body, server)
            else:
                self._head(200, len(body))
                self._send(body, server)
            with server.lock:
                server.completed += 1
        except (BrokenPipeError, ConnectionResetError):
            pass

    def _head(self, status, length, headers=()):
        self.send_response(status)
        self.send_header("Content-Type", "application/x-gzip")
        if length is not None:
            self.send_header("Content-Length", str(length))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()

    def _validated(self, body, behaviour, number, server):
        version = number if behaviour == "etag_changes" else 1
        body = changed_archive(body, version)
        etag = f'"v{version}"'
        asked = self.headers.get("Range", "")
        start = 0
        if number > 1 and behaviour != "ignore_range" and asked.startswith("bytes=") and asked.endswith("-"):
            if self.headers.get("If-Range") in (None, etag, LAST_MODIFIED):
                start = int(asked[len("bytes="):-1])
        validators = [("ETag", etag), ("Last-Modified", LAST_MODIFIED), ("Accept-Ranges", "bytes")]
        if behaviour == "bad_range" and number > 1:
            self._head(206, len(body) - start, validators + [("Content-Range", f"bytes 0-{len(body) - start - 1}/{len(body)}")])
        elif start:
            self._head(206, len(body) - start, validators + [("Content-Range", f"bytes {start}-{len(body) - 1}/{len(body)}")])
        else:
            self._head(200, len(body), validators)
        part = body[start:]
        if number == 1 or behaviour == "drop_always":
            # Closing the connection with fewer bytes than announced: the link dropped.
            self._send(part[: int(len(part) * server.drop_fraction)], server)
        else:
            self._send(part, server)

    def _send(self, data, server):
        """Writes data, at most `rate` bytes a second when the server is throttled."""
        if not server.rate:
            self.wfile.write(data)
            return
        piece = max(1, server.rate // 20)
        started = time.monotonic()
        for sent in range(0, len(data), piece):
            self.wfile.write(data[sent:sent + piece])
            self.wfile.flush()
            ahead = started + (sent + piece) / server.rate - time.monotonic()
            if ahead > 0 and server.stopping.wait(ahead):
                return

    def _page(self, status, page):
        self.send_response(status)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(page)))
        self.end_headers()
        self.wfile.write(page)

    def _trickle(self, body, server):
        pieces = 40
        step = max(1, -(-len(body) // pieces))
        pause = min(server.trickle_seconds, MAX_HOLD_SECONDS) / pieces
        for start in range(0, len(body), step):
            self.wfile.write(body[start:start + step])
            self.wfile.flush()
            if server.stopping.wait(pause):
                return


class DownloadServer:
    """Serves `archive` at http://127.0.0.1:<port>/jre/jre.tar.gz until stopped."""

    def __init__(self, archive, behaviour="normal", trickle_seconds=4.0, drop_fraction=0.5, rate=None):
        assert behaviour in BEHAVIOURS, behaviour
        self.archive = archive
        self.behaviour = behaviour
        self.trickle_seconds = trickle_seconds
        self.drop_fraction = drop_fraction
        # Bytes a second of the normal and validated answers; None: as fast as the socket takes.
        self.rate = rate
        self.requests = []
        self.completed = 0
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        self._httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), _Handler)
        self._httpd.daemon_threads = True
        self._httpd.owner = self
        self._thread = threading.Thread(target=self._httpd.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True)

    @property
    def url(self):
        return f"http://127.0.0.1:{self._httpd.server_address[1]}{ARCHIVE_PATH}"

    def start(self):
        self._thread.start()
        return self

    def stop(self):
        self.stopping.set()
        self._httpd.shutdown()
        self._httpd.server_close()
        self._thread.join(timeout=10)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


def wait_for(condition, timeout):
    """Polls until condition() is true; False after timeout seconds."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.1)
    return condition()
