#include "console/merge/Unit_zqv2to1.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QSaveFile>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "components/MyAccessCommand.h"
#include "components/MyAccessConnection.h"
#include "console/common/TypedText.h"
#include "console/controls/FlatBoxs.h"
#include "console/controls/FlatBtns.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/Exceptions.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/FieldText.h"
#include "platform/widgets/UiService.h"

namespace {

const QString kLogFilter = QStringLiteral("TXT文件|*.txt|所有文件|*.*");

std::string ToAnsi(const QString& text) {
  return WideToAnsi(text.toStdU16String());
}

TFlatButton* FlatButton(const QString& caption, QWidget* parent) {
  auto* b = new TFlatButton(parent);
  b->SetCaption(caption);
  b->setFixedSize(100, 25);
  return b;
}

TFlatGroupBox* Group(const QString& caption, QWidget* parent) {
  auto* g = new TFlatGroupBox(parent);
  g->SetCaption(caption);
  return g;
}

QCheckBox* Check(const QString& caption, bool on, QWidget* parent) {
  auto* c = new QCheckBox(caption, parent);
  c->setChecked(on);
  return c;
}

// Two radio buttons that exclude each other only: each pair of the form is its own group.
std::pair<QRadioButton*, QRadioButton*> RadioPair(const QString& a, const QString& b, bool firstOn,
                                                  QWidget* parent) {
  auto* r1 = new QRadioButton(a, parent);
  auto* r2 = new QRadioButton(b, parent);
  auto* group = new QButtonGroup(parent);
  group->addButton(r1);
  group->addButton(r2);
  (firstOn ? r1 : r2)->setChecked(true);
  return {r1, r2};
}

QLabel* Hint(const QString& text, QWidget* parent) {
  auto* l = new QLabel(text, parent);
  l->setWordWrap(true);
  l->setStyleSheet(QStringLiteral("color: rgb(204,0,0);"));
  return l;
}

}  // namespace

// Marks the run: closing refused, the controls that could start another run or drop a
// connection disabled; undone on every path.
class Tzqv2to1::TBusyScope {
 public:
  TBusyScope(Tzqv2to1& owner, bool running) : FOwner(owner) {
    FOwner.FRunning = running;
    FOwner.SetBusy(true);
  }
  ~TBusyScope() {
    FOwner.SetBusy(false);
    FOwner.FRunning = false;
  }
  TBusyScope(const TBusyScope&) = delete;
  TBusyScope& operator=(const TBusyScope&) = delete;

 private:
  Tzqv2to1& FOwner;
};

Tzqv2to1::Tzqv2to1(std::function<TDbSettings()> loginState, QWidget* parent)
    : QWidget(parent), FLoginState(std::move(loginState)), FEventFile(QStringLiteral("zqv2to1_log.txt")) {
  setObjectName(QStringLiteral("zqv2to1"));
  setWindowTitle(QStringLiteral("游戏合区工具"));
  setAttribute(Qt::WA_DeleteOnClose);
  for (auto& con : FCons) {
    con = std::make_unique<TMyConnection>();
    con->SetConnectionTimeout(kMergeConnectTimeoutSeconds);
    con->InternalCommand().SetCommandTimeout(kMergeBrowseTimeoutSeconds);
    // The game keeps GBK bytes in latin1 columns: a latin1 session passes them unchanged.
    con->Options().SetCharset("latin1");
  }
  BuildControls();
  WireControls();
  SetStatusPanel(0, QStringLiteral("没有转出分区连接.."));
  SetStatusPanel(1, QStringLiteral("没有转入分区连接.."));
  WriteOperation(QStringLiteral("合区程序启动！合区之前请关闭游戏直至合区结束，同时备份转出转入数据库！"));
}

Tzqv2to1::~Tzqv2to1() = default;

