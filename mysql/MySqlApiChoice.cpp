#include "mysql/MySqlApiChoice.h"

#include "mysql/MySqlApiClient.h"
#include "mysql/MySqlApiDirect.h"
#include "mysql/MySqlApiEmbedded.h"

TMySQLAPI& ChooseMySQLAPI(bool embedded, bool direct) {
  if (embedded) return MyAPIEmbedded();
  if (direct) return MyAPIDirect();
  return MyAPIClient();
}
