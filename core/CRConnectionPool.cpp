#include "core/CRConnectionPool.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <typeinfo>
#include <utility>

#include "core/DAConsts.h"
#include "core/MemUtils.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/SyncObjs.h"

namespace {

[[noreturn]] void RaiseMaxConnections() {
  throw Exception(MessageText(SMaxConnectionsReached));
}

// A connection whose check fails in any way is not handed out again.
bool PassesCheck(TCRConnection& connection) noexcept {
  try {
    return connection.CheckIsValid();
  } catch (...) {
    return false;
  }
}

}  // namespace

// ---- TCRConnectionParameters ------------------------------------------------------------------

void TCRConnectionParameters::AssignTo(TCRConnectionParameters& dest) const {
  dest.MinPoolSize = MinPoolSize;
  dest.MaxPoolSize = MaxPoolSize;
  dest.Username = Username;
  dest.Server = Server;
  dest.Password = Password;
  dest.ConnectionLifetime = ConnectionLifetime;
  dest.Validate = Validate;
}

std::unique_ptr<TCRConnectionParameters> TCRConnectionParameters::Clone() const {
  auto copy = std::make_unique<TCRConnectionParameters>();
  AssignTo(*copy);
  return copy;
}

bool TCRConnectionParameters::Equals(const TCRConnectionParameters* other) const {
  return other != nullptr && MinPoolSize == other->MinPoolSize && MaxPoolSize == other->MaxPoolSize &&
         ConnectionLifetime == other->ConnectionLifetime && Validate == other->Validate &&
         Username == other->Username && Password == other->Password &&
         AnsiCompareTextS(Server, other->Server) == 0;
}

// ---- TCRConnectionPool ------------------------------------------------------------------------

TCRConnectionPool::TCRConnectionPool(const TCRConnectionParameters& parameters)
    : FParameters(parameters.Clone()) {
  const TCRConnectionParameters& copy = *FParameters;
  DA_ASSERT_MSG(typeid(copy) == typeid(parameters), "Clone of the pool parameters lost their class");
}

int TCRConnectionPool::GetTotalConnectionsCount() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FTakenConnectionsCount;
}

void TCRConnectionPool::TakeSlot(std::unique_lock<std::mutex>& lock, uint32_t timeoutMs) {
  const int maxSize = FParameters->MaxPoolSize;
  if (maxSize < 1) RaiseMaxConnections();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  if (!FSlotFree.wait_until(lock, deadline, [&] { return FTakenConnectionsCount < maxSize; }))
    RaiseMaxConnections();
  ++FTakenConnectionsCount;
}

void TCRConnectionPool::ReleaseSlotLocked() noexcept {
  if (FTakenConnectionsCount > 0) --FTakenConnectionsCount;
  FSlotFree.notify_one();
}

void TCRConnectionPool::ReleaseSlot() noexcept {
  std::lock_guard<std::mutex> lock(FLock);
  ReleaseSlotLocked();
}

// ---- TCRLocalConnectionPool -------------------------------------------------------------------
//
// Every connection that exists counts either as taken (handed out, being made, or being checked)
// or as idle, and taken + idle never exceeds MaxPoolSize: a slot is taken before a connection is
// made, and moving a connection between the idle list and the taken count changes neither sum.
// Connections are made, checked and freed with no lock held.

TCRLocalConnectionPool::TCRLocalConnectionPool(const TCRConnectionParameters& parameters)
    : TCRConnectionPool(parameters) {}

void TCRLocalConnectionPool::SetWaitTimeout(uint32_t value) noexcept {
  std::lock_guard<std::mutex> lock(FLock);
  FWaitTimeout = value;
}

bool TCRLocalConnectionPool::Expired(const TCRConnection& connection) const noexcept {
  const int lifetime = GetParameters().ConnectionLifetime;
  return lifetime > 0 && TicksSince(connection.GetCreationTime()) > static_cast<uint32_t>(lifetime);
}

bool TCRLocalConnectionPool::Reusable(TCRConnection& connection, const TVersions& versions) const {
  if (connection.GetPoolVersion() < versions.MinVersion) return false;
  if (!GetParameters().Validate && connection.GetPoolVersion() >= versions.Version) return true;
  if (!PassesCheck(connection)) return false;
  connection.SetPoolVersion(versions.Version);
  return true;
}

