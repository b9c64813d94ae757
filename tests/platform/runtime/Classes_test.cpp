#include "platform/runtime/Classes.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/runtime/Exceptions.h"

namespace {

// A file under TMPDIR removed when the test ends.
class TempFile {
 public:
  TempFile() {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/classes_test_XXXXXX";
    int fd = mkstemp(pattern.data());
    if (fd >= 0) ::close(fd);
    FName = pattern;
  }
  ~TempFile() { ::unlink(FName.c_str()); }
  const std::string& Name() const { return FName; }

 private:
  std::string FName;
};

std::string ReadAll(TStream& s, int64_t count) {
  std::string out(static_cast<size_t>(count), '\0');
  out.resize(static_cast<size_t>(s.Read(out.data(), count)));
  return out;
}

// Both stream kinds must behave alike; each case runs on a memory stream and a file stream.
class StreamTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam())
      FStream = std::make_unique<TFileStream>(FFile.Name(), fmCreate);
    else
      FStream = std::make_unique<TMemoryStream>();
    FStream->WriteBuffer("0123456789", 10);
  }
  TempFile FFile;
  std::unique_ptr<TStream> FStream;
};

TEST_P(StreamTest, SeeksFromEachOrigin) {
  TStream& s = *FStream;
  struct Case {
    const char* name;
    int64_t offset;
    TSeekOrigin origin;
    int64_t wantPos;
    std::string wantRead;  // 3 bytes read after the seek
  };
  const Case cases[] = {
      {"from beginning", 2, soFromBeginning, 2, "234"},
      {"from current backwards", -4, soFromCurrent, 1, "123"},  // position was 5 after the case above
      {"from end", -3, soFromEnd, 7, "789"},
      {"at end", 0, soFromEnd, 10, ""},
      {"past end", 5, soFromEnd, 15, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(s.Seek(c.offset, c.origin), c.wantPos);
    EXPECT_EQ(s.Position(), c.wantPos);
    EXPECT_EQ(ReadAll(s, 3), c.wantRead);
  }
  EXPECT_EQ(s.Size(), 10);
}

TEST_P(StreamTest, ReadsAtAndPastTheEnd) {
  TStream& s = *FStream;
  s.SetPosition(8);
  char buf[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(s.Read(buf, 4), 2);  // short read: only what is left
  EXPECT_EQ(std::string(buf, 2), "89");
  EXPECT_EQ(s.Read(buf, 4), 0);  // at the end
  s.SetPosition(8);
  EXPECT_THROW(s.ReadBuffer(buf, 4), EStreamError);
  s.SetPosition(100);
  EXPECT_EQ(s.Read(buf, 1), 0);
  try {
    s.ReadBuffer(buf, 1);
    FAIL() << "no exception";
  } catch (const EStreamError& e) {
    EXPECT_STREQ(e.what(), "Stream read error");
  }
}

TEST_P(StreamTest, NegativePositionsAreRefused) {
  TStream& s = *FStream;
  EXPECT_THROW(s.Seek(-1, soFromBeginning), EStreamError);
  EXPECT_THROW(s.Seek(-11, soFromEnd), EStreamError);
  EXPECT_THROW(s.SetSize(-1), EStreamError);
}

TEST_P(StreamTest, WritingPastTheEndFillsTheGapWithZeros) {
  TStream& s = *FStream;
  s.Seek(2, soFromEnd);
  s.WriteBuffer("ab", 2);
  EXPECT_EQ(s.Size(), 14);
  s.SetPosition(9);
  EXPECT_EQ(ReadAll(s, 10), std::string("9\0\0ab", 5));
}

TEST_P(StreamTest, SetSizeTruncatesAndClampsThePosition) {
  TStream& s = *FStream;
  s.SetSize(4);
  EXPECT_EQ(s.Size(), 4);
  EXPECT_EQ(s.Position(), 4);
  s.SetPosition(0);
  EXPECT_EQ(ReadAll(s, 10), "0123");
}

TEST_P(StreamTest, CopyFromWholeSourceAndPart) {
  TMemoryStream dest;
  EXPECT_EQ(dest.CopyFrom(*FStream, 0), 10);  // 0 = all of it, from the start
  EXPECT_EQ(std::string(reinterpret_cast<char*>(dest.Memory()), 10), "0123456789");
  FStream->SetPosition(6);
  dest.Clear();
  EXPECT_EQ(dest.CopyFrom(*FStream, 3), 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(dest.Memory()), 3), "678");
  EXPECT_THROW(dest.CopyFrom(*FStream, 5), EStreamError);  // one byte left
}

INSTANTIATE_TEST_SUITE_P(Kinds, StreamTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "File" : "Memory"; });

