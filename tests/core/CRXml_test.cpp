#include "core/CRXml.h"

#include <gtest/gtest.h>

#include <string>

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
  const struct {
    const char *name, *prefix, *local, *value, *ns;
    char quote;
    std::string expected;
  } cases[] = {
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
    EXPECT_EQ(e.Message(),
              "Token WriteAttributeString in state Content would result in an invalid XML document.");
  }
  EXPECT_EQ(w.Text(), "<s>text");  // nothing was written
  XmlTextWriter fresh;
  EXPECT_THROW(fresh.WriteEndElement(), XmlException);
}

}  // namespace
