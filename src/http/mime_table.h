// MimeTable: the content type of a file by its extension, for files served
// from the web root. An extension must equal an entry exactly (letter case
// included, nothing may follow it); the first equal entry wins. Constant
// data; any thread.
#pragma once

#include "common/byte_string.h"

namespace ambervox {

class MimeTable {
 public:
  // The content type for `extension` (the text after the first "." of a
  // request target), or nullptr when the table has none.
  static const char* ContentTypeFor(const ByteString& extension);

  // The content type for the extension of `target`, or nullptr when the
  // target has no "." or its extension is not in the table.
  static const char* ContentTypeForTarget(const ByteString& target);
};

}  // namespace ambervox
