// Unit MyDump: TMyDump, the dump component on a MySQL connection. It writes the database, its
// users, its stored routines and its tables with their rows as a script the server (or the
// script component) reads back exactly: every name back-quoted whole, every value from the
// server's own text or bytes, SQL_MODE and TIME_ZONE pinned so that restored rows equal the
// dumped ones.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "components/DADump.h"
#include "platform/runtime/Exceptions.h"

class TCustomMyConnection;

// A backup refused before anything is written: the session would read the text of a column only
// with '?' for some of its characters.
class EMyDumpCharsetError : public EDatabaseError {
 public:
  EMyDumpCharsetError(std::string message, std::string column, std::string columnCharset)
      : EDatabaseError(std::move(message)),
        Column(std::move(column)),
        ColumnCharset(std::move(columnCharset)) {}
  std::string Column;  // `table`.`column`
  std::string ColumnCharset;
};

class TMyDumpOptions : public TDADumpOptions {
 public:
  bool AddLock = true;
  bool DisableKeys = false;
  bool HexBlob = false;
  bool UseExtSyntax = true;
  bool UseDelayedIns = false;
  void Assign(TPersistent* source) override;
};

enum TMyDumpObject : uint8_t {
  doDatabase = 1 << 0,
  doUsers = 1 << 1,
  doStoredProcs = 1 << 2,
  doTables = 1 << 3,
  doData = 1 << 4,
};
using TMyDumpObjects = uint8_t;

// The library version the dump header names.
inline constexpr const char* MyDumpLibraryVersion = "5.10.0.9";

class TMyDump : public TDADump {
 public:
  explicit TMyDump(TComponent* owner = nullptr);
  ~TMyDump() override;

  TCustomMyConnection* Connection() const;
  void SetConnection(TCustomMyConnection* value);
  TMyDumpOptions& Options() const;
  TMyDumpObjects Objects = doTables | doData;
  // Seconds each wait for the server's answer may last during a backup or a restore (0: as long
  // as the server takes). A server that stops answering then ends the work with its error
  // instead of holding it forever.
  int CommandTimeout = 0;
  // A restore runs every statement in the database the session is in when it starts: once a
  // statement moved the session to another one (USE, in whatever form), the restore ends with
  // EDatabaseError naming both before the next statement runs. SwitchedDatabase then holds the
  // other's name (utf8). Where the server reports the session's database changes, only a
  // reported change is looked into; elsewhere the database is asked after every statement.
  // A CREATE TRIGGER, VIEW, PROCEDURE, FUNCTION or EVENT that names what it makes (or a trigger's
  // table) with another database is not run: it counts as a failed statement. What a body or a
  // view's SELECT reads elsewhere stays as written.
  bool StayInDatabase = false;
  const std::string& SwitchedDatabase() const noexcept { return FSwitchedDatabase; }
  // The routines to dump, as one text of names (empty: all of the current database).
  std::string StoredProcNames() const;
  void SetStoredProcNames(const std::string& value);

  // Also: EDatabaseError when the connection lacks the right to read a routine's text;
  // EMyDumpCharsetError when the session cannot read a text column's set.
  void BackupToStream(TStream& stream) override;
  void Assign(TPersistent* source) override;

 protected:
  std::unique_ptr<TDADumpOptions> CreateOptions() override;
  std::unique_ptr<TDAScript> CreateScript() override;
  void RestoreStarting() override;
  void RestoreStatementRan(const TDAScript& script) override;
  std::string RestoreRefusal(const TDAScript& script, const std::string& sql) override;

 private:
  class TRun;
  // Whether the database part of a name, in the session's bytes, names the restore's database.
  bool InRestoreDatabase(const std::string& database);
  TStringList FStoredProcNames;
  // The restore's database as the server names it (hex of utf8, "-" for none), whether the
  // session reports its database changes, and how many it had reported.
  std::string FRestoreDatabase;
  bool FSchemaTracked = false;
  uint64_t FSchemaChanges = 0;
  std::string FSwitchedDatabase;
};
