// The lock shared through a file.
#include "platform/runtime/SyncObjs.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/runtime/Exceptions.h"

TEST(TMutexTest, AHeldFileLockTimesOutAndIsFreedByRelease) {
  const std::string file =
      (std::filesystem::temp_directory_path() / ("da-mutex-" + std::to_string(::getpid()) + ".lock"))
          .string();
  {
    TMutex first(file, 0);
    TMutex second(file, 100);
    first.Acquire();
    const uint32_t start = GetTickCount();
    try {
      second.Acquire();
      ADD_FAILURE() << "a held lock was acquired";
    } catch (const EOSError& e) {
      EXPECT_EQ(e.ErrorCode, ETIMEDOUT);
      EXPECT_EQ(e.Message(), "The lock file " + file + " is held by another process");
    }
    EXPECT_GE(TicksSince(start), 100u);
    EXPECT_FALSE(second.Held());
    first.Release();
    second.Acquire();
    EXPECT_TRUE(second.Held());
  }  // the destructors release and close
  TMutex again(file, 0);
  EXPECT_NO_THROW(again.Acquire());
  std::filesystem::remove(file);
  EXPECT_THROW(TMutex("/nonexistent-dir/x.lock", 0), EOSError);
}
