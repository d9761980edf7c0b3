#include "common/byte_string.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/codepage.h"

namespace ambervox {

const char* ByteStringError::what() const noexcept { return "invalid argument (0x80070057)"; }

namespace {

[[noreturn]] void ThrowInvalid() { throw ByteStringError(kErrorInvalidArgument); }
[[noreturn]] void ThrowNoMemory() { throw std::bad_alloc(); }

int ClampedAdd(int a, int b) {
  if (a > INT_MAX - 1 - b) ThrowNoMemory();
  return a + b;
}

// The code page's lead bytes, asked of the platform once: the code page does
// not change while the process runs, and the character walks below ask for
// every byte they pass (on Windows each answer is a system call).
class LeadBytes {
 public:
  LeadBytes() {
    for (int b = 0; b < 256; ++b) lead_[b] = platform::IsLeadByte(static_cast<unsigned char>(b));
  }
  bool operator[](unsigned char byte) const { return lead_[byte]; }

 private:
  bool lead_[256];
};

const LeadBytes& LeadByteTable() {
  static const LeadBytes table;
  return table;
}

}  // namespace

// The shared empty string: never counted, never freed, never written.
ByteString::Rep* ByteString::EmptyRep() {
  static struct {
    Rep rep;
    char terminator;
  } empty = {{{1}, 0, 0}, 0};
  return &empty.rep;
}

ByteString::Rep* ByteString::Allocate(int capacity) {
  if (capacity < 0) ThrowInvalid();
  std::size_t bytes = sizeof(Rep) + static_cast<std::size_t>(capacity) + 1;
  void* memory = std::malloc(bytes);
  if (memory == nullptr) ThrowNoMemory();
  Rep* rep = static_cast<Rep*>(memory);
  new (&rep->refs) std::atomic<int>(1);
  rep->length = 0;
  rep->capacity = capacity;
  rep->data()[0] = 0;
  return rep;
}

void ByteString::Release(Rep* rep) {
  if (rep == EmptyRep()) return;
  if (rep->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    rep->refs.~atomic<int>();
    std::free(rep);
  }
}

ByteString::ByteString() noexcept : rep_(EmptyRep()) {}

ByteString::ByteString(const char* text) : rep_(EmptyRep()) {
  if (text != nullptr) Assign(text, static_cast<int>(std::strlen(text)));
}

ByteString::ByteString(const char* data, int length) : rep_(EmptyRep()) { Assign(data, length); }

ByteString::ByteString(const ByteString& other) noexcept : rep_(other.rep_) {
  if (rep_ != EmptyRep()) rep_->refs.fetch_add(1, std::memory_order_relaxed);
}

ByteString::ByteString(ByteString&& other) noexcept : rep_(other.rep_) { other.rep_ = EmptyRep(); }

ByteString::~ByteString() { Release(rep_); }

ByteString& ByteString::operator=(const ByteString& other) noexcept {
  if (rep_ != other.rep_) {
    Rep* old = rep_;
    rep_ = other.rep_;
    if (rep_ != EmptyRep()) rep_->refs.fetch_add(1, std::memory_order_relaxed);
    Release(old);
  }
  return *this;
}

ByteString& ByteString::operator=(ByteString&& other) noexcept {
  if (this != &other) {
    Release(rep_);
    rep_ = other.rep_;
    other.rep_ = EmptyRep();
  }
  return *this;
}

ByteString& ByteString::operator=(const char* text) {
  if (text == nullptr) {
    Clear();
  } else {
    ByteString copy(text);  // `text` may point into our own storage
    *this = std::move(copy);
  }
  return *this;
}

char ByteString::At(int index) const {
  if (index < 0 || index >= rep_->length) return 0;
  return rep_->data()[index];
}

void ByteString::Clear() {
  Release(rep_);
  rep_ = EmptyRep();
}

void ByteString::MakeUnique(int capacity) {
  if (capacity < rep_->length) capacity = rep_->length;
  bool shared = rep_ == EmptyRep() || rep_->refs.load(std::memory_order_acquire) != 1;
  if (!shared && capacity <= rep_->capacity) return;
  int newCapacity = capacity;
  if (!shared && capacity > rep_->capacity) {
    // Grow geometrically so that appending in a loop stays linear.
    int doubled = rep_->capacity > INT_MAX / 2 ? INT_MAX - 1 : rep_->capacity * 2;
    if (doubled > newCapacity) newCapacity = doubled;
  }
  Rep* fresh = Allocate(newCapacity);
  std::memcpy(fresh->data(), rep_->data(), static_cast<std::size_t>(rep_->length) + 1);
  fresh->length = rep_->length;
  Release(rep_);
  rep_ = fresh;
}

void ByteString::Assign(const char* data, int length) {
  if (length < 0 || (data == nullptr && length != 0)) ThrowInvalid();
  if (length == 0) {
    Clear();
    return;
  }
  Rep* fresh = Allocate(length);
  std::memcpy(fresh->data(), data, static_cast<std::size_t>(length));
  fresh->data()[length] = 0;
  fresh->length = length;
  Release(rep_);
  rep_ = fresh;
}

bool ByteString::IsOwnStorage(const char* data, int length) const {
  const char* ownData = rep_->data();
  return length > 0 && data >= ownData && data <= ownData + rep_->length;
}

void ByteString::Append(const char* data, int length) {
  if (length < 0 || (data == nullptr && length != 0)) ThrowInvalid();
  if (length == 0) return;
  int newLength = ClampedAdd(rep_->length, length);
  const char* ownData = rep_->data();
  if (data >= ownData && data <= ownData + rep_->length) {
    // Appending a part of ourselves: copy it first, the storage may move.
    ByteString part(data, length);
    Append(part.Data(), part.Length());
    return;
  }
  MakeUnique(newLength);
  std::memcpy(rep_->data() + rep_->length, data, static_cast<std::size_t>(length));
  rep_->length = newLength;
  rep_->data()[newLength] = 0;
}

void ByteString::Append(const char* text) {
  if (text != nullptr) Append(text, static_cast<int>(std::strlen(text)));
}

void ByteString::AppendFormatV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[256];
  int needed = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (needed < 0) ThrowInvalid();
  if (needed < static_cast<int>(sizeof small)) {
    Append(small, needed);
    return;
  }
  int oldLength = rep_->length;
  MakeUnique(ClampedAdd(oldLength, needed));
  std::vsnprintf(rep_->data() + oldLength, static_cast<std::size_t>(needed) + 1, format, args);
  rep_->length = oldLength + needed;
  rep_->data()[rep_->length] = 0;
}

