#include "core/MemCompressedBlob.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "BlobTestSupport.h"
#include "core/MemUtils.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/Exceptions.h"

namespace {

using namespace blobtest;

std::string Repeated(size_t n) {
  std::string s;
  while (s.size() < n) s += "0123456789";
  s.resize(n);
  return s;
}

std::string RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// The stored bytes, compressed form included.
std::string Raw(TBlob* blob) {
  std::string s;
  for (PPieceHeader p = blob->GetFirstPiece(); p; p = p->Next)
    s.append(reinterpret_cast<const char*>(TBlob::PieceData(p)), p->Used);
  return s;
}

std::string Compressed(const std::string& content) {
  Ref<TCompressedBlob> blob(new TCompressedBlob());
  Put(blob.p, 0, content);
  blob->SetCompressed(true);
  EXPECT_TRUE(blob->IsCompressed());
  return Raw(blob.p);
}

// A blob holding exactly these stored bytes.
TCompressedBlob* WithRaw(const std::string& raw) {
  auto* blob = new TCompressedBlob();
  Put(blob, 0, raw);  // one write on an empty blob is a plain write
  return blob;
}

void ExpectMessage(const std::function<void()>& action, const std::string& message) {
  try {
    action();
    ADD_FAILURE() << "no exception, expected " << message;
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), message);
  }
}

TEST(CompressedBlobTest, FiftyBytesStayPlainAndFiftyOneCompressWithAnExactHeader) {
  Ref<TCompressedBlob> small(new TCompressedBlob());
  Put(small.p, 0, std::string(50, 'a'));
  small->SetCompressed(true);
  EXPECT_FALSE(small->IsCompressed());
  EXPECT_EQ(Raw(small.p), std::string(50, 'a'));

  Ref<TCompressedBlob> blob(new TCompressedBlob());
  const std::string content(51, 'a');
  Put(blob.p, 0, content);
  blob->SetModified(false);
  blob->SetCompressed(true);
  ASSERT_TRUE(blob->IsCompressed());
  EXPECT_TRUE(blob->Modified());
  const std::string raw = Raw(blob.p);
  ASSERT_LT(raw.size(), content.size());
  EXPECT_EQ(raw.substr(0, 16), std::string(reinterpret_cast<const char*>(TCompressedBlob::Magic), 16));
  EXPECT_EQ(raw.substr(16, 4), std::string("\x33\0\0\0", 4));  // 51, little-endian
  EXPECT_EQ(raw.substr(20, 2), "\x78\x9C");                     // zlib stream, default level
  // The stream is plain zlib: any inflater reads it back.
  std::vector<Bytef> out(content.size());
  uLongf outLen = out.size();
  ASSERT_EQ(uncompress(out.data(), &outLen, reinterpret_cast<const Bytef*>(raw.data() + 20), raw.size() - 20), Z_OK);
  EXPECT_EQ(std::string(out.begin(), out.end()), content);

  EXPECT_EQ(blob->GetSize(), 51u);  // the content's size, not the piece's
  EXPECT_EQ(blob->GetUncompressedSize(), 51u);
  EXPECT_EQ(blob->GetAsString(), content);
  EXPECT_TRUE(blob->IsCompressed());  // whole reads keep the compressed form
}

TEST(CompressedBlobTest, IncompressibleContentStaysPlain) {
  Ref<TCompressedBlob> blob(new TCompressedBlob());
  const std::string content = RandomBytes(1000, 5);
  Put(blob.p, 0, content);
  EXPECT_FALSE(blob->CompressFrom(content.data(), 1000));
  blob->SetCompressed(true);
  EXPECT_FALSE(blob->IsCompressed());
  EXPECT_EQ(Raw(blob.p), content);
}

TEST(CompressedBlobTest, APartialReadUncompressesFirst) {
  Ref<TCompressedBlob> blob(new TCompressedBlob());
  const std::string content = Repeated(300) + "tail";
  Put(blob.p, 0, content);
  blob->SetCompressed(true);
  ASSERT_TRUE(blob->IsCompressed());
  char buf[10];
  EXPECT_EQ(blob->Read(10, 10, buf), 10u);
  EXPECT_EQ(std::string(buf, 10), content.substr(10, 10));
  EXPECT_FALSE(blob->IsCompressed());
  EXPECT_EQ(Raw(blob.p), content);
}

