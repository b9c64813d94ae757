// Unit MyAccess, the MySQL connection component: TCustomMyConnection makes the generic connection
// (components/DBAccess.h) a MySQL one. Its class factory yields the MySQL provider classes, its
// settings map onto the provider connection's numbered properties, it decides which server errors
// mean a lost session, and it lists tables, databases and routines. TMyConnection adds the port,
// the transport and SSL settings and a user transport (IOHandler).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "components/DBAccess.h"
#include "components/DBAccessDialog.h"
#include "mysql/MySQLConnection.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/Variant.h"

// How a session reads the literals written for it: the connection's character set, and whether
// its sql_mode holds NO_BACKSLASH_ESCAPES (a backslash is then a plain character in a literal).
// A set alone (said explicitly) is the server's default mode.
struct TLiteralStyle {
  explicit TLiteralStyle(TCharsetKind charset, bool noBackslashEscapes = false)
      : Charset(charset), NoBackslashEscapes(noBackslashEscapes) {}
  TCharsetKind Charset;
  bool NoBackslashEscapes;
};

// A quoted string literal of bytes in the style's character set, read back as these bytes in the
// style's mode.
std::string SqlLiteral(std::string_view bytes, TLiteralStyle style);

// Called while a statement waits for the server (waitedMs so far) and once when the wait ends
// (ended); false ends the wait as a lost connection.
using TMyServerWaitProc = bool (*)(int waitedMs, bool ended) noexcept;

class TMyCommand;
class TMyConnectionParameters;
class TMyIOHandler;
class TCustomMyConnection;

class TCustomMyConnectionOptions : public TDAConnectionOptions {
 public:
  explicit TCustomMyConnectionOptions(TCustomDAConnection* owner) : TDAConnectionOptions(owner) {}

  // Each setter acts only on a different value: on an open connection it raises EDatabaseError
  // 65074 (at run time) or closes the connection (at design time or while the component is
  // updating), then stores the value and passes it to the provider connection.
  bool UseUnicode() const noexcept { return FUseUnicode; }
  void SetUseUnicode(bool value);
  const std::string& Charset() const noexcept { return FCharset; }
  void SetCharset(const std::string& value);
  TDANumericType NumericType() const noexcept { return FNumericType; }
  void SetNumericType(TDANumericType value);

  void Assign(TPersistent* source) override;

 protected:
  TCustomMyConnection& Connection() const;
  // The check above; false when nothing stands in the way.
  void CheckInactive() const;

  bool FUseUnicode = false;
  std::string FCharset;
  TDANumericType FNumericType = ntFloat;
};

class TMyConnectionOptions : public TCustomMyConnectionOptions {
 public:
  explicit TMyConnectionOptions(TCustomDAConnection* owner) : TCustomMyConnectionOptions(owner) {}

  bool Compress() const noexcept { return FCompress; }
  void SetCompress(bool value);
  TMyProtocol Protocol() const noexcept { return FProtocol; }
  // mpMemory (shared memory) has no counterpart on this system: EDatabaseError, nothing changes.
  void SetProtocol(TMyProtocol value);
  // Embedded and Direct re-choose the client API instead of passing a property.
  bool Embedded() const noexcept { return FEmbedded; }
  void SetEmbedded(bool value);
  bool Direct() const noexcept { return FDirect; }
  void SetDirect(bool value);

  // The client API these options ask for: the embedded server, the built-in protocol, or the
  // client library.
  TMySQLAPI& ChooseAPI() const;

  void Assign(TPersistent* source) override;

 private:
  bool FCompress = false;
  TMyProtocol FProtocol = mpDefault;
  bool FEmbedded = false;
  bool FDirect = true;
};

class TMyConnectionSSLOptions : public TPersistent {
 public:
  explicit TMyConnectionSSLOptions(TCustomMyConnection* owner) : FOwner(owner) {}

