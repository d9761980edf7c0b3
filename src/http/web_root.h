// The web root: how a request target becomes a path below the WebRoot
// setting, which targets are refused because they could leave it, and how a
// file found there is sent as it is. Stateless; any thread.
#pragma once

#include <cstdio>
#include <string>

#include "common/byte_string.h"
#include "http/http_connection.h"
#include "platform/files.h"

namespace ambervox {

// The full path of `filePath` under `webRoot`: every "/" becomes "\\", one
// backslash joins the two unless the root ends with one, and every pair of
// backslashes in the result is collapsed into one (left to right, pairs do
// not overlap).
ByteString BuildFullPath(const ByteString& webRoot, const ByteString& filePath);

// True when `path` could name something outside the web root: it has a
// segment ("/" and "\\" both separate) made only of dots and spaces with at
// least two dots. Besides "..", that refuses spellings such as "..." or
// ".. " that Windows may read as the parent folder, because it drops
// trailing dots and spaces from a name.
bool HasParentSegment(const ByteString& path);

// True when a segment of `path` begins with "." ("/" and "\\" both separate,
// empty segments are skipped, a two-byte character is one character): a
// hidden file or folder such as ".git", reached by whatever spelling.
bool HasDotSegment(const ByteString& path);

// True when a segment of `path` is a name Windows gives another meaning, or
// cannot hold: a DOS device (CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9,
// CONIN$, CONOUT$ in any case, with or without an extension, with spaces
// before the dot), a name that ends in a dot or a space (Windows drops them,
// so "page.html." would open page.html under another type), or one holding
// a control character or one of < > : " | * (":" names a drive or a stream,
// as in "page.html::$DATA"). "/" and "\\" both separate; a two-byte character
// is one character.
bool HasReservedSegment(const ByteString& path);

// True when the last segment of `path` is the name of the plug-in's settings
// file (plugin.ini), in any case: it holds the admin password.
bool NamesSettingsFile(const ByteString& path);

// `path` with every "%" followed by two hexadecimal digits replaced by the
// byte they give; every other byte ("+" too: it is no space in a path) stays.
ByteString DecodePercentEscapes(const ByteString& path);

// What FindWebRootFile found for a path below the web root.
enum class WebRootLookup {
  kFound,    // a regular file that may be served
  kMissing,  // nothing servable there: 404
  kBadPath,  // the spelling could leave the web root or names a hidden file: 400
  kRefused,  // a name that is never served (see HasReservedSegment, NamesSettingsFile): 404
};

// Looks `filePath` up below `webRoot`. A path that starts with "/." is a bad
// path; so, when it comes from the request target (`fromTarget`), is one
// with a parent or a hidden segment. Reserved names and the settings file
// are refused before anything is looked up. What is found must be a regular
// disk file, and its real (long) names below the root are judged again, so
// that a short name such as "GIT~1" cannot reach ".git". On kFound,
// `fullPath` and `info` describe the file.
WebRootLookup FindWebRootFile(const ByteString& webRoot, const ByteString& filePath, bool fromTarget,
                              ByteString* fullPath, platform::FileInfo* info);

// The 400 answer to a path that could leave the web root.
void SendBadPath(HttpConnection& connection, const ByteString& filePath);

// Sends `file` as it is: 304 when the browser's If-Modified-Since is not
// older than the file, else 200 with Last-Modified and the whole size,
// streamed.
void SendStaticFile(HttpConnection& connection, std::FILE* file, const char* contentType,
                    const platform::FileInfo& info);
// The same for a file read into memory: `bytes` are the body (and give the
// Content-Length), `info` the Last-Modified and the 304. In one send.
void SendStaticBytes(HttpConnection& connection, const std::string& bytes, const char* contentType,
                     const platform::FileInfo& info);

}  // namespace ambervox