TEST(CompressedBlobTest, AFirstPieceOfMagicAndSizeOnlyIsPlain) {
  std::string raw(reinterpret_cast<const char*>(TCompressedBlob::Magic), 16);
  raw += std::string("\x05\0\0\0", 4);
  Ref<TCompressedBlob> blob(WithRaw(raw));
  EXPECT_FALSE(blob->IsCompressed());
  EXPECT_EQ(blob->GetSize(), 20u);
  EXPECT_EQ(Content(blob.p), raw);
}

TEST(CompressedBlobTest, CorruptOrShortStreamsRaiseTheNamedErrors) {
  const std::string content = Repeated(400);
  const std::string good = Compressed(content);
  auto withSize = [&](uint32_t size) {
    std::string raw = good;
    std::memcpy(raw.data() + 16, &size, 4);
    return raw;
  };
  std::string flipped = good;
  flipped[good.size() / 2] = static_cast<char>(flipped[good.size() / 2] ^ 0x5A);
  const std::string shortDeflate = Compressed(Repeated(100));

  struct Case {
    const char* name;
    std::string raw;
    const char* message;
  } cases[] = {
      {"corrupt stream", flipped, "Invalid compressed blob data"},
      {"stream cut short", good.substr(0, good.size() - 6), "Invalid compressed blob data"},
      {"stream holds more than the header says", withSize(399), "Invalid compressed blob data"},
      {"stream holds less than the header says", withSize(401), "Invalid uncompressed blob size"},
      {"stream of 100 bytes under a header of 400", shortDeflate.substr(0, 16) + good.substr(16, 4) + shortDeflate.substr(20),
       "Invalid uncompressed blob size"},
      {"size beyond what the stream can hold", withSize(0x7FFFFFFF), "Invalid uncompressed blob size"},
      {"size zero", withSize(0), "Invalid uncompressed blob size"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Ref<TCompressedBlob> blob(WithRaw(c.raw));
    ASSERT_TRUE(blob->IsCompressed());
    ExpectMessage([&] { blob->GetAsString(); }, c.message);
    ExpectMessage([&] { blob->SetCompressed(false); }, c.message);
    char buf[4];
    ExpectMessage([&] { blob->Read(1, 4, buf); }, c.message);
    EXPECT_EQ(Raw(blob.p), c.raw);  // the blob keeps its compressed piece
  }
}

TEST(CompressedBlobTest, UncompressToChecksSizeAndHeader) {
  std::string buf(100, '\0');
  uint32_t len = 100;
  Ref<TCompressedBlob> tiny(WithRaw(std::string(20, 'x')));
  ExpectMessage([&] { tiny->UncompressTo(buf.data(), len); }, "Invalid compressed blob size");
  Ref<TCompressedBlob> plain(WithRaw(std::string(40, 'x')));
  ExpectMessage([&] { plain->UncompressTo(buf.data(), len); }, "Invalid compressed blob header");
}

TEST(CompressedBlobTest, WholeWritesStayCompressedAndOtherWritesUncompress) {
  Ref<TCompressedBlob> blob(new TCompressedBlob());
  Put(blob.p, 0, Repeated(200));
  blob->SetCompressed(true);
  const std::string next = std::string(200, 'z');
  Put(blob.p, 0, next);  // the whole content replaced
  EXPECT_TRUE(blob->IsCompressed());
  EXPECT_EQ(blob->GetAsString(), next);
  const std::string noise = RandomBytes(200, 9);
  Put(blob.p, 0, noise);  // does not compress: written plainly
  EXPECT_FALSE(blob->IsCompressed());
  EXPECT_EQ(Raw(blob.p), noise);

  Put(blob.p, 0, next);  // a plain blob is written plainly
  EXPECT_FALSE(blob->IsCompressed());
  blob->SetCompressed(true);
  Put(blob.p, 5, "abc");
  EXPECT_FALSE(blob->IsCompressed());
  EXPECT_EQ(Content(blob.p), next.substr(0, 5) + "abc" + next.substr(8));
}

TEST(CompressedBlobTest, ResizingTruncatingAndSavingWorkOnThePlainContent) {
  struct Case {
    const char* name;
    void (*apply)(TCompressedBlob*);
    std::string want;
  } cases[] = {
      {"grow", [](TCompressedBlob* b) { b->SetSize(210); }, Repeated(200) + std::string(10, '\0')},
      {"shrink", [](TCompressedBlob* b) { b->SetSize(20); }, Repeated(20)},
      {"same size", [](TCompressedBlob* b) { b->SetSize(200); }, Repeated(200)},
      {"truncate", [](TCompressedBlob* b) { b->Truncate(7); }, Repeated(7)},
      {"truncate to 0", [](TCompressedBlob* b) { b->Truncate(0); }, ""},
      {"line breaks", [](TCompressedBlob* b) { b->ConvertText(); }, Repeated(200)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Ref<TCompressedBlob> blob(new TCompressedBlob());
    Put(blob.p, 0, Repeated(200));
    blob->SetCompressed(true);
    c.apply(blob.p);
    EXPECT_EQ(Content(blob.p), c.want);
  }

  Ref<TCompressedBlob> blob(new TCompressedBlob());
  Put(blob.p, 0, Repeated(100) + "\n");
  blob->SetCompressed(true);
  TStringStream out;
  blob->SaveToStream(out);
  EXPECT_EQ(out.DataString(), Repeated(100) + "\n");
  blob->ConvertText();
  EXPECT_EQ(Content(blob.p), Repeated(100) + "\r\n");
}

TEST(CompressedBlobTest, CancelBringsBackTheCompressedForm) {
  Ref<TCompressedBlob> blob(new TCompressedBlob(true));
  const std::u16string text(100, u'游');
  blob->SetAsWideString(text);
  blob->SetCompressed(true);
  const std::string raw = Raw(blob.p);
  blob->SetModified(false);
  blob->EnableRollback();
  blob->SetAsWideString(u"short");
  ASSERT_NE(dynamic_cast<TCompressedBlob*>(blob->Rollback()), nullptr);
  EXPECT_TRUE(blob->Rollback()->IsUnicode());
  EXPECT_EQ(blob->Rollback()->GetAsWideString(), text);
  blob->Cancel();
  EXPECT_EQ(Raw(blob.p), raw);
  EXPECT_EQ(blob->GetAsWideString(), text);
  EXPECT_FALSE(blob->Modified());
}

TEST(CompressedBlobTest, AMissingCompressorIsReported) {
  TCompressProc saved = CompressProc;
  CompressProc = nullptr;
  Ref<TCompressedBlob> blob(new TCompressedBlob());
  Put(blob.p, 0, Repeated(100));
  ExpectMessage([&] { blob->SetCompressed(true); }, "Compressor function is not linked");
  CompressProc = saved;
  EXPECT_EQ(Content(blob.p), Repeated(100));
}

// The string-model run with compression switched on and off and whole-content rewrites mixed in.
class CompressedBlobModelTest : public BlobModelTest {
public:
  CompressedBlobModelTest(uint32_t seed, int32_t pieceSize)
      : BlobModelTest(seed, new TCompressedBlob(), pieceSize) {}

protected:
  TCompressedBlob* Blob() { return static_cast<TCompressedBlob*>(blob.p); }
  int Form() override { return Blob()->IsCompressed() ? 1 : 0; }

  void Extra(uint32_t size) override {
    switch (Below(4)) {
      case 0:
        if (size < TCompressedBlob::MinCompressSize) Write(size, std::string(60, 'q'));  // worth compressing
        Blob()->SetCompressed(true);
        break;
      case 1:
        Blob()->SetCompressed(false);
        break;
      case 2: {
        std::string text(size, static_cast<char>('a' + Below(3)));
        Write(0, text);  // whole rewrite
        break;
      }
      default:
        BlobModelTest::Extra(size);
        break;
    }
  }
};

TEST(CompressedBlobTest, RandomisedAgainstAStringModel) {
  for (int32_t pieceSize : {1, 4, 64}) {
    for (uint32_t seed : {1u, 2u}) {
      SCOPED_TRACE(::testing::Message() << "piece " << pieceSize << " seed " << seed);
      CompressedBlobModelTest test(seed * 77 + static_cast<uint32_t>(pieceSize), pieceSize);
      test.Run(4000);
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
}

}  // namespace