  // Setters as those of the options (65074 on an open connection).
  const std::string& ChipherList() const noexcept { return FChipherList; }
  void SetChipherList(const std::string& value) { Set(FChipherList, value, prSSLChipherList); }
  const std::string& CACert() const noexcept { return FCACert; }
  void SetCACert(const std::string& value) { Set(FCACert, value, prSSLCACert); }
  const std::string& Key() const noexcept { return FKey; }
  void SetKey(const std::string& value) { Set(FKey, value, prSSLKey); }
  const std::string& Cert() const noexcept { return FCert; }
  void SetCert(const std::string& value) { Set(FCert, value, prSSLCert); }

  void Assign(TPersistent* source) override;

 private:
  void Set(std::string& field, const std::string& value, int prop);

  TCustomMyConnection* FOwner;
  std::string FChipherList, FCACert, FKey, FCert;
};

class TCustomMyConnection : public TCustomDAConnection {
 public:
  explicit TCustomMyConnection(TComponent* owner = nullptr);
  // Closes through this class's own operations (a running transaction is rolled back).
  ~TCustomMyConnection() override;

  TCustomMyConnectionOptions& Options() const;

  // Takes effect at once on an open connection (the server selects it; a failure leaves the old
  // name).
  const std::string& Database() const noexcept { return FDatabase; }
  void SetDatabase(const std::string& value);
  int ConnectionTimeout() const noexcept { return FConnectionTimeout; }
  void SetConnectionTimeout(int value);
  TMyIsolationLevel IsolationLevel() const noexcept { return FIsolationLevel; }
  void SetIsolationLevel(TMyIsolationLevel value);

  // ---- Server information ----
  // Connects for the call when closed; "10.11.x-MariaDB..." for the test server.
  std::string GetServerVersion() override;
  // "4.1.3 Direct" for the built-in protocol; else the client API's version text.
  virtual std::string GetClientVersion();
  // EDatabaseError 65076 unless the client speaks 4.1, then 65077 unless the server does.
  void CheckPrepareSupport();

  // Sends the text once. Without values straight through the client API of the open session
  // (opened for the call), rows it returns read and dropped; with values through the internal
  // command, whose parameters take them in order. Under UseUnicode the ANSI text goes as UTF-8
  // either way. Server errors go through the connection's error path.
  void ExecSQL(const std::string& text, const std::vector<Variant>& values = {});

  // ---- Lists (each clears the list first; server errors pass through) ----
  // The tables and views of the current database (connecting for the call when closed), each
  // answer awaited no longer than the internal command's time-out.
  void GetTableNames(TStringList& list) override;
  // Every database; a closed connection connects without its Database for the call and is
  // closed again with Database unchanged.
  void GetDatabaseNames(TStringList& list) override;
  // The routines of the current database (of "mysql" without one) by name; none before server
  // version 5. Opened and closed like GetDatabaseNames.
  void GetStoredProcNames(TStringList& list) override;

  // The character set of statement text built for this connection: ANSI under UseUnicode (the
  // command converts the text), else the session's (or, closed, the one Charset names).
  TCharsetKind StatementCharset() const;
  // How literals and LIKE patterns written for this connection are read: the set the open
  // session really speaks and the mode its last statement left; closed, the set it will ask for,
  // in the server's default mode.
  TLiteralStyle LiteralStyle() const;

  // The hook every MySQL connection's waits for the server call (on any thread); nullptr: none.
  static void SetServerWaitProc(TMyServerWaitProc proc) noexcept;

  // Whether a rollback undoes writes to the table: its engine's TRANSACTIONS as information_schema
  // gives it, read once per table and kept until the connection closes or Database changes;
  // nothing when the server names no engine for it (a view, a table it does not list). An empty
  // database means the session's current one. Server errors pass through.
  std::optional<bool> TableHasTransactions(const std::string& database, const std::string& table);
  // The ROLLBACK's warning 1196 (tables it could not roll back); the engines read by
  // TableHasTransactions are read anew after it.
  bool RollbackLeftWrites() override;

