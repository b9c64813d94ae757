#include "components/MyScript.h"

#include <cctype>
#include <string_view>

#include "components/MyAccessCommand.h"
#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "mysql/MyClasses.h"
#include "mysql/MyParser.h"
#include "mysql/MySQLCommand.h"
#include "mysql/MySQLConnection.h"

TMyScript::TMyScript(TComponent* owner) : TDAScript(owner) {}

TCustomMyConnection* TMyScript::Connection() const {
  return static_cast<TCustomMyConnection*>(TDAScript::Connection());
}

void TMyScript::SetConnection(TCustomMyConnection* value) {
  TDAScript::SetConnection(value);
}

TParserClass TMyScript::GetParserClass() const {
  return ParserClassOf<TMyParser>();
}

std::unique_ptr<TCustomDASQL> TMyScript::CreateCommand() {
  auto command = std::make_unique<TMyCommand>();
  command->SetParamCheck(false);
  // The next statement is split while the server runs the one sent.
  command->SetWhileWaiting([this] { ReadAhead(); });
  return command;
}

TCharsetKind TMyScript::TextCharset() const {
  // The splitter reads the text as the server will: a GBK trail byte 0x5C is no backslash there.
  // The session's set is the one the server last reported, so a SET NAMES the script ran holds
  // for the rest of it.
  const auto* connection = dynamic_cast<const TCustomMyConnection*>(UsedConnection());
  if (connection == nullptr) return AnsiCharsetKind();
  const TMySQLConnection* session = connection->MyIConnection();
  if (SendTextAsIs && session != nullptr && session->GetMySQL() != nullptr) return session->GetTextCharset();
  return connection->StatementCharset();
}

bool TMyScript::TextNoBackslashEscapes() const {
  const auto* connection = dynamic_cast<const TCustomMyConnection*>(UsedConnection());
  const TMySQLConnection* session = connection != nullptr ? connection->MyIConnection() : nullptr;
  return session != nullptr && session->NoBackslashEscapes();
}

namespace {

bool StartsWithWord(std::string_view text, std::string_view word) {
  if (text.size() < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(text[i])) != word[i]) return false;
  return text.size() == word.size() || !std::isalnum(static_cast<unsigned char>(text[word.size()]));
}

}  // namespace

bool TMyScript::EndsBatch(const std::string& sql) const {
  std::string_view text = sql;
  // "/*!40101 SET NAMES x */" and "/*M!100100 SET ...": the statement inside the comment.
  if (text.rfind("/*!", 0) == 0 || text.rfind("/*M!", 0) == 0) {
    text.remove_prefix(text.find('!') + 1);
    while (!text.empty() && std::isdigit(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  if (StartsWithWord(text, "CALL")) return true;
  if (!StartsWithWord(text, "SET")) return false;
  // SET NAMES, SET CHARACTER SET, SET CHARSET, SET character_set_client = ...
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper.find("NAMES") != std::string::npos || upper.find("CHAR") != std::string::npos ||
         upper.find("SQL_MODE") != std::string::npos;
}

int64_t TMyScript::BatchStatementsRun() {
  if (FDataSet != nullptr) return -1;
  auto* command = dynamic_cast<TMyCommand*>(&Command());
  TMySQLCommand* provider = command != nullptr ? command->MyICommand() : nullptr;
  return provider != nullptr ? provider->StatementsRun() : -1;
}

namespace {

bool IsWord(int code, const std::string& text, std::string_view word) {
  return code == lcIdent && text.size() == word.size() && StartsWithWord(text, word);
}

}  // namespace

void TMyScript::OnLexeme(int code, const std::string& text, bool firstInStatement) {
  const int previous = firstInStatement ? 0 : FLastCode;
  FLastCode = code;
  if (firstInStatement) {
    FBlockDepth = 0;
    FEndPending = false;
  }
  if (RoutineEndsAtItsEnd && IsBodyBlock(FKind)) {
    // END IF, END LOOP, END WHILE and END REPEAT close blocks not counted; END CASE closes the
    // CASE counted at its start, as a plain END closes a BEGIN or a CASE expression.
    const bool closesUncounted = IsWord(code, text, "IF") || IsWord(code, text, "LOOP") ||
                                 IsWord(code, text, "WHILE") || IsWord(code, text, "REPEAT");
    if (FEndPending) {
      FEndPending = false;
      if (!closesUncounted) --FBlockDepth;
      if (IsWord(code, text, "CASE")) return;
    }
    if (IsWord(code, text, "BEGIN") || IsWord(code, text, "CASE"))
      ++FBlockDepth;
    else if (IsWord(code, text, "END"))
      FEndPending = true;
  }
  // Only a statement that starts with it is a DELIMITER command: elsewhere the word may be a name.
  if (code == lxDELIMITER && firstInStatement) {
    FDelimiterState = 1;
    FKind = skDelimiter;
  }
  if (previous == lxCREATE && (code == lxFUNCTION || code == lxPROCEDURE || code == lxTRIGGER) &&
      FCurrentDelimiter == ";")
    FKind = skBodyBlock;
}

bool TMyScript::IsExtraEnd(int code, const std::string& lexem) const {
  if (!RoutineEndsAtItsEnd || !IsBodyBlock(FKind) || FCurrentDelimiter != ";" || FDelimiterState != 0)
    return false;
  return code == lxMySemicolon && lexem == ";" && FBlockDepth - (FEndPending ? 1 : 0) <= 0;
}

bool TMyScript::CanOptimize(const std::string& sql) {
  const TCustomMyConnection* connection = Connection();
  const TMySQLConnection* session = connection != nullptr ? connection->MyIConnection() : nullptr;
  if (session == nullptr || session->GetMySQL() == nullptr || !session->IsClient41() ||
      !session->IsServer41())
    return false;
  return TDAScript::CanOptimize(sql);
}

void TMyScript::SetDataSet(TCustomMyDataSet* value) {
  if (value == FDataSet) return;
  if (FDataSet != nullptr) RemoveFreeNotification(FDataSet);
  FDataSet = value;
  if (value != nullptr) FreeNotification(value);
}

void TMyScript::Notification(TComponent* component, TOperation operation) {
  TDAScript::Notification(component, operation);
  if (operation == opRemove && component == FDataSet) FDataSet = nullptr;
}

TCustomDAConnection* TMyScript::UsedConnection() const {
  return FDataSet != nullptr ? FDataSet->Connection() : TDAScript::UsedConnection();
}

void TMyScript::RunStarting() {
  if (FDataSet != nullptr) FDataSet->DisableControls();
}

void TMyScript::RunEnded() noexcept {
  if (FDataSet == nullptr) return;
  try {
    FDataSet->EnableControls();
  } catch (...) {
    // The controls show the dataset again at its next change.
  }
}

void TMyScript::RunText(const std::string& sql) {
  if (FDataSet == nullptr) {
    if (auto* command = dynamic_cast<TMyCommand*>(&Command())) command->SetSendTextAsIs(SendTextAsIs);
    return TDAScript::RunText(sql);
  }
  TCustomMyDataSet& ds = *FDataSet;
  ds.SQL().SetText(sql);
  TMacros& used = ds.Macros();
  for (int i = 0; i < used.Count(); ++i)
    if (TMacro* own = Macros().FindMacro(used[i]->Name())) used[i]->Assign(own);
  // The script's Debug holds while its statement runs.
  const bool debug = ds.Debug;
  ds.Debug = Debug();
  try {
    ds.Execute();
  } catch (...) {
    ds.Debug = debug;
    throw;
  }
  ds.Debug = debug;
}
