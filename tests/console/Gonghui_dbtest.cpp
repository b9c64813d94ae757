// Guild management over the fixture zone: searches whose text is quoted whatever it holds,
// the guild and member editors writing what the server then holds, the emblem decoded, and
// dissolving a guild with its members.
#include <QBuffer>
#include <QImage>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QtTest>
#include <memory>

#include "GameZone.h"
#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "console/browsers/RowStillAsRead.h"
#include "console/browsers/Unit_usermanager.h"
#include "console/common/MyLoginConnection.h"
#include "console/controls/FlatBtns.h"
#include "console/frame/Unit1.h"
#include "console/frame/Unit2.h"
#include "console/guild/Unit_gonghui.h"
#include "console/guild/Unit_gonghui_edit.h"
#include "console/guild/Unit_gonghuicy_edit.h"
#include "platform/widgets/DBControls.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/FieldText.h"
#include "platform/widgets/UiRecorder.h"

class GonghuiDbTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();
  void GuildSearchQuotesTheText_data();
  void GuildSearchQuotesTheText();
  void SearchesReadTheTextInEitherBackslashMode_data();
  void SearchesReadTheTextInEitherBackslashMode();
  void GuildEditorPostsAndShowsTheEmblem();
  void MemberSearchSpansGuilds();
  void MemberEditsReachTheServer();
  void MenuOpensOneList();
  void EditorOverAnEmptyListAddsNoGuild();
  void MemberDeleteShowsTheOpenGuild();
  void NoMemberIsAddedOverAnEmptyList();
  void DissolveNeedsAGuildAndAYes();
  void DissolveRemovesMembersThenGuild_data();
  void DissolveRemovesMembersThenGuild();
  void DissolveSaysWhatTheServerDid_data();
  void DissolveSaysWhatTheServerDid();
  void MemberWritesMissANamesakeJoinedMeanwhile_data();
  void MemberWritesMissANamesakeJoinedMeanwhile();
  void MemberEditsNameTheMemberInEitherBackslashMode_data();
  void MemberEditsNameTheMemberInEitherBackslashMode();
  void TextsWrittenByTheGameMeanwhileAreNotOverwritten_data();
  void TextsWrittenByTheGameMeanwhileAreNotOverwritten();
  void LoginElsewhereClosesTheEarlierZonesWindows();
  void FailedReadsSayWhatFailedFirst_data();
  void FailedReadsSayWhatFailedFirst();

 private:
  std::unique_ptr<Tgonghui> List() {
    return std::make_unique<Tgonghui>(FLogin->MyConnection(), QStringLiteral("默认"));
  }
  std::string Value(const std::string& sql) { return FAdmin->Value(sql); }
  std::string T(const char* table) const { return "`" + FZone->Chr().toStdString() + "`." + table; }
  // Makes the guild whose ID is id current in the list.
  static void Select(Tgonghui& list, int id) { QVERIFY(list.qry1().Locate("ID", Variant(id), {})); }

  QMap<QString, QString> FInfo;
  std::unique_ptr<TGameZone> FZone;
  std::unique_ptr<TAdminSession> FAdmin;
  std::unique_ptr<TMyLoginConnection> FLogin;
  std::unique_ptr<TUiRecorder> FUi;
  std::unique_ptr<TUiServiceScope> FScope;
};

void GonghuiDbTest::initTestCase() {
  FInfo = ServerInfo();
  FZone = std::make_unique<TGameZone>(FInfo, QStringLiteral("gh_%1").arg(QCoreApplication::applicationPid()));
  QVERIFY(FZone->Load());
  FAdmin = std::make_unique<TAdminSession>(FInfo);
  FLogin = OpenLogin(FInfo, FZone->Chr().toStdString());
}

void GonghuiDbTest::init() {
  FUi = std::make_unique<TUiRecorder>();
  FScope = std::make_unique<TUiServiceScope>(*FUi);
}

void GonghuiDbTest::cleanup() {
  FScope.reset();
  FUi.reset();
}

void GonghuiDbTest::GuildSearchQuotesTheText_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<int>("rows");
  QTest::newRow("part of a GBK name") << QStringLiteral("云") << 1;
  QTest::newRow("quote") << QStringLiteral("a'b") << 0;
  QTest::newRow("injection") << QStringLiteral("x' OR '1'='1") << 0;
}

