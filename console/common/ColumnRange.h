// The values an integer column of the game holds, from the type the server describes it with.
#pragma once

#include <cstdint>
#include <string_view>

// The largest value an integer-valued column of this type holds (capped at 64 bits):
// information_schema.COLUMNS' DATA_TYPE, COLUMN_TYPE, NUMERIC_PRECISION and NUMERIC_SCALE. A type
// that is no integer type gives the 64-bit maximum.
int64_t ColumnMaximum(std::string_view dataType, std::string_view columnType, std::string_view precision,
                      std::string_view scale);

// Whether a number written in decimal digits only (leading zeros allowed) is at most maximum.
bool DigitsAtMost(std::string_view digits, int64_t maximum);
