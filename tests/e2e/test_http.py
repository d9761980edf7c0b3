"""The server as a browser sees it before any page logic: redirects, the
admin password form, static files with their dates and types."""

import gzip
import os

import pytest

from ambervox_host import free_port, get


@pytest.fixture
def server(install, start_host):
    port = free_port()
    install.write_ini(install.demo_settings(port))
    host = start_host()
    yield port
    assert host.quit() == 0


def test_static_files_come_with_type_date_and_not_modified_answers(build, server):
    with open(os.path.join(build.skin_dir, "style.css"), "rb") as f:
        css = f.read()
    response = get(server, "/style.css")
    assert response.status == 200
    assert response.header("content-type").startswith("text/css")
    assert response.body == css
    modified = response.header("last-modified")
    assert modified and modified.endswith("GMT")
    assert get(server, "/style.css", {"If-Modified-Since": modified}).status == 304
    assert get(server, "/no-such-file.css").status == 404


def test_the_admin_password_form_and_a_new_browser_cookie(server):
    response = get(server, "/admin.cgi")
    assert response.status == 200
    assert b'<form method="GET" action="admin.cgi">' in response.body
    assert response.header("set-cookie").startswith("UserID=")


def test_the_playlist_page_is_rendered_and_may_be_compressed(server):
    plain = get(server, "/playlist.cgi")
    assert plain.status == 200
    packed = get(server, "/playlist.cgi", {"Accept-Encoding": "gzip"})
    assert packed.status == 200
    assert packed.header("content-encoding") == "gzip"
    assert b"<html" in gzip.decompress(packed.body).lower()
