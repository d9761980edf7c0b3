"""The settings dialog of the Windows build, driven as a user drives it: the
host's `config` command opens the property sheet, and win32-sheet-driver (a
second Windows program under the same Wine server) finds it by its caption,
switches pages, types into the controls and presses the buttons. What the
test checks is where the effects end up: plugin.ini, the HTTP server, the
request queue, and the captions as the ANSI functions read them back.

The driving tests run with the prefix's null display driver. The screenshot
test runs the host on an X server of its own (Xvfb) with a second prefix
that draws, and saves one PNG per page under <build>/screenshots/."""

import copy
import os
import queue
import shutil
import socket
import subprocess
import threading
import time
import urllib.parse

import pytest

from ambervox_host import (PLUGIN_DESCRIPTION, SAVE_ORDER, get, free_port, listening, read_ini, user_id_cookie,
                           wait_until, write_playlist)

pytestmark = pytest.mark.skipif(os.environ.get("AMBERVOX_PLATFORM") != "win32",
                                reason="the property sheet is the Windows build's; POSIX config reloads plugin.ini")

# Every control of the four pages in z-order: (id, class, caption); None for
# the edits, whose captions are their contents.
PAGES = [
    [(1026, "Button", "Plug-inを無効にする"), (-1, "Button", "HTTPサーバー設定"),
     (-1, "Static", "ドキュメントルートフォルダ(&D)"), (1063, "Edit", None), (1088, "Button", "..."),
     (-1, "Static", "ポート番号(&P)"), (1064, "Edit", None), (-1, "Static", "管理者パスワード(&A)"),
     (1007, "Edit", None)],
    [(-1, "Button", "表示基本設定"), (-1, "Static", "スキンファイル(&S)"), (1065, "Edit", None),
     (1089, "Button", "..."), (-1, "Static", "検索結果表示数(&C)"), (1083, "Edit", None),
     (-1, "Static", "※スキンファイルはドキュメントルートフォルダ内に置いて、ファイル名だけ指定します。"),
     (-1, "Button", "表示文字設定"), (-1, "Static", "検索戻る"), (1094, "Edit", None),
     (-1, "Static", "検索次へ"), (1095, "Edit", None), (-1, "Static", "リクエストキャンセル"), (1096, "Edit", None),
     (-1, "Static", "※タグは使用可です。")],
    [(-1, "Button", "リクエスト設定"), (-1, "Static", "リクエストキューサイズ(&R)"), (1084, "Edit", None),
     (-1, "Static", "同一曲繰り返しリクエスト間隔制限(&F)"), (1085, "Edit", None),
     (-1, "Static", "同一ユーザーからのリクエスト受付最大数(&G)"), (1079, "Edit", None),
     (-1, "Static", "同一ユーザーの同一曲繰り返しリクエスト間隔制限(&H)"), (1080, "Edit", None)],
    [(-1, "Button", "コントロールパネル"), (1092, "Button", "プレイリスト再読み込み"),
     (1093, "Button", "リクエストクリア"), (-1, "Button", "おまけ機能"), (1091, "Button", "VelmaroV3復帰")],
]
TAB_TITLES = ["HTTPサーバー設定", "表示設定", "リクエスト設定", "コントロール"]
DIGITS_ONLY = {1064, 1083, 1084, 1085, 1079, 1080}
ES_PASSWORD, ES_NUMBER = 0x20, 0x2000
BS_TYPE, BS_AUTOCHECKBOX, BS_GROUPBOX = 0xF, 3, 7
START_FAILURE = "サーバーの起動に失敗しました"


def cp932(text):
    return text.encode("cp932")


class Driver:
    """win32-sheet-driver and its console: one answer line per command."""

    def __init__(self, env):
        path = os.environ.get("AMBERVOX_SHEET_DRIVER")
        assert path, "AMBERVOX_SHEET_DRIVER is not set (tests/e2e/CMakeLists.txt)"
        self.process = subprocess.Popen([env["AMBERVOX_WINE"], path], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, env=env)
        self._lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.process.stdout:
            self._lines.put(raw.decode("ascii", "replace").rstrip("\r\n"))
        self._lines.put(None)

    def raw(self, line, timeout=60):
        self.process.stdin.write((line + "\n").encode("ascii"))
        self.process.stdin.flush()
        try:
            answer = self._lines.get(timeout=timeout)
        except queue.Empty:
            raise AssertionError("the driver did not answer %r within %s s" % (line, timeout))
        assert answer is not None, "the driver ended"
        return answer

    def __call__(self, line, timeout=60):
        answer = self.raw(line, timeout)
        assert answer == "ok" or answer.startswith("ok "), "%s -> %s" % (line, answer)
        return answer[3:]

    def controls(self, answer):
        """(id, class, style, caption bytes) of a dump."""
        result = []
        for item in answer.split():
            ident, cls, style, text = item.split(":")
            result.append((int(ident), cls, int(style, 16), bytes.fromhex(text)))
        return result

    def close(self):
        try:
            self.process.stdin.write(b"quit\n")
            self.process.stdin.close()
            self.process.wait(30)
        except (OSError, subprocess.TimeoutExpired):
            self.process.kill()
            self.process.wait()


