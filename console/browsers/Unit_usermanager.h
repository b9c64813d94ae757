// The account browser: the game's accounts page by page on the account
// connection, searched by name (exact or fuzzy) or by privilege, with the
// detail strip whose password and balance edits open their dialogs and whose
// lock and GM edits toggle the row at once.
#pragma once

#include "console/browsers/AccountBrowser.h"
#include "console/browsers/BrowserLinks.h"
#include "console/browsers/PagedBrowser.h"

class QCheckBox;
class TDBEdit;

class Tusermanager : public TPagedBrowser {
  Q_OBJECT

 public:
  // connection: the login's account connection; charsetText: the login's
  // character-set choice.
  Tusermanager(TCustomMyConnection& connection, const QString& charsetText, QWidget* parent = nullptr);
  ~Tusermanager() override;
  // The connections the character browser opened from here reads; without them it stays shut.
  void SetLinks(const TGameLinks& links) { FLinks = links; }

  // 确 定 of the search strip.
  void Search();
  // The one account with this idx, as another browser's link opens it: the search edit shows
  // name (its text as shown there) and 模糊查找 is unticked. The account is found by its key, not
  // by the shown name, which stands in "?" for characters the connection's set lacks.
  void SearchAccount(int64_t idx, const QString& name);
  // 删除当前帐号, 提交 and 参数帮助. Delete and commit act on a stored row only (an empty result
  // gives a hint and sends nothing); commit writes a row edited in the grid and nothing else.
  void DeleteCurrent();
  void CommitRow();
  // What a click in the detail strip's edits does.
  void EditPassword();
  void EditBalance();
  void ToggleLock();
  void ToggleGm();
  // 管理该帐号下角色 and a double click in the grid: the row's characters in a new browser.
  void OpenCharacters();

  // ---- controls the tests drive ----
  QLineEdit* edt1 = nullptr;       // search text
  QCheckBox* chk1 = nullptr;       // 按权限(数字)
  QCheckBox* CheckBox1 = nullptr;  // 模糊查找
  TFlatButton* btn1 = nullptr;     // 确 定
  TFlatButton* btn6 = nullptr;     // 提交
  TFlatButton* btn7 = nullptr;     // 删除当前帐号
  TDBEdit* edtPriv = nullptr;
  TDBEdit* edtName = nullptr;
  TDBEdit* edtPassword = nullptr;
  TDBEdit* edtLocked = nullptr;
  TDBEdit* edtMoney = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildStrips();
  QString UserName() const;
  // True when a stored account row is current; otherwise hints that there is none.
  bool HasAccountRow() const;
  // Puts the row into edit state, sets the edit's text and posts the row.
  void PostValue(TDBEdit& edit, const QString& value);

  TGameLinks FLinks;
};
