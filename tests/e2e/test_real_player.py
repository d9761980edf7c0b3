"""The plug-in inside a host as hard as the real player: quit right after an
admin refresh, a Unicode caption under our hook, a second plug-in that
subclasses the main window after ours, each shutdown order, a player that
stops answering for seconds, and a process that ends without quit."""

import os
import socket
import time

import pytest

from ambervox_host import admin, error_code, get, listening, request, user_id_cookie, wait_until

# Delays between the refresh and the quit, cycled over the runs.
QUIT_DELAYS = [0.0, 0.002, 0.01, 0.03, 0.08]
QUIT_RUNS = 20


def test_quit_right_after_an_admin_refresh_neither_crashes_nor_hangs(install, station):
    for run in range(QUIT_RUNS):
        host, port = station()
        admin(port, "refreshcache")
        time.sleep(QUIT_DELAYS[run % len(QUIT_DELAYS)])
        assert host.quit() == 0, "run %d: %s" % (run, host.stderr())
        host.close()
        assert os.path.exists(install.ini)


def test_a_caption_outside_the_ansi_code_page_reads_back_unchanged_under_our_hook(station):
    host, port = station()
    caption = "한국어 かな ♪ Nova Thistle"
    assert host.ok("caption " + caption) == "ok"
    assert host.ok("caption") == "ok caption " + caption
    # The hook still does its work on the Unicode window.
    assert error_code(request(port, user_id_cookie(port), 6)) == 1
    assert host.song_end() == 6
    assert host.commands() == ["set-position:6", "play"]
    assert host.quit() == 0


@pytest.mark.parametrize("variant", ["keep", "blind"])
@pytest.mark.parametrize("shutdown", ["player", "unload", "session"])
def test_a_neighbour_subclassing_after_us_in_every_shutdown_order(install, station, variant, shutdown):
    neighbour = install.add_neighbour(variant)
    host, port = station(host_options={"others": [neighbour], "shutdown": shutdown})
    assert error_code(request(port, user_id_cookie(port), 4)) == 1
    assert host.song_end() == 4, "the request plays with the neighbour above our hook"
    assert host.ok("caption") == "ok caption Ambervox host player"
    assert host.quit() == 0, host.stderr()
    assert not listening(port)
    assert os.path.exists(install.ini), "quit saved the settings"


def test_a_stalled_player_does_not_hold_up_the_pages(station):
    host, port = station()
    stall_ms = 15000
    started = time.monotonic()
    assert host.ok("stall %d" % stall_ms) == "ok"
    css = get(port, "/style.css", timeout=10)
    assert css.status == 200
    assert time.monotonic() - started < 2.0, "a static file asks the player nothing"
    page_started = time.monotonic()
    page = get(port, "/playlist.cgi", timeout=10)
    assert page.status == 200
    assert time.monotonic() - page_started < 5.0, "the page waits for the player at most once"
    assert "Nova Thistle - Little Garden".encode("cp932") in page.body
    assert time.monotonic() - started < stall_ms / 1000.0, "the stall was still on"
    # Once the player answers again, so does everything else.
    assert host.status()["position"] == 0
    assert host.quit() == 0


def test_a_process_that_ends_without_quit_does_not_hang(install, station):
    host, port = station()
    # A client half-way through its request keeps a connection thread busy.
    with socket.create_connection(("127.0.0.1", port), timeout=5) as client:
        client.sendall(b"GET /playlist.cgi HTTP/1.0\r\n")
        assert wait_until(lambda: get(port, "/style.css").status == 200)
        assert host.ok("exit") == "ok"
        assert host.wait(timeout=30) == 0
