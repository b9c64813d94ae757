#include "components/MyDump.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <functional>
#include <map>
#include <optional>

#include "components/MyAccess.h"
#include "components/MyAccessCommand.h"
#include "components/MyAccessConnection.h"
#include "components/MyRowReader.h"
#include "components/MyScript.h"
#include "core/DAConsts.h"
#include "mysql/MyClasses.h"
#include "mysql/MyFieldValues.h"
#include "mysql/MyParser.h"
#include "mysql/MySQLConnection.h"
#include "mysql/MySqlTypes.h"
#include "platform/runtime/DateTimeUtils.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Format.h"
#include "platform/runtime/LocaleCompare.h"

namespace {

// A statement of the extended INSERT ends once it would grow past this many characters.
constexpr int64_t kExtendedInsertSize = 16384;

// The server's "There is no such grant defined for user": SHOW GRANTS for an account it no
// longer knows.
constexpr int kNoSuchGrant = 1141;

// How a column's values are written.
enum class TValueKind : uint8_t { Number, Text, Bytes, Bit };

bool IsNumberColumn(uint8_t type) {
  switch (type) {
    case mftDecimal:
    case mftTiny:
    case mftShort:
    case mftLong:
    case mftFloat:
    case mftDouble:
    case mftLongLong:
    case mftInt24:
    case mftYear:
    case mftNewDecimal:
      return true;
    default:
      return false;
  }
}

TValueKind KindOf(const TMySQLFieldDesc& f) {
  switch (f.DataType) {
    case dtUInt64:
      return f.MySQLType == mftBit ? TValueKind::Bit : TValueKind::Number;
    case dtBytes:
    case dtVarBytes:
    case dtExtVarBytes:
      return TValueKind::Bytes;
    case dtBlob:
      // Text of a binary collation is text: the server converts it like any other.
      return f.CharsetNr == BinaryCharsetNr ? TValueKind::Bytes : TValueKind::Text;
    default:
      return IsNumberColumn(f.MySQLType) ? TValueKind::Number : TValueKind::Text;
  }
}

// The name in back quotes, whole (a point is part of it), inner back quotes doubled. A trail byte
// that looks like a back quote belongs to its character and is left alone.
std::string QuoteWhole(std::string_view name, TCharsetKind charset) {
  std::string out = "`";
  const char* end = name.data() + name.size();
  for (const char* p = name.data(); p < end;) {
    const size_t n = MbCharLen(charset, p, end);
    if (n == 1 && *p == '`') out.push_back('`');
    out.append(p, n);
    p += n;
  }
  out.push_back('`');
  return out;
}

void AppendHex(std::string& out, std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  out += "0x";
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 15]);
  }
}

// A name shown in a "-- " comment line: a line break inside it would end the comment, and what
// follows would run as a statement at the restore.
std::string CommentText(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return text;
}

struct TTableRef {
  std::string Database;  // empty: the connection's
  std::string Name;
  bool IsView = false;
};

// A name as a statement writes it, [database .] name, each part plain or in back quotes: the byte
// range of the whole, where its own part starts, and the database part unquoted.
struct TWrittenName {
  size_t Begin = 0;
  size_t NameBegin = 0;
  size_t End = 0;
  bool Qualified = false;
  std::string Database;
};

// What a CREATE TRIGGER, VIEW, PROCEDURE, FUNCTION or EVENT makes: the kind (upper case), the
// object's name and, for a trigger, its table's.
struct TCreatedObject {
  std::string Kind;
  TWrittenName Object;
  TWrittenName Table;
};

struct TLexeme {
  int Code;
  std::string Text;
  size_t Begin, End;
  bool Quoted;
};

// The lexemes that name what a CREATE statement makes come within its first few.
constexpr size_t kCreateHeadLexemes = 200;

// The first significant lexemes of the text (blanks and comments left out, what an executable
// comment "/*!50003 ... */" or "/*M!100100 ... */" holds read as the server runs it), with their
// places offset by `offset`; at most kCreateHeadLexemes of them.
void HeadLexemes(const std::string& text, size_t offset, TCharsetKind charset, bool noBackslashEscapes,
                 bool inComment, std::vector<TLexeme>& out) {
  TMyParser parser(text, charset);
  parser.OmitBlank = false;
  parser.KeepStringQuotes = true;
  parser.NoBackslashEscapes = noBackslashEscapes;
  std::string lexem;
  for (int code = parser.GetNext(lexem); code != lcEnd && out.size() < kCreateHeadLexemes;
       code = parser.GetNext(lexem)) {
    if (code == lcBlank) continue;
    const auto begin = static_cast<size_t>(parser.GetPrevPos());
    if (code == lcComment) {
      if (inComment || !(lexem.rfind("/*!", 0) == 0 || lexem.rfind("/*M!", 0) == 0)) continue;
      size_t mark = lexem.find('!') + 1;
      while (mark < lexem.size() && std::isdigit(static_cast<unsigned char>(lexem[mark]))) ++mark;
      const size_t close = lexem.size() >= mark + 2 && lexem.compare(lexem.size() - 2, 2, "*/") == 0 ? 2 : 0;
      HeadLexemes(lexem.substr(mark, lexem.size() - mark - close), offset + begin + mark, charset,
                  noBackslashEscapes, true, out);
      continue;
    }
    const bool quoted = code == lcString || (code == lcIdent && !lexem.empty() && lexem[0] == '`');
    if (!quoted)
      for (char& c : lexem)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    out.push_back(
        {code, std::move(lexem), offset + begin, offset + static_cast<size_t>(parser.GetCurrPos()), quoted});
  }
}

// Whether the statement's first word is CREATE (also inside an executable comment): a cheap look
// before the statement is read more closely.
bool StartsWithCreate(std::string_view text) {
  size_t at = 0;
  while (at < text.size()) {
    const char c = text[at];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++at;
    } else if (text.substr(at, 3) == "/*!" || text.substr(at, 4) == "/*M!") {
      at = text.find('!', at) + 1;
      while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
    } else if (text.substr(at, 2) == "/*") {
      const size_t end = text.find("*/", at + 2);
      at = end == std::string_view::npos ? text.size() : end + 2;
    } else if (c == '#' || (text.substr(at, 2) == "--" &&
                            (at + 2 == text.size() || static_cast<unsigned char>(text[at + 2]) <= ' '))) {
      const size_t end = text.find('\n', at);
      at = end == std::string_view::npos ? text.size() : end + 1;
    } else {
      break;
    }
  }
  if (text.size() - at < 6) return false;
  for (size_t i = 0; i < 6; ++i)
    if (std::toupper(static_cast<unsigned char>(text[at + i])) != "CREATE"[i]) return false;
  return text.size() - at == 6 ||
         !(std::isalnum(static_cast<unsigned char>(text[at + 6])) || text[at + 6] == '_');
}

