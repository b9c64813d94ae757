// The C client library as a reference: its view of a result, for comparison with ours. Kept in
// a unit of its own because the library's header defines names our protocol code also defines.
#pragma once

#include <string>
#include <utility>
#include <vector>

// Every value of the result, row by row: (is NULL, bytes).
using TOracleValues = std::vector<std::pair<bool, std::string>>;

// Runs sql through the C client library; on failure returns nothing and sets error.
TOracleValues MariaDbOracleValues(const std::string& host, int port, const std::string& user,
                                  const std::string& password, const std::string& database,
                                  const std::string& sql, bool compress, std::string& error);