void GonghuiDbTest::GuildSearchQuotesTheText() {
  QFETCH(QString, text);
  auto list = List();
  QCOMPARE(list->qry1().RecordCount(), 3);
  list->edt1->setText(text);
  list->Search();
  QVERIFY(FUi->Messages().empty());
  QTEST(list->qry1().RecordCount(), "rows");
}

void GonghuiDbTest::SearchesReadTheTextInEitherBackslashMode_data() {
  QTest::addColumn<bool>("noBackslashEscapes");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("guilds");  // the IDs the guild search shows
  QTest::addColumn<int>("members");     // the rows the member search shows
  struct TCase {
    const char* Name;
    QString Text;
    const char* Guilds;
    int Members;
  };
  const TCase cases[] = {
      {"injection", QStringLiteral("x\\' OR 1=1 -- "), "", 0},
      {"backslash and quote", QStringLiteral("a\\'b"), "10", 1},
      {"backslash", QStringLiteral("a\\b"), "11", 1},
      {"backslash and quote inside", QStringLiteral("\\'"), "10", 1},
      {"GBK trail byte 0x5C", QStringLiteral("竹籠"), "", 1},
  };
  for (const bool off : {false, true})
    for (const TCase& c : cases)
      QTest::addRow("%s, %s", off ? "NO_BACKSLASH_ESCAPES" : "backslash escapes", c.Name)
          << off << c.Text << QString::fromLatin1(c.Guilds) << c.Members;
}

// Both searches find the names holding the text as typed, whichever way the session reads
// backslashes.
void GonghuiDbTest::SearchesReadTheTextInEitherBackslashMode() {
  QFETCH(bool, noBackslashEscapes);
  QFETCH(QString, text);
  QFETCH(QString, guilds);
  QFETCH(int, members);
  // a\'b, a\b and ab, as guilds and as members of guild 3: names of this test only.
  FAdmin->Exec("INSERT INTO " + T("t_union") +
               " (ID,Name) VALUES (10,UNHEX('615C2762')),(11,UNHEX('615C62')),(12,'ab')");
  FAdmin->Exec("INSERT INTO " + T("t_union_citizen") +
               " VALUES (3,UNHEX('615C2762'),'',0),(3,UNHEX('615C62'),'',0),(3,'ab','',0)");
  QStringList shown;
  int memberRows = -1;
  {
    TBackslashMode mode(FLogin->MyConnection(), noBackslashEscapes);
    auto list = List();
    list->edt1->setText(text);
    list->Search();
    for (list->qry1().First(); !list->qry1().Eof(); list->qry1().Next())
      shown << QString::number(list->qry1().FieldByName("ID")->AsInteger());
    list->RefreshGuilds();
    Select(*list, 1);
    if (Tgonghuicy_edit* editor = list->EditMembers()) {
      editor->edt1->setText(text);
      editor->Search();
      memberRows = editor->qry1().RecordCount();
    }
  }
  FAdmin->Exec("DELETE FROM " + T("t_union_citizen") + " WHERE UnionID=3");
  FAdmin->Exec("DELETE FROM " + T("t_union") + " WHERE ID>=10");
  QVERIFY(FUi->Messages().empty());
  QCOMPARE(shown.join(' '), guilds);
  QCOMPARE(memberRows, members);
}

void GonghuiDbTest::GuildEditorPostsAndShowsTheEmblem() {
  QImage emblem(24, 16, QImage::Format_RGB32);
  emblem.fill(Qt::red);
  QByteArray jpeg;
  QBuffer buffer(&jpeg);
  QVERIFY(emblem.save(&buffer, "JPG"));
  FAdmin->Exec("UPDATE " + T("t_union") + " SET IconData=X'" + jpeg.toHex().toStdString() + "' WHERE ID=2");
  const std::string name = Value("SELECT HEX(Name) FROM " + T("t_union") + " WHERE ID=2");
  auto list = List();
  Select(*list, 2);
  Tgonghui_edit* editor = list->EditGuild();
  QVERIFY(editor != nullptr);
  QCOMPARE(editor->dbimgIconData->Picture().size(), QSize(24, 16));
  QCOMPARE(editor->dbedtName->text(), QStringLiteral("白露堂"));
  editor->dbedtLevel->selectAll();
  QTest::keyClicks(editor->dbedtLevel, "7");
  editor->Commit();
  QCOMPARE(Value("SELECT Level FROM " + T("t_union") + " WHERE ID=2"), std::string("7"));
  // The GBK name went back as the bytes it was.
  QCOMPARE(Value("SELECT HEX(Name) FROM " + T("t_union") + " WHERE ID=2"), name);
  QCOMPARE(FUi->Messages().back().Args.Text, QStringLiteral("修改成功！"));
  // No guild, no editor.
  list->edt1->setText(QStringLiteral("无此工会"));
  list->Search();
  QVERIFY(list->EditGuild() == nullptr);
  QVERIFY(list->EditMembers() == nullptr);
  QCOMPARE(FUi->Messages().back().Args.Caption, QStringLiteral("错误"));
}

