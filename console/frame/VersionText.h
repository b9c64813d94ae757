// Version texts as a version server sends them: dotted decimal parts compared as numbers.
// Free of Qt, so the fuzz target takes it alone.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Compares two versions of dotted decimal parts ("2.2.1.1015"), part by part as numbers from
// the left, a missing part counting as 0. Negative, zero or positive as a is older, the same
// or newer; nothing when either is no such version.
std::optional<int> CompareVersions(std::string_view a, std::string_view b);

// The version text of a reply body: the body without a UTF-8 byte-order mark at its start and
// without surrounding blanks and line ends, when it is a dotted version; nothing otherwise.
std::optional<std::string> VersionOfReply(std::string_view body);
