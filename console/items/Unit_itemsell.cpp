#include "console/items/Unit_itemsell.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

#include "console/browsers/BrowserLinks.h"
#include "console/browsers/PagedBrowser.h"
#include "console/common/TypedText.h"
#include "console/controls/FlatBtns.h"
#include "console/items/Unit_itemsellacc.h"
#include "console/items/Unit_itemsellitem.h"
#include "platform/runtime/Exceptions.h"
#include "platform/widgets/ErrorReport.h"

namespace {

const QString kImportFormat = QStringLiteral(
    "导入数据格式：\n\r您游戏目录下的items.csv文件放到本地，或本程序在服务器上运行\n\r文件内容如下：\n\r"
    "1,青云剑,0,1,1,,,0,0,1,1,0,0,0,1,100,15.2,9&12,,,1.2,50,,5,,,,,,,,,！ \n\r...... ");

TDateTime ToDateTime(const QDateTime& value) {
  const QDate d = value.date();
  const QTime t = value.time();
  return EncodeDateTime(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), 0);
}

QDateTime FromDateTime(TDateTime value) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
  DecodeDateTime(value, y, mo, d, h, mi, s, ms);
  return {QDate(y, mo, d), QTime(h, mi, s)};
}

}  // namespace

// Marks the window busy for one send or import: controls disabled, closing refused; undone on
// every path.
class Titemsell::TBusyScope {
 public:
  TBusyScope(Titemsell& owner, bool importing) : FOwner(owner) {
    FOwner.FImporting = importing;
    FOwner.SetBusy(true);
  }
  ~TBusyScope() {
    FOwner.SetBusy(false);
    CloseIfLeftBehind(&FOwner);
    FOwner.FImporting = false;
  }
  TBusyScope(const TBusyScope&) = delete;
  TBusyScope& operator=(const TBusyScope&) = delete;

 private:
  Titemsell& FOwner;
};

Titemsell::Titemsell(TCustomMyConnection& con2, const QString& charsetText, QWidget* parent)
    : QWidget(parent), FConnection(con2), FCharset(FieldCharsetOfChoice(charsetText)) {
  FWork = std::make_unique<TItemSell>(con2, FCharset, static_cast<TItemSellSink&>(*this));
  setObjectName(QStringLiteral("itemsell"));
  setWindowTitle(QStringLiteral("物品发放"));
  setAttribute(Qt::WA_DeleteOnClose);
  BuildControls();
  ShowTableState();
  Memo1->clear();
  Memo2->clear();
  dtp1->setDateTime(FromDateTime(Ui().Now()));
  stat1Panel0->setText(QStringLiteral("发放完毕后玩家需要去道具管理员处领取！"));
}

Titemsell::~Titemsell() = default;

