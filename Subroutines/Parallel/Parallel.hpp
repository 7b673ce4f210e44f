// The thread policy of splinefit and its library: how many threads work at once, read from the
// environment in one place, and the one way to run independent pieces of work on them. Results
// never depend on the number of threads; only the time does.
//
// SPLINEFIT_THREADS=<n> in the environment sets the number (a whole number from 1 to
// max_threads; 1 runs everything on the calling thread); without it, every core, at most
// max_threads.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace parallel {

inline constexpr unsigned max_threads = 256;

// A value of SPLINEFIT_THREADS that is not a whole number from 1 to max_threads. what() is one
// sentence without a full stop: "SPLINEFIT_THREADS is "abc"; it must be a whole number from 1 to
// 256".
struct SettingError : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};

// The number of threads that work may use: SPLINEFIT_THREADS, or the cores (at least 1), at most
// max_threads. Throws SettingError for a bad SPLINEFIT_THREADS; a program calls it once at the
// start, before it touches any file, to refuse one.
unsigned threads();

// The number of threads for `work` units that split into independent pieces: threads(), or 1
// below `least` units, where starting threads costs more than they save.
int workers(std::size_t work, std::size_t least);

// Runs task(k) for k = 0..count-1, each on a thread of its own (k = 0 on the calling one). A task
// should keep what it writes in its own variables until it ends: a store to a cache line that
// another thread reads or writes moves the line between the cores.
template <class Task>
void run(int count, const Task& task) {
  std::vector<std::thread> others;
  for (int k = 1; k < count; k++) others.emplace_back(task, k);
  task(0);
  for (std::thread& thread : others) thread.join();
}

}  // namespace parallel
