#include "core/DAConsts.h"

#include <algorithm>
#include <iterator>

#include "platform/runtime/Exceptions.h"

namespace {

struct Message {
  int id;
  const char* text;
};

#define DA_DUMP_RULE "-- ----------------------------------------------------------------------"

// Sorted by id: looked up by binary search.
constexpr Message kMessages[] = {
    {SNoResultSet, "Query must return exactly result set - use Execute"},
    {SServerInitFailed, "A call to an mysql_server_init failed"},
    {SConnectionOpen, "Cannot perform this operation on an open connection"},
    {STimestampFieldRequired, "Timestamp field required"},
    {SPrepareNotSupportedByClient, "Prepare/UnPrepare is not supported by this MySQL client version"},
    {SPrepareNotSupportedByServer, "Prepare/UnPrepare is not supported by this MySQL server version"},
    {SInvalidClientVersion, "Invalid client version"},
    {SDumpHeader,
     "-- Ovrix version: %s\r\n"
     "-- MySQL server version: %s\r\n"
     "-- MySQL client version: %s\r\n"
     "-- Script date %s\r\n" DA_DUMP_RULE " \r\n"
     "-- Server: %s\r\n"
     "-- Database: %s\r\n"
     "\r\n"},
    {SDumpDatabaseHeader, "-- \r\n-- Database %s structure\r\n-- \r\n\r\n"},
    {SDumpUsersHeader, "-- \r\n-- User permissions\r\n-- \r\n\r\n"},
    {SDumpStoredProcHeader, "-- \r\n-- StoredProc  %s\r\n-- \r\n\r\n"},
    {SDumpTableHeader, "-- \r\n-- Table structure for table  %s\r\n-- \r\n\r\n"},
    {SNoCorrespondParam, "Not found field corresponding parameter %s"},
    {SUnknownParamType, "Unknown type of parameter %s"},
    {SRecordChanged, "Record was changed by another user"},
    {SConnectionClosed, "Operation is not allowed when the connection is closed"},
    {SMaxConnectionsReached, "Maximum connections reached in pool"},
    {SCannotChangeIsUnicode, "Cannot change IsUnicode if Size > 0"},
    {SNoTimers, "Not enough timers available"},
    {SCompressorNotLinked, "Compressor function is not linked"},
    {SUncompressorNotLinked, "Uncompressor function is not linked"},
    {SCircularUpdateObjects,
     "Circular references are not allowed between TCustomDADataset and TCustomDAUpdateSQL objects"},
    {SUpdateObjectClasses, "Only %s and %s objects are allowed in update properties"},
    {SUpdateObjectEmptySQL,
     "SQL property of InsertObject, ModifyObject, DeleteObject or RefreshObject cannot be empty"},
    {SBackupOneTable, "To execute BackupQuery TableNames must have not more than one table"},
    {SDumpDataHeader, "-- \r\n-- Dumping data for table %s\r\n-- \r\n\r\n"},
    {SInvalidBlobPosition, "Invalid BLOB position"},
    {SNoSQLStatement, "No SQL statement provided"},
    {STableInfoNameRequired, "TableInfo name must be provided"},
    {SBadStatementType, "Bad statement type"},
    {SBadUpdatingTable, "Wrong UpdatingTable value - table %s is unknown"},
    {SInvalidUncompressedBlobSize, "Invalid uncompressed blob size"},
    {SInvalidCompressedBlobSize, "Invalid compressed blob size"},
    {SInvalidCompressedBlobHeader, "Invalid compressed blob header"},
    {SInvalidCompressedBlobData, "Invalid compressed blob data"},
    {SNotCachedUpdates, "Not in cached update mode"},
    {SDataSetNotOwned, "Cannot update, %s is not owned by %s"},
    {SConnectionNotDefined, "Connection is not defined"},
    {SCannotConnect, "Cannot connect to database"},
    {SMacroNotFound, "Macro %s not found"},
    {STransactionInProgress, "User transaction is already in progress"},
    {SUpdateFailed, "Update failed. Found %d records"},
    {SRefreshFailed, "Refresh failed. Found %d records"},
    {SInvalidFetchRows, "FetchRows must be 1..10000"},
    {SUnknownDataType, "Unknown data type"},
    {SDataTypeNotSupported, "Data type is not supported"},
    {SFieldNotFound, "Field %s not found"},
    {SCannotConvertType, "Cannot convert type"},
    {SIllegalFilter, "Illegal filter expression"},
    {SFieldNotBlob, "Field is not BLOB"},
    {SInvalidBlob, "Invalid BLOB"},
    {SBlobNotCached, "Blob must be in cached mode"},
    {SUniqueKeyFieldsRequired, "Unique keyfields required"},
    {SKeyFieldsNotFound, "Key fields not found"},
    {SNoUpdatingTable, "The record cannot be written: the query has no updating table"},
    {SFieldNotInUpdatingTable, "Field %s does not belong to the updating table %s"},
    {SUpdateSQLNoDataSet, "The update object is not linked to a dataset"},
    {SKeyNotInResult,
     "The record cannot be written or refreshed: the result does not hold the key of table %s (missing: %s)"},
    {SPartialDateNotWritable,
     "Field '%s' cannot be changed: it holds a date the client cannot read (such as a zero month or day)"},
    {SPartialDateInCondition,
     "The record cannot be found to write or refresh it: field '%s' holds a date the client cannot read "
     "(such "
     "as a zero month or day) and the row is found by its values"},
};

#undef DA_DUMP_RULE

static_assert(std::is_sorted(std::begin(kMessages), std::end(kMessages),
                             [](const Message& a, const Message& b) { return a.id < b.id; }));

}  // namespace

const char* MessageText(int id) {
  auto it = std::lower_bound(std::begin(kMessages), std::end(kMessages), id,
                             [](const Message& m, int key) { return m.id < key; });
  DA_ASSERT_MSG(it != std::end(kMessages) && it->id == id, "unknown message id " + std::to_string(id));
  return it->text;
}

std::string MessageFmt(int id, std::initializer_list<FormatArg> args) {
  return Format(MessageText(id), args);
}
