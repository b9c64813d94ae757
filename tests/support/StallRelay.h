// A loopback relay in front of the test server that can go silent: every connection made to it
// is passed on to the server until Stall, after which nothing more is forwarded either way and
// the client waits on a server that no longer answers (the server itself is left alone). Resume
// drops the stalled connections and forwards the ones made after it, as a server back in service.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class TStallRelay {
 public:
  TStallRelay(const std::string& toHost, int toPort) {
    FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    socklen_t size = sizeof a;
    ::bind(FListen, reinterpret_cast<sockaddr*>(&a), size);
    ::listen(FListen, 8);
    ::getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &size);
    Port = ntohs(a.sin_port);
    FTo.sin_family = AF_INET;
    FTo.sin_port = htons(static_cast<uint16_t>(toPort));
    ::inet_pton(AF_INET, toHost.c_str(), &FTo.sin_addr);
    FThread = std::thread([this] { Run(); });
  }
  ~TStallRelay() {
    FStop = true;
    FThread.join();
    ::close(FListen);
  }
  TStallRelay(const TStallRelay&) = delete;
  TStallRelay& operator=(const TStallRelay&) = delete;

  void Stall() { FStalled = true; }
  // Returns once the relay has dropped the stalled connections (at most a second later).
  void Resume() {
    FResume = true;
    for (int i = 0; i < 100 && FResume; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  int Port = 0;

 private:
  // Bounded: ends on destruction or after two minutes.
  void Run() {
    std::vector<std::pair<int, int>> pairs;  // client, server; -1 once closed
    const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (!FStop && std::chrono::steady_clock::now() < end) {
      if (FResume.exchange(false)) {
        for (auto& [c, s] : pairs)
          if (c >= 0) ::close(c), ::close(s), c = s = -1;
        FStalled = false;
      }
      std::vector<pollfd> fds{{FListen, POLLIN, 0}};
      std::vector<size_t> owner{0};
      for (size_t p = 0; p < pairs.size() && !FStalled; ++p) {
        if (pairs[p].first < 0) continue;
        fds.insert(fds.end(), {{pairs[p].first, POLLIN, 0}, {pairs[p].second, POLLIN, 0}});
        owner.insert(owner.end(), {p, p});
      }
      if (::poll(fds.data(), fds.size(), 50) <= 0) continue;
      if (fds[0].revents & POLLIN) Accept(pairs);
      for (size_t i = 1; i < fds.size(); ++i) {
        auto& [c, s] = pairs[owner[i]];
        if (fds[i].revents == 0 || c < 0) continue;
        const int to = fds[i].fd == c ? s : c;
        char buffer[16384];
        const ssize_t n = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
        if (n <= 0 || ::send(to, buffer, static_cast<size_t>(n), MSG_NOSIGNAL) != n) {
          ::close(c);
          ::close(s);
          c = s = -1;
        }
      }
    }
    for (auto [c, s] : pairs)
      if (c >= 0) ::close(c), ::close(s);
  }

  void Accept(std::vector<std::pair<int, int>>& pairs) {
    const int client = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(server, reinterpret_cast<const sockaddr*>(&FTo), sizeof FTo) != 0) {
      ::close(server);
      ::close(client);
      return;
    }
    pairs.emplace_back(client, server);
  }

  int FListen = -1;
  sockaddr_in FTo{};
  std::atomic<bool> FStop{false};
  std::atomic<bool> FStalled{false};
  std::atomic<bool> FResume{false};
  std::thread FThread;
};
