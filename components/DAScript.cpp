#include "components/DAScript.h"

#include <algorithm>
#include <mutex>

#include "components/DBAccess.h"
#include "components/DBAccessDataSet.h"
#include "components/DBAccessSQL.h"
#include "components/DBAccessText.h"
#include "core/DAConsts.h"
#include "platform/runtime/Exceptions.h"

namespace {

std::mutex gExceptionProcLock;
TApplicationExceptionProc gExceptionProc;

// A comment the server executes: "/*!" and "/*M!" hold statement text for some versions.
bool IsExecutableComment(const std::string& text) {
  return text.rfind("/*!", 0) == 0 || text.rfind("/*M!", 0) == 0;
}

// The lexeme "/": asked at every lexeme of a script, so without a general string comparison.
bool IsSlash(const std::string& lexem) {
  return lexem.size() == 1 && lexem[0] == '/';
}

// The part of a statement split while the one before it runs: a longer statement is split on after
// the reply, so that no more than this is held beside the statement running.
constexpr size_t kReadAheadLimit = 1024 * 1024;

// a == b, with the lengths and first bytes told apart before the general comparison: a script's
// every lexeme is compared with its delimiters, which are mostly a single character.
bool Same(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  if (a.empty()) return true;
  return a[0] == b[0] && (a.size() == 1 || a.compare(1, std::string::npos, b, 1) == 0);
}

}  // namespace

void SetApplicationExceptionProc(TApplicationExceptionProc proc) {
  std::lock_guard<std::mutex> lock(gExceptionProcLock);
  gExceptionProc = std::move(proc);
}

void ApplicationHandleException(const std::exception& e) noexcept {
  TApplicationExceptionProc proc;
  {
    std::lock_guard<std::mutex> lock(gExceptionProcLock);
    proc = gExceptionProc;
  }
  if (!proc) return;
  try {
    proc(e);
  } catch (...) {
    // The report itself failed: nothing more can show it.
  }
}

// The statement being collected.
struct TDAScript::TCut {
  std::string Text;
  bool Content = false;  // something the server would execute, not only blanks and comments
  std::string NewDelimiter;
};

// The statement being collected and the lexemes before it.
struct TDAScript::TSplitting {
  TCut Cut;
  std::string Prev, Lexem;
  int Code = lcBlank;
};

// The statement read ahead, with the lexer's place before it and the script's places after it.
struct TDAScript::TAhead {
  TParser::TMark Mark;  // where it starts: read again from here in another set
  TCharsetKind Charset;
  bool NoBackslashEscapes = false;
  TPlace Next;   // the places once the statement before it ran
  TPlace Split;  // the places once it was split
  int DelimiterState = 0;
  int Kind = skOrdinary;
  TSplitEnd End = TSplitEnd::TextEnd;
  TStatement Statement;
  std::exception_ptr Failure;  // its splitting failed: raised when it is taken
};

TDAScript::TDAScript(TComponent* owner) : TComponent(owner) {
  FMacros = std::make_unique<TMacros>(this);
  FSQL.SetKeepLineBreaks(true);
  FSQL.OnChange = [this](TStringList*) {
    FMacros->ParserClass = GetParserClass();
    try {
      FMacros->Scan(FSQL.Text());
    } catch (const Exception&) {
      // A byte the scan cannot read fails the run where the splitting meets it (in the set the
      // session reads the text in), after the statements before it, as from a stream.
    }
    Reset();
  };
}

TDAScript::~TDAScript() {
  FSQL.OnChange = nullptr;
}

void TDAScript::SetSQL(const TStringList& value) {
  if (value.ExactText() == FSQL.ExactText()) return;
  FSQL.BeginUpdate();
  FSQL.Assign(value);
  FSQL.EndUpdate();
}

void TDAScript::SetSQLText(const std::string& text) {
  TStringList lines;
  lines.SetKeepLineBreaks(true);
  lines.SetText(text);
  SetSQL(lines);
}

TCustomDAConnection* TDAScript::Connection() const {
  return FCommand ? FCommand->Connection() : nullptr;
}

void TDAScript::SetConnection(TCustomDAConnection* value) {
  if (!FCommand) FCommand = CreateCommand();
  FCommand->SetConnection(value);
}

bool TDAScript::Debug() const {
  return FCommand && FCommand->Debug;
}

void TDAScript::SetDebug(bool value) {
  if (!FCommand) FCommand = CreateCommand();
  FCommand->Debug = value;
}

