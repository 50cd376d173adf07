// The message stream the concurrency tests write from several threads and
// processes, and its check: every record whole and in order per thread.
#ifndef KQ_TESTS_LOG_LOG_LOAD_H_
#define KQ_TESTS_LOG_LOG_LOAD_H_

#include <string>
#include <thread>
#include <vector>

#include "log/JniWrapperLog.h"

namespace kq {
namespace testing {

// Long enough that a torn record could not pass for a whole one.
const size_t kLoadPadding = 120;

inline std::string LoadMessage(const std::string& tag, int thread, int n) {
  return tag + " t" + std::to_string(thread) + " n" + std::to_string(n) + " " + std::string(kLoadPadding, 'p') + "|";
}

inline void WriteLoad(CJNIWrapperLog* log, const std::string& tag, int threads, int perThread) {
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([=] {
      for (int n = 0; n < perThread; ++n) log->Write(platform::Widen(LoadMessage(tag, t, n)));
    });
  }
  for (std::thread& w : workers) w.join();
}

}  // namespace testing
}  // namespace kq

#endif  // KQ_TESTS_LOG_LOG_LOAD_H_
