#include "core/cancel.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>

#include "core/discoverer.hpp"
#include "helpers/child_process.hpp"
#include "helpers/front_text.hpp"
#include "helpers/grid_data.hpp"

namespace {

using kvel_core::cancel::Cancelled;
using kvel_core::cancel::CancelToken;
using kvel_core::dataset::DataSet;
using kvel_core::discoverer::Discoverer;

DataSet exp_plus_two(std::size_t rows) {
  return kvel_test::grid_data(rows, [](double v) { return std::exp(v) + 2.0; });
}

std::pair<dev_t, ino_t> stdout_file() {
  struct stat st {};
  EXPECT_EQ(::fstat(1, &st), 0);
  return {st.st_dev, st.st_ino};
}

TEST(CancelToken, StopsTheSearchWhereverTheHookSaysSo) {
  const DataSet data = exp_plus_two(30);
  Discoverer config;
  config.max_epochs = 50;
  // The first question comes before any topology is scored; 600 questions
  // lie past the 512 topologies, inside constant fitting. On one thread every
  // question of the search comes from the calling thread.
  for (const int stop_at : {1, 300, 600, 1500}) {
    int asked = 0;
    const CancelToken token([&] { return ++asked == stop_at; });
    const auto before = stdout_file();
    EXPECT_THROW(config.fit(data, token, 1), Cancelled) << stop_at;
    EXPECT_EQ(asked, stop_at);
    EXPECT_TRUE(token.stopped());
    EXPECT_EQ(stdout_file(), before) << "descriptor 1 left redirected after stopping at " << stop_at;
  }
}

TEST(CancelToken, StopsFitsRunningOnSeveralThreads) {
  const DataSet data = exp_plus_two(30);
  Discoverer config;
  config.max_epochs = 400;
  // Past the scoring, while the calling thread fits its share and while it
  // waits for the other threads.
  for (const int stop_at : {560, 900}) {
    int asked = 0;
    const CancelToken token([&] { return ++asked == stop_at; });
    const auto before = stdout_file();
    EXPECT_THROW(config.fit(data, token, 4), Cancelled) << stop_at;
    EXPECT_EQ(asked, stop_at);
    EXPECT_EQ(stdout_file(), before) << "descriptor 1 left redirected after stopping at " << stop_at;
  }
}

// A hook that forks while fits run on several threads (a signal handler of a
// daemon may): the child's search ends with the front of an undisturbed
// search, and so does the parent's.
TEST(CancelToken, AChildForkedFromTheHookGetsTheUndisturbedFront) {
  const DataSet data = exp_plus_two(30);
  Discoverer config;
  config.max_epochs = 400;
  const auto reference = config.fit(data, kvel_core::cancel::never(), 1);
  ASSERT_TRUE(reference.has_value());
  const std::string expected = kvel_test::describe(*reference);
  for (const std::size_t threads : {2u, 3u}) {
    for (const int fork_at : {530, 560, 700, 900}) {
      int asked = 0;
      pid_t child = -1;
      const CancelToken token([&] {
        if (++asked == fork_at) child = ::fork();
        return false;
      });
      const auto front = config.fit(data, token, threads);
      if (child == 0) ::_exit(front && kvel_test::describe(*front) == expected ? 0 : 1);
      ASSERT_TRUE(front.has_value());
      EXPECT_EQ(kvel_test::describe(*front), expected);
      ASSERT_GT(child, 0) << "the search asked fewer than " << fork_at << " times";
      const kvel_test::ChildEnd end = kvel_test::wait_for_child(child, std::chrono::seconds(120));
      EXPECT_TRUE(end.exited_with_zero())
          << threads << " threads, fork at question " << fork_at << (end.hung ? ": the child hangs" : "");
    }
  }
}

TEST(CancelToken, AHookThatNeverStopsChangesNothing) {
  const DataSet data = exp_plus_two(30);
  Discoverer config;
  config.max_epochs = 40;
  std::size_t asked = 0;
  const CancelToken token([&] {
    ++asked;
    return false;
  });
  const auto plain = config.fit(data);
  const auto polled = config.fit(data, token);
  ASSERT_TRUE(plain && polled);
  EXPECT_GT(asked, 512u + 40u);
  ASSERT_EQ(plain->size(), polled->size());
  for (std::size_t i = 0; i < plain->size(); ++i) {
    EXPECT_EQ(plain->members()[i].tree.to_string(), polled->members()[i].tree.to_string());
    EXPECT_EQ(std::bit_cast<std::uint64_t>(plain->members()[i].mse),
              std::bit_cast<std::uint64_t>(polled->members()[i].mse));
  }
}

// The last question of a search comes after refinement, in the pass that
// scores each candidate as shown: a stop there still ends the search.
TEST(CancelToken, StopsAfterTheLastFit) {
  const DataSet data = exp_plus_two(30);
  Discoverer config;
  config.max_epochs = 10;
  int total = 0;
  const CancelToken counting([&] {
    ++total;
    return false;
  });
  ASSERT_TRUE(config.fit(data, counting, 1).has_value());
  int asked = 0;
  const CancelToken last([&] { return ++asked == total; });
  EXPECT_THROW(config.fit(data, last, 1), Cancelled);
  EXPECT_EQ(asked, total);
}

TEST(CancelToken, OnlyTheOwningThreadAsksTheHook) {
  int asked = 0;
  bool stop = false;
  const CancelToken token([&] {
    ++asked;
    return stop;
  });
  std::thread([&] { EXPECT_NO_THROW(token.check()); }).join();
  EXPECT_EQ(asked, 0);
  stop = true;
  EXPECT_THROW(token.check(), Cancelled);
  EXPECT_EQ(asked, 1);
  // Every thread sees the answer once it has been given.
  std::thread([&] { EXPECT_THROW(token.check(), Cancelled); }).join();
  EXPECT_EQ(asked, 1);
  EXPECT_NO_THROW(kvel_core::cancel::never().check());
}

}  // namespace
