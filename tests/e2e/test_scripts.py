"""Titles in any script: a playlist whose titles hold characters outside code
page 932 (Korean, simplified Chinese, emoji) is listed, searched, grouped
and requested like any other, its characters shown as numeric references
read from the player's wide titles."""

import html
import os
import urllib.parse

from ambervox_host import error_code, get, request, user_id_cookie, write_playlist

SCRIPT_SONGS = [
    (200, "방탄소년단 - 봄날", "C:\\Music\\spring.mp3"),
    (180, "周杰伦 - 晴天", "C:\\Music\\sunny.mp3"),
    (150, "Bright 🌟 Star", "C:\\Music\\star.mp3"),
    (210, "さくら 봄 🌸 - 春", "C:\\Music\\sakura.mp3"),
    (190, "Tom & Jerry &#65; - Chase", "C:\\Music\\chase.mp3"),
    (220, "블랙핑크 - 뚜두뚜두", "C:\\Music\\ddu.mp3"),
    (230, "千夜一夜ラジオ - 優しいプラネタリウム", "C:\\Music\\plain.mp3"),
]


def display_form(text):
    """Code page 932 bytes, a reference for each character the code page lacks."""
    out = b""
    for character in text:
        try:
            out += character.encode("cp932")
        except UnicodeEncodeError:
            out += b"&#%d;" % ord(character)
    return out


def page_text(text):
    """The display form escaped, the references it introduced kept."""
    out = b""
    for character in text:
        try:
            out += html.escape(character).encode("cp932")
        except UnicodeEncodeError:
            out += b"&#%d;" % ord(character)
    return out


def row(title):
    """A row of the default skin's playlist."""
    return b'<span class="song-title">' + page_text(title) + b"</span>"


def as_browser_sends(text):
    """A query value as a browser sends it from a Shift_JIS page."""
    return urllib.parse.quote_from_bytes(display_form(text), safe="")


def test_titles_outside_the_code_page_are_listed_found_and_requested(tmp_path, station):
    playlist = write_playlist(os.path.join(str(tmp_path), "scripts.m3u8"), SCRIPT_SONGS)
    host, port = station(host_options={"playlist": playlist})

    page = get(port, "/playlist.cgi").body
    for _, title, _ in SCRIPT_SONGS:
        assert row(title) in page, title
    # A title within the code page is shown as it always was.
    assert "千夜一夜ラジオ - 優しいプラネタリウム".encode("cp932") in page
    assert b"Tom &amp; Jerry &amp;#65; - Chase" in page
    # The two Korean artists are two artists.
    for artist in ("방탄소년단", "블랙핑크"):
        assert b'<option value="%s - ">%s</option>' % (page_text(artist), page_text(artist)) in page
    assert b"?" * 5 not in page

    found = get(port, "/playlist.cgi?psearch=" + as_browser_sends("봄날")).body
    assert row("방탄소년단 - 봄날") in found
    assert row("さくら 봄 🌸 - 春") not in found
    # Chosen from the artist list, which sends the option's value.
    found = get(port, "/playlist.cgi?startswith=" + as_browser_sends("블랙핑크 - ")).body
    assert row("블랙핑크 - 뚜두뚜두") in found
    assert row("방탄소년단 - 봄날") not in found

    listener = user_id_cookie(port)
    assert error_code(request(port, listener, 5)) == 1
    queued = get(port, "/playlist.cgi", {"Cookie": listener}).body
    assert b'<span class="q-title">' + page_text("블랙핑크 - 뚜두뚜두") + b"</span>" in queued
    assert host.song_end() == 5
    assert host.commands() == ["set-position:5", "play"]
    playing = get(port, "/playlist.cgi").body
    assert b'<p class="now-title">' + page_text("블랙핑크 - 뚜두뚜두") + b"</p>" in playing
    assert host.quit() == 0
