// The member editor: the members of the guild current in the guild list when it opened (or
// of every guild, for a name search), with title and rank edits, deleting and posting a member.
#pragma once

#include <QWidget>
#include <memory>
#include <string>

class QLineEdit;
class TDBEdit;
class TDBGrid;
class TDBText;
class TFlatButton;
class TMyDataSource;
class TMyQuery;
class Tgonghui;

class Tgonghuicy_edit : public QWidget {
  Q_OBJECT

 public:
  explicit Tgonghuicy_edit(Tgonghui& list);
  ~Tgonghuicy_edit() override;

  // 刷新 (the guild list's current guild, read again), 搜 索, 删除 and 提交修改.
  void RefreshMembers();
  void Search();
  void DeleteMember();
  void Commit();

  TMyQuery& qry1() noexcept { return *FQuery; }

  TDBGrid* dbgrd1 = nullptr;
  TDBText* dbtxtname = nullptr;
  TDBEdit* dbedtnickname = nullptr;
  TDBEdit* dbedtofficial = nullptr;
  QLineEdit* edt1 = nullptr;
  TFlatButton* Button1 = nullptr;
  TFlatButton* Button2 = nullptr;
  TFlatButton* Button3 = nullptr;
  TFlatButton* Button4 = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OpenMembers(const std::string& sql);
  // The members of the guild read at creation or the last refresh.
  void ShowGuildMembers();
  // A stored member is current (a row begun by typing over an empty list is dropped first).
  bool HasMemberRow();
  // Before a member row is written or deleted: EAbort, with the reason shown, when the row the
  // server holds under the shown name is another character's.
  void CheckShownMember();

  Tgonghui& FList;
  std::string FUnionId;
  std::unique_ptr<TMyQuery> FQuery;
  std::unique_ptr<TMyDataSource> FSource;
};