void TDAScript::Assign(TPersistent* source) {
  auto* other = dynamic_cast<TDAScript*>(source);
  if (other == nullptr) return TComponent::Assign(source);
  SetSQL(other->FSQL);
  SetConnection(other->Connection());
  SetDebug(other->Debug());
  FMacros->Assign(other->FMacros.get());
}

TParserClass TDAScript::GetParserClass() const {
  DA_ASSERT_MSG(false, "Should be overriden");
  return ParserClassOf<TParser>();
}

std::unique_ptr<TCustomDASQL> TDAScript::CreateCommand() {
  return std::make_unique<TCustomDASQL>();
}

void TDAScript::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
}

// ---- splitting ----------------------------------------------------------------------------------

void TDAScript::Reset() {
  DropLexer();
  FStartOffset = 0;
  FStartPos = FEndPos = FStartLine = FEndLine = FStartCol = FEndCol = 0;
}

void TDAScript::CreateLexer() {
  const TParserClass parserClass = GetParserClass();
  if (FStream != nullptr) {
    FLexer = parserClass.CreateFromStream(*FStream, TextCharset());
  } else {
    std::string text = FSQL.Text();
    size_t end = text.size();
    while (end > 0 && static_cast<unsigned char>(text[end - 1]) < 33) --end;
    text.resize(end);
    FLexer = parserClass.Create(std::move(text), TextCharset());
  }
  FLexer->OmitBlank = false;
  FLexer->OmitComment = false;
  FLexer->UppercaseKeywords = false;
  FLexer->KeepStringQuotes = true;
  FLexer->TrackLinesInStrings = true;
  FLexer->NoBackslashEscapes = TextNoBackslashEscapes();
  // A stream's trailing control characters are passed over as a text's are cut off above.
  FLexer->IgnoreTrailingControls = true;
  if (!FExecuting) FCurrentDelimiter = FDelimiter;
}

void TDAScript::DropLexer() noexcept {
  FAhead.reset();
  FSplitting.reset();
  FLexer.reset();
}

TDAScript::TPlace TDAScript::Place() const noexcept {
  return {FStartOffset, FStartPos, FStartLine, FStartCol, FEndPos, FEndLine, FEndCol};
}

void TDAScript::SetPlace(const TPlace& place) noexcept {
  FStartOffset = place.StartOffset;
  FStartPos = place.StartPos;
  FStartLine = place.StartLine;
  FStartCol = place.StartCol;
  FEndPos = place.EndPos;
  FEndLine = place.EndLine;
  FEndCol = place.EndCol;
}

void TDAScript::TakeStartPosition() {
  FStartOffset = FLexer->GetCurrPos();
  FStartPos = FLexer->GetCurrPos();
  FStartLine = FLexer->GetCurrLine();
  FStartCol = FLexer->GetCurrCol();
}

void TDAScript::StepDelimiterState(int code, const std::string& lexem, std::string& newDelimiter) {
  if (FDelimiterState == 2 && code != lcBlank) FDelimiterState = 3;
  if (FDelimiterState == 3) {
    // The old delimiter right after the argument ends it where no blank has to.
    if (!DelimiterArgumentEnds() && !newDelimiter.empty() && lexem == FCurrentDelimiter)
      FDelimiterState = 4;
    else if (code == lcBlank || code == lcEnd)
      FDelimiterState = DelimiterArgumentEnds() ? 4 : 3;
    else
      newDelimiter += lexem;
  }
  if (FDelimiterState == 1 && code == lcBlank) FDelimiterState = 2;
}

bool TDAScript::IsEnd(int code, const std::string& lexem, const std::string& prevLexem) const {
  if (FDelimiterState == 4 || code == lcEnd || IsExtraEnd(code, lexem)) return true;
  if (code == lcString || code == lcComment) return false;
  // The argument of DELIMITER may itself hold the delimiter (DELIMITER ;;).
  if (FDelimiterState == 2 || FDelimiterState == 3) return false;
  if (!Same(FCurrentDelimiter, FDelimiter)) {
    const std::string& d = FCurrentDelimiter;
    return Same(lexem, d) || (d == "//" && lexem == "/" && prevLexem == "/") ||
           (d.size() == 2 && prevLexem.size() == 1 && prevLexem[0] == d[0] && lexem.size() == 1 &&
            lexem[0] == d[1]);
  }
  return (Same(lexem, FDelimiter) && !IsBodyBlock(FKind)) || (IsSlash(lexem) && FLexer->GetPrevCol() == 0);
}

