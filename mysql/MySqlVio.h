// The byte transport under the MySQL protocol, and the user IO handler through which an
// application can put a transport of its own under it.
//
// The protocol never touches a socket: it reads and writes through a TMySqlVio. Transport
// failures are not raised by ReadAll / WriteAll; they return short counts and the packet layer
// raises 2013 with the transport's ErrorText.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

class TMySqlVio {
 public:
  static constexpr int ReadAheadSize = 16384;
  // Requests shorter than this are served through the read-ahead buffer.
  static constexpr int ReadAheadThreshold = 2048;

  virtual ~TMySqlVio();
  TMySqlVio(const TMySqlVio&) = delete;
  TMySqlVio& operator=(const TMySqlVio&) = delete;

  virtual int GetTimeout() = 0;  // seconds
  virtual void SetTimeout(int seconds) = 0;
  // One transfer of up to count bytes at buffer + offset; 0 on end of stream, time-out or error
  // (ErrorText then says which).
  virtual int Read(uint8_t* buffer, int offset, int count) = 0;
  virtual int Write(const uint8_t* buffer, int offset, int count) = 0;
  // Subclasses call this first: it sets up the read-ahead buffer.
  virtual void Connect();
  virtual void Close() = 0;
  // Delivers count bytes unless the stream ends or fails first; returns the bytes delivered.
  virtual int ReadAll(uint8_t* buffer, int offset, int count);
  // Writes all count bytes unless the transport fails; three zero writes in a row (10 ms apart)
  // give up. Returns the bytes written (0 for count < 1).
  virtual int WriteAll(const uint8_t* buffer, int offset, int count);

  // Bytes received and not yet handed out, for a reader that takes them in place (a transport
  // without read-ahead has none); ConsumeReadAhead hands out the first count of them.
  std::span<const uint8_t> PeekReadAhead() const noexcept {
    return {FReadAhead.data() + FReadAheadPos, static_cast<size_t>(FReadAheadCount - FReadAheadPos)};
  }
  void ConsumeReadAhead(int count) noexcept { FReadAheadPos += count; }

  // The last transport error in words; empty when the last transfer did not fail.
  const std::string& ErrorText() const noexcept { return FErrorText; }
  // The system's error number of the last failed connect; 0 when it had none.
  int ErrorNumber() const noexcept { return FErrorNumber; }

 protected:
  TMySqlVio() = default;
  // Write until done or a Write moves nothing, without retries: for transports whose zero write
  // already waited out their time-out or met a dead peer.
  int WriteUntilFailure(const uint8_t* buffer, int offset, int count);
  // Received bytes not yet handed out: a switch to TLS must find none.
  bool ReadAheadPending() const noexcept { return FReadAheadPos < FReadAheadCount; }

  std::string FErrorText;
  int FErrorNumber = 0;

 private:
  std::vector<uint8_t> FReadAhead;
  int FReadAheadCount = 0;
  int FReadAheadPos = 0;
};

// A transport supplied by the application. Connect .. SetTimeout must be overridden; the base
// versions fail an assertion "Not overriden in an inherited class".
class TMyIOHandler {
 public:
  using THandle = void*;

  TMyIOHandler() = default;
  virtual ~TMyIOHandler() = default;
  TMyIOHandler(const TMyIOHandler&) = delete;
  TMyIOHandler& operator=(const TMyIOHandler&) = delete;

  // Called when a connection component takes this handler / lets it go. Empty here.
  virtual void RegisterClient(void* client);
  virtual void UnRegisterClient(void* client);

  virtual THandle Connect(const std::string& host, int port) = 0;
  virtual void Disconnect(THandle handle);
  virtual int Read(THandle handle, uint8_t* buffer, int offset, int count);
  virtual int Write(THandle handle, const uint8_t* buffer, int offset, int count);
  virtual int GetTimeout(THandle handle);
  virtual void SetTimeout(THandle handle, int seconds);
};

class TMyIOHandlerUtils {
 public:
  TMyIOHandlerUtils() = delete;
  static void RegisterClient(TMyIOHandler* handler, void* client);
  static void UnRegisterClient(TMyIOHandler* handler, void* client);
};

// A TMySqlVio that forwards to a TMyIOHandler (not owned).
class TMySqlVioHandler : public TMySqlVio {
 public:
  TMySqlVioHandler(std::string host, int port, TMyIOHandler* handler);
  ~TMySqlVioHandler() override;

  int GetTimeout() override;
  void SetTimeout(int seconds) override;
  // Not used: ReadAll / WriteAll go to the handler. Both fail the assertion "Not implemented".
  int Read(uint8_t* buffer, int offset, int count) override;
  int Write(const uint8_t* buffer, int offset, int count) override;
  // Fails an assertion when a handle is already held.
  void Connect() override;
  void Close() override;
  // The handler's Read / Write, repeated until count bytes or a call that moves none; 0 when not
  // connected.
  int ReadAll(uint8_t* buffer, int offset, int count) override;
  int WriteAll(const uint8_t* buffer, int offset, int count) override;

 private:
  std::string FHost;
  int FPort;
  TMyIOHandler* FHandler;
  TMyIOHandler::THandle FHandle = nullptr;
  int FTimeout = 0;  // used while no handle is held
};
