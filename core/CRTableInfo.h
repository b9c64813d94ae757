// Descriptions of the tables a query reads (name and alias), the provider's field description that
// points to its table, and the name rules of a server: which names need quoting, how they are
// quoted, unquoted and normalised. The components use them to write update statements.
//
// Name rules are class-level: a TCRTableInfoClass object per table-info class carries them, so
// callers apply a server's rules without an instance (TCRTableInfo::Class(), a record set's
// GetTableInfoClass, a generator's table-info class). A provider derives both its table info and
// its class object.
//
// Names are ANSI text; every scan goes character by character in the ANSI code page, so a trail
// byte that equals a quote character is never taken for one.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/MemFieldDesc.h"
#include "platform/runtime/Classes.h"

class TCRTableInfo;
class TCRTablesInfo;

// The class-level operations of a table-info class.
class TCRTableInfoClass {
 public:
  virtual ~TCRTableInfoClass() = default;

  // A new item of the class, owned by the list (which appends it).
  virtual std::unique_ptr<TCRTableInfo> Create(TCRTablesInfo* owner) const;

  // The characters that enclose a quoted name. The base uses the double quote on both sides.
  virtual char LeftQuote() const { return '"'; }
  virtual char RightQuote() const { return '"'; }

  // True when the name has more than one character, starts with LeftQuote and ends with
  // RightQuote.
  virtual bool IsQuotedName(std::string_view name) const;
  // True when the name, after UnQuote, holds any character other than an ASCII letter, a digit
  // or "_".
  virtual bool IsBracketNeeds(std::string_view name) const;
  // True when the server takes the bare name for a reserved word; the base knows none.
  virtual bool IsReservedWord(std::string_view /*bare*/) const { return false; }
  // A quoted name without its enclosing quotes, with each doubled RightQuote inside made single;
  // any other name unchanged.
  std::string UnQuote(std::string_view name) const;
  // A correctly quoted name (every RightQuote inside doubled) unchanged; any other text is taken
  // as a bare name and enclosed, its RightQuote characters doubled, so that no name can end the
  // identifier early.
  std::string Quote(std::string_view name) const;

  // Each part of a dotted name (points inside quotes do not split) is quoted with the given
  // characters when quoteNames is set or the part needs quoting (IsBracketNeeds, a reserved
  // word, or it holds a point or a quote character), else written bare. A part may arrive quoted with the
  // given characters or the class's own.
  std::string NormalizeNameEx(std::string_view name, char leftQuote, char rightQuote, bool quoteNames) const;
  // NormalizeNameEx with the class's own quote characters.
  virtual std::string NormalizeName(std::string_view name, bool quoteNames = false) const;
  // One bare identifier, never split at points (a column name): quoted with the class's
  // characters when quoteNames is set or it needs quoting, else unchanged.
  std::string NormalizeIdentifier(std::string_view bare, bool quoteNames) const;

 private:
  std::string QuoteIfNeeded(std::string_view bare, char leftQuote, char rightQuote, bool quoteNames) const;
};

// One table a query reads. Setting its name or alias keeps the owner's look-up indexes current.
class TCRTableInfo {
 public:
  explicit TCRTableInfo(TCRTablesInfo* owner) : FOwner(owner) {}
  virtual ~TCRTableInfo() = default;
  TCRTableInfo(const TCRTableInfo&) = delete;
  TCRTableInfo& operator=(const TCRTableInfo&) = delete;

  // The name rules of this class.
  static const TCRTableInfoClass& Class();
  virtual const TCRTableInfoClass& ClassType() const { return Class(); }

  const std::string& GetTableName() const noexcept { return FTableName; }
  void SetTableName(std::string value);
  const std::string& GetTableAlias() const noexcept { return FTableAlias; }
  void SetTableAlias(std::string value);
  // The name with its qualifiers where the provider keeps them; the base: TableName.
  virtual std::string GetTableNameFull() const { return FTableName; }
  virtual void SetTableNameFull(const std::string&) {}

