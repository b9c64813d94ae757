#include "components/MyAccessCommand.h"

#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "mysql/MyParser.h"
#include "mysql/MySQLConnection.h"

TMyCommand::TMyCommand(TComponent* owner) : TCustomDASQL(owner) {
  SetAutoCommit(true);
  Macros().ParserClass = ParserClassOf<TMyParser>();
}

TCustomMyConnection* TMyCommand::Connection() const {
  return static_cast<TCustomMyConnection*>(TCustomDASQL::Connection());
}

void TMyCommand::SetConnection(TCustomMyConnection* value) {
  TCustomDASQL::SetConnection(value);
}

void TMyCommand::SetCommandTimeout(int value) {
  FCommandTimeout = value;
  if (ICommand() != nullptr) ICommand()->SetProp(prCommandTimeout, value);
}

void TMyCommand::CreateICommand() {
  TCustomDASQL::CreateICommand();
  // Without a connection too: the settings always have a provider command to go to.
  if (FICommand == nullptr) {
    FICommand = std::make_unique<TMySQLCommand>();
    AssignICommandProps(FICommand.get());
  }
}

void TMyCommand::SetSendTextAsIs(bool value) {
  FSendTextAsIs = value;
  if (TMySQLCommand* command = MyICommand()) command->SendTextAsIs = value;
}

void TMyCommand::SetWhileWaiting(std::function<void()> value) {
  FWhileWaiting = std::move(value);
  if (TMySQLCommand* command = MyICommand()) command->WhileWaiting = FWhileWaiting;
}

void TMyCommand::AssignICommandProps(TCRCommand* command) {
  if (command != nullptr) {
    command->SetProp(prCommandTimeout, FCommandTimeout);
    static_cast<TMySQLCommand*>(command)->SendTextAsIs = FSendTextAsIs;
    static_cast<TMySQLCommand*>(command)->WhileWaiting = FWhileWaiting;
  }
  TCustomDASQL::AssignICommandProps(command);
}

TParserClass TMyCommand::CreateParser() const {
  return ParserClassOf<TMyParser>();
}

bool TMyCommand::TextNoBackslashEscapes() const {
  const auto* connection = dynamic_cast<const TCustomMyConnection*>(UsedConnection());
  const TMySQLConnection* session = connection != nullptr ? connection->MyIConnection() : nullptr;
  return session != nullptr && session->NoBackslashEscapes();
}

std::string TMyCommand::ParseSQL(const std::string& sql, TDAParams* params, const std::string& renamePrefix) {
  if (sql.find(':') == std::string::npos) return sql;
  return TCustomDASQL::ParseSQL(sql, params, renamePrefix);
}

void TMyCommand::ParseSQLParam(const std::string& name, size_t placeholderEnd) {
  TCustomDASQL::ParseSQLParam(name, placeholderEnd);
  // The placeholder is the last character written: its 1-based position is the length so far.
  if (FCollectingPositions && ICommand() != nullptr)
    ICommand()->SetProp(prParamPosition, int(placeholderEnd));
}

void TMyCommand::UpdateParams() {
  if ((!ParamCheck() && !IsDesigning()) || ICommand() == nullptr) return TCustomDASQL::UpdateParams();
  ICommand()->SetProp(prCollectingPositions, true);
  FCollectingPositions = true;
  try {
    TCustomDASQL::UpdateParams();
  } catch (...) {
    FCollectingPositions = false;
    ICommand()->SetProp(prCollectingPositions, false);
    throw;
  }
  FCollectingPositions = false;
  ICommand()->SetProp(prCollectingPositions, false);
}

void TMyCommand::InternalExecuteCommand(int iters) {
  TCustomDASQL::InternalExecuteCommand(iters);
  ICommand()->SetCursorState(csInactive);
}

void TMyCommand::ReadOutParams() {
  Variant read;
  if (ICommand()->GetProp(prOutParamsRead, read) && read.AsBoolean()) TCustomDASQL::ReadOutParams();
}

void TMyCommand::Prepare() {
  BeginConnection();
  try {
    if (Connection() != nullptr) Connection()->CheckPrepareSupport();
    TCustomDASQL::Prepare();
  } catch (...) {
    EndConnection();
    throw;
  }
  EndConnection();
}

void TMyCommand::InternalExecute(int iters) {
  BeginConnection();
  try {
    TCustomDASQL::InternalExecute(iters);
    Variant id;
    if (UsedConnection() != nullptr && UsedConnection()->IConnection() != nullptr &&
        UsedConnection()->IConnection()->GetProp(prLastInsertId, id))
      FInsertId = id.AsInt64();
  } catch (...) {
    EndConnection();
    throw;
  }
  EndConnection();
}

void TMyCommand::Assign(TPersistent* source) {
  TCustomDASQL::Assign(source);
  if (auto* other = dynamic_cast<TMyCommand*>(source)) {
    SetCommandTimeout(other->FCommandTimeout);
    AfterExecute = other->AfterExecute;
  }
}

bool TMyUpdateSQL::IsDataSetObject(TComponent* object) const {
  return dynamic_cast<TCustomMyDataSet*>(object) != nullptr;
}

bool TMyUpdateSQL::IsSQLObject(TComponent* object) const {
  return dynamic_cast<TMyCommand*>(object) != nullptr;
}

TMyCommand* TMyAccessUtils::GetCommand(TComponent* obj) {
  // A dataset writing a row runs the statement through its update command.
  if (auto* dataSet = dynamic_cast<TCustomMyDataSet*>(obj))
    obj = dynamic_cast<TMyCommand*>(dataSet->RunningUpdateCommand()) != nullptr
              ? dataSet->RunningUpdateCommand()
              : &dataSet->Command();
  auto* command = dynamic_cast<TMyCommand*>(obj);
  DA_ASSERT(command != nullptr);
  return command;
}

TMySQLCommand* TMyAccessUtils::GetICommand(TComponent* obj) {
  return GetCommand(obj)->MyICommand();
}

bool TMyAccessUtils::GetFetchAll(TComponent* obj) {
  auto* dataSet = dynamic_cast<TCustomMyDataSet*>(obj);
  DA_ASSERT(dataSet != nullptr);
  return dataSet->FetchAll();
}

void TMyAccessUtils::SetAPI(TMySQLConnection& connection, TMySQLAPI& api) {
  connection.SetProp(prMySQLAPI, Variant::FromObject(&api));
}
