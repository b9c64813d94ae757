#include "mysql/MyTableInfo.h"

#include <algorithm>
#include <array>

#include "platform/runtime/Exceptions.h"

namespace {

// The class object: the base's quoting and normalisation with the MySQL rules.
class TMyTableInfoClass : public TCRTableInfoClass {
 public:
  std::unique_ptr<TCRTableInfo> Create(TCRTablesInfo* owner) const override {
    return std::make_unique<TMyTableInfo>(owner);
  }
  char LeftQuote() const override { return TMyTableInfo::LeftQuote(); }
  char RightQuote() const override { return TMyTableInfo::RightQuote(); }
  bool IsQuotedName(std::string_view name) const override { return TMyTableInfo::IsQuotedName(name); }
  bool IsBracketNeeds(std::string_view name) const override { return TMyTableInfo::IsBracketNeeds(name); }
  bool IsReservedWord(std::string_view name) const override { return TMyTableInfo::IsReservedWord(name); }
};

// The class operations take no character set: their check for dotted names accepts a point
// inside an enclosing pair of quotes.
void AssertNotDotted(std::string_view value, const char* func) {
  DA_ASSERT_MSG(TMyTableInfo::IsEnclosed(value) || value.find('.') == std::string_view::npos,
                std::string("In func ") + func + " delimited values not allowed");
}

bool IsPlainNameChar(char c) noexcept {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
         c == '#' || c == '@';
}

// The words the server refuses as bare names (MariaDB 10.11 with the default SQL mode), in upper
// case and sorted byte-wise for the binary search. Beside the reserved words proper: VALUE, which
// "INSERT INTO value (...)" reads as the VALUE clause, and the select options a name in a select
// list's first place would be taken for.
// clang-format off
constexpr std::array<std::string_view, 249> kReservedWords = {
    "ACCESSIBLE", "ADD", "ALL", "ALTER", "ANALYZE", "AND", "AS", "ASC", "ASENSITIVE", "BEFORE", "BETWEEN", "BIGINT",
    "BINARY", "BLOB", "BOTH", "BY", "CALL", "CASCADE", "CASE", "CHANGE", "CHAR", "CHARACTER", "CHECK", "COLLATE",
    "COLUMN", "CONDITION", "CONSTRAINT", "CONTINUE", "CONVERT", "CREATE", "CROSS", "CURRENT_DATE", "CURRENT_ROLE",
    "CURRENT_TIME", "CURRENT_TIMESTAMP", "CURRENT_USER", "CURSOR", "DATABASES", "DAY_HOUR", "DAY_MICROSECOND",
    "DAY_MINUTE", "DAY_SECOND", "DEC", "DECIMAL", "DECLARE", "DEFAULT", "DELAYED", "DELETE", "DELETE_DOMAIN_ID",
    "DESC", "DESCRIBE", "DETERMINISTIC", "DISTINCT", "DISTINCTROW", "DIV", "DOUBLE", "DO_DOMAIN_IDS", "DROP", "DUAL",
    "EACH", "ELSE", "ELSEIF", "ENCLOSED", "ESCAPED", "EXCEPT", "EXISTS", "EXIT", "EXPLAIN", "FALSE", "FETCH",
    "FLOAT", "FLOAT4", "FLOAT8", "FOR", "FORCE", "FOREIGN", "FROM", "FULLTEXT", "GRANT", "GROUP", "HAVING",
    "HIGH_PRIORITY", "HOUR_MICROSECOND", "HOUR_MINUTE", "HOUR_SECOND", "IF", "IGNORE", "IGNORE_DOMAIN_IDS", "IN",
    "INDEX", "INFILE", "INNER", "INOUT", "INSENSITIVE", "INSERT", "INT", "INT1", "INT2", "INT3", "INT4", "INT8",
    "INTEGER", "INTERSECT", "INTERVAL", "INTO", "IS", "ITERATE", "JOIN", "KEY", "KEYS", "KILL", "LEADING", "LEAVE",
    "LEFT", "LIKE", "LIMIT", "LINEAR", "LINES", "LOAD", "LOCALTIME", "LOCALTIMESTAMP", "LOCK", "LONG", "LONGBLOB",
    "LONGTEXT", "LOOP", "LOW_PRIORITY", "MASTER_DEMOTE_TO_REPLICA", "MASTER_DEMOTE_TO_SLAVE",
    "MASTER_SSL_VERIFY_SERVER_CERT", "MATCH", "MAXVALUE", "MEDIUMBLOB", "MEDIUMINT", "MEDIUMTEXT", "MIDDLEINT",
    "MINUTE_MICROSECOND", "MINUTE_SECOND", "MOD", "MODIFIES", "NATURAL", "NOT", "NO_WRITE_TO_BINLOG", "NULL",
    "NUMERIC", "OFFSET", "ON", "OPTIMIZE", "OPTIONALLY", "OR", "ORDER", "OUT", "OUTER", "OUTFILE", "OVER",
    "PAGE_CHECKSUM", "PARSE_VCOL_EXPR", "PARTITION", "PORTION", "PRECISION", "PRIMARY", "PROCEDURE", "PURGE",
    "RANGE", "READ", "READS", "READ_WRITE", "REAL", "RECURSIVE", "REFERENCES", "REF_SYSTEM_ID", "REGEXP", "RELEASE",
    "RENAME", "REPEAT", "REPLACE", "REQUIRE", "RESIGNAL", "RESTRICT", "RETURN", "RETURNING", "REVOKE", "RIGHT",
    "RLIKE", "ROWS", "ROW_NUMBER", "SCHEMAS", "SECOND_MICROSECOND", "SELECT", "SENSITIVE", "SEPARATOR", "SET",
    "SHOW", "SIGNAL", "SMALLINT", "SPATIAL", "SPECIFIC", "SQL", "SQLEXCEPTION", "SQLSTATE", "SQLWARNING",
    "SQL_BIG_RESULT", "SQL_BUFFER_RESULT", "SQL_CACHE", "SQL_CALC_FOUND_ROWS", "SQL_NO_CACHE", "SQL_SMALL_RESULT",
    "SSL", "STARTING", "STATS_AUTO_RECALC", "STATS_PERSISTENT", "STATS_SAMPLE_PAGES", "STRAIGHT_JOIN", "TABLE",
    "TERMINATED", "THEN", "TINYBLOB", "TINYINT", "TINYTEXT", "TO", "TRAILING", "TRIGGER", "TRUE", "UNDO", "UNION",
    "UNIQUE", "UNLOCK", "UNSIGNED", "UPDATE", "USAGE", "USE", "USING", "UTC_DATE", "UTC_TIME", "UTC_TIMESTAMP",
    "VALUE", "VALUES", "VARBINARY", "VARCHAR", "VARCHARACTER", "VARYING", "WHEN", "WHERE", "WHILE", "WITH", "WRITE",
    "XOR", "YEAR_MONTH", "ZEROFILL"};
// clang-format on

constexpr char UpperAscii(char c) noexcept {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Byte-wise order of the upper-cased texts: the order of the list.
constexpr bool LessNoCase(std::string_view a, std::string_view b) noexcept {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return UpperAscii(x) < UpperAscii(y); });
}

