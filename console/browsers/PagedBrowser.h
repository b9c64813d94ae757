// The paged table browsers' window: a grid over qry1 shown page by page, the
// count query qry2, the page and count labels, the page-size edit, the busy
// panel, refresh, previous and next page and the sort by column title, and the
// cell drawing the family shares. Each browser adds its search and detail
// strips. While a query runs the paging, search and sort controls are disabled
// and the window refuses to close, so no handler runs twice or under a freed
// window.
#pragma once

#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "console/browsers/BrowserPaging.h"
#include "platform/widgets/FieldText.h"

class QLabel;
class QLineEdit;
class TCustomMyConnection;
class TDBGrid;
class TFlatButton;
class QLayout;
class TMyDataSource;
class TMyQuery;
struct TDBGridColumn;

// The help of the account and log browsers (UTF-8).
inline constexpr char kSortingHelp[] =
    "参数说明：\n\r点击各列可以进行排序操作，升序或降序。\n\r"
    "排序后第二页不排序可以设置每页显示的数据多一些。"
    "\n\r可以修改的直接点击名字在顶部会有显示出来，鼠标点击会"
    "有提示。\n\r其它问题，参考软件帮助！";

class TPagedBrowser : public QWidget {
  Q_OBJECT

 public:
  // connection: the shared login connection the browser reads (not owned; the
  // login window keeps it); charsetText: the login's character-set choice,
  // which decides how bytes decode.
  TPagedBrowser(TCustomMyConnection& connection, const QString& charsetText, const TBrowserTexts& texts,
                QWidget* parent = nullptr);
  ~TPagedBrowser() override;

  // ---- the family's operations (each raises what its queries raise; nothing
  // changes then) ---- Create, 刷 新(F5) and F5: no condition, 17 rows a page,
  // page 1.
  void RefreshPages();
  // Enter in the page-size edit.
  void ChangePageSize();
  void PreviousPage();
  void NextPage();
  // A title click: ascending, then descending, then ascending ...; a failure
  // shows "数据库连接失败，请检查网络！".
  void SortByColumn(int column);

  const TPagingState& PagingState() const noexcept { return FPaging.State(); }
  bool Busy() const noexcept { return FBusy; }
  TMyQuery& qry1() noexcept { return *FQuery; }
  TMyQuery& qry2() noexcept { return *FCount; }
  TMyDataSource& ds1() noexcept { return *FSource; }
  TCustomMyConnection& Connection() noexcept { return FConnection; }

  // ---- controls the tests drive ----
  TDBGrid* dbgrd1 = nullptr;
  QLabel* lbl2 = nullptr;       // page label
  QLabel* lbl11 = nullptr;      // count label
  QLineEdit* e1 = nullptr;      // page size
  QLabel* pnl1 = nullptr;       // "数据加载中..."
  TFlatButton* btn2 = nullptr;  // 刷 新(F5)
  TFlatButton* btn4 = nullptr;  // 上一页
  TFlatButton* btn3 = nullptr;  // 下一页

 protected:
  // Runs a search the browser built (its condition made through SqlLiteral or
  // LikeLiteral).
  void RunSearch(const std::string& where, bool ticked);
  // Runs a quick filter: a fixed condition, paged from page 1.
  void RunFilter(const std::string& where);
  // Typed text as the connection's bytes, and how its session reads literals.
  std::string Encode(const QString& text) const;
  TLiteralStyle LiteralStyle() const { return FConnection.LiteralStyle(); }
  TFieldCharset FieldCharset() const noexcept { return FFieldCharset; }
  void SetGridColumns(std::vector<TDBGridColumn> columns);
  // The search strip's help link: a click shows help (UTF-8) in a message box.
  void AddHelpLink(QWidget* parent, QLayout* layout, const QString& caption, const char* help);
  // Controls disabled while a query runs, besides the paging buttons and the
  // grid's titles.
  void AddBusyControl(QWidget* control) { FBusyControls.push_back(control); }
  // The strip with the paging controls, for the browser to place.
  QWidget* PagingStrip() const noexcept { return FPagingStrip; }
  void closeEvent(QCloseEvent* event) override;

 private:
  class TBusyScope;
  void BuildControls();
  void FitWholePage();
  void Run(const TPageStep& step);
  void OpenPage(const std::string& sql);
  int64_t CountRows(const std::string& sql);
  void ShowLabels(TCountLabel label);
  void SetBusy(bool on);

  TCustomMyConnection& FConnection;
  const TBrowserTexts& FTexts;
  TBrowserPaging FPaging;
  TFieldCharset FFieldCharset;
  std::unique_ptr<TMyQuery> FQuery;
  std::unique_ptr<TMyQuery> FCount;
  std::unique_ptr<TMyDataSource> FSource;
  QWidget* FPagingStrip = nullptr;
  std::vector<QWidget*> FBusyControls;
  bool FBusy = false;
  // The count label of the last count, kept while a page whose load failed shows none.
  QString FCountText;
};

// A flat button of a browser's search or detail strip, width × 24, added to the strip's layout.
TFlatButton* AddStripButton(QWidget* parent, QLayout* layout, const QString& caption, int width = 80);
// A link of a browser's search strip, added to the strip's layout.
QLabel* AddStripLink(QWidget* parent, QLayout* layout, const QString& caption);
