// The message table of the data-access library: every user-visible text has an id; code loads the
// text by id when it raises and formats it with its arguments.
#pragma once

#include <initializer_list>
#include <string>

#include "platform/runtime/Format.h"

// MySQL layers
inline constexpr int SNoResultSet = 65072;       // "Query must return exactly result set - use Execute"
inline constexpr int SServerInitFailed = 65073;  // embedded server could not start
inline constexpr int SConnectionOpen = 65074;    // "Cannot perform this operation on an open connection"
inline constexpr int STimestampFieldRequired = 65075;
inline constexpr int SPrepareNotSupportedByClient = 65076;
inline constexpr int SPrepareNotSupportedByServer = 65077;
inline constexpr int SInvalidClientVersion = 65078;

// SQL dump comment blocks
inline constexpr int SDumpHeader = 65080;          // version, server, client, date, server, database
inline constexpr int SDumpDatabaseHeader = 65081;  // database name
inline constexpr int SDumpUsersHeader = 65082;
inline constexpr int SDumpStoredProcHeader = 65083;  // routine name
inline constexpr int SDumpTableHeader = 65084;       // table name

// Datasets, components and the record store
inline constexpr int SNoCorrespondParam = 65088;  // parameter name
inline constexpr int SUnknownParamType = 65089;   // parameter name
inline constexpr int SRecordChanged = 65090;
inline constexpr int SConnectionClosed = 65091;
inline constexpr int SMaxConnectionsReached = 65092;
inline constexpr int SCannotChangeIsUnicode = 65093;
inline constexpr int SNoTimers = 65094;
inline constexpr int SCompressorNotLinked = 65095;
inline constexpr int SUncompressorNotLinked = 65096;
inline constexpr int SCircularUpdateObjects = 65097;
inline constexpr int SUpdateObjectClasses = 65098;  // two class names
inline constexpr int SUpdateObjectEmptySQL = 65099;
inline constexpr int SBackupOneTable = 65100;
inline constexpr int SDumpDataHeader = 65101;  // table name
inline constexpr int SInvalidBlobPosition = 65102;
inline constexpr int SNoSQLStatement = 65103;
inline constexpr int STableInfoNameRequired = 65104;
inline constexpr int SBadStatementType = 65105;
inline constexpr int SBadUpdatingTable = 65106;  // table name
inline constexpr int SInvalidUncompressedBlobSize = 65107;
inline constexpr int SInvalidCompressedBlobSize = 65108;
inline constexpr int SInvalidCompressedBlobHeader = 65109;
inline constexpr int SInvalidCompressedBlobData = 65110;
inline constexpr int SNotCachedUpdates = 65111;
inline constexpr int SDataSetNotOwned = 65112;  // dataset name, connection name
inline constexpr int SConnectionNotDefined = 65113;
inline constexpr int SCannotConnect = 65114;
inline constexpr int SMacroNotFound = 65115;  // macro name
inline constexpr int STransactionInProgress = 65116;
inline constexpr int SUpdateFailed = 65117;   // record count
inline constexpr int SRefreshFailed = 65118;  // record count
inline constexpr int SInvalidFetchRows = 65119;
inline constexpr int SUnknownDataType = 65126;
inline constexpr int SDataTypeNotSupported = 65127;
inline constexpr int SFieldNotFound = 65128;  // field name
inline constexpr int SCannotConvertType = 65129;
inline constexpr int SIllegalFilter = 65130;
inline constexpr int SFieldNotBlob = 65131;
inline constexpr int SInvalidBlob = 65132;
inline constexpr int SBlobNotCached = 65133;
inline constexpr int SUniqueKeyFieldsRequired = 65134;
inline constexpr int SKeyFieldsNotFound = 65135;
inline constexpr int SNoUpdatingTable = 65136;
inline constexpr int SFieldNotInUpdatingTable = 65137;  // field name, table name
inline constexpr int SUpdateSQLNoDataSet = 65138;
inline constexpr int SKeyNotInResult = 65139;          // table name, the missing key columns
inline constexpr int SPartialDateNotWritable = 65140;  // field name
inline constexpr int SPartialDateInCondition = 65141;  // field name

// The text of message `id`, unformatted. An id outside the table is an assertion failure.
const char* MessageText(int id);

// The text of message `id` formatted with `args`. Raises EAssertionFailed for an unknown id and
// EConvertError when the arguments do not match the text's % directives.
std::string MessageFmt(int id, std::initializer_list<FormatArg> args = {});
