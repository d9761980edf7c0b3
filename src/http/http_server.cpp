#include "http/http_server.h"

#include <cstdio>
#include <utility>

namespace ambervox {
namespace {

// What Listen gets for a port that must not be opened.
constexpr int kNoPort = -1;

ConnectionThreadServices ThreadServicesOf(const HttpServerServices& services) {
  ConnectionThreadServices threadServices;
  threadServices.startThread = services.startThread;
  threadServices.connectionSend = services.connectionSend;
  return threadServices;
}

}  // namespace

HttpServer::HttpServer(RequestHandler& handler, const ServerLimits& limits, const HttpServerServices& services)
    : limits_(limits), services_(services), threads_(handler, limits, ThreadServicesOf(services)) {}

HttpServer::~HttpServer() { Stop(); }

bool HttpServer::Start(int port) {
  // A port out of range (0 included) opens nothing, but the socket library
  // is started first all the same, so that its failure is reported whatever
  // the port setting says.
  return Listen(port >= 1 && port <= 65535 ? port : kNoPort);
}

bool HttpServer::StartOnAnyPort() { return Listen(0); }

bool HttpServer::Listen(int port) {
  if (running_) return false;
  std::string error;
  if (!services_.socketsStartup(&error)) {
    // Without a socket library there is no server, but the player goes on.
    std::printf("Socket error: %s\n", error.c_str());
    std::fflush(stdout);
    return false;
  }
  platform::ScopedSocket listenSocket;
  if (port != kNoPort) {
    listenSocket = platform::ScopedSocket(platform::ListenTcp(static_cast<std::uint16_t>(port), limits_.listenBacklog));
  }
  // Connection threads and the listener both accept, each after waiting
  // for a client; the one that comes second must not block.
  if (listenSocket.IsValid() && !platform::SetNonBlocking(listenSocket.Get())) listenSocket.Close();
  if (!listenSocket.IsValid()) {
    services_.socketsCleanup();
    return false;
  }
  const int listening = platform::LocalPort(listenSocket.Get());
  if (!threads_.Start(std::move(listenSocket))) {
    services_.socketsCleanup();
    return false;
  }
  port_ = listening;
  running_ = true;
  return true;
}

bool HttpServer::Stop() {
  if (!running_) return false;
  threads_.Stop();
  services_.socketsCleanup();
  running_ = false;
  return true;
}

}  // namespace ambervox
