// The SQL console: free SQL on the account, character or log database of the login, one tab
// each, a query's rows in the grid the three tabs share, and statement templates per table. It
// runs on three sessions of its own, opened like the login's and closed with the window: what it
// runs (USE, SET, a temporary table, an open transaction) never reaches the sessions the other
// tool windows read and write through.
#pragma once

#include <QWidget>
#include <array>
#include <memory>

#include "platform/widgets/FieldText.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QTabWidget;
class TCustomMyConnection;
class TDBGrid;
class TFlatButton;
class TMyConnection;
class TMyDataSource;
class TMyLoginConnection;
class TMyQuery;

class Tbigset : public QWidget {
  Q_OBJECT

 public:
  // Opens a session like each of the login's three connections (read only for their settings)
  // and raises what opening raises; charsetText: the login's character-set choice, which decides
  // how the memo's text and the rows' bytes convert.
  Tbigset(TMyConnection& con1, TMyConnection& con2, TMyConnection& con3, const QString& charsetText,
          QWidget* parent = nullptr);
  ~Tbigset() override;

  // One tab's controls; tab 0 account, 1 character, 2 log.
  struct TSqlTab {
    TCustomMyConnection* Connection = nullptr;  // the window's own session
    QPlainTextEdit* Memo = nullptr;
    QCheckBox* Execute = nullptr;  // 执行
    QComboBox* Kind = nullptr;     // 查询 插入 删除
    QComboBox* Table = nullptr;
    TFlatButton* RunButton = nullptr;
    TFlatButton* GenerateButton = nullptr;
    TDBGrid* Grid = nullptr;
  };

  // 运行 and 生成 of a tab.
  void Run(int tab);
  void Generate(int tab);

  TSqlTab& Tab(int tab) { return FTabs.at(static_cast<size_t>(tab)); }
  TMyQuery& qry1() noexcept { return *FQuery; }
  QString ResultPanel() const;
  QString StatementPanel() const;

  QTabWidget* pgc1 = nullptr;

 private:
  QWidget* BuildTab(TSqlTab& tab, TCustomMyConnection& connection);
  void ReleaseGrids() noexcept;
  void TabChanged();

  TFieldCharset FCharset;
  // Declared before the query: the sessions go after it.
  std::array<std::unique_ptr<TMyLoginConnection>, 3> FSessions;
  std::unique_ptr<TMyQuery> FQuery;
  std::unique_ptr<TMyDataSource> FSource;
  std::array<TSqlTab, 3> FTabs;
  QLabel* FPanel0 = nullptr;
  QLabel* FPanel1 = nullptr;
};
