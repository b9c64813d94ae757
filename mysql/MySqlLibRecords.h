// The records the client library and the embedded-server library exchange with their callers,
// declared here in the layout of the installed versions: the client library's from libmariadb-dev
// (<mariadb/mysql.h>), the embedded server's from libmariadbd-dev (<mariadb/server/mysql.h>).
// The two agree on every record below; MySqlLibRecords.cpp and MySqlEmbRecords.cpp check each
// declaration against its header at compile time, so a library update that moves a member fails
// the build instead of reading garbage. Older layouts are not declared: no library on this system
// has them.
//
// The library headers are not included by the API units themselves: their macros and global enums
// clash with the protocol code's names, and the two headers clash with each other.
#pragma once

#include <cstddef>
#include <cstdint>

using my_bool_t = char;

// MYSQL_FIELD
struct TMyLibField {
  char* name;
  char* org_name;
  char* table;
  char* org_table;
  char* db;
  char* catalog;
  char* def;
  unsigned long length;
  unsigned long max_length;
  unsigned int name_length;
  unsigned int org_name_length;
  unsigned int table_length;
  unsigned int org_table_length;
  unsigned int db_length;
  unsigned int catalog_length;
  unsigned int def_length;
  unsigned int flags;
  unsigned int decimals;
  unsigned int charsetnr;
  int type;  // enum enum_field_types
  void* extension;
};

// MYSQL_BIND. The members between error and buffer_length belong to the library.
struct TMyLibBind {
  unsigned long* length;
  my_bool_t* is_null;
  void* buffer;
  my_bool_t* error;
  unsigned char* row_ptr;
  void (*store_param_func)();
  void (*fetch_result)();
  void (*skip_result)();
  unsigned long buffer_length;
  unsigned long offset;
  unsigned long length_value;
  unsigned int flags;
  unsigned int pack_length;
  int buffer_type;  // enum enum_field_types
  my_bool_t error_value;
  my_bool_t is_unsigned;
  my_bool_t long_data_used;
  my_bool_t is_null_value;
  void* extension;
};

// MYSQL_TIME
struct TMyLibTime {
  unsigned int year, month, day, hour, minute, second;
  unsigned long second_part;
  my_bool_t neg;
  int time_type;  // enum enum_mysql_timestamp_type
};

// Options of mysql_options beyond those of MySqlApi.h.
inline constexpr int MYSQL_LIB_OPT_COMPRESS = 1;
inline constexpr int MYSQL_LIB_SET_CHARSET_NAME = 7;
inline constexpr int MYSQL_LIB_OPT_LOCAL_INFILE = 8;
inline constexpr int MYSQL_LIB_OPT_SSL_VERIFY_SERVER_CERT = 21;
inline constexpr int MYSQL_LIB_OPT_SSL_ENFORCE = 38;  // client library only

// What differs between the two libraries: where a result keeps its connection (MYSQL_RES.handle),
// which a result must forget when its connection is closed first.
struct TMyLibLayout {
  size_t ResultHandleOffset;
};

// The client library's layout (MySqlLibRecords.cpp).
extern const TMyLibLayout MyClientLibLayout;

// True when Field, Bind and Time (a header's MYSQL_FIELD, MYSQL_BIND, MYSQL_TIME) have the layout
// of the declarations above, member by member.
template <typename Field, typename Bind, typename Time>
constexpr bool MyLibRecordsMatch() {
#define DA_SAME(T, U, m) (offsetof(T, m) == offsetof(U, m) && sizeof(T::m) == sizeof(U::m))
  const bool field = sizeof(Field) == sizeof(TMyLibField) && DA_SAME(Field, TMyLibField, name) &&
                     DA_SAME(Field, TMyLibField, org_name) && DA_SAME(Field, TMyLibField, table) &&
                     DA_SAME(Field, TMyLibField, org_table) && DA_SAME(Field, TMyLibField, db) &&
                     DA_SAME(Field, TMyLibField, length) && DA_SAME(Field, TMyLibField, max_length) &&
                     DA_SAME(Field, TMyLibField, flags) && DA_SAME(Field, TMyLibField, decimals) &&
                     DA_SAME(Field, TMyLibField, charsetnr) && DA_SAME(Field, TMyLibField, type);
  const bool bind = sizeof(Bind) == sizeof(TMyLibBind) && DA_SAME(Bind, TMyLibBind, length) &&
                    DA_SAME(Bind, TMyLibBind, is_null) && DA_SAME(Bind, TMyLibBind, buffer) &&
                    DA_SAME(Bind, TMyLibBind, error) && DA_SAME(Bind, TMyLibBind, buffer_length) &&
                    DA_SAME(Bind, TMyLibBind, buffer_type) && DA_SAME(Bind, TMyLibBind, is_unsigned) &&
                    DA_SAME(Bind, TMyLibBind, long_data_used);
  const bool time = sizeof(Time) == sizeof(TMyLibTime) && DA_SAME(Time, TMyLibTime, year) &&
                    DA_SAME(Time, TMyLibTime, month) && DA_SAME(Time, TMyLibTime, day) &&
                    DA_SAME(Time, TMyLibTime, hour) && DA_SAME(Time, TMyLibTime, minute) &&
                    DA_SAME(Time, TMyLibTime, second) && DA_SAME(Time, TMyLibTime, second_part) &&
                    DA_SAME(Time, TMyLibTime, neg) && DA_SAME(Time, TMyLibTime, time_type);
#undef DA_SAME
  return field && bind && time;
}
