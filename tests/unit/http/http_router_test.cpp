// Routing and static files, end to end: a running HttpServer on a loopback
// port with a temporary web root, asked with raw request bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "common/plugin_settings.h"
#include "http/http_connection.h"
#include "http/http_server.h"
#include "http/http_time.h"
#include "http/mime_table.h"
#include "http/web_root.h"
#include "platform/files.h"
#include "requests/playlist_cache.h"
#include "requests/request_queue.h"
#include "unit/http/http_test_support.h"

namespace ambervox {
namespace {

using testing::Exchange;
using testing::MaskDate;
using testing::ParseResponse;
using testing::Response;

// The port the suite's server listens on, chosen by the system.
std::uint16_t g_port = 0;
constexpr const char kCookieId[] = "0123ABCD-4567-89EF-0A1B-2C3D4E5F6071";
constexpr const char kServerLine[] = "Server: Corvane Ambervox TOVA CUSTOM/4.4.0.0 Server\r\n";
const std::string kPlaylistTemplate = "<html>\r\n<body>%%NO_SUCH_MARKER%%\r\n</body></html>\n";

std::string Get(const std::string& target, const std::string& moreHeaders = "") {
  return "GET " + target + " HTTP/1.1\r\nHost: localhost\r\nCookie: UserID=" + kCookieId + "\r\n" + moreHeaders +
         "\r\n";
}

// The error page the server sends, with its terminating zero byte.
std::string ErrorPage(int status, const std::string& reason, const std::string& detail) {
  return "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\r\n<HTML><HEAD><TITLE>" + std::to_string(status) + " " +
         reason + "</TITLE></HEAD><BODY>\r\n<H1>" + reason + "</H1>\r\n<P>" + detail +
         "</P>\r\n<HR>\r\n<ADDRESS><A HREF=\"https://ambervox.invalid/\">Corvane Ambervox TOVA CUSTOM/4.4.0.0 "
         "Server</A></ADDRESS>\n</BODY></HTML>\r\n" +
         std::string(1, '\0');
}

class RouterTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    site_ = new testing::ServedSite("playlist.html");
    root_ = &site_->root;
    settings_ = &site_->settings;
    server_ = &site_->server;
    root_->Write("playlist.html", kPlaylistTemplate);
    root_->Write("style.css", "body { color: red; }\n");
    root_->Write("banner.PNG", "not really a png");
    root_->Write("logo.png", "PNG bytes");
    root_->Write("script.js", "var x = 1;");
    root_->Write("sub/file.txt", "in the sub folder");
    root_->Write("a..b.txt", "dots inside a name");
    root_->Write("my%20page.txt", "percent in the name");
    root_->Write("my page.txt", "space in the name");
    root_->Write("only space.css", "decoded");
    root_->Write("100%.txt", "a percent sign that escapes nothing");
    // Names Windows treats specially, written where the system allows it
    // (on Windows "nul.css" is the NUL device and "dotted.css." is
    // "dotted.css"): refused whether or not such a file exists.
    root_->Write("nul.css", "device name");
    root_->Write("dotted.css.", "trailing dot");
    root_->Write("plugin.ini", "[HTTP Request]\r\nAdminPassword=secret\r\n");
    root_->Write("sub/PLUGIN.INI", "[HTTP Request]\r\nAdminPassword=secret\r\n");
    root_->Write("tune.mp3", std::string("ID3\0\x01\x02", 6));
    root_->WriteOutside("secret.txt", "outside the web root");
    ASSERT_TRUE(site_->Start());
    g_port = site_->port;
  }
  static void TearDownTestSuite() { delete site_; }
  void TearDown() override { settings_->SetWebRoot(root_->Root().c_str()); }

  static Response Ask(const std::string& target, const std::string& moreHeaders = "") {
    return ParseResponse(Exchange(g_port, Get(target, moreHeaders)));
  }

  static testing::ServedSite* site_;
  // Parts of the site.
  static testing::TempWebRoot* root_;
  static PluginSettings* settings_;
  static HttpServer* server_;
};

