"""The DJ edits the player's playlist during a show: requests keep the songs
that were asked for, the pages follow the playlist by themselves, links
drawn before the queue moved on remove nothing else, and a broken UserID
cookie is no identity."""

import os
import re

from ambervox_host import admin, error_code, get, request, user_id_cookie, wait_until, write_playlist

# How long the pages may take to show an edited playlist.
FOLLOW_SECONDS = 5


def edit_songs(count):
    return [(100, "Edit Band - Song %02d" % i, "C:\\Edits\\%02d.mp3" % i) for i in range(count)]


def shows(port, title):
    return title.encode("cp932") in get(port, "/playlist.cgi").body


def queued_titles(port):
    """The operator's queue rows, in order."""
    body = get(port, "/admin.cgi?pass=demo").body.decode("cp932")
    return re.findall(r'<span class="q-title">([^<]*)</span>', body)


def load_edits(host, port, tmp_path, count=20):
    path = write_playlist(os.path.join(str(tmp_path), "edits.m3u8"), edit_songs(count))
    assert host.ok("load " + path) == "ok %d entries" % count
    assert wait_until(lambda: shows(port, "Edit Band - Song %02d" % (count - 1)), timeout=FOLLOW_SECONDS), \
        "the loaded playlist is shown without refreshcache"


def test_requests_keep_their_songs_through_a_reorder_and_a_removal(tmp_path, station):
    host, port = station()
    load_edits(host, port, tmp_path)
    alice, bob = user_id_cookie(port), user_id_cookie(port)
    assert error_code(request(port, alice, 5)) == 1
    assert error_code(request(port, bob, 8)) == 1
    assert host.ok("move 5 0") == "ok"  # song 05 to the top
    assert host.ok("remove 8") == "ok"  # song 08 leaves
    assert wait_until(lambda: not shows(port, "Edit Band - Song 08"), timeout=FOLLOW_SECONDS), \
        "the removal is shown without refreshcache"
    assert queued_titles(port) == ["Edit Band - Song 05"]
    assert host.song_end() == 0, "song 05 plays from where the DJ put it"
    assert host.commands() == ["set-position:0", "play"]
    # Song 08's request is dropped; the player goes on by itself.
    assert host.song_end() == 1
    assert host.commands() == []
    assert queued_titles(port) == []
    assert host.quit() == 0


def test_a_stale_delete_link_removes_only_the_request_it_was_drawn_for(tmp_path, station):
    host, port = station()
    load_edits(host, port, tmp_path)
    cookie = user_id_cookie(port)
    for index in (11, 12, 13):
        assert error_code(request(port, cookie, index)) == 1
    body = get(port, "/admin.cgi?pass=demo").body.decode("cp932")
    links = re.findall(r'href="(admin\.cgi\?pass=demo&action=delete&listpos=\d+&index=\d+&song=[\w-]{11})">Delete', body)
    assert len(links) == 3, body
    first, second = links[0], links[1]
    assert host.song_end() == 11
    assert error_code(get(port, "/" + second).header("location")) == 11
    assert queued_titles(port) == ["Edit Band - Song 13"]
    assert error_code(get(port, "/" + first).header("location")) == 12, "song 11 already played"
    assert queued_titles(port) == ["Edit Band - Song 13"]
    # A listener's own stale cancel link, the same way.
    listener = get(port, "/playlist.cgi", {"Cookie": cookie}).body.decode("cp932")
    cancel = re.search(r'href="(request\.cgi\?action=delete&listpos=1&index=13&song=[\w-]{11})"', listener)
    assert cancel, listener
    assert error_code(request(port, cookie, 14)) == 1
    assert host.song_end() == 13
    assert error_code(get(port, "/" + cancel.group(1), {"Cookie": cookie}).header("location")) == 12
    assert queued_titles(port) == ["Edit Band - Song 14"]
    assert host.quit() == 0


def test_a_malformed_cookie_gets_a_fresh_one_and_can_neither_request_nor_cancel(station):
    host, port = station()
    owner = user_id_cookie(port)
    assert error_code(request(port, "UserID=" + owner.split("=", 1)[1].lower(), 3)) == 1, "lower-case hex"
    for broken in ("UserID=12zz", "UserID=00000000-0000-0000-0000"):
        page = get(port, "/playlist.cgi", {"Cookie": broken})
        assert (page.header("set-cookie") or "").startswith("UserID="), broken
        assert error_code(request(port, broken, 4)) == 13, broken
        cancel = get(port, "/request.cgi?action=delete&listpos=1&index=3", {"Cookie": broken})
        assert error_code(cancel.header("location")) == 13, broken
    assert queued_titles(port) == ["みなも - 水面のワルツ"]
    assert host.quit() == 0