void ByteString::AppendFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  try {
    AppendFormatV(format, args);
  } catch (...) {
    va_end(args);
    throw;
  }
  va_end(args);
}

ByteString ByteString::Format(const char* format, ...) {
  ByteString result;
  va_list args;
  va_start(args, format);
  try {
    result.AppendFormatV(format, args);
  } catch (...) {
    va_end(args);
    throw;
  }
  va_end(args);
  return result;
}

void ByteString::Reserve(int capacity) {
  if (capacity < 0) ThrowInvalid();
  if (capacity > rep_->capacity || rep_ == EmptyRep()) {
    if (capacity == 0) return;
    MakeUnique(capacity);
  }
}

char* ByteString::MutableData() {
  if (rep_->length == 0) return rep_->data();  // nothing may be written anyway
  MakeUnique(rep_->length);
  return rep_->data();
}

void ByteString::Truncate(int length) {
  if (length < 0) ThrowInvalid();
  if (length >= rep_->length) return;
  // A text of its own keeps its storage, so that a buffer refilled in a
  // loop is not allocated anew every time.
  if (length == 0 && (rep_ == EmptyRep() || rep_->refs.load(std::memory_order_acquire) != 1)) {
    Clear();
    return;
  }
  MakeUnique(rep_->length);
  rep_->length = length;
  rep_->data()[length] = 0;
}

ByteString ByteString::Left(int count) const {
  if (count <= 0) return ByteString();
  if (count >= rep_->length) return *this;
  return ByteString(rep_->data(), count);
}

ByteString ByteString::Mid(int start) const { return Mid(start, rep_->length); }

ByteString ByteString::Mid(int start, int count) const {
  if (start < 0) start = 0;
  if (start >= rep_->length || count <= 0) return ByteString();
  if (count > rep_->length - start) count = rep_->length - start;
  if (start == 0 && count == rep_->length) return *this;
  return ByteString(rep_->data() + start, count);
}

ByteString ByteString::Right(int count) const {
  if (count <= 0) return ByteString();
  if (count >= rep_->length) return *this;
  return ByteString(rep_->data() + rep_->length - count, count);
}

int ByteString::FindBytes(const char* pattern, int patternLength, int start) const {
  return FindBytesIn(rep_->data(), rep_->length, pattern, patternLength, start);
}

