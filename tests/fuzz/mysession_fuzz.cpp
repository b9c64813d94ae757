// The session over a whole exchange with a server played from the input: the greeting and the
// login (auth switch and further auth data included), queries with several results read buffered
// or row by row, LOAD DATA LOCAL INFILE, prepared statements executed and fetched, the small
// commands, session tracking in every OK. Each command may fail with an ordinary error; an
// assertion, a crash, a sanitizer report or a hang is a bug. The server may ask for any local
// file at any time: files lie beside the one the statements name, and nothing but the named file,
// and that only after the statement naming it, may reach what the client sends.
//
// Input: one byte of client flags (bit 0 multi statements, bit 1 session tracking, bit 2 local
// files, bits 3-4 the text's character set), eight bytes of commands run in order after the login,
// then the server's packets as records of two length bytes and the payload; "%DIR%" in a packet
// stands for the folder of those files.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mysql/MySqlAuth.h"
#include "mysql/MySqlResultSet.h"
#include "mysql/MySqlSession.h"
#include "mysql/MySqlStmt.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/Exceptions.h"
#include "tests/support/ReplayHandler.h"

namespace {

constexpr TCharsetKind kCharsets[] = {TCharsetKind::SingleByte, TCharsetKind::Utf8, TCharsetKind::Gbk,
                                      TCharsetKind::Sjis};
constexpr std::string_view kNamedMark = "named-file-content-7f3a";
constexpr std::string_view kOtherMark = "other-file-content-91c4";

// A folder holding the file the statements name and files that only differ from its name a
// little, each with a mark of its own.
struct TFiles {
  std::string Dir, Named;
  TFiles() {
    char pattern[] = "/tmp/mysession_fuzz.XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    Dir = pattern;
    Named = Dir + "/named.csv";
    Write(Named, kNamedMark);
    for (const char* other : {"/named.cs", "/named.csv.bak", "/Named.csv", "/other.csv", "/named.csv "})
      Write(Dir + other, kOtherMark);
  }
  static void Write(const std::string& path, std::string_view text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
};

const TFiles& Files() {
  static const TFiles files;
  return files;
}

bool Holds(const std::vector<uint8_t>& bytes, std::string_view mark) {
  return std::search(bytes.begin(), bytes.end(), mark.begin(), mark.end()) != bytes.end();
}

std::span<const uint8_t> Text(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

template <typename F>
void Run(F&& step) {
  try {
    step();
  } catch (const EAssertionFailed&) {
    std::abort();
  } catch (const Exception&) {
  }
}

// Every result of the query just sent, read buffered or row by row.
void ReadResults(TMySqlSession& session, bool buffered) {
  do {
    if (session.PendingStatus() != MYSQL_STATUS_GET_RESULT) continue;
    TMySqlResultSet result(session);
    if (buffered) {
      result.ReadAll();
      while (result.Fetch()) {
      }
    } else {
      for (int i = 0; i < 3 && result.Fetch(); ++i) {
      }
      result.Close();  // drains the rest
    }
  } while (session.NextResult());
}

void Prepared(TMySqlSession& session) {
  TMySqlStmt stmt(session);
  stmt.Prepare(Text("SELECT a, b, c FROM t WHERE a > ? AND d = ?"));
  std::vector<TMySqlStmtParam> params(2);
  params[0].DataType = dtInt32;
  params[0].Value = Variant(7);
  params[1].DataType = dtString;
  params[1].Value = Variant(std::string("x"));
  stmt.Execute(params, false);
  if (stmt.FieldCount() > 0) {
    stmt.BindResult(std::make_unique<TMySqlBinds>(static_cast<int>(stmt.FieldCount())));
    for (int i = 0; i < 100 && stmt.Fetch() == 0; ++i) {
    }
  }
  stmt.Execute(params, false);  // a second execute frees what is left of the first result
  stmt.Close();
}

void Command(TMySqlSession& session, uint8_t op, bool& namedSent) {
  switch (op % 9) {
    case 0:
      session.Query("SELECT a FROM t; SELECT b FROM u");
      ReadResults(session, true);
      break;
    case 1:
      session.Query("CALL p()");
      ReadResults(session, false);
      break;
    case 2:
      namedSent = true;
      session.Query("LOAD DATA LOCAL INFILE '" + Files().Named + "' INTO TABLE t");
      break;
    case 3:
      // The word LOCAL without a file: no file may go.
      session.Query("SELECT * FROM local_files");
      ReadResults(session, true);
      break;
    case 4:
      Prepared(session);
      break;
    case 5:
      session.Ping();
      session.SelectDb("game");
      break;
    case 6:
      (void)session.Statistics();
      break;
    case 7:
      (void)session.FieldList("t", "a%");
      break;
    default:
      session.Query("SET NAMES gbk");
      session.ResetConnection();
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 9) return 0;
  const uint8_t flags = data[0];
  const uint8_t* program = data + 1;
  TReplayHandler handler;
  handler.Packets = TReplayHandler::SplitRecords(data + 9, size - 9);
  for (std::vector<uint8_t>& packet : handler.Packets) {
    static constexpr std::string_view kDir = "%DIR%";
    for (auto at = std::search(packet.begin(), packet.end(), kDir.begin(), kDir.end()); at != packet.end();
         at = std::search(packet.begin(), packet.end(), kDir.begin(), kDir.end())) {
      at = packet.erase(at, at + static_cast<std::ptrdiff_t>(kDir.size()));
      packet.insert(at, Files().Dir.begin(), Files().Dir.end());
    }
  }
  bool namedSent = false;
  {
    TMySqlSession session;
    session.IOHandler = &handler;
    session.ConnectTimeout = 1;
    session.TextCharset = kCharsets[flags >> 3 & 3];
    uint32_t clientFlags = 0;
    if (flags & 1) clientFlags |= CLIENT_MULTI_STATEMENTS | CLIENT_MULTI_RESULTS;
    if (flags & 2) clientFlags |= CLIENT_SESSION_TRACK;
    if (flags & 4) clientFlags |= CLIENT_LOCAL_FILES;
    bool connected = false;
    Run([&] {
      session.Connect("fuzz", "u", clientFlags, "", 0, "game", "pw");
      connected = true;
    });
    if (connected) {
      for (int i = 0; i < 8; ++i) {
        Run([&] { Command(session, program[i], namedSent); });
        if (session.State() == TMySqlSessionState::Broken) break;
      }
    }
    session.Close();
  }
  // No file but the one named, and that only after a statement naming it.
  if (Holds(handler.Output, kOtherMark)) std::abort();
  if (!namedSent && Holds(handler.Output, kNamedMark)) std::abort();
  return 0;
}