testing::TempWebRoot* RouterTest::root_ = nullptr;
PluginSettings* RouterTest::settings_ = nullptr;
testing::ServedSite* RouterTest::site_ = nullptr;
HttpServer* RouterTest::server_ = nullptr;

TEST_F(RouterTest, SiteRootRedirectsToThePlaylist) {
  HttpTime before = platform::CurrentTime();
  std::string slash = Exchange(g_port, Get("/"));
  std::string empty = Exchange(g_port, "GET\r\nCookie: UserID=" + std::string(kCookieId) + "\r\n\r\n");
  HttpTime after = platform::CurrentTime();
  const std::string expected = "HTTP/1.1 302 Moved Temporarily\r\n" + std::string(kServerLine) +
                               "Date: <date>\r\nLocation: /playlist.cgi\r\nConnection: close\r\n\r\n";
  EXPECT_EQ(MaskDate(slash, before, after), expected);
  EXPECT_EQ(MaskDate(empty, before, after), expected);
}

TEST_F(RouterTest, OtherMethodsAreNotImplemented) {
  HttpTime before = platform::CurrentTime();
  std::string post = Exchange(g_port, "POST /playlist.cgi HTTP/1.1\r\nCookie: UserID=" + std::string(kCookieId) +
                                          "\r\nContent-Length: 3\r\n\r\nabc");
  HttpTime after = platform::CurrentTime();
  EXPECT_EQ(MaskDate(post, before, after), "HTTP/1.1 501 Not Implemented\r\n" + std::string(kServerLine) +
                                               "Date: <date>\r\nConnection: close\r\n\r\n");
  for (const char* method : {"get", "HEAD", "Get"}) {
    Response r = ParseResponse(
        Exchange(g_port, std::string(method) + " /style.css HTTP/1.1\r\nCookie: UserID=" + kCookieId + "\r\n\r\n"));
    EXPECT_EQ(r.statusLine, "HTTP/1.1 501 Not Implemented") << method;
    EXPECT_TRUE(r.body.empty());
  }
}

