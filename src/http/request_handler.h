// RequestHandler: what the server runs on every connection it accepts. The
// server knows sockets and threads, not what is answered; the site above it
// (pages/) implements this interface and is handed to the server by whoever
// owns both (the plug-in, or a test).
#pragma once

#include "http/http_connection.h"

namespace ambervox {

class RequestHandler {
 public:
  virtual ~RequestHandler() = default;

  // Reads the request head from `connection` and answers it. Called once per
  // connection, on that connection's own thread, and on many threads at
  // once, so whatever an implementation shares between calls locks itself.
  // The caller destroys the connection afterwards, which closes it. An
  // exception ends the answer; the caller catches it.
  virtual void AnswerConnection(HttpConnection& connection) = 0;
};

}  // namespace ambervox
