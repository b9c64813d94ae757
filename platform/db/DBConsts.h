// The dataset model's message texts, formatted with Format (platform/runtime/Format.h).
#pragma once

inline constexpr char SFieldNotFound[] = "Field '%s' not found";
inline constexpr char SFieldDefNotFound[] = "Field definition '%s' not found";
inline constexpr char SParameterNotFound[] = "Parameter '%s' not found";
inline constexpr char SDuplicateFieldName[] = "Duplicate field name '%s'";
inline constexpr char SFieldNameMissing[] = "Field name missing";
inline constexpr char SDataSetMissing[] = "Field '%s' has no dataset";
inline constexpr char SFieldTypeMismatch[] = "Type mismatch for field '%s', expecting: %s actual: %s";
inline constexpr char SFieldAccessError[] = "Cannot access field '%s' as type %s";
inline constexpr char SFieldReadOnly[] = "Field '%s' cannot be modified";
inline constexpr char SFieldRequired[] = "Field '%s' must have a value";
inline constexpr char SFieldRangeError[] =
    "%s is not a valid value for field '%s'. The allowed range is %s to %s";
inline constexpr char SFieldValueError[] = "Invalid value for field '%s'";
inline constexpr char SFieldSizeError[] = "Value of %d bytes is too long for field '%s' of size %d";
inline constexpr char SInvalidIntegerValue[] = "'%s' is not a valid integer value";
inline constexpr char SInvalidFloatValue[] = "'%s' is not a valid floating point value";
inline constexpr char SInvalidBoolValue[] = "'%s' is not a valid boolean value";
inline constexpr char SInvalidDateTimeValue[] = "'%s' is not a valid date and time";
inline constexpr char SInvalidBcdValue[] = "'%s' is not a valid BCD value";
inline constexpr char SInvalidGuidValue[] = "'%s' is not a valid GUID value";
inline constexpr char SInvalidFieldSize[] = "Invalid field size";
inline constexpr char SInvalidFieldKind[] = "Invalid FieldKind";
inline constexpr char SNotBlobField[] = "Field '%s' is not a BLOB field";
inline constexpr char SLookupInfoError[] = "Lookup information for field '%s' is incomplete";

inline constexpr char SNotEditing[] = "Dataset not in edit or insert mode";
inline constexpr char SDataSetOpen[] = "Cannot perform this operation on an open dataset";
inline constexpr char SDataSetClosed[] = "Cannot perform this operation on a closed dataset";
inline constexpr char SDataSetEmpty[] = "Cannot perform this operation on an empty dataset";
inline constexpr char SDataSetReadOnly[] = "Cannot modify a read-only dataset";
inline constexpr char SNotBrowsing[] = "Operation not allowed in a dataset in insert or edit mode";
inline constexpr char SPeekReadOnly[] = "Cannot modify a record shown for drawing";
inline constexpr char SPeekBusy[] =
    "Cannot move or change a dataset while one of its rows is shown for drawing";
inline constexpr char SBookmarkNotFound[] = "Record not found";
inline constexpr char SCircularDataLink[] = "Circular datalinks are not allowed";
inline constexpr char SDataSourceChange[] = "DataSource cannot be changed";
inline constexpr char SNoDataSet[] = "No dataset";
inline constexpr char SAbstractOperation[] = "Abstract operation %s of %s";

inline constexpr char SConnectionClosing[] = "Cannot perform this operation on a connected connection";
inline constexpr char SLoginCancelled[] = "Login cancelled";
