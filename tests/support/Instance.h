// A plug-in instance made through CreateInstance, released at scope end.
#ifndef KQ_TESTS_SUPPORT_INSTANCE_H_
#define KQ_TESTS_SUPPORT_INSTANCE_H_

#include <jni.h>

#include "kq/CloudPluginInterface.h"

namespace kq {
namespace test {

class Instance {
 public:
  // With the test JVM, under InstallRoot().
  static Instance WithTestVm();
  // With this VM pointer (a fake one, or null), under InstallRoot().
  static Instance WithVm(JavaVM* vm);
  // With a jvmHandle that stops at the given level: 0 = the handle itself is
  // null, 1 = it points at a null pointer, 2 = the JavaVM pointer is null.
  static Instance WithNullHandleAt(int level);
  // With the test JVM under another root.
  static Instance WithTestVmAt(const WString& root);

  Instance(Instance&& other) noexcept;
  Instance& operator=(Instance&&) = delete;
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;
  ~Instance();

  ICloudPluginInterface* get() const { return plugin_; }
  ICloudPluginInterface* operator->() const { return plugin_; }
  // Releases now (the destructor then does nothing).
  void Release();

 private:
  explicit Instance(ICloudPluginInterface* plugin) : plugin_(plugin) {}
  ICloudPluginInterface* plugin_;
};

}  // namespace test
}  // namespace kq

#endif  // KQ_TESTS_SUPPORT_INSTANCE_H_