void Tzqv2to1::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 0);
  pgc1 = new QTabWidget(this);
  pgc1->addTab(BuildDataPage(), QStringLiteral("数据设置"));
  pgc1->addTab(BuildRulesPage(), QStringLiteral("内容与规则"));
  pgc1->addTab(BuildWorkPage(), QStringLiteral("合区工作台"));
  layout->addWidget(pgc1, 1);
  auto* stat1 = new QStatusBar(this);
  stat1->setSizeGripEnabled(false);
  for (QLabel*& panel : FPanels) {
    panel = new QLabel(stat1);
    stat1->addWidget(panel, 1);
  }
  layout->addWidget(stat1);
}

TFlatGroupBox* Tzqv2to1::BuildSideGroup(int s, QWidget* parent) {
  const bool target = s == 1;
  TSide& side = FSides[static_cast<size_t>(s)];
  side.Word = target ? QStringLiteral("转入") : QStringLiteral("转出");
  TFlatGroupBox* group = Group(target ? QStringLiteral("转入分区") : QStringLiteral("转出分区"), parent);
  auto* grid = new QGridLayout(group);
  grid->setContentsMargins(10, 20, 10, 10);
  const QString defaults[7] = {QStringLiteral("localhost"),
                               QStringLiteral("3306"),
                               target ? QStringLiteral("account1") : QStringLiteral("account"),
                               target ? QStringLiteral("zqv1") : QStringLiteral("zqv"),
                               target ? QStringLiteral("zqv_log1") : QStringLiteral("zqv_log"),
                               QStringLiteral("root"),
                               QStringLiteral("906142")};
  static const char* const kCaptions[7] = {"服务器：", "端口：",   "帐号库：", "角色库：",
                                           "日志库：", "用户名：", "密码："};
  for (int i = 0; i < 7; ++i) {
    side.Edits[i] = new QLineEdit(defaults[i], group);
    grid->addWidget(new QLabel(QString::fromUtf8(kCaptions[i]), group), i, 0);
    grid->addWidget(side.Edits[i], i, 1);
  }
  side.Edits[6]->setEchoMode(QLineEdit::Password);
  side.Fill = Check(QStringLiteral("使用当前连接字串"), false, group);
  side.NoLogs = Check(QStringLiteral("不合并日志"), true, group);
  // The log database takes no part while its logs are not merged.
  side.Edits[4]->setEnabled(false);
  side.Button = FlatButton(target ? QStringLiteral("测试并连接") : QStringLiteral("开始连接"), group);
  side.State =
      new QLabel(target ? QStringLiteral("* 没有连接转入分区") : QStringLiteral("* 没有连接转出分区"), group);
  side.State->setStyleSheet(QStringLiteral("color: rgb(0,0,160);"));
  grid->addWidget(side.Fill, 7, 0, 1, 2);
  grid->addWidget(side.NoLogs, 8, 0, 1, 2);
  grid->addWidget(side.Button, 9, 1, Qt::AlignLeft);
  grid->addWidget(side.State, 10, 0, 1, 2);
  QLineEdit** names[2][7] = {{&edt_srv1, &edt_port1, &edt_acc1, &edt_char1, &edt_log1, &edt_uid1, &edt_pwd1},
                             {&edt_srv2, &edt_port2, &edt_acc2, &edt_char2, &edt_log2, &edt_uid2, &edt_pwd2}};
  for (int i = 0; i < 7; ++i) *names[s][i] = side.Edits[i];
  (target ? chk2 : chk1) = side.Fill;
  (target ? chk4 : chk3) = side.NoLogs;
  (target ? btn2 : btn1) = side.Button;
  (target ? lbl2 : lbl1) = side.State;
  return group;
}

QWidget* Tzqv2to1::BuildDataPage() {
  auto* page = new QWidget(this);
  auto* row = new QHBoxLayout(page);
  grp1 = BuildSideGroup(0, page);
  grp2 = BuildSideGroup(1, page);
  row->addWidget(grp1);
  row->addWidget(grp2);
  return page;
}

