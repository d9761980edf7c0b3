#include "http/mime_table.h"

#include "common/text_operations.h"

namespace ambervox {
namespace {

struct MimeEntry {
  const char* extension;
  const char* contentType;
};

constexpr MimeEntry kMimeEntries[] = {
    {"html", "text/html"},  {"htm", "text/html"},       {"js", "text/javascript"},  {"css", "text/css"},
    {"jpg", "image/jpeg"},  {"jpeg", "image/jpeg"},     {"gif", "image/gif"},       {"png", "image/png"},
    {"wav", "audio/wav"},   {"avi", "video/x-msvideo"}, {"mov", "video/quicktime"}, {"mpg", "video/mpeg"},
    {"mpeg", "video/mpeg"}, {"vrml", "model/vrml"},     {"mp3", "audio/mpeg"},      {"pls", "audio/x-scpls"},
};

}  // namespace

const char* MimeTable::ContentTypeFor(const ByteString& extension) {
  for (const MimeEntry& entry : kMimeEntries) {
    if (extension.Equals(entry.extension)) return entry.contentType;
  }
  return nullptr;
}

const char* MimeTable::ContentTypeForTarget(const ByteString& target) {
  int dot = FindNoCase(target, ".");
  if (dot == ByteString::kNotFound) return nullptr;
  return ContentTypeFor(target.Mid(dot + 1));
}

}  // namespace ambervox
