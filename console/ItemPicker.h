// The pickers of the item-issuing window: a modal list over one table of the character database
// (its first 20 rows, an exact or fuzzy search by name, every row on request) whose double-click
// hands a row to the window's lists. The character and the item picker differ only in their
// table, texts and what a double-click does.
#pragma once

#include <QDialog>
#include <memory>
#include <string>
#include <vector>

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
struct TDBGridColumn;

// The most lines each list of the item-issuing window holds.
inline constexpr int kMaxListLines = 10;
// Rows the picker shows when it opens.
inline constexpr int kPickerFirstRows = 20;

// A list's lines; an empty memo has none.
QStringList MemoLines(const QPlainTextEdit& memo);
void AppendMemoLine(QPlainTextEdit& memo, const QString& line);

struct TPickerTexts {
  const char* Caption;
  const char* Table;
  const char* Columns;         // the select list
  const char* NameColumn;      // what a search compares
  const char* CountPrefix;     // "角色数: "
  const char* Status;          // the status text on opening
  const char* Hint;            // the search edit's hint text
  const char* ReadFailure;     // opening and "显示全部"
  const char* FirstPageSpace;  // between the table and LIMIT
};

class TItemPicker : public QDialog {
  Q_OBJECT

 public:
  TItemPicker(TCustomMyConnection& con2, TFieldCharset charset, const TPickerTexts& texts,
              std::vector<TDBGridColumn> columns, QWidget* parent = nullptr);
  ~TItemPicker() override;

  // Searches by the edit's text (exact, or fuzzy with chk1).
  void Search();
  // 显示全部.
  void ShowAll();
  // A double-click on the current row.
  virtual void PickRow() = 0;
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
  // The current row's value of field, decoded; empty when there is no row.
  QString CurrentText(const char* field) const;
  bool HasRow() const;

 private:
  void OpenRows(const std::string& sql);
  void ShowCount(int64_t shown);
  std::string Encode(const QString& text) const { return EncodeFieldText(text, FCharset); }

  TCustomMyConnection& FConnection;
  TFieldCharset FCharset;
  const TPickerTexts& FTexts;
  std::unique_ptr<TMyQuery> FQuery;
  std::unique_ptr<TMyQuery> FCount;
  std::unique_ptr<TMyDataSource> FSource;
  int64_t FTotal = 0;
  bool FBusy = false;
};