void GonghuiDbTest::MemberSearchSpansGuilds() {
  auto list = List();
  Select(*list, 1);
  Tgonghuicy_edit* members = list->EditMembers();
  QVERIFY(members != nullptr);
  QCOMPARE(members->qry1().RecordCount(), 4);
  members->edt1->setText(QStringLiteral("露"));  // 白露, of guild 2
  members->Search();
  QCOMPARE(members->qry1().RecordCount(), 1);
  QCOMPARE(members->qry1().FieldByName("UnionID")->AsInteger(), 2);
  members->edt1->setText(QStringLiteral("' OR ''='"));
  members->Search();
  QCOMPARE(members->qry1().RecordCount(), 0);
  QVERIFY(FUi->Messages().empty());
}

void GonghuiDbTest::MemberEditsReachTheServer() {
  auto list = List();
  Select(*list, 2);
  Tgonghuicy_edit* members = list->EditMembers();
  QVERIFY(members != nullptr);
  const int before = members->qry1().RecordCount();
  QVERIFY(members->qry1().Locate("official", Variant(4), {}));
  members->qry1().Edit();
  members->dbedtnickname->setText(QStringLiteral("长老"));
  members->Commit();
  QCOMPARE(Value("SELECT HEX(nickname) FROM " + T("t_union_citizen") + " WHERE UnionID=2 AND official=4"),
           std::string("B3A4C0CF"));
  // A delete answered yes leaves the guild's members on screen, even after a search.
  members->edt1->setText(QStringLiteral("云"));
  members->Search();
  members->RefreshMembers();
  QVERIFY(members->qry1().Locate("official", Variant(2), {}));
  FUi->Answer(TMsgResult::Yes);
  members->DeleteMember();
  QCOMPARE(Value("SELECT COUNT(*) FROM " + T("t_union_citizen") + " WHERE UnionID=2"),
           std::to_string(before - 1));
  QCOMPARE(members->qry1().RecordCount(), before - 1);
}

void GonghuiDbTest::EditorOverAnEmptyListAddsNoGuild() {
  const std::string table = FAdmin->Checksum(T("t_union"));
  auto list = List();
  Select(*list, 2);
  Tgonghui_edit* editor = list->EditGuild();
  QVERIFY(editor != nullptr);
  // The list moves on to no guild while the editor stays open; what is typed there is no guild.
  list->edt1->setText(QStringLiteral("无此工会"));
  list->Search();
  QTest::keyClicks(editor->dbedtName, "NewGuild");
  editor->Commit();
  QCOMPARE(FAdmin->Checksum(T("t_union")), table);
  QCOMPARE(FUi->Messages().back().Args.Text, QStringLiteral("没有选择工会无法进行编辑！"));
  list->RefreshGuilds();
  QCOMPARE(list->qry1().RecordCount(), 3);
}

void GonghuiDbTest::MemberDeleteShowsTheOpenGuild() {
  auto list = List();
  Select(*list, 1);
  Tgonghuicy_edit* members = list->EditMembers();
  QVERIFY(members != nullptr);
  const int guildMembers = members->qry1().RecordCount();
  // The list moves to guild 2; a member found by a search is deleted.
  Select(*list, 2);
  members->edt1->setText(QStringLiteral("白露"));
  members->Search();
  QCOMPARE(members->qry1().FieldByName("UnionID")->AsInteger(), 2);
  FUi->Answer(TMsgResult::Yes);
  members->DeleteMember();
  QCOMPARE(Value("SELECT COUNT(*) FROM " + T("t_union_citizen") + " WHERE name=X'B0D7C2B6'"),
           std::string("0"));
  // Shown again: the members of guild 1, which the editor was opened for.
  QCOMPARE(members->qry1().RecordCount(), guildMembers);
  for (members->qry1().First(); !members->qry1().Eof(); members->qry1().Next())
    QCOMPARE(members->qry1().FieldByName("UnionID")->AsInteger(), 1);
}

