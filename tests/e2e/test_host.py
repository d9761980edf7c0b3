"""The stand-in player's own console contract: clock, seek, load and
answers."""

import os

from ambervox_host import wait_until, write_playlist


def test_the_real_time_clock_ends_songs_and_the_player_moves_on(tmp_path, start_host):
    short = write_playlist(os.path.join(str(tmp_path), "short.m3u8"),
                           [(1, "A - One", "a.mp3"), (1, "B - Two", "b.mp3"), (60, "C - Three", "c.mp3")])
    host = start_host(playlist=short, manual_clock=False, play=True)
    assert host.status()["state"] == "playing"
    assert wait_until(lambda: host.status()["position"] == 2, timeout=15)
    assert wait_until(lambda: host.status()["elapsed_ms"] > 0, timeout=5)
    assert host.commands() == []
    assert host.quit() == 0


def test_with_the_manual_clock_time_moves_only_by_seek(start_host):
    host = start_host(play=True)
    first = host.status()
    assert first["state"] == "playing" and first["elapsed_ms"] == 0
    assert host.ok("seek 61500") == "ok"
    assert host.status()["elapsed_ms"] == 61500
    assert host.status()["elapsed_ms"] == 61500
    assert host.command("seek soon").startswith("error")
    assert host.quit() == 0


def test_load_replaces_the_playlist_and_odd_commands_get_errors(tmp_path, start_host):
    host = start_host()
    other = write_playlist(os.path.join(str(tmp_path), "other.m3u"),
                           [(77, "表 - 示", "C:\\x\\表.mp3"), (88, "B - b", "b.mp3")], utf8=False)
    assert host.ok("load " + other) == "ok 2 entries"
    status = host.status()
    assert status["position"] == 0 and status["length_s"] == 77
    assert host.command("load " + other + ".missing").startswith("error")
    assert host.command("dance").startswith("error")
    assert host.command("").startswith("error")
    assert host.quit() == 0
