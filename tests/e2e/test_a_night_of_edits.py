"""A night of playlist edits (issue 26): listeners keep pages open while the
DJ removes, moves and loads songs. Every old request link asks for the song
it showed, or answers 12 when that song left; the queue rules follow the
songs, not the rows; after a load the listener's page, the operator's view
and the limits agree; and a request from a rendered .html page comes back
to that page with its message."""

import os
import re
import shutil

from ambervox_host import error_code, get, user_id_cookie, wait_until, write_playlist

FOLLOW_SECONDS = 5
ALICE, BOB, CAROL = "127.0.0.2", "127.0.0.3", "127.0.0.4"

SONG_ROW = re.compile(r'<span class="song-title">([^<]*)</span><a class="song-req" href="([^"]*)"')
QUEUE_ROW = re.compile(r'<li class="queue-row"><span class="q-pos">(.*?)</span><span class="q-title">([^<]*)</span>'
                       r'<span class="q-cancel">(.*?)</span></li>')


def night_songs(prefix, count):
    return [(200, "Night Band - %s%02d" % (prefix, i), "C:\\Night\\%s%02d.mp3" % (prefix, i)) for i in range(count)]


class Listener:
    """A browser on its own loopback address, with its UserID cookie."""

    def __init__(self, port, address):
        self.port, self.address = port, address
        self.cookie = user_id_cookie(port)

    def page(self, target="/playlist.cgi"):
        return get(self.port, target, {"Cookie": self.cookie}, source=self.address).body.decode("cp932")

    def links(self, target="/playlist.cgi"):
        """The page's request links by the title they show."""
        return dict(SONG_ROW.findall(self.page(target)))

    def click(self, link, referer_path="/playlist.cgi"):
        referer = "http://127.0.0.1:%d%s" % (self.port, referer_path)
        response = get(self.port, "/" + link, {"Cookie": self.cookie, "Referer": referer}, source=self.address)
        assert response.status == 302
        return response.header("location")

    def ask(self, link):
        return error_code(self.click(link))

    def queue(self):
        """The queue as this listener's page shows it: (number, title, cancel link or '')."""
        return QUEUE_ROW.findall(self.page())


def titles_in_order(port):
    return [title for title, _ in SONG_ROW.findall(get(port, "/playlist.cgi").body.decode("cp932"))]


def operator_queue(port):
    """The operator's view of the queue: (number, title)."""
    body = get(port, "/admin.cgi?pass=demo").body.decode("cp932")
    return [(re.sub(r"<[^>]*>|&nbsp;|Delete", "", number), title) for number, title, _ in QUEUE_ROW.findall(body)]


def song(n):
    return "Night Band - S%02d" % n


def follow(port, condition):
    assert wait_until(lambda: condition(titles_in_order(port)), timeout=FOLLOW_SECONDS), titles_in_order(port)


