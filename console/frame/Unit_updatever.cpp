#include "console/frame/Unit_updatever.h"

#include <QLabel>
#include <QMdiArea>

#include "console/controls/FlatBtns.h"
#include "console/frame/VersionCheck.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/UiService.h"

namespace {

QLabel* AddLabel(QWidget* parent, const QString& text, int top) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(30, top, 370, 20);
  return label;
}

}  // namespace

Tupdatever::Tupdatever(QMdiArea& area, const QString& versionAddress)
    : QWidget(area.viewport()), FAddress(versionAddress), FArea(area) {
  setWindowTitle(QStringLiteral("更新版本"));
  setFixedSize(420, 169);
  setAutoFillBackground(true);
  CurrentVersion = QString::fromLatin1(kCurrentVersion);
  lbl1 = AddLabel(this, QStringLiteral("程序当前版本：") + CurrentVersion, 24);
  lbl2 = AddLabel(this, QStringLiteral("程序最新版本："), 52);
  lbl3 = AddLabel(this, QStringLiteral("您当前使用的程序是最新版本，无需要更新！"), 80);
  btn1 = new TFlatButton(this);
  btn1->SetCaption(QStringLiteral("下载最新版本"));
  btn1->setGeometry(110, 124, 100, 25);
  btn1->hide();
  btn2 = new TFlatButton(this);
  btn2->SetCaption(QStringLiteral("关 闭"));
  btn2->setGeometry(230, 124, 80, 25);
  ConnectGuarded(btn1, &TFlatButton::clicked, this, [this] { Download(); });
  ConnectGuarded(btn2, &TFlatButton::clicked, this, [this] { hide(); });
  hide();

  FFetch = new TVersionFetch(this);
  connect(FFetch, &TVersionFetch::Finished, this,
          [this](const std::optional<QByteArray>& body) { Guarded([&] { ShowVerdict(body); }); });
}

void Tupdatever::Start() {
  FFetch->Start(FAddress);
}

void Tupdatever::ShowVerdict(const std::optional<QByteArray>& body) {
  const std::optional<std::string> latest =
      body ? VersionOfReply(std::string_view(body->constData(), static_cast<size_t>(body->size())))
           : std::nullopt;
  const std::optional<int> order = latest ? CompareVersions(*latest, kCurrentVersion) : std::nullopt;
  if (!order) {
    lbl2->setText(QString(22, QLatin1Char(' ')));
    lbl3->setText(QStringLiteral("无法取得最新版本信息，请检查网络连接或稍后再试！"));
    btn1->hide();
  } else {
    LatestVersion = QString::fromStdString(*latest);
    lbl2->setText(QStringLiteral("程序最新版本：") + LatestVersion);
    if (*order > 0) {
      lbl3->setText(QStringLiteral("您当前使用的程序不是最新版本，建议更新！"));
      btn1->show();
      UpdateFlag = QStringLiteral("1");
    } else {
      btn1->hide();
    }
  }
  FDone = true;
  emit Checked();
}

void Tupdatever::ShowRestored() {
  const QSize room = FArea.viewport()->size();
  move((room.width() - width()) / 2, (room.height() - height()) / 2);
  show();
  raise();
}

void Tupdatever::Download() {
  const QString page = QString::fromLatin1(kDownloadPage);
  if (!Ui().ShellOpen(page))
    ShowMessage(QStringLiteral("Internet Explorer 浏览器加载失败，请手动打开软件主页：") + page);
}
