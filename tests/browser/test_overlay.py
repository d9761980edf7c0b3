"""The overlay page of the default skin (overlay.html), as streaming software
draws it in a browser source: the current song and the next requests on a
band with no background of its own, which fits the picture at the sizes the
guides suggest, shows only the listener's view, and follows the queue by
itself, served from the same skin folder as the demo."""

import urllib.parse

from selenium.common.exceptions import StaleElementReferenceException
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from ambervox_host import error_code, get, user_id_cookie
from test_browser import message, request_song
from test_scripts_and_access import axe_violations

ACCEPTED = "リクエストを受け付けました。"
# How long the test waits for the page's own update, which the page makes
# every few seconds: generous, for a loaded machine.
UPDATE_DEADLINE = 30

# Every element of the band that is drawn, and lies outside the viewport or
# outside the band's content box (the band cuts what overflows it), and the
# document itself when it could scroll.
OVERFLOWING = """
var vw = window.innerWidth, vh = window.innerHeight, out = [];
var de = document.documentElement;
if (de.scrollWidth > vw || de.scrollHeight > vh) out.push('document ' + de.scrollWidth + 'x' + de.scrollHeight);
var band = document.getElementById('band'), b = band.getBoundingClientRect(), s = getComputedStyle(band);
if (b.left < 0 || b.top < 0 || b.right > vw || b.bottom > vh) out.push('band outside the viewport');
var inner = {left: b.left + parseFloat(s.paddingLeft) - 1, top: b.top + parseFloat(s.paddingTop) - 1,
             right: b.right - parseFloat(s.paddingRight) + 1, bottom: b.bottom - parseFloat(s.paddingBottom) + 1};
band.querySelectorAll('*').forEach(function (e) {
  if (!e.getClientRects().length || e.classList.contains('sr-only')) return;
  var r = e.getBoundingClientRect();
  if (r.left < inner.left || r.top < inner.top || r.right > inner.right || r.bottom > inner.bottom)
    out.push(e.tagName.toLowerCase() + '.' + e.className + ' ' + JSON.stringify([r.left, r.top, r.right, r.bottom]));
});
return out;
"""

# The highest alpha value of each row of a PNG screenshot (given as base64),
# read back through a canvas of the page.
ROW_ALPHA = """
var done = arguments[arguments.length - 1], image = new Image();
image.onload = function () {
  var c = document.createElement('canvas');
  c.width = image.width;
  c.height = image.height;
  var g = c.getContext('2d');
  g.drawImage(image, 0, 0);
  var data = g.getImageData(0, 0, c.width, c.height).data, rows = [];
  for (var y = 0; y < c.height; y++) {
    var most = 0;
    for (var x = 0; x < c.width; x++) most = Math.max(most, data[(y * c.width + x) * 4 + 3]);
    rows.push(most);
  }
  done(rows);
};
image.onerror = function () { done(null); };
image.src = 'data:image/png;base64,' + arguments[0];
"""

# A stand-in for the video under the overlay: a stage with coloured lights
# and a bright spot, dark and light parts both behind the band.
BACKDROP = ", ".join([
    "radial-gradient(circle at 80% 70%, #fff8e8 0, rgba(255,226,170,.85) 8%, rgba(255,190,120,0) 30%)",
    "radial-gradient(ellipse at 12% 25%, rgba(255,60,150,.75) 0, rgba(255,60,150,0) 42%)",
    "radial-gradient(ellipse at 45% 10%, rgba(80,210,255,.6) 0, rgba(80,210,255,0) 38%)",
    "conic-gradient(from 200deg at 50% -10%, rgba(255,255,255,0) 0deg, rgba(255,255,255,.16) 6deg,"
    " rgba(255,255,255,0) 12deg, rgba(255,255,255,0) 24deg, rgba(255,255,255,.12) 30deg,"
    " rgba(255,255,255,0) 36deg, rgba(255,255,255,0) 360deg)",
    "linear-gradient(170deg, #120d36 0%, #3a1b63 48%, #b4476a 78%, #f2a35e 100%)",
])


def viewport(driver, width, height):
    """Makes the page's viewport width x height CSS pixels, as a browser
    source of that size has."""
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": False})
    assert driver.execute_script("return [window.innerWidth, window.innerHeight]") == [width, height]


# The texts (innerText, or the property named) of the elements that match a
# selector and are drawn, read in one script: the page replaces its band at
# each update, so an element found by one command may be gone by the next.
SHOWN = """
var what = arguments[1];
return Array.from(document.querySelectorAll(arguments[0])).filter(function (e) {
  return e.getClientRects().length > 0 && getComputedStyle(e).visibility !== 'hidden';
}).map(function (e) { return e[what].trim(); });
"""


def shown(driver, selector, what="innerText"):
    return driver.execute_script(SHOWN, selector, what)


def queue_shown(driver):
    """The titles of the request rows the page draws, in order."""
    return shown(driver, ".q-row .q-title", "textContent")


def updated(driver, html, condition):
    """Waits for the page's own update to satisfy condition(driver); the
    page must change in place, never by a reload (which would blank the
    picture for a moment)."""
    WebDriverWait(driver, UPDATE_DEADLINE, poll_frequency=0.2,
                  ignored_exceptions=(StaleElementReferenceException,)).until(condition)
    try:
        html.is_enabled()
    except StaleElementReferenceException:
        raise AssertionError("the overlay reloaded instead of updating in place")


