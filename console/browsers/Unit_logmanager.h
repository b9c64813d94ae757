// The log browser: the players' action log page by page on the log connection, each action
// named in words, searched by character and time span, filtered by kind, with the cleanup of
// rows logged before a date and a detail strip whose texts can be copied.
#pragma once

#include <memory>

#include "console/browsers/LogBrowser.h"
#include "console/browsers/PagedBrowser.h"

class QCalendarWidget;
class QComboBox;
class TDBEdit;
class TDBMemo;
class TMyCommand;

class Tlogmanager : public TPagedBrowser {
  Q_OBJECT

 public:
  // logConnection: the login's log connection (con3), which the pages and the cleanup use;
  // charConnection: the character connection (con2) the search looks the character up on;
  // charDb: the character database whose `user` names each row's character.
  Tlogmanager(TCustomMyConnection& logConnection, TCustomMyConnection& charConnection, const QString& charDb,
              const QString& charsetText, QWidget* parent = nullptr);
  ~Tlogmanager() override;

  // 搜 索: one character's log between two times, of one kind of action.
  void Search();
  // The quick filters; index into kLogQuickFilters.
  void QuickFilter(int index);
  // 提交 of the cleanup: deletes the rows logged before edt4's date after asking, reports the
  // rows the server deleted and shows the log from its first page again.
  void CleanUp();
  void ToggleMemo();
  // A press on the name or a parameter memo of the detail strip.
  void CopyName();
  void CopyParameter(int which);
  // Writes the calendar's date into the edit that opened it.
  void PickDate();

  // ---- controls the tests drive ----
  QLineEdit* edt1 = nullptr;  // character
  QLineEdit* edt2 = nullptr;  // start time
  QLineEdit* edt3 = nullptr;  // end time
  QLineEdit* edt4 = nullptr;  // cleanup date
  QComboBox* cbb1 = nullptr;  // action filter
  TFlatButton* btn1 = nullptr;
  TFlatButton* btn5 = nullptr;         // GM日志
  TFlatButton* btn8 = nullptr;         // 交易发起
  TFlatButton* btn9 = nullptr;         // 交易接收
  TFlatButton* btn10 = nullptr;        // 拍卖日志
  TFlatButton* FlatButton1 = nullptr;  // 全部日志
  TFlatButton* btn6 = nullptr;         // 提交
  TFlatButton* btn7 = nullptr;         // 隐藏MEMO / 显示MEMO
  QCalendarWidget* cal1 = nullptr;
  QWidget* pnl2 = nullptr;
  TDBEdit* dbedtuserID = nullptr;
  TDBMemo* dbmmostrParam1 = nullptr;
  TDBMemo* dbmmostrParam2 = nullptr;
  TDBMemo* dbmmostrParam3 = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The texts live on the heap so that the family's window can hold them from its start.
  Tlogmanager(TCustomMyConnection& logConnection, TCustomMyConnection& charConnection,
              std::unique_ptr<TLogTexts> texts, const QString& charsetText, QWidget* parent);
  void BuildStrips();
  QWidget* BuildDetail();
  void ShowRefusal(const TLogRefusal& refusal);
  // The character's ID, or nothing when no character has that name.
  std::optional<int64_t> CharacterId(const QString& name);
  void ShowCalendar(QLineEdit* edit);

  TCustomMyConnection& FCharConnection;
  std::unique_ptr<TLogTexts> FTexts;
  std::unique_ptr<TMyCommand> FCleanup;
  QLineEdit* FDateEdit = nullptr;  // the edit the calendar writes into
};