class Sheet:
    """One run of the config entry: opened on creation, driven, then closed
    with ok() or cancel() and finished when the host has answered."""

    def __init__(self, host, driver):
        self.host = host
        self.driver = driver
        host.process.stdin.write(b"config\n")
        host.process.stdin.flush()
        driver("wait-sheet 30000")

    def select(self, page):
        self.driver("select %d" % page)

    def text(self, page, control):
        return bytes.fromhex(self.driver("text %d %d" % (page, control)))

    def set_text(self, page, control, text):
        data = text if isinstance(text, bytes) else cp932(text)
        self.driver("set-text %d %d %s" % (page, control, data.hex()))

    def checked(self, page, control):
        return self.driver("checked %d %d" % (page, control)) == "1"

    def check(self, page, control, on):
        self.driver("check %d %d %d" % (page, control, 1 if on else 0))

    def enabled(self, page, control):
        return self.driver("enabled %d %d" % (page, control)) == "1"

    def click(self, page, control):
        """The button's state right after its click has been handled."""
        return self.driver("click %d %d" % (page, control))

    def controls(self, page):
        return self.driver.controls(self.driver("dump %d" % page))

    def ok(self):
        self.driver("press ok")

    def cancel(self):
        self.driver("press cancel")

    def finish(self):
        answer = self.host.next_line(60)
        assert answer == "ok", answer

    def close_with(self, button):
        getattr(self, button)()
        self.finish()


@pytest.fixture(scope="session")
def driver(build):
    if not build.is_win32:
        pytest.skip("Windows only")
    d = Driver(build.env)
    yield d
    d.close()


@pytest.fixture(autouse=True)
def no_dialog_left_open(driver, start_host):
    """A failed test may leave a message box or the sheet open; close them so
    that the host can quit."""
    yield
    if driver.raw("wait-box 0").startswith("ok"):
        driver.raw("box-ok")
    if driver.raw("wait-sheet 0") == "ok":
        if driver.raw("wait-dialog 0").startswith("ok"):
            driver.raw("dialog-command 2")
        driver.raw("press cancel")


def unchanged(install):
    """plugin.ini's bytes and write time, to compare with later."""
    return install.ini_bytes(), os.stat(install.ini).st_mtime_ns


def error_code(location):
    values = urllib.parse.parse_qs(urllib.parse.urlparse(location).query)
    return int(values["errorCode"][0]) if "errorCode" in values else 0


def request(port, cookie, listpos):
    response = get(port, "/request.cgi?listpos=%d" % listpos,
                   {"Cookie": cookie, "Referer": "http://127.0.0.1:%d/playlist.cgi" % port})
    assert response.status == 302
    return error_code(response.header("location"))


def other_port(*taken):
    port = free_port()
    while port in taken:
        port = free_port()
    return port


