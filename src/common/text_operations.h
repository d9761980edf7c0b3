// Text operations shared by the HTTP router, the template engine and the
// pages: percent-encoding and decoding of query values, HTML escaping of
// titles and search words, and the case-insensitive comparisons used by the
// playlist search and by the router.
//
// All texts are ByteStrings in the system's ANSI code page (CP932). A null
// `const char*` passed where a ByteString is expected converts to the empty
// text, so every operation accepts "no text" and gives an empty or neutral
// result. None of them fails on any input; none keeps state, so any thread
// may call any of them at any time.
#pragma once

#include <cstdint>

#include "common/byte_string.h"

namespace ambervox {

// Percent-encodes `text` for use in a query value. ASCII letters, digits and
// * - . _ are copied; every other byte (space and "+" included) becomes "%XX"
// with upper-case hex digits. Both bytes of a two-byte character are
// encoded; a lead byte at the very end is encoded alone.
ByteString UrlEncode(const ByteString& text);

// Decodes `text` in place: "+" becomes a space and "%XX" the byte XX (hex
// digits in either case). A "%" with fewer than two bytes after it ends the
// text there (the "%" and what follows are dropped). A digit byte that is not
// a hex digit gives d - 0x30 when d, read as a signed byte, is below 'A', and
// d - 0x37 otherwise (eight-bit arithmetic). Every other byte is copied.
void UrlDecode(ByteString* text);

// Copy of `text` with every byte & < > ' and the double quote replaced by
// &amp; &lt; &gt; &#39; and &quot;, in one pass, so no entity is escaped
// twice. Every such byte is replaced, also one right after a lead byte
// (where it cannot be a trail byte and a browser reads it as itself).
ByteString HtmlEscape(const ByteString& text);

// HtmlEscape for a text a browser's form sent, except that a reference
// "&#N;" (decimal) to a character the ANSI code page cannot hold stays as it
// is: that is how a form in the code page sends such a character, and in a
// page it shows as the character again. Any other "&" is escaped.
ByteString HtmlEscapeFormText(const ByteString& text);

// First byte position at which `pattern` matches `text` when A-Z compare
// equal to a-z (all other bytes compare as they are). The scan goes byte by
// byte and is not multibyte-aware. An empty pattern matches at 0; no match
// gives ByteString::kNotFound.
int FindNoCase(const ByteString& text, const ByteString& pattern);

// True when the first `count` bytes of the lower-cased `text` and `prefix`
// agree, the comparison stopping early at a terminating zero of both (as
// strncmp does). Callers pass count = prefix.Length(); a count of 0 or less
// is always true.
bool StartsWithNoCase(const ByteString& text, const ByteString& prefix, int count);

// True when the lower-cased `word` occurs in the lower-cased `text`, the
// search never starting on the trail byte of a two-byte character. An empty
// word occurs in every text.
bool ContainsNoCase(const ByteString& text, const ByteString& word);

// The two tests above on texts that are already lower-cased (with
// ByteString::MakeLowerMultibyte): what a caller uses that lower-cases a
// word once and tests it against many texts lower-cased beforehand. The
// results are those of the NoCase forms on the original texts.
bool StartsWithLowerCase(const ByteString& lowerCaseText, const ByteString& lowerCasePrefix, int count);
bool ContainsLowerCase(const ByteString& lowerCaseText, const ByteString& lowerCaseWord);
// The same on `length` bytes at `lowerCaseText`, followed by a NUL.
bool StartsWithLowerCase(const char* lowerCaseText, const ByteString& lowerCasePrefix, int count);
bool ContainsLowerCase(const char* lowerCaseText, int length, const ByteString& lowerCaseWord);

// `value` in decimal digits, with "-" before a negative one: the form of
// every number the pages and the headers show (Content-Length, page links,
// the progress markers).
void AppendDecimal(ByteString& text, std::int64_t value);
ByteString Decimal(std::int64_t value);

}  // namespace ambervox
