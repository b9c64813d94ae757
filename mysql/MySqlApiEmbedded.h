// The client API through the embedded server: the server library (libmariadbd.so.19 by default),
// loaded at run time, runs the server inside this process on a data folder of its own.
//
// The server starts when the first connection handle is made (mysql_init), with the parameter
// list (one --name=value option per line), and ends with Unload or at exit. Reading the client
// version (Initialize) loads the library without starting it.
//
// One data folder serves one embedded server on the machine: the start takes an flock'ed lock file
// in the folder (the folder is the --datadir value, else the --basedir value + "/data") and gives
// up after two seconds when another process holds it.
//
// The server library can start once per process: a second start after the server ended, or after
// a failed start, would crash it, so it is refused with an error that says to restart the program.
#pragma once

#include <memory>
#include <vector>

#include "mysql/MySqlApiClient.h"
#include "platform/runtime/Classes.h"

class TMutex;

class TMySQLAPIEmbedded : public TMySQLAPIClient {
 public:
  static constexpr const char* DefaultLibraryName = "libmariadbd.so.19";
  static constexpr const char* LockFileName = "embedded-server.lock";
  static constexpr uint32_t DataFolderWaitMs = 2000;

  TMySQLAPIEmbedded();
  // Ends the server unless connections are still open; never throws.
  ~TMySQLAPIEmbedded() override;

  // The server's parameters for its start; empty lines and lines starting with "#" are dropped.
  void SetParams(const TStringList& params);

  // Starts the server when it is not running, then a new connection handle. Errors (nothing
  // started): the load error of Initialize; EOSError when the data folder's lock file cannot be
  // made or another process holds it for two seconds; Exception "A call to an mysql_server_init
  // failed" with the server's last reported error on a further line; Exception "... restart the
  // program ..." when the server cannot start in this process again, or runs with other parameters.
  PMYSQL_CON mysql_init(PMYSQL_CON mysql) override;

  // The library alone; the server starts at the first mysql_init.
  void Load() override;
  // Ends the server when it runs and frees the library. Errors: EInvalidOperation while
  // connections are open.
  void Unload() override;

  bool Started() const;
  // What the server last reported as an error while starting (empty when nothing).
  std::string LastServerError() const;

  // The data folder the parameters name, made absolute; empty when they name none.
  static std::string DataFolder(const std::vector<std::string>& params);

 private:
  std::vector<std::string> FParams;
  bool FStarted = false;
  std::string FStartedParams;
  std::string FLastServerError;
  std::unique_ptr<TMutex> FDataLock;
  // The start's arguments: the server may keep pointers into them while it runs.
  std::vector<std::string> FArgs;
  std::vector<char*> FArgv;
  std::vector<std::string> FGroupNames;
  std::vector<char*> FGroups;

  void Start();
  int RunServerInit(const std::vector<std::string>& params);
};

// The process-wide instance, made on first use and freed at exit.
TMySQLAPIEmbedded& MyAPIEmbedded();