std::optional<TCreatedObject> CreatedObject(const std::string& text, TCharsetKind charset,
                                            bool noBackslashEscapes) {
  std::vector<TLexeme> lexemes;
  HeadLexemes(text, 0, charset, noBackslashEscapes, false, lexemes);
  size_t i = 0;
  auto word = [&](size_t at) -> std::string {
    if (at >= lexemes.size() || lexemes[at].Quoted || lexemes[at].Code == lcNumber) return {};
    const std::string& t = lexemes[at].Text;
    const auto first = t.empty() ? 0 : static_cast<unsigned char>(t[0]);
    return std::isalpha(first) || first == '_' || first >= 0x80 ? t : std::string();
  };
  auto symbol = [&](size_t at, char c) {
    return at < lexemes.size() && !lexemes[at].Quoted && lexemes[at].Text.size() == 1 &&
           lexemes[at].Text[0] == c;
  };
  auto isName = [&](size_t at) {
    return at < lexemes.size() && lexemes[at].Code != lcString && lexemes[at].Code != lcNumber &&
           (lexemes[at].Quoted || !word(at).empty());
  };
  auto unquoted = [&](size_t at) {
    const std::string& t = lexemes[at].Text;
    if (!lexemes[at].Quoted) return text.substr(lexemes[at].Begin, lexemes[at].End - lexemes[at].Begin);
    std::string name;
    for (size_t k = 1; k + 1 < t.size(); ++k) {
      name.push_back(t[k]);
      if (t[k] == '`' && k + 2 < t.size() && t[k + 1] == '`') ++k;
    }
    return name;
  };
  auto readName = [&](TWrittenName& name) {
    if (!isName(i)) return false;
    name.Begin = name.NameBegin = lexemes[i].Begin;
    name.End = lexemes[i].End;
    if (symbol(i + 1, '.') && isName(i + 2)) {
      name.Qualified = true;
      name.Database = unquoted(i);
      name.NameBegin = lexemes[i + 2].Begin;
      name.End = lexemes[i + 2].End;
      i += 3;
    } else {
      ++i;
    }
    return true;
  };
  if (word(i++) != "CREATE") return std::nullopt;
  TCreatedObject created;
  // OR REPLACE, DEFINER = user@host, ALGORITHM = ..., SQL SECURITY ..., AGGREGATE before the kind.
  static const char* const kClauseWords[] = {
      "OR",  "REPLACE",  "DEFINER", "ALGORITHM", "UNDEFINED",    "MERGE",       "TEMPTABLE",
      "SQL", "SECURITY", "INVOKER", "AGGREGATE", "CURRENT_USER", "CURRENT_ROLE"};
  for (;; ++i) {
    if (i >= lexemes.size()) return std::nullopt;
    const std::string w = word(i);
    if (w == "TRIGGER" || w == "VIEW" || w == "PROCEDURE" || w == "FUNCTION" || w == "EVENT") {
      created.Kind = w;
      ++i;
      break;
    }
    const bool clause = !w.empty() && std::find(std::begin(kClauseWords), std::end(kClauseWords), w) !=
                                          std::end(kClauseWords);
    const bool account = lexemes[i].Quoted || (!w.empty() && (symbol(i - 1, '=') || symbol(i - 1, '@')));
    if (!clause && !account && !symbol(i, '=') && !symbol(i, '@') && !symbol(i, '(') && !symbol(i, ')'))
      return std::nullopt;
  }
  if (word(i) == "IF" && word(i + 1) == "NOT" && word(i + 2) == "EXISTS") i += 3;
  if (!readName(created.Object)) return std::nullopt;
  if (created.Kind == "TRIGGER") {
    // BEFORE | AFTER, the events, then ON and the table.
    while (i < lexemes.size() && word(i) != "ON" && (!word(i).empty() || symbol(i, ','))) ++i;
    if (word(i) != "ON") return std::nullopt;
    ++i;
    if (!readName(created.Table)) return std::nullopt;
  }
  return created;
}

}  // namespace

void TMyDumpOptions::Assign(TPersistent* source) {
  TDADumpOptions::Assign(source);
  if (auto* other = dynamic_cast<TMyDumpOptions*>(source)) {
    AddLock = other->AddLock;
    DisableKeys = other->DisableKeys;
    HexBlob = other->HexBlob;
    UseExtSyntax = other->UseExtSyntax;
    UseDelayedIns = other->UseDelayedIns;
  }
}

// One backup: the session settings it pinned and what it writes.
class TMyDump::TRun {
 public:
  TRun(TMyDump& dump, TCustomMyConnection& connection, TStream& stream);
  // Gives the session its time zone back; never throws.
  ~TRun();
  void Write();

 private:
  void WriteSections();
  void Header();
  void SetLines();
  void DatabaseSection();
  void UsersSection();
  // The routines to write (name, PROCEDURE or FUNCTION); a name asked for that the database does
  // not hold is refused before anything is written.
  std::vector<std::pair<std::string, std::string>> RoutineList();
  void RoutinesSection();
  void TablesSection();
  std::vector<TTableRef> TableList();
  bool IsViewIn(const std::string& database, const std::string& name);
  // Orders the views so that each comes after the views it reads.
  void OrderViews(std::vector<TTableRef>::iterator first, std::vector<TTableRef>::iterator last);
  static bool ViewReads(const std::string& definition, const std::string& qualified);
  void Table(const TTableRef& ref, int index, int count);
  void Triggers(const TTableRef& ref);
  // Refuses (before anything is written) a text column whose set the session cannot hold.
  void CheckColumnCharsets(const std::vector<TTableRef>& tables);
  void Data(const TTableRef& ref, const std::string& t, int index, int count);
  // The columns a restore can write, quoted and joined, when SELECT * would not give exactly them
  // (generated columns take no value, invisible ones are left out of *), and what reads them when
  // * would not read them exactly; each empty otherwise.
  struct TColumns {
    std::string Written;
    std::string Read;
  };
  TColumns WrittenColumns(const TTableRef& ref);
  // The rows written; opening runs before the first.
  int64_t Rows(const std::string& t, const TColumns& columns, int index, int count, int64_t rows,
               const std::function<void()>& opening);
  void AppendRow(std::string& line, TMyRowReader& reader, const std::vector<TValueKind>& kinds);
  void AppendText(std::string& line, std::string_view text);
  void Progress(const std::string& name, int index, int count, int percent);
  // The first row's value; with sessionBytes text keeps the session's bytes (the file's, as the
  // SET NAMES line says) even under Unicode.
  std::string One(const std::string& sql, int column = 0, bool sessionBytes = false);
  // Text of the server (ANSI under Unicode) as the file holds it.
  std::string ToFile(std::string text) const { return FUnicode ? AnsiToUtf8(text) : text; }
  std::string Quote(const std::string& name) const { return QuoteWhole(name, FStatementCharset); }
  void Msg(int id, std::initializer_list<FormatArg> args) { FWriter.Lines(ToFile(MessageFmt(id, args))); }
  // A statement the server wrote (SHOW CREATE ...) keeps its own line ends: a line feed in a
  // string, a comment or a routine body is part of what it makes.
  void ServerText(const std::string& text) {
    FWriter.Append(text);
    FWriter.EndLine();
  }

