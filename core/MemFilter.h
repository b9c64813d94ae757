// Filter expressions: the filter lexer TBoolParser, the expression tree a filter text parses
// into, and its evaluation against record buffers.
//
// Grammar (keywords ignore case):
//   expression := term { OR term }
//   term       := condition { AND condition }
//   condition  := NOT condition | TRUE | FALSE | "(" expression ")"
//               | operand ( "=" | ">" | "<" | ">=" | "<=" | "<>" | LIKE ) operand
//               | operand IS [NOT] NULL
//   operand    := name { "." name } | "[" any text "]" | 'string' | number | ("-" | "+") number
//               | TRUE | FALSE | NULL
// A doubled single quote inside a string stands for one quote.
//
// A record passes "=" and LIKE with a string on the left by a mask match ("*" and "%" any run of
// characters, "_" one character) unless partial compares are off; "<>" is the opposite of "=";
// ordering comparisons with a null side are false; a null equals only a null.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "core/CRParser.h"
#include "core/MemData.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/Variant.h"

// Codes of the filter lexer's symbols and keywords.
inline constexpr int fcEqual = 1;
inline constexpr int fcGreater = 2;
inline constexpr int fcLess = 3;
inline constexpr int fcGreaterEqual = 4;
inline constexpr int fcLessEqual = 5;
inline constexpr int fcNotEqual = 6;
inline constexpr int fcLeftParen = 7;
inline constexpr int fcRightParen = 8;
inline constexpr int fcMinus = 9;
inline constexpr int fcPlus = 10;
inline constexpr int fcLeftBracket = 11;
inline constexpr int fcRightBracket = 12;
inline constexpr int fcAnd = 13;
inline constexpr int fcFalse = 14;
inline constexpr int fcIs = 15;
inline constexpr int fcLike = 16;
inline constexpr int fcNot = 17;
inline constexpr int fcNull = 18;
inline constexpr int fcOr = 19;
inline constexpr int fcTrue = 20;

// The filter lexer's tables, built once and shared by every TBoolParser.
const TLexemList& FilterSymbolList();
const TLexemList& FilterKeywordList();

// The lexer of filter texts (and of index-field lists): the filter tables, and strings in which
// two single quotes in a row do not end the string.
class TBoolParser : public TParser {
 public:
  explicit TBoolParser(std::string text, TCharsetKind charset = AnsiCharsetKind());
  explicit TBoolParser(TStream& stream, TCharsetKind charset = AnsiCharsetKind());

  // Reads the text of a bracketed name, after its "[": everything up to the next "]" character,
  // blanks and quotes included, and moves past the "]". False (nothing read) when no "]" follows.
  bool ReadBracketedText(std::string& text);

 protected:
  void SkipQuotedString(char quote) override;
};

enum TExpressionType : uint8_t {
  ntEqual = 0,  // also IS NULL
  ntMore = 1,
  ntLess = 2,
  ntMoreEqual = 3,
  ntLessEqual = 4,
  ntNoEqual = 5,  // also IS NOT NULL
  ntAnd = 6,
  ntOr = 7,
  ntNot = 8,
  ntField = 9,
  ntValue = 10,
  ntTrue = 11,
  ntFalse = 12,
  ntLike = 13,
};

struct TExpressionNode {
  TExpressionType NodeType = ntTrue;
  // Comparisons: both operands. AND and OR: the first operand on the left and the rest of the
  // chain on the right, so evaluation walks a chain without recursion. NOT: the left.
  TExpressionNode* LeftOperand = nullptr;
  TExpressionNode* RightOperand = nullptr;
  int FieldNo = 0;  // ntField: the field's 1-based number in its record set
  Variant Value;    // ntValue
};

// What a filter needs of the record set it filters.
class TFilterHost {
 public:
  virtual ~TFilterHost() = default;
  // The number of the field named `name` (a dotted path, or the text of a bracketed name), 0 when
  // there is none.
  virtual int FilterFieldNo(std::string_view name) = 0;
  // Whether the field holds dates, times or date-times.
  virtual bool FilterFieldIsDateTime(int fieldNo) = 0;
  virtual Variant FilterFieldValue(int fieldNo, const void* recBuf) = 0;
  // A constant compared with the field, in the form FilterFieldValue gives (fields whose values
  // are not plain variants read the constant their own way); the constant itself by default.
  virtual Variant FilterFieldOperand(int /*fieldNo*/, const Variant& constant) { return constant; }
  virtual bool FilterCaseInsensitive() = 0;
  virtual bool FilterNoPartialCompare() = 0;
};

// A parsed filter text; owns its nodes. The host must outlive it.
class TExpressionTree {
 public:
  // Parses a filter text. Raises EDatabaseError "Field %s not found" (65128) for an unknown field
  // name, Exception "Illegal filter expression" (65130) for every other syntax error (parentheses
  // and NOT nested deeper than MaxNesting included), and the lexer's error for a control
  // character.
  TExpressionTree(std::string_view text, TFilterHost& host);
  TExpressionTree(const TExpressionTree&) = delete;
  TExpressionTree& operator=(const TExpressionTree&) = delete;

  static constexpr int MaxNesting = 200;

  // Whether the record passes. Values that cannot be compared (a number against text that is not
  // a number, text that is not a date against a date field) raise EConvertError.
  bool Evaluate(const void* recBuf) const;
  const TExpressionNode* Root() const noexcept { return FRoot; }

 private:
  friend class TFilterBuilder;
  bool EvaluateNode(const TExpressionNode* node, const void* recBuf) const;
  bool EvaluateComparison(const TExpressionNode* node, const void* recBuf) const;
  Variant OperandValue(const TExpressionNode* node, const void* recBuf) const;
  bool IsDateTimeOperand(const TExpressionNode* node) const;

  TFilterHost& FHost;
  std::deque<TExpressionNode> FNodes;  // every node of the tree, freed together
  TExpressionNode* FRoot = nullptr;
};

// Mask matching: "*" and "%" match any run of characters (none included), "_" one character,
// every other character itself, exactly. The whole text must match. ANSI text steps by the
// characters of `charset`, so "_" takes a whole multi-byte character.
bool MatchesMask(std::string_view text, std::string_view mask, TCharsetKind charset = AnsiCharsetKind());
// UTF-16 text; "_" takes a whole surrogate pair.
bool MatchesMask(std::u16string_view text, std::u16string_view mask);

// A record set's filter expression (what TData::ParseFilter returns): the parsed text, with its
// field names looked up among the record set's fields and its values read through
// TData::GetFieldAsVariant under the record set's FilterCaseInsensitive and FilterNoPartialCompare.
// The record set must outlive it. Raises as TExpressionTree.
class TDataFilter final : public TFilterExpression, private TFilterHost {
 public:
  TDataFilter(TData& data, std::string_view text) : FData(data), FTree(text, *this) {}
  bool Evaluate(void* recBuf) override { return FTree.Evaluate(recBuf); }

 private:
  int FilterFieldNo(std::string_view name) override;
  bool FilterFieldIsDateTime(int fieldNo) override;
  Variant FilterFieldValue(int fieldNo, const void* recBuf) override;
  Variant FilterFieldOperand(int fieldNo, const Variant& constant) override;
  bool FilterCaseInsensitive() override { return FData.FilterCaseInsensitive; }
  bool FilterNoPartialCompare() override { return FData.FilterNoPartialCompare; }

  TData& FData;
  TExpressionTree FTree;
};
