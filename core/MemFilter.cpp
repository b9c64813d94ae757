#include "core/MemFilter.h"

#include <charconv>
#include <vector>

#include "core/CLRClasses.h"
#include "core/DAConsts.h"
#include "core/MemData.h"
#include "core/MemFieldValues.h"
#include "platform/runtime/DateTimeUtils.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/LocaleCompare.h"

// ---- Lexer ----------------------------------------------------------------------------------

const TLexemList& FilterSymbolList() {
  static const TLexemList list{{"=", fcEqual},         {">", fcGreater},     {"<", fcLess},
                               {">=", fcGreaterEqual}, {"<=", fcLessEqual},  {"<>", fcNotEqual},
                               {"(", fcLeftParen},     {")", fcRightParen},  {"-", fcMinus},
                               {"+", fcPlus},          {"[", fcLeftBracket}, {"]", fcRightBracket}};
  return list;
}

const TLexemList& FilterKeywordList() {
  static const TLexemList list{{"AND", fcAnd}, {"FALSE", fcFalse}, {"IS", fcIs}, {"LIKE", fcLike},
                               {"NOT", fcNot}, {"NULL", fcNull},   {"OR", fcOr}, {"TRUE", fcTrue}};
  return list;
}

TBoolParser::TBoolParser(std::string text, TCharsetKind charset) : TParser(std::move(text), charset) {
  SetLists(FilterSymbolList(), FilterKeywordList());
}

TBoolParser::TBoolParser(TStream& stream, TCharsetKind charset) : TParser(stream, charset) {
  SetLists(FilterSymbolList(), FilterKeywordList());
}

void TBoolParser::SkipQuotedString(char quote) {
  for (;;) {
    TParser::SkipQuotedString(quote);
    if (quote != '\'' || FPos > TextLength() || CharAt(FPos + 1) != '\'') return;
    FPos += 2;  // '' inside the string
  }
}

bool TBoolParser::ReadBracketedText(std::string& text) {
  const int64_t start = FPos;
  while (FPos <= TextLength()) {
    if (CharAt(FPos) == ']' && CharLen(FPos) == 1) {
      text.clear();
      for (int64_t p = start; p < FPos; ++p) text += CharAt(p);
      ++FPos;
      return true;
    }
    FPos += static_cast<int64_t>(CharLen(FPos));
  }
  return false;
}

// ---- Mask matching --------------------------------------------------------------------------

namespace {

template <class Char>
bool IsAnyRun(Char c) {
  return c == '*' || c == '%';
}

// One pass with a single backtracking point: at a failure after a "*", the "*" takes one more
// character of the text. Equivalent to trying every split, in O(text x mask) at worst.
template <class Text, class CharLenFn>
bool MatchMask(Text text, Text mask, CharLenFn charLen) {
  constexpr size_t none = static_cast<size_t>(-1);
  size_t t = 0, m = 0, starMask = none, starText = 0;
  while (t < text.size()) {
    if (m < mask.size() && IsAnyRun(mask[m])) {
      starMask = ++m;
      starText = t;
      continue;
    }
    if (m < mask.size()) {
      const size_t tl = charLen(text, t), ml = charLen(mask, m);
      if ((ml == 1 && mask[m] == '_') || (tl == ml && text.compare(t, tl, mask.substr(m, ml)) == 0)) {
        t += tl;
        m += ml;
        continue;
      }
    }
    if (starMask == none) return false;
    starText += charLen(text, starText);
    t = starText;
    m = starMask;
  }
  while (m < mask.size() && IsAnyRun(mask[m])) ++m;
  return m == mask.size();
}

}  // namespace

bool MatchesMask(std::string_view text, std::string_view mask, TCharsetKind charset) {
  return MatchMask(text, mask, [charset](std::string_view s, size_t i) {
    return static_cast<unsigned char>(s[i]) < 0x80 ? size_t{1}
                                                   : MbCharLen(charset, s.data() + i, s.data() + s.size());
  });
}

bool MatchesMask(std::u16string_view text, std::u16string_view mask) {
  return MatchMask(text, mask, [](std::u16string_view s, size_t i) {
    const bool pair =
        s[i] >= 0xD800 && s[i] <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF;
    return pair ? size_t{2} : size_t{1};
  });
}

