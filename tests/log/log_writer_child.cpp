// Helper process for the log tests: writes a message stream into a folder.
//   log_writer_child <folder> <tag> <threads> <messages per thread>
#include <cstdio>
#include <cstdlib>

#include "log/JniWrapperLog.h"
#include "tests/log/log_load.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: log_writer_child <folder> <tag> <threads> <messages per thread>\n");
    return 1;
  }
  CJNIWrapperLog* log = CJNIWrapperLog::GetInstance(kq::platform::Widen(argv[1]));
  if (log == nullptr) return 2;
  kq::testing::WriteLoad(log, argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
  return 0;
}
