"""Driving ambervox-host for the end-to-end tests: a plug-in folder with the
module and its plugin.ini, the host process and its console, and HTTP.

The build under test is described by the environment that ctest sets
(tests/e2e/CMakeLists.txt): AMBERVOX_PLATFORM (posix or win32),
AMBERVOX_HOST, AMBERVOX_PLUGIN, AMBERVOX_NEIGHBOUR (the second plug-in of
tests/e2e/neighbour/), AMBERVOX_SOURCE_DIR, AMBERVOX_BUILD_DIR, and for a
Windows build AMBERVOX_WINE_ARCH (win32, or win64 for the 64-bit test build).
The Windows build runs under Wine with the Japanese locale (code page 932).
"""

import http.client
import os
import queue
import random
import shutil
import socket
import subprocess
import threading
import time
import urllib.parse

SECTION = "HTTP Request"
# The order in which the plug-in writes its keys (also the order of a new file).
SAVE_ORDER = [
    "WebRoot", "Playlistfile", "AdminPassword", "SkinPlaylistNext", "SkinPlaylistPrev",
    "SkinUserCancel", "bDisabled", "Port", "g_MaxEntries", "g_MaxRequestsPerIP", "g_MaxQueueSize",
    "g_MaxConsecutivePerIP", "g_RecentlyPlayedQueueSize",
]
DEFAULTS = {
    "WebRoot": "c:\\", "Playlistfile": "", "AdminPassword": "", "SkinPlaylistNext": "次へ...&gt;",
    "SkinPlaylistPrev": "&lt;...戻る", "SkinUserCancel": "キャンセル", "bDisabled": "TRUE", "Port": "80",
    "g_MaxEntries": "25", "g_MaxRequestsPerIP": "3", "g_MaxQueueSize": "50", "g_MaxConsecutivePerIP": "0",
    "g_RecentlyPlayedQueueSize": "0",
}
PLUGIN_DESCRIPTION = "Ambervox Plugin TOVA CUSTOM 4.4.0"
# The Wine loader and server for each kind of Windows build, as
# tools/wine-arch.sh chooses them: the wrappers pick the 32-bit loader
# whenever it is installed, so the 64-bit pair is called directly.
WINE_PROGRAMS = {"win32": ("wine", "wineserver"),
                 "win64": ("/usr/lib/wine/wine64", "/usr/lib/wine/wineserver64")}


def choose_wine(env):
    """Sets in `env` the Wine loader (AMBERVOX_WINE), server
    (AMBERVOX_WINESERVER) and WINEARCH for AMBERVOX_WINE_ARCH (default
    win32); returns (loader, server)."""
    arch = env.get("AMBERVOX_WINE_ARCH") or "win32"
    loader, server = WINE_PROGRAMS[arch]
    env.update(AMBERVOX_WINE_ARCH=arch, WINEARCH=arch, AMBERVOX_WINE=loader, AMBERVOX_WINESERVER=server)
    if arch == "win32":
        env.pop("WINELOADER", None)
        env.pop("WINESERVER", None)
    else:
        # Wine starts its helper processes and its server with these.
        env.update(WINELOADER=loader, WINESERVER=server)
    return loader, server


