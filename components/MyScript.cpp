#include "components/MyScript.h"

#include "components/MyAccessCommand.h"
#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "mysql/MyClasses.h"
#include "mysql/MyParser.h"

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
  return command;
}

TCharsetKind TMyScript::TextCharset() const {
  // The splitter reads the text as the server will: a GBK trail byte 0x5C is no backslash there.
  const TCustomMyConnection* connection = Connection();
  return connection != nullptr ? connection->StatementCharset() : AnsiCharsetKind();
}

void TMyScript::OnLexeme(int code, const std::string& /*text*/, bool firstInStatement) {
  const int previous = firstInStatement ? 0 : FLastCode;
  FLastCode = code;
  // Only a statement that starts with it is a DELIMITER command: elsewhere the word may be a name.
  if (code == lxDELIMITER && firstInStatement) {
    FDelimiterState = 1;
    FKind = skDelimiter;
  }
  if (FCurrentDelimiter == ";" && previous == lxCREATE &&
      (code == lxFUNCTION || code == lxPROCEDURE || code == lxTRIGGER))
    FKind = skBodyBlock;
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
  if (FDataSet == nullptr) return TDAScript::RunText(sql);
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
