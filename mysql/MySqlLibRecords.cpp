// Checks the record declarations against the client library's own header (libmariadb-dev).
#include "mysql/MySqlLibRecords.h"

#include <mariadb/mysql.h>

static_assert(MyLibRecordsMatch<MYSQL_FIELD, MYSQL_BIND, MYSQL_TIME>(),
              "the client library's records moved: update MySqlLibRecords.h");
static_assert(MYSQL_LIB_OPT_COMPRESS == MYSQL_OPT_COMPRESS &&
              MYSQL_LIB_SET_CHARSET_NAME == MYSQL_SET_CHARSET_NAME &&
              MYSQL_LIB_OPT_LOCAL_INFILE == MYSQL_OPT_LOCAL_INFILE &&
              MYSQL_LIB_OPT_SSL_ENFORCE == MYSQL_OPT_SSL_ENFORCE &&
              MYSQL_LIB_OPT_SSL_VERIFY_SERVER_CERT == MYSQL_OPT_SSL_VERIFY_SERVER_CERT);
static_assert(MYSQL_OPT_CONNECT_TIMEOUT == 0 && MYSQL_OPT_NAMED_PIPE == 2 && MYSQL_OPT_PROTOCOL == 9 &&
              MYSQL_OPT_READ_TIMEOUT == 11 && MYSQL_OPT_WRITE_TIMEOUT == 12);
static_assert(sizeof(my_bool) == sizeof(my_bool_t));

const TMyLibLayout MyClientLibLayout{offsetof(MYSQL_RES, handle)};
