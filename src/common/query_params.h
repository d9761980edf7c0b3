// QueryParams: the named parameters of a request target's query, as the page
// handlers read them. An ordered map from name to value, names ordered by
// plain byte comparison (case-sensitive). Values are kept exactly as they
// stand in the target: no percent-decoding and no plus-to-space.
//
// A name that is not in the map reads as the empty value, so a parameter
// given with an empty value and an absent one look the same to callers.
//
// Each handler owns its own QueryParams; an instance is not shared between
// threads, and ParseQueryString keeps no state, so any thread may call it.
#pragma once

#include <map>

#include "common/byte_string.h"

namespace ambervox {

class QueryParams {
 public:
  using Map = std::map<ByteString, ByteString>;

  // The value stored for `name`; the empty text when there is none.
  ByteString Get(const ByteString& name) const;
  bool Contains(const ByteString& name) const { return values_.count(name) != 0; }
  // Stores `value` under `name`, replacing an earlier value.
  void Set(const ByteString& name, const ByteString& value) { values_[name] = value; }
  void Clear() { values_.clear(); }
  int Size() const { return static_cast<int>(values_.size()); }
  bool IsEmpty() const { return values_.empty(); }

  Map::const_iterator begin() const { return values_.begin(); }
  Map::const_iterator end() const { return values_.end(); }

 private:
  Map values_;
};

// Empties `params` and fills it from the query of `target`: the part after
// the first "?" or, when there is none, after the first "&" (neither: no
// parameters). The query is split into tokens at "&" and each token into
// name and value at "="; runs of separators count as one and empty pieces are
// skipped, so "=x" gives the name x with an empty value and "a==b" the name a
// with the value b; pieces after the second are ignored. Tokens with an empty
// name are ignored; a repeated name keeps its last value. The target is read
// up to its first zero byte. Returns the number of names stored.
int ParseQueryString(const ByteString& target, QueryParams* params);

}  // namespace ambervox
