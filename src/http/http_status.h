// The HTTP statuses the server answers with and their reason phrases, in one
// table: every status line is built from it. Constant data; any thread.
#pragma once

namespace ambervox {

enum HttpStatus : int {
  kStatusOk = 200,
  kStatusMovedTemporarily = 302,
  kStatusNotModified = 304,
  kStatusBadRequest = 400,
  kStatusNotFound = 404,
  kStatusInternalServerError = 500,
  kStatusNotImplemented = 501,
};

struct HttpStatusEntry {
  int status;
  const char* reason;
};

constexpr HttpStatusEntry kHttpStatusTable[] = {
    {kStatusOk, "OK"},
    {kStatusMovedTemporarily, "Moved Temporarily"},
    {kStatusNotModified, "Not Modified"},
    {kStatusBadRequest, "Bad Request"},
    {kStatusNotFound, "Not Found"},
    {kStatusInternalServerError, "Internal Server Error"},
    {kStatusNotImplemented, "Not Implemented"},
};

// The reason phrase of `status`; "" for a status not in the table.
constexpr const char* ReasonPhrase(int status) {
  for (const HttpStatusEntry& entry : kHttpStatusTable) {
    if (entry.status == status) return entry.reason;
  }
  return "";
}

}  // namespace ambervox
