// Our dump and restore as a program of its own, so that the dump benchmark measures them as whole
// processes, as it measures mariadb-dump and the mariadb client:
//   bench_mydump empty                                            starts and ends (its empty start)
//   bench_mydump dump|stream|restore HOST PORT USER PASSWORD DATABASE FILE
// "dump" is TMyDump::BackupToFile (made durable, then renamed into place), "stream" BackupToStream
// into a plain file stream, "restore" RestoreFromFile. latin1 sessions, as the references use.
#include "components/MyDump.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "components/MyAccessConnection.h"
#include "platform/runtime/Classes.h"

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "empty") return 0;
  if (argc != 8 || (mode != "dump" && mode != "stream" && mode != "restore")) {
    std::fprintf(stderr,
                 "usage: bench_mydump empty | dump|stream|restore HOST PORT USER PASSWORD DATABASE FILE\n");
    return 2;
  }
  try {
    TMyConnection c;
    c.LoginPrompt = false;
    c.SetServer(argv[2]);
    c.SetPort(std::atoi(argv[3]));
    c.SetUsername(argv[4]);
    c.SetPassword(argv[5]);
    c.SetDatabase(argv[6]);
    c.Options().SetCharset("latin1");
    TMyDump dump;
    dump.SetConnection(&c);
    const std::string file = argv[7];
    if (mode == "dump") {
      dump.BackupToFile(file);
    } else if (mode == "stream") {
      TFileStream stream(file, fmCreate);
      dump.BackupToStream(stream);
    } else {
      dump.RestoreFromFile(file);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_mydump: %s\n", e.what());
    return 1;
  }
  return 0;
}
