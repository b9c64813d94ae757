// Which client API a connection talks through, chosen by its Embedded and Direct settings.
#pragma once

#include "mysql/MySqlApi.h"

// The embedded server when `embedded`, else the direct protocol when `direct`, else the client
// library. Each is the process-wide instance; none is loaded or started before its first call.
TMySQLAPI& ChooseMySQLAPI(bool embedded, bool direct);