// Guild 3 has no members; a title typed into the empty editor is no member, on a server that
// fills in what a row leaves out as on one that refuses it.
void GonghuiDbTest::NoMemberIsAddedOverAnEmptyList() {
  const std::string mode = QueryValue(FLogin->Provider(), "SELECT @@SESSION.sql_mode");
  FLogin->Provider().ExecSQL("SET SESSION sql_mode=''");
  const std::string members = FAdmin->Checksum(T("t_union_citizen"));
  auto list = List();
  Select(*list, 3);
  Tgonghuicy_edit* editor = list->EditMembers();
  QVERIFY(editor != nullptr);
  QCOMPARE(editor->qry1().RecordCount(), 0);
  QTest::keyClicks(editor->dbedtnickname, "Elder");
  const bool committed = Guarded([&] { editor->Commit(); });
  FUi->Answer(TMsgResult::Yes);
  QTest::keyClicks(editor->dbedtnickname, "Elder");
  const bool deleted = Guarded([&] { editor->DeleteMember(); });
  FLogin->Provider().ExecSQL("SET SESSION sql_mode='" + mode + "'");
  QVERIFY(committed && deleted);
  QCOMPARE(FAdmin->Checksum(T("t_union_citizen")), members);
  QVERIFY(FUi->Messages().empty());
}

void GonghuiDbTest::DissolveNeedsAGuildAndAYes() {
  auto list = List();
  Select(*list, 1);
  FUi->Answer(TMsgResult::No);
  list->Dissolve();
  QCOMPARE(Value("SELECT COUNT(*) FROM " + T("t_union")), std::string("3"));
  QCOMPARE(FUi->Messages().size(), size_t(1));
  QCOMPARE(FUi->Messages()[0].Args.Default, TMsgResult::No);
  list->edt1->setText(QStringLiteral("无此工会"));
  list->Search();
  list->Dissolve();
  QCOMPARE(FUi->Messages().size(), size_t(2));
  QCOMPARE(FUi->Messages()[1].Args.Caption, QStringLiteral("错误"));
  QCOMPARE(Value("SELECT COUNT(*) FROM " + T("t_union")), std::string("3"));
}

void GonghuiDbTest::DissolveRemovesMembersThenGuild_data() {
  QTest::addColumn<int>("id");
  QTest::addColumn<int>("guildsLeft");
  QTest::newRow("guild with members") << 1 << 2;
  QTest::newRow("guild without members") << 3 << 1;
}

void GonghuiDbTest::DissolveRemovesMembersThenGuild() {
  QFETCH(int, id);
  const std::string others =
      Value("SELECT COUNT(*) FROM " + T("t_union_citizen") + " WHERE UnionID<>" + std::to_string(id));
  auto list = List();
  Select(*list, id);
  FUi->Answer(TMsgResult::Yes);
  list->Dissolve();
  QCOMPARE(FUi->Messages().back().Args.Text, QStringLiteral("解散工会成功！"));
  QCOMPARE(Value("SELECT COUNT(*) FROM " + T("t_union") + " WHERE ID=" + std::to_string(id)),
           std::string("0"));
  QCOMPARE(Value("SELECT COUNT(*) FROM " + T("t_union_citizen") + " WHERE UnionID=" + std::to_string(id)),
           std::string("0"));
  QCOMPARE(Value("SELECT COUNT(*) FROM " + T("t_union_citizen")), others);
  QFETCH(int, guildsLeft);
  QCOMPARE(list->qry1().RecordCount(), guildsLeft);
}

void GonghuiDbTest::DissolveSaysWhatTheServerDid_data() {
  QTest::addColumn<bool>("goneMeanwhile");
  QTest::addColumn<QString>("message");
  QTest::addColumn<int>("guildsLeft");
  // The game dissolved the guild after the list was read: nothing was dissolved now.
  QTest::newRow("guild gone meanwhile") << true << QStringLiteral("该工会已不存在，可能已被解散！") << 0;
  // The server refuses the guild's own row: its members are gone all the same.
  QTest::newRow("guild refused after its members")
      << false << QStringLiteral("该工会的成员已全部删除，但工会本身没有删除，请重新解散！") << 1;
}

