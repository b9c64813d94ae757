// The guild list: the game's guilds on the character connection, searched by name, with the
// guild and member editors and dissolving a guild with its members.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "console/browsers/BrowserPaging.h"
#include "platform/runtime/Charset.h"
#include "platform/widgets/FieldText.h"

class QLineEdit;
class TCustomMyConnection;
class TDBGrid;
class TDBText;
class TFlatButton;
class TMyDataSource;
class TMyQuery;
class Tgonghui_edit;
class Tgonghuicy_edit;

class Tgonghui : public QWidget {
  Q_OBJECT

 public:
  Tgonghui(TCustomMyConnection& con2, const QString& charsetText, QWidget* parent = nullptr);
  ~Tgonghui() override;

  // 刷新, 搜 索, 编辑工会, 编辑成员 and 解散工会. The editors are returned (null when refused).
  void RefreshGuilds();
  void Search();
  Tgonghui_edit* EditGuild();
  Tgonghuicy_edit* EditMembers();
  void Dissolve();

  TMyQuery& qry1() noexcept { return *FQuery; }
  TMyDataSource& ds1() noexcept { return *FSource; }
  TCustomMyConnection& Connection() noexcept { return FConnection; }
  TFieldCharset FieldCharset() const noexcept { return FFieldCharset; }
  // How the session reads the literals written for it.
  TLiteralStyle LiteralStyle() const { return FConnection.LiteralStyle(); }
  // The current row's ID as text; empty when there is no row.
  std::string CurrentId() const;

  TDBGrid* dbgrd1 = nullptr;
  TDBText* dbtxtName = nullptr;
  QLineEdit* edt1 = nullptr;
  TFlatButton* Button1 = nullptr;
  TFlatButton* Button2 = nullptr;
  TFlatButton* Button3 = nullptr;
  TFlatButton* Button4 = nullptr;
  TFlatButton* Button5 = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::string CurrentValue(const char* field) const;
  void OpenGuilds(const std::string& sql);

  TCustomMyConnection& FConnection;
  TFieldCharset FFieldCharset;
  std::unique_ptr<TMyQuery> FQuery;
  std::unique_ptr<TMyQuery> FStatements;
  std::unique_ptr<TMyDataSource> FSource;
};

// Where the guild windows place an editor: on top, centred on the screen, freed when closed.
void ShowEditorWindow(QWidget& editor);
// "<failure>\n\r" and the error's text.
QString FailureText(const QString& failure, const std::exception& e);
// Runs work; an error it raises (EAbort aside) is shown as FailureText(failure, error) in an
// error box. False then.
bool RunShowingFailure(const QString& failure, const std::function<void()>& work);
// What a read of the guild windows that fails shows before the error's text.
inline const QString kReadFailure = QStringLiteral("查询失败，请检查网络连接！");
