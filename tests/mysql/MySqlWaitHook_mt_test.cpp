// The application's wait hook over real sockets: asked only while a socket waits, and when it
// says stop the read fails as a lost connection instead of waiting out its time-out.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "mysql/MySqlNet.h"
#include "mysql/MySqlVioPipe.h"
#include "mysql/MySqlVioTcp.h"
#include "support/FakeMySqlServer.h"
#include "support/NetTestUtil.h"

namespace {

using Fake = TFakeMySqlServer;

// What the hook was told; it says stop at question StopAt (never when 0).
int StopAt = 0, Asked = 0, Ended = 0;
bool RecordingHook(int, bool ended) noexcept {
  if (ended) return ++Ended, true;
  return ++Asked != StopAt;
}
void SetHook(int stopAt, bool set = true) {
  StopAt = stopAt, Asked = Ended = 0;
  SetMySqlWaitProc(set ? &RecordingHook : nullptr);
}

TEST(MySqlWaitHookTest, ASilentServerIsLeftWhenTheHookSaysStop) {
  const std::string path = "/tmp/da-waithook-" + std::to_string(::getpid()) + ".sock";
  const std::tuple<const char*, bool, bool, bool, int, const char*> cases[] = {
      // name, Unix socket, compressed, hook, time-out, error text
      {"TCP", false, false, true, 60, kMySqlWaitCancelledText},
      {"Unix socket", true, false, true, 60, kMySqlWaitCancelledText},
      {"compressed TCP", false, true, true, 60, kMySqlWaitCancelledText},
      {"no hook: the time-out as before", false, false, false, 1, "Connection timed out (errno 110)"},
  };
  for (const auto& [name, local, compress, hook, timeout, text] : cases) {
    SCOPED_TRACE(name);
    auto server = local ? std::make_unique<Fake>(path) : std::make_unique<Fake>();
    server->SendPacket(0, {10});
    server->FailAtStep(0, Fake::TFailMode::Stall);
    server->Start();
    std::unique_ptr<TMySqlVio> vio = std::make_unique<TMySqlVioTcp>("127.0.0.1", server->Port());
    if (local) vio = std::make_unique<TMySqlVioPipe>("localhost", path, 0);
    vio->SetTimeout(timeout);
    vio->Connect();
    TMySqlNet net(std::move(vio));
    net.SetCompress(compress);
    SetHook(3, hook);
    std::string message;
    EXPECT_EQ(MySqlErrorOf([&] { net.ReadPacket(); }, &message), CR_SERVER_LOST);
    SetMySqlWaitProc(nullptr);
    EXPECT_NE(message.find(text), std::string::npos) << message;
    EXPECT_EQ(Asked, hook ? 3 : 0);
    EXPECT_EQ(Ended, hook ? 1 : 0);
    EXPECT_EQ(server->Finish(), "");
  }
}

// Bytes already there are read without a question; bytes that come after a pause are waited for
// with the hook asked and told once that the wait is over.
TEST(MySqlWaitHookTest, TheHookIsAskedOnlyWhileASocketWaits) {
  const TBytes packet = Fake::Packet(0, TestPattern(50));
  for (int pauseMs : {0, 400}) {
    SCOPED_TRACE("pause " + std::to_string(pauseMs));
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
    struct TPairVio : TMySqlVioTcp {
      explicit TPairVio(int fd) : TMySqlVioTcp("socketpair", 0) { TMySqlVio::Connect(), FSocket = fd; }
    };
    TMySqlNet net(std::make_unique<TPairVio>(fds[0]));
    SetHook(0);
    std::thread peer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
      ::send(fds[1], packet.data(), packet.size(), MSG_NOSIGNAL);
    });
    if (pauseMs == 0) peer.join();
    EXPECT_EQ(MySqlErrorOf([&] { net.ReadPacket(); }), 0);
    if (peer.joinable()) peer.join();
    SetMySqlWaitProc(nullptr);
    EXPECT_EQ(net.Length(), 50);
    EXPECT_EQ(Asked > 0, pauseMs > 0);
    EXPECT_EQ(Ended, pauseMs > 0 ? 1 : 0);
    ::close(fds[1]);
  }
}

}  // namespace
