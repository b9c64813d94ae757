#include "core/CRXml.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(CRXmlTest, AttributesGoIntoTheOpenStartTagInOrder) {
  XmlTextWriter w;
  w.WriteStartElement("row");
  w.WriteAttribute("name", "id");
  w.WriteAttribute("rs:number", "1");
  EXPECT_EQ(w.Text(), "<row name=\"id\" rs:number=\"1\">");
  EXPECT_EQ(w.WriteState(), xwsAttribute);
  w.WriteStartElement("cell");  // a nested element takes its own attributes
  w.WriteAttribute("a", "1");
  w.WriteString("x");
  w.WriteEndElement();
  w.WriteEndElement();
  EXPECT_EQ(w.Text(), "<row name=\"id\" rs:number=\"1\"><cell a=\"1\">x</cell></row>");
}

TEST(CRXmlTest, PrefixNamespaceAndQuote) {
  struct Case {
    const char* name;
    const char *prefix, *local, *value, *ns;
    char quote;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"prefix", "dt", "type", "int", "", '"', "<s dt:type=\"int\">"},
      {"namespace", "rs", "name", "v", "urn:rs", '"', "<s rs:name=\"v\" xmlns:rs=\"urn:rs\">"},
      {"default namespace", "", "name", "v", "urn:d", '"', "<s name=\"v\" xmlns=\"urn:d\">"},
      {"single quotes", "", "name", "say \"hi\"", "", '\'', "<s name='say \"hi\"'>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    XmlTextWriter w;
    w.SetQuoteChar(c.quote);
    w.WriteStartElement("s");
    w.WriteAttributeString(c.prefix, c.local, c.value, c.ns);
    EXPECT_EQ(w.Text(), c.expected);
  }
}

TEST(CRXmlTest, AttributeOutsideAnOpenStartTagRaises) {
  XmlTextWriter w;
  w.WriteStartElement("s");
  w.WriteString("text");
  try {
    w.WriteAttribute("a", "1");
    ADD_FAILURE() << "no exception";
  } catch (const XmlException& e) {
    EXPECT_EQ(e.Message(), "Token WriteAttributeString in state Content would result in an invalid XML document.");
  }
  EXPECT_EQ(w.Text(), "<s>text");  // nothing was written

  XmlTextWriter fresh;
  EXPECT_THROW(fresh.WriteAttribute("a", "1"), XmlException);
  EXPECT_THROW(fresh.WriteEndElement(), XmlException);
  EXPECT_EQ(fresh.Text(), "");
}

TEST(CRXmlTest, XmlLexerLists) {
  struct TXmlParser : TParser {
    explicit TXmlParser(std::string text) : TParser(std::move(text), TCharsetKind::Gbk) {
      SetLists(XmlSymbolList(), XmlKeywordList());
    }
  } p("a:b = 'c'! and");
  std::vector<int> codes;
  std::string text;
  for (int code; (code = p.GetNext(text)) != lcEnd;) codes.push_back(code);
  EXPECT_EQ(codes, (std::vector<int>{lcIdent, 16, lcIdent, 19, lcString, lcSymbol, lcIdent}));
}

}  // namespace
