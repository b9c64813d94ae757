// Unit DADump: TDADump writes a database (structure, users, routines, tables and rows) as an SQL
// script and restores a database by running such a script through the script component. The
// script is written to a stream as it is made (Backup keeps it in SQL, BackupToFile writes a file
// safely); restoring runs every statement, counts the ones that failed and reports them at the
// end. TMyDump (components/MyDump.h) is the MySQL form.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/Classes.h"
#include "platform/runtime/Components.h"

class TCustomDAConnection;
class TDAScript;

class TDADumpOptions : public TPersistent {
 public:
  bool GenerateHeader = true;
  bool AddDrop = true;
  bool QuoteNames = false;
  void Assign(TPersistent* source) override;
};

using TDABackupProgressEvent = std::function<void(TComponent* sender, const std::string& objectName,
                                                  int objectNum, int objectCount, int percent)>;
using TDARestoreProgressEvent = std::function<void(TComponent* sender, int percent)>;

// Writes the script's lines to a stream, a block at a time.
class TDumpWriter {
 public:
  explicit TDumpWriter(TStream& stream) : FStream(stream) {}
  ~TDumpWriter();
  TDumpWriter(const TDumpWriter&) = delete;
  TDumpWriter& operator=(const TDumpWriter&) = delete;

  // One line (CR LF added).
  void Line(std::string_view text);
  // A text of lines: CR, LF and CR LF each end a line, a final break adds no empty line.
  void Lines(std::string_view text);
  // Pieces of the current line; EndLine ends it.
  void Append(std::string_view piece) { FBuffer.append(piece); }
  void Append(char c) { FBuffer.push_back(c); }
  void EndLine();
  // Writes what is buffered (EStreamError when the stream fails).
  void Flush();

 private:
  TStream& FStream;
  std::string FBuffer;
};

// A statement of a restore that failed: the server's message, the 1-based line where the statement
// starts and the head of its text (one line, at most about 80 characters).
struct TDARestoreFailure {
  std::string Message;
  int64_t Line = 0;
  std::string Head;
};

class TDADump : public TComponent {
 public:
  explicit TDADump(TComponent* owner = nullptr);
  ~TDADump() override;

  TCustomDAConnection* Connection() const noexcept { return FConnection; }
  void SetConnection(TCustomDAConnection* value);
  TStringList& SQL() noexcept { return FSQL; }
  void SetSQL(const TStringList& value);
  TDADumpOptions& Options() const noexcept { return *FOptions; }
  bool Debug = false;
  // The tables to dump, as one text of names separated by "," or ";" (empty: all).
  std::string TableNames() const { return GetTableNames(); }
  void SetTableNames(const std::string& value) { SetTableNamesText(value); }
  TStringList& TableNameList() noexcept { return FTableNames; }

  // Fired for each object and, while rows are written, before each row (Percent of the table's
  // rows); RowsWritten tells the rows written so far. Stop() from the handler (or another
  // thread) ends the work with EAbort.
  TDABackupProgressEvent OnBackupProgress;
  TDARestoreProgressEvent OnRestoreProgress;
  void Stop() noexcept { FStopped.store(true); }
  int64_t RowsWritten() const noexcept { return FRowsWritten; }

  // The dump into SQL (cleared first).
  void Backup();
  // The dump written to the stream as it is made. EDatabaseError "Connection is not defined"
  // (65113) without a connection; the server's errors pass through; EAbort after Stop().
  virtual void BackupToStream(TStream& stream) = 0;
  // The dump into a new file beside the target, made durable and then renamed over it: a failed
  // backup leaves an existing file as it was. EFOpenError / EStreamError / EOSError of the file.
  void BackupToFile(const std::string& fileName);

  // Runs SQL through the script component, as plain SQL (no macros) sent as its bytes. Every
  // statement runs; when some failed, EDatabaseError "%d statements failed" is raised at the end,
  // followed by the line, head and message of the first few; RestoreFailures holds them all.
  // EAbort after Stop().
  void Restore();
  // The same reading the script from a stream or a file, a block at a time.
  void RestoreFromStream(TStream& stream);
  void RestoreFromFile(const std::string& fileName);

  void Assign(TPersistent* source) override;
  // The failures of the last restore, in the order they happened.
  const std::vector<TDARestoreFailure>& RestoreFailures() const noexcept { return FRestoreFailures; }

 protected:
  virtual std::string GetTableNames() const;
  virtual void SetTableNamesText(const std::string& value);
  virtual std::unique_ptr<TDADumpOptions> CreateOptions();
  virtual std::unique_ptr<TDAScript> CreateScript();
  // Each part of a dotted name quoted when forced (Options.QuoteNames) or when it needs it.
  virtual std::string QuoteName(const std::string& name) const;
  void Notification(TComponent* component, TOperation operation) override;
  // Raises EAbort once Stop() was called; the flag is cleared when the next operation starts.
  void CheckStopped();
  void ResetStop() noexcept { FStopped.store(false); }

  // Around the statements of a restore: RestoreStarting once the connection is taken into use,
  // RestoreStatementRan after each statement (also one that failed and was passed over). Either
  // may raise to end the restore before the next statement runs.
  virtual void RestoreStarting() {}
  virtual void RestoreStatementRan(const TDAScript& /*script*/) {}
  // Before each statement of a restore: why it must not run (empty: it runs). A statement refused
  // is not sent; it counts as failed, with the reason as its message.
  virtual std::string RestoreRefusal(const TDAScript& /*script*/, const std::string& /*sql*/) { return {}; }

  // Constructors of derived classes install their own options.
  void ReplaceOptions(std::unique_ptr<TDADumpOptions> value) { FOptions = std::move(value); }

  char FLeftQuote = '"';
  char FRightQuote = '"';
  int64_t FRowsWritten = 0;

 private:
  void RunRestore(TDAScript& script, int64_t textLength);

  TCustomDAConnection* FConnection = nullptr;
  TStringList FSQL;
  std::unique_ptr<TDADumpOptions> FOptions;
  TStringList FTableNames;
  std::atomic<bool> FStopped{false};
  std::vector<TDARestoreFailure> FRestoreFailures;
};
