// The shared library as a host loads it: by path, CreateInstance by name.
#include <dlfcn.h>

#include "tests/spine/spine_test_util.h"

namespace kq {
namespace test {
namespace {

class SharedLibrary : public SpineTest {
 protected:
  void SetUp() override {
    SpineTest::SetUp();
    // Loaded for the rest of the process, as a host keeps it: the log
    // writer, made once per process, outlives an unloaded library.
    handle_ = dlopen(KQ_PLUGIN_LIBRARY, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    ASSERT_NE(handle_, nullptr) << dlerror();
  }
  void TearDown() override {
    if (handle_ != nullptr) dlclose(handle_);
    SpineTest::TearDown();
  }
  void* handle_ = nullptr;
};

TEST_F(SharedLibrary, OnlyCreateInstanceIsVisible) {
  EXPECT_NE(dlsym(handle_, "CreateInstance"), nullptr);
  // Internals stay inside (mangled names of a class, a function and a
  // standard-library instance the plug-in uses).
  for (const char* hidden : {"_ZN11CJNIWrapper10MapErrorIdEi", "_ZN14CJNIWrapperLog11GetInstanceERKNSt7__cxx1112basic_stringIDsSt11char_traitsIDsESaIDsEEE"}) {
    EXPECT_EQ(dlsym(handle_, hidden), nullptr) << hidden;
  }
}

TEST_F(SharedLibrary, AHostReachesJavaThroughTheLoadedLibrary) {
  auto create = reinterpret_cast<CreateInstanceFn>(dlsym(handle_, "CreateInstance"));
  ASSERT_NE(create, nullptr);
  JavaVM* vm = TestVm();
  JavaVM** inner = &vm;
  ICloudPluginInterface* plugin = create(InstallRootW(), &inner);
  ASSERT_NE(plugin, nullptr);
  EXPECT_EQ(plugin->InitLibrary(W("through dlopen")), 0u);
  EXPECT_EQ(plugin->DeInit(), 0u);
  plugin->Release();
  const std::string root = Quoted(InstallRoot());
  EXPECT_EQ(Script::Journal(),
            (Lines{"<init>/1(" + root + ")", "AzureInit/2(\"through dlopen\", " + root + ")", "AzureDeInit/0()"}));
  // The library's own log writer writes to the same file.
  EXPECT_EQ(log.Since(), (Lines{"KQAzureCommunicationMgr::Init is Called", "DeInit Vm called..."}));
}

}  // namespace
}  // namespace test
}  // namespace kq
