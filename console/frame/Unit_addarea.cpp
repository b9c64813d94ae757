#include "console/frame/Unit_addarea.h"

#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include "console/controls/FlatBoxs.h"
#include "console/controls/FlatBtns.h"
#include "console/frame/ZoneList.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/UiService.h"

namespace {

constexpr int kWidth = 330;
constexpr int kHintTop = 352;

std::string Utf8(const QString& s) {
  return s.toUtf8().toStdString();
}

}  // namespace

Taddarea::Taddarea(const TDbIni& ini, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      FIni(ini) {
  setWindowTitle(QStringLiteral("增加新的分区"));
  setFixedSize(kWidth, 380);
  BuildControls();
  ListZones();
  if (parent) move(parent->geometry().center() - rect().center());
}

QLineEdit* Taddarea::AddField(const QString& label, const QString& text, int top) {
  auto* caption = new QLabel(label, FlatGroupBox1);
  caption->setGeometry(14, top + 3, 76, 18);
  auto* edit = new QLineEdit(text, FlatGroupBox1);
  edit->setGeometry(94, top, 200, 22);
  edit->installEventFilter(this);
  return edit;
}

void Taddarea::BuildControls() {
  auto* current = new QLabel(QStringLiteral("当前分区"), this);
  current->setGeometry(16, 15, 64, 18);
  cbb1 = new QComboBox(this);
  cbb1->setGeometry(84, 12, 140, 22);
  btn1 = new TFlatButton(this);
  btn1->SetCaption(QStringLiteral("删除所选"));
  btn1->setGeometry(234, 10, 80, 25);

  FlatGroupBox1 = new TFlatGroupBox(this);
  FlatGroupBox1->SetCaption(QStringLiteral("增加新的分区"));
  FlatGroupBox1->setGeometry(8, 46, kWidth - 16, 256);
  e7 = AddField(QStringLiteral("分  区  名"), QStringLiteral("游戏分区名"), 22);
  e1 = AddField(QStringLiteral("服务器地址"), QStringLiteral("localhost"), 50);
  edt1 = AddField(QStringLiteral("端口/字符集"), QStringLiteral("3306"), 78);
  edt1->setFixedWidth(60);
  cbb2 = new QComboBox(FlatGroupBox1);
  cbb2->setGeometry(160, 78, 134, 22);
  for (int i = 0; i < kCharsetCount; ++i) cbb2->addItem(QString::fromUtf8(CharsetItemText(i)));
  e2 = AddField(QStringLiteral("帐号数据库"), QStringLiteral("account"), 106);
  e3 = AddField(QStringLiteral("角色数据库"), QStringLiteral("zqv"), 134);
  e4 = AddField(QStringLiteral("日志数据库"), QStringLiteral("zqv_log"), 162);
  e5 = AddField(QStringLiteral("用   户   名"), QStringLiteral("root"), 190);
  e6 = AddField(QStringLiteral("用 户 密 码"), QStringLiteral("480317"), 218);
  e6->setEchoMode(QLineEdit::Password);

  btn2 = new TFlatButton(this);
  btn2->SetCaption(QStringLiteral("增  加"));
  btn2->setGeometry((kWidth - 80) / 2, 312, 80, 25);

  lbl9 = new QLabel(QStringLiteral("名字与现有分区相同，则更新该分区！"), this);
  lbl9->adjustSize();
  lbl9->move(225, kHintTop);
  tmr1 = new QTimer(this);
  tmr1->setInterval(100);
  connect(tmr1, &QTimer::timeout, this, [this] { lbl9->move(NextHintLeft(lbl9->x()), kHintTop); });
  tmr1->start();

  ConnectGuarded(btn2, &TFlatButton::clicked, this, [this] { AddArea(); });
  ConnectGuarded(btn1, &TFlatButton::clicked, this, [this] { DeleteArea(); });
}

void Taddarea::ListZones() {
  cbb1->clear();
  for (const std::string& zone : FIni.ZoneNames()) cbb1->addItem(QString::fromStdString(zone));
  cbb1->setCurrentIndex(cbb1->count() > 0 ? 0 : -1);
}

void Taddarea::AddArea() {
  TDbSettings s;
  s.Server = Utf8(e1->text());
  s.Port = Utf8(edt1->text());
  s.AccDB = Utf8(e2->text());
  s.CharDB = Utf8(e3->text());
  s.LogDB = Utf8(e4->text());
  s.Uid = Utf8(e5->text());
  s.Pwd = Utf8(e6->text());
  s.CharsetIndex = cbb2->currentIndex();
  TZoneOutcome outcome = AddZone(FIni, Utf8(e7->text()), s);
  ShowMessage(QString::fromStdString(outcome.Message));
  if (outcome.Done) ListZones();
}

void Taddarea::DeleteArea() {
  // Only a zone of the list: the combo is not editable, and the name is looked up again.
  TZoneOutcome outcome = DeleteZone(FIni, Utf8(cbb1->currentText()));
  ShowMessage(QString::fromStdString(outcome.Message));
  if (outcome.Done) ListZones();
}

bool Taddarea::eventFilter(QObject* watched, QEvent* event) {
  // A click in an edit selects its whole text, ready to be typed over.
  if (event->type() == QEvent::MouseButtonRelease)
    if (auto* edit = qobject_cast<QLineEdit*>(watched))
      QTimer::singleShot(0, edit, [edit] { edit->selectAll(); });
  return QDialog::eventFilter(watched, event);
}
