"""What the load and fault scenarios (load_test.py) share: the generated
playlist and what its pages must show, the tally of checks and responses,
the host's console, its thread count and memory from /proc, clients run in
parallel, the ledger of accepted requests, and idle connections."""

import os
import random
import selectors
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
sys.path.insert(0, HERE)

import ambervox_host as ah  # noqa: E402
import http_probe as hp  # noqa: E402

PLAYLIST_SIZE = 10000
PAGE_SIZE = 25
PASSWORD = "load-pass"
HEAD_TIMEOUT_S = 30  # the server's limit for a complete request head
# How much the host's resident memory may exceed its value after the
# warm-up once all the load has ended. The scenarios make about 30,000
# requests: a leak of 300 bytes a request would show. Runs have ended
# between +1.8 and +5.7 MiB with no leak (the ASan runs report none): after
# 500 concurrent threads the heap keeps some freed memory, so the bound
# leaves room for that.
RSS_GROWTH_LIMIT_KIB = 8 * 1024
# How much more resident memory the last of identical load phases (4,000
# requests each) may leave than the one before: a leak of 256 bytes a
# request would exceed it. Runs without a leak grew by 0 to 420 KiB from
# the first phase to the second; the first phase is now left unjudged.
PHASE_GROWTH_LIMIT_KIB = 1024

ARTISTS = ["Ivory Tramline", "千夜一夜ラジオ", "Nova Thistle", "みなも", "Lumen Drive", "深海タイプライター",
           "Pale Ferris", "夏目坂シグナル", "Rock & Roll Unit", "Quiet <Hours>", "ソフトウェア表示", "O'Brien Trio"]
WORDS = ["Secret Signal", "Little Garden", "水面のワルツ", "Afterglow Engine", "Late Afternoon", "Harbour Lights",
         "Restless Radio", "優しいプラネタリウム", "\"Quoted\" Song", "Night Bus"]
# ASCII search words (the server's case folding and Python's agree on them).
SEARCH_WORDS = ["#0012", "garden", "IVORY", "signal", "#09", "rock & roll", "night bus #00", "o'brien"]


