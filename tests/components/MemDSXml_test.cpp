// The XML rowset writers of a column and a value, and the blob stream over a record's blob.
#include "components/MemDSXml.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MemDSTestSupport.h"
#include "components/MemDSBlob.h"
#include "platform/db/DataSource.h"
#include "platform/runtime/Charset.h"

namespace {

std::string Attributes(const std::function<void(XmlTextWriter&)>& write) {
  XmlTextWriter w;
  w.WriteStartElement("s:AttributeType");
  write(w);
  w.WriteEndElement();
  const std::string text = w.Text();
  const size_t from = std::string("<s:AttributeType").size();
  return text.substr(from, text.find('>') - from);
}

TEST(MemDataSetXml, TypeAttributesByTypeCode) {
  struct Case {
    TestColumn Column;
    std::string Want;
  };
  const std::vector<Case> cases = {
      {{"S", dtString, 21, 20}, R"( dt:type="string" dt:maxLength="20" rs:dbtype="str")"},
      {{"I1", dtInt8, 1, 3}, R"( dt:type="i1" dt:maxLength="1" rs:precision="3")"},
      {{"I2", dtInt16, 2}, R"( dt:type="i2" dt:maxLength="2" rs:precision="5")"},
      {{"I4", dtInt32, 4}, R"( dt:type="int" dt:maxLength="4" rs:precision="10")"},
      {{"R4", dtFloat, 8, 7}, R"( dt:type="r4" dt:maxLength="4" rs:precision="7")"},
      {{"F8", dtFloat, 8, 15}, R"( dt:type="float" dt:maxLength="8" rs:precision="15")"},
      {{"D", dtDate, 8, 10}, R"( dt:type="date" dt:maxLength="8" rs:scale="0" rs:precision="10")"},
      {{"T", dtTime, 8, 8, 0}, R"( dt:type="time" dt:maxLength="8" rs:scale="0" rs:precision="8")"},
      {{"DT", dtDateTime, 8, 19},
       R"( dt:type="datetime" rs:dbtype="variantdate" dt:maxLength="8" rs:scale="0" rs:precision="19")"},
      {{"U2", dtUInt16, 2, 5}, R"( dt:type="ui2" dt:maxLength="2" rs:precision="5")"},
      {{"Y", dtBoolean, 2}, R"( dt:type="boolean" dt:maxLength="2")"},
      {{"I8", dtInt64, 8}, R"( dt:type="i8" dt:maxLength="8" rs:precision="19")"},
      {{"C", dtCurrency, 8, 19},
       R"( dt:type="number" rs:dbtype="currency" dt:maxLength="8" rs:precision="19")"},
      {{"BL", dtBlob, RefFieldSize}, R"( dt:type="bin.hex" dt:maxLength="2147483647" rs:long="true")"},
      {{"M", dtMemo, RefFieldSize},
       R"( dt:type="string" dt:maxLength="2147483647" rs:dbtype="str" rs:long="true")"},
      {{"ES", dtExtString, RefFieldSize, 40}, R"( dt:type="string" dt:maxLength="40" rs:dbtype="str")"},
      {{"BY", dtBytes, 4, 4}, R"( dt:type="bin.hex" dt:maxLength="4")"},
      {{"VB", dtVarBytes, 10, 8}, R"( dt:type="bin.hex" dt:maxLength="8")"},
      {{"W", dtWideString, 42, 20}, R"( dt:type="string" dt:maxLength="20")"},
      {{"EW", dtExtWideString, RefFieldSize, 30}, R"( dt:type="string" dt:maxLength="30")"},
      {{"U4", dtUInt32, 4, 10}, R"( dt:type="ui4" dt:maxLength="4" rs:precision="10")"},
      {{"BCD", dtBCD, 8, 19, 4},
       R"( dt:type="number" rs:dbtype="currency" dt:maxLength="8" rs:precision="19")"},
      {{"FB", dtFmtBCD, 34, 65, 30},
       R"( dt:type="number" rs:dbtype="numeric" dt:maxLength="34" rs:scale="30" rs:precision="65")"},
      {{"WM", dtWideMemo, RefFieldSize}, R"( dt:type="string" dt:maxLength="2147483647" rs:long="true")"},
      {{"FX", dtString, 11, 10, 0, [](TFieldDesc& d) { d.Fixed = true; }},
       R"( dt:type="string" dt:maxLength="10" rs:dbtype="str" rs:fixedlength="true")"},
  };
  std::vector<TestColumn> columns;
  for (const Case& c : cases) columns.push_back(c.Column);
  TTestMemDataSet ds(columns);
  ds.Open();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Column.Name);
    TField* f = ds.FieldByName(c.Column.Name);
    EXPECT_EQ(Attributes([&](XmlTextWriter& w) { ds.WriteFieldXMLDataType(f, *ds.GetFieldDesc(f), w); }),
              c.Want);
  }
  TField* required = ds.FieldByName("I4");
  required->SetRequired(true);
  EXPECT_EQ(Attributes(
                [&](XmlTextWriter& w) { ds.WriteFieldXMLDataType(required, *ds.GetFieldDesc(required), w); }),
            R"( dt:type="int" dt:maxLength="4" rs:precision="10" rs:maybenull="false")");
}

