// The warehouse browser: the warehouses of the character database page by page with the
// owning account's name from the account database, searched by character or account, with the
// detail strip whose money, password and item edits open their dialogs.
#pragma once

#include "console/browsers/BrowserLinks.h"
#include "console/browsers/CharBrowser.h"
#include "console/browsers/PagedBrowser.h"

class QCheckBox;
class TDBEdit;

class Tbankmanager : public TPagedBrowser {
  Q_OBJECT

 public:
  // links.Chr is the connection read; links.Acc serves the account lookups and names the
  // account database the owners' names come from.
  explicit Tbankmanager(const TGameLinks& links, QWidget* parent = nullptr);
  ~Tbankmanager() override;

  // 确 定 and Enter in the search edit.
  void Search();
  // The warehouse of the account with this idx, as a link opens it: the search edit shows name
  // (the account's name as shown) and 按帐号查询 is ticked; found by the key, not the shown name.
  void SearchAccount(int64_t accountId, const QString& name);
  // 删除 acts on a stored row only.
  void DeleteCurrent();
  // 管理此仓库帐号 and a double click in the grid.
  void OpenAccount();
  // What a click in the detail strip's edits does.
  void EditPassword();
  void EditMoney();
  void EditItems();
  void CopyAccount();

  // ---- controls the tests drive ----
  QLineEdit* edt1 = nullptr;    // search text
  QCheckBox* chk1 = nullptr;    // 按帐号查询
  TFlatButton* btn1 = nullptr;  // 确 定
  TFlatButton* btn7 = nullptr;  // 删除
  TDBEdit* edtAccount = nullptr;
  TDBEdit* edtMoney = nullptr;
  TDBEdit* edtPassword = nullptr;
  TDBEdit* edtItems = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildStrips();
  bool HasBankRow() const;
  QString AccountLabel() const;

  TGameLinks FLinks;
  // Bound by the base before it is built; read only once the constructor has set it.
  TBankTexts FTexts;
};
