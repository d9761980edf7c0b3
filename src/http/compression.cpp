// HttpConnection::SendCompressed: a rendered page compressed in memory with
// zlib (level 9, raw deflate with a 32 KiB window, memory level 9) and sent
// as gzip (RFC 1952: fixed 10-byte header, CRC-32 and length trailer) or as a
// raw deflate stream (RFC 1951), or sent as it is. Each call owns its stream
// and buffer; nothing is shared between connections.
#include <zlib.h>

#include <cstdint>
#include <memory>
#include <new>

#include "http/http_connection.h"

namespace ambervox {
namespace {

constexpr unsigned char kGzipHeader[10] = {0x1F, 0x8B, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03};
constexpr int kGzipHeaderSize = 10;
constexpr int kGzipTrailerSize = 8;

void PutLittleEndian32(unsigned char* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

// Ends the deflate stream on every path.
class DeflateStream {
 public:
  DeflateStream() = default;
  ~DeflateStream() {
    if (initialised_) deflateEnd(&stream_);
  }
  DeflateStream(const DeflateStream&) = delete;
  DeflateStream& operator=(const DeflateStream&) = delete;

  bool Init() {
    initialised_ = deflateInit2(&stream_, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) == Z_OK;
    return initialised_;
  }
  z_stream* operator->() { return &stream_; }
  z_stream* get() { return &stream_; }

 private:
  z_stream stream_{};
  bool initialised_ = false;
};

}  // namespace

int HttpConnection::SendCompressed(const char* data, int length, int encoding) {
  if (encoding == kEncodingNone) return SendHtml(data, length, "");
  if (encoding != kEncodingDeflate && encoding != kEncodingGzip) return 0;
  if (length < 0 || (data == nullptr && length > 0)) return 0;

  DeflateStream stream;
  if (!stream.Init()) return 0;
  // deflateBound covers the worst case of any input, so a small or
  // incompressible page always fits in one pass.
  uLong bound = deflateBound(stream.get(), static_cast<uLong>(length));
  const bool gzip = encoding == kEncodingGzip;
  const uLong headerSize = gzip ? kGzipHeaderSize : 0;
  const uLong total = headerSize + bound + (gzip ? kGzipTrailerSize : 0);
  if (total > 0x7FFFFFFFu) return 0;
  std::unique_ptr<unsigned char[]> owner(new (std::nothrow) unsigned char[total]);
  if (owner == nullptr) return 0;
  unsigned char* const buffer = owner.get();

  if (gzip) {
    for (int i = 0; i < kGzipHeaderSize; ++i) buffer[i] = kGzipHeader[i];
  }
  stream->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
  stream->avail_in = static_cast<uInt>(length);
  stream->next_out = buffer + headerSize;
  stream->avail_out = static_cast<uInt>(bound);
  int result;
  do {
    result = deflate(stream.get(), Z_FINISH);
  } while (result == Z_OK);
  if (result != Z_STREAM_END) return 0;
  uLong size = headerSize + (bound - stream->avail_out);

  if (gzip) {
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(length));
    PutLittleEndian32(buffer + size, static_cast<std::uint32_t>(crc));
    PutLittleEndian32(buffer + size + 4, static_cast<std::uint32_t>(length));
    size += kGzipTrailerSize;
  }
  return SendHtml(reinterpret_cast<const char*>(buffer), static_cast<int>(size),
                  gzip ? "Content-Encoding: gzip\r\n" : "Content-Encoding: deflate\r\n");
}

}  // namespace ambervox
