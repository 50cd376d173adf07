// The security of the Win32 named mutex.  The log mutex must be openable by
// every account on the machine (services and desktop sessions share the log
// folder), which takes a present-but-NULL DACL: a missing DACL would give the
// creator's default, an empty one would shut everybody out.  Sharing between
// processes and the takeover of an abandoned mutex are covered by the
// portable platform and log tests, which run under Wine too.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// aclapi.h needs the types of windows.h.
#include <aclapi.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/Platform.h"

namespace {

TEST(NamedMutexSecurity, DaclIsPresentAndNull) {
  const std::string name = "kq_dacl_" + std::to_string(GetCurrentProcessId());
  kq::platform::NamedMutex mutex(name.c_str());
  ASSERT_TRUE(mutex.valid());

  const std::wstring wideName(name.begin(), name.end());
  HANDLE h = OpenMutexW(READ_CONTROL | SYNCHRONIZE, FALSE, wideName.c_str());
  // Reachable under exactly the name given: no prefix, no session namespace.
  ASSERT_NE(h, nullptr) << "no mutex of that name";
  PSECURITY_DESCRIPTOR sd = nullptr;
  PACL dacl = nullptr;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
            GetSecurityInfo(h, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &sd));
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL fromDescriptor = reinterpret_cast<PACL>(&present);  // anything but null
  ASSERT_TRUE(GetSecurityDescriptorDacl(sd, &present, &fromDescriptor, &defaulted));
  EXPECT_TRUE(present);
  EXPECT_EQ(nullptr, fromDescriptor);
  LocalFree(sd);
  CloseHandle(h);
}

}  // namespace