TEST_F(RouterTest, FirstVisitGetsExactlyOneCookieAfterTheLengthAndBeforeExtras) {
  const std::string request = "GET /style.css HTTP/1.1\r\n\r\n";
  Response file = ParseResponse(Exchange(g_port, request));
  EXPECT_EQ(file.Count("Set-Cookie"), 1);
  EXPECT_EQ(file.IndexOf("Set-Cookie"), file.IndexOf("Content-Length") + 1);
  EXPECT_EQ(file.IndexOf("Last-Modified"), file.IndexOf("Set-Cookie") + 1);
  std::string cookie = file.Get("Set-Cookie");
  ASSERT_EQ(cookie.substr(0, 7), "UserID=");
  UserId id;
  EXPECT_EQ(id.ScanText(cookie.substr(7).c_str()), 11);
  EXPECT_NE(id, UserId());

  Response redirect = ParseResponse(Exchange(g_port, "GET / HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(redirect.Count("Set-Cookie"), 1);
  EXPECT_EQ(redirect.IndexOf("Set-Cookie") + 1, redirect.IndexOf("Location"));
  Response missing = ParseResponse(Exchange(g_port, "GET /missing.txt HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(missing.Count("Set-Cookie"), 1);
  EXPECT_EQ(missing.IndexOf("Set-Cookie"), missing.IndexOf("Content-Length") + 1);
  // Each first visit is a new browser.
  EXPECT_NE(redirect.Get("Set-Cookie").substr(0, 43), cookie.substr(0, 43));
}

TEST_F(RouterTest, KnownBrowserGetsNoCookie) {
  for (const char* target : {"/", "/style.css", "/missing.txt", "/playlist.cgi", "/admin.cgi"}) {
    EXPECT_EQ(Ask(target).Count("Set-Cookie"), 0) << target;
  }
}

TEST_F(RouterTest, MissingFileIsAnsweredWithTheNotFoundPage) {
  HttpTime before = platform::CurrentTime();
  std::string raw = Exchange(g_port, Get("/missing.txt"));
  HttpTime after = platform::CurrentTime();
  std::string page = ErrorPage(404, "Not Found", "The requested URL /missing.txt was not found on this server.");
  EXPECT_EQ(MaskDate(raw, before, after),
            "HTTP/1.1 404 Not Found\r\n" + std::string(kServerLine) +
                "Date: <date>\r\nContent-Type: text/html; charset=iso-8859-1\r\nContent-Length: " +
                std::to_string(page.size()) + "\r\nConnection: close\r\n\r\n" + page);
  EXPECT_EQ(raw.back(), '\0');
}

TEST_F(RouterTest, StaticFilesCarryTheirTypeLengthAndLastModified) {
  struct Case {
    const char* target;
    const char* contentType;  // "" for none
    std::string body;
  } cases[] = {
      {"/style.css", "text/css", "body { color: red; }\n"},
      {"/script.js", "text/javascript", "var x = 1;"},
      {"/logo.png", "image/png", "PNG bytes"},
      {"/banner.PNG", "", "not really a png"},  // extensions are case-sensitive
      {"/sub/file.txt", "", "in the sub folder"},
      {"/tune.mp3", "audio/mpeg", std::string("ID3\0\x01\x02", 6)},
  };
  for (const Case& c : cases) {
    Response r = Ask(c.target);
    EXPECT_EQ(r.statusLine, "HTTP/1.1 200 OK") << c.target;
    EXPECT_EQ(r.Count("Content-Type"), *c.contentType ? 1 : 0) << c.target;
    EXPECT_EQ(r.Get("Content-Type"), c.contentType) << c.target;
    EXPECT_EQ(r.Get("Content-Length"), std::to_string(c.body.size())) << c.target;
    EXPECT_EQ(r.body, c.body) << c.target;
    EXPECT_EQ(r.Count("Last-Modified"), 1) << c.target;
    EXPECT_EQ(r.Count("Content-Encoding"), 0) << c.target;
    EXPECT_EQ(r.fields.back().first, "Connection");
  }
}

TEST_F(RouterTest, LastModifiedIsTheFilesWriteTime) {
  platform::FileInfo info;
  ASSERT_TRUE(platform::FindFileInfo(root_->PathOf("style.css").string().c_str(), &info));
  EXPECT_EQ(Ask("/style.css").Get("Last-Modified"),
            FormatHttpTime(TimeFromFileTime(info.lastWriteTime), kHttpDatePattern).CStr());
}

TEST_F(RouterTest, IfModifiedSinceGivesNotModifiedUpToTheFileTime) {
  std::string lastModified = Ask("/style.css").Get("Last-Modified");
  ASSERT_FALSE(lastModified.empty());
  HttpTime before = platform::CurrentTime();
  std::string raw = Exchange(g_port, Get("/style.css", "If-Modified-Since: " + lastModified + "\r\n"));
  HttpTime after = platform::CurrentTime();
  EXPECT_EQ(MaskDate(raw, before, after), "HTTP/1.1 304 Not Modified\r\n" + std::string(kServerLine) +
                                              "Date: <date>\r\nContent-Type: text/html\r\nContent-Length: 0\r\n"
                                              "Connection: close\r\n\r\n");
  HttpTime fileTime = 0;
  ASSERT_EQ(ParseHttpDate(lastModified.c_str(), &fileTime), kHttpDateOk);
  std::string later = FormatHttpTime(fileTime + 3600, kHttpDatePattern).CStr();
  EXPECT_EQ(Ask("/style.css", "If-Modified-Since: " + later + "\r\n").statusLine, "HTTP/1.1 304 Not Modified");

  std::string earlier = FormatHttpTime(fileTime - 1, kHttpDatePattern).CStr();
  Response full = Ask("/style.css", "If-Modified-Since: " + earlier + "\r\n");
  EXPECT_EQ(full.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(full.body, "body { color: red; }\n");
  Response unparsable = Ask("/style.css", "If-Modified-Since: yesterday, around noon\r\n");
  EXPECT_EQ(unparsable.statusLine, "HTTP/1.1 200 OK");
}

TEST_F(RouterTest, WebRootWorksWithAndWithoutATrailingBackslash) {
  Response without = Ask("/sub/file.txt");
  settings_->SetWebRoot((root_->Root() + "\\").c_str());
  Response with = Ask("/sub/file.txt");
  EXPECT_EQ(with.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(with.body, without.body);
  EXPECT_EQ(Ask("/playlist.cgi").body, kPlaylistTemplate + std::string(1, '\0'));
}

TEST(BuildFullPath, JoinsTheRootAndThePathWithOneBackslash) {
  EXPECT_STREQ(BuildFullPath("C:\\web", "/sub/a.txt").CStr(), "C:\\web\\sub\\a.txt");
  EXPECT_STREQ(BuildFullPath("C:\\web\\", "/sub/a.txt").CStr(), "C:\\web\\sub\\a.txt");
  EXPECT_STREQ(BuildFullPath("C:\\web", "playlist.html").CStr(), "C:\\web\\playlist.html");
  EXPECT_STREQ(BuildFullPath("C:\\web\\", "playlist.html").CStr(), "C:\\web\\playlist.html");
  // Every pair is collapsed, left to right, without overlap: a network share
  // loses one of its two leading backslashes, three become two.
  EXPECT_STREQ(BuildFullPath("\\\\server\\share", "/x.css").CStr(), "\\server\\share\\x.css");
  EXPECT_STREQ(BuildFullPath("r", "/a///b").CStr(), "r\\a\\\\b");
  // The trail byte 0x5C of a two-byte character is not a backslash.
  EXPECT_STREQ(BuildFullPath("C:\\\x83\x5C", "playlist.html").CStr(), "C:\\\x83\x5C\\playlist.html");
  EXPECT_STREQ(BuildFullPath("C:\\\x83\x5C", "/x").CStr(), "C:\\\x83\x5C\\x");
}

TEST_F(RouterTest, NamesAreLookedUpAsSentThenDecodedAndAQueryIsNotPartOfTheName) {
  // A file whose name holds "%20" is found as it is spelt ...
  EXPECT_EQ(Ask("/my%20page.txt").body, "percent in the name");
  // ... and a name a browser escaped is found decoded, with its own type.
  Response decoded = Ask("/only%20space.css");
  EXPECT_EQ(decoded.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(decoded.body, "decoded");
  EXPECT_EQ(decoded.Get("Content-Type"), "text/css");
  EXPECT_EQ(Ask("/sub%2Ffile.txt").body, "in the sub folder");
  EXPECT_EQ(Ask("/100%.txt").body, "a percent sign that escapes nothing");
  // A cache-busting query names the same file, with the type of its name.
  Response query = Ask("/my%20page.txt?v=2");
  EXPECT_EQ(query.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(query.body, "percent in the name");
  EXPECT_EQ(Ask("/style.css?v=2").Get("Content-Type"), "text/css");
  EXPECT_EQ(Ask("/only%20space.css?v=2").body, "decoded");
  // A missing file's answer still quotes the whole target.
  Response missing = Ask("/absent.css?v=2");
  EXPECT_EQ(missing.statusLine, "HTTP/1.1 404 Not Found");
  EXPECT_EQ(missing.body,
            ErrorPage(404, "Not Found", "The requested URL /absent.css?v=2 was not found on this server."));
  // Every rule judges the decoded name.
  for (const char* target :
       {"/%2e%2e/secret.txt", "/sub%2F..%2F..%2Fsecret.txt", "/%2Ehidden", "/sub/%2e%2e%5csecret.txt"}) {
    EXPECT_EQ(Ask(target).statusLine, "HTTP/1.1 400 Bad Request") << target;
  }
  for (const char* target :
       {"/plugin%2Eini", "/nul%2Ecss", "/dotted.css%2E", "/style.css%00.html", "/style%2Ecss%3A%3A$DATA"}) {
    EXPECT_EQ(Ask(target).statusLine, "HTTP/1.1 404 Not Found") << target;
  }
}

TEST_F(RouterTest, DeviceNamesTrailingDotsTheSettingsFileAndFoldersAreNotServed) {
  const char* targets[] = {
      "/NUL",         "/nul.css",    "/CON",          "/aux.html",       "/COM1",
      "/lpt9.txt",    "/con%20.txt", "/sub/Nul",      "/PRN.x.y",        "/conin$",
      "/dotted.css.", "/style.css.", "/style.css%20", "/playlist.html.", "/style.css::$DATA",
      "/plugin.ini",  "/PLUGIN.INI", "/Plugin.Ini",   "/sub/PLUGIN.INI", "/sub/plugin.ini",
      "/sub",         "/sub/",
  };
  for (const char* target : targets) {
    Response r = Ask(target);
    EXPECT_EQ(r.statusLine, "HTTP/1.1 404 Not Found") << target;
    EXPECT_EQ(r.body.find("secret"), std::string::npos) << target;
  }
  // Names that only look alike are files like any other.
  EXPECT_EQ(Ask("/a..b.txt").statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(Ask("/style.css").statusLine, "HTTP/1.1 200 OK");
}

TEST(MimeTable, ExtensionsMatchExactlyAndTheFirstDotCounts) {
  EXPECT_STREQ(MimeTable::ContentTypeFor("html"), "text/html");
  EXPECT_STREQ(MimeTable::ContentTypeFor("htm"), "text/html");
  EXPECT_STREQ(MimeTable::ContentTypeFor("jpeg"), "image/jpeg");
  EXPECT_STREQ(MimeTable::ContentTypeFor("pls"), "audio/x-scpls");
  EXPECT_STREQ(MimeTable::ContentTypeFor("vrml"), "model/vrml");
  EXPECT_EQ(MimeTable::ContentTypeFor("HTML"), nullptr);
  EXPECT_EQ(MimeTable::ContentTypeFor("txt"), nullptr);
  EXPECT_EQ(MimeTable::ContentTypeFor("htmlx"), nullptr);
  EXPECT_STREQ(MimeTable::ContentTypeForTarget("/a/b.css"), "text/css");
  EXPECT_EQ(MimeTable::ContentTypeForTarget("/v1.2/style.css"), nullptr);  // extension "2/style.css"
  EXPECT_EQ(MimeTable::ContentTypeForTarget("/README"), nullptr);
}

TEST_F(RouterTest, PathsThatCouldLeaveTheWebRootAreRefused) {
  const char* targets[] = {
      "/../secret.txt",
      "/.hidden",
      "/./style.css",
      "/sub/../../secret.txt",
      "/sub/..\\..\\secret.txt",
      "/sub\\..\\..\\secret.txt",
      "/sub/../style.css",
      "/sub/.../secret.txt",
      "/sub/..",
      // Hidden files and folders, by every spelling of the separators.
      "//.hidden",
      "/\\.hidden",
      "/sub/.secret",
      "//.git/config",
      "/sub\\\\.git\\config",
      "/sub/./file.txt",
  };
  for (const char* target : targets) {
    Response r = Ask(target);
    EXPECT_EQ(r.statusLine, "HTTP/1.1 400 Bad Request") << target;
    EXPECT_EQ(r.body,
              ErrorPage(400, "Bad Request", std::string("Invalid File ") + target + " - relative paths not supported"))
        << target;
  }
  // Dots inside a name stay inside the root.
  EXPECT_EQ(Ask("/a..b.txt").body, "dots inside a name");
}

// The request is quoted on the error pages as text, never as markup.
TEST_F(RouterTest, ErrorPagesEscapeTheRequest) {
  EXPECT_EQ(Ask("/<script>alert(1)</script>.txt").body,
            ErrorPage(404, "Not Found",
                      "The requested URL /&lt;script&gt;alert(1)&lt;/script&gt;.txt was not found on this server."));
  EXPECT_EQ(Ask("/.<b>\"&'").body,
            ErrorPage(400, "Bad Request", "Invalid File /.&lt;b&gt;&quot;&amp;&#39; - relative paths not supported"));
}

TEST(HasParentSegment, EveryParentFolderSpelling) {
  EXPECT_TRUE(HasParentSegment("/a/../b"));
  EXPECT_TRUE(HasParentSegment("/a\\..\\b"));
  EXPECT_TRUE(HasParentSegment(".."));
  EXPECT_TRUE(HasParentSegment("/a/.."));
  EXPECT_TRUE(HasParentSegment("/a/.. /b"));
  EXPECT_TRUE(HasParentSegment("/a/ ../b"));
  EXPECT_TRUE(HasParentSegment("/a/..../b"));
  EXPECT_FALSE(HasParentSegment("/a/./b"));
  EXPECT_FALSE(HasParentSegment("/a..b/c"));
  EXPECT_FALSE(HasParentSegment("/..a/b"));
  EXPECT_FALSE(HasParentSegment("/a/b.."));
  EXPECT_FALSE(HasParentSegment("//a//b"));
  // 0x83 0x5C is one character, not a character and a backslash.
  EXPECT_FALSE(HasParentSegment("/\x83\x5C.."));
  EXPECT_TRUE(HasParentSegment("/\x83\x5C/.."));
}

TEST(HasDotSegment, EverySegmentIsLookedAt) {
  EXPECT_TRUE(HasDotSegment("/.git/config"));
  EXPECT_TRUE(HasDotSegment("//.hidden"));
  EXPECT_TRUE(HasDotSegment("/a\\.b"));
  EXPECT_TRUE(HasDotSegment("/a/./b"));
  EXPECT_TRUE(HasDotSegment(".x"));
  EXPECT_FALSE(HasDotSegment("/a.b/c."));
  EXPECT_FALSE(HasDotSegment("//a//b"));
  // 0x83 0x5C is one character: the dot after it begins no segment.
  EXPECT_FALSE(HasDotSegment("/\x83\x5C.x"));
  EXPECT_TRUE(HasDotSegment("/\x83\x5C/.x"));
}

TEST_F(RouterTest, TemplatesAreSentLineForLineWithTheirZeroByte) {
  for (const char* target :
       {"/playlist.cgi", "/playlist.cgi?current=25", "/playlist.cgix", "/?psearch=x", "/&current=20"}) {
    Response r = Ask(target, "If-Modified-Since: Thu, 01 Jan 2099 00:00:00 GMT\r\n");
    EXPECT_EQ(r.statusLine, "HTTP/1.1 200 OK") << target;
    EXPECT_EQ(r.Get("Content-Type"), "text/html") << target;
    EXPECT_EQ(r.body, kPlaylistTemplate + std::string(1, '\0')) << target;
    EXPECT_EQ(r.Get("Content-Length"), std::to_string(kPlaylistTemplate.size() + 1)) << target;
    // Templates never carry Last-Modified nor answer 304.
    EXPECT_EQ(r.Count("Last-Modified"), 0) << target;
  }
}

TEST_F(RouterTest, AdminWithAWrongPasswordIsSentBackWithCode10) {
  Response r = Ask("/admin.cgi?pass=wrong");
  EXPECT_EQ(r.statusLine, "HTTP/1.1 302 Moved Temporarily");
  EXPECT_EQ(r.Get("Location"), "/playlist.cgi?errorCode=10");
  EXPECT_TRUE(r.body.empty());
}

TEST_F(RouterTest, LongTemplateLinesArriveWhole) {
  std::string line(20000, 'x');
  for (std::size_t i = 0; i < line.size(); ++i) line[i] = static_cast<char>('a' + i % 23);
  root_->Write("long.html", "<p>" + line + "</p>\r\nend\r\n");
  EXPECT_EQ(Ask("/long.html").body, "<p>" + line + "</p>\r\nend\r\n" + std::string(1, '\0'));
  // A zero byte inside a line cuts nothing: the line arrives whole, with its
  // line end.
  const std::string withZero = std::string("<p>a\0b</p>\r\n", 12) + "%%NO_SUCH_MARKER%%\0x\r\nend\n";
  root_->Write("zero.html", withZero);
  EXPECT_EQ(Ask("/zero.html").body, withZero + std::string(1, '\0'));
}

TEST_F(RouterTest, MissingPlaylistTemplateIsNotFound) {
  settings_->SetPlaylistFile("nothing-here.html");
  Response r = Ask("/playlist.cgi?current=5");
  settings_->SetPlaylistFile("playlist.html");
  EXPECT_EQ(r.statusLine, "HTTP/1.1 404 Not Found");
  EXPECT_NE(r.body.find("The requested URL /playlist.cgi?current=5 was not found"), std::string::npos);
}

TEST_F(RouterTest, AdminAloneGetsThePasswordForm) {
  HttpTime before = platform::CurrentTime();
  std::string raw = Exchange(g_port, Get("/admin.cgi"));
  HttpTime after = platform::CurrentTime();
  const std::string form =
      "<html><head></head><body><form method=\"GET\" action=\"admin.cgi\">Enter Admin Password <input type=text "
      "name=pass> <input type=Submit></form></body></html>";
  EXPECT_EQ(MaskDate(raw, before, after),
            "HTTP/1.1 200 OK\r\n" + std::string(kServerLine) +
                "Date: <date>\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(form.size() + 1) +
                "\r\nConnection: close\r\n\r\n" + form + std::string(1, '\0'));
}

TEST_F(RouterTest, RequestPageAnswersEveryRequestTarget) {
  for (const char* target : {"/request.cgi?listpos=12", "/request.cgix"}) {
    Response r = Ask(target);
    EXPECT_EQ(r.statusLine, "HTTP/1.1 302 Moved Temporarily") << target;
    EXPECT_TRUE(r.body.empty());
    EXPECT_EQ(r.Count("Location"), 1);
  }
}

TEST_F(RouterTest, BadHeadsAreRefusedWithBadRequest) {
  Response split = ParseResponse(Exchange(g_port, "GET /style.css HTTP/1.1\r\nReferer: a\rLocation: evil\r\n\r\n"));
  EXPECT_EQ(split.statusLine, "HTTP/1.1 400 Bad Request");
  EXPECT_EQ(split.Count("Location"), 0);
  std::string big = "GET /style.css HTTP/1.1\r\n";
  while (big.size() < 70000) big += "X-Filler: " + std::string(100, 'f') + "\r\n";
  Response large = ParseResponse(Exchange(g_port, big + "\r\n"));
  EXPECT_EQ(large.statusLine, "HTTP/1.1 400 Bad Request");
  EXPECT_NE(large.body.find("<TITLE>400 Bad Request</TITLE>"), std::string::npos);
}

TEST_F(RouterTest, FilesOfFourGibibytesAndMoreCarryTheirWholeLength) {
  const std::uint64_t size = (std::uint64_t{1} << 32) + 5;
  std::error_code error;
  root_->Write("huge.bin", "");
  std::filesystem::resize_file(root_->PathOf("huge.bin"), size, error);  // sparse where the system allows
  ASSERT_FALSE(error) << error.message();
  platform::Socket s = testing::ConnectClient(g_port);
  ASSERT_NE(s, platform::kInvalidSocket);
  testing::SendText(s, Get("/huge.bin"));
  Response r = ParseResponse(testing::ReceiveHead(s));
  testing::CloseClient(s);  // the server's next send fails and the transfer stops
  std::filesystem::remove(root_->PathOf("huge.bin"), error);
  EXPECT_EQ(r.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(r.Get("Content-Length"), "4294967301");
  EXPECT_TRUE(testing::WaitUntil([] { return server_->ConnectionCount() == 0; }));
}

}  // namespace
}  // namespace ambervox