bool TDAScript::EndsInDelimiter(int code, const std::string& lexem) const {
  // A delimiter of name characters ("$$") joins the word it follows into one lexeme; the server's
  // own client ends the statement there all the same.
  const std::string& d = FCurrentDelimiter;
  if (code != lcIdent || FDelimiterState != 0 || lexem.size() <= d.size()) return false;
  if (Same(d, FDelimiter) && IsBodyBlock(FKind)) return false;
  // Only a plain word: a quoted name left open runs to the end of the text as one lexeme, and
  // the delimiter at its end is inside the quote.
  const auto nameChar = [this](char c) { return FLexer->IsAlpha(c) || FLexer->IsNumber(c) || c == '_'; };
  if (!std::all_of(lexem.begin(), lexem.end(), nameChar)) return false;
  return lexem.compare(lexem.size() - d.size(), d.size(), d) == 0;
}

// A run of plain lexemes never holds a byte of the delimiters, so the lexeme ending a statement
// is always read on its own.
bool TDAScript::PlainRunsAllowed() const {
  if (FCurrentDelimiter.empty()) return false;
  for (char c : FCurrentDelimiter)
    if (FLexer->TakesInPlainRun(c)) return false;
  for (char c : FDelimiter)
    if (FLexer->TakesInPlainRun(c)) return false;
  return true;
}

TDAScript::TSplitEnd TDAScript::SplitNext(TStatement& statement, size_t limit) {
  if (!FSplitting) {
    FSplitting = std::make_unique<TSplitting>();
    FSplitting->Cut.Text.reserve(FSizeHint);
    FDelimiterState = 0;
    FKind = skOrdinary;
    TakeStartPosition();
  }
  try {
    TSplitEnd end = SplitOn(*FSplitting, statement, limit);
    if (end != TSplitEnd::Paused) FSplitting.reset();
    return end;
  } catch (...) {
    FSplitting.reset();
    throw;
  }
}

TDAScript::TSplitEnd TDAScript::SplitOn(TSplitting& s, TStatement& statement, size_t limit) {
  TCut& cut = s.Cut;
  std::string &prev = s.Prev, &lexem = s.Lexem;
  int& code = s.Code;
  for (;;) {
    if (limit != 0 && cut.Text.size() >= limit) return TSplitEnd::Paused;
    // The bulk of a statement (a dump's rows) is taken a run of plain lexemes at a time: numbers,
    // strings and the like neither end it nor change its kind.
    if (cut.Content && FDelimiterState == 0 && PlainRunsAllowed()) {
      const TParser::TPlainRun took = FLexer->TakePlainLexemes(cut.Text, limit);
      if (took != TParser::TPlainRun::None) {
        if (code != lcBlank && code != lcComment) prev.swap(lexem);  // the lexeme before the run
        if (took == TParser::TPlainRun::Lexemes) {
          OnLexeme(lcSymbol, std::string(), false);
          code = lcSymbol;
          lexem.clear();
        } else {
          code = lcBlank;
        }
        FEndPos = FLexer->GetCurrPos() - 1;
        FEndLine = FLexer->GetCurrLine();
        FEndCol = FLexer->GetCurrCol() - 1;
        if (limit != 0 && cut.Text.size() >= limit) return TSplitEnd::Paused;
      }
    }
    if (code != lcBlank && code != lcComment) prev.swap(lexem);  // GetNext overwrites lexem whole
    code = FLexer->GetNext(lexem);
    StepDelimiterState(code, lexem, cut.NewDelimiter);
    const bool glued = EndsInDelimiter(code, lexem);
    if (glued) {
      // "END$$": the word before the delimiter belongs to the statement.
      lexem.resize(lexem.size() - FCurrentDelimiter.size());
      OnLexeme(code, lexem, !cut.Content);
      cut.Text += lexem;
      cut.Content = true;
      FEndPos = FLexer->GetCurrPos() - 1 - static_cast<int64_t>(FCurrentDelimiter.size());
      FEndLine = FLexer->GetCurrLine();
      FEndCol = FLexer->GetCurrCol() - 1 - static_cast<int64_t>(FCurrentDelimiter.size());
    }
    if (glued || IsEnd(code, lexem, prev)) {
      const bool stateEnd = FDelimiterState == 4;
      // A delimiter read as two lexemes left its first part in the text.
      if (!glued && code != lcEnd && !stateEnd && lexem != FCurrentDelimiter &&
          FCurrentDelimiter.size() > 1 && cut.Text.size() >= FCurrentDelimiter.size() - 1)
        cut.Text.resize(cut.Text.size() - (FCurrentDelimiter.size() - 1));
      // A script's statements are mostly alike in length (a dump's INSERTs all are): the next one
      // is collected in room for this one and an eighth more, not grown step by step to twice that.
      FSizeHint = cut.Text.size() + cut.Text.size() / 8;
      // Trimmed in place: a long statement is not held twice while it runs.
      std::string text = std::move(cut.Text);
      cut.Text.clear();
      size_t end = text.size();
      while (end > 0 && static_cast<unsigned char>(text[end - 1]) < 33) --end;
      text.resize(end);
      size_t begin = 0;
      while (begin < text.size() && static_cast<unsigned char>(text[begin]) < 33) ++begin;
      text.erase(0, begin);
      if (!text.empty() && (cut.Content || stateEnd)) {
        statement.Text = std::move(text);
        statement.Kind = FKind;
        statement.DelimiterCommand = stateEnd;
        statement.NewDelimiter = std::move(cut.NewDelimiter);
        return TSplitEnd::Statement;
      }
      // Nothing to run (an empty statement, or only comments): go on with the next one.
      if (code == lcEnd) return TSplitEnd::TextEnd;
      cut = TCut();
      FDelimiterState = 0;
      FKind = skOrdinary;
      TakeStartPosition();
      continue;
    }
    if (code != lcBlank && code != lcComment) OnLexeme(code, lexem, !cut.Content);
    if (IsSlash(lexem) && code != lcString && FLexer->GetPrevCol() == 0 && FCurrentDelimiter == FDelimiter)
      continue;
    if (code == lcBlank && cut.Text.empty()) {
      TakeStartPosition();
      continue;
    }
    cut.Text += lexem;
    if (code != lcBlank && (code != lcComment || IsExecutableComment(lexem))) cut.Content = true;
    FEndPos = FLexer->GetCurrPos() - 1;
    FEndLine = FLexer->GetCurrLine();
    FEndCol = FLexer->GetCurrCol() - 1;
  }
}