def test_the_four_pages_show_every_control_and_caption_in_code_page_932_filled_from_memory(
        build, install, start_host, driver):
    port = free_port()
    settings = install.demo_settings(port, AdminPassword="秘密の合言葉", g_MaxEntries=7, g_MaxQueueSize=41,
                                     g_RecentlyPlayedQueueSize=42, g_MaxRequestsPerIP=43, g_MaxConsecutivePerIP=44)
    install.write_ini(settings)
    values = dict(settings)
    host = start_host()
    before = unchanged(install)

    sheet = Sheet(host, driver)
    assert bytes.fromhex(driver("caption")) == cp932(PLUGIN_DESCRIPTION)
    assert [bytes.fromhex(t) for t in driver("tabs").split()] == [cp932(t) for t in TAB_TITLES]
    assert [int(b.split(":")[0]) for b in driver("buttons").split()] == [1, 2], "OK and Cancel only"
    assert driver("current") == "0"
    # Pages are made when first shown.
    assert driver.raw("dump 1").startswith("error no page")

    for page, expected in enumerate(PAGES):
        sheet.select(page)
        assert driver("current") == str(page)
        controls = sheet.controls(page)
        assert [(c[0], c[1]) for c in controls] == [(e[0], e[1]) for e in expected]
        for (ident, cls, style, caption), (_, _, text) in zip(controls, expected):
            if text is not None:
                assert caption == cp932(text), (page, ident, caption.decode("cp932", "replace"))
            if cls == "Edit":
                assert bool(style & ES_NUMBER) == (ident in DIGITS_ONLY), ident
                assert not style & ES_PASSWORD, "edit %d hides its text" % ident
        kinds = [c[2] & BS_TYPE for c in controls if c[1] == "Button" and c[0] == -1]
        assert kinds and set(kinds) == {BS_GROUPBOX}
    assert sheet.controls(0)[0][2] & BS_TYPE == BS_AUTOCHECKBOX

    assert not sheet.checked(0, 1026)
    assert sheet.text(0, 1063) == cp932(values["WebRoot"])
    assert sheet.text(0, 1064) == str(port).encode()
    assert sheet.text(0, 1007) == cp932("秘密の合言葉")
    assert sheet.text(1, 1065) == b"playlist.html"
    assert sheet.text(1, 1083) == b"7"
    assert sheet.text(1, 1094) == cp932(values["SkinPlaylistPrev"])
    assert sheet.text(1, 1095) == cp932(values["SkinPlaylistNext"])
    assert sheet.text(1, 1096) == cp932(values["SkinUserCancel"])
    assert [sheet.text(2, c) for c in (1084, 1085, 1079, 1080)] == [b"41", b"42", b"43", b"44"]
    sheet.close_with("cancel")
    assert unchanged(install) == before
    assert host.quit() == 0


def test_cancel_on_any_page_writes_nothing_and_leaves_the_server_alone(install, start_host, driver):
    port = free_port()
    settings = install.demo_settings(port)
    install.write_ini(settings)
    host = start_host()
    cookie = user_id_cookie(port)
    assert request(port, cookie, 4) == 1
    before = unchanged(install)
    elsewhere = other_port(port)

    edits = {0: [(1064, str(elsewhere)), (1007, "changed")], 1: [(1083, "3"), (1095, "next")],
             2: [(1084, "1"), (1079, "9")], 3: []}
    for page, close in ((0, "cancel"), (1, "cancel"), (2, "escape"), (3, "cancel")):
        sheet = Sheet(host, driver)
        for shown in range(page + 1):
            sheet.select(shown)
        sheet.check(0, 1026, True)
        for control, text in edits[page]:
            sheet.set_text(page, control, text)
        if close == "escape":
            driver("escape")
        else:
            sheet.cancel()
        sheet.finish()
        assert unchanged(install) == before, "canceled on page %d" % (page + 1)
        assert get(port, "/style.css").status == 200
        assert not listening(elsewhere)

    assert request(port, cookie, 4) == 6, "still queued: the same server and queue"
    assert host.quit() == 0
    assert read_ini(install.ini) == settings, "nothing changed in memory either"


def test_ok_after_changing_the_port_restarts_the_server_on_it(install, start_host, driver):
    first = free_port()
    second = other_port(first)
    settings = install.demo_settings(first)
    install.write_ini(settings)
    host = start_host()
    assert get(first, "/style.css").status == 200

    sheet = Sheet(host, driver)
    sheet.set_text(0, 1064, str(second))
    sheet.close_with("ok")
    assert get(second, "/style.css").status == 200
    assert not listening(first)
    assert dict(read_ini(install.ini))["Port"] == str(second)
    assert host.quit() == 0


def test_ok_after_enabling_on_the_first_page_starts_the_server(install, start_host, driver):
    port = free_port()
    install.write_ini(install.demo_settings(port, bDisabled="TRUE"))
    host = start_host()
    assert not listening(port)

    sheet = Sheet(host, driver)
    assert sheet.checked(0, 1026)
    sheet.check(0, 1026, False)
    sheet.close_with("ok")
    assert get(port, "/style.css").status == 200
    assert dict(read_ini(install.ini))["bDisabled"] == "FALSE"

    sheet = Sheet(host, driver)
    sheet.check(0, 1026, True)
    sheet.close_with("ok")
    assert not listening(port)
    assert dict(read_ini(install.ini))["bDisabled"] == "TRUE"
    assert host.quit() == 0


