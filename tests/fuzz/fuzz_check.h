// FUZZ_CHECK: the invariant checks of the fuzz targets. A broken invariant
// prints what was expected and where, then aborts, which libFuzzer reports as
// a crash and keeps the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/byte_string.h"

#define FUZZ_CHECK(condition)                                                                \
  do {                                                                                       \
    if (!(condition)) {                                                                      \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                          \
    }                                                                                        \
  } while (0)

namespace ambervox {
namespace fuzz {

// The fuzzer's bytes as a ByteString (zero bytes included).
inline ByteString Bytes(const unsigned char* data, std::size_t size) {
  return ByteString(reinterpret_cast<const char*>(data), static_cast<int>(size));
}

inline std::string Std(const ByteString& text) { return std::string(text.Data(), text.Length()); }

// Reads the fuzzer's input front to back: a few control bytes, then pieces
// of text. Past the end every read gives zero or the empty text.
class InputReader {
 public:
  InputReader(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

  unsigned char Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  // Text up to the next `separator` byte (not included) or the end.
  ByteString Piece(unsigned char separator) {
    std::size_t begin = pos_;
    while (pos_ < size_ && data_[pos_] != separator) ++pos_;
    ByteString piece = Bytes(data_ + begin, pos_ - begin);
    if (pos_ < size_) ++pos_;
    return piece;
  }
  ByteString Rest() {
    ByteString rest = Bytes(data_ + pos_, size_ - pos_);
    pos_ = size_;
    return rest;
  }
  bool AtEnd() const { return pos_ >= size_; }

 private:
  const unsigned char* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace fuzz
}  // namespace ambervox
