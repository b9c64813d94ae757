#include "console/frame/Unit1.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QWindowStateChangeEvent>
#include <algorithm>

#include "console/common/TypedText.h"
#include "console/controls/FlatBtns.h"
#include "console/frame/Unit2.h"
#include "console/frame/Unit_addarea.h"
#include "console/frame/Unit_updatever.h"
#include "console/frame/VersionCheck.h"
#include "platform/runtime/Charset.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/UiService.h"

namespace {

constexpr int kWidth = 330;
// The panels' heights, stacked from kPanelsTop below the title.
constexpr int kPanelsTop = 104;
constexpr int kZoneHeight = 40;
constexpr int kServerHeight = 68;
constexpr int kNamesHeight = 100;
constexpr int kAccountHeight = 160;
// What a person may type into each edit.
constexpr int kTypedLength = 20;

QString FromAnsi(const std::string& s) {
  return QString::fromStdU16String(AnsiToWide(s));
}
std::string ToAnsi(const QString& s) {
  return WideToAnsi(s.toStdU16String());
}
QString FromUtf8(const std::string& s) {
  return QString::fromStdString(s);
}
std::string ToUtf8(const QString& s) {
  return s.toUtf8().toStdString();
}

QLineEdit* AddEdit(QWidget* panel, const QString& label, int top) {
  auto* caption = new QLabel(label, panel);
  caption->setGeometry(16, top + 3, 80, 18);
  auto* edit = new QLineEdit(panel);
  edit->setGeometry(100, top, 200, 22);
  edit->setMaxLength(kTypedLength);
  return edit;
}

// A value read from DB.ini is shown whole: the zone editor takes longer ones, and an edit cut
// to its typing limit would connect with, and save, a shorter address or password.
void ShowWhole(QLineEdit* edit, const QString& text) {
  edit->setMaxLength(std::max(kTypedLength, static_cast<int>(text.size())));
  edit->setText(text);
}

}  // namespace

Tlogin::Tlogin(TFormMain& frame, QString iniFileName, const TLoginConnectionFactory& factory)
    : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::MSWindowsFixedSizeDialogHint),
      FFrame(frame),
      FIni(ToAnsi(iniFileName)),
      FSession(factory) {
  setWindowTitle(QStringLiteral("连接到游戏数据库"));
  BuildControls();
  FFrame.setEnabled(false);
  lbl1->clear();
  // A DB.ini that cannot be created or read is reported, and the window shows empty settings.
  TDbSettings saved;
  Guarded([this, &saved] {
    FIni.EnsureExists();
    saved = FIni.ReadDB();
  });
  ShowSettings(saved);
  chk1->setChecked(saved.SaveIni);
  setFixedWidth(kWidth);
  Relayout();
  if (QScreen* screen = frame.screen()) move(screen->availableGeometry().center() - rect().center());
}

Tlogin::~Tlogin() = default;