def test_ok_stores_only_the_pages_that_were_shown(install, start_host, driver):
    port = free_port()
    settings = install.demo_settings(port, Playlistfile="playlist.html", SkinPlaylistNext="つぎ&gt;",
                                     SkinPlaylistPrev="&lt;まえ", SkinUserCancel="とりけし", g_MaxEntries=7,
                                     g_MaxQueueSize=9, g_MaxRequestsPerIP=2, g_MaxConsecutivePerIP=1,
                                     g_RecentlyPlayedQueueSize=4)
    install.write_ini(settings)
    host = start_host()

    # Only the first page: the other pages' settings keep their values.
    sheet = Sheet(host, driver)
    sheet.set_text(0, 1007, "新しい合言葉")
    sheet.close_with("ok")
    expected = [(k, "新しい合言葉" if k == "AdminPassword" else v) for k, v in settings]
    assert read_ini(install.ini) == expected
    assert get(port, "/style.css").status == 200, "same port, still enabled: the server stays"

    # The request page as well: its four edits become the queue's limits at once.
    sheet = Sheet(host, driver)
    sheet.select(2)
    sheet.set_text(2, 1084, "1")
    sheet.set_text(2, 1079, "0")
    sheet.close_with("ok")
    saved = dict(read_ini(install.ini))
    assert (saved["g_MaxQueueSize"], saved["g_MaxRequestsPerIP"]) == ("1", "0")
    assert (saved["g_MaxConsecutivePerIP"], saved["g_RecentlyPlayedQueueSize"]) == ("1", "4")
    assert saved["g_MaxEntries"] == "7" and saved["SkinUserCancel"] == "とりけし"
    alice, bob = user_id_cookie(port), user_id_cookie(port)
    assert request(port, alice, 1) == 1
    assert request(port, bob, 2) == 9, "a queue of one is full"
    assert host.quit() == 0


def test_the_reload_button_is_disabled_until_its_refresh_has_completed(tmp_path, install, start_host, driver):
    port = free_port()
    install.write_ini(install.demo_settings(port))
    host = start_host()
    # A long playlist, so that the refresh outlasts the look at the button.
    longer = write_playlist(os.path.join(str(tmp_path), "longer.m3u8"),
                            [(100, "Reloaded %04d - Song" % i, "C:\\Music\\r%04d.mp3" % i) for i in range(3000)])
    assert host.ok("load " + longer) == "ok 3000 entries"
    # The list follows the player's playlist by itself; while that refresh
    # still runs, a click on the button starts nothing and it stays enabled.
    assert wait_until(lambda: b"Reloaded 0000" in get(port, "/playlist.cgi").body, timeout=60)
    before = unchanged(install)

    sheet = Sheet(host, driver)
    sheet.select(3)
    assert sheet.enabled(3, 1092)
    assert wait_until(lambda: sheet.click(3, 1092) == "disabled", timeout=30)
    assert wait_until(lambda: sheet.enabled(3, 1092), timeout=60), "enabled again when the refresh has completed"
    assert b"Reloaded 0000" in get(port, "/playlist.cgi").body, "the cache holds the new playlist"
    sheet.close_with("cancel")
    assert unchanged(install) == before, "the reload is not a setting"

    sheet = Sheet(host, driver)
    sheet.select(3)
    assert sheet.enabled(3, 1092)
    assert sheet.click(3, 1092) == "disabled", "a new refresh may start"
    assert wait_until(lambda: sheet.enabled(3, 1092), timeout=60)
    sheet.close_with("cancel")
    assert host.quit() == 0


def test_clearing_the_requests_empties_queue_and_history_at_once_even_when_canceled(install, start_host, driver):
    port = free_port()
    install.write_ini(install.demo_settings(port, g_RecentlyPlayedQueueSize=10))
    host = start_host()
    alice, bob = user_id_cookie(port), user_id_cookie(port)
    assert request(port, alice, 3) == 1
    assert host.song_end() == 3
    assert request(port, bob, 5) == 1
    assert request(port, bob, 5) == 6, "queued already"
    assert request(port, alice, 3) == 7, "played recently"
    before = unchanged(install)

    sheet = Sheet(host, driver)
    sheet.select(3)
    sheet.click(3, 1093)
    # While the sheet is still open.
    assert request(port, bob, 5) == 1, "the queue is empty"
    assert request(port, alice, 3) == 1, "and so is the history"
    sheet.close_with("cancel")
    assert unchanged(install) == before
    assert host.song_end() == 5
    assert host.song_end() == 3
    assert host.quit() == 0


