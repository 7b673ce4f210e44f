// The thread policy: SPLINEFIT_THREADS read as tests/data/thread_settings.txt says, and the work
// split by workers and run.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "Parallel.hpp"
#include "table.hpp"

namespace {

// Sets SPLINEFIT_THREADS for a test ("<unset>" removes it), and removes it again afterwards.
struct Setting {
  explicit Setting(const std::string& value) {
    if (value == "<unset>")
      unsetenv("SPLINEFIT_THREADS");
    else
      setenv("SPLINEFIT_THREADS", value == "<empty>" ? "" : value.c_str(), 1);
  }
  ~Setting() { unsetenv("SPLINEFIT_THREADS"); }
};

TEST(Parallel, ThreadsTakesEverySettingOfTheTableAsItSays) {
  const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, 256u);
  for (const Row& row : table("thread_settings.txt")) {
    Setting setting(row[0]);
    const std::string& expected = row[1];
    if (expected.rfind("refused: ", 0) == 0) {
      std::string message = "no refusal";
      try {
        parallel::threads();
      } catch (const parallel::SettingError& refusal) {
        message = refusal.what();
      }
      EXPECT_EQ(message, expected.substr(9));
    } else {
      EXPECT_EQ(parallel::threads(), expected == "cores" ? cores : std::stoul(expected)) << row[0];
    }
  }
}

TEST(Parallel, WorkersAreOneBelowTheLeastWorkAndTheThreadsFromIt) {
  Setting setting("5");
  EXPECT_EQ(parallel::workers(999, 1000), 1);
  EXPECT_EQ(parallel::workers(1000, 1000), 5);
}

TEST(Parallel, RunCallsTheTaskOnceForEachIndex) {
  std::atomic<int> calls[7] = {};
  parallel::run(7, [&calls](int k) { calls[k]++; });
  for (const std::atomic<int>& count : calls) EXPECT_EQ(count, 1);
}

}  // namespace
