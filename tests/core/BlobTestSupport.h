// Helpers shared by the blob tests: a reference holder, content access, and a randomised run of
// blob operations checked against a plain string.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "core/MemBlob.h"
#include "platform/runtime/Charset.h"

namespace blobtest {

// Holds the test's reference to a shared object.
template <typename T>
struct Ref {
  T* p;
  explicit Ref(T* object) : p(object) {}
  ~Ref() {
    if (p) p->Release();
  }
  Ref(const Ref&) = delete;
  T* operator->() const { return p; }
};

inline std::string Content(TBlob* blob) {
  std::string s(blob->GetSize(), '\0');
  if (!s.empty()) s.resize(blob->Read(0, 0, s.data()));
  return s;
}

inline void Put(TBlob* blob, uint32_t position, std::string_view text) {
  blob->Write(position, static_cast<uint32_t>(text.size()), text.data());
}

inline std::vector<uint32_t> PieceUsed(TBlob* blob) {
  std::vector<uint32_t> used;
  for (PPieceHeader p = blob->GetFirstPiece(); p; p = p->Next) used.push_back(p->Used);
  return used;
}

// Restores the ANSI code page a test changed.
struct CodePage {
  int saved = GetAnsiCodePage();
  explicit CodePage(int page) { SetAnsiCodePage(page); }
  ~CodePage() { SetAnsiCodePage(saved); }
};

// Reads, writes, truncations, size changes, clears, defragmentation and cached-mode commits and
// cancels on a blob with tiny pieces, each checked against a plain string. Subclasses add
// operations of their own (Extra) and say whether the stored form changed (Form).
class BlobModelTest {
public:
  BlobModelTest(uint32_t seed, TBlob* object, int32_t pieceSize) : rng(seed), blob(object) {
    blob->SetPieceSize(pieceSize);
  }
  virtual ~BlobModelTest() = default;

  void Run(int ops) {
    for (int op = 0; op < ops; ++op) {
      const int formBefore = Form();
      const bool cancelled = Step(op);
      // A change of the stored form counts as a modification, except when Cancel brings back the
      // saved form with its own flag.
      if (Form() != formBefore && !cancelled) modified = true;
      ASSERT_FALSE(failed);
      ASSERT_EQ(blob->GetSize(), model.size()) << "op " << op;
      ASSERT_EQ(blob->Modified(), modified) << "op " << op;
      if (op % 50 == 0) {
        ASSERT_EQ(Content(blob.p), model) << "op " << op;
        if (saved) {
          ASSERT_EQ(Content(blob->Rollback()), *saved) << "op " << op;
        }
      }
    }
    ASSERT_EQ(Content(blob.p), model);
  }

protected:
  virtual int Form() { return 0; }
  virtual void Extra(uint32_t size) { Write(size, RandomText()); }  // append

  uint32_t Below(size_t n) { return static_cast<uint32_t>(rng() % n); }

  std::string RandomText() {
    std::string s(Below(12), '\0');
    for (char& c : s) c = static_cast<char>('a' + Below(26));
    return s;
  }

  void Changing() {
    if (cached && !saved) {
      saved = model;
      savedModified = modified;
    }
    modified = true;
  }

  void Write(uint32_t position, const std::string& data) {
    Changing();
    position = std::min<uint32_t>(position, static_cast<uint32_t>(model.size()));
    model.replace(position, std::min(data.size(), model.size() - position), data);
    Put(blob.p, position, data);
  }

  void Truncate(uint32_t n) {
    Changing();
    if (n < model.size()) model.resize(n);
    blob->Truncate(n);
  }

  void SetSize(uint32_t n) {
    if (n != model.size()) Changing();
    model.resize(n, '\0');
    blob->SetSize(n);
  }

  // Returns true for a Cancel.
  bool Step(int op) {
    const auto size = static_cast<uint32_t>(model.size());
    switch (Below(16)) {
      case 0: case 1: case 2: case 3:
        Write(Below(size + 3), RandomText());
        break;
      case 4: case 5: {
        const uint32_t pos = Below(size + 2), count = Below(size + 2);
        std::string got(count == 0 ? size + 1 : count, '#');
        got.resize(blob->Read(pos, count, got.data()));
        const std::string want = pos >= size ? "" : model.substr(pos, count == 0 ? std::string::npos : count);
        if (got != want) {
          ADD_FAILURE() << "read " << pos << "," << count << " at op " << op << ": " << got << " != " << want;
          failed = true;
        }
        break;
      }
      case 6:
        Truncate(Below(size + 2));
        break;
      case 7:
        SetSize(Below(size + 8));
        break;
      case 8: {  // truncate, grow again, write across the old end
        const uint32_t cut = Below(size + 1);
        Truncate(cut);
        SetSize(cut + 1 + Below(6));
        Write(cut > 0 ? Below(cut + 2) : 0, RandomText());
        break;
      }
      case 9:
        if (Below(4) == 0) {
          Changing();
          model.clear();
          blob->Clear();
        }
        break;
      case 10:
        blob->Defrag();
        break;
      case 11:
        cached = true;
        blob->EnableRollback();
        break;
      case 12:
        blob->Commit();
        saved.reset();
        break;
      case 13:
        blob->Cancel();
        if (saved) {
          model = *saved;
          modified = savedModified;
          saved.reset();
        }
        return true;
      case 14:
        if (Below(3) == 0) {
          blob->SetModified(false);
          modified = false;
        }
        break;
      default:
        Extra(size);
        break;
    }
    return false;
  }

  std::mt19937 rng;
  Ref<TBlob> blob;
  std::string model;
  bool modified = false;
  bool cached = false;
  std::optional<std::string> saved;
  bool savedModified = false;
  bool failed = false;
};

}  // namespace blobtest
