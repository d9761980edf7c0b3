"""The plug-in's life in the stand-in player: a fresh install, init with a
plugin.ini, the config entry, quit saving the settings, and the player
advancing by itself at song ends."""

import os
import socket

import pytest

from ambervox_host import DEFAULTS, PLUGIN_DESCRIPTION, SAVE_ORDER, free_port, get, listening, read_ini


def test_fresh_install_leaves_the_server_stopped_and_song_ends_reach_the_player(install, start_host):
    port80_before = listening(80)
    host = start_host()
    if not port80_before:
        assert not listening(80), "a plug-in without plugin.ini is disabled"
    assert host.status()["position"] == 0
    assert host.song_end() == 1
    assert host.song_end() == 2
    status = host.status()
    assert status["state"] == "playing" and status["length_s"] == 240
    assert host.commands() == [], "the plug-in sent the player nothing"
    assert host.quit() == 0
    # Quit writes a new file with every key, in the save order.
    assert read_ini(install.ini) == [(k, DEFAULTS[k]) for k in SAVE_ORDER]


def test_with_plugin_ini_the_server_answers_on_its_port(build, install, start_host):
    port = free_port()
    install.write_ini(install.demo_settings(port))
    host = start_host()
    response = get(port, "/")
    assert response.status == 302
    assert response.header("location").endswith("/playlist.cgi")
    page = get(port, "/playlist.cgi")
    assert page.status == 200 and page.header("content-type").startswith("text/html")
    assert host.quit() == 0
    assert not listening(port)


def test_quit_writes_every_key_back_in_place_keeping_changed_values(build, install, start_host):
    port = free_port()
    settings = install.demo_settings(port, AdminPassword="秘密", g_RecentlyPlayedQueueSize=4)
    install.write_ini(settings, comments=["hand-written"])
    host = start_host()
    assert host.quit() == 0
    assert read_ini(install.ini) == settings
    assert install.ini_bytes().startswith(b"; hand-written\r\n[HTTP Request]\r\n")


def test_config_restarts_the_server_on_a_new_port_and_stops_it_when_disabled(build, install, start_host):
    if build.is_win32:
        pytest.skip("the Windows config entry shows the settings sheet (test_settings_dialog.py)")
    first, second = free_port(), free_port()
    while second == first:
        second = free_port()
    install.write_ini(install.demo_settings(first))
    host = start_host()
    assert get(first, "/style.css").status == 200

    install.write_ini(install.demo_settings(second))
    written = install.ini_bytes()
    assert host.command("config") == "ok"
    assert get(second, "/style.css").status == 200
    assert not listening(first)
    assert install.ini_bytes() == written, "the settings were read from the file, not written to it"

    install.write_ini(install.demo_settings(second, bDisabled="TRUE"))
    assert host.command("config") == "ok"
    assert not listening(second)

    install.write_ini(install.demo_settings(second))
    assert host.command("config") == "ok"
    assert get(second, "/style.css").status == 200
    assert host.quit() == 0


def test_a_port_in_use_is_reported_and_the_player_goes_on(build, install, start_host):
    if build.is_win32:
        pytest.skip("the Windows message box waits for a click")
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as taken:
        taken.bind(("0.0.0.0", 0))
        taken.listen(1)
        port = taken.getsockname()[1]
        install.write_ini(install.demo_settings(port))
        host = start_host()
        assert host.song_end() == 1
        assert host.quit() == 0
    expected = (PLUGIN_DESCRIPTION + ": サーバーの起動に失敗しました\n").encode("cp932")
    assert expected in host.stderr()


def test_with_an_empty_queue_the_player_advances_by_itself_and_stops_after_the_last_song(install, start_host):
    install.write_ini(install.demo_settings(free_port()))
    host = start_host()
    for expected in range(1, 10):
        assert host.song_end() == expected
    assert host.status()["state"] == "playing"
    assert host.song_end() == 9
    assert host.status()["state"] == "stopped"
    assert host.commands() == []
    assert host.quit() == 0


def test_end_of_input_quits_like_the_quit_command(install, start_host):
    host = start_host()
    host.process.stdin.close()
    assert host.wait() == 0
    assert os.path.exists(install.ini), "quit saved the settings"