def title_of(index, version=1):
    artist = ARTISTS[index % len(ARTISTS)]
    word = WORDS[(index // len(ARTISTS)) % len(WORDS)]
    return "%s - %s #%05d%s" % (artist, word, index, " (v2)" if version == 2 else "")


def write_playlist(path, version):
    entries = [(180 + index % 120, title_of(index, version), "C:\\Music\\%05d.mp3" % index)
               for index in range(PLAYLIST_SIZE)]
    return ah.write_playlist(path, entries)


def row_title_bytes(index, version=1):
    return hp.html_escape(title_of(index, version)).encode("cp932")


_search_matches = {}


def expected_search_rows(word):
    """The rows of the first page of a search for `word`."""
    if word not in _search_matches:
        lower = word.lower()
        _search_matches[word] = [i for i in range(PLAYLIST_SIZE) if lower in title_of(i).lower()][:PAGE_SIZE]
    return _search_matches[word]


# ---------------------------------------------------------------------------
# Bookkeeping


class Checks:
    """The outcome of every check; one line each as it is made."""

    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, name, ok, detail=""):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
        print("%s %s%s" % ("PASS" if ok else "FAIL", name, (": " + detail) if detail else ""), flush=True)
        return ok


class Tally:
    """Counts and the first few messages of failures, from many threads."""

    def __init__(self):
        self.lock = threading.Lock()
        self.ok = 0
        self.failures = 0
        self.messages = []
        self.latencies = []

    def success(self, seconds):
        with self.lock:
            self.ok += 1
            self.latencies.append(seconds)

    def failure(self, message):
        with self.lock:
            self.failures += 1
            if len(self.messages) < 8:
                self.messages.append(message)

    def summary(self):
        with self.lock:
            return "%d ok, %d failed, latency p50 %.0f ms p99 %.0f ms max %.0f ms%s" % (
                self.ok, self.failures, 1000 * hp.percentile(self.latencies, 0.5),
                1000 * hp.percentile(self.latencies, 0.99), 1000 * max(self.latencies or [0]),
                ("; first: " + " | ".join(self.messages)) if self.messages else "")


class Console:
    """The host's console, shared by the scenario and the player thread."""

    def __init__(self, host):
        self.host = host
        self.lock = threading.Lock()

    def command(self, line, timeout=60):
        with self.lock:
            return self.host.command(line, timeout)


def process_status(pid):
    values = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            name, _, value = line.partition(":")
            values[name] = value.strip()
    return int(values["Threads"]), int(values["VmRSS"].split()[0])


def run_clients(count, body, stagger=0.0):
    """Runs body(k) in `count` threads that start together; joins them."""
    barrier = threading.Barrier(count)

    def main(k):
        try:
            barrier.wait(timeout=60)
        except threading.BrokenBarrierError:
            pass
        if stagger:
            time.sleep(random.random() * stagger)
        body(k)

    threads = [threading.Thread(target=main, args=(k,), daemon=True) for k in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()


# ---------------------------------------------------------------------------
# The page checks shared by the scenarios


def check_playlist_page(reply, current, versions=(1,)):
    """None when `reply` is the playlist page starting at `current`."""
    if reply.status != 200:
        return "status %d" % reply.status
    if not reply.body.endswith(b"</html>\r\n\x00") and not reply.body.endswith(b"</html>\n\x00"):
        return "page does not end with </html> and its zero byte"
    rows = hp.page_rows(reply.body)
    want = list(range(current, min(current + PAGE_SIZE, PLAYLIST_SIZE)))
    if [i for i, _ in rows] != want:
        return "rows %s..., expected %d..%d" % ([i for i, _ in rows][:3], want[0], want[-1])
    for index, shown in rows:
        if not any(shown == row_title_bytes(index, v) for v in versions):
            return "row %d shows %r" % (index, shown[:60])
    return None


def check_search_page(reply, word):
    if reply.status != 200:
        return "status %d" % reply.status
    got = [i for i, _ in hp.page_rows(reply.body)]
    want = expected_search_rows(word)
    if got != want:
        return "search %r gave rows %s, expected %s" % (word, got[:5], want[:5])
    return None


def browse_once(port, tally, rng, versions=(1,)):
    current = rng.randrange(0, PLAYLIST_SIZE // PAGE_SIZE) * PAGE_SIZE
    try:
        reply = hp.fetch(port, "/playlist.cgi?current=%d" % current)
        problem = check_playlist_page(reply, current, versions)
    except (OSError, hp.ProbeError) as error:
        problem = "%s: %s" % (type(error).__name__, error)
        reply = None
    if problem:
        tally.failure("current=%d: %s" % (current, problem))
    else:
        tally.success(reply.seconds)


def settled_status(pid, limit_s=5.0):
    """Threads and resident memory once the thread count has stayed put for
    half a second."""
    deadline = time.monotonic() + limit_s
    last = process_status(pid)
    steady_since = time.monotonic()
    while time.monotonic() < deadline and time.monotonic() - steady_since < 0.5:
        time.sleep(0.05)
        now = process_status(pid)
        if now[0] != last[0]:
            steady_since = time.monotonic()
        last = now
    return last


def drained(checks, name, host, idle_threads, port, limit_s=20.0):
    """The connection set is empty again: threads back to idle, a prompt answer."""
    deadline = time.monotonic() + limit_s
    threads = None
    started = time.monotonic()
    while time.monotonic() < deadline:
        threads, _ = process_status(host.process.pid)
        if threads <= idle_threads:
            break
        time.sleep(0.1)
    _, rss = process_status(host.process.pid)
    print("     %s: %.1f s to drain, %d KiB resident" % (name, time.monotonic() - started, rss), flush=True)
    checks.check("%s: host threads back to the idle count" % name, threads is not None and threads <= idle_threads,
                 "%s threads, idle %d" % (threads, idle_threads))
    started = time.monotonic()
    try:
        reply = hp.fetch(port, "/playlist.cgi?current=0", timeout=10)
        problem = check_playlist_page(reply, 0, (1, 2))
    except (OSError, hp.ProbeError) as error:
        problem = str(error)
    seconds = time.monotonic() - started
    checks.check("%s: server answers promptly afterwards" % name, problem is None and seconds < 2.0,
                 problem or "%.0f ms" % (1000 * seconds))


# ---------------------------------------------------------------------------
# Scenarios


class Requests:
    """Every song request made in the mixed scenario and what became of it.

    Each request is made by its own browser (a fresh UserID), so the cancel
    link on a page and the answer to a cancellation name that one request.
    Every playlist index is requested at most once, so a play reported by the
    player (set-position:<i>) names one request too.
    """

    def __init__(self, budget):
        self.lock = threading.Lock()
        self.next_index = 0
        self.budget = budget
        self.accepted = {}      # index -> user id
        self.cancelled = set()  # indexes
        self.refused = 0

    def take_index(self):
        with self.lock:
            if self.next_index >= self.budget:
                return None
            self.next_index += 1
            return self.next_index - 1

    def waiting_estimate(self, played):
        with self.lock:
            return len(self.accepted) - len(self.cancelled) - played


class IdleConnections:
    """Connections that send part of a request head and then nothing more
    (or, for every second one, one more byte every few seconds), watched on
    a thread of their own until the server closes them."""

    DRIP_EVERY_S = 5.0

    def __init__(self, port, count):
        self.selector = selectors.DefaultSelector()
        self.closed_after = []
        self.answered = 0
        self.count = count
        for k in range(count):
            sock = hp.connect(port, 30)
            sock.sendall(b"GET /playlist.cgi HTTP/1.1\r\nHost: 127.0.0.1\r\n")
            sock.setblocking(False)
            self.selector.register(sock, selectors.EVENT_READ, (time.monotonic(), k % 2 == 1))
        self.watcher = threading.Thread(target=self._watch, daemon=True)
        self.watcher.start()

    def _watch(self):
        last_drip = time.monotonic()
        limit = time.monotonic() + HEAD_TIMEOUT_S + 20
        while self.selector.get_map() and time.monotonic() < limit:
            if time.monotonic() - last_drip > self.DRIP_EVERY_S:
                for key in list(self.selector.get_map().values()):
                    if key.data[1]:
                        try:
                            key.fileobj.send(b"X")
                        except OSError:
                            pass
                last_drip = time.monotonic()
            for key, _ in self.selector.select(timeout=0.25):
                try:
                    data = key.fileobj.recv(4096)
                except OSError:
                    data = b""
                if data:
                    self.answered += 1
                self.closed_after.append(time.monotonic() - key.data[0])
                self.selector.unregister(key.fileobj)
                key.fileobj.close()

    def wait(self):
        """Waits for the watcher; closes what the server left open."""
        self.watcher.join(HEAD_TIMEOUT_S + 30)
        still_open = len(self.selector.get_map())
        for key in list(self.selector.get_map().values()):
            key.fileobj.close()
        return still_open
