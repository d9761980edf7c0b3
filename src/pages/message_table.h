// MessageTable: the fifteen result texts shown by "%%ERROR%%", indexed by
// ResultCode, as code page 932 bytes. Each text fits a field of 255 bytes
// (254 bytes and the terminating zero). Immutable; any thread.
#pragma once

namespace ambervox {

class MessageTable {
 public:
  static constexpr int kCount = 15;
  static constexpr int kFieldSize = 255;
  // The text of `code`, or nullptr outside 0..14.
  static const char* Text(int code);
};

}  // namespace ambervox
