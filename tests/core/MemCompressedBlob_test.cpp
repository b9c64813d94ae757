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
  return s.substr(0, n);
}

std::string Noise(size_t n) {
  std::mt19937 rng(5);
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

// A blob holding `content`, compressed when it is worth it.
TCompressedBlob* Compressed(const std::string& content) {
  auto* blob = new TCompressedBlob();
  Put(blob, 0, content);  // one write on an empty blob is a plain write
  blob->SetCompressed(true);
  return blob;
}

TEST(CompressedBlobTest, FiftyBytesStayPlainAndFiftyOneCompressWithAnExactHeader) {
  Ref<TCompressedBlob> small(Compressed(std::string(50, 'a')));
  EXPECT_FALSE(small->IsCompressed());
  EXPECT_EQ(Raw(small.p), std::string(50, 'a'));

  const std::string content(51, 'a');
  Ref<TCompressedBlob> blob(new TCompressedBlob());
  Put(blob.p, 0, content);
  blob->SetModified(false);
  blob->SetCompressed(true);
  ASSERT_TRUE(blob->IsCompressed());
  EXPECT_TRUE(blob->Modified());
  const std::string raw = Raw(blob.p);
  ASSERT_LT(raw.size(), content.size());
  EXPECT_EQ(raw.substr(0, 16), std::string(reinterpret_cast<const char*>(TCompressedBlob::Magic), 16));
  EXPECT_EQ(raw.substr(16, 4), std::string("\x33\0\0\0", 4));  // 51, little-endian
  EXPECT_EQ(raw.substr(20, 2), "\x78\x9C");                    // zlib stream, default level
  std::vector<Bytef> out(content.size());                      // any inflater reads the stream
  uLongf outLen = out.size();
  ASSERT_EQ(uncompress(out.data(), &outLen, reinterpret_cast<const Bytef*>(raw.data() + 20), raw.size() - 20),
            Z_OK);
  EXPECT_EQ(std::string(out.begin(), out.end()), content);
  EXPECT_EQ(blob->GetSize(), 51u);  // the content's size, not the piece's
  EXPECT_EQ(blob->GetAsString(), content);
  EXPECT_TRUE(blob->IsCompressed());  // whole reads keep the compressed form

  Ref<TCompressedBlob> plain(new TCompressedBlob());  // magic and size without a stream: plain bytes
  Put(plain.p, 0, raw.substr(0, 20));
  EXPECT_FALSE(plain->IsCompressed());
  EXPECT_EQ(Content(plain.p), raw.substr(0, 20));
}

TEST(CompressedBlobTest, CorruptOrShortStreamsRaiseTheNamedErrors) {
  const std::string good = Raw(Ref<TCompressedBlob>(Compressed(Repeated(400))).p);
  auto withSize = [&](uint32_t size) {
    std::string raw = good;
    std::memcpy(raw.data() + 16, &size, 4);
    return raw;
  };
  std::string flipped = good;
  flipped[good.size() / 2] = static_cast<char>(flipped[good.size() / 2] ^ 0x5A);
  const std::string of100 = Raw(Ref<TCompressedBlob>(Compressed(Repeated(100))).p);
  const struct {
    const char* name;
    std::string raw;
    const char* message;
  } cases[] = {
      {"corrupt stream", flipped, "Invalid compressed blob data"},
      {"stream cut short", good.substr(0, good.size() - 6), "Invalid compressed blob data"},
      {"stream holds more than the header says", withSize(399), "Invalid compressed blob data"},
      {"stream holds less than the header says", withSize(401), "Invalid uncompressed blob size"},
      {"stream of 100 bytes under a header of 400",
       of100.substr(0, 16) + good.substr(16, 4) + of100.substr(20), "Invalid uncompressed blob size"},
      {"size beyond what the stream can hold", withSize(0x7FFFFFFF), "Invalid uncompressed blob size"},
      {"size zero", withSize(0), "Invalid uncompressed blob size"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Ref<TCompressedBlob> blob(new TCompressedBlob());
    Put(blob.p, 0, c.raw);
    ASSERT_TRUE(blob->IsCompressed());
    ExpectMessage([&] { blob->GetAsString(); }, c.message);
    ExpectMessage([&] { blob->SetCompressed(false); }, c.message);
    char buf[4];
    ExpectMessage([&] { blob->Read(1, 4, buf); }, c.message);
    EXPECT_EQ(Raw(blob.p), c.raw);  // the blob keeps its compressed piece
  }
  std::string buf(100, '\0');
  uint32_t len = 100;
  Ref<TCompressedBlob> tiny(Compressed(std::string(20, 'x')));
  ExpectMessage([&] { tiny->UncompressTo(buf.data(), len); }, "Invalid compressed blob size");
  Ref<TCompressedBlob> plain(new TCompressedBlob());
  Put(plain.p, 0, std::string(40, 'x'));
  ExpectMessage([&] { plain->UncompressTo(buf.data(), len); }, "Invalid compressed blob header");
}

// Partial writes, resizing and truncation are left to the string-model run below; saving and
// line-break conversion must see the content, not the compressed bytes.
TEST(CompressedBlobTest, SavingAndLineBreaksWorkOnThePlainContent) {
  Ref<TCompressedBlob> blob(Compressed(Repeated(100) + "\n"));
  ASSERT_TRUE(blob->IsCompressed());
  TStringStream out;
  blob->SaveToStream(out);
  EXPECT_EQ(out.DataString(), Repeated(100) + "\n");
  blob->ConvertText();
  EXPECT_EQ(Content(blob.p), Repeated(100) + "\r\n");
  Ref<TCompressedBlob> noise(Compressed(Noise(200)));  // does not compress: stays plain
  EXPECT_FALSE(noise->IsCompressed());
  EXPECT_EQ(Raw(noise.p), Noise(200));
}

TEST(CompressedBlobTest, CancelBringsBackTheCompressedForm) {
  const std::u16string text(100, u'游');
  Ref<TCompressedBlob> blob(new TCompressedBlob(true));
  blob->SetAsWideString(text);
  blob->SetCompressed(true);
  const std::string raw = Raw(blob.p);
  blob->SetModified(false);
  blob->EnableRollback();
  blob->SetAsWideString(u"short");
  ASSERT_NE(dynamic_cast<TCompressedBlob*>(blob->Rollback()), nullptr);
  EXPECT_EQ(blob->Rollback()->GetAsWideString(), text);
  blob->Cancel();
  EXPECT_EQ(Raw(blob.p), raw);
  EXPECT_EQ(blob->GetAsWideString(), text);
  EXPECT_FALSE(blob->Modified());
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
    const uint32_t kind = Below(4);
    if (kind == 0) {
      if (size < TCompressedBlob::MinCompressSize) Write(size, std::string(60, 'q'));  // worth compressing
      Blob()->SetCompressed(true);
    } else if (kind == 1) {
      Blob()->SetCompressed(false);
    } else if (kind == 2) {
      Write(0, std::string(size, static_cast<char>('a' + Below(3))));  // whole rewrite
    } else {
      BlobModelTest::Extra(size);
    }
  }
};

TEST(CompressedBlobTest, RandomisedAgainstAStringModel) {
  for (int32_t pieceSize : {1, 4, 64}) {
    for (uint32_t seed : {1u, 2u}) {
      SCOPED_TRACE(::testing::Message() << "piece " << pieceSize << " seed " << seed);
      CompressedBlobModelTest test(seed * 77 + static_cast<uint32_t>(pieceSize), pieceSize);
      test.Run(4000);
      if (::testing::Test::HasFailure()) return;
    }
  }
}

}  // namespace
