// Fuzzes the query of a request target: ParseQueryString over arbitrary
// bytes, then UrlEncode, UrlDecode and HtmlEscape of every name and value
// and of the whole input.
//
// Invariants:
// - ParseQueryString stores only non-empty names; no name or value holds a
//   separator ("&", "=") or a zero byte, and each is a piece of the query;
//   its result is the number of names stored; without "?" and "&" before the
//   first zero byte there are none.
// - UrlDecode(UrlEncode(x)) == x for every x, also with a "%" and at most
//   one byte after it appended (an escape cut short is dropped), and
//   UrlEncode writes only letters, digits, * - . _ and "%XX" with upper-case
//   hex digits.
// - UrlDecode never lengthens its text.
// - HtmlEscape leaves no raw < > " ', every "&" in its output starts one of
//   its five entities, and undoing them gives the input back.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/query_params.h"
#include "common/text_operations.h"
#include "fuzz/fuzz_check.h"

namespace ambervox {
namespace {

bool IsUpperHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

int UpperHexValue(char c) { return c <= '9' ? c - '0' : c - 'A' + 10; }

void CheckUrlEncoding(const ByteString& text) {
  const ByteString encoded = UrlEncode(text);
  std::string decodedByHand;
  for (int i = 0; i < encoded.Length(); ++i) {
    const char c = encoded.At(i);
    if (c == '%') {
      FUZZ_CHECK(i + 2 < encoded.Length());
      FUZZ_CHECK(IsUpperHexDigit(encoded.At(i + 1)) && IsUpperHexDigit(encoded.At(i + 2)));
      decodedByHand += static_cast<char>(UpperHexValue(encoded.At(i + 1)) * 16 + UpperHexValue(encoded.At(i + 2)));
      i += 2;
    } else {
      const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '*' ||
                         c == '-' || c == '.' || c == '_';
      FUZZ_CHECK(plain);
      decodedByHand += c;
    }
  }
  FUZZ_CHECK(decodedByHand == fuzz::Std(text));

  ByteString decoded = encoded;
  UrlDecode(&decoded);
  FUZZ_CHECK(decoded == text);
  // The copy that was decoded in place shared its storage with `encoded`.
  FUZZ_CHECK(encoded == UrlEncode(text));

  // An escape cut short at the end is dropped with its "%"; a "+" is a
  // space.
  for (const char* tail : {"%", "%4", "%%", "%\x82"}) {
    ByteString cut = encoded + ByteString(tail);
    UrlDecode(&cut);
    FUZZ_CHECK(cut == text);
  }
  ByteString plus = encoded + ByteString("+");
  UrlDecode(&plus);
  FUZZ_CHECK(plus == text + ByteString(" "));

  ByteString raw = text;
  UrlDecode(&raw);
  FUZZ_CHECK(raw.Length() <= text.Length());
  FUZZ_CHECK(raw.CStr()[raw.Length()] == 0);
}

void CheckHtmlEscape(const ByteString& text) {
  const ByteString escaped = HtmlEscape(text);
  static const char* const kEntities[] = {"&amp;", "&lt;", "&gt;", "&#39;", "&quot;"};
  static const char kCharacters[] = {'&', '<', '>', '\'', '"'};
  std::string undone;
  for (int i = 0; i < escaped.Length(); ++i) {
    const char c = escaped.At(i);
    FUZZ_CHECK(c != '<' && c != '>' && c != '"' && c != '\'');
    if (c != '&') {
      undone += c;
      continue;
    }
    bool matched = false;
    for (int e = 0; e < 5 && !matched; ++e) {
      const int n = static_cast<int>(std::strlen(kEntities[e]));
      if (escaped.Length() - i >= n && std::memcmp(escaped.Data() + i, kEntities[e], n) == 0) {
        undone += kCharacters[e];
        i += n - 1;
        matched = true;
      }
    }
    FUZZ_CHECK(matched);
  }
  FUZZ_CHECK(undone == fuzz::Std(text));
}

void CheckText(const ByteString& text) {
  CheckUrlEncoding(text);
  CheckHtmlEscape(text);
}

}  // namespace
}  // namespace ambervox

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ambervox;
  const ByteString target = fuzz::Bytes(data, size);
  // The parser reads the target as a C string.
  const std::string visible(target.CStr());
  const std::size_t question = visible.find('?');
  const std::size_t ampersand = visible.find('&');
  const std::size_t queryStart =
      question != std::string::npos ? question + 1 : (ampersand != std::string::npos ? ampersand + 1 : visible.size());
  const std::string query = visible.substr(queryStart);

  QueryParams params;
  params.Set("stale", "value");
  const int stored = ParseQueryString(target, &params);
  FUZZ_CHECK(stored == params.Size());
  if (question == std::string::npos && ampersand == std::string::npos) FUZZ_CHECK(stored == 0);
  for (const auto& pair : params) {
    const std::string name = fuzz::Std(pair.first);
    const std::string value = fuzz::Std(pair.second);
    FUZZ_CHECK(!name.empty());
    FUZZ_CHECK(name.find_first_of(std::string("&=\0", 3)) == std::string::npos);
    FUZZ_CHECK(value.find_first_of(std::string("&=\0", 3)) == std::string::npos);
    FUZZ_CHECK(query.find(name) != std::string::npos);
    FUZZ_CHECK(query.find(value) != std::string::npos);
    FUZZ_CHECK(params.Get(pair.first) == pair.second);
    CheckText(pair.first);
    CheckText(pair.second);
  }
  CheckText(target);
  return 0;
}
