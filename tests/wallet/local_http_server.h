// A small plain-HTTP server on 127.0.0.1 for the network tests: one accept thread, one request per
// connection ("Connection: close"), bounded request size and socket time-outs, so a confused
// client cannot hang a test. Every request is recorded with the time it arrived.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <curl/curl.h>
#include <gtest/gtest.h>

#include "wallet/http_test_seam.h"

namespace test_server {

// libcurl set up once for a test binary, as the program's start-up does.
struct CurlEnvironment : ::testing::Environment {
  void SetUp() override { ASSERT_EQ(curl_global_init(CURL_GLOBAL_ALL), CURLE_OK); }
  void TearDown() override { curl_global_cleanup(); }
};

struct Request {
  std::string target;  // path and query
  std::string host;    // the Host header
  std::string body;
  std::chrono::steady_clock::time_point arrived;
};

struct Response {
  int status = 200;
  std::string body;
  std::string content_type = "text/plain";
};

using Handler = std::function<Response(const Request&)>;

class LocalHttpServer {
 public:
  explicit LocalHttpServer(Handler handler) : handler_(std::move(handler)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "the test server could not listen";
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }

  ~LocalHttpServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    ::close(listener_);
  }

  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  int port() const { return port_; }
  std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }

  std::vector<Request> requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

  // Requests whose target starts with `prefix`.
  std::vector<Request> requests_to(const std::string& prefix) {
    std::vector<Request> found;
    for (const Request& request : requests()) {
      if (request.target.rfind(prefix, 0) == 0) found.push_back(request);
    }
    return found;
  }

 private:
  static constexpr std::size_t kMaxRequest = 4u * 1024u * 1024u;

  void serve() {
    while (!stop_) {
      pollfd waiting{listener_, POLLIN, 0};
      if (::poll(&waiting, 1, 50) <= 0) continue;
      const int connection = ::accept(listener_, nullptr, nullptr);
      if (connection < 0) continue;
      timeval limit{5, 0};
      ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
      ::setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
      handle(connection);
      ::close(connection);
    }
  }

  static std::string header_value(const std::string& head, const std::string& name) {
    for (std::size_t at = head.find("\r\n"); at != std::string::npos;
         at = head.find("\r\n", at + 2)) {
      if (strncasecmp(head.c_str() + at + 2, (name + ":").c_str(), name.size() + 1) != 0) continue;
      const std::size_t start = head.find_first_not_of(' ', at + 3 + name.size());
      return start == std::string::npos ? "" : head.substr(start, head.find("\r\n", start) - start);
    }
    return {};
  }

  static bool receive(int connection, std::string& data) {
    char chunk[65536];
    const ssize_t got = ::recv(connection, chunk, sizeof chunk, 0);
    if (got > 0) data.append(chunk, static_cast<std::size_t>(got));
    return got > 0;
  }

  void handle(int connection) {
    std::string data;
    std::size_t head_end = std::string::npos;
    while (head_end == std::string::npos && data.size() < kMaxRequest) {
      if (!receive(connection, data)) return;
      // A TLS hello is not HTTP: answer in plain text at once so the client fails fast.
      if (static_cast<unsigned char>(data[0]) == 0x16) {
        send_all(connection, "HTTP/1.1 400 Plain\r\nConnection: close\r\n\r\n");
        return;
      }
      head_end = data.find("\r\n\r\n");
    }
    if (head_end == std::string::npos) return;
    const std::string head = data.substr(0, head_end);
    const std::size_t wanted =
        std::strtoul(header_value(head, "Content-Length").c_str(), nullptr, 10);
    if (wanted > kMaxRequest) return;
    Request request;
    request.body = data.substr(head_end + 4);
    // libcurl waits for this before it sends a large body.
    if (request.body.size() < wanted && !header_value(head, "Expect").empty() &&
        !send_all(connection, "HTTP/1.1 100 Continue\r\n\r\n"))
      return;
    while (request.body.size() < wanted) {
      if (!receive(connection, request.body)) return;
    }
    request.body.resize(wanted);
    const std::size_t space = head.find(' ');
    request.target = head.substr(space + 1, head.find(' ', space + 1) - space - 1);
    request.host = header_value(head, "Host");
    request.arrived = std::chrono::steady_clock::now();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
    }
    const Response response = handler_(request);
    send_all(connection, "HTTP/1.1 " + std::to_string(response.status) +
                             " Test\r\nContent-Type: " + response.content_type +
                             "\r\nContent-Length: " + std::to_string(response.body.size()) +
                             "\r\nConnection: close\r\n\r\n" + response.body);
  }

  static bool send_all(int connection, const std::string& text) {
    for (std::size_t sent = 0; sent < text.size();) {
      const ssize_t part = ::send(connection, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
      if (part <= 0) return false;  // the client gave up
      sent += static_cast<std::size_t>(part);
    }
    return true;
  }

  Handler handler_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<Request> requests_;
};

// Endpoints that send every service of the network code to `server` (plain HTTP), with
// `service_host` pinned to it.
inline wallet::NetworkEndpoints endpoints_for(const LocalHttpServer& server,
                                              const std::string& service_host) {
  wallet::NetworkEndpoints endpoints;
  endpoints.service_scheme = "http";
  endpoints.service_host = service_host;
  endpoints.service_ip = "127.0.0.1";
  endpoints.service_port = server.port();
  endpoints.woc_base = server.base() + "/woc";
  endpoints.arc_base = server.base() + "/arc";
  endpoints.ordinals_api_base = server.base() + "/gp";
  return endpoints;
}

}  // namespace test_server
