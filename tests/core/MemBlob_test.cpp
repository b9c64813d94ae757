#include "core/MemBlob.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "BlobTestSupport.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/Exceptions.h"

namespace {

using namespace blobtest;

TEST(SharedObjectTest, TheLastReleaseDestroysAndHandlesRoundTrip) {
  auto* blob = new TBlob();
  EXPECT_EQ(blob->RefCount(), 1);
  blob->AddRef();
  EXPECT_EQ(blob->RefCount(), 2);
  EXPECT_EQ(TSharedObject::FromHandle(blob->GetHandle()), blob);
  blob->Release();
  EXPECT_EQ(blob->RefCount(), 1);
  blob->Release();  // destroyed here: ASan would report a leak otherwise
}

TEST(SharedObjectTest, AVariantObjectKeepsItsValueWhileShared) {
  auto* holder = new TVariantObject();
  EXPECT_TRUE(holder->Value().IsEmpty());
  holder->SetValue(Variant(std::u16string(u"游戏")));
  holder->AddRef();  // a second record shares it
  holder->Release();
  EXPECT_EQ(holder->Value().VarType(), varOleStr);
  EXPECT_EQ(holder->Value(), Variant(std::u16string(u"游戏")));
  holder->SetValue(Variant::Null());
  EXPECT_TRUE(holder->Value().IsNull());
  holder->Release();
}

TEST(BlobTest, ReadAndWritePositions) {
  Ref<TBlob> blob(new TBlob());
  Put(blob.p, 10, "hello");  // cut to the size: no gap
  EXPECT_EQ(Content(blob.p), "hello");
  char buf[8] = {};
  EXPECT_EQ(blob->Read(2, 0, buf), 3u);  // count 0: to the end
  EXPECT_EQ(std::string(buf, 3), "llo");
  EXPECT_EQ(blob->Read(5, 0, buf), 0u);
  EXPECT_EQ(blob->Read(6, 1, buf), 0u);
  EXPECT_EQ(blob->Read(3, 100, buf), 2u);
  EXPECT_TRUE(blob->Modified());
}

TEST(BlobTest, TruncatingInsideTheFirstPieceEmptiesTheLaterOnes) {
  Ref<TBlob> blob(new TBlob());
  blob->SetPieceSize(4);
  Put(blob.p, 0, "abcdefghij");
  ASSERT_EQ(PieceUsed(blob.p), (std::vector<uint32_t>{4, 4, 2}));
  blob->Truncate(3);
  EXPECT_EQ(PieceUsed(blob.p), (std::vector<uint32_t>{3, 0, 0}));
  EXPECT_EQ(blob->GetSize(), 3u);
  blob->Truncate(50);  // never grows
  EXPECT_EQ(Content(blob.p), "abc");
  Put(blob.p, 3, "DEFGHIJKL");  // refills the kept pieces at the end
  EXPECT_EQ(Content(blob.p), "abcDEFGHIJKL");
}

// A write at the old end after truncating and growing again overwrites the grown bytes; it must
// not insert into the truncated piece's spare room.
TEST(BlobTest, WriteAfterTruncateAndGrowOverwrites) {
  Ref<TBlob> blob(new TBlob());
  Put(blob.p, 0, "0123456789");
  blob->Truncate(5);
  blob->SetSize(8);
  EXPECT_EQ(Content(blob.p), std::string("01234\0\0\0", 8));
  Put(blob.p, 5, "xyz");
  EXPECT_EQ(blob->GetSize(), 8u);
  EXPECT_EQ(Content(blob.p), "01234xyz");
  Put(blob.p, 6, "YZW");
  EXPECT_EQ(Content(blob.p), "01234xYZW");
}

TEST(BlobTest, DefragLeavesOnePieceOrNone) {
  Ref<TBlob> blob(new TBlob());
  blob->SetPieceSize(3);
  Put(blob.p, 0, "abcdefgh");
  blob->Truncate(7);
  blob->Defrag();
  EXPECT_EQ(PieceUsed(blob.p), (std::vector<uint32_t>{7}));
  EXPECT_EQ(blob->GetFirstPiece()->Size, 7u);
  EXPECT_EQ(Content(blob.p), "abcdefg");
  blob->Truncate(0);
  blob->Defrag();
  EXPECT_EQ(blob->GetFirstPiece(), nullptr);
}

TEST(BlobTest, RollbackRestoresContentAndModified) {
  Ref<TBlob> blob(new TBlob());
  Put(blob.p, 0, "before");
  blob->SetModified(false);
  EXPECT_THROW(blob->SaveToRollback(), Exception);
  try {
    blob->SaveToRollback();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Blob must be in cached mode");
  }
  blob->EnableRollback();

  struct Change {
    const char* name;
    void (*apply)(TBlob*);
  } changes[] = {
      {"clear", [](TBlob* b) { b->Clear(); }},
      {"write", [](TBlob* b) { Put(b, 2, "XYZW"); }},
      {"truncate", [](TBlob* b) { b->Truncate(2); }},
      {"grow", [](TBlob* b) { b->SetSize(20); }},
      {"text", [](TBlob* b) { b->SetAsString("new"); }},
      {"line breaks", [](TBlob* b) { b->ConvertText(); }},
  };
  for (const auto& c : changes) {
    SCOPED_TRACE(c.name);
    c.apply(blob.p);
    EXPECT_TRUE(blob->Modified());
    ASSERT_NE(blob->Rollback(), nullptr);
    EXPECT_EQ(Content(blob->Rollback()), "before");
    blob->Cancel();
    EXPECT_EQ(Content(blob.p), "before");
    EXPECT_FALSE(blob->Modified());
    EXPECT_EQ(blob->Rollback(), nullptr);
  }
  Put(blob.p, 0, "after!");
  Put(blob.p, 6, "?");  // a second change keeps the first saved copy
  EXPECT_EQ(Content(blob->Rollback()), "before");
  blob->Commit();
  EXPECT_EQ(blob->Rollback(), nullptr);
  blob->Cancel();  // nothing left to cancel
  EXPECT_EQ(Content(blob.p), "after!?");

  Put(blob.p, 0, "A");
  TBlob* taken = blob->TakeRollback();
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(blob->Rollback(), nullptr);
  EXPECT_EQ(Content(taken), "after!?");
  taken->Release();
}

TEST(BlobTest, UnicodeFlagChangesOnlyWhileEmpty) {
  Ref<TBlob> blob(new TBlob());
  blob->SetIsUnicode(true);
  EXPECT_TRUE(blob->IsUnicode());
  Put(blob.p, 0, "ab");
  try {
    blob->SetIsUnicode(false);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Cannot change IsUnicode if Size > 0");
  }
  EXPECT_NO_THROW(blob->SetIsUnicode(true));
  Put(blob.p, 2, "c");
  EXPECT_THROW(blob->GetAsWideString(), EAssertionFailed);  // odd wide content
}

TEST(BlobTest, StreamsAndAssignCopyTheContent) {
  Ref<TBlob> blob(new TBlob());
  blob->SetPieceSize(5);
  TStringStream in(std::string("stream \0 content", 16));
  in.SetPosition(9);  // loading starts from the stream's start anyway
  blob->LoadFromStream(in);
  EXPECT_EQ(Content(blob.p), std::string("stream \0 content", 16));
  EXPECT_EQ(PieceUsed(blob.p).size(), 4u);

  TStringStream out("old text that is longer than the blob");
  blob->SaveToStream(out);
  EXPECT_EQ(out.DataString(), std::string("stream \0 content", 16));

  Ref<TBlob> copy(new TBlob());
  Put(copy.p, 0, "replaced");
  copy->Assign(blob.p);
  EXPECT_EQ(Content(copy.p), Content(blob.p));
  copy->Assign(copy.p);  // from itself: keeps its content
  EXPECT_EQ(Content(copy.p), Content(blob.p));
}

// ---- text -----------------------------------------------------------------------------------

const std::string GbkGame = "\xD3\xCE\xCF\xB7";  // 游戏 in GBK

TEST(BlobTextTest, ChineseTextRoundTripsAsAnsiAndWide) {
  CodePage gbk(936);
  const std::u16string wide = u"GM游戏管理工具";
  const std::string ansi = WideToAnsi(wide);
  ASSERT_EQ(ansi.size(), 2u + 6 * 2);
  ASSERT_EQ(ansi.substr(2, 4), GbkGame);

  Ref<TBlob> w(new TBlob(true));
  w->SetAsString(ansi);
  EXPECT_EQ(w->GetSize(), wide.size() * 2);
  EXPECT_EQ(w->GetSizeAnsi(), ansi.size());  // two bytes per Chinese character
  EXPECT_EQ(w->GetAsString(), ansi);
  EXPECT_EQ(w->GetAsWideString(), wide);
  w->SetAsWideString(wide);
  EXPECT_EQ(w->GetAsString(), ansi);

  Ref<TBlob> a(new TBlob(false));
  a->SetAsWideString(wide);
  EXPECT_EQ(a->GetSize(), ansi.size());
  EXPECT_EQ(Content(a.p), ansi);
  EXPECT_EQ(a->GetAsWideString(), wide);
  EXPECT_EQ(a->GetSizeAnsi(), ansi.size());

  Ref<TBlob> two(new TBlob(true));
  two->SetAsString("ab");
  EXPECT_EQ(two->GetSize(), 4u);
  EXPECT_EQ(two->GetAsString(), "ab");
}

TEST(BlobTextTest, AnsiPositionsMapToWideBytePositions) {
  CodePage gbk(936);
  Ref<TBlob> w(new TBlob(true));
  w->SetAsWideString(u"GM游戏");
  struct Case {
    uint32_t ansi;
    uint32_t wide;
  } ok[] = {{0, 0}, {1, 2}, {2, 4}, {4, 6}, {6, 8}};
  for (const auto& c : ok) {
    SCOPED_TRACE(c.ansi);
    EXPECT_EQ(w->TranslatePositionToUni(c.ansi), c.wide);
  }
  for (uint32_t bad : {3u, 5u, 7u, 100u}) {
    SCOPED_TRACE(bad);
    try {
      w->TranslatePositionToUni(bad);
      FAIL() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), "Invalid BLOB position");
    }
  }
}

