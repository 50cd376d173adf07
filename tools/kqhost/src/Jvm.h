// Starts the Java virtual machine that the plug-in's Java library runs in,
// as the backup application does: one VM per process, created in-process.
#ifndef KQHOST_JVM_H_
#define KQHOST_JVM_H_

#include <jni.h>

#include <cstdint>
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

// The VM library of a Java installation: <home>/lib/server/libjvm.so
// (Windows: <home>\bin\server\jvm.dll).
std::filesystem::path VmLibraryOf(const std::filesystem::path& javaHome);

// The Java installation a VM comes from: `javaHome`, or when empty that of the VM this build was made with.
std::filesystem::path ResolvedJavaHome(const std::filesystem::path& javaHome);

class Jvm {
 public:
  // Loads the VM library of `javaHome` (empty: the one this build was made
  // with), as a host does with the VM it embeds, and creates the VM with
  // -Djava.class.path=<jars> followed by `options` (e.g. "-Xmx512m",
  // "-Xcheck:jni").  kqhost never links a VM library: a second one loaded
  // beside it would resolve its symbols into the first.  The creating thread
  // is detached again, so that every thread, the main one included, reaches
  // Java the same way: through the plug-in's attach-per-call.
  static std::unique_ptr<Jvm> Create(const std::filesystem::path& javaHome,
                                     const std::vector<std::filesystem::path>& jars,
                                     const std::vector<std::string>& options, std::string* error);
  ~Jvm();
  Jvm(const Jvm&) = delete;
  Jvm& operator=(const Jvm&) = delete;

  JavaVM* vm() const { return vm_; }
  // The most heap the VM will use (Runtime.maxMemory: what -Xmx gave, or the
  // VM's own default), asked on a thread attached for the purpose; -1 when
  // it cannot be told.  Call from a thread that is not attached.
  int64_t MaxHeapBytes() const;

 private:
  explicit Jvm(JavaVM* vm) : vm_(vm) {}
  JavaVM* vm_;
};

}  // namespace kqhost

#endif  // KQHOST_JVM_H_
