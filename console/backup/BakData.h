// The work of the backup window without widgets: login of its own connection, backup into a file,
// restore from a file, repair and optimize of every table, creation and deletion of databases. It
// talks to the window through a sink (log, hint line, step label, progress) and asks nothing:
// confirmations are the window's. Names are the server's bytes as the session gives them.
#pragma once

#include <QString>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "platform/widgets/FieldText.h"

class EMyDumpCharsetError;
class TMyConnection;
class TMyDump;

// Seconds the database lists may wait for the server, as browsing does.
inline constexpr int kBakListTimeoutSeconds = 30;
// Seconds a long statement (REPAIR, OPTIMIZE, CREATE/DROP DATABASE) may wait for its answer:
// long enough for a large table, short of forever.
inline constexpr int kBakLongTimeoutSeconds = 4 * 3600;
// Seconds a backup or a restore waits for the server's next answer: rows and the statements of a
// backup file come far sooner, so a server silent this long has stopped answering and the work
// ends with its error instead of holding the window.
inline constexpr int kBakStallSeconds = 600;

class TBakDataSink {
 public:
  virtual ~TBakDataSink() = default;
  // One operation log entry.
  virtual void Log(const QString& text) = 0;
  // The hint line of the tab the operation belongs to.
  virtual void Hint(const QString& text) = 0;
  // The step label (the object a backup writes, "p% table" of a repair).
  virtual void Step(const QString& text) = 0;
  virtual void Progress(int percent) = 0;
  // Lets the window repaint; the window refuses to close and its buttons are disabled meanwhile.
  virtual void ProcessMessages() = 0;
};

enum class TMaintenance { RepairIndex, RepairTable, Optimize };

struct TLoginInput {
  QString Server;
  QString Port;
  QString Uid;
  QString Pwd;
  int CharsetIndex = 0;
  QString CharsetText;
};

class TBakData {
 public:
  explicit TBakData(TBakDataSink& sink);
  ~TBakData();
  TBakData(const TBakData&) = delete;
  TBakData& operator=(const TBakData&) = delete;

  TMyConnection& con1() noexcept { return *FCon; }
  TMyDump& MyDump() noexcept { return *FDump; }
  bool Connected() const;
  // How the session's names and texts decode, known after the login.
  TFieldCharset FieldCharset() const noexcept { return FFieldCharset; }

  // The message of the first problem with the typed login (empty when it can be used).
  static QString CheckLogin(const TLoginInput& input);
  // Connects with the input (no default database); raises what the connection raises.
  void Login(const TLoginInput& input);
  void Logout();
  std::vector<std::string> DatabaseNames();

  // Each returns true when the work completed and was reported as done; false when it was
  // refused or failed with its message shown. Errors the dump raises pass through.
  bool Backup(const std::string& database, const QString& fileName, bool structure, bool data);
  bool Restore(const std::string& database, const QString& fileName);
  bool Maintain(const std::string& database, TMaintenance mode);
  bool CreateDatabase(const std::string& name);
  // The confirmation is asked before.
  bool DropDatabase(const std::string& name);

  // The name as one back-quoted identifier: inner back quotes doubled.
  static std::string QuotedName(const std::string& name);

 private:
  // Selects the database; false with the message shown when the connection is gone.
  bool UseDatabase(const std::string& database);
  // The chosen database's base tables and views, in the server's order.
  void TableNames(std::vector<std::string>& tables, std::vector<std::string>& views);
  QString Text(const std::string& bytes) const;
  // After a failure: a session the wait box's 取消 or the server ended is closed, so that the
  // window shows it ended and the next login opens a new one.
  void CloseIfLost(const std::exception& e) noexcept;
  // The refusal of a column the session cannot read, naming only what the login offers.
  QString CharsetRefusal(const EMyDumpCharsetError& e) const;

  TBakDataSink& FSink;
  std::unique_ptr<TMyConnection> FCon;
  std::unique_ptr<TMyDump> FDump;
  TFieldCharset FFieldCharset = TFieldCharset::Gbk;
  QString FCharsetChoice;  // the login's character set as the window lists it
};
