"""Fixtures of the end-to-end suite: the build under test, a fresh plug-in
folder per test, a small playlist, and hosts that are always shut down."""

import os

import pytest

from ambervox_host import Build, Host, Install, free_port, write_playlist

SONGS = [
    (200, "Ivory Tramline - Secret Signal", "C:\\Music\\01.mp3"),
    (180, "千夜一夜ラジオ - 優しいプラネタリウム", "C:\\Music\\02.mp3"),
    (240, "Nova Thistle - Little Garden", "C:\\Music\\03.mp3"),
    (150, "みなも - 水面のワルツ", "C:\\Music\\04.mp3"),
    (210, "Lumen Drive - Afterglow Engine", "C:\\Music\\05.mp3"),
    (190, "表示テスト - ソフトウェア", "C:\\Music\\表示.mp3"),
    (220, "Pale Ferris - Late Afternoon", "C:\\Music\\07.mp3"),
    (230, "深海タイプライター - Restless Signal", "C:\\Music\\08.mp3"),
    (170, "Ivory Tramline - Harbour Lights", "C:\\Music\\09.mp3"),
    (160, "夏目坂シグナル - Restless Radio", "C:\\Music\\10.mp3"),
]


@pytest.fixture(scope="session")
def build():
    return Build()


@pytest.fixture
def install(build, tmp_path):
    return Install(build, tmp_path)


@pytest.fixture
def playlist(tmp_path):
    return write_playlist(os.path.join(str(tmp_path), "songs.m3u8"), SONGS)


@pytest.fixture
def start_host(build, install, playlist):
    """start_host(**options) -> Host; every host is closed after the test."""
    hosts = []

    def start(**options):
        options.setdefault("playlist", playlist)
        host = Host(build, install, **options)
        hosts.append(host)
        return host

    yield start
    for host in hosts:
        host.close()


@pytest.fixture
def station(install, start_host):
    """station(host_options=None, **settings) -> (host, port): a running
    plug-in with the demo settings (password "demo") and those changes."""

    def start(host_options=None, **settings):
        port = free_port()
        install.write_ini(install.demo_settings(port, **settings))
        host = start_host(**(host_options or {}))
        return host, port

    return start