  TMyDump& FDump;
  TCustomMyConnection& FConnection;
  TMySQLConnection& FSession;
  TMyDumpOptions& FOptions;
  TDumpWriter FWriter;
  bool FUnicode;
  TCharsetKind FStatementCharset;  // of statements sent and names read
  TCharsetKind FFileCharset;       // of the file's text
  std::string FCharsetName;
  std::string FOldTimeZone, FOldSqlMode, FOldQuoteShowCreate;
  bool FSettingsPinned = false;
  int FMajor = 0, FMinor = 0, FRelease = 0;
  std::map<std::string, std::map<std::string, bool>> FViews;  // database -> name -> is a view
  std::vector<TTableRef> FTables;
  std::vector<std::pair<std::string, std::string>> FRoutines;
  std::string FEscaped;  // scratch for escaping
};

TMyDump::TRun::TRun(TMyDump& dump, TCustomMyConnection& connection, TStream& stream)
    : FDump(dump),
      FConnection(connection),
      FSession(*connection.MyIConnection()),
      FOptions(dump.Options()),
      FWriter(stream),
      FUnicode(connection.Options().UseUnicode()),
      FStatementCharset(connection.StatementCharset()),
      FFileCharset(FSession.GetTextCharset()) {
  ParseMySQLVersion(FSession.GetServerVersion(), FMajor, FMinor, FRelease);
  // The set of the bytes read (and of the statements the file holds): the SET NAMES line says it.
  FCharsetName = One("SELECT COALESCE(@@character_set_results, @@character_set_client)");
  FFileCharset = CharsetKindByName(FCharsetName);
  // TIMESTAMP values are read and written in one fixed zone, so that a restore elsewhere gives
  // the same instants. The server writes SHOW CREATE texts as the session's sql_mode says: under
  // ANSI_QUOTES names come in double quotes, which the file's own mode reads as strings, and
  // modes such as NO_TABLE_OPTIONS or ORACLE leave out the engine and the character sets. The
  // run reads them under the plain mode, with every name in back quotes.
  {
    TMyRowReader reader(FConnection, FDump.CommandTimeout);
    reader.Open("SELECT @@SESSION.time_zone, @@SESSION.sql_mode, @@SESSION.sql_quote_show_create");
    if (reader.Next()) {
      FOldTimeZone = reader.Value(0);
      FOldSqlMode = reader.Value(1);
      FOldQuoteShowCreate = reader.Value(2);
    }
  }
  FSession.ExecSQL("SET SESSION TIME_ZONE='+00:00', SQL_MODE='', SQL_QUOTE_SHOW_CREATE=1");
  FSettingsPinned = true;
}

TMyDump::TRun::~TRun() {
  try {
    if (FSettingsPinned && FSession.GetMySQL() != nullptr) {
      // The plain mode is still on: the quotes are read with backslash escapes.
      FSession.ExecSQL("SET SESSION TIME_ZONE=" + QuoteString(FOldTimeZone, FStatementCharset) +
                       ", SQL_QUOTE_SHOW_CREATE=" + (FOldQuoteShowCreate == "0" ? "0" : "1") +
                       ", SQL_MODE=" + QuoteString(FOldSqlMode, FStatementCharset));
    }
  } catch (...) {
    // The session keeps the run's settings; the next connect resets them.
  }
}

std::string TMyDump::TRun::One(const std::string& sql, int column, bool sessionBytes) {
  TMyRowReader reader(FConnection, FDump.CommandTimeout);
  reader.SetSessionBytes(sessionBytes);
  reader.Open(sql);
  if (!reader.Next() || column >= reader.FieldCount()) return {};
  return reader.Value(column);
}

void TMyDump::TRun::Progress(const std::string& name, int index, int count, int percent) {
  FDump.CheckStopped();
  if (FDump.OnBackupProgress) FDump.OnBackupProgress(&FDump, name, index, count, percent);
  FDump.CheckStopped();
}

void TMyDump::TRun::Write() {
  try {
    WriteSections();
  } catch (...) {
    // What was made so far stays in the stream.
    try {
      FWriter.Flush();
    } catch (...) {
      // The stream itself failed: the first error is the one to report.
    }
    throw;
  }
  FWriter.Flush();
}

void TMyDump::TRun::WriteSections() {
  const TMyDumpObjects objects = FDump.Objects;
  if ((objects & (doTables | doData)) != 0) {
    FTables = TableList();
    if ((objects & doData) != 0) CheckColumnCharsets(FTables);
  }
  if ((objects & doStoredProcs) != 0) FRoutines = RoutineList();
  if (FOptions.GenerateHeader) Header();
  SetLines();
  if ((objects & doDatabase) != 0) DatabaseSection();
  if ((objects & doUsers) != 0) UsersSection();
  if ((objects & doStoredProcs) != 0) RoutinesSection();
  if ((objects & (doTables | doData)) != 0) {
    TablesSection();
    FWriter.Line("/*!40014 SET FOREIGN_KEY_CHECKS=@OLD_FOREIGN_KEY_CHECKS */;");
  }
  FWriter.Line("/*!40103 SET TIME_ZONE=@OLD_TIME_ZONE */;");
  FWriter.Line("/*!40101 SET SQL_MODE=@OLD_SQL_MODE */;");
  FWriter.Line("/*!40101 SET CHARACTER_SET_CLIENT=@OLD_CHARACTER_SET_CLIENT */;");
  FWriter.Line("/*!40101 SET CHARACTER_SET_RESULTS=@OLD_CHARACTER_SET_RESULTS */;");
  FWriter.Line("/*!40101 SET COLLATION_CONNECTION=@OLD_COLLATION_CONNECTION */;");
}