bool TDAScript::ExecuteNext() {
  if (!FLexer) CreateLexer();
  TStatement statement;
  TSplitEnd end;
  if (FAhead) {
    const std::unique_ptr<TAhead> ahead = std::move(FAhead);
    SetPlace(ahead->Split);
    FDelimiterState = ahead->DelimiterState;
    FKind = ahead->Kind;
    if (ahead->Failure) std::rethrow_exception(ahead->Failure);
    end = ahead->End;
    statement = std::move(ahead->Statement);
  } else {
    end = TSplitEnd::Paused;  // nothing split yet
  }
  // Split now, or on from where reading ahead stopped.
  if (end == TSplitEnd::Paused) end = SplitNext(statement);
  if (end == TSplitEnd::TextEnd) {
    DropLexer();
    return false;
  }
  bool omit = statement.DelimiterCommand;
  if (omit) FCurrentDelimiter = statement.NewDelimiter;
  bool breakExec = false;
  FInNext = true;
  try {
    ExecuteStatement(std::move(statement.Text), statement.Kind, breakExec, omit);
  } catch (...) {
    FInNext = false;
    throw;
  }
  FInNext = false;
  if (!omit && breakExec) {
    DropLexer();
    return false;
  }
  if (FAhead) {
    // The lexer stands after the statement read ahead: the next one starts where it was.
    const TPlace& next = FAhead->Next;
    FStartOffset = next.StartOffset;
    FStartPos = next.StartPos;
    FStartLine = next.StartLine;
    FStartCol = next.StartCol;
  } else {
    TakeStartPosition();
  }
  return true;
}

