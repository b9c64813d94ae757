#include "console/backup/Unit_bakdata.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "console/common/DbIniSettings.h"
#include "console/common/TypedText.h"
#include "console/controls/FlatBtns.h"
#include "platform/runtime/DateTimeUtils.h"
#include "platform/runtime/Exceptions.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/UiService.h"

namespace {

const QString kDumpFilter = QStringLiteral("SQL文件|*.SQL|BAK文件|*.BAK|TXT文件|*.TXT|所有文件|*.*");
const QString kLogFilter = QStringLiteral("TXT文件|*.TXT|LOG文件|*.LOG|所有文件|所有文件");

QString Stamp(const char* format) {
  return QString::fromStdString(FormatDateTime(format, Ui().Now()));
}

TFlatButton* FlatButton(const QString& caption, QWidget* parent) {
  auto* b = new TFlatButton(parent);
  b->SetCaption(caption);
  b->setFixedSize(110, 25);
  return b;
}

}  // namespace

// Marks the window busy for one operation: controls disabled, closing refused; undone on every
// path.
class Tbakdata::TBusyScope {
 public:
  TBusyScope(Tbakdata& owner, int tab) : FOwner(owner) {
    FOwner.FRunningTab = tab;
    FOwner.SetBusy(true);
  }
  ~TBusyScope() {
    FOwner.SetBusy(false);
    FOwner.FRunningTab = -1;
  }
  TBusyScope(const TBusyScope&) = delete;
  TBusyScope& operator=(const TBusyScope&) = delete;

 private:
  Tbakdata& FOwner;
};

Tbakdata::Tbakdata(const TLoginInput& login, QWidget* parent)
    : QWidget(parent), FWork(std::make_unique<TBakData>(static_cast<TBakDataSink&>(*this))) {
  setObjectName(QStringLiteral("bakdata"));
  setWindowTitle(QStringLiteral("备份/还原/压缩"));
  setAttribute(Qt::WA_DeleteOnClose);
  BuildControls();
  e1->setText(login.Server);
  e_uid->setText(login.Uid);
  e_pwd->setText(login.Pwd);
  portedt->setText(login.Port);
  cbb5->setCurrentIndex(login.CharsetIndex >= 0 && login.CharsetIndex < kCharsetCount ? login.CharsetIndex
                                                                                      : 0);
}

Tbakdata::~Tbakdata() = default;

