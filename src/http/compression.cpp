// HttpConnection::SendCompressed: a rendered page compressed in memory with
// zlib (level 9, raw deflate with a 32 KiB window, memory level 9) and sent
// as gzip (RFC 1952: fixed 10-byte header, CRC-32 and length trailer) or as a
// raw deflate stream (RFC 1951), or sent as it is. Each call owns its
// stream and buffer.
//
// Compressing a page at level 9 costs far more than rendering it, and a busy
// station's visitors are mostly sent the very same page. The last few
// compressed pages are therefore kept, shared by every connection: a page
// whose bytes equal a kept page's bytes in full, with the same encoding, is
// sent the kept compressed bytes. The encoding and the length pick the
// candidates and the bytes are compared in full, so two different pages
// never share an answer; the CRC-32 is computed only for a page compressed
// afresh, whose gzip trailer needs it.
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "http/http_connection.h"
#include "platform/lock.h"

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

// A page and the bytes sent for it with one encoding. Immutable once made:
// connections share it through a shared_ptr and read it without a lock.
struct CompressedPage {
  int encoding = 0;
  std::string input;
  std::string output;
};

// How many pages are kept, and the largest page kept: at most
// kCachedPages * (kMaxCachedPageBytes + its compressed size) bytes.
constexpr int kCachedPages = 4;
constexpr int kMaxCachedPageBytes = 1 << 20;

class CompressedPageCache {
 public:
  // The kept page whose encoding and bytes equal these, or null. The bytes
  // are compared as they are, without a checksum first: a comparison stops
  // at the first byte that differs, and even four whole pages are compared
  // faster than a checksum of one is computed.
  std::shared_ptr<const CompressedPage> Find(int encoding, const char* data, int length) {
    std::shared_ptr<const CompressedPage> candidates[kCachedPages];
    {
      LockHolder hold(lock_);
      for (int i = 0; i < kCachedPages; ++i) {
        if (Matches(pages_[i], encoding, length)) candidates[i] = pages_[i];
      }
    }
    for (const auto& candidate : candidates) {
      if (candidate == nullptr) continue;
      if (length == 0 || std::memcmp(candidate->input.data(), data, static_cast<std::size_t>(length)) == 0) {
        return candidate;
      }
    }
    return nullptr;
  }

  // Keeps `page` in place of the oldest kept page, unless another
  // connection has just kept the same bytes.
  void Add(std::shared_ptr<const CompressedPage> page) {
    LockHolder hold(lock_);
    for (const auto& kept : pages_) {
      if (Matches(kept, page->encoding, static_cast<int>(page->input.size())) && kept->input == page->input) {
        return;
      }
    }
    pages_[next_] = std::move(page);
    next_ = (next_ + 1) % kCachedPages;
  }

 private:
  static bool Matches(const std::shared_ptr<const CompressedPage>& page, int encoding, int length) {
    return page != nullptr && page->encoding == encoding && page->input.size() == static_cast<std::size_t>(length);
  }

  Lock lock_;
  std::shared_ptr<const CompressedPage> pages_[kCachedPages] GUARDED_BY(lock_);
  int next_ GUARDED_BY(lock_) = 0;
};

CompressedPageCache& PageCache() {
  // Never destroyed, for the same reason as the skin cache: connection
  // threads may still send pages while a process that ends without the
  // player's quit destroys its statics.
  static CompressedPageCache* const cache = new CompressedPageCache;
  return *cache;
}

// Keeps a copy of the page and its compressed bytes; a page too large, or
// memory too short for the copy, is simply not kept.
void KeepCompressed(int encoding, const char* data, int length, const unsigned char* output, uLong size) {
  if (length > kMaxCachedPageBytes) return;
  try {
    auto page = std::make_shared<CompressedPage>();
    page->encoding = encoding;
    page->input.assign(data, static_cast<std::size_t>(length));
    page->output.assign(reinterpret_cast<const char*>(output), size);
    PageCache().Add(std::move(page));
  } catch (const std::bad_alloc&) {
  }
}

const char* EncodingHeader(bool gzip) { return gzip ? "Content-Encoding: gzip\r\n" : "Content-Encoding: deflate\r\n"; }

}  // namespace

bool HttpConnection::SendCompressed(const char* data, int length, int encoding) {
  if (encoding == kEncodingNone) {
    SendHtml(data, length, "");
    return true;
  }
  if (encoding != kEncodingDeflate && encoding != kEncodingGzip) return false;
  if (length < 0 || (data == nullptr && length > 0)) return false;
  const bool gzip = encoding == kEncodingGzip;

  if (const std::shared_ptr<const CompressedPage> kept = PageCache().Find(encoding, data, length)) {
    SendHtml(kept->output.data(), static_cast<int>(kept->output.size()), EncodingHeader(gzip));
    return true;
  }

  DeflateStream stream;
  if (!stream.Init()) return false;
  // deflateBound covers the worst case of any input, so a small or
  // incompressible page always fits in one pass.
  uLong bound = deflateBound(stream.get(), static_cast<uLong>(length));
  const uLong headerSize = gzip ? kGzipHeaderSize : 0;
  const uLong total = headerSize + bound + (gzip ? kGzipTrailerSize : 0);
  if (total > 0x7FFFFFFFu) return false;
  std::unique_ptr<unsigned char[]> owner(new (std::nothrow) unsigned char[total]);
  if (owner == nullptr) return false;
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
  if (result != Z_STREAM_END) return false;
  uLong size = headerSize + (bound - stream->avail_out);

  if (gzip) {
    const std::uint32_t crc = static_cast<std::uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(data), static_cast<uInt>(length)));
    PutLittleEndian32(buffer + size, crc);
    PutLittleEndian32(buffer + size + 4, static_cast<std::uint32_t>(length));
    size += kGzipTrailerSize;
  }
  KeepCompressed(encoding, data, length, buffer, size);
  SendHtml(reinterpret_cast<const char*>(buffer), static_cast<int>(size), EncodingHeader(gzip));
  return true;
}

}  // namespace ambervox