def test_a_busy_port_shows_the_start_failure_message_box_and_the_next_ok_tries_again(
        install, start_host, driver):
    first = free_port()
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as taken:
        taken.bind(("0.0.0.0", 0))
        taken.listen(1)
        busy = taken.getsockname()[1]
        install.write_ini(install.demo_settings(first))
        host = start_host()
        assert listening(first)

        sheet = Sheet(host, driver)
        sheet.set_text(0, 1064, str(busy))
        sheet.ok()
        box = driver.controls(driver("wait-box 30000"))
        assert cp932(START_FAILURE) in [c[3] for c in box], box
        driver("box-ok")
        sheet.finish()
        assert not listening(first), "stopped for the new port"
        assert dict(read_ini(install.ini))["Port"] == str(busy), "saved before the start"

    # The port is free now: the next OK starts the server.
    sheet = Sheet(host, driver)
    sheet.close_with("ok")
    assert get(busy, "/style.css").status == 200
    assert host.quit() == 0


def folder_name(build, path):
    return cp932(build.folder_setting(path))


@pytest.fixture
def c_drive_folder(build, tmp_path):
    """A new folder on the prefix's drive C: (away from the churn of /tmp),
    removed afterwards: (its path here, its path under Wine)."""
    name = os.path.basename(str(tmp_path))
    folder = os.path.join(build.env["WINEPREFIX"], "drive_c", "ambervox-e2e", name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    yield folder, "C:\\ambervox-e2e\\" + name
    shutil.rmtree(folder, ignore_errors=True)


def read_folders_up_to_the_root(path):
    """Wine's folder browser matches the folder it is to select against the
    folders it lists, access times included. On a file system mounted with
    relatime the first listing of a folder after a change updates its access
    time, and the first browse of a new folder then selects nothing. Listing
    the folders once beforehand takes that change out of the way."""
    while True:
        os.listdir(path)
        parent = os.path.dirname(path)
        if parent == path:
            return
        path = parent


def test_the_folder_browser_starts_on_the_folder_typed_and_shows_the_selection(
        c_drive_folder, install, start_host, driver):
    here, there = c_drive_folder
    os.makedirs(os.path.join(here, "webroot", "サブ"))
    read_folders_up_to_the_root(os.path.join(here, "webroot", "サブ"))
    typed = cp932(there + "\\webroot\\サブ")
    install.write_ini(install.demo_settings(free_port()))
    host = start_host()
    before = unchanged(install)

    sheet = Sheet(host, driver)
    sheet.set_text(0, 1063, typed)  # typed, not confirmed
    driver("post-click 0 1088")
    browser = driver("wait-dialog 30000").split()
    texts = [c[3] for c in driver.controls(" ".join(browser[1:]))]
    assert cp932("ドキュメントルートフォルダを選択") in texts

    def status_shows_the_folder():
        dump = driver.controls(" ".join(driver("wait-dialog 1000").split()[1:]))
        ids = [c[0] for c in dump if c[1] == "Static"]
        return any(bytes.fromhex(driver("dialog-text %d" % i)) == typed for i in ids)

    assert wait_until(status_shows_the_folder, timeout=30), "the start folder is selected and its path shown"
    driver("dialog-command 1")  # OK
    assert sheet.text(0, 1063) == typed

    sheet.set_text(0, 1063, cp932(there))
    driver("post-click 0 1088")
    driver("wait-dialog 30000")
    driver("dialog-command 2")  # Cancel
    assert sheet.text(0, 1063) == cp932(there), "canceled: the text stays"
    sheet.close_with("cancel")
    assert unchanged(install) == before
    assert host.quit() == 0


def test_the_skin_chooser_starts_in_the_typed_web_root_and_stores_the_name_only(
        build, tmp_path, install, start_host, driver):
    web = os.path.join(str(tmp_path), "web")
    outside = os.path.join(str(tmp_path), "outside")
    os.makedirs(web)
    os.makedirs(outside)
    for folder, name in ((web, "index.html"), (outside, "other.html")):
        with open(os.path.join(folder, name), "w") as f:
            f.write("<html></html>")
    port = free_port()
    install.write_ini(install.demo_settings(port))
    host = start_host()

    sheet = Sheet(host, driver)
    sheet.set_text(0, 1063, folder_name(build, web) + b"\\\\")  # typed, not confirmed
    sheet.select(1)
    for name, shown in (("index.html", b"index.html"), ("missing.html", b"*.html")):
        sheet.set_text(1, 1065, name)
        driver("post-click 1 1089")
        chooser = driver("wait-dialog 30000").split()
        assert bytes.fromhex(chooser[0]) == cp932("スキンファイルを選択")
        assert bytes.fromhex(driver("dialog-text 1148")) == shown, "the file name box"
        assert bytes.fromhex(driver("dialog-text 1137")) == b"web", "the folder it shows"
        assert bytes.fromhex(driver("dialog-text 1136")) == cp932("スキンファイル (*.htm; *.html)")
        driver("dialog-command 2")  # Cancel
        assert sheet.text(1, 1065) == cp932(name), "canceled: nothing changes"

    driver("post-click 1 1089")
    driver("wait-dialog 30000")
    driver("dialog-set-text 1148 " + folder_name(build, os.path.join(outside, "other.html")).hex())
    driver("dialog-command 1")  # Open
    assert sheet.text(1, 1065) == b"other.html"
    sheet.close_with("ok")
    saved = dict(read_ini(install.ini))
    assert saved["Playlistfile"] == "other.html"
    assert saved["WebRoot"] == build.folder_setting(web) + "\\\\", "the typed folder, as typed"
    assert host.quit() == 0


# Screenshots: an X server and a prefix that draws.

def x11_prefix(build):
    """A second prefix like the suite's, with Wine's X11 driver instead of the
    null driver and unmanaged windows (no window manager runs)."""
    prefix = os.path.join(build.build_dir, "wineprefix-x11")
    stamp = os.path.join(prefix, ".ambervox-x11")
    if os.path.exists(stamp):
        return prefix
    subprocess.run(["bash", os.path.join(build.source, "tools", "wine-prefix.sh"), prefix], check=True,
                   env=build.env)
    env = dict(build.env, WINEPREFIX=prefix, WINEDEBUG="-all")
    env.pop("DISPLAY", None)
    wine, wineserver = env["AMBERVOX_WINE"], env["AMBERVOX_WINESERVER"]
    for command in ([wine, "reg", "delete", "HKCU\\Software\\Wine\\Drivers", "/v", "Graphics", "/f"],
                    [wine, "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N", "/f"],
                    [wineserver, "-w"]):
        subprocess.run(command, env=env, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
    open(stamp, "w").close()
    return prefix


@pytest.fixture
def x_display():
    if not (shutil.which("Xvfb") and shutil.which("import") and shutil.which("identify")):
        pytest.skip("Xvfb and imagemagick are needed for screenshots (tools/setup.sh)")
    server = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    number = server.stdout.readline().decode().strip()
    assert number, "Xvfb did not start"
    yield ":" + number
    server.terminate()
    server.wait(30)


def test_each_page_is_drawn_with_legible_japanese_labels(build, install, x_display):
    drawing = copy.copy(build)
    drawing.env = dict(build.env, WINEPREFIX=x11_prefix(build), DISPLAY=x_display)
    port = free_port()
    install.write_ini(install.demo_settings(port, AdminPassword="秘密"))
    folder = os.path.join(build.build_dir, "screenshots")
    os.makedirs(folder, exist_ok=True)

    from ambervox_host import Host
    host = Host(drawing, install)
    sheet_driver = Driver(drawing.env)
    try:
        sheet = Sheet(host, sheet_driver)
        shots = []
        for page, name in enumerate(("1-http-server", "2-display", "3-requests", "4-control")):
            sheet.select(page)
            time.sleep(1.0)  # Wine draws asynchronously
            left, top, width, height = (int(v) for v in sheet_driver("rect").split())
            path = os.path.join(folder, "page-%s.png" % name)
            subprocess.run(["import", "-display", x_display, "-window", "root",
                            "-crop", "%dx%d+%d+%d" % (width, height, left, top), "+repage", path], check=True)
            colors = subprocess.run(["identify", "-format", "%k", path], check=True, capture_output=True).stdout
            assert int(colors) > 16, "%s shows hardly anything" % path
            with open(path, "rb") as f:
                shots.append(f.read())
        assert len(set(shots)) == 4, "every page looks different"
        sheet.close_with("cancel")
        assert host.quit() == 0
    finally:
        sheet_driver.close()
        host.close()
        subprocess.run([drawing.env["AMBERVOX_WINESERVER"], "-k"], env=drawing.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
