// Pools of open provider connections, kept for reuse.
//
// A connection component with pooling on asks a pool manager for a connection with its
// TCRConnectionParameters; the manager finds or makes the pool of equal parameters, and the pool
// hands out an idle connection or makes a new one. Closing the component hands the connection
// back (TCRConnection::ReturnToPool). A background thread of the manager checks the idle
// connections every 30 seconds, frees the stale and surplus ones, and drops pools left empty.
//
// Ownership: the manager and every connection a pool has handed out share the pool, so a pool
// outlives its last connection out even when the manager has dropped it. Idle connections belong
// to their pool. Every operation here may be called from any thread.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/CRAccess.h"

// How long GetConnection waits for a free slot, in milliseconds.
inline constexpr uint32_t DefaultConnectionPoolTimeout = 30000;
// The validation thread's period, in milliseconds.
inline constexpr uint32_t ConnectionPoolValidateInterval = 30000;

// The key of a pool: connections are shared between requests with equal parameters.
class TCRConnectionParameters {
 public:
  TCRConnectionParameters() = default;
  virtual ~TCRConnectionParameters() = default;
  TCRConnectionParameters(const TCRConnectionParameters&) = delete;
  TCRConnectionParameters& operator=(const TCRConnectionParameters&) = delete;

  // Copies every field the destination's class shares with the source's.
  void Assign(const TCRConnectionParameters& source) { source.AssignTo(*this); }
  virtual void AssignTo(TCRConnectionParameters& dest) const;
  // A new object of this object's class holding the same values.
  virtual std::unique_ptr<TCRConnectionParameters> Clone() const;
  // Whether a request with other may share this key's pool: false for nil; pool sizes, lifetime
  // and Validate equal, Username and Password equal with case (user names are case-sensitive on
  // the server), Server equal ignoring case (host names are).
  virtual bool Equals(const TCRConnectionParameters* other) const;

  int MinPoolSize = 0;
  // At most this many connections of the pool exist at once, handed out or idle.
  int MaxPoolSize = 100;
  std::string Username;
  std::string Server;
  std::string Password;
  // Milliseconds from a connection's creation after which it is no longer pooled; 0 or less:
  // no limit.
  int ConnectionLifetime = 0;
  // Check every idle connection with the server before handing it out again.
  bool Validate = false;
};

class TCRConnectionPool : public std::enable_shared_from_this<TCRConnectionPool> {
 public:
  // Keeps a copy of the parameters (of their own class).
  explicit TCRConnectionPool(const TCRConnectionParameters& parameters);
  virtual ~TCRConnectionPool() = default;
  TCRConnectionPool(const TCRConnectionPool&) = delete;
  TCRConnectionPool& operator=(const TCRConnectionPool&) = delete;

  const TCRConnectionParameters& GetParameters() const noexcept { return *FParameters; }

  // One validation cycle (the manager's thread runs it). The base does nothing.
  virtual void Validate() {}
  // Frees every idle connection. The base does nothing.
  virtual void Clear() {}
  // Every connection made so far is freed when next taken or handed back. The base does nothing.
  virtual void Invalidate() {}
  // Connections handed out, being made or checked, and idle. The base counts those handed out.
  virtual int GetTotalConnectionsCount() const;
  // Takes back a connection this pool handed out (see TCRConnection::ReturnToPool).
  virtual void PutConnection(std::unique_ptr<TCRConnection> connection) = 0;
  // A connected connection: an idle one or a new one. The pool must be owned by a shared_ptr.
  virtual std::unique_ptr<TCRConnection> GetConnection() = 0;
  // Every idle connection is checked with the server before it is next handed out. The base
  // does nothing.
  virtual void MarkForValidation() {}

 protected:
  // Counts a slot as taken, waiting up to timeoutMs for one to come free. Raises Exception
  // "Maximum connections reached in pool" when none does (at once when MaxPoolSize < 1).
  void TakeSlot(std::unique_lock<std::mutex>& lock, uint32_t timeoutMs);
  // Gives a taken slot back and wakes one waiter. Called with FLock held.
  void ReleaseSlotLocked() noexcept;

  // Guards the pool's state; derived pools guard theirs with it too.
  mutable std::mutex FLock;
  int FTakenConnectionsCount = 0;

 private:
  friend class TCRConnection;  // a handed-out connection freed by its owner releases its slot
  void ReleaseSlot() noexcept;

  std::unique_ptr<TCRConnectionParameters> FParameters;
  std::condition_variable FSlotFree;
};

// A pool holding its idle connections in this process.
class TCRLocalConnectionPool : public TCRConnectionPool {
 public:
  explicit TCRLocalConnectionPool(const TCRConnectionParameters& parameters);