class Build:
    """The build under test, from the environment."""

    def __init__(self):
        missing = [n for n in ("AMBERVOX_PLATFORM", "AMBERVOX_HOST", "AMBERVOX_PLUGIN", "AMBERVOX_SOURCE_DIR")
                   if not os.environ.get(n)]
        if missing:
            raise RuntimeError("run through ctest (tests/e2e/CMakeLists.txt sets %s)" % ", ".join(missing))
        self.platform = os.environ["AMBERVOX_PLATFORM"]
        self.host = os.environ["AMBERVOX_HOST"]
        self.plugin = os.environ["AMBERVOX_PLUGIN"]
        # The plug-in with the limits of a test run (AMBERVOX_TEST_* from the
        # environment): on POSIX the plug-in itself, on Windows a test module.
        self.plugin_with_seams = os.environ.get("AMBERVOX_PLUGIN_SEAMS") or self.plugin
        self.neighbour = os.environ.get("AMBERVOX_NEIGHBOUR")
        self.source = os.environ["AMBERVOX_SOURCE_DIR"]
        self.build_dir = os.environ.get("AMBERVOX_BUILD_DIR", os.path.dirname(os.path.dirname(self.host)))
        self.env = dict(os.environ)
        if self.platform == "win32":
            self._prepare_wine()

    @property
    def is_win32(self):
        return self.platform == "win32"

    @property
    def skin_dir(self):
        return os.path.join(self.source, "skins", "default")

    @property
    def demo_ini(self):
        """The demo's settings (password "demo"), kept outside the skin folder."""
        return os.path.join(self.source, "tools", "demo-plugin.ini")

    def _prepare_wine(self):
        choose_wine(self.env)
        prefix = self.env.get("WINEPREFIX") or os.path.join(self.build_dir, "wineprefix")
        subprocess.run(["bash", os.path.join(self.source, "tools", "wine-prefix.sh"), prefix], check=True,
                       env=self.env)
        self.env["WINEPREFIX"] = prefix
        self.env["LANG"] = "ja_JP.UTF-8"
        for name in ("LC_ALL", "LC_CTYPE", "DISPLAY"):
            self.env.pop(name, None)
        self.env.setdefault("WINEDEBUG", "-all,err+module")
        self.env["WINEDLLOVERRIDES"] = "mscoree,mshtml="

    def host_command(self):
        return [self.env["AMBERVOX_WINE"], self.host] if self.is_win32 else [self.host]

    def folder_setting(self, path):
        """A folder as the plug-in's settings name it on this build."""
        path = os.path.abspath(path)
        return "Z:" + path.replace("/", "\\") if self.is_win32 else path


def ini_bytes(values, comments=()):
    """plugin.ini as code page 932 bytes with CRLF lines; `values` in order."""
    lines = ["; " + c for c in comments] + ["[%s]" % SECTION]
    lines += ["%s=%s" % (k, v) for k, v in values]
    return ("\r\n".join(lines) + "\r\n").encode("cp932")


def read_ini(path):
    """The keys of the section in file order, as (key, value) pairs."""
    with open(path, "rb") as f:
        text = f.read().decode("cp932")
    pairs = []
    inside = False
    for line in text.split("\r\n"):
        if line.startswith("["):
            inside = line == "[%s]" % SECTION
        elif inside and "=" in line and not line.startswith(";"):
            key, value = line.split("=", 1)
            pairs.append((key, value))
    return pairs


# Ports free_port has given out in this process.
_GIVEN_PORTS = set()


def free_port():
    """A port that nothing listens on, for a host to listen on. The host
    binds it a second or so later under Wine, and a port taken meanwhile
    means a start-failure message box that waits for a click. So it comes
    from below the system's ephemeral range, where neither a connect nor
    another program's bind to port 0 (the unit tests' servers, running
    beside this suite) can take it; and never twice, so that no earlier
    host's closing connections linger on it."""
    first = 20000
    last = max(min(_ephemeral_range_start(), 32768) - 1, first + 999)
    for _ in range(1000):
        port = random.randint(first, last)
        if port in _GIVEN_PORTS:
            continue
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
            try:
                s.bind(("0.0.0.0", port))
            except OSError:
                continue
        _GIVEN_PORTS.add(port)
        return port
    raise RuntimeError("no free port between %d and %d" % (first, last))