  TCRTablesInfo* Owner() const noexcept { return FOwner; }
  // The position in the owner's list; -1 until added.
  int Index() const noexcept { return FIndex; }

 private:
  friend class TCRTablesInfo;

  TCRTablesInfo* FOwner;
  std::string FTableName;
  std::string FTableAlias;
  int FIndex = -1;
};

// The tables of a query, with sorted indexes by name and by alias (ASCII letters compared
// without case).
class TCRTablesInfo {
 public:
  explicit TCRTablesInfo(const TCRTableInfoClass& itemClass = TCRTableInfo::Class());
  ~TCRTablesInfo();
  TCRTablesInfo(const TCRTablesInfo&) = delete;
  TCRTablesInfo& operator=(const TCRTablesInfo&) = delete;

  const TCRTableInfoClass& ItemClass() const noexcept { return *FItemClass; }

  // A new item of the item class, appended.
  TCRTableInfo* Add();
  // Frees the items, rebuilds the indexes and clears the names-normalised flag.
  void Clear();
  // Name and alias changes between the two are looked up item by item until the outermost
  // EndUpdate.
  void BeginUpdate() noexcept { ++FUpdateCount; }
  void EndUpdate();

  // The index of the first item with that name / alias, -1 when none. After NormalizeNames the
  // name is normalised first.
  int IndexByName(std::string_view name) const;
  int IndexByAlias(std::string_view alias) const;
  int IndexOf(const TCRTableInfo* item) const noexcept;
  int GetCount() const noexcept { return static_cast<int>(FItems.size()); }
  // EListError "List index out of bounds (%d)" outside 0..GetCount()-1.
  TCRTableInfo* GetItem(int index) const;
  TCRTableInfo* operator[](int index) const { return GetItem(index); }

  // Normalises every item's name, alias and full name by the item class and marks the list
  // normalised.
  void NormalizeNames();
  bool NamesNormalized() const noexcept { return FNamesNormalized; }

 private:
  friend class TCRTableInfo;
  enum class TIndexKind { Name, Alias };

  void IndexChanged(TIndexKind kind) noexcept;
  void RebuildIndex(TIndexKind kind) const;
  int Lookup(TIndexKind kind, std::string_view key) const;
  // The item class's NormalizeName of a name. A record set normalises the same few table names
  // at every open: those of ASCII alone (the same in every code page) are remembered.
  const std::string& NormalizedName(std::string_view name) const;

  const TCRTableInfoClass* FItemClass;
  struct TNormalizedMemo {
    bool Valid = false;
    std::string Name, Normalized;
  };
  mutable TNormalizedMemo FNormalizedMemo[2];
  mutable int FNextMemo = 0;
  std::vector<std::unique_ptr<TCRTableInfo>> FItems;
  // Built when a lookup first needs them after a change: a query's few tables are looked up
  // item by item, and an open changes them many times over.
  mutable TStringList FNameIndex;  // objects: the items
  mutable TStringList FAliasIndex;
  mutable bool FIndexStale[2] = {false, false};  // by TIndexKind
  int FUpdateCount = 0;
  bool FNamesNormalized = false;
};

// The provider's field description: the record store's plus the table the column comes from.
class TCRFieldDesc : public TFieldDesc {
 public:
  // The table of the column; nil for a computed column or when the provider does not know it.
  TCRTableInfo* TableInfo = nullptr;

  // The name rules GetNormalizedName applies: the record set's table-info class, which the
  // record set sets when it describes its fields (the base class until then).
  const TCRTableInfoClass& GetTableInfoClass() const noexcept { return *FTableInfoClass; }
  void SetTableInfoClass(const TCRTableInfoClass& value) noexcept;

  // Name as one identifier, normalised by the table-info class (quoted when `quote` is set or
  // the name needs it). Cached per mode until Name or the class changes.
  virtual std::string GetNormalizedName(bool quote);

 private:
  struct TCachedName {
    bool Valid = false;
    std::string Source;
    std::string Normalized;
  };

  const TCRTableInfoClass* FTableInfoClass = &TCRTableInfo::Class();
  TCachedName FNormalized[2];  // by `quote`
};
