// The zone sections of DB.ini as the zone editor adds, updates and deletes them. A zone never
// reaches the single server's settings: the names DB and User (any case) are refused, and so is
// any name the file could not hold as a section of its own; only a listed zone is deleted.
// Widget-free: names, values and messages are UTF-8.
#pragma once

#include <string>
#include <string_view>

#include "console/common/DbIniSettings.h"

// Why name cannot be a zone's section name, or empty when it can.
std::string CheckZoneName(std::string_view name);

// The editor's checks on a new zone, in the order the user is told about them: the message of
// the first problem, or empty when the zone can be written so that every value reads back as
// it was typed (a value that cannot is named in the message).
std::string CheckZoneInput(const TDbIni& ini, std::string_view name, const TDbSettings& s);

struct TZoneOutcome {
  bool Done = false;
  std::string Message;  // shown whatever the outcome
};

// Writes zone name with the settings s (all but SaveIni); a zone of that name is updated.
// Raises EIniFileException when the file cannot be written.
TZoneOutcome AddZone(const TDbIni& ini, std::string_view name, const TDbSettings& s);
// Erases the section of the listed zone name; an empty or unlisted name erases nothing.
TZoneOutcome DeleteZone(const TDbIni& ini, std::string_view name);

// The scrolling hint's next left edge: 2 pixels to the left, back to 225 once past 81.
int NextHintLeft(int left) noexcept;
