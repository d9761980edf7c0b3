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

// The 400 answer to a path that could leave the web root.
void SendBadPath(HttpConnection& connection, const ByteString& filePath);

// Sends `file` as it is: 304 when the browser's If-Modified-Since is not
// older than the file, else 200 with Last-Modified and the whole size,
// streamed. Returns 1.
int SendStaticFile(HttpConnection& connection, std::FILE* file, const char* contentType,
                   const platform::FileInfo& info);
// The same for a file read into memory: `bytes` are the body (and give the
// Content-Length), `info` the Last-Modified and the 304. In one send.
int SendStaticBytes(HttpConnection& connection, const std::string& bytes, const char* contentType,
                    const platform::FileInfo& info);

}  // namespace ambervox
