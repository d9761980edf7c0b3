"""The user guides against the product they describe: every skin marker the
template engine knows, every result message the pages show, every settings
key the plug-in writes, the start-failure message and every text of the
settings dialog appear in both guides (docs/guide.ja.md, docs/guide.en.md).
The messages, keys and failure text are taken from the running plug-in, so a
changed text in the product fails here until the guides follow."""

import glob
import os
import re
import socket

import pytest

from ambervox_host import Host, Install, free_port, get, read_ini

SOURCE = os.environ.get("AMBERVOX_SOURCE_DIR", "")
GUIDES = ("guide.ja.md", "guide.en.md")
RESULT_CODES = range(1, 15)


@pytest.fixture(scope="module")
def guides():
    texts = {}
    for name in GUIDES:
        with open(os.path.join(SOURCE, "docs", name), encoding="utf-8") as f:
            texts[name] = f.read()
    return texts


def missing_from(guides, items):
    return {name: [i for i in items if i not in text] for name, text in guides.items() if
            any(i not in text for i in items)}


def marker_table():
    """The markers of the template engine's table (src/pages/markers.h), read
    from its rows in template_renderer.cpp: each row names the constant that
    holds the marker's text."""
    with open(os.path.join(SOURCE, "src", "pages", "template_renderer.cpp"), encoding="utf-8") as f:
        source = f.read()
    constants = dict(re.findall(r'constexpr const char (k\w+)\[\] = "(%%[A-Z_]+%%)";', source))
    table = source[source.index("const Marker kMarkers[] = {"):]
    table = table[:table.index("};")]
    rows = re.findall(r'\{(k\w+), MarkerFamily::k\w+, ', table)
    return [constants[name] for name in rows]


def test_every_marker_of_the_template_engine_is_described(guides):
    markers = set()
    for path in glob.glob(os.path.join(SOURCE, "src", "pages", "*.cpp")):
        with open(path, encoding="utf-8") as f:
            markers.update(re.findall(r'"(%%[A-Z_]+%%)"', f.read()))
    assert len(markers) >= 16, markers
    assert missing_from(guides, sorted(markers)) == {}
    # The engine knows no marker outside its table, and the table holds each
    # once: what the guides are checked against is what the engine expands.
    table = marker_table()
    assert len(table) == len(set(table)), table
    assert set(table) == markers, sorted(set(table) ^ markers)


def test_every_result_message_and_settings_key_of_the_plugin_is_described(build, guides, tmp_path):
    # A skin whose page is nothing but the result message.
    root = tmp_path / "skin"
    root.mkdir()
    (root / "messages.html").write_bytes(b"%%ERROR%%")
    install = Install(build, tmp_path)
    port = free_port()
    install.write_ini(install.demo_settings(port, WebRoot=build.folder_setting(str(root)),
                                            Playlistfile="messages.html"))
    host = Host(build, install)
    try:
        messages = []
        for code in RESULT_CODES:
            body = get(port, "/playlist.cgi?errorCode=%d" % code).body
            messages.append(body.rstrip(b"\0").decode("cp932"))
        assert host.quit() == 0
    finally:
        host.close()
    assert all(messages) and len(set(messages)) == len(messages), messages
    assert missing_from(guides, messages) == {}

    keys = [key for key, _ in read_ini(install.ini)]
    assert len(keys) == 13, keys
    assert missing_from(guides, ["`%s`" % k for k in keys]) == {}


def test_the_start_failure_message_is_described(build, guides, tmp_path):
    install = Install(build, tmp_path)
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as taken:
        taken.bind(("0.0.0.0", 0))
        taken.listen(1)
        install.write_ini(install.demo_settings(taken.getsockname()[1]))
        host = Host(build, install)
        try:
            assert host.quit() == 0
        finally:
            host.close()
    # The console stands in for the message box: "<caption>: <text>".
    line = host.stderr().decode("cp932").strip().splitlines()[-1]
    caption, text = line.split(": ", 1)
    assert caption == "Ambervox Plugin TOVA CUSTOM 4.4.0"
    assert missing_from(guides, [caption, text]) == {}


def test_every_text_of_the_settings_dialog_is_described(guides):
    rc = os.path.join(SOURCE, "resources", "ambervox.rc")
    if not os.path.exists(rc):
        pytest.skip("the settings dialog's resources are not in this tree")
    with open(rc, encoding="utf-8") as f:
        source = f.read()
    labels = re.findall(r'^\s*(?:CAPTION|AUTOCHECKBOX|CHECKBOX|GROUPBOX|LTEXT|RTEXT|CTEXT|PUSHBUTTON|'
                        r'DEFPUSHBUTTON)\s+"([^"]+)"', source, re.MULTILINE)
    labels = [label for label in labels if label != "..."]
    assert len(labels) >= 25, labels
    assert missing_from(guides, labels) == {}
