// The pages behind a running HttpServer on a loopback port, with the
// simulated player: a request and the page it leads back to, the admin
// routes, long template lines, and the cache refresh reached through the
// server.
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "http/http_server.h"
#include "pages/cache_refresher.h"
#include "pages/message_table.h"
#include "pages/site_handler.h"
#include "unit/pages/pages_test_support.h"

namespace ambervox {
namespace {

using testing::Exchange;
using testing::NumberedSongs;
using testing::PageTestBed;
using testing::ParseResponse;
using testing::Response;

// The port the suite's server listens on, chosen by the system.
std::uint16_t g_port = 0;
constexpr const char kCookie[] = "Cookie: UserID=0123ABCD-4567-89EF-0A1B-2C3D4E5F6071\r\n";
const std::string kCancelText = "\x83\x4C\x83\x83\x83\x93\x83\x5A\x83\x8B";  // キャンセル in CP932

const std::string kTemplate =
    "<p>%%ERROR%%</p>\r\n"
    "<a href=\"request.cgi?listpos=%%PLAYLISTPOS%%\">%%PLAYLISTENTRY%%</a>\r\n"
    "<li>%%QUEUELISTPOS%% %%QUEUELISTENTRY%% %%QUEUELISTUSERCANCEL%%</li>\r\n"
    "<form>%%ADMINHIDDENFIELD%%</form>\r\n"
    "</html>\n";

// What a request link carries after the index for song i (NumberedSongs).
std::string SongParameter(int i) {
  const ByteString file = ByteString::Format("song%d.mp3", i);
  return "&song=" + std::string(SongIdText(SongOfFile(file)).CStr());
}

bool Gunzip(const std::string& in, std::string* out) {
  z_stream stream{};
  if (inflateInit2(&stream, 16 + 15) != Z_OK) return false;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  stream.avail_in = static_cast<uInt>(in.size());
  int result = Z_OK;
  char chunk[4096];
  while (result == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(chunk);
    stream.avail_out = sizeof chunk;
    result = inflate(&stream, Z_NO_FLUSH);
    out->append(chunk, sizeof chunk - stream.avail_out);
  }
  inflateEnd(&stream);
  return result == Z_STREAM_END && stream.avail_in == 0;
}

class CountingRefresher : public CacheRefresher {
 public:
  bool StartCacheRefresh(platform::WindowHandle) override {
    ++calls;
    return true;
  }
  std::atomic<int> calls{0};
};

class PagesServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new testing::TempWebRoot;
    root_->Write("playlist.html", kTemplate);
    bed_ = new PageTestBed(NumberedSongs(20));
    bed_->settings.SetWebRoot(root_->Root().c_str());
    bed_->settings.SetPlaylistFile("playlist.html");
    bed_->settings.SetMaxEntries(2);
    site_ = new SiteHandler(&bed_->queue, &bed_->settings);
    site_->SetCacheRefresher(&refresher_);
    server_ = new HttpServer(*site_);
    ASSERT_TRUE(server_->StartOnAnyPort());
    g_port = static_cast<std::uint16_t>(server_->Port());
  }
  static void TearDownTestSuite() {
    delete server_;
    delete site_;
    delete bed_;
    delete root_;
  }
  void SetUp() override { bed_->queue.ClearAll(); }

  static Response Get(const std::string& target, const std::string& moreHeaders = "") {
    return ParseResponse(Exchange(g_port, "GET " + target + " HTTP/1.1\r\n" + kCookie + moreHeaders + "\r\n"));
  }

  static testing::TempWebRoot* root_;
  static PageTestBed* bed_;
  static SiteHandler* site_;
  static HttpServer* server_;
  static CountingRefresher refresher_;
};

testing::TempWebRoot* PagesServerTest::root_ = nullptr;
PageTestBed* PagesServerTest::bed_ = nullptr;
SiteHandler* PagesServerTest::site_ = nullptr;
HttpServer* PagesServerTest::server_ = nullptr;
CountingRefresher PagesServerTest::refresher_;