QWidget* Tzqv2to1::BuildRulesPage() {
  auto* page = new QWidget(this);
  auto* grid = new QGridLayout(page);
  chk5 = Check(QStringLiteral("合并角色(必需)"), true, page);
  chk5->setEnabled(false);
  chk6 = Check(QStringLiteral("合并帐号"), true, page);
  chk7 = Check(QStringLiteral("合并仓库"), false, page);
  chk8 = Check(QStringLiteral("合并好友"), false, page);
  chk9 = Check(QStringLiteral("合并工会"), false, page);
  chk12 = Check(QStringLiteral("合并师徒信息"), false, page);
  for (QCheckBox* c : {chk8, chk9, chk12}) c->setEnabled(false);
  chk10 = Check(QStringLiteral("丢弃已删角色"), true, page);
  int r = 0;
  for (QCheckBox* c : {chk5, chk6, chk7, chk8, chk9, chk12, chk10}) grid->addWidget(c, r++, 0);

  auto* accounts = Group(QStringLiteral("帐号重名规则"), page);
  auto* ag = new QGridLayout(accounts);
  ag->setContentsMargins(10, 20, 10, 10);
  edt1 = new QLineEdit(QStringLiteral("us2"), accounts);
  std::tie(rb1, rb2) = RadioPair(QStringLiteral("之前"), QStringLiteral("之后"), true, accounts);
  std::tie(rb3, rb4) =
      RadioPair(QStringLiteral("再添加一次上述标识"), QStringLiteral("不再添加，生成记录"), false, accounts);
  grp6 = Group(QStringLiteral("角色数量过多"), accounts);
  auto* g6 = new QVBoxLayout(grp6);
  g6->setContentsMargins(10, 20, 10, 10);
  std::tie(rb9, rb10) = RadioPair(QStringLiteral("重复删除等级最小角色"),
                                  QStringLiteral("以帐号重名规则新建帐号"), false, grp6);
  g6->addWidget(rb9);
  g6->addWidget(rb10);
  for (QWidget* w : {static_cast<QWidget*>(rb3), static_cast<QWidget*>(rb4), static_cast<QWidget*>(rb9),
                     static_cast<QWidget*>(rb10)})
    w->setEnabled(false);
  ag->addWidget(new QLabel(QStringLiteral("标识："), accounts), 0, 0);
  ag->addWidget(edt1, 0, 1);
  ag->addWidget(rb1, 0, 2);
  ag->addWidget(rb2, 0, 3);
  ag->addWidget(rb3, 1, 0, 1, 2);
  ag->addWidget(rb4, 1, 2, 1, 2);
  ag->addWidget(grp6, 2, 0, 1, 4);

  auto* chars = Group(QStringLiteral("角色重名规则"), page);
  auto* cg = new QGridLayout(chars);
  cg->setContentsMargins(10, 20, 10, 10);
  edt2 = new QLineEdit(QStringLiteral("CH2"), chars);
  std::tie(rb5, rb6) = RadioPair(QStringLiteral("之前"), QStringLiteral("之后"), true, chars);
  std::tie(rb7, rb8) =
      RadioPair(QStringLiteral("再添加一次上述标识"), QStringLiteral("不再添加，生成记录"), false, chars);
  rb7->setEnabled(false);
  rb8->setEnabled(false);
  grp7 = Group(QStringLiteral("重名补偿"), chars);
  auto* g7 = new QHBoxLayout(grp7);
  g7->setContentsMargins(10, 20, 10, 10);
  chk11 = Check(QStringLiteral("是否开启重名补偿"), true, grp7);
  edt4 = new QLineEdit(QStringLiteral("5000000"), grp7);
  g7->addWidget(chk11);
  g7->addWidget(edt4);
  cg->addWidget(new QLabel(QStringLiteral("标识："), chars), 0, 0);
  cg->addWidget(edt2, 0, 1);
  cg->addWidget(rb5, 0, 2);
  cg->addWidget(rb6, 0, 3);
  cg->addWidget(rb7, 1, 0, 1, 2);
  cg->addWidget(rb8, 1, 2, 1, 2);
  cg->addWidget(grp7, 2, 0, 1, 4);

  lbl11 = Hint(QStringLiteral("* 不合并帐号时，转出与转入分区的帐号库必须包含相同的帐号，否则合区无法完成！"),
               page);
  lbl12 = Hint(QStringLiteral("* 仓库只有在合并帐号时才能合并！"), page);
  grid->addWidget(accounts, 0, 1, 4, 1);
  grid->addWidget(chars, 4, 1, 4, 1);
  grid->addWidget(lbl11, 8, 0, 1, 2);
  grid->addWidget(lbl12, 9, 0, 1, 2);
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(10, 1);
  return page;
}

