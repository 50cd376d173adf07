// Runs fn(i) for i in [0, count) on `threads` workers, each taking the next
// index as it becomes free.  Stops handing out work once `stop` returns true;
// items already started run to their end.
#ifndef KQHOST_WORK_QUEUE_H_
#define KQHOST_WORK_QUEUE_H_

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace kqhost {

// Returns the number of items that were started.  An exception thrown by fn
// stops the hand-out and is rethrown here once every worker has finished.
inline size_t RunParallel(size_t count, unsigned threads, const std::function<void(size_t)>& fn,
                          const std::function<bool()>& stop) {
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  std::exception_ptr firstError;
  std::mutex errorMu;
  auto worker = [&] {
    while (!failed.load() && !stop()) {
      size_t i = next.fetch_add(1);
      if (i >= count) break;
      try {
        fn(i);
      } catch (...) {
        std::lock_guard<std::mutex> lock(errorMu);
        if (!firstError) firstError = std::current_exception();
        failed.store(true);
      }
    }
  };
  unsigned n = static_cast<unsigned>(std::max<size_t>(1, std::min<size_t>(threads, count)));
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < n; ++t) pool.emplace_back(worker);
  worker();  // the calling thread is the first worker
  for (auto& t : pool) t.join();
  if (firstError) std::rethrow_exception(firstError);
  return std::min(next.load(), count);
}

}  // namespace kqhost

#endif  // KQHOST_WORK_QUEUE_H_