void GonghuiDbTest::DissolveSaysWhatTheServerDid() {
  QFETCH(bool, goneMeanwhile);
  QFETCH(QString, message);
  QFETCH(int, guildsLeft);
  FAdmin->Exec("INSERT INTO " + T("t_union") + " (ID,Name) VALUES (50,'g50')");
  FAdmin->Exec("INSERT INTO " + T("t_union_citizen") + " (UnionID,name) VALUES (50,'m50a'),(50,'m50b')");
  const std::string others = Value("SELECT COUNT(*) FROM " + T("t_union_citizen") + " WHERE UnionID<>50");
  auto list = List();
  Select(*list, 50);
  if (goneMeanwhile)
    FAdmin->Exec("DELETE FROM " + T("t_union") + " WHERE ID=50");
  else
    FAdmin->Exec("CREATE TRIGGER " + T("union_kept") + " BEFORE DELETE ON " + T("t_union") +
                 " FOR EACH ROW SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT='kept'");
  FUi->Answer(TMsgResult::Yes);
  list->Dissolve();
  if (!goneMeanwhile) FAdmin->Exec("DROP TRIGGER " + T("union_kept"));
  const std::string guilds = Value("SELECT COUNT(*) FROM " + T("t_union") + " WHERE ID=50");
  const std::string members = Value("SELECT COUNT(*) FROM " + T("t_union_citizen") + " WHERE UnionID=50");
  FAdmin->Exec("DELETE FROM " + T("t_union") + " WHERE ID=50");
  FAdmin->Exec("DELETE FROM " + T("t_union_citizen") + " WHERE UnionID=50");
  QVERIFY2(FUi->Messages().back().Args.Text.startsWith(message),
           qPrintable(FUi->Messages().back().Args.Text));
  QCOMPARE(guilds, std::to_string(guildsLeft));
  QCOMPARE(members, std::string("0"));
  QCOMPARE(Value("SELECT COUNT(*) FROM " + T("t_union_citizen") + " WHERE UnionID<>50"), others);
}

void GonghuiDbTest::MemberWritesMissANamesakeJoinedMeanwhile_data() {
  QTest::addColumn<bool>("remove");
  QTest::addColumn<int>("guild");  // the namesake's
  QTest::newRow("delete, namesake in the same guild") << true << 50;
  QTest::newRow("title edit, namesake in another guild") << false << 51;
}

// "Bob" is shown; he leaves and "bob", whom the latin1 key takes for him, joins meanwhile.
void GonghuiDbTest::MemberWritesMissANamesakeJoinedMeanwhile() {
  QFETCH(bool, remove);
  QFETCH(int, guild);
  const std::string members = T("t_union_citizen");
  FAdmin->Exec("INSERT INTO " + T("t_union") + " (ID,Name) VALUES (50,'g50')");
  FAdmin->Exec("INSERT INTO " + members + " (UnionID,name,nickname) VALUES (50,'Bob','old')");
  auto list = List();
  Select(*list, 50);
  Tgonghuicy_edit* editor = list->EditMembers();
  QVERIFY(editor != nullptr);
  QCOMPARE(editor->qry1().FieldByName("name")->AsString(), std::string("Bob"));
  FAdmin->Exec("DELETE FROM " + members + " WHERE name='Bob'");
  FAdmin->Exec("INSERT INTO " + members + " (UnionID,name,nickname) VALUES (" + std::to_string(guild) +
               ",'bob','own')");
  FUi->Answer(TMsgResult::Yes);
  if (remove) {
    Guarded([&] { editor->DeleteMember(); });
  } else {
    editor->qry1().Edit();
    editor->dbedtnickname->setText(QStringLiteral("new"));
    Guarded([&] { editor->Commit(); });
  }
  const std::string held = Value("SELECT CONCAT(UnionID,' ',HEX(name),' ',nickname) FROM " + members +
                                 " WHERE UnionID IN (50,51)");
  FAdmin->Exec("DELETE FROM " + members + " WHERE UnionID IN (50,51)");
  FAdmin->Exec("DELETE FROM " + T("t_union") + " WHERE ID=50");
  QCOMPARE(held, std::to_string(guild) + " 626F62 own");
  QCOMPARE(
      FUi->Messages().back().Args.Text,
      QStringLiteral("该成员已变动（已退出工会，或其名字已属于另一条成员记录），没有修改！请刷新后重试。"));
}

void GonghuiDbTest::MemberEditsNameTheMemberInEitherBackslashMode_data() {
  QTest::addColumn<bool>("noBackslashEscapes");
  QTest::addColumn<bool>("namesake");  // the member shown leaves and a namesake joins meanwhile
  for (const bool off : {false, true}) {
    const char* mode = off ? "NO_BACKSLASH_ESCAPES" : "backslash escapes";
    QTest::addRow("%s, the member shown", mode) << off << false;
    QTest::addRow("%s, a namesake joined meanwhile", mode) << off << true;
  }
}

