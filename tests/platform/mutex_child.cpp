// Helper process for the named-mutex tests.
//   mutex_child hold <name> <marker>            lock, create <marker>, wait to be killed
//   mutex_child count <name> <counter> <times>  add 1 to the number in <counter>, <times> times,
//                                               each under the mutex
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "platform/Platform.h"

namespace {

long ReadCounter(const char* path) {
  std::ifstream in(path);
  long value = 0;
  in >> value;
  return value;
}

void WriteCounter(const char* path, long value) {
  std::ofstream out(path, std::ios::trunc);
  out << value;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], "hold") == 0) {
    kq::platform::NamedMutex mutex(argv[2]);
    if (!mutex.Lock()) return 2;
    { std::ofstream marker(argv[3]); }
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  if (argc >= 5 && std::strcmp(argv[1], "count") == 0) {
    kq::platform::NamedMutex mutex(argv[2]);
    const long times = std::atol(argv[4]);
    for (long i = 0; i < times; ++i) {
      if (!mutex.Lock()) return 2;
      const long value = ReadCounter(argv[3]);
      std::this_thread::yield();  // widen the window a missing exclusion would open
      WriteCounter(argv[3], value + 1);
      mutex.Unlock();
    }
    return 0;
  }
  std::fprintf(stderr, "usage: mutex_child hold <name> <marker> | count <name> <counter> <times>\n");
  return 1;
}
