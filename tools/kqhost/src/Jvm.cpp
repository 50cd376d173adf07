#include "Jvm.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <algorithm>
#include <system_error>

#ifndef KQHOST_DEFAULT_LIBJVM
#define KQHOST_DEFAULT_LIBJVM ""
#endif

namespace kqhost {

namespace fs = std::filesystem;

namespace {
constexpr const char* kLibraryJar = "KQAzurePlugIn.jar";
#ifdef _WIN32
constexpr char kPathSeparator = ';';
#else
constexpr char kPathSeparator = ':';
#endif

using CreateJavaVmFn = jint(JNICALL*)(JavaVM**, void**, void*);

// The VM library at `library`, loaded for good (a VM cannot be unloaded), and
// its JNI_CreateJavaVM; null with *error set when either is missing.
CreateJavaVmFn LoadCreateJavaVm(const fs::path& library, std::string* error) {
  std::error_code ec;
  if (!fs::is_regular_file(library, ec)) {
    *error = "no Java VM at " + library.u8string() + " (--java-home must name a Java installation)";
    return nullptr;
  }
#ifdef _WIN32
  HMODULE handle = LoadLibraryW(library.wstring().c_str());
  void* symbol = handle ? reinterpret_cast<void*>(GetProcAddress(handle, "JNI_CreateJavaVM")) : nullptr;
  const std::string reason = handle ? "it has no JNI_CreateJavaVM" : "Windows error " + std::to_string(GetLastError());
#else
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  const char* failure = handle ? nullptr : dlerror();
  void* symbol = handle ? dlsym(handle, "JNI_CreateJavaVM") : nullptr;
  const std::string reason = failure ? failure : "it has no JNI_CreateJavaVM";
#endif
  if (!symbol) {
    *error = "the Java VM " + library.u8string() + " could not be loaded: " + reason;
    return nullptr;
  }
  return reinterpret_cast<CreateJavaVmFn>(symbol);
}
}  // namespace

fs::path VmLibraryOf(const fs::path& javaHome) {
#ifdef _WIN32
  return javaHome / "bin" / "server" / "jvm.dll";
#else
  return javaHome / "lib" / "server" / "libjvm.so";
#endif
}

std::vector<fs::path> LibraryJars(const fs::path& folder, std::string* error) {
  std::vector<fs::path> jars;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    *error = "Java library folder " + folder.u8string() + " does not exist (build java/azure first)";
    return {};
  }
  bool haveLibrary = false;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() != ".jar") continue;
    if (it->path().filename() == kLibraryJar)
      haveLibrary = true;
    else
      jars.push_back(it->path());
  }
  if (ec) {
    *error = "cannot list " + folder.u8string() + ": " + ec.message();
    return {};
  }
  if (!haveLibrary) {
    *error = "Java library folder " + folder.u8string() + " holds no " + kLibraryJar;
    return {};
  }
  std::sort(jars.begin(), jars.end());
  jars.insert(jars.begin(), folder / kLibraryJar);
  return jars;
}

std::string JoinClassPath(const std::vector<fs::path>& jars) {
  std::string cp;
  for (const auto& jar : jars) {
    if (!cp.empty()) cp.push_back(kPathSeparator);
    cp += jar.u8string();
  }
  return cp;
}

fs::path ResolvedJavaHome(const fs::path& javaHome) {
  if (!javaHome.empty()) return javaHome;
  // <home>/lib/server/libjvm.so, or <home>/bin/server/jvm.dll
  return fs::u8path(KQHOST_DEFAULT_LIBJVM).parent_path().parent_path().parent_path();
}

std::unique_ptr<Jvm> Jvm::Create(const fs::path& javaHome, const std::vector<fs::path>& jars,
                                 const std::vector<std::string>& options, std::string* error) {
  fs::path library = javaHome.empty() ? fs::u8path(KQHOST_DEFAULT_LIBJVM) : VmLibraryOf(javaHome);
  if (library.empty()) {
    *error = "this build names no Java VM: give --java-home";
    return nullptr;
  }
#ifdef KQHOST_LINKED_VM
  std::error_code ec;
  if (fs::weakly_canonical(library, ec) != fs::weakly_canonical(fs::u8path(KQHOST_DEFAULT_LIBJVM), ec)) {
    *error = "this build links the Java VM " KQHOST_DEFAULT_LIBJVM " and cannot load another one";
    return nullptr;
  }
#endif
  CreateJavaVmFn createJavaVm = LoadCreateJavaVm(library, error);
  if (!createJavaVm) return nullptr;
  std::vector<std::string> texts;
  texts.push_back("-Djava.class.path=" + JoinClassPath(jars));
  texts.insert(texts.end(), options.begin(), options.end());
  std::vector<JavaVMOption> vmOptions(texts.size());
  for (size_t i = 0; i < texts.size(); ++i) {
    vmOptions[i].optionString = texts[i].data();
    vmOptions[i].extraInfo = nullptr;
  }
  JavaVMInitArgs args;
  args.version = JNI_VERSION_1_8;
  args.nOptions = static_cast<jint>(vmOptions.size());
  args.options = vmOptions.data();
  args.ignoreUnrecognized = JNI_FALSE;

  JavaVM* vm = nullptr;
  JNIEnv* env = nullptr;
  jint rc = createJavaVm(&vm, reinterpret_cast<void**>(&env), &args);
  if (rc != JNI_OK) {
    *error = "the Java VM could not be created (JNI code " + std::to_string(rc) +
             (rc == JNI_EEXIST   ? ", a VM already exists"
              : rc == JNI_EINVAL ? ", an option was refused"
                                 : "") +
             ")";
    return nullptr;
  }
  vm->DetachCurrentThread();
  return std::unique_ptr<Jvm>(new Jvm(vm));
}

int64_t Jvm::MaxHeapBytes() const {
  JNIEnv* env = nullptr;
  if (vm_->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) != JNI_OK) return -1;
  int64_t result = -1;
  jclass runtime = env->FindClass("java/lang/Runtime");
  if (runtime != nullptr) {
    jmethodID get = env->GetStaticMethodID(runtime, "getRuntime", "()Ljava/lang/Runtime;");
    jmethodID max = get != nullptr ? env->GetMethodID(runtime, "maxMemory", "()J") : nullptr;
    jobject instance = max != nullptr ? env->CallStaticObjectMethod(runtime, get) : nullptr;
    if (instance != nullptr && !env->ExceptionCheck()) {
      jlong bytes = env->CallLongMethod(instance, max);
      if (!env->ExceptionCheck()) result = bytes;
    }
    if (instance != nullptr) env->DeleteLocalRef(instance);
    env->DeleteLocalRef(runtime);
  }
  if (env->ExceptionCheck()) env->ExceptionClear();
  vm_->DetachCurrentThread();
  return result;
}

Jvm::~Jvm() {
  // The VM is left running: DestroyJavaVM would wait for every non-daemon
  // thread the library's HTTP stack may have started, and a VM cannot be
  // created twice in one process anyway.  The process exit ends it.
}

}  // namespace kqhost