std::unique_ptr<TCRConnection> TCRLocalConnectionPool::GetConnection() {
  std::shared_ptr<TCRConnectionPool> self = shared_from_this();
  TIdleConnection entry;
  TVersions versions;
  {
    std::unique_lock<std::mutex> lock(FLock);
    TakeSlot(lock, FWaitTimeout);
    versions = {FVersion, FMinVersion};
    if (!FIdle.empty()) {
      entry = std::move(FIdle.front());
      FIdle.pop_front();
    }
  }
  std::unique_ptr<TCRConnection> connection;
  try {
    if (entry.Connection && Reusable(*entry.Connection, versions)) connection = std::move(entry.Connection);
    entry.Connection.reset();  // one that failed its checks goes; its slot serves the new one
    if (!connection) connection = CreateNewConnection();
    DA_ASSERT(connection != nullptr);
  } catch (...) {
    std::lock_guard<std::mutex> lock(FLock);
    ReleaseSlotLocked();
    throw;
  }
  connection->SetPoolVersion(versions.Version);
  connection->SetPool(std::move(self));
  return connection;
}

void TCRLocalConnectionPool::PutConnection(std::unique_ptr<TCRConnection> connection) {
  DA_ASSERT(connection != nullptr && connection->GetPool() == this);
  std::shared_ptr<TCRConnectionPool> self = shared_from_this();  // the connection may hold the last reference
  TVersions versions;
  {
    std::lock_guard<std::mutex> lock(FLock);
    versions = {FVersion, FMinVersion};
  }
  bool keep = connection->GetIsValid() && !Expired(*connection) &&
              connection->GetPoolVersion() >= versions.MinVersion;
  if (keep && connection->GetPoolVersion() < versions.Version) {
    keep = PassesCheck(*connection);
    if (keep) connection->SetPoolVersion(versions.Version);
  }
  if (keep) keep = connection->ResetSession();
  if (!keep) {
    connection.reset();  // still this pool's: its destructor gives the slot back
    return;
  }
  connection->SetPool(nullptr);
  std::lock_guard<std::mutex> lock(FLock);
  FIdle.push_back(TIdleConnection{std::move(connection), ++FPutCounter, FCycle});
  ReleaseSlotLocked();
}

bool TCRLocalConnectionPool::TakeIdle(TIdleConnection& entry, uint64_t cycle, TVersions& versions) {
  std::lock_guard<std::mutex> lock(FLock);
  if (FIdle.empty() || FIdle.front().Cycle >= cycle) return false;
  entry = std::move(FIdle.front());
  FIdle.pop_front();
  ++FTakenConnectionsCount;
  versions = {FVersion, FMinVersion};
  return true;
}

void TCRLocalConnectionPool::FreeTaken(TIdleConnection& entry) noexcept {
  entry.Connection.reset();
  std::lock_guard<std::mutex> lock(FLock);
  ReleaseSlotLocked();
}

void TCRLocalConnectionPool::ReturnIdle(TIdleConnection entry) {
  std::lock_guard<std::mutex> lock(FLock);
  FIdle.push_back(std::move(entry));
  ReleaseSlotLocked();
}

bool TCRLocalConnectionPool::Stays(const TIdleConnection& entry, uint64_t eightCyclesAgo, uint64_t lastCycle,
                                   const TVersions& versions) const {
  TCRConnection& connection = *entry.Connection;
  if (entry.PutStamp <= eightCyclesAgo || Expired(connection) ||
      connection.GetPoolVersion() < versions.MinVersion)
    return false;
  // Handed back since the last cycle and checked against the current version: fresh enough.
  if (entry.PutStamp > lastCycle && connection.GetPoolVersion() >= versions.Version) return true;
  if (!PassesCheck(connection)) return false;
  connection.SetPoolVersion(versions.Version);
  return true;
}

// Frees the connections idle through eight cycles, expired, invalidated or failing their check,
// and trims the idle surplus above MinPoolSize by about an eighth of the last cycle's surplus.
void TCRLocalConnectionPool::Validate() {
  uint64_t eightCyclesAgo, lastCycle, cycle;
  int64_t trim;
  {
    std::lock_guard<std::mutex> lock(FLock);
    eightCyclesAgo = FPutHistory.back();
    lastCycle = FPutHistory.front();
    std::copy_backward(FPutHistory.begin(), FPutHistory.end() - 1, FPutHistory.end());
    FPutHistory.front() = FPutCounter;
    trim = (FLastSurplus + 6) / 8;
    const int64_t surplus = static_cast<int64_t>(FIdle.size()) - GetParameters().MinPoolSize - trim;
    FLastSurplus = static_cast<int>(std::clamp<int64_t>(surplus, std::numeric_limits<int>::min() / 2,
                                                        std::numeric_limits<int>::max() / 2));
    cycle = ++FCycle;
  }
  int64_t freed = 0;
  TIdleConnection entry;
  TVersions versions;
  while (TakeIdle(entry, cycle, versions)) {
    if (Stays(entry, eightCyclesAgo, lastCycle, versions)) {
      entry.Cycle = cycle;
      ReturnIdle(std::move(entry));
    } else {
      FreeTaken(entry);
      ++freed;
    }
  }
  while (freed < trim && TakeIdle(entry, std::numeric_limits<uint64_t>::max(), versions)) {
    FreeTaken(entry);
    ++freed;
  }
}