void TMyDump::TRun::Header() {
  Msg(SDumpHeader,
      {MyDumpLibraryVersion, FSession.GetServerVersion(), FConnection.GetClientVersion(),
       DateTimeToStr(Now()), CommentText(FConnection.Server()), CommentText(FConnection.Database())});
}

void TMyDump::TRun::SetLines() {
  FWriter.Line("/*!40101 SET @OLD_CHARACTER_SET_CLIENT=@@CHARACTER_SET_CLIENT */;");
  FWriter.Line("/*!40101 SET @OLD_CHARACTER_SET_RESULTS=@@CHARACTER_SET_RESULTS */;");
  FWriter.Line("/*!40101 SET @OLD_COLLATION_CONNECTION=@@COLLATION_CONNECTION */;");
  FWriter.Line("/*!40101 SET NAMES " + FCharsetName + " */;");
  // A stored 0 in an AUTO_INCREMENT column stays 0 instead of taking the next number.
  FWriter.Line("/*!40101 SET @OLD_SQL_MODE=@@SQL_MODE, SQL_MODE='NO_AUTO_VALUE_ON_ZERO' */;");
  FWriter.Line("/*!40103 SET @OLD_TIME_ZONE=@@TIME_ZONE */;");
  FWriter.Line("/*!40103 SET TIME_ZONE='+00:00' */;");
  if ((FDump.Objects & (doTables | doData)) != 0)
    FWriter.Line("/*!40014 SET @OLD_FOREIGN_KEY_CHECKS=@@FOREIGN_KEY_CHECKS, FOREIGN_KEY_CHECKS=0 */;");
}

void TMyDump::TRun::DatabaseSection() {
  const std::string db = ToFile(Quote(FConnection.Database()));
  if (FOptions.GenerateHeader) Msg(SDumpDatabaseHeader, {CommentText(db)});
  if (FOptions.AddDrop) {
    FWriter.Line("USE mysql;");
    FWriter.Line("DROP DATABASE IF EXISTS " + db + ";");
  }
  // The database's own character set and collation: routines made in it and tables made later
  // without a set of their own take them.
  const std::string charset =
      One("SELECT CONCAT(DEFAULT_CHARACTER_SET_NAME, ' COLLATE ', DEFAULT_COLLATION_NAME) FROM "
          "information_schema.SCHEMATA WHERE SCHEMA_NAME = " +
          QuoteString(FConnection.Database(), FStatementCharset));
  FWriter.Line("CREATE DATABASE " + db +
               (charset.empty() ? std::string() : " /*!40100 DEFAULT CHARACTER SET " + charset + " */") +
               ";");
  if (FOptions.AddDrop) FWriter.Line("USE " + db + ";");
  FWriter.Line("");
}

void TMyDump::TRun::UsersSection() {
  if (FOptions.GenerateHeader) Msg(SDumpUsersHeader, {});
  std::vector<std::string> entries;
  {
    TMyRowReader reader(FConnection, FDump.CommandTimeout);
    reader.Open("SELECT * FROM mysql.user");
    const int user = reader.FieldIndex("User"), host = reader.FieldIndex("Host");
    const int role = reader.FieldIndex("is_role");
    if (user < 0 || host < 0) throw EDatabaseError("mysql.user has no User and Host columns");
    while (reader.Next()) {
      // Roles have no login and no SHOW GRANTS of a user.
      if (role >= 0 && reader.Value(role) == "Y") continue;
      entries.push_back(Quote(reader.Value(user)) + "@" + Quote(reader.Value(host)));
    }
  }
  for (const std::string& entry : entries) {
    FDump.CheckStopped();
    std::vector<std::string> grants;
    try {
      grants = TMyRowReader::FirstColumn(FConnection, "SHOW GRANTS FOR " + entry, FDump.CommandTimeout);
    } catch (const EDAError& e) {
      // An account dropped after the list was read is no longer there to back up.
      if (e.ErrorCode != kNoSuchGrant) throw;
    }
    // Kept byte for byte: a line break belongs to a quoted name.
    for (const std::string& grant : grants) ServerText(ToFile(grant) + ";");
  }
  FWriter.Line("");
}

std::vector<std::pair<std::string, std::string>> TMyDump::TRun::RoutineList() {
  std::vector<std::pair<std::string, std::string>> routines;
  const TStringList& wanted = FDump.FStoredProcNames;
  TStringList found;  // compares as the list of names asked for does
  TMyRowReader reader(FConnection, FDump.CommandTimeout);
  reader.Open(
      "SELECT ROUTINE_NAME, ROUTINE_TYPE FROM information_schema.routines WHERE ROUTINE_SCHEMA = "
      "DATABASE() "
      "ORDER BY ROUTINE_NAME, ROUTINE_TYPE");
  while (reader.Next()) {
    const std::string name = reader.Value(0);
    if (wanted.Count() > 0 && wanted.IndexOf(name) < 0) continue;
    found.Add(name);
    routines.emplace_back(name, reader.Value(1));
  }
  // A backup without a routine asked for by name would pass for a whole one.
  for (int i = 0; i < wanted.Count(); ++i)
    if (found.IndexOf(wanted[i]) < 0)
      throw EDatabaseError(Format("The routine %s does not exist", {Quote(wanted[i])}));
  return routines;
}

void TMyDump::TRun::RoutinesSection() {
  const std::vector<std::pair<std::string, std::string>>& routines = FRoutines;
  const int count = static_cast<int>(routines.size());
  for (int i = 0; i < count; ++i) {
    const auto& [name, kind] = routines[static_cast<size_t>(i)];
    const std::string n = Quote(name);
    Progress(n, i, count, 0);
    if (FOptions.GenerateHeader) Msg(SDumpStoredProcHeader, {CommentText(ToFile(n))});
    TMyRowReader reader(FConnection, FDump.CommandTimeout);
    reader.SetSessionBytes(true);
    reader.Open("SHOW CREATE " + kind + " " + n);
    // Without the right to read it the server shows the routine with no text.
    if (!reader.Next() || reader.FieldCount() < 3 || reader.IsNull(2))
      throw EDatabaseError(Format("The text of %s %s cannot be read", {kind, name}));
    // A routine keeps the SQL mode it was made under (strictness, how its text reads): the restore
    // makes it under that mode, not under the file's.
    FWriter.Line("/*!50003 SET SQL_MODE=" + ToFile(QuoteString(reader.Value(1), FStatementCharset)) + " */;");
    FWriter.Line("DELIMITER $$");
    if (FOptions.AddDrop) FWriter.Line("DROP " + kind + " IF EXISTS " + ToFile(n) + " $$");
    // The delimiter on a line of its own: the text may end in a line comment.
    ServerText(reader.Value(2));
    FWriter.Line("$$");
    FWriter.Line("DELIMITER ;");
    FWriter.Line("/*!50003 SET SQL_MODE='NO_AUTO_VALUE_ON_ZERO' */;");
    FWriter.Line("");
    FWriter.Line("");
  }
}