TEST(MemDataSetXml, FieldAttributes) {
  TTestMemDataSet ds({{"ID", dtInt32, 4, 0, 0,
                       [](TFieldDesc& d) {
                         d.IsKey = true;
                         d.ActualName = "id<&>";
                       }},
                      {"N", dtInt32, 4}});
  ds.Open();
  TField* id = ds.FieldByName("ID");
  TField* n = ds.FieldByName("N");
  struct Case {
    const char* Name;
    TField* Field;
    std::function<void()> Adjust;
    std::string Unique;
    std::string Want;
  };
  const std::vector<Case> cases = {
      {"key column with an escaped base column", id, [] {}, "",
       R"( name="ID" rs:number="1" rs:nullable="true" rs:writeunknown="true" rs:basecolumn="id&#x3c;&#x26;&#x3e;" rs:keycolumn="true")"},
      {"unique name", n, [] {}, "c2",
       R"( name="c2" rs:name="N" rs:number="2" rs:nullable="true" rs:writeunknown="true")"},
      {"required", n, [&] { n->SetRequired(true); }, "", R"( name="N" rs:number="2" rs:writeunknown="true")"},
      {"read-only", n, [&] { n->SetReadOnly(true); }, "", R"( name="N" rs:number="2")"},
      {"auto-increment", n, [&] { n->AutoGenerateValue = TField::arAutoInc; }, "",
       R"( name="N" rs:number="2" rs:autoincrement="true")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    c.Adjust();
    EXPECT_EQ(Attributes([&](XmlTextWriter& w) {
                ds.WriteFieldXMLAttributes(c.Field, *ds.GetFieldDesc(c.Field), w, c.Unique);
              }),
              c.Want);
  }
}

TEST(MemDataSetXml, WideMemoValueKeepsEveryCharacter) {
  TTestMemDataSet ds({{"ID", dtInt32, 4}, {"WM", dtWideMemo, RefFieldSize}});
  ds.AddRecord({Variant(1), Variant::Null()});
  ds.Open();
  TField* memo = ds.FieldByName("WM");
  TMemDSUtils::GetBlob(ds, memo)->SetAsWideString(u"\u00E9\U0001F600<");
  std::string text;
  ds.WriteXMLData(memo, *ds.GetFieldDesc(memo), text);
  EXPECT_EQ(text, "\xC3\xA9\xF0\x9F\x98\x80&#x3c;");
}

// ---- Blob stream ------------------------------------------------------------------------------

struct BlobFixture : ::testing::Test {
  BlobFixture() : ds({{"ID", dtInt32, 4}, {"NOTE", dtMemo, RefFieldSize}}) {
    ds.AddRecord({Variant(1), Variant(std::string("note 1"))});
    ds.Open();
    source.SetDataSet(&ds);
    source.OnDataChange = [this](TDataSource*, TField* field) {
      if (field == note) ++changes;
    };
    note = static_cast<TBlobField*>(ds.FieldByName("NOTE"));
  }
  std::string Read(TBlobStream& s, int64_t count) {
    std::string out(static_cast<size_t>(count), '\0');
    out.resize(static_cast<size_t>(s.Read(out.data(), count)));
    return out;
  }
  TTestMemDataSet ds;
  TDataSource source;
  TBlobField* note = nullptr;
  int changes = 0;
};

TEST_F(BlobFixture, SeekReadTruncateAndSize) {
  ds.Edit();
  {
    TBlobStream s(note, bmReadWrite);
    EXPECT_EQ(s.Seek(2, soFromBeginning), 2);
    EXPECT_EQ(Read(s, 3), "te ");
    EXPECT_EQ(s.Seek(-2, soFromCurrent), 3);
    EXPECT_EQ(Read(s, 100), "e 1");
    EXPECT_EQ(Read(s, 1), "");
    EXPECT_EQ(s.Seek(-2, soFromEnd), 4);
    s.Truncate();
    EXPECT_EQ(s.Size(), 4);
    s.SetSize(2);
    EXPECT_EQ(s.Size(), 2);
    EXPECT_EQ(s.Seek(0, soFromEnd), 2);
    EXPECT_EQ(s.Write("w!", 2), 2);
    EXPECT_THROW(s.Seek(-1, soFromBeginning), EStreamError);
    EXPECT_EQ(changes, 0);  // the change is told once the stream is done
  }
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(note->Modified);
  EXPECT_EQ(note->AsString(), "now!");
  ds.Post();
  EXPECT_EQ(note->AsString(), "now!");
}

TEST_F(BlobFixture, ChangesRefusedWhereTheValueCannotBeWritten) {
  const std::vector<std::pair<const char*, std::function<void(TBlobStream&)>>> changes = {
      {"write", [](TBlobStream& s) { s.Write("x", 1); }},
      {"truncate", [](TBlobStream& s) { s.Truncate(); }},
      {"set size", [](TBlobStream& s) { s.SetSize(1); }},
  };
  for (const auto& [name, change] : changes) {
    SCOPED_TRACE(name);
    TBlobStream reader(note, bmRead);
    EXPECT_THROW(change(reader), EDatabaseError);  // browsing: not in edit mode
    EXPECT_EQ(note->AsString(), "note 1");
  }
  EXPECT_THROW(TBlobStream(note, bmWrite), EDatabaseError);
  ds.Edit();
  note->SetReadOnly(true);
  EXPECT_THROW(TBlobStream(note, bmReadWrite), EDatabaseError);
  {
    TBlobStream reader(note, bmRead);
    EXPECT_THROW(reader.Truncate(), EDatabaseError);
  }
  note->SetReadOnly(false);
  ds.Cancel();
  EXPECT_EQ(note->AsString(), "note 1");
  EXPECT_EQ(this->changes, 0);
}

}  // namespace