// ---- Building -------------------------------------------------------------------------------

// Recursive descent over the lexemes; the current lexeme is the next one not yet taken.
class TFilterBuilder {
 public:
  TFilterBuilder(TExpressionTree& tree, std::string_view text) : FTree(tree), FParser(std::string(text)) {}

  TExpressionNode* Build() {
    Next();
    TExpressionNode* root = Expression();
    if (FCode != lcEnd) Illegal();
    return root;
  }

 private:
  void Next() { FCode = FParser.GetNext(FLexem); }
  [[noreturn]] static void Illegal() { throw Exception(MessageText(SIllegalFilter)); }

  TExpressionNode* NewNode(TExpressionType type, TExpressionNode* left = nullptr,
                           TExpressionNode* right = nullptr) {
    TExpressionNode& node = FTree.FNodes.emplace_back();
    node.NodeType = type;
    node.LeftOperand = left;
    node.RightOperand = right;
    return &node;
  }
  TExpressionNode* NewValue(Variant value) {
    TExpressionNode* node = NewNode(ntValue);
    node->Value = std::move(value);
    return node;
  }

  // A chain of one operator: the first operand on the left, the rest on the right.
  template <class Operand>
  TExpressionNode* Chain(int code, TExpressionType type, Operand operand) {
    std::vector<TExpressionNode*> items{(this->*operand)()};
    while (FCode == code) {
      Next();
      items.push_back((this->*operand)());
    }
    TExpressionNode* node = items.back();
    for (size_t i = items.size() - 1; i-- > 0;) node = NewNode(type, items[i], node);
    return node;
  }
  TExpressionNode* Expression() { return Chain(fcOr, ntOr, &TFilterBuilder::Term); }
  TExpressionNode* Term() { return Chain(fcAnd, ntAnd, &TFilterBuilder::Condition); }

  TExpressionNode* Condition() {
    struct DepthGuard {
      int& depth;
      explicit DepthGuard(int& d) : depth(d) {
        if (++depth > TExpressionTree::MaxNesting) Illegal();
      }
      ~DepthGuard() { --depth; }
    } guard(FDepth);
    switch (FCode) {
      case fcNot:
        Next();
        return NewNode(ntNot, Condition());
      case fcTrue:
        Next();
        return NewNode(ntTrue);
      case fcFalse:
        Next();
        return NewNode(ntFalse);
      case fcLeftParen: {
        Next();
        TExpressionNode* inner = Expression();
        if (FCode != fcRightParen) Illegal();
        Next();
        return inner;
      }
      case lcIdent:
      case lcNumber:
      case lcString:
      case fcMinus:
      case fcPlus:
      case fcLeftBracket:
        return Comparison();
      default:
        Illegal();
    }
  }

  TExpressionNode* Comparison() {
    TExpressionNode* left = Operand();
    TExpressionType type;
    switch (FCode) {
      case fcEqual:
        type = ntEqual;
        break;
      case fcGreater:
        type = ntMore;
        break;
      case fcLess:
        type = ntLess;
        break;
      case fcGreaterEqual:
        type = ntMoreEqual;
        break;
      case fcLessEqual:
        type = ntLessEqual;
        break;
      case fcNotEqual:
        type = ntNoEqual;
        break;
      case fcLike:
        type = ntLike;
        break;
      case fcIs:
        return IsNull(left);
      default:
        Illegal();
    }
    Next();
    return NewNode(type, left, Operand());
  }

  // After IS: NULL or NOT NULL.
  TExpressionNode* IsNull(TExpressionNode* left) {
    TExpressionType type = ntEqual;
    Next();
    if (FCode == fcNot) {
      type = ntNoEqual;
      Next();
    }
    if (FCode != fcNull) Illegal();
    Next();
    return NewNode(type, left, NewValue(Variant::Null()));
  }

