// Byte forms of field values, shared by the record store's field access: text cut at character
// boundaries, line-break expansion, counted byte strings, string-heap blocks holding values, and
// the rounding of floats to a field's scale. Buffers may be unaligned; nothing here reads or
// writes outside the sizes it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/MemFieldDesc.h"
#include "platform/runtime/Variant.h"

class TBlob;
class TStringHeap;

// Copies zero-terminated ANSI text of at most srcMax bytes into dest (destSize bytes, always
// terminated), expanding an LF not preceded by CR into CR LF when expandEol. What does not fit
// is cut at a character boundary of the ANSI code page. destSize 0 is an assertion failure.
void CopyAnsiText(const void* src, size_t srcMax, void* dest, size_t destSize, bool expandEol);
// The same for text whose length is known (zero bytes inside are part of it).
void CopyAnsiText(std::string_view text, void* dest, size_t destSize, bool expandEol);
// The same in UTF-16 (srcMaxUnits units, destSize bytes); a surrogate pair is never split.
void CopyWideText(const void* src, size_t srcMaxUnits, void* dest, size_t destSize, bool expandEol);
// Copies a 16-bit count and its bytes. A count beyond srcSize or destSize is an assertion failure.
void CopyVarBytes(const void* src, size_t srcSize, void* dest, size_t destSize);

// The text of an exchange buffer: up to the first zero within size bytes.
std::string_view AnsiTextOf(const void* source, size_t size);
// The same in UTF-16 (size in bytes), copied because the buffer may be unaligned.
std::u16string WideTextOf(const void* source, size_t size);
// The bytes of a counted byte string (16-bit count, then the bytes). EConvertError "Invalid data
// size" for a count above maxCount; a count beyond the buffer is an assertion failure.
std::span<const uint8_t> VarBytesOf(const void* source, size_t size, size_t maxCount);

// Text held inline in a field of fieldSize bytes, read up to its terminator.
std::string ReadAnsiText(const void* field, size_t fieldSize);

// A dtString slot is the field's Size bytes of zero-terminated text followed by a 16-bit count
// + 1 of the text's bytes, so that text holding zero bytes keeps its length; a count of 0 (a slot
// written without it) falls back to the terminator.
inline constexpr size_t InlineTextCountSize = 2;
// Bytes a field occupies in the record: Size, plus the count of a dtString.
size_t FieldSlotSize(const TFieldDesc& field) noexcept;
// The text of a dtString slot of fieldSize bytes (the field's Size), every byte of it.
std::string_view InlineTextOf(const void* slot, size_t fieldSize);
// Stores text in a dtString slot with its terminator and count, cut at a character boundary.
void StoreInlineText(void* slot, size_t fieldSize, std::string_view text);
std::u16string ReadWideText(const void* field, size_t fieldSize);
// Stores text in a field of fieldSize bytes with its terminator, cut at a character boundary.
void StoreAnsiText(void* field, size_t fieldSize, std::string_view text);
void StoreWideText(void* field, size_t fieldSize, std::u16string_view text);
// 16-bit count then the bytes; more than 65,535 bytes is an assertion failure.
void StoreVarBytes(void* field, std::span<const uint8_t> bytes);

// Longest prefix of at most maxUnits UTF-16 units that does not split a surrogate pair.
size_t WideCutLength(std::u16string_view text, size_t maxUnits) noexcept;

// New string-heap blocks holding a value, with one reference.
void* NewHeapText(TStringHeap& heap, std::string_view text);
void* NewHeapWideText(TStringHeap& heap, std::u16string_view text);
void* NewHeapVarBytes(TStringHeap& heap, std::span<const uint8_t> bytes);
// A new block with a copy of block's bytes.
void* DuplicateHeapBlock(TStringHeap& heap, const void* block);
// The value of a heap block (bounded by the block's size); nil gives an empty value. A block made
// by NewHeapText ends with the text's byte count, so its zero bytes are part of the value.
std::string HeapText(const void* block);
std::string_view HeapTextOf(const void* block);
std::u16string HeapWideText(const void* block);
std::span<const uint8_t> HeapVarBytes(const void* block);

// value rounded to `scale` decimals, half away from zero, after rounding to 18 significant
// digits. A scale below 1 or a value that is not finite leaves it unchanged.
double RoundToScale(double value, int scale);

// Decimal integer text with an optional sign, blanks around allowed. EConvertError
// "'%s' is not a valid integer value" for anything else or a value outside int32.
int32_t TextToInt32(std::string_view text);

// ---- Variants and field values ----

// EConvertError "Cannot convert type <code>".
[[noreturn]] void RaiseCannotConvert(TDataType dataType);
// EConvertError "Value <value> is out of range for field <name>".
[[noreturn]] void RaiseOutOfRange(std::string_view value, const TFieldDesc& field);
// Stores value in a dtInt8, dtInt16, dtUInt16, dtInt32, dtUInt32, dtInt64 or dtBoolean field at p.
// 16-bit fields take 8- and 16-bit integers and 32-bit signed ones; dtInt32 also floats, currency
// and integer text; dtUInt32 and dtInt64 any integer; dtBoolean only Booleans (stored as -1 / 0).
// Another variant type raises RaiseCannotConvert, a value outside the field's range
// RaiseOutOfRange; nothing is stored then.
void StoreIntegerVariant(const TFieldDesc& field, void* p, const Variant& value);
// The double a dtFloat or dtCurrency field stores: integers as they are, floats, currency and text
// rounded to the field's Scale.
double FloatOfVariant(const Variant& value, const TFieldDesc& field);
// The value as a date-time; one outside 0001-01-01..9999-12-31 raises EConvertError.
TDateTime DateTimeOfVariant(const Variant& value);
// The microseconds a dtDateTimeUs or dtTimeUs field stores: text is read exactly (up to 6
// fraction digits), a date-time to the millisecond (for dtTimeUs: days as a duration).
// EConvertError "'%s' is not a valid date and time value for field %s" ("time value") for text
// that is not one, "Cannot convert type" for other variant types.
int64_t MicrosOfVariant(const Variant& value, const TFieldDesc& field);
// The bytes of a byte-array variant; another type is the assertion failure "Invalid VType".
const std::vector<uint8_t>& BytesOfVariant(const Variant& value);
std::string TrimRightBlanksIf(std::string text, bool trim);
std::u16string TrimRightBlanksIf(std::u16string text, bool trim);
// The value of a dtInt8 field of Size 1 or 2 as an 8-bit variant (16-bit when it does not fit).
Variant Int8FieldVariant(const void* p, const TFieldDesc& field);
// The blob's text := the value's string form (its wide form for a wide memo), in cached mode so
// that Cancel restores the old content. A conversion error leaves the blob as it was.
void StoreBlobVariant(TBlob& blob, bool wide, const Variant& value);
