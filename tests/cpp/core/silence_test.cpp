#include "core/silence.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

using kvel_core::silence::SilenceStdout;

struct FileId {
  dev_t dev;
  ino_t ino;
  friend bool operator==(const FileId&, const FileId&) = default;
};

FileId stdout_file() {
  struct stat st {};
  EXPECT_EQ(::fstat(1, &st), 0);
  return {st.st_dev, st.st_ino};
}

FileId dev_null() {
  struct stat st {};
  EXPECT_EQ(::stat("/dev/null", &st), 0);
  return {st.st_dev, st.st_ino};
}

TEST(SilenceStdout, RedirectsWhileAliveAndRestores) {
  const FileId before = stdout_file();
  {
    const auto guard = SilenceStdout::create();
    ASSERT_TRUE(guard.has_value());
    EXPECT_EQ(stdout_file(), dev_null());
  }
  EXPECT_EQ(stdout_file(), before);
}

// Two fits on two threads in the order start A, start B, end A, end B: the
// redirection lasts until B ends, and then descriptor 1 is what it was.
TEST(SilenceStdout, OverlappingGuardsRestoreTheOriginal) {
  const FileId before = stdout_file();
  std::mutex mutex;
  std::condition_variable cv;
  int step = 0;
  const auto wait_for = [&](int s) {
    std::unique_lock<std::mutex> lock(mutex);
    cv.wait(lock, [&] { return step == s; });
  };
  const auto advance = [&] {
    {
      const std::lock_guard<std::mutex> lock(mutex);
      ++step;
    }
    cv.notify_all();
  };
  FileId while_b_alone{};
  std::thread a([&] {
    wait_for(0);
    auto guard = SilenceStdout::create();
    advance();  // 1: A started
    wait_for(2);
    guard.reset();
    advance();  // 3: A ended
  });
  std::thread b([&] {
    wait_for(1);
    auto guard = SilenceStdout::create();
    advance();  // 2: B started
    wait_for(3);
    while_b_alone = stdout_file();
    guard.reset();
    advance();  // 4: B ended
  });
  a.join();
  b.join();
  EXPECT_EQ(while_b_alone, dev_null());
  EXPECT_EQ(stdout_file(), before);
}

}  // namespace
