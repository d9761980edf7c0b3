"""Listeners and the operator in real browsers, on the default skin: what
they type and click, what the pages then show, and what the player was told.

The skin's forms send Shift_JIS (accept-charset), so a Japanese search word
typed into the search box reaches the plug-in as code page 932 bytes."""

import urllib.parse

from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions
from selenium.webdriver.support.ui import WebDriverWait

ACCEPTED = "リクエストを受け付けました。"
DELETED = "リクエストを削除しました。"
NOT_REQUESTER = "【エラー】 リクエストしたユーザーと一致しません。"
BAD_PASSWORD = "【エラー】 入力された管理パスワードが無効です。"
SEARCH_WORD = "水面"


def navigate(driver, click):
    """Runs click() and waits until the browser shows the next page."""
    old = driver.find_element(By.TAG_NAME, "html")
    click()
    WebDriverWait(driver, 30).until(expected_conditions.staleness_of(old))
    WebDriverWait(driver, 30).until(lambda d: d.execute_script("return document.readyState") == "complete")


def texts(driver, selector):
    return [e.text for e in driver.find_elements(By.CSS_SELECTOR, selector)]


def admin_panel(driver):
    """The operator's control table as written (the skin styles it in capitals)."""
    return driver.find_element(By.CSS_SELECTOR, ".admin-panel").get_attribute("textContent")


def message(driver):
    return driver.find_element(By.CSS_SELECTOR, ".message").text


def queue_titles(driver):
    return texts(driver, ".queue-row .q-title")


def request_song(driver, station, index):
    """Requests the song at playlist index `index` from its row on the playlist."""
    page = index // 25 * 25
    driver.get(station.url("/playlist.cgi?current=%d" % page))
    link = driver.find_element(By.CSS_SELECTOR, "a.song-req[href^='request.cgi?listpos=%d&song=']" % index)
    navigate(driver, link.click)


def test_a_listener_searches_requests_and_cancels_and_another_browser_cannot_cancel(station, browsers, screenshots):
    listener = browsers.open()
    listener.get(station.url("/"))
    assert urllib.parse.urlparse(listener.current_url).path == "/playlist.cgi"
    assert texts(listener, ".song-title") == station.titles[:25]
    assert listener.find_element(By.CSS_SELECTOR, ".now-title").text == station.titles[0]
    assert queue_titles(listener) == []

    box = listener.find_element(By.CSS_SELECTOR, "input[name=psearch]")
    box.send_keys(SEARCH_WORD)
    navigate(listener, listener.find_element(By.CSS_SELECTOR, ".search-form button[type=submit]").click)
    # The browser encoded the word as the page's forms ask: Shift_JIS.
    assert "psearch=" + urllib.parse.quote(SEARCH_WORD.encode("cp932")) in listener.current_url
    matches = [t for t in station.titles if SEARCH_WORD in t]
    assert matches and texts(listener, ".song-title") == matches[:25]
    assert listener.find_element(By.CSS_SELECTOR, "input[name=psearch]").get_attribute("value") == SEARCH_WORD

    wanted = matches[0]
    navigate(listener, listener.find_element(By.CSS_SELECTOR, ".song .song-req").click)
    assert message(listener) == ACCEPTED
    assert queue_titles(listener) == [wanted]
    # Back on the search the request was made from.
    assert texts(listener, ".song-title") == matches[:25]
    cancel = listener.find_element(By.CSS_SELECTOR, ".queue-row .q-cancel a")
    assert cancel.text == "キャンセル"
    screenshots(listener, "skin-listener", doc=True)

    # Another browser sees the request but gets no cancel link, and the
    # cancel address itself is refused for it.
    other = browsers.open()
    other.get(station.url("/playlist.cgi"))
    assert queue_titles(other) == [wanted]
    assert texts(other, ".queue-row .q-cancel") == [""]
    other.get(cancel.get_attribute("href"))
    assert message(other) == NOT_REQUESTER
    assert queue_titles(other) == [wanted]
    screenshots(other, "skin-not-requester")

    navigate(listener, listener.find_element(By.CSS_SELECTOR, ".queue-row .q-cancel a").click)
    assert message(listener) == DELETED
    assert queue_titles(listener) == []
    assert station.host.song_end() == 1, "nothing was left to play: the player went on by itself"


def test_the_operator_logs_in_with_the_form_skips_a_song_and_deletes_a_request(station, browsers, screenshots):
    listener = browsers.open()
    request_song(listener, station, 3)
    assert message(listener) == ACCEPTED
    request_song(listener, station, 30)
    assert message(listener) == ACCEPTED
    assert queue_titles(listener) == [station.titles[3], station.titles[30]]

    operator = browsers.open()
    operator.get(station.url("/admin.cgi"))
    operator.find_element(By.NAME, "pass").send_keys("wrong")
    navigate(operator, operator.find_element(By.CSS_SELECTOR, "input[type=submit]").click)
    assert message(operator) == BAD_PASSWORD
    assert texts(operator, ".admin-panel a") == []

    # The form sends the password percent-encoded (the space as "+").
    operator.get(station.url("/admin.cgi"))
    operator.find_element(By.NAME, "pass").send_keys(station.admin_password)
    navigate(operator, operator.find_element(By.CSS_SELECTOR, "input[type=submit]").click)
    assert "Winamp Admin Control" in admin_panel(operator)
    assert texts(operator, ".queue-row .q-title") == [station.titles[3], station.titles[30]]
    requesters = texts(operator, ".queue-row .q-cancel")
    assert len(requesters) == 2 and all(r.startswith("127.0.0.1 / ") for r in requesters)
    assert texts(operator, ".queue-row .q-pos a") == ["Delete", "Delete"]
    screenshots(operator, "skin-operator", doc=True)
    station.host.commands()  # forget what the player heard so far

    # Next: the player skips, and the oldest request starts at once.
    navigate(operator, operator.find_element(By.LINK_TEXT, "Next").click)
    assert station.host.commands() == ["next", "set-position:3", "play"]
    assert station.host.status()["position"] == 3
    assert "Winamp Admin Control" in admin_panel(operator)
    assert texts(operator, ".queue-row .q-title") == [station.titles[30]]
    assert operator.find_element(By.CSS_SELECTOR, ".now-title").text == station.titles[3]

    navigate(operator, operator.find_element(By.CSS_SELECTOR, ".queue-row .q-pos a").click)
    assert message(operator) == DELETED
    assert texts(operator, ".queue-row") == []
    assert "Winamp Admin Control" in admin_panel(operator)
    listener.refresh()
    assert queue_titles(listener) == []
