// The hooks through which the data-access library reaches the console: the busy cursor while it
// connects, opens and executes, the box that offers a way out of a long wait for the server, and
// the error report for failures a script hands to the application.
#pragma once

#include <QString>
#include <exception>

// The console's sentence the error report shows before a database failure's own text (empty for
// other failures).
QString DatabaseFailureLead(const std::exception& e);

// Installs them; main() calls it once before any window exists.
void InstallApplicationHooks();
