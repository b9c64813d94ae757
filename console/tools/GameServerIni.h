// What the game-server ini viewer decides without widgets: the keys it shows, where a zone's
// world server file is, and reading it. The file lives on a disk whose names may differ in case
// from the ones the game's tools write (World\GameWorld_Server.ini).
#pragma once

#include <QString>
#include <string>
#include <vector>

struct TServerIniKey {
  const char* Section;
  const char* Key;
  const char* Caption;  // UTF-8; the key's own name where no caption is given
};

// The keys in the order they are read and shown.
const std::vector<TServerIniKey>& ServerIniKeys();

// The zone directory as typed, with "\" read as a separator and a closing separator added, so
// "login" and "world" are looked for inside it.
QString ZoneDirectory(const QString& typed);

// The path of relative (parts separated by "/") below directory, each part matched without
// regard to case; empty when a part is missing.
QString FindPathNoCase(const QString& directory, const QString& relative);

// True when the zone directory holds a login or a world directory (any case).
bool IsZoneDirectory(const QString& directory);

// The world server file of the zone; empty when there is none.
QString ServerIniPath(const QString& directory);

struct TServerIniValues {
  std::vector<QString> Values;  // one per key of ServerIniKeys(), empty when missing
  QString Error;                // why the file could not be read; empty when it was, or is missing
};

// The values of ServerIniKeys() in order: GBK text, or UTF-8 or UTF-16 after a byte-order mark.
// A missing file gives empty values; one that cannot be read gives them with its reason.
TServerIniValues ReadServerIni(const QString& path);
