// Loads the built plug-in DLL the way a host does, LoadLibrary and
// GetProcAddress("CreateInstance"), and drives the instance through its
// table of virtual functions.  No Windows JVM exists here, so the instance is
// made without one: what is checked is the DLL's entry point, the slot
// order the host relies on, the answers given without a bridge and the log
// it writes.  The DLL's process-wide log keeps the first folder it is given,
// so all cases share one installation root.
//   kq_plugin_dll_test path\to\KQAzurePlugin.dll
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kq/CloudPluginInterface.h"

namespace {

std::wstring g_dllPath;

// "/unix/path" (as CMake passes it) becomes Wine's "Z:\unix\path".
std::wstring ToWindowsPath(const char* path) {
  std::wstring out;
  if (path[0] == '/') out = L"Z:";
  for (; *path != '\0'; ++path) out.push_back(*path == '/' ? L'\\' : static_cast<wchar_t>(*path));
  return out;
}

std::wstring ReadUtf16File(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::wstring();
  std::vector<char> bytes;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(h, buffer, sizeof(buffer), &got, nullptr) && got > 0) bytes.insert(bytes.end(), buffer, buffer + got);
  CloseHandle(h);
  std::wstring text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                        (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  return text;
}

size_t Count(const std::wstring& text, const std::wstring& what) {
  size_t n = 0;
  for (size_t pos = text.find(what); pos != std::wstring::npos; pos = text.find(what, pos + what.size())) ++n;
  return n;
}

class PluginDll : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    wchar_t temp[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    // Process identifiers come round again under Wine: the tick count keeps
    // an earlier run's log out of this one.
    root_ = std::wstring(temp, n) + L"kq_plugin_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
            std::to_wstring(GetTickCount64());
    // The plug-in creates only the last level, Log, itself.
    CreateDirectoryW(root_.c_str(), nullptr);
    CreateDirectoryW((root_ + L"\\Plugin").c_str(), nullptr);
    CreateDirectoryW((root_ + L"\\Plugin\\Azure").c_str(), nullptr);
    module_ = LoadLibraryW(g_dllPath.c_str());
  }
  static void TearDownTestSuite() {
    if (module_ != nullptr) FreeLibrary(module_);
    DeleteFileW((root_ + L"\\Plugin\\Azure\\Log\\JNIWrapper0.log").c_str());
    for (const wchar_t* dir : {L"\\Plugin\\Azure\\Log", L"\\Plugin\\Azure", L"\\Plugin", L""}) {
      RemoveDirectoryW((root_ + dir).c_str());
    }
  }

  static std::wstring LogText() { return ReadUtf16File(root_ + L"\\Plugin\\Azure\\Log\\JNIWrapper0.log"); }

  CreateInstanceFn Entry() {
    return reinterpret_cast<CreateInstanceFn>(reinterpret_cast<void (*)()>(GetProcAddress(module_, "CreateInstance")));
  }

  static std::wstring root_;
  static HMODULE module_;
};

std::wstring PluginDll::root_;
HMODULE PluginDll::module_ = nullptr;

TEST_F(PluginDll, ExportsCreateInstanceByItsPlainName) {
  ASSERT_NE(module_, nullptr) << "LoadLibrary failed: " << GetLastError();
  EXPECT_NE(Entry(), nullptr);
  EXPECT_EQ(GetProcAddress(module_, "_CreateInstance"), nullptr);
}

TEST_F(PluginDll, InstanceWithoutJvmAnswersThroughEverySlotKind) {
  ASSERT_NE(module_, nullptr);
  CreateInstanceFn create = Entry();
  ASSERT_NE(create, nullptr);

  // Every unusable form of the handle: null, null inner pointer, null JavaVM.
  JavaVM* noVm = nullptr;
  JavaVM** toNoVm = &noVm;
  JavaVM** noInner = nullptr;
  JavaVM*** handles[] = {nullptr, &noInner, &toNoVm};
  for (JavaVM*** handle : handles) {
    ICloudPluginInterface* plugin = create(root_, handle);
    ASSERT_NE(plugin, nullptr);

    EXPECT_EQ(plugin->InitLibrary(L"init"), KQ_NO_BRIDGE);
    EXPECT_EQ(plugin->DeInit(), KQ_NO_BRIDGE);
    EXPECT_EQ(plugin->CheckBridge(), KQ_NO_BRIDGE);

    uint64_t minimum = 0, defaultSize = 0, maximum = 0;
    EXPECT_EQ(plugin->GetDefaultObjectSizeRange(&minimum, &defaultSize, &maximum), KQ_OK);
    EXPECT_EQ(minimum, 1024u);
    EXPECT_EQ(defaultSize, 4294967296u);
    EXPECT_EQ(maximum, 4294967296u);

    uint32_t flag = 7;
    EXPECT_EQ(plugin->QueryFlag(&flag), KQ_OK);
    EXPECT_EQ(flag, 1u);
    EXPECT_EQ(plugin->QueryValue(&flag), KQ_NOT_IMPLEMENTED);

    // The overloads sit in adjacent slots; each must reach its own body.
    unsigned char bytes[4] = {1, 2, 3, 4};
    WString handleOut = L"untouched";
    EXPECT_EQ(plugin->WriteObject(L"o", bytes, 4, nullptr, 0, &handleOut), KQ_NO_BRIDGE);
    EXPECT_EQ(plugin->WriteObject(L"o", bytes, 4, nullptr, &handleOut), KQ_NO_BRIDGE);
    EXPECT_EQ(plugin->WriteObject(L"o", bytes, 4), KQ_NO_BRIDGE);
    EXPECT_EQ(handleOut, L"untouched");

    WStringList list;
    list.push_back(L"kept");
    EXPECT_EQ(plugin->GetListContainers(&list), KQ_OK);
    EXPECT_EQ(plugin->GetRegions(&list), KQ_NO_BRIDGE);
    EXPECT_EQ(list.size(), 1u);

    uint64_t actual = 0;
    EXPECT_EQ(plugin->GetObjectActualSize(5, 77, &actual), KQ_NO_BRIDGE);
    uint32_t canBackup = 9;
    EXPECT_EQ(plugin->CanBackup(&canBackup), KQ_NO_BRIDGE);
    EXPECT_EQ(canBackup, 9u);

    plugin->Release();
  }

  const std::wstring log = LogText();
  ASSERT_FALSE(log.empty()) << "no log under the installation root";
  EXPECT_EQ(log.compare(0, 2, L"\r\n"), 0);
  EXPECT_EQ(Count(log, L" :KQAzureCommunicationMgr::Init is Called"), 3u);
  EXPECT_EQ(Count(log, L" :JVM is NULL"), 3u);
  EXPECT_EQ(Count(log, L" :CanBackup -- jniObj is not instaialized"), 3u);
  // Per instance: InitLibrary, DeInit, CheckBridge, three WriteObject,
  // GetListContainers, GetRegions, GetObjectActualSize and Release.
  EXPECT_EQ(Count(log, L" :jniObj is not instaialized"), 3u * 10u);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: kq_plugin_dll_test KQAzurePlugin.dll\n");
    return 2;
  }
  g_dllPath = ToWindowsPath(argv[1]);
  return RUN_ALL_TESTS();
}
