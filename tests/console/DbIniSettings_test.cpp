// DB.ini as the login keeps it: the defaults of a first start, the single-server section, the
// zone sections, and the mended faults (a bad character-set index, a bad port).
#include "console/common/DbIniSettings.h"

#include <sys/resource.h>

#include <QtTest>
#include <csignal>
#include <functional>

#include "ConsoleTestSupport.h"
#include "console/common/LoginSession.h"

class DbIniSettingsTest : public QObject {
  Q_OBJECT

 private slots:
  void FirstStartWritesTheDefaults();
  void SaveAndResetSectionDB();
  void BadCharsetIndexIsDefaultAndFileUntouched_data();
  void BadCharsetIndexIsDefaultAndFileUntouched();
  void PortOutsideRangeIsRefused_data();
  void PortOutsideRangeIsRefused();
  void ZonesInFileOrder();
  void ValuesReadBackAsWritten_data();
  void ValuesReadBackAsWritten();
  void UnicodeFilesKeepTheirEncoding();
  void FailedSaveLeavesTheFileAsItWas_data();
  void FailedSaveLeavesTheFileAsItWas();
};

void DbIniSettingsTest::FirstStartWritesTheDefaults() {
  QTemporaryDir dir;
  const QString path = dir.filePath("DB.ini");
  TDbIni ini(path.toStdString());
  QVERIFY(ini.EnsureExists());
  QCOMPARE(ReadAll(path), kDefaultDbIni);
  QVERIFY(!ini.EnsureExists());  // an existing file is left alone
  // It holds the password: its owner's only, also after the login saved the settings into it.
  QCOMPARE(QFile::permissions(path),
           QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
  ini.SaveDB(DefaultDbSettings());
  QCOMPARE(QFile::permissions(path),
           QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
  TDbSettings s = ini.ReadDB();
  QCOMPARE(s.Server, std::string("localhost"));
  QCOMPARE(s.Port, std::string("3306"));  // "DBPort" found as DBport
  QCOMPARE(s.CharsetIndex, 0);
  QCOMPARE(s.AccDB + s.CharDB + s.LogDB, std::string("accountzqvzqv_log"));
  QCOMPARE(s.Uid + "/" + s.Pwd, std::string("root/480317"));
  QVERIFY(s.SaveIni);
}

void DbIniSettingsTest::SaveAndResetSectionDB() {
  QTemporaryDir dir;
  const QString path = dir.filePath("DB.ini");
  WriteAll(path, "; zones below\r\n" + kDefaultDbIni + "[z1]\r\nareaname=z1\r\n");
  TDbIni ini(path.toStdString());
  TDbSettings s = DefaultDbSettings();
  s.Server = "10.0.0.5";
  s.Port = "3307";
  s.CharsetIndex = 2;
  ini.SaveDB(s);
  QCOMPARE(ReadAll(path),
           QByteArray("; zones below\r\n[DB]\r\nServer=10.0.0.5\r\nDBPort=3307\r\nDBcharset=2\r\n"
                      "DBacc=account\r\nDBchar=zqv\r\nDBlog=zqv_log\r\nUid=root\r\nPwd=480317\r\n"
                      "[User]\r\nsaveini=-1\r\n[z1]\r\nareaname=z1\r\n"));
  QVERIFY(ini.ReadDB().SaveIni);
  ini.ResetDB();
  TDbSettings reset = ini.ReadDB();
  QCOMPARE(reset.Server, std::string("localhost"));
  QCOMPARE(reset.CharsetIndex, 0);
  QVERIFY(!reset.SaveIni);
  QVERIFY(ReadAll(path).contains("saveini=false\r\n"));
}

void DbIniSettingsTest::BadCharsetIndexIsDefaultAndFileUntouched_data() {
  QTest::addColumn<QByteArray>("value");
  QTest::addColumn<int>("index");
  QTest::newRow("word") << QByteArray("gbk") << 0;
  QTest::newRow("empty") << QByteArray("") << 0;
  QTest::newRow("past the list") << QByteArray("5") << 0;
  QTest::newRow("negative") << QByteArray("-1") << 0;
  QTest::newRow("last item") << QByteArray("4") << 4;
}

void DbIniSettingsTest::BadCharsetIndexIsDefaultAndFileUntouched() {
  QFETCH(QByteArray, value);
  QFETCH(int, index);
  QTemporaryDir dir;
  const QString path = dir.filePath("DB.ini");
  const QByteArray text =
      "[DB]\r\nDBcharset=" + value + "\r\n[zone]\r\nareaname=zone\r\nareacharset=" + value + "\r\n";
  WriteAll(path, text);
  TDbIni ini(path.toStdString());
  QCOMPARE(ini.ReadDB().CharsetIndex, index);
  QCOMPARE(ini.ReadZone("zone").CharsetIndex, index);
  QCOMPARE(ReadAll(path), text);
}

void DbIniSettingsTest::PortOutsideRangeIsRefused_data() {
  QTest::addColumn<QString>("port");
  QTest::addColumn<bool>("accepted");
  QTest::newRow("default") << "3306" << true;
  QTest::newRow("lowest") << "1" << true;
  QTest::newRow("highest") << "65535" << true;
  QTest::newRow("zero") << "0" << false;
  QTest::newRow("too high") << "65536" << false;
  QTest::newRow("negative") << "-3306" << false;
  QTest::newRow("plus sign") << "+3306" << false;
  QTest::newRow("letters") << "33o6" << false;
  QTest::newRow("blank inside") << "33 06" << false;
}

void DbIniSettingsTest::PortOutsideRangeIsRefused() {
  QFETCH(QString, port);
  QFETCH(bool, accepted);
  QCOMPARE(ParsePort(port.toStdString()).has_value(), accepted);
  TDbSettings s = DefaultDbSettings();
  s.Port = port.toStdString();
  QCOMPARE(CheckLoginInput(s).empty(), accepted);
}

void DbIniSettingsTest::ZonesInFileOrder() {
  QTemporaryDir dir;
  const QString path = dir.filePath("DB.ini");
  // 青云 in GBK as zone name.
  WriteAll(path, kDefaultDbIni +
                     "[b]\r\nareaname=b\r\nareaaddr=h2\r\nareaport=3308\r\nareacharset=3\r\nareaacc=a2\r\n"
                     "areachar=c2\r\narealog=l2\r\nareauid=u2\r\nareapwd=p2\r\n[\xC7\xE0\xD4\xC6]\r\n"
                     "areaname=\xC7\xE0\xD4\xC6\r\n[noname]\r\nareaaddr=x\r\n");
  TDbIni ini(path.toStdString());
  QCOMPARE(ini.ZoneNames(), (std::vector<std::string>{"b", "青云"}));
  TDbSettings b = ini.ReadZone("B");
  QCOMPARE(b.Server + b.Port + b.AccDB + b.CharDB + b.LogDB + b.Uid + b.Pwd, std::string("h23308a2c2l2u2p2"));
  QCOMPARE(b.CharsetIndex, 3);
}

void DbIniSettingsTest::ValuesReadBackAsWritten_data() {
  QTest::addColumn<QString>("value");
  QTest::addColumn<QString>("problem");  // ValueProblem's answer; the value is then not written
  QTest::newRow("quotes") << "'pw'" << QString();
  QTest::newRow("double quotes") << "\"pw\"" << QString();
  QTest::newRow("outer blanks") << " pw " << QString();
  QTest::newRow("outer tabs") << "\tpw\t" << QString();
  QTest::newRow("equals, semicolon, bracket") << "[a=b;c]" << QString();
  QTest::newRow("GBK trail bytes 0x5C and 0x5D") << QStringLiteral("誠乚") << QString();
  QTest::newRow("line break") << "pw\r\n[DB]" << QStringLiteral("不能含有换行");
  QTest::newRow("line feed") << "pw\nUid=x" << QStringLiteral("不能含有换行");
}

// Every value the login or the zone editor keeps reads back byte for byte, in a GBK file and in
// a UTF-8 one, in section DB and in a zone's section.
void DbIniSettingsTest::ValuesReadBackAsWritten() {
  QFETCH(QString, value);
  QFETCH(QString, problem);
  const std::string v = value.toStdString();
  for (const QByteArray& mark : {QByteArray(), QByteArray("\xEF\xBB\xBF")}) {
    QTemporaryDir dir;
    const QString path = dir.filePath("DB.ini");
    WriteAll(path, mark + kDefaultDbIni);
    TDbIni ini(path.toStdString());
    QCOMPARE(QString::fromStdString(ini.ValueProblem(v)), problem);
    TDbSettings s{v, v, 2, v, v, v, v, v, true};
    if (!problem.isEmpty()) {
      QVERIFY_THROWS_EXCEPTION(EIniFileException, ini.SaveDB(s));
      QVERIFY_THROWS_EXCEPTION(EIniFileException, ini.SaveZone("z", s));
      QCOMPARE(ReadAll(path), mark + kDefaultDbIni);
      continue;
    }
    ini.SaveDB(s);
    ini.SaveZone("z", s);
    for (const TDbSettings& r : {ini.ReadDB(), ini.ReadZone("z")}) {
      for (const std::string* got : {&r.Server, &r.Port, &r.AccDB, &r.CharDB, &r.LogDB, &r.Uid, &r.Pwd})
        QCOMPARE(*got, v);
      QCOMPARE(r.CharsetIndex, 2);
    }
    QVERIFY(ReadAll(path).startsWith(mark + "[DB]"));
  }
}

// Saved as UTF-8 with its mark, or as UTF-16, by an editor: the zone names show as written (also
// one GBK lacks), their zones load, and a save keeps the file's encoding and mark.
void DbIniSettingsTest::UnicodeFilesKeepTheirEncoding() {
  const QString text = QStringLiteral(
      "[DB]\r\nServer=h\r\n[青云]\r\nareaname=青云\r\nareaaddr=h1\r\n"
      "[Säntis]\r\nareaname=Säntis\r\nareaaddr=h2\r\n");
  QTemporaryDir dir;
  const QString path = dir.filePath("DB.ini");
  const QByteArray utf16(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
  for (const QByteArray& file : {"\xEF\xBB\xBF" + text.toUtf8(), "\xFF\xFE" + utf16}) {
    WriteAll(path, file);
    TDbIni ini(path.toStdString());
    QCOMPARE(ini.ZoneNames(), (std::vector<std::string>{"青云", "Säntis"}));
    QCOMPARE(ini.ReadZone("青云").Server, std::string("h1"));
    QCOMPARE(ini.ReadZone("Säntis").Server, std::string("h2"));
    QVERIFY(ini.ValueProblem("Säntis").empty());
    TDbSettings s = ini.ReadZone("Säntis");
    s.Pwd = "密码";
    ini.SaveZone("Säntis", s);
    QCOMPARE(ReadAll(path).left(3), file.left(3));
    QCOMPARE(ini.ReadZone("Säntis").Pwd, std::string("密码"));
    QCOMPARE(ini.ZoneNames().size(), size_t(2));
  }
  // A GBK file cannot hold what GBK lacks: the field is named by the caller, nothing is written.
  WriteAll(path, kDefaultDbIni);
  QCOMPARE(QString::fromStdString(TDbIni(path.toStdString()).ValueProblem("Säntis")),
           QStringLiteral("含有GBK编码以外的字符"));
}

void DbIniSettingsTest::FailedSaveLeavesTheFileAsItWas_data() {
  QTest::addColumn<int>("change");
  QTest::newRow("new zone") << 0;
  QTest::newRow("zone updated") << 1;
  QTest::newRow("section DB") << 2;
}

// The disk fills up while the settings are saved: the file may grow by a few bytes only.
void DbIniSettingsTest::FailedSaveLeavesTheFileAsItWas() {
  QFETCH(int, change);
  QTemporaryDir dir;
  const QString path = dir.filePath("DB.ini");
  const QByteArray text = kDefaultDbIni +
                          "[z]\r\nareaname=z\r\nareaaddr=h1\r\nareaport=3306\r\nareacharset=0\r\n"
                          "areaacc=a1\r\nareachar=c1\r\narealog=l1\r\nareauid=u1\r\nareapwd=p1\r\n";
  WriteAll(path, text);
  TDbIni ini(path.toStdString());
  const std::string longer(20, 'x');
  TDbSettings s{"h" + longer, "3307",       1,   "a" + longer, "c" + longer, "l" + longer,
                "u" + longer, "p" + longer, true};
  const std::function<void()> saves[] = {[&] { ini.SaveZone("青云", s); }, [&] { ini.SaveZone("z", s); },
                                         [&] { ini.SaveDB(s); }};
  rlimit old{};
  QVERIFY(getrlimit(RLIMIT_FSIZE, &old) == 0);
  rlimit tight = old;
  tight.rlim_cur = static_cast<rlim_t>(text.size()) + 24;
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  QVERIFY(setrlimit(RLIMIT_FSIZE, &tight) == 0);
  bool refused = false;
  try {
    saves[change]();
  } catch (const EIniFileException&) {
    refused = true;
  }
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  QVERIFY(refused);
  QCOMPARE(ReadAll(path), text);
  QCOMPARE(ini.ZoneNames(), std::vector<std::string>{"z"});
}

QTEST_GUILESS_MAIN(DbIniSettingsTest)
#include "DbIniSettings_test.moc"
