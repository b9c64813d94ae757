// The paged table browsers' shared logic, free of widgets: the paging state, the page and count
// statements of each operation, the labels, and the one place where typed text becomes SQL (the
// literal writer and the LIKE pattern). Each browser supplies its statement texts; the window
// runs the statements and commits the planned state only once they succeeded, so a failed query
// leaves the page, the condition and the labels as they were.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "components/MyAccessConnection.h"
#include "platform/runtime/Charset.h"

inline constexpr int kDefaultPageSize = 17;
// The most rows a page may ask for: the datasets' own fetch bound.
inline constexpr int kMaxPageSize = 10000;

struct TPagingState {
  int64_t RecordTotal = 0;
  int PageSize = kDefaultPageSize;
  int64_t PageCount = 0;
  int64_t PageNo = 1;
  std::string PageSQL;
  // The condition after the table name; one blank when there is none.
  std::string WhereText = " ";
};

// The statement texts of one browser as templates (ANSI bytes; the labels UTF-8), in which
// "{where}" stands for the condition, "{size}" for the page size, "{limit}" for the rows skipped
// before the page and the page size ("34,17"), "{field}" for the back-quoted sort column,
// "{columns}" for the browser's column list and "{total}" for a count.
struct TBrowserTemplates {
  const char* CreatePage;
  const char* CreateCount;
  const char* SizePage;
  const char* SizeCount;
  const char* PreviousPage;
  const char* NextPage;
  const char* Sort;
  // By the search strip's first check box: ticked, and not.
  const char* SearchPageTicked;
  const char* SearchPage;
  const char* SearchCount;
  // A quick filter's texts (a condition of the browser's own, paged); null: a page-size
  // change's texts.
  const char* FilterPage;
  const char* FilterCount;
  const char* TotalLabel;
  const char* SearchLabel;
};

// The statement texts of one browser, filled in from its templates. Offsets are rows skipped
// before the page.
class TBrowserTexts {
 public:
  // columns: what "{columns}" stands for.
  explicit TBrowserTexts(const TBrowserTemplates& templates, std::string columns = {})
      : FTemplates(templates), FColumns(std::move(columns)) {}

  const std::string& Columns() const noexcept { return FColumns; }

  std::string CreatePage(int pageSize) const;
  std::string CreateCount() const;
  std::string SizePage(const std::string& where, int pageSize) const;
  std::string SizeCount(const std::string& where) const;
  std::string PreviousPage(const std::string& where, int64_t offset, int pageSize) const;
  std::string NextPage(const std::string& where, int64_t offset, int pageSize) const;
  // quotedField: the column's name, back-quoted.
  std::string Sort(const std::string& where, const std::string& quotedField) const;
  // ticked: the search strip's first check box (it picks the form of some browsers' texts).
  std::string SearchPage(const std::string& where, bool ticked) const;
  std::string SearchCount(const std::string& where) const;
  std::string FilterPage(const std::string& where, int pageSize) const;
  std::string FilterCount(const std::string& where) const;
  std::string TotalLabel(int64_t total) const;
  std::string SearchLabel(int64_t total) const;

 private:
  struct TFill {
    std::string_view Where = {}, Field = {};
    int64_t Offset = 0, Total = 0;
    int Size = 0;
  };
  // The template with each placeholder replaced once by its value; values are not read again,
  // so a condition holding "{size}" stays as it is.
  std::string Fill(const char* text, const TFill& values) const;

  const TBrowserTemplates& FTemplates;
  std::string FColumns;
};

enum class TCountLabel { Keep, Total, Search };

// What one operation runs and the state it leads to.
struct TPageStep {
  std::string PageSQL;
  std::string CountSQL;  // empty: the total stays
  TCountLabel Label = TCountLabel::Keep;
  TPagingState Next;
};

// "第 n 页/共 m 页" (UTF-8).
std::string PageLabel(const TPagingState& state);
// ceiling(total / pageSize); 0 for no rows.
int64_t PageCountOf(int64_t total, int pageSize) noexcept;