void Tlogin::BuildControls() {
  p3 = new QWidget(this);
  p3->setGeometry(0, 104, kWidth, kServerHeight);
  edt1 = AddEdit(p3, QStringLiteral("服务器地址"), 0);
  Edit1 = new QLineEdit(p3);
  Edit1->setMaxLength(kTypedLength);
  Edit1->setGeometry(100, 23, 60, 22);
  cbb2 = new QComboBox(p3);
  cbb2->setGeometry(166, 23, 134, 22);
  for (int i = 0; i < kCharsetCount; ++i) cbb2->addItem(QString::fromUtf8(CharsetItemText(i)));
  edt4 = AddEdit(p3, QStringLiteral("数据库名"), 46);
  FDbNamesLabel = p3->findChildren<QLabel*>().last();
  edt4->setGeometry(100, 46, 130, 22);
  // It only shows the three names the login connects to; they are typed in the detailed panel,
  // which a press opens. Text typed here would be shown but not used.
  edt4->setReadOnly(true);
  edt4->installEventFilter(this);
  chk2 = new QCheckBox(QStringLiteral("详细配置"), p3);
  chk2->setGeometry(236, 46, 80, 22);

  p2 = new QWidget(this);
  p2->setGeometry(0, 176, kWidth, kNamesHeight);
  edtdbname1 = AddEdit(p2, QStringLiteral("帐  号   库"), 4);
  edtdbname2 = AddEdit(p2, QStringLiteral("角  色   库"), 34);
  edtdbname3 = AddEdit(p2, QStringLiteral("日  志   库"), 64);

  p1 = new QWidget(this);
  p1->setGeometry(0, 172, kWidth, kAccountHeight);
  edt2 = AddEdit(p1, QStringLiteral("用  户  名"), 4);
  edt3 = AddEdit(p1, QStringLiteral("密       码"), 32);
  edt3->setEchoMode(QLineEdit::Password);
  chk1 = new QCheckBox(QStringLiteral("保存配置"), p1);
  chk1->setGeometry(100, 60, 90, 20);
  chk1->setChecked(true);
  chk3 = new QCheckBox(QStringLiteral("多区服模式"), p1);
  chk3->setGeometry(196, 60, 110, 20);
  lbl1 = new QLabel(p1);
  lbl1->setGeometry(16, 84, 300, 20);
  btn2 = new TFlatButton(p1);
  btn2->SetCaption(QStringLiteral("确  定"));
  btn2->move(80, 112);
  btn1 = new TFlatButton(p1);
  btn1->SetCaption(QStringLiteral("取  消"));
  btn1->move(176, 112);

  p4 = new QWidget(this);
  p4->setGeometry(0, 104, kWidth, kZoneHeight);
  auto* zoneLabel = new QLabel(QStringLiteral("分区选择"), p4);
  zoneLabel->setGeometry(16, 9, 80, 18);
  cbb1 = new QComboBox(p4);
  cbb1->setGeometry(100, 6, 120, 22);
  btn3 = new TFlatButton(p4);
  btn3->SetCaption(QStringLiteral("配置分区"));
  btn3->move(226, 4);

  auto* title = img1 = new QLabel(QStringLiteral("游戏管理工具"), this);
  title->setGeometry(0, 0, kWidth, 100);
  title->setAlignment(Qt::AlignCenter);
  title->setCursor(Qt::PointingHandCursor);
  title->installEventFilter(this);
  QFont big = title->font();
  big.setPointSize(20);
  title->setFont(big);

  ConnectGuarded(btn2, &TFlatButton::clicked, this, [this] { ConnectAll(); });
  ConnectGuarded(btn1, &TFlatButton::clicked, this, [this] {
    FFrame.close();
    close();
  });
  ConnectGuarded(btn3, &TFlatButton::clicked, this, [this] { EditZones(); });
  ConnectGuarded(chk2, &QCheckBox::toggled, this, [this](bool on) { SetDetailed(on); });
  ConnectGuarded(chk3, &QCheckBox::toggled, this, [this](bool on) { SetZoneMode(on); });
  ConnectGuarded(cbb1, &QComboBox::currentIndexChanged, this, [this](int) {
    if (!FLoading) LoadZone();
  });
}

QString Tlogin::LoginCharset() const {
  return QString::fromUtf8(CharsetItemText(FState.CharsetIndex));
}

void Tlogin::ShowSettings(const TDbSettings& s) {
  ShowWhole(edt1, FromUtf8(s.Server));
  ShowWhole(Edit1, FromUtf8(s.Port));
  cbb2->setCurrentIndex(s.CharsetIndex);
  ShowWhole(edtdbname1, FromUtf8(s.AccDB));
  ShowWhole(edtdbname2, FromUtf8(s.CharDB));
  ShowWhole(edtdbname3, FromUtf8(s.LogDB));
  if (!chk2->isChecked()) ShowWhole(edt4, FromUtf8(s.AccDB + "," + s.CharDB + "," + s.LogDB));
  ShowWhole(edt2, FromUtf8(s.Uid));
  ShowWhole(edt3, FromUtf8(s.Pwd));
}