void Titemsell::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 2);
  auto* top = new QHBoxLayout();
  lbl1 = new QLabel(this);
  top->addWidget(lbl1);
  btn1 = AddStripButton(this, top, QStringLiteral("创建表"), 70);
  btn2 = AddStripButton(this, top, QStringLiteral("导入数据"), 70);
  lbl2 = new QLabel(QStringLiteral("<a href=\"#\">导入数据格式</a>"), this);
  top->addWidget(lbl2);
  top->addStretch(1);
  layout->addLayout(top);

  auto* lists = new QHBoxLayout();
  lists->addWidget(BuildTargetBox(), 1);
  lists->addWidget(BuildGiftBox(), 1);
  layout->addLayout(lists, 1);

  auto* bottom = new QHBoxLayout();
  bottom->addWidget(new QLabel(QStringLiteral("过期时间："), this));
  dtp1 = new QDateTimeEdit(this);
  dtp1->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
  dtp1->setCalendarPopup(true);
  bottom->addWidget(dtp1);
  bottom->addStretch(1);
  Button1 = AddStripButton(this, bottom, QStringLiteral("发 送"), 80);
  Button6 = AddStripButton(this, bottom, QStringLiteral("中止操作"), 80);
  Button6->hide();
  layout->addLayout(bottom);
  auto* clear = new QHBoxLayout();
  clear->addStretch(1);
  Button3 = AddStripButton(this, clear, QStringLiteral("清空所有本程序发放未领取的道具"), 210);
  Button2 = AddStripButton(this, clear, QStringLiteral("清空所有任意方式获得未领取的道具"), 220);
  layout->addLayout(clear);

  auto* status = new QHBoxLayout();
  stat1Panel0 = new QLabel(this);
  stat1Panel1 = new QLabel(this);
  for (QLabel* panel : {stat1Panel0, stat1Panel1}) panel->setFrameShape(QFrame::StyledPanel);
  stat1Panel1->setFixedWidth(170);
  status->addWidget(stat1Panel0, 1);
  status->addWidget(stat1Panel1);
  layout->addLayout(status);

  pnl2 = new QWidget(this);
  pnl2->setAutoFillBackground(true);
  pnl2->setStyleSheet(QStringLiteral("background: rgb(255,255,225);"));
  auto* progress = new QVBoxLayout(pnl2);
  lbl6 = new QLabel(QStringLiteral("正在操作，请稍等..."), pnl2);
  pb1 = new QProgressBar(pnl2);
  pb1->setTextVisible(false);
  lbl5 = new QLabel(QStringLiteral("0%"), pnl2);
  lbl5->setAlignment(Qt::AlignCenter);
  progress->addWidget(lbl6);
  progress->addWidget(pb1);
  progress->addWidget(lbl5);
  pnl2->setFixedSize(260, 90);
  pnl2->hide();

  ConnectGuarded(btn1, &TFlatButton::clicked, this, [this] { CreateItemTable(); });
  ConnectGuarded(btn2, &TFlatButton::clicked, this, [this] { ImportItems(); });
  ConnectGuarded(lbl2, &QLabel::linkActivated, this, [this](const QString&) { ShowImportFormat(); });
  ConnectGuarded(Button1, &TFlatButton::clicked, this, [this] { Send(); });
  ConnectGuarded(Button6, &TFlatButton::clicked, this, [this] { Stop(); });
  ConnectGuarded(Button3, &TFlatButton::clicked, this, [this] { ClearGifts(true); });
  ConnectGuarded(Button2, &TFlatButton::clicked, this, [this] { ClearGifts(false); });
  ConnectGuarded(Button4, &TFlatButton::clicked, this, [this] { ClearCharacterList(); });
  ConnectGuarded(Button5, &TFlatButton::clicked, this, [this] { ClearItemList(); });
  for (QRadioButton* rb : {rb1, rb2, rb3, rb4})
    ConnectGuarded(rb, &QRadioButton::toggled, this, [this](bool) { GiftKindChanged(); });
  for (QRadioButton* rb : {rb5, rb6})
    ConnectGuarded(rb, &QRadioButton::toggled, this, [this](bool) { TargetChanged(); });
  ConnectGuarded(cbb1, &QComboBox::currentIndexChanged, this, [this](int index) { FilterChanged(index); });
  ConnectGuarded(Memo1, &QPlainTextEdit::textChanged, this, [this] { CheckCharacterList(); });
  for (QObject* o : std::initializer_list<QObject*>{Memo1->viewport(), Memo2->viewport(), Memo1, Memo2, cbb1,
                                                    edt1, edt2, edt3, edt4})
    o->installEventFilter(this);
  GiftKindChanged();
  TargetChanged();
  FilterChanged(0);
}