QWidget* Tzqv2to1::BuildWorkPage() {
  auto* page = new QWidget(this);
  auto* grid = new QGridLayout(page);
  mmo1 = new QPlainTextEdit(page);
  mmo1->setReadOnly(true);
  mmo1->setStyleSheet(QStringLiteral("QPlainTextEdit { background: black; color: rgb(0,255,0); }"));
  mmo2 = new QPlainTextEdit(page);
  mmo2->setReadOnly(true);
  mmo2->hide();
  btn3 = FlatButton(QStringLiteral("开始工作"), page);
  lbl20 = new QLabel(QStringLiteral("空闲."), page);
  lbl21 = new QLabel(page);
  pb1 = new QProgressBar(page);
  pb1->setRange(0, 100);
  pb1->setValue(100);
  pb1->setTextVisible(false);
  lbl5 = new QLabel(QStringLiteral("100 %"), page);
  btn4 = FlatButton(QStringLiteral("保存记录"), page);
  chk13 = Check(QStringLiteral("自动保存重复或跳过信息"), true, page);
  lbl22 = new QLabel(QStringLiteral("(文件保存为当前目录zqv2to1_log.txt)"), page);
  grid->addWidget(mmo1, 0, 0, 1, 4);
  grid->addWidget(btn3, 1, 0);
  grid->addWidget(lbl20, 1, 1, 1, 3);
  grid->addWidget(lbl21, 2, 0, 1, 4);
  grid->addWidget(pb1, 3, 0, 1, 3);
  grid->addWidget(lbl5, 3, 3);
  grid->addWidget(btn4, 4, 0);
  grid->addWidget(chk13, 4, 1);
  grid->addWidget(lbl22, 4, 2, 1, 2);
  grid->setColumnStretch(2, 1);
  grid->setRowStretch(0, 1);
  return page;
}

void Tzqv2to1::WireControls() {
  for (int s = 0; s < 2; ++s) {
    TSide& side = FSides[static_cast<size_t>(s)];
    ConnectGuarded(side.Button, &TFlatButton::clicked, this, [this, s] { ConnectSide(s); });
    ConnectGuarded(side.Fill, &QCheckBox::clicked, this, [this, s](bool) { FillSide(s); });
    ConnectGuarded(side.NoLogs, &QCheckBox::clicked, this, [this, s](bool on) { NoLogsClicked(s, on); });
  }
  for (QCheckBox* box : {chk6, chk7, chk8, chk9, chk10, chk12})
    ConnectGuarded(box, &QCheckBox::clicked, this, [this, box](bool on) { OptionClicked(box, on); });
  ConnectGuarded(btn3, &TFlatButton::clicked, this, [this] { StartWork(); });
  ConnectGuarded(btn4, &TFlatButton::clicked, this, [this] { SaveLog(); });
  for (QLineEdit* e : {edt1, edt2, edt4}) e->installEventFilter(this);
}

bool Tzqv2to1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
  auto* key = static_cast<QKeyEvent*>(event);
  // Keys that type nothing (caret moves, Tab, Enter) pass; every typed character is checked.
  switch (key->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
      return QWidget::eventFilter(watched, event);
    default:
      break;
  }
  if (key->text().isEmpty()) return QWidget::eventFilter(watched, event);
  auto* edit = static_cast<QLineEdit*>(watched);
  const TMergeKeyRule rule = watched == edt1   ? TMergeKeyRule::AccountTag
                             : watched == edt2 ? TMergeKeyRule::CharTag
                                               : TMergeKeyRule::Compensation;
  const int caret = edit->hasSelectedText() ? edit->selectionStart() : edit->cursorPosition();
  const QChar typed = key->key() == Qt::Key_Backspace ? QChar(8) : key->text().front();
  // Delete (0x7F) and Ctrl with a letter (Ctrl+A, Ctrl+C) edit or copy what is there and type
  // nothing; pasted text is not held to the key rules either way.
  if (typed != QChar(8) && (typed < QChar(' ') || typed == QChar(0x7F)))
    return QWidget::eventFilter(watched, event);
  const QString problem = MergeKeyProblem(rule, typed, caret);
  if (problem.isEmpty()) return QWidget::eventFilter(watched, event);
  Guarded([&] { ShowMessageBox(problem, CaptionHint, TMsgIcon::Information); });
  return true;
}

