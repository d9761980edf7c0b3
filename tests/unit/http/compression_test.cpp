// Compressed template pages end to end: the server renders a template from a
// temporary web root and the test decompresses the body with zlib.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "common/plugin_settings.h"
#include "http/http_connection.h"
#include "http/http_server.h"
#include "requests/playlist_cache.h"
#include "requests/request_queue.h"
#include "unit/http/http_test_support.h"

namespace ambervox {
namespace {

using testing::Exchange;
using testing::ParseResponse;
using testing::Response;

// The port the suite's server listens on, chosen by the system.
std::uint16_t g_port = 0;

// Inflates `body` with the given window bits (16 + 15 gzip, -15 raw deflate,
// 15 zlib format). False when zlib refuses the data.
bool Inflate(const std::string& body, int windowBits, std::string* out) {
  z_stream stream{};
  if (inflateInit2(&stream, windowBits) != Z_OK) return false;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
  stream.avail_in = static_cast<uInt>(body.size());
  std::vector<char> chunk(65536);
  int result = Z_OK;
  out->clear();
  while (result == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(chunk.data());
    stream.avail_out = static_cast<uInt>(chunk.size());
    result = inflate(&stream, Z_NO_FLUSH);
    out->append(chunk.data(), chunk.size() - stream.avail_out);
    if (result == Z_BUF_ERROR && stream.avail_in == 0) break;
  }
  bool consumedAll = stream.avail_in == 0;
  inflateEnd(&stream);
  return result == Z_STREAM_END && consumedAll;
}

std::uint32_t LittleEndian32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
  return value;
}

std::string WithZero(const std::string& text) { return text + std::string(1, '\0'); }

class CompressionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    site_ = new testing::ServedSite("page.html");
    root_ = &site_->root;
    settings_ = &site_->settings;
    server_ = &site_->server;
    page_ = "<html><head><title>Playlist</title></head>\r\n<body>\r\n";
    for (int i = 0; i < 60; ++i) page_ += "<tr><td>" + std::to_string(i) + "</td><td>Artist - Title</td></tr>\r\n";
    page_ += "</body></html>\r\n";
    root_->Write("page.html", page_);
    root_->Write("empty.html", "");
    std::mt19937 random(42);
    noise_.resize(100000);
    for (char& c : noise_) c = static_cast<char>('!' + random() % 90);  // no line ends, no zero bytes
    root_->Write("noise.htm", noise_);
    ASSERT_TRUE(site_->Start());
    g_port = site_->port;
  }
  static void TearDownTestSuite() { delete site_; }

  static Response Ask(const std::string& target, const std::string& acceptEncoding) {
    std::string request = "GET " + target + " HTTP/1.1\r\nCookie: UserID=0123ABCD-4567-89EF-0A1B-2C3D4E5F6071\r\n";
    if (!acceptEncoding.empty()) request += "Accept-Encoding: " + acceptEncoding + "\r\n";
    return ParseResponse(Exchange(g_port, request + "\r\n"));
  }

  static testing::ServedSite* site_;
  // Parts of the site.
  static testing::TempWebRoot* root_;
  static PluginSettings* settings_;
  static HttpServer* server_;
  static std::string page_;
  static std::string noise_;
};

testing::TempWebRoot* CompressionTest::root_ = nullptr;
PluginSettings* CompressionTest::settings_ = nullptr;
testing::ServedSite* CompressionTest::site_ = nullptr;
HttpServer* CompressionTest::server_ = nullptr;
std::string CompressionTest::page_;
std::string CompressionTest::noise_;

TEST_F(CompressionTest, GzipIsChosenWhenBothAreAccepted) {
  Response r = Ask("/page.html", "gzip, deflate");
  ASSERT_EQ(r.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(r.Get("Content-Encoding"), "gzip");
  EXPECT_EQ(r.Get("Content-Type"), "text/html");
  EXPECT_EQ(r.Get("Content-Length"), std::to_string(r.body.size()));
  ASSERT_GT(r.body.size(), 18u);
  EXPECT_EQ(r.body.substr(0, 10), std::string("\x1F\x8B\x08\x00\x00\x00\x00\x00\x00\x03", 10));
  std::string plain;
  ASSERT_TRUE(Inflate(r.body, 16 + 15, &plain));
  EXPECT_EQ(plain, WithZero(page_));
  // Trailer: CRC-32 of the page and its zero byte, then their length.
  std::string input = WithZero(page_);
  uLong crc =
      crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(input.data()), static_cast<uInt>(input.size()));
  EXPECT_EQ(LittleEndian32(r.body, r.body.size() - 8), static_cast<std::uint32_t>(crc));
  EXPECT_EQ(LittleEndian32(r.body, r.body.size() - 4), page_.size() + 1);
  // Repetitive HTML shrinks a lot.
  EXPECT_LT(r.body.size(), page_.size() / 4);
}