  TExpressionNode* Operand() {
    switch (FCode) {
      case lcIdent:
        return DottedField();
      case fcLeftBracket: {
        std::string name;
        if (!FParser.ReadBracketedText(name)) Illegal();
        Next();
        return FieldNode(name);
      }
      case lcString: {
        TExpressionNode* node = NewValue(Unquote(FLexem));
        Next();
        return node;
      }
      case lcNumber:
        return Number(false);
      case fcMinus:
      case fcPlus: {
        const bool negative = FCode == fcMinus;
        Next();
        if (FCode != lcNumber) Illegal();
        return Number(negative);
      }
      case fcTrue:
      case fcFalse: {
        TExpressionNode* node = NewValue(Variant(FCode == fcTrue));
        Next();
        return node;
      }
      case fcNull:
        Next();
        return NewValue(Variant::Null());
      default:
        Illegal();
    }
  }

  TExpressionNode* DottedField() {
    std::string name = FLexem;
    Next();
    while (FCode == lcSymbol && FLexem == ".") {
      Next();
      if (FCode != lcIdent) Illegal();
      name += '.';
      name += FLexem;
      Next();
    }
    return FieldNode(name);
  }

  TExpressionNode* FieldNode(const std::string& name) {
    const int fieldNo = FTree.FHost.FilterFieldNo(name);
    if (fieldNo <= 0) throw EDatabaseError(MessageFmt(SFieldNotFound, {name}));
    TExpressionNode* node = NewNode(ntField);
    node->FieldNo = fieldNo;
    return node;
  }

  // Whole numbers that fit stay exact 64-bit integers; others are doubles.
  TExpressionNode* Number(bool negative) {
    const std::string text = negative ? "-" + FLexem : FLexem;
    const char* end = text.data() + text.size();
    int64_t whole = 0;
    Variant value;
    if (auto r = std::from_chars(text.data(), end, whole); r.ec == std::errc() && r.ptr == end) {
      value = Variant(static_cast<long long>(whole));
    } else {
      double d = 0;
      auto f = std::from_chars(text.data(), end, d);
      if (f.ec != std::errc() || f.ptr != end) Illegal();
      value = Variant(d);
    }
    Next();
    return NewValue(std::move(value));
  }

  static std::string Unquote(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
      out += text[i];
      if (text[i] == '\'' && i + 1 < text.size() && text[i + 1] == '\'') ++i;
    }
    return out;
  }

  TExpressionTree& FTree;
  TBoolParser FParser;
  int FCode = lcEnd;
  std::string FLexem;
  int FDepth = 0;
};

TExpressionTree::TExpressionTree(std::string_view text, TFilterHost& host) : FHost(host) {
  TFilterBuilder builder(*this, text);
  FRoot = builder.Build();
}

// ---- Evaluation -----------------------------------------------------------------------------

bool TExpressionTree::Evaluate(const void* recBuf) const {
  return EvaluateNode(FRoot, recBuf);
}

bool TExpressionTree::EvaluateNode(const TExpressionNode* node, const void* recBuf) const {
  for (;;) {
    switch (node->NodeType) {
      case ntAnd:
        if (!EvaluateNode(node->LeftOperand, recBuf)) return false;
        node = node->RightOperand;
        break;
      case ntOr:
        if (EvaluateNode(node->LeftOperand, recBuf)) return true;
        node = node->RightOperand;
        break;
      case ntNot:
        return !EvaluateNode(node->LeftOperand, recBuf);
      case ntTrue:
        return true;
      case ntFalse:
        return false;
      case ntField:
      case ntValue:
        DA_ASSERT_MSG(false, "an operand evaluated as a condition");
      default:
        return EvaluateComparison(node, recBuf);
    }
  }
}

namespace {

Variant ToDateTime(const Variant& value) {
  TDateTime date;
  if (TryStrToDateTime(value.AsString(), date)) return Variant::FromDateTime(date);
  return Variant::FromDateTime(value.AsDateTime());
}

void UpperIfString(Variant& value) {
  if (value.VarType() == varString)
    value = Variant(AnsiUpperCase(value.AsString()));
  else if (value.VarType() == varOleStr)
    value = Variant(WideUpperCase(value.AsWideString()));
}

bool MasksMatch(const Variant& text, const Variant& mask) {
  if (text.VarType() == varOleStr || mask.VarType() == varOleStr)
    return MatchesMask(text.AsWideString(), mask.AsWideString());
  return MatchesMask(text.AsString(), mask.AsString());
}

}  // namespace

