// A loopback relay for tests that reach a server under an address it does not listen on.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

// Relays one connection from a listener on another loopback address to the test server: the
// same server and certificate, reached under an address its certificate does not name.
class TLoopbackRelay {
 public:
  TLoopbackRelay(const char* address, const std::string& toHost, int toPort) {
    FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, address, &a.sin_addr);
    socklen_t size = sizeof a;
    EXPECT_EQ(::bind(FListen, reinterpret_cast<sockaddr*>(&a), size), 0);
    EXPECT_EQ(::listen(FListen, 4), 0);
    ::getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &size);
    Port = ntohs(a.sin_port);
    a.sin_port = htons(static_cast<uint16_t>(toPort));
    ::inet_pton(AF_INET, toHost.c_str(), &a.sin_addr);
    FThread = std::thread([this, a] { Run(a); });
  }
  ~TLoopbackRelay() {
    FStop = true;
    FThread.join();
    ::close(FListen);
  }
  int Port = 0;

 private:
  // Bounded: the relay ends when either side closes, on Stop, or after 20 seconds.
  void Run(sockaddr_in to) {
    pollfd p{FListen, POLLIN, 0};
    if (::poll(&p, 1, 10000) != 1) return;
    const int client = ::accept(FListen, nullptr, nullptr);
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(server, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
      char buffer[16384];
      for (int rounds = 0; !FStop && rounds < 200; ++rounds) {
        pollfd both[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        if (::poll(both, 2, 100) <= 0) continue;
        bool open = true;
        for (int i = 0; i < 2 && open; ++i) {
          if (both[i].revents == 0) continue;
          const ssize_t n = ::recv(both[i].fd, buffer, sizeof buffer, 0);
          open = n > 0 && ::send(both[1 - i].fd, buffer, static_cast<size_t>(n), MSG_NOSIGNAL) == n;
        }
        if (!open) break;
      }
    }
    ::close(server);
    ::close(client);
  }

  int FListen = -1;
  std::atomic<bool> FStop{false};
  std::thread FThread;
};