TEST(FileStreamTest, OpenFailureNamesTheFile) {
  try {
    TFileStream s("/nonexistent-dir/x.bin", fmOpenRead);
    FAIL() << "no exception";
  } catch (const EFOpenError& e) {
    EXPECT_NE(std::string(e.what()).find("\"/nonexistent-dir/x.bin\""), std::string::npos) << e.what();
  }
  EXPECT_THROW(TFileStream("/nonexistent-dir/x.bin", fmCreate), EFOpenError);
}

TEST(FileStreamTest, ModesAndMemoryStreamFileRoundTrip) {
  TempFile f;
  TMemoryStream m;
  m.WriteBuffer("a\0b", 3);
  m.SaveToFile(f.Name());
  {
    TFileStream r(f.Name(), fmOpenRead);
    EXPECT_EQ(ReadAll(r, 10), std::string("a\0b", 3));
    EXPECT_THROW(r.WriteBuffer("x", 1), EStreamError);  // opened read-only
  }
  {
    TFileStream w(f.Name(), fmOpenReadWrite);  // opening keeps the content
    w.Seek(0, soFromEnd);
    w.WriteBuffer("c", 1);
  }
  TMemoryStream back;
  back.LoadFromFile(f.Name());
  EXPECT_EQ(back.Position(), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(back.Memory()), 4), std::string("a\0bc", 4));
  TFileStream c(f.Name(), fmCreate);  // create truncates
  EXPECT_EQ(c.Size(), 0);
}

// ---- TStringList ----------------------------------------------------------------------------

std::string Joined(const TStringList& l) {
  std::string out;
  for (int i = 0; i < l.Count(); ++i) out += (i ? "|" : "") + l[i];
  return out;
}

