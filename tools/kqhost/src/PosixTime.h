// The modification-time argument of utimensat and futimens for a time in
// nanoseconds since 1970 (negative ones included); the access time is left
// alone.
#ifndef KQHOST_POSIXTIME_H_
#define KQHOST_POSIXTIME_H_

#include <sys/stat.h>

#include <cstdint>
#include <ctime>

namespace kqhost {

struct MtimeOnly {
  struct timespec times[2];
  explicit MtimeOnly(int64_t mtimeNs) {
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    int64_t sec = mtimeNs / 1000000000LL, nsec = mtimeNs % 1000000000LL;
    if (nsec < 0) {
      nsec += 1000000000LL;
      sec -= 1;
    }
    times[1].tv_sec = static_cast<time_t>(sec);
    times[1].tv_nsec = static_cast<long>(nsec);
  }
};

}  // namespace kqhost

#endif  // KQHOST_POSIXTIME_H_
