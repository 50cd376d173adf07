// Starts the Java virtual machine that the plug-in's Java library runs in,
// as the backup application does: one VM per process, created in-process.
#ifndef KQHOST_JVM_H_
#define KQHOST_JVM_H_

#include <jni.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace kqhost {

// The jars of the library folder, the library's own jar (KQAzurePlugIn.jar)
// first and the others by name.  Empty (and *error set) when the folder is
// missing, holds no jar, or lacks KQAzurePlugIn.jar.
std::vector<std::filesystem::path> LibraryJars(const std::filesystem::path& folder, std::string* error);

// The jars joined with the platform's class path separator.
std::string JoinClassPath(const std::vector<std::filesystem::path>& jars);

class Jvm {
 public:
  // Creates the VM with -Djava.class.path=<jars> followed by `options`
  // (e.g. "-Xmx512m", "-Xcheck:jni").  The creating thread is detached again,
  // so that every thread, the main one included, reaches Java the same way:
  // through the plug-in's attach-per-call.
  static std::unique_ptr<Jvm> Create(const std::vector<std::filesystem::path>& jars,
                                     const std::vector<std::string>& options, std::string* error);
  ~Jvm();
  Jvm(const Jvm&) = delete;
  Jvm& operator=(const Jvm&) = delete;

  JavaVM* vm() const { return vm_; }

 private:
  explicit Jvm(JavaVM* vm) : vm_(vm) {}
  JavaVM* vm_;
};

}  // namespace kqhost

#endif  // KQHOST_JVM_H_