def test_old_links_and_the_queue_rules_follow_the_songs_through_a_night_of_edits(tmp_path, station):
    # Recently played looks at the last play only, the consecutive rule at
    # the last three: both rules can be seen apart.
    host, port = station(g_MaxRequestsPerIP=3, g_RecentlyPlayedQueueSize=1, g_MaxConsecutivePerIP=3)
    path = write_playlist(os.path.join(str(tmp_path), "night.m3u8"), night_songs("S", 12))
    assert host.ok("load " + path) == "ok 12 entries"
    follow(port, lambda titles: titles == ["Night Band - S%02d" % i for i in range(12)])
    alice, bob, carol = Listener(port, ALICE), Listener(port, BOB), Listener(port, CAROL)
    # The pages the listeners keep open all night.
    old = alice.links()
    assert old == bob.links() == carol.links()
    assert all(re.fullmatch(r"request\.cgi\?listpos=\d+&song=[A-Za-z0-9_-]{11}", link) for link in old.values()), old

    # The DJ removes the first song: each old link asks for the song it showed.
    assert host.ok("remove 0") == "ok"
    follow(port, lambda titles: titles[0] == song(1))
    assert alice.ask(old[song(5)]) == 1
    assert operator_queue(port) == [("1", song(5))]
    assert alice.ask(old[song(0)]) == 12, "the song left the playlist"
    # Without the song's identity (a hand-typed address) the row decides, as before.
    assert alice.ask("request.cgi?listpos=5") == 1
    assert operator_queue(port) == [("1", song(5)), ("2", song(6))]

    # The DJ moves song 5 (row 4) to the top: it is still the queued song.
    assert host.ok("move 4 0") == "ok"
    follow(port, lambda titles: titles[0] == song(5))
    assert bob.ask(old[song(5)]) == 6, "already queued, wherever it moved"
    assert bob.ask(old[song(1)]) == 1, "row 1 held song 1 then and now; never asked for"
    assert [title for _, title in operator_queue(port)] == [song(5), song(6), song(1)]

    # The songs play from where they stand now.
    assert host.song_end() == 0
    assert host.commands() == ["set-position:0", "play"]  # song 5, Alice's
    assert host.song_end() == 5
    assert host.commands() == ["set-position:5", "play"]  # song 6, Alice's
    # Recently played (the last play, anybody's): song 6; consecutive (the
    # last three of the same listener): songs 5 and 6 for Alice.
    assert carol.ask(old[song(6)]) == 7, "song 6 was just played"
    assert alice.ask(old[song(5)]) == 7, "Alice had song 5 two plays ago"
    assert carol.ask(old[song(5)]) == 1, "another listener may ask for song 5 again"
    assert carol.ask(old[song(7)]) == 1, "song 7, one row up since the removal"

    # Alice fills her share; then the DJ loads the late list, which keeps
    # only songs 1 and 9 (the same files) of the first.
    for n in (8, 9, 10):
        assert alice.ask(old[song(n)]) == 1
    assert alice.ask(old[song(11)]) == 8, "Alice has three waiting"
    second = night_songs("T", 6)
    second[1] = (200, song(1), "C:\\Night\\S01.mp3")
    second[3] = (200, song(9), "C:\\Night\\S09.mp3")
    assert host.ok("load " + write_playlist(os.path.join(str(tmp_path), "late.m3u8"), second)) == "ok 6 entries"
    follow(port, lambda titles: titles[0] == "Night Band - T00")
    # The requests whose song left leave the queue with the rebuild; the
    # page, the operator's view and the numbering agree on what waits.
    assert wait_until(lambda: operator_queue(port) == [("1", song(1)), ("2", song(9))], timeout=FOLLOW_SECONDS), \
        operator_queue(port)
    waiting = [song(1), song(9)]
    assert [(n, t) for n, t, _ in alice.queue()] == [("1", song(1)), ("2", song(9))]
    assert [bool(cancel) for _, _, cancel in alice.queue()] == [False, True]
    assert [bool(cancel) for _, _, cancel in bob.queue()] == [True, False]
    # ... and the limits: Alice has one request waiting, so two more fit.
    assert alice.ask(old[song(10)]) == 12, "song 10 left the playlist"
    assert alice.ask(old[song(9)]) == 6, "song 9 is still queued, now at row 3"
    late = alice.links()
    assert alice.ask(late["Night Band - T00"]) == 1
    assert alice.ask(late["Night Band - T02"]) == 1
    assert alice.ask(late["Night Band - T04"]) == 8
    waiting += ["Night Band - T00", "Night Band - T02"]
    assert operator_queue(port) == [(str(i + 1), t) for i, t in enumerate(waiting)]
    assert [(n, t) for n, t, _ in carol.queue()] == [(str(i + 1), t) for i, t in enumerate(waiting)]
    assert host.quit() == 0


def test_a_request_from_a_rendered_html_page_comes_back_to_it_with_the_message(tmp_path, build, station):
    # The station's front page: an .html file of the web root, rendered with
    # every marker.
    root = os.path.join(str(tmp_path), "site")
    shutil.copytree(build.skin_dir, root)
    shutil.copy(os.path.join(root, "playlist.html"), os.path.join(root, "index.html"))
    host, port = station(WebRoot=build.folder_setting(root))
    dave = Listener(port, ALICE)
    links = dave.links("/index.html")
    assert len(links) == 10, links
    message = re.compile(r'<p class="message" role="status">([^<]*)</p>')
    assert message.search(dave.page("/index.html")).group(1) == ""
    title, link = sorted(links.items())[0]
    location = dave.click(link, "/index.html")
    assert location == "http://127.0.0.1:%d/index.html?errorCode=1" % port
    back = get(port, location[len("http://127.0.0.1:%d" % port):], {"Cookie": dave.cookie}, source=ALICE)
    assert back.status == 200
    shown = message.search(back.body.decode("cp932")).group(1)
    assert shown and shown == message.search(dave.page("/playlist.cgi?errorCode=1")).group(1)
    assert [t for _, t, _ in dave.queue()] == [title]
    # A second request from the page it came back to: its message replaces the first.
    again = dave.click(link, "/index.html?errorCode=1")
    assert again == "http://127.0.0.1:%d/index.html?errorCode=6" % port
    assert host.quit() == 0