void Tzqv2to1::WriteOperation(const QString& text) {
  mmo1->appendPlainText(QStringLiteral("操作:") + text + QStringLiteral("  时间：") +
                        QString::fromStdString(FormatDateTime("yyyy-mm-dd hh:nn:ss", Ui().Now())));
}

void Tzqv2to1::WriteEvent(const QString& text) {
  AddEventLine(QStringLiteral("事件:") + text);
}

void Tzqv2to1::AddEventLine(const QString& line) {
  FEvents << line;
  mmo2->appendPlainText(line);
  if (!chk13->isChecked()) return;
  try {
    FEventFile.Save(FEvents);
  } catch (const EFOpenError& e) {
    // A run must not stop halfway through an account for its record: saving ends, the memo keeps
    // the lines, and the GM is told once.
    chk13->setChecked(false);
    WriteOperation(QStringLiteral("事件记录无法保存，自动保存已关闭：") + ExceptionText(e));
    ShowMessageBox(ExceptionText(e), CaptionError, TMsgIcon::Error);
  }
}

void Tzqv2to1::BeginEventLog(const QString& header) {
  if (!chk13->isChecked() || !QFile::exists(FEventFile.FileName())) return;
  lbl20->setText(QStringLiteral("初始化..."));
  FEvents.clear();
  mmo2->clear();
  AddEventLine(header);
}

void Tzqv2to1::SetProgress(const QString& text) {
  pb1->setValue(text.toInt());
  lbl5->setText(text + QStringLiteral(" %"));
}

void Tzqv2to1::Step(const QString& text) {
  lbl20->setText(text);
}

void Tzqv2to1::Description(const QString& text) {
  lbl21->setText(text);
}

bool Tzqv2to1::Ask(const QString& text, const QString& title, bool warningIcon, bool defaultYes) {
  const TMsgIcon icon = warningIcon ? TMsgIcon::Warning : TMsgIcon::Question;
  return Ui().MessageBox({text, title, icon, TMsgButtons::YesNo,
                          defaultYes ? TMsgResult::Yes : TMsgResult::No}) == TMsgResult::Yes;
}

void Tzqv2to1::Inform(const QString& text, const QString& title, bool errorIcon) {
  ShowMessageBox(text, title, errorIcon ? TMsgIcon::Error : TMsgIcon::Information);
}

bool Tzqv2to1::ProcessMessagesAndCheckStop() {
  Ui().ProcessMessages();
  return FStop;
}

QString Tzqv2to1::StatusPanel(int panel) const {
  return FPanels[panel == 0 ? 0 : 1]->text();
}

void Tzqv2to1::SetStatusPanel(int panel, const QString& text) {
  FPanels[panel == 0 ? 0 : 1]->setText(text);
}

void Tzqv2to1::FillSide(int s) {
  TSide& side = FSides.at(static_cast<size_t>(s));
  if (!side.Fill->isChecked() || !FLoginState) return;
  const TMergeSideEdits v = SideFromLogin(FLoginState(), s == 1);
  const QString values[7] = {v.Server, v.Port, v.AccDB, v.CharDB, v.LogDB, v.Uid, v.Pwd};
  for (int i = 0; i < 7; ++i) side.Edits[i]->setText(values[i]);
  WriteOperation(side.Word + QStringLiteral("分区使用当前连接字串填充。"));
}