def _ephemeral_range_start():
    """The lowest port the system picks by itself."""
    try:
        with open("/proc/sys/net/ipv4/ip_local_port_range") as f:
            return int(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        return 32768


def listening(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=2):
            return True
    except OSError:
        return False


def wait_until(condition, timeout=20.0, interval=0.05):
    deadline = time.monotonic() + timeout
    while True:
        if condition():
            return True
        if time.monotonic() > deadline:
            return False
        time.sleep(interval)


class Response:
    def __init__(self, status, headers, body):
        self.status = status
        self.headers = headers  # lower-case names
        self.body = body

    def header(self, name):
        return self.headers.get(name.lower())


def get(port, target, headers=None, timeout=15, source=None):
    """One request; `source` is the loopback address to send it from."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout,
                                            source_address=(source, 0) if source else None)
    try:
        connection.putrequest("GET", target, skip_host=False, skip_accept_encoding=True)
        for name, value in (headers or {}).items():
            connection.putheader(name, value)
        connection.endheaders()
        response = connection.getresponse()
        body = response.read()
        return Response(response.status, {k.lower(): v for k, v in response.getheaders()}, body)
    finally:
        connection.close()


def request(port, cookie, listpos, referer=None, extra=""):
    """A listener's request of entry `listpos`; the redirect's location."""
    headers = {"Cookie": cookie}
    if referer is None:
        referer = "http://127.0.0.1:%d/playlist.cgi" % port
    headers["Referer"] = referer
    response = get(port, "/request.cgi?listpos=%d%s" % (listpos, extra), headers)
    assert response.status == 302
    return response.header("location")


def error_code(location):
    query = urllib.parse.urlparse(location).query
    values = urllib.parse.parse_qs(query)
    return int(values["errorCode"][0]) if "errorCode" in values else 0


def admin(port, action, extra="", password="demo", referer=None):
    """An operator's command; the redirect's location."""
    headers = {"Referer": referer} if referer else {}
    response = get(port, "/admin.cgi?pass=%s&action=%s%s" % (password, action, extra), headers)
    assert response.status == 302
    return response.header("location")


def user_id_cookie(port):
    """A UserID cookie as the server hands it to a new browser."""
    response = get(port, "/admin.cgi")
    cookie = response.header("set-cookie") or ""
    assert cookie.startswith("UserID="), cookie
    return cookie.split(";", 1)[0]


class Install:
    """A plug-in folder: the module, and plugin.ini when the test writes one."""

    def __init__(self, build, root):
        self.build = build
        self.folder = os.path.join(str(root), "plugins")
        os.makedirs(self.folder, exist_ok=True)
        self.module = os.path.join(self.folder, os.path.basename(build.plugin))
        shutil.copy(build.plugin, self.module)
        self.ini = os.path.join(self.folder, "plugin.ini")

    def use_test_seams(self):
        """Puts the module that reads the AMBERVOX_TEST_* limits from the
        environment in the plug-in's place, under the plug-in's name."""
        shutil.copy(self.build.plugin_with_seams, self.module)

    def add_neighbour(self, variant):
        """Copies the neighbour plug-in in as gen_neighbour_<variant> ("keep" or "blind")."""
        base, extension = os.path.splitext(os.path.basename(self.build.neighbour))
        path = os.path.join(self.folder, "%s_%s%s" % (base, variant, extension))
        shutil.copy(self.build.neighbour, path)
        return path

    def write_ini(self, values, comments=()):
        with open(self.ini, "wb") as f:
            f.write(ini_bytes(values, comments))

    def ini_bytes(self):
        with open(self.ini, "rb") as f:
            return f.read()

    def demo_settings(self, port, **changes):
        """The demo's settings serving the default skin on `port`, in their order."""
        values = dict(read_ini(self.build.demo_ini))
        values["WebRoot"] = self.build.folder_setting(self.build.skin_dir)
        values["Port"] = str(port)
        values.update({k: str(v) for k, v in changes.items()})
        return [(k, values[k]) for k in SAVE_ORDER]


class Host:
    """A running ambervox-host and its console."""

    def __init__(self, build, install, playlist=None, manual_clock=True, play=False, cwd=None, others=(),
                 shutdown=None):
        self.build = build
        command = build.host_command() + ["--plugin", install.module]
        for other in others:
            command += ["--plugin", other]
        if shutdown:
            command += ["--shutdown", shutdown]
        if playlist:
            command += ["--playlist", playlist]
        if manual_clock:
            command.append("--manual-clock")
        if play:
            command.append("--play")
        self.stderr_path = os.path.join(os.path.dirname(install.folder), "host-stderr.txt")
        self._stderr = open(self.stderr_path, "wb")
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=self._stderr, env=build.env, cwd=cwd or os.path.dirname(install.folder))
        self._lines = queue.Queue()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        first = self.next_line(60)
        assert first == "ready", "host said %r; stderr: %s" % (first, self.stderr())

    def _read(self):
        for raw in self.process.stdout:
            # The Windows host writes CRLF.
            self._lines.put(raw.decode("utf-8", "replace").rstrip("\r\n"))
        self._lines.put(None)

    def next_line(self, timeout=30):
        try:
            line = self._lines.get(timeout=timeout)
        except queue.Empty:
            raise AssertionError("no line from the host within %s s; stderr: %s\n%s"
                                 % (timeout, self.stderr(), self.stacks()))
        if line is None:
            raise AssertionError("the host ended (%s); stderr: %s" % (self.process.poll(), self.stderr()))
        return line

    def stacks(self):
        """Where the host's threads stand, for the message of a test that
        found it hung (gdb's view: under Wine, the Unix side of each thread)."""
        if self.process.poll() is not None or not shutil.which("gdb"):
            return "(no stacks: the host has ended, or there is no gdb)"
        try:
            out = subprocess.run(["gdb", "-p", str(self.process.pid), "-batch", "-ex", "thread apply all bt 25"],
                                 stdin=subprocess.DEVNULL, capture_output=True, timeout=60).stdout
        except (OSError, subprocess.TimeoutExpired) as e:
            return "(no stacks: %s)" % e
        lines = [line for line in out.decode("utf-8", "replace").splitlines() if line.startswith(("Thread", "#"))]
        return "\n".join(lines[:400])

    def stderr(self):
        if not self._stderr.closed:
            self._stderr.flush()
        with open(self.stderr_path, "rb") as f:
            return f.read()

    def command(self, line, timeout=30):
        self.process.stdin.write((line + "\n").encode("utf-8"))
        self.process.stdin.flush()
        answer = self.next_line(timeout)
        assert answer.startswith("ok") or answer.startswith("error"), answer
        return answer

    def ok(self, line):
        answer = self.command(line)
        assert answer == "ok" or answer.startswith("ok "), "%s -> %s" % (line, answer)
        return answer

    def status(self):
        words = self.ok("status").split()[1:]
        values = dict(zip(words[0::2], words[1::2]))
        return {"position": int(values["position"]), "state": values["state"],
                "elapsed_ms": int(values["elapsed-ms"]), "length_s": int(values["length-s"])}

    def commands(self):
        return self.ok("commands").split()[1:]

    def song_end(self):
        return int(self.ok("song-end").split()[2])

    def quit(self):
        self.ok("quit")
        return self.wait()

    def wait(self, timeout=60):
        code = self.process.wait(timeout)
        self._stderr.close()
        return code

    def close(self):
        if self.process.poll() is None:
            try:
                self.process.stdin.close()
                self.process.wait(30)
            except (OSError, subprocess.TimeoutExpired):
                self.process.kill()
                self.process.wait()
        if not self._stderr.closed:
            self._stderr.close()


def write_playlist(path, entries, utf8=True):
    """An .m3u8 (UTF-8) or .m3u (code page 932) file of (seconds, title, file) rows."""
    lines = ["#EXTM3U"] + ["#EXTINF:%d,%s\r\n%s" % e for e in entries]
    with open(path, "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode("utf-8" if utf8 else "cp932"))
    return path