void Tbakdata::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  lbl1 = new QLabel(QStringLiteral("* 操作之前请仔细阅读说明，小心操作！"), this);
  lbl1->setStyleSheet(QStringLiteral("color: rgb(204,0,0);"));
  layout->addWidget(lbl1);
  pgc1 = new QTabWidget(this);
  layout->addWidget(pgc1, 1);

  auto page = [this](const QString& caption) {
    auto* w = new QWidget(pgc1);
    pgc1->addTab(w, caption);
    auto* grid = new QGridLayout(w);
    grid->setColumnStretch(1, 1);
    return std::make_pair(w, grid);
  };
  auto hintLabel = [](QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setStyleSheet(QStringLiteral("color: rgb(0,0,160);"));
    return l;
  };

  {  // 登录
    auto [w, g] = page(QStringLiteral("登录[&L]"));
    e1 = new QLineEdit(w);
    portedt = new QLineEdit(QStringLiteral("3306"), w);
    e_uid = new QLineEdit(w);
    e_pwd = new QLineEdit(w);
    e_pwd->setEchoMode(QLineEdit::Password);
    cbb5 = new QComboBox(w);
    for (int i = 0; i < kCharsetCount; ++i) cbb5->addItem(QString::fromUtf8(CharsetItemText(i)));
    btn1 = FlatButton(QStringLiteral("登  录[&1]"), w);
    lbl6 = hintLabel(w);
    int row = 0;
    for (auto [caption, edit] : {std::pair<const char*, QWidget*>{"服务器：", e1},
                                 {"端口：", portedt},
                                 {"用户名：", e_uid},
                                 {"密码：", e_pwd},
                                 {"字符集：", cbb5}}) {
      g->addWidget(new QLabel(QString::fromUtf8(caption), w), row, 0);
      g->addWidget(edit, row++, 1);
    }
    g->addWidget(btn1, row++, 1, Qt::AlignLeft);
    g->addWidget(lbl6, row++, 0, 1, 2);
    g->setRowStretch(row, 1);
  }
  {  // 备份
    auto [w, g] = page(QStringLiteral("备份[&B]"));
    cbb1 = new QComboBox(w);
    e2 = new QLineEdit(w);
    e2->setReadOnly(true);
    btn5 = new QPushButton(QStringLiteral("..."), w);
    cbTbBackup = new QCheckBox(QStringLiteral("备份表结构"), w);
    cbTbBackup->setChecked(true);
    cbDataBackUp = new QCheckBox(QStringLiteral("备份数据"), w);
    cbDataBackUp->setChecked(true);
    btn2 = FlatButton(QStringLiteral("开始备份[&2]"), w);
    Label1 = new QLabel(w);
    ProgressBar = new QProgressBar(w);
    lbl7 = hintLabel(w);
    g->addWidget(new QLabel(QStringLiteral("数据库："), w), 0, 0);
    g->addWidget(cbb1, 0, 1, 1, 2);
    g->addWidget(new QLabel(QStringLiteral("备份文件："), w), 1, 0);
    g->addWidget(e2, 1, 1);
    g->addWidget(btn5, 1, 2);
    g->addWidget(cbTbBackup, 2, 1);
    g->addWidget(cbDataBackUp, 3, 1);
    g->addWidget(btn2, 4, 1, Qt::AlignLeft);
    g->addWidget(Label1, 5, 0, 1, 3);
    g->addWidget(ProgressBar, 6, 0, 1, 3);
    g->addWidget(lbl7, 7, 0, 1, 3);
    g->setRowStretch(8, 1);
  }
  {  // 还原
    auto [w, g] = page(QStringLiteral("还原[&R]"));
    cbb3 = new QComboBox(w);
    e4 = new QLineEdit(w);
    e4->setReadOnly(true);
    btn7 = new QPushButton(QStringLiteral("..."), w);
    btn4 = FlatButton(QStringLiteral("开始还原[&3]"), w);
    Label2 = new QLabel(w);
    ProgressBar1 = new QProgressBar(w);
    lbl14 = hintLabel(w);
    g->addWidget(new QLabel(QStringLiteral("数据库："), w), 0, 0);
    g->addWidget(cbb3, 0, 1, 1, 2);
    g->addWidget(new QLabel(QStringLiteral("备份文件："), w), 1, 0);
    g->addWidget(e4, 1, 1);
    g->addWidget(btn7, 1, 2);
    g->addWidget(btn4, 2, 1, Qt::AlignLeft);
    g->addWidget(Label2, 3, 0, 1, 3);
    g->addWidget(ProgressBar1, 4, 0, 1, 3);
    g->addWidget(lbl14, 5, 0, 1, 3);
    g->setRowStretch(6, 1);
  }
  {  // 修复/优化
    auto [w, g] = page(QStringLiteral("修复/优化[&Z]"));
    cbb2 = new QComboBox(w);
    rb1 = new QRadioButton(QStringLiteral("修复索引"), w);
    rb2 = new QRadioButton(QStringLiteral("修复表"), w);
    rb3 = new QRadioButton(QStringLiteral("优化表"), w);
    rb3->setChecked(true);
    btn3 = FlatButton(QStringLiteral("开始执行[&4]"), w);
    Label5 = new QLabel(w);
    pb1 = new QProgressBar(w);
    lbl11 = hintLabel(w);
    g->addWidget(new QLabel(QStringLiteral("数据库："), w), 0, 0);
    g->addWidget(cbb2, 0, 1);
    g->addWidget(rb1, 1, 1);
    g->addWidget(rb2, 2, 1);
    g->addWidget(rb3, 3, 1);
    g->addWidget(btn3, 4, 1, Qt::AlignLeft);
    g->addWidget(Label5, 5, 0, 1, 2);
    g->addWidget(pb1, 6, 0, 1, 2);
    g->addWidget(lbl11, 7, 0, 1, 2);
    g->setRowStretch(8, 1);
  }
  {  // 创建/删除
    auto [w, g] = page(QStringLiteral("创建/删除[&D]"));
    cbb4 = new QComboBox(w);
    btn9 = FlatButton(QStringLiteral("确定删除[&5]"), w);
    edt1 = new QLineEdit(w);
    btn6 = FlatButton(QStringLiteral("确定创建[&6]"), w);
    lbl18 = hintLabel(w);
    g->addWidget(new QLabel(QStringLiteral("删除数据库："), w), 0, 0);
    g->addWidget(cbb4, 0, 1);
    g->addWidget(btn9, 0, 2);
    g->addWidget(new QLabel(QStringLiteral("新数据库名："), w), 1, 0);
    g->addWidget(edt1, 1, 1);
    g->addWidget(btn6, 1, 2);
    g->addWidget(lbl18, 2, 0, 1, 3);
    g->setRowStretch(3, 1);
  }
  {  // 日志
    auto [w, g] = page(QStringLiteral("日志[&O]"));
    tb_memo = new QPlainTextEdit(w);
    tb_memo->setReadOnly(true);
    Button1 = FlatButton(QStringLiteral("保存日志"), w);
    g->addWidget(tb_memo, 0, 0, 1, 2);
    g->addWidget(Button1, 1, 1, Qt::AlignRight);
  }

  ConnectGuarded(btn1, &TFlatButton::clicked, this, [this] { LoginOrLogout(); });
  ConnectGuarded(btn5, &QPushButton::clicked, this, [this](bool) { ChooseBackupFile(); });
  ConnectGuarded(btn7, &QPushButton::clicked, this, [this](bool) { ChooseRestoreFile(); });
  ConnectGuarded(btn2, &TFlatButton::clicked, this, [this] { RunBackup(); });
  ConnectGuarded(btn4, &TFlatButton::clicked, this, [this] { RunRestore(); });
  ConnectGuarded(btn3, &TFlatButton::clicked, this, [this] { RunMaintenance(); });
  ConnectGuarded(btn9, &TFlatButton::clicked, this, [this] { DropDatabase(); });
  ConnectGuarded(btn6, &TFlatButton::clicked, this, [this] { CreateDatabase(); });
  ConnectGuarded(Button1, &TFlatButton::clicked, this, [this] { SaveLog(); });
  ConnectGuarded(pgc1, &QTabWidget::currentChanged, this, [this](int index) { TabChanged(index); });
  const std::pair<QComboBox*, QLabel*> choosers[] = {
      {cbb1, lbl7}, {cbb3, lbl14}, {cbb2, lbl11}, {cbb4, lbl18}};
  const QString chooseHints[] = {
      QStringLiteral("* 选择您要进行备份的数据库！"), QStringLiteral("* 选择您要进行还原的数据库！"),
      QStringLiteral("* 选择您要压缩的数据库..."), QStringLiteral("* 选择您要删除的数据库...")};
  for (int i = 0; i < 4; ++i) {
    QLabel* label = choosers[i].second;
    const QString text = chooseHints[i];
    connect(choosers[i].first, &QComboBox::activated, label, [label, text](int) { label->setText(text); });
  }
  for (QWidget* w : {static_cast<QWidget*>(e2), static_cast<QWidget*>(e4), static_cast<QWidget*>(edt1),
                     static_cast<QWidget*>(tb_memo)})
    w->installEventFilter(this);
}

