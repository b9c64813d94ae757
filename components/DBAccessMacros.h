// Unit DBAccess, macros: named text pieces written into SQL as the macro character followed by a
// name (components/DBAccessText.h), replaced by their values before the text is sent.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "core/CRParser.h"
#include "platform/runtime/Components.h"

class TStream;

class TMacro : public TCollectionItem {
 public:
  explicit TMacro(TCollection* collection) : TCollectionItem(collection) {}

  const std::string& Name() const noexcept { return FName; }
  void SetName(const std::string& value) { FName = value; }
  const std::string& Value() const noexcept { return FValue; }
  // A different value makes the owner react (unless the list is updating).
  void SetValue(const std::string& value);
  // True once a value was given (even ""): a script replaces only such macros and leaves other
  // references as written.
  bool IsSet() const noexcept { return FSet; }
  bool Active() const noexcept { return FActive; }
  void SetActive(bool value);

  // Name, then Value and Active through their setters.
  void Assign(TPersistent* source) override;
  std::string DisplayName() const override;
  bool IsEqual(const TMacro& other) const {
    return FName == other.FName && FValue == other.FValue && FActive == other.FActive;
  }

 private:
  std::string FName;
  std::string FValue;
  bool FActive = true;
  bool FSet = false;
};

// What changed, as the owner is told: a macro's value, its Active flag, or the whole list (macro
// nil) at the end of an update.
enum class TMacroChange { Value, Active, List };

class TMacros : public TCollection {
 public:
  explicit TMacros(TPersistent* owner = nullptr);

  TMacro* Items(int index) const { return static_cast<TMacro*>(TCollection::Items(index)); }
  TMacro* operator[](int index) const { return Items(index); }

  // The lexer class used to scan and expand (TParser unless the owner names another).
  TParserClass ParserClass;

  // Rebuilds the list from the references in `sql`: each name once, a macro already listed keeps
  // its value and flag. The list is replaced only when it differs; the owner is not told (it
  // asked).
  void Scan(std::string_view sql);
  // `sql` with every reference replaced by its active macro's value, others by nothing.
  void Expand(std::string& sql) const;
  // Case ignored; nil when absent.
  TMacro* FindMacro(std::string_view name) const;
  // EDatabaseError "Macro %s not found" when absent.
  TMacro* MacroByName(std::string_view name) const;
  bool IsEqual(const TMacros& other) const;

  // The older stored form: a version byte (100: with Active flags), then for each listed macro in
  // order a name (1 length byte), a value (2 length bytes, little-endian; at most 1,000 bytes of
  // either are used) and, with version 100, an Active byte. EStreamError when the stream ends
  // early; EDatabaseError for a name not in the list.
  void ReadData(TStream& stream);

  // The owner's reaction to changes (a command reruns its SQL processing, a dataset refreshes).
  std::function<void(TMacro* macro, TMacroChange change)> OnChanged;

 protected:
  std::unique_ptr<TCollectionItem> CreateItem() override { return std::make_unique<TMacro>(this); }
  void Update(TCollectionItem* item) override;

 private:
  friend class TMacro;
  void NotifyOwner(TMacro* macro, TMacroChange change);

  bool FQuiet = false;
};
