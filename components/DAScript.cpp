#include "components/DAScript.h"

#include <mutex>

#include "components/DBAccess.h"
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

TDAScript::TDAScript(TComponent* owner) : TComponent(owner) {
  FMacros = std::make_unique<TMacros>(this);
  FSQL.OnChange = [this](TStringList*) {
    FMacros->ParserClass = GetParserClass();
    FMacros->Scan(FSQL.Text());
    Reset();
  };
}

TDAScript::~TDAScript() {
  FSQL.OnChange = nullptr;
}

void TDAScript::SetSQL(const TStringList& value) {
  if (value.Text() == FSQL.Text()) return;
  FSQL.BeginUpdate();
  FSQL.Assign(value);
  FSQL.EndUpdate();
}

void TDAScript::SetSQLText(const std::string& text) {
  TStringList lines;
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
  FLexer.reset();
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
  if (!FExecuting) FCurrentDelimiter = FDelimiter;
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
  if (FDelimiterState == 4 || code == lcEnd || IsExtraEnd()) return true;
  if (code == lcString || code == lcComment) return false;
  // The argument of DELIMITER may itself hold the delimiter (DELIMITER ;;).
  if (FDelimiterState == 2 || FDelimiterState == 3) return false;
  if (FCurrentDelimiter != FDelimiter) {
    const std::string& d = FCurrentDelimiter;
    return lexem == d || (d == "//" && lexem == "/" && prevLexem == "/") ||
           (d.size() == 2 && prevLexem.size() == 1 && prevLexem[0] == d[0] && lexem.size() == 1 &&
            lexem[0] == d[1]);
  }
  return (lexem == FDelimiter && !IsBodyBlock(FKind)) || (lexem == "/" && FLexer->GetPrevCol() == 0);
}

bool TDAScript::ExecuteNext() {
  if (!FLexer) CreateLexer();
  FDelimiterState = 0;
  FKind = skOrdinary;
  TCut cut;
  std::string prev, lexem;
  int code = lcBlank;
  TakeStartPosition();
  for (;;) {
    if (code != lcBlank && code != lcComment) prev = lexem;
    code = FLexer->GetNext(lexem);
    StepDelimiterState(code, lexem, cut.NewDelimiter);
    if (IsEnd(code, lexem, prev)) {
      const bool stateEnd = FDelimiterState == 4;
      // A delimiter read as two lexemes left its first part in the text.
      if (code != lcEnd && !stateEnd && lexem != FCurrentDelimiter && FCurrentDelimiter.size() > 1 &&
          cut.Text.size() >= FCurrentDelimiter.size() - 1)
        cut.Text.resize(cut.Text.size() - (FCurrentDelimiter.size() - 1));
      std::string text = TrimSQLBlanks(cut.Text);
      if (!text.empty() && (cut.Content || stateEnd)) {
        bool omit = stateEnd;
        if (stateEnd) FCurrentDelimiter = cut.NewDelimiter;
        bool breakExec = false;
        ExecuteStatement(text, FKind, breakExec, omit);
        if (!omit && breakExec) break;
        TakeStartPosition();
        return true;
      }
      // Nothing to run (an empty statement, or only comments): go on with the next one.
      if (code == lcEnd) break;
      cut = TCut();
      FDelimiterState = 0;
      FKind = skOrdinary;
      TakeStartPosition();
      continue;
    }
    if (code != lcBlank && code != lcComment) OnLexeme(code, lexem, !cut.Content);
    if (lexem == "/" && code != lcString && FLexer->GetPrevCol() == 0 && FCurrentDelimiter == FDelimiter)
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
  FLexer.reset();
  return false;
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
}

void TDAScript::EndRun() {
  FExecuting = false;
  FBatch.clear();
  RunEnded();
  if (TCustomDAConnection* connection = UsedConnection()) connection->InternalDisconnect();
}

void TDAScript::Execute() {
  BeginRun();
  try {
    FLexer.reset();
    while (ExecuteNext()) {
    }
    FlushBatch();
  } catch (...) {
    FLexer.reset();
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

void TDAScript::ExecuteStatement(const std::string& sql, int /*kind*/, bool& breakExec, bool& omit) {
  breakExec = false;
  if (sql.empty()) return;
  std::string text = sql;
  if (BeforeExecute) BeforeExecute(this, text, omit);
  DoBeforeStatement(text);
  if (omit) return;
  if (FUseOptimization && FExecuting) {
    if (!CanOptimize(text)) FlushBatch();
    if (!FBatch.empty()) FBatch += FDelimiter + "\r\n";
    FBatch += text;
  } else {
    RunOrHandle(text, breakExec);
  }
  DoAfterStatement(text);
  if (AfterExecute) AfterExecute(this, text);
}

bool TDAScript::CanOptimize(const std::string& sql) {
  return sql.size() + FBatch.size() < 65535;
}

void TDAScript::FlushBatch() {
  if (FBatch.empty()) return;
  std::string text;
  text.swap(FBatch);
  bool breakExec = false;
  RunOrHandle(text, breakExec);
}

void TDAScript::RunText(const std::string& sql) {
  if (!FCommand) FCommand = CreateCommand();
  FCommand->SetSQLText(sql);
  TMacros& used = FCommand->Macros();
  for (int i = 0; i < used.Count(); ++i)
    if (TMacro* own = FMacros->FindMacro(used[i]->Name())) used[i]->Assign(own);
  FCommand->Execute();
}

void TDAScript::RunOrHandle(const std::string& sql, bool& breakExec) {
  try {
    RunText(sql);
  } catch (const std::exception& e) {
    FErrorOffset = FStartOffset;
    TErrorAction action = eaException;
    if (OnError) OnError(this, e, TrimSQLBlanks(sql), action);
    switch (action) {
      case eaAbort:
        breakExec = true;
        return;
      case eaFail:
        throw;
      case eaException:
        ApplicationHandleException(e);
        return;
      case eaContinue:
        return;
    }
  }
}

TCustomDASQL& TDAScript::Command() {
  if (!FCommand) FCommand = CreateCommand();
  return *FCommand;
}
