// A scripted fake MySQL server for fault tests: it listens on loopback (TCP on a free port, or a
// Unix socket), and on its own thread replays a script of expected client bytes and canned
// replies. It can split its writes, stall, close mid-packet and fail at a chosen step.
//
//   TFakeMySqlServer server;
//   server.SendPacket(0, greeting).ReadPacket(1).SendPacket(2, ok).ExpectClose();
//   server.Start();
//   ... connect a client to 127.0.0.1:server.Port() and drive it ...
//   EXPECT_EQ(server.Finish(), "");   // "" when the script ran as written
//
// The script is fixed before Start. Every wait of the server thread is bounded (StepTimeoutMs);
// the destructor stops the thread. Bytes are compared exactly; a mismatch ends the script, closes
// the connection and is reported by Finish.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TFakeMySqlServer {
 public:
  using TBytes = std::vector<uint8_t>;
  // Checks a received packet payload; returns "" when it is acceptable, else what is wrong.
  using TPacketCheck = std::function<std::string(const TBytes& payload)>;

  // How a step fails when FailAtStep picks it.
  enum class TFailMode {
    Close,         // close the connection instead of running the step
    CloseMidStep,  // send or read half of the step's bytes (at least 1), then close
    Reset,         // abort the connection (RST) instead of running the step
    Stall,         // stop answering; keep the connection open until the client closes it or Finish
  };

  TFakeMySqlServer();  // TCP on 127.0.0.1, a free port chosen by the system
  explicit TFakeMySqlServer(const std::string& unixSocketPath);  // a Unix socket at that path
  ~TFakeMySqlServer();
  TFakeMySqlServer(const TFakeMySqlServer&) = delete;
  TFakeMySqlServer& operator=(const TFakeMySqlServer&) = delete;

  // ---- the script (each returns *this) ----
  TFakeMySqlServer& Send(const TBytes& bytes);
  TFakeMySqlServer& SendPacket(uint8_t seq, const TBytes& payload);  // 3-byte length, seq, payload
  TFakeMySqlServer& Expect(const TBytes& bytes);                     // exactly these bytes
  TFakeMySqlServer& ExpectPacket(uint8_t seq, const TBytes& payload);
  // One plain packet (one chunk) with sequence seq and any payload the check accepts.
  TFakeMySqlServer& ReadPacket(uint8_t seq, TPacketCheck check = nullptr);
  TFakeMySqlServer& Pause(int ms);
  TFakeMySqlServer& Close();        // orderly close of the current connection
  TFakeMySqlServer& ExpectClose();  // the client closes (bytes it sends first are kept, unchecked)
  TFakeMySqlServer& Accept();       // wait for the next connection (the first one is implicit)

  // ---- fault injection and limits (before Start) ----
  // Writes go out in pieces of at most n bytes with a short pause between, so the client sees
  // split reads. 0 = whole.
  void SetWriteChunk(size_t n) { FWriteChunk = n; }
  // Step index (0-based, in script order) at which the script fails in the given way.
  void FailAtStep(int step, TFailMode mode = TFailMode::Close);
  void SetStepTimeoutMs(int ms) { FStepTimeoutMs = ms; }
  int StepCount() const { return static_cast<int>(FSteps.size()); }

  void Start();
  int Port() const { return FPort; }  // 0 for a Unix socket
  const std::string& SocketPath() const { return FSocketPath; }

  // Waits (bounded by timeoutMs) for the script to end, stops the thread and returns "" when every
  // step ran as written, else a description of the first failure. An injected failure counts as
  // running as written.
  std::string Finish(int timeoutMs = 10000);
  // Every byte the server received, over all connections, and the payloads of ReadPacket steps.
  TBytes Received();
  std::vector<TBytes> ReadPackets();
  int Connections() const { return FConnections.load(); }

  // Packet builders for scripts.
  static TBytes Packet(uint8_t seq, const TBytes& payload);
  // A compressed-protocol envelope around data (which holds plain packets): compressed with zlib
  // when compress is set, else stored with uncompressed length 0.
  static TBytes CompressedPacket(uint8_t compSeq, const TBytes& data, bool compress);

 private:
  enum class TKind { Send, Expect, ReadPacket, Pause, Close, ExpectClose, Accept };
  struct TStep {
    explicit TStep(TKind kind, TBytes bytes = {}) : Kind(kind), Bytes(std::move(bytes)) {}
    TKind Kind;
    TBytes Bytes;
    uint8_t Seq = 0;
    TPacketCheck Check;
    int Ms = 0;
  };
  class TStopped {};  // thrown inside the thread when Finish stops it

  TFakeMySqlServer& Add(TStep step);
  void Listen();
  void Run();
  void RunStep(int index, const TStep& step);
  void InjectFailure(const TStep& step);
  void AcceptClient();
  void CloseClient(bool reset = false);
  // Bounded I/O on the client connection; false on end of stream or time-out (`why` says which).
  bool ReadExactly(uint8_t* buffer, size_t count, std::string& why);
  void WriteAll(const uint8_t* data, size_t count);
  bool WaitFor(int fd, short events, int timeoutMs);
  void Fail(const std::string& text);

  std::vector<TStep> FSteps;
  std::string FSocketPath;
  int FListenFd = -1;
  int FClientFd = -1;
  int FWakePipe[2] = {-1, -1};
  int FPort = 0;
  size_t FWriteChunk = 0;
  int FFailStep = -1;
  TFailMode FFailMode = TFailMode::Close;
  int FStepTimeoutMs = 10000;

  std::thread FThread;
  std::atomic<bool> FStop{false};
  std::atomic<bool> FDone{false};
  std::atomic<bool> FStalled{false};  // a Stall failure is running: Finish ends it at once
  std::atomic<int> FConnections{0};
  std::mutex FLock;  // guards the results below
  std::string FError;
  TBytes FReceived;
  std::vector<TBytes> FReadPackets;
};
