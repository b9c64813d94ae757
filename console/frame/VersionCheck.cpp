#include "console/frame/VersionCheck.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>
#include <utility>

TVersionFetch::TVersionFetch(QObject* parent) : QObject(parent) {
  FManager = new QNetworkAccessManager(this);
  FDeadline = new QTimer(this);
  FDeadline->setSingleShot(true);
  connect(FDeadline, &QTimer::timeout, this, [this] { Finish(std::nullopt); });
}

TVersionFetch::~TVersionFetch() {
  if (FReply) {
    FReply->disconnect(this);
    FReply->abort();
  }
}

void TVersionFetch::Start(const QString& address, int timeoutMs) {
  const QUrl url(address);
  if (address.isEmpty() || !url.isValid()) {
    // Reported from the loop, like every other outcome.
    QTimer::singleShot(0, this, [this] { emit Finished(std::nullopt); });
    return;
  }
  QNetworkRequest request(url);
  request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("text/html"));
  request.setRawHeader("Accept", "text/html, */*");
  request.setHeader(QNetworkRequest::UserAgentHeader,
                    QByteArrayLiteral("Mozilla/3.0 (compatible; Indy Library)"));
  // No bytes for this long (while connecting or reading) ends the request early; the deadline
  // bounds a server that trickles.
  request.setTransferTimeout(timeoutMs);
  FReply = FManager->get(request);
  connect(FReply, &QNetworkReply::readyRead, this, [this] {
    if (FReply->bytesAvailable() > kVersionReplyLimit) Finish(std::nullopt);
  });
  connect(FReply, &QNetworkReply::finished, this, [this] { ReplyDone(); });
  FDeadline->start(timeoutMs);
}

void TVersionFetch::ReplyDone() {
  if (!FReply) return;
  if (FReply->error() != QNetworkReply::NoError) return Finish(std::nullopt);
  QByteArray body = FReply->read(kVersionReplyLimit + 1);
  if (body.size() > kVersionReplyLimit) return Finish(std::nullopt);
  Finish(std::move(body));
}

void TVersionFetch::Finish(std::optional<QByteArray> body) {
  if (!FReply) return;
  FDeadline->stop();
  QNetworkReply* reply = std::exchange(FReply, nullptr);
  reply->disconnect(this);
  reply->abort();
  reply->deleteLater();
  emit Finished(std::move(body));
}
