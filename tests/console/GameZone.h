// Helpers of the console's database tests: the test server's address, statements of the test's
// own on an administrative session, and a game zone (the three databases with the fixture rows)
// loaded under names of the test's own, with a DB.ini that logs in to it.
#pragma once

#include <QCoreApplication>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QtTest>
#include <memory>
#include <string>

#include "components/MyAccessConnection.h"
#include "console/common/MyLoginConnection.h"
#include "mysql/MySQLCommand.h"
#include "mysql/MySQLConnection.h"

// KEY=value lines of the test server's info file.
inline QMap<QString, QString> ServerInfo() {
  QMap<QString, QString> info;
  QFile f(QStringLiteral(DA_TEST_SERVER_INFO));
  if (!f.open(QIODevice::ReadOnly)) qFatal("no test server info at %s", DA_TEST_SERVER_INFO);
  for (const QByteArray& line : f.readAll().split('\n')) {
    const int eq = line.indexOf('=');
    if (eq > 0) info.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
  }
  return info;
}

// A column (the first by default) of the first row of sql on the session; empty for none or
// NULL.
inline std::string QueryValue(TMySQLConnection& con, const std::string& sql, unsigned column = 0) {
  TMySQLCommand command;
  command.SetConnection(&con);
  command.SetSQL(sql);
  command.ResultWanted = true;
  command.Execute();
  PMYSQL_RES result = command.GetResult();
  if (!result) return {};
  command.SetResult(nullptr);
  std::string value;
  TMySQLAPI* api = con.GetAPI();
  if (PMYSQL_ROW row = api->mysql_fetch_row(result); row && !api->FieldIsNull(row, column))
    value = api->GetFieldStr(row, column);
  api->mysql_free_result(result);
  return value;
}

// A login connection of the native user on database, in the character set the login would ask
// for ("" for the server's).
inline std::unique_ptr<TMyLoginConnection> OpenLogin(const QMap<QString, QString>& info,
                                                     const std::string& database,
                                                     const std::string& charset = {}) {
  auto login = std::make_unique<TMyLoginConnection>(charset);
  login->Open({info["HOST"].toStdString(),
               info["PORT"].toInt(),
               info["NATIVE_USER"].toStdString(),
               info["NATIVE_PASSWORD"].toStdString(),
               database,
               {}});
  return login;
}

// While it lives, the session of a window's connection reads literals without backslash escapes
// (when on), as a server whose sql_mode holds NO_BACKSLASH_ESCAPES has it; then its mode is back.
class TBackslashMode {
 public:
  TBackslashMode(TCustomMyConnection& connection, bool noBackslashEscapes)
      : FConnection(connection), FOn(noBackslashEscapes) {
    if (!FOn) return;
    FConnection.ExecSQL("SET @mode_before_test=@@SESSION.sql_mode");
    FConnection.ExecSQL(
        "SET SESSION sql_mode=CONCAT_WS(',',NULLIF(@@SESSION.sql_mode,''),'NO_BACKSLASH_ESCAPES')");
  }
  ~TBackslashMode() {
    try {
      if (FOn) FConnection.ExecSQL("SET SESSION sql_mode=@mode_before_test");
    } catch (...) {
      // A test that killed the session has no mode left to restore.
    }
  }
  TBackslashMode(const TBackslashMode&) = delete;
  TBackslashMode& operator=(const TBackslashMode&) = delete;

 private:
  TCustomMyConnection& FConnection;
  bool FOn;
};

// A latin1 session of the native user, for the test's own statements.
class TAdminSession {
 public:
  explicit TAdminSession(const QMap<QString, QString>& info) {
    FCon.SetServer(info["HOST"].toStdString());
    FCon.SetProp(prPort, Variant(info["PORT"].toInt()));
    FCon.SetUsername(info["NATIVE_USER"].toStdString());
    FCon.SetPassword(info["NATIVE_PASSWORD"].toStdString());
    FCon.SetProp(prCharset, Variant(std::string("latin1")));
    FCon.Connect("");
  }
  void Exec(const std::string& sql) { FCon.ExecSQL(sql); }
  std::string Value(const std::string& sql) { return QueryValue(FCon, sql); }
  // CHECKSUM TABLE's checksum of table (the first column is the table's name).
  std::string Checksum(const std::string& table) { return QueryValue(FCon, "CHECKSUM TABLE " + table, 1); }

 private:
  TMySQLConnection FCon;
};

// A game zone under prefix_acc, prefix_chr and prefix_log on the test server.
class TGameZone {
 public:
  TGameZone(const QMap<QString, QString>& info, const QString& prefix) : FInfo(info), FPrefix(prefix) {}
  ~TGameZone() {
    try {
      TAdminSession admin(FInfo);
      for (const QString& db : {Acc(), Chr(), Log()})
        admin.Exec("DROP DATABASE IF EXISTS `" + db.toStdString() + "`");
    } catch (...) {
      // The server went first; nothing is left to drop.
    }
  }
  QString Acc() const { return FPrefix + "_acc"; }
  QString Chr() const { return FPrefix + "_chr"; }
  QString Log() const { return FPrefix + "_log"; }

  // Loads the fixture rows through the mariadb client, as the game's layout has them; target: the
  // second zone a merge copies into.
  bool Load(bool target = false) const {
    QProcess p;
    const QString script = QStringLiteral(DA_TEST_SOURCE_DIR "/tests/fixtures/game-data");
    const QString command =
        QStringLiteral("'%1' %8%2 %3 %4 | mariadb --default-character-set=latin1 -h %5 -P %6 -u %7")
            .arg(script, Acc(), Chr(), Log(), FInfo["HOST"], FInfo["PORT"], FInfo["NATIVE_USER"],
                 target ? QStringLiteral("--target ") : QString());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MYSQL_PWD"), FInfo["NATIVE_PASSWORD"]);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("bash"), {QStringLiteral("-c"), QStringLiteral("set -o pipefail; ") + command});
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
      qWarning("loading the game zone failed: %s", p.readAllStandardError().constData());
      return false;
    }
    return true;
  }

  // A DB.ini at path whose single server is this zone.
  void WriteIni(const QString& path) const {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) qFatal("cannot write %s", qPrintable(path));
    f.write(QStringLiteral(
                "[DB]\r\nServer=%1\r\nDBport=%2\r\nDBcharset=0\r\nDBacc=%3\r\nDBchar=%4\r\nDBlog=%5\r\n"
                "Uid=%6\r\nPwd=%7\r\n[User]\r\nsaveini=True\r\n")
                .arg(FInfo["HOST"], FInfo["PORT"], Acc(), Chr(), Log(), FInfo["NATIVE_USER"],
                     FInfo["NATIVE_PASSWORD"])
                .toUtf8());
  }

 private:
  QMap<QString, QString> FInfo;
  QString FPrefix;
};