QWidget* Titemsell::BuildTargetBox() {
  auto* box = new QGroupBox(QStringLiteral("发放对象"), this);
  auto* grid = new QGridLayout(box);
  rb5 = new QRadioButton(QStringLiteral("指定角色"), box);
  rb5->setChecked(true);
  rb6 = new QRadioButton(QStringLiteral("所有角色"), box);
  grid->addWidget(rb5, 0, 0);
  grid->addWidget(rb6, 0, 1);
  Memo1 = new QPlainTextEdit(box);
  Memo1->setReadOnly(true);
  Memo1->setPlaceholderText(QStringLiteral("点击此处添加角色(最多10个)"));
  grid->addWidget(Memo1, 1, 0, 1, 3);
  Button4 = new TFlatButton(box);
  Button4->SetCaption(QStringLiteral("←清空列表"));
  Button4->setFixedSize(90, 24);
  grid->addWidget(Button4, 2, 0);
  cbb1 = new QComboBox(box);
  for (int i = 0; i < kFilterCount; ++i) cbb1->addItem(FilterItemText(i));
  grid->addWidget(new QLabel(QStringLiteral("条件："), box), 3, 0);
  grid->addWidget(cbb1, 3, 1, 1, 2);
  edt3 = new QLineEdit(box);
  lbl7 = new QLabel(box);
  lbl7->setStyleSheet(QStringLiteral("color: rgb(204,0,0);"));
  grid->addWidget(edt3, 4, 1);
  grid->addWidget(lbl7, 4, 2);
  grid->setColumnStretch(2, 1);
  return box;
}

QWidget* Titemsell::BuildGiftBox() {
  auto* box = new QGroupBox(QStringLiteral("发放内容"), this);
  auto* grid = new QGridLayout(box);
  rb1 = new QRadioButton(QStringLiteral("物品"), box);
  rb1->setChecked(true);
  rb2 = new QRadioButton(QStringLiteral("发放金币"), box);
  rb3 = new QRadioButton(QStringLiteral("发放经验"), box);
  rb4 = new QRadioButton(QStringLiteral("发放声望"), box);
  grid->addWidget(rb1, 0, 0);
  Memo2 = new QPlainTextEdit(box);
  Memo2->setReadOnly(true);
  Memo2->setPlaceholderText(QStringLiteral("点击此处添加物品(最多10件)"));
  grid->addWidget(Memo2, 1, 0, 1, 2);
  Button5 = new TFlatButton(box);
  Button5->SetCaption(QStringLiteral("清空列表→"));
  Button5->setFixedSize(90, 24);
  grid->addWidget(Button5, 2, 1, Qt::AlignRight);
  edt1 = new QLineEdit(QStringLiteral("1000000"), box);
  edt4 = new QLineEdit(QStringLiteral("100000"), box);
  edt2 = new QLineEdit(QStringLiteral("200"), box);
  int row = 3;
  for (auto [rb, edit] : {std::pair{rb2, edt1}, {rb3, edt4}, {rb4, edt2}}) {
    grid->addWidget(rb, row, 0);
    grid->addWidget(edit, row++, 1);
  }
  return box;
}

void Titemsell::ShowTableState() {
  FTableFound = FWork->HasItemTable();
  if (FTableFound) {
    lbl1->setText(QStringLiteral("装备数据表t_itemname连接正常。"));
    lbl1->setStyleSheet(QStringLiteral("color: green;"));
  } else {
    lbl1->setText(QStringLiteral("没有找到装备数据表t_itemname。"));
    lbl1->setStyleSheet(QStringLiteral("color: red;"));
  }
  btn1->setVisible(!FTableFound);
  btn2->setVisible(FTableFound);
  lbl2->setVisible(FTableFound);
}

void Titemsell::GiftKindChanged() {
  Memo2->setEnabled(rb1->isChecked());
  edt1->setEnabled(rb2->isChecked());
  edt4->setEnabled(rb3->isChecked());
  edt2->setEnabled(rb4->isChecked());
}

void Titemsell::TargetChanged() {
  Memo1->setEnabled(rb5->isChecked());
  cbb1->setEnabled(rb6->isChecked());
  edt3->setEnabled(rb6->isChecked() && cbb1->currentIndex() != 0);
}

void Titemsell::FilterChanged(int index) {
  edt3->setText(FilterInitialValue(index));
  edt3->setEnabled(index != 0 && rb6->isChecked());
  lbl7->setText(FilterHint(index));
  if (index != 0) edt3->setFocus();
}

void Titemsell::CheckCharacterList() {
  if (MemoLines(*Memo1).size() > kMaxListLines)
    ShowMessageBox(QStringLiteral("最多只能添加10个角色名！"), CaptionError, TMsgIcon::Error);
}