  // An idle connection (oldest first) that passes the version and validity checks, else a new
  // one from CreateNewConnection. Waits up to the wait time-out for a slot while MaxPoolSize
  // connections exist, then raises Exception "Maximum connections reached in pool". A failing
  // CreateNewConnection gives the slot back and its exception passes to the caller.
  std::unique_ptr<TCRConnection> GetConnection() override;
  // Pools the connection unless it is past its lifetime, marked invalid, invalidated, or fails
  // the check it owes; frees it otherwise. EAssertionFailed when it is not this pool's.
  void PutConnection(std::unique_ptr<TCRConnection> connection) override;
  void Validate() override;
  void Clear() override;
  void Invalidate() override;
  int GetTotalConnectionsCount() const override;
  void MarkForValidation() override;

  // Milliseconds GetConnection waits for a slot (DefaultConnectionPoolTimeout).
  void SetWaitTimeout(uint32_t value) noexcept;

 protected:
  // Makes and connects a new connection; raises the connect error.
  virtual std::unique_ptr<TCRConnection> CreateNewConnection() = 0;

 private:
  struct TIdleConnection {
    std::unique_ptr<TCRConnection> Connection;
    uint64_t PutStamp = 0;  // the put counter when it was handed back
    uint64_t Cycle = 0;     // the validation cycle that last saw it, or was running when it came
  };
  // Versions read under the lock for checks made without it.
  struct TVersions {
    int Version;
    int MinVersion;
  };

  bool Expired(const TCRConnection& connection) const noexcept;
  // Whether an idle connection may be handed out again; stamps a checked one with the version.
  bool Reusable(TCRConnection& connection, const TVersions& versions) const;
  // Takes the oldest idle connection that came before the cycle, counting it as taken; false
  // when there is none.
  bool TakeIdle(TIdleConnection& entry, uint64_t cycle, TVersions& versions);
  // Whether a validation cycle keeps an idle connection (see Validate).
  bool Stays(const TIdleConnection& entry, uint64_t eightCyclesAgo, uint64_t lastCycle,
             const TVersions& versions) const;
  // Frees a connection taken with TakeIdle and releases its slot.
  void FreeTaken(TIdleConnection& entry) noexcept;
  void ReturnIdle(TIdleConnection entry);

  std::deque<TIdleConnection> FIdle;  // oldest first
  uint64_t FPutCounter = 0;
  std::array<uint64_t, 8> FPutHistory{};  // the put counter at the last eight cycles, newest first
  int FLastSurplus = 0;
  uint64_t FCycle = 0;
  int FVersion = 0;
  int FMinVersion = 0;
  uint32_t FWaitTimeout = DefaultConnectionPoolTimeout;
};

// Finds or makes the pool for a request's parameters, and runs the validation thread over the
// pools it holds.
class TCRConnectionPoolManager {
 public:
  // Starts the validation thread, which runs a cycle every validateIntervalMs milliseconds.
  explicit TCRConnectionPoolManager(uint32_t validateIntervalMs = ConnectionPoolValidateInterval);
  // Stops the validation thread (waiting for a running cycle to end between two pools), then
  // drops the pools.
  virtual ~TCRConnectionPoolManager();
  TCRConnectionPoolManager(const TCRConnectionPoolManager&) = delete;
  TCRConnectionPoolManager& operator=(const TCRConnectionPoolManager&) = delete;

  // A connection from the pool of parameters equal to these (see the pool's GetConnection for
  // what it raises). Hand it back with TCRConnection::ReturnToPool.
  virtual std::unique_ptr<TCRConnection> GetConnection(const TCRConnectionParameters& parameters);
  // Drops every pool and frees their idle connections. A pool with connections out lives on until
  // they are handed back, which frees them.
  void ClearPools();
  int GetPoolCount() const;

 protected:
  virtual std::shared_ptr<TCRConnectionPool> CreateConnectionPool(
      const TCRConnectionParameters& parameters) = 0;
  // The listed pool of equal parameters, made and listed when there is none.
  std::shared_ptr<TCRConnectionPool> GetConnectionPool(const TCRConnectionParameters& parameters);

 private:
  void Execute() noexcept;
  void ValidatePools();
  // Unlists the pool when it holds no connection and nobody but the caller refers to it.
  void RemoveIfEmpty(std::shared_ptr<TCRConnectionPool>& pool);

  mutable std::mutex FListLock;
  std::vector<std::shared_ptr<TCRConnectionPool>> FPools;

  const uint32_t FValidateInterval;
  std::mutex FThreadLock;
  std::condition_variable FWake;
  std::atomic<bool> FTerminated{false};  // set under FThreadLock
  std::thread FValidateThread;
};