bool Tbakdata::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress) {
    if (watched == e2) lbl7->setText(QStringLiteral("* 设定您的备份文件保存位置！"));
    if (watched == e4) lbl14->setText(QStringLiteral("* 设置您要还原的备份文件的位置！"));
    if (watched == edt1) lbl18->setText(QStringLiteral("创建数据库的名字不能含有非法字符，否则会失败！"));
  }
  if (watched == tb_memo && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_F10) {
    if (!FBusy) Guarded([this] { SaveLogAgain(); });
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void Tbakdata::closeEvent(QCloseEvent* event) {
  // An operation below on the stack still uses this window and its connection.
  if (FBusy) return event->ignore();
  QWidget::closeEvent(event);
}

void Tbakdata::SetBusy(bool on) {
  FBusy = on;
  for (QWidget* w : std::initializer_list<QWidget*>{btn1, btn2,    btn3, btn4,       btn5,         btn6, btn7,
                                                    btn9, Button1, cbb1, cbb2,       cbb3,         cbb4, cbb5,
                                                    rb1,  rb2,     rb3,  cbTbBackup, cbDataBackUp, edt1})
    w->setEnabled(!on);
  pgc1->tabBar()->setEnabled(!on);
  // Login fields stay as the login state left them.
  if (!on && FWork->Connected()) cbb5->setEnabled(false);
  // A session ended under the operation (取消 in the wait box, a server gone) is shown as ended.
  if (!on && FShownConnected && !FWork->Connected()) ShowLoggedOut();
}

void Tbakdata::ShowLoggedOut() {
  FShownConnected = false;
  btn1->SetCaption(QStringLiteral("登  录[&1]"));
  for (QWidget* w : std::initializer_list<QWidget*>{e1, portedt, e_uid, e_pwd, cbb5}) w->setEnabled(true);
  lbl6->setText(QStringLiteral("数据库服务器被断开..."));
  emit StatusText(QStringLiteral("没有连接到数据库服务器..."));
}

void Tbakdata::Hint(const QString& text) {
  QLabel* hints[] = {lbl6, lbl7, lbl14, lbl11, lbl18, nullptr};
  if (FRunningTab >= 0 && FRunningTab < 5 && hints[FRunningTab]) hints[FRunningTab]->setText(text);
}

void Tbakdata::Step(const QString& text) {
  if (FRunningTab == 1) Label1->setText(text);
  if (FRunningTab == 2) Label2->setText(text);
  if (FRunningTab == 3) Label5->setText(text);
}

void Tbakdata::Progress(int percent) {
  if (FRunningTab == 1) ProgressBar->setValue(percent);
  if (FRunningTab == 2) ProgressBar1->setValue(percent);
  if (FRunningTab == 3) pb1->setValue(percent);
}

void Tbakdata::ProcessMessages() {
  Ui().ProcessMessages();
}

void Tbakdata::WriteBakLog(const QString& text) {
  tb_memo->appendPlainText(Stamp("yyyy-mm-dd hh:nn:ss") + "\n" + QString(text).replace("\r\n", "\n") + "\n" +
                           QString(38, QLatin1Char('-')));
}

QString Tbakdata::Server() const {
  return e1->text();
}

std::string Tbakdata::Chosen(const QComboBox* box) const {
  return box->currentIndex() < 0 ? std::string() : box->currentData().toByteArray().toStdString();
}

void Tbakdata::RefreshDatabaseLists() {
  if (!FWork->Connected()) return;
  const std::vector<std::string> names = FWork->DatabaseNames();
  for (QComboBox* box : {cbb1, cbb2, cbb3, cbb4}) {
    box->clear();
    // The item keeps the server's bytes: a name the display cannot show exactly still reaches
    // the server as it is.
    for (const std::string& name : names)
      box->addItem(DecodeFieldText(name, FWork->FieldCharset()), QByteArray::fromStdString(name));
  }
}

void Tbakdata::LoginOrLogout() {
  if (FBusy) return;
  const std::initializer_list<QWidget*> fields{e1, portedt, e_uid, e_pwd, cbb5};
  if (FWork->Connected()) {
    FWork->Logout();
    ShowLoggedOut();
    e1->setFocus();
    WriteBakLog(QStringLiteral("成功退出数据库服务器:[") + Server() + "]");
    return;
  }
  TLoginInput input{e1->text(),    portedt->text(),      e_uid->text(),
                    e_pwd->text(), cbb5->currentIndex(), cbb5->currentText()};
  if (const QString problem = TBakData::CheckLogin(input); !problem.isEmpty()) return ShowMessage(problem);
  TBusyScope busy(*this, 0);
  lbl6->setText(QStringLiteral("正在尝试连接服务器") + Server() + QStringLiteral(",请稍候..."));
  Ui().ProcessMessages();
  try {
    FWork->Login(input);
  } catch (const EConvertError&) {
    throw;
  } catch (const EAbort&) {
    throw;
  } catch (...) {
    lbl6->setText(QStringLiteral("数据库服务器连接失败，请检查配置!"));
    ShowMessageBox(QStringLiteral("连接数据库服务器失败，请检查配置!"), CaptionError, TMsgIcon::Error);
    return;
  }
  lbl6->setText(QStringLiteral("数据库服务器连接成功..."));
  RefreshDatabaseLists();
  btn1->SetCaption(QStringLiteral("断  开[&1]"));
  FShownConnected = true;
  lbl6->setText(QStringLiteral("登录成功..."));
  for (QWidget* w : fields) w->setEnabled(false);
  WriteBakLog(QStringLiteral("成功登录数据库服务器:[") + Server() + "]");
  emit StatusText(QStringLiteral("已连接：") + Server() + QStringLiteral(",可以进行操作"));
}

void Tbakdata::TabChanged(int index) {
  if (!FWork->Connected() && index != 0) {
    ShowMessage(QStringLiteral("错误:服务器没有连接...\r\n\r\n您可能还没有登录,请先登录！"));
    pgc1->setCurrentIndex(0);
    e1->setFocus();
    return;
  }
  static const char* const kTexts[] = {",可以进行数据库的备份操作", ",可以进行数据库的还原操作",
                                       ",可以进行数据库的压缩操作", ",可以进行数据库的删除操作"};
  if (index == 0) emit StatusText(QStringLiteral("服务器连接后才可以进行相应操作..."));
  if (index >= 1 && index <= 4)
    emit StatusText(QStringLiteral("已连接：") + Server() + QString::fromUtf8(kTexts[index - 1]));
  if (index == 5) emit StatusText(QStringLiteral("数据库有关操作记录,可使用F10进行备份"));
}

void Tbakdata::ChooseBackupFile() {
  const QString name = cbb1->currentText().toUpper() + Stamp("yymmddhhnnss") + QStringLiteral(".SQL");
  if (auto path = Ui().SaveFileName({QString(), QString(), name, QtFilterFromPairs(kDumpFilter)}))
    e2->setText(*path);
}

void Tbakdata::ChooseRestoreFile() {
  if (auto path = Ui().OpenFileName({QString(), QString(), e4->text(), QtFilterFromPairs(kDumpFilter)}))
    e4->setText(*path);
}

void Tbakdata::RunBackup() {
  if (FBusy) return;
  TBusyScope busy(*this, 1);
  FWork->Backup(Chosen(cbb1), e2->text(), cbTbBackup->isChecked(), cbDataBackUp->isChecked());
}

void Tbakdata::RunRestore() {
  if (FBusy) return;
  bool done = false;
  {
    TBusyScope busy(*this, 2);
    done = FWork->Restore(Chosen(cbb3), e4->text());
  }
  if (done) RefreshDatabaseLists();
}

void Tbakdata::RunMaintenance() {
  if (FBusy) return;
  TBusyScope busy(*this, 3);
  const TMaintenance mode = rb1->isChecked()   ? TMaintenance::RepairIndex
                            : rb2->isChecked() ? TMaintenance::RepairTable
                                               : TMaintenance::Optimize;
  FWork->Maintain(Chosen(cbb2), mode);
}

void Tbakdata::DropDatabase() {
  if (FBusy) return;
  const std::string name = Chosen(cbb4);
  if (name.empty()) return ShowMessage(QStringLiteral("请选择数据库！"));
  if (!AskYesNo(QStringLiteral("删除是不可逆操作，确定要删除") + cbb4->currentText() + QStringLiteral("吗？"),
                CaptionHint, true))
    return;
  bool done = false;
  {
    TBusyScope busy(*this, 4);
    done = FWork->DropDatabase(name);
  }
  if (done) RefreshDatabaseLists();
}

void Tbakdata::CreateDatabase() {
  if (FBusy) return;
  // Otherwise a database named with "?" in place of the character would be made.
  if (const QString problem =
          UnencodableText(edt1->text(), FWork->FieldCharset(), QStringLiteral("数据库名"));
      !problem.isEmpty())
    return ShowMessageBox(problem, CaptionError, TMsgIcon::Error);
  bool done = false;
  {
    TBusyScope busy(*this, 4);
    done = FWork->CreateDatabase(EncodeFieldText(edt1->text(), FWork->FieldCharset()));
  }
  if (done) RefreshDatabaseLists();
}

void Tbakdata::SaveLogTo(const QString& fileName) {
  QSaveFile file(fileName);
  // The log in the desktop's own code page, lines ended as the desktop ends them.
  const std::string bytes = EncodeFieldText(tb_memo->toPlainText().replace("\n", "\r\n"), TFieldCharset::Gbk);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes.data(), static_cast<qint64>(bytes.size())) < 0 ||
      !file.commit())
    throw EFOpenError(MessageBytes("Cannot create file \"" + fileName + "\". " + file.errorString()));
  FLogFileName = fileName;
}

void Tbakdata::SaveLog() {
  const QString name = QStringLiteral("Log") + Stamp("yymmddhhnnss") + QStringLiteral(".txt");
  if (auto path = Ui().SaveFileName({QString(), QString(), name, QtFilterFromPairs(kLogFilter)}))
    SaveLogTo(*path);
}

void Tbakdata::SaveLogAgain() {
  if (auto path = Ui().SaveFileName({QString(), QString(), FLogFileName, QtFilterFromPairs(kLogFilter)}))
    SaveLogTo(*path);
}