  bool IsFatalError(const EDAError& e) const override;
  bool IsKeyViolation(const EDAError& e) const override;
  // Rows read on a record set's own auxiliary connection do not hold the main session.
  bool RowsPendingOnSession(TCustomDADataSet& dataSet) override;

  std::unique_ptr<TCustomDADataSet> CreateDataSet() override;
  std::unique_ptr<TCustomDASQL> CreateSQL() override;
  TMyCommand& InternalCommand() const { return *FCommand; }

  TCRConnectionClass GetIConnectionClass() const override;
  TCRCommandClass GetICommandClass() const override;
  TCRRecordSetClass GetIRecordSetClass() const override;
  TDASQLMonitorClass SQLMonitorClass() const override;
  // No login dialog: nothing registers a MySQL one.
  TConnectDialogClass ConnectDialogClass() const override { return nullptr; }

  void Assign(TPersistent* source) override;

  // The provider connection, typed; nil before the first connect.
  TMySQLConnection* MyIConnection() const noexcept { return static_cast<TMySQLConnection*>(IConnection()); }

 protected:
  void CreateIConnection() override;
  void DoDisconnect() override;
  std::unique_ptr<TDAConnectionOptions> CreateOptions() override;
  bool CommitOnDisconnect() const override { return false; }
  bool NeedPrompt() const override { return LoginPrompt; }
  virtual void FillConnectionParameters(TMyConnectionParameters& params);
  virtual void SetConnectionProps(TMySQLConnection& c);
  // Passes a property to the provider connection when there is one.
  void SetIProp(int prop, const Variant& value);
  // Connects without Database when closed, runs fill with the Database it had, and restores
  // both afterwards.
  void ListWithoutDatabase(TStringList& list, const std::function<void(const std::string& database)>& fill);

 private:
  friend class TCustomMyConnectionOptions;
  friend class TMyConnectionOptions;
  friend class TMyConnectionSSLOptions;

  void DropResults(TMySQLConnection& c);

  std::string FDatabase;
  int FConnectionTimeout = 15;
  TMyIsolationLevel FIsolationLevel = ilReadCommitted;
  std::unique_ptr<TMyCommand> FCommand;
  std::map<std::pair<std::string, std::string>, std::optional<bool>> FTableTransactions;
};

class TMyConnection : public TCustomMyConnection {
 public:
  explicit TMyConnection(TComponent* owner = nullptr);
  ~TMyConnection() override;

  TMyConnectionOptions& Options() const;
  TMyConnectionSSLOptions& SSLOptions() const noexcept { return *FSSLOptions; }
  void SetSSLOptions(TMyConnectionSSLOptions& value) { FSSLOptions->Assign(&value); }

  // A different port closes the connection.
  int Port() const noexcept { return FPort; }
  void SetPort(int value);
  bool Embedded() const { return Options().Embedded(); }
  void SetEmbedded(bool value) { Options().SetEmbedded(value); }
  // A user transport for the next connect (the built-in protocol only); not owned. The handler
  // is told when this connection takes it and lets it go.
  TMyIOHandler* IOHandler() const noexcept { return FIOHandler; }
  void SetIOHandler(TMyIOHandler* value);

  std::string GetClientVersion() override;
  void Assign(TPersistent* source) override;

 protected:
  std::unique_ptr<TDAConnectionOptions> CreateOptions() override;
  void DoConnect() override;
  void FillConnectionParameters(TMyConnectionParameters& params) override;
  void SetConnectionProps(TMySQLConnection& c) override;

 private:
  int FPort = 3306;
  TMyIOHandler* FIOHandler = nullptr;
  std::unique_ptr<TMyConnectionSSLOptions> FSSLOptions;
};

// The data source the console's grids bind to.
class TMyDataSource : public TCRDataSource {
 public:
  explicit TMyDataSource(TComponent* owner = nullptr) : TCRDataSource(owner) {}
};
