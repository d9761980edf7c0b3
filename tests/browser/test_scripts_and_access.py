"""The default skin with titles in any script, and its accessibility: Korean
and emoji titles render as their characters on a phone and on a desktop and
are found from the search box and the artist list; axe-core finds nothing on
the listener's, the request's and the operator's views; the listener can
turn the automatic refresh off for the session."""

import json
import os
import time

from selenium.common.exceptions import StaleElementReferenceException
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions
from selenium.webdriver.support.ui import Select, WebDriverWait

from test_browser import message, navigate, request_song, texts

SCRIPT_TITLES = [
    "방탄소년단 - 봄날",
    "Bright 🌟 Star",
    "さくら 봄 🌸 - 春",
    "블랙핑크 - 뚜두뚜두",
    "千夜一夜ラジオ - 優しいプラネタリウム",
]
PHONE = (390, 844)
DESKTOP = (1280, 900)
# The violation that the refresh marker's meta element is allowed to bring.
REFRESH_RULE = "meta-refresh"


def axe_script():
    """axe.min.js as tools/setup.sh installs it (AMBERVOX_AXE_DIR)."""
    folder = os.environ.get("AMBERVOX_AXE_DIR") or os.path.join(
        os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"), "ambervox", "npm")
    path = os.path.join(folder, "node_modules", "axe-core", "axe.min.js")
    assert os.path.isfile(path), "axe-core is missing: run tools/setup.sh (%s)" % path
    with open(path, encoding="utf-8") as f:
        return f.read()


def axe_violations(driver):
    """Each violation axe reports on the page: (rule, [element selectors])."""
    driver.execute_script(axe_script())
    driver.set_script_timeout(60)
    result = driver.execute_async_script(
        "var done = arguments[arguments.length - 1];"
        "axe.run(document, {resultTypes: ['violations']}).then("
        "  function (r) { done(JSON.stringify(r.violations.map(function (v) {"
        "    return [v.id, v.nodes.map(function (n) { return n.target.join(' '); })]; }))); },"
        "  function (e) { done(JSON.stringify([['axe failed', [String(e)]]])); });")
    return [tuple(v) for v in json.loads(result) if v[0] != REFRESH_RULE]


def test_titles_in_any_script_show_as_their_characters_and_are_found(start_station, browsers, screenshots, tmp_path):
    playlist = os.path.join(str(tmp_path), "scripts.m3u8")
    with open(playlist, "w", encoding="utf-8", newline="\r\n") as f:
        f.write("#EXTM3U\n")
        for i, title in enumerate(SCRIPT_TITLES):
            f.write("#EXTINF:%d,%s\nC:\\Music\\%02d.mp3\n" % (200 + i, title, i))
    station = start_station(playlist)

    for name, size in (("phone", PHONE), ("desktop", DESKTOP)):
        driver = browsers.open(*size)
        driver.get(station.url("/playlist.cgi"))
        assert texts(driver, ".song-title") == SCRIPT_TITLES, name
        assert driver.find_element(By.CSS_SELECTOR, ".now-title").text == SCRIPT_TITLES[0]
        screenshots(driver, "skin-scripts-" + name, doc=True)

    # Typed into the Shift_JIS search form, 봄날 leaves the browser as
    # references, and finds its song.
    box = driver.find_element(By.CSS_SELECTOR, "input[name=psearch]")
    box.send_keys("봄날")
    navigate(driver, driver.find_element(By.CSS_SELECTOR, ".search-form button[type=submit]").click)
    assert "psearch=%26%2348388%3B%26%2345216%3B" in driver.current_url
    assert texts(driver, ".song-title") == [SCRIPT_TITLES[0]]
    assert driver.find_element(By.CSS_SELECTOR, "input[name=psearch]").get_attribute("value") == "봄날"

    # The artist list names both Korean artists; choosing one lists its song.
    driver.get(station.url("/playlist.cgi"))
    artists = Select(driver.find_element(By.NAME, "startswith"))
    assert "방탄소년단" in [o.text for o in artists.options]
    navigate(driver, lambda: artists.select_by_visible_text("블랙핑크"))
    assert texts(driver, ".song-title") == [SCRIPT_TITLES[3]]


def test_axe_finds_nothing_on_the_default_skins_views(station, browsers):
    listener = browsers.open(*PHONE)
    listener.get(station.url("/playlist.cgi"))
    assert axe_violations(listener) == [], "the listener's playlist"
    request_song(listener, station, 3)
    assert message(listener) == "リクエストを受け付けました。"
    assert axe_violations(listener) == [], "the page after a request"
    operator = browsers.open(*PHONE)
    operator.get(station.url("/admin.cgi?pass=" + station.admin_password.replace(" ", "+")))
    assert operator.find_elements(By.CSS_SELECTOR, ".admin-panel a"), "the operator's view"
    assert axe_violations(operator) == [], "the operator's view"


def reloaded(old_html):
    try:
        old_html.is_enabled()
        return False
    except StaleElementReferenceException:
        return True


def test_the_listener_turns_the_automatic_refresh_off_for_the_session(station, browsers):
    # One second of the current song left: the page reloads 6 seconds after
    # it was made.
    length = station.host.status()["length_s"]
    station.host.ok("seek %d" % ((length - 1) * 1000))
    listener = browsers.open(*PHONE)
    listener.get(station.url("/playlist.cgi"))
    html = listener.find_element(By.TAG_NAME, "html")
    WebDriverWait(listener, 20).until(lambda d: reloaded(html))

    WebDriverWait(listener, 20).until(lambda d: d.execute_script("return document.readyState") == "complete")
    toggle = listener.find_element(By.CSS_SELECTOR, ".refresh-toggle")
    assert toggle.is_displayed() and toggle.text == "自動更新を止める"
    toggle.click()
    assert toggle.text == "自動更新を再開する"
    html = listener.find_element(By.TAG_NAME, "html")
    time.sleep(9)
    assert not reloaded(html), "the page reloaded although the refresh was off"

    # Still off on the next page of the session; on again, it reloads.
    listener.refresh()
    toggle = listener.find_element(By.CSS_SELECTOR, ".refresh-toggle")
    assert toggle.text == "自動更新を再開する"
    html = listener.find_element(By.TAG_NAME, "html")
    toggle.click()
    WebDriverWait(listener, 20).until(expected_conditions.staleness_of(html))