void Tzqv2to1::ConnectSide(int s) {
  if (FBusy) return;
  const auto index = static_cast<size_t>(s);
  TSide& side = FSides.at(index);
  if (FConnected[index]) return DisconnectSide(s);
  // A port that is no number ends the press before anything changed.
  const int port = MergePort(side.Edits[1]->text());
  TZoneMergeSide& set = FSettings[index];
  set = {side.Edits[0]->text(), side.Edits[1]->text(), side.Edits[2]->text(), side.Edits[3]->text(),
         side.Edits[4]->text(), side.Edits[5]->text(), side.Edits[6]->text()};
  const QString databases[3] = {set.AccDB, set.CharDB, set.LogDB};
  const int count = side.NoLogs->isChecked() ? 2 : 3;
  for (int n = 0; n < 3; ++n) {
    TMyConnection& con = *FCons[index * 3 + static_cast<size_t>(n)];
    // A press after a failure starts over with the settings as they are typed now.
    con.Close();
    if (n >= count) continue;
    con.SetServer(ToAnsi(set.Server));
    con.SetPort(port);
    con.SetUsername(ToAnsi(set.Uid));
    con.SetPassword(ToAnsi(set.Pwd));
    con.SetDatabase(ToAnsi(databases[n]));
  }
  {
    // The message loop runs between the attempts: no second press, no closing meanwhile.
    TBusyScope busy(*this, false);
    for (int n = 0; n < count; ++n)
      if (!OpenSideConnection(s, n)) return;
  }
  FConnected[index] = true;
  side.State->setText(side.Word + QStringLiteral("分区连接正常..."));
  WriteOperation(side.Word + QStringLiteral("分区连接正常，连接服务器") + set.Server +
                 QStringLiteral(",数据库:") + set.AccDB + "," + set.CharDB + "...");
  for (QLineEdit* e : side.Edits) e->setEnabled(false);
  side.Button->SetCaption(QStringLiteral("断开连接"));
  SetStatusPanel(s, side.Word + QStringLiteral("SRV") + set.Server + QStringLiteral(",DB:") + set.AccDB +
                        "," + set.CharDB + "...");
}

bool Tzqv2to1::OpenSideConnection(int s, int n) {
  static const char* const kKinds[3][4] = {
      {"正在尝试连接帐号库,请稍候...1", "帐号数据库连接成功...", "帐号数据库连接失败，请检查配置!",
       "帐号连接数据库失败，请检查配置!"},
      {"正在尝试连接角色数据库,请稍候...1", "角色数据库连接成功...", "角色数据库连接失败，请检查配置!",
       "角色连接数据库失败，请检查配置!"},
      {"正在尝试连接日志数据库,请稍候...1", "日志数据库连接成功...", "日志数据库连接失败，请检查配置!",
       "日志连接数据库失败，请检查配置!"}};
  QLabel* state = FSides.at(static_cast<size_t>(s)).State;
  state->setText(QString::fromUtf8(kKinds[n][0]));
  Ui().ProcessMessages();
  try {
    FCons.at(static_cast<size_t>(s * 3 + n))->Open();
  } catch (const EAbort&) {
    throw;
  } catch (...) {
    state->setText(QString::fromUtf8(kKinds[n][2]));
    ShowMessageBox(QString::fromUtf8(kKinds[n][3]), CaptionError, TMsgIcon::Error);
    return false;
  }
  state->setText(QString::fromUtf8(kKinds[n][1]));
  return true;
}

void Tzqv2to1::DisconnectSide(int s) {
  const auto index = static_cast<size_t>(s);
  TSide& side = FSides.at(index);
  for (size_t n = 0; n < 3; ++n) FCons[index * 3 + n]->Close();
  FConnected[index] = false;
  for (int i = 0; i < 7; ++i) side.Edits[i]->setEnabled(i != 4 || !side.NoLogs->isChecked());
  side.Button->SetCaption(s == 1 ? QStringLiteral("测试并连接") : QStringLiteral("开始连接"));
  side.State->setText(QStringLiteral("连接被断开..."));
  WriteOperation(side.Word + QStringLiteral("分区连接被断开."));
  SetStatusPanel(s, QStringLiteral("没有") + side.Word + QStringLiteral("分区连接.."));
}

