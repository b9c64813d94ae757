// Helpers of the console tests: a fresh folder per test and whole-file reads.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include "console/common/LoginSession.h"

inline QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void WriteAll(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(bytes);
}

// A login connection that always opens, for windows tested without a server.
class TNoConnection : public TLoginConnection {
 public:
  void Close() override {}
  void Open(const TConnectTarget&) override {}
  bool Connected() const override { return true; }
  TCustomDAConnection* Connection() override { return nullptr; }
};

// The DB.ini every first start writes.
inline const QByteArray kDefaultDbIni =
    "[DB]\r\nServer=localhost\r\nDBPort=3306\r\nDBcharset=0\r\nDBacc=account\r\nDBchar=zqv\r\n"
    "DBlog=zqv_log\r\nUid=root\r\nPwd=480317\r\n[User]\r\nsaveini=True\r\n";
