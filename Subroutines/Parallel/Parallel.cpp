#include "Parallel.hpp"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace parallel {

unsigned threads() {
  const char* setting = std::getenv("SPLINEFIT_THREADS");
  if (setting == nullptr) return std::clamp(std::thread::hardware_concurrency(), 1u, max_threads);
  const char* end = setting + std::strlen(setting);
  unsigned n = 0;
  auto [stop, error] = std::from_chars(setting, end, n);
  if (error != std::errc() || stop != end || n < 1 || n > max_threads) {
    std::string shown(setting, std::min<std::size_t>(end - setting, 24));
    if (static_cast<std::size_t>(end - setting) > 24) shown += "...";
    throw SettingError("SPLINEFIT_THREADS is \"" + shown +
                       "\"; it must be a whole number from 1 to " + std::to_string(max_threads));
  }
  return n;
}

int workers(std::size_t work, std::size_t least) {
  return work < least ? 1 : static_cast<int>(threads());
}

}  // namespace parallel