bool TMyDump::TRun::IsViewIn(const std::string& database, const std::string& name) {
  auto it = FViews.find(database);
  if (it == FViews.end()) {
    std::map<std::string, bool> kinds;
    TMyRowReader reader(FConnection, FDump.CommandTimeout);
    reader.Open(database.empty() ? "SHOW FULL TABLES" : "SHOW FULL TABLES FROM " + Quote(database));
    while (reader.Next()) kinds[reader.Value(0)] = reader.Value(1) == "VIEW";
    it = FViews.emplace(database, std::move(kinds)).first;
  }
  const auto found = it->second.find(name);
  return found != it->second.end() && found->second;
}

std::vector<TTableRef> TMyDump::TRun::TableList() {
  std::vector<TTableRef> tables;
  const TStringList& names = FDump.TableNameList();
  if (names.Count() == 0) {
    IsViewIn({}, {});
    for (const auto& [name, view] : FViews[std::string()]) tables.push_back({{}, name, view});
  } else {
    for (int i = 0; i < names.Count(); ++i) {
      TTableRef ref;
      SplitObjectName(names[i], ref.Database, ref.Name, FStatementCharset);
      if (ref.Database == FConnection.Database()) ref.Database.clear();
      ref.IsView = IsViewIn(ref.Database, ref.Name);
      tables.push_back(std::move(ref));
    }
  }
  // Views last: a view can only be made once the tables it reads exist.
  const auto views =
      std::stable_partition(tables.begin(), tables.end(), [](const TTableRef& t) { return !t.IsView; });
  OrderViews(views, tables.end());
  return tables;
}

// The server names what a view reads with its database: `db`.`name`, followed by a point and a
// column or by other text, never by another back quote (that would be a longer name).
bool TMyDump::TRun::ViewReads(const std::string& definition, const std::string& qualified) {
  for (size_t at = definition.find(qualified); at != std::string::npos;
       at = definition.find(qualified, at + 1)) {
    const size_t after = at + qualified.size();
    if (after >= definition.size() || definition[after] != '`') return true;
  }
  return false;
}

void TMyDump::TRun::OrderViews(std::vector<TTableRef>::iterator first,
                               std::vector<TTableRef>::iterator last) {
  const size_t count = static_cast<size_t>(last - first);
  if (count < 2) return;
  const std::string current = One("SELECT DATABASE()");
  std::vector<std::string> definitions, qualified;
  for (auto it = first; it != last; ++it) {
    const std::string db = it->Database.empty() ? current : it->Database;
    definitions.push_back(One("SELECT VIEW_DEFINITION FROM information_schema.VIEWS WHERE TABLE_SCHEMA = " +
                              QuoteString(db, FStatementCharset) +
                              " AND TABLE_NAME = " + QuoteString(it->Name, FStatementCharset)));
    qualified.push_back(Quote(db) + "." + Quote(it->Name));
  }
  // A view is made once the views it reads are: each turn takes the first (by name) whose views
  // are all made; a loop (a name that only looks read) keeps the order by name.
  std::vector<TTableRef> ordered;
  std::vector<bool> placed(count, false);
  while (ordered.size() < count) {
    size_t pick = count;
    for (size_t i = 0; i < count && pick == count; ++i) {
      if (placed[i]) continue;
      bool ready = true;
      for (size_t j = 0; j < count && ready; ++j)
        if (j != i && !placed[j] && ViewReads(definitions[i], qualified[j])) ready = false;
      if (ready) pick = i;
    }
    if (pick == count)
      pick = static_cast<size_t>(std::find(placed.begin(), placed.end(), false) - placed.begin());
    placed[pick] = true;
    ordered.push_back(*(first + static_cast<std::ptrdiff_t>(pick)));
  }
  std::move(ordered.begin(), ordered.end(), first);
}

void TMyDump::TRun::TablesSection() {
  const std::vector<TTableRef>& tables = FTables;
  const int count = static_cast<int>(tables.size());
  for (int i = 0; i < count; ++i) {
    const TTableRef& ref = tables[static_cast<size_t>(i)];
    const std::string t =
        ref.Database.empty() ? Quote(ref.Name) : Quote(ref.Database) + "." + Quote(ref.Name);
    Progress(t, i, count, 0);
    Table(ref, i, count);
    FWriter.Line("");
  }
}

void TMyDump::TRun::Table(const TTableRef& ref, int index, int count) {
  const std::string t = ref.Database.empty() ? Quote(ref.Name) : Quote(ref.Database) + "." + Quote(ref.Name);
  const std::string ft = ToFile(t);
  if ((FDump.Objects & doTables) != 0) {
    if (FOptions.GenerateHeader) Msg(SDumpTableHeader, {CommentText(ft)});
    if (FOptions.AddDrop)
      FWriter.Line((ref.IsView ? "DROP VIEW IF EXISTS " : "DROP TABLE IF EXISTS ") + ft + ";");
    std::string text = One("SHOW CREATE TABLE " + t, 1, true);
    // The text names the table without its database: it is made where the dump says. A view of
    // another database the server names with it, after its definer (DEFINER=`user`@`host`),
    // which stays as it is.
    if (!ref.Database.empty() && !ref.IsView) {
      const std::string bare = ToFile(Quote(ref.Name));
      const size_t at = text.find(bare);
      if (at != std::string::npos) text.replace(at, bare.size(), ft);
    }
    if (ref.IsView) {
      // As the server wrote it, the delimiter on a line of its own.
      ServerText(text);
      FWriter.Line(";");
    } else {
      ServerText(text + ";");
    }
    FWriter.Line("");
    Progress(t, index, count, 0);
  }
  if ((FDump.Objects & doData) != 0 && !ref.IsView) Data(ref, t, index, count);
  // After the rows, so that restoring them fires none.
  if ((FDump.Objects & doTables) != 0 && !ref.IsView) Triggers(ref);
}