void TDAScript::ReadAhead() noexcept {
  if (!FAheadOpen || FAhead || !FLexer) return;
  FAheadOpen = false;
  std::unique_ptr<TAhead> ahead;
  try {
    ahead = std::make_unique<TAhead>();
  } catch (...) {
    return;  // the statement is split when it is taken, as without reading ahead
  }
  // While the statement sent runs, the script shows its places and state.
  const TPlace current = Place();
  const int delimiterState = FDelimiterState, kind = FKind;
  TakeStartPosition();
  ahead->Next = Place();
  ahead->Mark = FLexer->Mark();
  ahead->Charset = FLexer->Charset();
  ahead->NoBackslashEscapes = FLexer->NoBackslashEscapes;
  try {
    ahead->End = SplitNext(ahead->Statement, kReadAheadLimit);
  } catch (...) {
    ahead->Failure = std::current_exception();
  }
  ahead->Split = Place();
  ahead->DelimiterState = FDelimiterState;
  ahead->Kind = FKind;
  SetPlace(current);
  FDelimiterState = delimiterState;
  FKind = kind;
  FAhead = std::move(ahead);
}

// ---- running ------------------------------------------------------------------------------------

void TDAScript::BeginRun() {
  TCustomDAConnection* connection = UsedConnection();
  if (connection == nullptr) throw EDatabaseError(MessageText(SConnectionNotDefined));
  RunStarting();
  try {
    connection->InternalConnect();
  } catch (...) {
    RunEnded();
    throw;
  }
  FExecuting = true;
  FCurrentDelimiter = FDelimiter;
  FBatch.clear();
  FBatchSize = 0;
}

void TDAScript::EndRun() {
  FExecuting = false;
  FBatch.clear();
  FBatchSize = 0;
  RunEnded();
  if (TCustomDAConnection* connection = UsedConnection()) connection->InternalDisconnect();
}

void TDAScript::Execute() {
  BeginRun();
  try {
    DropLexer();
    while (ExecuteNext()) {
    }
    bool breakExec = false;
    FlushBatch(breakExec);
  } catch (...) {
    DropLexer();
    EndRun();
    throw;
  }
  EndRun();
}

void TDAScript::SetSourceStream(TStream* stream) {
  FStream = stream;
  Reset();
}

void TDAScript::ExecuteStream(TStream& stream) {
  SetSourceStream(&stream);
  try {
    Execute();
  } catch (...) {
    SetSourceStream(nullptr);
    throw;
  }
  SetSourceStream(nullptr);
}

// Taken by value: the splitter hands its statement over rather than a copy of a long one.
void TDAScript::ExecuteStatement(std::string text, int /*kind*/, bool& breakExec, bool& omit) {
  breakExec = false;
  if (text.empty()) return;
  if (BeforeExecute) BeforeExecute(this, text, omit);
  DoBeforeStatement(text);
  if (omit) return;
  if (FUseOptimization && FExecuting) {
    if (!CanOptimize(text)) FlushBatch(breakExec);
    if (breakExec) return;
    FBatch.push_back({text, FStartPos, FStartLine, FStartCol});
    FBatchSize += text.size() + FDelimiter.size() + 2;
    // AfterExecute comes once the statement ran, when its batch is sent.
    if (EndsBatch(text)) FlushBatch(breakExec);
    return;
  }
  RunOrHandle(text, breakExec);
  DoAfterStatement(text);
  if (AfterExecute) AfterExecute(this, text);
}

bool TDAScript::CanOptimize(const std::string& sql) {
  return sql.size() + FBatchSize < 65535;
}

// The batch goes as one text; the server runs its statements in order and stops at the first
// that fails. Those before it ran; the failing one is reported with its own text and place, and
// on going on the rest is sent again: the events are those of the statements sent one by one.
void TDAScript::FlushBatch(bool& breakExec) {
  while (!FBatch.empty()) {
    std::vector<TBatchEntry> batch;
    batch.swap(FBatch);
    FBatchSize = 0;
    std::string text;
    for (const TBatchEntry& entry : batch) {
      if (!text.empty()) text += FDelimiter + "\r\n";
      text += entry.Text;
    }
    size_t ran = batch.size();
    std::exception_ptr failure;
    try {
      RunText(text);
    } catch (const std::exception&) {
      failure = std::current_exception();
      const int64_t done = BatchStatementsRun();
      ran = done < 0 ? 0 : std::min(static_cast<size_t>(done), batch.size() - 1);
    }
    FollowSessionCharset();
    for (size_t i = 0; i < ran; ++i) {
      DoAfterStatement(batch[i].Text);
      if (AfterExecute) AfterExecute(this, batch[i].Text);
    }
    if (!failure) return;
    // Unknown which statement failed: the batch is reported as one, as it was sent.
    const bool known = BatchStatementsRun() >= 0;
    const TBatchEntry& failed = batch[ran];
    const int64_t pos = FStartPos, line = FStartLine, col = FStartCol, offset = FStartOffset;
    FStartPos = FStartOffset = failed.Pos;
    FStartLine = failed.Line;
    FStartCol = failed.Col;
    TErrorAction action = eaException;
    try {
      std::rethrow_exception(failure);
    } catch (const std::exception& e) {
      try {
        ReportFailure(e, known ? failed.Text : text, action);
      } catch (...) {
        FStartPos = pos, FStartLine = line, FStartCol = col, FStartOffset = offset;
        throw;
      }
    }
    FStartPos = pos, FStartLine = line, FStartCol = col, FStartOffset = offset;
    // As for a statement sent alone: the failing statement ran, and is told of after its error.
    if (known) {
      DoAfterStatement(failed.Text);
      if (AfterExecute) AfterExecute(this, failed.Text);
    }
    if (action == eaAbort) {
      breakExec = true;
      return;
    }
    if (known) FBatch.assign(batch.begin() + static_cast<ptrdiff_t>(ran) + 1, batch.end());
    for (const TBatchEntry& entry : FBatch) FBatchSize += entry.Text.size() + FDelimiter.size() + 2;
  }
}

