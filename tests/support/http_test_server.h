// A small HTTP/1.1 server on 127.0.0.1 for tests: serves fixed bodies by path,
// records every request target in arrival order, and can hold connections open
// without answering. One connection at a time is enough for the client here;
// each is handled on its own thread so a silent one never blocks the next.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace test_support {

class HttpTestServer {
 public:
  struct Response {
    int status = 200;
    std::string body;
    std::string content_type = "application/octet-stream";
  };

  HttpTestServer() = default;
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  // Listens on 127.0.0.1:|port| (0 picks a free port). False when it cannot bind.
  bool Start(unsigned short port = 0);
  void Stop();
  unsigned short port() const { return port_; }
  std::wstring BaseUrl() const;  // "http://127.0.0.1:<port>"

  // Serves |response| for GETs of |path| (the target without its query).
  void Serve(const std::string& path, Response response);
  // Connections are accepted and read but never answered until Stop.
  void SetSilent(bool silent) { silent_ = silent; }

  // Request targets (path and query) in arrival order.
  std::vector<std::string> Requests() const;
  // Waits until at least |count| requests arrived; false on time-out.
  bool WaitForRequests(size_t count, unsigned timeout_ms) const;

 private:
  void AcceptLoop();
  void Handle(SOCKET client);

  SOCKET listener_ = INVALID_SOCKET;
  unsigned short port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> silent_{false};
  std::thread accept_thread_;
  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::map<std::string, Response> routes_;
  std::vector<std::string> requests_;
  std::vector<std::thread> handlers_;
  std::vector<SOCKET> open_clients_;
};

}  // namespace test_support
