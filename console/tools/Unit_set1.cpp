#include "console/tools/Unit_set1.h"

#include <QCheckBox>
#include <QDir>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QTabWidget>
#include <QVBoxLayout>

#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "console/common/MyLoginConnection.h"
#include "console/controls/FlatBtns.h"
#include "console/tools/GameServerIni.h"
#include "platform/widgets/DBGrid.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/FieldText.h"
#include "platform/widgets/UiService.h"

Tsallset::Tsallset(TCustomMyConnection& con2, const QString& charsetText, QWidget* parent)
    : QWidget(parent), FQuery(std::make_unique<TMyQuery>()), FSource(std::make_unique<TMyDataSource>()) {
  setObjectName(QStringLiteral("sallset"));
  setWindowTitle(QStringLiteral("基本设置"));
  setAttribute(Qt::WA_DeleteOnClose);
  FSource->SetDataSet(FQuery.get());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  pgc1 = new QTabWidget(this);
  pgc1->addTab(BuildSettingsTab(), QStringLiteral("基本设置"));
  pgc1->addTab(BuildScheduleTab(charsetText), QStringLiteral("国战设置"));
  layout->addWidget(pgc1, 1);
  FStatus = new QLabel(QStringLiteral("注意：设置内容大部份需要在服务器上运行。"), this);
  layout->addWidget(FStatus);

  FQuery->SetCommandTimeout(kReadTimeoutSeconds);
  FQuery->SetConnection(&con2);
  FQuery->SetSQLText("select * from t_castlewar_time_set");
  try {
    FQuery->Open();
  } catch (...) {
    // The grid goes with the window's base after the data source it still shows.
    dbgrd1->SetDataSource(nullptr);
    throw;
  }
}

Tsallset::~Tsallset() {
  dbgrd1->SetDataSource(nullptr);
}

QWidget* Tsallset::BuildSettingsTab() {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(4, 4, 4, 4);
  auto* dirStrip = new QHBoxLayout();
  dirStrip->addWidget(new QLabel(QStringLiteral("当前游戏分区目录"), page));
  edt1 = new QLineEdit(page);
  dirStrip->addWidget(edt1, 1);
  auto button = [page, dirStrip](const QString& caption, int width) {
    auto* b = new TFlatButton(page);
    b->SetCaption(caption);
    b->setFixedSize(width, 24);
    dirStrip->addWidget(b);
    return b;
  };
  Button1 = button(QStringLiteral("..."), 30);
  Button2 = button(QStringLiteral("载入当前配置"), 100);
  Button3 = button(QStringLiteral("保存修改"), 80);
  chk1 = new QCheckBox(QStringLiteral("保存游戏路径"), page);
  dirStrip->addWidget(chk1);
  layout->addLayout(dirStrip);

  auto* group = new QGroupBox(QStringLiteral("世界配置 gameworld_server.ini"), page);
  auto* grid = new QGridLayout(group);
  // Four sections a row and close rows: the 36 keys fit the frame's area whole. Were it smaller
  // still, the scroll area shows them whole instead of squeezing the edits flat.
  constexpr int kSectionsPerRow = 4;
  grid->setContentsMargins(4, 0, 4, 0);
  grid->setVerticalSpacing(2);
  QGroupBox* section = nullptr;
  QFormLayout* form = nullptr;
  int sections = 0;
  for (const TServerIniKey& key : ServerIniKeys()) {
    const QString name = QString::fromUtf8(key.Section);
    if (section == nullptr || section->objectName() != name) {
      const QString title = name == QStringLiteral("game") ? QStringLiteral("[Game] ") : name;
      section = new QGroupBox(title, group);
      section->setObjectName(name);
      form = new QFormLayout(section);
      form->setVerticalSpacing(2);
      form->setContentsMargins(6, 2, 6, 2);
      grid->addWidget(section, sections / kSectionsPerRow, sections % kSectionsPerRow, Qt::AlignTop);
      ++sections;
    }
    auto* edit = new QLineEdit(section);
    form->addRow(QString::fromUtf8(key.Caption), edit);
    FEdits.push_back(edit);
  }
  auto* scroll = new QScrollArea(page);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setWidget(group);
  layout->addWidget(scroll, 1);

  ConnectGuarded(Button1, &TFlatButton::clicked, this, [this] { ChooseDirectory(); });
  ConnectGuarded(Button2, &TFlatButton::clicked, this, [this] { LoadSettings(); });
  ConnectGuarded(Button3, &TFlatButton::clicked, this, [this] { SaveSettings(); });
  return page;
}

QWidget* Tsallset::BuildScheduleTab(const QString& charsetText) {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(new QLabel(QStringLiteral("国战时间表"), page));
  dbgrd1 = new TDBGrid(page);
  dbgrd1->SetCharset(charsetText.startsWith(QStringLiteral("utf8"), Qt::CaseInsensitive)
                         ? TFieldCharset::Utf8
                         : TFieldCharset::Gbk);
  dbgrd1->SetDataSource(FSource.get());
  layout->addWidget(dbgrd1, 1);
  layout->addWidget(new QLabel(QStringLiteral("奖励设定"), page));
  return page;
}

void Tsallset::ChooseDirectory() {
  const std::optional<QString> dir =
      Ui().DirectoryName(QStringLiteral("选择游戏分区目录"), QDir::currentPath());
  if (dir) edt1->setText(ZoneDirectory(*dir));
}

void Tsallset::LoadSettings() {
  if (edt1->text().isEmpty()) {
    ShowMessageBox(QStringLiteral("分区路径不能为空！"), CaptionHint, TMsgIcon::Information);
    return;
  }
  const QString dir = ZoneDirectory(edt1->text());
  if (!IsZoneDirectory(dir)) {
    ShowMessageBox(QStringLiteral("没有找到Login或World目录，请核对路径是否正确！"), CaptionWarning,
                   TMsgIcon::Warning);
    return;
  }
  const TServerIniValues read = ReadServerIni(ServerIniPath(dir));
  for (size_t i = 0; i < FEdits.size(); ++i) FEdits[i]->setText(read.Values[i]);
  if (!read.Error.isEmpty()) ShowMessageBox(read.Error, CaptionError, TMsgIcon::Error);
}

void Tsallset::SaveSettings() {
  // The file belongs to the game server; this window only shows it.
  ShowMessageBox(QStringLiteral("请到游戏目录下修改此文件！"), CaptionWarning, TMsgIcon::Warning);
}

QString Tsallset::StatusText() const {
  return FStatus->text();
}