void TCRLocalConnectionPool::Clear() {
  std::deque<TIdleConnection> idle;
  {
    std::lock_guard<std::mutex> lock(FLock);
    idle.swap(FIdle);
  }
}

void TCRLocalConnectionPool::Invalidate() {
  std::lock_guard<std::mutex> lock(FLock);
  ++FVersion;
  ++FMinVersion;
}

void TCRLocalConnectionPool::MarkForValidation() {
  std::lock_guard<std::mutex> lock(FLock);
  ++FVersion;
}

int TCRLocalConnectionPool::GetTotalConnectionsCount() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FTakenConnectionsCount + static_cast<int>(FIdle.size());
}

// ---- TCRConnectionPoolManager -----------------------------------------------------------------

TCRConnectionPoolManager::TCRConnectionPoolManager(uint32_t validateIntervalMs)
    : FValidateInterval(validateIntervalMs), FValidateThread([this] { Execute(); }) {}

TCRConnectionPoolManager::~TCRConnectionPoolManager() {
  {
    std::lock_guard<std::mutex> lock(FThreadLock);
    FTerminated = true;
  }
  FWake.notify_all();
  if (FValidateThread.joinable()) FValidateThread.join();
  ClearPools();
}

std::unique_ptr<TCRConnection> TCRConnectionPoolManager::GetConnection(
    const TCRConnectionParameters& parameters) {
  // The pool is held until its connection is out, so the validation thread cannot free it.
  std::shared_ptr<TCRConnectionPool> pool = GetConnectionPool(parameters);
  return pool->GetConnection();
}

std::shared_ptr<TCRConnectionPool> TCRConnectionPoolManager::GetConnectionPool(
    const TCRConnectionParameters& parameters) {
  std::lock_guard<std::mutex> lock(FListLock);
  for (const std::shared_ptr<TCRConnectionPool>& pool : FPools)
    if (parameters.Equals(&pool->GetParameters())) return pool;
  std::shared_ptr<TCRConnectionPool> pool = CreateConnectionPool(parameters);
  DA_ASSERT(pool != nullptr);
  FPools.push_back(pool);
  return pool;
}

void TCRConnectionPoolManager::ClearPools() {
  std::vector<std::shared_ptr<TCRConnectionPool>> pools;
  {
    std::lock_guard<std::mutex> lock(FListLock);
    pools.swap(FPools);
  }
  for (const std::shared_ptr<TCRConnectionPool>& pool : pools) pool->Clear();
}

int TCRConnectionPoolManager::GetPoolCount() const {
  std::lock_guard<std::mutex> lock(FListLock);
  return static_cast<int>(FPools.size());
}

void TCRConnectionPoolManager::Execute() noexcept {
  uint32_t elapsed = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(FThreadLock);
      const uint32_t wait = elapsed < FValidateInterval ? FValidateInterval - elapsed : 0;
      if (FWake.wait_for(lock, std::chrono::milliseconds(wait), [this] { return FTerminated.load(); }))
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    try {
      ValidatePools();
    } catch (...) {
      // Only allocation can fail here; the next cycle tries again.
    }
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    elapsed = static_cast<uint32_t>(std::min<int64_t>(took.count(), std::numeric_limits<uint32_t>::max()));
  }
}

void TCRConnectionPoolManager::ValidatePools() {
  std::vector<std::shared_ptr<TCRConnectionPool>> pools;
  {
    std::lock_guard<std::mutex> lock(FListLock);
    pools = FPools;
  }
  for (size_t i = pools.size(); i-- > 0;) {
    if (FTerminated.load()) return;
    std::shared_ptr<TCRConnectionPool> pool = std::move(pools[i]);
    pool->Validate();
    RemoveIfEmpty(pool);
  }
}

void TCRConnectionPoolManager::RemoveIfEmpty(std::shared_ptr<TCRConnectionPool>& pool) {
  std::lock_guard<std::mutex> lock(FListLock);
  // References are copied only under the list lock: 2 (the list's and ours) cannot grow meanwhile.
  if (pool.use_count() != 2 || pool->GetTotalConnectionsCount() != 0) return;
  auto it = std::find(FPools.begin(), FPools.end(), pool);
  if (it != FPools.end()) FPools.erase(it);
}
