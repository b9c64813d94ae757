// The MySQL record set and the dataset over it against any column descriptions and values: a
// query opened on a connection whose transport plays a server that answers its SELECT (text
// protocol) or its prepare and execute (binary protocol) with the input's packets, then every
// value of every row read through the dataset's fields (text, number, date-time, variant,
// display text, blobs through their streams). The login and the connection's own opening query
// are played by the target. An ordinary error is a refusal; an assertion, a crash, a sanitizer
// report or a hang is a bug.
//
// Input: one mode byte (bit 0 prepared, bit 1 NullForZeroDate off, bit 2 FieldsAsString, bit 3
// EnableBoolean off, bit 4 FetchAll off, bits 5-6 the session's character set), then the server's
// packets as records of two length bytes and the payload, numbered as the client expects.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "platform/db/FieldClasses.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/Exceptions.h"
#include "tests/mysql/MySqlPacketFactory.h"
#include "tests/support/ReplayHandler.h"

using namespace mysql_test;

namespace {

constexpr const char* kCharsets[] = {"latin1", "utf8mb4", "gbk", "binary"};

// A greeting from a 4.1-style server, the login's OK, and the one-row answer to the
// connection's question for its character set.
std::vector<Bytes> Prologue(const char* charset) {
  Bytes greeting = Greeting40("10.11.6-MariaDB", Caps41);
  PutScramble(greeting, 8, 20);
  greeting.push_back(0);
  return {greeting,        OkPacket41(0, 0, 2),
          Bytes{1},        FieldPacket41("", "", "", "@@character_set_client", "", 33, 96, 253, 0, 0),
          EofPacket(0, 2), TextRow({charset}),
          EofPacket(0, 2)};
}

// Reads one value every way a window or a caller may; a refusal is an ordinary error.
template <typename F>
void Read(F&& read) {
  try {
    read();
  } catch (const EAssertionFailed&) {
    std::abort();
  } catch (const Exception&) {
  }
}

void ReadField(TField& field) {
  Read([&] { (void)field.IsNull(); });
  Read([&] { (void)field.AsString(); });
  Read([&] { (void)field.DisplayText(); });
  Read([&] { (void)field.AsVariant(); });
  Read([&] { (void)field.AsFloat(); });
  Read([&] { (void)field.AsDateTime(); });
  Read([&] { (void)field.AsLargeInt(); });
  Read([&] { (void)field.AsBytes(); });
  if (auto* blob = dynamic_cast<TBlobField*>(&field)) {
    Read([&] { (void)blob->BlobSize(); });
    Read([&] {
      TStringStream out("");
      blob->SaveToStream(out);
    });
    Read([&] {
      std::unique_ptr<TStream> stream = blob->DataSet()->CreateBlobStream(blob, bmRead);
      char buffer[97];
      while (stream->Read(buffer, sizeof buffer) > 0) {
      }
    });
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  TReplayHandler handler;
  for (Bytes& packet : Prologue(kCharsets[mode >> 5 & 3])) handler.Packets.push_back(std::move(packet));
  for (Bytes& packet : TReplayHandler::SplitRecords(data + 1, size - 1))
    handler.Packets.push_back(std::move(packet));
  try {
    TMyConnection conn;
    conn.LoginPrompt = false;
    conn.SetIOHandler(&handler);
    conn.SetServer("fuzz");
    conn.SetUsername("u");
    conn.SetConnectionTimeout(1);
    conn.Open();
    TMyQuery q;
    q.SetConnection(&conn);
    q.Options().SetNullForZeroDate(!(mode & 2));
    q.Options().SetFieldsAsString(mode & 4);
    q.Options().SetEnableBoolean(!(mode & 8));
    // Rows read on demand over the query's own session, not a second connection.
    q.SetFetchAll(!(mode & 16));
    q.Options().SetCreateConnection(false);
    q.SetSQLText("SELECT * FROM t");
    Read([&] {
      if (mode & 1) q.Prepare();
      q.Open();
      for (int row = 0; !q.Eof() && row < 10000; ++row) {
        for (int i = 0; i < q.FieldCount(); ++i) ReadField(*q.Fields()[i]);
        q.Next();
      }
      for (q.Last(); !q.Bof(); q.Prior()) {
      }
    });
    Read([&] { q.Close(); });
    conn.Close();
  } catch (const EAssertionFailed&) {
    std::abort();
  } catch (const Exception&) {
  }
  return 0;
}
