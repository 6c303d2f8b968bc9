#include "tools/common/parallel.h"

#include <algorithm>

unsigned ThreadCount(unsigned requested) {
  if (requested != 0) return requested;
  return std::max(1u, std::thread::hardware_concurrency());
}

void ParallelFor(size_t count, unsigned threads, const std::function<void(size_t)>& work,
                 const std::function<void(size_t)>& report) {
  std::atomic<size_t> next{0};
  std::atomic<size_t> finished{0};
  std::atomic<bool> failed{false};
  std::exception_ptr error;
  std::mutex error_mutex;
  const auto run = [&](bool reporting) {
    for (size_t i; !failed && (i = next++) < count;) {
      try {
        work(i);
        const size_t done = ++finished;
        if (reporting && report) report(done);
      } catch (...) {
        const std::lock_guard<std::mutex> lock(error_mutex);
        if (!error) error = std::current_exception();
        failed = true;
        return;
      }
    }
  };
  const size_t helpers = std::min<size_t>(ThreadCount(threads), std::max<size_t>(count, 1)) - 1;
  std::vector<std::thread> pool;
  for (size_t t = 0; t < helpers; ++t) pool.emplace_back(run, false);
  run(true);
  for (auto& thread : pool) thread.join();
  if (error) std::rethrow_exception(error);
}
