#include "common/query_params.h"

#include <cstring>

namespace ambervox {

namespace {

// Splits [begin, end) at runs of `separator` the way strtok does: returns the
// first non-empty piece at or after *cursor and moves *cursor past it. False
// when no piece is left.
bool NextPiece(const char** cursor, const char* end, char separator, const char** pieceBegin, const char** pieceEnd) {
  const char* p = *cursor;
  while (p < end && *p == separator) ++p;
  if (p == end) {
    *cursor = end;
    return false;
  }
  *pieceBegin = p;
  while (p < end && *p != separator) ++p;
  *pieceEnd = p;
  *cursor = p;
  return true;
}

}  // namespace

ByteString QueryParams::Get(const ByteString& name) const {
  Map::const_iterator it = values_.find(name);
  return it == values_.end() ? ByteString() : it->second;
}

int ParseQueryString(const ByteString& target, QueryParams* params) {
  if (params == nullptr) return 0;
  params->Clear();
  const char* text = target.CStr();
  const char* end = text + std::strlen(text);
  // "?", "&" and "=" lie below 0x40 and so are never the trail byte of a
  // two-byte character: a plain byte search finds only real separators.
  const char* query = std::strchr(text, '?');
  if (query == nullptr) query = std::strchr(text, '&');
  if (query == nullptr) return 0;
  ++query;

  const char* cursor = query;
  const char* tokenBegin;
  const char* tokenEnd;
  while (NextPiece(&cursor, end, '&', &tokenBegin, &tokenEnd)) {
    const char* inner = tokenBegin;
    const char* nameBegin;
    const char* nameEnd;
    if (!NextPiece(&inner, tokenEnd, '=', &nameBegin, &nameEnd)) continue;  // only "="s: no name
    ByteString name(nameBegin, static_cast<int>(nameEnd - nameBegin));
    const char* valueBegin;
    const char* valueEnd;
    ByteString value;
    if (NextPiece(&inner, tokenEnd, '=', &valueBegin, &valueEnd)) {
      value.Assign(valueBegin, static_cast<int>(valueEnd - valueBegin));
    }
    params->Set(name, value);
  }
  return params->Size();
}

}  // namespace ambervox
