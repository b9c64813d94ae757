// The prologue and epilogue of a database benchmark: the private test server is started when
// none runs, and stopped at the end by the benchmark that started it. Its InnoDB buffer pool holds
// a benchmark's tables whole (kBufferPoolMiB), so that reads are not bound by the server's disk.
#pragma once

#include "support/TestServer.h"

class TBenchServer {
 public:
  static constexpr int kBufferPoolMiB = 512;

  // Exits the program with a message when the server does not start.
  TBenchServer();
  ~TBenchServer();
  TBenchServer(const TBenchServer&) = delete;
  TBenchServer& operator=(const TBenchServer&) = delete;

  const TestServer::TInfo& Info() const { return TestServer::Info(); }

 private:
  bool FStarted = false;
};