// A title edit of "A\'b" goes to that member, and misses "a\'b" who took his place, whichever way
// the session reads backslashes.
void GonghuiDbTest::MemberEditsNameTheMemberInEitherBackslashMode() {
  QFETCH(bool, noBackslashEscapes);
  QFETCH(bool, namesake);
  const std::string members = T("t_union_citizen");
  FAdmin->Exec("INSERT INTO " + T("t_union") + " (ID,Name) VALUES (52,'g52')");
  FAdmin->Exec("INSERT INTO " + members + " (UnionID,name,nickname) VALUES (52,UNHEX('415C2762'),'old')");
  {
    TBackslashMode mode(FLogin->MyConnection(), noBackslashEscapes);
    auto list = List();
    Select(*list, 52);
    Tgonghuicy_edit* editor = list->EditMembers();
    QVERIFY(editor != nullptr);
    if (namesake) {
      FAdmin->Exec("DELETE FROM " + members + " WHERE UnionID=52");
      FAdmin->Exec("INSERT INTO " + members + " (UnionID,name,nickname) VALUES (53,UNHEX('615C2762'),'own')");
    }
    editor->qry1().Edit();
    editor->dbedtnickname->setText(QStringLiteral("new"));
    Guarded([&] { editor->Commit(); });
  }
  const std::string held = Value("SELECT GROUP_CONCAT(UnionID,' ',HEX(name),' ',nickname) FROM " + members +
                                 " WHERE UnionID IN (52,53)");
  FAdmin->Exec("DELETE FROM " + members + " WHERE UnionID IN (52,53)");
  FAdmin->Exec("DELETE FROM " + T("t_union") + " WHERE ID=52");
  QCOMPARE(QString::fromStdString(held),
           QString::fromLatin1(namesake ? "53 615C2762 own" : "52 415C2762 new"));
  if (namesake)
    QCOMPARE(
        FUi->Messages().back().Args.Text,
        QStringLiteral("该成员已变动（已退出工会，或其名字已属于另一条成员记录），没有修改！请刷新后重试。"));
}

void GonghuiDbTest::TextsWrittenByTheGameMeanwhileAreNotOverwritten_data() {
  QTest::addColumn<QString>("column");
  QTest::addColumn<bool>("asTheWriteGoes");
  QTest::addColumn<bool>("byAMove");  // the guild list moves on instead of 确定修改
  QTest::addColumn<QString>("gameHex");
  QTest::newRow("bulletin, before the confirmation") << "Bulletin" << false << false << "6E6577";
  QTest::newRow("declaration, as the write goes") << "Enounce" << true << false << "6E6577";
  QTest::newRow("bulletin, a character its collation confuses") << "Bulletin" << true << false << "C1C0";
  QTest::newRow("bulletin, the list moves on") << "Bulletin" << false << true << "6E6577";
  QTest::newRow("title, before the confirmation") << "nickname" << false << false << "6E6577";
  QTest::newRow("title, a character its collation confuses") << "nickname" << true << false << "C1C0";
}

