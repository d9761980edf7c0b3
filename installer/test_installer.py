"""The Windows release as a DJ gets it: tools/release.sh packs this build into
the zip and the installer; the installer runs silently under Wine into fake
player folders (named on the command line, or found in the registry), the
installed plug-in serves its skin in the stand-in player, a second run keeps
the DJ's plugin.ini, and the uninstaller removes what was installed.

Everything Wine does here happens in a throwaway prefix of its own, so the
registry keys the installer writes and the ones the tests plant never reach
another test. Run through ctest (installer/CMakeLists.txt sets the build)."""

import filecmp
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

import pytest

SOURCE = os.environ.get("AMBERVOX_SOURCE_DIR", os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e"))

from ambervox_host import (Build, Host, choose_wine, free_port, get, read_ini, wait_until,  # noqa: E402
                           write_playlist)

VERSION = os.environ.get("AMBERVOX_VERSION", "")
SKIN = os.path.join(SOURCE, "skins", "default")
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Ambervox"
PLAYER_KEY = r"HKCU\Software\Winamp"
PLAYER_UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Winamp"
WINE_TIMEOUT = 180


class Wine:
    """A throwaway Wine prefix with a persistent server, and programs run in it."""

    def __init__(self, root):
        self.prefix = os.path.join(root, "prefix")
        self.log_path = os.path.join(root, "wine.log")
        self.env = dict(os.environ)
        self.wine, self.wineserver = choose_wine(self.env)
        subprocess.run(["bash", os.path.join(SOURCE, "tools", "wine-prefix.sh"), self.prefix], check=True,
                       env=self.env)
        for name in ("LC_ALL", "LC_CTYPE", "DISPLAY"):
            self.env.pop(name, None)
        self.env.update(WINEPREFIX=self.prefix, LANG="ja_JP.UTF-8", WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        # Output to a file: Wine's helper processes must not hold ctest's pipe.
        self.log = open(self.log_path, "ab")
        subprocess.run([self.wineserver, "-p"], env=self.env, stdin=subprocess.DEVNULL, stdout=self.log,
                       stderr=self.log, check=True)

    def run(self, *args):
        return subprocess.run([self.wine] + list(args), env=self.env, stdin=subprocess.DEVNULL, stdout=self.log,
                              stderr=self.log, timeout=WINE_TIMEOUT).returncode

    def reg(self, *args):
        return subprocess.run([self.wine, "reg"] + list(args), env=self.env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=WINE_TIMEOUT)

    def key_exists(self, key):
        return self.reg("query", key).returncode == 0

    def unix(self, windows_path):
        """The file behind a C:\\ path of this prefix."""
        assert windows_path[:3].upper() == "C:\\", windows_path
        return os.path.join(self.prefix, "drive_c", *windows_path[3:].split("\\"))

    def stop(self):
        subprocess.run([self.wineserver, "-k"], env=self.env, stdin=subprocess.DEVNULL, stdout=self.log,
                       stderr=self.log)
        self.log.close()


@pytest.fixture(scope="module")
def work():
    root = tempfile.mkdtemp(prefix="ambervox-installer-test.")
    yield root
    shutil.rmtree(root, ignore_errors=True)


@pytest.fixture(scope="module")
def release(work):
    """The zip and the installer that tools/release.sh makes from this build."""
    dist = os.path.join(work, "dist")
    build_dir = os.environ["AMBERVOX_BUILD_DIR"]
    subprocess.run(["bash", os.path.join(SOURCE, "tools", "release.sh"), "--build-dir", build_dir, "--dist", dist,
                    "--no-build"], check=True, stdin=subprocess.DEVNULL)
    zip_path = os.path.join(dist, "ambervox-%s-win32.zip" % VERSION)
    setup = os.path.join(dist, "ambervox-%s-setup.exe" % VERSION)
    assert sorted(os.listdir(dist)) == sorted([os.path.basename(zip_path), os.path.basename(setup)])
    return zip_path, setup


@pytest.fixture(scope="module")
def wine(work):
    w = Wine(work)
    yield w
    w.stop()


def installed_files(wine, player):
    """Every file under <player>\\Plugins, relative to it, with '/' separators."""
    plugins = wine.unix(player + "\\Plugins")
    found = []
    for folder, _, files in os.walk(plugins):
        for name in files:
            found.append(os.path.relpath(os.path.join(folder, name), plugins).replace(os.sep, "/"))
    return sorted(found)


def skin_files():
    return sorted("ambervox/skin/" + n for n in os.listdir(SKIN) if n != "plugin.ini")


def zip_member(zip_path, name):
    with zipfile.ZipFile(zip_path) as z:
        return z.read("ambervox-%s-win32/%s" % (VERSION, name))


def serve_installed_plugin(wine, player, tmp_path):
    """Runs the stand-in player with the installed plug-in on a free port and
    returns the playlist page and the stylesheet it serves."""
    ini = wine.unix(player + "\\Plugins\\plugin.ini")
    with open(ini, "rb") as f:
        written = f.read()
    port = free_port()
    assert b"\r\nPort=8080\r\n" in written
    with open(ini, "wb") as f:
        f.write(written.replace(b"\r\nPort=8080\r\n", b"\r\nPort=%d\r\n" % port))
    os.environ["WINEPREFIX"] = wine.prefix
    build = Build()
    plugin_folder = type("PluginFolder", (), {})()
    plugin_folder.folder = wine.unix(player + "\\Plugins")
    plugin_folder.module = player + "\\Plugins\\gen_ambervox.dll"
    playlist = write_playlist(str(tmp_path / "songs.m3u8"), [(200, "みなも - 水面のワルツ", "C:\\Music\\1.mp3"),
                                                              (180, "Ivory Tramline - Secret Signal", "C:\\Music\\2.mp3")])
    host = Host(build, plugin_folder, playlist=playlist)
    try:
        page = get(port, "/playlist.cgi")
        style = get(port, "/style.css")
        assert host.quit() == 0
    finally:
        host.close()
    return page, style


def test_the_zip_holds_the_plugin_the_skin_without_the_demo_settings_a_sample_and_the_guides(release):
    zip_path, _ = release
    assert VERSION and VERSION in os.path.basename(zip_path)
    top = "ambervox-%s-win32/" % VERSION
    with zipfile.ZipFile(zip_path) as z:
        names = sorted(n[len(top):] for n in z.namelist() if not n.endswith("/"))
    expected = ["Plugins/gen_ambervox.dll", "README.txt", "docs/guide.en.md", "docs/guide.ja.md", "plugin.ini"]
    expected += ["Plugins/" + n for n in skin_files()]
    assert [n for n in names if not n.startswith("docs/images/")] == sorted(expected)
    for name in skin_files():
        with open(os.path.join(SKIN, os.path.basename(name)), "rb") as f:
            assert zip_member(zip_path, "Plugins/" + name) == f.read(), name
    assert zip_member(zip_path, "Plugins/gen_ambervox.dll")[:2] == b"MZ"
    # The sample is the release's, not the demo's with its known password.
    sample = zip_member(zip_path, "plugin.ini").decode("cp932")
    assert "\r\n[HTTP Request]\r\n" in sample and "\r\nAdminPassword=\r\n" in sample
    assert "\r\nbDisabled=FALSE\r\n" in sample and "\r\nWebRoot=" in sample
    readme = zip_member(zip_path, "README.txt")
    assert readme.startswith(b"\xef\xbb\xbf") and b"\r\n" in readme and ("Ambervox " + VERSION).encode() in readme
    assert b"@VERSION@" not in readme


def test_install_serve_reinstall_and_uninstall_in_a_fake_player_folder(release, wine, tmp_path):
    zip_path, setup = release
    player = "C:\\FakePlayer"
    os.makedirs(wine.unix(player))
    assert wine.run(setup, "/S", "/D=" + player) == 0

    files = installed_files(wine, player)
    for name in ["gen_ambervox.dll", "plugin.ini", "ambervox/Uninstall.exe", "ambervox/README.txt",
                 "ambervox/docs/guide.en.md", "ambervox/docs/guide.ja.md"] + skin_files():
        assert name in files, (name, files)
    with open(wine.unix(player + "\\Plugins\\gen_ambervox.dll"), "rb") as f:
        assert f.read() == zip_member(zip_path, "Plugins/gen_ambervox.dll")
    for name in skin_files():
        assert filecmp.cmp(os.path.join(SKIN, os.path.basename(name)),
                           wine.unix(player + "\\Plugins\\" + name.replace("/", "\\")), shallow=False), name
    settings = dict(read_ini(wine.unix(player + "\\Plugins\\plugin.ini")))
    assert settings["WebRoot"] == player + "\\Plugins\\ambervox\\skin"
    assert settings["Playlistfile"] == "playlist.html"
    assert settings["bDisabled"] == "FALSE" and settings["Port"] == "8080" and settings["AdminPassword"] == ""
    listing = wine.reg("query", UNINSTALL_KEY)
    assert listing.returncode == 0
    assert b'"C:\\FakePlayer\\Plugins\\ambervox\\Uninstall.exe"' in listing.stdout
    assert ("Ambervox " + VERSION).encode() in listing.stdout

    # What a DJ gets: the player starts the plug-in, which serves the skin.
    page, style = serve_installed_plugin(wine, player, tmp_path)
    assert page.status == 200
    assert "曲リクエスト".encode("cp932") in page.body and "水面のワルツ".encode("cp932") in page.body
    with open(os.path.join(SKIN, "style.css"), "rb") as f:
        assert style.status == 200 and style.body == f.read()

    # A second run updates the plug-in and the skin and leaves the DJ's settings be.
    ini = wine.unix(player + "\\Plugins\\plugin.ini")
    own_settings = ("; 自分の設定\r\n[HTTP Request]\r\nWebRoot=D:\\表示\\skin\r\nPort=9000\r\n"
                    "AdminPassword=秘密\r\nbDisabled=FALSE\r\n").encode("cp932")
    with open(ini, "wb") as f:
        f.write(own_settings)
    with open(wine.unix(player + "\\Plugins\\gen_ambervox.dll"), "wb") as f:
        f.write(b"an older plug-in")
    os.remove(wine.unix(player + "\\Plugins\\ambervox\\skin\\style.css"))
    assert wine.run(setup, "/S", "/D=" + player) == 0
    with open(ini, "rb") as f:
        assert f.read() == own_settings
    with open(wine.unix(player + "\\Plugins\\gen_ambervox.dll"), "rb") as f:
        assert f.read() == zip_member(zip_path, "Plugins/gen_ambervox.dll")
    assert os.path.exists(wine.unix(player + "\\Plugins\\ambervox\\skin\\style.css"))

    # The uninstaller, started as Windows starts it (it copies itself away and
    # deletes the original), removes what it installed; plugin.ini and a file
    # the DJ added to the skin folder stay.
    added = wine.unix(player + "\\Plugins\\ambervox\\skin\\logo.png")
    with open(added, "wb") as f:
        f.write(b"\x89PNG the DJ's own")
    uninstaller = player + "\\Plugins\\ambervox\\Uninstall.exe"
    assert wine.run(uninstaller, "/S") == 0
    # The copy goes on after the started uninstaller has ended.
    left = ["ambervox/skin/logo.png", "plugin.ini"]
    assert wait_until(lambda: installed_files(wine, player) == left, timeout=60), installed_files(wine, player)
    assert not os.path.exists(wine.unix(player + "\\Plugins\\ambervox\\docs"))
    with open(ini, "rb") as f:
        assert f.read() == own_settings
    assert wait_until(lambda: not wine.key_exists(UNINSTALL_KEY), timeout=60)


def test_the_player_folder_comes_from_the_registry_and_without_one_a_silent_install_does_nothing(release, wine):
    _, setup = release
    # The player's own key names its folder.
    by_key = "C:\\RegisteredPlayer"
    os.makedirs(wine.unix(by_key))
    assert wine.reg("add", PLAYER_KEY, "/ve", "/d", by_key, "/f").returncode == 0
    assert wine.run(setup, "/S") == 0
    assert "gen_ambervox.dll" in installed_files(wine, by_key)
    assert dict(read_ini(wine.unix(by_key + "\\Plugins\\plugin.ini")))["WebRoot"] == by_key + "\\Plugins\\ambervox\\skin"
    assert wine.reg("delete", PLAYER_KEY, "/f").returncode == 0

    # Else the folder of the player's uninstaller, a quoted command line.
    by_uninstaller = "C:\\Player Two"
    os.makedirs(wine.unix(by_uninstaller))
    assert wine.reg("add", PLAYER_UNINSTALL_KEY, "/v", "UninstallString", "/d",
                    '"%s\\UninstWA.exe"' % by_uninstaller, "/f").returncode == 0
    assert wine.run(setup, "/S") == 0
    assert "gen_ambervox.dll" in installed_files(wine, by_uninstaller)
    assert wine.reg("delete", PLAYER_UNINSTALL_KEY, "/f").returncode == 0

    # Nothing names a folder: a silent install has nobody to ask and stops.
    before = sorted(os.listdir(wine.unix("C:\\Program Files")))
    assert wine.run(setup, "/S") == 2
    assert sorted(os.listdir(wine.unix("C:\\Program Files"))) == before


def test_a_player_folder_with_japanese_characters_gets_code_page_932_paths_that_the_plugin_opens(
        release, wine, tmp_path):
    _, setup = release
    # 表 is 0x95 0x5C: its trail byte is a backslash to anything byte-minded.
    player = "C:\\表示プレイヤー"
    os.makedirs(wine.unix(player))
    assert wine.run(setup, "/S", "/D=" + player) == 0
    with open(wine.unix(player + "\\Plugins\\plugin.ini"), "rb") as f:
        written = f.read()
    assert ("\r\nWebRoot=%s\\Plugins\\ambervox\\skin\r\n" % player).encode("cp932") in written
    page, style = serve_installed_plugin(wine, player, tmp_path)
    assert page.status == 200 and "曲リクエスト".encode("cp932") in page.body
    assert style.status == 200