TEST(StringListTest, TextSplitsOnEachLineBreakAndJoinsWithCrLf) {
  struct Case {
    const char* name;
    std::string text;
    std::string want;
  };
  const Case cases[] = {
      {"CR LF", "a\r\nb", "a|b"},
      {"LF", "a\nb\n", "a|b"},
      {"CR", "a\rb\r", "a|b"},
      {"mixed and empty lines", "a\n\r\nb\r\rc", "a||b||c"},
      {"LF CR is two breaks", "a\n\rb", "a||b"},
      {"empty", "", ""},
      {"only a break", "\r\n", ""},
      {"embedded zero", std::string("x\0y\nz", 5), std::string("x\0y|z", 5)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TStringList l;
    l.SetText(c.text);
    EXPECT_EQ(Joined(l), c.want);
  }
  TStringList l;
  l.SetText("a\nb");
  EXPECT_EQ(l.Text(), "a\r\nb\r\n");
}

TEST(StringListTest, KeptLineBreaksGiveTheTextBack) {
  const struct {
    const char* name;
    std::string text, want;  // want: when the last line has no end of its own
  } cases[] = {
      {"LF", "a\nb", "a\nb\r\n"}, {"CR LF and a final break", "a\r\nb\r\n", ""},
      {"CR", "a\rb\r", ""},       {"mixed and empty lines", "a\n\r\nb\r\rc\n", ""},
      {"LF CR", "a\n\rb\n", ""},  {"empty", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string want = c.want.empty() ? c.text : c.want;
    TStringList l;
    l.SetKeepLineBreaks(true);
    l.SetText(c.text);
    EXPECT_EQ(l.Text(), want);
    TStringList copy;
    copy.SetKeepLineBreaks(true);
    copy.Assign(l);
    EXPECT_EQ(copy.Text(), want);
  }
  TStringList l;
  l.SetKeepLineBreaks(true);
  l.SetText("a\nb\n");
  l.Add("c");
  EXPECT_EQ(l.Text(), "a\nb\nc\r\n");
  TStringList crlf;
  crlf.SetText("a\r\nb\r\nc");
  EXPECT_NE(crlf.ExactText(), l.ExactText());
}

TEST(StringListTest, EditingAndIndexErrors) {
  TStringList l;
  int obj = 0;
  EXPECT_EQ(l.Add("one"), 0);
  EXPECT_EQ(l.AddObject("two", &obj), 1);
  l.Insert(0, "zero");
  EXPECT_EQ(Joined(l), "zero|one|two");
  EXPECT_EQ(l.Objects(2), &obj);
  EXPECT_EQ(l.IndexOfObject(&obj), 2);
  EXPECT_EQ(l.IndexOf("ONE"), 1);  // case-insensitive by default
  l.SetCaseSensitive(true);
  EXPECT_EQ(l.IndexOf("ONE"), -1);
  l.Delete(1);
  EXPECT_EQ(Joined(l), "zero|two");
  EXPECT_THROW(l.Strings(2), EListError);
  EXPECT_THROW(l.Delete(-1), EListError);
  EXPECT_THROW(l.Insert(3, "x"), EListError);
  try {
    l.Delete(5);
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (5)");
  }
}

TEST(StringListTest, SortedListsKeepByteOrderAndHandleDuplicates) {
  TStringList l;
  l.SetCaseSensitive(true);
  l.SetSorted(true);
  for (const char* s : {"_", "`", "!", "[", "AND", "\\", "a"}) l.Add(s);
  EXPECT_EQ(Joined(l), "!|AND|[|\\|_|`|a");
  int index = -1;
  EXPECT_TRUE(l.Find("\\", index));
  EXPECT_EQ(index, 3);
  EXPECT_FALSE(l.Find("B", index));
  EXPECT_EQ(index, 2);         // where it would go
  EXPECT_EQ(l.Add("AND"), 1);  // dupIgnore: the existing index
  EXPECT_EQ(l.Count(), 7);
  l.SetDuplicates(dupError);
  EXPECT_THROW(l.Add("AND"), EListError);
  l.SetDuplicates(dupAccept);
  l.Add("AND");
  EXPECT_EQ(l.Count(), 8);
  EXPECT_THROW(l.Insert(0, "x"), EListError);
  EXPECT_THROW(l.SetStrings(0, "x"), EListError);
}

TEST(StringListTest, CaseFoldingLeavesMultiByteTrailBytesAlone) {
  // GBK 0x81 0x61 and 0x81 0x41 are different characters whose trail bytes look like 'a' / 'A'.
  TStringList l;
  l.Add("\x81\x61");
  EXPECT_EQ(l.IndexOf("\x81\x41"), -1);
  EXPECT_EQ(l.IndexOf("\x81\x61"), 0);
  EXPECT_EQ(l.CompareStrings("abc", "ABD"), -1);
}

TEST(StringListTest, ChangeEventsFireAroundEachChangeAndOnceForAnUpdate) {
  TStringList l;
  std::string log;
  l.OnChanging = [&](TStringList* sender) {
    EXPECT_EQ(sender, &l);
    log += "<" + std::to_string(l.Count());
  };
  l.OnChange = [&](TStringList*) { log += ">" + std::to_string(l.Count()); };
  l.Add("a");
  l.Delete(0);
  EXPECT_EQ(log, "<0>1<1>0");
  log.clear();
  l.BeginUpdate();
  l.Add("a");
  l.BeginUpdate();
  l.Add("b");
  l.EndUpdate();
  EXPECT_EQ(log, "<0");
  l.EndUpdate();
  EXPECT_EQ(log, "<0>2");
  log.clear();
  l.SetText("x\ny\nz");
  EXPECT_EQ(log, "<2>3");
}

TEST(StringListTest, StreamAndFileRoundTrip) {
  TempFile f;
  TStringList l;
  l.SetText("first\nsecond");
  l.SaveToFile(f.Name());
  TStringList back;
  back.LoadFromFile(f.Name());
  EXPECT_EQ(Joined(back), "first|second");
  TStringStream s("x\r\ny");
  s.SetPosition(3);
  back.LoadFromStream(s);  // from the position on
  EXPECT_EQ(Joined(back), "y");
}

}  // namespace
