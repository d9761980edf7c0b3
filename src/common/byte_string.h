// ByteString: the one text type of the system. Bytes in the ANSI code page
// (CP932), always NUL-terminated, carrying their length; embedded NULs are
// allowed. Copies share their storage through an atomic reference count and a
// write to shared storage first makes a private copy, so a copy taken under a
// lock stays valid after the lock is released and may be handed to another
// thread. One ByteString object itself is not meant to be written by two
// threads at once.
//
// Character-aware operations (Find, ReplaceAll, the trims) walk the text one
// character at a time, a lead byte and its trail byte forming one character.
// Left/Mid/Right take byte counts, clamped to the string.
//
// Misuse (a negative length, a null source with a non-zero length) raises
// ByteStringError with code 0x80070057. Exhausted memory, or a length past
// what an int holds, raises std::bad_alloc, as every other allocation does,
// so that one handler catches running out of memory. Nothing of the system
// uses these errors to report results.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <exception>

namespace ambervox {

constexpr std::uint32_t kErrorInvalidArgument = 0x80070057u;

class ByteStringError : public std::exception {
 public:
  explicit ByteStringError(std::uint32_t code) : code_(code) {}
  std::uint32_t code() const { return code_; }
  const char* what() const noexcept override;

 private:
  std::uint32_t code_;
};

class ByteString {
 public:
  static constexpr int kNotFound = -1;

  ByteString() noexcept;
  ByteString(const char* text);  // NOLINT: implicit from literals; null gives ""
  ByteString(const char* data, int length);
  ByteString(const ByteString& other) noexcept;
  ByteString(ByteString&& other) noexcept;
  ~ByteString();
  ByteString& operator=(const ByteString& other) noexcept;
  ByteString& operator=(ByteString&& other) noexcept;
  ByteString& operator=(const char* text);

  int Length() const { return rep_->length; }
  bool IsEmpty() const { return rep_->length == 0; }
  const char* CStr() const { return rep_->data(); }
  const char* Data() const { return rep_->data(); }
  // Byte at `index`; 0 outside the string.
  char At(int index) const;
  unsigned char ByteAt(int index) const { return static_cast<unsigned char>(At(index)); }

  void Clear();
  void Assign(const char* data, int length);
  void Append(const char* data, int length);
  void Append(const char* text);
  void Append(const ByteString& other) { Append(other.Data(), other.Length()); }
  void AppendChar(char c) { Append(&c, 1); }
  // printf-style text appended / built.
  void AppendFormat(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;
  static ByteString Format(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 1, 2)))
#endif
      ;
  ByteString& operator+=(const ByteString& other) {
    Append(other);
    return *this;
  }
  ByteString& operator+=(const char* text) {
    Append(text);
    return *this;
  }

  // Makes room for at least `capacity` bytes without changing the text.
  void Reserve(int capacity);
  // Writable access for in-place rewriting: the storage is made private
  // first. Bytes past Length() must not be touched.
  char* MutableData();
  // Cuts the text to `length` bytes (no effect when already shorter). Cut to
  // nothing, a text that does not share its storage keeps it for reuse.
  void Truncate(int length);

  ByteString Left(int count) const;
  ByteString Mid(int start) const;
  ByteString Mid(int start, int count) const;
  ByteString Right(int count) const;

  // First occurrence at or after byte `start`, never starting on the trail
  // byte of a two-byte character; kNotFound when none. An empty pattern is
  // found at `start` (when start <= Length()).
  int FindBytes(const char* pattern, int patternLength, int start) const;
  // The same search in `length` bytes at `text`, which need not be a
  // ByteString (a view into a larger block).
  static int FindBytesIn(const char* text, int length, const char* pattern, int patternLength, int start);
  int Find(const ByteString& pattern, int start = 0) const {
    return FindBytes(pattern.Data(), pattern.Length(), start);
  }
  int Find(const char* pattern, int start = 0) const;
  bool Contains(const char* pattern) const { return Find(pattern) != kNotFound; }
  bool StartsWith(const char* prefix) const;
  bool EndsWith(const char* suffix) const;

  // Replaces every non-overlapping occurrence of `pattern`, searched left to
  // right and continuing after each inserted replacement (inserted text is
  // never searched again). An empty pattern replaces nothing. Returns the
  // number of replacements.
  int ReplaceAll(const char* pattern, int patternLength, const char* replacement, int replacementLength);
  int ReplaceAll(const char* pattern, const char* replacement);
  int ReplaceAll(const ByteString& pattern, const ByteString& replacement) {
    return ReplaceAll(pattern.Data(), pattern.Length(), replacement.Data(), replacement.Length());
  }
  // Appends `length` bytes of `text` with every occurrence of `pattern`
  // replaced as ReplaceAll replaces them, without a copy of the text in
  // between. Returns the number of replacements.
  int AppendReplaced(const char* text, int length, const char* pattern, int patternLength, const char* replacement,
                     int replacementLength);
  int AppendReplaced(const ByteString& text, const char* pattern, const ByteString& replacement);

  // Lower-cases the text in place, character by character (see
  // platform::LowerCaseMultibyte).
  void MakeLowerMultibyte();

  // Removes trailing / leading whole characters equal to any of `set`
  // (single bytes) or, when allowed, the full-width space 0x81 0x40.
  void TrimRight(const char* singleBytes, bool fullWidthSpace);
  void TrimLeft(const char* singleBytes, bool fullWidthSpace);

  int Compare(const ByteString& other) const;  // byte order, like memcmp
  bool operator==(const ByteString& other) const;
  bool operator!=(const ByteString& other) const { return !(*this == other); }
  bool operator<(const ByteString& other) const { return Compare(other) < 0; }
  bool Equals(const char* text) const;

 private:
  struct Rep {
    std::atomic<int> refs;
    int length;
    int capacity;
    char* data() { return reinterpret_cast<char*>(this + 1); }
    const char* data() const { return reinterpret_cast<const char*>(this + 1); }
  };
  static Rep* EmptyRep();
  static Rep* Allocate(int capacity);
  static void Release(Rep* rep);
  // Makes the storage private with room for `capacity` bytes.
  void MakeUnique(int capacity);
  // True when [data, data + length) may lie in this text's storage.
  bool IsOwnStorage(const char* data, int length) const;
  void AppendFormatV(const char* format, va_list args);

  Rep* rep_;
};

ByteString operator+(const ByteString& a, const ByteString& b);

}  // namespace ambervox