bool Titemsell::KeyFiltered(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  // The lists are filled by the pickers and the filter combo by the mouse only.
  if (watched == Memo1 || watched == Memo2 || watched == cbb1) return true;
  auto* edit = qobject_cast<QLineEdit*>(watched);
  if (edit == nullptr) return false;
  const QString text = static_cast<QKeyEvent*>(event)->text();
  if (text.size() != 1) return false;
  const QChar key = text.front();
  // Editing keys other than backspace (Ctrl+V, Tab, Delete's 0x7F) are no typed characters.
  if ((key < QChar(' ') && key != QChar('\b')) || key == QChar(0x7F)) return false;
  const TKeyRule rule = edit == edt3 ? KeyRuleOfFilter(cbb1->currentIndex()) : TKeyRule::Digits;
  const std::optional<QString> refusal = KeyRefusal(rule, key, edit->cursorPosition() == 0);
  if (!refusal) return false;
  ShowMessageBox(*refusal, CaptionHint, TMsgIcon::Information);
  return true;
}

bool Titemsell::eventFilter(QObject* watched, QEvent* event) {
  if (KeyFiltered(watched, event)) return true;
  if (event->type() == QEvent::MouseButtonPress && !FBusy) {
    // The picker runs after the press is delivered, not inside it.
    if (watched == Memo1->viewport() && Memo1->isEnabled())
      QTimer::singleShot(0, this, [this] { Guarded([this] { AddCharacters(); }); });
    if (watched == Memo2->viewport() && Memo2->isEnabled())
      QTimer::singleShot(0, this, [this] { Guarded([this] { AddItems(); }); });
  }
  return QWidget::eventFilter(watched, event);
}

void Titemsell::closeEvent(QCloseEvent* event) {
  // A send or an import below on the stack still uses this window and its connection.
  if (FBusy) return event->ignore();
  QWidget::closeEvent(event);
}

void Titemsell::SetBusy(bool on) {
  FBusy = on;
  for (QWidget* w : std::initializer_list<QWidget*>{btn1, btn2, lbl2, Button1, Button2, Button3, Button4,
                                                    Button5, rb1, rb2, rb3, rb4, rb5, rb6, cbb1, dtp1})
    w->setEnabled(!on);
  if (on) {
    for (QWidget* w : std::initializer_list<QWidget*>{Memo1, Memo2, edt1, edt2, edt3, edt4})
      w->setEnabled(false);
  } else {
    GiftKindChanged();
    TargetChanged();
  }
  Button6->setVisible(on && !FImporting);
  if (on && FImporting) {
    pnl2->move((width() - pnl2->width()) / 2, (height() - pnl2->height()) / 2);
    pnl2->raise();
  }
  pnl2->setVisible(on && FImporting);
}

void Titemsell::Status(const QString& text) {
  stat1Panel0->setText(text);
}

void Titemsell::Progress(const QString& text, int percent) {
  stat1Panel0->setText(text);
  stat1Panel1->setText(ProgressPanelText(percent));
  if (FImporting) {
    pb1->setValue(percent);
    lbl5->setText(QString::number(percent) + "%");
  }
}

void Titemsell::ProcessMessages() {
  Ui().ProcessMessages();
}

bool Titemsell::Ask(const QString& text) {
  return AskYesNo(text, CaptionHint);
}

void Titemsell::Message(const QString& text, const QString& caption, TMsgIcon icon) {
  ShowMessageBox(text, caption, icon);
}

void Titemsell::Send() {
  if (FBusy) return;
  FStop = false;
  TSendRequest request;
  request.Now = Ui().Now();
  request.Expiry = ToDateTime(dtp1->dateTime());
  request.Kind = rb1->isChecked()   ? TGiftKind::Item
                 : rb2->isChecked() ? TGiftKind::Gold
                 : rb3->isChecked() ? TGiftKind::Experience
                                    : TGiftKind::Credit;
  request.Amount = request.Kind == TGiftKind::Gold         ? edt1->text()
                   : request.Kind == TGiftKind::Experience ? edt4->text()
                                                           : edt2->text();
  request.ItemLines = MemoLines(*Memo2);
  request.AllCharacters = rb6->isChecked();
  request.Filter = cbb1->currentIndex();
  request.FilterValue = edt3->text();
  request.Names = MemoLines(*Memo1);
  if (request.AllCharacters && request.Filter == 6) edt3->setText(request.FilterValue.trimmed());
  TBusyScope busy(*this, false);
  FWork->Send(request);
}

