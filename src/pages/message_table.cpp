#include "pages/message_table.h"

#include "common/cp932_texts.h"
#include "common/result_code.h"

namespace ambervox {

static_assert(MessageTable::kCount == kResultCodeCount, "one text per result code");
static_assert(kTextResultOk == 0 && kTextResultNotYourRequest == MessageTable::kCount - 1,
              "the result messages open the table of texts, in the order of their codes");

const char* MessageTable::Text(int code) {
  if (code < 0 || code >= kCount) return nullptr;
  return kCp932Texts[code].bytes;
}

}  // namespace ambervox