def test_the_overlay_shows_the_song_and_the_requests_on_a_transparent_band_that_fits(station, browsers, screenshots):
    # The requests come from the browser that then opens the overlay: its own
    # requests would carry a cancel link if the page showed one.
    browser = browsers.open()
    longest = max(range(len(station.titles)), key=lambda i: len(station.titles[i]))
    wanted = [5, longest, 42]
    for index in wanted:
        request_song(browser, station, index)
        assert message(browser) == ACCEPTED
    length = station.host.status()["length_s"]
    station.host.ok("seek %d" % (length * 380))  # 38% played

    # What streaming software does: a page drawn on nothing.
    browser.execute_cdp_cmd("Emulation.setDefaultBackgroundColorOverride", {"color": {"r": 0, "g": 0, "b": 0, "a": 0}})
    viewport(browser, 1280, 720)
    # The password in the address changes nothing: a plain page is always
    # the listener's view.
    browser.get(station.url("/overlay.html?pass=" + urllib.parse.quote_plus(station.admin_password)))
    assert shown(browser, ".now-title") == [station.titles[0]]
    assert queue_shown(browser) == [station.titles[i] for i in wanted]
    assert shown(browser, ".q-pos") == ["1", "2", "3"]
    assert browser.find_elements(By.TAG_NAME, "a") == [], "links on the overlay"
    assert "127.0.0.1" not in browser.find_element(By.TAG_NAME, "body").text, "the operator's view"
    assert shown(browser, ".open") == []
    # The time left, as the player reported it (62% of the song), counted
    # down by the page since (a few seconds, until its update finds the
    # player's clock standing still).
    left = length - length * 380 // 1000
    minutes, seconds = shown(browser, ".time-left")[0].split(":")
    assert left - 15 <= int(minutes) * 60 + int(seconds) <= left
    assert browser.execute_script("return window.getComputedStyle(document.body).overflow") == "hidden"
    assert browser.execute_script(OVERFLOWING) == []

    # Nothing above the band is drawn at all; the band (translucent) is, and
    # its text opaque.
    rows = browser.execute_async_script(ROW_ALPHA, browser.get_screenshot_as_base64())
    band_top = int(browser.execute_script("return document.getElementById('band').getBoundingClientRect().top"))
    assert rows is not None and len(rows) == 720
    assert max(rows[:band_top]) == 0, "the page draws a background"
    assert min(rows[band_top + 2:-20]) > 0, "the band is not drawn"
    assert max(rows[band_top:]) == 255, "no opaque text on the band"

    assert axe_violations(browser) == []

    # The sizes the guides suggest: the band alone, and a full picture.
    for width, height in ((1280, 200), (1920, 300), (1920, 1080)):
        viewport(browser, width, height)
        assert queue_shown(browser) == [station.titles[i] for i in wanted], (width, height)
        assert browser.execute_script(OVERFLOWING) == [], (width, height)

    viewport(browser, 1280, 720)
    browser.execute_script("document.documentElement.style.background = arguments[0]", BACKDROP)
    screenshots(browser, "skin-overlay", doc=True)


def test_a_request_made_on_the_playlist_page_shows_on_the_overlay_by_its_own_update(station, browsers, screenshots):
    overlay = browsers.open()
    viewport(overlay, 1280, 720)
    overlay.get(station.url("/overlay.html"))
    # An empty queue: the invitation, and the address the page came from.
    assert shown(overlay, ".open-lead") == ["リクエスト受付中"]
    assert shown(overlay, ".address") == [station.url("/")]
    screenshots(overlay, "overlay-empty")
    # The page updates itself often enough for a new request to show within
    # 10 seconds.
    every = int(overlay.find_element(By.TAG_NAME, "body").get_attribute("data-every"))
    assert 0 < every <= 10
    html = overlay.find_element(By.TAG_NAME, "html")

    listener = browsers.open()
    request_song(listener, station, 7)
    assert message(listener) == ACCEPTED
    updated(overlay, html, lambda d: queue_shown(d) == [station.titles[7]])
    assert shown(overlay, ".open") == []

    # More requests than the band holds, from two more listeners: the first
    # four are shown, the others counted.
    wanted = [7]
    for source, indexes in (("127.0.0.2", (11, 12, 13)), ("127.0.0.3", (14, 15))):
        cookie = user_id_cookie(station.port)
        for index in indexes:
            answer = get(station.port, "/request.cgi?listpos=%d" % index,
                         {"Cookie": cookie, "Referer": station.url("/playlist.cgi")}, source=source)
            assert answer.status == 302 and error_code(answer.header("location")) == 1, answer.header("location")
            wanted.append(index)
    updated(overlay, html, lambda d: len(d.find_elements(By.CSS_SELECTOR, ".q-row")) == len(wanted))
    assert queue_shown(overlay) == [station.titles[i] for i in wanted[:4]]
    assert shown(overlay, ".more") == ["ほか 2 曲"]
    assert overlay.execute_script(OVERFLOWING) == []
    screenshots(overlay, "overlay-more")