void Titemsell::Stop() {
  if (!FBusy || FImporting) return;
  if (AskYesNo(QStringLiteral("确定要中止当前的发放吗？"), CaptionHint)) FStop = true;
}

void Titemsell::ShowImportFormat() {
  ShowMessageBox(kImportFormat, CaptionHint, TMsgIcon::Information);
}

void Titemsell::ImportItems() {
  if (FBusy) return;
  if (!AskYesNo(QStringLiteral("如果原有数据存在，再次导入将覆盖！是否继续？"), CaptionHint, true)) return;
  const std::optional<QString> path =
      Ui().OpenFileName({QString(), QString(), QString(), QtFilterFromPairs(QStringLiteral("*.csv|*.csv"))});
  QFile file(path.value_or(QString()));
  if (!path || !file.open(QIODevice::ReadOnly)) {
    ShowMessageBox(QStringLiteral("打开文件失败！"), CaptionError, TMsgIcon::Error);
    return;
  }
  const QByteArray bytes = file.readAll();
  TBusyScope busy(*this, true);
  FWork->ImportItems(bytes.toStdString());
}

void Titemsell::CreateItemTable() {
  if (FBusy) return;
  if (!AskYesNo(QStringLiteral("将在角色数据库建立新的数据表，是否继续？"), CaptionHint, true)) return;
  try {
    FWork->CreateItemTable();
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& e) {
    ShowMessageBox(QStringLiteral("创建装备数据表：t_itemname出错，请检查网络连接是否正常！\r\n错误信息:") +
                       ExceptionText(e),
                   CaptionError, TMsgIcon::Error);
    return;
  }
  ShowMessageBox(QStringLiteral("t_itemname创建成功！接下来您可以进行数据导入了"), CaptionHint,
                 TMsgIcon::Information);
  ShowTableState();
}

void Titemsell::AddCharacters() {
  if (FBusy || !rb5->isChecked()) return;
  Titemsellacc picker(FConnection, FCharset, *Memo1, this);
  Ui().ExecModal(picker);
}

void Titemsell::AddItems() {
  if (FBusy || !rb1->isChecked()) return;
  if (!FTableFound) {
    if (AskYesNo(QStringLiteral("没有找到装备数据表：t_itemname，是否现在创建？"), QStringLiteral("关于")))
      CreateItemTable();
    return;
  }
  Titemsellitem picker(FConnection, FCharset, *Memo2, this);
  Ui().ExecModal(picker);
}

void Titemsell::ClearCharacterList() {
  if (!rb5->isChecked())
    return ShowMessageBox(QStringLiteral("没有选择'指定角色'模式，无法清空！"), CaptionHint,
                          TMsgIcon::Warning);
  Memo1->clear();
}

void Titemsell::ClearItemList() {
  if (!rb1->isChecked())
    return ShowMessageBox(QStringLiteral("没有选择'物品'模式，无法清空！"), CaptionHint, TMsgIcon::Warning);
  Memo2->clear();
}

void Titemsell::ClearGifts(bool ownOnly) {
  if (FBusy) return;
  const TMsgResult answer =
      Ui().MessageBox({QStringLiteral("清除操作是不可逆的，真的要这么做吗？"), CaptionWarning,
                       TMsgIcon::Warning, TMsgButtons::YesNo, TMsgResult::No});
  if (answer != TMsgResult::Yes) return;
  FWork->ClearGifts(ownOnly);
  ShowMessageBox(QStringLiteral("清除程序添加的道具完成！"), CaptionHint, TMsgIcon::Information);
}
