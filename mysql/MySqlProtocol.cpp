#include "mysql/MySqlProtocol.h"

// ---- errors -----------------------------------------------------------------------------------

namespace {

constexpr const char* ClientErrors[CR_MAX_ERROR - CR_MIN_ERROR + 1] = {
    "Unknown MySQL error",                                                              // 2000
    "Can't create UNIX socket (%d)",                                                    // 2001
    "Can't connect to local MySQL server through socket '%-.64s' (%d)",                 // 2002
    "Can't connect to MySQL server on '%s' (%d)",                                       // 2003
    "Can't create TCP/IP socket (%d)",                                                  // 2004
    "Unknown MySQL Server Host '%-.64s' (%d)",                                          // 2005
    "MySQL server has gone away",                                                       // 2006
    "Protocol mismatch. Server Version = %d Client Version = %d",                       // 2007
    "MySQL client run out of memory",                                                   // 2008
    "Wrong host info",                                                                  // 2009
    "Localhost via UNIX socket",                                                        // 2010
    "%-.64s via TCP/IP",                                                                // 2011
    "Error in server handshake",                                                        // 2012
    "Lost connection to MySQL server during query",                                     // 2013
    "Commands out of sync;  You can't run this command now",                            // 2014
    "%-.64s via named pipe",                                                            // 2015
    "Can't wait for named pipe to host: %s  pipe: %s (%s)",                             // 2016
    "Can't open named pipe to host: %s  pipe: %s (%s)",                                 // 2017
    "Can't set state of named pipe to host: %s  pipe: %s (%s)",                         // 2018
    "Can't initialize character set %s (path: %s)",                                     // 2019
    "Got packet bigger than 'max_allowed_packet'",                                      // 2020
    "Embedded server",                                                                  // 2021
    "Error on SHOW SLAVE STATUS:",                                                      // 2022
    "Error on SHOW SLAVE HOSTS:",                                                       // 2023
    "Error connecting to slave:",                                                       // 2024
    "Error connecting to master:",                                                      // 2025
    "SSL connection error",                                                             // 2026
    "Malformed packet",                                                                 // 2027
    "Invalid use of null pointer",                                                      // 2028
    "Statement not prepared",                                                           // 2029
    "Not all parameters data supplied",                                                 // 2030
    "Data truncated",                                                                   // 2031
    "No parameters exists in the statement",                                            // 2032
    "Invalid parameter number",                                                         // 2033
    "Can't send long data for non string or binary data types (parameter: %s)",         // 2034
    "Using unsupported buffer type: %s  (parameter: %s)",                               // 2035
    "Shared memory (%s)",                                                               // 2036
    "Can't open shared memory. Request event don't create  (%s)",                       // 2037
    "Can't open shared memory. Answer event don't create  (%s)",                        // 2038
    "Can't open shared memory. File mapping don't create  (%s)",                        // 2039
    "Can't open shared memory. Map of memory don't create  (%s)",                       // 2040
    "Can't open shared memory. File mapping don't create for client (%s)",              // 2041
    "Can't open shared memory. Map of memory don't create for client (%s)",             // 2042
    "Can't open shared memory. %s event don't create for client (%s)",                  // 2043
    "Can't open shared memory. Server abandoded and don't sent the answer event (%s)",  // 2044
    "Can't open shared memory. Can't send the request event to server (%s)",            // 2045
    "Wrong or unknown protocol",                                                        // 2046
    "Invalid connection handle",                                                        // 2047
};

}  // namespace

const char* MySqlClientErrorText(int code) noexcept {
  return code >= CR_MIN_ERROR && code <= CR_MAX_ERROR ? ClientErrors[code - CR_MIN_ERROR] : "";
}

std::string MySqlErrorMessage(int code, std::initializer_list<FormatArg> args, std::string_view detail) {
  std::string message = MySqlClientErrorText(code);
  try {
    message = Format(message, args);
  } catch (const EConvertError&) {
    // An error report must not turn into a formatting error: keep the text as it stands.
  }
  if (!detail.empty()) {
    message += "\r\n";
    message += detail;
  }
  return message;
}

void RaiseMySqlClientError(int code, std::initializer_list<FormatArg> args, std::string_view detail) {
  throw EMySqlException(code, MySqlErrorMessage(code, args, detail));
}

// ---- columns ---------------------------------------------------------------------------------

size_t MySqlBinaryFixedSize(uint8_t type) noexcept {
  switch (type) {
    case mftTiny:
      return 1;
    case mftShort:
    case mftYear:
      return 2;
    case mftLong:
    case mftInt24:
    case mftFloat:
      return 4;
    case mftLongLong:
    case mftDouble:
      return 8;
    default:
      return 0;
  }
}
