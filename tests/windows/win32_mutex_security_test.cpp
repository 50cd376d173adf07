// The log mutex must be openable by every account on the machine (services
// and desktop sessions share the log folder), which takes a present but NULL
// DACL: a missing DACL gives the creator's default, an empty one shuts
// everybody out.  Sharing between processes and the takeover of an abandoned
// mutex are proved by the platform and log tests, which run under Wine too.
#include <windows.h>
// aclapi.h needs the types of windows.h.
#include <aclapi.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/Platform.h"

TEST(NamedMutexSecurity, DaclIsPresentAndNull) {
  const std::string name = "kq_dacl_" + std::to_string(GetCurrentProcessId());
  kq::platform::NamedMutex mutex(name.c_str());
  ASSERT_TRUE(mutex.valid());
  // Reachable under exactly the name given: no prefix, no session namespace.
  HANDLE h = OpenMutexW(READ_CONTROL | SYNCHRONIZE, FALSE, std::wstring(name.begin(), name.end()).c_str());
  ASSERT_NE(h, nullptr) << "no mutex of that name";
  PSECURITY_DESCRIPTOR sd = nullptr;
  PACL dacl = nullptr;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
            GetSecurityInfo(h, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &sd));
  BOOL present = FALSE, defaulted = FALSE;
  PACL fromDescriptor = reinterpret_cast<PACL>(&present);  // anything but null
  ASSERT_TRUE(GetSecurityDescriptorDacl(sd, &present, &fromDescriptor, &defaulted));
  EXPECT_TRUE(present);
  EXPECT_EQ(nullptr, fromDescriptor);
  LocalFree(sd);
  CloseHandle(h);
}
