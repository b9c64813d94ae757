// One console per user and display: the first start listens on a local socket named after the
// application title, the user and the display; a later start asks it to come to the front and
// ends.
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

class TSingleInstance : public QObject {
  Q_OBJECT

 public:
  explicit TSingleInstance(const QString& title, QObject* parent = nullptr);
  ~TSingleInstance() override;

  // The socket name for this user and display.
  QString Key() const { return FKey; }
  // Asks a running first instance to come to the front; true when one answered within
  // timeoutMs (this process should then end).
  bool ActivateExisting(int timeoutMs = 1000);
  // Becomes the first instance (a socket left by a crashed one is taken over). False when the
  // socket cannot be created.
  bool Listen();

 signals:
  // A later start asked this instance to come to the front.
  void activationRequested();

 private:
  QString FKey;
  QLocalServer* FServer = nullptr;
};

// The key of title for the current user and display.
QString SingleInstanceKey(const QString& title);
