// The C client library's prepared statements as a benchmark reference. A unit of its own: the
// library's header defines names our protocol code also defines.
#pragma once

#include <cstdint>
#include <string>

class TLibraryStmt {
 public:
  // Connects and prepares query; raises Exception with the library's error text on failure.
  TLibraryStmt(const std::string& host, int port, const std::string& user, const std::string& password,
               const std::string& database, const std::string& query);
  ~TLibraryStmt();
  TLibraryStmt(const TLibraryStmt&) = delete;
  TLibraryStmt& operator=(const TLibraryStmt&) = delete;

  // Executes and fetches every row of (INT, BIGINT, DOUBLE, VARCHAR, DATETIME) into bound
  // buffers; returns a checksum of every value read (the date-time by its parts).
  uint64_t ReadAll();

 private:
  void* FMysql;
  void* FStmt = nullptr;
};