TDbSettings Tlogin::TypedSettings(std::string (*convert)(const QString&)) const {
  TDbSettings s;
  s.Server = convert(edt1->text());
  s.Port = convert(Edit1->text());
  s.CharsetIndex = std::max(0, cbb2->currentIndex());
  s.AccDB = convert(edtdbname1->text());
  s.CharDB = convert(edtdbname2->text());
  s.LogDB = convert(edtdbname3->text());
  s.Uid = convert(edt2->text());
  s.Pwd = convert(edt3->text());
  s.SaveIni = chk1->isChecked();
  return s;
}

void Tlogin::SetDetailed(bool on) {
  if (on)
    edt4->setText(QStringLiteral("..."));
  else
    ShowWhole(edt4, edtdbname1->text() + "," + edtdbname2->text() + "," + edtdbname3->text());
  Relayout();
}

void Tlogin::Relayout() {
  const bool zone = chk3->isChecked();
  const bool detailed = chk2->isChecked();
  int top = kPanelsTop;
  p4->setVisible(zone);
  if (zone) {
    p4->move(0, top);
    top += kZoneHeight;
  }
  p3->move(0, top);
  top += kServerHeight;
  p2->setVisible(detailed);
  if (detailed) {
    p2->move(0, top);
    top += kNamesHeight;
  }
  p1->move(0, top);
  setFixedHeight(top + (detailed ? 163 : 168));
}

void Tlogin::SetZoneMode(bool on) {
  if (chk3->isChecked() != on) return chk3->setChecked(on);  // toggled() comes back here
  edt4->setEnabled(!on);
  FDbNamesLabel->setEnabled(!on);
  if (on) {
    FLoading = true;
    cbb1->clear();
    for (const std::string& zone : FIni.ZoneNames()) cbb1->addItem(FromUtf8(zone));
    cbb1->setCurrentIndex(cbb1->count() > 0 ? 0 : -1);
    FLoading = false;
    Relayout();
    if (!cbb1->currentText().isEmpty()) return LoadZone();
    for (QLineEdit* e : {edt1, Edit1, edtdbname1, edtdbname2, edtdbname3, edt2, edt3}) e->clear();
    cbb2->setCurrentIndex(0);
    edt4->setText(QStringLiteral(",,"));
  } else {
    Relayout();
    TDbSettings s = FIni.ReadDB();
    ShowSettings(s);
    chk1->setChecked(s.SaveIni);
  }
}

void Tlogin::EditZones() {
  Taddarea editor(FIni, this);
  Ui().ExecModal(editor);
  SetZoneMode(chk3->isChecked());
}

void Tlogin::LoadZone() {
  TDbSettings s = FIni.ReadZone(ToUtf8(cbb1->currentText()));
  ShowSettings(s);
  ShowWhole(edt4, FromUtf8(s.AccDB + "," + s.CharDB + "," + s.LogDB));
}

bool Tlogin::ConnectAll() {
  // The settings go to DB.ini and the server in the desktop's code page: a character it lacks
  // would be saved and sent as "?", and the next start would show that instead of what was typed.
  const std::pair<QLineEdit*, const char*> edits[] = {{edt1, "服务器地址"},   {edtdbname1, "帐号库"},
                                                      {edtdbname2, "角色库"}, {edtdbname3, "日志库"},
                                                      {edt2, "用户名"},       {edt3, "密码"}};
  for (const auto& [edit, label] : edits)
    if (const QString problem = UnencodableText(edit->text(), TFieldCharset::Gbk, QString::fromUtf8(label));
        !problem.isEmpty()) {
      ShowError(problem);
      return false;
    }
  TDbSettings typed = TypedSettings(ToAnsi);
  if (std::string problem = CheckLoginInput(typed); !problem.empty()) {
    ShowError(QString::fromStdString(problem));
    return false;
  }
  const bool keep = typed.SaveIni && !chk3->isChecked();
  // What is kept must come back as it was typed at the next start.
  if (keep)
    for (const auto& [edit, label] : edits)
      if (const std::string problem = FIni.ValueProblem(ToUtf8(edit->text())); !problem.empty()) {
        ShowError(QString::fromUtf8(label) + QString::fromStdString(problem) + QStringLiteral("！"));
        return false;
      }
  FState = typed;
  if (!typed.SaveIni)
    FIni.ResetDB();
  else if (keep)
    FIni.SaveDB(TypedSettings(ToUtf8));
  if (!FSession.Connect(typed, *this)) return false;
  FinishLogin();
  return true;
}