// Each trigger as SHOW CREATE TRIGGER gives it, under the SQL mode it was made with, in the
// DELIMITER form a restore reads. A restore drops and makes the table again: without them its
// triggers would be lost. A trigger goes where its table goes: named, and its table named, without
// a database for a table of the connection's database (the server shows them as they were written,
// perhaps with the database they were made in), with the table's own database otherwise.
void TMyDump::TRun::Triggers(const TTableRef& ref) {
  const std::string schema =
      ref.Database.empty() ? std::string("DATABASE()") : QuoteString(ref.Database, FStatementCharset);
  const std::vector<std::string> names = TMyRowReader::FirstColumn(
      FConnection,
      "SELECT TRIGGER_NAME FROM information_schema.TRIGGERS WHERE EVENT_OBJECT_SCHEMA = " + schema +
          " AND EVENT_OBJECT_TABLE = " + QuoteString(ref.Name, FStatementCharset) +
          " ORDER BY EVENT_MANIPULATION, ACTION_TIMING, ACTION_ORDER",
      FDump.CommandTimeout);
  const std::string database = ref.Database.empty() ? std::string() : ToFile(Quote(ref.Database)) + ".";
  for (const std::string& name : names) {
    TMyRowReader reader(FConnection, FDump.CommandTimeout);
    reader.SetSessionBytes(true);
    reader.Open("SHOW CREATE TRIGGER " + (ref.Database.empty() ? std::string() : Quote(ref.Database) + ".") +
                Quote(name));
    if (!reader.Next() || reader.FieldCount() < 3 || reader.IsNull(2))
      throw EDatabaseError(Format("The text of trigger %s cannot be read", {name}));
    const std::string mode = reader.Value(1);
    std::string text = reader.Value(2);
    if (const std::optional<TCreatedObject> created =
            CreatedObject(text, FFileCharset, mode.find("NO_BACKSLASH_ESCAPES") != std::string::npos);
        created && created->Kind == "TRIGGER") {
      // The table's name first: it comes after the trigger's.
      for (const TWrittenName* written : {&created->Table, &created->Object})
        text.replace(written->Begin, written->NameBegin - written->Begin, database);
    }
    FWriter.Line("/*!50003 SET SQL_MODE=" + ToFile(QuoteString(mode, FStatementCharset)) + " */;");
    FWriter.Line("DELIMITER ;;");
    // The delimiter on a line of its own: the text may end in a line comment.
    ServerText(text);
    FWriter.Line(";;");
    FWriter.Line("DELIMITER ;");
    FWriter.Line("/*!50003 SET SQL_MODE='NO_AUTO_VALUE_ON_ZERO' */;");
    FWriter.Line("");
  }
}

namespace {

std::string CharsetFamily(std::string name) {
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name == "utf8" ? "utf8mb3" : name;
}

// Whether text of the column's set reaches a session of the other set unchanged.
bool SessionHolds(const std::string& session, const std::string& column) {
  const std::string s = CharsetFamily(session), c = CharsetFamily(column);
  if (s == c || c == "binary" || c == "ascii" || s == "binary" || s == "utf8mb4") return true;
  // Three-byte UTF-8 holds the Basic Multilingual Plane only: not what utf8mb4, utf16 and utf32 hold
  // beyond it.
  return s == "utf8mb3" && c != "utf8mb4" && c != "utf16" && c != "utf16le" && c != "utf32";
}

}  // namespace

void TMyDump::TRun::CheckColumnCharsets(const std::vector<TTableRef>& tables) {
  for (const TTableRef& ref : tables) {
    if (ref.IsView) continue;
    TMyRowReader reader(FConnection, FDump.CommandTimeout);
    reader.Open(
        "SELECT COLUMN_NAME, CHARACTER_SET_NAME FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = " +
        (ref.Database.empty() ? std::string("DATABASE()") : QuoteString(ref.Database, FStatementCharset)) +
        " AND TABLE_NAME = " + QuoteString(ref.Name, FStatementCharset) +
        " AND CHARACTER_SET_NAME IS NOT NULL ORDER BY ORDINAL_POSITION");
    while (reader.Next()) {
      const std::string column = reader.Value(0), charset = reader.Value(1);
      if (SessionHolds(FCharsetName, charset)) continue;
      throw EMyDumpCharsetError(
          Format("The column %s.%s holds %s text, which a %s session cannot read without replacing "
                 "characters by '?': connect with the character set %s (or utf8mb4) to back it up",
                 {Quote(ref.Name), Quote(column), charset, FCharsetName, charset}),
          Quote(ref.Name) + "." + Quote(column), charset);
    }
  }
}

TMyDump::TRun::TColumns TMyDump::TRun::WrittenColumns(const TTableRef& ref) {
  TMyRowReader reader(FConnection, FDump.CommandTimeout);
  reader.Open(
      "SELECT COLUMN_NAME, EXTRA, DATA_TYPE FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = " +
      (ref.Database.empty() ? std::string("DATABASE()") : QuoteString(ref.Database, FStatementCharset)) +
      " AND TABLE_NAME = " + QuoteString(ref.Name, FStatementCharset) + " ORDER BY ORDINAL_POSITION");
  TColumns columns;
  bool needed = false, floats = false;
  while (reader.Next()) {
    // EXTRA lists flags separated by commas ("STORED GENERATED, INVISIBLE"); a default
    // expression's "DEFAULT_GENERATED" is not a generated column.
    bool generated = false, invisible = false;
    const std::string extraText = reader.Value(1);
    std::string_view extra = extraText;
    while (!extra.empty()) {
      const size_t comma = extra.find(',');
      std::string_view flag = extra.substr(0, comma);
      extra = comma == std::string_view::npos ? std::string_view() : extra.substr(comma + 1);
      while (!flag.empty() && flag.front() == ' ') flag.remove_prefix(1);
      while (!flag.empty() && flag.back() == ' ') flag.remove_suffix(1);
      generated |=
          flag == "VIRTUAL GENERATED" || flag == "STORED GENERATED" || flag == "PERSISTENT GENERATED";
      invisible |= flag.substr(0, 9) == "INVISIBLE";
    }
    needed |= generated || invisible;
    if (generated) continue;
    const std::string name = Quote(reader.Value(0));
    if (!columns.Written.empty()) {
      columns.Written += ", ";
      columns.Read += ", ";
    }
    columns.Written += name;
    // The server writes a FLOAT with six digits (1234567 as 1234570): as a DOUBLE its text is
    // exact, and the restore rounds it to the same FLOAT again.
    const bool isFloat = reader.Value(2) == "float";
    floats |= isFloat;
    columns.Read += isFloat ? "CAST(" + name + " AS DOUBLE) AS " + name : name;
  }
  if (!needed) columns.Written.clear();
  if (!needed && !floats) columns.Read.clear();
  return columns;
}

