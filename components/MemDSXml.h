// The value and name texts of TMemDataSet's XML rowset export (the writers themselves are members
// of TMemDataSet, defined in MemDSXml.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/DateTimeUtils.h"

// UTF-8 text with "&" (first), "'", the double quote, "<" and ">" written as character
// references ("&#x26;", "&#x27;", "&#x22;", "&#x3c;", "&#x3e;").
std::string XmlEscape(std::string_view utf8);
// "yyyy-mm-ddThh:nn:ss" (milliseconds dropped) and "hh:nn:ss".
std::string XmlDateTimeText(TDateTime value);
std::string XmlTimeText(TDateTime value);
// Number text with the decimal separator of the C library's locale (if it is not ".") as ".".
std::string XmlNumberText(std::string text);
// Two upper-case hexadecimal digits per byte.
std::string XmlHexText(const void* data, size_t size);
