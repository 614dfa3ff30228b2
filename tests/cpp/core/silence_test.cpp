#include "core/silence.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
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

// A child forked while other threads make, hold and release guards starts
// with descriptor 1 as it was before them, and makes guards of its own; the
// parent's guards still restore the parent's descriptor.
TEST(SilenceStdout, AForkedChildStartsUnsilencedWithAFreeLock) {
  const FileId before = stdout_file();
  std::atomic<bool> stop{false};
  std::atomic<bool> holding{false};
  std::thread holder([&] {
    const auto guard = SilenceStdout::create();
    holding = true;
    while (!stop) std::this_thread::yield();
  });
  std::thread churn([&] {
    while (!stop) SilenceStdout::create().reset();
  });
  // Stops and joins the threads however the loop below ends.
  struct Joiner {
    std::atomic<bool>& stop;
    std::thread& a;
    std::thread& b;
    ~Joiner() {
      stop = true;
      a.join();
      b.join();
    }
  } joiner{stop, holder, churn};
  while (!holding) std::this_thread::yield();
  for (int i = 0; i < 200; ++i) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::alarm(10);  // a child stuck on an inherited lock dies of SIGALRM
      int code = stdout_file() == before ? 0 : 1;
      {
        const auto guard = SilenceStdout::create();
        if (!guard || !(stdout_file() == dev_null())) code = 2;
      }
      if (!(stdout_file() == before)) code = 3;
      ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "child " << i << " ended by signal " << WTERMSIG(status);
    ASSERT_EQ(WEXITSTATUS(status), 0) << "child " << i;
  }
}

}  // namespace
