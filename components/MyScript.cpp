#include "components/MyScript.h"

#include "components/MyAccessCommand.h"
#include "components/MyAccessConnection.h"
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
