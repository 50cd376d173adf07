// Loads the plug-in DLL as a host does, LoadLibrary and CreateInstance by its
// plain name, and calls it through its table of virtual functions.  There is
// no Windows JVM here, so the instances get none: what is checked is the entry
// point, the answers without a bridge and the log the DLL writes.
//   kq_plugin_dll_test path/to/KQAzurePlugin.dll
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "kq/CloudPluginInterface.h"

namespace {

namespace fs = std::filesystem;
std::wstring g_dll;

size_t Count(const std::wstring& text, const std::wstring& what) {
  size_t n = 0;
  for (size_t pos = text.find(what); pos != std::wstring::npos; pos = text.find(what, pos + 1)) ++n;
  return n;
}

TEST(PluginDll, LoadsAndAnswersWithoutAJvm) {
  // Process ids come round again under Wine; the tick count keeps an earlier
  // run's log out.  The plug-in creates only the last level, Log, itself.
  const fs::path root = fs::temp_directory_path() /
                        ("kq_plugin_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(GetTickCount64()));
  fs::create_directories(root / "Plugin" / "Azure");
  HMODULE module = LoadLibraryW(g_dll.c_str());
  ASSERT_NE(module, nullptr) << "LoadLibrary failed: " << GetLastError();
  EXPECT_EQ(GetProcAddress(module, "_CreateInstance"), nullptr);
  auto create =
      reinterpret_cast<CreateInstanceFn>(reinterpret_cast<void (*)()>(GetProcAddress(module, "CreateInstance")));
  ASSERT_NE(create, nullptr);

  // Every unusable form of the handle: null, null inner pointer, null JavaVM.
  JavaVM* noVm = nullptr;
  JavaVM** toNoVm = &noVm;
  JavaVM** noInner = nullptr;
  for (JavaVM*** handle : {static_cast<JavaVM***>(nullptr), &noInner, &toNoVm}) {
    ICloudPluginInterface* plugin = create(root.wstring(), handle);
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(plugin->InitLibrary(L"init"), KQ_NOT_INITIALIZED);
    EXPECT_EQ(plugin->DeInit(), KQ_NOT_INITIALIZED);
    EXPECT_EQ(plugin->CheckBridge(), KQ_NOT_INITIALIZED);
    uint64_t minimum = 0, defaultSize = 0, maximum = 0;
    EXPECT_EQ(plugin->GetDefaultObjectSizeRange(&minimum, &defaultSize, &maximum), KQ_OK);
    EXPECT_EQ(minimum, 1024u);
    EXPECT_EQ(defaultSize, 4294967296u);
    EXPECT_EQ(maximum, 4294967296u);
    uint32_t flag = 7;
    EXPECT_EQ(plugin->QueryFlag(&flag), KQ_OK);
    EXPECT_EQ(flag, 1u);
    EXPECT_EQ(plugin->QueryValue(&flag), KQ_NOT_SUPPORTED);
    // The overloads sit in adjacent slots; each must reach its own body.
    unsigned char bytes[4] = {1, 2, 3, 4};
    WString handleOut = L"untouched";
    EXPECT_EQ(plugin->WriteObject(L"o", bytes, 4, nullptr, 0, &handleOut), KQ_NOT_INITIALIZED);
    EXPECT_EQ(plugin->WriteObject(L"o", bytes, 4, nullptr, &handleOut), KQ_NOT_INITIALIZED);
    EXPECT_EQ(plugin->WriteObject(L"o", bytes, 4), KQ_NOT_INITIALIZED);
    EXPECT_EQ(handleOut, L"untouched");
    plugin->Release();
  }
  FreeLibrary(module);

  std::ifstream in(root / "Plugin" / "Azure" / "Log" / "JNIWrapper0.log", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  std::error_code ignored;
  fs::remove_all(root, ignored);
  std::wstring log;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    log += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  ASSERT_EQ(log.compare(0, 2, L"\r\n"), 0) << "no log under the installation root";
  EXPECT_EQ(Count(log, L" :KQAzureCommunicationMgr::Init is Called"), 3u);
  EXPECT_EQ(Count(log, L" :JVM is NULL"), 3u);
  // Per instance: InitLibrary, DeInit, CheckBridge, three WriteObject, Release.
  EXPECT_EQ(Count(log, L" :jniObj is not instaialized"), 3u * 7u);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc != 2) return 2;
  // "/unix/path", as CMake passes it, is Wine's "Z:\unix\path".
  for (const char* p = argv[1]; *p != '\0'; ++p) g_dll += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  if (argv[1][0] == '/') g_dll = L"Z:" + g_dll;
  return RUN_ALL_TESTS();
}