TEST_F(CompressionTest, DeflateIsARawStreamWithoutZlibFraming) {
  Response r = Ask("/playlist.cgi?current=0", "deflate");
  ASSERT_EQ(r.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(r.Get("Content-Encoding"), "deflate");
  EXPECT_EQ(r.Get("Content-Length"), std::to_string(r.body.size()));
  std::string plain;
  ASSERT_TRUE(Inflate(r.body, -15, &plain));
  EXPECT_EQ(plain, WithZero(page_));
  EXPECT_FALSE(Inflate(r.body, 15, &plain));
}

TEST_F(CompressionTest, OnlyExactLowerCaseNamesSelectAnEncoding) {
  Response capitals = Ask("/page.html", "GZIP, DEFLATE");
  EXPECT_EQ(capitals.Count("Content-Encoding"), 0);
  EXPECT_EQ(capitals.body, WithZero(page_));
  Response none = Ask("/page.html", "");
  EXPECT_EQ(none.Count("Content-Encoding"), 0);
  EXPECT_EQ(none.body, WithZero(page_));
  EXPECT_EQ(none.Get("Content-Length"), std::to_string(page_.size() + 1));
  Response xgzip = Ask("/page.html", "x-gzip");
  EXPECT_EQ(xgzip.Get("Content-Encoding"), "gzip");
  std::string plain;
  EXPECT_TRUE(Inflate(xgzip.body, 16 + 15, &plain));
  EXPECT_EQ(plain, WithZero(page_));
}

TEST_F(CompressionTest, EmptyTemplateGetsAValidCompressedPage) {
  // One zero byte compresses to more than twice its size; the answer is
  // still a 200 with a body that decompresses to that byte.
  for (const char* encoding : {"gzip", "deflate"}) {
    Response r = Ask("/empty.html", encoding);
    EXPECT_EQ(r.statusLine, "HTTP/1.1 200 OK") << encoding;
    EXPECT_EQ(r.Get("Content-Encoding"), encoding);
    std::string plain;
    ASSERT_TRUE(Inflate(r.body, std::string(encoding) == "gzip" ? 16 + 15 : -15, &plain)) << encoding;
    EXPECT_EQ(plain, std::string(1, '\0'));
  }
  Response plain = Ask("/empty.html", "");
  EXPECT_EQ(plain.Get("Content-Length"), "1");
  EXPECT_EQ(plain.body, std::string(1, '\0'));
}

TEST_F(CompressionTest, IncompressiblePagesStillFit) {
  Response r = Ask("/noise.htm", "gzip");
  ASSERT_EQ(r.statusLine, "HTTP/1.1 200 OK");
  std::string plain;
  ASSERT_TRUE(Inflate(r.body, 16 + 15, &plain));
  EXPECT_EQ(plain, WithZero(noise_));
}

// Sends nothing: the seam records what would have gone out.
int g_sendCount = 0;
int CountSend(platform::Socket, const char*, int length) {
  ++g_sendCount;
  return length;
}

TEST(SendCompressed, UnknownEncodingSendsNothingAndFails) {
  HttpConnection connection{ServerLimits(), &CountSend};
  connection.request.hasUserIdCookie = 1;
  g_sendCount = 0;
  EXPECT_FALSE(connection.SendCompressed("abc", 4, 3));
  EXPECT_FALSE(connection.SendCompressed("abc", 4, -1));
  EXPECT_EQ(g_sendCount, 0);
  EXPECT_TRUE(connection.SendCompressed("abc", 4, kEncodingGzip));
  EXPECT_EQ(g_sendCount, 1);  // header block and the whole small body
}

// Everything the seam was given, in order.
std::string g_sent;
int RecordSend(platform::Socket, const char* data, int length) {
  g_sent.append(data, static_cast<std::size_t>(length));
  return length;
}

// The body SendCompressed sends for `page` with `encoding`, decompressed.
std::string SentAndInflated(const std::string& page, int encoding) {
  HttpConnection connection{ServerLimits(), &RecordSend};
  connection.request.hasUserIdCookie = 1;
  g_sent.clear();
  EXPECT_TRUE(connection.SendCompressed(page.data(), static_cast<int>(page.size()), encoding));
  const std::size_t headEnd = g_sent.find("\r\n\r\n");
  std::string plain;
  EXPECT_NE(headEnd, std::string::npos);
  if (headEnd == std::string::npos) return plain;
  EXPECT_TRUE(Inflate(g_sent.substr(headEnd + 4), encoding == kEncodingGzip ? 16 + 15 : -15, &plain));
  return plain;
}

// Pages are kept compressed and sent again when the same bytes come back:
// a page of the same length, even one with the same CRC-32, is never sent
// another page's bytes, and an encoding never gets another's.
TEST(SendCompressed, APageIsNeverSentAnotherPagesCompressedBytes) {
  std::string first = "<html><body>";
  for (int i = 0; i < 40; ++i) first += "<p>Ivory Tramline - Secret Signal</p>";
  first += "</body></html>";
  std::string sameLength = first;
  sameLength[20] = 'X';
  // XOR-ing the CRC-32 polynomial into the bytes keeps their CRC-32.
  std::string sameCrc = first;
  const unsigned char polynomial[5] = {0x41, 0x06, 0x71, 0xDB, 0x01};
  for (int i = 0; i < 5; ++i) sameCrc[30 + static_cast<std::size_t>(i)] ^= static_cast<char>(polynomial[i]);
  auto crcOf = [](const std::string& text) {
    return crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size()));
  };
  ASSERT_EQ(crcOf(sameCrc), crcOf(first));
  ASSERT_NE(sameCrc, first);

  for (int round = 0; round < 2; ++round) {
    for (const std::string* page : {&first, &sameLength, &sameCrc, &first}) {
      EXPECT_EQ(SentAndInflated(*page, kEncodingGzip), *page) << "round " << round;
      EXPECT_EQ(SentAndInflated(*page, kEncodingDeflate), *page) << "round " << round;
    }
  }
}

}  // namespace
}  // namespace ambervox