TEST(BlobTextTest, SingleByteCodePageCountsOneBytePerCharacter) {
  CodePage latin(1252);
  Ref<TBlob> w(new TBlob(true));
  w->SetAsWideString(u"abc\u00e9");
  EXPECT_EQ(w->GetSizeAnsi(), 4u);
  EXPECT_EQ(w->TranslatePositionToUni(3), 6u);
  EXPECT_EQ(w->GetAsString(), "abc\xE9");
}

// LF not preceded by CR becomes CR LF; everything else stays, whatever the piece borders.
std::string ExpandLineBreaks(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\n' && (i == 0 || s[i - 1] != '\r')) out += '\r';
    out += s[i];
  }
  return out;
}

TEST(BlobTextTest, LineBreaksExpandAcrossPieceBorders) {
  const std::string fixed[] = {"a\nb\r\nc", "\n", "\r", "x\r", "\r\n", "\n\n", "a\n\nb", "ab\ncd\nef", "\r\r\n\n", ""};
  std::mt19937 rng(11);
  std::vector<std::string> texts(std::begin(fixed), std::end(fixed));
  for (int i = 0; i < 300; ++i) {
    std::string t;
    for (int n = static_cast<int>(rng() % 12); n > 0; --n) t += "ab\r\n"[rng() % 4];
    texts.push_back(t);
  }
  for (int32_t pieceSize : {1, 2, 3, 4, 7, 1000}) {
    for (const auto& text : texts) {
      SCOPED_TRACE(::testing::Message() << "piece " << pieceSize << " text " << ::testing::PrintToString(text));
      Ref<TBlob> blob(new TBlob(false));
      blob->SetPieceSize(pieceSize);
      Put(blob.p, 0, text);
      blob->ConvertText();
      ASSERT_EQ(Content(blob.p), ExpandLineBreaks(text));

      Ref<TBlob> wide(new TBlob(true));
      wide->SetPieceSize(pieceSize);  // odd sizes split 16-bit units across pieces
      const std::u16string w(text.begin(), text.end());
      wide->SetAsWideString(w);
      wide->ConvertText();
      const std::string expected = ExpandLineBreaks(text);
      ASSERT_EQ(wide->GetAsWideString(), std::u16string(expected.begin(), expected.end()));
    }
  }
}

// ---- randomised -----------------------------------------------------------------------------

TEST(BlobTest, RandomisedAgainstAStringModel) {
  for (int32_t pieceSize : {1, 2, 3, 5, 16}) {
    for (uint32_t seed : {1u, 2u, 3u}) {
      SCOPED_TRACE(::testing::Message() << "piece " << pieceSize << " seed " << seed);
      BlobModelTest test(seed * 1000 + static_cast<uint32_t>(pieceSize), new TBlob(), pieceSize);
      test.Run(4000);
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
}

}  // namespace