void Tzqv2to1::NoLogsClicked(int s, bool on) {
  // Both sides merge their logs or neither does.
  QCheckBox* other = FSides.at(static_cast<size_t>(1 - s)).NoLogs;
  other->setChecked(on);
  for (int i = 0; i < 2; ++i) {
    // A connected side keeps its edits disabled; the log database follows once it disconnects.
    if (!FConnected[static_cast<size_t>(i)]) FSides[static_cast<size_t>(i)].Edits[4]->setEnabled(!on);
  }
}

void Tzqv2to1::OptionClicked(QCheckBox* box, bool on) {
  const QString yesNo = on ? QStringLiteral("是.") : QStringLiteral("否.");
  if (box == chk6) {
    if (!on) chk7->setChecked(false);
    chk7->setEnabled(on);
    WriteOperation(QStringLiteral("帐号是否合并：") + yesNo);
  } else if (box == chk7) {
    WriteOperation(QStringLiteral("仓库是否合并：") + yesNo);
  } else if (box == chk8) {
    WriteOperation(QStringLiteral("好友是否合并：") + yesNo);
  } else if (box == chk9 || box == chk12) {
    WriteOperation(QStringLiteral("工会是否合并：") + yesNo);
  } else if (box == chk10) {
    WriteOperation(QStringLiteral("已删除角色是否丢弃：") + yesNo);
  }
}

TZoneMergeOptions Tzqv2to1::Options() const {
  TZoneMergeOptions o;
  o.MergeAccounts = chk6->isChecked();
  o.MergeBank = chk6->isChecked() && chk7->isChecked();
  o.DropDeleted = chk10->isChecked();
  o.AccountTag = edt1->text();
  o.AccountTagBefore = rb1->isChecked();
  o.CharTag = edt2->text();
  o.CharTagBefore = rb5->isChecked();
  o.Compensate = chk11->isChecked();
  o.Compensation = edt4->text();
  return o;
}

void Tzqv2to1::SetBusy(bool on) {
  FBusy = on;
  // The run reads the connections and the options it was started with: neither may change.
  for (QWidget* w :
       {static_cast<QWidget*>(btn3), static_cast<QWidget*>(btn4), pgc1->widget(0), pgc1->widget(1)})
    w->setEnabled(!on);
}

void Tzqv2to1::StartWork() {
  if (FBusy) return;
  FStop = false;
  TBusyScope busy(*this, true);
  TZoneMerge run(*FCons[0], *FCons[1], *FCons[3], *FCons[4], FSettings[0], FSettings[1], Options(), *this);
  FCounts = run.Run();
}

void Tzqv2to1::closeEvent(QCloseEvent* event) {
  if (!FBusy) return QWidget::closeEvent(event);
  // The run or connection attempt below on the stack still uses this window and its connections.
  // An attempt ends within its time-out; the run can only be asked to end after the account it
  // is on.
  event->ignore();
  if (!FRunning) return;
  if (FStop) {
    ShowMessageBox(QStringLiteral("合区正在中止，请等待当前帐号处理完毕后再关闭。"), CaptionHint,
                   TMsgIcon::Information);
    return;
  }
  if (AskYesNo(QStringLiteral("合区正在进行，不能关闭窗口！是否在当前帐号处理完毕后中止合区？"), CaptionHint,
               true))
    FStop = true;
}

void Tzqv2to1::SaveLog() {
  const QString name = ProposedMergeLogName(Ui().Now());
  const std::optional<QString> path =
      Ui().SaveFileName({QString(), QString(), name, QtFilterFromPairs(kLogFilter)});
  if (!path) return;
  QSaveFile file(*path);
  // The log in the desktop's own code page, lines ended as the desktop ends them.
  const std::string bytes =
      EncodeFieldText(mmo1->toPlainText().replace("\n", "\r\n") + "\r\n", TFieldCharset::Gbk);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes.data(), static_cast<qint64>(bytes.size())) < 0 ||
      !file.commit())
    throw EFOpenError(MessageBytes("Cannot create file \"" + *path + "\". " + file.errorString()));
}
