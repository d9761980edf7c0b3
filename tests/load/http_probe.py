"""A small HTTP/1.1 client for the load tests: one request per connection
(as the server answers), raw sockets so that thousands of requests from
hundreds of threads stay cheap, and strict checks of what comes back (a
complete head, a body as long as Content-Length says, a gzip body that
decodes). Every address is 127.0.0.1.
"""

import gzip
import re
import socket
import time
import uuid
import zlib

LOOPBACK = "127.0.0.1"


class ProbeError(Exception):
    """A response that is missing, cut short or malformed."""


class Reply:
    def __init__(self, status, headers, body, seconds):
        self.status = status
        self.headers = headers  # lower-case names
        self.body = body        # decoded when it came compressed
        self.seconds = seconds  # from connect to the end of the response

    def header(self, name):
        return self.headers.get(name.lower(), "")

    def error_code(self):
        """The errorCode a redirect carries, or None."""
        found = re.search(r"[?&]errorCode=(-?\d+)", self.header("location"))
        return int(found.group(1)) if found else None


def new_user_id():
    """A UserID cookie value in the server's text form."""
    return str(uuid.uuid4()).upper()


def request_bytes(port, target, cookie=None, referer=None, gzip_ok=True, extra=()):
    lines = ["GET %s HTTP/1.1" % target, "Host: %s:%d" % (LOOPBACK, port), "User-Agent: ambervox-load"]
    if gzip_ok:
        lines.append("Accept-Encoding: gzip")
    if cookie:
        lines.append("Cookie: UserID=%s" % cookie)
    if referer:
        lines.append("Referer: %s" % referer)
    lines += list(extra)
    return ("\r\n".join(lines) + "\r\n\r\n").encode("ascii")


def connect(port, timeout):
    return socket.create_connection((LOOPBACK, port), timeout=timeout)


def fetch(port, target, cookie=None, referer=None, gzip_ok=True, timeout=60.0):
    """One request; the whole response, checked. Raises ProbeError or OSError."""
    started = time.monotonic()
    sock = connect(port, timeout)
    try:
        sock.sendall(request_bytes(port, target, cookie, referer, gzip_ok))
        chunks = []
        while True:
            chunk = sock.recv(65536)
            if not chunk:
                break
            chunks.append(chunk)
            if time.monotonic() - started > timeout:
                raise ProbeError("response not finished after %.0f s" % timeout)
    finally:
        sock.close()
    return parse_response(b"".join(chunks), time.monotonic() - started)


def parse_response(data, seconds):
    head, separator, body = data.partition(b"\r\n\r\n")
    if not separator:
        raise ProbeError("no complete head (%d bytes received)" % len(data))
    lines = head.split(b"\r\n")
    status_line = lines[0].decode("latin-1")
    found = re.match(r"HTTP/1\.[01] (\d{3}) ", status_line)
    if not found:
        raise ProbeError("bad status line %r" % status_line)
    headers = {}
    for line in lines[1:]:
        name, colon, value = line.decode("latin-1").partition(":")
        if colon:
            headers.setdefault(name.strip().lower(), value.strip())
    length = headers.get("content-length")
    if length is not None and int(length) != len(body):
        raise ProbeError("body of %d bytes, Content-Length %s" % (len(body), length))
    encoding = headers.get("content-encoding", "")
    try:
        if encoding == "gzip":
            body = gzip.decompress(body)
        elif encoding == "deflate":
            body = zlib.decompress(body, -15)
    except (OSError, EOFError, zlib.error) as error:
        raise ProbeError("%s body does not decode: %s" % (encoding, error))
    return Reply(int(found.group(1)), headers, body, seconds)


def html_escape(text):
    """The server's escaping of a title (five bytes, in one pass)."""
    return (text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
            .replace("'", "&#39;").replace('"', "&quot;"))


ROW_PATTERN = re.compile(rb'<li class="song"><span class="song-no">(\d+)</span><span class="song-title">(.*?)</span>')
CANCEL_PATTERN = re.compile(rb'request\.cgi\?action=delete&listpos=(\d+)')
ADMIN_QUEUE_PATTERN = re.compile(rb'<font size="-1">[^<]* / ([0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12})</font>')


def page_rows(body):
    """(index, title bytes) of every playlist row of a rendered page."""
    return [(int(i), t) for i, t in ROW_PATTERN.findall(body)]


def percentile(values, fraction):
    if not values:
        return 0.0
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]
