// The zone-merge run without widgets: copies the source zone's accounts, characters and (on
// request) warehouses into the target zone over the window's connections, by INSERT ... SELECT
// statements sent over a target connection that read the source databases by name. It talks to
// the window through a sink (operation and event log, progress, step and description labels,
// questions) and is tested without one.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>

class TMyConnection;

// Seconds one statement of the run may wait for the server: long enough for a large copy, short
// of forever (the browsing time-out would cut a long run).
inline constexpr int kMergeTimeoutSeconds = 4 * 3600;

// One side's settings as the window copies them from its seven edits when connecting. The run
// compares what the connections really reach (server, databases), not these texts.
struct TZoneMergeSide {
  QString Server, Port, AccDB, CharDB, LogDB, Uid, Pwd;
};

// The options of the "内容与规则" tab.
struct TZoneMergeOptions {
  bool MergeAccounts = true;         // chk6
  bool MergeBank = false;            // chk7 (only while MergeAccounts)
  bool DropDeleted = true;           // chk10
  QString AccountTag = "us2";        // edt1
  bool AccountTagBefore = true;      // rb1 (else rb2)
  QString CharTag = "CH2";           // edt2
  bool CharTagBefore = true;         // rb5 (else rb6)
  bool Compensate = true;            // chk11
  QString Compensation = "5000000";  // edt4 as typed
};

// What the run tells its window; all calls come on the calling (GUI) thread.
class TZoneMergeSink {
 public:
  virtual ~TZoneMergeSink() = default;
  // The run starts: the event log begins anew with this header line (no "事件:" prefix) when
  // the window saves it automatically and its file exists (the window then also shows the step
  // "初始化..."); otherwise the window ignores it.
  virtual void BeginEventLog(const QString& header) = 0;
  virtual void Operation(const QString& text) = 0;    // WriteOperation
  virtual void Event(const QString& text) = 0;        // WriteEvent
  virtual void Progress(const QString& percent) = 0;  // SetProgress ("0".."100")
  virtual void Step(const QString& text) = 0;         // lbl20
  virtual void Description(const QString& text) = 0;  // lbl21
  // A yes/no question with its exact text and title; warningIcon false: the question icon;
  // defaultYes: the answer Enter gives. True for yes.
  virtual bool Ask(const QString& text, const QString& title, bool warningIcon, bool defaultYes) = 0;
  // An information box (errorIcon false) or error box: the final "合区所有操作已完成！".
  virtual void Inform(const QString& text, const QString& title, bool errorIcon) = 0;
  // Lets the window repaint and see a stop request; true when a stop was asked for. Called after
  // each progress step, so a stop ends the run between two accounts.
  virtual bool ProcessMessagesAndCheckStop() = 0;
};

struct TZoneMergeCounts {
  int AccountsCopied = 0, CharactersCopied = 0, BanksCopied = 0;
  // Accounts and characters left behind by the rules (a name still taken after the tag, an
  // account missing in the target).
  int Skipped = 0;
  // Failed inserts and warehouse queries the GM went on after; a failed account copy counts here
  // and its characters and warehouse stay behind.
  int Errors = 0;
  // Accounts and characters an earlier run already copied (known by the record the run keeps
  // in the target character database): not copied again.
  int AlreadyMerged = 0;
  // Characters moved with their gold cut to the column's maximum.
  int GoldCapped = 0;
  // Source characters and warehouses whose account is not in the source account database.
  int Orphans = 0;
  bool Stopped = false;    // by the GM (stop request or "yes" to a stop question) or a failed query
  bool Completed = false;  // reached the end and showed the final message
};

class TZoneMergeRun;

class TZoneMerge {
 public:
  // The window's four connections the run uses (con1, con2, con4, con5), already connected, each
  // in its zone's account or character database, and the two sides' settings as last copied.
  // The run uses statements and queries of its own on them, with kMergeTimeoutSeconds.
  TZoneMerge(TMyConnection& srcAcc, TMyConnection& srcChar, TMyConnection& tgtAcc, TMyConnection& tgtChar,
             const TZoneMergeSide& source, const TZoneMergeSide& target, const TZoneMergeOptions& options,
             TZoneMergeSink& sink);
  ~TZoneMerge();
  TZoneMerge(const TZoneMerge&) = delete;
  TZoneMerge& operator=(const TZoneMerge&) = delete;

  // The whole run: checks, pre-flight, the chosen mode; never throws for a database error (a
  // lost connection or a failed query ends it with its step label and log line).
  TZoneMergeCounts Run();

 private:
  std::unique_ptr<TZoneMergeRun> FRun;
};
