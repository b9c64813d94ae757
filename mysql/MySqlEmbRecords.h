// The embedded-server library's layout (libmariadbd-dev's <mariadb/server/mysql.h>): its records
// are those of MySqlLibRecords.h, which MySqlEmbRecords.cpp checks; only a result's connection
// pointer sits elsewhere.
#pragma once

#include "mysql/MySqlLibRecords.h"

extern const TMyLibLayout MyEmbeddedLibLayout;