void TMyDump::TRun::Data(const TTableRef& ref, const std::string& t, int index, int count) {
  const std::string ft = ToFile(t);
  const TColumns columns = WrittenColumns(ref);
  if (FOptions.GenerateHeader) Msg(SDumpDataHeader, {CommentText(ft)});
  if (FOptions.AddDrop && (FDump.Objects & doTables) == 0) FWriter.Line("TRUNCATE TABLE " + ft + ";");
  // The count only scales the progress: counting a large table costs as much as reading it.
  int64_t rows = 0;
  if (FDump.OnBackupProgress) {
    const std::string counted = One("SELECT COUNT(*) FROM " + t);
    std::from_chars(counted.data(), counted.data() + counted.size(), rows);
  }
  Progress(t, index, count, 0);
  // The lock and keys lines come with the first row: an empty table gets none.
  const bool lock = FOptions.AddLock && !FOptions.UseDelayedIns;
  auto opening = [&] {
    if (lock) FWriter.Line("LOCK TABLES " + ft + " WRITE;");
    if (FOptions.DisableKeys) FWriter.Line("/*!40000 ALTER TABLE " + ft + " DISABLE KEYS */;");
  };
  if (Rows(t, columns, index, count, rows, opening) == 0) return;
  if (FOptions.DisableKeys) FWriter.Line("/*!40000 ALTER TABLE " + ft + " ENABLE KEYS */;");
  if (lock) FWriter.Line("UNLOCK TABLES;");
}

int64_t TMyDump::TRun::Rows(const std::string& t, const TColumns& columns, int index, int count, int64_t rows,
                            const std::function<void()>& opening) {
  const std::string prefix = (FOptions.UseDelayedIns ? "INSERT DELAYED INTO " : "INSERT INTO ") + ToFile(t) +
                             (columns.Written.empty() ? "" : " (" + ToFile(columns.Written) + ")") +
                             " VALUES";
  TMyRowReader reader(FConnection, FDump.CommandTimeout);
  reader.SetSessionBytes(true);
  reader.Open("SELECT " + (columns.Read.empty() ? std::string("*") : columns.Read) + " FROM " + t);
  std::vector<TValueKind> kinds;
  for (int i = 0; i < reader.FieldCount(); ++i) kinds.push_back(KindOf(reader.Field(i)));
  // A row is written once the next one is read: only then is it known whether it ends its
  // statement.
  std::string pending, line;
  int64_t size = 0, recNo = 0;
  bool inStatement = false;
  auto flushPending = [&](bool last) {
    const int64_t length = static_cast<int64_t>(pending.size());
    size += length + 2;
    const bool ends = last || size > kExtendedInsertSize - 2 * length;
    pending.push_back(ends ? ';' : ',');
    FWriter.Line(pending);
    inStatement = !ends;
  };
  while (reader.Next()) {
    if (++recNo == 1) opening();
    if (FDump.OnBackupProgress)
      Progress(t, index, count,
               static_cast<int>(std::min<int64_t>(
                   100, rows > 0 ? std::llround(double(recNo) * 100.0 / double(rows)) : 100)));
    else
      FDump.CheckStopped();
    line.clear();
    if (!FOptions.UseExtSyntax) {
      line = prefix + " (";
      AppendRow(line, reader, kinds);
      line += ");";
      FWriter.Line(line);
    } else {
      if (!pending.empty()) flushPending(false);
      if (!inStatement) {
        FWriter.Line(prefix);
        size = static_cast<int64_t>(prefix.size()) + 2;
        inStatement = true;
      }
      line = "  (";
      AppendRow(line, reader, kinds);
      line += ")";
      pending.swap(line);
    }
    ++FDump.FRowsWritten;
  }
  if (!pending.empty()) flushPending(true);
  return recNo;
}

namespace {

// Bytes that the literal writer would change or that may start a multi-byte character.
struct TEscapeTable {
  bool Special[256] = {};
  TEscapeTable() {
    for (int b = 0x80; b < 256; ++b) Special[b] = true;
    for (char c : {'\0', '\n', '\r', '\x1A', '\'', '"', '\\'}) Special[static_cast<unsigned char>(c)] = true;
  }
};

bool NeedsEscaping(std::string_view text) {
  static const TEscapeTable table;
  bool special = false;
  for (char c : text) special |= table.Special[static_cast<unsigned char>(c)];
  return special;
}

}  // namespace

void TMyDump::TRun::AppendText(std::string& line, std::string_view text) {
  if (!NeedsEscaping(text)) {
    line.push_back('\'');
    line.append(text);
    line.push_back('\'');
    return;
  }
  // The session's bytes, escaped for the set the SET NAMES line names.
  const std::string_view bytes = text;
  FEscaped.resize(bytes.size() * 2 + 1);
  const size_t n = EscapeString(FEscaped.data(), bytes.data(), bytes.size(), FFileCharset);
  line.push_back('\'');
  line.append(FEscaped.data(), n);
  line.push_back('\'');
}

void TMyDump::TRun::AppendRow(std::string& line, TMyRowReader& reader, const std::vector<TValueKind>& kinds) {
  for (size_t i = 0; i < kinds.size(); ++i) {
    const int index = static_cast<int>(i);
    if (i > 0) line += ", ";
    if (reader.IsNull(index)) {
      line += "NULL";
      continue;
    }
    switch (kinds[i]) {
      case TValueKind::Number:
        if (reader.IsTextField(index))
          line += reader.TextView(index);
        else
          line += reader.Value(index);
        break;
      case TValueKind::Bit: {
        uint64_t v = reader.BitValue(index);
        std::string bytes;
        do {
          bytes.insert(bytes.begin(), static_cast<char>(v & 0xFF));
          v >>= 8;
        } while (v != 0);
        AppendHex(line, bytes);
        break;
      }
      case TValueKind::Bytes: {
        const std::string bytes = reader.Value(index);
        if (bytes.empty())
          line += "''";
        else if (FOptions.HexBlob)
          AppendHex(line, bytes);
        else
          line += QuoteBinary(bytes, FFileCharset);
        break;
      }
      case TValueKind::Text:
        if (reader.IsTextField(index))
          AppendText(line, reader.TextView(index));
        else
          AppendText(line, reader.Value(index));
        break;
    }
  }
}

// ---- TMyDump ------------------------------------------------------------------------------------

TMyDump::TMyDump(TComponent* owner) : TDADump(owner) {
  ReplaceOptions(std::make_unique<TMyDumpOptions>());
  FLeftQuote = FRightQuote = '`';
}

TMyDump::~TMyDump() = default;

TCustomMyConnection* TMyDump::Connection() const {
  return static_cast<TCustomMyConnection*>(TDADump::Connection());
}

void TMyDump::SetConnection(TCustomMyConnection* value) {
  TDADump::SetConnection(value);
}

