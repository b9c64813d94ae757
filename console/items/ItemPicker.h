// The pickers of the item-issuing window: a modal list over one table of the character database
// (its first 20 rows, an exact or fuzzy search by name, every row on request) whose double-click
// hands a row's name to one of the window's lists. The character and the item picker differ only
// in their row of one table (table, columns, texts) and in what they do with a name.
#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "platform/widgets/FieldText.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class TCustomMyConnection;
class TDBGrid;
class TFlatButton;
class TMyDataSource;
class TMyQuery;

// The most lines each list of the item-issuing window holds.
inline constexpr int kMaxListLines = 10;
// Rows the picker shows when it opens.
inline constexpr int kPickerFirstRows = 20;

// A list's lines; an empty memo has none.
QStringList MemoLines(const QPlainTextEdit& memo);
void AppendMemoLine(QPlainTextEdit& memo, const QString& line);

enum class TPickerKind { Character, Item };
struct TPickerTexts;

class TItemPicker : public QDialog {
  Q_OBJECT

 public:
  // target: the window's list the picked names go to.
  TItemPicker(TCustomMyConnection& con2, TFieldCharset charset, TPickerKind kind, QPlainTextEdit& target,
              QWidget* parent = nullptr);
  ~TItemPicker() override;

  // Searches by the edit's text (exact, or fuzzy with chk1).
  void Search();
  // 显示全部.
  void ShowAll();
  // A double-click on the current row: refused without a row or with a full list, else Add.
  void PickRow();
  // The statement each step runs (bytes in the connection's set).
  std::string CountSql() const;
  std::string FirstPageSql() const;
  std::string SearchSql(const QString& text, bool fuzzy) const;
  std::string ShowAllSql() const;

  TMyQuery& qry1() noexcept { return *FQuery; }
  int64_t Total() const noexcept { return FTotal; }

  TDBGrid* dbgrd1 = nullptr;
  QLabel* lbl3 = nullptr;          // count label
  QLineEdit* edt1 = nullptr;       // search text
  QCheckBox* chk1 = nullptr;       // 模糊查找
  TFlatButton* Button1 = nullptr;  // 查 找
  TFlatButton* Button2 = nullptr;  // 显示全部
  QLabel* pnl1 = nullptr;          // 数据载入中...
  QLabel* stat1 = nullptr;         // status text

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  // Hands the current row's name to the target list, which has room for it.
  virtual void Add(const QString& name) = 0;
  QPlainTextEdit& Target() const noexcept { return FTarget; }

 private:
  void OpenRows(const std::string& sql);
  void ShowCount(int64_t shown);
  std::string Encode(const QString& text) const { return EncodeFieldText(text, FCharset); }
  bool HasRow() const;
  // The current row's value of field, decoded; empty when there is no row.
  QString CurrentText(const char* field) const;

  TCustomMyConnection& FConnection;
  TFieldCharset FCharset;
  const TPickerTexts& FTexts;
  QPlainTextEdit& FTarget;
  std::unique_ptr<TMyQuery> FQuery;
  std::unique_ptr<TMyQuery> FCount;
  std::unique_ptr<TMyDataSource> FSource;
  int64_t FTotal = 0;
  bool FBusy = false;
};
