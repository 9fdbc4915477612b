#include "io/beside.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

TEST(Beside, EveryTaskRunsOnceAndIsDoneWhenWaitedFor) {
  // Many at once: all but the first the kept thread takes run on the caller's thread.
  std::vector<int> runs(64, 0);
  std::vector<std::unique_ptr<io::Beside>> tasks;
  for (int& r : runs) tasks.push_back(std::make_unique<io::Beside>([&r] { ++r; }));
  for (auto& t : tasks) t->Wait();
  for (int r : runs) EXPECT_EQ(r, 1);
}

TEST(Beside, WhatATaskThrowsIsThrownByWait) {
  io::Beside b([] { throw std::runtime_error("lost"); });
  EXPECT_THROW(b.Wait(), std::runtime_error);
}

// Cases that would hang if a task waited behind another: each row's first task, handed to
// the kept thread, can only end once its second has run. Run at once on the caller (on one
// core, or in the portable build, which keeps no thread) it can't wait for what the caller
// does after it, and ends at once.
struct Nesting {
  const char* name;
  bool secondInsideFirst;  // the first task starts the second, else the caller does
};

class BesideNesting : public ::testing::TestWithParam<Nesting> {};

TEST_P(BesideNesting, ATaskNeverWaitsBehindAnother) {
  std::atomic<bool> secondRan{false};
  auto second = [&secondRan] { secondRan = true; };
  auto waitForSecond = [&secondRan, here = std::this_thread::get_id()] {
    while (std::this_thread::get_id() != here && !secondRan) std::this_thread::yield();
  };
  if (GetParam().secondInsideFirst) {
    io::Beside first([&] {
      io::Beside inner(second);
      waitForSecond();
    });
    first.Wait();
  } else {
    io::Beside first(waitForSecond);
    io::Beside other(second);
    EXPECT_TRUE(!first.Handed() || !other.Handed());
    other.Wait();
    first.Wait();
  }
  EXPECT_TRUE(secondRan);
}

INSTANTIATE_TEST_SUITE_P(Rows, BesideNesting,
                         ::testing::Values(Nesting{"inside", true}, Nesting{"alongside", false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