TMyDumpOptions& TMyDump::Options() const {
  return static_cast<TMyDumpOptions&>(TDADump::Options());
}

std::string TMyDump::StoredProcNames() const {
  return NamesToText(FStoredProcNames);
}

void TMyDump::SetStoredProcNames(const std::string& value) {
  TextToNames(value, FStoredProcNames);
}

std::unique_ptr<TDADumpOptions> TMyDump::CreateOptions() {
  return std::make_unique<TMyDumpOptions>();
}

std::unique_ptr<TDAScript> TMyDump::CreateScript() {
  auto script = std::make_unique<TMyScript>();
  static_cast<TMyCommand&>(script->Command()).SetCommandTimeout(CommandTimeout);
  return script;
}

namespace {

// The session's database as hex of its name in the server's own set ("-" for none): a file's
// SET NAMES changes how names come back, not this.
std::string SessionDatabaseHex(TCustomMyConnection& connection, int timeout) {
  const std::vector<std::string> value =
      TMyRowReader::FirstColumn(connection, "SELECT IFNULL(HEX(DATABASE()), '-')", timeout);
  return value.empty() ? std::string("-") : value.front();
}

std::string FromHex(const std::string& hex) {
  if (hex == "-") return {};
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    unsigned value = 0;
    std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
    bytes.push_back(static_cast<char>(value));
  }
  return bytes;
}

}  // namespace

void TMyDump::RestoreStarting() {
  FSwitchedDatabase.clear();
  FSchemaTracked = false;
  if (!StayInDatabase) return;
  TCustomMyConnection& connection = *Connection();
  if (const TMySQLConnection* session = connection.MyIConnection();
      session != nullptr && session->SchemaChanges(FSchemaChanges)) {
    // The server reports a change of database only while this is on (its default, which a
    // server's settings may have turned off); a server without it keeps asking after each statement.
    // A file that turns the report off is told too: the setting is among the variables whose
    // changes the server reports.
    try {
      connection.ExecSQL(
          "SET SESSION session_track_schema=ON, session_track_system_variables=CONCAT_WS(',', "
          "NULLIF(@@session_track_system_variables, ''), 'session_track_schema')");
      FSchemaTracked = session->SchemaChanges(FSchemaChanges);
    } catch (const EDatabaseError&) {
      if (!connection.Connected()) throw;
    }
  }
  FRestoreDatabase = SessionDatabaseHex(connection, CommandTimeout);
}

void TMyDump::RestoreStatementRan(const TDAScript& script) {
  if (!StayInDatabase) return;
  TCustomMyConnection& connection = *Connection();
  std::string now;
  if (FSchemaTracked) {
    uint64_t count = 0;
    const TMySQLConnection* session = connection.MyIConnection();
    if (session != nullptr && session->SchemaChanges(count) && count == FSchemaChanges) return;
    FSchemaChanges = count;
    // Whether the server still reports every change: from a statement that turned that off on,
    // the database is asked after every statement.
    TMyRowReader reader(connection, CommandTimeout);
    reader.Open(
        "SELECT IFNULL(HEX(DATABASE()), '-'), @@session_track_schema AND (@@session_track_system_variables "
        "= '*' OR FIND_IN_SET('session_track_schema', @@session_track_system_variables))");
    if (!reader.Next()) throw EDatabaseError("The server did not name the session's database");
    now = reader.Value(0);
    FSchemaTracked = reader.Value(1) == "1";
    reader.Close();
  } else {
    now = SessionDatabaseHex(connection, CommandTimeout);
  }
  if (now == FRestoreDatabase) return;
  FSwitchedDatabase = FromHex(now);
  throw EDatabaseError(
      Format("The statement at line %d moved the session from database `%s` to `%s`: the restore stopped "
             "before the statements after it",
             {static_cast<int>(script.StartLine() + 1), FromHex(FRestoreDatabase), FSwitchedDatabase}));
}

bool TMyDump::InRestoreDatabase(const std::string& database) {
  if (FRestoreDatabase == "-" || database.empty()) return false;
  TCustomMyConnection& connection = *Connection();
  // The name in the set the statement was read in, as the server names its databases.
  const std::vector<std::string> charset =
      TMyRowReader::FirstColumn(connection, "SELECT @@character_set_client", CommandTimeout);
  if (charset.empty() || charset.front().empty() ||
      charset.front().find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_") != std::string::npos)
    return false;
  std::string hex;
  AppendHex(hex, database);
  const std::vector<std::string> name = TMyRowReader::FirstColumn(
      connection, "SELECT HEX(CONVERT(CONVERT(" + hex + " USING " + charset.front() + ") USING utf8mb3))",
      CommandTimeout);
  return !name.empty() && name.front() == FRestoreDatabase;
}

std::string TMyDump::RestoreRefusal(const TDAScript& /*script*/, const std::string& sql) {
  if (!StayInDatabase || !StartsWithCreate(sql)) return {};
  TCustomMyConnection& connection = *Connection();
  const TMySQLConnection* session = connection.MyIConnection();
  const bool open = session != nullptr && session->GetMySQL() != nullptr;
  const std::optional<TCreatedObject> created =
      CreatedObject(sql, open ? session->GetTextCharset() : connection.StatementCharset(),
                    open && session->NoBackslashEscapes());
  if (!created) return {};
  for (const TWrittenName* name : {&created->Object, &created->Table}) {
    if (!name->Qualified || InRestoreDatabase(name->Database)) continue;
    std::string kind = created->Kind;
    for (char& c : kind) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return Format(
        "CREATE %s: %s %s is named with another database than `%s`, the one the restore runs in; the "
        "statement was not run",
        {created->Kind, name == &created->Table ? std::string("the trigger's table") : "the " + kind,
         sql.substr(name->Begin, name->End - name->Begin), FromHex(FRestoreDatabase)});
  }
  return {};
}

void TMyDump::Assign(TPersistent* source) {
  TDADump::Assign(source);
  if (auto* other = dynamic_cast<TMyDump*>(source)) {
    StayInDatabase = other->StayInDatabase;
    Objects = other->Objects;
    CommandTimeout = other->CommandTimeout;
    FStoredProcNames.Assign(other->FStoredProcNames);
  }
}

void TMyDump::BackupToStream(TStream& stream) {
  TCustomMyConnection* connection = Connection();
  if (connection == nullptr) throw Exception(MessageText(SConnectionNotDefined));
  ResetStop();
  FRowsWritten = 0;
  connection->InternalConnect();
  try {
    TRun run(*this, *connection, stream);
    run.Write();
  } catch (...) {
    connection->InternalDisconnect();
    throw;
  }
  connection->InternalDisconnect();
}