Variant TExpressionTree::OperandValue(const TExpressionNode* node, const void* recBuf) const {
  if (node->NodeType == ntField) return FHost.FilterFieldValue(node->FieldNo, recBuf);
  DA_ASSERT(node->NodeType == ntValue);
  return node->Value;
}

bool TExpressionTree::IsDateTimeOperand(const TExpressionNode* node) const {
  return node->NodeType == ntField && FHost.FilterFieldIsDateTime(node->FieldNo);
}

bool TExpressionTree::EvaluateComparison(const TExpressionNode* node, const void* recBuf) const {
  Variant left = OperandValue(node->LeftOperand, recBuf);
  Variant right = OperandValue(node->RightOperand, recBuf);
  if (IsDateTimeOperand(node->LeftOperand) && right.IsString()) right = ToDateTime(right);
  if (IsDateTimeOperand(node->RightOperand) && left.IsString()) left = ToDateTime(left);
  if (node->LeftOperand->NodeType == ntField && node->RightOperand->NodeType == ntValue)
    right = FHost.FilterFieldOperand(node->LeftOperand->FieldNo, right);
  if (node->RightOperand->NodeType == ntField && node->LeftOperand->NodeType == ntValue)
    left = FHost.FilterFieldOperand(node->RightOperand->FieldNo, left);
  if (FHost.FilterCaseInsensitive()) {
    UpperIfString(left);
    UpperIfString(right);
  }
  const bool anyNull = left.IsNull() || right.IsNull();
  switch (node->NodeType) {
    case ntEqual:
    case ntLike:
    case ntNoEqual: {
      bool equal;
      if (anyNull)  // a null equals only a null, also where a mask would be matched
        equal = left.IsNull() && right.IsNull();
      else if (!FHost.FilterNoPartialCompare() && left.IsString())
        equal = MasksMatch(left, right);
      else
        equal = left == right;
      return node->NodeType == ntNoEqual ? !equal : equal;
    }
    case ntMore:
      return !anyNull && VarCompare(left, right) > 0;
    case ntLess:
      return !anyNull && VarCompare(left, right) < 0;
    case ntMoreEqual:
      return !anyNull && VarCompare(left, right) >= 0;
    case ntLessEqual:
      return !anyNull && VarCompare(left, right) <= 0;
    default:
      DA_ASSERT_MSG(false, "not a comparison");
      return false;
  }
}

// ---- The record set's filter ----------------------------------------------------------------

int TDataFilter::FilterFieldNo(std::string_view name) {
  const TFieldDesc* field = FData.FindField(name);
  return field ? field->FieldNo : 0;
}

bool TDataFilter::FilterFieldIsDateTime(int fieldNo) {
  const TDataType type = FData.FieldOf(fieldNo).DataType;
  return type == dtDate || type == dtTime || type == dtDateTime;
}

namespace {

bool IsMicrosType(TDataType type) {
  return type == dtDateTimeUs || type == dtTimeUs;
}

}  // namespace

// Microsecond fields compare as their exact counts: the field gives the count, a constant is read
// as a date-time or time.
Variant TDataFilter::FilterFieldValue(int fieldNo, const void* recBuf) {
  const TFieldDesc& f = FData.FieldOf(fieldNo);
  if (IsMicrosType(f.DataType) && !FData.GetNull(fieldNo, recBuf))
    return Variant(
        static_cast<long long>(Marshal::ReadInt64(static_cast<const uint8_t*>(recBuf) + f.Offset)));
  return FData.GetFieldAsVariant(fieldNo, recBuf);
}

Variant TDataFilter::FilterFieldOperand(int fieldNo, const Variant& constant) {
  const TFieldDesc& f = FData.FieldOf(fieldNo);
  if (!IsMicrosType(f.DataType) || constant.IsNull() || constant.IsEmpty()) return constant;
  return Variant(static_cast<long long>(MicrosOfVariant(constant, f)));
}
