"""Listeners and the operator through the pages, checked where their effects
end up: in the redirects the pages answer with and in what the player was
told to do."""

import os

from ambervox_host import admin, error_code, get, request, user_id_cookie, wait_until, write_playlist
from conftest import SONGS


def test_a_song_end_plays_the_oldest_request_once_then_the_player_goes_on(station):
    host, port = station()
    alice, bob = user_id_cookie(port), user_id_cookie(port)
    assert error_code(request(port, alice, 5)) == 1
    assert error_code(request(port, bob, 8)) == 1
    assert host.song_end() == 5
    assert host.commands() == ["set-position:5", "play"]
    assert host.song_end() == 8
    assert host.commands() == ["set-position:8", "play"]
    assert host.song_end() == 9, "an empty queue leaves the song end to the player"
    assert host.commands() == []
    assert host.quit() == 0


def test_a_listener_cancels_an_own_request_but_not_another_ones(station):
    host, port = station()
    alice, bob = user_id_cookie(port), user_id_cookie(port)
    assert error_code(request(port, alice, 3)) == 1
    assert error_code(request(port, alice, 3)) == 6
    assert error_code(request(port, bob, 1, extra="&action=delete")) == 14
    assert error_code(request(port, alice, 1, extra="&action=delete")) == 11
    assert error_code(request(port, alice, 1, extra="&action=delete")) == 12
    assert host.song_end() == 1, "nothing waits any more"
    assert host.quit() == 0


def test_the_playlist_page_shows_the_songs_and_a_search_narrows_them(station):
    host, port = station()
    page = get(port, "/playlist.cgi").body
    for _, title, _ in SONGS:
        assert title.encode("cp932") in page, title
    found = get(port, "/playlist.cgi?psearch=Ivory").body
    assert b"Ivory Tramline - Secret Signal" in found
    assert b"Ivory Tramline - Harbour Lights" in found
    assert b"Afterglow Engine" not in found, "the artist list names every artist, but no other title shows"
    assert host.quit() == 0


def test_the_operator_needs_the_password_and_drives_the_player(station):
    host, port = station()
    assert error_code(admin(port, "play", password="wrong")) == 10
    assert host.commands() == []
    for action in ("play", "pause", "stop", "prev", "next"):
        location = admin(port, action)
        assert location.endswith("/admin.cgi?pass=demo"), location
    assert host.commands() == ["play", "pause", "stop", "prev", "next"]
    # With a request waiting, next also starts it at once.
    assert error_code(request(port, user_id_cookie(port), 6)) == 1
    admin(port, "next")
    assert host.commands() == ["next", "set-position:6", "play"]
    assert host.quit() == 0


def test_the_operator_deletes_and_clears_requests(station):
    host, port = station()
    alice, bob = user_id_cookie(port), user_id_cookie(port)
    for cookie, index in ((alice, 2), (bob, 4), (bob, 7)):
        assert error_code(request(port, cookie, index)) == 1
    assert error_code(admin(port, "delete", "&listpos=1")) == 11
    assert error_code(admin(port, "delete", "&listpos=9")) == 12
    assert host.song_end() == 4, "the head was deleted"
    assert error_code(admin(port, "clearrequest")) == 11
    assert host.song_end() == 5, "the queue was cleared"
    assert host.quit() == 0


def test_a_changed_playlist_becomes_requestable_by_itself_and_refreshcache_still_works(tmp_path, station):
    host, port = station()
    longer = write_playlist(os.path.join(str(tmp_path), "longer.m3u8"),
                            SONGS + [(100, "New Artist - Song %d" % i, "n%d.mp3" % i) for i in range(5)])
    assert host.ok("load " + longer) == "ok 15 entries"
    cookie = user_id_cookie(port)
    assert wait_until(lambda: error_code(request(port, cookie, 12)) == 1, timeout=5)
    admin(port, "refreshcache")
    assert wait_until(lambda: error_code(request(port, cookie, 13)) == 1)
    assert host.quit() == 0


def test_recently_played_songs_are_refused_until_enough_others_played(station):
    host, port = station(g_RecentlyPlayedQueueSize=2)
    alice, bob = user_id_cookie(port), user_id_cookie(port)
    assert error_code(request(port, alice, 5)) == 1
    assert host.song_end() == 5
    assert error_code(request(port, bob, 5)) == 7
    for index in (6, 7):
        assert error_code(request(port, alice, index)) == 1
        assert host.song_end() == index
    assert error_code(request(port, bob, 5)) == 1, "two other requests played since"
    assert host.quit() == 0