TEST_F(PagesServerTest, ARequestLeadsBackToAPageThatShowsItsResultAndTheQueue) {
  const std::string origin = "http://127.0.0.1:" + std::to_string(g_port);
  Response redirect = Get("/request.cgi?listpos=12", "Referer: " + origin + "/playlist.cgi?current=0\r\n");
  ASSERT_EQ(redirect.statusLine, "HTTP/1.1 302 Moved Temporarily");
  ASSERT_EQ(redirect.Get("Location"), origin + "/playlist.cgi?current=0&errorCode=1");
  EXPECT_EQ(redirect.Count("Set-Cookie"), 0);

  Response page = Get(redirect.Get("Location").substr(origin.size()), "Accept-Encoding: gzip, deflate\r\n");
  ASSERT_EQ(page.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(page.Get("Content-Encoding"), "gzip");
  std::string body;
  ASSERT_TRUE(Gunzip(page.body, &body));
  EXPECT_EQ(body, "<p>" + std::string(MessageTable::Text(1)) +
                      "</p>\r\n"
                      "<a href=\"request.cgi?listpos=0" +
                      SongParameter(0) +
                      "\">Artist 0 - Song 0</a>\r\n"
                      "<a href=\"request.cgi?listpos=1" +
                      SongParameter(1) +
                      "\">Artist 1 - Song 1</a>\r\n"
                      "<li>1 Artist 12 - Song 12 <a href=\"request.cgi?action=delete&listpos=1&index=12" +
                      SongParameter(12) + "\">" + kCancelText + "</a></li>\r\n<form></form>\r\n</html>\n" +
                      std::string(1, '\0'));
}

TEST_F(PagesServerTest, AdminRoutes) {
  for (const char* target : {"/admin.cgi?", "/admin.cgix", "/admin.cgi?pass=wrong&action=next"}) {
    Response r = Get(target);
    EXPECT_EQ(r.statusLine, "HTTP/1.1 302 Moved Temporarily") << target;
    EXPECT_EQ(r.Get("Location"), "/playlist.cgi?errorCode=10") << target;
  }
  bed_->Queue(3, 2);
  Response view = Get("/admin.cgi?pass=s3cret&action=Play&current=18");
  ASSERT_EQ(view.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(view.body,
            "<p></p>\r\n"
            "<a href=\"request.cgi?listpos=18" +
                SongParameter(18) +
                "&pass=s3cret\">Artist 18 - Song 18</a>\r\n"
                "<a href=\"request.cgi?listpos=19" +
                SongParameter(19) +
                "&pass=s3cret\">Artist 19 - Song 19</a>\r\n"
                "<li><a href=\"admin.cgi?pass=s3cret&action=delete&listpos=1&index=3" +
                SongParameter(3) +
                "\">Delete</a>&nbsp;1 Artist 3 - "
                "Song 3 <font "
                "size=\"-1\">10.0.0.2 / A0000002-0B0C-0000-0000-000000000002</font></li>\r\n"
                "<form><input type=\"hidden\" name=\"pass\" value=\"s3cret\"></form>\r\n</html>\n" +
                std::string(1, '\0'));
  EXPECT_TRUE(bed_->player.TakeCommands().empty());

  int before = refresher_.calls;
  Response refresh = Get("/admin.cgi?pass=s3cret&action=refreshcache");
  EXPECT_EQ(refresh.Get("Location"), "/admin.cgi?pass=s3cret");
  EXPECT_EQ(refresher_.calls, before + 1);
}

TEST_F(PagesServerTest, LongTemplateLinesAreRenderedInPiecesOf8191Bytes) {
  // The first marker straddles the end of the first piece and is not seen.
  const std::string head(8185, 'a');
  root_->Write("long.html",
               head + "%%DISPLAYMODE%% %%SONG_LENGTH%%\r\n" + std::string(8191, 'b') + "%%SONG_LENGTH%%\n");
  Response r = Get("/long.html");
  EXPECT_EQ(r.body, head + "%%DISPLAYMODE%% 200\r\n" + std::string(8191, 'b') + "200\n" + std::string(1, '\0'));
}

// A skin is kept parsed between requests, and a small file as it is; an
// edit shows on the next request, whether it changes the file's size or,
// keeping the size, only its last write time. (Times an hour back: a file
// written just now is read afresh every time anyway.)
TEST_F(PagesServerTest, AnEditedSkinOrFileShowsOnTheNextRequest) {
  // A skin's page ends with the terminating zero byte; a file is sent as it is.
  const std::pair<std::string, std::string> files[] = {{"edited.html", std::string(1, '\0')}, {"edited.css", ""}};
  for (const auto& file : files) {
    const std::string& name = file.first;
    const std::string& end = file.second;
    const std::filesystem::path path = root_->PathOf(name);
    const auto anHourAgo = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    const auto write = [&](const std::string& text, std::filesystem::file_time_type when) {
      root_->Write(name, text);
      std::filesystem::last_write_time(path, when);
    };
    write("<p>first</p>\n", anHourAgo);
    EXPECT_EQ(Get("/" + name).body, "<p>first</p>\n" + end);
    EXPECT_EQ(Get("/" + name).body, "<p>first</p>\n" + end);
    write("<p>other</p>\n", anHourAgo + std::chrono::seconds(10));
    EXPECT_EQ(Get("/" + name).body, "<p>other</p>\n" + end);
    write("<p>the third</p>\n", anHourAgo + std::chrono::seconds(10));
    EXPECT_EQ(Get("/" + name).body, "<p>the third</p>\n" + end) << name;
  }
}

}  // namespace
}  // namespace ambervox
