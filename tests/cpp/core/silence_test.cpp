#include "core/silence.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

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

std::set<int> open_descriptors() {
  std::set<int> fds;
  for (int fd = 0; fd < 4096; ++fd)
    if (::fcntl(fd, F_GETFD) != -1) fds.insert(fd);
  return fds;
}

// The descriptors that a program started now finds open, as its shell lists
// them ("/proc/<pid>/fd/0 /proc/<pid>/fd/1 ..." with the pid taken out).
std::string descriptors_of_a_new_program() {
  int out[2];
  EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  char sh[] = "/bin/sh";
  char c[] = "-c";
  char script[] = "cd /proc/$$/fd && echo *";
  char* argv[] = {sh, c, script, nullptr};
  pid_t pid = 0;
  EXPECT_EQ(::posix_spawn(&pid, sh, &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
  ::close(out[0]);
  int status = 0;
  EXPECT_EQ(::waitpid(pid, &status, 0), pid);
  return text;
}

// A program started while guards come and go (by any thread) inherits
// descriptor 1 as /dev/null and nothing else of theirs: neither the saved
// copy of the real descriptor 1 nor the /dev/null descriptor they open.
// (Failures are reported once no guard lives: gtest writes to descriptor 1.)
TEST(SilenceStdout, ItsDescriptorsDoNotOutliveAnExec) {
  const std::string before = descriptors_of_a_new_program();
  ASSERT_NE(before.find('1'), std::string::npos) << before;
  std::vector<int> added;
  std::vector<int> surviving_exec;
  bool stdout_inherited = false;
  {
    const auto open_before = open_descriptors();
    const auto guard = SilenceStdout::create();
    ASSERT_TRUE(guard.has_value());
    for (const int fd : open_descriptors()) {
      if (open_before.count(fd) != 0) continue;
      added.push_back(fd);
      if (!(::fcntl(fd, F_GETFD) & FD_CLOEXEC)) surviving_exec.push_back(fd);
    }
    stdout_inherited = !(::fcntl(1, F_GETFD) & FD_CLOEXEC);
  }
  EXPECT_EQ(added.size(), 1u);  // the saved copy of descriptor 1
  EXPECT_TRUE(surviving_exec.empty());
  EXPECT_TRUE(stdout_inherited);

  std::atomic<bool> stop{false};
  std::thread churn([&] {
    while (!stop) SilenceStdout::create().reset();
  });
  std::string seen = before;
  for (int i = 0; i < 200 && seen == before; ++i) {
    const auto held = i % 2 == 0 ? SilenceStdout::create() : std::nullopt;
    seen = descriptors_of_a_new_program();
  }
  stop = true;
  churn.join();
  EXPECT_EQ(seen, before) << "what a program started without guards sees";
}

}  // namespace
