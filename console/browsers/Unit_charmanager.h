// The character browser: the characters of the character database page by page, searched by
// name (exact or fuzzy) or by owning account, with the detail strip and panel, the online check
// from the log, and the ways to the character's account, its other characters and warehouse.
#pragma once

#include <cstdint>
#include <optional>

#include "console/browsers/BrowserLinks.h"
#include "console/browsers/CharBrowser.h"
#include "console/browsers/PagedBrowser.h"

class QCheckBox;
class TDBEdit;

class Tcharmanager : public TPagedBrowser {
  Q_OBJECT

 public:
  // links.Chr is the connection read; links.Acc and links.Log serve the lookups.
  explicit Tcharmanager(const TGameLinks& links, QWidget* parent = nullptr);
  ~Tcharmanager() override;

  // 确 定 and Enter in the search edit.
  void Search();
  // The characters of the account with this idx, as a link opens them: the search edit shows name
  // (the account's name as shown) and 按帐号查询 is ticked. Found by the key, never by the shown
  // name, which stands in "?" for characters the account connection's set lacks.
  void SearchAccount(int64_t accountId, const QString& name);
  // 提交修改 (either button) and 删除本条; both act on a stored row only.
  void CommitRow();
  void DeleteCurrent();
  // 是否在线.
  void CheckOnline();
  // 该角色的帐号管理 and a double click in the grid.
  void OpenAccount();
  // 同帐号其它角色.
  void ShowAccountCharacters();
  // 查看本角色仓库.
  void OpenWarehouse();
  // 技能背包数据修改[&S].
  void EditSkillsAndItems();
  // 详细信息.
  void ShowDetail(bool on);

  // ---- controls the tests drive ----
  QLineEdit* edt1 = nullptr;    // search text
  QCheckBox* chk1 = nullptr;    // 按帐号查询
  QCheckBox* chk3 = nullptr;    // 模糊查询
  QCheckBox* chk2 = nullptr;    // 详细信息
  TFlatButton* btn1 = nullptr;  // 确 定
  TFlatButton* btn6 = nullptr;  // 提交修改 (strip)
  TFlatButton* btn7 = nullptr;  // 删除本条
  QWidget* p2 = nullptr;        // detail panel
  TDBEdit* edtName = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildStrips();
  bool HasCharRow() const;
  // The row's account from the account database, its idx and its name as shown; empty (after the
  // warning) when it has none.
  struct TRowAccount {
    int64_t Idx = 0;
    QString Name;
  };
  std::optional<TRowAccount> RowAccount();
  std::optional<double> LastSession(int64_t id, int kind);
  void CopyName();

  TGameLinks FLinks;
};
