// The text of the calling thread's last Win32 error.
#ifndef KQHOST_WIN32ERROR_H_
#define KQHOST_WIN32ERROR_H_

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

namespace kqhost {

inline std::string LastWin32Error() {
  DWORD code = GetLastError();
  char buf[512] = {0};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buf,
                           sizeof buf, nullptr);
  while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == '\r')) buf[--n] = 0;
  return n ? std::string(buf) : "error " + std::to_string(code);
}

}  // namespace kqhost

#endif  // KQHOST_WIN32ERROR_H_