// The game writes a guild's or member's text while the editor shows it: the write finds no row and
// says so, nothing is written, the game master's text stays, and a confirmation again writes nothing
// either. The texts compare byte for byte: the game's latin1 columns take the GBK C0 C0 for C1 C0.
void GonghuiDbTest::TextsWrittenByTheGameMeanwhileAreNotOverwritten() {
  QFETCH(QString, column);
  QFETCH(bool, asTheWriteGoes);
  QFETCH(bool, byAMove);
  QFETCH(QString, gameHex);
  const bool member = column == "nickname";
  const std::string guilds = T("t_union"), members = T("t_union_citizen");
  const std::string table = member ? members : guilds;
  const std::string row = member ? " WHERE name='m60'" : " WHERE ID=60";
  const std::string others = FAdmin->Checksum(guilds) + FAdmin->Checksum(members);
  FAdmin->Exec("INSERT INTO " + guilds + " (ID,Name,Enounce,Bulletin) VALUES (60,'g60',X'C0C0',X'C0C0')");
  FAdmin->Exec("INSERT INTO " + members + " (UnionID,name,nickname) VALUES (60,'m60',X'C0C0')");
  const std::string stored = "SELECT HEX(" + column.toStdString() + ") FROM " + table + row;
  const std::string game =
      "UPDATE " + table + " SET " + column.toStdString() + "=X'" + gameHex.toStdString() + "'" + row;
  auto list = List();
  Select(*list, 60);
  Tgonghuicy_edit* memberEditor = member ? list->EditMembers() : nullptr;
  Tgonghui_edit* guildEditor = member ? nullptr : list->EditGuild();
  TMyQuery& q = member ? memberEditor->qry1() : list->qry1();
  if (asTheWriteGoes)
    q.BeforeUpdateExecute = [&](TCustomDADataSet*, TStatementTypes, TDAParams&) { FAdmin->Exec(game); };
  q.Edit();
  QWidget* typed = member                ? static_cast<QWidget*>(memberEditor->dbedtnickname)
                   : column == "Enounce" ? guildEditor->dbmmoEnounce
                                         : guildEditor->dbmmoBulletin;
  if (member) {
    memberEditor->dbedtnickname->setText(QStringLiteral("gm"));
  } else {
    static_cast<TDBMemo*>(typed)->selectAll();
    QTest::keyClicks(typed, "gm");
  }
  if (!asTheWriteGoes) FAdmin->Exec(game);
  for (int confirmation = 1; confirmation <= 2; ++confirmation) {
    if (byAMove)
      QVERIFY(!Guarded([&] { list->qry1().Locate("ID", Variant(1), {}); }));
    else if (member)
      memberEditor->Commit();
    else
      guildEditor->Commit();
    [&] {
      QCOMPARE(Value(stored), gameHex.toStdString());
      QCOMPARE(member ? memberEditor->dbedtnickname->text() : static_cast<TDBMemo*>(typed)->toPlainText(),
               QStringLiteral("gm"));
      if (!byAMove) QCOMPARE(FUi->Messages().back().Args.Text, ChangedSinceReadText());
    }();
  }
  q.BeforeUpdateExecute = nullptr;
  if (guildEditor != nullptr && !byAMove) {
    // Closing the editor discards the refused edit: the list moves on and writes nothing.
    guildEditor->close();
    QCOMPARE(list->qry1().State(), dsBrowse);
    const int other = std::stoi(Value("SELECT MIN(ID) FROM " + guilds + " WHERE ID<>60"));
    QVERIFY(Guarded([&] { Select(*list, other); }));
    QCOMPARE(Value(stored), gameHex.toStdString());
  }
  q.Cancel();
  list.reset();
  FAdmin->Exec("DELETE FROM " + members + " WHERE UnionID=60");
  FAdmin->Exec("DELETE FROM " + guilds + " WHERE ID=60");
  QCOMPARE(FUi->Messages().size(), size_t(2));
  QCOMPARE(FAdmin->Checksum(guilds) + FAdmin->Checksum(members), others);
}

void GonghuiDbTest::MenuOpensOneList() {
  {
    // Without the guild table the list is not made, and its half-made controls go cleanly.
    TMyLoginConnection log("");
    log.Open({FInfo["HOST"].toStdString(),
              FInfo["PORT"].toInt(),
              FInfo["NATIVE_USER"].toStdString(),
              FInfo["NATIVE_PASSWORD"].toStdString(),
              FZone->Log().toStdString(),
              {}});
    QVERIFY_THROWS_EXCEPTION(std::exception, Tgonghui(log.MyConnection(), QStringLiteral("默认")));
  }
  QTemporaryDir dir;
  FZone->WriteIni(dir.filePath("DB.ini"));
  TFormMain frame(&MakeMyLoginConnection, dir.filePath("DB.ini"));
  frame.show();
  QVERIFY(frame.Login()->ConnectAll());
  frame.OpenGuilds();
  frame.OpenGuilds();
  QCOMPARE(frame.MdiArea()->subWindowList().size(), 1);
  auto* list = qobject_cast<Tgonghui*>(frame.MdiArea()->subWindowList()[0]->widget());
  QVERIFY(list != nullptr);
  Tgonghuicy_edit* members = list->EditMembers();
  QVERIFY(members != nullptr);
  if (const QString shots = qEnvironmentVariable("DA_SCREENSHOT_DIR"); !shots.isEmpty()) {
    QVERIFY(frame.grab().save(QDir(shots).filePath("guild-list.png")));
    QVERIFY(members->grab().save(QDir(shots).filePath("guild-members.png")));
    Tgonghui_edit* editor = list->EditGuild();
    QVERIFY(editor != nullptr);
    QVERIFY(editor->grab().save(QDir(shots).filePath("guild-editor.png")));
  }
}

