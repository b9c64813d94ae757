// The version check: the newest version text asked of a web server once per login, compared
// with the console's own. The request is bounded as a whole (connect, send and read) and runs
// on the message loop, so it never holds the login or the frame window.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <optional>

#include "console/frame/VersionText.h"

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// The console's own version.
inline constexpr char kCurrentVersion[] = "2.2.1.1015";
// Where the newest version text is asked for, and the page that offers it.
inline constexpr char kVersionAddress[] = "http://www.quenmar.example/gmtool/version.txt";
inline constexpr char kDownloadPage[] = "http://www.quenmar.example/gmtool/";
// The whole check may take this long; a silent or slow server ends it as a failure.
inline constexpr int kVersionCheckMilliseconds = 5000;
// A reply longer than this is no version text.
inline constexpr int kVersionReplyLimit = 256;

// One GET of a version address. Finished comes once, from the message loop: with the body, or
// with nothing after any failure (no address, no connection, an HTTP error, a reply over the
// limit, the time-out).
class TVersionFetch : public QObject {
  Q_OBJECT

 public:
  explicit TVersionFetch(QObject* parent = nullptr);
  ~TVersionFetch() override;

  // Starts the request; timeoutMs bounds it as a whole.
  void Start(const QString& address, int timeoutMs = kVersionCheckMilliseconds);
  bool Running() const noexcept { return FReply != nullptr; }

 signals:
  void Finished(std::optional<QByteArray> body);

 private:
  void Finish(std::optional<QByteArray> body);
  void ReplyDone();

  QNetworkAccessManager* FManager = nullptr;
  QNetworkReply* FReply = nullptr;
  QTimer* FDeadline = nullptr;
};
