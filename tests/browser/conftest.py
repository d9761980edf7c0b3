"""Fixtures of the browser tests: a station (ambervox-host with the plug-in,
the default skin and its sample playlist, on a free loopback port) and
headless Chromium browsers, each with a profile (and so a cookie) of its own.

Run through ctest (tests/browser/CMakeLists.txt): the build under test comes
from the same environment as the end-to-end suite's, whose helpers start the
host. AMBERVOX_SCREENSHOT_DIR names the folder for screenshots; with
AMBERVOX_DOC_IMAGES set to a folder (docs/images), the screenshots of the
default skin that the guides show are copied there as well."""

import os
import shutil
import sys
import tempfile

import pytest

sys.path.insert(0, os.path.join(os.environ.get("AMBERVOX_SOURCE_DIR", ""), "tests", "e2e"))

from ambervox_host import Build, Host, Install, free_port  # noqa: E402
from selenium import webdriver  # noqa: E402
from selenium.webdriver.chrome.service import Service  # noqa: E402

# With a space, which the log-in form sends as "+": the plug-in accepts the
# password percent-encoded as well as as stored.
ADMIN_PASSWORD = "Booth 7"
CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"


def read_sample_titles(path):
    """The titles of an .m3u8 playlist, in playlist order."""
    with open(path, encoding="utf-8") as f:
        return [line.split(",", 1)[1].rstrip("\r\n") for line in f if line.startswith("#EXTINF:")]


class Station:
    """A running plug-in and the address of its pages."""

    def __init__(self, host, port, titles, admin_password):
        self.host = host
        self.port = port
        self.titles = titles
        self.admin_password = admin_password

    def url(self, target="/"):
        return "http://127.0.0.1:%d%s" % (self.port, target)


@pytest.fixture(scope="session")
def build():
    return Build()


@pytest.fixture
def start_station(build, tmp_path):
    """start_station(playlist=None) -> Station, on the skin's sample playlist
    unless another .m3u8 is named; every host is closed after the test."""
    hosts = []

    def start(playlist=None):
        install = Install(build, tmp_path)
        port = free_port()
        install.write_ini(install.demo_settings(port, AdminPassword=ADMIN_PASSWORD))
        playlist = playlist or os.path.join(build.skin_dir, "sample.m3u8")
        # The first song plays; the clock stands still, so nothing ends by itself.
        host = Host(build, install, playlist=playlist, manual_clock=True, play=True)
        hosts.append(host)
        return Station(host, port, read_sample_titles(playlist), ADMIN_PASSWORD)

    yield start
    for host in hosts:
        host.close()


@pytest.fixture
def station(start_station):
    return start_station()


class Browsers:
    """Starts headless Chromium instances; each has a fresh profile."""

    def __init__(self):
        self.drivers = []
        self.profiles = []

    def open(self, width=1280, height=900):
        profile = tempfile.mkdtemp(prefix="ambervox-chromium.")
        self.profiles.append(profile)
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--user-data-dir=" + profile, "--window-size=%d,%d" % (width, height), "--lang=ja"):
            options.add_argument(flag)
        driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        driver.set_page_load_timeout(30)
        self.drivers.append(driver)
        return driver

    def close(self):
        for driver in self.drivers:
            try:
                driver.quit()
            except Exception:  # a browser that died still has its profile removed
                pass
        for profile in self.profiles:
            shutil.rmtree(profile, ignore_errors=True)


@pytest.fixture
def browsers():
    b = Browsers()
    yield b
    b.close()


@pytest.fixture(scope="session")
def screenshots():
    """screenshots(driver, name, doc=False): saves a full-page PNG."""
    folder = os.environ.get("AMBERVOX_SCREENSHOT_DIR") or os.path.join(tempfile.gettempdir(), "ambervox-screenshots")
    os.makedirs(folder, exist_ok=True)
    doc_folder = os.environ.get("AMBERVOX_DOC_IMAGES")

    def take(driver, name, doc=False):
        height = driver.execute_script("return document.documentElement.scrollHeight")
        chrome = driver.get_window_size()
        outer_extra = chrome["height"] - driver.execute_script("return window.innerHeight")
        driver.set_window_size(chrome["width"], height + outer_extra)
        path = os.path.join(folder, name + ".png")
        assert driver.save_screenshot(path), path
        driver.set_window_size(chrome["width"], chrome["height"])
        if doc and doc_folder:
            os.makedirs(doc_folder, exist_ok=True)
            shutil.copy(path, os.path.join(doc_folder, name + ".png"))
        return path

    return take