// After 重新登录 to another zone the guild list went on listing, refreshing and dissolving the
// earlier zone's guilds while the status bar named the new one. A login to other databases closes
// every window over the earlier login's connections (a browser opened from another and the SQL
// console too); the backup and merge windows, on connections of their own, stay.
void GonghuiDbTest::LoginElsewhereClosesTheEarlierZonesWindows() {
  TGameZone other(FInfo, QStringLiteral("gh2_%1").arg(QCoreApplication::applicationPid()));
  QVERIFY(other.Load());
  QTemporaryDir dir;
  const QString ini = dir.filePath("DB.ini");
  FZone->WriteIni(ini);
  TFormMain frame(&MakeMyLoginConnection, ini);
  frame.show();
  QVERIFY(frame.Login()->ConnectAll());
  frame.OpenGuilds();
  frame.OpenAccountBrowser();
  auto* accounts = frame.findChild<Tusermanager*>();
  QVERIFY(accounts != nullptr);
  accounts->OpenCharacters();
  frame.OpenSqlConsole();
  frame.OpenBackupWindow();
  frame.OpenMergeWindow();
  auto names = [&frame] {
    QStringList list;
    for (QMdiSubWindow* child : frame.MdiArea()->subWindowList()) list << child->widget()->objectName();
    list.sort();
    return list;
  };
  const QStringList all = {"bakdata", "bigset", "charmanager", "gonghui", "usermanager", "zqv2to1"};
  QCOMPARE(names(), all);
  // A login again to the same databases keeps them.
  frame.Relogin();
  QVERIFY(frame.Login()->ConnectAll());
  QCOMPARE(names(), all);
  const std::string guilds = FAdmin->Checksum(T("t_union"));
  other.WriteIni(ini);
  frame.Relogin();
  QVERIFY(frame.Login()->ConnectAll());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCOMPARE(names(), QStringList({"bakdata", "zqv2to1"}));
  frame.OpenGuilds();
  auto* list = frame.findChild<Tgonghui*>();
  QVERIFY(list != nullptr);
  const std::string id = list->CurrentId();
  FUi->Answer(TMsgResult::Yes);
  list->Dissolve();
  QCOMPARE(FAdmin->Value("SELECT COUNT(*) FROM `" + other.Chr().toStdString() + "`.t_union WHERE ID=" + id),
           std::string("0"));
  QCOMPARE(FAdmin->Checksum(T("t_union")), guilds);
}

void GonghuiDbTest::FailedReadsSayWhatFailedFirst_data() {
  QTest::addColumn<QString>("read");
  QTest::addColumn<QString>("table");  // renamed away before the read
  QTest::newRow("刷新") << "refresh"
                        << "t_union";
  QTest::newRow("编辑成员") << "members"
                            << "t_union_citizen";
  QTest::newRow("the menu") << "menu"
                            << "t_union";
}

// A read of the guild windows that failed showed the server's English text alone: the window's
// own sentence now comes first, the server's text after it.
void GonghuiDbTest::FailedReadsSayWhatFailedFirst() {
  QFETCH(QString, read);
  QFETCH(QString, table);
  const std::string name = table.toStdString();
  QTemporaryDir dir;
  FZone->WriteIni(dir.filePath("DB.ini"));
  TFormMain frame(&MakeMyLoginConnection, dir.filePath("DB.ini"));
  frame.show();
  QVERIFY(frame.Login()->ConnectAll());
  if (read != "menu") frame.OpenGuilds();
  auto* list = frame.findChild<Tgonghui*>();
  FAdmin->Exec("RENAME TABLE " + T(name.c_str()) + " TO " + T((name + "_away").c_str()));
  FUi->ClearRecord();
  if (read == "refresh")
    emit list->Button5->clicked();
  else if (read == "members")
    QCOMPARE(list->EditMembers(), nullptr);
  else
    frame.OpenGuilds();
  FAdmin->Exec("RENAME TABLE " + T((name + "_away").c_str()) + " TO " + T(name.c_str()));
  QCOMPARE(FUi->Messages().size(), size_t(1));
  const TMessageBoxArgs& box = FUi->Messages()[0].Args;
  QCOMPARE(
      box.Text,
      QStringLiteral("查询失败，请检查网络连接！\n\rTable '%1.%2' doesn't exist").arg(FZone->Chr(), table));
  QCOMPARE(box.Caption, QStringLiteral("错误"));
  QCOMPARE(frame.MdiArea()->subWindowList().size(), read == "menu" ? 0 : 1);
}

QTEST_MAIN(GonghuiDbTest)
#include "Gonghui_dbtest.moc"
