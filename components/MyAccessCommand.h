// Unit MyAccess, the MySQL command components: TMyCommand runs statements that return no rows on a
// MySQL connection (the console's maintenance statements, every statement of a script);
// TMyUpdateSQL holds a MySQL dataset's own update statements; TMyAccessUtils reaches the provider
// objects behind them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "components/DBAccessSQL.h"
#include "components/DBAccessUpdateSQL.h"
#include "mysql/MySQLCommand.h"

class TCustomMyConnection;
class TMySQLAPI;

class TMyCommand : public TCustomDASQL {
 public:
  explicit TMyCommand(TComponent* owner = nullptr);

  TCustomMyConnection* Connection() const;
  void SetConnection(TCustomMyConnection* value);

  // Seconds the server may take (0: no limit of our own); passed at once to the provider command.
  int CommandTimeout() const noexcept { return FCommandTimeout; }
  void SetCommandTimeout(int value);
  // The last insert id after an execution.
  int64_t InsertId() const noexcept { return FInsertId; }

  // Checks the connection's prepare support first (EDatabaseError 65076/65077).
  void Prepare() override;
  void InternalExecute(int iters) override;
  // A text without ":" has no parameters: it is used exactly as written.
  std::string ParseSQL(const std::string& sql, TDAParams* params,
                       const std::string& renamePrefix = {}) override;

  TMySQLCommand* MyICommand() const noexcept { return static_cast<TMySQLCommand*>(ICommand()); }
  // The text is sent as its bytes, already in the session's character set (a dump file), not
  // converted from ANSI under Unicode.
  bool SendTextAsIs() const noexcept { return FSendTextAsIs; }
  void SetSendTextAsIs(bool value);
  // Called while the server runs each statement, between sending it and reading its reply (see
  // TMySQLCommand::WhileWaiting); must not throw.
  void SetWhileWaiting(std::function<void()> value);
  void Assign(TPersistent* source) override;

 protected:
  void CreateICommand() override;
  void AssignICommandProps(TCRCommand* command) override;
  TParserClass CreateParser() const override;
  bool TextNoBackslashEscapes() const override;
  void ParseSQLParam(const std::string& name, size_t placeholderEnd) override;
  void UpdateParams() override;
  void InternalExecuteCommand(int iters) override;
  void ReadOutParams() override;

 private:
  int FCommandTimeout = 0;
  int64_t FInsertId = 0;
  bool FSendTextAsIs = false;
  std::function<void()> FWhileWaiting;
  // Placeholder positions belong to the command's own text only: a text parsed for another use
  // (an update statement run with SetSQLText after it) must not add to them.
  bool FCollectingPositions = false;
};

class TMyUpdateSQL : public TCustomDAUpdateSQL {
 public:
  explicit TMyUpdateSQL(TComponent* owner = nullptr) : TCustomDAUpdateSQL(owner) {}
  std::string DataSetClassName() const override { return "TCustomMyDataSet"; }
  std::string SQLClassName() const override { return "TMyCommand"; }
  bool IsDataSetObject(TComponent* object) const override;
  bool IsSQLObject(TComponent* object) const override;
};

class TMyAccessUtils {
 public:
  // The command that runs the statements of a MySQL dataset (its update command while it writes a
  // row through one) or a TMyCommand itself; any other object fails an assertion.
  static TMyCommand* GetCommand(TComponent* obj);
  // The provider command of GetCommand(obj).
  static TMySQLCommand* GetICommand(TComponent* obj);
  // A MySQL dataset's FetchAll; any other object fails an assertion.
  static bool GetFetchAll(TComponent* obj);
  // Hands the client API to a provider connection.
  static void SetAPI(TMySQLConnection& connection, TMySQLAPI& api);
};
