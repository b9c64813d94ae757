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

// A write at the old end after truncating and growing again overwrites the grown bytes; it must
// not insert into the truncated piece's spare room.
TEST(BlobTest, WriteAfterTruncateAndGrowOverwrites) {
  Ref<TBlob> blob(new TBlob());
  Put(blob.p, 0, "0123456789");
  blob->Truncate(5);
  blob->SetSize(8);
  EXPECT_EQ(Content(blob.p), std::string("01234\0\0\0", 8));
  Put(blob.p, 5, "xyz");
  EXPECT_EQ(Content(blob.p), "01234xyz");
  Put(blob.p, 6, "YZW");
  EXPECT_EQ(Content(blob.p), "01234xYZW");
}

// Every kind of change keeps a rollback copy in cached mode, and Cancel brings it back.
TEST(BlobTest, RollbackRestoresContentAndModified) {
  Ref<TBlob> blob(new TBlob());
  Put(blob.p, 0, "before");
  blob->SetModified(false);
  ExpectMessage([&] { blob->SaveToRollback(); }, "Blob must be in cached mode");
  blob->EnableRollback();
  const struct {
    const char* name;
    void (*apply)(TBlob*);
  } changes[] = {
      {"clear", [](TBlob* b) { b->Clear(); }},           {"write", [](TBlob* b) { Put(b, 2, "XYZW"); }},
      {"truncate", [](TBlob* b) { b->Truncate(2); }},    {"grow", [](TBlob* b) { b->SetSize(20); }},
      {"text", [](TBlob* b) { b->SetAsString("new"); }}, {"line breaks", [](TBlob* b) { b->ConvertText(); }},
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
  TBlob* taken = blob->TakeRollback();
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(blob->Rollback(), nullptr);
  EXPECT_EQ(Content(taken), "before");
  taken->Release();
}

TEST(BlobTest, StreamsAndAssignCopyTheContent) {
  const std::string text("stream \0 content", 16);
  Ref<TBlob> blob(new TBlob());
  blob->SetPieceSize(5);
  TStringStream in(text);
  in.SetPosition(9);  // loading starts from the stream's start anyway
  blob->LoadFromStream(in);
  EXPECT_EQ(Content(blob.p), text);
  TStringStream out("old text that is longer than the blob");
  blob->SaveToStream(out);
  EXPECT_EQ(out.DataString(), text);
  Ref<TBlob> copy(new TBlob());
  Put(copy.p, 0, "replaced");
  copy->Assign(blob.p);
  copy->Assign(copy.p);  // from itself: keeps its content
  EXPECT_EQ(Content(copy.p), text);
}

TEST(BlobTextTest, ChineseTextRoundTripsAsAnsiAndWide) {
  CodePage gbk(936);
  const std::u16string wide = u"GM游戏管理工具";
  const std::string ansi = WideToAnsi(wide);
  ASSERT_EQ(ansi.size(), 2u + 6 * 2);
  ASSERT_EQ(ansi.substr(2, 4), "\xD3\xCE\xCF\xB7");  // 游戏 in GBK
  Ref<TBlob> w(new TBlob(true));
  w->SetAsString(ansi);
  EXPECT_EQ(w->GetSize(), wide.size() * 2);
  EXPECT_EQ(w->GetSizeAnsi(), ansi.size());  // two bytes per Chinese character
  EXPECT_EQ(w->GetAsString(), ansi);
  EXPECT_EQ(w->GetAsWideString(), wide);
  Ref<TBlob> a(new TBlob(false));
  a->SetAsWideString(wide);
  EXPECT_EQ(Content(a.p), ansi);
  EXPECT_EQ(a->GetAsWideString(), wide);

  ExpectMessage([&] { w->SetIsUnicode(false); }, "Cannot change IsUnicode if Size > 0");
  Put(w.p, static_cast<uint32_t>(w->GetSize()), "c");
  EXPECT_THROW(w->GetAsWideString(), EAssertionFailed);  // odd wide content
}

TEST(BlobTextTest, AnsiPositionsMapToWideBytePositions) {
  CodePage gbk(936);
  Ref<TBlob> w(new TBlob(true));
  w->SetAsWideString(u"GM游戏");
  // ANSI position -> wide byte position; -1: inside a character or past the end.
  const std::pair<uint32_t, int> cases[] = {{0, 0}, {1, 2},  {2, 4},  {4, 6},
                                            {6, 8}, {3, -1}, {7, -1}, {100, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    if (c.second < 0)
      ExpectMessage([&] { w->TranslatePositionToUni(c.first); }, "Invalid BLOB position");
    else
      EXPECT_EQ(w->TranslatePositionToUni(c.first), static_cast<uint32_t>(c.second));
  }
  CodePage latin(1252);  // one byte per character
  w->SetAsWideString(u"abc\u00e9");
  EXPECT_EQ(w->GetSizeAnsi(), 4u);
  EXPECT_EQ(w->TranslatePositionToUni(3), 6u);
  EXPECT_EQ(w->GetAsString(), "abc\xE9");
}

// LF not preceded by CR becomes CR LF; everything else stays, whatever the piece borders (a lone LF
// at the end of a piece once swallowed the next piece's first character).
TEST(BlobTextTest, LineBreaksExpandAcrossPieceBorders) {
  std::vector<std::string> texts = {"a\nb\r\nc", "\n", "x\r", "\n\n", "ab\ncd\nef", "\r\r\n\n", ""};
  std::mt19937 rng(11);
  for (int i = 0; i < 150; ++i) {
    std::string t;
    for (int n = static_cast<int>(rng() % 12); n > 0; --n) t += "ab\r\n"[rng() % 4];
    texts.push_back(t);
  }
  for (int32_t pieceSize : {1, 2, 3, 4, 7, 1000}) {
    for (const auto& text : texts) {
      SCOPED_TRACE(::testing::Message()
                   << "piece " << pieceSize << " text " << ::testing::PrintToString(text));
      std::string expected;
      for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) expected += '\r';
        expected += text[i];
      }
      Ref<TBlob> blob(new TBlob(false));
      blob->SetPieceSize(pieceSize);
      Put(blob.p, 0, text);
      blob->ConvertText();
      ASSERT_EQ(Content(blob.p), expected);
      Ref<TBlob> wide(new TBlob(true));
      wide->SetPieceSize(pieceSize);  // odd sizes split 16-bit units across pieces
      wide->SetAsWideString(std::u16string(text.begin(), text.end()));
      wide->ConvertText();
      ASSERT_EQ(wide->GetAsWideString(), std::u16string(expected.begin(), expected.end()));
    }
  }
}

TEST(BlobTest, RandomisedAgainstAStringModel) {
  for (int32_t pieceSize : {1, 2, 3, 5, 16}) {
    for (uint32_t seed : {1u, 2u}) {
      SCOPED_TRACE(::testing::Message() << "piece " << pieceSize << " seed " << seed);
      BlobModelTest test(seed * 1000 + static_cast<uint32_t>(pieceSize), new TBlob(), pieceSize);
      test.Run(4000);
      if (::testing::Test::HasFailure()) return;
    }
  }
}

}  // namespace