std::string TDAScript::ScriptText(const std::string& sql) const {
  if (!ExpandMacros || sql.find(MacroChar) == std::string::npos) return sql;
  std::string kept;
  return ExpandMacroRefs(
      sql, GetParserClass(),
      [&](const std::string& name) -> const std::string* {
        const TMacro* macro = FMacros->FindMacro(name);
        if (macro != nullptr && macro->IsSet()) return macro->Active() ? &macro->Value() : nullptr;
        kept = MacroChar + name;
        return &kept;
      },
      TextCharset());
}

void TDAScript::RunText(const std::string& sql) {
  if (!FCommand) FCommand = CreateCommand();
  // The command would replace every reference it finds, set or not: it is emptied (which empties
  // its macro list) and given the text to send as it is.
  FCommand->SetSQLText({});
  if (ExpandMacros && sql.find(MacroChar) != std::string::npos)
    TDBAccessUtils::SetSQLText(FCommand.get(), ScriptText(sql));
  else
    TDBAccessUtils::SetSQLText(FCommand.get(), sql);  // without another copy of a long statement
  FCommand->Execute();
}

void TDAScript::FollowSessionCharset() {
  if (!FLexer) return;
  const TCharsetKind charset = TextCharset();
  // A statement may also have changed the session's sql_mode: backslashes are read as it says.
  const bool noBackslashEscapes = TextNoBackslashEscapes();
  // The statement read ahead in the set the session had is read again in the one it has now.
  if (FAhead && (FAhead->Charset != charset || FAhead->NoBackslashEscapes != noBackslashEscapes)) {
    try {
      FLexer->Rewind(FAhead->Mark);
      FAhead.reset();
      FSplitting.reset();
    } catch (...) {
      // The text cannot be read again: the failure comes where the statement would have.
      FSplitting.reset();
      FAhead->Failure = std::current_exception();
      FAhead->Charset = charset;
      FAhead->NoBackslashEscapes = noBackslashEscapes;
    }
  }
  FLexer->SetCharset(charset);
  FLexer->NoBackslashEscapes = noBackslashEscapes;
}

void TDAScript::ReportFailure(const std::exception& e, const std::string& sql, TErrorAction& action) {
  FErrorOffset = FStartOffset;
  action = eaException;
  if (OnError) OnError(this, e, TrimSQLBlanks(sql), action);
  switch (action) {
    case eaAbort:
    case eaContinue:
      return;
    case eaFail:
      throw;
    case eaException:
      ApplicationHandleException(e);
      return;
  }
}

void TDAScript::RunOrHandle(const std::string& sql, bool& breakExec) {
  // A statement ExecuteNext split off runs on its own: the next one may be read while it runs.
  FAheadOpen = FInNext;
  try {
    RunText(sql);
  } catch (const std::exception& e) {
    FAheadOpen = false;
    FollowSessionCharset();
    TErrorAction action = eaException;
    ReportFailure(e, sql, action);
    if (action == eaAbort) breakExec = true;
    return;
  } catch (...) {
    FAheadOpen = false;
    throw;
  }
  FAheadOpen = false;
  FollowSessionCharset();
}

TCustomDASQL& TDAScript::Command() {
  if (!FCommand) FCommand = CreateCommand();
  return *FCommand;
}
