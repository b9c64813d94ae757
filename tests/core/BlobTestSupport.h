// Helpers shared by the blob tests: a reference holder, content access, and a randomised run of
// blob operations checked against a plain string.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "core/MemBlob.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/Exceptions.h"

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

inline void ExpectMessage(const std::function<void()>& action, const std::string& message) {
  try {
    action();
    ADD_FAILURE() << "no exception, expected " << message;
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), message);
  }
}

// Restores the ANSI code page a test changed.
struct CodePage {
  int saved = GetAnsiCodePage();
  explicit CodePage(int page) { SetAnsiCodePage(page); }
  ~CodePage() { SetAnsiCodePage(saved); }
};

// Reads, writes, truncations (also followed by growing and a write across the old end), size
// changes, clears, defragmentation and cached-mode commits and cancels on a blob with tiny pieces,
// each checked against a plain string. Subclasses add operations of their own (Extra) and say
// whether the stored form changed (Form).
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
      if (::testing::Test::HasFailure()) return;
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
    const uint32_t kind = Below(16);
    if (kind < 4) {
      Write(Below(size + 3), RandomText());
    } else if (kind < 6) {
      const uint32_t pos = Below(size + 2), count = Below(size + 2);
      std::string got(count == 0 ? size + 1 : count, '#');
      got.resize(blob->Read(pos, count, got.data()));
      EXPECT_EQ(got, pos >= size ? "" : model.substr(pos, count == 0 ? std::string::npos : count))
          << "read " << pos << "," << count << " at op " << op;
    } else if (kind == 6) {
      Truncate(Below(size + 2));
    } else if (kind == 7) {
      SetSize(Below(size + 8));
    } else if (kind == 8) {
      const uint32_t cut = Below(size + 1);
      Truncate(cut);
      SetSize(cut + 1 + Below(6));
      Write(cut > 0 ? Below(cut + 2) : 0, RandomText());
    } else if (kind == 9 && Below(4) == 0) {
      Changing();
      model.clear();
      blob->Clear();
    } else if (kind == 10) {
      blob->Defrag();
    } else if (kind == 11) {
      cached = true;
      blob->EnableRollback();
    } else if (kind == 12) {
      blob->Commit();
      saved.reset();
    } else if (kind == 13) {
      blob->Cancel();
      if (saved) {
        model = *saved;
        modified = savedModified;
        saved.reset();
      }
      return true;
    } else if (kind == 14 && Below(3) == 0) {
      blob->SetModified(false);
      modified = false;
    } else if (kind == 15) {
      Extra(size);
    }
    return false;
  }

  std::mt19937 rng;
  Ref<TBlob> blob;
  std::string model;
  bool modified = false, cached = false, savedModified = false;
  std::optional<std::string> saved;
};

}  // namespace blobtest