static_assert(std::is_sorted(kReservedWords.begin(), kReservedWords.end(), LessNoCase));
static_assert(std::is_sorted(kReservedWords.begin(), kReservedWords.end()), "upper case: byte order too");

std::string_view Unquoted(std::string_view value) noexcept {
  return TMyTableInfo::IsEnclosed(value) ? value.substr(1, value.size() - 2) : value;
}

}  // namespace

const TCRTableInfoClass& TMyTableInfo::Class() {
  static const TMyTableInfoClass instance;
  return instance;
}

bool TMyTableInfo::NeedsQuotes(std::string_view value) noexcept {
  for (char c : Unquoted(value))
    if (!IsPlainNameChar(c)) return true;
  return false;
}

bool TMyTableInfo::IsReservedWord(std::string_view value) noexcept {
  // Upper-cased once, then searched byte-wise: every table name a record set meets is asked.
  constexpr size_t kLongest =
      std::max_element(kReservedWords.begin(), kReservedWords.end(), [](auto a, auto b) {
        return a.size() < b.size();
      })->size();
  if (value.size() > kLongest) return false;
  char upper[kLongest];
  for (size_t i = 0; i < value.size(); ++i) upper[i] = UpperAscii(value[i]);
  const std::string_view key(upper, value.size());
  // Byte order, compared in place (the words are short; a library call per step costs more).
  const auto less = [](std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
      if (a[i] != b[i]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]);
    return a.size() < b.size();
  };
  const auto it = std::lower_bound(kReservedWords.begin(), kReservedWords.end(), key, less);
  return it != kReservedWords.end() && !less(key, *it);
}

bool TMyTableInfo::IsQuotedName(std::string_view value) {
  AssertNotDotted(value, "IsQuotedName");
  return IsEnclosed(value);
}

std::string TMyTableInfo::UnQuote(std::string_view value) {
  return std::string(IsQuotedName(value) ? Unquoted(value) : value);
}

bool TMyTableInfo::IsBracketNeeds(std::string_view value) {
  AssertNotDotted(value, "IsBracketNeeds");
  return NeedsQuotes(value);
}