int ByteString::FindBytesIn(const char* bytes, int length, const char* pattern, int patternLength, int start) {
  if (patternLength < 0 || (pattern == nullptr && patternLength != 0)) ThrowInvalid();
  if (start < 0) start = 0;
  if (start > length) return kNotFound;
  const unsigned char* text = reinterpret_cast<const unsigned char*>(bytes);
  const LeadBytes& isLead = LeadByteTable();
  // Walk from the beginning so that `start` itself is judged against the
  // character boundaries of the whole text.
  int i = 0;
  while (i < start) i += (isLead[text[i]] && i + 1 < length) ? 2 : 1;
  if (patternLength == 0) return i <= length ? i : kNotFound;
  // memchr finds each place where the pattern's first byte occurs, and the
  // pattern is compared there; a match that begins on the trail byte of a
  // two-byte character is passed over. `i` follows the character boundaries
  // only up to a match, so a text without the pattern is never walked
  // character by character.
  const unsigned char first = static_cast<unsigned char>(pattern[0]);
  const int lastStart = length - patternLength;
  for (int from = i; from <= lastStart;) {
    const void* hit = std::memchr(text + from, first, static_cast<std::size_t>(lastStart - from + 1));
    if (hit == nullptr) return kNotFound;
    const int at = static_cast<int>(static_cast<const unsigned char*>(hit) - text);
    if (std::memcmp(text + at, pattern, static_cast<std::size_t>(patternLength)) == 0) {
      while (i < at) i += (isLead[text[i]] && i + 1 < length) ? 2 : 1;
      if (i == at) return at;
    }
    from = at + 1;
  }
  return kNotFound;
}

int ByteString::Find(const char* pattern, int start) const {
  if (pattern == nullptr) return kNotFound;
  return FindBytes(pattern, static_cast<int>(std::strlen(pattern)), start);
}

bool ByteString::StartsWith(const char* prefix) const {
  std::size_t n = prefix == nullptr ? 0 : std::strlen(prefix);
  return n <= static_cast<std::size_t>(rep_->length) && std::memcmp(rep_->data(), prefix, n) == 0;
}

bool ByteString::EndsWith(const char* suffix) const {
  std::size_t n = suffix == nullptr ? 0 : std::strlen(suffix);
  std::size_t length = static_cast<std::size_t>(rep_->length);
  return n <= length && std::memcmp(rep_->data() + length - n, suffix, n) == 0;
}

int ByteString::ReplaceAll(const char* pattern, int patternLength, const char* replacement, int replacementLength) {
  if (patternLength < 0 || replacementLength < 0 || (replacement == nullptr && replacementLength != 0)) ThrowInvalid();
  if (patternLength == 0 || pattern == nullptr) return 0;
  if (FindBytes(pattern, patternLength, 0) == kNotFound) return 0;
  // The pattern or the replacement may live in our own storage, which is
  // left alone until the result replaces it.
  ByteString result;
  result.Reserve(rep_->length);
  const int count =
      result.AppendReplaced(rep_->data(), rep_->length, pattern, patternLength, replacement, replacementLength);
  *this = std::move(result);
  return count;
}

int ByteString::AppendReplaced(const char* text, int length, const char* pattern, int patternLength,
                               const char* replacement, int replacementLength) {
  if (length < 0 || patternLength < 0 || replacementLength < 0 || (text == nullptr && length != 0) ||
      (pattern == nullptr && patternLength != 0) || (replacement == nullptr && replacementLength != 0)) {
    ThrowInvalid();
  }
  if (IsOwnStorage(text, length) || IsOwnStorage(pattern, patternLength) ||
      IsOwnStorage(replacement, replacementLength)) {
    // Appending may move our storage: work from copies.
    const ByteString keepText(text, length);
    const ByteString keepPattern(pattern, patternLength);
    const ByteString keepReplacement(replacement, replacementLength);
    return AppendReplaced(keepText.Data(), length, keepPattern.Data(), patternLength, keepReplacement.Data(),
                          replacementLength);
  }
  if (patternLength == 0) {
    Append(text, length);
    return 0;
  }
  // One walk over the text: `i` follows the character boundaries, as
  // FindBytesIn does from the start for every search, so a match that begins
  // on the trail byte of a two-byte character is passed over here too.
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
  const LeadBytes& isLead = LeadByteTable();
  const unsigned char first = static_cast<unsigned char>(pattern[0]);
  const int lastStart = length - patternLength;
  int i = 0;
  int copied = 0;
  int count = 0;
  for (int from = 0; from <= lastStart;) {
    const void* hit = std::memchr(bytes + from, first, static_cast<std::size_t>(lastStart - from + 1));
    if (hit == nullptr) break;
    const int at = static_cast<int>(static_cast<const unsigned char*>(hit) - bytes);
    from = at + 1;
    if (std::memcmp(bytes + at, pattern, static_cast<std::size_t>(patternLength)) != 0) continue;
    while (i < at) i += (isLead[bytes[i]] && i + 1 < length) ? 2 : 1;
    if (i != at) continue;
    Append(text + copied, at - copied);
    Append(replacement, replacementLength);
    copied = at + patternLength;
    ++count;
    // The search goes on after the replaced text, from a character boundary.
    while (i < copied) i += (isLead[bytes[i]] && i + 1 < length) ? 2 : 1;
    from = i;
  }
  Append(text + copied, length - copied);
  return count;
}

