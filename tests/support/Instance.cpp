#include "tests/support/Instance.h"

#include <gtest/gtest.h>

#include "tests/support/TestJvm.h"

namespace kq {
namespace test {
namespace {

ICloudPluginInterface* Create(const WString& root, JavaVM* vm) {
  JavaVM* vmPointer = vm;
  JavaVM** inner = &vmPointer;
  ICloudPluginInterface* plugin = CreateInstance(root, &inner);
  EXPECT_NE(plugin, nullptr);
  return plugin;
}

}  // namespace

Instance Instance::WithTestVm() { return Instance(Create(InstallRootW(), TestVm())); }

Instance Instance::WithTestVmAt(const WString& root) { return Instance(Create(root, TestVm())); }

Instance Instance::WithVm(JavaVM* vm) { return Instance(Create(InstallRootW(), vm)); }

Instance Instance::WithNullHandleAt(int level) {
  JavaVM* vmPointer = nullptr;
  JavaVM** inner = level >= 2 ? &vmPointer : nullptr;
  JavaVM*** handle = level >= 1 ? &inner : nullptr;
  ICloudPluginInterface* plugin = CreateInstance(InstallRootW(), handle);
  EXPECT_NE(plugin, nullptr);
  return Instance(plugin);
}

Instance::Instance(Instance&& other) noexcept : plugin_(other.plugin_) { other.plugin_ = nullptr; }

Instance::~Instance() { Release(); }

void Instance::Release() {
  if (plugin_ != nullptr) plugin_->Release();
  plugin_ = nullptr;
}

}  // namespace test
}  // namespace kq