void Tlogin::FinishLogin() {
  const TDbSettings& s = FState;
  const QString databases = FromAnsi(s.AccDB) + "," + FromAnsi(s.CharDB) + "," + FromAnsi(s.LogDB);
  FZoneText =
      chk3->isChecked() ? cbb1->currentText() : FromAnsi(s.Server) + ":" + FromAnsi(s.Port) + " " + databases;
  FFrame.SetLoginSettings({FromAnsi(s.Server), FromAnsi(s.Port), LoginCharset(), FromAnsi(s.AccDB),
                           FromAnsi(s.CharDB), FromAnsi(s.LogDB), FromAnsi(s.Uid), FromAnsi(s.Pwd)});
  // Nothing goes on acting on a zone the frame no longer names.
  FFrame.CloseToolsOfEarlierZones();
  FFrame.setEnabled(true);
  FFrame.setWindowState(FFrame.windowState() & ~Qt::WindowMinimized);
  FFrame.repaint();
  hide();
  FFrame.SetStatusText(QStringLiteral("正在初始化...请稍等..."));
  Ui().ProcessMessages();
  StartVersionCheck();
  Ui().ProcessMessages();
  QString where = chk3->isChecked() ? "  [" + cbb1->currentText() + "]" : QStringLiteral("  [单一服务器]");
  FFrame.SetStatusText(QStringLiteral("已登录： ") + FromAnsi(s.Server) + QStringLiteral(" ,数据库：") +
                       databases + QStringLiteral(",用户：") + FromAnsi(s.Uid) + where);
}

Tupdatever* Tlogin::updatever() const {
  return FUpdatever.data();
}

void Tlogin::StartVersionCheck() {
  // A login again through this window replaces its version window.
  delete FUpdatever.data();
  auto* window = new Tupdatever(*FFrame.MdiArea(), FFrame.VersionAddress());
  FUpdatever = window;
  // The answer comes later from the message loop: the login never waits for it.
  connect(window, &Tupdatever::Checked, window, [window] {
    if (window->UpdateFlag == QStringLiteral("1")) window->ShowRestored();
  });
  window->Start();
}

void Tlogin::Status(const std::string& text) {
  lbl1->setText(QString::fromStdString(text));
}
void Tlogin::Error(const std::string& text) {
  ShowError(QString::fromStdString(text));
}
void Tlogin::ProcessMessages() {
  Ui().ProcessMessages();
}

void Tlogin::changeEvent(QEvent* event) {
  // Minimising the login window minimises the frame with it.
  if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized))
    FFrame.showMinimized();
  QWidget::changeEvent(event);
}

void Tlogin::closeEvent(QCloseEvent* event) {
  // Closed by the window manager before logging in, the window ends the program as "取消" does:
  // the frame it disabled would otherwise stay there, unusable. A frame that refuses to close
  // (a tool window still busy) is given back to the game master.
  if (isVisible() && !LoginConnected())
    QTimer::singleShot(0, &FFrame, [frame = &FFrame] {
      if (frame->isVisible() && !frame->close()) frame->setEnabled(true);
    });
  QWidget::closeEvent(event);
}

bool Tlogin::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edt4 && event->type() == QEvent::MouseButtonPress && edt4->isEnabled())
    chk2->setChecked(true);
  // The picture shows a hand: a click on it opens the maker's page.
  if (watched == img1 && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
    Guarded([] {
      const QString page = QString::fromLatin1(kDownloadPage);
      if (!Ui().ShellOpen(page)) ShowMessage(QStringLiteral("浏览器加载失败，请手动打开软件主页：") + page);
    });
  return QWidget::eventFilter(watched, event);
}