int ByteString::AppendReplaced(const ByteString& text, const char* pattern, const ByteString& replacement) {
  return AppendReplaced(text.Data(), text.Length(), pattern,
                        pattern == nullptr ? 0 : static_cast<int>(std::strlen(pattern)), replacement.Data(),
                        replacement.Length());
}

int ByteString::ReplaceAll(const char* pattern, const char* replacement) {
  if (pattern == nullptr) return 0;
  return ReplaceAll(pattern, static_cast<int>(std::strlen(pattern)), replacement,
                    replacement == nullptr ? 0 : static_cast<int>(std::strlen(replacement)));
}

void ByteString::MakeLowerMultibyte() {
  if (rep_->length == 0) return;
  platform::LowerCaseMultibyte(MutableData(), static_cast<std::size_t>(rep_->length));
}

namespace {

bool IsFullWidthSpace(const unsigned char* p) { return p[0] == 0x81 && p[1] == 0x40; }

}  // namespace

void ByteString::TrimRight(const char* singleBytes, bool fullWidthSpace) {
  const unsigned char* text = reinterpret_cast<const unsigned char*>(rep_->data());
  const int length = rep_->length;
  const LeadBytes& isLead = LeadByteTable();
  // Find where the trailing run of trimmable characters begins, walking the
  // characters from the start so that a trail byte is never taken alone.
  int keep = 0;
  for (int i = 0; i < length;) {
    int width = (isLead[text[i]] && i + 1 < length) ? 2 : 1;
    bool trimmable = width == 1 ? (text[i] != 0 && singleBytes != nullptr && std::strchr(singleBytes, text[i]))
                                : (fullWidthSpace && IsFullWidthSpace(text + i));
    i += width;
    if (!trimmable) keep = i;
  }
  Truncate(keep);
}

void ByteString::TrimLeft(const char* singleBytes, bool fullWidthSpace) {
  const unsigned char* text = reinterpret_cast<const unsigned char*>(rep_->data());
  const int length = rep_->length;
  const LeadBytes& isLead = LeadByteTable();
  int i = 0;
  while (i < length) {
    int width = (isLead[text[i]] && i + 1 < length) ? 2 : 1;
    bool trimmable = width == 1 ? (text[i] != 0 && singleBytes != nullptr && std::strchr(singleBytes, text[i]))
                                : (fullWidthSpace && IsFullWidthSpace(text + i));
    if (!trimmable) break;
    i += width;
  }
  if (i > 0) *this = Mid(i);
}

int ByteString::Compare(const ByteString& other) const {
  int a = rep_->length;
  int b = other.rep_->length;
  int common = a < b ? a : b;
  int c = std::memcmp(rep_->data(), other.rep_->data(), static_cast<std::size_t>(common));
  if (c != 0) return c;
  return a < b ? -1 : (a > b ? 1 : 0);
}

bool ByteString::operator==(const ByteString& other) const {
  return rep_ == other.rep_ ||
         (rep_->length == other.rep_->length &&
          std::memcmp(rep_->data(), other.rep_->data(), static_cast<std::size_t>(rep_->length)) == 0);
}

bool ByteString::Equals(const char* text) const {
  if (text == nullptr) return rep_->length == 0;
  std::size_t n = std::strlen(text);
  return n == static_cast<std::size_t>(rep_->length) && std::memcmp(rep_->data(), text, n) == 0;
}

ByteString operator+(const ByteString& a, const ByteString& b) {
  ByteString result;
  result.Reserve(a.Length() + b.Length());
  result.Append(a);
  result.Append(b);
  return result;
}

}  // namespace ambervox
