#include "tests/support/http_test_server.h"

#include <ws2tcpip.h>

#include <chrono>

namespace test_support {
namespace {

struct WinsockInit {
  WinsockInit() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
};

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 404: return "Not Found";
    default: return "Status";
  }
}

}  // namespace

HttpTestServer::~HttpTestServer() { Stop(); }

bool HttpTestServer::Start(unsigned short port) {
  static WinsockInit init;
  listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener_ == INVALID_SOCKET) return false;
  BOOL exclusive = TRUE;
  ::setsockopt(listener_, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof(exclusive));
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      ::listen(listener_, 16) != 0) {
    ::closesocket(listener_);
    listener_ = INVALID_SOCKET;
    return false;
  }
  int len = sizeof(addr);
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  stopping_ = false;
  accept_thread_ = std::thread(&HttpTestServer::AcceptLoop, this);
  return true;
}

void HttpTestServer::Stop() {
  if (listener_ == INVALID_SOCKET) return;
  stopping_ = true;
  ::closesocket(listener_);
  listener_ = INVALID_SOCKET;
  if (accept_thread_.joinable()) accept_thread_.join();
  std::vector<std::thread> handlers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (SOCKET s : open_clients_) ::shutdown(s, SD_BOTH);
    handlers.swap(handlers_);
  }
  for (auto& t : handlers) t.join();
}

std::wstring HttpTestServer::BaseUrl() const {
  return L"http://127.0.0.1:" + std::to_wstring(port_);
}

void HttpTestServer::Serve(const std::string& path, Response response) {
  std::lock_guard<std::mutex> lock(mutex_);
  routes_[path] = std::move(response);
}

std::vector<std::string> HttpTestServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

bool HttpTestServer::WaitForRequests(size_t count, unsigned timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return arrived_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&] { return requests_.size() >= count; });
}

void HttpTestServer::AcceptLoop() {
  while (!stopping_) {
    SOCKET client = ::accept(listener_, nullptr, nullptr);
    if (client == INVALID_SOCKET) break;
    std::lock_guard<std::mutex> lock(mutex_);
    open_clients_.push_back(client);
    handlers_.emplace_back(&HttpTestServer::Handle, this, client);
  }
}

void HttpTestServer::Handle(SOCKET client) {
  std::string request;
  char buf[4096];
  while (request.find("\r\n\r\n") == std::string::npos) {
    int got = ::recv(client, buf, sizeof(buf), 0);
    if (got <= 0) break;
    request.append(buf, static_cast<size_t>(got));
  }
  size_t sp1 = request.find(' ');
  size_t sp2 = sp1 == std::string::npos ? sp1 : request.find(' ', sp1 + 1);
  std::string target =
      sp2 == std::string::npos ? std::string() : request.substr(sp1 + 1, sp2 - sp1 - 1);
  Response response;
  bool found = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!target.empty()) requests_.push_back(target);
    auto it = routes_.find(target.substr(0, target.find('?')));
    if (it != routes_.end()) {
      response = it->second;
      found = true;
    }
  }
  arrived_.notify_all();
  if (silent_) {
    // Hold the connection until the peer gives up or the server stops.
    while (!stopping_ && ::recv(client, buf, sizeof(buf), 0) > 0) {
    }
  } else {
    if (!found) response = Response{404, "not found", "text/plain"};
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + Reason(response.status) +
                       "\r\nContent-Type: " + response.content_type +
                       "\r\nContent-Length: " + std::to_string(response.body.size()) +
                       "\r\nConnection: close\r\n\r\n";
    std::string all = head + response.body;
    size_t sent = 0;
    while (sent < all.size()) {
      int n = ::send(client, all.data() + sent, static_cast<int>(std::min<size_t>(all.size() - sent, 1 << 20)), 0);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    ::shutdown(client, SD_SEND);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = open_clients_.begin(); it != open_clients_.end(); ++it) {
    if (*it == client) {
      open_clients_.erase(it);
      break;
    }
  }
  ::closesocket(client);
}

}  // namespace test_support