// The page size typed into the size edit (UTF-8). Raises EConvertError for text that is no
// integer and ERangeError for a value below 1 (a page of no rows would divide the total by zero)
// or above kMaxPageSize; their messages are ANSI text, as every raised message.
int ParsePageSize(std::string_view text);

class TBrowserPaging {
 public:
  explicit TBrowserPaging(const TBrowserTexts& texts) : FTexts(texts) {}

  const TPagingState& State() const noexcept { return FState; }

  // Plans; nothing changes until Commit.
  TPageStep Refresh() const;
  TPageStep PageSize(int pageSize) const;
  // Nothing on the first page.
  std::optional<TPageStep> Previous() const;
  // Nothing on the last page.
  std::optional<TPageStep> Next() const;
  // where: the condition the search built (through SqlLiteral or LikeLiteral). A new search
  // starts at page 1.
  TPageStep Search(const std::string& where, bool ticked) const;
  // where: a fixed condition of the browser's own, shown from page 1.
  TPageStep Filter(const std::string& where) const;
  // Sorted rows are not paged; the page number and total stay.
  TPageStep Sort(const std::string& quotedField, bool descending) const;

  // Takes the planned state once the statements ran; total: the count query's answer, when one ran.
  void Commit(const TPageStep& step, std::optional<int64_t> total);

 private:
  const TBrowserTexts& FTexts;
  TPagingState FState;
};

// ---- typed text into SQL ----------------------------------------------------------------------

// A session's TLiteralStyle (its character set and backslash mode) is what its connection's
// LiteralStyle() answers; SqlLiteral writes a plain literal in it.
// The LIKE pattern of typed text: "\" escaped for LIKE first (on a single-byte set every 0x5C
// byte, a GBK trail byte included; on a multi-byte set only a 0x5C that is no character's trail
// byte). Fuzzy: the user's own "%" and "_" keep their meaning and the pattern is wrapped in "%";
// exact: they are escaped too, so only the text itself matches. "\" is the escape in either
// backslash mode (LikeLiteral names it where the mode needs it).
std::string LikePattern(std::string_view text, TCharsetKind charset, bool fuzzy);
// What a name search's "like" is followed by. On a single-byte connection, or for ASCII text,
// SqlLiteral(LikePattern(...)). Text beyond ASCII on a multi-byte connection is written as a
// binary hexadecimal literal of the pattern's bytes (every 0x5C, and a "%" or "_" byte inside a
// character, escaped for the byte-wise match), so it meets the bytes the column stores whatever
// the column's character set: the game keeps GBK text in latin1 columns, which a literal of the
// connection's set could not be compared with. A session without backslash escapes gets the
// literal followed by an ESCAPE clause naming the backslash, so its wildcards stay escaped.
std::string LikeLiteral(std::string_view text, TLiteralStyle style, bool fuzzy);
// The condition "<column> like <LikeLiteral>" for a name search. Text beyond ASCII is matched
// byte for byte: its binary literal is compared with the column's bytes (a latin1 column's
// collation would take the escaped 0x5C of a GBK character for other bytes), and on a
// single-byte session, where typed text is encoded as GBK, it is split as GBK.
std::string LikeCondition(std::string_view column, std::string_view text, TLiteralStyle style, bool fuzzy);
// The condition that column holds exactly these bytes (typed text in the connection's bytes), for
// a lookup that picks one row by a name: the column's collation takes "Bob" for "bob" and, in the
// game's latin1 columns, one GBK name for another.
std::string SameBytesCondition(std::string_view column, std::string_view bytes, TLiteralStyle style);
// The query of the one character of the character database's `user` named by these bytes, with
// the columns asked for: of twins of one name (a deleted one kept beside the one who took the name
// up since) the living one.
std::string CharacterByNameSql(std::string_view columns, std::string_view nameBytes, TLiteralStyle style);
// A column name back-quoted whole, inner back quotes doubled (names are read in the connection's
// character set, whose trail bytes may be back quotes).
std::string QuotedColumn(std::string_view name, TCharsetKind charset);
